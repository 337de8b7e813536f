#include "decoder/filter/quorvex_library.h"

#include <gst/gst.h>

#include <iterator>
#include <string_view>

#include "common/iquorvex.h"
#include "common/iquorvex_demodulator.h"
#include "decoder/filter/brelane_telemetry_decode.h"
#include "decoder/filter/quorvex_templates.h"
#include "platform/com/com_ptr.h"
#include "platform/filter/filter_server.h"

#ifndef PACKAGE
#define PACKAGE "quorvex"
#endif

namespace {

FilterEntry DecoderSetup() {
  FilterPinEntry input;
  input.name = "Input";
  input.mediaTypes = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}};
  FilterPinEntry output = input;
  output.name = "Output";
  output.output = true;
  FilterEntry filter;
  filter.clsid = CLSID_Quorvex;
  filter.friendlyName = "Brelane Telemetry";
  filter.merit = 0x00400000;  // MERIT_NORMAL
  filter.pins = {input, output};
  return filter;
}

const CFactoryTemplate kTemplates[] = {
    {BrelaneTelemetryDecode::kObjectName, &CLSID_Quorvex, &BrelaneTelemetryDecode::CreateInstance,
     &DecoderSetup},
};

bool SetDemodulator(IUnknown* filter, const char* name) {
  ComPtr<IQuorvexDemodulator> control;
  if (FAILED(filter->QueryInterface(IID_IQuorvexDemodulator, control.PutVoid()))) return false;
  const std::string_view n(name);
  if (n != "seed" && n != "robust") return false;
  return SUCCEEDED(
      control->SetDemodulator(n == "seed" ? kQuorvexDemodulatorSeed : kQuorvexDemodulatorRobust));
}

const char* GetDemodulator(IUnknown* filter) {
  ComPtr<IQuorvexDemodulator> control;
  int value = kQuorvexDemodulatorSeed;
  if (SUCCEEDED(filter->QueryInterface(IID_IQuorvexDemodulator, control.PutVoid())))
    control->GetDemodulator(&value);
  return value == kQuorvexDemodulatorRobust ? "robust" : "seed";
}

const TransformElementSetting kDemodulatorSetting = {
    "demodulator",
    "seed: the receiver recordings have always been decoded with; robust: matched filter, "
    "clock recovery and hum removal, for noisy, off-rate and lossily recorded signals",
    "seed",
    &SetDemodulator,
    &GetDemodulator,
};

gboolean PluginInit(GstPlugin* plugin) { return RegisterTransformElement(plugin, kQuorvexElement); }

}  // namespace

const TransformElementInfo kQuorvexElement = {
    "quorvexdecode",
    "QuorvexDecode",
    "Brelane Telemetry",
    "Filter/Analyzer/Audio",
    "Decodes the aircraft telemetry carried on 16-bit PCM audio and passes the audio on "
    "at 5 % amplitude; the decoded values are read through IQuorvex",
    "Aviquent",
    GST_RANK_NONE,
    "decoder",
    &CLSID_Quorvex,
    &DllGetClassObject,
    "S16LE",
    &kDemodulatorSetting,
};

std::span<const CFactoryTemplate> QuorvexTemplates() { return kTemplates; }

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return ServerGetClassObject(kTemplates, clsid, iid, object);
}

HRESULT DllCanUnloadNow() { return ServerCanUnloadNow(TransformElementTypeRegistered()); }

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quorvex,
                  "Telemetry decoding for FPV ground stations", PluginInit, "1.13", "Proprietary",
                  "Quorvex", "Aviquent")

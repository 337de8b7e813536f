#include "decoder/filter/quorvex_library.h"

#include <gst/gst.h>

#include <iterator>

#include "common/iquorvex.h"
#include "decoder/filter/brelane_telemetry_decode.h"
#include "decoder/filter/quorvex_templates.h"
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
};

std::span<const CFactoryTemplate> QuorvexTemplates() { return kTemplates; }

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return ServerGetClassObject(kTemplates, clsid, iid, object);
}

HRESULT DllCanUnloadNow() { return ServerCanUnloadNow(TransformElementTypeRegistered()); }

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quorvex,
                  "Telemetry decoding for FPV ground stations", PluginInit, "1.13", "Proprietary",
                  "Quorvex", "Aviquent")

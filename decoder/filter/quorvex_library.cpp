#include "decoder/filter/quorvex_library.h"

#include <iterator>

#include "common/iquorvex.h"
#include "decoder/filter/brelane_telemetry_decode.h"
#include "decoder/filter/quorvex_templates.h"
#include "platform/com/factory_template.h"

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

}  // namespace

std::span<const CFactoryTemplate> QuorvexTemplates() { return kTemplates; }

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return ServerGetClassObject(kTemplates, clsid, iid, object);
}

HRESULT DllCanUnloadNow() { return ServerCanUnloadNow(TransformElementTypeRegistered()); }

// A stand-in decoder library whose filter element takes no audio a file can
// hold. quorvex-decode always hands the real filter 16-bit audio, which it
// accepts, so only a stand-in shows how a refusal is reported.

#include <gst/gst.h>

#include <atomic>
#include <new>

#include "decoder/control_interface/quorvex_control.h"
#include "platform/com/heap_object.h"
#include "platform/com/static_class_factory.h"
#include "platform/filter/element_host.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class RefusingDecoder : public CQuorvexControl, public IGstElementHost {
 public:
  RefusingDecoder() : CQuorvexControl(std::nullopt) {}

  // A bin around a capsfilter that wants a channel count no test file has.
  HRESULT STDMETHODCALLTYPE CreateElement(GstElement** element) override {
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    if (!bin || !filter) return E_FAIL;
    GstCaps* caps = gst_caps_from_string("audio/x-raw,channels=7");
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    gst_bin_add(GST_BIN(bin), filter);
    for (const char* name : {"sink", "src"}) {
      GstPad* target = gst_element_get_static_pad(filter, name);
      gst_element_add_pad(bin, gst_ghost_pad_new(name, target));
      gst_object_unref(target);
    }
    *element = bin;
    return S_OK;
  }

 protected:
  ~RefusingDecoder() = default;
};

HRESULT CreateRefusingDecoder(REFIID iid, void** out) {
  auto* decoder = new (std::nothrow) CHeapObject<RefusingDecoder, Offered<IQuorvex, IID_IQuorvex>,
                                                 Offered<IGstElementHost, IID_IGstElementHost>>;
  if (!decoder) return E_OUTOFMEMORY;
  const HRESULT hr = decoder->QueryInterface(iid, out);
  decoder->Release();
  return hr;
}

// Nothing reads the server locks: the library stays loaded anyway.
std::atomic<int> g_locks{0};
CStaticClassFactory g_factory(CreateRefusingDecoder, g_locks);

}  // namespace

EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != CLSID_Quorvex) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

// Holds GStreamer types for the life of the process.
EXPORT HRESULT DllCanUnloadNow() { return S_FALSE; }

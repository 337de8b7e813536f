#include "viewer/shell/hosted_filter.h"

#include <atomic>
#include <new>

#include "platform/filter/element_host.h"
#include "platform/graph/gst_filter.h"

namespace {

class HostedFilter final : public CGstFilterBase {
 public:
  // Takes over the floating reference of `element`.
  HostedFilter(ComPtr<IUnknown> object, GstElement* element)
      : object_(std::move(object)), element_(GST_ELEMENT(gst_object_ref_sink(element))) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown) {
      *object = static_cast<IBaseFilter*>(this);
      AddRef();
      return S_OK;
    }
    if (SUCCEEDED(QueryFilterInterface(iid, object))) return S_OK;
    return object_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  GstElement* AcquireElement() override { return GST_ELEMENT(gst_object_ref(element_)); }

 private:
  ~HostedFilter() { gst_object_unref(element_); }

  std::atomic<ULONG> refs_{1};
  ComPtr<IUnknown> object_;
  GstElement* const element_;
};

}  // namespace

HRESULT FilterOfObject(IUnknown* object, IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  if (!object) return E_POINTER;
  if (SUCCEEDED(object->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter)))) {
    return S_OK;
  }
  ComPtr<IGstElementHost> host;
  if (FAILED(object->QueryInterface(IID_IGstElementHost, host.PutVoid()))) return E_NOINTERFACE;
  GstElement* element = nullptr;
  if (const HRESULT hr = host->CreateElement(&element); FAILED(hr)) return hr;
  if (!element) return E_UNEXPECTED;
  *filter = new (std::nothrow) HostedFilter(ComPtr<IUnknown>(object), element);
  if (!*filter) {
    gst_object_unref(gst_object_ref_sink(element));
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

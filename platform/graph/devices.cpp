#include <gst/gst.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/single_interface_object.h"
#include "platform/filter/gst_ptr.h"
#include "platform/graph/factories.h"
#include "platform/graph/gst_filter.h"
#include "platform/graph/renderers.h"

namespace {

// One capture device, bound to a new source filter each time.
class CDeviceMoniker final : public CSingleInterfaceObject<IMoniker, IID_IMoniker> {
 public:
  static HRESULT Create(GstDevice* device, IMoniker** moniker) {
    *moniker = new (std::nothrow) CDeviceMoniker(device);
    return *moniker ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker* left, REFIID iid,
                                         void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (left) return E_INVALIDARG;
    GstElement* source = MakeCaptureSource(device_.get());
    if (!source) return MK_E_NOOBJECT;
    ComPtr<IBaseFilter> filter;
    if (const HRESULT hr = CGstFilter::Create(source, filter.Put()); FAILED(hr)) return hr;
    return filter->QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*, BSTR* name) override {
    if (!name) return E_POINTER;
    GCharPtr text(gst_device_get_display_name(device_.get()));
    const std::string display = std::string("@device:gst:") + (text ? text.get() : "");
    *name = ComBstr(std::string_view(display)).Detach();
    return *name ? S_OK : E_OUTOFMEMORY;
  }

 private:
  explicit CDeviceMoniker(GstDevice* device) : device_(GST_DEVICE(gst_object_ref(device))) {}
  ~CDeviceMoniker() = default;

  GstObjectPtr<GstDevice> device_;
};

class CMonikerEnumerator final : public CSingleInterfaceObject<IEnumMoniker, IID_IEnumMoniker> {
 public:
  static HRESULT Create(std::vector<ComPtr<IMoniker>> monikers, IEnumMoniker** enumerator) {
    *enumerator = new (std::nothrow) CMonikerEnumerator(std::move(monikers));
    return *enumerator ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
    if (!monikers) return E_POINTER;
    if (count != 1 && !fetched) return E_INVALIDARG;
    ULONG given = 0;
    while (given < count && next_ < monikers_.size()) {
      monikers[given++] = ComPtr<IMoniker>(monikers_[next_++]).Detach();
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }

 private:
  explicit CMonikerEnumerator(std::vector<ComPtr<IMoniker>> monikers)
      : monikers_(std::move(monikers)) {}
  ~CMonikerEnumerator() = default;

  std::vector<ComPtr<IMoniker>> monikers_;
  std::size_t next_ = 0;
};

class CSystemDeviceEnum final : public CSingleInterfaceObject<ICreateDevEnum, IID_ICreateDevEnum> {
 public:
  CSystemDeviceEnum() = default;

  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                                  DWORD) override {
    if (!monikers) return E_POINTER;
    *monikers = nullptr;
    // Audio capture is the one category this system looks into.
    if (category != CLSID_AudioInputDeviceCategory) return S_FALSE;
    GstObjectPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Audio/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    std::vector<ComPtr<IMoniker>> list;
    HRESULT hr = S_OK;
    // Only the first device is offered: the viewer has no device choice.
    if (devices) {
      ComPtr<IMoniker> moniker;
      hr = CDeviceMoniker::Create(GST_DEVICE(devices->data), moniker.Put());
      if (SUCCEEDED(hr)) list.push_back(std::move(moniker));
    }
    g_list_free_full(devices, gst_object_unref);
    if (FAILED(hr)) return hr;
    if (list.empty()) return S_FALSE;
    return CMonikerEnumerator::Create(std::move(list), monikers);
  }

 private:
  ~CSystemDeviceEnum() = default;
};

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID iid, void** object) {
  auto* devices = new (std::nothrow) CSystemDeviceEnum();
  if (!devices) return E_OUTOFMEMORY;
  const HRESULT hr = devices->QueryInterface(iid, object);
  devices->Release();
  return hr;
}

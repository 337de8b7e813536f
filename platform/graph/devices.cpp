#include <gst/gst.h>

#include <atomic>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/single_interface_object.h"
#include "platform/graph/factories.h"
#include "platform/graph/renderers.h"
#include "platform/gst/gst_filter.h"
#include "platform/gst/gst_ptr.h"

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

bool BooleanProperty(GstDevice* device, const char* name) {
  GstStructurePtr properties(gst_device_get_properties(device));
  gboolean value = FALSE;
  return properties && gst_structure_get_boolean(properties.get(), name, &value) && value;
}

bool IsMonitor(GstDevice* device) {
  GstStructurePtr properties(gst_device_get_properties(device));
  const char* kind =
      properties ? gst_structure_get_string(properties.get(), "device.class") : nullptr;
  return kind && std::string_view(kind) == "monitor";
}

// The sound server's own name for the device; empty where the provider has
// none.
std::string InternalName(GstDevice* device) {
  if (!g_object_class_find_property(G_OBJECT_GET_CLASS(device), "internal-name")) return {};
  gchar* raw = nullptr;
  g_object_get(device, "internal-name", &raw, nullptr);
  GCharPtr name(raw);
  return name ? name.get() : "";
}

// The input a pilot means: the sound server's default input, else a real
// input, else the monitor of some other output. The monitor of the output
// the viewer plays into (the default one) is never taken: the viewer would
// decode its own sound.
GstDevice* ChooseAudioInput(GList* devices) {
  std::string ownMonitor;
  for (GList* l = devices; l; l = l->next) {
    GstDevice* device = GST_DEVICE(l->data);
    if (gst_device_has_classes(device, "Audio/Sink") && BooleanProperty(device, "is-default")) {
      if (const std::string name = InternalName(device); !name.empty())
        ownMonitor = name + ".monitor";
    }
  }
  GstDevice* best = nullptr;
  int bestRank = 0;
  for (GList* l = devices; l; l = l->next) {
    GstDevice* device = GST_DEVICE(l->data);
    if (!gst_device_has_classes(device, "Audio/Source")) continue;
    if (!ownMonitor.empty() && InternalName(device) == ownMonitor) continue;
    const int rank = BooleanProperty(device, "is-default") ? 3 : IsMonitor(device) ? 1 : 2;
    if (rank > bestRank) {
      best = device;
      bestRank = rank;
    }
  }
  return best;
}

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
    // The outputs tell which input is the monitor of the one we play into.
    gst_device_monitor_add_filter(monitor.get(), "Audio/Sink", nullptr);
    // Only a started monitor learns which devices are the server's
    // defaults.
    const bool started = gst_device_monitor_start(monitor.get());
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    if (started) gst_device_monitor_stop(monitor.get());
    std::vector<ComPtr<IMoniker>> list;
    HRESULT hr = S_OK;
    // Only one device is offered: the viewer has no device choice.
    if (GstDevice* chosen = ChooseAudioInput(devices)) {
      ComPtr<IMoniker> moniker;
      hr = CDeviceMoniker::Create(chosen, moniker.Put());
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

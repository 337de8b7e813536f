#include "platform/gst/gst_filter.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/heap_object.h"
#include "platform/com/single_interface_object.h"
#include "platform/com/utf.h"

namespace {

class CGstPin : public IPin, public IGstPin {
 public:
  static HRESULT Create(GstPad* pad, IPin** pin);

  // Only Create makes one whole: this class has no IUnknown of its own.
  explicit CGstPin(GstPad* pad) : pad_(GST_PAD(gst_object_ref(pad))) {}

  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    GstObjectPtr<GstPad> peer(gst_pad_get_peer(pad_.get()));
    if (!peer) return VFW_E_NOT_CONNECTED;
    return Create(peer.get(), pin);
  }

  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = GST_PAD_IS_SRC(pad_.get()) ? PINDIR_OUTPUT : PINDIR_INPUT;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryId(BSTR* id) override {
    if (!id) return E_POINTER;
    GCharPtr name(gst_pad_get_name(pad_.get()));
    *id = ComBstr(std::string_view(name ? name.get() : "")).Detach();
    return *id ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE GetPad(GstPad** pad) override {
    if (!pad) return E_POINTER;
    *pad = GST_PAD(gst_object_ref(pad_.get()));
    return S_OK;
  }

 protected:
  ~CGstPin() = default;

 private:
  GstObjectPtr<GstPad> pad_;
};

HRESULT CGstPin::Create(GstPad* pad, IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (!pad) return E_POINTER;
  *pin = new (std::nothrow)
      CHeapObject<CGstPin, Offered<IPin, IID_IPin>, Offered<IGstPin, IID_IGstPin>>(pad);
  return *pin ? S_OK : E_OUTOFMEMORY;
}

// The pads as they were when the walk started or was reset.
class CPinEnumerator final : public CSingleInterfaceObject<IEnumPins, IID_IEnumPins> {
 public:
  static HRESULT Create(GstElement* element, IEnumPins** pins) {
    *pins = new (std::nothrow) CPinEnumerator(element);
    return *pins ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    if (count != 1 && !fetched) return E_INVALIDARG;
    ULONG given = 0;
    while (given < count && next_ < pads_.size()) {
      const HRESULT hr = CGstPin::Create(pads_[next_].get(), &pins[given]);
      if (FAILED(hr)) {
        while (given > 0) pins[--given]->Release();
        return hr;
      }
      ++next_;
      ++given;
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    Snapshot();
    return S_OK;
  }

 private:
  explicit CPinEnumerator(GstElement* element) : element_(GST_ELEMENT(gst_object_ref(element))) {
    Snapshot();
  }
  ~CPinEnumerator() = default;

  void Snapshot() {
    pads_.clear();
    next_ = 0;
    GST_OBJECT_LOCK(element_.get());
    for (GList* item = GST_ELEMENT_PADS(element_.get()); item; item = item->next) {
      pads_.emplace_back(GST_PAD(gst_object_ref(item->data)));
    }
    GST_OBJECT_UNLOCK(element_.get());
  }

  GstObjectPtr<GstElement> element_;
  std::vector<GstObjectPtr<GstPad>> pads_;
  std::size_t next_ = 0;
};

}  // namespace

HRESULT STDMETHODCALLTYPE CGstFilterBase::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = nullptr;
  GstObjectPtr<GstElement> element(AcquireElement());
  if (!element) return E_UNEXPECTED;
  return CPinEnumerator::Create(element.get(), pins);
}

HRESULT STDMETHODCALLTYPE CGstFilterBase::FindPin(const OLECHAR* id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  GstObjectPtr<GstElement> element(AcquireElement());
  if (!element) return E_UNEXPECTED;
  const std::string name = Utf16ToUtf8(id);
  GstObjectPtr<GstPad> pad(gst_element_get_static_pad(element.get(), name.c_str()));
  if (!pad) return VFW_E_NOT_FOUND;
  return CGstPin::Create(pad.get(), pin);
}

HRESULT STDMETHODCALLTYPE CGstFilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  info->achName[0] = 0;
  info->pGraph = nullptr;
  std::u16string text;
  ComPtr<IWeakReference> graph;
  {
    std::lock_guard guard(joinLock_);
    if (joined_) {
      text = joinedName_;
      graph = graph_;
    }
  }
  GstObjectPtr<GstElement> element(AcquireElement());
  if (!element) return E_UNEXPECTED;
  if (text.empty()) {
    GCharPtr name(gst_element_get_name(element.get()));
    text = Utf8ToUtf16(name ? name.get() : "");
  }
  const std::size_t length = std::min(text.size(), std::size(info->achName) - 1);
  std::copy_n(text.data(), length, info->achName);
  info->achName[length] = 0;
  // Resolved outside the lock: the graph may be on its way out on another
  // thread, and then there is simply no graph to give.
  if (graph) graph->Resolve(IID_IFilterGraph, reinterpret_cast<void**>(&info->pGraph));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CGstFilterBase::JoinFilterGraph(IFilterGraph* graph,
                                                          const OLECHAR* name) {
  ComPtr<IWeakReference> weak;
  if (graph) {
    ComPtr<IWeakReferenceSource> source;
    if (SUCCEEDED(graph->QueryInterface(IID_IWeakReferenceSource, source.PutVoid())) && source) {
      source->GetWeakReference(weak.Put());
    }
  }
  std::lock_guard guard(joinLock_);
  joined_ = graph != nullptr;
  joinedName_ = graph && name ? std::u16string(name) : std::u16string();
  graph_ = std::move(weak);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CGstFilterBase::GetElement(GstElement** element) {
  if (!element) return E_POINTER;
  *element = AcquireElement();
  return *element ? S_OK : E_UNEXPECTED;
}

HRESULT CGstFilterBase::QueryFilterInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IBaseFilter) {
    *object = static_cast<IBaseFilter*>(this);
  } else if (iid == IID_IGstFilterElement) {
    *object = static_cast<IGstFilterElement*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IBaseFilter*>(this)->AddRef();
  return S_OK;
}

HRESULT CGstFilter::Create(GstElement* element, IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = nullptr;
  if (!element) return E_POINTER;
  *filter =
      new (std::nothrow) CHeapObject<CGstFilter, Offered<IBaseFilter, IID_IBaseFilter>,
                                     Offered<IGstFilterElement, IID_IGstFilterElement>>(element);
  return *filter ? S_OK : E_OUTOFMEMORY;
}

CGstFilter::CGstFilter(GstElement* element) : element_(GST_ELEMENT(gst_object_ref_sink(element))) {}

CGstFilter::~CGstFilter() { gst_object_unref(element_); }

GstElement* CGstFilter::AcquireElement() { return GST_ELEMENT(gst_object_ref(element_)); }

HRESULT CreateGstPin(GstPad* pad, IPin** pin) { return CGstPin::Create(pad, pin); }

GstObjectPtr<GstElement> ElementOfFilter(IBaseFilter* filter) {
  if (!filter) return nullptr;
  ComPtr<IGstFilterElement> host;
  if (FAILED(filter->QueryInterface(IID_IGstFilterElement, host.PutVoid()))) return nullptr;
  GstElement* element = nullptr;
  if (FAILED(host->GetElement(&element))) return nullptr;
  return GstObjectPtr<GstElement>(element);
}

GstObjectPtr<GstPad> PadOfPin(IPin* pin) {
  if (!pin) return nullptr;
  ComPtr<IGstPin> gstPin;
  if (FAILED(pin->QueryInterface(IID_IGstPin, gstPin.PutVoid()))) return nullptr;
  GstPad* pad = nullptr;
  if (FAILED(gstPin->GetPad(&pad))) return nullptr;
  return GstObjectPtr<GstPad>(pad);
}

#include "platform/graph/testing/fake_graph.h"

#include <atomic>
#include <new>

#include "platform/com/co_create.h"
#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"

namespace {

// {E2B0A7C1-4D3F-4E8A-9B61-7C5D2F0A1E93}
constexpr IID IID_IFakeWrapped{
    0xE2B0A7C1, 0x4D3F, 0x4E8A, {0x9B, 0x61, 0x7C, 0x5D, 0x2F, 0x0A, 0x1E, 0x93}};

struct IFakeWrapped : IUnknown {
  virtual IUnknown* Inner() = 0;

 protected:
  ~IFakeWrapped() = default;
};

std::string Text(const OLECHAR* text) { return text ? Utf16ToUtf8(text) : std::string("(null)"); }

template <typename T>
ComPtr<T> Unwrapped(IUnknown* object, REFIID iid) {
  ComPtr<T> result;
  if (object) UnwrapFake(object).As(iid, result);
  return result;
}

// Reference counting and the lookup of a wrapper's own interfaces; the
// wrapper lists them in Lookup.
template <typename Derived, typename Primary>
class Wrapper : public IFakeWrapped {
 public:
  Wrapper(std::shared_ptr<FailureScript> script, ComPtr<IUnknown> inner)
      : script_(std::move(script)), inner_(std::move(inner)) {}
  virtual ~Wrapper() = default;

  IUnknown* Inner() override { return inner_.Get(); }

 protected:
  HRESULT Query(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IFakeWrapped) {
      *object = static_cast<IFakeWrapped*>(this);
    } else if (iid == IID_IUnknown) {
      *object = static_cast<Primary*>(static_cast<Derived*>(this));
    } else {
      *object = static_cast<Derived*>(this)->Lookup(iid);
    }
    if (!*object) return E_NOINTERFACE;
    static_cast<IUnknown*>(static_cast<Primary*>(static_cast<Derived*>(this)))->AddRef();
    return S_OK;
  }
  ULONG Up() { return ++refs_; }
  ULONG Down() {
    const ULONG left = --refs_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }
  // True (with `result` set) when the script decides this call.
  bool Scripted(const char* operation, HRESULT* result, const std::string& detail = {}) {
    return script_->Scripted(operation, detail, result);
  }

  std::shared_ptr<FailureScript> script_;
  ComPtr<IUnknown> inner_;

 private:
  std::atomic<ULONG> refs_{1};
};

#define WRAPPER_IUNKNOWN                                                         \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override { \
    return Query(iid, object);                                                   \
  }                                                                              \
  ULONG STDMETHODCALLTYPE AddRef() override { return Up(); }                     \
  ULONG STDMETHODCALLTYPE Release() override { return Down(); }

#define SCRIPTED(...)                            \
  do {                                           \
    HRESULT scripted_;                           \
    if (Scripted(__VA_ARGS__)) return scripted_; \
  } while (0)
#define RESULT &scripted_

template <typename W, typename T>
T* Wrap(std::shared_ptr<FailureScript> script, T* real) {
  if (!real) return nullptr;
  return new (std::nothrow) W(std::move(script), ComPtr<IUnknown>(real), real);
}

class FakePin;
class FakeFilter;

class FakePin final : public Wrapper<FakePin, IPin>, public IPin {
 public:
  FakePin(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IPin* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) { return iid == IID_IPin ? static_cast<IPin*>(this) : nullptr; }

  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    if (pin) *pin = nullptr;
    SCRIPTED("IPin::ConnectedTo", RESULT);
    IPin* real = nullptr;
    const HRESULT hr = real_->ConnectedTo(&real);
    if (real) {
      *pin = Wrap<FakePin>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
    SCRIPTED("IPin::QueryDirection", RESULT);
    return real_->QueryDirection(direction);
  }
  HRESULT STDMETHODCALLTYPE QueryId(BSTR* id) override {
    if (id) *id = nullptr;
    SCRIPTED("IPin::QueryId", RESULT);
    return real_->QueryId(id);
  }

 private:
  IPin* real_;
};

class FakeEnumPins final : public Wrapper<FakeEnumPins, IEnumPins>, public IEnumPins {
 public:
  FakeEnumPins(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IEnumPins* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) {
    return iid == IID_IEnumPins ? static_cast<IEnumPins*>(this) : nullptr;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    SCRIPTED("IEnumPins::Next", RESULT);
    const HRESULT hr = real_->Next(count, pins, fetched);
    const ULONG got = fetched ? *fetched : (hr == S_OK ? count : 0);
    for (ULONG i = 0; i < got; ++i) {
      IPin* real = pins[i];
      pins[i] = Wrap<FakePin>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    SCRIPTED("IEnumPins::Reset", RESULT);
    return real_->Reset();
  }

 private:
  IEnumPins* real_;
};

class FakeFilter final : public Wrapper<FakeFilter, IBaseFilter>, public IBaseFilter {
 public:
  FakeFilter(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IBaseFilter* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) {
    return iid == IID_IBaseFilter ? static_cast<IBaseFilter*>(this) : nullptr;
  }

  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
    if (pins) *pins = nullptr;
    SCRIPTED("IBaseFilter::EnumPins", RESULT, Name());
    IEnumPins* real = nullptr;
    const HRESULT hr = real_->EnumPins(&real);
    if (real) {
      *pins = Wrap<FakeEnumPins>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE FindPin(const OLECHAR* id, IPin** pin) override {
    if (pin) *pin = nullptr;
    SCRIPTED("IBaseFilter::FindPin", RESULT, Text(id));
    IPin* real = nullptr;
    const HRESULT hr = real_->FindPin(id, &real);
    if (real) {
      *pin = Wrap<FakePin>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    if (info) {
      info->achName[0] = 0;
      info->pGraph = nullptr;
    }
    SCRIPTED("IBaseFilter::QueryFilterInfo", RESULT, Name());
    return real_->QueryFilterInfo(info);
  }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, const OLECHAR* name) override {
    return real_->JoinFilterGraph(graph, name);
  }

 private:
  std::string Name() {
    FILTER_INFO info{};
    if (FAILED(real_->QueryFilterInfo(&info))) return {};
    if (info.pGraph) info.pGraph->Release();
    return Utf16ToUtf8(info.achName);
  }

  IBaseFilter* real_;
};

class FakeEnumFilters final : public Wrapper<FakeEnumFilters, IEnumFilters>, public IEnumFilters {
 public:
  FakeEnumFilters(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IEnumFilters* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) {
    return iid == IID_IEnumFilters ? static_cast<IEnumFilters*>(this) : nullptr;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    SCRIPTED("IEnumFilters::Next", RESULT);
    const HRESULT hr = real_->Next(count, filters, fetched);
    const ULONG got = fetched ? *fetched : (hr == S_OK ? count : 0);
    for (ULONG i = 0; i < got; ++i) {
      IBaseFilter* real = filters[i];
      filters[i] = Wrap<FakeFilter>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    SCRIPTED("IEnumFilters::Reset", RESULT);
    return real_->Reset();
  }

 private:
  IEnumFilters* real_;
};

class FakeGraph final : public Wrapper<FakeGraph, IGraphBuilder>,
                        public IGraphBuilder,
                        public IMediaControl,
                        public IMediaEventEx,
                        public IMediaSeeking,
                        public IVideoWindow {
 public:
  FakeGraph(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IGraphBuilder* real)
      : Wrapper(std::move(s), std::move(inner)), graph_(real) {
    real->QueryInterface(IID_IMediaControl, control_.PutVoid());
    real->QueryInterface(IID_IMediaEventEx, events_.PutVoid());
    real->QueryInterface(IID_IMediaSeeking, seeking_.PutVoid());
    real->QueryInterface(IID_IVideoWindow, window_.PutVoid());
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object) *object = nullptr;
    const char* name = iid == IID_IMediaControl   ? "QueryInterface(IMediaControl)"
                       : iid == IID_IMediaEventEx ? "QueryInterface(IMediaEventEx)"
                       : iid == IID_IMediaEvent   ? "QueryInterface(IMediaEvent)"
                       : iid == IID_IMediaSeeking ? "QueryInterface(IMediaSeeking)"
                       : iid == IID_IVideoWindow  ? "QueryInterface(IVideoWindow)"
                       : iid == IID_IGraphBuilder ? "QueryInterface(IGraphBuilder)"
                       : iid == IID_IFilterGraph  ? "QueryInterface(IFilterGraph)"
                                                  : nullptr;
    if (name) SCRIPTED(name, RESULT);
    const HRESULT hr = Query(iid, object);
    // What only the real graph offers (the table's notifications) comes
    // from it.
    return hr == E_NOINTERFACE ? inner_->QueryInterface(iid, object) : hr;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Up(); }
  ULONG STDMETHODCALLTYPE Release() override { return Down(); }
  void* Lookup(REFIID iid) {
    if (iid == IID_IGraphBuilder || iid == IID_IFilterGraph)
      return static_cast<IGraphBuilder*>(this);
    if (iid == IID_IMediaControl) return static_cast<IMediaControl*>(this);
    if (iid == IID_IMediaEventEx || iid == IID_IMediaEvent)
      return static_cast<IMediaEventEx*>(this);
    if (iid == IID_IMediaSeeking) return static_cast<IMediaSeeking*>(this);
    if (iid == IID_IVideoWindow) return static_cast<IVideoWindow*>(this);
    return nullptr;
  }

  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, const OLECHAR* name) override {
    SCRIPTED("IGraphBuilder::AddFilter", RESULT, Text(name));
    return graph_->AddFilter(Unwrapped<IBaseFilter>(filter, IID_IBaseFilter).Get(), name);
  }
  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
    SCRIPTED("IGraphBuilder::RemoveFilter", RESULT);
    return graph_->RemoveFilter(Unwrapped<IBaseFilter>(filter, IID_IBaseFilter).Get());
  }
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** filters) override {
    if (filters) *filters = nullptr;
    SCRIPTED("IGraphBuilder::EnumFilters", RESULT);
    IEnumFilters* real = nullptr;
    const HRESULT hr = graph_->EnumFilters(&real);
    if (real) {
      *filters = Wrap<FakeEnumFilters>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* output, IPin* input,
                                          const CMediaType* type) override {
    SCRIPTED("IGraphBuilder::ConnectDirect", RESULT);
    return graph_->ConnectDirect(Unwrapped<IPin>(output, IID_IPin).Get(),
                                 Unwrapped<IPin>(input, IID_IPin).Get(), type);
  }
  HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override {
    SCRIPTED("IGraphBuilder::Disconnect", RESULT);
    return graph_->Disconnect(Unwrapped<IPin>(pin, IID_IPin).Get());
  }
  HRESULT STDMETHODCALLTYPE Connect(IPin* output, IPin* input) override {
    SCRIPTED("IGraphBuilder::Connect", RESULT);
    return graph_->Connect(Unwrapped<IPin>(output, IID_IPin).Get(),
                           Unwrapped<IPin>(input, IID_IPin).Get());
  }
  HRESULT STDMETHODCALLTYPE RenderFile(const OLECHAR* file, const OLECHAR* playList) override {
    SCRIPTED("IGraphBuilder::RenderFile", RESULT, Text(file));
    return graph_->RenderFile(file, playList);
  }

  HRESULT STDMETHODCALLTYPE Run() override {
    SCRIPTED("IMediaControl::Run", RESULT);
    return control_->Run();
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    SCRIPTED("IMediaControl::Stop", RESULT);
    return control_->Stop();
  }

  HRESULT STDMETHODCALLTYPE GetEvent(long* code, LONG_PTR* p1, LONG_PTR* p2,
                                     long timeoutMs) override {
    SCRIPTED("IMediaEventEx::GetEvent", RESULT);
    return events_->GetEvent(code, p1, p2, timeoutMs);
  }
  HRESULT STDMETHODCALLTYPE FreeEventParams(long code, LONG_PTR p1, LONG_PTR p2) override {
    return events_->FreeEventParams(code, p1, p2);
  }
  HRESULT STDMETHODCALLTYPE SetNotifyWindow(INotifyTarget* target, long message,
                                            LONG_PTR instance) override {
    SCRIPTED("IMediaEventEx::SetNotifyWindow", RESULT);
    return events_->SetNotifyWindow(target, message, instance);
  }

  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override {
    SCRIPTED("IMediaSeeking::GetDuration", RESULT);
    return seeking_->GetDuration(duration);
  }
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override {
    SCRIPTED("IMediaSeeking::GetPositions", RESULT);
    return seeking_->GetPositions(current, stop);
  }
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                         DWORD stopFlags) override {
    SCRIPTED("IMediaSeeking::SetPositions", RESULT);
    return seeking_->SetPositions(current, currentFlags, stop, stopFlags);
  }

  HRESULT STDMETHODCALLTYPE put_Owner(IVideoSurface* owner) override {
    SCRIPTED("IVideoWindow::put_Owner", RESULT);
    return window_->put_Owner(owner);
  }
  HRESULT STDMETHODCALLTYPE put_WindowStyle(long style) override {
    SCRIPTED("IVideoWindow::put_WindowStyle", RESULT);
    return window_->put_WindowStyle(style);
  }
  HRESULT STDMETHODCALLTYPE SetWindowPosition(long left, long top, long width,
                                              long height) override {
    SCRIPTED("IVideoWindow::SetWindowPosition", RESULT);
    return window_->SetWindowPosition(left, top, width, height);
  }
  HRESULT STDMETHODCALLTYPE put_Visible(long visible) override {
    SCRIPTED("IVideoWindow::put_Visible", RESULT);
    return window_->put_Visible(visible);
  }

 private:
  IGraphBuilder* graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<IMediaSeeking> seeking_;
  ComPtr<IVideoWindow> window_;
};

class FakeCaptureBuilder final : public Wrapper<FakeCaptureBuilder, ICaptureGraphBuilder2>,
                                 public ICaptureGraphBuilder2 {
 public:
  FakeCaptureBuilder(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner,
                     ICaptureGraphBuilder2* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) {
    return iid == IID_ICaptureGraphBuilder2 ? static_cast<ICaptureGraphBuilder2*>(this) : nullptr;
  }
  HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) override {
    SCRIPTED("ICaptureGraphBuilder2::SetFiltergraph", RESULT);
    return real_->SetFiltergraph(Unwrapped<IGraphBuilder>(graph, IID_IGraphBuilder).Get());
  }

 private:
  ICaptureGraphBuilder2* real_;
};

class FakeMoniker final : public Wrapper<FakeMoniker, IMoniker>, public IMoniker {
 public:
  FakeMoniker(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IMoniker* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) { return iid == IID_IMoniker ? static_cast<IMoniker*>(this) : nullptr; }
  HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* context, IMoniker* left, REFIID iid,
                                         void** object) override {
    if (object) *object = nullptr;
    SCRIPTED("IMoniker::BindToObject", RESULT);
    const HRESULT hr = real_->BindToObject(context, left, iid, object);
    if (SUCCEEDED(hr) && iid == IID_IBaseFilter && *object) {
      auto* real = static_cast<IBaseFilter*>(*object);
      *object = Wrap<FakeFilter>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx* context, IMoniker* left, BSTR* name) override {
    SCRIPTED("IMoniker::GetDisplayName", RESULT);
    return real_->GetDisplayName(context, left, name);
  }

 private:
  IMoniker* real_;
};

class FakeEnumMoniker final : public Wrapper<FakeEnumMoniker, IEnumMoniker>, public IEnumMoniker {
 public:
  FakeEnumMoniker(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IEnumMoniker* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) {
    return iid == IID_IEnumMoniker ? static_cast<IEnumMoniker*>(this) : nullptr;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    SCRIPTED("IEnumMoniker::Next", RESULT);
    const HRESULT hr = real_->Next(count, monikers, fetched);
    const ULONG got = fetched ? *fetched : (hr == S_OK ? count : 0);
    for (ULONG i = 0; i < got; ++i) {
      IMoniker* real = monikers[i];
      monikers[i] = Wrap<FakeMoniker>(script_, real);
      real->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    SCRIPTED("IEnumMoniker::Reset", RESULT);
    return real_->Reset();
  }

 private:
  IEnumMoniker* real_;
};

class FakeDevEnum final : public Wrapper<FakeDevEnum, ICreateDevEnum>, public ICreateDevEnum {
 public:
  FakeDevEnum(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, ICreateDevEnum* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) {
    return iid == IID_ICreateDevEnum ? static_cast<ICreateDevEnum*>(this) : nullptr;
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                                  DWORD flags) override {
    if (monikers) *monikers = nullptr;
    SCRIPTED("ICreateDevEnum::CreateClassEnumerator", RESULT);
    IEnumMoniker* real = nullptr;
    const HRESULT hr = real_->CreateClassEnumerator(category, &real, flags);
    if (real) {
      *monikers = Wrap<FakeEnumMoniker>(script_, real);
      real->Release();
    }
    return hr;
  }

 private:
  ICreateDevEnum* real_;
};

class FakeTable final : public Wrapper<FakeTable, IRunningObjectTable>, public IRunningObjectTable {
 public:
  FakeTable(std::shared_ptr<FailureScript> s, ComPtr<IUnknown> inner, IRunningObjectTable* real)
      : Wrapper(std::move(s), std::move(inner)), real_(real) {}
  WRAPPER_IUNKNOWN
  void* Lookup(REFIID iid) {
    return iid == IID_IRunningObjectTable ? static_cast<IRunningObjectTable*>(this) : nullptr;
  }
  HRESULT STDMETHODCALLTYPE Register(DWORD flags, IUnknown* object, IMoniker* name,
                                     DWORD* cookie) override {
    if (cookie) *cookie = 0;
    SCRIPTED("IRunningObjectTable::Register", RESULT);
    return real_->Register(flags, UnwrapFake(object).Get(), name, cookie);
  }
  HRESULT STDMETHODCALLTYPE Revoke(DWORD cookie) override {
    SCRIPTED("IRunningObjectTable::Revoke", RESULT);
    return real_->Revoke(cookie);
  }
  HRESULT STDMETHODCALLTYPE IsRunning(IMoniker* name) override { return real_->IsRunning(name); }
  HRESULT STDMETHODCALLTYPE GetObject(IMoniker* name, IUnknown** object) override {
    return real_->GetObject(name, object);
  }

 private:
  IRunningObjectTable* real_;
};

template <typename W, typename T>
HRESULT Hand(std::shared_ptr<FailureScript> script, T* real, REFIID iid, void** object) {
  ComPtr<T> owned = ComPtr<T>::Attach(real);
  ComPtr<T> wrapper = ComPtr<T>::Attach(Wrap<W>(std::move(script), owned.Get()));
  if (!wrapper) return E_OUTOFMEMORY;
  return wrapper->QueryInterface(iid, object);
}

}  // namespace

void FailureScript::Fail(const std::string& operation, HRESULT result, int after, int times) {
  std::lock_guard guard(lock_);
  rules_[operation] = Rule{result, after, times};
}

void FailureScript::Pass(const std::string& operation) {
  std::lock_guard guard(lock_);
  rules_.erase(operation);
}

bool FailureScript::Scripted(const std::string& operation, const std::string& detail,
                             HRESULT* result) {
  std::lock_guard guard(lock_);
  calls_.push_back(detail.empty() ? operation : operation + "(" + detail + ")");
  const int seen = seen_[operation]++;
  ++counted_[operation];
  auto it = rules_.find(operation);
  if (it == rules_.end()) return false;
  const Rule& rule = it->second;
  if (seen < rule.after || (rule.times >= 0 && seen >= rule.after + rule.times)) return false;
  *result = rule.result;
  return true;
}

std::vector<std::string> FailureScript::Calls() const {
  std::lock_guard guard(lock_);
  return calls_;
}

int FailureScript::CountOf(const std::string& operation) const {
  std::lock_guard guard(lock_);
  auto it = counted_.find(operation);
  return it == counted_.end() ? 0 : it->second;
}

void FailureScript::ClearCalls() {
  std::lock_guard guard(lock_);
  calls_.clear();
  counted_.clear();
}

FakeGraphPlatform::FakeGraphPlatform(std::shared_ptr<FailureScript> script)
    : script_(std::move(script)) {}

HRESULT FakeGraphPlatform::CreateObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const std::string name = clsid == CLSID_FilterGraph            ? "FilterGraph"
                           : clsid == CLSID_CaptureGraphBuilder2 ? "CaptureGraphBuilder2"
                           : clsid == CLSID_SystemDeviceEnum     ? "SystemDeviceEnum"
                           : clsid == CLSID_DSoundRender         ? "DSoundRender"
                                                                 : GuidToString(clsid);
  HRESULT scripted;
  if (script_->Scripted("Create(" + name + ")", {}, &scripted)) return scripted;

  if (clsid == CLSID_FilterGraph) {
    IGraphBuilder* real = nullptr;
    if (const HRESULT hr =
            CreateGraphObject(clsid, IID_IGraphBuilder, reinterpret_cast<void**>(&real));
        FAILED(hr))
      return hr;
    return Hand<FakeGraph>(script_, real, iid, object);
  }
  if (clsid == CLSID_CaptureGraphBuilder2) {
    ICaptureGraphBuilder2* real = nullptr;
    if (const HRESULT hr =
            CreateGraphObject(clsid, IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&real));
        FAILED(hr))
      return hr;
    return Hand<FakeCaptureBuilder>(script_, real, iid, object);
  }
  if (clsid == CLSID_SystemDeviceEnum) {
    ICreateDevEnum* real = nullptr;
    if (const HRESULT hr =
            CreateGraphObject(clsid, IID_ICreateDevEnum, reinterpret_cast<void**>(&real));
        FAILED(hr))
      return hr;
    return Hand<FakeDevEnum>(script_, real, iid, object);
  }
  IBaseFilter* real = nullptr;
  const HRESULT hr =
      clsid == CLSID_DSoundRender
          ? CreateGraphObject(clsid, IID_IBaseFilter, reinterpret_cast<void**>(&real))
          : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&real));
  if (FAILED(hr)) return hr;
  // Filters made by class go out as they are: their other interfaces (the
  // decoder's control interface) must stay reachable.
  const HRESULT query = real->QueryInterface(iid, object);
  real->Release();
  return query;
}

HRESULT FakeGraphPlatform::GetRunningObjectTable(IRunningObjectTable** table) {
  if (!table) return E_POINTER;
  *table = nullptr;
  HRESULT scripted;
  if (script_->Scripted("GetRunningObjectTable", {}, &scripted)) return scripted;
  IRunningObjectTable* real = nullptr;
  if (const HRESULT hr = ::GetRunningObjectTable(0, &real); FAILED(hr)) return hr;
  return Hand<FakeTable>(script_, real, IID_IRunningObjectTable, reinterpret_cast<void**>(table));
}

HRESULT FakeGraphPlatform::CreateItemMoniker(const OLECHAR* delimiter, const OLECHAR* item,
                                             IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  HRESULT scripted;
  if (script_->Scripted("CreateItemMoniker", Text(item), &scripted)) return scripted;
  return ::CreateItemMoniker(delimiter, item, moniker);
}

ComPtr<IUnknown> UnwrapFake(IUnknown* object) {
  if (!object) return nullptr;
  ComPtr<IFakeWrapped> wrapped;
  if (SUCCEEDED(object->QueryInterface(IID_IFakeWrapped, wrapped.PutVoid()))) {
    return ComPtr<IUnknown>(wrapped->Inner());
  }
  return ComPtr<IUnknown>(object);
}

#pragma once

#include <atomic>

#include "platform/com/class_factory.h"

// The class object of a server with one class: it lives as long as the
// library, so counting references to it means nothing. `create` makes an
// object, not aggregated, and queries it for `iid`; LockServer counts in
// `locks`, which the server's DllCanUnloadNow reads.
class CStaticClassFactory final : public IClassFactory {
 public:
  using CreateFn = HRESULT (*)(REFIID iid, void** object);

  CStaticClassFactory(CreateFn create, std::atomic<int>& locks) : create_(create), locks_(locks) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++locks_ : --locks_;
    return S_OK;
  }

 private:
  CreateFn create_;
  std::atomic<int>& locks_;
};

#pragma once

#include <atomic>

#include "platform/com/unknown.h"

// IUnknown for a heap object that offers exactly one interface besides
// IUnknown: thread-safe reference counting, destroyed with its last
// reference. Derived classes are created with new (std::nothrow) in their
// factory functions. Objects with more interfaces use CHeapObject
// (heap_object.h).
template <typename Interface, const IID& kInterfaceId>
class CSingleInterfaceObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != kInterfaceId) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  CSingleInterfaceObject() = default;
  virtual ~CSingleInterfaceObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

#pragma once

#include <atomic>

#include "platform/com/unknown.h"

// One interface a heap object offers, and the identifier it is asked for by.
template <typename Interface, const IID& kId>
struct Offered {
  using Type = Interface;
  static constexpr const IID& kIid = kId;
};

// IUnknown over `Implementation`, a class that implements every offered
// interface but none of IUnknown's methods: thread-safe reference counting,
// destroyed with its last reference; IID_IUnknown gives the first offered
// interface. For objects with more than one interface, or whose class
// derives from more than interfaces, where CSingleInterfaceObject does not
// fit. Made with new (std::nothrow) in factory functions, holding one
// reference.
template <typename Implementation, typename First, typename... Rest>
class CHeapObject final : public Implementation {
 public:
  using Implementation::Implementation;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    const bool found = iid == IID_IUnknown
                           ? Hand<First>(First::kIid, object)
                           : (Hand<First>(iid, object) || ... || Hand<Rest>(iid, object));
    if (!found) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ~CHeapObject() = default;

  template <typename Offer>
  bool Hand(REFIID iid, void** object) {
    if (iid != Offer::kIid) return false;
    *object = static_cast<typename Offer::Type*>(this);
    return true;
  }

  std::atomic<ULONG> refs_{1};
};

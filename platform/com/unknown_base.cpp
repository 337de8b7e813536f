#include "platform/com/unknown_base.h"

namespace {
std::atomic<long> objectsActive{0};
}

CUnknown::CUnknown(const char* objectName, IUnknown* outer)
    : name_(objectName), inner_(*this), owner_(outer ? outer : &inner_) {
  objectsActive.fetch_add(1);
}

CUnknown::~CUnknown() { objectsActive.fetch_sub(1); }

long CUnknown::ObjectsActive() { return objectsActive.load(); }

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown) {
    *object = &inner_;
    NonDelegatingAddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return refs_.fetch_add(1) + 1; }

ULONG CUnknown::NonDelegatingRelease() {
  const ULONG left = refs_.fetch_sub(1) - 1;
  if (left == 0) {
    // A destructor that hands out and releases an interface of its own
    // would otherwise come back here and delete the object twice.
    refs_.store(1);
    delete this;
  }
  return left;
}

HRESULT CUnknown::GetInterface(IUnknown* iface, void** object) {
  if (!object) return E_POINTER;
  *object = iface;
  iface->AddRef();
  return S_OK;
}

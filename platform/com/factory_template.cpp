#include "platform/com/factory_template.h"

#include <atomic>
#include <new>

namespace {
std::atomic<long> serverLocks{0};
}

CClassFactory::CClassFactory(const CFactoryTemplate& entry)
    : CUnknown(entry.name, nullptr), entry_(entry) {}

HRESULT CClassFactory::Create(const CFactoryTemplate& entry, REFIID iid, void** object) {
  auto* factory = new (std::nothrow) CClassFactory(entry);
  if (!factory) return E_OUTOFMEMORY;
  factory->NonDelegatingAddRef();
  const HRESULT hr = factory->NonDelegatingQueryInterface(iid, object);
  factory->NonDelegatingRelease();
  return hr;
}

HRESULT CClassFactory::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IClassFactory) return GetInterface(static_cast<IClassFactory*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  HRESULT hr = S_OK;
  CUnknown* created = entry_.create(outer, &hr);
  if (!created) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  // The reference held across the query keeps the object alive, and
  // releasing it destroys the object when the query failed.
  created->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) hr = created->NonDelegatingQueryInterface(iid, object);
  created->NonDelegatingRelease();
  return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
  if (lock)
    serverLocks.fetch_add(1);
  else
    serverLocks.fetch_sub(1);
  return S_OK;
}

long CClassFactory::ServerLocks() { return serverLocks.load(); }

HRESULT ServerGetClassObject(std::span<const CFactoryTemplate> templates, REFCLSID clsid,
                             REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
  for (const CFactoryTemplate& entry : templates)
    if (*entry.clsid == clsid) return CClassFactory::Create(entry, iid, object);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerCanUnloadNow(bool pinned) {
  return !pinned && CUnknown::ObjectsActive() == 0 && CClassFactory::ServerLocks() == 0 ? S_OK
                                                                                        : S_FALSE;
}

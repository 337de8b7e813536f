#pragma once

#include <span>

#include "platform/com/class_factory.h"
#include "platform/com/component_registry.h"
#include "platform/com/unknown_base.h"

// What an in-process server of aggregatable classes (filters among them) is
// made of: a table of factory templates, one per class, and the server entry
// points built on it.

// Creates an object inside `outer` (null: not aggregated), with no
// reference yet. Null when it cannot, with the reason in `hr`.
using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* hr);

struct CFactoryTemplate {
  const char* name;
  const CLSID* clsid;
  LPFNNewCOMObject create;
  // The filter registry's record of the class; null for classes that are
  // not filters.
  FilterEntry (*setup)();
};

// The class factory of one template. Counts as an object of the library
// while it lives; LockServer keeps the library loaded without one.
class CClassFactory final : public CUnknown, public IClassFactory {
 public:
  static HRESULT Create(const CFactoryTemplate& entry, REFIID iid, void** object);

  DECLARE_IUNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

  // An aggregated object must be asked for IID_IUnknown
  // (CLASS_E_NOAGGREGATION otherwise); E_OUTOFMEMORY when the template
  // gives no object and no reason.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  static long ServerLocks();

 private:
  explicit CClassFactory(const CFactoryTemplate& entry);
  ~CClassFactory() override = default;

  const CFactoryTemplate& entry_;
};

// DllGetClassObject over `templates`: CLASS_E_CLASSNOTAVAILABLE for a class
// that is not among them.
HRESULT ServerGetClassObject(std::span<const CFactoryTemplate> templates, REFCLSID clsid,
                             REFIID iid, void** object);
// DllCanUnloadNow: S_OK when no object and no server lock is left and
// `pinned` is false.
HRESULT ServerCanUnloadNow(bool pinned);
// DllRegisterServer / DllUnregisterServer: each class as an in-process
// server of this library (threading model "Both") and, for filters, its
// filter record. Registering stops at the first failure and removes what it
// had entered for that class.
HRESULT ServerRegister(std::span<const CFactoryTemplate> templates);
HRESULT ServerUnregister(std::span<const CFactoryTemplate> templates);

#pragma once

#include <atomic>

#include "platform/com/unknown.h"

// Reference counting and interface lookup for the library's component
// objects, with aggregation: an object created inside an outer object hands
// out interfaces whose IUnknown methods go to the outer one, while the outer
// object holds it through its own, non-delegating IUnknown.

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown {
 public:
  // A null `outer` makes the object its own owner.
  CUnknown(const char* objectName, IUnknown* outer);
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  // IID_IUnknown gives the non-delegating IUnknown; subclasses add their
  // interfaces and pass everything else here.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  // Destroys the object with the last reference.
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  // Where the IUnknown methods of every interface of this object go.
  IUnknown* GetOwner() const { return owner_; }
  // The object's own IUnknown, which never delegates: what an aggregating
  // outer object keeps, and what the class factory hands out.
  IUnknown* NonDelegatingUnknown() { return &inner_; }
  const char* ObjectName() const { return name_; }

  // Objects of this library alive in the process, for DllCanUnloadNow.
  static long ObjectsActive();

 protected:
  // Objects are created by class factories and destroyed by their last
  // Release only.
  virtual ~CUnknown();

  // Hands out `iface` with a reference, counted on the owner as every
  // interface's AddRef is.
  static HRESULT GetInterface(IUnknown* iface, void** object);

  // The object's own count (not the outer object's); only a snapshot.
  ULONG NonDelegatingRefCount() const { return refs_.load(); }
  bool IsAggregated() const { return owner_ != &inner_; }

 private:
  class Inner final : public IUnknown {
   public:
    explicit Inner(CUnknown& object) : object_(object) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
      return object_.NonDelegatingQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return object_.NonDelegatingAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return object_.NonDelegatingRelease(); }

   private:
    CUnknown& object_;
  };

  const char* name_;
  Inner inner_;
  IUnknown* const owner_;
  std::atomic<ULONG> refs_{0};
};

// The IUnknown methods of a class's interfaces, all delegating to the owner.
#define DECLARE_IUNKNOWN                                                         \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override { \
    return GetOwner()->QueryInterface(iid, object);                              \
  }                                                                              \
  ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }     \
  ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }

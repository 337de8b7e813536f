#pragma once

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

// Names for objects: a moniker binds to the object it names. Binding
// contexts are not used in-process; every method takes a null one.

struct IBindCtx;

inline constexpr IID IID_IMoniker{0x0000000F, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumMoniker{0x00000102, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

inline constexpr HRESULT MK_E_NOOBJECT = MakeHresult(0x800401E5u);
inline constexpr HRESULT MK_E_UNAVAILABLE = MakeHresult(0x800401E3u);

struct IMoniker : IUnknown {
  // The named object as `iid`. MK_E_NOOBJECT when it no longer exists.
  virtual HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx* context, IMoniker* left, REFIID iid,
                                                 void** object) = 0;
  // The caller frees the name with SysFreeString.
  virtual HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx* context, IMoniker* left,
                                                   BSTR* name) = 0;

 protected:
  ~IMoniker() = default;
};

struct IEnumMoniker : IUnknown {
  // S_OK when `count` monikers were handed out, S_FALSE when fewer were left.
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;

 protected:
  ~IEnumMoniker() = default;
};

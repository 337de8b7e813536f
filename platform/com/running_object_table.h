#pragma once

#include "platform/com/moniker.h"

// The process-wide table of running objects, where an object is published
// under a moniker so that tools attached to the process can find it.

inline constexpr IID IID_IRunningObjectTable{
    0x00000010, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {8D1F4C5E-2B1B-4F0E-9C37-54C1E0A7B6D2}, this system's own.
inline constexpr IID IID_IRunningObjectNotify{
    0x8D1F4C5E, 0x2B1B, 0x4F0E, {0x9C, 0x37, 0x54, 0xC1, 0xE0, 0xA7, 0xB6, 0xD2}};

// The table holds a reference to the object until the entry is revoked.
inline constexpr DWORD ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;
inline constexpr DWORD ROTFLAGS_ALLOWANYCLIENT = 0x2;

inline constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = MakeHresult(0x000401E7u);

struct IRunningObjectTable : IUnknown {
  // A second object under an equal name is entered too, with
  // MK_S_MONIKERALREADYREGISTERED. The cookie is never 0.
  virtual HRESULT STDMETHODCALLTYPE Register(DWORD flags, IUnknown* object, IMoniker* name,
                                             DWORD* cookie) = 0;
  // E_INVALIDARG for a cookie that is not (or no longer) in the table.
  virtual HRESULT STDMETHODCALLTYPE Revoke(DWORD cookie) = 0;
  // S_OK when an object is registered under an equal name, else S_FALSE.
  virtual HRESULT STDMETHODCALLTYPE IsRunning(IMoniker* name) = 0;
  // MK_E_UNAVAILABLE when nothing is registered under the name.
  virtual HRESULT STDMETHODCALLTYPE GetObject(IMoniker* name, IUnknown** object) = 0;

 protected:
  ~IRunningObjectTable() = default;
};

// Optional on a registered object: it is told when it is published and
// withdrawn, so that it can show itself to outside tools meanwhile. Called
// outside the table's lock, on the thread that registers or revokes.
struct IRunningObjectNotify : IUnknown {
  virtual void STDMETHODCALLTYPE OnRegistered(DWORD cookie, const OLECHAR* displayName) = 0;
  virtual void STDMETHODCALLTYPE OnRevoked(DWORD cookie) = 0;

 protected:
  ~IRunningObjectNotify() = default;
};

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable** table);
// A moniker whose display name is `delimiter` followed by `item`; two item
// monikers are equal when their display names are.
HRESULT CreateItemMoniker(const OLECHAR* delimiter, const OLECHAR* item, IMoniker** moniker);

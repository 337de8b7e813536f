#pragma once

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

// Offered by the stand-in (earth_stand_in.h) beside IApplicationGE. A Google
// Earth that was already open when the stand-in was created is not started a
// second time; it shows the plane only once the pilot opens our session
// document in it, and only the viewer can tell the pilot so.
inline constexpr IID IID_IEarthSession{
    0x0DBCF286, 0x6C27, 0x4114, {0x86, 0xFA, 0x3B, 0xFA, 0x39, 0xB6, 0xA4, 0x90}};

struct IEarthSession : IUnknown {
  // S_OK with the path of the session document when Google Earth was found
  // running and must be told to open it; S_FALSE, and no string, when the
  // stand-in started Google Earth with it.
  virtual HRESULT STDMETHODCALLTYPE GetSessionToOpen(BSTR* path) = 0;

 protected:
  ~IEarthSession() = default;
};

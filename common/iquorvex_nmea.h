#pragma once

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

// The decoder's NMEA side output, beside IQuorvex (whose layout stays as it
// is). Reached by QueryInterface on the decoder object. The method order is
// the vtable layout: never reorder, insert or remove a method.

inline constexpr IID IID_IQuorvexNmea{
    0x83B1A348, 0x8603, 0x43B9, {0xAA, 0x15, 0x5C, 0x3A, 0x19, 0x2B, 0x9C, 0x6B}};

// The NMEA file is in use: another process holds its exclusive lock
// (the value of the Windows lock-violation error).
inline constexpr HRESULT QUORVEX_E_NMEA_LOCKED = MakeHresult(0x80070021u);

struct IQuorvexNmea : IUnknown {
  // The frames carry a time of day but no date. `utcSeconds` (seconds since
  // 1970-01-01 UTC) is an instant near the recording, its start or its end:
  // the first fix is dated on the UTC day on which its time of day lies
  // nearest that instant, and later fixes move to the next day when their
  // time of day passes midnight. Without a call the instant is the moment
  // the first fix arrives, which suits live audio. Call before streaming.
  virtual HRESULT STDMETHODCALLTYPE SetRecordingTime(std::int64_t utcSeconds) = 0;
  // The file the sentences go to (null when there is none; the caller frees
  // it) and the outcome of opening and writing it: S_OK,
  // QUORVEX_E_NMEA_LOCKED, E_FAIL when it could not be opened, or the
  // system's reason for the first write that failed (facility 7 with the
  // errno, after which nothing more is written). Both may be null.
  virtual HRESULT STDMETHODCALLTYPE GetNmeaFile(BSTR* path, HRESULT* openResult) = 0;

 protected:
  ~IQuorvexNmea() = default;
};

#pragma once

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

// Every frame the decoder stored, in order, with the stream time at which
// it was decoded and its values at full precision: what IQuorvex's
// histories (32-bit floats, no times) cannot give. Beside IQuorvex, whose
// layout stays as it is; reached by QueryInterface on the decoder object.
// The method order is the vtable layout: never reorder, insert or remove a
// method.

// {84CC56C2-45AB-492D-ADB2-1CAB508C98F9}
inline constexpr IID IID_IQuorvexFrameLog{
    0x84CC56C2, 0x45AB, 0x492D, {0xAD, 0xB2, 0x1C, 0xAB, 0x50, 0x8C, 0x98, 0xF9}};

struct IQuorvexFrameLog : IUnknown {
  // Frames stored since the decoder was made.
  virtual HRESULT STDMETHODCALLTYPE GetFrameCount(int* count) = 0;
  // The first `frameCount` frames (all there are when fewer) as the
  // full-precision CSV, one row per frame of any type, the file that
  // quorvex-decode --csv-full writes. The file is replaced in one step: a
  // reader never sees half of it, and a failed write leaves the old one.
  // S_OK, E_INVALIDARG for an empty path, or the system's reason (facility
  // 7 with the errno).
  virtual HRESULT STDMETHODCALLTYPE WriteFrameCsv(int frameCount, BSTR path) = 0;

 protected:
  ~IQuorvexFrameLog() = default;
};

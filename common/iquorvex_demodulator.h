#pragma once

#include "platform/com/unknown.h"

// Which demodulator the decoder filter runs. A separate interface so that
// IQuorvex's layout stays as every viewer compiled against it expects; never
// reorder, insert or remove a method.

// {3B65BEC7-AA0A-4452-B9C3-497DC1BAA34F}
inline constexpr IID IID_IQuorvexDemodulator{
    0x3B65BEC7, 0xAA0A, 0x4452, {0xB9, 0xC3, 0x49, 0x7D, 0xC1, 0xBA, 0xA3, 0x4F}};

enum QuorvexDemodulator : int {
  // The receiver recordings have always been decoded with; the default.
  kQuorvexDemodulatorSeed = 0,
  // Matched filter, clock recovery and hum removal, for noisy, off-rate and
  // lossily recorded signals.
  kQuorvexDemodulatorRobust = 1,
};

struct IQuorvexDemodulator : IUnknown {
  // E_INVALIDARG for a value that names no demodulator. Takes effect with
  // the next buffer; histories, counters and outputs carry on.
  virtual HRESULT STDMETHODCALLTYPE SetDemodulator(int demodulator) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDemodulator(int* demodulator) = 0;

 protected:
  ~IQuorvexDemodulator() = default;
};

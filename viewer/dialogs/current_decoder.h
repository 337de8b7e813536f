#pragma once

#include <functional>

#include "common/iquorvex.h"
#include "platform/com/com_ptr.h"

// Every Load and every Live Capture replaces the decoder, so windows that
// talk to it ask for the current one at the moment they need it instead of
// holding a reference. Empty when no graph has a decoder.
using CurrentDecoder = std::function<ComPtr<IQuorvex>()>;

// The control interface of a decoder filter; empty for no filter or one
// that does not offer it.
inline ComPtr<IQuorvex> QueryQuorvex(IUnknown* filter) {
  ComPtr<IQuorvex> quorvex;
  if (filter != nullptr && FAILED(filter->QueryInterface(IID_IQuorvex, quorvex.PutVoid()))) {
    quorvex.Reset();
  }
  return quorvex;
}

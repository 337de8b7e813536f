#pragma once

#include <string>

#include "common/iquorvex.h"

// The decoder's final state as read through IQuorvex, in the two forms the
// tool prints.
namespace report {

// One JSON object. Floats carry nine significant digits, enough for every
// 32-bit value to read back unchanged.
std::string Json(IQuorvex& decoder);

// A few lines for a person.
std::string Summary(IQuorvex& decoder, const std::string& mediaName);

}  // namespace report

#pragma once

#include <span>
#include <string>

#include "common/telemetry_frame.h"

// Every frame of any type, one row each in the order decoded, with the
// stream time at which it was decoded and every value at full precision
// (the shortest text that reads back as the same double). Columns that do
// not belong to a row's type are empty.
namespace frame_csv {

std::string Document(std::span<const TelemetryFrame> frames);

}  // namespace frame_csv

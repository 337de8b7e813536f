#pragma once

#include <vector>

#include "common/iquorvex.h"
#include "common/telemetry_frame.h"

// The decoder's history as frames, key by key, for the outputs written
// after the fact. IQuorvex carries no stream times and 32-bit coordinates,
// so the frames have no stream time and the precision of a float.
std::vector<TelemetryFrame> HistoryFrames(IQuorvex& decoder, int count);

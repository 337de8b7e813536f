#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/telemetry_frame.h"

// The flight as a KML time track (gx:Track, one when/coord pair per fix at
// absolute altitude), which a globe's time slider replays.
namespace kml_track {

std::string Document(std::span<const TelemetryFrame> frames, std::int64_t recordingUtcSeconds);

}  // namespace kml_track

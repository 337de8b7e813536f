#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "common/telemetry_frame.h"

// A flight as GPX 1.1: one track of one segment with a point per fix
// (latitude and longitude to 7 decimals, elevation, UTC time, satellites)
// and, as extensions in our own namespace, the uplink and battery values
// last received before that fix.
namespace gpx {

inline constexpr const char* kExtensionNamespace = "urn:aviquent:quorvex:telemetry:1";

std::string Document(std::span<const TelemetryFrame> frames, std::int64_t recordingUtcSeconds);

}  // namespace gpx

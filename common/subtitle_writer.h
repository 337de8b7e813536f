#pragma once

#include <span>
#include <string>
#include <vector>

#include "common/telemetry_frame.h"

// Subtitles that put the telemetry over the flight video: one cue per fix,
// from the stream time at which it was decoded until the next fix, with
// altitude above launch, distance from launch, ground speed, satellites,
// and the battery voltage and RSSI last received. Fixes without a stream
// time are left out.
namespace subtitles {

struct Cue {
  double start = 0, end = 0;  // seconds of the recording
  std::string text;           // lines separated by '\n'
};

std::vector<Cue> Cues(std::span<const TelemetryFrame> frames);

std::string Srt(std::span<const TelemetryFrame> frames);
std::string WebVtt(std::span<const TelemetryFrame> frames);

}  // namespace subtitles

#pragma once

#include <span>
#include <vector>

#include "tools/simulated_aircraft/frame_builder.h"
#include "tools/simulated_aircraft/modulator.h"

namespace simulated_aircraft {

// One frame of a flight, from either flight source, with its timing.
struct FlightFrame {
  double sendAt = 0.0;       // seconds from the start of the audio; never sent earlier
  double pauseBefore = 0.0;  // seconds of extra idle line after the previous frame
  TelemetryRecord record;
};

struct FrameCounts {
  int position = 0;
  int uplink = 0;
  int battery = 0;
};

FrameCounts CountFrames(std::span<const FlightFrame> frames);
std::vector<ScheduledFrame> BuildFrames(std::span<const FlightFrame> frames);

}  // namespace simulated_aircraft

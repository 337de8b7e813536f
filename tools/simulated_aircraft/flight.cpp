#include "tools/simulated_aircraft/flight.h"

namespace simulated_aircraft {

FrameCounts CountFrames(std::span<const FlightFrame> frames) {
  FrameCounts counts;
  for (const FlightFrame& f : frames) {
    switch (FrameTypeOf(f.record)) {
      case kFramePosition:
        ++counts.position;
        break;
      case kFrameUplink:
        ++counts.uplink;
        break;
      default:
        ++counts.battery;
        break;
    }
  }
  return counts;
}

std::vector<ScheduledFrame> BuildFrames(std::span<const FlightFrame> frames) {
  std::vector<ScheduledFrame> built;
  built.reserve(frames.size());
  for (const FlightFrame& f : frames)
    built.push_back({f.sendAt, f.pauseBefore, BuildFrame(f.record)});
  return built;
}

}  // namespace simulated_aircraft

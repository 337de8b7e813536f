#include "tools/simulated_aircraft/frame_builder.h"

#include <cstring>
#include <stdexcept>

#include "common/wire/crc8.h"

namespace simulated_aircraft {

std::uint8_t FrameTypeOf(const TelemetryRecord& record) {
  struct {
    std::uint8_t operator()(const PositionRecord&) const { return kFramePosition; }
    std::uint8_t operator()(const UplinkRecord&) const { return kFrameUplink; }
    std::uint8_t operator()(const BatteryRecord&) const { return kFrameBattery; }
  } type;
  return std::visit(type, record);
}

std::vector<std::uint8_t> BuildFrame(std::uint8_t type, std::span<const std::uint8_t> payload) {
  if (payload.size() > 255) throw std::length_error("frame payload longer than 255 bytes");
  std::vector<std::uint8_t> frame;
  frame.reserve(payload.size() + 3);
  frame.push_back(type);
  frame.push_back(static_cast<std::uint8_t>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(crc8::Compute(frame.data(), frame.size()));
  return frame;
}

std::vector<std::uint8_t> BuildFrame(const TelemetryRecord& record) {
  // The records are the wire layout already (packed, little-endian).
  return std::visit(
      [&](const auto& r) {
        std::uint8_t bytes[sizeof r];
        std::memcpy(bytes, &r, sizeof r);
        return BuildFrame(FrameTypeOf(record), bytes);
      },
      record);
}

}  // namespace simulated_aircraft

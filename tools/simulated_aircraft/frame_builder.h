#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "common/wire/telemetry_records.h"

namespace simulated_aircraft {

// One telemetry payload of any of the three frame types.
using TelemetryRecord = std::variant<PositionRecord, UplinkRecord, BatteryRecord>;

std::uint8_t FrameTypeOf(const TelemetryRecord& record);

// [type][length][payload][CRC-8 over everything before it]. The length byte
// cannot express more than 255 payload bytes, so a longer payload throws
// std::length_error rather than being silently cut.
std::vector<std::uint8_t> BuildFrame(std::uint8_t type, std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> BuildFrame(const TelemetryRecord& record);

}  // namespace simulated_aircraft

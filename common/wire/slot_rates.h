#pragma once

#include <cstdint>

// The three telemetry rates an aircraft can send at, in slots per second;
// the middle one is what a receiver assumes until told otherwise.
namespace wire {

inline constexpr std::int32_t kSlotRateSlow = 2388;
inline constexpr std::int32_t kSlotRateNorm = 4777;
inline constexpr std::int32_t kSlotRateFast = 9554;

}  // namespace wire

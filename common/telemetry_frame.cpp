#include "common/telemetry_frame.h"

namespace {

constexpr std::int64_t kDayMs = 86'400'000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

}  // namespace

std::int64_t FixDater::Date(int timeOfDayMs) {
  if (!dayStartMs_) {
    const std::int64_t near = recording_ * 1000;
    std::int64_t best = FloorDiv(near, kDayMs) * kDayMs;
    // Of the day before, the day itself and the day after, the one on which
    // this time of day is nearest the instant.
    for (std::int64_t day : {best - kDayMs, best + kDayMs}) {
      const auto distance = [&](std::int64_t d) {
        const std::int64_t t = d + timeOfDayMs - near;
        return t < 0 ? -t : t;
      };
      if (distance(day) < distance(best)) best = day;
    }
    dayStartMs_ = best;
  } else if (timeOfDayMs + kDayMs / 2 < lastTimeOfDayMs_) {
    // Back by more than half a day: midnight, not a late frame.
    *dayStartMs_ += kDayMs;
  }
  lastTimeOfDayMs_ = timeOfDayMs;
  return *dayStartMs_ + timeOfDayMs;
}

#include "common/telemetry_frame.h"

#include <cstdio>
#include <ctime>

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

std::string IsoUtc(std::int64_t utcMs) {
  const auto ms = static_cast<int>((utcMs % 1000 + 1000) % 1000);
  const auto seconds = static_cast<std::time_t>((utcMs - ms) / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return text;
}

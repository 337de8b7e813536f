#include "common/telemetry_frame.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

constexpr std::int64_t kDayMs = 86'400'000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

}  // namespace

std::int64_t FixDater::Date(int timeOfDayMs) {
  if (!dayStartMs_) {
    const std::int64_t near = recording_ ? *recording_ * 1000
                                         : std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::system_clock::now().time_since_epoch())
                                               .count();
    const std::int64_t day = FloorDiv(near, kDayMs) * kDayMs;
    const std::int64_t ahead = day + timeOfDayMs - near;
    dayStartMs_ = ahead > kDayMs / 2 ? day - kDayMs : ahead < -kDayMs / 2 ? day + kDayMs : day;
  } else {
    const std::int64_t step = static_cast<std::int64_t>(timeOfDayMs) - lastTimeOfDayMs_;
    if (step < -kDayMs / 2) *dayStartMs_ += kDayMs;
    if (step > kDayMs / 2) *dayStartMs_ -= kDayMs;
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

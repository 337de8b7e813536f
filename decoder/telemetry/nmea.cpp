#include "decoder/telemetry/nmea.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace nmea {
namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
constexpr std::int64_t kHalfDayMs = kDayMs / 2;
constexpr double kUnitsPerDegree = 600000.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kEarthRadiusMetres = 6371008.8;
constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;

std::string TimeField(std::int32_t timeMs) {
  // Frames with a time outside the day never get here; the magnitude keeps
  // the text well-formed for any value all the same.
  const long long ms = std::llabs(static_cast<long long>(timeMs));
  const long long seconds = ms / 1000;
  const long long hours = seconds / 3600;
  const long long rest = seconds - hours * 3600;
  char buf[64];
  // Hundredths, so that the two fixes of one second keep distinct times.
  std::snprintf(buf, sizeof buf, "%.2lld%.2lld%.2lld.%.2lld", hours, rest / 60, rest % 60,
                ms % 1000 / 10);
  return buf;
}

// ddmm.mmmm (or dddmm.mmmm) and the hemisphere letter.
std::string AngleFields(std::int32_t value, bool longitude) {
  const long long magnitude = std::llabs(static_cast<long long>(value));
  const long degrees = static_cast<long>(magnitude / 600000);
  const float minutes = static_cast<float>((magnitude % 600000) / 10000.0);
  char buf[48];
  std::snprintf(buf, sizeof buf, longitude ? "%.3ld%07.4f,%c" : "%.2ld%07.4f,%c", degrees,
                static_cast<double>(minutes),
                longitude ? (value >= 0 ? 'E' : 'W') : (value >= 0 ? 'N' : 'S'));
  return buf;
}

// Replaces the two placeholder digits after '*' with the checksum and ends
// the line.
std::string Finish(std::string body) {
  std::uint8_t sum = 0;
  for (std::size_t i = 1; i < body.size() && body[i] != '*'; ++i)
    sum ^= static_cast<std::uint8_t>(body[i]);
  body.resize(body.size() - 2);
  char tail[8];
  std::snprintf(tail, sizeof tail, "%02x\r\n", sum);
  return body + tail;
}

double Radians(std::int32_t units) { return units / kUnitsPerDegree * kPi / 180.0; }

// The day on which `timeMs` of the day lies nearest `instant`.
}  // namespace

std::optional<Motion> MotionBetween(const PositionRecord& from, const PositionRecord& to) {
  std::int64_t elapsedMs = static_cast<std::int64_t>(to.timeMs) - from.timeMs;
  if (elapsedMs < -kHalfDayMs) elapsedMs += kDayMs;
  if (elapsedMs > kHalfDayMs) elapsedMs -= kDayMs;  // back across midnight: no motion
  if (elapsedMs <= 0) return std::nullopt;
  // Local flat earth: fixes arrive a fraction of a second apart.
  const double north = Radians(to.latitude) - Radians(from.latitude);
  double dLon = Radians(to.longitude) - Radians(from.longitude);
  if (dLon > kPi) dLon -= 2 * kPi;
  if (dLon < -kPi) dLon += 2 * kPi;
  const double east = dLon * std::cos((Radians(to.latitude) + Radians(from.latitude)) / 2);
  const double metres = std::hypot(north, east) * kEarthRadiusMetres;
  double course = std::atan2(east, north) * 180.0 / kPi;
  if (course < 0) course += 360.0;
  // 359.96 would print as 360.0, outside the field's range.
  if (course >= 359.95) course = 0.0;
  return Motion{metres / (static_cast<double>(elapsedMs) / 1000.0) / kMetresPerSecondPerKnot,
                course};
}

std::string RmcSentence(const PositionRecord& fix, std::chrono::year_month_day date,
                        const std::optional<Motion>& motion) {
  char motionFields[96] = ",";
  if (motion) {
    std::snprintf(motionFields, sizeof motionFields, "%.2f,%.1f", motion->knots,
                  motion->courseDegrees);
  }
  char dateField[16];
  std::snprintf(dateField, sizeof dateField, "%02u%02u%02d", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<int>(date.year()) % 100);
  return Finish("$GPRMC," + TimeField(fix.timeMs) + ",A," + AngleFields(fix.latitude, false) + "," +
                AngleFields(fix.longitude, true) + "," + motionFields + "," + dateField + ",,*00");
}

std::string GgaSentence(const PositionRecord& fix) {
  char altitude[64];
  std::snprintf(altitude, sizeof altitude, "%.1f", fix.altitude / 100.0);
  char satellites[8];
  std::snprintf(satellites, sizeof satellites, "%02u", fix.numSats);
  return Finish("$GPGGA," + TimeField(fix.timeMs) + "," + AngleFields(fix.latitude, false) + "," +
                AngleFields(fix.longitude, true) + ",1," + satellites + ",1.0," + altitude +
                ",M,1.0,M,,*00");
}

StreamSentences::Pair StreamSentences::For(const PositionRecord& fix) {
  using namespace std::chrono;
  const sys_time<milliseconds> at{milliseconds(dater_.Date(fix.timeMs))};
  const std::optional<Motion> motion =
      previous_ ? MotionBetween(*previous_, fix) : std::optional<Motion>();
  previous_ = fix;
  return {RmcSentence(fix, year_month_day(floor<days>(at)), motion), GgaSentence(fix)};
}

}  // namespace nmea

#include "decoder/telemetry/nmea.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace nmea {
namespace {

std::string TimeField(std::int32_t timeMs) {
  // Hours are not reduced modulo 24: the aircraft's clock is passed through.
  // (A precision pads with zeros; a 0 flag beside it would be ignored.)
  const long seconds = timeMs / 1000;
  const long hours = seconds / 3600;
  const long rest = seconds - hours * 3600;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.2ld%.2ld%.2ld.00", hours, rest / 60, rest % 60);
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

}  // namespace

std::string RmcSentence(const PositionRecord& fix) {
  return Finish("$GPRMC," + TimeField(fix.timeMs) + ",A," + AngleFields(fix.latitude, false) +
                "," + AngleFields(fix.longitude, true) + ",0.27,0,200804,,*00");
}

std::string GgaSentence(const PositionRecord& fix) {
  char altitude[64];
  std::snprintf(altitude, sizeof altitude, "%.1f", fix.altitude / 100.0);
  return Finish("$GPGGA," + TimeField(fix.timeMs) + "," + AngleFields(fix.latitude, false) + "," +
                AngleFields(fix.longitude, true) + ",1,09,1.0," + altitude + ",M,1.0,M,,*00");
}

}  // namespace nmea

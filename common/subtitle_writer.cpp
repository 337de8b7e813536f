#include "common/subtitle_writer.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace subtitles {

namespace {

constexpr double kLastCueSeconds = 1.0;
constexpr double kEarthRadius = 6371000.0;  // m

double GroundDistance(const TelemetryFrame& a, const TelemetryFrame& b) {
  constexpr double kRadians = M_PI / 180.0;
  const double x =
      (b.longitude - a.longitude) * kRadians * std::cos((a.latitude + b.latitude) / 2 * kRadians);
  const double y = (b.latitude - a.latitude) * kRadians;
  return std::hypot(x, y) * kEarthRadius;
}

std::string Timestamp(double seconds, char fractionSeparator) {
  const auto ms = static_cast<long long>(std::llround(seconds * 1000));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, fractionSeparator, ms % 1000);
  return text;
}

}  // namespace

std::vector<Cue> Cues(std::span<const TelemetryFrame> frames) {
  std::vector<Cue> cues;
  const TelemetryFrame* previous = nullptr;
  const TelemetryFrame* uplink = nullptr;
  const TelemetryFrame* battery = nullptr;
  for (const TelemetryFrame& f : frames) {
    if (f.type == TelemetryFrame::Type::kUplink) uplink = &f;
    if (f.type == TelemetryFrame::Type::kBattery) battery = &f;
    if (f.type != TelemetryFrame::Type::kPosition || !f.streamSeconds) continue;
    double speed = 0;
    if (previous && f.timeOfDayMs != previous->timeOfDayMs) {
      // The aircraft's own clock times the fixes; the stream's may stall.
      const double seconds = (f.timeOfDayMs - previous->timeOfDayMs) / 1000.0;
      if (seconds > 0) speed = GroundDistance(*previous, f) / seconds;
    }
    previous = &f;
    char voltage[32] = "-";
    if (battery) std::snprintf(voltage, sizeof voltage, "%.1f V", battery->voltageMv / 1000.0);
    char altitude[32] = "-", distance[32] = "-";
    if (f.launchSiteKnown) {
      std::snprintf(altitude, sizeof altitude, "%.0f m", f.altitudeAboveLaunch);
      std::snprintf(distance, sizeof distance, "%.0f m", f.distance);
    }
    char text[256];
    std::snprintf(text, sizeof text, "Alt %s  Dist %s  Speed %.1f km/h\nSats %d  Bat %s  RSSI %s",
                  altitude, distance, speed * 3.6, f.satellites, voltage,
                  uplink ? std::to_string(uplink->rssi1).c_str() : "-");
    if (!cues.empty()) cues.back().end = *f.streamSeconds;
    cues.push_back({*f.streamSeconds, *f.streamSeconds + kLastCueSeconds, text});
  }
  return cues;
}

std::string Srt(std::span<const TelemetryFrame> frames) {
  std::string out;
  int number = 0;
  for (const Cue& cue : Cues(frames)) {
    out += std::to_string(++number) + "\n" + Timestamp(cue.start, ',') + " --> " +
           Timestamp(cue.end, ',') + "\n" + cue.text + "\n\n";
  }
  return out;
}

std::string WebVtt(std::span<const TelemetryFrame> frames) {
  std::string out = "WEBVTT\n\n";
  for (const Cue& cue : Cues(frames)) {
    out += Timestamp(cue.start, '.') + " --> " + Timestamp(cue.end, '.') + "\n" + cue.text + "\n\n";
  }
  return out;
}

}  // namespace subtitles

#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One decoded frame as the outputs that follow a flight see it: physical
// units, and the stream time of the recording at which it was decoded.
struct TelemetryFrame {
  enum class Type { kPosition, kUplink, kBattery };
  Type type = Type::kPosition;
  std::optional<double> streamSeconds;

  // Position.
  int timeOfDayMs = 0;                 // of the UTC day, as the aircraft sends it
  double latitude = 0, longitude = 0;  // degrees
  double altitude = 0;                 // m above sea level
  bool launchSiteKnown = false;
  double altitudeAboveLaunch = 0, distance = 0;  // m, against the launch site, when known
  int satellites = 0;

  // Uplink.
  int rssi1 = 0, rssi2 = 0, linkQuality = 0, failsafes = 0, frequencyError = 0, bin = 0,
      goodPackets = 0, badPackets = 0;

  // Battery.
  int voltageMv = 0, capacityUsedMah = 0, currentMa = 0;
};

// The absolute time of a fix: the frames carry a time of day only. The first
// fix is dated on the UTC day on which its time of day lies nearest the
// recording instant (an instant near the recording: its container date,
// else the file's modification time; without one, the moment the first fix
// is dated, which suits live audio). From then on a jump of the time of day
// by more than half a day is midnight passing: forwards as the flight goes
// on, backwards when a recording is sought back over it.
class FixDater {
 public:
  FixDater() = default;
  explicit FixDater(std::int64_t recordingUtcSeconds) : recording_(recordingUtcSeconds) {}
  // Before the first fix is dated.
  void SetRecordingTime(std::int64_t utcSeconds) { recording_ = utcSeconds; }
  // Milliseconds since 1970-01-01 UTC. Fixes are dated in their order.
  std::int64_t Date(int timeOfDayMs);

 private:
  std::optional<std::int64_t> recording_;
  std::optional<std::int64_t> dayStartMs_;
  int lastTimeOfDayMs_ = 0;
};

// "2026-06-01T10:15:00.500Z": ISO 8601 UTC with milliseconds.
std::string IsoUtc(std::int64_t utcMs);

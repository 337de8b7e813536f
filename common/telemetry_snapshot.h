#pragma once

#include <array>
#include <cstdint>

struct IQuorvex;

// Everything IQuorvex reports about the flight now, read in one go, with the
// values exactly as the decoder reports them.
struct TelemetrySnapshot {
  std::int32_t goodPackets = 0;
  std::int32_t badPackets = 0;
  std::int32_t timeMs = 0;
  float longitude = 0.0f;
  float latitude = 0.0f;
  float altitude = 0.0f;
  float altitudeAboveLaunch = 0.0f;
  float heading = 0.0f;
  float distance = 0.0f;
  float distanceTravelled = 0.0f;
  std::int32_t numSats = 0;
  std::int32_t rssiValue1 = 0;
  std::int32_t rssiValue2 = 0;
  std::int32_t linkQuality = 0;
  std::int32_t nFailsafes = 0;
  std::int32_t freqError = 0;
  std::int32_t iCurrentBin = 0;
  std::int32_t nGoodPacketsThisBin = 0;
  std::int32_t nBadPacketsThisBin = 0;
  std::array<std::int32_t, 12> channels{};
  std::int32_t voltage = 0;
  std::int32_t capacityUsed = 0;
  std::int32_t current = 0;
  float launchLongitude = 0.0f;
  float launchLatitude = 0.0f;
  float launchAltitude = 0.0f;
  // Position frames the decoder has decoded; -1 when it cannot say.
  std::int32_t positionFrames = -1;

  // Before its first position frame the decoder reports a zero record,
  // which is no fix; the count tells it from a real fix at 0/0. A decoder
  // that keeps no count has a fix once its record is not all zero.
  bool HasPosition() const {
    if (positionFrames >= 0) return positionFrames > 0;
    return timeMs != 0 || longitude != 0.0f || latitude != 0.0f;
  }
};

// The decoder's results are not examined: whatever the outputs hold is used.
TelemetrySnapshot ReadTelemetrySnapshot(IQuorvex& quorvex);
// All but the packet counts, for a reader that shows those before reading on.
void ReadTelemetrySnapshotValues(IQuorvex& quorvex, TelemetrySnapshot& snapshot);

#include "tools/simulated_aircraft/synthetic_flight.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <utility>

#include "tests/tools/recording_engine.h"

namespace {

using namespace simulated_aircraft;

// The records are packed: a unary + copies a field out, because the EXPECT
// macros bind references, which a misaligned field cannot take.

template <typename T>
std::vector<T> Only(const std::vector<FlightFrame>& frames) {
  std::vector<T> r;
  for (const auto& f : frames) {
    if (const T* x = std::get_if<T>(&f.record)) r.push_back(*x);
  }
  return r;
}

// Metres north and east of home on a flat earth.
std::pair<double, double> FromHome(const PositionRecord& p) {
  const double metresPerUnit = 111320.0 / 600000.0;
  const double cosLat = std::cos(kSyntheticHomeLatitude * 3.14159265358979 / 180);
  return {(p.latitude - kSyntheticHomeLatitude * 600000.0) * metresPerUnit,
          (p.longitude - kSyntheticHomeLongitude * 600000.0) * metresPerUnit * cosLat};
}

double Between(const PositionRecord& a, const PositionRecord& b) {
  const auto [an, ae] = FromHome(a);
  const auto [bn, be] = FromHome(b);
  return std::hypot(an - bn, ae - be);
}

double Distance(const PositionRecord& p) {
  const auto [north, east] = FromHome(p);
  return std::hypot(north, east);
}

TEST(SyntheticFlight, SendsPositionsTwiceAndTheOthersOnceASecondTheSameEveryTime) {
  const auto frames = SyntheticFlight(10.0);
  const FrameCounts c = CountFrames(frames);
  EXPECT_EQ(c.position, 20);
  EXPECT_EQ(c.uplink, 10);
  EXPECT_EQ(c.battery, 10);
  EXPECT_LT(frames.back().sendAt, 10.0);
  const auto positions = Only<PositionRecord>(frames);
  for (std::size_t i = 1; i < positions.size(); ++i) {
    EXPECT_EQ(positions[i].timeMs - positions[i - 1].timeMs, 500);
  }

  EXPECT_EQ(AsFrames(RecordsOf(frames)), AsFrames(RecordsOf(SyntheticFlight(10.0))));
}

TEST(SyntheticFlight, IsAPlausibleFlight) {
  const auto frames = SyntheticFlight(300.0);
  const auto positions = Only<PositionRecord>(frames);
  // Satellites climb 4, 5, ... 9 in the first seconds and never fall back.
  EXPECT_EQ(positions.front().numSats, 4);
  EXPECT_EQ(positions[12].numSats, 9);  // six seconds in
  double path = 0.0, farthest = 0.0;
  int highest = 0;
  for (std::size_t i = 1; i < positions.size(); ++i) {
    EXPECT_GE(positions[i].numSats, positions[i - 1].numSats);
    path += Between(positions[i - 1], positions[i]);
    farthest = std::max(farthest, Distance(positions[i]));
    highest = std::max(highest, positions[i].altitude - kSyntheticHomeAltitudeCm);
  }
  EXPECT_GT(path, 2500.0);
  EXPECT_LT(path, 5000.0);
  EXPECT_GT(farthest, 800.0);
  EXPECT_GT(highest, 10000);
  for (const auto& p : {positions.front(), positions.back()}) {
    EXPECT_LT(Distance(p), 2.0);
    EXPECT_EQ(+p.altitude, kSyntheticHomeAltitudeCm);
  }

  const auto batteries = Only<BatteryRecord>(frames);
  for (std::size_t i = 1; i < batteries.size(); ++i) {
    EXPECT_GE(+batteries[i].capacityUsed, +batteries[i - 1].capacityUsed);
  }
  EXPECT_LT(batteries.back().voltage + 500, +batteries.front().voltage);

  // Each uplink frame follows a position frame a quarter second earlier.
  int nearRssi = 0, farRssi = 0;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    const auto* u = std::get_if<UplinkRecord>(&frames[i].record);
    const double d = u ? Distance(std::get<PositionRecord>(frames[i - 1].record)) : -1;
    if (d >= 0 && d < 50) nearRssi = std::max(nearRssi, int{u->rssiValue1});
    if (d > 900) farRssi = std::max(farRssi, int{u->rssiValue1});
  }
  // The level is reported as dBm below zero: far away it is the larger number.
  EXPECT_GT(farRssi, nearRssi + 20);
  EXPECT_GT(nearRssi, 30);

  EXPECT_THROW(SyntheticFlight(0.0), std::invalid_argument);
  EXPECT_THROW(SyntheticFlight(86401.0), std::invalid_argument);
}

}  // namespace

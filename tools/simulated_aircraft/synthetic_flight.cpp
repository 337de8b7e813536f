#include "tools/simulated_aircraft/synthetic_flight.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace simulated_aircraft {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTick = 0.25;  // seconds between frames
constexpr std::int64_t kStartOfDayMs = (10 * 3600 + 15 * 60) * 1000;
constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr double kMetresPerDegree = 111'320.0;
constexpr double kCruiseHeight = 120.0;    // metres above home
constexpr double kPackCapacity = 2200.0;   // mAh, three cells
constexpr double kPackResistance = 0.020;  // ohm

struct Moment {
  double north = 0.0;  // metres from home
  double east = 0.0;
  double height = 0.0;   // metres above home
  double current = 0.4;  // amperes
  int throttle = 0;      // channel value
  bool airborne = false;
};

// Ground time before take-off and after landing shrinks for short flights.
Moment FlightAt(double t, double seconds) {
  const double takeOff = std::min(8.0, 0.1 * seconds);
  const double landing = seconds - std::min(5.0, 0.05 * seconds);
  Moment m;
  if (t < takeOff || t >= landing) {
    m.current = t < takeOff ? 0.4 : 0.3;
    return m;
  }
  const double u = (t - takeOff) / (landing - takeOff);
  // A circle through home with its centre to the north-east, flown
  // clockwise: bearing from the centre starts at 225 degrees.
  const double bearing = (225.0 + 360.0 * u) * kPi / 180.0;
  const double centre = kSyntheticLoopRadius * std::numbers::sqrt2 / 2;
  m.north = centre + kSyntheticLoopRadius * std::cos(bearing);
  m.east = centre + kSyntheticLoopRadius * std::sin(bearing);
  m.airborne = true;
  constexpr double kClimb = 0.15;
  if (u < kClimb) {
    m.height = kCruiseHeight * std::pow(std::sin(kPi / 2 * u / kClimb), 2);
    m.current = 20.0;
    m.throttle = 230;
  } else if (u > 1 - kClimb) {
    m.height = kCruiseHeight * std::pow(std::sin(kPi / 2 * (1 - u) / kClimb), 2);
    m.current = 4.0;
    m.throttle = 70;
  } else {
    m.height = kCruiseHeight + 8.0 * std::sin(6 * kPi * u);
    m.current = 10.0 + 1.5 * std::sin(10 * kPi * u);
    m.throttle = 160;
  }
  return m;
}

std::int32_t ToUnits(double degrees) {
  return static_cast<std::int32_t>(std::lround(degrees * 600000.0));
}

template <typename T>
T Clamped(double value, double low, double high) {
  return static_cast<T>(std::lround(std::clamp(value, low, high)));
}

PositionRecord Position(double t, const Moment& m) {
  PositionRecord r{};
  r.timeMs = static_cast<std::int32_t>((kStartOfDayMs + std::llround(t * 1000)) % kMsPerDay);
  const double cosLat = std::cos(kSyntheticHomeLatitude * kPi / 180.0);
  r.latitude = ToUnits(kSyntheticHomeLatitude + m.north / kMetresPerDegree);
  r.longitude = ToUnits(kSyntheticHomeLongitude + m.east / (kMetresPerDegree * cosLat));
  r.altitude = kSyntheticHomeAltitudeCm + static_cast<std::int32_t>(std::lround(m.height * 100));
  r.numSats = static_cast<std::uint8_t>(std::min(9, 4 + static_cast<int>(t)));
  return r;
}

UplinkRecord Uplink(double t, const Moment& m) {
  const double distance = std::sqrt(m.north * m.north + m.east * m.east + m.height * m.height);
  UplinkRecord r{};
  // The receivers report the signal level as a positive number of dBm
  // below zero: about -42 dBm beside the pilot, -95 dBm at 1.5 km.
  const double rssi = 42.0 + 25.0 * std::log10(1.0 + distance / 10.0) + 1.5 * std::sin(0.9 * t);
  r.rssiValue1 = Clamped<std::uint8_t>(rssi, 20, 127);
  r.rssiValue2 = Clamped<std::uint8_t>(rssi + 4.0 + 3.0 * std::sin(1.7 * t), 20, 127);
  r.linkQuality = Clamped<std::uint8_t>(100.0 - distance / 25.0, 0, 100);
  r.nFailsafes = 0;
  r.freqError = Clamped<std::int8_t>(2.0 * std::sin(0.1 * t), -128, 127);
  r.iCurrentBin = static_cast<std::uint8_t>(static_cast<int>(t) % 64);
  const auto bad = Clamped<std::int16_t>(distance / 200.0, 0, 50);
  r.nBadPacketsThisBin = bad;
  r.nGoodPacketsThisBin = static_cast<std::int16_t>(50 - bad);
  r.channels[0] = m.airborne ? 150 : 128;  // aileron, holding the bank in the loop
  r.channels[1] = Clamped<std::uint8_t>(128 + (m.throttle > 200 ? 30 : 0), 0, 255);
  r.channels[2] = static_cast<std::uint8_t>(m.throttle);
  r.channels[3] = 128;                   // rudder
  r.channels[4] = m.airborne ? 255 : 0;  // arm switch
  r.channels[5] = 0;
  r.channels[6] = 128;
  r.channels[7] = 255;
  return r;
}

BatteryRecord Battery(const Moment& m, double usedMah) {
  const double charge = std::clamp(1.0 - usedMah / kPackCapacity, 0.0, 1.0);
  const double restingMv = 9900.0 + 2700.0 * charge;
  BatteryRecord r{};
  r.voltage = Clamped<std::uint16_t>(restingMv - m.current * 1000.0 * kPackResistance, 9000, 12600);
  r.capacityUsed = Clamped<std::uint16_t>(usedMah, 0, 65535);
  r.current = static_cast<std::int32_t>(std::lround(m.current * 1000.0));
  return r;
}

}  // namespace

std::vector<FlightFrame> SyntheticFlight(double seconds) {
  if (!(seconds > 0.0 && seconds <= 86400.0)) {
    throw std::invalid_argument("the synthetic flight lasts more than 0 and at most 86400 seconds");
  }
  std::vector<FlightFrame> frames;
  frames.reserve(static_cast<std::size_t>(seconds / kTick) + 1);
  double usedMah = 0.0;
  // Quarter-second turns: position, uplink, position, battery.
  for (std::int64_t tick = 0;; ++tick) {
    const double t = static_cast<double>(tick) * kTick;
    if (t >= seconds) break;
    const Moment m = FlightAt(t, seconds);
    usedMah += m.current * 1000.0 * kTick / 3600.0;
    FlightFrame frame;
    frame.sendAt = t;
    switch (tick % 4) {
      case 0:
      case 2:
        frame.record = Position(t, m);
        break;
      case 1:
        frame.record = Uplink(t, m);
        break;
      default:
        frame.record = Battery(m, usedMah);
        break;
    }
    frames.push_back(frame);
  }
  return frames;
}

}  // namespace simulated_aircraft

#pragma once

#include <vector>

#include "tools/simulated_aircraft/flight.h"

namespace simulated_aircraft {

// Where the synthetic aircraft takes off and lands.
inline constexpr double kSyntheticHomeLatitude = 46.8123;  // degrees
inline constexpr double kSyntheticHomeLongitude = 7.1456;  // degrees
inline constexpr int kSyntheticHomeAltitudeCm = 56200;
inline constexpr double kSyntheticLoopRadius = 500.0;  // metres

// A plausible flight of the given length, the same every time: a few seconds
// on the ground while the satellite count rises from 4 to 9, take-off, one
// loop of about 3 km at 120 m, landing back at home. Positions go out twice a
// second, uplink and battery frames once a second each, all on a 250 ms
// grid so that even the slowest slot rate fits every frame in its turn.
// Throws std::invalid_argument unless 0 < seconds <= 86400.
std::vector<FlightFrame> SyntheticFlight(double seconds);

}  // namespace simulated_aircraft

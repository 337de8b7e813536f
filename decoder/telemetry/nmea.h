#pragma once

#include <string>

#include "decoder/demodulator/telemetry_records.h"

// NMEA 0183 sentences for one position fix, each ending in its checksum and
// CR LF. Ground-station consumers parse these, so speed, course, date, fix
// quality, satellite count and dilution are the fixed values they have
// always received.
namespace nmea {

std::string RmcSentence(const PositionRecord& fix);
std::string GgaSentence(const PositionRecord& fix);

}  // namespace nmea

#pragma once

#include <filesystem>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/simulated_aircraft/flight.h"

namespace simulated_aircraft {

// A flight log that cannot be used; what() reads "SOURCE:LINE: problem".
class FlightLogError : public std::runtime_error {
 public:
  FlightLogError(const std::string& source, int line, const std::string& problem);
  int Line() const { return line_; }

 private:
  int line_;
};

// One row per frame, fields separated by commas, whitespace around fields
// ignored. The first field names the row: position (or 1), battery (or 2),
// uplink (or 3), or pause. Blank lines, lines starting with '#', and a
// header line whose first field is "type" are skipped.
//
//   position,TIME,LAT,LON,ALT_CM,SATS
//   uplink,RSSI1,RSSI2,QUALITY,FAILSAFES,FREQ_ERROR,BIN,GOOD,BAD,CH1,...,CH8
//   battery,MV,MAH,MA
//   pause,MS
//
// TIME is milliseconds of the day or hh:mm:ss[.fff]; LAT and LON are decimal
// degrees, north and east positive. Frames are sent in file order, one after
// the other; a pause row adds MS milliseconds of idle line before the next.
inline constexpr std::string_view kFlightLogColumns =
    "  position,TIME,LAT,LON,ALT_CM,SATS\n"
    "      TIME    time of day: milliseconds 0..86399999, or hh:mm:ss[.fff]\n"
    "      LAT     latitude in decimal degrees, -90..90, north positive\n"
    "      LON     longitude in decimal degrees, -180..180, east positive\n"
    "              (both sent in 1/600000 degree, rounded to the nearest)\n"
    "      ALT_CM  altitude above sea level in centimetres (32-bit integer)\n"
    "      SATS    satellites in use, 0..255\n"
    "  uplink,RSSI1,RSSI2,QUALITY,FAILSAFES,FREQ_ERROR,BIN,GOOD,BAD,CH1,...,CH8\n"
    "      RSSI1, RSSI2, QUALITY, FAILSAFES, BIN   0..255\n"
    "      FREQ_ERROR                              -128..127\n"
    "      GOOD, BAD   packets in the current bin, -32768..32767\n"
    "      CH1..CH8    the eight channel values, 0..255\n"
    "  battery,MV,MAH,MA\n"
    "      MV      voltage in millivolts, 0..65535\n"
    "      MAH     capacity used in mAh, 0..65535\n"
    "      MA      current in milliamperes (32-bit integer)\n"
    "  pause,MS\n"
    "      MS      milliseconds of idle line before the next frame, 0..3600000\n"
    "  The row types may also be given as their frame numbers: position 1,\n"
    "  battery 2, uplink 3. Blank lines, lines starting with '#' and a header\n"
    "  line starting with \"type\" are skipped. Frames are sent in file order,\n"
    "  each right after the previous one unless a pause row comes between.\n";

std::vector<FlightFrame> ParseFlightLog(std::istream& in, const std::string& source);
// Also throws FlightLogError (line 0) when the file cannot be read.
std::vector<FlightFrame> LoadFlightLog(const std::filesystem::path& path);

}  // namespace simulated_aircraft

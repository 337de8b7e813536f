#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "common/telemetry_frame.h"
#include "common/wire/telemetry_records.h"

// NMEA 0183 sentences for one position fix, each ending in its checksum and
// CR LF. Moving-map programs, gpsd and converters read them, so every field
// the decoder knows carries the real value; fix quality and dilution, which
// the frames do not carry, stay the fixed values consumers always received.
namespace nmea {

// Over ground, between two fixes.
struct Motion {
  double knots = 0;
  double courseDegrees = 0;  // true, 0 <= course < 360
};

// nullopt when no time passed from `from` to `to` (a time of day that
// passes midnight counts as the next day).
std::optional<Motion> MotionBetween(const PositionRecord& from, const PositionRecord& to);

// Speed and course stay empty without `motion`, which NMEA allows.
std::string RmcSentence(const PositionRecord& fix, std::chrono::year_month_day date,
                        const std::optional<Motion>& motion);
std::string GgaSentence(const PositionRecord& fix);

// The sentence pair (RMC, then GGA) of each fix of one stream: dates the
// fixes, which carry only a time of day, and moves speed and course along.
class StreamSentences {
 public:
  // An instant near the recording (its start or its end). The first fix is
  // dated on the day on which its time of day lies nearest this instant;
  // without one, nearest the moment that fix is written. From then on the
  // date follows the time of day over midnight, either way.
  void SetRecordingTime(std::chrono::sys_seconds instant) {
    dater_.SetRecordingTime(instant.time_since_epoch().count());
  }

  struct Pair {
    std::string rmc;
    std::string gga;
  };
  Pair For(const PositionRecord& fix);

 private:
  FixDater dater_;
  std::optional<PositionRecord> previous_;
};

}  // namespace nmea

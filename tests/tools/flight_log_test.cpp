#include "tools/simulated_aircraft/flight_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/tools/recording_engine.h"

namespace {

using namespace simulated_aircraft;
using testing::HasSubstr;

std::vector<FlightFrame> Parse(const std::string& text) {
  std::istringstream in(text);
  return ParseFlightLog(in, "flight.csv");
}

TEST(FlightLog, HandWrittenLogGivesExactRecordsAndPauses) {
  const auto frames = Parse(
      "type,fields\r\n"
      "# comment\r\n"
      "\r\n"
      " position , 10:15:00.250 , 46.8123 , -7.1456 , 56200 , 6 \r\n"
      "pause,250\r\n"
      "pause,50\r\n"
      "3,205,197,100,1,-3,12,48,-2,1,2,3,4,5,6,7,255\r\n"
      "Battery,12590,1500,-400\r\n"
      "1,45296789,0.5,180,-100,0\r\n");
  ASSERT_EQ(frames.size(), 4u);
  // 46.8123 degrees is 28087380 units of 1/600000 degree.
  const std::vector<TelemetryRecord> expected = {
      PositionRecord{36900250, 28087380, -4287360, 56200, 6},
      UplinkRecord{{0, 0}, 205, 197, 100, 1, -3, 12, 48, -2, {1, 2, 3, 4, 5, 6, 7, 255}},
      BatteryRecord{12590, 1500, -400},
      PositionRecord{45296789, 300000, 108000000, -100, 0},
  };
  EXPECT_EQ(AsFrames(RecordsOf(frames)), AsFrames(expected));
  EXPECT_DOUBLE_EQ(frames[0].pauseBefore, 0.0);
  EXPECT_DOUBLE_EQ(frames[1].pauseBefore, 0.3);
  EXPECT_DOUBLE_EQ(frames[2].pauseBefore, 0.0);
}

struct BadRow {
  const char* text;
  int line;
  const char* message;
};

TEST(FlightLog, BadRowsAreRejectedNamingTheLineAndTheProblem) {
  const BadRow cases[] = {
      {"position,1000,46,7,100\n", 1, "position row needs 5 fields"},
      {"uplink,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\n", 1, "uplink row needs 16 fields"},
      {"position,1000,95,7,100,6\n", 1, "LAT 95 is out of range -90..90"},
      {"position,24:00:00,46,7,100,6\n", 1, "TIME '24:00:00' is neither"},
      {"position,1000,46,7,1.5,6\n", 1, "ALT_CM '1.5' is not a whole number"},
      {"position,1000,north,7,100,6\n", 1, "LAT 'north' is not a number"},
      {"position,1000,,7,100,6\n", 1, "LAT is empty"},
      {"uplink,1,2,3,4,-129,6,7,8,1,2,3,4,5,6,7,8\n", 1, "FREQ_ERROR -129 is out of range"},
      {"uplink,1,2,3,4,5,6,7,8,1,2,3,4,5,6,7,300\n", 1, "CH8 300 is out of range"},
      {"gps,1,2\n", 1, "unknown row type 'gps'"},
      {"battery,12000,0,100\ntype,a,b\n", 2, "unknown row type 'type'"},
  };
  for (const BadRow& c : cases) {
    try {
      Parse(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const FlightLogError& e) {
      EXPECT_EQ(e.Line(), c.line) << c.text;
      EXPECT_THAT(e.what(), HasSubstr("flight.csv:" + std::to_string(c.line) + ": ")) << c.text;
      EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.text;
    }
  }
}

TEST(FlightLog, LogsWithoutFramesAndMissingFilesAreErrors) {
  EXPECT_THROW(Parse("type,fields\n# nothing\npause,100\n"), FlightLogError);
  EXPECT_THROW(LoadFlightLog("/nonexistent/flight.csv"), FlightLogError);
}

}  // namespace

#include "common/history_csv.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/fakes/scripted_decoder.h"

namespace {

UplinkRecord Uplink(std::uint8_t rssi) {
  UplinkRecord u{};
  u.rssiValue1 = rssi;
  u.rssiValue2 = 75;
  u.linkQuality = 99;
  u.nFailsafes = 1;
  u.freqError = -3;
  u.iCurrentBin = 4;
  u.nGoodPacketsThisBin = 480;
  u.nBadPacketsThisBin = 2;
  return u;
}

TEST(HistoryCsv, RowsPerUplinkJoinedWithTheLatestPosition) {
  ScriptedDecoder d;
  Sender(d)
      .UplinkFrame(Uplink(70))  // before any position: zeros
      .Position({45296789, 28284507, 5100000, 40050, 9})
      .Battery({11840, 1500, 12500})  // never exported
      .UplinkFrame(Uplink(71))
      .UplinkFrame(Uplink(72))
      .Position({45297289, 28284507, 5100600, 41050, 9})
      .UplinkFrame(Uplink(73));
  const std::string expected =
      std::string(history_csv::kHeader) + "\r\n" +
      "0,70,75,99,1,-3,4,480,2,0,0,0,0,0\r\n"
      "45296.8,71,75,99,1,-3,4,480,2,0,400.5,0,47.1408,8.5\r\n"
      "45296.8,72,75,99,1,-3,4,480,2,0,400.5,0,47.1408,8.5\r\n"
      "45297.3,73,75,99,1,-3,4,480,2,75,410.5,10,47.1408,8.501\r\n";
  EXPECT_EQ(history_csv::Build(d), expected);
  EXPECT_EQ(std::string(history_csv::kHeader),
            "time, rssiValue1, rssiValue2, linkQuality, nFailsafes, freqError, iCurrentBin, "
            "nGoodPacketsThisBin, nBadPacketsThisBin,distance,Altitude(ASL),Altitude(AGL),"
            "Latitude,Longitude");

  // A launch-site override changes the relative columns of every row.
  d.SetLaunchSite(8.5f, 47.140845f, 300.5f);
  const std::string moved = history_csv::Build(d);
  EXPECT_NE(moved.find(",400.5,100,47.1408,8.5\r\n"), std::string::npos) << moved;

  const auto dir = std::filesystem::path(testing::TempDir()) / "history-csv";
  std::filesystem::create_directories(dir);
  ASSERT_EQ(history_csv::Write(d, dir / "DiagData.csv"), S_OK);
  std::ifstream in(dir / "DiagData.csv", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), moved);
  std::string error;
  EXPECT_EQ(history_csv::Write(d, dir / "missing" / "DiagData.csv", &error), E_FAIL);
  EXPECT_FALSE(error.empty());
}

TEST(HistoryCsv, EmptyDecoderGivesTheHeaderOnly) {
  ScriptedDecoder d;
  EXPECT_EQ(history_csv::Build(d), std::string(history_csv::kHeader) + "\r\n");
}

}  // namespace

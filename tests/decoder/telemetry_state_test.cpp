// The decoder's telemetry state as a client sees it through IQuorvex.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decoder/telemetry/nmea.h"
#include "tests/decoder/slot_signal.h"
#include "tests/fakes/scripted_decoder.h"

namespace {

using testsignal::Frame;
using testsignal::SlotSignal;

PositionRecord Fix(std::int32_t lat, std::int32_t lon, std::int32_t altCm = 40000,
                   std::uint8_t sats = 8, std::int32_t timeMs = 45296789) {
  return PositionRecord{timeMs, lat, lon, altCm, sats};
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

UplinkRecord Uplink(std::uint8_t seed) {
  UplinkRecord u{};
  u.rssiValue1 = 200;
  u.rssiValue2 = seed;
  u.linkQuality = 95;
  u.nFailsafes = 3;
  u.freqError = -7;
  u.iCurrentBin = 12;
  u.nGoodPacketsThisBin = 480;
  u.nBadPacketsThisBin = -2;
  for (int i = 0; i < 8; ++i) u.channels[i] = static_cast<std::uint8_t>(250 - i);
  return u;
}

struct Position {
  int time = -1;
  float lon = -1, lat = -1, alt = -1, agl = -1, heading = -1, distance = -1, travelled = -1;
  int sats = -1;
};

Position Current(ScriptedDecoder& d) {
  Position p;
  EXPECT_EQ(d.GetPosition(&p.time, &p.lon, &p.lat, &p.alt, &p.agl, &p.heading, &p.distance,
                          &p.travelled, &p.sats),
            S_OK);
  return p;
}

// 1/600000-degree units northward for a given distance in metres.
std::int32_t NorthUnits(double metres) {
  return static_cast<std::int32_t>(metres / 6366833.142 * 34377467.706);
}

TEST(TelemetryKeys, OneCounterAcrossThreeHistories) {
  ScriptedDecoder d;
  Sender(d)
      .Position(Fix(28350000, 5100000))
      .UplinkFrame(Uplink(1))
      .Position(Fix(28350100, 5100000))
      .Battery({11840, 1500, 12500});
  int count = 0;
  d.GetRecordCount(&count);
  EXPECT_EQ(count, 4);

  int time = 111, sats = 222;
  float lon = 1, lat = 2, alt = 3, agl = 4, heading = 5, dist = 6;
  // Key 1 is the uplink: the position look-up leaves every output alone.
  EXPECT_EQ(d.GetPositionAt(1, &time, &lon, &lat, &alt, &agl, &heading, &dist, &sats), S_FALSE);
  EXPECT_EQ(time, 111);
  EXPECT_EQ(sats, 222);
  EXPECT_EQ(lon, 1);
  EXPECT_EQ(lat, 2);
  EXPECT_EQ(alt, 3);
  EXPECT_EQ(agl, 4);
  EXPECT_EQ(heading, 5);
  EXPECT_EQ(dist, 6);
  int u[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  EXPECT_EQ(d.GetUplinkStatusAt(1, &u[0], &u[1], &u[2], &u[3], &u[4], &u[5], &u[6], &u[7]), S_OK);
  EXPECT_EQ(u[0], 200);
  EXPECT_EQ(u[4], -7);
  EXPECT_EQ(u[7], -2);
  EXPECT_EQ(d.GetUplinkStatusAt(0, &u[0], &u[1], &u[2], &u[3], &u[4], &u[5], &u[6], &u[7]),
            S_FALSE);
  EXPECT_EQ(d.GetPositionAt(2, &time, &lon, &lat, &alt, &agl, &heading, &dist, &sats), S_OK);
  EXPECT_FLOAT_EQ(lat, 28350100 / 600000.0f);
  EXPECT_EQ(heading, 0.0f);
  int v = 0, c = 0, i = 0;
  EXPECT_EQ(d.GetBatteryStatusAt(3, &v, &c, &i), S_OK);
  EXPECT_EQ(v, 11840);
  EXPECT_EQ(d.GetBatteryStatusAt(2, &v, &c, &i), S_FALSE);
  EXPECT_EQ(d.GetBatteryStatusAt(4, &v, &c, &i), S_FALSE);
  EXPECT_EQ(d.GetBatteryStatusAt(-1, &v, &c, &i), S_FALSE);

  // Exactly one look-up succeeds for every key below the count.
  for (int k = 0; k < count; ++k) {
    int hits =
        (d.GetPositionAt(k, &time, &lon, &lat, &alt, &agl, &heading, &dist, &sats) == S_OK) +
        (d.GetUplinkStatusAt(k, &u[0], &u[1], &u[2], &u[3], &u[4], &u[5], &u[6], &u[7]) == S_OK) +
        (d.GetBatteryStatusAt(k, &v, &c, &i) == S_OK);
    EXPECT_EQ(hits, 1) << k;
  }
}

TEST(TelemetryLaunchSite, CapturedOnFirstFixWithSixSatellites) {
  ScriptedDecoder d;
  Sender(d).Position(Fix(28350000, 5100000, 40000, 5));
  float lon = -1, lat = -1, alt = -1;
  d.GetLaunchSite(&lon, &lat, &alt);
  EXPECT_EQ(lat, 0.0f);
  EXPECT_FALSE(d.Engine().LaunchSiteValid());

  Sender(d).Position(Fix(28350600, 5100000, 41000, 6));
  d.GetLaunchSite(&lon, &lat, &alt);
  EXPECT_EQ(lat, static_cast<float>(28350600 / 600000.0));
  EXPECT_EQ(alt, 410.0f);
  const Position p = Current(d);
  EXPECT_EQ(p.distance, 0.0f);
  EXPECT_EQ(p.agl, 0.0f);
  EXPECT_EQ(p.travelled, 0.0f);  // the capturing fix adds nothing

  // A later fix with more satellites does not move the site.
  Sender(d).Position(Fix(28360000, 5100000, 42000, 9));
  d.GetLaunchSite(&lon, &lat, &alt);
  EXPECT_EQ(alt, 410.0f);
  EXPECT_FLOAT_EQ(Current(d).agl, 10.0f);
}

TEST(TelemetryLaunchSite, OverrideBeforeCaptureIsReplacedAndAfterCaptureStays) {
  ScriptedDecoder d;
  EXPECT_EQ(d.SetLaunchSite(8.5f, 47.25f, 400.0f), S_OK);
  float lon = 0, lat = 0, alt = 0;
  d.GetLaunchSite(&lon, &lat, &alt);
  EXPECT_EQ(lon, 8.5f);
  EXPECT_EQ(lat, 47.25f);
  EXPECT_EQ(alt, 400.0f);
  EXPECT_EQ(+d.Engine().LaunchSite().longitude, 5100000);
  EXPECT_EQ(+d.Engine().LaunchSite().latitude, 28350000);
  EXPECT_EQ(+d.Engine().LaunchSite().altitude, 40000);

  Sender(d).Position(Fix(28000000, 5000000, 30000, 7));
  d.GetLaunchSite(&lon, &lat, &alt);
  EXPECT_EQ(alt, 300.0f);  // the capture still happened

  d.SetLaunchSite(8.5f, 47.25f, 400.0f);
  Sender(d).Position(Fix(28000000, 5000000, 30000, 9));
  d.GetLaunchSite(&lon, &lat, &alt);
  EXPECT_EQ(alt, 400.0f);
  EXPECT_FLOAT_EQ(Current(d).agl, -100.0f);

  // Truncation toward zero, and values no int32 can hold are refused.
  d.SetLaunchSite(-0.0000019f, -0.0000019f, -0.019f);
  EXPECT_EQ(+d.Engine().LaunchSite().latitude, -1);
  EXPECT_EQ(+d.Engine().LaunchSite().altitude, -1);
  EXPECT_EQ(d.SetLaunchSite(1e30f, 1.0f, 1.0f), E_INVALIDARG);
  EXPECT_EQ(d.SetLaunchSite(NAN, 1.0f, 1.0f), E_INVALIDARG);
  EXPECT_EQ(+d.Engine().LaunchSite().latitude, -1);
}

TEST(TelemetryDistance, FixToFixAddsOneMetreBeyondFiveHundred) {
  ScriptedDecoder d;
  const std::int32_t base = 28350000;
  Sender(d).Position(Fix(base, 5100000));
  const float start = Current(d).travelled;
  EXPECT_EQ(start, 0.0f);

  // Single precision resolves latitude to about 0.4 m here.
  const PositionRecord a = Fix(base, 5100000), b = Fix(base + NorthUnits(600.0), 5100000);
  const float d600 = CDecodeEngineWithComms::Distance(b, a);
  ASSERT_GT(d600, 599.5f);
  ASSERT_LT(d600, 600.5f);
  Sender(d).Position(b);
  EXPECT_FLOAT_EQ(Current(d).travelled, d600 + 1.0f);  // 600 m gives 601 m

  const PositionRecord c = Fix(b.latitude + NorthUnits(500.0), 5100000);
  const float d500 = CDecodeEngineWithComms::Distance(c, b);
  ASSERT_LE(d500, 500.0f);
  Sender(d).Position(c);
  EXPECT_FLOAT_EQ(Current(d).travelled, d600 + 1.0f + d500);
  EXPECT_EQ(Current(d).distance, std::trunc(CDecodeEngineWithComms::Distance(c, a)));
  EXPECT_EQ(CDecodeEngineWithComms::Distance(c, c), 0.0f);
}

TEST(TelemetryDistance, ZeroLatitudeAddsTwoMetres) {
  ScriptedDecoder d;
  Sender(d).Position(Fix(0, 5100000, 100, 3));
  EXPECT_EQ(Current(d).travelled, 2.0f);
  Sender(d).Position(Fix(0, 5100000, 100, 3));
  EXPECT_EQ(Current(d).travelled, 4.0f);
}

TEST(TelemetryCourse, WholeDegreesFromThePreviousFix) {
  struct Case {
    std::int32_t dLat, dLon;
    float course;
  };
  for (const Case& c : {Case{0, 1000, 90}, Case{0, -1000, -90}, Case{-1000, 0, 180},
                        Case{1000, 0, 0}, Case{0, 0, 0}, Case{1000, 1000, 34}}) {
    ScriptedDecoder d;
    Sender(d).Position(Fix(28350000, 5100000)).Position(Fix(28350000 + c.dLat, 5100000 + c.dLon));
    EXPECT_EQ(Current(d).heading, c.course) << c.dLat << "," << c.dLon;
  }
}

// A garbled frame that passes the CRC can put the plane off the globe; such
// a frame is bad and leaves no trace anywhere. The limits themselves are good.
TEST(TelemetryFrames, PositionsThatCannotBeTrueAreBadAndStoredNowhere) {
  const auto dir = std::filesystem::path(testing::TempDir()) / "impossible-fixes";
  std::filesystem::create_directories(dir);
  ScriptedDecoder d(dir / "nmea.txt");
  const PositionRecord edge = Fix(54000000, -108000000, 40000, 8, 86399999);
  Sender(d).Position(edge);
  for (const PositionRecord& impossible :
       {Fix(54000001, 0), Fix(-54000001, 0), Fix(0, 108000001), Fix(0, -108000001),
        Fix(0, 0, 0, 8, -1), Fix(0, 0, 0, 8, 86400000)})
    Sender(d).Position(impossible);
  int good = 0, bad = 0, count = 0;
  d.GetPacketCounts(&good, &bad);
  d.GetRecordCount(&count);
  EXPECT_EQ(good, 1);
  EXPECT_EQ(bad, 6);
  EXPECT_EQ(count, 1);
  const Position p = Current(d);
  EXPECT_EQ(p.time, 86399999);
  EXPECT_FLOAT_EQ(p.lat, 90.0f);
  EXPECT_EQ(p.travelled, 0.0f);
  EXPECT_EQ(d.Engine().Track().PointCount(), 1u);
  const std::string nmea = ReadAll(dir / "nmea.txt");
  EXPECT_EQ(std::count(nmea.begin(), nmea.end(), '\n'), 2) << nmea;
}

TEST(TelemetryReadout, ConversionsAndSignedFields) {
  ScriptedDecoder d;
  Sender(d)
      .Position(Fix(-28350000, -5100000, -1234, 11, 3600000))
      .Battery({11100, 900, -2500})
      .UplinkFrame(Uplink(77));
  const Position p = Current(d);
  EXPECT_EQ(p.time, 3600000);
  EXPECT_EQ(p.lat, -47.25f);
  EXPECT_EQ(p.lon, -8.5f);
  EXPECT_EQ(p.alt, static_cast<float>(-1234 / 100.0));
  EXPECT_EQ(p.sats, 11);
  int v = 0, c = 0, i = 0;
  d.GetBatteryStatus(&v, &c, &i);
  EXPECT_EQ(v, 11100);
  EXPECT_EQ(c, 900);
  EXPECT_EQ(i, -2500);
  int u[8];
  int channels[12];
  std::fill(std::begin(channels), std::end(channels), -1);
  d.GetUplinkStatus(&u[0], &u[1], &u[2], &u[3], &u[4], &u[5], &u[6], &u[7], channels);
  EXPECT_EQ(u[1], 77);
  EXPECT_EQ(u[4], -7);
  EXPECT_EQ(u[6], 480);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(channels[k], 250 - k);
  for (int k = 8; k < 12; ++k) EXPECT_EQ(channels[k], 0);
  int good = -1, bad = -1;
  d.GetPacketCounts(&good, &bad);
  EXPECT_EQ(good, 3);
  EXPECT_EQ(bad, 0);
}

TEST(TelemetryReadout, NoPositionYetReadsTheZeroRecord) {
  ScriptedDecoder d;
  const Position p = Current(d);
  EXPECT_EQ(p.time, 0);
  EXPECT_EQ(p.lat, 0.0f);
  EXPECT_EQ(p.distance, 0.0f);
  EXPECT_EQ(p.sats, 0);
}

TEST(TelemetrySetters, RatesAndChannelsOutsideTheirRangeAreRefused) {
  ScriptedDecoder d;
  EXPECT_EQ(d.SetBitRate(9554), S_OK);
  EXPECT_EQ(d.Engine().LeadInCycle(), 8);
  EXPECT_EQ(d.SetBitRate(0), E_INVALIDARG);
  EXPECT_EQ(d.SetBitRate(-4777), E_INVALIDARG);
  EXPECT_EQ(d.Engine().SlotRate(), 9554);
  EXPECT_EQ(d.AudioChannel(), 1);
  EXPECT_EQ(d.SetAudioChannel(0), S_OK);
  EXPECT_EQ(d.SetAudioChannel(2), E_INVALIDARG);
  EXPECT_EQ(d.AudioChannel(), 0);
}

TEST(TelemetryAudioPath, ChannelChoiceAttenuationAndIncompleteFrames) {
  SlotSignal s(44100, 4777);
  s.AddFrame(Frame(2, {0x40, 0x2E, 0xDC, 0x05, 0xD4, 0x30, 0x00, 0x00}));
  const auto& mono = s.Samples();
  for (int channel : {0, 1}) {
    ScriptedDecoder d;
    d.SetAudioChannel(channel);
    std::vector<std::int16_t> stereo;
    for (std::int16_t v : mono) {
      stereo.push_back(channel == 0 ? v : 19);
      stereo.push_back(channel == 1 ? v : 19);
    }
    std::vector<std::int16_t> out(stereo.size());
    d.ProcessBuffer(stereo.data(), out.data(), stereo.size(), 2);
    int good = 0, bad = 0;
    d.GetPacketCounts(&good, &bad);
    EXPECT_EQ(good, 1) << channel;
    for (std::size_t k = 0; k < out.size(); ++k)
      ASSERT_EQ(out[k], static_cast<std::int16_t>(std::trunc(stereo[k] * 0.05)));
  }
  // Six channels always decode the first, whatever the choice.
  ScriptedDecoder six;
  std::vector<std::int16_t> wide;
  for (std::int16_t v : mono) {
    wide.push_back(v);
    wide.insert(wide.end(), 5, 0);
  }
  std::vector<std::int16_t> out(wide.size());
  six.ProcessBuffer(wide.data(), out.data(), wide.size(), 6);
  int good = 0, bad = 0;
  six.GetPacketCounts(&good, &bad);
  EXPECT_EQ(good, 1);

  // Full-scale values and an incomplete trailing frame, in place.
  ScriptedDecoder d;
  std::vector<std::int16_t> edge{32767, -32768, 19, -19, 400};
  d.ProcessBuffer(edge.data(), edge.data(), edge.size(), 2);
  EXPECT_EQ(edge, (std::vector<std::int16_t>{1638, -1638, 0, 0, 20}));
}

// Comma-separated fields, the checksum left on the last.
std::vector<std::string> Fields(const std::string& sentence) {
  std::vector<std::string> fields;
  std::stringstream in(sentence);
  for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
  return fields;
}

TEST(TelemetryOutputs, NmeaSentencesForTheReferenceFix) {
  using namespace std::chrono;
  const PositionRecord r = Fix(28350000, 5100000, 40050);  // 12:34:56.789, 8 satellites
  EXPECT_EQ(nmea::RmcSentence(r, 2026y / December / 9d, std::nullopt),
            "$GPRMC,123456.78,A,4715.0000,N,00830.0000,E,,,091226,,*39\r\n");
  EXPECT_EQ(nmea::GgaSentence(r),
            "$GPGGA,123456.78,4715.0000,N,00830.0000,E,1,08,1.0,400.5,M,1.0,M,,*51\r\n");
  const PositionRecord south = Fix(-28350000, -5100000, -50, 12, 100);
  const std::string rmc = nmea::RmcSentence(south, 2000y / January / 1d, nmea::Motion{3.456, 7.25});
  EXPECT_EQ(rmc.substr(0, 60), "$GPRMC,000000.10,A,4715.0000,S,00830.0000,W,3.46,7.2,010100,");
  const std::string gga = nmea::GgaSentence(Fix(INT32_MIN, INT32_MAX, INT32_MIN, 255, -1));
  for (const std::string& s : {rmc, gga, nmea::GgaSentence(south)}) {
    ASSERT_GE(s.size(), 5u);
    unsigned sum = 0;
    const auto star = s.find('*');
    for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(s[i]);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", sum);
    EXPECT_EQ(s.substr(star + 1), std::string(hex) + "\r\n") << s;
  }
}

// The frames carry a time of day only: the date comes from the recording's
// time and moves on at midnight; speed and course from the last two fixes.
TEST(TelemetryOutputs, NmeaStreamDatesFixesAndMovesSpeedAndCourse) {
  using namespace std::chrono;
  nmea::StreamSentences stream;
  // Written ten minutes into 9 December: a fix just before midnight is the 8th's.
  stream.SetRecordingTime(sys_days(2026y / December / 9d) + minutes(10));
  const auto first = Fields(stream.For(Fix(28350000, 5100000, 40000, 7, 86399500)).rmc);
  EXPECT_EQ(first[1], "235959.50");
  EXPECT_EQ(first[7], "");  // no speed or course before a second fix
  EXPECT_EQ(first[8], "");
  EXPECT_EQ(first[9], "081226");

  // 100 m north in half a second, across midnight: 200 m/s.
  const auto second = Fields(stream.For(Fix(28350000 + NorthUnits(100), 5100000, 40000, 7, 0)).rmc);
  EXPECT_EQ(second[1], "000000.00");
  EXPECT_NEAR(std::stod(second[7]), 200 / 0.514444, 1.0);
  EXPECT_EQ(second[8], "0.0");
  EXPECT_EQ(second[9], "091226");
  // Then west: course 270, and the next day stays.
  const auto third =
      Fields(stream.For(Fix(28350000 + NorthUnits(100), 5099000, 40000, 7, 1000)).rmc);
  EXPECT_EQ(third[8], "270.0");
  EXPECT_EQ(third[9], "091226");
  // Sought back before midnight: the day before again, and no motion.
  const auto back = Fields(stream.For(Fix(28350000, 5100000, 40000, 7, 86000000)).rmc);
  EXPECT_EQ(back[7], "");
  EXPECT_EQ(back[9], "081226");
}

TEST(TelemetryOutputs, NmeaFileGetsEveryFixWithCrLf) {
  const auto dir = std::filesystem::path(testing::TempDir()) / "nmea-file";
  std::filesystem::create_directories(dir);
  const auto path = dir / "nmea.txt";
  {
    std::ofstream(path) << "old content that must go\n";
    ScriptedDecoder d(path);
    Sender(d).Position(Fix(28350000, 5100000, 40050)).Battery({1, 2, 3});
    Sender(d).Position(Fix(28350000, 5100000, 40050));
    nmea::StreamSentences expected;
    const auto first = expected.For(Fix(28350000, 5100000, 40050));
    const auto second = expected.For(Fix(28350000, 5100000, 40050));
    const std::string text = ReadAll(path);
    EXPECT_EQ(text, first.rmc + first.gga + second.rmc + second.gga);  // readable while running

    // A second writer of the same file (another viewer, a batch run) gets
    // the lock's refusal and leaves the file as it is.
    ScriptedDecoder other(path);
    HRESULT opened = S_OK;
    EXPECT_EQ(other.GetNmeaFile(nullptr, &opened), S_OK);
    EXPECT_EQ(opened, QUORVEX_E_NMEA_LOCKED);
    Sender(other).Position(Fix(1, 1));
    EXPECT_EQ(ReadAll(path), text);
  }
  {
    // A full device is reported with the system's reason, not ignored.
    ScriptedDecoder full(std::filesystem::path("/dev/full"));
    Sender(full).Position(Fix(28350000, 5100000, 40050));
    HRESULT written = S_OK;
    EXPECT_EQ(full.GetNmeaFile(nullptr, &written), S_OK);
    EXPECT_EQ(written, HresultFromErrno(ENOSPC));
  }
  // A symbolic link planted at the path is not followed.
  const auto victim = dir / "victim.txt";
  std::ofstream(victim) << "keep";
  const auto link = dir / "link.txt";
  std::filesystem::remove(link);
  std::filesystem::create_symlink(victim, link);
  {
    ScriptedDecoder d(link);
    EXPECT_FALSE(d.Engine().NmeaFileOpen());
    Sender(d).Position(Fix(1, 1));
    int good = 0, bad = 0;
    d.GetPacketCounts(&good, &bad);
    EXPECT_EQ(good, 1);  // decoding goes on without the log
  }
  std::ifstream in(victim);
  std::string kept;
  in >> kept;
  EXPECT_EQ(kept, "keep");
}

TEST(TelemetryOutputs, TrackDocumentAndClear) {
  const auto dir = std::filesystem::path(testing::TempDir()) / "track-kml";
  std::filesystem::create_directories(dir);
  ScriptedDecoder d;
  Sender(d).Position(Fix(28350000, 5100000, 40050)).Position(Fix(28350600, 5100600, 39000));
  const auto path = dir / "track.kml";
  ASSERT_EQ(d.WriteTrackKml(ComBstr(path.u16string()).Get()), S_OK);
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), d.Engine().Track().TrackDocument(u"Aviquent", false, false));
  EXPECT_NE(text.str().find("8.500000,47.250000,400.500000 8.501000,47.251000,390.000000 \n"),
            std::string::npos);
  EXPECT_EQ(d.Engine().Track().PointCount(), 2u);

  EXPECT_EQ(d.WriteTrackKml(ComBstr(u"/nonexistent-folder/x.kml").Get()),
            HresultFromErrno(ENOENT));
  EXPECT_EQ(d.WriteTrackKml(nullptr), E_FAIL);
  EXPECT_EQ(d.ClearTrack(), S_OK);
  EXPECT_EQ(d.Engine().Track().PointCount(), 0u);
}

}  // namespace

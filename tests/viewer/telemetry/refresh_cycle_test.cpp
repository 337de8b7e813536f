#include "viewer/telemetry/refresh_cycle.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "tests/common/scratch_folder.h"
#include "tests/fakes/scripted_decoder.h"
#include "tests/viewer/telemetry/fake_refresh_host.h"
#include "viewer/dialogs/show_modeless.h"

namespace {

// ---- The derived values -------------------------------------------------------

TEST(HeadingSmoothing, MovesAFifthOfTheWayAcrossTheSeam) {
  HeadingStep step = SmoothHeading(100.0f, 0.0f);
  EXPECT_FLOAT_EQ(step.heading, 100.0f);
  EXPECT_FLOAT_EQ(step.smoothed, 20.0f);

  step = SmoothHeading(10.0f, -10.0f);
  EXPECT_FLOAT_EQ(step.heading, 10.0f);
  EXPECT_FLOAT_EQ(step.smoothed, -6.0f);

  // Turning through south: unwrapped to the smoothed side of the seam.
  step = SmoothHeading(170.0f, -170.0f);
  EXPECT_FLOAT_EQ(step.heading, -190.0f);
  EXPECT_FLOAT_EQ(step.smoothed, -174.0f);
  step = SmoothHeading(-170.0f, 170.0f);
  EXPECT_FLOAT_EQ(step.heading, 190.0f);
  EXPECT_FLOAT_EQ(step.smoothed, 174.0f);

  // A smoothed value pushed past 180 comes back into range.
  step = SmoothHeading(-100.0f, 170.0f);
  EXPECT_FLOAT_EQ(step.heading, 260.0f);
  EXPECT_FLOAT_EQ(step.smoothed, -172.0f);
  step = SmoothHeading(100.0f, -170.0f);
  EXPECT_FLOAT_EQ(step.heading, -260.0f);
  EXPECT_FLOAT_EQ(step.smoothed, 172.0f);
}

TEST(RangeEstimate, SixDecibelsPerDoubling) {
  RangeEstimate range = EstimateRange(500.0f, -70, -75, -100);
  EXPECT_EQ(range.noMargin, 16);
  EXPECT_EQ(range.with10dB, 5);
  // The stronger signal counts, whichever receiver has it.
  range = EstimateRange(500.0f, -75, -70, -100);
  EXPECT_EQ(range.noMargin, 16);
  EXPECT_EQ(range.with10dB, 5);
  range = EstimateRange(1234.0f, -88, -95, -100);
  EXPECT_EQ(range.noMargin, 4);
  EXPECT_EQ(range.with10dB, 1);
  range = EstimateRange(1234.0f, -88, -88, -100);
  EXPECT_EQ(range.noMargin, 4);
  EXPECT_EQ(range.with10dB, 1);
  // Below the sensitivity the estimate shrinks toward zero.
  range = EstimateRange(10000.0f, -110, -120, -100);
  EXPECT_EQ(range.noMargin, 3);
  EXPECT_EQ(range.with10dB, 0);
}

TEST(RangeEstimate, ZeroDistanceAndAbsurdSensitivities) {
  for (int sensitivity : {-100, 0, -10000, INT_MIN}) {
    const RangeEstimate range = EstimateRange(0.0f, -40, -40, sensitivity);
    EXPECT_EQ(range.noMargin, 0) << sensitivity;
    EXPECT_EQ(range.with10dB, 0) << sensitivity;
  }
  // A margin of thousands of dB overflows the factor: saturated, not undefined.
  RangeEstimate range = EstimateRange(1000.0f, -40, -40, -10000);
  EXPECT_EQ(range.noMargin, INT_MAX);
  EXPECT_EQ(range.with10dB, INT_MAX);
  range = EstimateRange(1000.0f, -40, -40, INT_MAX);
  EXPECT_EQ(range.noMargin, 0);
}

TEST(BatteryEconomy, PerKilometreTruncatedAndWithoutOverflow) {
  Economy economy = EconomyPerKm(1500, 11100, 5000.0f);
  EXPECT_EQ(economy.mahPerKm, 300);
  EXPECT_EQ(economy.mwhPerKm, 3330);
  // A counter that went back gives negative figures.
  economy = EconomyPerKm(-50, 12000, 500.0f);
  EXPECT_EQ(economy.mahPerKm, -100);
  EXPECT_EQ(economy.mwhPerKm, -1200);
  // 65535 mAh at 50 V: the product no longer fits 32 bits.
  economy = EconomyPerKm(65535, 50000, 1000.0f);
  EXPECT_EQ(economy.mahPerKm, 65535);
  EXPECT_EQ(economy.mwhPerKm, 3276750);
  economy = EconomyPerKm(65535, 65535, 1.01f);
  EXPECT_EQ(economy.mwhPerKm, INT_MAX);
}

TEST(LostPackets, CountsAcrossTheWrap) {
  EXPECT_EQ(LostPackets(5, 250), 10);
  EXPECT_EQ(LostPackets(250, 0), 250);
  EXPECT_EQ(LostPackets(7, 7), 0);
  EXPECT_EQ(LostPackets(0, 1), 254);
}

// ---- The cycle over a scripted decoder ---------------------------------------

class RefreshCycleTest : public ::testing::Test {
 protected:
  RefreshCycleTest() {
    host.decoder = static_cast<IQuorvex*>(&decoder);
    TelemetrySnapshot& v = decoder.readOuts.emplace();
    v.goodPackets = 80;
    v.badPackets = 2;
    v.timeMs = 1000;
    v.longitude = 8.5f;
    v.latitude = 47.25f;
    v.altitude = 562.5f;
    v.altitudeAboveLaunch = 12.0f;
    v.heading = 0.0f;
    v.distance = 500.0f;
    v.distanceTravelled = 500.0f;
    v.numSats = 9;
    v.rssiValue1 = 70;
    v.rssiValue2 = 75;
    v.linkQuality = 100;
    v.nFailsafes = 3;
    v.freqError = -2;
    v.iCurrentBin = 12;
    v.nGoodPacketsThisBin = 480;
    v.nBadPacketsThisBin = 2;
    v.channels = {128, 0, 255, 1, 2, 3, 4, 5, 99, 99, 99, 99};
    v.voltage = 12000;
    v.capacityUsed = 50;
    v.current = 12500;
    v.launchLongitude = 8.25f;
    v.launchLatitude = 47.0f;
    v.launchAltitude = 550.0f;
  }

  // The next fix, `ms` later.
  bool NextFix(int ms = 500) {
    decoder.readOuts->timeMs += ms;
    return cycle.Tick();
  }

  std::string PositionFile() const { return ReadFile(host.File("planePos.kml")); }
  std::string TrackFile() const { return ReadFile(host.File("planeTrack.kml")); }

  ScratchFolder folder;
  ScriptedDecoder decoder;
  FakeRefreshHost host{folder.path()};
  RefreshCycle cycle{host};
};

TEST_F(RefreshCycleTest, WithoutADecoderOnlyTheSeekSliderMoves) {
  FakeSeeking seeking;
  seeking.duration = 1000;
  seeking.current = 250;
  host.seeking = &seeking;
  host.decoder = nullptr;
  EXPECT_FALSE(cycle.Tick());
  // A filter that is not the decoder is no better.
  host.decoder = &seeking;
  EXPECT_FALSE(cycle.Tick());

  EXPECT_EQ(host.seekPositions, (std::vector<int>{25, 25}));
  EXPECT_EQ(host.duration, 1000);
  EXPECT_TRUE(host.packetCounts.empty());
  EXPECT_TRUE(decoder.audioChannels.empty());
  EXPECT_EQ(cycle.state().lastSampleTime, -1);
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(RefreshCycleTest, SeekSliderFollowsThePlaybackPosition) {
  cycle.Tick();  // no seeking interface: 0, the duration untouched
  FakeSeeking seeking;
  host.seeking = &seeking;
  cycle.Tick();  // zero duration: 0
  seeking.duration = 3000;
  seeking.current = 2999;
  cycle.Tick();
  seeking.current = 3000;
  cycle.Tick();
  seeking.current = 4500;
  cycle.Tick();
  EXPECT_EQ(host.seekPositions, (std::vector<int>{0, 0, 99, 100, 100}));
  EXPECT_EQ(host.duration, 3000);
}

TEST_F(RefreshCycleTest, EveryTickSendsTheChannelAndShowsTheCounts) {
  cycle.Tick();
  host.swapAudio = true;
  decoder.readOuts->goodPackets = -1;  // shown as unsigned
  cycle.Tick();
  EXPECT_EQ(decoder.audioChannels, (std::vector<int>{1, 0}));
  ASSERT_EQ(host.packetCounts.size(), 2u);
  EXPECT_EQ(host.packetCounts[0], std::make_pair(80u, 2u));
  EXPECT_EQ(host.packetCounts[1], std::make_pair(4294967295u, 2u));
  // Every reference the tick took is given back.
  EXPECT_EQ(decoder.References(), 1u);
}

// A decoder that cannot count its position frames has no fix while its
// record is all zero; -1/-1 is a place like any other.
TEST_F(RefreshCycleTest, TheZeroRecordIsNoPosition) {
  decoder.readOuts->timeMs = 0;
  decoder.readOuts->longitude = 0.0f;
  decoder.readOuts->latitude = 0.0f;
  EXPECT_FALSE(cycle.Tick());
  EXPECT_EQ(host.packetCounts.size(), 1u);
  EXPECT_EQ(cycle.state().lastSampleTime, -1);
  EXPECT_EQ(host.positional.longitude, 0.0);
  EXPECT_EQ(host.uplink.rssi1, 0);
  EXPECT_EQ(host.track.PointCount(), 0u);
  EXPECT_TRUE(host.launches.empty());
  EXPECT_TRUE(folder.Names().empty());

  decoder.readOuts->longitude = -1.0f;
  decoder.readOuts->latitude = -1.0f;
  EXPECT_TRUE(cycle.Tick());
  EXPECT_EQ(host.positional.longitude, -1.0);
  decoder.readOuts->longitude = 8.5f;
  EXPECT_TRUE(NextFix());
  EXPECT_EQ(host.track.PointCount(), 2u);
}

TEST_F(RefreshCycleTest, ASampleIsProcessedOncePerTime) {
  EXPECT_TRUE(cycle.Tick());
  EXPECT_FALSE(cycle.Tick());
  EXPECT_FALSE(cycle.Tick());
  EXPECT_EQ(host.track.PointCount(), 1u);
  EXPECT_EQ(host.launches.size(), 1u);
  EXPECT_EQ(cycle.state().lastSampleTime, 1000);
  // Seeking back brings earlier times, which count again.
  decoder.readOuts->timeMs = 400;
  EXPECT_TRUE(cycle.Tick());
  decoder.readOuts->timeMs = 1000;
  EXPECT_TRUE(cycle.Tick());
  EXPECT_EQ(host.track.PointCount(), 3u);
}

TEST_F(RefreshCycleTest, HeadingIsUnwrappedForDisplayAndSmoothedForTheCamera) {
  host.earthLinked = true;
  decoder.readOuts->heading = 100.0f;
  cycle.Tick();
  EXPECT_FLOAT_EQ(cycle.state().smoothedHeading, 20.0f);
  EXPECT_EQ(host.positional.heading, 100.0);

  RefreshCycle::State state;
  state.smoothedHeading = -170.0f;
  RefreshCycle resumed(host, state);
  decoder.readOuts->heading = 170.0f;
  decoder.readOuts->timeMs = 2000;
  ASSERT_TRUE(resumed.Tick());
  EXPECT_FLOAT_EQ(resumed.state().smoothedHeading, -174.0f);
  EXPECT_EQ(host.positional.heading, -190.0);
  EXPECT_NE(PositionFile().find("<heading>-190.000000</heading>"), std::string::npos);
  ASSERT_EQ(host.cameras.size(), 2u);
  EXPECT_FLOAT_EQ(static_cast<float>(host.cameras[1].heading), -174.0f);

  ShowModeless(host.positional);
  EXPECT_EQ(host.positional.GetDlgItemText(CPositionalStatusDlg::IDC_HEADING), "-190");
}

TEST_F(RefreshCycleTest, WindowFiguresChangeOncePerThirtySeconds) {
  // The first fix closes a window at once, measured from nothing.
  ASSERT_TRUE(cycle.Tick());
  EXPECT_EQ(cycle.state().windowEndTime, 31000);
  EXPECT_EQ(host.battery.currentMahPerKm, 100);   // 50 mAh over 500 m
  EXPECT_EQ(host.battery.currentMwhPerKm, 1200);  // x 12 V
  EXPECT_EQ(host.battery.totalMahPerKm, 100);

  // Ten and thirty seconds on: still the same window.
  decoder.readOuts->distanceTravelled = 600.0f;
  decoder.readOuts->capacityUsed = 80;
  NextFix(10000);
  EXPECT_EQ(host.battery.currentMahPerKm, 100);
  EXPECT_EQ(host.battery.totalMahPerKm, 133);
  EXPECT_EQ(host.battery.totalMwhPerKm, 1600);
  NextFix(20000);  // 31000: not past the end
  EXPECT_EQ(host.battery.currentMahPerKm, 100);

  decoder.readOuts->distanceTravelled = 900.0f;
  decoder.readOuts->capacityUsed = 100;
  decoder.readOuts->voltage = 11000;
  NextFix(1);
  EXPECT_EQ(cycle.state().windowEndTime, 61001);
  EXPECT_EQ(host.battery.currentMahPerKm, 125);   // 50 mAh over 400 m
  EXPECT_EQ(host.battery.currentMwhPerKm, 1375);  // at the closing voltage

  // A recording whose clock lies earlier freezes the window figures.
  decoder.readOuts->timeMs = 5000;
  decoder.readOuts->distanceTravelled = 2000.0f;
  decoder.readOuts->capacityUsed = 400;
  ASSERT_TRUE(cycle.Tick());
  EXPECT_EQ(host.battery.currentMahPerKm, 125);
  EXPECT_EQ(cycle.state().windowEndTime, 61001);
}

TEST_F(RefreshCycleTest, EconomyNeedsDistance) {
  decoder.readOuts->distanceTravelled = 20.0f;
  decoder.readOuts->capacityUsed = 20;
  cycle.Tick();
  EXPECT_EQ(host.battery.totalMahPerKm, 0);
  EXPECT_EQ(host.battery.totalMwhPerKm, 0);
  EXPECT_EQ(host.battery.currentMahPerKm, 1000);  // the window needs only 1 m

  // A window with 1 m of travel keeps the previous figures.
  decoder.readOuts->distanceTravelled = 21.0f;
  decoder.readOuts->capacityUsed = 30;
  NextFix(31000);
  EXPECT_EQ(host.battery.currentMahPerKm, 1000);
  EXPECT_EQ(host.battery.totalMahPerKm, 1428);

  decoder.readOuts->distanceTravelled = 5000.0f;
  decoder.readOuts->capacityUsed = 1500;
  decoder.readOuts->voltage = 11100;
  NextFix();
  EXPECT_EQ(host.battery.totalMahPerKm, 300);
  EXPECT_EQ(host.battery.totalMwhPerKm, 3330);
  EXPECT_EQ(host.battery.voltage, 11100);
  EXPECT_EQ(host.battery.capacityUsed, 1500);
  EXPECT_EQ(host.battery.current, 12500);
}

TEST_F(RefreshCycleTest, UplinkDialogGetsDbmAndRangeWhileItHasNoWindow) {
  cycle.Tick();
  const CUplinkStatusDlg& uplink = host.uplink;
  EXPECT_EQ(uplink.rssi1, -70);
  EXPECT_EQ(uplink.rssi2, -75);
  EXPECT_EQ(uplink.nBadPacketsThisBin, 2);
  EXPECT_EQ(uplink.rangeNoMargin, 16);
  EXPECT_EQ(uplink.range10dB, 5);
  EXPECT_EQ(uplink.BadPacketsInBin(12), 2.0);
  EXPECT_FALSE(uplink.HasWindow());
}

TEST_F(RefreshCycleTest, OpenUplinkDialogShowsValuesBarsAndTakesTheTypedSensitivity) {
  cycle.Tick();
  ShowModeless(host.uplink);
  // Opened later, it shows the latest sample at once.
  EXPECT_EQ(host.uplink.GetDlgItemText(CUplinkStatusDlg::IDC_RANGE_NO_MARGIN), "16");
  EXPECT_EQ(host.uplink.channelBars[0]->value(), 0);  // bars wait for a sample

  host.uplink.SetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY, "-110");
  NextFix();
  // Estimated with the sensitivity of the last refresh, which this tick's
  // refresh then replaces.
  EXPECT_EQ(host.uplink.rangeNoMargin, 16);
  EXPECT_EQ(host.uplink.rxSensitivity, -110);
  EXPECT_EQ(host.uplink.GetDlgItemText(CUplinkStatusDlg::IDC_RSSI1), "-70");
  const int expectedBars[] = {128, 0, 255, 1, 2, 3, 4, 5};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(host.uplink.channelBars[static_cast<std::size_t>(k)]->value(), expectedBars[k]);
  }
  NextFix();
  EXPECT_EQ(host.uplink.rangeNoMargin, 50);  // 40 dB: 0.5 km x 101.6
  EXPECT_EQ(host.uplink.range10dB, 16);
  EXPECT_EQ(host.uplink.GetDlgItemText(CUplinkStatusDlg::IDC_RANGE_NO_MARGIN), "50");

  // A cleared box reads 0 dBm at the next refresh.
  host.uplink.SetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY, "");
  NextFix();
  NextFix();
  EXPECT_EQ(host.uplink.rxSensitivity, 0);
  EXPECT_EQ(host.uplink.rangeNoMargin, 0);
}

TEST_F(RefreshCycleTest, ClosedDialogsStillReceiveTheirValues) {
  cycle.Tick();
  EXPECT_EQ(host.positional.altitudeAboveLaunch, 12.0);
  EXPECT_EQ(host.positional.launchLatitude, 47.0);
  EXPECT_FALSE(host.positional.HasWindow());

  ShowModeless(host.battery);
  ShowModeless(host.positional);
  host.positional.hide();
  decoder.readOuts->voltage = 11840;
  decoder.readOuts->distance = 1299.0f;
  NextFix();
  EXPECT_EQ(host.battery.GetDlgItemText(CBatteryStatusDlg::IDC_VOLTAGE), "11.84");
  EXPECT_EQ(host.battery.GetDlgItemText(CBatteryStatusDlg::IDC_CURRENT), "12.5");
  // A hidden window is refreshed all the same.
  EXPECT_EQ(host.positional.GetDlgItemText(CPositionalStatusDlg::IDC_DISTANCE), "1.2km");
}

TEST_F(RefreshCycleTest, EarthIsLaunchedPerSampleAndDrivenOnlyWhenLinked) {
  cycle.Tick();
  cycle.Tick();
  EXPECT_EQ(host.launches, (std::vector<bool>{false}));
  EXPECT_TRUE(host.cameras.empty());
  host.earthLinked = true;
  decoder.readOuts->heading = 100.0f;
  NextFix();
  EXPECT_EQ(host.launches, (std::vector<bool>{false, false}));
  ASSERT_EQ(host.cameras.size(), 1u);
  EXPECT_EQ(host.cameras[0].latitude, 47.25);
  EXPECT_EQ(host.cameras[0].longitude, 8.5);
  EXPECT_EQ(host.cameras[0].altitude, 562.5);
  EXPECT_FLOAT_EQ(static_cast<float>(host.cameras[0].heading), 20.0f);
}

TEST_F(RefreshCycleTest, PlanePositionFile) {
  decoder.readOuts->heading = -45.0f;
  host.iconHref = u"http://127.0.0.1:8123/kml/Zagi64x64.png";
  cycle.Tick();
  const std::string file = PositionFile();
  EXPECT_NE(file.find("<name>PlanePos</name>"), std::string::npos);
  EXPECT_NE(file.find("<scale>2.500000</scale>"), std::string::npos);
  EXPECT_NE(file.find("<heading>-45.000000</heading>"), std::string::npos);
  EXPECT_NE(file.find("<href>http://127.0.0.1:8123/kml/Zagi64x64.png</href>"), std::string::npos);
  EXPECT_NE(file.find("<altitudeMode>relativeToGround</altitudeMode>"), std::string::npos);
  EXPECT_NE(file.find("<coordinates>8.500000,47.250000,0.000000</coordinates>"), std::string::npos);
  // One plane, not a trail.
  EXPECT_EQ(file.find("<Placemark>"), file.rfind("<Placemark>"));
  // The track file waits for Show Ground Track.
  EXPECT_FALSE(std::filesystem::exists(host.File("planeTrack.kml")));
}

TEST_F(RefreshCycleTest, TrackPointsFollowThePlotSelection) {
  host.plot = kPlotGroundTrack;
  cycle.Tick();
  host.plot = kPlotAltitude;
  NextFix();
  host.plot = kPlotRssi;
  NextFix();
  decoder.readOuts->rssiValue1 = -120;  // a negated 120: nothing to plot
  NextFix();
  decoder.readOuts->rssiValue1 = 70;
  host.plot = kPlotLostPackets;
  decoder.readOuts->linkQuality = 250;
  NextFix();
  decoder.readOuts->linkQuality = 5;
  NextFix();
  // lastLinkQuality waits while other entries are selected.
  host.plot = kPlotGroundTrack;
  decoder.readOuts->linkQuality = 200;
  NextFix();
  host.plot = kPlotLostPackets;
  decoder.readOuts->linkQuality = 7;
  NextFix();

  struct Expected {
    int altitudeCm;
    std::u16string description;
  };
  const Expected expected[] = {
      {0, u""},
      {56250, u""},
      {36000, u"RSSI1: -70, RSSI2: -75"},
      {0, u"RSSI1: 120, RSSI2: -75"},
      {250000, u"Bad: 250, Good: 3"},
      {10000, u"Bad: 5, Good: 3"},
      {0, u""},
      {2000, u"Bad: 7, Good: 3"},
  };
  ASSERT_EQ(host.track.PointCount(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const TrackPoint& point = host.track.PointAt(i);
    EXPECT_EQ(point.longitude, 5100000);
    EXPECT_EQ(point.latitude, 28350000);
    EXPECT_EQ(point.altitude, expected[i].altitudeCm);
    EXPECT_TRUE(point.description == expected[i].description);
  }
  EXPECT_EQ(cycle.state().lastLinkQuality, 7);
}

TEST_F(RefreshCycleTest, TrackFileIsRewrittenEvenWhenNothingIsPlotted) {
  host.showGroundTrack = true;
  host.plot = kPlotAltitude;
  cycle.Tick();
  std::string file = TrackFile();
  EXPECT_NE(file.find("<name>GroundTrack</name>"), std::string::npos);
  EXPECT_NE(file.find("<altitudeMode>absolute</altitudeMode>"), std::string::npos);
  EXPECT_NE(file.find("<extrude>1</extrude>"), std::string::npos);

  for (int plot : {int{kPlotLinkQuality}, int{kPlotSatCount}, -1}) {
    SCOPED_TRACE(plot);
    std::filesystem::remove(host.File("planeTrack.kml"));
    host.plot = plot;
    NextFix();
    file = TrackFile();
    EXPECT_NE(file.find("<altitudeMode>relativeToGround</altitudeMode>"), std::string::npos);
    EXPECT_EQ(host.track.PointCount(), 1u);
  }
}

TEST_F(RefreshCycleTest, TrackFileMatchesAWriterBuiltFromScratch) {
  // The cycle's writer keeps each point's text from when it was added; the
  // file must read as if every point were formatted now.
  host.showGroundTrack = true;
  const int plots[] = {kPlotRssi, kPlotLostPackets, kPlotGroundTrack, kPlotAltitude};
  for (int i = 0; i < 40; ++i) {
    host.plot = plots[i % 4];
    decoder.readOuts->longitude += 0.0001f * static_cast<float>(i);
    decoder.readOuts->altitude = 500.0f + static_cast<float>((i * 37) % 50);
    decoder.readOuts->linkQuality = (i * 91) % 256;
    decoder.readOuts->rssiValue1 = 60 + i;
    NextFix();
  }
  host.plot = kPlotGroundTrack;
  NextFix();

  KmlWriter fresh;
  for (std::size_t i = 0; i < host.track.PointCount(); ++i) fresh.AddPoint(host.track.PointAt(i));
  EXPECT_EQ(TrackFile(), fresh.TrackDocument(u"GroundTrack", true, true));
}

TEST_F(RefreshCycleTest, UnwritableFilesAreTriedAgainWithTheNextSample) {
  const std::filesystem::path sub = folder / "later";
  FakeRefreshHost elsewhere(sub);
  elsewhere.decoder = static_cast<IQuorvex*>(&decoder);
  elsewhere.showGroundTrack = true;
  RefreshCycle other(elsewhere);
  EXPECT_TRUE(other.Tick());
  EXPECT_EQ(elsewhere.track.PointCount(), 1u);
  std::filesystem::create_directory(sub);
  decoder.readOuts->timeMs += 500;
  EXPECT_TRUE(other.Tick());
  EXPECT_TRUE(std::filesystem::exists(elsewhere.File("planePos.kml")));
  // Both points: the track is whole even though its first write failed.
  EXPECT_NE(ReadFile(elsewhere.File("planeTrack.kml"))
                .find("8.500000,47.250000,0.000000 8.500000,47.250000,0.000000 \n"),
            std::string::npos);
}

// ---- The cycle over a real decoder ---------------------------------------------

TEST(RefreshCycleOverADecoder, ShowsDecodedFramesAndTheOverriddenLaunchSite) {
  ScratchFolder folder;
  ScriptedDecoder decoder;
  FakeRefreshHost host(folder.path());
  host.decoder = static_cast<IQuorvex*>(&decoder);
  host.positional.SetCurrentDecoder([&] { return ComPtr<IQuorvex>(&decoder); });
  RefreshCycle cycle(host);

  Sender send(decoder);
  // 12:34:56.789 at 47.25 N, 8.5 E, 400.5 m, nine satellites: the launch site.
  send.Position({45296789, 28350000, 5100000, 40050, 9});
  EXPECT_TRUE(cycle.Tick());
  send.UplinkFrame(
          {{0, 0}, 200, 190, 95, 1, -3, 12, 480, 2, {128, 128, 128, 128, 0, 255, 128, 128}})
      .Battery({11840, 1500, 12500})
      .Position({45297289, 28350600, 5100000, 41050, 9});
  EXPECT_TRUE(cycle.Tick());

  EXPECT_EQ(host.packetCounts.back(), std::make_pair(4u, 0u));
  EXPECT_FLOAT_EQ(static_cast<float>(host.positional.latitude), 28350600 / 600000.0f);
  EXPECT_EQ(host.positional.altitude, 410.5);
  EXPECT_EQ(host.positional.altitudeAboveLaunch, 10.0);
  EXPECT_EQ(host.positional.launchAltitude, 400.5);
  EXPECT_EQ(host.positional.numSats, 9);
  EXPECT_EQ(host.uplink.rssi1, -200);
  EXPECT_EQ(host.uplink.rssi2, -190);
  EXPECT_EQ(host.uplink.freqError, -3);
  EXPECT_EQ(host.uplink.BadPacketsInBin(12), 2.0);
  EXPECT_EQ(host.battery.voltage, 11840);
  EXPECT_EQ(host.battery.current, 12500);

  // "Override >" puts the launch site under the aircraft; the next fix
  // brings it back, with the distances measured from there.
  ShowModeless(host.positional);
  host.positional.Click(CPositionalStatusDlg::IDC_USE_CURRENT_POSITION);
  EXPECT_EQ(host.positional.launchAltitude, 400.5);
  send.Position({45297789, 28350600, 5100000, 41050, 9});
  EXPECT_TRUE(cycle.Tick());
  EXPECT_EQ(host.positional.launchAltitude, 410.5);
  EXPECT_EQ(host.positional.distance, 0.0);
  EXPECT_EQ(host.positional.altitudeAboveLaunch, 0.0);
  EXPECT_EQ(host.positional.GetDlgItemText(CPositionalStatusDlg::IDC_LAUNCH_ALTITUDE), "410m");
}

}  // namespace

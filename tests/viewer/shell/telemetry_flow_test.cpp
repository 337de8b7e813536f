// A recording through the whole viewer: the read-outs, the status dialogs,
// the KML files and Google Earth (a stand-in program on the PATH), as a
// pilot meets them after pressing Load.
#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/kml_writer.h"
#include "platform/com/single_interface_object.h"
#include "platform/earth/earth_stand_in.h"
#include "platform/graph/graph_objects.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "tests/platform/earth/fake_earth_program.h"
#include "tests/viewer/shell/event_pump.h"
#include "tests/viewer/shell/media_graph_fixtures.h"
#include "viewer/shell/resource.h"
#include "viewer/shell/vistaro_player_dlg.h"

namespace {

namespace fs = std::filesystem;

// Counts the camera moves on their way to the real stand-in.
class CountingEarth final : public CSingleInterfaceObject<IApplicationGE, IID_IApplicationGE> {
 public:
  explicit CountingEarth(ComPtr<IApplicationGE> inner, int& moves)
      : inner_(std::move(inner)), moves_(moves) {}
  HRESULT STDMETHODCALLTYPE IsInitialized(BOOL* ready) override {
    return inner_->IsInitialized(ready);
  }
  HRESULT STDMETHODCALLTYPE OpenKmlFile(BSTR file, BOOL quiet) override {
    return inner_->OpenKmlFile(file, quiet);
  }
  HRESULT STDMETHODCALLTYPE SetCameraParams(double latitude, double longitude, double altitude,
                                            AltitudeModeGE mode, double range, double tilt,
                                            double azimuth, double speed) override {
    ++moves_;
    return inner_->SetCameraParams(latitude, longitude, altitude, mode, range, tilt, azimuth,
                                   speed);
  }

 private:
  ComPtr<IApplicationGE> inner_;
  int& moves_;
};

struct Position {
  float longitude = 0, latitude = 0, altitude = 0, altitudeAboveLaunch = 0, heading = 0,
        distance = 0, travelled = 0;
  int timeMs = 0, sats = 0;
};

Position PositionOf(IQuorvex* decoder) {
  Position p;
  decoder->GetPosition(&p.timeMs, &p.longitude, &p.latitude, &p.altitude, &p.altitudeAboveLaunch,
                       &p.heading, &p.distance, &p.travelled, &p.sats);
  return p;
}

TEST(TelemetryFlow, ARecordingReachesTheDialogsTheKmlFilesAndGoogleEarth) {
  const fs::path folder = media::Folder() / "flow";
  FakeEarthProgram program(folder / "bin", FakeEarthProgram::Behaviour::kStayOpen);
  ::setenv("VISTARO_GOOGLE_EARTH", program.Program().c_str(), 1);
  int cameraMoves = 0;
  const fs::path earthFolder = folder / "earth";
  ui::testing::RecordingUiService boxes;
  CVistaroPlayerDlg::Options options{
      .settingsPath = QString::fromStdString((folder / "settings.ini").string()),
      .graphServices = nullptr,
      .earthFactory = [&](ComPtr<IApplicationGE>& app) {
        ComPtr<IApplicationGE> standIn;
        earth::StandInOptions standInOptions;
        standInOptions.folder = earthFolder;
        standInOptions.startupSettle = std::chrono::milliseconds(0);
        standInOptions.port = 0;
        const HRESULT hr = earth::CreateApplicationGEStandIn(standInOptions, standIn.Put());
        if (FAILED(hr)) return hr;
        app = ComPtr<IApplicationGE>::Attach(new CountingEarth(standIn, cameraMoves));
        return S_OK;
      }};
  CVistaroPlayerDlg dialog(boxes, options);
  dialog.Create();
  dialog.show();

  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  dialog.Click(IDC_SHOW_GROUND_TRACK);
  dialog.SelectItem(IDC_PLOT, 1);  // Altitude
  dialog.Click(IDC_PILOTS_EYE);
  dialog.OpenFile(QString::fromStdString(media::ShortWav().path.string()));
  SetGraphRenderingOptions({.realTime = false, .audioDevice = false});

  // Mid-flight, a typed launch site replaces the decoder's; the next fix
  // measures from it.
  ASSERT_TRUE(PumpUntil([&] { return dialog.Refresh().state().lastSampleTime > 0; }, 10));
  dialog.Click(IDC_SHOW_POSITIONAL);
  CPositionalStatusDlg& positional = dialog.PositionalStatus();
  positional.SetDlgItemText(CPositionalStatusDlg::IDC_OVERRIDE_LONGITUDE, QStringLiteral("7.25"));
  positional.SetDlgItemText(CPositionalStatusDlg::IDC_OVERRIDE_LATITUDE, QStringLiteral("46.5"));
  positional.SetDlgItemText(CPositionalStatusDlg::IDC_OVERRIDE_ALTITUDE, QStringLiteral("600"));
  positional.Click(CPositionalStatusDlg::IDC_USE_TYPED_POSITION);
  const int overriddenAt = dialog.Refresh().state().lastSampleTime;
  ASSERT_TRUE(PumpUntil([&] { return dialog.Refresh().state().lastSampleTime > overriddenAt; }, 5));
  QApplication::processEvents();
  EXPECT_NEAR(positional.launchLongitude, 7.25, 1e-4);
  EXPECT_NEAR(positional.launchLatitude, 46.5, 1e-4);
  EXPECT_NEAR(positional.launchAltitude, 600, 0.01);

  ASSERT_TRUE(PumpUntil([&] { return dialog.PlaybackComplete(); }, 15));
  dialog.RunRefreshCycle();
  EXPECT_TRUE(boxes.messages.empty()) << boxes.messages[0].caption.toStdString();

  // Every frame counted; the dialogs hold the last fix.
  const ComPtr<IQuorvex> decoder = dialog.Decoder();
  ASSERT_TRUE(decoder);
  EXPECT_EQ(dialog.GetDlgItemText(IDC_GOOD_PACKETS), QString::number(media::ShortWav().frames));
  const Position last = PositionOf(decoder.Get());
  EXPECT_EQ(dialog.Refresh().state().lastSampleTime, last.timeMs);
  EXPECT_DOUBLE_EQ(positional.latitude, double(last.latitude));
  EXPECT_DOUBLE_EQ(positional.longitude, double(last.longitude));
  EXPECT_EQ(positional.numSats, last.sats);
  dialog.Click(IDC_SHOW_UPLINK);
  dialog.Click(IDC_SHOW_BATTERY);
  int rssi1 = 0, rssi2 = 0, quality = 0, failsafes = 0, freqError = 0, bin = 0, good = 0, bad = 0;
  int channels[12] = {};
  decoder->GetUplinkStatus(&rssi1, &rssi2, &quality, &failsafes, &freqError, &bin, &good, &bad,
                           channels);
  EXPECT_EQ(dialog.UplinkStatus().rssi1, -rssi1);
  EXPECT_EQ(dialog.UplinkStatus().linkQuality, quality);
  EXPECT_EQ(dialog.UplinkStatus().GetDlgItemText(CUplinkStatusDlg::IDC_RSSI1),
            QString::number(-rssi1));
  // The battery as it stood at the last fix (later battery frames wait
  // for the next fix), shown in volts.
  EXPECT_GT(dialog.BatteryStatus().voltage, 0);
  EXPECT_EQ(dialog.BatteryStatus().GetDlgItemText(CBatteryStatusDlg::IDC_CONSUMPTION),
            QString::number(dialog.BatteryStatus().capacityUsed));

  // The plane-position file holds the last fix with the chosen icon.
  KmlWriter expected;
  expected.SetIconStyle(dialog.Earth().IconHref(), 2.5f, float(positional.heading));
  expected.AddPoint(last.longitude, last.latitude, 0.0f, u"");
  const fs::path expectedPath = folder / "expected.kml";
  ASSERT_EQ(expected.WritePositionFile(expectedPath.u16string(), u"PlanePos", false), S_OK);
  const fs::path planePos = fs::path(dialog.KmlPath(u"planePos.kml"));
  EXPECT_EQ(ReadWholeFile(planePos), ReadWholeFile(expectedPath));
  // The track: one point per processed fix, at its altitude, absolute.
  const std::string track = ReadWholeFile(fs::path(dialog.KmlPath(u"planeTrack.kml")));
  EXPECT_NE(track.find("<name>GroundTrack</name>"), std::string::npos);
  EXPECT_NE(track.find("<altitudeMode>absolute</altitudeMode>"), std::string::npos) << track;
  EXPECT_GE(dialog.TrackWriter().PointCount(), 8u);

  // Google Earth was started once with our session, was handed the two
  // network links, and followed every fix since.
  const auto starts = program.WaitForStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  const std::string files = ReadWholeFile(earthFolder / earth::kFileListDocument);
  EXPECT_NE(files.find("VistaroPlayerNetLink.kml"), std::string::npos) << files;
  EXPECT_NE(files.find("VistaroPlayerNetLink2.kml"), std::string::npos) << files;
  EXPECT_GE(cameraMoves, int(dialog.TrackWriter().PointCount()) - 1);
  const std::string camera = CameraIn(earthFolder).value_or("cannot be loaded");
  EXPECT_NE(camera.find("<range>133"), std::string::npos) << camera;
  EXPECT_NE(camera.find("<tilt>80"), std::string::npos) << camera;
  program.Stop();
  ::unsetenv("VISTARO_GOOGLE_EARTH");
}

}  // namespace

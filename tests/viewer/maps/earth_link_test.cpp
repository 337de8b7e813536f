#include "viewer/maps/earth_link.h"

#include <gtest/gtest.h>

#include <map>

#include "common/kml_writer.h"
#include "platform/earth/earth_stand_in.h"
#include "platform/earth/testing/recording_application_ge.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "tests/common/scratch_folder.h"
#include "tests/fakes/scripted_decoder.h"
#include "tests/platform/earth/fake_earth_program.h"

namespace {

using namespace std::chrono_literals;
using earth::testing::RecordingApplicationGE;

const std::u16string kIconBase = u"http://127.0.0.1:8123";

// The main dialog's side of the link, with the controls at their start-up values.
class FakeEarthHost final : public IEarthHost {
 public:
  explicit FakeEarthHost(std::filesystem::path folder) : folder_(std::move(folder)) {}

  int RangePosition() override { return range; }
  int TiltPosition() override { return tilt; }
  void EnableViewButton(ViewMode mode, bool enabled) override {
    buttonEnabled[mode] = enabled;
    redrawnSinceLastChange = false;
  }
  void RedrawViewButtons() override {
    ++redraws;
    redrawnSinceLastChange = true;
  }
  bool ShowGroundTrack() override { return showGroundTrack; }
  int PlaneIconSelection() override { return planeIcon; }
  std::u16string KmlPath(std::u16string_view fileName) override {
    return (folder_ / std::filesystem::path(fileName)).u16string();
  }
  KmlWriter& TrackWriter() override { return track; }
  ComPtr<IQuorvex> CurrentDecoder() override { return decoder; }
  ui::IUiService& Ui() override { return ui; }
  QWidget* MainWindow() override { return reinterpret_cast<QWidget*>(&window_); }

  std::filesystem::path File(std::string_view name) const { return folder_ / name; }

  int range = 133;
  int tilt = 80;
  std::map<ViewMode, bool> buttonEnabled{{ViewMode::Off, false},
                                         {ViewMode::PilotsEye, true},
                                         {ViewMode::MovingMapStatic, true},
                                         {ViewMode::MovingMapMoving, true}};
  int redraws = 0;
  bool redrawnSinceLastChange = true;
  bool showGroundTrack = false;
  int planeIcon = 0;
  KmlWriter track;
  ComPtr<IQuorvex> decoder;
  ui::testing::RecordingUiService ui;

 private:
  std::filesystem::path folder_;
  char window_ = 0;  // only its address is used, as the owner of boxes
};

// A clock that moves only when the link sleeps.
struct ManualClock {
  std::chrono::steady_clock::time_point now{};
  std::chrono::milliseconds slept{0};

  EarthClock Clock() {
    return {[this] { return now; },
            [this](std::chrono::milliseconds pause) {
              now += pause;
              slept += pause;
            }};
  }
};

// With the recording application object, for what the link calls when.
class EarthLinkCalls : public ::testing::Test {
 protected:
  EarthLink& Link() {
    if (!link_) {
      link_.emplace(
          host_, kIconBase,
          [this](ComPtr<IApplicationGE>& app) {
            ++creations_;
            if (FAILED(createResult_)) return createResult_;
            app = ComPtr<IApplicationGE>(&earth_);
            return S_OK;
          },
          clock_.Clock());
    }
    return *link_;
  }
  void Sample(double heading = 0.0) {
    Link().LaunchEarth(false);
    if (Link().LinkedAndPresent()) Link().DriveCamera(47.5, 8.25, 500.0, heading);
  }

  ScratchFolder scratch_;
  ScriptedDecoder decoder_;  // outlives the host's reference to it
  FakeEarthHost host_{scratch_.path()};
  RecordingApplicationGE earth_;
  ManualClock clock_;
  HRESULT createResult_ = S_OK;
  int creations_ = 0;
  std::optional<EarthLink> link_;
};

TEST_F(EarthLinkCalls, OffStartsNothingUnlessForced) {
  Sample();
  Sample();
  EXPECT_EQ(creations_, 0);
  EXPECT_TRUE(earth_.cameras.empty());

  Link().LaunchEarth(true);
  EXPECT_EQ(creations_, 1);
  EXPECT_TRUE(Link().LinkedAndPresent());
  // Once linked, later launches leave it alone.
  Link().LaunchEarth(true);
  Link().OnViewModeButton(ViewMode::PilotsEye);
  Sample();
  EXPECT_EQ(creations_, 1);
  EXPECT_EQ(earth_.openedFiles.size(), 2u);
}

TEST_F(EarthLinkCalls, LaunchWaitsForReadinessThenOpensBothLinksInOrder) {
  earth_.notReadyQueries = 2;
  Link().OnViewModeButton(ViewMode::PilotsEye);
  Sample(20.0);
  EXPECT_EQ(earth_.readinessQueries, 3);
  EXPECT_EQ(clock_.slept, 300ms);  // every query is followed by a pause, the last one too
  ASSERT_EQ(earth_.openedFiles, (std::vector<std::string>{
                                    host_.File("VistaroPlayerNetLink.kml").string(),
                                    host_.File("VistaroPlayerNetLink2.kml").string(),
                                }));
  EXPECT_EQ(earth_.suppressFlags, (std::vector<BOOL>{1, 1}));

  KmlWriter links;
  EXPECT_EQ(ReadFile(host_.File("VistaroPlayerNetLink.kml")),
            links.NetworkLinkDocument(host_.KmlPath(u"planePos.kml"), u"Aviquent", 0.2f));
  EXPECT_EQ(ReadFile(host_.File("VistaroPlayerNetLink2.kml")),
            links.NetworkLinkDocument(host_.KmlPath(u"planeTrack.kml"), u"Aviquent", 5.0f));
  ASSERT_EQ(earth_.cameras.size(), 1u);
  EXPECT_EQ(earth_.cameras[0].speed, 2.0);
  EXPECT_EQ(earth_.cameras[0].altitudeMode, AbsoluteAltitudeGE);
}

TEST_F(EarthLinkCalls, StaticCameraMovesOncePerClick) {
  Link().OnViewModeButton(ViewMode::MovingMapStatic);
  Sample();
  Sample();
  Sample();
  EXPECT_EQ(earth_.cameras.size(), 1u);
  EXPECT_EQ(earth_.cameras[0].tilt, 0.0);

  Link().OnViewModeButton(ViewMode::MovingMapStatic);
  Sample();
  Sample();
  EXPECT_EQ(earth_.cameras.size(), 2u);

  // Switching the link off before the next sample still places it once.
  Link().OnViewModeButton(ViewMode::MovingMapStatic);
  Link().OnViewModeButton(ViewMode::Off);
  Sample();
  Sample();
  EXPECT_EQ(earth_.cameras.size(), 3u);
}

TEST_F(EarthLinkCalls, ReadinessWaitGivesUpAfterThirtySecondsAsAFailedLaunch) {
  earth_.notReadyQueries = 1'000'000;
  Link().OnViewModeButton(ViewMode::MovingMapMoving);
  Sample();
  EXPECT_EQ(clock_.slept, 30s);
  EXPECT_FALSE(Link().Linked());
  EXPECT_FALSE(Link().App());
  EXPECT_EQ(earth_.refs, 0u);
  EXPECT_TRUE(earth_.openedFiles.empty());
  EXPECT_TRUE(earth_.cameras.empty());
  ASSERT_EQ(host_.ui.messages.size(), 1u);
  EXPECT_EQ(host_.ui.messages[0].caption, "Error 0x800705b4");

  // The next sample tries again without a word, and this time it comes up.
  earth_.notReadyQueries = earth_.readinessQueries + 1;
  Sample();
  EXPECT_EQ(creations_, 2);
  EXPECT_TRUE(Link().LinkedAndPresent());
  EXPECT_EQ(earth_.cameras.size(), 1u);
  EXPECT_EQ(host_.ui.messages.size(), 1u);
}

TEST_F(EarthLinkCalls, AServerThatIsGoneEndsTheWaitAtOnce) {
  earth_.notReadyQueries = 1'000'000;
  earth_.notReadyResult = HresultFromWin32(RPC_S_SERVER_UNAVAILABLE);
  Link().OnViewModeButton(ViewMode::PilotsEye);
  Sample();
  EXPECT_EQ(earth_.readinessQueries, 1);
  EXPECT_FALSE(Link().Linked());
  ASSERT_EQ(host_.ui.messages.size(), 1u);
  EXPECT_EQ(host_.ui.messages[0].caption, "Error 0x800706ba");

  // One that is busy starting is waited for.
  earth_.notReadyResult = RPC_E_SERVERCALL_RETRYLATER;
  earth_.notReadyQueries = earth_.readinessQueries + 5;
  Sample();
  EXPECT_TRUE(Link().Linked());
}

TEST_F(EarthLinkCalls, ViewModeButtonsDisableOnlyTheActiveMode) {
  bool staticClicked = false;
  for (ViewMode mode :
       {ViewMode::PilotsEye, ViewMode::MovingMapStatic, ViewMode::MovingMapMoving, ViewMode::Off}) {
    Link().OnViewModeButton(mode);
    EXPECT_EQ(Link().Mode(), mode);
    for (const auto& [button, enabled] : host_.buttonEnabled) {
      EXPECT_EQ(enabled, button != mode) << static_cast<int>(button);
    }
    EXPECT_TRUE(host_.redrawnSinceLastChange);
    // Pending from the static click until a camera update, whatever comes between.
    staticClicked = staticClicked || mode == ViewMode::MovingMapStatic;
    EXPECT_EQ(Link().StaticCameraPending(), staticClicked);
  }
  EXPECT_EQ(host_.redraws, 4);
  EXPECT_EQ(creations_, 0);  // a click alone starts nothing
}

TEST_F(EarthLinkCalls, PlaneIconListSetsTheLinkOfTheNextPositionFile) {
  EXPECT_EQ(Link().IconHref(), kIconBase + u"/kml/EasyStar64x64.png");
  host_.planeIcon = 4;
  Link().OnPlaneIconChanged();
  EXPECT_EQ(Link().IconHref(), u"http://maps.google.com/mapfiles/kml/shapes/airports.png");
  host_.planeIcon = 5;
  Link().OnPlaneIconChanged();
  EXPECT_EQ(Link().IconHref(), kIconBase + u"/kml/Zephyr.png");
  for (int none : {-1, 6}) {
    host_.planeIcon = none;
    Link().OnPlaneIconChanged();
    EXPECT_EQ(Link().IconHref(), kIconBase + u"/kml/Zephyr.png");
  }
  EXPECT_EQ(Link().PlaneIconLink(3), kIconBase + u"/kml/FunJet64x64.png");
}

TEST_F(EarthLinkCalls, ShowGroundTrackWritesTheKeptTrackOrAnEmptyOne) {
  host_.track.AddPoint(8.25f, 47.5f, 100.0f, u"RSSI1: -60, RSSI2: -62");
  host_.track.AddPoint(8.26f, 47.51f, 90.0f, u"");
  const auto track = host_.File("planeTrack.kml");

  host_.showGroundTrack = true;
  Link().OnShowGroundTrack();
  EXPECT_EQ(ReadFile(track), host_.track.TrackDocument(u"GroundTrack", true, false));

  host_.showGroundTrack = false;
  Link().OnShowGroundTrack();
  EXPECT_EQ(ReadFile(track), KmlWriter().TrackDocument(u"PlanePosition", true, false));
  EXPECT_EQ(host_.track.PointCount(), 2u);
}

TEST_F(EarthLinkCalls, ClearKmlFileEmptiesTheTrackAndWritesNothing) {
  host_.track.AddPoint(8.25f, 47.5f, 100.0f, u"");
  Link().OnClearKmlFile();
  EXPECT_EQ(host_.track.PointCount(), 0u);
  Link().OnClearKmlFile();
  EXPECT_EQ(host_.track.PointCount(), 0u);
  EXPECT_TRUE(scratch_.Names().empty());
}

TEST_F(EarthLinkCalls, ExportKmlFileAsksForAPathAndReportsAFailedWrite) {
  Link().OnExportKmlFile();
  EXPECT_TRUE(host_.ui.fileDialogs.empty());  // no decoder, no dialog

  host_.decoder = ComPtr<IQuorvex>(&decoder_);
  Link().OnExportKmlFile();  // cancelled
  ASSERT_EQ(host_.ui.fileDialogs.size(), 1u);
  const auto& dialog = host_.ui.fileDialogs[0];
  EXPECT_TRUE(dialog.save);
  EXPECT_EQ(dialog.owner, nullptr);
  EXPECT_EQ(dialog.fileName, "Aviquent");
  EXPECT_EQ(dialog.defaultExtension, ".kml");
  EXPECT_EQ(dialog.filter, "Google Earth kml files (*.kml)|*.kml|All Files (*.*)|*.*||");
  EXPECT_TRUE(scratch_.Names().empty());

  const auto chosen = scratch_ / "Zürich flight.kml";
  host_.ui.fileAnswers.push_back(QString::fromStdU16String(chosen.u16string()));
  Link().OnExportKmlFile();
  EXPECT_NE(ReadFile(chosen).find("<name>Aviquent</name>"), std::string::npos);
  EXPECT_TRUE(host_.ui.messages.empty());

  host_.ui.fileAnswers.push_back(
      QString::fromStdU16String((scratch_ / "no/folder.kml").u16string()));
  Link().OnExportKmlFile();
  ASSERT_EQ(host_.ui.messages.size(), 1u);
  const auto& box = host_.ui.messages[0];
  EXPECT_EQ(box.text, QString::fromStdU16String(u"VistaroViewer\n" +
                                                (scratch_ / "no/folder.kml").u16string() +
                                                u": No such file or directory"));
  EXPECT_EQ(box.caption, "Could not save .kml file (0x80070002)");
  EXPECT_EQ(box.icon, ui::MessageIcon::kError);
  EXPECT_EQ(box.owner, host_.MainWindow());
}

// Through the stand-in and a fake Google Earth program, reading the camera
// document that Google Earth would fly to.
class EarthLinkOnFakeProgram : public ::testing::Test {
 protected:
  EarthLinkOnFakeProgram() {
    UseOnlyEarthProgram(env_, program_.Program());
    link_.emplace(host_, kIconBase, [this](ComPtr<IApplicationGE>& app) {
      earth::StandInOptions options;
      options.folder = scratch_ / "earth";
      options.startupSettle = std::chrono::milliseconds(0);
      options.port = 0;
      return earth::CreateApplicationGEStandIn(options, app.Put());
    });
  }
  std::map<std::string, std::string> Camera() const {
    return LookAtOf(CameraIn(scratch_ / "earth").value_or(""));
  }
  void Sample(double latitude, double longitude, double altitude, double heading) {
    link_->LaunchEarth(false);
    if (link_->LinkedAndPresent()) link_->DriveCamera(latitude, longitude, altitude, heading);
  }

  ScratchFolder scratch_;
  ScopedEnvironment env_;
  FakeEarthProgram program_{scratch_ / "bin", FakeEarthProgram::Behaviour::kStayOpen};
  FakeEarthHost host_{scratch_.path()};
  std::optional<EarthLink> link_;
};

TEST_F(EarthLinkOnFakeProgram, PilotsEyeWithTheDefaultsFollowsTheSmoothedHeading) {
  link_->OnViewModeButton(ViewMode::PilotsEye);
  Sample(47.5, 8.25, 500.0, 20.0);
  EXPECT_EQ(Camera(), (std::map<std::string, std::string>{
                          {"latitude", "47.500000"},
                          {"longitude", "8.250000"},
                          {"altitude", "510.000000"},
                          {"altitudeMode", "absolute"},
                          {"range", "133.000000"},
                          {"tilt", "80.000000"},
                          {"heading", "20.000000"},
                      }));
  Sample(47.501, 8.251, 520.0, -174.0);
  auto view = Camera();
  EXPECT_EQ(view["latitude"], "47.501000");
  EXPECT_EQ(view["altitude"], "530.000000");
  EXPECT_EQ(view["heading"], "186.000000");

  // Started once, with both network links handed over, and both linked
  // files there from the start.
  ASSERT_EQ(program_.WaitForStarts(1).size(), 1u);
  const std::string files = ReadText(scratch_ / "earth" / earth::kFileListDocument);
  EXPECT_NE(files.find(host_.File("VistaroPlayerNetLink.kml").string()), std::string::npos);
  EXPECT_NE(files.find(host_.File("VistaroPlayerNetLink2.kml").string()), std::string::npos);
  EXPECT_NE(ReadText(host_.File("planeTrack.kml")).find("<name>PlanePosition</name>"),
            std::string::npos);
  EXPECT_TRUE(host_.ui.messages.empty());
}

TEST_F(EarthLinkOnFakeProgram, AClosedGoogleEarthIsStartedAgainOnTheNextRequest) {
  link_->OnViewModeButton(ViewMode::PilotsEye);
  Sample(47.5, 8.25, 500.0, 20.0);
  ASSERT_EQ(program_.WaitForStarts(1).size(), 1u);
  program_.Stop();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (link_->Linked() && std::chrono::steady_clock::now() < until) {
    Sample(47.5, 8.25, 500.0, 20.0);
  }
  ASSERT_FALSE(link_->Linked());
  std::filesystem::remove(scratch_ / "bin" / "stop");
  // Not on its own: the pilot closed it.
  Sample(47.5, 8.25, 500.0, 20.0);
  EXPECT_FALSE(link_->Linked());
  link_->OnViewModeButton(ViewMode::MovingMapMoving);
  Sample(47.5, 8.25, 500.0, 20.0);
  EXPECT_TRUE(link_->Linked());
  EXPECT_EQ(program_.WaitForStarts(2).size(), 2u);
  // The line-of-sight calculator's launch too.
  program_.Stop();
  while (link_->Linked() && std::chrono::steady_clock::now() < until) {
    Sample(47.5, 8.25, 500.0, 20.0);
  }
  std::filesystem::remove(scratch_ / "bin" / "stop");
  link_->LaunchEarth(true);
  EXPECT_EQ(program_.WaitForStarts(3).size(), 3u);
  EXPECT_TRUE(host_.ui.messages.empty());
}

TEST_F(EarthLinkOnFakeProgram, AnOpenGoogleEarthIsToldOnceWhichFileToOpen) {
  program_.RunAlready();
  link_->OnViewModeButton(ViewMode::PilotsEye);
  for (int i = 0; i < 3; ++i) Sample(47.5, 8.25, 500.0, 20.0);
  EXPECT_TRUE(link_->Linked());
  ASSERT_EQ(host_.ui.messages.size(), 1u);
  EXPECT_NE(host_.ui.messages[0].text.toStdString().find(
                (scratch_ / "earth" / earth::kSessionDocument).string()),
            std::string::npos);
  EXPECT_EQ(host_.ui.messages[0].icon, ui::MessageIcon::kInformation);
  EXPECT_EQ(Camera()["latitude"], "47.500000");
}

TEST_F(EarthLinkOnFakeProgram, MovingCameraLooksStraightDownFromTheRangeSlider) {
  link_->OnViewModeButton(ViewMode::MovingMapMoving);
  host_.tilt = 45;
  Sample(47.5, 8.25, 500.0, 20.0);
  EXPECT_EQ(Camera()["tilt"], "0.000000");
  EXPECT_EQ(Camera()["range"], "133.000000");
  host_.range = 200;
  host_.tilt = 90;
  Sample(47.6, 8.35, 500.0, 30.0);
  EXPECT_EQ(Camera()["tilt"], "0.000000");
  EXPECT_EQ(Camera()["range"], "200.000000");
  EXPECT_EQ(Camera()["latitude"], "47.600000");
}

TEST_F(EarthLinkOnFakeProgram, WithoutGoogleEarthTheLaunchIsReportedOnce) {
  ScopedEnvironment noEarth;
  UseNoEarthProgram(noEarth, scratch_ / "empty");
  link_->OnViewModeButton(ViewMode::PilotsEye);
  for (int i = 0; i < 3; ++i) Sample(47.5, 8.25, 500.0, 20.0);
  ASSERT_EQ(host_.ui.messages.size(), 1u);
  const auto& box = host_.ui.messages[0];
  EXPECT_EQ(box.text, "Failed to launch GoogleEarth\nusing GoogleEarth.ApplicationGE");
  EXPECT_EQ(box.caption, "Error 0x80070002");
  EXPECT_EQ(box.icon, ui::MessageIcon::kError);
  EXPECT_EQ(box.owner, host_.MainWindow());
  EXPECT_FALSE(link_->Linked());
  EXPECT_TRUE(link_->ErrorShown());
}

TEST(EarthLinkByProgId, AnUnregisteredProgIdIsTheLaunchFailure) {
  ScratchFolder scratch;
  ScopedEnvironment env;
  env.Set("VISTARO_COMPONENT_REGISTRY", (scratch / "components.ini").string());
  FakeEarthHost host(scratch.path());
  EarthLink link(host, kIconBase);
  link.LaunchEarth(true);
  link.LaunchEarth(true);
  ASSERT_EQ(host.ui.messages.size(), 1u);
  EXPECT_EQ(host.ui.messages[0].caption, "Error 0x800401f3");
}

}  // namespace

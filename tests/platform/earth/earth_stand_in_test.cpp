#include "platform/earth/earth_stand_in.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <thread>

#include "platform/com/co_create.h"
#include "platform/com/com_ptr.h"
#include "platform/com/component_registry.h"
#include "platform/earth/earth_program.h"
#include "platform/earth/earth_session.h"
#include "tests/common/scratch_folder.h"
#include "tests/platform/earth/fake_earth_program.h"

namespace {

using namespace std::chrono_literals;
using Behaviour = FakeEarthProgram::Behaviour;

const HRESULT kNotFound = HresultFromWin32(ERROR_FILE_NOT_FOUND);
const HRESULT kGone = HresultFromWin32(RPC_S_SERVER_UNAVAILABLE);

ComBstr Bstr(std::string_view text) { return ComBstr(text); }

// Polls `condition` for up to five seconds.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(EarthProgram, NamedProgramWinsAndIsNeverSecondGuessed) {
  ScratchFolder scratch;
  ScopedEnvironment env;
  FakeEarthProgram onPath(scratch / "bin", Behaviour::kEndAtOnce);
  FakeEarthProgram named(scratch / "elsewhere", Behaviour::kEndAtOnce, "earth");
  env.Set("PATH", (scratch / "bin").string());
  env.Unset("GOOGLE_EARTH");

  env.Set("VISTARO_GOOGLE_EARTH", named.Program().string());
  EXPECT_EQ(earth::FindEarthProgram(), named.Program());
  // A name without a folder is looked up on the PATH.
  env.Set("VISTARO_GOOGLE_EARTH", "google-earth-pro");
  EXPECT_EQ(earth::FindEarthProgram(), onPath.Program());
  // A variable naming nothing runnable does not fall back on the PATH.
  env.Set("VISTARO_GOOGLE_EARTH", (scratch / "missing").string());
  EXPECT_EQ(earth::FindEarthProgram(), std::nullopt);
  env.Unset("VISTARO_GOOGLE_EARTH");
  env.Set("GOOGLE_EARTH", named.Program().string());
  EXPECT_EQ(earth::FindEarthProgram(), named.Program());
}

TEST(EarthProgram, SearchesThePathForEitherNameSkippingFilesThatCannotRun) {
  ScratchFolder scratch;
  ScopedEnvironment env;
  env.Unset("VISTARO_GOOGLE_EARTH");
  env.Unset("GOOGLE_EARTH");
  std::filesystem::create_directories(scratch / "first");
  std::ofstream(scratch / "first" / "google-earth-pro") << "not a program\n";
  FakeEarthProgram older(scratch / "second", Behaviour::kEndAtOnce, "googleearth");
  env.Set("PATH", (scratch / "first").string() + ":" + (scratch / "second").string());
  EXPECT_EQ(earth::FindEarthProgram(), older.Program());

  env.Set("PATH", (scratch / "first").string());
  EXPECT_EQ(earth::FindEarthProgram(), std::nullopt);
}

// Ready as soon as started, unless a test says otherwise.
earth::StandInOptions Quick() {
  earth::StandInOptions options;
  options.startupSettle = 0ms;
  return options;
}

class EarthStandIn : public ::testing::Test {
 protected:
  HRESULT Create(Behaviour behaviour, earth::StandInOptions options = Quick()) {
    if (!program_) program_.emplace(scratch_ / "bin", behaviour);
    UseOnlyEarthProgram(env_, program_->Program());
    options.folder = folder_;
    options.port = 0;
    return earth::CreateApplicationGEStandIn(options, app_.Put());
  }
  std::string Camera() const { return CameraIn(folder_).value_or("cannot be loaded"); }

  ScratchFolder scratch_;
  ScopedEnvironment env_;
  std::optional<FakeEarthProgram> program_;
  const std::filesystem::path folder_ = scratch_ / "earth";
  ComPtr<IApplicationGE> app_;
};

TEST_F(EarthStandIn, WithoutAProgramCreationFailsAndWritesNothing) {
  UseNoEarthProgram(env_, scratch_ / "empty");
  EXPECT_EQ(earth::CreateApplicationGEStandIn({folder_}, app_.Put()), kNotFound);
  EXPECT_FALSE(app_);
  EXPECT_FALSE(std::filesystem::exists(folder_));
}

TEST_F(EarthStandIn, StartsTheProgramOnceWithASessionLinkingCameraAndFiles) {
  ASSERT_EQ(Create(Behaviour::kStayOpen), S_OK);
  BOOL ready = 0;
  EXPECT_EQ(app_->IsInitialized(&ready), S_OK);
  EXPECT_EQ(ready, 1);

  const auto starts = program_->WaitForStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  ASSERT_EQ(starts[0], std::vector<std::string>{(folder_ / earth::kSessionDocument).string()});
  const std::string session = ReadText(starts[0][0]);
  const std::string files = (folder_ / earth::kFileListDocument).string();
  EXPECT_NE(session.find("\t\t<flyToView>1</flyToView>\n\t\t<Link>\n\t\t\t<href>http://127.0.0.1:"),
            std::string::npos)
      << session;
  EXPECT_NE(session.find("/camera.kml</href>\n\t\t\t<refreshMode>onInterval</refreshMode>\n"
                         "\t\t\t<refreshInterval>0.500000</refreshInterval>"),
            std::string::npos)
      << session;
  EXPECT_NE(session.find("<href>" + files +
                         "</href>\n\t\t\t<refreshMode>onInterval</refreshMode>\n"
                         "\t\t\t<refreshInterval>10.000000</refreshInterval>"),
            std::string::npos)
      << session;
  // Only one link flies the camera: the file list must never move it.
  EXPECT_EQ(session.find("<flyToView>"), session.rfind("<flyToView>"));
  ASSERT_NE(CameraIn(folder_), std::nullopt);
  EXPECT_TRUE(LookAtOf(Camera()).empty());
  // Started by us: nothing for the pilot to open.
  ComPtr<IEarthSession> earthSession;
  ASSERT_EQ(app_->QueryInterface(IID_IEarthSession, earthSession.PutVoid()), S_OK);
  ComBstr path;
  EXPECT_EQ(earthSession->GetSessionToOpen(path.Put()), S_FALSE);
  EXPECT_FALSE(path);

  // Gone with its last user: Google Earth keeps its camera.
  ASSERT_EQ(app_->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133, 80, 0, 2), S_OK);
  earthSession.Reset();
  app_.Reset();
  EXPECT_EQ(CameraIn(folder_), std::nullopt);
}

TEST_F(EarthStandIn, OpenedFilesAreLinkedOnceEachInOrder) {
  ASSERT_EQ(Create(Behaviour::kStayOpen), S_OK);
  EXPECT_EQ(app_->OpenKmlFile(Bstr("/tmp/a/VistaroPlayerNetLink.kml").Get(), 1), S_OK);
  EXPECT_EQ(app_->OpenKmlFile(Bstr("/tmp/R&D <2>.kml").Get(), 1), S_OK);
  EXPECT_EQ(app_->OpenKmlFile(Bstr("/tmp/a/VistaroPlayerNetLink.kml").Get(), 1), S_OK);
  EXPECT_EQ(app_->OpenKmlFile(nullptr, 1), E_INVALIDARG);
  EXPECT_EQ(app_->OpenKmlFile(Bstr("").Get(), 1), E_INVALIDARG);

  const std::string files = ReadText(folder_ / earth::kFileListDocument);
  const auto first = files.find("<href>/tmp/a/VistaroPlayerNetLink.kml</href>");
  const auto second = files.find("<href>/tmp/R&amp;D &lt;2&gt;.kml</href>");
  ASSERT_NE(first, std::string::npos) << files;
  ASSERT_NE(second, std::string::npos) << files;
  EXPECT_LT(first, second);
  EXPECT_EQ(first, files.rfind("<href>/tmp/a/VistaroPlayerNetLink.kml</href>"));
}

TEST_F(EarthStandIn, CameraIsALookAtInGoogleEarthsRanges) {
  ASSERT_EQ(Create(Behaviour::kStayOpen), S_OK);
  EXPECT_EQ(app_->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133.0, 80.0, 190.0, 2.0),
            S_OK);
  EXPECT_EQ(LookAtOf(Camera()), (std::map<std::string, std::string>{
                                    {"longitude", "8.250000"},
                                    {"latitude", "47.500000"},
                                    {"altitude", "510.000000"},
                                    {"heading", "190.000000"},
                                    {"tilt", "80.000000"},
                                    {"range", "133.000000"},
                                    {"altitudeMode", "absolute"},
                                }));

  EXPECT_EQ(app_->SetCameraParams(-33.25, 181.0, 20.0, RelativeToGroundAltitudeGE, -5.0, 95.0,
                                  -540.0, 5.0),
            S_OK);
  auto view = LookAtOf(Camera());
  EXPECT_EQ(view["longitude"], "-179.000000");
  EXPECT_EQ(view["heading"], "180.000000");
  EXPECT_EQ(view["tilt"], "90.000000");
  EXPECT_EQ(view["range"], "0.000000");
  EXPECT_EQ(view["altitudeMode"], "relativeToGround");

  // Refused views leave the last good one in place.
  const std::string before = Camera();
  EXPECT_EQ(app_->SetCameraParams(91.0, 8.0, 0.0, AbsoluteAltitudeGE, 1.0, 0.0, 0.0, 2.0),
            E_INVALIDARG);
  EXPECT_EQ(app_->SetCameraParams(47.0, std::nan(""), 0.0, AbsoluteAltitudeGE, 1.0, 0.0, 0.0, 2.0),
            E_INVALIDARG);
  EXPECT_EQ(
      app_->SetCameraParams(47.0, 8.0, 0.0, static_cast<AltitudeModeGE>(0), 1.0, 0.0, 0.0, 2.0),
      E_INVALIDARG);
  EXPECT_EQ(Camera(), before);
}

TEST_F(EarthStandIn, ViewIsWithdrawnOnceSeenSoTheUserGetsTheCameraBack) {
  ASSERT_EQ(Create(Behaviour::kStayOpen, {{}, 50ms, 0ms, 0ms}), S_OK);
  ASSERT_EQ(app_->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133, 80, 0, 2), S_OK);
  EXPECT_FALSE(LookAtOf(Camera()).empty());
  EXPECT_TRUE(Eventually([&] { return LookAtOf(Camera()).empty(); }));
  // A new view is put up again.
  ASSERT_EQ(app_->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133, 0, 0, 2), S_OK);
  EXPECT_EQ(LookAtOf(Camera())["tilt"], "0.000000");
  EXPECT_TRUE(Eventually([&] { return LookAtOf(Camera()).empty(); }));
}

TEST_F(EarthStandIn, ViewStaysWhileTheProgramMayStillBeStarting) {
  ASSERT_EQ(Create(Behaviour::kStayOpen, {{}, 10ms, 10s, 0ms}), S_OK);
  ASSERT_EQ(app_->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133, 80, 0, 2), S_OK);
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(LookAtOf(Camera()).empty());
}

TEST_F(EarthStandIn, AProgramThatFailedFailsEveryCall) {
  ASSERT_EQ(Create(Behaviour::kFail), S_OK);
  BOOL ready = 1;
  EXPECT_TRUE(Eventually([&] { return app_->IsInitialized(&ready) == kGone; }));
  EXPECT_EQ(ready, 0);
  EXPECT_EQ(app_->OpenKmlFile(Bstr("/tmp/x.kml").Get(), 1), kGone);
  EXPECT_EQ(app_->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133, 80, 0, 2), kGone);
}

TEST_F(EarthStandIn, AProgramThatDiesAfterStartingIsAFailedLaunchAndOneThatEndsIsGone) {
  {
    ScratchFolder other;
    program_.emplace(other / "bin", Behaviour::kDieAfter, "google-earth-pro", 200ms);
    earth::StandInOptions slow = Quick();
    slow.startupSettle = 10s;
    ASSERT_EQ(Create(Behaviour::kDieAfter, slow), S_OK);
    BOOL ready = 1;
    EXPECT_EQ(app_->IsInitialized(&ready), S_OK);
    EXPECT_EQ(ready, 0);
    EXPECT_TRUE(Eventually([&] { return app_->IsInitialized(&ready) == kGone; }));
    EXPECT_EQ(ready, 0);
    app_.Reset();
    program_.reset();
  }
  // Once closed, a program that ran is gone too, so that the next use starts it anew.
  ASSERT_EQ(Create(Behaviour::kStayOpen), S_OK);
  BOOL ready = 0;
  EXPECT_EQ(app_->IsInitialized(&ready), S_OK);
  EXPECT_EQ(ready, 1);
  program_->Stop();
  EXPECT_TRUE(Eventually([&] { return app_->IsInitialized(&ready) == kGone; }));
  EXPECT_EQ(app_->SetCameraParams(47.5, 8.25, 510.0, AbsoluteAltitudeGE, 133, 80, 0, 2), kGone);
}

TEST_F(EarthStandIn, AGoogleEarthAlreadyRunningIsToldOfTheSessionAndKeepsItsFiles) {
  program_.emplace(scratch_ / "bin", Behaviour::kStayOpen);
  program_->RunAlready();
  // What an earlier viewer linked stays listed.
  std::filesystem::create_directories(folder_);
  const auto earlier = scratch_ / "R&D.kml";
  std::ofstream(earlier) << "<kml/>\n";
  std::ofstream(folder_ / earth::kFileListDocument)
      << "<Document><NetworkLink><Link><href>" << (scratch_ / "R&amp;D.kml").string()
      << "</href></Link></NetworkLink></Document>\n";

  earth::StandInOptions slow = Quick();
  slow.startupSettle = 10s;
  ASSERT_EQ(Create(Behaviour::kStayOpen, slow), S_OK);
  // Ready at once: nothing was started that could still fail.
  BOOL ready = 0;
  EXPECT_EQ(app_->IsInitialized(&ready), S_OK);
  EXPECT_EQ(ready, 1);
  ComPtr<IEarthSession> earthSession;
  ASSERT_EQ(app_->QueryInterface(IID_IEarthSession, earthSession.PutVoid()), S_OK);
  ComBstr path;
  ASSERT_EQ(earthSession->GetSessionToOpen(path.Put()), S_OK);
  EXPECT_EQ(path.Utf8(), (folder_ / earth::kSessionDocument).string());
  EXPECT_FALSE(LinkOf(ReadText(folder_ / earth::kSessionDocument), "Camera").empty());

  EXPECT_EQ(app_->OpenKmlFile(Bstr("/tmp/new.kml").Get(), 1), S_OK);
  const std::string files = ReadText(folder_ / earth::kFileListDocument);
  EXPECT_LT(files.find("R&amp;D.kml</href>"), files.find("/tmp/new.kml</href>")) << files;

  // Closed by the user: gone, so that the next use starts it.
  program_->Stop();
  EXPECT_TRUE(Eventually([&] { return app_->IsInitialized(&ready) == kGone; }));
  // Only the user's start.
  EXPECT_EQ(program_->Starts().size(), 1u);
}

// The camera goes with the viewer's process, however it ends.
TEST_F(EarthStandIn, AKilledViewerReleasesTheCamera) {
  program_.emplace(scratch_ / "bin", Behaviour::kStayOpen);
  UseOnlyEarthProgram(env_, program_->Program());
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::string holder = VIEW_HOLDER_PATH;
  std::string folder = folder_.string();
  char* argv[] = {holder.data(), folder.data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(::posix_spawn(&pid, holder.c_str(), &actions, nullptr, argv, environ), 0);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  char line[16] = {};
  const ssize_t got = ::read(out[0], line, sizeof line - 1);
  ::close(out[0]);
  ASSERT_GT(got, 0);
  ASSERT_EQ(std::string(line), "holding\n");
  ASSERT_FALSE(LookAtOf(Camera()).empty()) << Camera();

  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  const auto killed = std::chrono::steady_clock::now();
  EXPECT_TRUE(Eventually([&] { return LookAtOf(Camera()).empty(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 2s);
}

// The component server library, loaded and registered as the viewer finds it.
class EarthServer : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("VISTARO_COMPONENT_REGISTRY", (scratch_ / "components.ini").string());
    env_.Set("TMPDIR", scratch_.path().string());
    library_ = ::dlopen(EARTH_SERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    registerServer_ = reinterpret_cast<DllRegisterServerFn>(::dlsym(library_, "DllRegisterServer"));
    unregisterServer_ =
        reinterpret_cast<DllUnregisterServerFn>(::dlsym(library_, "DllUnregisterServer"));
    ASSERT_TRUE(registerServer_ && unregisterServer_);
  }
  void TearDown() override {
    if (library_) ::dlclose(library_);
  }

  ScratchFolder scratch_;
  ScopedEnvironment env_;
  void* library_ = nullptr;
  DllRegisterServerFn registerServer_ = nullptr;
  DllUnregisterServerFn unregisterServer_ = nullptr;
};

TEST_F(EarthServer, RegistersTheProgIdOnlyWhereGoogleEarthIsFound) {
  {
    ScopedEnvironment noEarth;
    UseNoEarthProgram(noEarth, scratch_ / "empty");
    EXPECT_EQ(registerServer_(), kNotFound);
  }
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(kApplicationGEProgId, &clsid), CO_E_CLASSSTRING);

  FakeEarthProgram program(scratch_ / "bin", Behaviour::kStayOpen);
  UseOnlyEarthProgram(env_, program.Program());
  ASSERT_EQ(registerServer_(), S_OK);
  ASSERT_EQ(CLSIDFromProgID(kApplicationGEProgId, &clsid), S_OK);
  EXPECT_EQ(clsid, earth::CLSID_ApplicationGEStandIn);

  ComPtr<IApplicationGE> app;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, 0x17, IID_IApplicationGE, app.PutVoid()), S_OK);
  BOOL ready = 0;
  EXPECT_EQ(app->IsInitialized(&ready), S_OK);
  EXPECT_EQ(program.WaitForStarts(1).size(), 1u);
  app.Reset();

  // Registering again where Google Earth has gone takes the ProgID away.
  {
    ScopedEnvironment noEarth;
    UseNoEarthProgram(noEarth, scratch_ / "empty");
    EXPECT_EQ(registerServer_(), kNotFound);
  }
  EXPECT_EQ(CLSIDFromProgID(kApplicationGEProgId, &clsid), CO_E_CLASSSTRING);
  EXPECT_FALSE(com_registry::FindServer(earth::CLSID_ApplicationGEStandIn));
}

}  // namespace

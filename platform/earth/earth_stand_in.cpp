#include "platform/earth/earth_stand_in.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/single_interface_object.h"
#include "platform/com/static_class_factory.h"
#include "platform/com/utf.h"
#include "platform/earth/earth_program.h"
#include "platform/earth/earth_session.h"
#include "platform/earth/loopback_http_server.h"
#include "platform/file/atomic_file.h"
#include "platform/file/user_folder.h"
#include "platform/file/xml_text.h"

extern char** environ;

namespace earth {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};

const HRESULT kProgramNotFound = HresultFromWin32(ERROR_FILE_NOT_FOUND);
const HRESULT kProgramGone = HresultFromWin32(RPC_S_SERVER_UNAVAILABLE);

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n";

// Locale-free: Qt programs run with the user's LC_NUMERIC, and KML wants a
// full stop.
std::string Number(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return std::string(buffer, result.ptr);
}

std::string Link(std::string_view name, std::string_view href, double refresh, bool flyToView) {
  std::string out = "\t<NetworkLink>\n\t\t<name>" + XmlEscaped(name) + "</name>\n";
  if (flyToView) out += "\t\t<flyToView>1</flyToView>\n";
  out += "\t\t<Link>\n\t\t\t<href>" + XmlEscaped(href) + "</href>\n";
  out += "\t\t\t<refreshMode>onInterval</refreshMode>\n";
  out += "\t\t\t<refreshInterval>" + Number(refresh) + "</refreshInterval>\n";
  out += "\t\t</Link>\n\t</NetworkLink>\n";
  return out;
}

struct View {
  double latitude, longitude, altitude;
  AltitudeModeGE altitudeMode;
  double range, tilt, heading;
};

std::string CameraDocument(const std::optional<View>& view) {
  std::string out(kHeader);
  if (view) {
    out += "<NetworkLinkControl>\n\t<LookAt>\n";
    out += "\t\t<longitude>" + Number(view->longitude) + "</longitude>\n";
    out += "\t\t<latitude>" + Number(view->latitude) + "</latitude>\n";
    out += "\t\t<altitude>" + Number(view->altitude) + "</altitude>\n";
    out += "\t\t<heading>" + Number(view->heading) + "</heading>\n";
    out += "\t\t<tilt>" + Number(view->tilt) + "</tilt>\n";
    out += "\t\t<range>" + Number(view->range) + "</range>\n";
    out += view->altitudeMode == AbsoluteAltitudeGE
               ? "\t\t<altitudeMode>absolute</altitudeMode>\n"
               : "\t\t<altitudeMode>relativeToGround</altitudeMode>\n";
    out += "\t</LookAt>\n</NetworkLinkControl>\n";
  }
  out += "<Document>\n\t<name>Camera</name>\n</Document>\n</kml>\n";
  return out;
}

// Into [-180, 180], the range of a LookAt's longitude.
double Wrapped180(double degrees) {
  double wrapped = std::fmod(degrees + 180.0, 360.0);
  if (wrapped < 0.0) wrapped += 360.0;
  return wrapped - 180.0;
}

// Into [0, 360), the range of a LookAt's heading.
double Wrapped360(double degrees) {
  double wrapped = std::fmod(degrees, 360.0);
  if (wrapped < 0.0) wrapped += 360.0;
  return wrapped >= 360.0 ? 0.0 : wrapped;
}

// The same port on every run of this user, so that a Google Earth left open
// finds the camera of the next viewer without opening the session again.
std::uint16_t PreferredPort() { return static_cast<std::uint16_t>(20000 + ::getuid() % 10000); }

std::string XmlUnescaped(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  while (!text.empty()) {
    bool replaced = false;
    for (const auto& [entity, character] : kEntities) {
      if (text.starts_with(entity)) {
        out += character;
        text.remove_prefix(entity.size());
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      out += text.front();
      text.remove_prefix(1);
    }
  }
  return out;
}

// The files of a file list we wrote before that still exist, in order.
std::vector<std::filesystem::path> ListedFiles(const std::filesystem::path& list) {
  std::ifstream in(list, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::filesystem::path> files;
  for (std::size_t at = 0; (at = text.find("<href>", at)) != std::string::npos;) {
    at += 6;
    const auto end = text.find("</href>", at);
    if (end == std::string::npos) break;
    std::filesystem::path file(XmlUnescaped(std::string_view(text).substr(at, end - at)));
    std::error_code error;
    if (std::filesystem::is_regular_file(file, error)) files.push_back(std::move(file));
  }
  return files;
}

std::optional<std::filesystem::path> DefaultFolder() {
  const auto privateFolder = PrivateTempFolder();
  if (!privateFolder) return std::nullopt;
  return *privateFolder / "earth";
}

// Releases the spawn descriptions on every path out of Spawn.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

class CApplicationGEStandIn final
    : public CSingleInterfaceObject<IApplicationGE, IID_IApplicationGE>,
      public IEarthSession {
 public:
  static HRESULT Create(const StandInOptions& options, IApplicationGE** app) {
    if (app == nullptr) return E_POINTER;
    *app = nullptr;
    const auto program = FindEarthProgram();
    if (!program) return kProgramNotFound;
    auto folder = options.folder.empty() ? DefaultFolder() : std::optional(options.folder);
    if (!folder) return E_FAIL;
    auto* object = new (std::nothrow) CApplicationGEStandIn(options, std::move(*folder), *program);
    if (object == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = object->Start(options.port);
    if (SUCCEEDED(hr)) {
      *app = object;
    } else {
      object->Release();
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object != nullptr && iid == IID_IEarthSession) {
      *object = static_cast<IEarthSession*>(this);
      AddRef();
      return S_OK;
    }
    return CSingleInterfaceObject::QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return CSingleInterfaceObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CSingleInterfaceObject::Release(); }

  HRESULT STDMETHODCALLTYPE IsInitialized(BOOL* isInitialized) override {
    if (isInitialized == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    const Program state = PollProgram();
    *isInitialized = state == Program::kRunning ? 1 : 0;
    return state == Program::kGone ? kProgramGone : S_OK;
  }

  HRESULT STDMETHODCALLTYPE OpenKmlFile(BSTR fileName, BOOL) override {
    if (fileName == nullptr || SysStringLen(fileName) == 0) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (PollProgram() == Program::kGone) return kProgramGone;
    const std::filesystem::path file(
        Utf16ToUtf8(std::u16string_view(fileName, SysStringLen(fileName))));
    if (std::find(files_.begin(), files_.end(), file) == files_.end()) files_.push_back(file);
    return WriteFileList() ? S_OK : E_FAIL;
  }

  HRESULT STDMETHODCALLTYPE SetCameraParams(double latitude, double longitude, double altitude,
                                            AltitudeModeGE altitudeMode, double range, double tilt,
                                            double azimuth, double) override {
    for (double value : {latitude, longitude, altitude, range, tilt, azimuth}) {
      if (!std::isfinite(value)) return E_INVALIDARG;
    }
    if (latitude < -90.0 || latitude > 90.0) return E_INVALIDARG;
    if (altitudeMode != AbsoluteAltitudeGE && altitudeMode != RelativeToGroundAltitudeGE) {
      return E_INVALIDARG;
    }
    const View view{latitude,           Wrapped180(longitude), altitude,
                    altitudeMode,       std::max(range, 0.0),  std::clamp(tilt, 0.0, 90.0),
                    Wrapped360(azimuth)};
    std::lock_guard lock(mutex_);
    if (PollProgram() == Program::kGone) return kProgramGone;
    camera_ = CameraDocument(view);
    retireAt_ = std::max(Clock::now() + viewHold_, startedAt_ + startupGrace_);
    wake_.notify_all();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetSessionToOpen(BSTR* path) override {
    if (path == nullptr) return E_POINTER;
    *path = nullptr;
    if (!attached_) return S_FALSE;
    *path = ComBstr(std::string_view((folder_ / kSessionDocument).string())).Detach();
    return *path != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  // Starting: spawned, not yet past the settling time. Gone: ended, or the
  // running one we found has left.
  enum class Program { kStarting, kRunning, kGone };
  // How often a Google Earth we did not start is looked for again.
  static constexpr auto kAttachedCheck = std::chrono::seconds(2);

  CApplicationGEStandIn(const StandInOptions& options, std::filesystem::path folder,
                        std::filesystem::path program)
      : folder_(std::move(folder)),
        program_(std::move(program)),
        viewHold_(options.viewHold),
        startupGrace_(options.startupGrace),
        startupSettle_(options.startupSettle),
        camera_(CameraDocument(std::nullopt)) {
    ++g_objects;
  }
  ~CApplicationGEStandIn() override {
    // First, so that the camera goes with us: Google Earth's next reload
    // fails and leaves the camera to the user.
    server_.reset();
    retirer_.request_stop();
    if (retirer_.joinable()) retirer_.join();
    // Collects the program if it has ended; one still running stays open.
    if (!attached_ && state_ != Program::kGone) ::waitpid(pid_, nullptr, WNOHANG);
    --g_objects;
  }

  HRESULT Start(int port) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, error);
    // A Google Earth still open from an earlier run reloads the list we
    // wrote then: it keeps what it holds until we add to it.
    files_ = ListedFiles(folder_ / kFileListDocument);
    if (files_.empty() && !WriteFileList()) return E_FAIL;

    auto handler = [this](std::string_view path) -> std::optional<LoopbackHttpServer::Resource> {
      if (path != kCameraPath) return std::nullopt;
      std::lock_guard lock(mutex_);
      return LoopbackHttpServer::Resource{"application/vnd.google-earth.kml+xml", camera_,
                                          "no-store"};
    };
    if (port < 0) server_ = LoopbackHttpServer::Start(handler, PreferredPort());
    std::string reason;
    if (!server_) server_ = LoopbackHttpServer::Start(handler, port < 0 ? 0 : port, &reason);
    if (!server_) {
      std::fprintf(stderr, "Google Earth: cannot serve the camera: %s\n", reason.c_str());
      return E_FAIL;
    }
    if (!ReplaceFileContents(folder_ / kSessionDocument, SessionDocument())) return E_FAIL;

    startedAt_ = Clock::now();
    if (EarthProgramRuns(program_)) {
      attached_ = true;
      state_ = Program::kRunning;
      lastCheck_ = startedAt_;
    } else if (!Spawn(program_, folder_ / kSessionDocument)) {
      return E_FAIL;
    }
    retirer_ = std::jthread([this](std::stop_token stop) { RetireViews(stop); });
    return S_OK;
  }

  bool Spawn(const std::filesystem::path& program, const std::filesystem::path& session) {
    SpawnSetup setup;
    ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Its own process group keeps Google Earth open when the viewer is
    // stopped from a terminal; signals we ignore or block must not carry over.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    ::posix_spawnattr_setpgroup(&setup.attributes, 0);
    ::posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string programText = program.string();
    std::string sessionText = session.string();
    std::vector<char*> argv{programText.data(), sessionText.data(), nullptr};
    return ::posix_spawn(&pid_, programText.c_str(), &setup.actions, &setup.attributes, argv.data(),
                         environ) == 0;
  }

  Program PollProgram() {
    if (state_ == Program::kGone) return state_;
    const auto now = Clock::now();
    if (attached_) {
      if (now - lastCheck_ >= kAttachedCheck) {
        lastCheck_ = now;
        if (!EarthProgramRuns(program_)) state_ = Program::kGone;
      }
      return state_;
    }
    // Ended, however: a program that ends soon after its start failed to
    // start, and one that ends later was closed; both are to be started anew.
    const pid_t done = ::waitpid(pid_, nullptr, WNOHANG);
    if (done == pid_ || done < 0) {
      state_ = Program::kGone;
    } else if (state_ == Program::kStarting && now - startedAt_ >= startupSettle_) {
      state_ = Program::kRunning;
    }
    return state_;
  }

  std::string SessionDocument() const {
    std::string out(kHeader);
    out += "<Document>\n\t<name>VistaroPlayer</name>\n\t<open>1</open>\n";
    out += Link("Files", (folder_ / kFileListDocument).string(), kFileListRefreshSeconds, false);
    out += Link("Camera", server_->BaseUrl() + kCameraPath, kCameraRefreshSeconds, true);
    out += "</Document>\n</kml>\n";
    return out;
  }

  bool WriteFileList() const {
    std::string out(kHeader);
    out += "<Document>\n\t<name>Files</name>\n";
    for (const auto& file : files_) {
      out += "\t<NetworkLink>\n\t\t<name>" + XmlEscaped(file.filename().string()) + "</name>\n";
      out += "\t\t<Link>\n\t\t\t<href>" + XmlEscaped(file.string()) + "</href>\n\t\t</Link>\n";
      out += "\t</NetworkLink>\n";
    }
    out += "</Document>\n</kml>\n";
    return ReplaceFileContents(folder_ / kFileListDocument, out);
  }

  void RetireViews(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
      if (!retireAt_) {
        wake_.wait(lock, stop, [&] { return retireAt_.has_value(); });
        continue;
      }
      const auto due = *retireAt_;
      // Wakes early when a newer view moves the time on.
      if (wake_.wait_until(lock, stop, due, [&] { return retireAt_ != due; })) continue;
      if (stop.stop_requested()) break;
      camera_ = CameraDocument(std::nullopt);
      retireAt_.reset();
    }
  }

  const std::filesystem::path folder_;
  const std::filesystem::path program_;
  const std::chrono::milliseconds viewHold_;
  const std::chrono::milliseconds startupGrace_;
  const std::chrono::milliseconds startupSettle_;
  pid_t pid_ = -1;
  bool attached_ = false;
  Program state_ = Program::kStarting;
  Clock::time_point startedAt_;
  Clock::time_point lastCheck_;
  std::vector<std::filesystem::path> files_;

  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::optional<Clock::time_point> retireAt_;
  std::string camera_;
  std::jthread retirer_;
  std::unique_ptr<LoopbackHttpServer> server_;
};

HRESULT CreateStandInFor(REFIID iid, void** object) {
  IApplicationGE* app = nullptr;
  if (const HRESULT hr = CApplicationGEStandIn::Create(StandInOptions{}, &app); FAILED(hr)) {
    return hr;
  }
  const HRESULT hr = app->QueryInterface(iid, object);
  app->Release();
  return hr;
}

CStaticClassFactory g_class(CreateStandInFor, g_locks);

}  // namespace

HRESULT CreateApplicationGEStandIn(const StandInOptions& options, IApplicationGE** app) {
  return CApplicationGEStandIn::Create(options, app);
}

HRESULT GetStandInClassObject(REFIID iid, void** object) {
  return g_class.QueryInterface(iid, object);
}

bool StandInInUse() { return g_objects > 0 || g_locks > 0; }

}  // namespace earth

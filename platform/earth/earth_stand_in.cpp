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
#include <mutex>
#include <new>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "common/user_folder.h"
#include "platform/com/single_interface_object.h"
#include "platform/com/utf.h"
#include "platform/earth/earth_program.h"
#include "platform/file/atomic_file.h"
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

std::string Link(std::string_view name, const std::filesystem::path& href, double refresh,
                 bool flyToView) {
  std::string out = "\t<NetworkLink>\n\t\t<name>" + XmlEscaped(name) + "</name>\n";
  if (flyToView) out += "\t\t<flyToView>1</flyToView>\n";
  out += "\t\t<Link>\n\t\t\t<href>" + XmlEscaped(href.string()) + "</href>\n";
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

// Into [-180, 180], the range of a LookAt's heading and longitude.
double Wrapped180(double degrees) {
  double wrapped = std::fmod(degrees + 180.0, 360.0);
  if (wrapped < 0.0) wrapped += 360.0;
  return wrapped - 180.0;
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
    : public CSingleInterfaceObject<IApplicationGE, IID_IApplicationGE> {
 public:
  static HRESULT Create(const StandInOptions& options, IApplicationGE** app) {
    if (app == nullptr) return E_POINTER;
    *app = nullptr;
    const auto program = FindEarthProgram();
    if (!program) return kProgramNotFound;
    auto folder = options.folder.empty() ? DefaultFolder() : std::optional(options.folder);
    if (!folder) return E_FAIL;
    auto* object = new (std::nothrow) CApplicationGEStandIn(options, std::move(*folder));
    if (object == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = object->Start(*program);
    if (SUCCEEDED(hr)) {
      *app = object;
    } else {
      object->Release();
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE IsInitialized(BOOL* isInitialized) override {
    if (isInitialized == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    const bool failed = PollProgram() == Program::kFailed;
    *isInitialized = failed ? 0 : 1;
    return failed ? kProgramGone : S_OK;
  }

  HRESULT STDMETHODCALLTYPE OpenKmlFile(BSTR fileName, BOOL) override {
    if (fileName == nullptr || SysStringLen(fileName) == 0) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (PollProgram() == Program::kFailed) return kProgramGone;
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
                    Wrapped180(azimuth)};
    std::lock_guard lock(mutex_);
    if (PollProgram() == Program::kFailed) return kProgramGone;
    if (!ReplaceFileContents(folder_ / kCameraDocument, CameraDocument(view))) return E_FAIL;
    retireAt_ = std::max(Clock::now() + viewHold_, startedAt_ + startupGrace_);
    wake_.notify_all();
    return S_OK;
  }

 private:
  enum class Program { kRunning, kEnded, kFailed };

  CApplicationGEStandIn(const StandInOptions& options, std::filesystem::path folder)
      : folder_(std::move(folder)),
        viewHold_(options.viewHold),
        startupGrace_(options.startupGrace) {
    ++g_objects;
  }
  ~CApplicationGEStandIn() override {
    retirer_.request_stop();
    if (retirer_.joinable()) retirer_.join();
    // Collects the program if it has ended; one still running stays open.
    if (program_ == Program::kRunning) ::waitpid(pid_, nullptr, WNOHANG);
    --g_objects;
  }

  HRESULT Start(const std::filesystem::path& program) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, error);
    if (!ReplaceFileContents(folder_ / kCameraDocument, CameraDocument(std::nullopt)) ||
        !WriteFileList() || !ReplaceFileContents(folder_ / kSessionDocument, SessionDocument())) {
      return E_FAIL;
    }
    if (!Spawn(program, folder_ / kSessionDocument)) return E_FAIL;
    startedAt_ = Clock::now();
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
    if (program_ != Program::kRunning) return program_;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      program_ = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Program::kEnded : Program::kFailed;
    } else if (done < 0) {
      // Collected by someone else: nothing says it failed.
      program_ = Program::kEnded;
    }
    return program_;
  }

  std::string SessionDocument() const {
    std::string out(kHeader);
    out += "<Document>\n\t<name>VistaroPlayer</name>\n\t<open>1</open>\n";
    out += Link("Files", folder_ / kFileListDocument, kFileListRefreshSeconds, false);
    out += Link("Camera", folder_ / kCameraDocument, kCameraRefreshSeconds, true);
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
      ReplaceFileContents(folder_ / kCameraDocument, CameraDocument(std::nullopt));
      retireAt_.reset();
    }
  }

  const std::filesystem::path folder_;
  const std::chrono::milliseconds viewHold_;
  const std::chrono::milliseconds startupGrace_;
  pid_t pid_ = -1;
  Program program_ = Program::kRunning;
  Clock::time_point startedAt_;
  std::vector<std::filesystem::path> files_;

  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::optional<Clock::time_point> retireAt_;
  std::jthread retirer_;
};

class StandInClass final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // Static: the class object lives as long as the library.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IApplicationGE* app = nullptr;
    if (const HRESULT hr = CApplicationGEStandIn::Create(StandInOptions{}, &app); FAILED(hr)) {
      return hr;
    }
    const HRESULT hr = app->QueryInterface(iid, object);
    app->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }
};

StandInClass g_class;

}  // namespace

HRESULT CreateApplicationGEStandIn(const StandInOptions& options, IApplicationGE** app) {
  return CApplicationGEStandIn::Create(options, app);
}

HRESULT GetStandInClassObject(REFIID iid, void** object) {
  return g_class.QueryInterface(iid, object);
}

bool StandInInUse() { return g_objects > 0 || g_locks > 0; }

}  // namespace earth

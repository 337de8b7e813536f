#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/earth/application_ge.h"
#include "viewer/maps/earth_host.h"

namespace ui {
enum class MessageIcon;
}

// Creates Google Earth's application object into `app`, or returns why not.
using EarthFactory = std::function<HRESULT(ComPtr<IApplicationGE>& app)>;

// The class registered for "GoogleEarth.ApplicationGE", created in any
// context the platform offers.
HRESULT CreateEarthByProgId(ComPtr<IApplicationGE>& app);

// The time source of the readiness wait, replaceable so that tests need not
// wait out the limit.
struct EarthClock {
  std::function<std::chrono::steady_clock::time_point()> now;
  std::function<void(std::chrono::milliseconds)> sleep;

  static EarthClock System();
};

inline constexpr char16_t kEarthLaunchFailedText[] =
    u"Failed to launch GoogleEarth\nusing GoogleEarth.ApplicationGE";

// The Google Earth link of the main dialog: the view mode, the launch of
// Google Earth with the two network links, the camera, and the map commands
// of the main dialog (view-mode buttons, plane icon, Show Ground Track,
// Clear KML File, Export KML File). Lives as long as the main dialog; the
// application object is released with it.
class EarthLink {
 public:
  // An unbounded wait would freeze the window for good when Google Earth
  // never comes up; past the limit the launch counts as failed.
  static constexpr std::chrono::seconds kReadyTimeLimit{30};
  static constexpr std::chrono::milliseconds kReadyPoll{100};

  // `makerIconBase` is the scheme and host (with port) of the server of the
  // maker's plane icons, for instance the icon server's BaseUrl().
  EarthLink(IEarthHost& host, std::u16string makerIconBase,
            EarthFactory factory = CreateEarthByProgId, EarthClock clock = EarthClock::System());
  EarthLink(const EarthLink&) = delete;
  EarthLink& operator=(const EarthLink&) = delete;

  // Makes sure Google Earth runs and shows the position and track links;
  // without `force` only while a view mode is chosen. Blocks while Google
  // Earth starts. A Google Earth that has been closed is started again by
  // the next forced launch, or by the next launch after a view-mode button.
  void LaunchEarth(bool force);
  // Moves the camera to the plane as the view mode wants it. Degrees,
  // degrees, metres above sea level, degrees from north.
  void DriveCamera(double latitude, double longitude, double altitude, double heading);

  // ---- Command handlers of the main dialog ----
  void OnViewModeButton(ViewMode mode);
  void OnPlaneIconChanged();
  void OnShowGroundTrack();
  void OnClearKmlFile();
  void OnExportKmlFile();

  // The link of entry `index` of the plane-icon list (0..5).
  std::u16string PlaneIconLink(int index) const;

  ViewMode Mode() const { return viewMode_; }
  bool Linked() const { return earthLinked_; }
  bool ErrorShown() const { return earthErrorShown_; }
  bool StaticCameraPending() const { return staticCameraPending_; }
  // Null until Google Earth has been launched.
  const ComPtr<IApplicationGE>& App() const { return earthApp_; }
  bool LinkedAndPresent() const { return earthLinked_ && earthApp_; }
  // The plane icon for the plane-position file.
  const std::u16string& IconHref() const { return iconHref_; }

 private:
  HRESULT WaitUntilReady();
  bool EarthStillRuns();
  // Once per run, when Google Earth was open already and must be told to
  // open our session.
  void TellOfSessionToOpen();
  void LaunchFailed(HRESULT hr);
  void OpenNetworkLink(std::u16string_view linkFile, std::u16string_view linkedFile,
                       float refreshSeconds);
  template <typename... Args>
  void ShowMessage(std::u16string_view text, ui::MessageIcon icon, const char* captionFormat,
                   Args... args);

  IEarthHost& host_;
  const std::u16string makerIconBase_;
  const EarthFactory factory_;
  const EarthClock clock_;

  ViewMode viewMode_ = ViewMode::Off;
  bool earthLinked_ = false;
  bool earthErrorShown_ = false;
  bool staticCameraPending_ = false;
  bool closedSinceRequest_ = false;
  bool sessionNoticeShown_ = false;
  ComPtr<IApplicationGE> earthApp_;
  std::u16string iconHref_;
};

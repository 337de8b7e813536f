#include "viewer/maps/earth_link.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/kml_writer.h"
#include "platform/com/co_create.h"
#include "platform/earth/earth_session.h"
#include "platform/ui/ui_service.h"
#include "viewer/maps/plane_icons.h"

namespace {

constexpr ViewMode kViewModes[] = {ViewMode::Off, ViewMode::PilotsEye, ViewMode::MovingMapStatic,
                                   ViewMode::MovingMapMoving};

constexpr double kCameraAboveThePlane = 10.0;  // metres
constexpr double kCameraSpeed = 2.0;

}  // namespace

HRESULT CreateEarthByProgId(ComPtr<IApplicationGE>& app) {
  app.Reset();
  CLSID clsid;
  if (const HRESULT hr = CLSIDFromProgID(kApplicationGEProgId, &clsid); FAILED(hr)) return hr;
  return CoCreateInstance(
      clsid, nullptr,
      CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
      IID_IApplicationGE, app.PutVoid());
}

EarthClock EarthClock::System() {
  return {[] { return std::chrono::steady_clock::now(); },
          [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }};
}

EarthLink::EarthLink(IEarthHost& host, std::u16string makerIconBase, EarthFactory factory,
                     EarthClock clock)
    : host_(host),
      makerIconBase_(std::move(makerIconBase)),
      factory_(std::move(factory)),
      clock_(std::move(clock)),
      iconHref_(PlaneIconLink(0)) {}

template <typename... Args>
void EarthLink::ShowMessage(std::u16string_view text, ui::MessageIcon icon,
                            const char* captionFormat, Args... args) {
  // Captions are cut at 1023 characters, as the box routine always did.
  std::array<char, 1024> caption{};
  std::snprintf(caption.data(), caption.size(), captionFormat, args...);
  host_.Ui().MessageBox(host_.MainWindow(),
                        QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())),
                        QString::fromLatin1(caption.data()), icon);
}

std::u16string EarthLink::PlaneIconLink(int index) const {
  const PlaneIcon& icon = kPlaneIcons.at(static_cast<std::size_t>(index));
  std::u16string link(icon.file.empty() ? kPublicIconServer : makerIconBase_);
  link += icon.path;
  return link;
}

void EarthLink::LaunchEarth(bool force) {
  if (viewMode_ == ViewMode::Off && !force) return;
  if (earthApp_ && !EarthStillRuns()) {
    // Closed by the pilot: started again on the next request, not behind
    // the pilot's back on the next sample.
    earthApp_.Reset();
    earthLinked_ = false;
    closedSinceRequest_ = true;
  }
  if (closedSinceRequest_ && !force) return;
  if (earthLinked_ || earthApp_) return;

  ComPtr<IApplicationGE> app;
  HRESULT hr = factory_(app);
  if (SUCCEEDED(hr) && !app) hr = E_UNEXPECTED;
  if (FAILED(hr)) {
    LaunchFailed(hr);
    return;
  }
  earthApp_ = std::move(app);
  earthLinked_ = true;
  closedSinceRequest_ = false;

  if (hr = WaitUntilReady(); FAILED(hr)) {
    // As if it had never been created, so that the next sample tries anew.
    earthApp_.Reset();
    earthLinked_ = false;
    LaunchFailed(hr);
    return;
  }

  // The links never point at a missing file, and a track of an earlier run
  // does not show.
  OnShowGroundTrack();
  if (const std::u16string planePos = host_.KmlPath(u"planePos.kml");
      !std::filesystem::exists(std::filesystem::path(planePos))) {
    KmlWriter plane;
    plane.SetIconStyle(iconHref_, 0.4f, 0.0f);
    plane.WritePositionFile(planePos, u"PlanePos", true);
  }
  OpenNetworkLink(u"VistaroPlayerNetLink.kml", u"planePos.kml", 0.2f);
  OpenNetworkLink(u"VistaroPlayerNetLink2.kml", u"planeTrack.kml", 5.0f);
  TellOfSessionToOpen();
}

bool EarthLink::EarthStillRuns() {
  BOOL ready = 0;
  const HRESULT hr = earthApp_->IsInitialized(&ready);
  return SUCCEEDED(hr) || hr == RPC_E_SERVERCALL_RETRYLATER;
}

void EarthLink::TellOfSessionToOpen() {
  if (sessionNoticeShown_) return;
  ComPtr<IEarthSession> session;
  if (FAILED(earthApp_->QueryInterface(IID_IEarthSession, session.PutVoid())) || !session) return;
  ComBstr path;
  if (session->GetSessionToOpen(path.Put()) != S_OK || !path) return;
  sessionNoticeShown_ = true;
  const std::u16string text =
      u"Google Earth is already open, so it was not started again. To see the plane and "
      u"follow it, open this file in it (File > Open):\n" +
      std::u16string(path.View());
  ShowMessage(text, ui::MessageIcon::kInformation, "%s", "Google Earth");
}

HRESULT EarthLink::WaitUntilReady() {
  const auto deadline = clock_.now() + kReadyTimeLimit;
  while (true) {
    BOOL ready = 0;
    const HRESULT hr = earthApp_->IsInitialized(&ready);
    // A server that is still starting asks to be called again; any other
    // failure means it is gone, and waiting on it would only freeze the window.
    if (FAILED(hr) && hr != RPC_E_SERVERCALL_RETRYLATER) return hr;
    clock_.sleep(kReadyPoll);
    if (SUCCEEDED(hr) && ready != 0) return S_OK;
    if (clock_.now() >= deadline) return HresultFromWin32(ERROR_TIMEOUT);
  }
}

void EarthLink::LaunchFailed(HRESULT hr) {
  if (earthErrorShown_) return;
  earthErrorShown_ = true;
  ShowMessage(kEarthLaunchFailedText, ui::MessageIcon::kError, "Error 0x%x",
              static_cast<unsigned>(hr));
}

void EarthLink::OpenNetworkLink(std::u16string_view linkFile, std::u16string_view linkedFile,
                                float refreshSeconds) {
  const std::u16string path = host_.KmlPath(linkFile);
  KmlWriter().WriteNetworkLink(path, host_.KmlPath(linkedFile), u"Aviquent", refreshSeconds);
  const ComBstr file{std::u16string_view(path)};
  earthApp_->OpenKmlFile(file.Get(), 1);
}

void EarthLink::DriveCamera(double latitude, double longitude, double altitude, double heading) {
  const int range = host_.RangePosition();
  const int tiltSetting = host_.TiltPosition();
  double tilt = 0.0;
  switch (viewMode_) {
    case ViewMode::PilotsEye:
      tilt = tiltSetting;
      break;
    case ViewMode::MovingMapMoving:
      tilt = 0.0;
      break;
    case ViewMode::Off:
    case ViewMode::MovingMapStatic:
      if (!staticCameraPending_) return;
      tilt = 0.0;
      break;
  }
  if (earthApp_) {
    earthApp_->SetCameraParams(latitude, longitude, altitude + kCameraAboveThePlane,
                               AbsoluteAltitudeGE, range, tilt, heading, kCameraSpeed);
  }
  staticCameraPending_ = false;
}

void EarthLink::OnViewModeButton(ViewMode mode) {
  viewMode_ = mode;
  if (mode != ViewMode::Off) closedSinceRequest_ = false;
  // The disabled button marks the active mode.
  for (ViewMode each : kViewModes) host_.EnableViewButton(each, true);
  host_.EnableViewButton(mode, false);
  if (mode == ViewMode::MovingMapStatic) staticCameraPending_ = true;
  host_.RedrawViewButtons();
}

void EarthLink::OnPlaneIconChanged() {
  const int selection = host_.PlaneIconSelection();
  if (selection < 0 || selection >= static_cast<int>(kPlaneIcons.size())) return;
  iconHref_ = PlaneIconLink(selection);
}

void EarthLink::OnShowGroundTrack() {
  const std::u16string path = host_.KmlPath(u"planeTrack.kml");
  if (host_.ShowGroundTrack()) {
    host_.TrackWriter().WriteTrackFile(path, u"GroundTrack", true, false);
  } else {
    // Google Earth's next reload of the track link then shows no track.
    KmlWriter().WriteTrackFile(path, u"PlanePosition", true, false);
  }
}

void EarthLink::OnClearKmlFile() { host_.TrackWriter().Clear(); }

void EarthLink::OnExportKmlFile() {
  const ComPtr<IQuorvex> decoder = host_.CurrentDecoder();
  if (!decoder) return;
  const auto chosen = host_.Ui().GetSaveFileName(
      nullptr, QStringLiteral("Aviquent"), QStringLiteral(".kml"),
      QStringLiteral("Google Earth kml files (*.kml)|*.kml|All Files (*.*)|*.*||"));
  if (!chosen || chosen->isEmpty()) return;
  const ComBstr path{chosen->toStdU16String()};
  if (const HRESULT hr = decoder->WriteTrackKml(path.Get()); FAILED(hr)) {
    // The file and the system's reason, after the box's usual text.
    std::u16string text = u"VistaroViewer\n" + chosen->toStdU16String();
    if (const int code = ErrnoFromHresult(hr)) {
      text += u": " + QString::fromLocal8Bit(std::strerror(code)).toStdU16String();
    }
    ShowMessage(text, ui::MessageIcon::kError, "Could not save .kml file (0x%x)",
                static_cast<unsigned>(hr));
  }
}

#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QRect>
#include <memory>
#include <string>

#include "common/iquorvex.h"
#include "common/kml_writer.h"
#include "platform/com/com_ptr.h"
#include "platform/ui/dialog.h"
#include "viewer/dialogs/battery_status_dlg.h"
#include "viewer/dialogs/los_calculator_dlg.h"
#include "viewer/dialogs/positional_status_dlg.h"
#include "viewer/dialogs/uplink_status_dlg.h"
#include "viewer/maps/earth_link.h"
#include "viewer/maps/icon_server.h"
#include "viewer/shell/media_graph.h"
#include "viewer/shell/network_nmea.h"
#include "viewer/shell/recent_recordings.h"
#include "viewer/shell/robust_decoding.h"
#include "viewer/shell/telemetry_rate_store.h"
#include "viewer/shell/video_area.h"
#include "viewer/shell/window_settings.h"
#include "viewer/telemetry/refresh_cycle.h"

// The viewer's one window: the transport controls, the read-outs, the map
// and status buttons, and the video area, over the media graph.
class CVistaroPlayerDlg : public ui::CDialog, private IRefreshHost, private IEarthHost {
 public:
  struct Options {
    // Where the telemetry rate and the view are kept; empty for the user's
    // settings.
    QString settingsPath;
    // Null for the platform's graph objects and registered components.
    IGraphServices* graphServices = nullptr;
    // How Google Earth is started; empty for the registered application.
    EarthFactory earthFactory;
  };

  CVistaroPlayerDlg(ui::IUiService& ui, Options options);
  ~CVistaroPlayerDlg() override;

  // The transport, as the buttons run it.
  void OnLoad();
  void OnPlay();
  void OnPause();
  void OnLiveCapture();
  // Opens `path` as Load does once the user has chosen it.
  void OpenFile(const QString& path);
  // Load without the file dialog, as a dropped file or a recent entry
  // does: the full width back, then OpenFile.
  void LoadRecording(const QString& path);
  // The window's close box and Ctrl+Q: asks first while a live capture
  // runs or a recording plays.
  void OnCancel() override;
  // Space, as the pilot presses it: Pause while playing, Play when paused.
  void TogglePlayPause();
  // Left and Right: moves the playback position by `seconds`.
  void SeekBy(double seconds);
  const RecentRecordings& Recent() const { return recent_; }
  // The view as it would be remembered now.
  RememberedView CurrentView() const;
  void ApplyTelemetryRate();
  // The context menu's "NMEA over Network...": asks where the sentences go
  // until the answer is usable or cancelled, then keeps it and gives it to
  // the decoder.
  void OnNetworkNmea();
  // System commands; 0x0010 shows the About box.
  void OnSysCommand(unsigned command);

  std::u16string KmlPath(std::u16string_view name) override;
  const std::u16string& KmlFolder() const { return kmlFolder_; }
  MediaGraph& Graph() { return *graph_; }
  VideoAreaWidget& VideoArea() { return *videoArea_; }
  QRect SavedClientRect() const { return savedClientRect_; }
  // The current decoder's control interface; null without a decoder.
  ComPtr<IQuorvex> Decoder() const;
  LONGLONG StreamDuration() const { return duration_; }
  // Set once the graph reports that the stream ran to its end.
  bool PlaybackComplete() const { return playbackComplete_; }

  // One refresh tick, as the timer runs it.
  void RunRefreshCycle();
  // A new recording or capture: the refresh starts without the last one's
  // fix time and window.
  void StartRecordingCycle();

  CUplinkStatusDlg& UplinkStatus() override { return uplink_; }
  CPositionalStatusDlg& PositionalStatus() override { return positional_; }
  CBatteryStatusDlg& BatteryStatus() override { return battery_; }
  CLOSCalculatorDlg& LosCalculator() { return losCalculator_; }
  EarthLink& Earth() { return *earth_; }
  KmlWriter& TrackWriter() override { return trackWriter_; }
  const RefreshCycle& Refresh() const { return *refresh_; }
  // The local server of the plane icons; null when it could not start.
  const IconServer* Icons() const { return iconServer_.get(); }

 protected:
  bool OnInitDialog() override;
  void OnCommand(int id) override;
  void OnSelChange(int id) override;
  void OnHScroll(int id, int code, int position) override;
  void OnTimer(int id) override;
  QWidget* CreateControl(const ui::ControlTemplate& control) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class GraphMessages;

  void OnSeek(int code, int position);
  void OnLosCalculator();

  // The refresh cycle's view of the dialog.
  IMediaSeeking* MediaSeeking() override { return graph_->MediaSeeking(); }
  LONGLONG& Duration() override { return duration_; }
  IUnknown* DecoderFilter() override { return graph_->DecoderFilter(); }
  void SetSeekSlider(int position) override;
  bool SwapAudioChecked() override;
  void ShowPacketCounts(std::uint32_t goodPackets, std::uint32_t badPackets) override;
  int PlotSelection() override;
  bool ShowGroundTrack() override;
  std::u16string IconHref() override { return earth_->IconHref(); }
  void LaunchEarth(bool force) override { earth_->LaunchEarth(force); }
  bool EarthLinkedAndPresent() override { return earth_->LinkedAndPresent(); }
  void DriveCamera(double latitude, double longitude, double altitude, double heading) override {
    earth_->DriveCamera(latitude, longitude, altitude, heading);
  }

  // The Google Earth link's view of the dialog.
  int RangePosition() override;
  int TiltPosition() override;
  void EnableViewButton(ViewMode mode, bool enabled) override;
  void RedrawViewButtons() override;
  int PlaneIconSelection() override;
  ComPtr<IQuorvex> CurrentDecoder() override { return Decoder(); }
  ui::IUiService& Ui() override { return CDialog::Ui(); }
  QWidget* MainWindow() override { return this; }
  void OnGraphNotify();
  void ShutDown();

  // The pilot's comforts: what is remembered between runs, the keyboard,
  // the time label and the status windows' places.
  void RestoreView();
  void SaveView();
  void AddShortcuts();
  void UpdateTimeLabel();
  void ShowStatusWindow(ui::CDialog& window, const QString& name);
  bool FlightInProgress() const;

  Options options_;
  QIcon mainIcon_;
  QRect savedClientRect_;
  std::u16string kmlFolder_;
  QString mediaPath_;  // the file playing, empty for live audio
  TelemetryRateStore rateStore_;
  RobustDecodingStore robustStore_;
  NetworkNmeaStore networkNmeaStore_;
  std::unique_ptr<GraphMessages> graphMessages_;
  VideoAreaWidget* videoArea_ = nullptr;  // owned by the dialog as a child
  std::unique_ptr<MediaGraph> graph_;
  LONGLONG duration_ = 0;  // of the playing stream, in 100-ns units
  bool playbackComplete_ = false;
  bool shutDown_ = false;
  bool liveCapture_ = false;  // the graph captures live
  bool playing_ = false;      // a recording runs (not paused, not ended)
  QElapsedTimer liveClock_;   // since the live capture started
  WindowSettings windowSettings_;
  RecentRecordings recent_;
  std::map<QString, QPoint> statusPlaces_;  // remembered, until a window is shown

  KmlWriter trackWriter_;
  CUplinkStatusDlg uplink_;
  CPositionalStatusDlg positional_;
  CBatteryStatusDlg battery_;
  CLOSCalculatorDlg losCalculator_;
  std::unique_ptr<IconServer> iconServer_;
  std::unique_ptr<EarthLink> earth_;
  std::unique_ptr<RefreshCycle> refresh_;
};

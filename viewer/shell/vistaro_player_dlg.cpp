#include "viewer/shell/vistaro_player_dlg.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <cstdio>
#include <map>

#include "platform/com/utf.h"
#include "platform/file/user_folder.h"
#include "viewer/dialogs/excel_probe.h"
#include "viewer/dialogs/history_export.h"
#include "viewer/shell/about_dlg.h"
#include "viewer/shell/dialog_templates.h"
#include "viewer/shell/resource.h"

// The artwork lives in a static library, whose resources are not
// registered on their own.
static void InitViewerResources() { Q_INIT_RESOURCE(resources); }

namespace {

// The containers GStreamer plays here come first, so that a folder of
// today's recordings does not look empty.
const QString kLoadFilter = QStringLiteral(
    "Flight recordings|*.mkv;*.mp4;*.mov;*.avi;*.ts;*.m2ts;*.mpg;*.mpeg;*.asf;*.wmv;*.wma;*.wav;"
    "*.flac;*.ogg;*.mka;*.m4a|"
    "Audio//Video Files (*.asf;*.wmv;*.mpg;*.mpeg;*.wma)|*.asf;*.wmv; *.mpg; *.mpeg; *.wma| Media "
    "Player Files (*.wmv)|*.wmv|MPEG-2 Files (*.mpg)|*.mpg|All Files (*.*)|*.*||");

constexpr int kRefreshTimer = 1;
constexpr int kRefreshPeriodMs = 100;

QString FormatCode(const char* format, HRESULT code) {
  char text[1024];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(code));
  return QString::fromLatin1(text);
}

// Empty when the private folder cannot be used: the map files are then
// written nowhere rather than somewhere others can read or plant links.
std::u16string DefaultKmlFolder() {
  const auto folder = PrivateTempFolder();
  if (!folder) return {};
  std::u16string path = folder->u16string();
  if (path.empty() || path.back() != u'/') path += u'/';
  return path;
}

// The plane icons: beside an installed program, else in the source tree
// it was built from; VISTARO_ICON_DIR overrides both.
std::filesystem::path PlaneIconFolder() {
  if (const char* folder = std::getenv("VISTARO_ICON_DIR"); folder && *folder) return folder;
  const std::filesystem::path installed =
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / ".." / "share" /
      "vistaroplayer" / "planes";
  std::error_code error;
  if (std::filesystem::is_directory(installed, error)) return installed;
  return std::filesystem::path(VISTARO_SOURCE_DIR) / "resources" / "planes";
}

}  // namespace

// The graph's boxes, shown through the dialog's service: owned by the main
// dialog when the graph names its video area as owner.
class CVistaroPlayerDlg::GraphMessages final : public IMessageService {
 public:
  explicit GraphMessages(CVistaroPlayerDlg& dialog) : dialog_(dialog) {}
  void ShowMessage(const IVideoArea* owner, std::u16string_view text, std::u16string_view caption,
                   MessageIcon) override {
    QWidget* window = owner ? static_cast<QWidget*>(&dialog_) : nullptr;
    dialog_.Ui().MessageBox(window, QString::fromStdU16String(std::u16string(text)),
                            QString::fromStdU16String(std::u16string(caption)),
                            ui::MessageIcon::kError);
  }

 private:
  CVistaroPlayerDlg& dialog_;
};

CVistaroPlayerDlg::CVistaroPlayerDlg(ui::IUiService& ui, Options options)
    : CDialog(MainDialogTemplate(), ui),
      options_(std::move(options)),
      kmlFolder_(DefaultKmlFolder()),
      rateStore_(options_.settingsPath),
      robustStore_(options_.settingsPath),
      networkNmeaStore_(options_.settingsPath),
      graphMessages_(std::make_unique<GraphMessages>(*this)),
      windowSettings_(options_.settingsPath),
      uplink_(ui, this),
      positional_(ui, this),
      battery_(ui, this),
      losCalculator_(ui, this) {
  InitViewerResources();
  mainIcon_.addFile(QString::fromLatin1(kAppIcon48), QSize(48, 48));
  mainIcon_.addFile(QString::fromLatin1(kAppIcon32), QSize(32, 32));
  videoArea_ = new VideoAreaWidget(QPixmap(QString::fromLatin1(kVideoAreaPicture)), this);
  videoArea_->SetNotifyHandler([this](long, LONG_PTR) { OnGraphNotify(); });
  graph_ = std::make_unique<MediaGraph>(
      videoArea_, *graphMessages_,
      options_.graphServices ? *options_.graphServices : PlatformGraphServices());

  std::string iconError;
  iconServer_ = IconServer::Start(PlaneIconFolder(), 0, &iconError);
  // Without the server the maker's icons stay blank in Google Earth; the
  // rest of the link works.
  const std::u16string iconBase =
      iconServer_ ? iconServer_->BaseUrl() : std::u16string(u"http://127.0.0.1");
  earth_ = options_.earthFactory
               ? std::make_unique<EarthLink>(static_cast<IEarthHost&>(*this), iconBase,
                                             options_.earthFactory)
               : std::make_unique<EarthLink>(static_cast<IEarthHost&>(*this), iconBase);
  graph_->SetDecoderSetup([this](IBaseFilter* decoder) {
    if (const QString problem = ApplyNetworkNmea(decoder, networkNmeaStore_.Read());
        !problem.isEmpty())
      ShowMessage(problem, QStringLiteral("VistaroViewer"), ui::MessageIcon::kError);
  });
  positional_.SetCurrentDecoder([this] { return Decoder(); });
  refresh_ = std::make_unique<RefreshCycle>(static_cast<IRefreshHost&>(*this));
}

CVistaroPlayerDlg::~CVistaroPlayerDlg() {
  ShutDown();
  // Before the video area goes with the other children.
  graph_.reset();
}

QWidget* CVistaroPlayerDlg::CreateControl(const ui::ControlTemplate& control) {
  if (control.id == IDC_VIDEO_AREA) return videoArea_;
  return CDialog::CreateControl(control);
}

bool CVistaroPlayerDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  setWindowIcon(mainIcon_);
  setContextMenuPolicy(Qt::DefaultContextMenu);

  ShowControl(IDC_PLAY, false);
  EnableControl(IDC_PAUSE, false);
  SetPos(IDC_RANGE, 133);
  SetPos(IDC_TILT, 80);
  SetPos(IDC_SEEK, 0);
  SetCurSel(IDC_PLANE_ICON, 0);
  SetCurSel(IDC_PLOT, 0);

  const auto stored = rateStore_.Read();
  SetCurSel(IDC_TELEMETRY_RATE, stored && *stored <= 2 ? int(*stored) : -1);
  ApplyTelemetryRate();
  RestoreView();
  AddShortcuts();
  setAcceptDrops(true);

  savedClientRect_ = rect();
  if (QWidget* load = GetDlgItem(IDC_LOAD)) load->setFocus();

  if (std::string why; kmlFolder_.empty() && !PrivateTempFolder(&why)) {
    ShowMessage(QStringLiteral("The private folder for the map and NMEA files cannot be used:\n") +
                    QString::fromStdString(why) +
                    QStringLiteral("\nNo KML or NMEA file is written; everything else works."),
                QStringLiteral("VistaroViewer"), ui::MessageIcon::kWarning);
  }
  return true;
}

void CVistaroPlayerDlg::contextMenuEvent(QContextMenuEvent* event) {
  // Stands in for the system menu where the desktop offers none.
  QMenu menu(this);
  QMenu* recent = menu.addMenu(QStringLiteral("&Recent recordings"));
  for (qsizetype i = 0; i < recent_.Paths().size(); ++i) {
    const QString& path = recent_.Paths()[i];
    recent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)))
        ->setData(path);
  }
  recent->setEnabled(!recent_.Paths().isEmpty());
  menu.addSeparator();
  QAction* gpx = menu.addAction(QStringLiteral("Export &GPX..."));
  gpx->setEnabled(static_cast<bool>(Decoder()));
  menu.addSeparator();
  QAction* about = menu.addAction(QStringLiteral("&About VistaroPlayer..."));
  QAction* robust = menu.addAction(QStringLiteral("Ro&bust decoding"));
  robust->setCheckable(true);
  robust->setChecked(robustStore_.Read());
  QAction* network = menu.addAction(QStringLiteral("NMEA over &Network..."));
  QAction* chosen = menu.exec(event->globalPos());
  if (chosen == about) {
    OnSysCommand(IDM_ABOUTBOX);
  } else if (chosen == network) {
    OnNetworkNmea();
  } else if (chosen == robust) {
    robustStore_.Write(robust->isChecked());
    ApplyRobustDecoding(graph_->DecoderFilter(), robust->isChecked());
  } else if (chosen && chosen->data().isValid()) {
    LoadRecording(chosen->data().toString());
  }
  if (chosen == gpx) {
    // Fixes carry no date: a file's is near its modification time, live
    // audio's is today.
    const QFileInfo media(mediaPath_);
    const std::int64_t recorded = !mediaPath_.isEmpty() && media.exists()
                                      ? media.lastModified().toSecsSinceEpoch()
                                      : QDateTime::currentSecsSinceEpoch();
    ExportGpx(Decoder(), recorded, Ui(), this);
  }
}

void CVistaroPlayerDlg::OnNetworkNmea() {
  const QString caption = QStringLiteral("NMEA over Network");
  const QString prompt = QStringLiteral(
      "The NMEA sentences of every fix, for gpsd, moving maps and antenna trackers, during "
      "playback and live capture. Port 10110 unless one is given; leave a field empty to send "
      "nothing that way.");
  const QStringList labels = {QStringLiteral("UDP to HOST[:PORT]:"),
                              QStringLiteral("TCP server on [ADDRESS:]PORT (this computer only "
                                             "unless an address is given):")};
  NetworkNmeaSetting setting = networkNmeaStore_.Read();
  for (;;) {
    const auto answer = Ui().AskForText(this, caption, prompt, labels,
                                        {setting.udpDestination, setting.tcpEndpoint});
    if (!answer || answer->size() != 2) return;
    setting = {(*answer)[0].trimmed(), (*answer)[1].trimmed()};
    QString problem = CheckNetworkNmea(setting);
    if (problem.isEmpty()) problem = ApplyNetworkNmea(graph_->DecoderFilter(), setting);
    if (problem.isEmpty()) break;
    // Asked again with the value as typed, so that it can be mended.
    Ui().MessageBox(this, problem, QStringLiteral("VistaroViewer"), ui::MessageIcon::kError);
  }
  networkNmeaStore_.Write(setting);
}

void CVistaroPlayerDlg::OnSysCommand(unsigned command) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(Ui(), this);
    about.setWindowIcon(mainIcon_);
    about.DoModal();
  }
}

void CVistaroPlayerDlg::OnCommand(int id) {
  using Handler = void (*)(CVistaroPlayerDlg&);
  static const std::map<int, Handler> handlers = {
      {IDC_LOAD, [](CVistaroPlayerDlg& d) { d.OnLoad(); }},
      {IDC_PLAY, [](CVistaroPlayerDlg& d) { d.OnPlay(); }},
      {IDC_PAUSE, [](CVistaroPlayerDlg& d) { d.OnPause(); }},
      {IDC_LIVE_CAPTURE, [](CVistaroPlayerDlg& d) { d.OnLiveCapture(); }},
      {IDC_SHOW_UPLINK,
       [](CVistaroPlayerDlg& d) { d.ShowStatusWindow(d.uplink_, QStringLiteral("Uplink")); }},
      {IDC_SHOW_POSITIONAL,
       [](CVistaroPlayerDlg& d) {
         d.ShowStatusWindow(d.positional_, QStringLiteral("Positional"));
       }},
      {IDC_SHOW_BATTERY,
       [](CVistaroPlayerDlg& d) { d.ShowStatusWindow(d.battery_, QStringLiteral("Battery")); }},
      {IDC_GOOGLE_LINK, [](CVistaroPlayerDlg& d) { d.earth_->OnViewModeButton(ViewMode::Off); }},
      {IDC_PILOTS_EYE,
       [](CVistaroPlayerDlg& d) { d.earth_->OnViewModeButton(ViewMode::PilotsEye); }},
      {IDC_MOVING_MAP_STATIC,
       [](CVistaroPlayerDlg& d) { d.earth_->OnViewModeButton(ViewMode::MovingMapStatic); }},
      {IDC_MOVING_MAP_MOVING,
       [](CVistaroPlayerDlg& d) { d.earth_->OnViewModeButton(ViewMode::MovingMapMoving); }},
      {IDC_SHOW_GROUND_TRACK, [](CVistaroPlayerDlg& d) { d.earth_->OnShowGroundTrack(); }},
      {IDC_CLEAR_KML, [](CVistaroPlayerDlg& d) { d.earth_->OnClearKmlFile(); }},
      {IDC_EXPORT_KML, [](CVistaroPlayerDlg& d) { d.earth_->OnExportKmlFile(); }},
      {IDC_LOS_CALCULATOR, [](CVistaroPlayerDlg& d) { d.OnLosCalculator(); }},
      {IDC_EXPORT_HISTORY, [](CVistaroPlayerDlg& d) { ExportHistory(d.Decoder(), d.Ui(), &d); }},
      {IDC_EXCEL_PROBE, [](CVistaroPlayerDlg&) { ExcelProbe(); }},
  };
  if (const auto found = handlers.find(id); found != handlers.end())
    found->second(*this);
  else
    CDialog::OnCommand(id);
}

void CVistaroPlayerDlg::OnLosCalculator() {
  // Google Earth is started, even with the link off; and started again on a
  // later use once it has been closed.
  const auto launch = [this] {
    earth_->LaunchEarth(true);
    return CLOSCalculatorDlg::EarthHandover{earth_->App(), KmlPath(u"planePos.kml"),
                                            earth_->PlaneIconLink(0)};
  };
  if (losCalculator_.HasWindow()) losCalculator_.TakeEarth(launch());
  losCalculator_.Open(launch);
}

void CVistaroPlayerDlg::OnSelChange(int id) {
  if (id == IDC_TELEMETRY_RATE) ApplyTelemetryRate();
  if (id == IDC_PLANE_ICON) earth_->OnPlaneIconChanged();
}

void CVistaroPlayerDlg::OnHScroll(int id, int code, int position) {
  if (id == IDC_SEEK) OnSeek(code, position);
}

void CVistaroPlayerDlg::OnTimer(int) { RunRefreshCycle(); }

void CVistaroPlayerDlg::OnLoad() {
  setFixedWidth(savedClientRect_.width());
  const auto path = Ui().GetOpenFileName(this, kLoadFilter);
  if (!path) return;
  OpenFile(*path);
}

void CVistaroPlayerDlg::OpenFile(const QString& path) {
  // Opening empties the graph, whatever it was capturing.
  liveCapture_ = false;
  playing_ = false;
  const HRESULT hr = graph_->OpenMediaFile(path.toStdU16String());
  if (FAILED(hr)) {
    if (!QFileInfo(path).isFile()) recent_.Remove(path);
    ShowMessage(QStringLiteral("VistaroViewer"), FormatCode("Could not play video (0x%x)", hr),
                ui::MessageIcon::kError);
    return;
  }
  playbackComplete_ = false;
  playing_ = true;
  recent_.Add(path);
  SaveView();
  mediaPath_ = path;
  StartRecordingCycle();
  SetTimer(kRefreshTimer, kRefreshPeriodMs);
  ShowControl(IDC_PLAY, false);
  EnableControl(IDC_PAUSE, true);
  ShowControl(IDC_PAUSE, true);
  EnableControl(IDC_LIVE_CAPTURE, true);
  ApplyTelemetryRate();
}

void CVistaroPlayerDlg::OnPlay() {
  ShowControl(IDC_PLAY, false);
  ShowControl(IDC_PAUSE, true);
  playing_ = !liveCapture_;
  // Play at the end plays the recording again; the decoder does not take
  // the flight in twice.
  if (playbackComplete_) {
    playbackComplete_ = false;
    if (IMediaSeeking* seeking = graph_->MediaSeeking()) {
      LONGLONG start = 0;
      seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                            AM_SEEKING_NoPositioning);
    }
  }
  if (IMediaControl* control = graph_->MediaControl()) control->Run();
}

void CVistaroPlayerDlg::OnPause() {
  ShowControl(IDC_PAUSE, false);
  ShowControl(IDC_PLAY, true);
  playing_ = false;
  if (IMediaControl* control = graph_->MediaControl()) control->Stop();
}

void CVistaroPlayerDlg::OnLiveCapture() {
  const bool started = SUCCEEDED(graph_->StartLiveCapture());
  // The graph was emptied either way: no recording plays any more.
  playing_ = false;
  StartRecordingCycle();
  ApplyTelemetryRate();
  // Without an input the graph has said why; the window stays as it was,
  // so the pilot can plug the cable in and press Live Capture again.
  if (!started) return;
  ShowControl(IDC_PLAY, false);
  ShowControl(IDC_PAUSE, true);
  EnableControl(IDC_LIVE_CAPTURE, false);

  // Everything right of the separator, the video area included, goes out
  // of the window.
  if (QWidget* separator = GetDlgItem(IDC_SEPARATOR)) {
    const int frameWidth = frameGeometry().width() - width();
    const int outerWidth = separator->mapToGlobal(QPoint(0, 0)).x() - frameGeometry().x();
    setFixedWidth(std::max(1, outerWidth - frameWidth));
  }
  playbackComplete_ = false;
  liveCapture_ = true;
  liveClock_.start();
  mediaPath_.clear();
  SetTimer(kRefreshTimer, kRefreshPeriodMs);
}

void CVistaroPlayerDlg::OnSeek(int code, int position) {
  if (code != ui::SB_THUMBTRACK) return;
  IMediaSeeking* seeking = graph_->MediaSeeking();
  if (!seeking) return;
  seeking->GetDuration(&duration_);
  const float fraction = static_cast<float>(position / 100.0);
  LONGLONG target = static_cast<LONGLONG>(fraction * static_cast<float>(duration_));
  seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

ComPtr<IQuorvex> CVistaroPlayerDlg::Decoder() const {
  ComPtr<IQuorvex> quorvex;
  if (IBaseFilter* decoder = graph_->DecoderFilter())
    decoder->QueryInterface(IID_IQuorvex, quorvex.PutVoid());
  return quorvex;
}

void CVistaroPlayerDlg::ApplyTelemetryRate() {
  const ComPtr<IQuorvex> quorvex = Decoder();
  if (!quorvex) return;
  const int index = GetCurSel(IDC_TELEMETRY_RATE);
  if (index >= 0 && index <= 2) quorvex->SetBitRate(kTelemetryRates[index]);
  rateStore_.Write(static_cast<std::uint32_t>(index));
  // Here because every new decoder passes through: a file, a capture.
  ApplyRobustDecoding(quorvex.Get(), robustStore_.Read());
}

std::u16string CVistaroPlayerDlg::KmlPath(std::u16string_view name) {
  // A bare name would land in the working folder.
  if (kmlFolder_.empty()) return {};
  return kmlFolder_ + std::u16string(name);
}

void CVistaroPlayerDlg::RunRefreshCycle() {
  refresh_->Tick();
  UpdateTimeLabel();
}

void CVistaroPlayerDlg::StartRecordingCycle() { refresh_->BeginRecording(); }

void CVistaroPlayerDlg::SetSeekSlider(int position) { SetPos(IDC_SEEK, position); }

bool CVistaroPlayerDlg::SwapAudioChecked() { return IsChecked(IDC_SWAP_AUDIO); }

void CVistaroPlayerDlg::ShowPacketCounts(std::uint32_t goodPackets, std::uint32_t badPackets) {
  SetDlgItemText(IDC_GOOD_PACKETS, QString::number(goodPackets));
  SetDlgItemText(IDC_BAD_PACKETS, QString::number(badPackets));
}

int CVistaroPlayerDlg::PlotSelection() { return GetCurSel(IDC_PLOT); }

bool CVistaroPlayerDlg::ShowGroundTrack() { return IsChecked(IDC_SHOW_GROUND_TRACK); }

int CVistaroPlayerDlg::RangePosition() { return GetPos(IDC_RANGE); }

int CVistaroPlayerDlg::TiltPosition() { return GetPos(IDC_TILT); }

void CVistaroPlayerDlg::EnableViewButton(ViewMode mode, bool enabled) {
  switch (mode) {
    case ViewMode::Off:
      EnableControl(IDC_GOOGLE_LINK, enabled);
      break;
    case ViewMode::PilotsEye:
      EnableControl(IDC_PILOTS_EYE, enabled);
      break;
    case ViewMode::MovingMapStatic:
      EnableControl(IDC_MOVING_MAP_STATIC, enabled);
      break;
    case ViewMode::MovingMapMoving:
      EnableControl(IDC_MOVING_MAP_MOVING, enabled);
      break;
  }
}

void CVistaroPlayerDlg::RedrawViewButtons() {
  for (int id : {IDC_GOOGLE_LINK, IDC_PILOTS_EYE, IDC_MOVING_MAP_STATIC, IDC_MOVING_MAP_MOVING})
    if (QWidget* button = GetDlgItem(id)) button->repaint();
}

int CVistaroPlayerDlg::PlaneIconSelection() { return GetCurSel(IDC_PLANE_ICON); }

void CVistaroPlayerDlg::OnGraphNotify() {
  IMediaEventEx* events = graph_->MediaEvents();
  if (!events) return;
  // Only the end of the stream matters: the transport then offers Play,
  // which starts the recording again. Draining the rest keeps the queue
  // short.
  long code = 0;
  LONG_PTR first = 0;
  LONG_PTR second = 0;
  while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
    if (code == EC_COMPLETE) {
      playbackComplete_ = true;
      ShowControl(IDC_PAUSE, false);
      ShowControl(IDC_PLAY, true);
    }
    events->FreeEventParams(code, first, second);
  }
}

void CVistaroPlayerDlg::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  SaveView();
  // Stop the clock before the stream so that no tick reads a graph that is
  // going away.
  KillTimer(kRefreshTimer);
  if (graph_ && graph_->MediaControl()) graph_->MediaControl()->Stop();
}

// The main dialog's comforts for the pilot, beyond the transport itself:
// the view remembered between runs, the keyboard, drag and drop, the
// recent recordings, the time label and where the status windows go.

#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

#include "viewer/shell/resource.h"
#include "viewer/shell/time_label.h"
#include "viewer/shell/vistaro_player_dlg.h"
#include "viewer/shell/window_placement.h"

namespace {

constexpr LONGLONG kUnitsPerSecond = 10'000'000;

const QString kUplinkWindow = QStringLiteral("Uplink");
const QString kPositionalWindow = QStringLiteral("Positional");
const QString kBatteryWindow = QStringLiteral("Battery");

// A place is used again only while a screen still shows it: the window's
// top-left corner, a little inside.
bool OnAScreen(const QPoint& topLeft) {
  return QGuiApplication::screenAt(topLeft + QPoint(16, 16)) != nullptr;
}

// The first local file a drag carries; empty when there is none.
QString DroppedRecording(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) return url.toLocalFile();
  }
  return {};
}

}  // namespace

void CVistaroPlayerDlg::RestoreView() {
  const RememberedView view = windowSettings_.Read();
  if (view.windowPosition && OnAScreen(*view.windowPosition)) move(*view.windowPosition);
  SetCurSel(IDC_PLANE_ICON, view.planeIcon);
  earth_->OnPlaneIconChanged();
  SetCurSel(IDC_PLOT, view.plot);
  SetCheck(IDC_SHOW_GROUND_TRACK, view.showGroundTrack);
  SetPos(IDC_RANGE, view.range);
  SetPos(IDC_TILT, view.tilt);
  // Read by the uplink window when it is first made.
  uplink_.rxSensitivity = view.rxSensitivity;
  // Choosing the mode starts nothing: Google Earth comes with the first fix.
  if (view.viewMode != static_cast<int>(ViewMode::Off))
    earth_->OnViewModeButton(static_cast<ViewMode>(view.viewMode));
  statusPlaces_ = view.statusWindows;
  recent_ = RecentRecordings(view.recentRecordings);
  mapPlacement_ = static_cast<MapPlacement>(view.mapPlacement);
  ShowMapWhereChosen();
}

RememberedView CVistaroPlayerDlg::CurrentView() const {
  RememberedView view;
  view.windowPosition = pos();
  view.planeIcon = std::max(0, GetCurSel(IDC_PLANE_ICON));
  view.viewMode = static_cast<int>(earth_->Mode());
  view.plot = std::max(0, GetCurSel(IDC_PLOT));
  view.showGroundTrack = IsChecked(IDC_SHOW_GROUND_TRACK);
  view.range = GetPos(IDC_RANGE);
  view.tilt = GetPos(IDC_TILT);
  view.rxSensitivity = uplink_.rxSensitivity;
  view.mapPlacement = static_cast<int>(mapPlacement_);
  view.statusWindows = statusPlaces_;
  const std::pair<const ui::CDialog*, QString> windows[] = {
      {&uplink_, kUplinkWindow}, {&positional_, kPositionalWindow}, {&battery_, kBatteryWindow}};
  for (const auto& [window, name] : windows) {
    if (window->HasWindow()) view.statusWindows[name] = window->pos();
  }
  view.recentRecordings = recent_.Paths();
  return view;
}

void CVistaroPlayerDlg::SaveView() {
  if (HasWindow()) windowSettings_.Write(CurrentView());
}

void CVistaroPlayerDlg::ShowStatusWindow(ui::CDialog& window, const QString& name) {
  if (!window.HasWindow()) {
    window.Create();
    const auto remembered = statusPlaces_.find(name);
    if (remembered != statusPlaces_.end() && OnAScreen(remembered->second)) {
      window.move(remembered->second);
    } else {
      const QRect main = frameGeometry();
      const QScreen* screen = QGuiApplication::screenAt(main.center());
      std::vector<QRect> taken;
      for (const ui::CDialog* other : {static_cast<const ui::CDialog*>(&uplink_),
                                       static_cast<const ui::CDialog*>(&positional_),
                                       static_cast<const ui::CDialog*>(&battery_)}) {
        if (other != &window && other->isVisible()) taken.push_back(other->frameGeometry());
      }
      window.move(PlaceBeside(main, screen ? screen->availableGeometry() : main,
                              window.frameGeometry().size(), taken));
    }
  }
  window.show();
  window.raise();
  window.activateWindow();
}

bool CVistaroPlayerDlg::FlightInProgress() const {
  return liveCapture_ || (playing_ && !playbackComplete_);
}

void CVistaroPlayerDlg::OnCancel() {
  if (FlightInProgress()) {
    const QString question = liveCapture_
                                 ? QStringLiteral("A live capture is running. Quit and end it?")
                                 : QStringLiteral("A recording is playing. Quit?");
    if (!Ui().AskYesNo(this, question, QStringLiteral("VistaroPlayer"))) return;
  }
  ShutDown();
  CDialog::OnCancel();
}

void CVistaroPlayerDlg::keyPressEvent(QKeyEvent* event) {
  // A stray Escape must not end a flight; only the close box and Ctrl+Q do.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  CDialog::keyPressEvent(event);
}

void CVistaroPlayerDlg::AddShortcuts() {
  const auto add = [this](const QKeySequence& keys, auto action) {
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, action);
  };
  add(QKeySequence(Qt::Key_Space), [this] { TogglePlayPause(); });
  add(QKeySequence(Qt::Key_Left), [this] { SeekBy(-5); });
  add(QKeySequence(Qt::Key_Right), [this] { SeekBy(5); });
  add(QKeySequence(Qt::CTRL | Qt::Key_O), [this] {
    if (IsControlEnabled(IDC_LOAD)) OnLoad();
  });
  add(QKeySequence(Qt::CTRL | Qt::Key_L), [this] {
    if (IsControlEnabled(IDC_LIVE_CAPTURE)) OnLiveCapture();
  });
  add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { OnCancel(); });
}

void CVistaroPlayerDlg::TogglePlayPause() {
  if (IsControlShown(IDC_PAUSE) && IsControlEnabled(IDC_PAUSE))
    Click(IDC_PAUSE);
  else if (IsControlShown(IDC_PLAY) && IsControlEnabled(IDC_PLAY))
    Click(IDC_PLAY);
}

void CVistaroPlayerDlg::SeekBy(double seconds) {
  IMediaSeeking* seeking = graph_->MediaSeeking();
  if (!seeking || liveCapture_) return;
  LONGLONG position = 0;
  LONGLONG stop = 0;
  if (FAILED(seeking->GetPositions(&position, &stop))) return;
  seeking->GetDuration(&duration_);
  LONGLONG target = position + static_cast<LONGLONG>(seconds * kUnitsPerSecond);
  target = std::clamp<LONGLONG>(target, 0, std::max<LONGLONG>(0, duration_));
  seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  UpdateTimeLabel();
}

void CVistaroPlayerDlg::UpdateTimeLabel() {
  QString text;
  if (liveCapture_) {
    text = FormatClock(liveClock_.elapsed() * (kUnitsPerSecond / 1000));
  } else if (IMediaSeeking* seeking = graph_->MediaSeeking();
             seeking && !graph_->FilePath().empty()) {
    LONGLONG position = 0;
    LONGLONG stop = 0;
    LONGLONG duration = 0;
    seeking->GetPositions(&position, &stop);
    seeking->GetDuration(&duration);
    text = RecordingTimeText(position, duration);
  }
  SetDlgItemText(IDC_TIME_LABEL, text);
}

void CVistaroPlayerDlg::LoadRecording(const QString& path) {
  setFixedWidth(savedClientRect_.width());
  OpenFile(path);
}

void CVistaroPlayerDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedRecording(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CVistaroPlayerDlg::dropEvent(QDropEvent* event) {
  const QString path = DroppedRecording(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  // The drag's source waits for the drop to return; the graph is built
  // after it.
  QTimer::singleShot(0, this, [this, path] { LoadRecording(path); });
}

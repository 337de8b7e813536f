// Where the main dialog shows the live map: in the video area's place,
// chosen with the toggle above it, or in a window of its own; and the
// map's entries in the window's menu.

#include <QButtonGroup>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QScreen>
#include <QToolButton>

#include "viewer/shell/vistaro_player_dlg.h"
#include "viewer/shell/window_placement.h"

namespace {

// The free strip above the video area, in dialog units: the controls of the
// window keep their places and the video area its size.
const QRect kToggleStrip(179, 0, 493, 7);

}  // namespace

void CVistaroPlayerDlg::AddMapToggle() {
  auto* strip = new QWidget(this);
  strip->setGeometry(MapDialogRect(kToggleStrip));
  auto* layout = new QHBoxLayout(strip);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  // The strip is a little lower than a line of the dialog's font: the
  // buttons lose their frames and the chosen one is marked by its colour.
  QFont font = this->font();
  font.setPixelSize(std::max(6, strip->height() - 2));
  strip->setStyleSheet(QStringLiteral(
      "QToolButton { border: none; margin: 0px; padding: 0px 10px; }"
      "QToolButton:checked { background: palette(highlight); color: palette(highlighted-text); }"
      "QToolButton:disabled { color: palette(mid); }"));
  auto* group = new QButtonGroup(strip);
  const auto add = [&](const QString& text) {
    auto* button = new QToolButton(strip);
    button->setText(text);
    button->setFont(font);
    button->setCheckable(true);
    button->setFixedHeight(strip->height());
    button->setFocusPolicy(Qt::NoFocus);
    group->addButton(button);
    layout->addWidget(button);
    return button;
  };
  videoToggle_ = add(QStringLiteral("Video"));
  mapToggle_ = add(QStringLiteral("Map"));
  layout->addStretch();
  videoToggle_->setChecked(true);
  // Video leaves a separate map window open: the video shows either way.
  connect(videoToggle_, &QAbstractButton::clicked, this, [this] {
    if (mapPlacement_ == MapPlacement::kMap) PlaceMap(MapPlacement::kVideo);
  });
  connect(mapToggle_, &QAbstractButton::clicked, this, [this] { PlaceMap(MapPlacement::kMap); });
}

void CVistaroPlayerDlg::SetMapUrl(const std::string& url) {
  mapUrl_ = url;
  ShowMapWhereChosen();
}

void CVistaroPlayerDlg::PlaceMap(MapPlacement placement) {
  mapPlacement_ = placement;
  ShowMapWhereChosen();
  SaveView();
}

void CVistaroPlayerDlg::ShowMapWhereChosen() {
  const bool known = !mapUrl_.empty();
  const MapPlacement shown = known ? mapPlacement_ : MapPlacement::kVideo;
  const bool inPlace = shown == MapPlacement::kMap;
  // The page starts Chromium, which costs memory and time: only once the
  // map is first wanted.
  if (inPlace && !mapView_) {
    mapView_ = new MapView(this);
    mapView_->setGeometry(videoArea_->geometry());
  }
  if (mapView_) {
    if (inPlace) mapView_->SetUrl(mapUrl_);
    mapView_->setVisible(inPlace);
  }
  videoArea_->setVisible(!inPlace);

  if (shown == MapPlacement::kSeparate) {
    if (!mapWindow_) {
      mapWindow_ = std::make_unique<MapWindow>(this, [this] { PlaceMap(MapPlacement::kVideo); });
      const QRect main = frameGeometry();
      const QScreen* screen = QGuiApplication::screenAt(main.center());
      mapWindow_->move(PlaceBeside(main, screen ? screen->availableGeometry() : main,
                                   mapWindow_->frameGeometry().size(), {}));
    }
    mapWindow_->View().SetUrl(mapUrl_);
    mapWindow_->show();
    mapWindow_->raise();
  } else if (mapWindow_) {
    mapWindow_->hide();
  }

  if (videoToggle_) {
    videoToggle_->setEnabled(known);
    mapToggle_->setEnabled(known);
    (inPlace ? mapToggle_ : videoToggle_)->setChecked(true);
  }
}

void CVistaroPlayerDlg::AddMapActions(QMenu& menu) {
  const bool known = !mapUrl_.empty();
  QAction* separate = menu.addAction(QStringLiteral("Map in &Separate Window"));
  separate->setCheckable(true);
  separate->setChecked(known && mapPlacement_ == MapPlacement::kSeparate);
  separate->setEnabled(known);
  connect(separate, &QAction::triggered, this, [this](bool checked) {
    PlaceMap(checked ? MapPlacement::kSeparate : MapPlacement::kVideo);
  });
  QAction* browser = menu.addAction(QStringLiteral("Open Map in Br&owser"));
  browser->setEnabled(known);
  connect(browser, &QAction::triggered, this, [this] { OpenMapInBrowser(); });
}

void CVistaroPlayerDlg::OpenMapInBrowser() {
  if (mapUrl_.empty()) return;
  const QString url = QString::fromStdString(mapUrl_);
  if (Ui().OpenUrl(url)) return;
  ShowMessage(QStringLiteral("No web browser could be started for the map. Open this address "
                             "in one:\n") +
                  url,
              QStringLiteral("VistaroPlayer"), ui::MessageIcon::kWarning);
}

#include "viewer/shell/window_settings.h"

#include <QSettings>
#include <memory>

namespace {

std::unique_ptr<QSettings> OpenSettings(const QString& iniPath) {
  if (iniPath.isEmpty())
    return std::make_unique<QSettings>(QStringLiteral("Aviquent"), QStringLiteral("VistaroPlayer"));
  return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
}

int ReadInt(const QSettings& settings, const QString& key, int low, int high, int fallback) {
  bool ok = false;
  const int value = settings.value(key).toInt(&ok);
  return ok && value >= low && value <= high ? value : fallback;
}

std::optional<QPoint> ReadPoint(const QSettings& settings, const QString& key) {
  const QVariant value = settings.value(key);
  if (!value.canConvert<QPoint>() || value.typeId() != QMetaType::QPoint) return std::nullopt;
  return value.toPoint();
}

const QString kWindow = QStringLiteral("Window/Position");
const QString kPlaneIcon = QStringLiteral("Window/PlaneIcon");
const QString kViewMode = QStringLiteral("Window/ViewMode");
const QString kPlot = QStringLiteral("Window/Plot");
const QString kGroundTrack = QStringLiteral("Window/ShowGroundTrack");
const QString kRange = QStringLiteral("Window/Range");
const QString kTilt = QStringLiteral("Window/Tilt");
const QString kRxSensitivity = QStringLiteral("Window/RxSensitivity");
const QString kMapPlacement = QStringLiteral("Window/MapPlacement");
const QString kStatusGroup = QStringLiteral("StatusWindows");
const QString kRecent = QStringLiteral("RecentRecordings");

}  // namespace

RememberedView WindowSettings::Read() const {
  const auto settings = OpenSettings(iniPath_);
  const RememberedView defaults;
  RememberedView view;
  view.windowPosition = ReadPoint(*settings, kWindow);
  view.planeIcon = ReadInt(*settings, kPlaneIcon, 0, 5, defaults.planeIcon);
  view.viewMode = ReadInt(*settings, kViewMode, 0, 3, defaults.viewMode);
  view.plot = ReadInt(*settings, kPlot, 0, 5, defaults.plot);
  view.showGroundTrack = settings->value(kGroundTrack).toString() == QStringLiteral("true") ||
                         defaults.showGroundTrack;
  view.range = ReadInt(*settings, kRange, 0, 200, defaults.range);
  view.tilt = ReadInt(*settings, kTilt, 0, 90, defaults.tilt);
  view.rxSensitivity = ReadInt(*settings, kRxSensitivity, -1000, 1000, defaults.rxSensitivity);
  view.mapPlacement = ReadInt(*settings, kMapPlacement, 0, 2, defaults.mapPlacement);
  settings->beginGroup(kStatusGroup);
  for (const QString& name : settings->childKeys()) {
    if (const auto point = ReadPoint(*settings, name)) view.statusWindows[name] = *point;
  }
  settings->endGroup();
  view.recentRecordings = settings->value(kRecent).toStringList();
  return view;
}

void WindowSettings::Write(const RememberedView& view) const {
  const auto settings = OpenSettings(iniPath_);
  if (view.windowPosition)
    settings->setValue(kWindow, *view.windowPosition);
  else
    settings->remove(kWindow);
  settings->setValue(kPlaneIcon, view.planeIcon);
  settings->setValue(kViewMode, view.viewMode);
  settings->setValue(kPlot, view.plot);
  settings->setValue(kGroundTrack, view.showGroundTrack);
  settings->setValue(kRange, view.range);
  settings->setValue(kTilt, view.tilt);
  settings->setValue(kRxSensitivity, view.rxSensitivity);
  settings->setValue(kMapPlacement, view.mapPlacement);
  settings->remove(kStatusGroup);
  settings->beginGroup(kStatusGroup);
  for (const auto& [name, point] : view.statusWindows) settings->setValue(name, point);
  settings->endGroup();
  settings->setValue(kRecent, view.recentRecordings);
  settings->sync();
}

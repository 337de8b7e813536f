#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

// What the viewer's window looked like when it was last closed.
struct RememberedView {
  std::optional<QPoint> windowPosition;  // top-left of the frame
  int planeIcon = 0;                     // plane icon list index
  int viewMode = 0;                      // ViewMode as its number
  int plot = 0;                          // Plot list index
  bool showGroundTrack = false;
  int range = 133;
  int tilt = 80;
  int rxSensitivity = -100;  // dBm
  int mapPlacement = 0;      // MapPlacement as its number
  // Frame top-left of each status window that was open, by its name.
  std::map<QString, QPoint> statusWindows;
  QStringList recentRecordings;  // newest first

  bool operator==(const RememberedView&) const = default;
};

// Keeps the view between runs in the program's settings, beside the
// telemetry rate. An empty path means the user's real settings; tests give
// a file of their own. A value that is missing, unreadable or out of its
// control's range reads as the start-up default, so a damaged file never
// stops the program.
class WindowSettings {
 public:
  explicit WindowSettings(QString iniPath = {}) : iniPath_(std::move(iniPath)) {}

  RememberedView Read() const;
  // Failures are not reported: the view is a convenience.
  void Write(const RememberedView& view) const;

 private:
  QString iniPath_;
};

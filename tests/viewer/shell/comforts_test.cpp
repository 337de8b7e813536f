#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include "viewer/shell/recent_recordings.h"
#include "viewer/shell/time_label.h"
#include "viewer/shell/window_placement.h"
#include "viewer/shell/window_settings.h"

namespace {

constexpr std::int64_t kSecond = 10'000'000;

TEST(TimeLabel, ShowsWholeSecondsAsHoursMinutesSeconds) {
  EXPECT_EQ(FormatClock(0), QStringLiteral("0:00:00"));
  EXPECT_EQ(FormatClock(59 * kSecond + kSecond - 1), QStringLiteral("0:00:59"));
  EXPECT_EQ(FormatClock(3661 * kSecond), QStringLiteral("1:01:01"));
  EXPECT_EQ(FormatClock(25 * 3600 * kSecond), QStringLiteral("25:00:00"));
  EXPECT_EQ(FormatClock(-kSecond), QStringLiteral("0:00:00"));
  EXPECT_EQ(RecordingTimeText(65 * kSecond, 600 * kSecond), QStringLiteral("0:01:05 / 0:10:00"));
}

TEST(RecentRecordings, NewestFirstEachOnceAtMostEight) {
  RecentRecordings recent;
  for (int i = 0; i < 10; ++i) recent.Add(QStringLiteral("/flights/%1.mkv").arg(i));
  ASSERT_EQ(recent.Paths().size(), RecentRecordings::kMaxCount);
  EXPECT_EQ(recent.Paths().front(), QStringLiteral("/flights/9.mkv"));
  EXPECT_EQ(recent.Paths().back(), QStringLiteral("/flights/2.mkv"));

  // Opened again, by another spelling of the same path: it moves up.
  recent.Add(QStringLiteral("/flights/x/../5.mkv"));
  EXPECT_EQ(recent.Paths().front(), QStringLiteral("/flights/5.mkv"));
  EXPECT_EQ(recent.Paths().count(QStringLiteral("/flights/5.mkv")), 1);
  EXPECT_EQ(recent.Paths().size(), RecentRecordings::kMaxCount);
  recent.Remove(QStringLiteral("/flights/5.mkv"));
  EXPECT_EQ(recent.Paths().front(), QStringLiteral("/flights/9.mkv"));

  // A stored list is taken in its order, without blanks or repeats.
  const RecentRecordings stored(
      {QStringLiteral("/a.mkv"), QString(), QStringLiteral("/b.wav"), QStringLiteral("/a.mkv")});
  EXPECT_EQ(stored.Paths(), QStringList({QStringLiteral("/a.mkv"), QStringLiteral("/b.wav")}));
}

TEST(WindowSettings, RoundTripAndDamagedValuesReadAsDefaults) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath(QStringLiteral("settings.ini"));
  EXPECT_EQ(WindowSettings(path).Read(), RememberedView{}) << "nothing stored yet";

  RememberedView view;
  view.windowPosition = QPoint(-20, 35);
  view.planeIcon = 5;
  view.viewMode = 2;
  view.plot = 4;
  view.showGroundTrack = true;
  view.range = 0;
  view.tilt = 90;
  view.rxSensitivity = -87;
  view.statusWindows = {{QStringLiteral("Uplink"), QPoint(900, 10)},
                        {QStringLiteral("Battery"), QPoint(0, 400)}};
  view.recentRecordings = {QStringLiteral("/f/b.mkv"), QStringLiteral("/f/a.wav")};
  WindowSettings(path).Write(view);
  EXPECT_EQ(WindowSettings(path).Read(), view);

  {
    QSettings damaged(path, QSettings::IniFormat);
    damaged.setValue(QStringLiteral("Window/Position"), QStringLiteral("left"));
    damaged.setValue(QStringLiteral("Window/PlaneIcon"), 6);
    damaged.setValue(QStringLiteral("Window/ViewMode"), -1);
    damaged.setValue(QStringLiteral("Window/Plot"), QStringLiteral("RSSI"));
    damaged.setValue(QStringLiteral("Window/Range"), 201);
    damaged.setValue(QStringLiteral("Window/Tilt"), 91);
    damaged.setValue(QStringLiteral("StatusWindows/Uplink"), 3);
  }
  const RememberedView read = WindowSettings(path).Read();
  const RememberedView defaults;
  EXPECT_FALSE(read.windowPosition);
  EXPECT_EQ(read.planeIcon, defaults.planeIcon);
  EXPECT_EQ(read.viewMode, defaults.viewMode);
  EXPECT_EQ(read.plot, defaults.plot);
  EXPECT_EQ(read.range, defaults.range);
  EXPECT_EQ(read.tilt, defaults.tilt);
  EXPECT_EQ(read.statusWindows.count(QStringLiteral("Uplink")), 0u);
  EXPECT_EQ(read.statusWindows.count(QStringLiteral("Battery")), 1u);
}

}  // namespace

namespace {

TEST(PlaceBeside, BesideTheMainWindowOnTheScreenAndOverNoOtherWindow) {
  const QRect screen(0, 0, 1920, 1080);
  const QSize size(300, 200);
  // Room on the right.
  EXPECT_EQ(PlaceBeside(QRect(100, 50, 1200, 600), screen, size, {}), QPoint(1300, 50));
  // Only on the left.
  EXPECT_EQ(PlaceBeside(QRect(700, 50, 1200, 600), screen, size, {}), QPoint(400, 50));
  // The second window goes below the first, the fourth past the column.
  const QRect main(100, 50, 1200, 600);
  const QRect first(QPoint(1300, 50), size);
  EXPECT_EQ(PlaceBeside(main, screen, size, {first}), QPoint(1300, 250));
  const std::vector<QRect> column{first, QRect(1300, 250, 300, 200), QRect(1300, 450, 300, 200),
                                  QRect(1300, 650, 300, 200), QRect(1300, 850, 300, 200)};
  EXPECT_EQ(PlaceBeside(main, screen, size, column), QPoint(100, 650)) << "below the main window";

  // A screen too small for anything beside: still on it, cascaded.
  const QRect small(0, 0, 1300, 700);
  const QRect wide(0, 0, 1280, 650);
  const QPoint fallback = PlaceBeside(wide, small, size, {});
  EXPECT_TRUE(small.contains(QRect(fallback, size)));
  const QPoint next = PlaceBeside(wide, small, size, {QRect(fallback, size)});
  EXPECT_TRUE(small.contains(QRect(next, size)));
  EXPECT_NE(next, fallback);
}

}  // namespace

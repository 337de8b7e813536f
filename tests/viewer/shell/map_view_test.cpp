#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <memory>

#include "platform/earth/loopback_http_server.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "tests/viewer/shell/event_pump.h"
#include "viewer/shell/vistaro_player_dlg.h"
#include "viewer/shell/window_settings.h"

namespace {

// What the page's own script sees, once a call of it has answered.
QString EvaluateWhenLoaded(QWebEnginePage& page, const QString& script, const QString& expected,
                           double seconds) {
  struct Answer {
    bool pending = false;
    QString text;
  };
  const auto answer = std::make_shared<Answer>();
  PumpUntil(
      [&] {
        if (answer->pending) return false;
        if (answer->text == expected) return true;
        answer->pending = true;
        page.runJavaScript(script, [answer](const QVariant& value) {
          answer->text = value.toString();
          answer->pending = false;
        });
        return false;
      },
      seconds);
  return answer->text;
}

}  // namespace

// The real main window on a real X display: Qt's offscreen platform draws no
// web page.
TEST(MapView, TheMapToggleShowsTheLivePageInTheVideoAreasPlace) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb"))
    GTEST_SKIP() << "needs an X display (the test runs under xvfb-run with QT_QPA_PLATFORM=xcb)";
  const QString process = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) +
                          QStringLiteral("/QtWebEngineProcess");
  if (!QFileInfo(process).isExecutable())
    GTEST_SKIP() << "Qt WebEngine cannot start: " << process.toStdString() << " is missing";

  const auto server = LoopbackHttpServer::Start([](std::string_view path) {
    std::optional<LoopbackHttpServer::Resource> page;
    if (path == "/map")
      page = LoopbackHttpServer::Resource{
          "text/html; charset=utf-8",
          "<!doctype html><title>Live map</title><div id=plane>over the field</div>", "no-store"};
    return page;
  });
  ASSERT_TRUE(server);
  const std::string url = server->BaseUrl() + "/map?token=4f1c";

  QTemporaryDir folder;
  const QString settings = folder.filePath(QStringLiteral("settings.ini"));
  ui::testing::RecordingUiService ui;
  CVistaroPlayerDlg dialog(
      ui, {.settingsPath = settings, .graphServices = nullptr, .earthFactory = {}});
  dialog.Create();
  dialog.show();
  // The window's own map is offered once its server listens; here the test's
  // page stands in for it.
  EXPECT_EQ(dialog.MapToggle()->isEnabled(), dialog.Map() != nullptr);

  dialog.SetMapUrl(url);
  ASSERT_TRUE(dialog.MapToggle()->isEnabled());
  dialog.MapToggle()->click();
  MapView* map = dialog.MainMapView();
  ASSERT_NE(map, nullptr);
  EXPECT_TRUE(map->isVisible());
  EXPECT_FALSE(dialog.VideoArea().isVisible());
  EXPECT_EQ(map->geometry(), dialog.VideoArea().geometry());
  EXPECT_EQ(EvaluateWhenLoaded(*map->Page(),
                               QStringLiteral("document.title + '|' + "
                                              "document.getElementById('plane')?.textContent"),
                               QStringLiteral("Live map|over the field"), 60),
            QStringLiteral("Live map|over the field"))
      << map->Message().toStdString();
  EXPECT_EQ(WindowSettings(settings).Read().mapPlacement, int(MapPlacement::kMap));

  dialog.OpenMapInBrowser();
  EXPECT_EQ(ui.openedUrls, std::vector<QString>{QString::fromStdString(url)});

  dialog.VideoToggle()->click();
  EXPECT_TRUE(dialog.VideoArea().isVisible());
  EXPECT_FALSE(map->isVisible());
}

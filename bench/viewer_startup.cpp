// The viewer's two user-facing costs without telemetry: from the start of
// the program's window code to the main window shown, and one refresh tick
// while a recording plays but no new fix has arrived.
//
//   BUILD/bench/bench_viewer_startup [RUNS]
//
// Runs on Qt's offscreen platform; the decoder library of the build is
// registered in a registry of the run's own.
#include <QApplication>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/graph/graph_objects.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"
#include "viewer/shell/vistaro_player_dlg.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::printf("%-40s median %8.3f ms   min %8.3f   max %8.3f   (%zu runs)\n", what,
              values[values.size() / 2], values.front(), values.back(), values.size());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QUORVEX_NMEA_PATH", "/dev/null", 0);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const fs::path folder = fs::temp_directory_path() / ("bench-viewer-" + std::to_string(getpid()));
  fs::create_directories(folder);
  setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  const std::string registration =
      std::string("\"") + REGSVR_PATH + "\" \"" + QUORVEX_LIBRARY_PATH + "\" >/dev/null";
  if (std::system(registration.c_str()) != 0) return 1;

  const auto started = Clock::now();
  QApplication app(argc, argv);
  ui::testing::RecordingUiService boxes;

  std::vector<double> startup;
  for (int run = 0; run < runs; ++run) {
    const auto begin = run == 0 ? started : Clock::now();
    CVistaroPlayerDlg dialog(boxes,
                             {.settingsPath = QString::fromStdString((folder / "s.ini").string()),
                              .graphServices = nullptr,
                              .earthFactory = {}});
    dialog.Create();
    dialog.show();
    while (!dialog.windowHandle() || !dialog.windowHandle()->isExposed())
      QApplication::processEvents();
    QApplication::processEvents();
    startup.push_back(Milliseconds(Clock::now() - begin));
  }
  Report("start-up to main window shown (1st incl. QApplication)", startup);

  using namespace simulated_aircraft;
  const fs::path wav = folder / "flight.wav";
  SignalOptions options;
  WriteWav(wav, WavFormat{}, RenderSignal(SyntheticFlight(20), options));
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  CVistaroPlayerDlg dialog(boxes,
                           {.settingsPath = QString::fromStdString((folder / "s.ini").string()),
                            .graphServices = nullptr,
                            .earthFactory = {}});
  dialog.Create();
  dialog.show();
  dialog.OpenFile(QString::fromStdString(wav.string()));
  // Past the first fixes, then ticks without a new one in between.
  const auto until = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < until) QApplication::processEvents(QEventLoop::AllEvents, 10);
  std::vector<double> ticks;
  for (int i = 0; i < 200 * runs; ++i) {
    dialog.RunRefreshCycle();  // the first may take a new fix; the rest do not
    const auto begin = Clock::now();
    dialog.RunRefreshCycle();
    ticks.push_back(Milliseconds(Clock::now() - begin));
  }
  Report("refresh tick without a new fix", ticks);
  fs::remove_all(folder);
  return 0;
}

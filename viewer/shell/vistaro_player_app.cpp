#include "viewer/shell/vistaro_player_app.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string_view>

#include "platform/graph/graph_objects.h"
#include "platform/ui/ui_service.h"
#include "viewer/dialogs/status_formats.h"
#include "viewer/shell/resource.h"
#include "viewer/shell/vistaro_player_dlg.h"

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QStringLiteral("--live")) {
      line.live = true;
    } else if (argument == QStringLiteral("--rate")) {
      if (++i >= arguments.size()) {
        line.error = QStringLiteral("--rate needs slow, norm or fast");
        break;
      }
      const QString rate = arguments[i].toLower();
      if (rate == QStringLiteral("slow"))
        line.rateIndex = 0;
      else if (rate == QStringLiteral("norm"))
        line.rateIndex = 1;
      else if (rate == QStringLiteral("fast"))
        line.rateIndex = 2;
      else
        line.error = QStringLiteral("unknown telemetry rate \"%1\" (slow, norm or fast)").arg(rate);
    } else if (argument == QStringLiteral("--exit-at-end")) {
      line.exitAtEnd = true;
    } else if (argument == QStringLiteral("--fast")) {
      line.fast = true;
    } else if (argument == QStringLiteral("--print-readouts")) {
      line.printReadouts = true;
    } else if (argument == QStringLiteral("--quit-after")) {
      bool ok = false;
      line.quitAfterSeconds = i + 1 < arguments.size() ? arguments[++i].toDouble(&ok) : 0;
      if (!ok || line.quitAfterSeconds <= 0)
        line.error = QStringLiteral("--quit-after needs a number of seconds");
    } else if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h")) {
      line.help = true;
    } else if (argument == QStringLiteral("--version")) {
      line.version = true;
    } else if (argument == QStringLiteral("--print-map-url")) {
      line.printMapUrl = true;
    } else if (argument.startsWith(QLatin1Char('-')) && argument != QStringLiteral("-")) {
      line.error = QStringLiteral("unknown option %1").arg(argument);
    } else if (line.file.isEmpty()) {
      line.file = argument;
    } else {
      line.error = QStringLiteral("only one file can be played");
    }
    if (!line.error.isEmpty()) break;
  }
  if (line.error.isEmpty() && line.live && !line.file.isEmpty())
    line.error = QStringLiteral("give either a file or --live, not both");
  return line;
}

QString CommandLineHelp() {
  return QStringLiteral(
      "usage: vistaro-player [--rate slow|norm|fast] [FILE | --live]\n"
      "                      [--fast] [--exit-at-end] [--print-readouts] [--quit-after S]\n"
      "                      [--print-map-url]\n"
      "\n"
      "  FILE               load and play a recording at start, as Load does\n"
      "  --live             start a live capture from the first audio input\n"
      "  --rate RATE        telemetry rate to select before either\n"
      "  --fast             play a recording as fast as it decodes, without sound,\n"
      "                     to scan a long flight\n"
      "  --exit-at-end      quit when the recording has played to its end\n"
      "  --print-readouts   print the read-outs to standard output while running\n"
      "  --quit-after S     quit after S seconds\n"
      "  --print-map-url    print the live map's address, for a browser, once it is served\n"
      "  --version          print the program's version\n");
}

QString VersionText() { return QStringLiteral("vistaro-player " VISTARO_VERSION); }

namespace {

// Prints the read-outs when they change, at most once a second, so a run
// without a display still shows what the pilot would have seen.
class ReadoutPrinter {
 public:
  explicit ReadoutPrinter(CVistaroPlayerDlg& dialog) : dialog_(dialog) {}

  void Print(bool force) {
    const QString good = dialog_.GetDlgItemText(IDC_GOOD_PACKETS);
    const QString bad = dialog_.GetDlgItemText(IDC_BAD_PACKETS);
    QString line = QStringLiteral("Good Packets %1  Bad Packets %2").arg(good, bad);
    // What the status windows show, once a fix has come in.
    if (dialog_.Refresh().state().lastSampleTime >= 0) {
      const CPositionalStatusDlg& position = dialog_.PositionalStatus();
      const CBatteryStatusDlg& battery = dialog_.BatteryStatus();
      line +=
          QStringLiteral("  Lat %1  Lon %2  Alt %3  Dist %4  Sats %5  RSSI %6 dBm  %7 V")
              .arg(FormatDegrees(position.latitude), FormatDegrees(position.longitude),
                   FormatAltitude(position.altitudeAboveLaunch), FormatDistance(position.distance))
              .arg(position.numSats)
              .arg(dialog_.UplinkStatus().rssi1)
              .arg(FormatGeneral6(battery.voltage / 1000.0));
    }
    if (!force && line == last_) return;
    last_ = line;
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
  }

 private:
  CVistaroPlayerDlg& dialog_;
  QString last_;
};

}  // namespace

void StartFromCommandLine(CVistaroPlayerDlg& dialog, const CommandLine& line) {
  if (line.rateIndex) dialog.SetCurSel(IDC_TELEMETRY_RATE, *line.rateIndex);
  // Once the window is up, as if the user had pressed the button.
  const QString file = line.file;
  const bool live = line.live;
  QTimer::singleShot(0, &dialog, [&dialog, file, live] {
    if (!file.isEmpty()) dialog.OpenFile(file);
    if (live) dialog.OnLiveCapture();
  });
}

int CVistaroPlayerApp::Run(int argc, char** argv) {
  // Answered before there is any window, so that they need no display.
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--version") {
      std::printf("%s\n", VersionText().toLocal8Bit().constData());
      return 0;
    }
    if (argument == "--help" || argument == "-h") {
      std::printf("%s", CommandLineHelp().toLocal8Bit().constData());
      return 0;
    }
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VistaroPlayer"));
  QApplication::setOrganizationName(QStringLiteral("Aviquent"));
  QApplication::setApplicationVersion(QStringLiteral(VISTARO_VERSION));

  const CommandLine line = ParseCommandLine(QApplication::arguments());
  if (!line.error.isEmpty()) {
    std::fprintf(stderr, "vistaro-player: %s\n%s", line.error.toLocal8Bit().constData(),
                 CommandLineHelp().toLocal8Bit().constData());
    return 2;
  }

  if (line.fast) SetGraphRenderingOptions({.realTime = false, .audioDevice = false});

  ui::QtUiService boxes;
  CVistaroPlayerDlg dialog(boxes, {});
  dialog.Create();
  if (line.printMapUrl) {
    if (const LiveMap* map = dialog.Map()) {
      std::printf("%s\n", map->PageUrl().c_str());
      std::fflush(stdout);
    } else {
      std::fprintf(stderr, "vistaro-player: the live map could not be served\n");
    }
  }
  StartFromCommandLine(dialog, line);

  ReadoutPrinter printer(dialog);
  QTimer watcher;
  if (line.exitAtEnd || line.printReadouts) {
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      if (line.printReadouts) printer.Print(false);
      if (line.exitAtEnd && dialog.PlaybackComplete()) {
        // The last frames may have come after the last tick.
        dialog.RunRefreshCycle();
        if (line.printReadouts) printer.Print(true);
        dialog.EndDialog(ui::IDCANCEL);
      }
    });
    // A recording played fast is over in seconds: print at every tick.
    watcher.start(line.printReadouts && !line.fast ? 1000 : 100);
  }
  if (line.quitAfterSeconds > 0) {
    QTimer::singleShot(int(line.quitAfterSeconds * 1000), &dialog, [&] {
      // A box waiting for an answer nobody will give must not hold the
      // program open.
      while (QWidget* box = QApplication::activeModalWidget()) {
        if (box == &dialog) break;
        box->close();
        QApplication::processEvents();
      }
      if (line.printReadouts) printer.Print(true);
      dialog.EndDialog(ui::IDCANCEL);
    });
  }
  dialog.DoModal();
  watcher.stop();
  return 0;
}

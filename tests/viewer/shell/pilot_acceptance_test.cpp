// What a pilot does with a recording after the flight, on the viewer's own
// windows: send the fixes to a moving map on the network, open it from the
// command line, watch the read-outs and the status windows follow the
// flight, correct the launch site, and save the history and the track. The
// saved files must be what the batch decoder makes of the same recording.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/graph/graph_objects.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "tests/udp_listener.h"
#include "tests/viewer/shell/event_pump.h"
#include "tests/viewer/shell/media_graph_fixtures.h"
#include "viewer/shell/resource.h"
#include "viewer/shell/vistaro_player_app.h"
#include "viewer/shell/vistaro_player_dlg.h"

namespace {

namespace fs = std::filesystem;

TEST(PilotAcceptance, ARecordingFromCommandLineToExportedFiles) {
  const fs::path folder = media::Folder() / "pilot";
  fs::create_directories(folder);
  const media::File recording = media::ShortWav();
  ui::testing::RecordingUiService boxes;
  CVistaroPlayerDlg dialog(
      boxes, {.settingsPath = QString::fromStdString((folder / "settings.ini").string()),
              .graphServices = nullptr,
              .earthFactory = {}});
  dialog.Create();
  dialog.show();

  // The moving map listens on UDP; a mistyped port is named and asked again.
  const UdpListener movingMap;
  ASSERT_NE(movingMap.Port(), 0);
  const QString udpTarget = QString::fromStdString(movingMap.Target());
  boxes.textAnswers.push_back(QStringList{QStringLiteral("127.0.0.1:99999"), QString()});
  boxes.textAnswers.push_back(QStringList{udpTarget, QString()});
  dialog.OnNetworkNmea();
  ASSERT_EQ(boxes.forms.size(), 2u);
  EXPECT_EQ(boxes.forms[1].values[0], QStringLiteral("127.0.0.1:99999"));
  ASSERT_EQ(boxes.messages.size(), 1u);
  EXPECT_EQ(boxes.messages[0].text.toStdString(),
            "UDP destination 127.0.0.1:99999: port 99999 is not a number from 1 to 65535");
  boxes.messages.clear();

  // vistaro-player --rate norm RECORDING, played as it was flown.
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  const CommandLine line =
      ParseCommandLine({QStringLiteral("vistaro-player"), QStringLiteral("--rate"),
                        QStringLiteral("norm"), QString::fromStdString(recording.path.string())});
  ASSERT_TRUE(line.error.isEmpty());
  StartFromCommandLine(dialog, line);
  ASSERT_TRUE(PumpUntil([&] { return static_cast<bool>(dialog.Decoder()); }, 5));
  SetGraphRenderingOptions({.realTime = false, .audioDevice = false});
  EXPECT_EQ(dialog.GetCurSel(IDC_TELEMETRY_RATE), 1);

  // The read-outs and the three status windows follow the flight.
  dialog.Click(IDC_SHOW_UPLINK);
  dialog.Click(IDC_SHOW_POSITIONAL);
  dialog.Click(IDC_SHOW_BATTERY);
  CPositionalStatusDlg& position = dialog.PositionalStatus();
  ASSERT_TRUE(PumpUntil([&] { return position.numSats > 0; }, 5));
  const int firstGood = dialog.GetDlgItemText(IDC_GOOD_PACKETS).toInt();
  const QString firstSats = position.GetDlgItemText(CPositionalStatusDlg::IDC_NUM_SATS);
  const int firstSample = dialog.Refresh().state().lastSampleTime;
  ASSERT_TRUE(PumpUntil([&] { return dialog.PlaybackComplete(); }, 15));
  dialog.RunRefreshCycle();
  EXPECT_GT(dialog.GetDlgItemText(IDC_GOOD_PACKETS).toInt(), firstGood);
  EXPECT_EQ(dialog.GetDlgItemText(IDC_GOOD_PACKETS), QString::number(recording.frames));
  EXPECT_GT(dialog.Refresh().state().lastSampleTime, firstSample);
  EXPECT_NE(position.GetDlgItemText(CPositionalStatusDlg::IDC_NUM_SATS), firstSats)
      << "the satellites came in during the recording";
  EXPECT_TRUE(dialog.UplinkStatus().isVisible());
  EXPECT_NE(dialog.UplinkStatus().GetDlgItemText(CUplinkStatusDlg::IDC_RSSI1), QString());
  EXPECT_NE(dialog.BatteryStatus().GetDlgItemText(CBatteryStatusDlg::IDC_VOLTAGE), QString());

  // The launch site becomes where the plane is now.
  position.Click(CPositionalStatusDlg::IDC_USE_CURRENT_POSITION);
  const ComPtr<IQuorvex> decoder = dialog.Decoder();
  float launchLongitude = 0, launchLatitude = 0, launchAltitude = 0;
  decoder->GetLaunchSite(&launchLongitude, &launchLatitude, &launchAltitude);
  EXPECT_NEAR(launchLongitude, position.longitude, 1e-5);
  EXPECT_NEAR(launchLatitude, position.latitude, 1e-5);
  // Taken back truncated to whole centimetres.
  EXPECT_NEAR(launchAltitude, position.altitude, 0.011);

  // The history and the decoder's track, saved where the pilot says.
  const fs::path csv = folder / "DiagData.csv";
  const fs::path kml = folder / "track.kml";
  boxes.fileAnswers.push_back(QString::fromStdString(csv.string()));
  dialog.Click(IDC_EXPORT_HISTORY);
  boxes.fileAnswers.push_back(QString::fromStdString(kml.string()));
  dialog.Click(IDC_EXPORT_KML);
  const fs::path fullCsv = folder / "full.csv";
  boxes.fileAnswers.push_back(QString::fromStdString(fullCsv.string()));
  boxes.fileTypes.push_back(1);  // Full-precision CSV
  dialog.Click(IDC_EXPORT_HISTORY);
  EXPECT_TRUE(boxes.messages.empty()) << boxes.messages[0].caption.toStdString();
  ASSERT_TRUE(fs::exists(csv));
  ASSERT_TRUE(fs::exists(kml));

  // Every fix reached the moving map as an RMC and a GGA datagram.
  const std::string full = ReadWholeFile(fullCsv);
  int fixes = 0;
  for (std::size_t at = 0; (at = full.find(",position,", at)) != std::string::npos; ++at) ++fixes;
  EXPECT_GT(fixes, 0);
  int rmc = 0, gga = 0;
  for (const std::string& text : movingMap.Received()) {
    rmc += text.starts_with("$GPRMC,");
    gga += text.starts_with("$GPGGA,");
  }
  EXPECT_EQ(rmc, fixes);
  EXPECT_EQ(gga, fixes);

  // The batch decoder's view of the same recording and launch site.
  // The decoder truncates what it is given to its own units, so the site is
  // handed over a little under one unit away from zero to land on the same
  // units as the viewer's.
  const auto nudged = [](double value, double unit) {
    return value + (value < 0 ? -0.4 : 0.4) * unit;
  };
  char launch[128];
  std::snprintf(launch, sizeof launch, "%.12g,%.12g,%.12g", nudged(launchLongitude, 1.0 / 600000),
                nudged(launchLatitude, 1.0 / 600000), nudged(launchAltitude, 0.01));
  const fs::path batchCsv = folder / "batch.csv";
  const fs::path batchKml = folder / "batch.kml";
  const fs::path batchFull = folder / "batch-full.csv";
  const std::string command = std::string("\"") + QUORVEX_DECODE_PATH + "\" --launch " + launch +
                              " --csv \"" + batchCsv.string() + "\" --kml \"" + batchKml.string() +
                              "\" --csv-full \"" + batchFull.string() + "\" \"" +
                              recording.path.string() + "\" >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(ReadWholeFile(csv), ReadWholeFile(batchCsv));
  EXPECT_EQ(ReadWholeFile(kml), ReadWholeFile(batchKml));
  EXPECT_EQ(full, ReadWholeFile(batchFull));
}

}  // namespace

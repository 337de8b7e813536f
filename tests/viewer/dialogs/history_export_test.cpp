#include "viewer/dialogs/history_export.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "common/history_csv.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "tests/fakes/scripted_decoder.h"
#include "tests/tools/run_process.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

namespace {

const std::string kHeaderLine =
    "time, rssiValue1, rssiValue2, linkQuality, nFailsafes, freqError, iCurrentBin, "
    "nGoodPacketsThisBin, nBadPacketsThisBin,distance,Altitude(ASL),Altitude(AGL),Latitude,"
    "Longitude\r\n";

UplinkRecord Uplink(std::uint8_t rssi) {
  UplinkRecord u{};
  u.rssiValue1 = rssi;
  u.rssiValue2 = 75;
  u.linkQuality = 99;
  u.nFailsafes = 1;
  u.freqError = -3;
  u.iCurrentBin = 4;
  u.nGoodPacketsThisBin = 480;
  u.nBadPacketsThisBin = 2;
  return u;
}

// 12:34:56.789 at 47.140845 N, 8.5 E, 400.5 m; the second fix 0.001 degree
// further east and 10 m higher.
const PositionRecord kFirstFix{45296789, 28284507, 5100000, 40050, 9};
const PositionRecord kSecondFix{45297289, 28284507, 5100600, 41050, 9};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Answers the save dialog from the recorder's script, after running
// `whileOpen` as if it happened while the user chose the name.
class SlowUserUi final : public ui::IUiService {
 public:
  explicit SlowUserUi(ui::testing::RecordingUiService& inner) : inner_(inner) {}
  int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                 ui::MessageIcon icon) override {
    return inner_.MessageBox(owner, text, caption, icon);
  }
  bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) override {
    return inner_.AskYesNo(owner, text, caption);
  }
  std::optional<QString> GetOpenFileName(QWidget* owner, const QString& filter) override {
    return inner_.GetOpenFileName(owner, filter);
  }
  std::optional<QString> GetSaveFileName(QWidget* owner, const QString& fileName,
                                         const QString& defaultExtension,
                                         const QString& filter) override {
    if (whileOpen) whileOpen();
    return inner_.GetSaveFileName(owner, fileName, defaultExtension, filter);
  }
  std::function<void()> whileOpen;

 private:
  ui::testing::RecordingUiService& inner_;
};

class HistoryExport : public ::testing::Test {
 protected:
  HistoryExport() {
    folder_ =
        std::filesystem::path(::testing::TempDir()) /
        ("export-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    csv_ = folder_ / "DiagData.csv";
  }
  ~HistoryExport() override { std::filesystem::remove_all(folder_); }

  void Export(ui::IUiService& service) {
    ExportHistory(ComPtr<IQuorvex>(&decoder), service, &owner);
  }
  void ExportTo(const std::filesystem::path& path) {
    ui.fileAnswers.push_back(QString::fromStdString(path.string()));
    Export(ui);
  }

  std::filesystem::path folder_;
  std::filesystem::path csv_;
  QWidget owner;
  ui::testing::RecordingUiService ui;
  ScriptedDecoder decoder;
};

TEST_F(HistoryExport, AsksForDiagDataOnlyWithADecoderAndWritesNothingOnCancel) {
  ExportHistory({}, ui, &owner);
  EXPECT_TRUE(ui.fileDialogs.empty());

  Sender(decoder).UplinkFrame(Uplink(70));
  Export(ui);
  ASSERT_EQ(ui.fileDialogs.size(), 1u);
  const auto& asked = ui.fileDialogs[0];
  EXPECT_TRUE(asked.save);
  EXPECT_EQ(asked.fileName, "DiagData.csv");
  EXPECT_EQ(asked.defaultExtension, "");
  EXPECT_EQ(asked.filter,
            "CSV Files (*.csv)|*.csv|Full-precision CSV (*.csv)|*.csv|All Files (*.*)|*.*||");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST_F(HistoryExport, RowsPerUplinkJoinedWithTheLatestPositionWithoutBattery) {
  // Keys: position 0, uplink 1, battery 2, uplink 3, position 4, uplink 5.
  Sender(decoder)
      .Position(kFirstFix)
      .UplinkFrame(Uplink(70))
      .Battery({11840, 1500, 12500})
      .UplinkFrame(Uplink(71))
      .Position(kSecondFix)
      .UplinkFrame(Uplink(72));
  ExportTo(csv_);
  // RSSI as received, positive; time and coordinates in "%g".
  EXPECT_EQ(ReadFile(csv_), kHeaderLine +
                                "45296.8,70,75,99,1,-3,4,480,2,0,400.5,0,47.1408,8.5\r\n"
                                "45296.8,71,75,99,1,-3,4,480,2,0,400.5,0,47.1408,8.5\r\n"
                                "45297.3,72,75,99,1,-3,4,480,2,75,410.5,10,47.1408,8.501\r\n");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(HistoryExport, RowsBeforeTheFirstFixCarryZerosAndAnEmptyHistoryOnlyTheHeader) {
  ExportTo(csv_);
  EXPECT_EQ(ReadFile(csv_), kHeaderLine);

  Sender(decoder).UplinkFrame(Uplink(60)).UplinkFrame(Uplink(61)).Position(kFirstFix);
  // The same name again: replaced without a question.
  ExportTo(csv_);
  EXPECT_EQ(ReadFile(csv_), kHeaderLine +
                                "0,60,75,99,1,-3,4,480,2,0,0,0,0,0\r\n"
                                "0,61,75,99,1,-3,4,480,2,0,0,0,0,0\r\n");
  EXPECT_EQ(ui.fileDialogs.size(), 2u);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(HistoryExport, HoldsTheHistoryAsItStoodWhenTheButtonWasPressed) {
  Sender(decoder).Position(kFirstFix).UplinkFrame(Uplink(70));
  SlowUserUi slow(ui);
  slow.whileOpen = [this] { Sender(decoder).Position(kSecondFix).UplinkFrame(Uplink(71)); };
  ui.fileAnswers.push_back(QString::fromStdString(csv_.string()));
  Export(slow);
  EXPECT_EQ(ReadFile(csv_),
            kHeaderLine + "45296.8,70,75,99,1,-3,4,480,2,0,400.5,0,47.1408,8.5\r\n");
}

TEST_F(HistoryExport, UnwritableFileIsReportedWithItsCode) {
  Sender(decoder).Position(kFirstFix).UplinkFrame(Uplink(70));
  ExportTo(folder_ / "no such folder" / "DiagData.csv");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].owner, &owner);
  EXPECT_EQ(ui.messages[0].text, "VistaroViewer");
  EXPECT_EQ(ui.messages[0].caption, "Could not save .csv file (0x80004005)");
  EXPECT_EQ(ui.messages[0].icon, ui::MessageIcon::kError);
  EXPECT_TRUE(std::filesystem::is_empty(folder_));

  // A folder where the file should be: nothing replaces it.
  std::filesystem::create_directory(csv_);
  ExportTo(csv_);
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_TRUE(std::filesystem::is_directory(csv_));
}

TEST_F(HistoryExport, SyntheticFlightThroughTheDecoderGivesTheToolsFile) {
  using namespace simulated_aircraft;
  const auto flight = SyntheticFlight(20.0);
  decoder.FeedMono(RenderSignal(flight, SignalOptions{}));
  int good = 0;
  int bad = 0;
  decoder.GetPacketCounts(&good, &bad);
  const FrameCounts sent = CountFrames(flight);
  ASSERT_EQ(good, sent.position + sent.uplink + sent.battery);

  const auto path = folder_ / "flight ü.csv";
  ExportTo(path);
  const std::string csv = ReadFile(path);
  // Byte for byte what `quorvex-decode --csv` writes for the same decoder.
  EXPECT_EQ(csv, history_csv::Build(decoder));

  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  int rows = 0;
  double previousTime = -1.0;
  while (std::getline(lines, line)) {
    ++rows;
    ASSERT_EQ(line.back(), '\r');
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 13) << line;
    const double time = std::stod(line);
    EXPECT_GE(time, previousTime) << line;
    previousTime = time;
    EXPECT_NE(line[line.find(',') + 1], '-') << line;
  }
  EXPECT_EQ(rows, sent.uplink);
}

// The window's GPX export, read back by the schema and a GPS converter: a
// point per fix, dated on the recording's day, with the values of the
// moment as extensions.
TEST_F(HistoryExport, GpxHasAPointPerFixThatAConverterReads) {
  Sender(decoder)
      .Position(kFirstFix)
      .UplinkFrame(Uplink(70))
      .Battery({11840, 1500, 12500})
      .Position(kSecondFix);
  const auto path = folder_ / "flight.gpx";
  ui.fileAnswers.push_back(QString::fromStdString(path.string()));
  // 2026-06-01 12:00:00 UTC.
  ExportGpx(ComPtr<IQuorvex>(&decoder), 1780315200, ui, &owner);
  ASSERT_EQ(ui.fileDialogs.size(), 1u);
  EXPECT_EQ(ui.fileDialogs[0].fileName, "Flight.gpx");
  EXPECT_TRUE(ui.messages.empty());

  const ProcessResult valid =
      RunProcess({"xmllint", "--noout", "--schema", GPX_SCHEMA_PATH, path.string()});
  EXPECT_EQ(valid.exitCode, 0) << valid.err;
  EXPECT_NE(ReadFile(path).find("<qv:battery voltage=\"11.840\" current=\"12.500\" "
                                "capacityUsed=\"1500\"/>"),
            std::string::npos);
  const ProcessResult read = RunProcess(
      {"gpsbabel", "-t", "-i", "gpx", "-f", path.string(), "-o", "unicsv,utc=0", "-F", "-"});
  // Latitude as the 32-bit float IQuorvex gives it.
  std::string rows = read.out;
  rows.erase(std::remove(rows.begin(), rows.end(), '\r'), rows.end());
  EXPECT_EQ(rows,
            "No,Latitude,Longitude,Altitude,Satellites,Date,Time\n"
            "1,47.140846,8.500000,400.5,9,2026/06/01,12:34:56.789\n"
            "2,47.140846,8.501000,410.5,9,2026/06/01,12:34:57.289\n")
      << read.err;
}

}  // namespace

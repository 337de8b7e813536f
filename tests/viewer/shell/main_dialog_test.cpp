#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/iquorvex_demodulator.h"
#include "platform/file/user_folder.h"
#include "platform/graph/graph_objects.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "tests/viewer/shell/event_pump.h"
#include "tests/viewer/shell/media_graph_fixtures.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"
#include "viewer/shell/dialog_templates.h"
#include "viewer/shell/resource.h"
#include "viewer/shell/vistaro_player_dlg.h"

namespace {

namespace fs = std::filesystem;
using ui::testing::RecordingUiService;

// A telemetry WAV at the fast slot rate: it decodes only when the viewer
// has told the decoder that rate.
media::File FastRateWav() {
  static const media::File file = [] {
    using namespace simulated_aircraft;
    media::File made{media::Folder() / "fast.wav", 0};
    const auto flight = SyntheticFlight(1.5);
    const FrameCounts counts = CountFrames(flight);
    made.frames = counts.position + counts.uplink + counts.battery;
    SignalOptions options;
    options.link.slotRate = 9554;
    options.minSeconds = 2.0;
    WriteWav(made.path, WavFormat{}, RenderSignal(flight, options));
    return made;
  }();
  return file;
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetGraphRenderingOptions({.realTime = false, .audioDevice = false});
    boxes_.messages.clear();
    boxes_.fileAnswers.clear();
    settingsPath_ = QString::fromStdString(
        (media::Folder() / ("settings-" + std::to_string(counter_++) + ".ini")).string());
  }
  void TearDown() override { SetGraphRenderingOptions({.realTime = false, .audioDevice = false}); }

  std::unique_ptr<CVistaroPlayerDlg> MakeDialog() {
    auto dialog = std::make_unique<CVistaroPlayerDlg>(
        boxes_,
        CVistaroPlayerDlg::Options{
            .settingsPath = settingsPath_, .graphServices = &services_, .earthFactory = {}});
    dialog->Create();
    dialog->show();
    return dialog;
  }
  void StoreRate(const QVariant& value) {
    QSettings settings(settingsPath_, QSettings::IniFormat);
    settings.setValue(QStringLiteral("TelemetryRate"), value);
  }
  QVariant StoredRate() const {
    QSettings settings(settingsPath_, QSettings::IniFormat);
    return settings.value(QStringLiteral("TelemetryRate"));
  }
  static bool PlayToEnd(CVistaroPlayerDlg& dialog, double seconds = 30) {
    return PumpUntil([&] { return dialog.PlaybackComplete(); }, seconds);
  }
  static QString Path(const fs::path& path) { return QString::fromStdString(path.string()); }

  RecordingUiService boxes_;
  ScriptedServices services_;
  QString settingsPath_;
  static inline int counter_ = 0;
};

TEST_F(MainDialogTest, StartsIdleWithTheTemplatesLayoutAndDefaults) {
  auto dialog = MakeDialog();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Aviquent Viewer v1.13"));
  EXPECT_EQ(dialog->size(), dialog->MapDialogRect(QRect(0, 0, 679, 354)).size());
  for (const ui::ControlTemplate& control : MainDialogTemplate().controls) {
    if (control.id == ui::IDC_STATIC) continue;
    QWidget* widget = dialog->GetDlgItem(control.id);
    ASSERT_NE(widget, nullptr) << control.id;
    EXPECT_EQ(widget->geometry(),
              dialog->MapDialogRect(QRect(control.x, control.y, control.cx, control.cy)))
        << control.id;
  }
  EXPECT_EQ(dialog->GetDlgItem(IDC_CAPTURE_PROPERTIES), nullptr);
  EXPECT_EQ(dialog->GetDlgItemText(IDC_MOVING_MAP_MOVING),
            QStringLiteral("Moving Map\nMoving Ca&mera"));
  EXPECT_EQ(dialog->GetDlgItemText(IDC_GOOGLE_LINK), QStringLiteral("Google Link\nO&ff"));
  EXPECT_EQ(dialog->GetDlgItemText(IDC_LOAD), QStringLiteral("&Load"));

  // The transport's idle row.
  EXPECT_FALSE(dialog->IsControlShown(IDC_PLAY));
  EXPECT_TRUE(dialog->IsControlShown(IDC_PAUSE));
  EXPECT_FALSE(dialog->IsControlEnabled(IDC_PAUSE));
  EXPECT_TRUE(dialog->IsControlEnabled(IDC_LIVE_CAPTURE));
  EXPECT_TRUE(dialog->IsControlEnabled(IDC_LOAD));
  EXPECT_FALSE(dialog->IsControlEnabled(IDC_GOOGLE_LINK));
  EXPECT_FALSE(dialog->IsControlShown(IDC_EXCEL_PROBE));
  EXPECT_FALSE(dialog->TimerRunning(1));
  EXPECT_FALSE(dialog->Item<QPushButton>(IDC_LOAD)->icon().isNull());
  EXPECT_FALSE(dialog->Item<QPushButton>(IDC_PAUSE)->icon().isNull());
  EXPECT_FALSE(dialog->windowIcon().isNull());

  const auto* range = dialog->Item<QSlider>(IDC_RANGE);
  const auto* tilt = dialog->Item<QSlider>(IDC_TILT);
  const auto* seek = dialog->Item<QSlider>(IDC_SEEK);
  EXPECT_EQ(std::tuple(range->minimum(), range->maximum(), range->value()),
            std::tuple(0, 200, 133));
  EXPECT_EQ(std::tuple(tilt->minimum(), tilt->maximum(), tilt->value()), std::tuple(0, 90, 80));
  EXPECT_EQ(std::tuple(seek->minimum(), seek->maximum(), seek->value()), std::tuple(0, 100, 0));
  EXPECT_EQ(dialog->Item<QComboBox>(IDC_PLANE_ICON)->currentText(), QStringLiteral("EasyStar"));
  EXPECT_EQ(dialog->Item<QComboBox>(IDC_PLOT)->currentText(), QStringLiteral("Ground Track"));
  EXPECT_EQ(dialog->Item<QComboBox>(IDC_PLOT)->count(), 6);
  EXPECT_EQ(dialog->GetCurSel(IDC_TELEMETRY_RATE), -1) << "no stored rate selects nothing";
  EXPECT_FALSE(dialog->IsChecked(IDC_SHOW_GROUND_TRACK));
  EXPECT_FALSE(StoredRate().isValid()) << "nothing stored before a decoder exists";

  // The KML folder is the user's private folder, with its separator.
  const auto folder = PrivateTempFolder();
  ASSERT_TRUE(folder);
  EXPECT_EQ(dialog->KmlFolder(), folder->u16string() + u"/");
  EXPECT_EQ(dialog->KmlPath(u"planePos.kml"), folder->u16string() + u"/planePos.kml");
  EXPECT_EQ(dialog->KmlPath(u""), dialog->KmlFolder());

  // The seek slider does nothing before there is a graph.
  services_.Script().ClearCalls();
  dialog->Scroll(IDC_SEEK, ui::SB_THUMBTRACK, 50);
  EXPECT_TRUE(services_.Script().Calls().empty());
}

// A folder planted where the private one belongs is refused: the user is
// told once, with the path and the reason, and no map file goes anywhere.
TEST_F(MainDialogTest, UnusablePrivateFolderIsReportedOnceAndNothingIsWritten) {
  const fs::path temp = media::Folder() / "planted-tmp";
  fs::create_directories(temp);
  const fs::path folder = temp / ("vistaroplayer-" + std::to_string(::geteuid()));
  fs::remove(folder);
  fs::create_directory_symlink("/", folder);
  const QByteArray previous = qgetenv("TMPDIR");
  qputenv("TMPDIR", QByteArray::fromStdString(temp.string()));
  auto dialog = MakeDialog();
  qputenv("TMPDIR", previous);
  if (previous.isNull()) qunsetenv("TMPDIR");

  ASSERT_EQ(boxes_.messages.size(), 1u);
  EXPECT_TRUE(boxes_.messages[0].text.contains(QString::fromStdString(folder.string())));
  EXPECT_TRUE(boxes_.messages[0].text.contains(QStringLiteral("symbolic link")));
  EXPECT_EQ(dialog->KmlPath(u"planePos.kml"), u"");
}

// The rate reaches a new decoder once its graph runs, so these play in
// real time: a file played at full speed could be over before it arrives.

TEST_F(MainDialogTest, StoredRateIsSelectedAndSentToEachNewDecoder) {
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  StoreRate(quint32(2));
  auto dialog = MakeDialog();
  EXPECT_EQ(dialog->GetCurSel(IDC_TELEMETRY_RATE), 2);

  const media::File file = FastRateWav();
  for (int load = 0; load < 2; ++load) {
    boxes_.fileAnswers.push_back(Path(file.path));
    dialog->Click(IDC_LOAD);
    ASSERT_TRUE(PlayToEnd(*dialog)) << load;
    dialog->RunRefreshCycle();
    // The rate reaches the decoder just after the stream starts, which can
    // cost the frame that begins at the very first sample.
    EXPECT_GE(dialog->GetDlgItemText(IDC_GOOD_PACKETS).toInt(), file.frames - 1) << load;
    EXPECT_EQ(dialog->GetDlgItemText(IDC_BAD_PACKETS), QStringLiteral("0")) << load;
  }
  EXPECT_EQ(StoredRate().toUInt(), 2u);
}

TEST_F(MainDialogTest, StoredRobustDecodingReachesEachNewDecoder) {
  const media::File file = FastRateWav();
  for (const bool robust : {false, true}) {
    SetUp();
    QSettings(settingsPath_, QSettings::IniFormat)
        .setValue(QStringLiteral("RobustDecoding"), robust);
    auto dialog = MakeDialog();
    boxes_.fileAnswers.push_back(Path(file.path));
    dialog->Click(IDC_LOAD);
    ComPtr<IQuorvexDemodulator> choice;
    ASSERT_EQ(dialog->Decoder().As(IID_IQuorvexDemodulator, choice), S_OK);
    int demodulator = -1;
    choice->GetDemodulator(&demodulator);
    EXPECT_EQ(demodulator, robust ? kQuorvexDemodulatorRobust : kQuorvexDemodulatorSeed);
    ASSERT_TRUE(PlayToEnd(*dialog));
  }
}

TEST_F(MainDialogTest, OutOfRangeOrMissingRatesSelectNothingAndStoreMinusOne) {
  const media::File file = FastRateWav();
  for (const QVariant& stored : {QVariant(quint32(0xFFFFFFFF)), QVariant(quint32(3)),
                                 QVariant(QStringLiteral("fast")), QVariant()}) {
    SetUp();
    SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
    if (stored.isValid()) StoreRate(stored);
    auto dialog = MakeDialog();
    EXPECT_EQ(dialog->GetCurSel(IDC_TELEMETRY_RATE), -1) << stored.toString().toStdString();
    boxes_.fileAnswers.push_back(Path(file.path));
    dialog->Click(IDC_LOAD);
    ASSERT_TRUE(PlayToEnd(*dialog));
    dialog->RunRefreshCycle();
    // No rate was sent: the decoder kept its own, and the fast signal is lost.
    EXPECT_EQ(dialog->GetDlgItemText(IDC_GOOD_PACKETS), QStringLiteral("0"));
    EXPECT_EQ(StoredRate().toUInt(), 0xFFFFFFFFu);
  }
}

TEST_F(MainDialogTest, RateChosenBeforeLoadingIsStoredOnlyWithADecoder) {
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  auto dialog = MakeDialog();
  dialog->SelectItem(IDC_TELEMETRY_RATE, 2);
  EXPECT_FALSE(StoredRate().isValid());
  const media::File file = FastRateWav();
  boxes_.fileAnswers.push_back(Path(file.path));
  dialog->Click(IDC_LOAD);
  EXPECT_EQ(StoredRate().toUInt(), 2u);
  ASSERT_TRUE(PlayToEnd(*dialog));
  dialog->RunRefreshCycle();
  EXPECT_GE(dialog->GetDlgItemText(IDC_GOOD_PACKETS).toInt(), file.frames - 1);
  // A change while a decoder exists is sent and stored at once.
  dialog->SelectItem(IDC_TELEMETRY_RATE, 0);
  EXPECT_EQ(StoredRate().toUInt(), 0u);
}

TEST_F(MainDialogTest, TransportRowsLoadPausePlay) {
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  auto dialog = MakeDialog();
  const media::File file = media::ShortWav();
  boxes_.fileAnswers.push_back(Path(file.path));
  dialog->Click(IDC_LOAD);
  ASSERT_EQ(boxes_.fileDialogs.size(), 1u);
  EXPECT_FALSE(boxes_.fileDialogs[0].save);
  EXPECT_EQ(boxes_.fileDialogs[0].filter,
            QStringLiteral("Flight recordings|*.mkv;*.mp4;*.mov;*.avi;*.ts;*.m2ts;*.mpg;*.mpeg;"
                           "*.asf;*.wmv;*.wma;*.wav;*.flac;*.ogg;*.mka;*.m4a|Audio//Video Files "
                           "(*.asf;*.wmv;*.mpg;*.mpeg;*.wma)|*.asf;*.wmv; "
                           "*.mpg; *.mpeg; *.wma| Media Player Files (*.wmv)|*.wmv|MPEG-2 Files "
                           "(*.mpg)|*.mpg|All Files (*.*)|*.*||"));
  EXPECT_TRUE(boxes_.messages.empty());
  EXPECT_FALSE(dialog->IsControlShown(IDC_PLAY));
  EXPECT_TRUE(dialog->IsControlShown(IDC_PAUSE));
  EXPECT_TRUE(dialog->IsControlEnabled(IDC_PAUSE));
  EXPECT_TRUE(dialog->IsControlEnabled(IDC_LIVE_CAPTURE));
  EXPECT_TRUE(dialog->TimerRunning(1));
  EXPECT_EQ(dialog->TimerInterval(1), 100);

  services_.Script().ClearCalls();
  dialog->Click(IDC_PAUSE);
  EXPECT_TRUE(dialog->IsControlShown(IDC_PLAY));
  EXPECT_FALSE(dialog->IsControlShown(IDC_PAUSE));
  EXPECT_GE(services_.Script().CountOf("IMediaControl::Stop"), 1);
  dialog->Click(IDC_PLAY);
  EXPECT_FALSE(dialog->IsControlShown(IDC_PLAY));
  EXPECT_TRUE(dialog->IsControlShown(IDC_PAUSE));
  EXPECT_GE(services_.Script().CountOf("IMediaControl::Run"), 1);
  ASSERT_TRUE(PlayToEnd(*dialog));

  // Play resumed where Pause stopped: every frame once. A second Load
  // replaces the decoder, whose counts start again.
  dialog->RunRefreshCycle();
  EXPECT_EQ(dialog->GetDlgItemText(IDC_GOOD_PACKETS), QString::number(file.frames));
  boxes_.fileAnswers.push_back(Path(file.path));
  dialog->Click(IDC_LOAD);
  dialog->RunRefreshCycle();
  EXPECT_LT(dialog->GetDlgItemText(IDC_GOOD_PACKETS).toInt(), file.frames);
  EXPECT_TRUE(dialog->TimerRunning(1));
}

TEST_F(MainDialogTest, FailedLoadShowsTheCodeAfterTheGraphsMessagesAndChangesNothing) {
  auto dialog = MakeDialog();
  services_.Script().Fail("IMediaControl::Run", E_FAIL);
  boxes_.fileAnswers.push_back(Path(media::ShortWav().path));
  dialog->Click(IDC_LOAD);
  ASSERT_EQ(boxes_.messages.size(), 2u) << "the graph's message, then the dialog's";
  EXPECT_EQ(boxes_.messages[0].caption, QStringLiteral("PlayCap Message"));
  EXPECT_EQ(boxes_.messages[0].text, QStringLiteral("Couldn't run the graph!  hr=0x80004005"));
  const auto& last = boxes_.messages.back();
  EXPECT_EQ(last.text, QStringLiteral("VistaroViewer"));
  EXPECT_EQ(last.caption, QStringLiteral("Could not play video (0x80004005)"));
  EXPECT_EQ(last.icon, ui::MessageIcon::kError);
  EXPECT_EQ(last.owner, dialog.get());
  EXPECT_FALSE(dialog->IsControlEnabled(IDC_PAUSE));
  EXPECT_FALSE(dialog->TimerRunning(1));

  // A file that is no media at all is the graph's to report; the dialog
  // goes on as the graph tells it.
  services_.Script().Pass("IMediaControl::Run");
  boxes_.messages.clear();
  const fs::path notMedia = media::Folder() / "notes.txt";
  std::ofstream(notMedia) << "not a recording\n";
  boxes_.fileAnswers.push_back(Path(notMedia));
  dialog->Click(IDC_LOAD);
  ASSERT_EQ(boxes_.messages.size(), 1u);
  EXPECT_TRUE(boxes_.messages[0].text.startsWith(QStringLiteral("Failed to render file! hr=0x8")));
}

TEST_F(MainDialogTest, LiveCaptureWithoutAnInputSaysSoAndKeepsTheWindow) {
  auto dialog = MakeDialog();
  const int fullWidth = dialog->width();
  services_.Script().Fail("IEnumMoniker::Next", S_FALSE);
  dialog->Click(IDC_LIVE_CAPTURE);
  ASSERT_EQ(boxes_.messages.size(), 1u);
  EXPECT_EQ(boxes_.messages[0].text.toStdString(), kNoInputText);
  EXPECT_EQ(dialog->width(), fullWidth);
  EXPECT_TRUE(dialog->IsControlEnabled(IDC_LIVE_CAPTURE)) << "to press again once plugged in";
  EXPECT_FALSE(dialog->TimerRunning(1));
}

TEST_F(MainDialogTest, LiveCaptureNarrowsTheWindowAndOnlyLoadUndoesIt) {
  REQUIRE_SOUND_SERVER();
  auto dialog = MakeDialog();
  const int fullWidth = dialog->width();
  dialog->Click(IDC_LIVE_CAPTURE);
  EXPECT_TRUE(boxes_.messages.empty());
  EXPECT_TRUE(dialog->Decoder());
  EXPECT_TRUE(dialog->TimerRunning(1));
  // The window's outer width reaches to the separator's left edge.
  EXPECT_EQ(dialog->frameGeometry().width(),
            dialog->GetDlgItem(IDC_SEPARATOR)->mapToGlobal(QPoint(0, 0)).x() -
                dialog->frameGeometry().x());
  EXPECT_FALSE(dialog->IsControlShown(IDC_PLAY));
  EXPECT_TRUE(dialog->IsControlShown(IDC_PAUSE));
  EXPECT_FALSE(dialog->IsControlEnabled(IDC_PAUSE)) << "nothing was loaded before";
  EXPECT_FALSE(dialog->IsControlEnabled(IDC_LIVE_CAPTURE));
  // Closing the window during the capture asks first; No keeps it going.
  boxes_.answers = {false};
  dialog->close();
  ASSERT_EQ(boxes_.questions.size(), 1u);
  EXPECT_EQ(boxes_.questions[0].text,
            QStringLiteral("A live capture is running. Quit and end it?"));
  EXPECT_TRUE(dialog->isVisible());

  // Cancelling the file dialog still restores the width.
  dialog->Click(IDC_LOAD);
  EXPECT_EQ(dialog->width(), fullWidth);
  EXPECT_FALSE(dialog->IsControlEnabled(IDC_LIVE_CAPTURE));

  boxes_.fileAnswers.push_back(Path(media::ShortWav().path));
  dialog->Click(IDC_LOAD);
  EXPECT_TRUE(dialog->IsControlEnabled(IDC_LIVE_CAPTURE));
  EXPECT_TRUE(dialog->IsControlEnabled(IDC_PAUSE));
}

// Before the decoder of a recording has decoded a position, its zero
// record is no fix; nothing of the last recording's fixes carries over.
TEST_F(MainDialogTest, NoFixBeforeTheFirstPositionFrame) {
  auto dialog = MakeDialog();
  boxes_.fileAnswers.push_back(Path(media::ShortWav().path));
  dialog->Click(IDC_LOAD);
  ASSERT_TRUE(PlayToEnd(*dialog));
  dialog->RunRefreshCycle();
  const fs::path planePos = fs::path(dialog->KmlPath(u"planePos.kml"));
  ASSERT_TRUE(fs::exists(planePos));
  ASSERT_GT(dialog->Refresh().state().lastSampleTime, 0);
  fs::remove(planePos);
  const std::size_t points = dialog->TrackWriter().PointCount();

  boxes_.fileAnswers.push_back(Path(media::VideoOnlyMkv().path));
  dialog->Click(IDC_LOAD);
  ASSERT_TRUE(PlayToEnd(*dialog));
  dialog->RunRefreshCycle();
  EXPECT_FALSE(fs::exists(planePos));
  EXPECT_EQ(dialog->TrackWriter().PointCount(), points);
  EXPECT_EQ(dialog->Refresh().state().lastSampleTime, -1);
  EXPECT_EQ(dialog->Refresh().state().windowEndTime, 0);
}

// At the end the transport offers Play, which plays the recording again
// from its start; the decoder still holds one flight.
TEST_F(MainDialogTest, PlayAtTheEndStartsAgainFromTheBeginning) {
  auto dialog = MakeDialog();
  const media::File file = media::ShortWav();
  boxes_.fileAnswers.push_back(Path(file.path));
  dialog->Click(IDC_LOAD);
  ASSERT_TRUE(PlayToEnd(*dialog));
  EXPECT_TRUE(dialog->IsControlShown(IDC_PLAY));
  EXPECT_FALSE(dialog->IsControlShown(IDC_PAUSE));
  int records = 0;
  dialog->Decoder()->GetRecordCount(&records);

  dialog->Click(IDC_PLAY);
  EXPECT_FALSE(dialog->PlaybackComplete());
  EXPECT_TRUE(dialog->IsControlShown(IDC_PAUSE));
  ASSERT_TRUE(PlayToEnd(*dialog)) << "Play at the end must play again";
  int again = 0;
  dialog->Decoder()->GetRecordCount(&again);
  EXPECT_EQ(again, records);
  dialog->RunRefreshCycle();
  EXPECT_EQ(dialog->GetDlgItemText(IDC_GOOD_PACKETS), QString::number(file.frames));
}

TEST_F(MainDialogTest, AFileWithoutVideoShowsTheNoVideoPicture) {
  auto dialog = MakeDialog();
  boxes_.fileAnswers.push_back(Path(media::VideoOnlyMkv().path));
  dialog->Click(IDC_LOAD);
  ASSERT_TRUE(PlayToEnd(*dialog));
  ASSERT_TRUE(dialog->VideoArea().ShowingVideo());
  boxes_.fileAnswers.push_back(Path(media::ShortWav().path));
  dialog->Click(IDC_LOAD);
  EXPECT_FALSE(dialog->VideoArea().ShowingVideo());
}

TEST_F(MainDialogTest, DraggingTheSeekSliderSeeksClickingDoesNot) {
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  auto dialog = MakeDialog();
  boxes_.fileAnswers.push_back(Path(media::LongWav().path));
  dialog->Click(IDC_LOAD);
  IMediaSeeking* seeking = dialog->Graph().MediaSeeking();
  ASSERT_NE(seeking, nullptr);
  LONGLONG current = 0, stop = 0;

  dialog->Scroll(IDC_SEEK, ui::SB_PAGERIGHT, 50);
  dialog->Scroll(IDC_SEEK, ui::SB_THUMBPOSITION, 50);
  dialog->Scroll(IDC_SEEK, ui::SB_ENDSCROLL, 50);
  seeking->GetPositions(&current, &stop);
  EXPECT_LT(current, 100'000'000) << "only thumb tracking seeks";
  dialog->RunRefreshCycle();
  EXPECT_LT(dialog->GetPos(IDC_SEEK), 10) << "the next tick puts the thumb back";

  dialog->Scroll(IDC_SEEK, ui::SB_THUMBTRACK, 50);
  EXPECT_EQ(dialog->StreamDuration(), 600'000'000);
  seeking->GetPositions(&current, &stop);
  EXPECT_GE(current, 300'000'000);
  EXPECT_LT(current, 305'000'000);
  dialog->RunRefreshCycle();
  EXPECT_EQ(dialog->GetPos(IDC_SEEK), 50);
}

TEST_F(MainDialogTest, AboutBoxFromTheSystemMenuCommand) {
  auto dialog = MakeDialog();
  QString caption;
  QString text;
  QTimer::singleShot(0, [&] {
    auto* about = dynamic_cast<ui::CDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(about, nullptr);
    caption = about->windowTitle();
    for (auto* label : about->findChildren<QLabel*>())
      if (!label->text().isEmpty()) text = label->text();
    about->Click(ui::IDOK);
  });
  dialog->OnSysCommand(0x0013);  // the low four bits do not matter
  EXPECT_EQ(caption, QStringLiteral("About VistaroPlayer"));
  EXPECT_EQ(text, QStringLiteral("VistaroPlayer Version 1.13"));

  bool shown = false;
  QTimer::singleShot(0, [&] { shown = QApplication::activeModalWidget() != nullptr; });
  dialog->OnSysCommand(0x0020);
  QApplication::processEvents();
  EXPECT_FALSE(shown);
}

TEST_F(MainDialogTest, ClosingStopsTheTimerAndTheGraph) {
  auto dialog = MakeDialog();
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  boxes_.fileAnswers.push_back(Path(media::LongWav().path));
  dialog->Click(IDC_LOAD);
  services_.Script().ClearCalls();
  dialog->close();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(dialog->TimerRunning(1));
  EXPECT_GE(services_.Script().CountOf("IMediaControl::Stop"), 1);
  dialog.reset();
}

TEST_F(MainDialogTest, EscapeNeverEndsAFlightAndClosingOneAsksFirst) {
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  auto dialog = MakeDialog();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog.get(), &escape);
  EXPECT_TRUE(dialog->isVisible());

  boxes_.fileAnswers.push_back(Path(media::LongWav().path));
  dialog->Click(IDC_LOAD);
  QApplication::sendEvent(dialog.get(), &escape);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(boxes_.questions.empty());

  boxes_.answers = {false, true};
  dialog->close();
  ASSERT_EQ(boxes_.questions.size(), 1u);
  EXPECT_EQ(boxes_.questions[0].text, QStringLiteral("A recording is playing. Quit?"));
  EXPECT_TRUE(dialog->isVisible()) << "No keeps the flight going";
  EXPECT_TRUE(dialog->TimerRunning(1));
  dialog->close();
  EXPECT_EQ(boxes_.questions.size(), 2u);
  EXPECT_FALSE(dialog->isVisible());

  // Paused, nothing is lost by closing: no question.
  auto paused = MakeDialog();
  boxes_.fileAnswers.push_back(Path(media::LongWav().path));
  paused->Click(IDC_LOAD);
  paused->Click(IDC_PAUSE);
  paused->close();
  EXPECT_EQ(boxes_.questions.size(), 2u);
  EXPECT_FALSE(paused->isVisible());
}

TEST_F(MainDialogTest, TheViewAndTheRecentRecordingsAreRememberedBetweenRuns) {
  const QString recording = Path(media::ShortWav().path);
  QPoint uplinkPlace;
  {
    auto dialog = MakeDialog();
    dialog->SelectItem(IDC_PLANE_ICON, 3);
    dialog->SelectItem(IDC_PLOT, 2);
    dialog->Click(IDC_SHOW_GROUND_TRACK);
    dialog->SetPos(IDC_RANGE, 40);
    dialog->SetPos(IDC_TILT, 12);
    dialog->Click(IDC_MOVING_MAP_MOVING);
    dialog->Click(IDC_SHOW_UPLINK);
    dialog->UplinkStatus().SetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY,
                                          QStringLiteral("-92"));
    dialog->UplinkStatus().UpdateData(true);
    // Moved by the pilot to a place on the screen.
    uplinkPlace = QPoint(40, 50);
    dialog->UplinkStatus().move(uplinkPlace);
    boxes_.fileAnswers.push_back(recording);
    dialog->Click(IDC_LOAD);
    dialog->Click(IDC_PAUSE);
    dialog->close();
  }
  auto dialog = MakeDialog();
  EXPECT_EQ(dialog->GetCurSel(IDC_PLANE_ICON), 3);
  EXPECT_EQ(dialog->GetCurSel(IDC_PLOT), 2);
  EXPECT_TRUE(dialog->IsChecked(IDC_SHOW_GROUND_TRACK));
  EXPECT_EQ(dialog->GetPos(IDC_RANGE), 40);
  EXPECT_EQ(dialog->GetPos(IDC_TILT), 12);
  EXPECT_EQ(dialog->Earth().Mode(), ViewMode::MovingMapMoving);
  EXPECT_FALSE(dialog->IsControlEnabled(IDC_MOVING_MAP_MOVING)) << "the active mode's button";
  EXPECT_EQ(dialog->Earth().IconHref(), dialog->Earth().PlaneIconLink(3));
  dialog->Click(IDC_SHOW_UPLINK);
  EXPECT_EQ(dialog->UplinkStatus().GetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY),
            QStringLiteral("-92"));
  EXPECT_EQ(dialog->UplinkStatus().pos(), uplinkPlace);
  ASSERT_FALSE(dialog->Recent().Paths().isEmpty());
  EXPECT_EQ(dialog->Recent().Paths().front(), recording);
}

}  // namespace

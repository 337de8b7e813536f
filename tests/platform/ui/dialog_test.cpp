#include "platform/ui/dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/ui/testing/recording_ui_service.h"

namespace {

using ui::ControlKind;
using ui::ControlTemplate;
using ui::DialogTemplate;

DialogTemplate TwoFieldTemplate() {
  DialogTemplate t{200, QStringLiteral("Two fields"), 120, 80, {}};
  t.controls.emplace_back(10, ControlKind::kEdit, QString(), 7, 7, 50, 12);
  t.controls.emplace_back(11, ControlKind::kEdit, QString(), 7, 24, 50, 12);
  t.controls.emplace_back(12, ControlKind::kCheckBox, QStringLiteral("Tick"), 7, 40, 50, 10);
  t.controls.emplace_back(ui::IDOK, ControlKind::kPushButton, QStringLiteral("Close"), 60, 60, 50,
                          14, ui::kDefaultButton);
  t.controls.push_back(
      ControlTemplate(13, ControlKind::kHorizontalSlider, QString(), 7, 60, 50, 14).Range(0, 100));
  t.controls.push_back(
      ControlTemplate(14, ControlKind::kVerticalSlider, QString(), 100, 7, 10, 50).Range(0, 255));
  return t;
}

class TwoFieldDialog : public ui::CDialog {
 public:
  explicit TwoFieldDialog(ui::IUiService& ui) : CDialog(TwoFieldTemplate(), ui) {}

  int count = 7;
  double ratio = 0.1;
  bool ticked = true;
  int cancels = 0;
  std::vector<std::pair<int, int>> scrolls;  // code, position

 protected:
  void DoDataExchange(ui::DataExchange& dx) override {
    dx.Text(10, count);
    dx.Text(11, ratio);
    dx.Check(12, ticked);
  }
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }
  void OnHScroll(int, int code, int position) override { scrolls.emplace_back(code, position); }
};

TEST(DialogUnits, ConvertWithTheFontsBaseUnits) {
  // The dialog manager's figures for its classic 8-point font.
  const ui::DialogBaseUnits classic{6, 13};
  EXPECT_EQ(ui::DialogUnitsToPixels(QRect(0, 0, 679, 354), classic), QRect(0, 0, 1019, 575));
  // The video area: the 740 x 517 picture, give or take the rounding of its
  // two edges.
  const QSize video = ui::DialogUnitsToPixels(QRect(179, 7, 493, 318), classic).size();
  EXPECT_NEAR(video.width(), 740, 1);
  EXPECT_EQ(video.height(), 517);
  // Adjacent controls stay adjacent after rounding.
  const QRect left = ui::DialogUnitsToPixels(QRect(7, 7, 68, 24), classic);
  const QRect right = ui::DialogUnitsToPixels(QRect(75, 7, 10, 24), classic);
  EXPECT_EQ(left.right() + 1, right.left());

  const ui::DialogBaseUnits ours = ui::BaseUnitsOf(ui::DialogFont());
  EXPECT_GE(ours.x, 5);
  EXPECT_LE(ours.x, 8);
  EXPECT_GE(ours.y, 11);
  EXPECT_LE(ours.y, 17);
}

TEST(DialogNumbers, ParseStrictlyAndWriteFifteenDigits) {
  int i = 0;
  EXPECT_TRUE(ui::ParseInt(QStringLiteral("  -42 "), &i));
  EXPECT_EQ(i, -42);
  for (const char* bad : {"", " ", "12a", "1 2", "0x10", "--1", "+-1", "99999999999", "4.0"})
    EXPECT_FALSE(ui::ParseInt(QString::fromLatin1(bad), &i)) << bad;

  double d = 0;
  EXPECT_TRUE(ui::ParseDouble(QStringLiteral(" 47.137128"), &d));
  EXPECT_DOUBLE_EQ(d, 47.137128);
  EXPECT_TRUE(ui::ParseDouble(QStringLiteral("-1e3"), &d));
  EXPECT_DOUBLE_EQ(d, -1000);
  EXPECT_TRUE(ui::ParseDouble(QStringLiteral("+2.5"), &d));
  EXPECT_DOUBLE_EQ(d, 2.5);
  for (const char* bad : {"", "abc", "1.2.3", "1,5", "inf", "nan", "1e999", "0x1p3", "5 m"})
    EXPECT_FALSE(ui::ParseDouble(QString::fromLatin1(bad), &d)) << bad;

  EXPECT_EQ(ui::FormatDouble(10.250669), QStringLiteral("10.250669"));
  EXPECT_EQ(ui::FormatDouble(1828), QStringLiteral("1828"));
  EXPECT_EQ(ui::FormatDouble(0.1 + 0.2), QStringLiteral("0.3"));
  EXPECT_EQ(ui::FormatDouble(1.0 / 3), QStringLiteral("0.333333333333333"));
}

TEST(DialogExchange, InvalidEntryStopsTheExchangeWithTheFrameworksMessage) {
  ui::testing::RecordingUiService boxes;
  TwoFieldDialog dialog(boxes);
  dialog.Create();
  dialog.show();
  EXPECT_EQ(dialog.GetDlgItemText(10), QStringLiteral("7"));
  EXPECT_EQ(dialog.GetDlgItemText(11), QStringLiteral("0.1"));
  EXPECT_TRUE(dialog.IsChecked(12));

  dialog.SetDlgItemText(10, QStringLiteral("12"));
  dialog.SetDlgItemText(11, QStringLiteral("north"));
  dialog.SetCheck(12, false);
  EXPECT_FALSE(dialog.UpdateData(true));
  EXPECT_EQ(dialog.count, 12);
  EXPECT_DOUBLE_EQ(dialog.ratio, 0.1);
  EXPECT_TRUE(dialog.ticked) << "fields after the bad one are not read";
  ASSERT_EQ(boxes.messages.size(), 1u);
  EXPECT_EQ(boxes.messages[0].text, QStringLiteral("Please enter a number."));
  EXPECT_EQ(boxes.messages[0].owner, &dialog);
  EXPECT_EQ(dialog.focusWidget(), dialog.GetDlgItem(11));

  // Close refuses to go while the entry is bad, and goes once it is fixed.
  dialog.Click(ui::IDOK);
  EXPECT_TRUE(dialog.isVisible());
  dialog.SetDlgItemText(11, QStringLiteral("2.5"));
  dialog.Click(ui::IDOK);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(dialog.HasWindow());
  EXPECT_DOUBLE_EQ(dialog.ratio, 2.5);
  EXPECT_FALSE(dialog.ticked);
}

TEST(DialogExchange, EscapeAndCloseBoxCancelAndHideAModelessDialog) {
  ui::testing::RecordingUiService boxes;
  TwoFieldDialog dialog(boxes);
  dialog.Create();
  dialog.show();
  dialog.SetDlgItemText(10, QStringLiteral("garbage"));
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.cancels, 1);
  EXPECT_TRUE(boxes.messages.empty()) << "cancel does not read back";

  dialog.show();
  EXPECT_FALSE(dialog.close());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.cancels, 2);
  // Only hidden: the members and the window survive.
  EXPECT_EQ(dialog.count, 7);
  EXPECT_TRUE(dialog.HasWindow());
  EXPECT_EQ(dialog.GetDlgItemText(10), QStringLiteral("garbage"));
}

TEST(DialogControls, LayoutStatesSlidersAndTimers) {
  ui::testing::RecordingUiService boxes;
  TwoFieldDialog dialog(boxes);
  EXPECT_EQ(dialog.GetDlgItem(10), nullptr) << "no controls before the window exists";
  dialog.Create();
  EXPECT_EQ(dialog.size(), dialog.MapDialogRect(QRect(0, 0, 120, 80)).size());
  EXPECT_EQ(dialog.GetDlgItem(11)->geometry(), dialog.MapDialogRect(QRect(7, 24, 50, 12)));
  EXPECT_EQ(dialog.GetDlgItem(999), nullptr);

  dialog.EnableControl(10, false);
  dialog.ShowControl(12, false);
  EXPECT_FALSE(dialog.IsControlEnabled(10));
  EXPECT_FALSE(dialog.IsControlShown(12));

  auto* vertical = dialog.Item<QSlider>(14);
  ASSERT_NE(vertical, nullptr);
  EXPECT_TRUE(vertical->invertedAppearance()) << "minimum at the top";

  // Dragging reports thumb tracking; a release reports position and end.
  auto* slider = dialog.Item<QSlider>(13);
  slider->setSliderDown(true);
  slider->setSliderPosition(40);
  slider->triggerAction(QAbstractSlider::SliderMove);
  slider->setSliderDown(false);
  slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
  ASSERT_GE(dialog.scrolls.size(), 2u);
  EXPECT_EQ(dialog.scrolls[0], std::make_pair(int(ui::SB_THUMBTRACK), 40));
  EXPECT_EQ(dialog.scrolls.back().first, int(ui::SB_PAGERIGHT));
  dialog.scrolls.clear();
  dialog.SetPos(13, 70);
  EXPECT_TRUE(dialog.scrolls.empty()) << "a programmatic move is no user action";
  EXPECT_EQ(dialog.GetPos(13), 70);

  dialog.SetTimer(1, 100);
  EXPECT_TRUE(dialog.TimerRunning(1));
  EXPECT_EQ(dialog.TimerInterval(1), 100);
  dialog.SetTimer(1, 100);
  EXPECT_TRUE(dialog.TimerRunning(1));
  dialog.KillTimer(1);
  EXPECT_FALSE(dialog.TimerRunning(1));
}

TEST(FileFilters, FrameworkFiltersBecomeQtFiltersWithEachPatternOnce) {
  EXPECT_EQ(ui::QtFileFilter(QStringLiteral(
                "Audio//Video Files (*.asf;*.wmv;*.mpg;*.mpeg;*.wma)|*.asf;*.wmv; *.mpg; "
                "*.mpeg; *.wma| Media Player Files (*.wmv)|*.wmv|MPEG-2 Files "
                "(*.mpg)|*.mpg|All Files (*.*)|*.*||")),
            QStringLiteral("Audio//Video Files (*.asf *.wmv *.mpg *.mpeg *.wma);;Media Player "
                           "Files (*.wmv);;MPEG-2 Files (*.mpg);;All Files (*)"));
  // A description without its list, or with another one, is followed by
  // the real list.
  EXPECT_EQ(ui::QtFileFilter(QStringLiteral("CSV Files|*.csv|Text (*.txt)|*.csv;*.txt||")),
            QStringLiteral("CSV Files (*.csv);;Text (*.txt) (*.csv *.txt)"));
  EXPECT_EQ(ui::QtFileFilter(QString()), QString());
}

}  // namespace

namespace {

// The next file dialog the service opens: its folder is read, then it is
// answered with `choose` (cancelled when empty).
void AnswerNextFileDialog(QString* folder, const QString& choose) {
  QTimer::singleShot(0, [folder, choose] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    *folder = dialog->directory().absolutePath();
    if (choose.isEmpty()) {
      dialog->reject();
    } else {
      dialog->selectFile(choose);
      static_cast<QDialog*>(dialog)->accept();
    }
  });
}

TEST(QtUiService, FileDialogsStartInTheLastFolderChosenAndBoxesDoNotWaitOffscreen) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString flights = root.filePath(QStringLiteral("flights"));
  ASSERT_TRUE(QDir().mkpath(flights));
  QFile recording(flights + QStringLiteral("/a.mkv"));
  ASSERT_TRUE(recording.open(QIODevice::WriteOnly));
  recording.close();
  const QString settings = root.filePath(QStringLiteral("settings.ini"));

  QString folder;
  AnswerNextFileDialog(&folder, recording.fileName());
  EXPECT_EQ(ui::QtUiService(settings).GetOpenFileName(nullptr, QStringLiteral("All|*.*||")),
            recording.fileName());
  // A later run, a save dialog this time.
  AnswerNextFileDialog(&folder, {});
  EXPECT_FALSE(ui::QtUiService(settings).GetSaveFileName(nullptr, QStringLiteral("x.csv"),
                                                         QStringLiteral("csv"),
                                                         QStringLiteral("CSV Files|*.csv||")));
  EXPECT_EQ(folder, QDir(flights).absolutePath());

  // Offscreen nobody could press a button: the box returns at once.
  EXPECT_EQ(
      ui::QtUiService(settings).MessageBox(nullptr, QStringLiteral("text"),
                                           QStringLiteral("caption"), ui::MessageIcon::kError),
      ui::IDOK);
  EXPECT_TRUE(ui::QtUiService(settings).AskYesNo(nullptr, QStringLiteral("Quit?"),
                                                 QStringLiteral("caption")));
}

}  // namespace

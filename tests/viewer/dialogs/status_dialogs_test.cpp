#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <cmath>
#include <optional>
#include <vector>

#include "platform/ui/testing/recording_ui_service.h"
#include "tests/fakes/scripted_decoder.h"
#include "viewer/dialogs/battery_status_dlg.h"
#include "viewer/dialogs/positional_status_dlg.h"
#include "viewer/dialogs/show_modeless.h"
#include "viewer/dialogs/uplink_status_dlg.h"

namespace {

using ui::ControlKind;
using ui::ControlTemplate;
using ui::DialogTemplate;

const QString kDegree = QString(QChar(0x00B0));

// What the decoder keeps of a coordinate it is given: the float, cut to
// 1/600000 degree, read back as a float.
float ThroughDecoder(double degrees) {
  const double units = std::trunc(static_cast<double>(static_cast<float>(degrees)) * 600000.0);
  return static_cast<float>(units / 600000.0);
}

// ---- Layout ---------------------------------------------------------------

struct ExpectedField {
  int id;
  const char* caption;
  const char* unit;  // "" for none
  bool editable = false;
};

QRect Rect(const ControlTemplate& c) { return QRect(c.x, c.y, c.cx, c.cy); }

const ControlTemplate* FindControl(const DialogTemplate& t, int id) {
  for (const ControlTemplate& c : t.controls)
    if (c.id == id) return &c;
  return nullptr;
}

std::vector<const ControlTemplate*> Statics(const DialogTemplate& t, const QString& text) {
  std::vector<const ControlTemplate*> found;
  for (const ControlTemplate& c : t.controls)
    if (c.kind == ControlKind::kStatic && c.text == text) found.push_back(&c);
  return found;
}

// Every control inside the client area, none on top of another.
void ExpectTidy(const DialogTemplate& t) {
  const QRect client(0, 0, t.cx, t.cy);
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const QRect a = Rect(t.controls[i]);
    EXPECT_TRUE(client.contains(a))
        << "outside: " << t.controls[i].text.toStdString() << " id " << t.controls[i].id;
    for (std::size_t j = i + 1; j < t.controls.size(); ++j) {
      EXPECT_FALSE(a.intersects(Rect(t.controls[j])))
          << "overlap: '" << t.controls[i].text.toStdString() << "' (" << t.controls[i].id
          << ") and '" << t.controls[j].text.toStdString() << "' (" << t.controls[j].id << ")";
    }
  }
}

// The caption stands just above its edit, the unit just right of it.
void ExpectField(const DialogTemplate& t, const ExpectedField& field) {
  SCOPED_TRACE(field.caption);
  const ControlTemplate* edit = FindControl(t, field.id);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->kind, ControlKind::kEdit);
  EXPECT_EQ((edit->style & ui::kReadOnly) != 0, !field.editable);

  bool captioned = false;
  for (const ControlTemplate* label : Statics(t, QString::fromUtf8(field.caption))) {
    const int gap = edit->y - (label->y + label->cy);
    if (gap >= 0 && gap <= 4 && label->x == edit->x) captioned = true;
  }
  EXPECT_TRUE(captioned);

  bool unitPlaced = false;
  const auto units = Statics(t, QString::fromUtf8(field.unit));
  for (const ControlTemplate* unit : units) {
    const int gap = unit->x - (edit->x + edit->cx);
    const bool sameLine = unit->y >= edit->y && unit->y + unit->cy <= edit->y + edit->cy + 2;
    if (gap >= 0 && gap <= 6 && sameLine) unitPlaced = true;
  }
  EXPECT_EQ(unitPlaced, *field.unit != '\0');
}

void ExpectCloseButton(const DialogTemplate& t) {
  const ControlTemplate* close = FindControl(t, ui::IDOK);
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->kind, ControlKind::kPushButton);
  EXPECT_EQ(close->text, "Close");
  EXPECT_TRUE(close->style & ui::kDefaultButton);
}

// With the real font: no caption, note or button text is cut off.
void ExpectTextsFit(ui::CDialog& dialog) {
  dialog.Create();
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    SCOPED_TRACE(label->text().toStdString());
    if (label->wordWrap()) {
      EXPECT_LE(label->heightForWidth(label->width()), label->height());
      const QFontMetrics metrics(label->font());
      for (const QString& word : label->text().split(u' '))
        EXPECT_LE(metrics.horizontalAdvance(word), label->width());
    } else {
      EXPECT_LE(label->sizeHint().width(), label->width());
    }
  }
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    SCOPED_TRACE(button->text().toStdString());
    EXPECT_LT(QFontMetrics(button->font()).horizontalAdvance(button->text()), button->width());
  }
}

// An edit wide enough for the longest text it can show.
void ExpectEditHolds(ui::CDialog& dialog, int id, const QString& widest) {
  auto* edit = dialog.Item<QLineEdit>(id);
  ASSERT_NE(edit, nullptr);
  EXPECT_LT(QFontMetrics(edit->font()).horizontalAdvance(widest) + 6, edit->width())
      << widest.toStdString();
}

TEST(StatusDialogLayout, Uplink) {
  const DialogTemplate t = CUplinkStatusDlg::MakeTemplate();
  EXPECT_EQ(t.id, 103);
  EXPECT_EQ(t.caption, "Dravik Uplink Status");
  EXPECT_EQ(QSize(t.cx, t.cy), QSize(399, 208));
  ExpectTidy(t);
  ExpectCloseButton(t);
  const ExpectedField fields[] = {
      {1009, "Uplink RSSI1", "dBm"},
      {1028, "Uplink RSSI2", "dBm"},
      {1010, "Uplink Quality", "%"},
      {1027, "Failsafe Count", "times"},
      {1012, "Freq Error", ""},
      {1013, "Current Bin", ""},
      {1015, "Bad Packets This Bin", ""},
      {1014, "Good Packets This Bin", ""},
      {1016, "Max. Range (no margin)", "km"},
      {1017, "Max. Range (10dB margin)", "km"},
      {1018, "Rx Sensitivity", "dBm", true},
  };
  for (const ExpectedField& field : fields) ExpectField(t, field);
  EXPECT_EQ(
      Statics(t, "Note: Uplink status requires an Aviquent long-range R/C tx/rx pair.").size(), 1u);
  EXPECT_EQ(Statics(t, "If installed, live RSSI (signal strength) data is presented during flight.")
                .size(),
            1u);

  // CH1..CH8 left to right under bars whose identifiers are not in order.
  const int bars[] = {1046, 1047, 1048, 1051, 1050, 1049, 1053, 1052};
  int previousX = -1;
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(k + 1);
    const ControlTemplate* bar = FindControl(t, bars[k]);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->kind, ControlKind::kVerticalSlider);
    EXPECT_EQ(bar->rangeMin, 0);
    EXPECT_EQ(bar->rangeMax, 255);
    EXPECT_GT(bar->x, previousX);
    previousX = bar->x;
    const auto labels = Statics(t, QStringLiteral("CH%1").arg(k + 1));
    ASSERT_EQ(labels.size(), 1u);
    const ControlTemplate* label = labels[0];
    EXPECT_GE(label->y, bar->y + bar->cy);
    EXPECT_LE(label->x, bar->x);
    EXPECT_GE(label->x + label->cx, bar->x + bar->cx);
  }

  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg dialog(ui);
  ExpectTextsFit(dialog);
  EXPECT_EQ(dialog.size(), dialog.MapDialogRect(QRect(0, 0, 399, 208)).size());
  for (int id : {1014, 1015}) ExpectEditHolds(dialog, id, "-32768");
  ExpectEditHolds(dialog, 1018, "-1000");
}

TEST(StatusDialogLayout, Positional) {
  const DialogTemplate t = CPositionalStatusDlg::MakeTemplate();
  EXPECT_EQ(t.id, 104);
  EXPECT_EQ(t.caption, "Positional Status");
  EXPECT_EQ(QSize(t.cx, t.cy), QSize(429, 191));
  ExpectTidy(t);
  ExpectCloseButton(t);
  const ExpectedField fields[] = {
      {1005, "Longitude", "deg."},
      {1006, "Latitude", "deg."},
      {1007, "Altitude (AGL)", "m"},
      {1008, "Altitude (ASL)", "m"},
      {1025, "Num Sats", ""},
      {1009, "Launch Longitude", "deg."},
      {1010, "Launch Latitude", "deg."},
      {1016, "Launch Altitude (ASL)", "m"},
      {1014, "Distance", "m"},
      {1017, "Distance Travelled", "m"},
      {1015, "Heading", "deg."},
      {1011, "Launch Longitude", "deg.", true},
      {1012, "Launch Latitude", "deg.", true},
      {1013, "Launch Altitude (ASL)", "m", true},
  };
  for (const ExpectedField& field : fields) ExpectField(t, field);

  // Three columns under their headings, the arrows between them.
  const auto heading = [&](const char* text) {
    const auto found = Statics(t, text);
    EXPECT_EQ(found.size(), 1u) << text;
    return found.empty() ? QRect() : Rect(*found[0]);
  };
  const QRect current = heading("Current Position");
  const QRect launch = heading("Launch Site");
  const QRect overrideColumn = heading("Override Launch Site");
  EXPECT_EQ(FindControl(t, 1005)->x, current.x());
  EXPECT_EQ(FindControl(t, 1009)->x, launch.x());
  EXPECT_EQ(FindControl(t, 1011)->x, overrideColumn.x());
  const ControlTemplate* toLaunch = FindControl(t, 1039);
  const ControlTemplate* fromOverride = FindControl(t, 1038);
  ASSERT_NE(toLaunch, nullptr);
  ASSERT_NE(fromOverride, nullptr);
  EXPECT_EQ(toLaunch->text, "Override >");
  EXPECT_EQ(fromOverride->text, "< Override");
  const ControlTemplate* currentUnit = Statics(t, "deg.")[0];
  EXPECT_GT(toLaunch->x, currentUnit->x + currentUnit->cx - 1);
  EXPECT_LT(toLaunch->x + toLaunch->cx, launch.x());
  EXPECT_GT(fromOverride->x, launch.x() + 60);
  EXPECT_LT(fromOverride->x + fromOverride->cx, overrideColumn.x());
  EXPECT_EQ(Statics(t,
                    "NOTE: Override the Launch coordinates if the A/V recording doesn't "
                    "contain the launch site.")
                .size(),
            1u);

  ui::testing::RecordingUiService ui;
  CPositionalStatusDlg dialog(ui);
  ExpectTextsFit(dialog);
  for (int id : {1005, 1006, 1009, 1010}) ExpectEditHolds(dialog, id, "-999.9999" + kDegree);
  for (int id : {1007, 1008, 1016}) ExpectEditHolds(dialog, id, "32000m");
  ExpectEditHolds(dialog, 1015, "-174.399993896484");
}

TEST(StatusDialogLayout, Battery) {
  const DialogTemplate t = CBatteryStatusDlg::MakeTemplate();
  EXPECT_EQ(t.id, 105);
  EXPECT_EQ(t.caption, "Battery Status");
  EXPECT_EQ(QSize(t.cx, t.cy), QSize(324, 109));
  ExpectTidy(t);
  ExpectCloseButton(t);
  const ExpectedField fields[] = {
      {1033, "Voltage", "Volts"},         {1034, "Current", "Amps"},
      {1035, "Consumption", "mAh"},       {1036, "Total mAh/km", "mAh/km"},
      {1037, "Current mAh/km", "mAh/km"}, {1039, "Total mWh/km", "mWh/km"},
      {1040, "Current mWh/km", "mWh/km"},
  };
  for (const ExpectedField& field : fields) ExpectField(t, field);
  for (const char* column : {"Battery", "mAh/km", "mWh/km"}) {
    bool heading = false;
    for (const ControlTemplate* c : Statics(t, column)) heading |= c->y < 12;
    EXPECT_TRUE(heading) << column;
  }
  // "(30 sec. update)" at the right end of the row of window figures.
  const auto note = Statics(t, "(30 sec. update)");
  ASSERT_EQ(note.size(), 1u);
  const ControlTemplate* lastOfRow = FindControl(t, 1040);
  EXPECT_GT(note[0]->x, lastOfRow->x + lastOfRow->cx);
  EXPECT_GE(note[0]->y, lastOfRow->y);
  EXPECT_LE(note[0]->y + note[0]->cy, lastOfRow->y + lastOfRow->cy + 2);

  ui::testing::RecordingUiService ui;
  CBatteryStatusDlg dialog(ui);
  ExpectTextsFit(dialog);
  ExpectEditHolds(dialog, 1033, "65.535");
  ExpectEditHolds(dialog, 1034, "-1234.56");
}

// ---- Opening and closing ----------------------------------------------------

void PressEscape(QWidget& widget) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&widget, &press);
}

TEST(StatusDialogWindows, CreatedOnFirstUseThenOnlyShown) {
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg dialog(ui);
  EXPECT_FALSE(dialog.HasWindow());
  EXPECT_FALSE(dialog.ChannelBarsExist());
  ShowModeless(dialog);
  EXPECT_TRUE(dialog.HasWindow());
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.isModal());

  // A second creation would put "-100" back into the box.
  dialog.SetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY, "-112");
  dialog.hide();
  ShowModeless(dialog);
  EXPECT_EQ(dialog.GetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY), "-112");
}

TEST(StatusDialogWindows, EscapeAndTheCloseBoxHideWithoutReadingBack) {
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg uplink(ui);
  ShowModeless(uplink);
  uplink.SetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY, "-90");
  PressEscape(uplink);
  EXPECT_FALSE(uplink.isVisible());
  EXPECT_EQ(uplink.rxSensitivity, -100);
  EXPECT_TRUE(uplink.HasWindow());

  ShowModeless(uplink);
  uplink.close();
  EXPECT_FALSE(uplink.isVisible());
  EXPECT_EQ(uplink.rxSensitivity, -100);
  // The typed text outlives the hiding and counts at the next refresh.
  ShowModeless(uplink);
  uplink.UpdateData(false);
  EXPECT_EQ(uplink.rxSensitivity, -90);

  CPositionalStatusDlg positional(ui);
  ShowModeless(positional);
  positional.SetDlgItemText(CPositionalStatusDlg::IDC_OVERRIDE_LATITUDE, "nonsense");
  PressEscape(positional);
  EXPECT_FALSE(positional.isVisible());
  positional.close();
  EXPECT_TRUE(ui.messages.empty());

  CBatteryStatusDlg battery(ui);
  ShowModeless(battery);
  battery.close();
  EXPECT_FALSE(battery.isVisible());
  ShowModeless(battery);
  PressEscape(battery);
  EXPECT_FALSE(battery.isVisible());
}

// ---- Uplink -------------------------------------------------------------------

TEST(UplinkStatus, StartsAtMinusOneHundredAndShowsTheMembers) {
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg dialog(ui);
  EXPECT_EQ(dialog.rxSensitivity, -100);
  // Samples that arrived before the window existed show at once.
  dialog.rssi1 = -70;
  dialog.rssi2 = -75;
  dialog.freqError = -3;
  dialog.nBadPacketsThisBin = 2;
  dialog.nGoodPacketsThisBin = 480;
  dialog.rangeNoMargin = 16;
  dialog.range10dB = 5;
  ShowModeless(dialog);
  EXPECT_EQ(dialog.GetDlgItemText(1009), "-70");
  EXPECT_EQ(dialog.GetDlgItemText(1028), "-75");
  EXPECT_EQ(dialog.GetDlgItemText(1012), "-3");
  EXPECT_EQ(dialog.GetDlgItemText(1015), "2");
  EXPECT_EQ(dialog.GetDlgItemText(1014), "480");
  EXPECT_EQ(dialog.GetDlgItemText(1016), "16");
  EXPECT_EQ(dialog.GetDlgItemText(1017), "5");
  EXPECT_EQ(dialog.GetDlgItemText(1018), "-100");
  EXPECT_EQ(dialog.rxSensitivity, -100);
}

TEST(UplinkStatus, SensitivityIsTakenOverAtoiStyleOnEveryRefresh) {
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg dialog(ui);
  ShowModeless(dialog);
  const struct {
    const char* typed;
    int read;
  } cases[] = {{" -95 dBm", -95}, {"", 0}, {"dBm", 0}, {"+3", 3}, {"-99999999999", INT32_MIN}};
  for (const auto& c : cases) {
    dialog.SetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY, c.typed);
    EXPECT_TRUE(dialog.UpdateData(false));
    EXPECT_EQ(dialog.rxSensitivity, c.read) << c.typed;
    // The box keeps what was typed.
    EXPECT_EQ(dialog.GetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY), c.typed);
  }
  EXPECT_TRUE(ui.messages.empty());
}

TEST(UplinkStatus, CloseReadsBackAndStaysOpenOnAnInvalidField) {
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg dialog(ui);
  ShowModeless(dialog);
  dialog.SetDlgItemText(CUplinkStatusDlg::IDC_RX_SENSITIVITY, "-97");
  dialog.SetDlgItemText(CUplinkStatusDlg::IDC_CURRENT_BIN, "x");
  dialog.Click(ui::IDOK);
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, ui::kInvalidIntegerMessage);
  EXPECT_EQ(dialog.rxSensitivity, -100);

  dialog.SetDlgItemText(CUplinkStatusDlg::IDC_CURRENT_BIN, "12");
  dialog.Click(ui::IDOK);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.iCurrentBin, 12);
  EXPECT_EQ(dialog.rxSensitivity, -97);
}

TEST(UplinkStatus, ChannelBarsRunFromZeroAtTheTopTo255) {
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg dialog(ui);
  const std::array<std::int32_t, 8> channels{0, 1, 2, 3, 4, 5, 6, 255};
  dialog.SetChannelBars(channels);  // no window yet: nothing to move
  ShowModeless(dialog);
  ASSERT_TRUE(dialog.ChannelBarsExist());
  dialog.SetChannelBars(channels);
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(k);
    QSlider* bar = dialog.channelBars[static_cast<std::size_t>(k)];
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar,
              dialog.GetDlgItem(CUplinkStatusDlg::kChannelBarIds[static_cast<std::size_t>(k)]));
    EXPECT_EQ(bar->orientation(), Qt::Vertical);
    EXPECT_TRUE(bar->invertedAppearance());
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 255);
    EXPECT_EQ(bar->value(), channels[static_cast<std::size_t>(k)]);
  }
  // A refresh of the read-outs leaves the bars where they are.
  dialog.UpdateData(false);
  EXPECT_EQ(dialog.channelBars[7]->value(), 255);
}

TEST(UplinkStatus, RecordBinKeepsOnlyBinsZeroToThirtyNine) {
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg dialog(ui);
  dialog.RecordBin(0, 3);
  dialog.RecordBin(39, 7);
  dialog.RecordBin(12, 1);
  dialog.RecordBin(12, 4);
  dialog.RecordBin(40, 9);
  dialog.RecordBin(-1, 9);
  for (int bin = 0; bin < CUplinkStatusDlg::kBins; ++bin) {
    const double expected = bin == 0 ? 3 : bin == 39 ? 7 : bin == 12 ? 4 : 0;
    EXPECT_EQ(dialog.BadPacketsInBin(bin), expected) << bin;
  }
}

// ---- Positional ---------------------------------------------------------------

TEST(PositionalStatus, ShowsFormattedReadoutsAndLeavesTheOverrideBoxesAlone) {
  ui::testing::RecordingUiService ui;
  CPositionalStatusDlg dialog(ui);
  dialog.longitude = static_cast<float>(10.292253);
  dialog.latitude = static_cast<float>(47.140845);
  dialog.altitudeAboveLaunch = -3.7;
  dialog.altitude = 1249.9;
  dialog.numSats = 9;
  dialog.heading = -190.0;
  dialog.distance = 1299.0;
  dialog.distanceTravelled = 999.9;
  dialog.launchLongitude = -0.05;
  dialog.launchLatitude = -8.5;
  dialog.launchAltitude = 400.0;
  ShowModeless(dialog);

  EXPECT_EQ(dialog.GetDlgItemText(1005), "10.2922" + kDegree);
  EXPECT_EQ(dialog.GetDlgItemText(1006), "47.1408" + kDegree);
  EXPECT_EQ(dialog.GetDlgItemText(1007), "-  3m");
  EXPECT_EQ(dialog.GetDlgItemText(1008), "1249m");
  EXPECT_EQ(dialog.GetDlgItemText(1025), "9");
  EXPECT_EQ(dialog.GetDlgItemText(1015), "-190");
  EXPECT_EQ(dialog.GetDlgItemText(1014), "1.2km");
  EXPECT_EQ(dialog.GetDlgItemText(1017), "999m");
  EXPECT_EQ(dialog.GetDlgItemText(1009), "-  0.0500" + kDegree);
  EXPECT_EQ(dialog.GetDlgItemText(1010), "-  8.5000" + kDegree);
  EXPECT_EQ(dialog.GetDlgItemText(1016), "400m");
  EXPECT_EQ(dialog.GetDlgItemText(1011), "0.0000");
  EXPECT_EQ(dialog.GetDlgItemText(1012), "0.0000");
  EXPECT_EQ(dialog.GetDlgItemText(1013), "0");

  dialog.SetDlgItemText(1011, "7.25");
  dialog.heading = -174.39999389648438;
  dialog.UpdateData(false);
  EXPECT_EQ(dialog.GetDlgItemText(1011), "7.25");
  EXPECT_EQ(dialog.GetDlgItemText(1015), "-174.399993896484");
}

class LaunchSiteOverride : public ::testing::Test {
 protected:
  struct Site {
    float longitude, latitude, altitude;
  };

  LaunchSiteOverride() {
    // Somewhere the buttons will move it away from.
    decoder.SetLaunchSite(8.5f, 47.25f, 400.0f);
  }

  Site LaunchSite(IQuorvex& quorvex) {
    Site site{};
    quorvex.GetLaunchSite(&site.longitude, &site.latitude, &site.altitude);
    return site;
  }

  ui::testing::RecordingUiService ui;
  ScriptedDecoder decoder;
  IQuorvex* current = &decoder;
  CPositionalStatusDlg dialog{ui, nullptr, [this] { return ComPtr<IQuorvex>(current); }};
};

TEST_F(LaunchSiteOverride, TypedCoordinatesRightAfterOpeningSendZeros) {
  ShowModeless(dialog);
  dialog.Click(CPositionalStatusDlg::IDC_USE_TYPED_POSITION);
  const Site site = LaunchSite(decoder);
  EXPECT_EQ(site.longitude, 0.0f);
  EXPECT_EQ(site.latitude, 0.0f);
  EXPECT_EQ(site.altitude, 0.0f);
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(LaunchSiteOverride, TypedCoordinatesGoToTheDecoderLongitudeFirst) {
  ShowModeless(dialog);
  dialog.SetDlgItemText(1011, " -122.4194 ");
  dialog.SetDlgItemText(1012, "47.25");
  dialog.SetDlgItemText(1013, "562.5");
  dialog.Click(CPositionalStatusDlg::IDC_USE_TYPED_POSITION);
  const Site site = LaunchSite(decoder);
  // The decoder keeps 1/600000 degree and centimetres, cut toward zero.
  EXPECT_EQ(site.longitude, ThroughDecoder(-122.4194));
  EXPECT_FLOAT_EQ(site.latitude, 47.25f);
  EXPECT_FLOAT_EQ(site.altitude, 562.5f);
  EXPECT_DOUBLE_EQ(dialog.overrideLongitude, -122.4194);
  EXPECT_TRUE(ui.messages.empty());
  // The launch read-outs wait for the decoder's next sample.
  EXPECT_EQ(dialog.GetDlgItemText(1009), "0.0000" + kDegree);
}

TEST_F(LaunchSiteOverride, InvalidNumberIsReportedFocusedAndNothingSent) {
  ShowModeless(dialog);
  dialog.SetDlgItemText(1011, "7.5");
  dialog.SetDlgItemText(1012, "47,25");
  dialog.Click(CPositionalStatusDlg::IDC_USE_TYPED_POSITION);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, ui::kInvalidNumberMessage);
  EXPECT_EQ(ui.messages[0].caption, ui::ApplicationName());
  EXPECT_EQ(dialog.focusWidget(), dialog.GetDlgItem(1012));
  const Site site = LaunchSite(decoder);
  EXPECT_FLOAT_EQ(site.longitude, 8.5f);
  EXPECT_FLOAT_EQ(site.latitude, 47.25f);
  EXPECT_FLOAT_EQ(site.altitude, 400.0f);

  // Close refuses too, and sends nothing either.
  dialog.Click(ui::IDOK);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_FLOAT_EQ(LaunchSite(decoder).longitude, 8.5f);

  dialog.SetDlgItemText(1012, "47.5");
  dialog.Click(ui::IDOK);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_DOUBLE_EQ(dialog.overrideLatitude, 47.5);
  EXPECT_FLOAT_EQ(LaunchSite(decoder).latitude, 47.25f);
}

TEST_F(LaunchSiteOverride, CurrentPositionSendsTheMembersWithoutReadingTheBoxes) {
  ShowModeless(dialog);
  // Before any sample: the members' zeros.
  dialog.Click(CPositionalStatusDlg::IDC_USE_CURRENT_POSITION);
  EXPECT_EQ(LaunchSite(decoder).longitude, 0.0f);

  dialog.longitude = 7.1456;
  dialog.latitude = 46.8123;
  dialog.altitude = 562.0;
  dialog.altitudeAboveLaunch = 99.0;
  dialog.SetDlgItemText(1012, "not read");
  dialog.Click(CPositionalStatusDlg::IDC_USE_CURRENT_POSITION);
  const Site site = LaunchSite(decoder);
  EXPECT_EQ(site.longitude, ThroughDecoder(7.1456));
  EXPECT_EQ(site.latitude, ThroughDecoder(46.8123));
  EXPECT_FLOAT_EQ(site.altitude, 562.0f);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(LaunchSiteOverride, ButtonsFollowTheCurrentDecoderAndIdleWithoutOne) {
  ScriptedDecoder next;
  ShowModeless(dialog);
  dialog.longitude = 1.5;
  current = &next;
  dialog.Click(CPositionalStatusDlg::IDC_USE_CURRENT_POSITION);
  EXPECT_FLOAT_EQ(LaunchSite(next).longitude, 1.5f);
  EXPECT_FLOAT_EQ(LaunchSite(decoder).longitude, 8.5f);

  current = nullptr;
  dialog.longitude = 2.5;
  dialog.Click(CPositionalStatusDlg::IDC_USE_CURRENT_POSITION);
  dialog.Click(CPositionalStatusDlg::IDC_USE_TYPED_POSITION);
  EXPECT_FLOAT_EQ(LaunchSite(next).longitude, 1.5f);

  CPositionalStatusDlg unconnected(ui);
  ShowModeless(unconnected);
  unconnected.Click(CPositionalStatusDlg::IDC_USE_CURRENT_POSITION);
  unconnected.Click(CPositionalStatusDlg::IDC_USE_TYPED_POSITION);
  EXPECT_TRUE(ui.messages.empty());
}

// ---- Battery ------------------------------------------------------------------

TEST(BatteryStatus, VoltsAndAmpsInGeneralFormatTheRestAsIntegers) {
  ui::testing::RecordingUiService ui;
  CBatteryStatusDlg dialog(ui);
  dialog.voltage = 11840;
  dialog.current = 12500;
  dialog.capacityUsed = 1500;
  dialog.totalMahPerKm = 300;
  dialog.currentMahPerKm = -12;
  dialog.totalMwhPerKm = 3330;
  dialog.currentMwhPerKm = 4100;
  ShowModeless(dialog);
  EXPECT_EQ(dialog.GetDlgItemText(1033), "11.84");
  EXPECT_EQ(dialog.GetDlgItemText(1034), "12.5");
  EXPECT_EQ(dialog.GetDlgItemText(1035), "1500");
  EXPECT_EQ(dialog.GetDlgItemText(1036), "300");
  EXPECT_EQ(dialog.GetDlgItemText(1037), "-12");
  EXPECT_EQ(dialog.GetDlgItemText(1039), "3330");
  EXPECT_EQ(dialog.GetDlgItemText(1040), "4100");

  dialog.voltage = 0;
  dialog.current = -300;
  dialog.UpdateData(false);
  EXPECT_EQ(dialog.GetDlgItemText(1033), "0");
  EXPECT_EQ(dialog.GetDlgItemText(1034), "-0.3");

  // Closing reads nothing back, so nothing in the boxes can stop it.
  dialog.SetDlgItemText(1035, "garbage");
  dialog.Click(ui::IDOK);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.capacityUsed, 1500);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace

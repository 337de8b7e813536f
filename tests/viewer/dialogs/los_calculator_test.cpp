#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "platform/earth/testing/recording_application_ge.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "viewer/dialogs/los_calculator_dlg.h"

namespace {

using ui::ControlKind;
using ui::ControlTemplate;
using Dlg = CLOSCalculatorDlg;

const ControlTemplate* FindControl(const ui::DialogTemplate& t, int id) {
  for (const ControlTemplate& c : t.controls)
    if (c.id == id) return &c;
  return nullptr;
}

QRect Rect(const ControlTemplate& c) { return QRect(c.x, c.y, c.cx, c.cy); }

bool HasStatic(const ui::DialogTemplate& t, const QString& text, const QRect& within) {
  for (const ControlTemplate& c : t.controls)
    if (c.kind == ControlKind::kStatic && c.text == text && within.contains(Rect(c))) return true;
  return false;
}

TEST(LosCalculatorLayout, TwoColumnsOfEditableFieldsAndTheTwoButtons) {
  const ui::DialogTemplate t = Dlg::MakeTemplate();
  EXPECT_EQ(t.id, 107);
  EXPECT_EQ(t.caption, "LOS Calculator");
  EXPECT_EQ(QSize(t.cx, t.cy), QSize(399, 130));
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const QRect a = Rect(t.controls[i]);
    EXPECT_TRUE(QRect(0, 0, t.cx, t.cy).contains(a)) << t.controls[i].text.toStdString();
    for (std::size_t j = i + 1; j < t.controls.size(); ++j)
      EXPECT_FALSE(a.intersects(Rect(t.controls[j]))) << t.controls[i].text.toStdString();
  }

  const struct {
    int id;
    const char* caption;
    const char* unit;
  } fields[] = {
      {1009, "Launch Longitude", "deg."},   {1010, "Launch Latitude", "deg."},
      {1045, "Launch Altitude (ASL)", "m"}, {1017, "Plane Longitude", "deg."},
      {1018, "Plane Latitude", "deg."},     {1019, "Plane Altitude (ASL)", "m"},
  };
  ui::testing::RecordingUiService ui;
  Dlg dialog(ui);
  dialog.Create();
  for (const auto& field : fields) {
    SCOPED_TRACE(field.caption);
    const ControlTemplate* edit = FindControl(t, field.id);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->kind, ControlKind::kEdit);
    EXPECT_EQ(edit->style & ui::kReadOnly, 0u);
    // Caption just above, unit just right.
    EXPECT_TRUE(HasStatic(t, field.caption, QRect(edit->x, edit->y - 12, edit->cx + 40, 12)));
    EXPECT_TRUE(HasStatic(t, field.unit, QRect(edit->x + edit->cx, edit->y, 30, edit->cy + 2)));
    // Room for the 15 significant digits the exchange writes.
    auto* box = dialog.Item<QLineEdit>(field.id);
    EXPECT_LT(QFontMetrics(box->font()).horizontalAdvance("-179.999999999999") + 6, box->width());
  }
  const ControlTemplate* launch = FindControl(t, 1009);
  EXPECT_TRUE(HasStatic(t, "Override Launch Site", QRect(launch->x, 0, t.cx / 2, launch->y)));
  EXPECT_GT(FindControl(t, 1017)->x, launch->x + launch->cx);
  EXPECT_EQ(FindControl(t, 1044)->text, "View Plane From Pilot");
  EXPECT_EQ(FindControl(t, ui::IDOK)->text, "Close");
  EXPECT_TRUE(FindControl(t, ui::IDOK)->style & ui::kDefaultButton);
  for (QLabel* label : dialog.findChildren<QLabel*>())
    EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
  for (QPushButton* button : dialog.findChildren<QPushButton*>())
    EXPECT_LT(QFontMetrics(button->font()).horizontalAdvance(button->text()), button->width());
}

// ---- Bearing --------------------------------------------------------------

// A plane `degrees` clockwise from north of a pilot at 0,0, about 0.17
// degree away, so that the 1/600000-degree units hardly move the angle.
double Bearing(double degrees) {
  const double radians = degrees * std::numbers::pi / 180.0;
  return Dlg::Bearing(0.0, 0.0, 0.17 * std::sin(radians), 0.17 * std::cos(radians));
}

TEST(LosCalculatorBearing, WholeDegreesCutTowardZero) {
  EXPECT_EQ(Dlg::Bearing(10.250669, 47.137128, 10.2717, 47.1025), 148);
  EXPECT_EQ(Dlg::Bearing(7.1, 46.8, 7.1, 46.9), 0);
  EXPECT_EQ(Dlg::Bearing(7.1, 46.8, 7.0, 46.8), -90);
  EXPECT_EQ(Dlg::Bearing(7.1, 46.8, 7.2, 46.8), 90);
  EXPECT_EQ(Dlg::Bearing(7.1, 46.8, 7.1, 46.7), 180);
  EXPECT_EQ(Dlg::Bearing(7.1, 46.8, 7.1, 46.8), 0);
  EXPECT_EQ(Bearing(148.73), 148);
  EXPECT_EQ(Bearing(-148.73), -148);
  EXPECT_EQ(Bearing(0.9), 0);
  EXPECT_EQ(Bearing(-0.9), 0);
  EXPECT_EQ(Bearing(179.6), 179);
}

TEST(LosCalculatorBearing, UnitsAreCutBeforeTheDifferenceAndNotScaledByLatitude) {
  // One degree east and one north is 45 degrees at any latitude, although on
  // the ground at 60 degrees north it is nearer 27.
  EXPECT_EQ(Dlg::Bearing(10.0, 60.0, 11.0, 61.0), 45);
  // 0.9 unit east is cut to none: no difference at all, hence 0, not 90.
  EXPECT_EQ(Dlg::Bearing(0.0, 0.0, 0.9 / 600000.0, 0.0), 0);
  // 0.5 unit is cut to 0 and 1.5 to 1: straight north; rounded, the pilot
  // would stand a unit east and the bearing would point north-west.
  EXPECT_EQ(Dlg::Bearing(0.5 / 600000.0, 0.0, 0.0, 1.5 / 600000.0), 0);
  // Coordinates far outside the globe stay defined.
  EXPECT_EQ(Dlg::Bearing(-1e300, 0.0, 1e300, 0.0), 90);
}

// ---- The dialog ------------------------------------------------------------

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void PressEscape(QWidget& widget) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&widget, &press);
}

class LosCalculator : public ::testing::Test {
 protected:
  LosCalculator() {
    folder_ =
        std::filesystem::path(::testing::TempDir()) /
        ("los-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    planePos_ = folder_ / "planePos.kml";
  }
  ~LosCalculator() override { std::filesystem::remove_all(folder_); }

  void OpenWithEarth(IApplicationGE* app) {
    dialog.Open([&] {
      ++launches;
      return Dlg::EarthHandover{ComPtr<IApplicationGE>(app), planePos_.u16string(), kIcon};
    });
  }

  static constexpr char16_t kIcon[] = u"http://127.0.0.1:8123/kml/EasyStar64x64.png";

  std::filesystem::path folder_;
  std::filesystem::path planePos_;
  int launches = 0;
  ui::testing::RecordingUiService ui;
  earth::testing::RecordingApplicationGE earth;
  Dlg dialog{ui};
};

TEST_F(LosCalculator, InitialValuesLookSouthEastLevelFromTheLaunchSite) {
  OpenWithEarth(&earth);
  EXPECT_EQ(dialog.GetDlgItemText(1009), "10.250669");
  EXPECT_EQ(dialog.GetDlgItemText(1010), "47.137128");
  EXPECT_EQ(dialog.GetDlgItemText(1045), "1828");
  EXPECT_EQ(dialog.GetDlgItemText(1017), "10.2717");
  EXPECT_EQ(dialog.GetDlgItemText(1018), "47.1025");
  EXPECT_EQ(dialog.GetDlgItemText(1019), "2112");

  dialog.Click(Dlg::IDC_VIEW_PLANE_FROM_PILOT);
  ASSERT_EQ(earth.cameras.size(), 1u);
  const auto& camera = earth.cameras[0];
  EXPECT_EQ(camera.latitude, 47.137128);
  EXPECT_EQ(camera.longitude, 10.250669);
  EXPECT_EQ(camera.altitude, 1828.0);
  EXPECT_EQ(camera.altitudeMode, AbsoluteAltitudeGE);
  EXPECT_EQ(camera.range, 60.0);
  EXPECT_EQ(camera.tilt, 90.0);
  EXPECT_EQ(camera.azimuth, 148.0);
  EXPECT_EQ(camera.speed, 2.0);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(dialog.isVisible());

  const std::string kml = ReadFile(planePos_);
  EXPECT_NE(kml.find("<name>PlanePos</name>"), std::string::npos) << kml;
  EXPECT_NE(kml.find("<scale>2.500000</scale>"), std::string::npos);
  EXPECT_NE(kml.find("<heading>0.000000</heading>"), std::string::npos);
  EXPECT_NE(kml.find("<href>http://127.0.0.1:8123/kml/EasyStar64x64.png</href>"),
            std::string::npos);
  EXPECT_NE(kml.find("<altitudeMode>absolute</altitudeMode>"), std::string::npos);
  EXPECT_NE(kml.find(",2112.000000</coordinates>"), std::string::npos);
}

TEST_F(LosCalculator, TypedPositionsAreReadBackAndUsedAsTyped) {
  OpenWithEarth(&earth);
  dialog.SetDlgItemText(1009, " 7.5 ");
  dialog.SetDlgItemText(1010, "46.25");
  dialog.SetDlgItemText(1045, "1500.5");
  dialog.SetDlgItemText(1017, "7.4");
  dialog.SetDlgItemText(1018, "46.25");
  // A plane below the pilot still gets a level view.
  dialog.SetDlgItemText(1019, "900");
  dialog.Click(Dlg::IDC_VIEW_PLANE_FROM_PILOT);

  EXPECT_EQ(dialog.launchLongitude, 7.5);
  EXPECT_EQ(dialog.planeAltitude, 900.0);
  ASSERT_EQ(earth.cameras.size(), 1u);
  EXPECT_EQ(earth.cameras[0].latitude, 46.25);
  EXPECT_EQ(earth.cameras[0].longitude, 7.5);
  EXPECT_EQ(earth.cameras[0].altitude, 1500.5);
  EXPECT_EQ(earth.cameras[0].tilt, 90.0);
  EXPECT_EQ(earth.cameras[0].azimuth, -90.0);
  EXPECT_NE(ReadFile(planePos_).find("<coordinates>7.400000,46.250000,900.000000</coordinates>"),
            std::string::npos)
      << ReadFile(planePos_);

  // Pressed again, the file is replaced rather than added to.
  dialog.SetDlgItemText(1019, "950");
  dialog.Click(Dlg::IDC_VIEW_PLANE_FROM_PILOT);
  const std::string kml = ReadFile(planePos_);
  EXPECT_EQ(kml.find(",900.000000"), std::string::npos);
  EXPECT_NE(kml.find(",950.000000"), std::string::npos);
  EXPECT_EQ(earth.cameras.size(), 2u);
}

TEST_F(LosCalculator, FailuresOfGoogleEarthOrTheIconFileAreSilent) {
  // Google Earth did not start: the icon is still placed.
  OpenWithEarth(nullptr);
  dialog.Click(Dlg::IDC_VIEW_PLANE_FROM_PILOT);
  EXPECT_TRUE(std::filesystem::exists(planePos_));

  // The icon file cannot be written: the camera still turns.
  dialog.TakeEarth(
      {ComPtr<IApplicationGE>(&earth), (folder_ / "missing" / "p.kml").u16string(), kIcon});
  dialog.Click(Dlg::IDC_VIEW_PLANE_FROM_PILOT);
  EXPECT_EQ(earth.cameras.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "missing"));
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(LosCalculator, LaunchesOnceAfterTheWindowExistsAndKeepsWhatItWasHanded) {
  dialog.Open([&] {
    ++launches;
    // The window is there before Google Earth is waited for.
    EXPECT_TRUE(dialog.HasWindow());
    EXPECT_FALSE(dialog.isVisible());
    return Dlg::EarthHandover{ComPtr<IApplicationGE>(&earth), planePos_.u16string(), kIcon};
  });
  EXPECT_EQ(launches, 1);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.planePosPath, planePos_.u16string());
  EXPECT_EQ(earth.refs.load(), 1u);

  dialog.SetDlgItemText(1019, "2500");
  dialog.Click(ui::IDOK);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.planeAltitude, 2500.0);

  earth::testing::RecordingApplicationGE other;
  dialog.Open([&] {
    ++launches;
    return Dlg::EarthHandover{ComPtr<IApplicationGE>(&other), u"elsewhere.kml", u""};
  });
  EXPECT_EQ(launches, 1);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.GetDlgItemText(1019), "2500");
  dialog.Click(Dlg::IDC_VIEW_PLANE_FROM_PILOT);
  EXPECT_EQ(earth.cameras.size(), 1u);
  EXPECT_TRUE(other.cameras.empty());
  EXPECT_EQ(other.refs.load(), 0u);
}

TEST_F(LosCalculator, InvalidNumberStopsViewAndCloseButNeitherEscapeNorTheCloseBox) {
  OpenWithEarth(&earth);
  dialog.SetDlgItemText(1018, "46,25");
  dialog.Click(Dlg::IDC_VIEW_PLANE_FROM_PILOT);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, ui::kInvalidNumberMessage);
  EXPECT_EQ(dialog.focusWidget(), dialog.GetDlgItem(1018));
  EXPECT_TRUE(earth.cameras.empty());
  EXPECT_FALSE(std::filesystem::exists(planePos_));
  EXPECT_EQ(dialog.planeLatitude, 47.1025);

  dialog.Click(ui::IDOK);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(ui.messages.size(), 2u);

  PressEscape(dialog);
  EXPECT_FALSE(dialog.isVisible());
  dialog.Open({});
  EXPECT_EQ(dialog.GetDlgItemText(1018), "46,25");
  dialog.close();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(dialog.HasWindow());
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(dialog.planeLatitude, 47.1025);
}

}  // namespace

#include "viewer/dialogs/los_calculator_dlg.h"

#include <cmath>
#include <limits>
#include <utility>

#include "common/kml_writer.h"
#include "viewer/dialogs/field_layout.h"
#include "viewer/dialogs/show_modeless.h"

namespace {

constexpr int kColumnWidth = 102;
// Wide enough for the 15 significant digits the boxes show.
constexpr int kEditWidth = 75;
constexpr int kUnitWidth = 24;
constexpr int kFirstRow = 22;
constexpr int kRowPitch = 24;

constexpr double kUnitsPerDegree = 600000.0;
// Seven decimals of pi, the value bearings have always been scaled with, so
// that one on the edge of a whole degree truncates as it always did.
constexpr double kPi = 3.1415926;

// From behind the pilot, level, at Google Earth's published absolute
// altitude mode.
constexpr double kCameraRange = 60.0;  // metres
constexpr double kCameraTilt = 90.0;   // degrees from straight down
constexpr double kCameraSpeed = 2.0;
constexpr float kIconScale = 2.5f;

// 1/600000 degree, cut toward zero. Anything typed beyond the 32-bit range
// saturates instead of making the conversion undefined.
std::int32_t Units(double degrees) {
  const double units = std::trunc(degrees * kUnitsPerDegree);
  if (!(units > std::numeric_limits<std::int32_t>::min())) {
    return std::isnan(units) ? 0 : std::numeric_limits<std::int32_t>::min();
  }
  if (units >= std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(units);
}

}  // namespace

CLOSCalculatorDlg::CLOSCalculatorDlg(ui::IUiService& ui, QWidget* parent)
    : ui::CDialog(MakeTemplate(), ui, parent) {}

ui::DialogTemplate CLOSCalculatorDlg::MakeTemplate() {
  using field_layout::AddField;
  using field_layout::Field;
  ui::DialogTemplate dialog;
  dialog.id = IDD;
  dialog.caption = QStringLiteral("LOS Calculator");
  dialog.cx = 399;
  dialog.cy = 130;

  const QString degrees = QStringLiteral("deg.");
  const QString metres = QStringLiteral("m");
  const int launchColumn = 7;
  const int planeColumn = 150;

  field_layout::AddStatic(dialog, QStringLiteral("Override Launch Site"), launchColumn, 7,
                          kColumnWidth);
  const Field launchFields[] = {
      {IDC_LAUNCH_LONGITUDE, QStringLiteral("Launch Longitude"), degrees, false},
      {IDC_LAUNCH_LATITUDE, QStringLiteral("Launch Latitude"), degrees, false},
      {IDC_LAUNCH_ALTITUDE, QStringLiteral("Launch Altitude (ASL)"), metres, false},
  };
  const Field planeFields[] = {
      {IDC_PLANE_LONGITUDE, QStringLiteral("Plane Longitude"), degrees, false},
      {IDC_PLANE_LATITUDE, QStringLiteral("Plane Latitude"), degrees, false},
      {IDC_PLANE_ALTITUDE, QStringLiteral("Plane Altitude (ASL)"), metres, false},
  };
  for (int row = 0; row < 3; ++row) {
    const int y = kFirstRow + kRowPitch * row;
    AddField(dialog, launchFields[row], launchColumn, y, kColumnWidth, kEditWidth, kUnitWidth);
    AddField(dialog, planeFields[row], planeColumn, y, kColumnWidth, kEditWidth, kUnitWidth);
  }

  field_layout::AddButton(dialog, IDC_VIEW_PLANE_FROM_PILOT,
                          QStringLiteral("View Plane From Pilot"), 293, kFirstRow + kRowPitch + 6,
                          99, 20);
  field_layout::AddButton(dialog, ui::IDOK, QStringLiteral("Close"), 342, 109, 50, 14,
                          ui::kDefaultButton);
  return dialog;
}

void CLOSCalculatorDlg::Open(const EarthLauncher& launch) {
  if (!HasWindow()) {
    Create();
    if (launch) TakeEarth(launch());
  }
  ShowModeless(*this);
}

void CLOSCalculatorDlg::TakeEarth(EarthHandover handover) {
  googleEarth = std::move(handover.googleEarth);
  planePosPath = std::move(handover.planePosPath);
  iconHref_ = std::move(handover.iconHref);
}

std::int16_t CLOSCalculatorDlg::Bearing(double launchLongitude, double launchLatitude,
                                        double planeLongitude, double planeLatitude) {
  // The differences of in-range coordinates fit 32 bits; 64 keep absurd
  // typed values defined as well.
  const std::int64_t dx =
      std::int64_t{Units(planeLongitude)} - std::int64_t{Units(launchLongitude)};
  const std::int64_t dy = std::int64_t{Units(planeLatitude)} - std::int64_t{Units(launchLatitude)};
  const float radians =
      static_cast<float>(std::atan2(static_cast<double>(dx), static_cast<double>(dy)));
  const float degrees = static_cast<float>(static_cast<double>(radians) * 180.0 / kPi);
  return static_cast<std::int16_t>(static_cast<int>(degrees));
}

void CLOSCalculatorDlg::ViewPlaneFromPilot() {
  if (!UpdateData(true)) return;
  const std::int16_t bearing =
      Bearing(launchLongitude, launchLatitude, planeLongitude, planeLatitude);

  KmlWriter plane;
  plane.SetIconStyle(iconHref_, kIconScale, 0.0f);
  plane.AddPoint(static_cast<float>(planeLongitude), static_cast<float>(planeLatitude),
                 static_cast<float>(planeAltitude), std::u16string());
  // Unwritable or not, the camera still turns: the previous icon may well
  // be where the pilot wants to look.
  plane.WritePositionFile(planePosPath, u"PlanePos", true);

  if (googleEarth) {
    googleEarth->SetCameraParams(launchLatitude, launchLongitude, launchAltitude,
                                 AbsoluteAltitudeGE, kCameraRange, kCameraTilt, bearing,
                                 kCameraSpeed);
  }
}

void CLOSCalculatorDlg::DoDataExchange(ui::DataExchange& exchange) {
  exchange.Text(IDC_LAUNCH_LONGITUDE, launchLongitude);
  exchange.Text(IDC_LAUNCH_LATITUDE, launchLatitude);
  exchange.Text(IDC_LAUNCH_ALTITUDE, launchAltitude);
  exchange.Text(IDC_PLANE_LONGITUDE, planeLongitude);
  exchange.Text(IDC_PLANE_LATITUDE, planeLatitude);
  exchange.Text(IDC_PLANE_ALTITUDE, planeAltitude);
}

void CLOSCalculatorDlg::OnCancel() { hide(); }

void CLOSCalculatorDlg::OnCommand(int id) {
  if (id == IDC_VIEW_PLANE_FROM_PILOT) {
    ViewPlaneFromPilot();
    return;
  }
  ui::CDialog::OnCommand(id);
}

#include "viewer/dialogs/positional_status_dlg.h"

#include <utility>

#include "viewer/dialogs/field_layout.h"
#include "viewer/dialogs/status_formats.h"

namespace {

constexpr int kColumnWidth = 88;
constexpr int kEditWidth = 55;
constexpr int kHeadingEditWidth = 75;
constexpr int kUnitWidth = 24;
constexpr int kFirstRow = 22;
constexpr int kRowPitch = 24;

}  // namespace

CPositionalStatusDlg::CPositionalStatusDlg(ui::IUiService& ui, QWidget* parent,
                                           CurrentDecoder decoder)
    : ui::CDialog(MakeTemplate(), ui, parent), decoder_(std::move(decoder)) {}

ui::DialogTemplate CPositionalStatusDlg::MakeTemplate() {
  using field_layout::AddField;
  using field_layout::Field;
  ui::DialogTemplate dialog;
  dialog.id = IDD;
  dialog.caption = QStringLiteral("Positional Status");
  dialog.cx = 429;
  dialog.cy = 191;

  const QString degrees = QStringLiteral("deg.");
  const QString metres = QStringLiteral("m");
  const int currentColumn = 7;
  const int launchColumn = 150;
  const int overrideColumn = 293;

  field_layout::AddStatic(dialog, QStringLiteral("Current Position"), currentColumn, 7,
                          kColumnWidth);
  const Field currentFields[] = {
      {IDC_LONGITUDE, QStringLiteral("Longitude"), degrees},
      {IDC_LATITUDE, QStringLiteral("Latitude"), degrees},
      {IDC_ALTITUDE_AGL, QStringLiteral("Altitude (AGL)"), metres},
      {IDC_ALTITUDE_ASL, QStringLiteral("Altitude (ASL)"), metres},
      {IDC_NUM_SATS, QStringLiteral("Num Sats"), {}},
      {IDC_HEADING, QStringLiteral("Heading"), degrees},
  };
  int row = 0;
  for (const Field& field : currentFields) {
    // The heading shows up to 15 significant digits.
    const int editWidth = field.id == IDC_HEADING ? kHeadingEditWidth : kEditWidth;
    AddField(dialog, field, currentColumn, kFirstRow + kRowPitch * row++, kColumnWidth, editWidth,
             kUnitWidth);
  }

  field_layout::AddStatic(dialog, QStringLiteral("Launch Site"), launchColumn, 7, kColumnWidth);
  const Field launchFields[] = {
      {IDC_LAUNCH_LONGITUDE, QStringLiteral("Launch Longitude"), degrees},
      {IDC_LAUNCH_LATITUDE, QStringLiteral("Launch Latitude"), degrees},
      {IDC_LAUNCH_ALTITUDE, QStringLiteral("Launch Altitude (ASL)"), metres},
      {IDC_DISTANCE, QStringLiteral("Distance"), metres},
      {IDC_DISTANCE_TRAVELLED, QStringLiteral("Distance Travelled"), metres},
  };
  row = 0;
  for (const Field& field : launchFields) {
    AddField(dialog, field, launchColumn, kFirstRow + kRowPitch * row++, kColumnWidth, kEditWidth,
             kUnitWidth);
  }

  field_layout::AddStatic(dialog, QStringLiteral("Override Launch Site"), overrideColumn, 7,
                          kColumnWidth);
  const Field overrideFields[] = {
      {IDC_OVERRIDE_LONGITUDE, QStringLiteral("Launch Longitude"), degrees, false},
      {IDC_OVERRIDE_LATITUDE, QStringLiteral("Launch Latitude"), degrees, false},
      {IDC_OVERRIDE_ALTITUDE, QStringLiteral("Launch Altitude (ASL)"), metres, false},
  };
  row = 0;
  for (const Field& field : overrideFields) {
    AddField(dialog, field, overrideColumn, kFirstRow + kRowPitch * row++, kColumnWidth, kEditWidth,
             kUnitWidth);
  }

  // Each arrow points at the column it copies into, level with the
  // coordinates it moves.
  field_layout::AddButton(dialog, IDC_USE_CURRENT_POSITION, QStringLiteral("Override >"), 97,
                          kFirstRow + kRowPitch + 4, 48, 14);
  field_layout::AddButton(dialog, IDC_USE_TYPED_POSITION, QStringLiteral("< Override"), 240,
                          kFirstRow + kRowPitch + 4, 48, 14);

  field_layout::AddStatic(dialog,
                          QStringLiteral("NOTE: Override the Launch coordinates if the A/V "
                                         "recording doesn't contain the launch site."),
                          overrideColumn, kFirstRow + kRowPitch * 3 + 4, 128, 36);
  field_layout::AddButton(dialog, ui::IDOK, QStringLiteral("Close"), 372, 170, 50, 14,
                          ui::kDefaultButton);
  return dialog;
}

bool CPositionalStatusDlg::OnInitDialog() {
  ui::CDialog::OnInitDialog();
  SetDlgItemText(IDC_OVERRIDE_LONGITUDE, QStringLiteral("0.0000"));
  SetDlgItemText(IDC_OVERRIDE_LATITUDE, QStringLiteral("0.0000"));
  SetDlgItemText(IDC_OVERRIDE_ALTITUDE, QStringLiteral("0"));
  return true;
}

void CPositionalStatusDlg::DoDataExchange(ui::DataExchange& exchange) {
  if (exchange.Saving()) {
    exchange.Text(IDC_OVERRIDE_LONGITUDE, overrideLongitude);
    exchange.Text(IDC_OVERRIDE_LATITUDE, overrideLatitude);
    exchange.Text(IDC_OVERRIDE_ALTITUDE, overrideAltitude);
    return;
  }
  // The override boxes are the user's: a refresh never overwrites them.
  const auto show = [&](int id, QString text) { exchange.Text(id, text); };
  show(IDC_LONGITUDE, FormatDegrees(longitude));
  show(IDC_LATITUDE, FormatDegrees(latitude));
  show(IDC_ALTITUDE_AGL, FormatAltitude(altitudeAboveLaunch));
  show(IDC_ALTITUDE_ASL, FormatAltitude(altitude));
  exchange.Text(IDC_NUM_SATS, numSats);
  show(IDC_LAUNCH_LONGITUDE, FormatDegrees(launchLongitude));
  show(IDC_LAUNCH_LATITUDE, FormatDegrees(launchLatitude));
  show(IDC_LAUNCH_ALTITUDE, FormatAltitude(launchAltitude));
  show(IDC_DISTANCE, FormatDistance(distance));
  show(IDC_DISTANCE_TRAVELLED, FormatDistance(distanceTravelled));
  exchange.Text(IDC_HEADING, heading);
}

void CPositionalStatusDlg::OnCommand(int id) {
  switch (id) {
    case IDC_USE_TYPED_POSITION:
      // An invalid box has been reported by the exchange; nothing is sent.
      if (!UpdateData(true)) return;
      SendLaunchSite(overrideLongitude, overrideLatitude, overrideAltitude);
      return;
    case IDC_USE_CURRENT_POSITION:
      SendLaunchSite(longitude, latitude, altitude);
      return;
    default:
      ui::CDialog::OnCommand(id);
  }
}

void CPositionalStatusDlg::SendLaunchSite(double siteLongitude, double siteLatitude,
                                          double siteAltitude) {
  if (!decoder_) return;
  const ComPtr<IQuorvex> quorvex = decoder_();
  if (!quorvex) return;
  // The decoder recomputes distance and altitude above launch from the
  // next fix on; the launch read-outs follow with the next refresh.
  quorvex->SetLaunchSite(static_cast<float>(siteLongitude), static_cast<float>(siteLatitude),
                         static_cast<float>(siteAltitude));
}

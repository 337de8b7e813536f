#include "viewer/dialogs/battery_status_dlg.h"

#include "viewer/dialogs/field_layout.h"
#include "viewer/dialogs/status_formats.h"

CBatteryStatusDlg::CBatteryStatusDlg(ui::IUiService& ui, QWidget* parent)
    : ui::CDialog(MakeTemplate(), ui, parent) {}

ui::DialogTemplate CBatteryStatusDlg::MakeTemplate() {
  using field_layout::AddField;
  using field_layout::Field;
  ui::DialogTemplate dialog;
  dialog.id = IDD;
  dialog.caption = QStringLiteral("Battery Status");
  dialog.cx = 324;
  dialog.cy = 109;

  constexpr int kColumns[3] = {7, 84, 161};
  constexpr int kColumnWidth = 74;
  constexpr int kEditWidth = 40;
  constexpr int kUnitWidth = 32;
  constexpr int kFirstRow = 20;
  constexpr int kRowPitch = 25;

  field_layout::AddStatic(dialog, QStringLiteral("Battery"), kColumns[0], 7, kColumnWidth);
  field_layout::AddStatic(dialog, QStringLiteral("mAh/km"), kColumns[1], 7, kColumnWidth);
  field_layout::AddStatic(dialog, QStringLiteral("mWh/km"), kColumns[2], 7, kColumnWidth);

  const auto add = [&](const Field& field, int column, int row) {
    AddField(dialog, field, kColumns[column], kFirstRow + kRowPitch * row, kColumnWidth, kEditWidth,
             kUnitWidth);
  };
  add({IDC_VOLTAGE, QStringLiteral("Voltage"), QStringLiteral("Volts")}, 0, 0);
  add({IDC_CURRENT, QStringLiteral("Current"), QStringLiteral("Amps")}, 0, 1);
  add({IDC_CONSUMPTION, QStringLiteral("Consumption"), QStringLiteral("mAh")}, 0, 2);
  add({IDC_TOTAL_MAH_PER_KM, QStringLiteral("Total mAh/km"), QStringLiteral("mAh/km")}, 1, 0);
  add({IDC_CURRENT_MAH_PER_KM, QStringLiteral("Current mAh/km"), QStringLiteral("mAh/km")}, 1, 1);
  add({IDC_TOTAL_MWH_PER_KM, QStringLiteral("Total mWh/km"), QStringLiteral("mWh/km")}, 2, 0);
  add({IDC_CURRENT_MWH_PER_KM, QStringLiteral("Current mWh/km"), QStringLiteral("mWh/km")}, 2, 1);

  field_layout::AddStatic(
      dialog, QStringLiteral("(30 sec. update)"), 240,
      kFirstRow + kRowPitch + field_layout::kCaptionGap + field_layout::kUnitDrop, 77);
  field_layout::AddButton(dialog, ui::IDOK, QStringLiteral("Close"), 267, 88, 50, 14,
                          ui::kDefaultButton);
  return dialog;
}

void CBatteryStatusDlg::DoDataExchange(ui::DataExchange& exchange) {
  if (exchange.Saving()) return;
  // The pack reports millivolts and milliamperes; pilots read volts and
  // amperes, in single precision as the on-screen display computes them.
  QString volts = FormatGeneral6(static_cast<float>(voltage) / 1000.0f);
  QString amps = FormatGeneral6(static_cast<float>(current) / 1000.0f);
  exchange.Text(IDC_VOLTAGE, volts);
  exchange.Text(IDC_CURRENT, amps);
  exchange.Text(IDC_CONSUMPTION, capacityUsed);
  exchange.Text(IDC_TOTAL_MAH_PER_KM, totalMahPerKm);
  exchange.Text(IDC_CURRENT_MAH_PER_KM, currentMahPerKm);
  exchange.Text(IDC_TOTAL_MWH_PER_KM, totalMwhPerKm);
  exchange.Text(IDC_CURRENT_MWH_PER_KM, currentMwhPerKm);
}

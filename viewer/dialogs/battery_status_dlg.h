#pragma once

#include <cstdint>

#include "platform/ui/dialog.h"

// The flight pack as the aircraft reports it, and what a kilometre costs:
// over the whole flight and over the latest 30-second window. The refresh
// cycle computes the figures and writes every member; the dialog only shows
// them.
class CBatteryStatusDlg : public ui::CDialog {
 public:
  static constexpr int IDD = 105;
  enum ControlId : int {
    IDC_VOLTAGE = 1033,
    IDC_CURRENT = 1034,
    IDC_CONSUMPTION = 1035,
    IDC_TOTAL_MAH_PER_KM = 1036,
    IDC_CURRENT_MAH_PER_KM = 1037,
    IDC_TOTAL_MWH_PER_KM = 1039,
    IDC_CURRENT_MWH_PER_KM = 1040,
  };

  explicit CBatteryStatusDlg(ui::IUiService& ui, QWidget* parent = nullptr);

  static ui::DialogTemplate MakeTemplate();

  std::int32_t voltage = 0;       // mV
  std::int32_t capacityUsed = 0;  // mAh
  std::int32_t current = 0;       // mA
  std::int32_t totalMahPerKm = 0;
  std::int32_t currentMahPerKm = 0;
  std::int32_t totalMwhPerKm = 0;
  std::int32_t currentMwhPerKm = 0;

 protected:
  // Towards the controls only: every field is a read-out.
  void DoDataExchange(ui::DataExchange& exchange) override;
};

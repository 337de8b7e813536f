#pragma once

#include <cstdint>

#include "platform/ui/dialog.h"
#include "viewer/dialogs/current_decoder.h"

// The aircraft's latest position and the launch site the decoder measures
// from, with two ways to replace that site: by the aircraft's current
// position or by typed coordinates, for recordings that start in the air.
// The refresh cycle writes the members; this dialog computes nothing.
class CPositionalStatusDlg : public ui::CDialog {
 public:
  static constexpr int IDD = 104;
  enum ControlId : int {
    IDC_LONGITUDE = 1005,
    IDC_LATITUDE = 1006,
    IDC_ALTITUDE_AGL = 1007,
    IDC_ALTITUDE_ASL = 1008,
    IDC_NUM_SATS = 1025,
    IDC_LAUNCH_LONGITUDE = 1009,
    IDC_LAUNCH_LATITUDE = 1010,
    IDC_LAUNCH_ALTITUDE = 1016,
    IDC_DISTANCE = 1014,
    IDC_DISTANCE_TRAVELLED = 1017,
    IDC_HEADING = 1015,
    IDC_OVERRIDE_LONGITUDE = 1011,
    IDC_OVERRIDE_LATITUDE = 1012,
    IDC_OVERRIDE_ALTITUDE = 1013,
    IDC_USE_CURRENT_POSITION = 1039,  // "Override >"
    IDC_USE_TYPED_POSITION = 1038,    // "< Override"
  };

  // `decoder` names the decoder the refresh cycle polls at the time of the
  // click; the buttons do nothing while it gives none.
  explicit CPositionalStatusDlg(ui::IUiService& ui, QWidget* parent = nullptr,
                                CurrentDecoder decoder = {});

  static ui::DialogTemplate MakeTemplate();
  void SetCurrentDecoder(CurrentDecoder decoder) { decoder_ = std::move(decoder); }

  double longitude = 0.0;
  double latitude = 0.0;
  double altitudeAboveLaunch = 0.0;
  double altitude = 0.0;
  std::int32_t numSats = 0;
  double heading = 0.0;
  double distance = 0.0;
  double distanceTravelled = 0.0;
  double launchLongitude = 0.0;
  double launchLatitude = 0.0;
  double launchAltitude = 0.0;
  double overrideLongitude = 0.0;
  double overrideLatitude = 0.0;
  double overrideAltitude = 0.0;

 protected:
  // Towards the controls the read-outs; back only the override boxes.
  void DoDataExchange(ui::DataExchange& exchange) override;
  bool OnInitDialog() override;
  void OnCommand(int id) override;

 private:
  void SendLaunchSite(double siteLongitude, double siteLatitude, double siteAltitude);

  CurrentDecoder decoder_;
};

#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/earth/application_ge.h"
#include "platform/ui/dialog.h"

// Lets the pilot see in Google Earth whether terrain hides the aircraft:
// the plane icon goes to the typed plane position and the camera looks
// level from the typed pilot position towards it. The judgement is the
// user's; nothing here knows about terrain.
class CLOSCalculatorDlg : public ui::CDialog {
 public:
  static constexpr int IDD = 107;
  enum ControlId : int {
    IDC_LAUNCH_LONGITUDE = 1009,
    IDC_LAUNCH_LATITUDE = 1010,
    IDC_LAUNCH_ALTITUDE = 1045,
    IDC_PLANE_LONGITUDE = 1017,
    IDC_PLANE_LATITUDE = 1018,
    IDC_PLANE_ALTITUDE = 1019,
    IDC_VIEW_PLANE_FROM_PILOT = 1044,
  };

  // What the main dialog hands over when the window is made; kept for the
  // window's whole life.
  struct EarthHandover {
    // Null when Google Earth did not start: the icon is still placed.
    ComPtr<IApplicationGE> googleEarth;
    std::u16string planePosPath;
    // The EasyStar icon whatever plane the main dialog shows: the view is
    // about the line of sight, not about the aircraft flown.
    std::u16string iconHref;
  };
  // Starts Google Earth if need be and says what to hand over.
  using EarthLauncher = std::function<EarthHandover()>;

  explicit CLOSCalculatorDlg(ui::IUiService& ui, QWidget* parent = nullptr);

  static ui::DialogTemplate MakeTemplate();

  // The main dialog's "LOS Calculator" button. The first use makes the
  // window and only then runs `launch`, which may block while Google Earth
  // starts; every use shows the window.
  void Open(const EarthLauncher& launch);
  void TakeEarth(EarthHandover handover);

  // Whole degrees clockwise from north, -180..180, from the pilot to the
  // plane. A unit of longitude counts as much as one of latitude (no cosine
  // of the latitude): the camera only has to bring the plane into its field
  // of view, and at the latitudes people fly at the error stays well inside
  // it.
  static std::int16_t Bearing(double launchLongitude, double launchLatitude, double planeLongitude,
                              double planeLatitude);

  // Button 1044.
  void ViewPlaneFromPilot();

  ComPtr<IApplicationGE> googleEarth;
  std::u16string planePosPath;
  double launchLongitude = 10.250669;
  double launchLatitude = 47.137128;
  double launchAltitude = 1828.0;
  double planeLongitude = 10.2717;
  double planeLatitude = 47.1025;
  double planeAltitude = 2112.0;

 protected:
  void DoDataExchange(ui::DataExchange& exchange) override;
  // Hides without reading back, so a half-typed number never blocks it.
  void OnCancel() override;
  void OnCommand(int id) override;

 private:
  std::u16string iconHref_;
};

#include "viewer/shell/dialog_templates.h"

#include "viewer/shell/resource.h"

using ui::ControlKind;
using ui::ControlTemplate;

namespace {

ControlTemplate Label(const char* text, int x, int y, int cx, int cy = 8) {
  return ControlTemplate(ui::IDC_STATIC, ControlKind::kStatic, QString::fromUtf8(text), x, y, cx,
                         cy);
}

ControlTemplate Button(int id, const char* text, int x, int y, int cx, int cy, unsigned style = 0) {
  return ControlTemplate(id, ControlKind::kPushButton, QString::fromUtf8(text), x, y, cx, cy,
                         style);
}

}  // namespace

ui::DialogTemplate MainDialogTemplate() {
  ui::DialogTemplate t;
  t.id = IDD_VISTAROPLAYER_DIALOG;
  t.caption = QStringLiteral("Aviquent Viewer v1.13");
  t.cx = 679;
  t.cy = 354;
  auto& c = t.controls;
  c.push_back(ControlTemplate(IDC_VIDEO_AREA, ControlKind::kPicture, {}, 179, 7, 493, 318)
                  .Image(QString::fromLatin1(kVideoAreaPicture)));
  c.push_back(Button(IDC_PLAY, "&Play", 7, 323, 68, 24, ui::kHidden).Image(kPlayIcon));
  c.push_back(Button(IDC_PAUSE, "P&ause", 7, 323, 68, 24, ui::kDisabled).Image(kPauseIcon));
  c.push_back(Button(IDC_LOAD, "&Load", 7, 291, 68, 24, ui::kDefaultButton).Image(kOpenIcon));
  c.push_back(Button(IDC_LIVE_CAPTURE, "Live &Capture", 85, 323, 68, 24));
  c.push_back(ControlTemplate(IDC_SEEK, ControlKind::kHorizontalSlider, {}, 179, 332, 493, 15)
                  .Range(0, 100));
  c.push_back(Label("Range", 7, 205, 68));
  c.push_back(
      ControlTemplate(IDC_RANGE, ControlKind::kHorizontalSlider, {}, 7, 214, 68, 14).Range(0, 200));
  c.push_back(Label("Tilt", 7, 229, 68));
  c.push_back(
      ControlTemplate(IDC_TILT, ControlKind::kHorizontalSlider, {}, 7, 238, 68, 14).Range(0, 90));
  c.push_back(Label("Good Packets", 16, 8, 59));
  c.push_back(
      ControlTemplate(IDC_GOOD_PACKETS, ControlKind::kEdit, {}, 16, 17, 59, 12, ui::kReadOnly));
  c.push_back(Label("Bad Packets", 16, 35, 59));
  c.push_back(
      ControlTemplate(IDC_BAD_PACKETS, ControlKind::kEdit, {}, 16, 44, 59, 12, ui::kReadOnly));
  c.push_back(ControlTemplate(IDC_SWAP_AUDIO, ControlKind::kCheckBox,
                              QStringLiteral("S&wap Left/Right Audio"), 7, 63, 68, 18));
  c.push_back(Label("Telemetry Rate", 7, 87, 67));
  c.push_back(ControlTemplate(IDC_TELEMETRY_RATE, ControlKind::kComboBox, {}, 7, 96, 67, 15)
                  .Items({QStringLiteral("Slow"), QStringLiteral("Norm"), QStringLiteral("Fast")}));
  c.push_back(Button(IDC_SHOW_UPLINK, "Show &Uplink\nStatus", 7, 119, 68, 22));
  c.push_back(Button(IDC_SHOW_POSITIONAL, "Show P&ositional\nStatus", 7, 148, 68, 22));
  c.push_back(Button(IDC_SHOW_BATTERY, "Show &Battery\nStatus", 7, 177, 68, 22));
  c.push_back(Button(IDC_LOS_CALCULATOR, "LOS Calcula&tor", 7, 256, 68, 24));
  c.push_back(Label("Google Link", 93, 8, 68));
  c.push_back(Button(IDC_GOOGLE_LINK, "Google Link\nO&ff", 93, 17, 68, 19,
                     ui::kDefaultButton | ui::kDisabled));
  c.push_back(Button(IDC_PILOTS_EYE, "Pilot's &Eye\nView", 85, 40, 68, 24));
  c.push_back(Button(IDC_MOVING_MAP_STATIC, "Moving Map\n&Static Camera", 85, 67, 68, 24));
  c.push_back(Button(IDC_MOVING_MAP_MOVING, "Moving Map\nMoving Ca&mera", 85, 95, 68, 24));
  c.push_back(Label("Plane Icon", 85, 122, 67));
  c.push_back(ControlTemplate(IDC_PLANE_ICON, ControlKind::kComboBox, {}, 85, 131, 67, 15)
                  .Items({QStringLiteral("EasyStar"), QStringLiteral("EasyGlider"),
                          QStringLiteral("Cularis"), QStringLiteral("FunJet"),
                          QStringLiteral("Generic"), QStringLiteral("Zephyr")}));
  c.push_back(ControlTemplate(IDC_SHOW_GROUND_TRACK, ControlKind::kCheckBox,
                              QStringLiteral("Show &Ground\nTrack"), 85, 144, 76, 18));
  c.push_back(Label("Plot", 85, 163, 67));
  c.push_back(ControlTemplate(IDC_PLOT, ControlKind::kComboBox, {}, 85, 172, 67, 15)
                  .Items({QStringLiteral("Ground Track"), QStringLiteral("Altitude"),
                          QStringLiteral("RSSI"), QStringLiteral("Lost Packets"),
                          QStringLiteral("Link Quality"), QStringLiteral("GPS Sat Count")}));
  c.push_back(Button(IDC_CLEAR_KML, "Clea&r\nKML File", 85, 194, 68, 24));
  c.push_back(Button(IDC_EXPORT_HISTORY, "Export\n&History", 85, 225, 68, 24));
  c.push_back(Button(IDC_EXPORT_KML, "Export &KML\nFile", 85, 256, 68, 24));
  c.push_back(Button(IDC_EXCEL_PROBE, "Button1", 158, 233, 16, 22, ui::kHidden));
  // Added to the original layout in free space left of the separator, so
  // that it stays in view in the narrow window of a live capture.
  c.push_back(ControlTemplate(IDC_TIME_LABEL, ControlKind::kStatic, {}, 85, 305, 78, 10));
  c.push_back(ControlTemplate(IDC_SEPARATOR, ControlKind::kEtchedVerticalLine, {}, 165, 7, 3, 310));
  return t;
}

ui::DialogTemplate AboutDialogTemplate() {
  ui::DialogTemplate t;
  t.id = IDD_ABOUTBOX;
  t.caption = QStringLiteral("About VistaroPlayer");
  t.cx = 235;
  t.cy = 55;
  t.controls.push_back(
      ControlTemplate(IDR_MAINFRAME, ControlKind::kIcon, {}, 11, 17, 20, 20).Image(kAppIcon32));
  t.controls.push_back(Label("VistaroPlayer Version 1.13", 40, 10, 119));
  t.controls.push_back(Button(1, "OK", 178, 7, 50, 16, ui::kDefaultButton));
  return t;
}

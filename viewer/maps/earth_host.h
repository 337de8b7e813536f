#pragma once

#include <string>
#include <string_view>

#include "common/iquorvex.h"
#include "platform/com/com_ptr.h"

class KmlWriter;
class QWidget;

namespace ui {
class IUiService;
}

// The Google Earth view modes, numbered as the main dialog's buttons send them.
enum class ViewMode : int {
  Off = 0,              // "Google Link\nOff" (1023)
  PilotsEye = 1,        // "Pilot's Eye\nView" (1020)
  MovingMapStatic = 2,  // "Moving Map\nStatic Camera" (1021)
  MovingMapMoving = 3,  // "Moving Map\nMoving Camera" (1022)
};

// What the Google Earth link needs from the main dialog: a few controls,
// the KML files, the flight track, the current decoder and the modal boxes.
// The main dialog implements it; tests supply their own. Every call comes
// from the user-interface thread.
class IEarthHost {
 public:
  // ---- Controls of the main dialog ----
  // The Range slider (1016, 0..200, metres) and the Tilt slider (1017,
  // 0..90, degrees).
  virtual int RangePosition() = 0;
  virtual int TiltPosition() = 0;
  // The view-mode button of `mode` (1023, 1020, 1021 or 1022).
  virtual void EnableViewButton(ViewMode mode, bool enabled) = 0;
  // Redraws the four view-mode buttons at once (invalidate, erase, update).
  virtual void RedrawViewButtons() = 0;
  // "Show Ground Track" (1024).
  virtual bool ShowGroundTrack() = 0;
  // The plane-icon list (1019); -1 when nothing is selected.
  virtual int PlaneIconSelection() = 0;

  // ---- KML files ----
  // The KML folder joined with `fileName`.
  virtual std::u16string KmlPath(std::u16string_view fileName) = 0;
  // The flight track of the refresh cycle.
  virtual KmlWriter& TrackWriter() = 0;

  // ---- Decoder and boxes ----
  // The control interface of the media graph's decoder; empty without one.
  virtual ComPtr<IQuorvex> CurrentDecoder() = 0;
  virtual ui::IUiService& Ui() = 0;
  // The owner of the link's message boxes.
  virtual QWidget* MainWindow() = 0;

 protected:
  ~IEarthHost() = default;
};

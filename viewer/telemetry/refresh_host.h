#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/telemetry_snapshot.h"
#include "platform/gst/graph_interfaces.h"

class CBatteryStatusDlg;
class CPositionalStatusDlg;
class CUplinkStatusDlg;
class KmlWriter;

// What the refresh cycle needs from the main dialog: the media graph, a few
// controls, the KML files, the three status dialogs and the Google Earth
// link. The main dialog implements it; tests supply their own. Every call
// comes from the user-interface thread, inside one tick.
class IRefreshHost {
 public:
  // ---- Media graph (all null before the first Load or Live Capture) ----
  virtual IMediaSeeking* MediaSeeking() = 0;
  // Where the graph's duration is kept (100 ns units); the tick refreshes it
  // from MediaSeeking and the seek handler reads it.
  virtual LONGLONG& Duration() = 0;
  // The decoder filter; the tick queries the decoder's control interface
  // from it. Any IUnknown of the filter will do.
  virtual IUnknown* DecoderFilter() = 0;

  // ---- Controls of the main dialog ----
  // The seek slider, 0..100.
  virtual void SetSeekSlider(int position) = 0;
  // "Swap Left/Right Audio".
  virtual bool SwapAudioChecked() = 0;
  // "Good Packets" and "Bad Packets", as unsigned decimal integers.
  virtual void ShowPacketCounts(std::uint32_t goodPackets, std::uint32_t badPackets) = 0;
  // The "Plot" list: 0 Ground Track, 1 Altitude, 2 RSSI, 3 Lost Packets,
  // 4 Link Quality, 5 GPS Sat Count; -1 when nothing is selected.
  virtual int PlotSelection() = 0;
  // "Show Ground Track".
  virtual bool ShowGroundTrack() = 0;

  // ---- KML files ----
  // The plane icon link chosen in the plane-icon list.
  virtual std::u16string IconHref() = 0;
  // The KML folder joined with `fileName`.
  virtual std::u16string KmlPath(std::u16string_view fileName) = 0;
  // The flight track; the cycle only appends to it.
  virtual KmlWriter& TrackWriter() = 0;

  // ---- Status dialogs: value holders whose windows may not exist yet ----
  virtual CUplinkStatusDlg& UplinkStatus() = 0;
  virtual CPositionalStatusDlg& PositionalStatus() = 0;
  virtual CBatteryStatusDlg& BatteryStatus() = 0;

  // ---- Google Earth ----
  // Starts Google Earth when a view mode is chosen and the link is not up.
  virtual void LaunchEarth(bool force) = 0;
  // The link is up and the application object is present.
  virtual bool EarthLinkedAndPresent() = 0;
  // Degrees, degrees, metres above sea level, degrees.
  virtual void DriveCamera(double latitude, double longitude, double altitude, double heading) = 0;

  // ---- Live map ----
  // Each new fix, once the dialogs have it (RSSI in dBm); a host without a
  // map ignores it.
  virtual void ShowOnMap(const TelemetrySnapshot& /*sample*/) {}

 protected:
  ~IRefreshHost() = default;
};

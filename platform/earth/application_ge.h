#pragma once

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/class_factory.h"
#include "platform/com/unknown.h"

// The part of Google Earth's automation interface that the viewer calls.
// Google Earth's own server exists only on Windows; elsewhere the class
// registered under the same ProgID is our stand-in (earth_stand_in.h), which
// starts the user's Google Earth program and steers it with KML.

inline constexpr IID IID_IApplicationGE{
    0x2830837B, 0xD4E8, 0x48C6, {0xB6, 0xEE, 0x04, 0x63, 0x33, 0x72, 0xAB, 0xE4}};

inline constexpr char16_t kApplicationGEProgId[] = u"GoogleEarth.ApplicationGE";

// Google Earth's published values.
enum AltitudeModeGE : std::int32_t {
  RelativeToGroundAltitudeGE = 1,
  AbsoluteAltitudeGE = 2,
};

struct IApplicationGE : IUnknown {
  // Nonzero once Google Earth takes calls.
  virtual HRESULT STDMETHODCALLTYPE IsInitialized(BOOL* isInitialized) = 0;
  // Loads a KML file (a network link keeps reloading what it links).
  virtual HRESULT STDMETHODCALLTYPE OpenKmlFile(BSTR fileName, BOOL suppressMessages) = 0;
  // Flies the camera to look at the point from `range` metres, tilted from
  // the vertical by `tilt` degrees and facing `azimuth` degrees from north.
  virtual HRESULT STDMETHODCALLTYPE SetCameraParams(double latitude, double longitude,
                                                    double altitude, AltitudeModeGE altitudeMode,
                                                    double range, double tilt, double azimuth,
                                                    double speed) = 0;

 protected:
  ~IApplicationGE() = default;
};

// Windows error codes as HRESULTs, the way Google Earth's server reports them.
constexpr HRESULT HresultFromWin32(std::uint32_t code) {
  return MakeHresult(0x80070000u | (code & 0xFFFFu));
}
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_TIMEOUT = 1460;
inline constexpr std::uint32_t RPC_S_SERVER_UNAVAILABLE = 1722;

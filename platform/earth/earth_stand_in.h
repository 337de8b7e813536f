#pragma once

#include <chrono>
#include <filesystem>

#include "platform/earth/application_ge.h"

// The class behind "GoogleEarth.ApplicationGE" where Google Earth has no
// automation server. Creating it starts the user's Google Earth program
// (earth_program.h) with one session document of ours, which network-links
// two more documents that the stand-in rewrites: the list of the files
// handed over by OpenKmlFile and the camera, a LookAt that Google Earth flies
// to whenever it reloads that link. So nothing has to reach the running
// program except through the files it keeps reloading.
//
// Google Earth flies to the camera document's view on every reload, so a view
// that stays in it would hold the user's camera for good. Each view is
// therefore withdrawn once it has had time to be seen: `viewHold` after the
// last SetCameraParams, and not before `startupGrace` after the program was
// started, which gives a slow start the time to read it.

namespace earth {

inline constexpr CLSID CLSID_ApplicationGEStandIn{
    0xC9159B44, 0xB759, 0x429B, {0xA5, 0x71, 0xED, 0xD0, 0x35, 0xAD, 0xA6, 0x79}};

// Inside the stand-in's folder.
inline constexpr char kSessionDocument[] = "session.kml";
inline constexpr char kFileListDocument[] = "files.kml";
inline constexpr char kCameraDocument[] = "camera.kml";

// How often Google Earth is told to reload the camera and the file list.
inline constexpr double kCameraRefreshSeconds = 0.2;
inline constexpr double kFileListRefreshSeconds = 2.0;

struct StandInOptions {
  // Empty: "earth" in the user's private temporary folder.
  std::filesystem::path folder;
  std::chrono::milliseconds viewHold{2000};
  std::chrono::milliseconds startupGrace{20000};
};

// HresultFromWin32(ERROR_FILE_NOT_FOUND) when there is no Google Earth
// program, E_FAIL when the documents cannot be written or the program not
// started. The program is left running when the object goes, as Google
// Earth stays open after its automation clients have left.
//
// IsInitialized is nonzero while the program runs, and also after it ended
// with status 0, which is how a second start hands its file to a Google Earth
// that was already open. A program that failed makes every call return
// HresultFromWin32(RPC_S_SERVER_UNAVAILABLE). SetCameraParams accepts the
// speed but cannot pass it on: KML leaves the speed of a network link's
// fly-to to Google Earth.
HRESULT CreateApplicationGEStandIn(const StandInOptions& options, IApplicationGE** app);

// For the component server library: the class object, which creates the
// stand-in with the default options, and whether objects or locks remain.
HRESULT GetStandInClassObject(REFIID iid, void** object);
bool StandInInUse();

}  // namespace earth

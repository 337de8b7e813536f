#pragma once

#include <chrono>
#include <filesystem>

#include "platform/earth/application_ge.h"

// The class behind "GoogleEarth.ApplicationGE" where Google Earth has no
// automation server. Creating it starts the user's Google Earth program
// (earth_program.h) with one session document of ours, which network-links
// two more documents: the list of the files handed over by OpenKmlFile, and
// the camera, a LookAt that Google Earth flies to whenever it reloads that
// link. So nothing has to reach the running program except through what it
// keeps reloading.
//
// Google Earth flies to the camera document's view on every reload, so a view
// that stays in it would hold the user's camera for good. The camera is
// therefore served from a loopback web server that lives only as long as this
// object: once the viewer is gone, however it ended, the reload fails and
// Google Earth leaves the camera where it is. While we live, each view is
// withdrawn once it has had time to be seen: `viewHold` after the last
// SetCameraParams, and not before `startupGrace` after the program was
// started, which gives a slow start the time to read it.
//
// A Google Earth of this user that already runs is not started again (a
// second instance does not hand its file over, and may crash): the documents
// are written all the same, and IEarthSession (earth_session.h) names the
// session document that the pilot must open in it.

namespace earth {

inline constexpr CLSID CLSID_ApplicationGEStandIn{
    0xC9159B44, 0xB759, 0x429B, {0xA5, 0x71, 0xED, 0xD0, 0x35, 0xAD, 0xA6, 0x79}};

// Inside the stand-in's folder.
inline constexpr char kSessionDocument[] = "session.kml";
inline constexpr char kFileListDocument[] = "files.kml";
// The path of the camera document on the stand-in's web server.
inline constexpr char kCameraPath[] = "/camera.kml";

// How often Google Earth is told to reload the camera and the file list. The
// camera: Google Earth animates each fly-to at the user's Fly-To speed, so a
// reload faster than about half a second only restarts the animation and
// loads both sides. The file list changes only when a file is opened, right
// after the start, and each reload recreates the links it holds.
inline constexpr double kCameraRefreshSeconds = 0.5;
inline constexpr double kFileListRefreshSeconds = 10.0;

struct StandInOptions {
  // Empty: "earth" in the user's private temporary folder.
  std::filesystem::path folder;
  std::chrono::milliseconds viewHold{2000};
  std::chrono::milliseconds startupGrace{20000};
  // A program that ends before it has run this long failed to start.
  std::chrono::milliseconds startupSettle{2000};
  // The camera's port: -1 for this user's own port (the same on every run)
  // or any free one when that is taken; 0 for any free one.
  int port = -1;
};

// HresultFromWin32(ERROR_FILE_NOT_FOUND) when there is no Google Earth
// program, E_FAIL when the documents cannot be written, the camera not be
// served or the program not started. The program is left running when the
// object goes, as Google Earth stays open after its automation clients have
// left.
//
// IsInitialized is nonzero once the program has run for `startupSettle`, or
// at once for a Google Earth that was already running. Once the program has
// ended (or the one found running has gone), every call returns
// HresultFromWin32(RPC_S_SERVER_UNAVAILABLE), so that the caller starts a new
// one. SetCameraParams accepts the speed but cannot pass it on: KML leaves
// the speed of a network link's fly-to to Google Earth.
HRESULT CreateApplicationGEStandIn(const StandInOptions& options, IApplicationGE** app);

// For the component server library: the class object, which creates the
// stand-in with the default options, and whether objects or locks remain.
HRESULT GetStandInClassObject(REFIID iid, void** object);
bool StandInInUse();

}  // namespace earth

// The component server that puts the stand-in under Google Earth's ProgID.
// Registering it is what installing Google Earth does on Windows, so it
// registers only where a Google Earth program is found; elsewhere the
// ProgID stays unknown and the viewer reports that Google Earth is missing.

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "platform/com/component_registry.h"
#include "platform/com/library_path.h"
#include "platform/com/utf.h"
#include "platform/earth/earth_program.h"
#include "platform/earth/earth_stand_in.h"

#define EARTH_EXPORT extern "C" __attribute__((visibility("default")))

EARTH_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
EARTH_EXPORT HRESULT DllCanUnloadNow();
EARTH_EXPORT HRESULT DllRegisterServer();
EARTH_EXPORT HRESULT DllUnregisterServer();

namespace {

const char libraryMarker = 0;

std::filesystem::path LibraryPath() { return PathOfLibraryHolding(&libraryMarker); }

std::string ProgId() { return Utf16ToUtf8(kApplicationGEProgId); }

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != earth::CLSID_ApplicationGEStandIn) return CLASS_E_CLASSNOTAVAILABLE;
  return earth::GetStandInClassObject(iid, object);
}

HRESULT DllCanUnloadNow() { return earth::StandInInUse() ? S_FALSE : S_OK; }

HRESULT DllRegisterServer() {
  if (!earth::FindEarthProgram()) {
    // A registration from a machine that had Google Earth must not outlive it.
    DllUnregisterServer();
    return HresultFromWin32(ERROR_FILE_NOT_FOUND);
  }
  const std::filesystem::path library = LibraryPath();
  if (library.empty()) return E_FAIL;
  HRESULT hr =
      com_registry::RegisterServer({earth::CLSID_ApplicationGEStandIn,
                                    "Google Earth automation over KML", library, "Apartment"});
  if (SUCCEEDED(hr)) hr = com_registry::RegisterProgId(ProgId(), earth::CLSID_ApplicationGEStandIn);
  if (FAILED(hr)) DllUnregisterServer();
  return hr;
}

HRESULT DllUnregisterServer() {
  const HRESULT progId = com_registry::UnregisterProgId(ProgId());
  const HRESULT server = com_registry::UnregisterServer(earth::CLSID_ApplicationGEStandIn);
  return FAILED(progId) ? progId : server;
}

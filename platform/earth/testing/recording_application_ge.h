#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/com/utf.h"
#include "platform/earth/application_ge.h"

namespace earth::testing {

// Records every call; becomes ready after a set number of readiness queries.
// Lives on the stack of a test: references are counted but never free it.
class RecordingApplicationGE final : public IApplicationGE {
 public:
  struct Camera {
    double latitude, longitude, altitude;
    AltitudeModeGE altitudeMode;
    double range, tilt, azimuth, speed;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IApplicationGE) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IApplicationGE*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }

  HRESULT STDMETHODCALLTYPE IsInitialized(BOOL* isInitialized) override {
    ++readinessQueries;
    *isInitialized = readinessQueries > notReadyQueries ? 1 : 0;
    return *isInitialized ? S_OK : notReadyResult;
  }
  HRESULT STDMETHODCALLTYPE OpenKmlFile(BSTR fileName, BOOL suppressMessages) override {
    openedFiles.push_back(Utf16ToUtf8(std::u16string_view(fileName, SysStringLen(fileName))));
    suppressFlags.push_back(suppressMessages);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetCameraParams(double latitude, double longitude, double altitude,
                                            AltitudeModeGE altitudeMode, double range, double tilt,
                                            double azimuth, double speed) override {
    cameras.push_back({latitude, longitude, altitude, altitudeMode, range, tilt, azimuth, speed});
    return S_OK;
  }

  // Queries answered "not ready", with `notReadyResult`, before the first "ready".
  int notReadyQueries = 0;
  HRESULT notReadyResult = S_OK;

  std::atomic<ULONG> refs{0};
  int readinessQueries = 0;
  std::vector<std::string> openedFiles;
  std::vector<BOOL> suppressFlags;
  std::vector<Camera> cameras;
};

}  // namespace earth::testing

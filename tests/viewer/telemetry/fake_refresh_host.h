#pragma once

// A main dialog that records what the refresh cycle does to it.

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "common/kml_writer.h"
#include "platform/com/utf.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "viewer/dialogs/battery_status_dlg.h"
#include "viewer/dialogs/positional_status_dlg.h"
#include "viewer/dialogs/uplink_status_dlg.h"
#include "viewer/telemetry/refresh_host.h"

class FakeSeeking final : public IMediaSeeking {
 public:
  LONGLONG duration = 0;
  LONGLONG current = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IMediaSeeking) {
      *object = static_cast<IMediaSeeking*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* value) override {
    *value = duration;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* now, LONGLONG* stop) override {
    if (now) *now = current;
    if (stop) *stop = duration;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override {
    return S_OK;
  }
};

class FakeRefreshHost final : public IRefreshHost {
 public:
  explicit FakeRefreshHost(std::filesystem::path folder) : folder_(std::move(folder)) {}

  struct Camera {
    double latitude, longitude, altitude, heading;
  };

  // What the main dialog would hold.
  IMediaSeeking* seeking = nullptr;
  LONGLONG duration = -1;
  IUnknown* decoder = nullptr;
  bool swapAudio = false;
  int plot = 0;
  bool showGroundTrack = false;
  std::u16string iconHref = u"http://127.0.0.1/kml/EasyStar64x64.png";
  bool earthLinked = false;
  KmlWriter track;
  ui::testing::RecordingUiService ui;
  CUplinkStatusDlg uplink{ui};
  CPositionalStatusDlg positional{ui};
  CBatteryStatusDlg battery{ui};

  // What the cycle did.
  std::vector<int> seekPositions;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> packetCounts;
  std::vector<bool> launches;  // the force flags
  std::vector<Camera> cameras;

  std::filesystem::path File(const char* name) const { return folder_ / name; }

  IMediaSeeking* MediaSeeking() override { return seeking; }
  LONGLONG& Duration() override { return duration; }
  IUnknown* DecoderFilter() override { return decoder; }
  void SetSeekSlider(int position) override { seekPositions.push_back(position); }
  bool SwapAudioChecked() override { return swapAudio; }
  void ShowPacketCounts(std::uint32_t good, std::uint32_t bad) override {
    packetCounts.emplace_back(good, bad);
  }
  int PlotSelection() override { return plot; }
  bool ShowGroundTrack() override { return showGroundTrack; }
  std::u16string IconHref() override { return iconHref; }
  std::u16string KmlPath(std::u16string_view name) override {
    return Utf8ToUtf16(folder_.string() + "/") + std::u16string(name);
  }
  KmlWriter& TrackWriter() override { return track; }
  CUplinkStatusDlg& UplinkStatus() override { return uplink; }
  CPositionalStatusDlg& PositionalStatus() override { return positional; }
  CBatteryStatusDlg& BatteryStatus() override { return battery; }
  void LaunchEarth(bool force) override { launches.push_back(force); }
  bool EarthLinkedAndPresent() override { return earthLinked; }
  void DriveCamera(double latitude, double longitude, double altitude, double heading) override {
    cameras.push_back({latitude, longitude, altitude, heading});
  }

 private:
  std::filesystem::path folder_;
};

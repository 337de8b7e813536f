#pragma once

// A decoder that reports exactly what a test sets, and a main dialog that
// records what the refresh cycle does to it.

#include <array>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "common/iquorvex.h"
#include "common/kml_writer.h"
#include "common/telemetry_snapshot.h"
#include "platform/com/utf.h"
#include "platform/ui/testing/recording_ui_service.h"
#include "viewer/dialogs/battery_status_dlg.h"
#include "viewer/dialogs/positional_status_dlg.h"
#include "viewer/dialogs/uplink_status_dlg.h"
#include "viewer/telemetry/refresh_host.h"

// Values as the decoder delivers them (RSSI not yet negated).
using DecoderValues = TelemetrySnapshot;

class FakeQuorvex final : public IQuorvex {
 public:
  DecoderValues values;
  std::vector<int> audioChannels;
  int positionReads = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IQuorvex) {
      *object = static_cast<IQuorvex*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  ULONG References() const { return refs_; }

  HRESULT STDMETHODCALLTYPE SetSerialPort(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPacketCounts(int* good, int* bad) override {
    *good = values.goodPackets;
    *bad = values.badPackets;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPosition(int* timeMs, float* longitude, float* latitude,
                                        float* altitude, float* altitudeAboveLaunch, float* heading,
                                        float* distance, float* distanceTravelled,
                                        int* numSats) override {
    ++positionReads;
    *timeMs = values.timeMs;
    *longitude = values.longitude;
    *latitude = values.latitude;
    *altitude = values.altitude;
    *altitudeAboveLaunch = values.altitudeAboveLaunch;
    *heading = values.heading;
    *distance = values.distance;
    *distanceTravelled = values.distanceTravelled;
    *numSats = values.numSats;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteTrackKml(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ClearTrack() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUplinkStatus(int* rssiValue1, int* rssiValue2, int* linkQuality,
                                            int* nFailsafes, int* freqError, int* iCurrentBin,
                                            int* nGoodPacketsThisBin, int* nBadPacketsThisBin,
                                            int channels[12]) override {
    *rssiValue1 = values.rssiValue1;
    *rssiValue2 = values.rssiValue2;
    *linkQuality = values.linkQuality;
    *nFailsafes = values.nFailsafes;
    *freqError = values.freqError;
    *iCurrentBin = values.iCurrentBin;
    *nGoodPacketsThisBin = values.nGoodPacketsThisBin;
    *nBadPacketsThisBin = values.nBadPacketsThisBin;
    for (std::size_t i = 0; i < values.channels.size(); ++i) channels[i] = values.channels[i];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBatteryStatus(int* voltage, int* capacityUsed,
                                             int* current) override {
    *voltage = values.voltage;
    *capacityUsed = values.capacityUsed;
    *current = values.current;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetAudioChannel(int channel) override {
    audioChannels.push_back(channel);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPositionAt(int, int*, float*, float*, float*, float*, float*, float*,
                                          int*) override {
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetUplinkStatusAt(int, int*, int*, int*, int*, int*, int*, int*,
                                              int*) override {
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetBatteryStatusAt(int, int*, int*, int*) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE GetRecordCount(int* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBitRate(int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetLaunchSite(float* longitude, float* latitude,
                                          float* altitude) override {
    *longitude = values.launchLongitude;
    *latitude = values.launchLatitude;
    *altitude = values.launchAltitude;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLaunchSite(float longitude, float latitude,
                                          float altitude) override {
    values.launchLongitude = longitude;
    values.launchLatitude = latitude;
    values.launchAltitude = altitude;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

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
  std::vector<TelemetrySnapshot> mapFixes;

  std::filesystem::path File(const char* name) const { return folder_ / name; }

  void ShowOnMap(const TelemetrySnapshot& sample) override { mapFixes.push_back(sample); }
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

#pragma once

// The one decoder of the tests: the real decoder core with a plain reference
// count. A test scripts what it reports either by feeding it frames through
// the audio path (Sender) or, where only the reader is under test, by setting
// the live read-outs outright.

#include <atomic>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/telemetry_snapshot.h"
#include "decoder/control_interface/quorvex_control.h"
#include "tests/decoder/slot_signal.h"

class ScriptedDecoder final : public CQuorvexControl {
 public:
  explicit ScriptedDecoder(const std::optional<std::filesystem::path>& nmeaPath = std::nullopt,
                           std::uint32_t sampleRate = 44100)
      : CQuorvexControl(nmeaPath) {
    SetSampleRate(sampleRate);
  }

  // When set, the live read-outs and the launch site answer from here (RSSI
  // as the decoder delivers it, not yet negated) instead of from the frames.
  std::optional<TelemetrySnapshot> readOuts;
  // Every channel the decoder was told to listen to.
  std::vector<int> audioChannels;

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

  void FeedMono(const std::vector<std::int16_t>& samples) {
    std::vector<std::int16_t> out(samples.size());
    ProcessBuffer(samples.data(), out.data(), samples.size(), 1);
  }

  HRESULT STDMETHODCALLTYPE GetPacketCounts(int* good, int* bad) override {
    if (!readOuts) return CQuorvexControl::GetPacketCounts(good, bad);
    *good = readOuts->goodPackets;
    *bad = readOuts->badPackets;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPosition(int* timeMs, float* longitude, float* latitude,
                                        float* altitude, float* altitudeAboveLaunch, float* heading,
                                        float* distance, float* distanceTravelled,
                                        int* numSats) override {
    if (!readOuts) {
      return CQuorvexControl::GetPosition(timeMs, longitude, latitude, altitude,
                                          altitudeAboveLaunch, heading, distance, distanceTravelled,
                                          numSats);
    }
    const TelemetrySnapshot& v = *readOuts;
    *timeMs = v.timeMs;
    *longitude = v.longitude;
    *latitude = v.latitude;
    *altitude = v.altitude;
    *altitudeAboveLaunch = v.altitudeAboveLaunch;
    *heading = v.heading;
    *distance = v.distance;
    *distanceTravelled = v.distanceTravelled;
    *numSats = v.numSats;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUplinkStatus(int* rssiValue1, int* rssiValue2, int* linkQuality,
                                            int* nFailsafes, int* freqError, int* iCurrentBin,
                                            int* nGoodPacketsThisBin, int* nBadPacketsThisBin,
                                            int channels[12]) override {
    if (!readOuts) {
      return CQuorvexControl::GetUplinkStatus(rssiValue1, rssiValue2, linkQuality, nFailsafes,
                                              freqError, iCurrentBin, nGoodPacketsThisBin,
                                              nBadPacketsThisBin, channels);
    }
    const TelemetrySnapshot& v = *readOuts;
    *rssiValue1 = v.rssiValue1;
    *rssiValue2 = v.rssiValue2;
    *linkQuality = v.linkQuality;
    *nFailsafes = v.nFailsafes;
    *freqError = v.freqError;
    *iCurrentBin = v.iCurrentBin;
    *nGoodPacketsThisBin = v.nGoodPacketsThisBin;
    *nBadPacketsThisBin = v.nBadPacketsThisBin;
    for (std::size_t i = 0; i < v.channels.size(); ++i) channels[i] = v.channels[i];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBatteryStatus(int* voltage, int* capacityUsed,
                                             int* current) override {
    if (!readOuts) return CQuorvexControl::GetBatteryStatus(voltage, capacityUsed, current);
    *voltage = readOuts->voltage;
    *capacityUsed = readOuts->capacityUsed;
    *current = readOuts->current;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetAudioChannel(int channel) override {
    audioChannels.push_back(channel);
    return CQuorvexControl::SetAudioChannel(channel);
  }
  HRESULT STDMETHODCALLTYPE GetLaunchSite(float* longitude, float* latitude,
                                          float* altitude) override {
    if (!readOuts) return CQuorvexControl::GetLaunchSite(longitude, latitude, altitude);
    *longitude = readOuts->launchLongitude;
    *latitude = readOuts->launchLatitude;
    *altitude = readOuts->launchAltitude;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLaunchSite(float longitude, float latitude,
                                          float altitude) override {
    if (!readOuts) return CQuorvexControl::SetLaunchSite(longitude, latitude, altitude);
    readOuts->launchLongitude = longitude;
    readOuts->launchLatitude = latitude;
    readOuts->launchAltitude = altitude;
    return S_OK;
  }

  using CQuorvexControl::Engine;
  using CQuorvexControl::Lock;

 private:
  std::atomic<ULONG> refs_{1};
};

// Feeds frames in order through the decoder's audio path.
class Sender {
 public:
  explicit Sender(ScriptedDecoder& d) : decoder_(d) {}
  Sender& Position(const PositionRecord& r) { return Add(1, &r, sizeof r); }
  Sender& UplinkFrame(const UplinkRecord& r) { return Add(3, &r, sizeof r); }
  Sender& Battery(const BatteryRecord& r) { return Add(2, &r, sizeof r); }
  Sender& Add(const std::vector<std::uint8_t>& frame) {
    testsignal::SlotSignal s(44100, 4777);
    s.AddFrame(frame);
    decoder_.FeedMono(s.Samples());
    return *this;
  }

 private:
  Sender& Add(std::uint8_t type, const void* record, std::size_t size) {
    std::vector<std::uint8_t> payload(size);
    std::memcpy(payload.data(), record, size);
    return Add(testsignal::Frame(type, payload));
  }

  ScriptedDecoder& decoder_;
};

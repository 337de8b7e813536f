#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "common/kml_writer.h"
#include "common/nmea_network.h"
#include "decoder/demodulator/decode_engine.h"
#include "decoder/telemetry/nmea.h"
#include "decoder/telemetry/telemetry_comms.h"
#include "platform/com/bstr.h"

// The two network outputs of the NMEA sentences, set apart so that a new
// UDP destination leaves the TCP clients connected.
enum class NetworkOutput { kUdp, kTcp };

// Gives the frames their meaning: the current telemetry, the launch site,
// distance flown and course, the three histories under one running key, and
// the side outputs (track, NMEA file, serial sink) of every position fix.
// Not thread-safe: the owner serializes the streaming side against readers.
//
// Each record remembers where in the recording it was completed. A record
// placed before ones already held (a stretch of a recording decoded after a
// later one) takes its place among them: the keys are handed out again in
// recording order and everything accumulated over the records (distance
// flown, course, launch site, track, latest uplink and battery) is worked
// out again from the start, so the result is that of one play in order.
class CDecodeEngineWithComms final : public CDecodeEngine {
 public:
  // Where the NMEA log goes unless told otherwise: $QUORVEX_NMEA_PATH (set
  // but empty: no log at all), else "nmea.txt" in the user's private
  // temporary folder ("c:\nmea.txt" on Windows). nullopt when there is no
  // log or nowhere safe to write it.
  static std::optional<std::filesystem::path> DefaultNmeaPath();

  // A log that cannot be opened is skipped: decoding matters more than the
  // side file. NmeaOpenResult says why, for owners that tell the user. A
  // regular file is held under an exclusive lock for the engine's life, and
  // a file another process holds is neither emptied nor written.
  explicit CDecodeEngineWithComms(
      const std::optional<std::filesystem::path>& nmeaPath = DefaultNmeaPath());
  ~CDecodeEngineWithComms();

  // Flat-earth distance in metres around `b`, in single precision with
  // rounding after every step, as the aircraft's own figures are computed.
  static float Distance(const PositionRecord& a, const PositionRecord& b);

  const PositionRecord& CurrentPosition() const { return currentPosition_; }
  const PositionRecord& LaunchSite() const { return launchSite_; }
  bool LaunchSiteValid() const { return launchSiteValid_; }
  float DistanceTravelled() const { return distanceTravelled_; }
  float Course() const { return course_; }
  std::int32_t NextKey() const { return nextKey_; }
  // Where in the recording the frames completed from now on are, in sample
  // frames; nullopt (live audio) stores every frame after the others.
  void SetStreamPosition(std::optional<std::int64_t> position) { streamPosition_ = position; }
  // Records stored since the engine was made, and the key the latest of
  // them holds now (not NextKey() - 1 when it went among earlier ones).
  std::int64_t StoredCount() const { return storedCount_; }
  std::int32_t LastStoredKey() const { return lastStoredKey_; }
  // Drops the records completed within [from, to) of the recording, for a
  // stretch about to be read again from a better start; returns how many.
  std::int32_t DropRecords(std::int64_t from, std::int64_t to);
  const std::map<std::int32_t, PositionRecord>& PositionHistory() const { return positionHistory_; }
  const std::map<std::int32_t, UplinkRecord>& UplinkHistory() const { return uplinkHistory_; }
  const std::map<std::int32_t, BatteryRecord>& BatteryHistory() const { return batteryHistory_; }
  KmlWriter& Track() { return track_; }
  // Empties the track; records already held do not come back into it.
  void ClearTrack();
  const KmlWriter& Track() const { return track_; }
  bool NmeaFileOpen() const { return nmeaFile_ != nullptr; }
  const std::optional<std::filesystem::path>& NmeaPath() const { return nmeaPath_; }
  // S_OK, QUORVEX_E_NMEA_LOCKED or E_FAIL; S_OK without a path.
  HRESULT NmeaOpenResult() const { return nmeaOpenResult_; }
  // S_OK, or the system's reason (HresultFromErrno) for the first write to
  // the NMEA file that failed; nothing more is written to it after that.
  HRESULT NmeaWriteResult() const { return nmeaWriteResult_.load(std::memory_order_relaxed); }
  void SetRecordingTime(std::chrono::sys_seconds instant) { sentences_.SetRecordingTime(instant); }
  // The RMC and GGA sentences of the latest fix, for the network outputs.
  const nmea::StreamSentences::Pair& LatestSentences() const { return latestSentences_; }

  // Latitude, longitude and altitude only: the satellite field decides
  // whether the automatic capture still happens.
  void OverrideLaunchSite(std::int32_t latitude, std::int32_t longitude, std::int32_t altitude);

  // True for the very string already held, whose port stays as it is.
  bool HoldsSerialPortName(BSTR portName) const {
    return portName != nullptr && portName == serialPortName_.Get();
  }
  // Puts in a sink opened (or not) on `portName` by the caller and hands
  // back the one it replaces: opening and closing a port is device I/O,
  // which stays outside whatever lock serializes the engine.
  std::unique_ptr<CTelemetryComms> ReplaceSerialSink(ComBstr portName,
                                                     std::unique_ptr<CTelemetryComms> sink);
  void MarkSerialPortRequested() { serialPortRequested_ = true; }
  // Puts in a network output (null: none), made by the caller, and hands
  // back the one it replaces: name look-ups, binding and closing stay
  // outside whatever lock serializes the engine. An output may be shared
  // with other engines.
  std::shared_ptr<NmeaNetwork> ReplaceNetwork(NetworkOutput kind,
                                              std::shared_ptr<NmeaNetwork> output) {
    network_[static_cast<int>(kind)].swap(output);
    return output;
  }
  BSTR SerialPortName() const { return serialPortName_.Get(); }
  bool SerialPortRequested() const { return serialPortRequested_; }
  const CTelemetryComms& SerialSink() const { return *serialSink_; }

 protected:
  void OnPosition(PositionRecord record) override;
  void OnUplinkStatus(UplinkRecord record) override;
  void OnBatteryStatus(BatteryRecord record) override;

 private:
  void EmptyNmeaFile();
  // Hands `key` its place by the recording position; the others follow.
  void Stored(std::int32_t key);
  void AccumulatePosition(const PositionRecord& record);
  // Keys in recording order again, and all the accumulated values afresh,
  // leaving out the records `drop` says.
  template <typename Drop>
  void Reorder(Drop drop);

  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  std::optional<std::filesystem::path> nmeaPath_;
  HRESULT nmeaOpenResult_ = S_OK;
  std::atomic<HRESULT> nmeaWriteResult_{S_OK};  // read from any thread
  bool nmeaEmptied_ = false;
  std::unique_ptr<std::FILE, FileCloser> nmeaFile_;
  nmea::StreamSentences sentences_;
  nmea::StreamSentences::Pair latestSentences_;
  std::unique_ptr<CTelemetryComms> serialSink_ = std::make_unique<CTelemetryComms>();
  ComBstr serialPortName_;
  bool serialPortRequested_ = false;
  std::shared_ptr<NmeaNetwork> network_[2];  // by NetworkOutput
  PositionRecord currentPosition_{};
  PositionRecord previousPosition_{};
  PositionRecord launchSite_{};
  float distanceTravelled_ = 0.0f;
  bool launchSiteValid_ = false;
  std::map<std::int32_t, PositionRecord> positionHistory_;
  std::map<std::int32_t, UplinkRecord> uplinkHistory_;
  std::map<std::int32_t, BatteryRecord> batteryHistory_;
  float course_ = 0.0f;
  KmlWriter track_;
  std::int32_t nextKey_ = 0;
  std::optional<std::int64_t> streamPosition_;
  // The recording position of each key.
  std::vector<std::int64_t> keyPosition_;
  std::int64_t storedCount_ = 0;
  std::int32_t lastStoredKey_ = -1;
  // Track points at or before this recording position were cleared away.
  std::optional<std::int64_t> trackClearedUpTo_;
  // The launch site the pilot set, and whether a fix had set one before.
  std::optional<PositionRecord> siteOverride_;
  bool siteOverrideAfterFix_ = false;
};

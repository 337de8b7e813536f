#pragma once

#include <cstdint>

#include "common/wire/slot_rates.h"
#include "common/wire/telemetry_records.h"

// Turns one channel of 16-bit PCM, a sample at a time, into CRC-checked
// telemetry frames. Recordings in the field were decoded with exactly this
// behaviour, so its quirks (the unsigned lead-in window, the lock on exactly
// the third hit, the clock starting at seven samples' worth, the byte count
// capped at 159, fixed payload sizes whatever the length byte says) are
// deliberate and covered by tests.
class CDecodeEngine {
 public:
  enum State : std::int32_t { kHunt = 0, kSync = 1, kData = 2 };

  static constexpr std::int32_t kDefaultSlotRate = wire::kSlotRateNorm;
  static constexpr std::int32_t kHysteresis = 20;
  static constexpr int kFrameCapacity = 160;
  static constexpr std::int32_t kMaxByteCount = 159;
  static constexpr double kEpisodeTimeout = 0.5;

  CDecodeEngine() = default;
  CDecodeEngine(const CDecodeEngine&) = delete;
  CDecodeEngine& operator=(const CDecodeEngine&) = delete;

  // Called before any sample arrives, when the output buffers are sized.
  void SetSampleRate(std::uint32_t rate);
  // Takes effect from the next sample, even in the middle of a frame. A rate
  // that is not positive is ignored: the slot clock cannot run on it.
  void SetSlotRate(std::int32_t rate);

  inline void ProcessSample(std::int16_t s);
  void ProcessSamples(const std::int16_t* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) ProcessSample(samples[i]);
  }

  // A frame (type, length, payload, CRC) that another demodulator received
  // and checked: counted and handed on exactly like one of ours.
  void AcceptFrame(const std::uint8_t* frame) {
    if (muted_) return;
    ++goodFrames_;
    Dispatch(frame);
  }
  void CountLostFrame() {
    if (!muted_) ++badFrames_;
  }

  // Forgets the signal heard so far, as before the first sample: audio that
  // follows is not continuous with what came before, and a frame must not
  // be glued together from two places.
  void ResetSync();
  // Muted, frames are read (so the receiver's state follows the audio) but
  // neither counted nor handed on: the audio was decoded once already.
  void SetMuted(bool muted) { muted_ = muted; }
  // For owners that drop frames they read twice.
  void SetCounts(std::int32_t good, std::int32_t bad) {
    goodFrames_ = good;
    badFrames_ = bad;
  }

  std::int32_t GoodFrames() const { return goodFrames_; }
  std::int32_t BadFrames() const { return badFrames_; }
  const UplinkRecord& LatestUplink() const { return latestUplink_; }
  const BatteryRecord& LatestBattery() const { return latestBattery_; }
  std::int32_t StateValue() const { return state_; }
  std::int32_t LeadInCycle() const { return leadInCycle_; }
  std::int32_t LeadInHits() const { return leadInHits_; }
  std::int32_t ByteCount() const { return byteCount_; }
  std::uint32_t SampleRate() const { return sampleRate_; }
  std::int32_t SlotRate() const { return slotRate_; }

  // On the globe (latitude within ±90°, longitude within ±180°) and within
  // the day (0 <= time < 24 h).
  static bool CanBeTrue(const PositionRecord& r);

 protected:
  ~CDecodeEngine() = default;

  virtual void OnPosition(PositionRecord) {}
  virtual void OnUplinkStatus(UplinkRecord) {}
  virtual void OnBatteryStatus(BatteryRecord) {}
  // For owners that put their records in another order after the fact.
  void SetLatest(const UplinkRecord& uplink, const BatteryRecord& battery) {
    latestUplink_ = uplink;
    latestBattery_ = battery;
  }

 private:
  void ReturnToHunt() {
    state_ = kHunt;
    sliceThreshold_ = 0;
    hysteresis_ = kHysteresis;
  }
  void HuntStep(std::int16_t s);
  void OnSlot(int level);
  void OnDataSlot(int level);
  void CompleteFrame();
  void Dispatch(const std::uint8_t* frame);
  void TimeoutCheck() {
    if (slotClock_ > kEpisodeTimeout) {
      if (!muted_) ++badFrames_;
      ReturnToHunt();
    }
  }
  static std::int32_t LeadInCycleFor(std::uint32_t sampleRate, std::int32_t slotRate);

  std::int32_t state_ = kHunt;
  std::uint32_t sampleRate_ = 0;
  std::int16_t lastSample_ = 0;
  std::uint32_t samplesSinceEdge_ = 0;
  std::int32_t leadInCycle_ = 0;
  std::int32_t leadInHits_ = 0;
  double slotClock_ = 0.0;
  std::uint32_t lastSlot_ = 0;
  std::uint16_t syncWord_ = 0;
  std::uint8_t currentByte_ = 0;
  std::int32_t bitsInByte_ = 0;
  std::int32_t takeBit_ = 0;
  std::int32_t byteCount_ = 0;
  std::int32_t frameLength_ = 0;
  std::uint8_t frame_[kFrameCapacity] = {};
  bool inverted_ = false;
  std::int32_t slotRate_ = kDefaultSlotRate;
  std::int32_t sliceThreshold_ = 0;
  std::int32_t hysteresis_ = kHysteresis;
  UplinkRecord latestUplink_{};
  BatteryRecord latestBattery_{};
  std::int32_t goodFrames_ = 0;
  std::int32_t badFrames_ = 0;
  // 1 / sampleRate_, kept so the per-sample clock step costs an addition.
  double samplePeriod_ = 0.0;
  bool muted_ = false;
};

// Inline so that a buffer loop compiles to straight-line code: this runs for
// every sample on the streaming thread.
inline void CDecodeEngine::ProcessSample(std::int16_t s) {
  const bool edge = lastSample_ <= 0 && s > 0;
  if (state_ == kHunt) {
    if (!edge) {
      ++samplesSinceEdge_;
      lastSample_ = s;
      return;
    }
    HuntStep(s);
    return;
  }

  int level;
  if (s > sliceThreshold_) {
    level = 1;
    sliceThreshold_ = -hysteresis_;
  } else {
    level = 0;
    sliceThreshold_ = hysteresis_;
  }
  // The product form of slotClock / (1 / slotRate); the two differ only by
  // rounding exactly at a slot boundary.
  const auto slot = static_cast<std::uint32_t>(slotClock_ * slotRate_);
  if (slot > lastSlot_) OnSlot(level);
  lastSample_ = s;
  lastSlot_ = slot;
  slotClock_ += samplePeriod_;
}

#include "decoder/demodulator/decode_engine.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "common/wire/crc8.h"

std::int32_t CDecodeEngine::LeadInCycleFor(std::uint32_t sampleRate, std::int32_t slotRate) {
  const double quotient = (1.0 / slotRate) / (1.0 / sampleRate);
  // A zero sample rate or slot rate gives no finite quotient; a lead-in cycle
  // of 0 keeps the engine in Hunt, as a sample rate below the slot rate does.
  if (!(quotient >= 0.0) || quotient > std::numeric_limits<std::int32_t>::max() / 2) return 0;
  return 2 * static_cast<std::int32_t>(std::trunc(quotient));
}

void CDecodeEngine::SetSampleRate(std::uint32_t rate) {
  sampleRate_ = rate;
  leadInCycle_ = LeadInCycleFor(sampleRate_, slotRate_);
  if (rate == 0) {
    // No time passes at 0 Hz: leave any episode, and the lead-in cycle of 0
    // keeps the engine from locking again.
    samplePeriod_ = 0.0;
    if (state_ != kHunt) ReturnToHunt();
    return;
  }
  samplePeriod_ = 1.0 / rate;
}

void CDecodeEngine::SetSlotRate(std::int32_t rate) {
  if (rate <= 0) return;
  slotRate_ = rate;
  leadInCycle_ = LeadInCycleFor(sampleRate_, slotRate_);
}

void CDecodeEngine::ResetSync() {
  ReturnToHunt();
  lastSample_ = 0;
  samplesSinceEdge_ = 0;
  leadInHits_ = 0;
  slotClock_ = 0.0;
  lastSlot_ = 0;
  syncWord_ = 0;
  currentByte_ = 0;
  bitsInByte_ = 0;
  takeBit_ = 0;
  byteCount_ = 0;
  frameLength_ = 0;
}

void CDecodeEngine::HuntStep(std::int16_t s) {
  // Compared as unsigned: with a lead-in cycle below 2 the lower bound wraps
  // and nothing is accepted.
  const auto low = static_cast<std::uint32_t>(leadInCycle_ - 2);
  const auto high = static_cast<std::uint32_t>(leadInCycle_ + 2);
  if (samplesSinceEdge_ > low && samplesSinceEdge_ < high) {
    ++leadInHits_;
    if (leadInHits_ == 3) {
      state_ = kSync;
      syncWord_ = 0;
      hysteresis_ = kHysteresis;
      samplesSinceEdge_ = 0;
      lastSample_ = s;
      slotClock_ = 7.0 / sampleRate_;
      return;
    }
  } else {
    leadInHits_ = 0;
  }
  samplesSinceEdge_ = 0;
  lastSample_ = s;
}

void CDecodeEngine::OnSlot(int level) {
  if (state_ == kSync) {
    syncWord_ = static_cast<std::uint16_t>(syncWord_ << 1 | level);
    if (syncWord_ == 0xCCCC || syncWord_ == 0x3333) {
      inverted_ = syncWord_ == 0x3333;
      bitsInByte_ = 0;
      takeBit_ = 0;
      byteCount_ = 0;
      frameLength_ = 2;
      state_ = kData;
    }
    TimeoutCheck();
    return;
  }
  OnDataSlot(level);
}

void CDecodeEngine::OnDataSlot(int level) {
  if (inverted_) level = !level;
  if (takeBit_ == 1) {
    currentByte_ = static_cast<std::uint8_t>(currentByte_ << 1 | level);
    ++bitsInByte_;
    if (bitsInByte_ >= 8) {
      frame_[byteCount_] = currentByte_;
      if (byteCount_ == 0 && (currentByte_ < kFramePosition || currentByte_ > kFrameUplink)) {
        // Not a frame at all: no loss is counted. The rest of this slot still
        // runs, of which only the time-out can have an effect.
        ReturnToHunt();
      }
      if (byteCount_ == 1) frameLength_ = currentByte_ + 3;
      if (byteCount_ < kMaxByteCount) ++byteCount_;
      bitsInByte_ = 0;
    }
    if (byteCount_ >= frameLength_) CompleteFrame();
    TimeoutCheck();
  }
  takeBit_ = !takeBit_;
}

bool CDecodeEngine::CanBeTrue(const PositionRecord& r) {
  constexpr std::int32_t kUnitsPerDegree = 600000;
  constexpr std::int32_t kDayMs = 24 * 3600 * 1000;
  return r.latitude >= -90 * kUnitsPerDegree && r.latitude <= 90 * kUnitsPerDegree &&
         r.longitude >= -180 * kUnitsPerDegree && r.longitude <= 180 * kUnitsPerDegree &&
         r.timeMs >= 0 && r.timeMs < kDayMs;
}

void CDecodeEngine::CompleteFrame() {
  const auto crc = crc8::Compute(frame_, static_cast<std::size_t>(byteCount_ - 1));
  const std::uint8_t* payload = frame_ + 2;
  PositionRecord position;
  std::memcpy(&position, payload, sizeof position);
  // The CRC-8 lets about one garbled frame in 256 through; a position off
  // the globe or outside the day is one of them, and is lost like any other.
  const bool impossible = frame_[0] == kFramePosition && !CanBeTrue(position);
  if (muted_) {
    // Read only to follow the audio.
  } else if (crc == frame_[byteCount_ - 1] && !impossible) {
    ++goodFrames_;
    Dispatch(frame_);
  } else {
    ++badFrames_;
  }
  ReturnToHunt();
}

void CDecodeEngine::Dispatch(const std::uint8_t* frame) {
  const std::uint8_t* payload = frame + 2;
  switch (frame[0]) {
    case kFramePosition: {
      PositionRecord r;
      std::memcpy(&r, payload, sizeof r);
      OnPosition(r);
      break;
    }
    case kFrameUplink:
      std::memcpy(&latestUplink_, payload, sizeof latestUplink_);
      OnUplinkStatus(latestUplink_);
      break;
    case kFrameBattery:
      std::memcpy(&latestBattery_, payload, sizeof latestBattery_);
      OnBatteryStatus(latestBattery_);
      break;
    default:
      break;
  }
}

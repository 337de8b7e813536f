#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/wire/slot_rates.h"

namespace simulated_aircraft {

struct LinkSettings {
  std::uint32_t sampleRate = 44100;
  std::int32_t slotRate = wire::kSlotRateNorm;
  // The telemetry waveform upside down, as an inverting audio path delivers
  // it; the receiver then sees the sync word as 0x3333.
  bool inverted = false;
  // The transmitter's clock off by this many percent: positive sends more
  // slots per second than `slotRate`.
  double clockErrorPercent = 0.0;
  // Lead-in, sync word and data on one unbroken slot grid, as a transmitter
  // does that knows nothing of the receiver's reading phase.
  bool untrimmed = false;
};

// A built frame (type, length, payload, CRC) and when to send it.
struct ScheduledFrame {
  double sendAt = 0.0;       // seconds from the start of the audio; never sent earlier
  double pauseBefore = 0.0;  // seconds of extra idle line after the previous frame
  std::vector<std::uint8_t> bytes;
};

// Where one frame landed in the audio, in samples.
struct Burst {
  std::int64_t start = 0;       // first sample of the lead-in tone
  std::int64_t lockSample = 0;  // the lead-in edge on which a receiver locks
  double syncStart = 0.0;       // offset from `start` where the sync word's first slot begins
  std::int64_t end = 0;         // one past the frame's last slot
  std::vector<std::uint8_t> bytes;
};

// The telemetry line as levels of +1 and -1.
//
// Between frames the line idles at the low level: a held level has no zero
// crossings, so noise on the line cannot walk the receiver into a false lock
// in the gaps, and the first lead-in edge always comes after an interval far
// outside the receiver's window.
//
// The lead-in comes in two parts. The first runs on its own slot grid and
// carries the edges the receiver locks on. The receiver's slot clock then
// reads at a phase fixed by the sample and slot rates, which at some
// settings falls on that grid's slot edges; so the second part, and the sync
// word and data after it, run on a grid shifted to put every read in the
// middle of a slot, and the last slots before the sync word alternate
// cleanly instead of being misread into the start of a sync word.
class CModulator {
 public:
  // Few enough that the receiver's reads of the lock part after it has
  // locked (ten at most) cannot fill its 16-slot register with a false sync
  // word, whatever phase they are read at.
  static constexpr int kLockCycles = 8;
  // Enough clean alternation to flush those reads out of the register.
  static constexpr int kSettleCycles = 16;
  // Idle slots before every lead-in; far more than the receiver's window.
  static constexpr int kMinGapSlots = 8;
  static constexpr std::uint16_t kSyncWord = 0xCCCC;

  // Throws std::invalid_argument for rates the receiver cannot lock on and
  // for negative or non-finite times.
  CModulator(const LinkSettings& link, std::span<const ScheduledFrame> frames,
             double minSeconds = 0.0);

  std::int64_t Length() const { return length_; }
  const std::vector<Burst>& Bursts() const { return bursts_; }

  // Levels of the samples [first, first + out.size()).
  void Render(std::int64_t first, std::span<std::int8_t> out) const;

 private:
  int LockPartLevel(std::int64_t t) const;
  int LevelInBurst(const Burst& burst, std::int64_t t) const;
  std::int64_t FindLockOffset() const;

  LinkSettings link_;
  double samplesPerSlot_ = 0.0;
  bool exactGrid_ = true;  // the lock part on the integer grid of the nominal rate
  std::int64_t lockPartSamples_ = 0;
  std::int64_t lockOffset_ = 0;
  double syncOffset_ = 0.0;
  std::vector<Burst> bursts_;
  std::int64_t length_ = 0;
};

}  // namespace simulated_aircraft

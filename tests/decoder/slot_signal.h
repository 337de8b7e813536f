#pragma once

// Builds audio that the demodulator reads exactly as intended: after a
// lead-in that locks, every slot's level is placed on the samples where the
// engine's own clock says that slot runs. Edge-case tests need this
// precision; the generator's round trips cover realistic timing.

#include <cmath>
#include <cstdint>
#include <vector>

#include "common/wire/crc8.h"

namespace testsignal {

inline constexpr std::int16_t kHigh = 12000;
inline constexpr std::int16_t kLow = -12000;

inline std::vector<std::uint8_t> Frame(std::uint8_t type, const std::vector<std::uint8_t>& payload,
                                       int lengthByte = -1) {
  std::vector<std::uint8_t> f;
  f.reserve(payload.size() + 3);
  f.push_back(type);
  f.push_back(static_cast<std::uint8_t>(lengthByte < 0 ? payload.size() : lengthByte));
  for (std::uint8_t b : payload) f.push_back(b);
  f.push_back(crc8::Compute(f.data(), f.size()));
  return f;
}

class SlotSignal {
 public:
  SlotSignal(std::uint32_t sampleRate, int slotRate)
      : sampleRate_(sampleRate), slotRate_(slotRate) {
    leadInCycle_ = 2 * static_cast<int>(std::trunc((1.0 / slotRate) / (1.0 / sampleRate)));
  }

  int LeadInCycle() const { return leadInCycle_; }
  std::vector<std::int16_t>& Samples() { return samples_; }
  std::size_t Size() const { return samples_.size(); }

  void Silence(std::size_t n) { samples_.insert(samples_.end(), n, 0); }
  void Low(std::size_t n) { samples_.insert(samples_.end(), n, kLow); }

  // One rising edge `distance` samples after the previous one: the cycle
  // starts high and ends low, so the edge is its first sample.
  void Cycle(int distance) {
    const int high = distance / 2;
    samples_.insert(samples_.end(), static_cast<std::size_t>(high), kHigh);
    samples_.insert(samples_.end(), static_cast<std::size_t>(distance - high), kLow);
  }

  // After the sync word, each frame byte MSB first, every bit held for two
  // slots (the engine reads the second). Returns the index of the sample on
  // which the last bit is read, where the engine returns to Hunt.
  std::size_t SyncAndBytes(const std::vector<std::uint8_t>& bytes, bool inverted,
                           std::size_t trailingSlots = 2) {
    // The lead-in tone goes on up to the slot the first sample after the
    // lock falls in (whether the engine reads that slot depends on where its
    // previous episode ended). Alternating levels can never complete either
    // sync word early, as a run of zeros before 0xCCCC would complete 0x3333.
    const auto firstSlot = static_cast<std::size_t>(7.0 / sampleRate_ * slotRate_);
    std::vector<int> levels;
    for (std::size_t i = 0; i <= firstSlot + 2; ++i) levels.push_back(static_cast<int>(i % 2));
    const std::uint16_t sync = inverted ? 0x3333 : 0xCCCC;
    for (int b = 15; b >= 0; --b) levels.push_back(sync >> b & 1);
    for (std::uint8_t byte : bytes)
      for (int b = 7; b >= 0; --b) {
        const int bit = (byte >> b & 1) ^ (inverted ? 1 : 0);
        levels.push_back(bit);
        levels.push_back(bit);
      }
    const std::size_t lastSlot = levels.size() - 1;
    for (std::size_t i = 0; i < trailingSlots; ++i) levels.push_back(levels.back());
    return Render(levels, lastSlot);
  }

  // A gap, an out-of-window edge and three lead-in cycles: the engine locks
  // on the last sample added.
  void LeadIn() {
    Low(static_cast<std::size_t>(leadInCycle_ * 3));
    Cycle(leadInCycle_ * 3);
    for (int i = 0; i < 3; ++i) Cycle(leadInCycle_ + 1);
    samples_.push_back(kHigh);  // the locking edge
  }

  std::size_t AddFrame(const std::vector<std::uint8_t>& bytes, bool inverted = false) {
    LeadIn();
    const std::size_t end = SyncAndBytes(bytes, inverted);
    Low(static_cast<std::size_t>(leadInCycle_));
    return end;
  }

 private:
  // Mirrors the engine's clock: 7 samples' worth at the locking sample,
  // advanced by one sample period after each later sample.
  std::size_t Render(const std::vector<int>& levels, std::size_t markSlot) {
    double clock = 7.0 / sampleRate_;
    const double period = 1.0 / sampleRate_;
    std::size_t mark = 0;
    bool marked = false;
    for (;;) {
      const auto slot = static_cast<std::size_t>(clock * slotRate_);
      if (slot >= levels.size()) break;
      if (slot == markSlot && !marked) {
        mark = samples_.size();
        marked = true;
      }
      samples_.push_back(levels[slot] ? kHigh : kLow);
      clock += period;
    }
    return mark;
  }

  std::uint32_t sampleRate_;
  int slotRate_;
  int leadInCycle_;
  std::vector<std::int16_t> samples_;
};

}  // namespace testsignal

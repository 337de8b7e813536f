#include "tools/simulated_aircraft/modulator.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace simulated_aircraft {
namespace {

constexpr std::size_t kSyncSlots = 16;

double PositiveModulo(double x, double m) {
  const double r = std::fmod(x, m);
  return r < 0 ? r + m : r;
}

std::int64_t ToSamples(double seconds, std::uint32_t sampleRate, const char* what) {
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e7) {
    throw std::invalid_argument(std::string(what) + " must be a time from 0 to 1e7 seconds");
  }
  return std::llround(seconds * sampleRate);
}

}  // namespace

CModulator::CModulator(const LinkSettings& link, std::span<const ScheduledFrame> frames,
                       double minSeconds)
    : link_(link) {
  if (link.slotRate <= 0 || link.sampleRate < 2ull * static_cast<std::uint64_t>(link.slotRate)) {
    throw std::invalid_argument("the sample rate must be at least twice the slot rate");
  }
  if (!std::isfinite(link.clockErrorPercent) || std::fabs(link.clockErrorPercent) > 10.0) {
    throw std::invalid_argument("the clock error must be from -10 to 10 percent");
  }
  exactGrid_ = link.clockErrorPercent == 0.0;
  samplesPerSlot_ =
      static_cast<double>(link.sampleRate) / (link.slotRate * (1.0 + link.clockErrorPercent / 100));
  // Integer form of ceil(slots * samplesPerSlot_), so that the part ends
  // exactly where its last slot does.
  const std::int64_t lockSlots = 2 * kLockCycles;
  lockPartSamples_ = exactGrid_ ? (lockSlots * link.sampleRate + link.slotRate - 1) / link.slotRate
                                : static_cast<std::int64_t>(std::ceil(lockSlots * samplesPerSlot_));
  lockOffset_ = FindLockOffset();

  // The receiver starts its slot clock at the locking edge as if seven
  // samples had already passed, and then reads slot j at the first sample at
  // or after lock - 6 + j * samplesPerSlot, up to one sample late. The sync
  // grid puts that one-sample window in the middle of every slot. Against
  // the lock part's own grid this is a shift of a good part of a slot at
  // 22050 Hz with 4777 slots/s and at 9554 slots/s, and next to none at the
  // other settings.
  const double centre = static_cast<double>(lockOffset_) - 5.5 - samplesPerSlot_ / 2;
  const double settleEnd =
      static_cast<double>(lockPartSamples_) + 2 * kSettleCycles * samplesPerSlot_;
  syncOffset_ = link.untrimmed ? 2 * (kLockCycles + kSettleCycles) * samplesPerSlot_
                               : settleEnd + PositiveModulo(centre - settleEnd, samplesPerSlot_);

  const auto minGap = static_cast<std::int64_t>(std::ceil(kMinGapSlots * samplesPerSlot_));
  std::int64_t cursor = 0;
  bursts_.reserve(frames.size());
  for (const ScheduledFrame& frame : frames) {
    if (frame.bytes.empty()) throw std::invalid_argument("a frame has no bytes");
    const std::int64_t earliest = ToSamples(frame.sendAt, link.sampleRate, "a send time");
    const std::int64_t pause = ToSamples(frame.pauseBefore, link.sampleRate, "a pause");
    Burst b;
    b.start = std::max(earliest, cursor + minGap + pause);
    b.lockSample = b.start + lockOffset_;
    b.syncStart = syncOffset_;
    const auto slots = static_cast<double>(kSyncSlots + 16 * frame.bytes.size());
    b.end = b.start + static_cast<std::int64_t>(std::ceil(syncOffset_ + slots * samplesPerSlot_));
    b.bytes = frame.bytes;
    cursor = b.end;
    bursts_.push_back(std::move(b));
  }
  length_ = std::max(cursor + minGap, ToSamples(minSeconds, link.sampleRate, "the length"));
}

// Mirrors the receiver's hunt over the lock part preceded by idle line: the
// first edge follows a long interval and clears the hit count, and the lock
// falls on the third in-window cycle after it. Which edge that is depends
// on the polarity.
std::int64_t CModulator::FindLockOffset() const {
  const int sign = link_.inverted ? -1 : 1;
  const std::int64_t cycle =
      2 * static_cast<std::int64_t>(std::trunc((1.0 / link_.slotRate) / (1.0 / link_.sampleRate)));
  int previous = -sign;
  std::int64_t lastEdge = -1;
  int hits = 0;
  for (std::int64_t t = 0; t < lockPartSamples_; ++t) {
    const int level = sign * LockPartLevel(t);
    const bool edge = previous <= 0 && level > 0;
    previous = level;
    if (!edge) continue;
    if (lastEdge >= 0) {
      const std::int64_t count = t - lastEdge - 1;
      hits = (count > cycle - 2 && count < cycle + 2) ? hits + 1 : 0;
      if (hits == 3) return t;
    }
    lastEdge = t;
  }
  throw std::invalid_argument("the receiver cannot lock on the lead-in at this sample rate");
}

int CModulator::LockPartLevel(std::int64_t t) const {
  if (!exactGrid_)
    return static_cast<std::int64_t>(std::floor(t / samplesPerSlot_)) % 2 == 0 ? 1 : -1;
  return (t * link_.slotRate / link_.sampleRate) % 2 == 0 ? 1 : -1;
}

// Normal polarity; `t` counts samples from the burst's start.
int CModulator::LevelInBurst(const Burst& burst, std::int64_t t) const {
  if (t < 0) return -1;
  if (t < lockPartSamples_ && !link_.untrimmed) return LockPartLevel(t);
  const auto slot = static_cast<std::int64_t>(std::floor((t - burst.syncStart) / samplesPerSlot_));
  // The settle part ends with a low slot, so that the sync word's first
  // high slot begins with a clean edge.
  if (slot < 0) return slot % 2 == 0 ? 1 : -1;
  const auto s = static_cast<std::size_t>(slot);
  if (s < kSyncSlots) return (kSyncWord >> (kSyncSlots - 1 - s)) & 1 ? 1 : -1;
  // Each bit fills two slots of its own level; the receiver reads the second.
  const std::size_t bit = (s - kSyncSlots) / 2;
  if (bit / 8 >= burst.bytes.size()) return -1;
  return (burst.bytes[bit / 8] >> (7 - bit % 8)) & 1 ? 1 : -1;
}

void CModulator::Render(std::int64_t first, std::span<std::int8_t> out) const {
  const int sign = link_.inverted ? -1 : 1;
  auto burst = std::partition_point(bursts_.begin(), bursts_.end(),
                                    [&](const Burst& b) { return b.end <= first; });
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::int64_t n = first + static_cast<std::int64_t>(i);
    while (burst != bursts_.end() && burst->end <= n) ++burst;
    int level = -1;
    if (burst != bursts_.end() && n >= burst->start) level = LevelInBurst(*burst, n - burst->start);
    out[i] = static_cast<std::int8_t>(sign * level);
  }
}

}  // namespace simulated_aircraft

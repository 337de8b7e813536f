#include "decoder/demodulator/robust_demodulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#include "common/wire/crc8.h"
#include "common/wire/telemetry_records.h"
#include "decoder/demodulator/decode_engine.h"

namespace {

// The last 16 lead-in slots and the 16-slot sync word 0xCCCC, as +1 / -1.
constexpr int kLeadSlots = 16;
constexpr int kSyncSlots = 16;
constexpr int kTemplateSlots = kLeadSlots + kSyncSlots;
constexpr int TemplateLevel(int j) {
  if (j < kLeadSlots) return j % 2 == 0 ? 1 : -1;
  return (j - kLeadSlots) % 4 < 2 ? 1 : -1;
}

// Where the sync word may start, in slots against the end of the tone as
// the gate saw it; the gate's averaging closes it some slots into the sync.
constexpr double kSearchBefore = 40.0;
constexpr double kSearchAfter = 4.0;
// A tone shorter than this is not a lead-in. The real one (48 slots) held
// the gate open for 44 slots or more in every condition measured, noise at
// 0 dB and the lossy codecs included; white noise opens it often, but
// rarely for this long.
constexpr double kMinToneSlots = 24.0;
// Normalised correlation of the lead-in end and sync word with their
// template. Clean signals and the lossy recorder chains stay well above;
// noise and music rarely reach it, and what does must still pass the
// sync bits, type, length and CRC.
constexpr double kMinCorrelation = 0.6;
// Correlation peaks followed up in each attempt.
constexpr std::size_t kPeaks = 3;
// The root-mean-square distance of a frame's bits from their ideal levels,
// as a share of the amplitude: at most 0.36 for frames at 0 dB SNR and
// through the codecs measured (one frame in 240 after MP3 at 32 kbit/s
// reached 0.57), at least 0.46 for the noise that got this far.
constexpr double kMaxScatter = 0.42;
// How far the timing loop may have moved the slot from its nominal length:
// frames stayed within 2 % in every condition measured, noise mostly drifts
// further.
constexpr double kMaxClockError = 0.03;
// Bits read with less than this share of the amplitude may be repaired.
constexpr double kRepairMargin = 0.5;
// Transmitter clocks tried in the fine search, as factors on the slot rate.
constexpr double kClockFactors[] = {1.0, 1.0 / 1.01, 1.0 / 0.99, 1.0 / 1.02, 1.0 / 0.98};

std::size_t PayloadSize(std::uint8_t type) {
  switch (type) {
    case kFramePosition:
      return sizeof(PositionRecord);
    case kFrameBattery:
      return sizeof(BatteryRecord);
    case kFrameUplink:
      return sizeof(UplinkRecord);
    default:
      return 0;
  }
}

}  // namespace

void CRobustDemodulator::SetSampleRate(std::uint32_t rate) {
  sampleRate_ = rate;
  Configure();
}

void CRobustDemodulator::SetSlotRate(std::int32_t rate) {
  if (rate <= 0) return;
  slotRate_ = rate;
  Configure();
}

void CRobustDemodulator::Configure() {
  samplesPerSlot_ = sampleRate_ > 0 ? static_cast<double>(sampleRate_) / slotRate_ : 0.0;
  // Below about one sample per slot the lead-in cannot be told from noise.
  enabled_ = samplesPerSlot_ >= 1.2;
  n_ = 0;
  lowPass_ = 0.0f;
  slotSum_ = 0.0;
  toneNum_ = toneDen_ = 0.0f;
  toneOn_ = false;
  attemptCount_ = 0;
  nextDue_ = UINT64_MAX;
  resumeAfter_ = 0;
  if (!enabled_) return;

  window_ = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(samplesPerSlot_)));
  // Room for the search window, the longest frame and a late attempt.
  const auto needed = static_cast<std::size_t>(700.0 * samplesPerSlot_) + 1024;
  const std::size_t size = std::bit_ceil(needed);
  mask_ = size - 1;
  raw_.assign(size, 0.0f);
  highPassed_.assign(size, 0.0f);
  slotSums_.assign(size, 0.0f);
  region_.assign(size, 0.0f);
  prefix_.assign(size + 1, 0.0);
  quarters_.assign(4 * (size / static_cast<std::size_t>(std::max(1.0, samplesPerSlot_)) + 8), 0.0);

  // Corner at an eighth of the slot rate: the tone (half the slot rate)
  // passes, 50 or 60 Hz hum does not.
  const double corner = slotRate_ / 8.0;
  lowPassGain_ = static_cast<float>(1.0 - std::exp(-2.0 * std::numbers::pi * corner / sampleRate_));
  toneGain_ = static_cast<float>(1.0 / (8.0 * samplesPerSlot_));
  // Slots of a signal under about 16 units of amplitude are not looked at.
  powerFloor_ = static_cast<float>(std::pow(16.0 * static_cast<double>(window_), 2.0));
}

void CRobustDemodulator::OnGateChange() {
  toneOn_ = !toneOn_;
  if (toneOn_) {
    toneSince_ = n_;
    return;
  }
  if (static_cast<double>(n_ - toneSince_) < kMinToneSlots * samplesPerSlot_) return;
  if (attemptCount_ == attempts_.size()) return;  // a burst of tones: keep the older ones
  Attempt& a = attempts_[attemptCount_++];
  a.toneEnd = n_;
  // Enough for the search window, the sync word and the longest frame at a
  // slow clock, so that one search usually settles it; a stream that ends
  // sooner is read as far as it goes, then again when more arrives.
  a.due =
      n_ + static_cast<std::uint64_t>(
               (kSearchAfter + kSyncSlots + 16.0 * kMaxFrameBytes * 1.03 + 4) * samplesPerSlot_);
  a.retries = 0;
  nextDue_ = std::min(nextDue_, a.due);
}

void CRobustDemodulator::RunDueAttempts() {
  std::size_t kept = 0;
  for (std::size_t k = 0; k < attemptCount_; ++k) {
    Attempt a = attempts_[k];
    if (a.due <= n_) {
      if (a.toneEnd < resumeAfter_) continue;
      const std::uint64_t again = Try(a);
      if (again == 0 || a.retries >= 3) continue;
      a.due = std::max(again, n_ + 1);
      ++a.retries;
    }
    attempts_[kept++] = a;
  }
  attemptCount_ = kept;
  nextDue_ = UINT64_MAX;
  for (std::size_t k = 0; k < attemptCount_; ++k) nextDue_ = std::min(nextDue_, attempts_[k].due);
}

void CRobustDemodulator::Flush() {
  if (!enabled_) return;
  for (std::size_t k = 0; k < attemptCount_; ++k)
    // A frame still short of its end broke off: lost, as the first receiver
    // counts one.
    if (attempts_[k].toneEnd >= resumeAfter_ && Try(attempts_[k]) != 0) sink_.OnLostFrame();
  attemptCount_ = 0;
  nextDue_ = UINT64_MAX;
}

// Linear interpolation of the running sum: sample k covers [k, k + 1).
double CRobustDemodulator::Integral(double a, double b) const {
  const auto F = [this](double t) {
    const auto k = static_cast<std::size_t>(t);
    return prefix_[k] + (t - static_cast<double>(k)) * region_[k];
  };
  return F(b) - F(a);
}

std::uint64_t CRobustDemodulator::Try(const Attempt& attempt) {
  const double N = samplesPerSlot_;
  const std::uint64_t capacity = mask_ + 1;
  const auto reach = static_cast<std::uint64_t>((kSearchBefore + kLeadSlots + 2) * N);
  std::uint64_t lo = attempt.toneEnd > reach ? attempt.toneEnd - reach : 0;
  lo = std::max({lo, resumeAfter_, n_ > capacity - 1 ? n_ - (capacity - 1) : 0});
  if (lo > attempt.toneEnd) return 0;  // overwritten or taken already
  const std::size_t size = static_cast<std::size_t>(n_ - lo);
  regionStart_ = lo;
  for (std::size_t k = 0; k < size; ++k) {
    region_[k] = raw_[static_cast<std::size_t>(lo + k) & mask_];
    prefix_[k + 1] = prefix_[k] + region_[k];
  }
  const double limit = static_cast<double>(size) - 1.0;

  // Coarse search on quarter-slot sums: the template correlation at every
  // quarter-slot offset costs 32 additions.
  const double first = static_cast<double>(attempt.toneEnd - lo) - (kSearchBefore + kLeadSlots) * N;
  const double origin = std::max(0.0, first);
  const double quarter = N / 4.0;
  if (limit - origin < (kTemplateSlots + 1) * N) return 0;
  const auto quarterCount =
      std::min<std::size_t>(quarters_.size(), static_cast<std::size_t>((limit - origin) / quarter));
  for (std::size_t q = 0; q < quarterCount; ++q)
    quarters_[q] = Integral(origin + q * quarter, origin + (q + 1) * quarter);
  const auto positions = static_cast<std::size_t>((kSearchBefore + kSearchAfter) * 4);
  // The strongest few peaks, each at least two slots from the others: a
  // codec can leave the true one below a neighbour.
  struct Peak {
    double value = 0.0;
    std::size_t q = 0;
  };
  std::array<Peak, kPeaks> peaks{};
  for (std::size_t q = 0; q < positions; ++q) {
    if (q + 4 * kTemplateSlots > quarterCount) break;
    double c = 0.0;
    for (int j = 0; j < kTemplateSlots; ++j) {
      const std::size_t at = q + 4 * static_cast<std::size_t>(j);
      const double slot = quarters_[at] + quarters_[at + 1] + quarters_[at + 2] + quarters_[at + 3];
      c += TemplateLevel(j) * slot;
    }
    c = std::fabs(c);
    auto near = std::find_if(peaks.begin(), peaks.end(), [&](const Peak& p) {
      return p.value > 0 && (q > p.q ? q - p.q : p.q - q) < 8;
    });
    if (near != peaks.end()) {
      if (c > near->value) *near = {c, q};
    } else if (c > peaks.back().value) {
      peaks.back() = {c, q};
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak& x, const Peak& y) { return x.value > y.value; });
  }

  std::uint64_t needUntil = 0;
  bool synced = false;
  headerRead_ = false;
  for (const Peak& peak : peaks) {
    if (peak.value == 0.0) break;
    // Fine search: an eighth of a quarter slot, and the clock factors.
    struct Candidate {
      double start, slot, corr, norm;
    } best{0, N, 0, 0};
    const double coarseStart = origin + static_cast<double>(peak.q) * quarter;
    for (const double factor : kClockFactors) {
      const double slot = N * factor;
      for (int step = -8; step <= 8; ++step) {
        const double t0 = coarseStart + step * quarter / 8.0;
        if (t0 < 0 || t0 + kTemplateSlots * slot >= limit) continue;
        double c = 0.0, energy = 0.0;
        for (int j = 0; j < kTemplateSlots; ++j) {
          const double v = Integral(t0 + j * slot, t0 + (j + 1) * slot);
          c += TemplateLevel(j) * v;
          energy += v * v;
        }
        if (std::fabs(c) > std::fabs(best.corr))
          best = {t0 + kLeadSlots * slot, slot, c,
                  energy > 0 ? std::fabs(c) / std::sqrt(kTemplateSlots * energy) : 0};
      }
    }
    if (best.norm < kMinCorrelation) continue;
    const int polarity = best.corr > 0 ? 1 : -1;

    // The sync word repeats every four slots, and a lossy codec smears the
    // end of the lead-in into it, so the peak can sit four or eight slots
    // off; the readings there decide, as the checks keep them honest.
    for (const double shift : {0.0, 4.0, -4.0, 8.0, -8.0}) {
      const double start = best.start + shift * best.slot;
      if (!SyncBitsRead(start, best.slot, polarity)) continue;
      synced = true;
      const Reading readings[] = {
          {start, best.slot, polarity, true, true},
          {start, best.slot, polarity, true, true, true},
          {start, best.slot, polarity, true, false},
          {start, best.slot, polarity, false, true},
          {start, N, polarity, true, true},
          {start - best.slot / 4, best.slot, polarity, true, true},
          {start + best.slot / 4, best.slot, polarity, true, true},
          {start, best.slot * 1.01, polarity, true, true},
          {start, best.slot / 1.01, polarity, true, true},
      };
      for (const Reading& r : readings) {
        std::uint64_t need = 0;
        const Outcome o = Read(r, lo, need);
        if (o == Outcome::kValid) return 0;
        if (o == Outcome::kNeedMore) needUntil = std::max(needUntil, need);
      }
    }
  }
  if (!synced) return 0;
  if (needUntil > 0) return needUntil;
  // Only a frame whose type and length read right counts as lost: noise
  // finds a sync word now and then, but never that.
  if (headerRead_) sink_.OnLostFrame();
  return 0;
}

// Every bit of the sync word must read right on its own, against a baseline
// drawn through the means of its two balanced halves.
bool CRobustDemodulator::SyncBitsRead(double start, double slot, int polarity) const {
  const double half = kSyncSlots / 2 * slot;
  if (start < 0 || start + 2 * half >= static_cast<double>(n_ - regionStart_) - 1.0) return false;
  const double m1 = Integral(start, start + half) / half;
  const double m2 = Integral(start + half, start + 2 * half) / half;
  for (int k = 0; k < kSyncSlots / 2; ++k) {
    const double a = start + 2 * k * slot;
    const double mid = m1 + (m2 - m1) * (k - 1.5) / 4.0;
    const double v = Integral(a, a + 2 * slot) / (2 * slot) - mid;
    if (v * polarity * (k % 2 == 0 ? 1 : -1) <= 0) return false;
  }
  return true;
}

CRobustDemodulator::Outcome CRobustDemodulator::Read(const Reading& r, std::uint64_t regionStart,
                                                     std::uint64_t& needUntil) {
  const double limit = static_cast<double>(n_ - regionStart) - 1.0;
  double slot = r.slot;
  const double s = r.polarity;
  if (r.start < 0 || r.start + kSyncSlots * slot >= limit) return Outcome::kInvalid;
  // Baseline and its drift per bit from the two halves of the sync word
  // (each half balanced), amplitude from its bits.
  const double half = 8 * slot;
  const double m1 = Integral(r.start, r.start + half) / half;
  const double m2 = Integral(r.start + half, r.start + 2 * half) / half;
  double drift = r.followBaseline ? (m2 - m1) / 4.0 : 0.0;
  double base = r.followBaseline ? m2 + 2.5 * drift : (m1 + m2) / 2;
  double amp = 0.0;
  for (int k = 0; k < 8; ++k) {
    const double a = r.start + 2 * k * slot;
    const double mid = m1 + (m2 - m1) * (k - 1.5) / 4.0;
    amp += (k % 2 == 0 ? 1 : -1) * s * (Integral(a, a + 2 * slot) / (2 * slot) - mid);
  }
  amp /= 8.0;
  if (!(amp > 0.0)) return Outcome::kInvalid;

  struct Weak {
    std::size_t bit;
    double margin;
  } weakest[3] = {{0, 1e9}, {0, 1e9}, {0, 1e9}};
  double scatter = 0.0;  // squared distance of each bit from its ideal level
  double p = r.start + kSyncSlots * slot;
  int previous = -1;  // the sync word ends low
  std::size_t bytes = 2;
  std::uint8_t current = 0;
  for (std::size_t bit = 0; bit < bytes * 8; ++bit) {
    const double halfSlot = slot / 2;
    if (p + 2 * slot + slot >= limit || p - halfSlot < 0) {
      const double remaining = static_cast<double>(bytes * 8 - bit) * 2 * slot + 3 * slot;
      needUntil = regionStart + static_cast<std::uint64_t>(p + remaining * 1.03) + 1;
      return p - halfSlot < 0 ? Outcome::kInvalid : Outcome::kNeedMore;
    }
    const auto bitMean = [&] { return Integral(p, p + 2 * slot) / (2 * slot); };
    double v = bitMean();
    int d = s * (v - base) >= 0 ? 1 : -1;
    if (r.followTiming && d != previous) {
      // Across a transition the half-slot either side of the supposed edge
      // sums to twice the amplitude times how far the real edge lies later.
      const double around = Integral(p - halfSlot, p + halfSlot) - base * slot;
      const double late = std::clamp(s * around / (2 * amp * previous), -halfSlot, halfSlot);
      p += 0.3 * late;
      slot += 0.02 * late;
      v = bitMean();
      d = s * (v - base) >= 0 ? 1 : -1;
    }
    if (r.followBaseline) {
      const double e = v - s * d * amp - base;
      base += 0.25 * e;
      drift += 0.03 * e;
      base += drift;  // the prediction for the next bit
    }
    // Against the baseline as this bit has moved it: on the conditions
    // measured this picks the bits worth repairing slightly better.
    const double margin = s * d * (v - base) / amp;
    scatter += (margin - 1) * (margin - 1);
    if (bit >= 16) {  // the header has been checked already
      if (margin < weakest[2].margin) weakest[2] = {bit, margin};
      if (weakest[2].margin < weakest[1].margin) std::swap(weakest[1], weakest[2]);
      if (weakest[1].margin < weakest[0].margin) std::swap(weakest[0], weakest[1]);
    }
    amp += 0.05 * (s * d * (v - base) - amp);
    if (!(amp > 0.0)) return Outcome::kInvalid;
    current = static_cast<std::uint8_t>(current << 1 | (d > 0 ? 1 : 0));
    if (bit % 8 == 7) {
      const std::size_t index = bit / 8;
      frame_[index] = current;
      if (index == 0 && PayloadSize(current) == 0) return Outcome::kInvalid;
      if (index == 1) {
        if (current != PayloadSize(frame_[0])) return Outcome::kInvalid;
        bytes = current + 3u;
        headerRead_ = true;
      }
    }
    previous = d;
    p += 2 * slot;
  }
  const auto crcGood = [&] { return crc8::Compute(frame_.data(), bytes - 1) == frame_[bytes - 1]; };
  const auto flip = [&](const Weak& w) {
    frame_[w.bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (w.bit % 8));
  };
  // One or two bits that the codec or noise pushed across the line, with
  // every other bit well clear of it: the CRC says which reading is right.
  // Only then, so that garbage, whose bits are weak all over, gains nothing
  // from it.
  bool repaired = false;
  if (r.repair && !crcGood() && weakest[0].margin < kRepairMargin &&
      weakest[2].margin >= kRepairMargin) {
    const int tries = weakest[1].margin < kRepairMargin ? 3 : 1;
    for (int t = 0; t < tries && !repaired; ++t) {
      // The weakest alone, the second alone, both.
      if (t != 1) flip(weakest[0]);
      if (t != 0) flip(weakest[1]);
      repaired = crcGood();
      if (!repaired && t != 1) flip(weakest[0]);
      if (!repaired && t != 0) flip(weakest[1]);
    }
  }
  if (!repaired && !crcGood()) return Outcome::kInvalid;
  // Noise that passed so far was read with bits strewn between the levels
  // and with the timing loop dragged off the slot rate; a transmitter's
  // frame, even at 0 dB or through a codec, keeps both close.
  if (std::sqrt(scatter / static_cast<double>(bytes * 8)) > kMaxScatter ||
      std::fabs(slot / samplesPerSlot_ - 1.0) > kMaxClockError)
    return Outcome::kInvalid;
  if (frame_[0] == kFramePosition) {
    PositionRecord position;
    std::memcpy(&position, frame_.data() + 2, sizeof position);
    if (!CDecodeEngine::CanBeTrue(position)) return Outcome::kInvalid;
  }
  resumeAfter_ = regionStart + static_cast<std::uint64_t>(p);
  sink_.OnFrame(std::span<const std::uint8_t>(frame_.data(), bytes));
  return Outcome::kValid;
}

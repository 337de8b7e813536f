#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Where the robust demodulator delivers what it receives.
class IFrameSink {
 public:
  // A whole frame (type, length, payload, CRC) that passed every check.
  virtual void OnFrame(std::span<const std::uint8_t> frame) = 0;
  // A frame whose lead-in, sync word, type and length read right but whose
  // bytes never checked out in any reading.
  virtual void OnLostFrame() = 0;

 protected:
  ~IFrameSink() = default;
};

// A second receiver for the same signal, for recordings the first one loses:
// noise, transmitters whose clock is off, hum and DC on the line, low sample
// rates and lossy codecs.
//
// Per sample it only keeps the audio and watches for the lead-in tone (the
// slot-rate alternation no data can produce). When the tone ends it searches
// the sync word by correlation over whole slots, then reads the frame with
// bits integrated over their full length, a timing loop that follows the
// transmitter's clock and a baseline that follows hum and DC. Several
// readings are tried and the first one whose type, length and CRC all agree
// wins; the length must be exactly the record size of the type, so type,
// length and CRC together let about one garbled frame in 5.6 million
// through, not one in 256.
//
// ProcessSample allocates nothing; SetSampleRate and SetSlotRate size the
// buffers and forget any audio held.
class CRobustDemodulator {
 public:
  static constexpr std::size_t kMaxFrameBytes = 23;  // the uplink frame, the longest record

  explicit CRobustDemodulator(IFrameSink& sink) : sink_(sink) {}
  CRobustDemodulator(const CRobustDemodulator&) = delete;
  CRobustDemodulator& operator=(const CRobustDemodulator&) = delete;

  void SetSampleRate(std::uint32_t rate);
  // A rate that is not positive is ignored, as by the first receiver.
  void SetSlotRate(std::int32_t rate);
  // Forgets the audio held, as before the first sample.
  void Reset() { Configure(); }
  // At the end of the audio: reads the frames still awaiting their end as
  // far as they go, instead of waiting for samples that will not come.
  void Flush();

  inline void ProcessSample(std::int16_t s);
  void ProcessSamples(const std::int16_t* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) ProcessSample(samples[i]);
  }

 private:
  enum class Outcome { kValid, kInvalid, kNeedMore };
  struct Reading {
    double start;  // first slot of the sync word, in region samples
    double slot;   // samples per slot
    int polarity;
    bool followTiming;
    bool followBaseline;
    bool repair = false;  // try the weakest one or two bits the other way
  };
  struct Attempt {
    std::uint64_t toneEnd = 0;
    std::uint64_t due = 0;
    int retries = 0;
  };

  void Configure();
  void OnGateChange();
  void RunDueAttempts();
  // Returns the sample from which the attempt should be tried again, or 0
  // when it is done with.
  std::uint64_t Try(const Attempt& attempt);
  double Integral(double a, double b) const;
  bool SyncBitsRead(double start, double slot, int polarity) const;
  Outcome Read(const Reading& r, std::uint64_t regionStart, std::uint64_t& needUntil);

  IFrameSink& sink_;
  std::uint32_t sampleRate_ = 0;
  std::int32_t slotRate_ = 4777;
  double samplesPerSlot_ = 0.0;
  bool enabled_ = false;

  // Hot state.
  std::uint64_t n_ = 0;
  std::size_t mask_ = 0;
  std::size_t window_ = 1;  // whole samples in one slot, for the tone gate
  std::vector<float> raw_;
  std::vector<float> highPassed_;
  std::vector<float> slotSums_;
  float lowPass_ = 0.0f;
  float lowPassGain_ = 0.0f;
  double slotSum_ = 0.0;
  float toneNum_ = 0.0f;  // slot-to-slot anticorrelation
  float toneDen_ = 0.0f;  // slot power
  float toneGain_ = 0.0f;
  float powerFloor_ = 0.0f;
  bool toneOn_ = false;
  std::uint64_t toneSince_ = 0;
  std::uint64_t nextDue_ = UINT64_MAX;

  // Cold state.
  std::array<Attempt, 8> attempts_{};
  std::size_t attemptCount_ = 0;
  std::uint64_t resumeAfter_ = 0;  // audio before this belongs to a frame already taken
  std::uint64_t regionStart_ = 0;
  bool headerRead_ = false;  // some reading of this attempt got type and length right
  std::vector<float> region_;
  std::vector<double> prefix_;
  std::vector<double> quarters_;
  std::array<std::uint8_t, kMaxFrameBytes> frame_{};
};

// Inline so that a buffer loop compiles to straight-line code; everything
// beyond the tone gate happens a few times per frame, out of line.
inline void CRobustDemodulator::ProcessSample(std::int16_t s) {
  if (!enabled_) return;
  const float x = s;
  const std::size_t i = static_cast<std::size_t>(n_) & mask_;
  const std::size_t back = static_cast<std::size_t>(n_ - window_) & mask_;
  raw_[i] = x;
  // The gate looks above hum and DC only; the reading itself uses the raw
  // audio and follows the baseline.
  lowPass_ += lowPassGain_ * (x - lowPass_);
  const float h = x - lowPass_;
  slotSum_ += h - highPassed_[back];
  highPassed_[i] = h;
  const float sum = static_cast<float>(slotSum_);
  const float previous = slotSums_[back];
  slotSums_[i] = sum;
  toneNum_ += toneGain_ * (-sum * previous - toneNum_);
  toneDen_ += toneGain_ * (sum * sum - toneDen_);
  ++n_;
  const bool tone =
      toneOn_ ? toneNum_ > 0.25 * toneDen_ : toneNum_ > 0.5 * toneDen_ && toneDen_ > powerFloor_;
  if (tone != toneOn_) OnGateChange();
  if (n_ >= nextDue_) RunDueAttempts();
}

#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tools/simulated_aircraft/flight.h"
#include "tools/simulated_aircraft/modulator.h"

namespace simulated_aircraft {

enum class ChannelLayout { kMono, kStereoLeft, kStereoRight };
enum class OtherChannel { kSilence, kTone };

struct SignalOptions {
  LinkSettings link;
  // Peak level of the telemetry as a fraction of full scale, (0, 1].
  double amplitude = 0.5;
  ChannelLayout layout = ChannelLayout::kMono;
  // What the channel without telemetry carries in stereo.
  OtherChannel other = OtherChannel::kSilence;
  // Gaussian white noise on the telemetry channel. The two-level telemetry
  // has the power A^2 (A its peak), so the noise's standard deviation is
  // A / 10^(snrDb / 20). Samples are clipped to 16 bits after adding it.
  std::optional<double> snrDb;
  std::uint64_t seed = 1;
  // Mains hum on the telemetry channel: a sine of this frequency and peak
  // (a fraction of full scale, like `amplitude`), and a constant offset in
  // sample units. Both are added before the noise.
  double humHz = 0.0;
  double humAmplitude = 0.0;
  double dc = 0.0;
  // The audio is padded with idle line to at least this length.
  double minSeconds = 0.0;
};

inline constexpr int kOtherToneHz = 1000;

// A small, fast generator whose sequence is fixed by its seed on every
// platform.
class CNoiseSource {
 public:
  explicit CNoiseSource(std::uint64_t seed);
  std::uint64_t Next();

 private:
  std::uint64_t state_[4];
};

// Renders the audio in pieces, so that long recordings can be written
// without holding them in memory.
class CSignalRenderer {
 public:
  // Throws std::invalid_argument for settings that cannot make a signal.
  CSignalRenderer(std::span<const ScheduledFrame> frames, const SignalOptions& options);

  int Channels() const { return options_.layout == ChannelLayout::kMono ? 1 : 2; }
  std::int64_t TotalSampleFrames() const { return modulator_.Length(); }
  std::int64_t RemainingSampleFrames() const { return modulator_.Length() - position_; }
  const std::vector<Burst>& Bursts() const { return modulator_.Bursts(); }

  // Fills whole sample frames (interleaved) into `out`; returns the number
  // of int16 values written, 0 at the end.
  std::size_t RenderNext(std::span<std::int16_t> out);

 private:
  double NextNoise();

  SignalOptions options_;
  CModulator modulator_;
  double peak_ = 0.0;
  double noiseSigma_ = 0.0;
  CNoiseSource random_;
  std::optional<double> spareNoise_;
  std::vector<std::int8_t> levels_;
  std::vector<std::int16_t> tone_;  // one period of the other channel's tone
  std::int64_t position_ = 0;
};

// The whole audio in memory, interleaved.
std::vector<std::int16_t> RenderSignal(std::span<const ScheduledFrame> frames,
                                       const SignalOptions& options);
std::vector<std::int16_t> RenderSignal(std::span<const FlightFrame> frames,
                                       const SignalOptions& options);

}  // namespace simulated_aircraft

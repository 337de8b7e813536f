#include "tools/simulated_aircraft/signal_renderer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace simulated_aircraft {
namespace {

constexpr double kFullScale = 32767.0;

std::int16_t ToPcm(double value) {
  return static_cast<std::int16_t>(std::floor(std::clamp(value, -32768.0, 32767.0) + 0.5));
}

}  // namespace

// xoshiro256**, seeded through splitmix64 as its authors recommend.
CNoiseSource::CNoiseSource(std::uint64_t seed) {
  for (std::uint64_t& word : state_) {
    seed += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = seed;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    word = z ^ (z >> 31);
  }
}

std::uint64_t CNoiseSource::Next() {
  const std::uint64_t result = std::rotl(state_[1] * 5, 7) * 9;
  const std::uint64_t t = state_[1] << 17;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = std::rotl(state_[3], 45);
  return result;
}

CSignalRenderer::CSignalRenderer(std::span<const ScheduledFrame> frames,
                                 const SignalOptions& options)
    : options_(options),
      modulator_(options.link, frames, options.minSeconds),
      random_(options.seed) {
  if (!(options.amplitude > 0.0 && options.amplitude <= 1.0)) {
    throw std::invalid_argument("the amplitude must be above 0 and at most 1");
  }
  // Whole sample units, so that the two levels are exact mirror images.
  peak_ = std::round(options.amplitude * kFullScale);
  if (options.layout != ChannelLayout::kMono && options.other == OtherChannel::kTone) {
    // A whole number of tone cycles fits in sampleRate / gcd samples.
    const std::uint32_t rate = options.link.sampleRate;
    const auto hz = static_cast<std::uint32_t>(kOtherToneHz);
    tone_.resize(rate / std::gcd(rate, hz));
    for (std::size_t n = 0; n < tone_.size(); ++n) {
      tone_[n] = ToPcm(peak_ * std::sin(2 * std::numbers::pi * static_cast<double>(n) * hz / rate));
    }
  }
  if (!std::isfinite(options.humHz) || options.humHz < 0 || !std::isfinite(options.humAmplitude) ||
      std::fabs(options.humAmplitude) > 1.0 || !std::isfinite(options.dc) ||
      std::fabs(options.dc) > kFullScale) {
    throw std::invalid_argument(
        "the hum needs a frequency of 0 Hz or more and a peak of at most 1, "
        "the DC offset at most 32767");
  }
  if (options.snrDb) {
    if (!std::isfinite(*options.snrDb)) throw std::invalid_argument("the SNR must be finite");
    noiseSigma_ = peak_ / std::pow(10.0, *options.snrDb / 20.0);
  }
}

// Marsaglia's polar method on our own generator rather than
// std::normal_distribution, whose output differs between standard libraries:
// a seed must give the same file everywhere.
double CSignalRenderer::NextNoise() {
  if (spareNoise_) return *std::exchange(spareNoise_, std::nullopt);
  constexpr double kScale = 2.0 / 9007199254740992.0;  // 2 / 2^53
  double u, v, s;
  do {
    u = static_cast<double>(random_.Next() >> 11) * kScale - 1.0;
    v = static_cast<double>(random_.Next() >> 11) * kScale - 1.0;
    s = u * u + v * v;
  } while (s >= 1.0 || s == 0.0);
  const double f = std::sqrt(-2.0 * std::log(s) / s);
  spareNoise_ = v * f;
  return u * f;
}

std::size_t CSignalRenderer::RenderNext(std::span<std::int16_t> out) {
  const int channels = Channels();
  const auto count = static_cast<std::size_t>(std::min<std::int64_t>(
      static_cast<std::int64_t>(out.size() / channels), RemainingSampleFrames()));
  levels_.resize(count);
  modulator_.Render(position_, levels_);
  const int telemetry = options_.layout == ChannelLayout::kStereoRight ? 1 : 0;
  for (std::size_t i = 0; i < count; ++i) {
    double value = levels_[i] * peak_ + options_.dc;
    if (options_.humAmplitude != 0.0) {
      const double t =
          static_cast<double>(position_ + static_cast<std::int64_t>(i)) / options_.link.sampleRate;
      value +=
          options_.humAmplitude * kFullScale * std::sin(2 * std::numbers::pi * options_.humHz * t);
    }
    if (noiseSigma_ > 0) value += noiseSigma_ * NextNoise();
    std::int16_t* frame = out.data() + i * channels;
    frame[telemetry] = ToPcm(value);
    if (channels == 2) {
      const auto n = static_cast<std::uint64_t>(position_) + i;
      frame[1 - telemetry] = tone_.empty() ? 0 : tone_[n % tone_.size()];
    }
  }
  position_ += static_cast<std::int64_t>(count);
  return count * channels;
}

std::vector<std::int16_t> RenderSignal(std::span<const ScheduledFrame> frames,
                                       const SignalOptions& options) {
  CSignalRenderer renderer(frames, options);
  std::vector<std::int16_t> samples(
      static_cast<std::size_t>(renderer.TotalSampleFrames() * renderer.Channels()));
  renderer.RenderNext(samples);
  return samples;
}

std::vector<std::int16_t> RenderSignal(std::span<const FlightFrame> frames,
                                       const SignalOptions& options) {
  return RenderSignal(BuildFrames(frames), options);
}

}  // namespace simulated_aircraft

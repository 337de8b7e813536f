#include "decoder/demodulator/robust_demodulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

namespace {

using namespace simulated_aircraft;

using Frame = std::vector<std::uint8_t>;

struct Counter final : IFrameSink {
  void OnFrame(std::span<const std::uint8_t> f) override {
    frames.emplace_back(f.begin(), f.end());
  }
  void OnLostFrame() override {}
  std::vector<Frame> frames;
};

std::vector<Frame> Decode(const std::vector<std::int16_t>& audio, std::uint32_t rate, int slots) {
  Counter counter;
  CRobustDemodulator demodulator(counter);
  demodulator.SetSlotRate(slots);
  demodulator.SetSampleRate(rate);
  demodulator.ProcessSamples(audio.data(), audio.size());
  demodulator.Flush();
  return counter.frames;
}

// A recorder that stores fewer samples per second: low-pass below the new
// Nyquist frequency, then keep every `factor`-th sample.
std::vector<std::int16_t> Downsample(const std::vector<std::int16_t>& in, int factor) {
  constexpr int kTaps = 96;
  std::vector<double> h(kTaps);
  const double cutoff = 0.45 / factor;
  for (int k = 0; k < kTaps; ++k) {
    const double m = k - (kTaps - 1) / 2.0;
    const double sinc =
        m == 0 ? 2 * cutoff : std::sin(2 * std::numbers::pi * cutoff * m) / (std::numbers::pi * m);
    h[static_cast<std::size_t>(k)] =
        sinc * (0.54 - 0.46 * std::cos(2 * std::numbers::pi * k / (kTaps - 1)));
  }
  std::vector<std::int16_t> out;
  for (std::size_t n = kTaps; n < in.size(); n += static_cast<std::size_t>(factor)) {
    double acc = 0;
    for (int k = 0; k < kTaps; ++k)
      acc += h[static_cast<std::size_t>(k)] * in[n - static_cast<std::size_t>(k)];
    out.push_back(static_cast<std::int16_t>(std::clamp(acc, -32768.0, 32767.0)));
  }
  return out;
}

// G.711 µ-law there and back: 8 bits per sample, logarithmic steps.
std::vector<std::int16_t> MuLaw(std::vector<std::int16_t> audio) {
  for (auto& s : audio) {
    const double x = s / 32768.0;
    const double y = std::copysign(std::log1p(255 * std::fabs(x)) / std::log1p(255.0), x);
    const double q = std::round(y * 127) / 127;
    s = static_cast<std::int16_t>(std::copysign((std::pow(256.0, std::fabs(q)) - 1) / 255, q) *
                                  32767);
  }
  return audio;
}

struct Condition {
  std::string name;
  std::function<void(SignalOptions&)> setUp;
  std::function<std::vector<std::int16_t>(std::vector<std::int16_t>)> record = [](auto a) {
    return a;
  };
  std::uint32_t recordedRate = 0;  // when the recorder changes it
};

TEST(RobustDemodulator, DecodesEveryFrameUnderEachRecordingCondition) {
  const auto flight = SyntheticFlight(10.0);
  const auto sent = BuildFrames(flight);
  const std::vector<Condition> conditions = {
      {"white noise 6 dB", [](SignalOptions& o) { o.snrDb = 6; }},
      {"untrimmed 22050/4777",
       [](SignalOptions& o) { o.link = {.sampleRate = 22050, .untrimmed = true}; }},
      {"untrimmed 48000/9554",
       [](SignalOptions& o) {
         o.link = {.sampleRate = 48000, .slotRate = 9554, .untrimmed = true};
       }},
      {"clock +1 %", [](SignalOptions& o) { o.link.clockErrorPercent = 1; }},
      {"clock -1 %", [](SignalOptions& o) { o.link.clockErrorPercent = -1; }},
      {"hum and DC",
       [](SignalOptions& o) {
         o.amplitude = 0.3;
         o.humHz = 50;
         o.humAmplitude = 0.2;
         o.dc = 1500;
       }},
      {"8 kHz PCM", [](SignalOptions& o) { o.link.sampleRate = 48000; },
       [](auto a) { return Downsample(a, 6); }, 8000},
      {"11.025 kHz PCM", [](SignalOptions&) {}, [](auto a) { return Downsample(a, 4); }, 11025},
      {"µ-law at 8 kHz", [](SignalOptions& o) { o.link.sampleRate = 48000; },
       [](auto a) { return MuLaw(Downsample(a, 6)); }, 8000},
  };
  for (const Condition& c : conditions) {
    SignalOptions options;
    options.minSeconds = 10.5;
    c.setUp(options);
    const auto audio = c.record(RenderSignal(flight, options));
    const auto got = Decode(audio, c.recordedRate ? c.recordedRate : options.link.sampleRate,
                            options.link.slotRate);
    ASSERT_EQ(got.size(), sent.size()) << c.name;
    for (std::size_t i = 0; i < sent.size(); ++i)
      EXPECT_EQ(got[i], sent[i].bytes) << c.name << " frame " << i;
  }
}

TEST(RobustDemodulator, CleanSignalsAtEveryRateCombinationDecodeEveryFrame) {
  const auto flight = SyntheticFlight(4.0);
  for (std::uint32_t rate : {22050u, 44100u, 48000u})
    for (std::int32_t slots : {2388, 4777, 9554})
      for (bool inverted : {false, true}) {
        SignalOptions options;
        options.link = {.sampleRate = rate, .slotRate = slots, .inverted = inverted};
        options.minSeconds = 4.5;
        EXPECT_EQ(Decode(RenderSignal(flight, options), rate, slots).size(), flight.size())
            << rate << "/" << slots << (inverted ? " inverted" : "");
      }
}

TEST(RobustDemodulator, FindsNoFrameInMinutesOfWhiteNoise) {
  CNoiseSource random(99);
  std::vector<std::int16_t> noise(44100 * 180);
  for (auto& s : noise)
    s = static_cast<std::int16_t>(static_cast<std::int64_t>(random.Next() >> 50) - 8192);
  EXPECT_TRUE(Decode(noise, 44100, 4777).empty());
}

}  // namespace

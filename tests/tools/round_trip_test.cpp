#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "tests/tools/recording_engine.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

namespace {

using namespace simulated_aircraft;

using Combination = std::tuple<std::uint32_t, std::int32_t, bool, ChannelLayout>;

class RoundTrip : public testing::TestWithParam<Combination> {
 protected:
  SignalOptions Options() const {
    SignalOptions o;
    std::tie(o.link.sampleRate, o.link.slotRate, o.link.inverted, o.layout) = GetParam();
    o.other = OtherChannel::kTone;
    return o;
  }

  void ExpectEveryFrame(std::span<const FlightFrame> flight, const SignalOptions& options) {
    CRecordingEngine engine(options.link.sampleRate, options.link.slotRate);
    const int channels = options.layout == ChannelLayout::kMono ? 1 : 2;
    engine.Feed(RenderSignal(flight, options), channels,
                options.layout == ChannelLayout::kStereoRight ? 1 : 0);
    EXPECT_EQ(engine.GoodFrames(), static_cast<int>(flight.size()));
    EXPECT_EQ(engine.BadFrames(), 0);
    EXPECT_EQ(AsFrames(engine.records), AsFrames(RecordsOf(flight)));
  }
};

TEST_P(RoundTrip, EveryFrameOfAPacedFlightDecodesExactly) {
  ExpectEveryFrame(SyntheticFlight(4.0), Options());
}

// Back to back, only the modulator's own gap separates the frames: the
// receiver must still see an out-of-window interval before every lead-in.
TEST_P(RoundTrip, EveryFrameSentBackToBackDecodes) {
  auto flight = SyntheticFlight(4.0);
  for (auto& f : flight) f.sendAt = 0.0;
  ExpectEveryFrame(flight, Options());
}

// At 20 dB the noise stays far below the level that flips a slot or makes a
// zero crossing on the idle line, so not a single frame may be lost.
TEST_P(RoundTrip, EveryFrameDecodesThroughModerateNoise) {
  SignalOptions options = Options();
  options.snrDb = 20.0;
  options.seed = 7;
  ExpectEveryFrame(SyntheticFlight(4.0), options);
}

std::string CombinationName(const testing::TestParamInfo<Combination>& info) {
  const auto [rate, slots, inverted, layout] = info.param;
  const char* channel = layout == ChannelLayout::kMono         ? "Mono"
                        : layout == ChannelLayout::kStereoLeft ? "Left"
                                                               : "Right";
  return std::to_string(rate) + "Hz_" + std::to_string(slots) + "_" +
         (inverted ? "Inverted_" : "Normal_") + channel;
}

INSTANTIATE_TEST_SUITE_P(AllRatesPolaritiesAndChannels, RoundTrip,
                         testing::Combine(testing::Values(22050u, 44100u, 48000u),
                                          testing::Values(2388, 4777, 9554), testing::Bool(),
                                          testing::Values(ChannelLayout::kMono,
                                                          ChannelLayout::kStereoLeft,
                                                          ChannelLayout::kStereoRight)),
                         CombinationName);

SignalOptions Mono(std::uint32_t rate = 44100, std::int32_t slots = 4777) {
  SignalOptions o;
  o.link.sampleRate = rate;
  o.link.slotRate = slots;
  return o;
}

// Only up to the lock: after it each polarity gets its own trim.
TEST(Signal, InvertedPolarityTurnsTheLineAndLeadInUpsideDown) {
  const auto frames = BuildFrames(SyntheticFlight(1.0));
  SignalOptions options = Mono(48000, 9554);
  const auto normal = RenderSignal(frames, options);
  options.link.inverted = true;
  const auto inverted = RenderSignal(frames, options);
  const CSignalRenderer renderer(frames, options);
  ASSERT_EQ(normal.size(), inverted.size());
  const auto lock = static_cast<std::size_t>(renderer.Bursts()[0].lockSample);
  ASSERT_GT(inverted[lock], 0);
  for (std::size_t i = 0; i <= lock; ++i) ASSERT_EQ(inverted[i], -normal[i]) << i;
}

TEST(Signal, TelemetrySitsOnTheChosenChannelAtTheChosenAmplitude) {
  const auto flight = SyntheticFlight(1.0);
  SignalOptions options = Mono();
  options.amplitude = 0.25;
  options.layout = ChannelLayout::kStereoRight;
  const auto audio = RenderSignal(flight, options);
  const auto peak = static_cast<std::int16_t>(std::lround(0.25 * 32767));
  for (std::size_t i = 0; i < audio.size(); i += 2) {
    ASSERT_EQ(audio[i], 0) << "left channel should be silent";
    ASSERT_EQ(std::abs(audio[i + 1]), peak) << "two levels only";
  }
}

TEST(Signal, NoiseHasThePowerTheSnrAsksForAndFollowsTheSeed) {
  const auto flight = SyntheticFlight(2.0);
  SignalOptions options = Mono();
  const auto clean = RenderSignal(flight, options);
  options.snrDb = 10.0;
  options.seed = 42;
  const auto noisy = RenderSignal(flight, options);
  double power = 0.0;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    const double d = noisy[i] - clean[i];
    power += d * d;
  }
  power /= static_cast<double>(clean.size());
  const double signal = std::pow(0.5 * 32767, 2);
  EXPECT_NEAR(10 * std::log10(signal / power), 10.0, 0.05);

  EXPECT_EQ(RenderSignal(flight, options), noisy);
  options.seed = 43;
  EXPECT_NE(RenderSignal(flight, options), noisy);
}

TEST(Signal, FramesGoOutAtTheirTimesAndAudioCoversTheRequestedLength) {
  const auto flight = SyntheticFlight(3.0);
  SignalOptions options = Mono(22050, 2388);
  options.minSeconds = 3.0;
  CSignalRenderer renderer(BuildFrames(flight), options);
  ASSERT_EQ(renderer.Bursts().size(), flight.size());
  // The first frame waits for the idle gap; all later ones start on time.
  for (std::size_t i = 1; i < flight.size(); ++i) {
    EXPECT_EQ(renderer.Bursts()[i].start, std::llround(flight[i].sendAt * 22050)) << i;
  }
  EXPECT_EQ(renderer.TotalSampleFrames(), 3 * 22050);
}

}  // namespace

// Measures how much white noise the link survives: for every sample rate and
// slot rate it lowers the SNR in half-decibel steps and reports the lowest
// SNR at which at least 99 % of the frames of a synthetic flight still decode
// exactly. Not part of the test suite: the answer is a figure, not a
// pass/fail, and it takes a minute.
//
//   bench_snr_sweep [SECONDS [SEEDS [--inverted]]]

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/tools/recording_engine.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

using namespace simulated_aircraft;

namespace {

// Frames of `expected` that came out of the receiver unchanged, in order.
int Matches(const std::vector<std::vector<std::uint8_t>>& expected,
            const std::vector<std::vector<std::uint8_t>>& decoded) {
  int matched = 0;
  std::size_t next = 0;
  for (const auto& frame : decoded) {
    for (std::size_t i = next; i < expected.size(); ++i) {
      if (expected[i] == frame) {
        ++matched;
        next = i + 1;
        break;
      }
    }
  }
  return matched;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int seeds = argc > 2 ? std::atoi(argv[2]) : 4;
  const bool inverted = argc > 3 && std::string(argv[3]) == "--inverted";
  const auto flight = SyntheticFlight(seconds);
  const auto frames = BuildFrames(flight);
  const auto expected = AsFrames(RecordsOf(flight));
  const int total = static_cast<int>(expected.size()) * seeds;

  std::printf("%zu frames x %d seeds per point; SNR = telemetry power / noise power\n",
              expected.size(), seeds);
  std::printf("%8s %6s  %s\n", "rate", "slots",
              "lowest SNR with >= 99 % decoded (and the rate there)");
  for (const std::uint32_t rate : {22050u, 44100u, 48000u}) {
    for (const std::int32_t slots : {2388, 4777, 9554}) {
      double lowest = 99.0;
      double fractionThere = 0.0;
      for (double snr = 20.0; snr >= -6.0; snr -= 0.5) {
        int decoded = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
          SignalOptions options;
          options.link = {rate, slots, inverted};
          options.snrDb = snr;
          options.seed = static_cast<std::uint64_t>(seed);
          const auto audio = RenderSignal(frames, options);
          CRecordingEngine engine(rate, slots);
          engine.Feed(audio);
          decoded += Matches(expected, AsFrames(engine.records));
        }
        const double fraction = static_cast<double>(decoded) / total;
        if (fraction < 0.99) break;
        lowest = snr;
        fractionThere = fraction;
      }
      std::printf("%8u %6d  %5.1f dB (%.2f %%)\n", rate, slots, lowest, 100 * fractionThere);
      std::fflush(stdout);
    }
  }
  return 0;
}

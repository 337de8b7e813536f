// Demodulator throughput on the audio of a synthetic flight: lead-in, sync,
// data and idle line in the proportions a real link has.

#include <benchmark/benchmark.h>

#include <vector>

#include "decoder/control_interface/quorvex_control.h"
#include "decoder/demodulator/decode_engine.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

namespace {

const std::vector<std::int16_t>& FlightAudio(int channels) {
  static const auto render = [](int ch) {
    simulated_aircraft::SignalOptions options;
    options.link.sampleRate = 48000;
    options.layout = ch == 1 ? simulated_aircraft::ChannelLayout::kMono
                             : simulated_aircraft::ChannelLayout::kStereoRight;
    options.other = simulated_aircraft::OtherChannel::kTone;
    const auto flight = simulated_aircraft::SyntheticFlight(60.0);
    return simulated_aircraft::RenderSignal(flight, options);
  };
  static const std::vector<std::int16_t> mono = render(1);
  static const std::vector<std::int16_t> stereo = render(2);
  return channels == 1 ? mono : stereo;
}

class CountingEngine final : public CDecodeEngine {};

void ProcessSample(benchmark::State& state) {
  const auto& audio = FlightAudio(1);
  CountingEngine engine;
  engine.SetSampleRate(48000);
  for (auto _ : state) {
    for (std::int16_t s : audio) engine.ProcessSample(s);
    benchmark::DoNotOptimize(engine.GoodFrames());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(audio.size()));
  state.counters["good_frames_per_pass"] =
      static_cast<double>(engine.GoodFrames()) / static_cast<double>(state.iterations());
}
BENCHMARK(ProcessSample)->Unit(benchmark::kMillisecond);

class BenchDecoder final : public CQuorvexControl {
 public:
  BenchDecoder() : CQuorvexControl(std::nullopt) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// The filter's whole per-buffer work: one-second stereo buffers, locked,
// attenuated and decoded, with the telemetry state and histories growing.
// Argument 1: as a recording, each buffer placed by its time stamp.
void StereoBuffers(benchmark::State& state) {
  const bool timeline = state.range(0) != 0;
  const auto& audio = FlightAudio(2);
  std::vector<std::int16_t> out(96000);
  std::int64_t frames = 0;
  for (auto _ : state) {
    BenchDecoder decoder;
    decoder.SetSampleRate(48000);
    decoder.SetRecordingTimeline(timeline);
    for (std::size_t i = 0; i < audio.size(); i += out.size()) {
      const std::size_t n = std::min(out.size(), audio.size() - i);
      decoder.ProcessBuffer(audio.data() + i, out.data(), n, 2,
                            timeline ? std::optional<std::int64_t>(i / 2) : std::nullopt);
    }
    benchmark::DoNotOptimize(out.data());
    frames += static_cast<std::int64_t>(audio.size() / 2);
  }
  state.SetItemsProcessed(frames);
}
BENCHMARK(StereoBuffers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

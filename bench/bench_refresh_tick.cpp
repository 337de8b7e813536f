// One refresh tick with a new fix while Show Ground Track is ticked, against
// the length of the flight track: the tick rewrites the plane-position file
// and the whole track file, so its cost grows with the flight. Each point's
// text is formatted once, when it is added; what remains per tick is
// assembling and writing the document.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/fakes/scripted_decoder.h"
#include "tests/viewer/telemetry/fake_refresh_host.h"
#include "viewer/telemetry/refresh_cycle.h"

namespace {

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "refresh-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A flight of `points` fixes half a second apart on a circuit of a few
// kilometres, with the altitude and descriptions a real track has.
void FillTrack(KmlWriter& track, std::int64_t points) {
  track.Clear();
  for (std::int64_t i = 0; i < points; ++i) {
    const float t = static_cast<float>(i) * 0.001f;
    track.AddPoint(8.5f + 0.02f * std::sin(t), 47.25f + 0.015f * std::cos(t),
                   400.0f + static_cast<float>(i % 300), i % 2 ? u"RSSI1: -71, RSSI2: -75" : u"");
  }
}

// The status dialogs are widgets even while their windows do not exist.
void EnsureApplication() {
  static int argc = 1;
  static char name[] = "bench_refresh_tick";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication application(argc, argv);
}

void RefreshTick(benchmark::State& state) {
  EnsureApplication();
  const std::int64_t points = state.range(0);
  TemporaryFolder folder;
  ScriptedDecoder decoder;
  TelemetrySnapshot& values = decoder.readOuts.emplace();
  values.longitude = 8.5f;
  values.latitude = 47.25f;
  values.altitude = 512.0f;
  values.numSats = 9;
  values.distanceTravelled = 3000.0f;
  values.rssiValue1 = 71;
  values.rssiValue2 = 75;
  FakeRefreshHost host(folder.path());
  host.decoder = static_cast<IQuorvex*>(&decoder);
  host.showGroundTrack = true;
  host.plot = kPlotRssi;
  FillTrack(host.track, points);
  RefreshCycle cycle(host);

  for (auto _ : state) {
    // Keep the track within a few hundred points of its nominal length.
    if (host.track.PointCount() >= static_cast<std::size_t>(points) + 256) {
      state.PauseTiming();
      FillTrack(host.track, points);
      state.ResumeTiming();
    }
    values.timeMs += 500;
    values.longitude += 0.00001f;
    if (!cycle.Tick()) state.SkipWithError("the sample was not processed");
  }
  state.counters["track_bytes"] =
      static_cast<double>(std::filesystem::file_size(folder.path() / "planeTrack.kml"));
}
BENCHMARK(RefreshTick)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The share of a tick that is assembling the track document in memory.
void TrackDocument(benchmark::State& state) {
  KmlWriter track;
  FillTrack(track, state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(track.TrackDocument(u"GroundTrack", true, true));
  }
}
BENCHMARK(TrackDocument)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

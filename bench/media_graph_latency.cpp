// How soon telemetry shows through the media graph:
//   1. from OpenMediaFile to the first decoded frame, playing at real time
//      as the viewer does (a WAV and a Matroska file with video);
//   2. in a live capture, from the moment the buffer holding a frame's last
//      sample leaves the capture source to the moment the frame's values
//      can be read through IQuorvex (the pilot's latency, less the sound
//      server's own buffering).
// Needs gst-launch-1.0 for the Matroska file, and PulseAudio with paplay
// (scripts/start-pulseaudio.sh) for the live part, which is skipped
// otherwise.
//
//   bench_media_graph [RUNS]

#include <gst/gst.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/iquorvex.h"
#include "platform/graph/graph_objects.h"
#include "platform/gst/gst_filter.h"
#include "tools/simulated_aircraft/flight.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"
#include "viewer/shell/media_graph.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace simulated_aircraft;

constexpr double kSampleRate = 44100.0;

class QuietArea final : public IVideoArea {
 public:
  void PresentFrame(const VideoFrame&) override {}
  void PlaceVideo(long, long, long, long) override {}
  void ShowVideo(bool) override {}
  void PostNotify(long, LONG_PTR) override {}
  ClientRect GetClientRect() const override { return {640, 480}; }
};

class PrintedMessages final : public IMessageService {
 public:
  void ShowMessage(const IVideoArea*, std::u16string_view text, std::u16string_view,
                   MessageIcon) override {
    std::fprintf(stderr, "message: %s\n", std::string(text.begin(), text.end()).c_str());
  }
};

int GoodFrames(IBaseFilter* decoder) {
  ComPtr<IQuorvex> control;
  if (!decoder || FAILED(decoder->QueryInterface(IID_IQuorvex, control.PutVoid()))) return -1;
  int good = 0, bad = 0;
  control->GetPacketCounts(&good, &bad);
  return good;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Recording {
  fs::path wav;
  std::vector<Burst> bursts;
};

Recording MakeRecording(const fs::path& folder, double seconds) {
  Recording r{folder / "flight.wav", {}};
  SignalOptions options;
  options.minSeconds = seconds + 1.0;
  const auto frames = BuildFrames(SyntheticFlight(seconds));
  CSignalRenderer renderer(frames, options);
  r.bursts = renderer.Bursts();
  CWavWriter writer(r.wav, WavFormat{});
  std::vector<std::int16_t> chunk(4096);
  while (const std::size_t n = renderer.RenderNext(chunk)) writer.Write({chunk.data(), n});
  writer.Close();
  return r;
}

void OpenToFirstFrame(MediaGraph& graph, const fs::path& file, double firstFrameEndsMs, int runs) {
  std::printf("%s (first frame ends %.1f ms into the audio):\n", file.filename().c_str(),
              firstFrameEndsMs);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    const std::u16string path(file.u16string());
    const auto start = Clock::now();
    if (FAILED(graph.OpenMediaFile(path))) {
      std::printf("  could not open\n");
      return;
    }
    while (GoodFrames(graph.DecoderFilter()) < 1) {
      if (Clock::now() - start > std::chrono::seconds(5)) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    times.push_back(Ms(Clock::now() - start));
  }
  std::printf("  open to first frame, ms:");
  for (double t : times) std::printf(" %.1f", t);
  std::sort(times.begin(), times.end());
  // The decoder sits ahead of the renderer's clock, so it may read a frame
  // before the frame is heard.
  std::printf("  (median %.1f, first run includes making the graph)\n", times[times.size() / 2]);
}

// Arrival of captured samples at the capture source's output.
struct CaptureLog {
  std::mutex lock;
  std::int64_t samples = 0;     // sample frames so far
  std::int64_t firstHigh = -1;  // first sample frame at the line's high level
  std::vector<std::pair<std::int64_t, Clock::time_point>> ends;  // samples after each buffer
};

GstPadProbeReturn OnCaptured(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* log = static_cast<CaptureLog*>(data);
  const auto now = Clock::now();
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_PAD_PROBE_OK;
  const auto* values = reinterpret_cast<const std::int16_t*>(map.data);
  const std::int64_t count = static_cast<std::int64_t>(map.size / 4);  // S16 stereo
  std::lock_guard guard(log->lock);
  // The line idles low until the first frame's lead-in: its first high
  // sample pins the recording to the capture, whatever the sound server
  // did with the idle line before it.
  if (log->firstHigh < 0) {
    for (std::int64_t i = 0; i < count; ++i) {
      if (values[2 * i] > 8000) {
        log->firstHigh = log->samples + i;
        break;
      }
    }
  }
  log->samples += count;
  log->ends.emplace_back(log->samples, now);
  gst_buffer_unmap(buffer, &map);
  return GST_PAD_PROBE_OK;
}

void LiveLatency(MediaGraph& graph, const Recording& recording) {
  const std::string script = std::string(VISTARO_SOURCE_DIR) + "/scripts/start-pulseaudio.sh";
  if (std::system(("bash \"" + script + "\"").c_str()) != 0) {
    std::printf("live: skipped, no PulseAudio\n");
    return;
  }
  if (FAILED(graph.StartLiveCapture())) {
    std::printf("live: capture did not start\n");
    return;
  }
  ComPtr<IPin> out;
  MediaGraph::FindPinByDirection(graph.AudioCapture(), PINDIR_OUTPUT, out.Put());
  GstObjectPtr<GstPad> pad = PadOfPin(out.Get());
  GstCapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
  CaptureLog log;
  gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &OnCaptured, &log, nullptr);
  // The capture's first buffer comes a while after it starts running.
  for (int i = 0; i < 300; ++i) {
    {
      std::lock_guard guard(log.lock);
      if (log.samples > 0) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  std::thread player([&] {
    const std::string play = "paplay --device=vistaro \"" + recording.wav.string() + "\"";
    if (std::system(play.c_str()) != 0) std::fprintf(stderr, "paplay failed\n");
  });
  std::vector<Clock::time_point> readable;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (readable.size() < recording.bursts.size() && Clock::now() < deadline) {
    const int good = GoodFrames(graph.DecoderFilter());
    while (static_cast<int>(readable.size()) < good) readable.push_back(Clock::now());
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  player.join();

  std::vector<double> latencies;
  std::lock_guard guard(log.lock);
  const std::int64_t offset = log.firstHigh - recording.bursts.front().start;
  for (std::size_t k = 0; k < readable.size() && log.firstHigh >= 0; ++k) {
    const std::int64_t last = offset + recording.bursts[k].end - 1;
    auto it = std::find_if(log.ends.begin(), log.ends.end(),
                           [&](const auto& e) { return e.first > last; });
    if (it != log.ends.end()) latencies.push_back(Ms(readable[k] - it->second));
  }
  if (latencies.empty()) {
    std::printf(
        "live: no frame decoded (%lld samples captured, first lead-in at %lld, %zu frames)\n",
        static_cast<long long>(log.samples), static_cast<long long>(log.firstHigh),
        readable.size());
    return;
  }
  std::sort(latencies.begin(), latencies.end());
  GCharPtr text(caps ? gst_caps_to_string(caps.get()) : nullptr);
  std::printf("live capture (%s), %zu of %zu frames:\n", text ? text.get() : "?", latencies.size(),
              recording.bursts.size());
  std::printf(
      "  last sample out of the capture source to readable, ms: min %.2f median %.2f "
      "p95 %.2f max %.2f\n",
      latencies.front(), latencies[latencies.size() / 2], latencies[latencies.size() * 95 / 100],
      latencies.back());
  graph.MediaControl()->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  gst_init(&argc, &argv);
  std::string pattern = (fs::temp_directory_path() / "mediagraph-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  const fs::path folder = pattern;
  ::unsetenv("VISTARO_COMPONENT_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  const std::string reg =
      std::string("\"") + REGSVR_PATH + "\" \"" + QUORVEX_LIBRARY_PATH + "\" >/dev/null";
  if (std::system(reg.c_str()) != 0) return 1;

  const Recording recording = MakeRecording(folder, 20.0);
  const fs::path mkv = folder / "flight.mkv";
  const std::string launch =
      "gst-launch-1.0 -q filesrc location=\"" + recording.wav.string() +
      "\" ! wavparse ! audioconvert ! flacenc ! mux. videotestsrc num-buffers=210 "
      "! video/x-raw,width=640,height=480,framerate=10/1 ! x264enc speed-preset=ultrafast "
      "! mux. matroskamux name=mux ! filesink location=\"" +
      mkv.string() + "\"";
  const bool haveMkv = std::system(launch.c_str()) == 0;

  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  const double firstEnds = recording.bursts.front().end / kSampleRate * 1000.0;
  {
    QuietArea area;
    PrintedMessages messages;
    MediaGraph graph(&area, messages);
    OpenToFirstFrame(graph, recording.wav, firstEnds, runs);
    if (haveMkv) OpenToFirstFrame(graph, mkv, firstEnds, runs);
    LiveLatency(graph, recording);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>

#include "tests/common/scratch_folder.h"
#include "tests/decoder/filter_fixtures.h"
#include "tests/platform/filter/app_pipeline.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

namespace {

using testpipeline::AppPipeline;
using testpipeline::RawAudioCaps;

// A decoder element made by its filter, and the decoder read back through
// the element's property, as another program holding the pipeline would.
struct Hosted {
  Hosted() {
    testpipeline::InitGstreamer();
    filtertest::Decoder decoder;
    ComPtr<IGstElementHost> host;
    EXPECT_EQ(decoder.identity.As(IID_IGstElementHost, host), S_OK);
    EXPECT_EQ(host->CreateElement(&element), S_OK);
    IUnknown* identity = nullptr;
    g_object_get(element, "decoder", &identity, nullptr);
    EXPECT_EQ(identity, decoder.identity.Get());
    EXPECT_EQ(ComPtr<IUnknown>::Attach(identity).As(IID_IQuorvex, quorvex), S_OK);
  }
  GstElement* element = nullptr;  // floating: the pipeline takes it
  ComPtr<IQuorvex> quorvex;
};

TEST(DecoderPipeline, MonoIsAttenuatedWithItsTimesAndDecoded) {
  Hosted h;
  AppPipeline p(h.element, RawAudioCaps("S16LE", 1, 44100));
  const std::vector<std::int16_t> edge = {32767, -32768, 19};
  p.Push(edge.data(), edge.size() * 2, 5 * GST_SECOND, 68027);
  p.Push(filtertest::TelemetryAudio(44100, 2));
  const BYTE odd[7] = {1, 2, 3, 4, 5, 6, 7};
  p.Push(odd, sizeof odd);
  ASSERT_TRUE(p.Finish().eos);
  const auto out = p.Output();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(testpipeline::Contents<std::int16_t>(out[0].get()),
            (std::vector<std::int16_t>{1638, -1638, 0}));
  EXPECT_EQ(GST_BUFFER_PTS(out[0].get()), 5 * GST_SECOND);
  EXPECT_EQ(GST_BUFFER_DURATION(out[0].get()), 68027u);
  EXPECT_EQ(gst_buffer_get_size(out[2].get()), 6u);  // the odd byte is dropped
  EXPECT_EQ(filtertest::GoodPackets(h.quorvex.Get()), 2);
}

TEST(DecoderPipeline, ChannelChoiceSixChannelsAndOtherRates) {
  struct Case {
    int channels, rate, telemetryOn, audioChannel, decoded;
  };
  for (const Case& c : {Case{2, 44100, 1, 1, 1}, Case{2, 44100, 1, 0, 0}, Case{2, 48000, 0, 0, 1},
                        Case{6, 44100, 0, 1, 1}, Case{1, 22050, 0, 1, 1}}) {
    Hosted h;
    ASSERT_EQ(h.quorvex->SetAudioChannel(c.audioChannel), S_OK);
    AppPipeline p(h.element, RawAudioCaps("S16LE", c.channels, c.rate));
    p.Push(
        filtertest::Interleave(filtertest::TelemetryAudio(c.rate, 1), c.channels, c.telemetryOn));
    ASSERT_TRUE(p.Finish().eos);
    EXPECT_EQ(filtertest::GoodPackets(h.quorvex.Get()), c.decoded)
        << c.channels << " channels at " << c.rate << ", telemetry on " << c.telemetryOn
        << ", decoding " << c.audioChannel;
  }
}

TEST(DecoderPipeline, TheRobustDemodulatorIsChosenByPropertyOrInterface) {
  simulated_aircraft::SignalOptions options;
  options.snrDb = 5;  // the first demodulator loses nearly every frame here
  // The audio ends with the last frame: its end is read when the stream ends.
  const auto flight = simulated_aircraft::SyntheticFlight(3.0);
  const auto audio = simulated_aircraft::RenderSignal(flight, options);
  for (const std::string_view how : {"default", "property", "interface"}) {
    Hosted h;
    ComPtr<IQuorvexDemodulator> choice;
    ASSERT_EQ(h.quorvex.As(IID_IQuorvexDemodulator, choice), S_OK);
    if (how == "property") g_object_set(h.element, "demodulator", "robust", nullptr);
    if (how == "interface") {
      EXPECT_EQ(choice->SetDemodulator(kQuorvexDemodulatorRobust), S_OK);
    }
    EXPECT_EQ(choice->SetDemodulator(2), E_INVALIDARG);
    const bool robust = how != "default";
    gchar* name = nullptr;
    g_object_get(h.element, "demodulator", &name, nullptr);
    EXPECT_STREQ(name, robust ? "robust" : "seed");
    g_free(name);
    AppPipeline p(h.element, RawAudioCaps("S16LE", 1, 44100));
    p.Push(audio);
    ASSERT_TRUE(p.Finish().eos);
    const int good = filtertest::GoodPackets(h.quorvex.Get());
    const int sent = static_cast<int>(flight.size());
    EXPECT_EQ(good == sent, robust) << how << ": " << good << " of " << sent;
  }
}

TEST(DecoderPipeline, EightBitAudioIsRefusedWithAMessage) {
  Hosted h;
  AppPipeline p(h.element, RawAudioCaps("U8", 1, 44100));
  p.Push(std::vector<std::uint8_t>(441, 128));
  EXPECT_EQ(p.Finish().error,
            "Brelane Telemetry does not accept this audio: U8, 1 channel, 44100 Hz.");
}

// Pushes one telemetry frame whenever the source asks, on the source's own
// thread: the audio never crosses threads, only IQuorvex calls do.
struct StreamingFeeder {
  static constexpr int kFrames = 12;
  std::atomic<int> left{kFrames};

  static void NeedData(GstAppSrc* src, guint, gpointer self) {
    if (static_cast<StreamingFeeder*>(self)->left.fetch_sub(1) <= 0) {
      gst_app_src_end_of_stream(src);
      return;
    }
    const auto audio = filtertest::Interleave(filtertest::TelemetryAudio(44100, 1), 2, 1);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, audio.size() * 2, nullptr);
    gst_buffer_fill(buffer, 0, audio.data(), audio.size() * 2);
    gst_app_src_push_buffer(src, buffer);
  }
};

TEST(DecoderPipelineThreads, TheViewerReadsWhileTheStreamRuns) {
  Hosted h;
  StreamingFeeder feeder;
  GstAppSrcCallbacks callbacks{};
  callbacks.need_data = &StreamingFeeder::NeedData;
  AppPipeline p(h.element, RawAudioCaps("S16LE", 2, 44100), [&](GstAppSrc* src) {
    gst_app_src_set_callbacks(src, &callbacks, &feeder, nullptr);
  });
  for (int polls = 0; !p.Ended() && polls < 20000000; ++polls) {
    int good = 0, bad = 0, count = 0, voltage = 0, used = 0, current = 0;
    h.quorvex->GetPacketCounts(&good, &bad);
    h.quorvex->GetRecordCount(&count);
    h.quorvex->GetBatteryStatus(&voltage, &used, &current);
  }
  ASSERT_TRUE(p.Ended());
  EXPECT_EQ(filtertest::GoodPackets(h.quorvex.Get()), StreamingFeeder::kFrames);
}

// The tools run in processes of their own, loading the built plugin.
struct Tool {
  int status;
  std::string output;
};

Tool RunTool(const std::string& command, const std::filesystem::path& nmea = "/dev/null") {
  std::string environment = std::string("GST_PLUGIN_PATH='") + QUORVEX_PLUGIN_DIR +
                            "' GST_REGISTRY='" + QUORVEX_TEST_REGISTRY + "' QUORVEX_NMEA_PATH='" +
                            nmea.string() + "' ";
  // A sanitized plugin needs its runtime loaded first in the tool, whose
  // own (uninstrumented) leaks and threads are not ours to judge.
  if (*SANITIZER_RUNTIME)
    environment += std::string("LD_PRELOAD='") + SANITIZER_RUNTIME +
                   "' ASAN_OPTIONS=detect_leaks=0 TSAN_OPTIONS=report_bugs=0 ";
  Tool tool{-1, {}};
  FILE* pipe = ::popen((environment + "timeout 120 " + command + " 2>&1").c_str(), "r");
  if (!pipe) return tool;
  char chunk[4096];
  while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
    tool.output.append(chunk, n);
  tool.status = ::pclose(pipe);
  return tool;
}

void WriteWav(const std::filesystem::path& path, std::uint16_t channels, std::uint16_t bits,
              const std::vector<std::uint8_t>& data) {
  const auto size = static_cast<std::uint32_t>(data.size());
  const auto align = static_cast<std::uint16_t>(channels * bits / 8);
  WAVEFORMATEX format{WAVE_FORMAT_PCM, channels, 44100, 44100u * align, align, bits, 0};
  const std::uint32_t riffSize = 36 + size, formatSize = 16;
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4).write(reinterpret_cast<const char*>(&riffSize), 4).write("WAVEfmt ", 8);
  out.write(reinterpret_cast<const char*>(&formatSize), 4);
  out.write(reinterpret_cast<const char*>(&format), formatSize).write("data", 4);
  out.write(reinterpret_cast<const char*>(&size), 4);
  out.write(reinterpret_cast<const char*>(data.data()), size);
}

TEST(DecoderTools, InspectShowsTheElement) {
  const Tool tool = RunTool("gst-inspect-1.0 quorvexdecode");
  ASSERT_EQ(tool.status, 0) << tool.output;
  EXPECT_NE(tool.output.find("Long-name                Brelane Telemetry"), std::string::npos)
      << tool.output;
  EXPECT_NE(tool.output.find("Filter/Analyzer/Audio"), std::string::npos);
  EXPECT_NE(tool.output.find("decoder"), std::string::npos);
}

TEST(DecoderTools, LaunchDecodesAWavFileAndRefusesEightBit) {
  ScratchFolder folder;
  testsignal::SlotSignal s(44100, CDecodeEngine::kDefaultSlotRate);
  const PositionRecord fix{45296789, 28350000, 5100000, 40050, 9};
  std::vector<std::uint8_t> payload(sizeof fix);
  std::memcpy(payload.data(), &fix, sizeof fix);
  s.AddFrame(testsignal::Frame(kFramePosition, payload));
  const auto stereo = filtertest::Interleave(s.Samples(), 2, 1);
  std::vector<std::uint8_t> bytes(stereo.size() * 2);
  std::memcpy(bytes.data(), stereo.data(), bytes.size());
  WriteWav(folder / "flight.wav", 2, 16, bytes);

  const Tool decoded =
      RunTool("gst-launch-1.0 -q filesrc location='" + (folder / "flight.wav").string() +
                  "' ! wavparse ! quorvexdecode ! fakesink",
              folder / "nmea.txt");
  ASSERT_EQ(decoded.status, 0) << decoded.output;
  std::ifstream nmea(folder / "nmea.txt");
  const std::string sentences((std::istreambuf_iterator<char>(nmea)), {});
  EXPECT_NE(sentences.find("GGA"), std::string::npos) << sentences;

  WriteWav(folder / "eight.wav", 1, 8, std::vector<std::uint8_t>(4410, 128));
  const Tool refused =
      RunTool("gst-launch-1.0 -q filesrc location='" + (folder / "eight.wav").string() +
              "' ! wavparse ! quorvexdecode ! fakesink");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.output.find("Brelane Telemetry does not accept this audio: U8, 1 channel"),
            std::string::npos)
      << refused.output;
}

}  // namespace

// Files played through the real graph with the registered decoder library.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/iquorvex_frame_log.h"
#include "common/iquorvex_stream.h"
#include "platform/com/bstr.h"
#include "platform/graph/graph_objects.h"
#include "platform/gst/gst_filter.h"
#include "tests/common/scratch_folder.h"
#include "tests/viewer/shell/media_graph_fixtures.h"

namespace {

namespace fs = std::filesystem;

constexpr LONGLONG kSecond = 10'000'000;
constexpr char16_t kRendererPin[] = u"Audio Input pin (rendered)";

class Playback : public ::testing::Test {
 protected:
  RecordingArea area;
  RecordingMessages messages;
  MediaGraph graph{&area, messages};

  // Opens, plays to the end and checks that every frame came through.
  void PlayToTheEnd(const media::File& file, int tolerance = 0) {
    ASSERT_EQ(graph.OpenMediaFile(Wide(file.path)), S_OK);
    ASSERT_TRUE(WaitForCompletion(graph, 20)) << file.path;
    const PacketCounts counts = CountsOf(graph.DecoderFilter());
    EXPECT_GE(counts.good, file.frames - tolerance) << file.path;
    EXPECT_LE(counts.good, file.frames) << file.path;
    EXPECT_LE(counts.bad, tolerance) << file.path;
  }
};

TEST_F(Playback, VideoAndAudioFileShowsVideoAndDecodesEveryFrame) {
  const auto file = media::VideoAndAudioMkv();
  PlayToTheEnd(file);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_GE(area.frames, 590);
  EXPECT_TRUE(area.shown);
  EXPECT_EQ(area.placed[0], 0);
  EXPECT_EQ(area.placed[1], 0);
  EXPECT_EQ(area.placed[2], 352);
  EXPECT_EQ(area.placed[3], 288);
  // Graph events reach the video area as 0x8001 with instance 0.
  EXPECT_GT(area.notifications, 0);
  EXPECT_EQ(area.lastMessage, 0x8001);
  EXPECT_EQ(area.lastInstance, 0);
  EXPECT_NE(graph.RotRegistration(), 0u);
}

// No video: attaching the window fails with E_NOINTERFACE, which is no error.
TEST_F(Playback, AudioOnlyFilePlaysWithoutVideoOrMessage) {
  PlayToTheEnd(media::ShortWav());
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(area.frames, 0);
  EXPECT_FALSE(area.shown);
}

// ASF audio is rendered straight to the renderer; the splice puts the
// decoder in between, for every extension of the family in any case.
TEST_F(Playback, AsfFamilyFilesGetTheDecoderSplicedIn) {
  for (const char* name : {"flight.asf", "FLIGHT.WMV", "flight.Wma"}) {
    PlayToTheEnd(media::AsfNamed(name), 1);
    EXPECT_TRUE(messages.shown.empty()) << name;
    EXPECT_GT(area.frames, 0) << name;
    EXPECT_EQ(Feeder(FindFilter(graph.GraphBuilder(), "Audio Renderer").Get(), kRendererPin),
              "Telemetry Decode")
        << name;
  }
}

// Layer II at this rate costs a few frames wherever it is decoded.
TEST_F(Playback, MpegProgramStreamDecodes) {
  PlayToTheEnd(media::Mpg(), 3);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_GT(area.frames, 0);
  auto renderer = FindFilter(graph.GraphBuilder(), "Audio Renderer");
  EXPECT_EQ(Feeder(renderer.Get(), kRendererPin), "Telemetry Decode");
}

// Only the file's own extension counts: a folder named like an ASF file
// leaves an MPEG file on the ordinary branch.
TEST_F(Playback, MpegFileInAFolderNamedAsfDecodesAsMpeg) {
  PlayToTheEnd(media::MpgInAsfFolder(), 3);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(Feeder(FindFilter(graph.GraphBuilder(), "Audio Renderer").Get(), kRendererPin),
            "Telemetry Decode");
}

// Every stream gets a renderer of its own; the second is named apart, so
// only the first is spliced, and the decoder sees one stream, not both.
TEST_F(Playback, TwoAudioStreamsDecodeOnceThroughTheFirstRenderer) {
  PlayToTheEnd(media::TwoAudioStreamsMkv());
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(Feeder(FindFilter(graph.GraphBuilder(), "Audio Renderer").Get(), kRendererPin),
            "Telemetry Decode");
  EXPECT_TRUE(FindFilter(graph.GraphBuilder(), "Audio Renderer 0001"));
}

// The splice finds no renderer and says E_FAIL, which nobody shows.
TEST_F(Playback, VideoOnlyFilePlaysItsVideoWithEmptyTelemetry) {
  ASSERT_EQ(graph.OpenMediaFile(Wide(media::VideoOnlyMkv().path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 30));
  EXPECT_EQ(graph.SpliceDecoder(), E_FAIL);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_GT(area.frames, 0);
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, 0);
}

TEST_F(Playback, SecondFileGetsAFreshDecoderInTheSameGraph) {
  // Held here, the first decoder would keep the NMEA file from the second.
  const char* old = std::getenv("QUORVEX_NMEA_PATH");
  const std::string saved = old ? old : "";
  ::setenv("QUORVEX_NMEA_PATH", "", 1);
  PlayToTheEnd(media::ShortWav());
  const ComPtr<IBaseFilter> first(graph.DecoderFilter());
  IGraphBuilder* const builder = graph.GraphBuilder();
  const DWORD registration = graph.RotRegistration();

  PlayToTheEnd(media::ShortWav());
  EXPECT_NE(graph.DecoderFilter(), first.Get());
  EXPECT_EQ(graph.GraphBuilder(), builder);
  EXPECT_EQ(graph.RotRegistration(), registration);
  // The old decoder left the graph and kept what it had; the new one
  // counted from zero.
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, media::ShortWav().frames);
  EXPECT_EQ(CountsOf(first.Get()).good, media::ShortWav().frames);
  EXPECT_TRUE(messages.shown.empty());
  old ? ::setenv("QUORVEX_NMEA_PATH", saved.c_str(), 1) : ::unsetenv("QUORVEX_NMEA_PATH");
}

// One viewer writes the NMEA file at a time: each new decoder takes the
// lock its predecessor let go, and a file another program holds is named
// to the user once and left as it is.
TEST_F(Playback, NmeaFileHeldByAnotherProgramIsReportedOnceAndLeftAlone) {
  const auto folder = std::filesystem::path(testing::TempDir()) / "viewer-nmea";
  std::filesystem::create_directories(folder);
  const auto nmea = folder / "nmea.txt";
  const char* old = std::getenv("QUORVEX_NMEA_PATH");
  const std::string saved = old ? old : "";
  ::setenv("QUORVEX_NMEA_PATH", nmea.c_str(), 1);
  const std::string theirs = "$GPGGA, another viewer's\r\n";
  std::ofstream(nmea, std::ios::binary) << theirs;
  const int other = ::open(nmea.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  PlayToTheEnd(media::ShortWav());
  PlayToTheEnd(media::ShortWav());
  EXPECT_EQ(ReadFile(nmea), theirs);
  ::close(other);

  PlayToTheEnd(media::ShortWav());
  PlayToTheEnd(media::ShortWav());  // the lock passed from the first decoder to the second
  old ? ::setenv("QUORVEX_NMEA_PATH", saved.c_str(), 1) : ::unsetenv("QUORVEX_NMEA_PATH");
  ASSERT_EQ(messages.shown.size(), 1u) << testing::PrintToString(messages.Texts());
  EXPECT_NE(messages.shown[0].text.find(nmea.string() + " is in use"), std::string::npos)
      << messages.shown[0].text;
  EXPECT_NE(ReadFile(nmea).find("$GPRMC,"), std::string::npos);
}

TEST_F(Playback, SeekingToHalfOfAMinuteLandsThere) {
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  const HRESULT opened = graph.OpenMediaFile(Wide(media::VideoAndAudioMkv().path));
  SetGraphRenderingOptions({.realTime = false, .audioDevice = false});
  ASSERT_EQ(opened, S_OK);
  IMediaSeeking* seeking = graph.MediaSeeking();
  ASSERT_TRUE(seeking);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_NEAR(static_cast<double>(duration), 60.0 * kSecond, 0.2 * kSecond);

  LONGLONG target = duration / 2;
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                  AM_SEEKING_NoPositioning),
            S_OK);
  LONGLONG current = -1;
  ASSERT_EQ(seeking->GetPositions(&current, nullptr), S_OK);
  EXPECT_NEAR(static_cast<double>(current), static_cast<double>(target), 0.5 * kSecond);
  // Playing goes on from there.
  const LONGLONG landed = current;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (current <= landed && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(seeking->GetPositions(&current, nullptr), S_OK);
  }
  EXPECT_GT(current, landed);
  EXPECT_LT(current, target + 2 * kSecond);
}

// Everything the decoder holds of a flight, in key order.
std::string HistoryOf(IBaseFilter* decoder, const fs::path& trackFile) {
  auto control = ControlOf(decoder);
  std::ostringstream out;
  int count = 0;
  control->GetRecordCount(&count);
  out << count << " records\n";
  for (int key = 0; key < count; ++key) {
    int t = 0, sats = 0, a = 0, b = 0, c = 0, d = 0, e = 0, f = 0, g = 0, h = 0;
    float lon = 0, lat = 0, alt = 0, above = 0, heading = 0, distance = 0;
    if (control->GetPositionAt(key, &t, &lon, &lat, &alt, &above, &heading, &distance, &sats) ==
        S_OK)
      out << key << " P " << t << ' ' << lon << ' ' << lat << ' ' << alt << ' ' << sats << '\n';
    if (control->GetUplinkStatusAt(key, &a, &b, &c, &d, &e, &f, &g, &h) == S_OK)
      out << key << " U " << a << ' ' << b << ' ' << c << ' ' << d << ' ' << f << '\n';
    if (control->GetBatteryStatusAt(key, &a, &b, &c) == S_OK)
      out << key << " B " << a << ' ' << b << ' ' << c << '\n';
  }
  int t = 0, sats = 0;
  float lon = 0, lat = 0, alt = 0, above = 0, heading = 0, distance = 0, travelled = 0;
  control->GetPosition(&t, &lon, &lat, &alt, &above, &heading, &distance, &travelled, &sats);
  int voltage = 0, used = 0, current = 0;
  control->GetBatteryStatus(&voltage, &used, &current);
  out << "travelled " << travelled << " battery " << voltage << ' ' << used << ' ' << current
      << '\n';
  const std::u16string path = Wide(trackFile);
  const ComBstr bstr(std::u16string_view(path.data(), path.size()));
  control->WriteTrackKml(bstr.Get());
  std::ifstream track(trackFile);
  out << track.rdbuf();
  ComPtr<IQuorvexFrameLog> log;
  decoder->QueryInterface(IID_IQuorvexFrameLog, log.PutVoid());
  fs::path csvFile = trackFile;
  const std::u16string csvPath = Wide(csvFile.replace_extension(".csv"));
  const ComBstr csvBstr(std::u16string_view(csvPath.data(), csvPath.size()));
  if (log && log->WriteFrameCsv(count, csvBstr.Get()) == S_OK) {
    // Without the stream times: after a seek in a container that keeps
    // milliseconds they may differ by a sample.
    std::ifstream csv(csvFile);
    for (std::string row; std::getline(csv, row);) out << row.substr(row.find(',') + 1) << '\n';
  }
  return out.str();
}

// Seeking back after the end and playing the recording again leave the
// decoder holding what one uninterrupted play gives.
TEST_F(Playback, SeekingBackAndPlayingAgainKeepOneHistory) {
  const media::File file = media::ShortWav();
  ASSERT_EQ(graph.OpenMediaFile(Wide(file.path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 20));
  const std::string once = HistoryOf(graph.DecoderFilter(), media::Folder() / "once.kml");
  ASSERT_GT(once.size(), 1000u);

  ASSERT_EQ(graph.OpenMediaFile(Wide(file.path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 20));
  for (LONGLONG back : {2 * kSecond, kSecond / 3, LONGLONG{0}}) {
    ASSERT_EQ(graph.MediaSeeking()->SetPositions(&back, AM_SEEKING_AbsolutePositioning, nullptr,
                                                 AM_SEEKING_NoPositioning),
              S_OK);
    graph.MediaControl()->Run();
    ASSERT_TRUE(WaitForCompletion(graph, 20));
  }
  EXPECT_EQ(HistoryOf(graph.DecoderFilter(), media::Folder() / "again.kml"), once);
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, file.frames);
}

// Seeking forward past what was decoded, then back into the stretch
// skipped, and playing on: the skipped audio is decoded when it plays and
// its records take their place, so the decoder ends up holding what one
// uninterrupted play gives.
TEST_F(Playback, PlayingASkippedStretchLaterKeepsOneHistory) {
  const media::File file = media::VideoAndAudioMkv();
  ASSERT_EQ(graph.OpenMediaFile(Wide(file.path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 20));
  const std::string once = HistoryOf(graph.DecoderFilter(), media::Folder() / "once.kml");

  // Built as Load builds it, but not run: where each play starts and stops
  // is up to the test, not to how soon it can stop the graph.
  ASSERT_EQ(graph.PrepareGraph(), S_OK);
  ComPtr<IQuorvexStream> stream;
  ASSERT_EQ(graph.DecoderFilter()->QueryInterface(IID_IQuorvexStream, stream.PutVoid()), S_OK);
  stream->SetRecordingTimeline(1);
  ASSERT_TRUE(SUCCEEDED(graph.GraphBuilder()->RenderFile(Wide(file.path).c_str(), nullptr)));
  ASSERT_EQ(graph.SpliceDecoder(), S_OK);
  graph.MediaControl()->Stop();
  LONGLONG duration = 0;
  ASSERT_EQ(graph.MediaSeeking()->GetDuration(&duration), S_OK);
  // A part, forward over a stretch, back into it and on to the end, then
  // from the start over the rest of it.
  const std::pair<LONGLONG, LONGLONG> plays[] = {
      {0, 5 * kSecond}, {15 * kSecond, 20 * kSecond}, {10 * kSecond, duration}, {0, duration}};
  for (auto [from, to] : plays) {
    ASSERT_EQ(graph.MediaSeeking()->SetPositions(&from, AM_SEEKING_AbsolutePositioning, &to,
                                                 AM_SEEKING_AbsolutePositioning),
              S_OK);
    graph.MediaControl()->Run();
    ASSERT_TRUE(WaitForCompletion(graph, 20));
  }
  EXPECT_EQ(HistoryOf(graph.DecoderFilter(), media::Folder() / "pieces.kml"), once);
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, file.frames);
}

// With a renderer under each name the splice looks for, it is tried at
// both; the first success does not end the walk. The decoder has one
// output, so the second attempt unhooks its renderer and then fails.
TEST(PlaybackSplice, TriedAtEachOfTwoAudioRenderers) {
  RecordingArea area;
  RecordingMessages messages;
  ScriptedServices services;
  MediaGraph graph(&area, messages, services);
  ASSERT_EQ(graph.PrepareGraph(), S_OK);
  IGraphBuilder* builder = graph.GraphBuilder();
  ASSERT_TRUE(
      SUCCEEDED(builder->RenderFile(Wide(media::TwoAudioStreamsMkv().path).c_str(), nullptr)));

  // The second stream moves to a DirectSound renderer.
  auto second = FindFilter(builder, "Audio Renderer 0001");
  ASSERT_TRUE(second);
  ComPtr<IPin> secondIn, upstream;
  ASSERT_EQ(second->FindPin(kRendererPin, secondIn.Put()), S_OK);
  ASSERT_EQ(secondIn->ConnectedTo(upstream.Put()), S_OK);
  ASSERT_EQ(builder->Disconnect(upstream.Get()), S_OK);
  ASSERT_EQ(builder->RemoveFilter(second.Get()), S_OK);
  ComPtr<IBaseFilter> sound;
  ASSERT_EQ(services.CreateObject(CLSID_DSoundRender, 0, IID_IBaseFilter, sound.PutVoid()), S_OK);
  ASSERT_EQ(builder->AddFilter(sound.Get(), u"Default DirectSound Device"), S_OK);
  ComPtr<IPin> soundIn;
  ASSERT_EQ(MediaGraph::FindPinByDirection(sound.Get(), PINDIR_INPUT, soundIn.Put()), S_OK);
  ASSERT_EQ(builder->Connect(upstream.Get(), soundIn.Get()), S_OK);

  services.Script().ClearCalls();
  EXPECT_EQ(graph.SpliceDecoder(), S_OK);
  const auto calls = services.Script().Calls();
  EXPECT_EQ(
      std::count(calls.begin(), calls.end(), "IBaseFilter::FindPin(Audio Input pin (rendered))"),
      2);
  EXPECT_EQ(Feeder(FindFilter(builder, "Audio Renderer").Get(), kRendererPin), "Telemetry Decode");
  EXPECT_EQ(Feeder(sound.Get(), kRendererPin), "");
  EXPECT_TRUE(messages.shown.empty());
}

// The graph outlives neither the area's notifications nor the table's
// entry: both end with the MediaGraph.
TEST(PlaybackLifetime, DestructionStopsAndWithdrawsTheGraph) {
  RecordingArea area;
  RecordingMessages messages;
  ScriptedServices services;
  {
    MediaGraph graph(&area, messages, services);
    ASSERT_EQ(graph.OpenMediaFile(Wide(media::ShortWav().path)), S_OK);
  }
  EXPECT_EQ(services.Script().CountOf("IRunningObjectTable::Revoke"), 1);
  const int notified = area.notifications;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(area.notifications, notified);
}

// Every message on the graph's bus names the element that posted it, and
// the published graph's Graphviz picture reads every property of every
// element; neither may keep a decoder alive, or the next one finds the NMEA
// file locked and the pilot gets no NMEA.
TEST(PlaybackLifetime, DecodersGoWithTheLoadThatReplacesThemAndWithTheGraph) {
  RecordingArea area;
  RecordingMessages messages;
  GWeakRef replaced, last;
  {
    MediaGraph graph{&area, messages};
    ASSERT_EQ(graph.OpenMediaFile(Wide(media::ShortWav().path)), S_OK);
    g_weak_ref_init(&replaced, ElementOfFilter(graph.DecoderFilter()).get());
    ASSERT_EQ(graph.OpenMediaFile(Wide(media::ShortWav().path)), S_OK);
    g_weak_ref_init(&last, ElementOfFilter(graph.DecoderFilter()).get());
    ASSERT_TRUE(WaitForCompletion(graph, 20));
  }
  const GstObjectPtr<GstElement> replacedLeft(static_cast<GstElement*>(g_weak_ref_get(&replaced)));
  const GstObjectPtr<GstElement> lastLeft(static_cast<GstElement*>(g_weak_ref_get(&last)));
  g_weak_ref_clear(&replaced);
  g_weak_ref_clear(&last);
  EXPECT_FALSE(replacedLeft);
  EXPECT_FALSE(lastLeft);
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace

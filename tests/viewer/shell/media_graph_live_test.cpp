// Live capture from the sound server's first input, and the machine
// without one.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <thread>

#include "tests/viewer/shell/media_graph_fixtures.h"

namespace {

void PlayIntoTheSoundServer(const media::File& wav) {
  const std::string play = "paplay --device=vistaro \"" + wav.path.string() + "\"";
  ASSERT_EQ(std::system(play.c_str()), 0) << play;
}

TEST(LiveCapture, TelemetryPlayedIntoTheSoundServerIsDecoded) {
  if (!media::StartSoundServer()) GTEST_SKIP() << "PulseAudio is unavailable; nothing to capture";
  const media::File wav = media::ShortWav();
  RecordingArea area;
  RecordingMessages messages;
  MediaGraph graph(&area, messages);
  ASSERT_TRUE(SUCCEEDED(graph.StartLiveCapture()));
  EXPECT_TRUE(messages.shown.empty());
  ASSERT_TRUE(graph.AudioCapture());
  ASSERT_TRUE(graph.AudioRenderer());
  // The live graph has no video branch.
  EXPECT_FALSE(area.shown);

  // The capture is already running: nothing played is lost to its start.
  PlayIntoTheSoundServer(wav);
  EXPECT_TRUE(WaitForFrames(graph.DecoderFilter(), wav.frames, 5));
  const PacketCounts counts = CountsOf(graph.DecoderFilter());
  EXPECT_EQ(counts.good, wav.frames);
  EXPECT_EQ(counts.bad, 0);
}

// A live capture after a file, and a file after a live capture, in the
// same graph, each with a decoder of its own.
TEST(LiveCapture, AlternatesWithFilePlayback) {
  if (!media::StartSoundServer()) GTEST_SKIP() << "PulseAudio is unavailable; nothing to capture";
  RecordingArea area;
  RecordingMessages messages;
  MediaGraph graph(&area, messages);
  ASSERT_EQ(graph.OpenMediaFile(Wide(media::ShortWav().path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 30));
  const ComPtr<IBaseFilter> fileDecoder(graph.DecoderFilter());
  ASSERT_TRUE(SUCCEEDED(graph.StartLiveCapture()));
  EXPECT_NE(graph.DecoderFilter(), fileDecoder.Get());
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, 0);
  ASSERT_TRUE(SUCCEEDED(graph.StartLiveCapture()));
  PlayIntoTheSoundServer(media::ShortWav());
  EXPECT_TRUE(WaitForFrames(graph.DecoderFilter(), media::ShortWav().frames, 5));
  ASSERT_EQ(graph.OpenMediaFile(Wide(media::ShortWav().path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 30));
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, media::ShortWav().frames);
  EXPECT_TRUE(messages.shown.empty());
}

TEST(LiveCapture, NoAudioInputDeviceFailsWithoutAMessage) {
  RecordingArea area;
  RecordingMessages messages;
  ScriptedServices services;
  services.Script().Fail("ICreateDevEnum::CreateClassEnumerator", S_FALSE);
  MediaGraph graph(&area, messages, services);
  EXPECT_EQ(graph.StartLiveCapture(), E_FAIL);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_FALSE(graph.AudioCapture());
  EXPECT_EQ(services.Script().CountOf("IMediaControl::Run"), 0);
}

}  // namespace

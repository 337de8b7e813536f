// Live capture from the sound server's default input, and a server
// without one.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <optional>
#include <thread>

#include "tests/viewer/shell/media_graph_fixtures.h"

namespace {

void PlayIntoTheSoundServer(const media::File& wav) {
  const std::string play = "paplay --device=vistaro_line \"" + wav.path.string() + "\"";
  ASSERT_EQ(std::system(play.c_str()), 0) << play;
}

TEST(LiveCapture, TelemetryPlayedIntoTheSoundServerIsDecoded) {
  REQUIRE_SOUND_SERVER();
  const sound_server::LineLock line;
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

  // Once the capture runs, nothing played is lost to its start.
  ASSERT_TRUE(sound_server::WaitUntilRecording(10));
  PlayIntoTheSoundServer(wav);
  EXPECT_TRUE(WaitForFrames(graph.DecoderFilter(), wav.frames, 5));
  const PacketCounts counts = CountsOf(graph.DecoderFilter());
  EXPECT_EQ(counts.good, wav.frames);
  EXPECT_EQ(counts.bad, 0);
}

// A live capture after a file, and a file after a live capture, in the
// same graph, each with a decoder of its own.
TEST(LiveCapture, AlternatesWithFilePlayback) {
  REQUIRE_SOUND_SERVER();
  const sound_server::LineLock line;
  RecordingArea area;
  RecordingMessages messages;
  MediaGraph graph(&area, messages);
  ASSERT_EQ(graph.OpenMediaFile(Wide(media::ShortWav().path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 30));
  ASSERT_TRUE(SUCCEEDED(graph.StartLiveCapture()));
  // The file's decoder had counted the file's frames. Nothing here holds
  // it, so it goes and lets the new one have the NMEA file.
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, 0);
  ASSERT_TRUE(SUCCEEDED(graph.StartLiveCapture()));
  ASSERT_TRUE(sound_server::WaitUntilRecording(10));
  PlayIntoTheSoundServer(media::ShortWav());
  EXPECT_TRUE(WaitForFrames(graph.DecoderFilter(), media::ShortWav().frames, 5));
  ASSERT_EQ(graph.OpenMediaFile(Wide(media::ShortWav().path)), S_OK);
  ASSERT_TRUE(WaitForCompletion(graph, 30));
  EXPECT_EQ(CountsOf(graph.DecoderFilter()).good, media::ShortWav().frames);
  EXPECT_TRUE(messages.shown.empty());
}

// A reachable server whose only input is the monitor of the output the
// viewer plays into: there is nothing to capture, and the pilot is told.
TEST(LiveCapture, NoAudioInputDeviceSaysSo) {
  REQUIRE_SOUND_SERVER();
  sound_server::OutputOnlyServer server(media::Folder() / "output-only-server");
  ASSERT_TRUE(server.WaitUntilAnswering(10));
  const std::optional<std::string> saved =
      std::getenv("PULSE_SERVER") ? std::optional<std::string>(std::getenv("PULSE_SERVER"))
                                  : std::nullopt;
  ::setenv("PULSE_SERVER", server.Address().c_str(), 1);
  RecordingArea area;
  RecordingMessages messages;
  MediaGraph graph(&area, messages);
  const HRESULT hr = graph.StartLiveCapture();
  if (saved)
    ::setenv("PULSE_SERVER", saved->c_str(), 1);
  else
    ::unsetenv("PULSE_SERVER");
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{kNoInputText});
  EXPECT_FALSE(graph.AudioCapture());
}

}  // namespace

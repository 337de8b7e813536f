#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/viewer/shell/media_graph_fixtures.h"

namespace {

struct PlayerRun {
  int status = -1;
  std::string output;
};

PlayerRun RunPlayer(const std::string& arguments) {
  const std::string command = "QT_QPA_PLATFORM=offscreen \"" + std::string(VISTARO_PLAYER_PATH) +
                              "\" " + arguments + " 2>&1";
  PlayerRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  while (const size_t read = std::fread(buffer, 1, sizeof buffer, pipe))
    run.output.append(buffer, read);
  run.status = ::pclose(pipe);
  return run;
}

std::string LastLineWith(const std::string& text, const std::string& needle) {
  std::string found;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.find(needle) != std::string::npos) found = line;
    start = end + 1;
  }
  return found;
}

TEST(PlayerProgram, PlaysARecordingFromItsCommandLineToTheEnd) {
  const media::File file = media::VideoAndAudioMkv();
  const PlayerRun run = RunPlayer("--fast --exit-at-end --print-readouts --quit-after 120 \"" +
                                  file.path.string() + "\"");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string last = LastLineWith(run.output, "Good Packets");
  EXPECT_NE(last.find("Good Packets " + std::to_string(file.frames) + "  Bad Packets 0"),
            std::string::npos)
      << run.output;
}

TEST(PlayerProgram, RefusesABadCommandLine) {
  for (const char* arguments : {"--rate medium x.mkv", "--bogus", "a.mkv b.mkv", "--live x.mkv"}) {
    const PlayerRun run = RunPlayer(arguments);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 2) << arguments;
    EXPECT_NE(run.output.find("usage: vistaro-player"), std::string::npos) << run.output;
  }
}

}  // namespace

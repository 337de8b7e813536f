#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "tests/viewer/shell/media_graph_fixtures.h"

namespace {

struct PlayerRun {
  int status = -1;
  std::string output;
};

PlayerRun RunPlayer(const std::string& arguments, const std::string& environment = {}) {
  // A run that waits on a box nobody can answer ends here, failing.
  const std::string command = environment + " QT_QPA_PLATFORM=offscreen timeout 120 \"" +
                              std::string(VISTARO_PLAYER_PATH) + "\" " + arguments + " 2>&1";
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

// Without a display nobody can press OK: each box goes to standard error
// and the run goes on, past the second message about the missing decoder too.
TEST(PlayerProgram, WithoutADisplayBoxesGoToStandardErrorAndNeverWait) {
  const media::File file = media::ShortWav();
  const PlayerRun run = RunPlayer(
      "--quit-after 3 \"" + file.path.string() + "\"",
      "VISTARO_COMPONENT_REGISTRY=\"" + (media::Folder() / "no-registry").string() + "\"");
  ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.output;
  EXPECT_NE(run.output.find("PlayCap Message: Couldn't find the Quorvex filter!"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("PlayCap Message: Failed to add the telemetry decoder"),
            std::string::npos)
      << run.output;
}

TEST(PlayerProgram, EveryProgramTellsItsVersion) {
  for (const auto& [name, path] :
       {std::pair{"vistaro-player", VISTARO_PLAYER_PATH},
        std::pair{"quorvex-decode", QUORVEX_DECODE_PATH},
        std::pair{"quorvex-encode", QUORVEX_ENCODE_PATH}, std::pair{"regsvr", REGSVR_PATH}}) {
    // No display at all: the version needs none.
    const std::string command =
        "env -u DISPLAY -u QT_QPA_PLATFORM \"" + std::string(path) + "\" --version 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    EXPECT_EQ(::pclose(pipe), 0) << name;
    EXPECT_TRUE(read) << name;
    EXPECT_EQ(std::string(line), std::string(name) + " " VISTARO_VERSION "\n");
  }
}

}  // namespace

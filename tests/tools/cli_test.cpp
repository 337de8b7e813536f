#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/tools/recording_engine.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

namespace {

using namespace simulated_aircraft;
using testing::HasSubstr;
namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;  // stdout and stderr together
};

Result RunEncoder(const std::string& arguments) {
  const std::string command = std::string("'") + QUORVEX_ENCODE_PATH + "' " + arguments + " 2>&1";
  Result r;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) r.output.append(buffer, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class CliTest : public testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string In(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_ =
      fs::temp_directory_path() / ("quorvex_encode_cli_" + std::to_string(::getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(CliTest, WritesAStereoFileThatTheReceiverDecodesInFull) {
  const Result r = RunEncoder(
      "--synthetic 6 --sample-rate 48000 --rate fast --stereo right --other tone "
      "--inverted --amplitude 0.3 --snr 25 --seed 3 -o '" +
      In("out.wav") + "'");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "position frames: 12\nuplink frames: 6\nbattery frames: 6\n");

  std::ifstream in(In("out.wav"), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_EQ(bytes.size(), 44u + 6u * 48000u * 4u);
  std::vector<std::int16_t> samples((bytes.size() - 44) / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[44 + 2 * i]) |
                                           static_cast<std::uint8_t>(bytes[45 + 2 * i]) << 8);
  }
  CRecordingEngine engine(48000, 9554);
  engine.Feed(samples, 2, 1);
  EXPECT_EQ(engine.BadFrames(), 0);
  EXPECT_EQ(AsFrames(engine.records), AsFrames(RecordsOf(SyntheticFlight(6))));
}

TEST_F(CliTest, BadArgumentsExitWithStatusTwoAndSayWhy) {
  const std::string out = " -o '" + In("x.wav") + "'";
  const std::pair<std::string, const char*> cases[] = {
      {"--synthetic 5", "-o OUT.wav is required"},
      {"-o x.wav", "exactly one of --synthetic"},
      {"--synthetic five" + out, "'five' is not a number"},
      {"--synthetic 5 --rate medium" + out, "--rate must be slow, norm or fast"},
      {"--synthetic 5 --sample-rate 12000 --rate fast" + out, "at least twice the slot rate"},
      {"--synthetic 5 --other tone" + out, "--other needs --stereo"},
      {"--synthetic 5 --snr loud" + out, "--snr: 'loud' is not a number"},
      {"--synthetic 5 -o", "-o needs a value"},
      {"--synthetic 5 --volume 3" + out, "unknown argument '--volume'"},
      {"--synthetic 20000 --sample-rate 384000 --stereo left" + out, "too long for a WAV file"},
  };
  for (const auto& [arguments, message] : cases) {
    const Result r = RunEncoder(arguments);
    EXPECT_EQ(r.status, 2) << arguments << "\n" << r.output;
    EXPECT_THAT(r.output, HasSubstr(message)) << arguments;
  }
  EXPECT_FALSE(fs::exists(In("x.wav")));

  std::ofstream(In("bad.csv")) << "position,1000,46,7,100,6\nbattery,12000,0\n";
  const Result r = RunEncoder("--log '" + In("bad.csv") + "'" + out);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.output, HasSubstr("bad.csv:2: battery row needs 3 fields"));
}

TEST_F(CliTest, UnwritableOutputExitsWithStatusOne) {
  const Result r = RunEncoder("--synthetic 1 -o '" + In("no/such/dir/x.wav") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.output, HasSubstr("cannot create"));
}

}  // namespace

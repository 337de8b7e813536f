#include "tools/simulated_aircraft/wav_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace simulated_aircraft;
namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b.at(at + static_cast<std::size_t>(i));
  return v;
}

class WavWriterTest : public testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Path() const { return dir_ / "out.wav"; }
  fs::path dir_ = fs::temp_directory_path() / ("wav_writer_test_" + std::to_string(::getpid()));
};

TEST_F(WavWriterTest, HeaderAndSamplesParseBack) {
  const std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 0x1234};
  // Written in two pieces: the sizes must cover both.
  {
    CWavWriter w(Path(), {2, 48000});
    w.Write(std::span(samples).first(2));
    w.Write(std::span(samples).subspan(2));
    w.Close();
  }
  const auto b = ReadAll(Path());
  ASSERT_EQ(b.size(), 44u + 12u);
  // The RIFF size counts everything after it: 36 + 12 = 0x30.
  EXPECT_EQ(std::string(b.begin(), b.begin() + 16), std::string("RIFF\x30\0\0\0WAVEfmt ", 16));
  EXPECT_EQ(Le(b, 16, 4), 16u);
  EXPECT_EQ(Le(b, 20, 2), 1u);       // PCM
  EXPECT_EQ(Le(b, 22, 2), 2u);       // channels
  EXPECT_EQ(Le(b, 24, 4), 48000u);   // sample rate
  EXPECT_EQ(Le(b, 28, 4), 192000u);  // byte rate
  EXPECT_EQ(Le(b, 32, 2), 4u);       // block align
  EXPECT_EQ(Le(b, 34, 2), 16u);      // bits
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(Le(b, 40, 4), 12u);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    EXPECT_EQ(static_cast<std::int16_t>(Le(b, 44 + 2 * i, 2)), samples[i]) << i;
  }
}

TEST_F(WavWriterTest, FailuresThrowAndLeaveNoHalfFile) {
  EXPECT_THROW(CWavWriter(dir_ / "missing" / "out.wav", {1, 44100}), std::runtime_error);
  const fs::path path = Path();
  {
    CWavWriter w(path, {1, 44100});
    w.Write(std::vector<std::int16_t>(10, 1));
  }  // never closed
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace

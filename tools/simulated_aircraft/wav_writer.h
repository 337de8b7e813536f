#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace simulated_aircraft {

struct WavFormat {
  std::uint16_t channels = 1;
  std::uint32_t sampleRate = 44100;
};

inline constexpr std::size_t kWavHeaderSize = 44;
// A RIFF size field is 32 bits and counts everything after it.
inline constexpr std::uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - (kWavHeaderSize - 8);

// The canonical header of 16-bit PCM: RIFF, "fmt " of 16 bytes, "data".
std::array<std::uint8_t, kWavHeaderSize> MakeWavHeader(const WavFormat& format,
                                                       std::uint32_t dataBytes);

// Streams interleaved 16-bit samples into a WAV file. The sizes in the
// header are written when the file is closed. Every failure throws
// std::runtime_error naming the file; a file that was not closed cleanly is
// removed rather than left looking like a valid recording.
class CWavWriter {
 public:
  CWavWriter(std::filesystem::path path, const WavFormat& format);
  CWavWriter(const CWavWriter&) = delete;
  CWavWriter& operator=(const CWavWriter&) = delete;
  ~CWavWriter();

  void Write(std::span<const std::int16_t> samples);
  void Close();

 private:
  [[noreturn]] void Fail(const char* what);

  std::filesystem::path path_;
  WavFormat format_;
  std::ofstream out_;
  std::uint64_t dataBytes_ = 0;
  bool closed_ = false;
};

void WriteWav(const std::filesystem::path& path, const WavFormat& format,
              std::span<const std::int16_t> samples);

}  // namespace simulated_aircraft

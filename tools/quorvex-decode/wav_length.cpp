#include "tools/quorvex-decode/wav_length.h"

#include <cstdint>
#include <cstring>
#include <fstream>

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

std::optional<double> StatedWavSeconds(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char riff[12];
  if (!in.read(reinterpret_cast<char*>(riff), sizeof riff)) return std::nullopt;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  std::uint32_t bytesPerSecond = 0;
  // Chunks before the audio are few and small; a bound keeps a damaged
  // header from sending the walk through the whole file.
  for (int chunk = 0; chunk < 64; ++chunk) {
    unsigned char header[8];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
    const std::uint32_t size = Le32(header + 4);
    if (std::memcmp(header, "fmt ", 4) == 0) {
      unsigned char fmt[16];
      if (size < sizeof fmt || !in.read(reinterpret_cast<char*>(fmt), sizeof fmt)) {
        return std::nullopt;
      }
      // Only uncompressed samples have an exact byte rate.
      const std::uint16_t tag = Le16(fmt);
      if (tag != 1 && tag != 3 && tag != 0xFFFE) return std::nullopt;
      bytesPerSecond = Le32(fmt + 8);
      in.seekg(static_cast<std::streamoff>(size - sizeof fmt + (size & 1)), std::ios::cur);
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (bytesPerSecond == 0 || size == 0 || size == 0xFFFFFFFFu) return std::nullopt;
      return static_cast<double>(size) / bytesPerSecond;
    } else {
      in.seekg(static_cast<std::streamoff>(size) + (size & 1), std::ios::cur);
    }
  }
  return std::nullopt;
}

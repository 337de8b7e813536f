#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// CRC-8 with polynomial 0x07, initial value 0, no reflection, no final XOR.
namespace crc8 {

constexpr std::array<std::uint8_t, 256> MakeTable() {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    std::uint8_t c = static_cast<std::uint8_t>(i);
    for (int b = 0; b < 8; ++b)
      c = static_cast<std::uint8_t>((c & 0x80) ? (c << 1) ^ 0x07 : c << 1);
    t[static_cast<std::size_t>(i)] = c;
  }
  return t;
}

inline constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

constexpr std::uint8_t Compute(const std::uint8_t* data, std::size_t size) {
  std::uint8_t crc = 0;
  for (std::size_t i = 0; i < size; ++i) crc = kTable[crc ^ data[i]];
  return crc;
}

}  // namespace crc8

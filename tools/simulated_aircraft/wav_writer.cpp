#include "tools/simulated_aircraft/wav_writer.h"

#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace simulated_aircraft {
namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, kWavHeaderSize> MakeWavHeader(const WavFormat& format,
                                                       std::uint32_t dataBytes) {
  constexpr std::uint16_t kBytesPerSample = 2;
  std::array<std::uint8_t, kWavHeaderSize> h{};
  std::memcpy(&h[0], "RIFF", 4);
  Put32(&h[4], static_cast<std::uint32_t>(kWavHeaderSize - 8) + dataBytes);
  std::memcpy(&h[8], "WAVE", 4);
  std::memcpy(&h[12], "fmt ", 4);
  Put32(&h[16], 16);
  Put16(&h[20], 1);  // integer PCM
  Put16(&h[22], format.channels);
  Put32(&h[24], format.sampleRate);
  Put32(&h[28], format.sampleRate * format.channels * kBytesPerSample);
  Put16(&h[32], static_cast<std::uint16_t>(format.channels * kBytesPerSample));
  Put16(&h[34], 16);
  std::memcpy(&h[36], "data", 4);
  Put32(&h[40], dataBytes);
  return h;
}

CWavWriter::CWavWriter(std::filesystem::path path, const WavFormat& format)
    : path_(std::move(path)), format_(format) {
  out_.open(path_, std::ios::binary | std::ios::trunc);
  if (!out_) throw std::runtime_error("cannot create " + path_.string());
  const auto header = MakeWavHeader(format_, 0);
  out_.write(reinterpret_cast<const char*>(header.data()), header.size());
  if (!out_) Fail("cannot write");
}

CWavWriter::~CWavWriter() {
  if (closed_) return;
  out_.close();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

void CWavWriter::Write(std::span<const std::int16_t> samples) {
  if (dataBytes_ + 2 * samples.size() > kMaxWavDataBytes) Fail("too long for a WAV file:");
  std::vector<std::uint8_t> bytes(2 * samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    Put16(&bytes[2 * i], static_cast<std::uint16_t>(samples[i]));
  }
  out_.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!out_) Fail("cannot write");
  dataBytes_ += bytes.size();
}

void CWavWriter::Close() {
  if (closed_) return;
  const auto header = MakeWavHeader(format_, static_cast<std::uint32_t>(dataBytes_));
  out_.seekp(0);
  out_.write(reinterpret_cast<const char*>(header.data()), header.size());
  out_.close();
  if (!out_) Fail("cannot write");
  closed_ = true;
}

void CWavWriter::Fail(const char* what) {
  out_.close();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
  closed_ = true;
  throw std::runtime_error(std::string(what) + " " + path_.string());
}

void WriteWav(const std::filesystem::path& path, const WavFormat& format,
              std::span<const std::int16_t> samples) {
  CWavWriter writer(path, format);
  writer.Write(samples);
  writer.Close();
}

}  // namespace simulated_aircraft

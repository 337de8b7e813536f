#include "platform/filter/media_type.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

bool CMediaType::SetFormat(const BYTE* format, std::uint32_t length) {
  try {
    std::vector<BYTE> copy(format, format + length);
    format_.swap(copy);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

BYTE* CMediaType::AllocFormatBuffer(std::uint32_t length) {
  try {
    format_.assign(length, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return Format();
}

std::optional<WAVEFORMATEX> WaveFormatOf(const CMediaType& type) {
  // Everything up to wBitsPerSample: the smallest record that names a format.
  constexpr std::uint32_t kMinimum = offsetof(WAVEFORMATEX, cbSize);
  if (*type.FormatType() != FORMAT_WaveFormatEx || type.FormatLength() < kMinimum)
    return std::nullopt;
  WAVEFORMATEX wf{};
  std::memcpy(&wf, type.Format(), std::min<std::uint32_t>(type.FormatLength(), sizeof wf));
  return wf;
}

CMediaType MakeAudioType(const GUID& subtype, std::uint16_t formatTag, std::uint16_t channels,
                         std::uint32_t samplesPerSec, std::uint16_t bitsPerSample) {
  CMediaType type;
  type.SetType(&MEDIATYPE_Audio);
  type.SetSubtype(&subtype);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wf{};
  wf.wFormatTag = formatTag;
  wf.nChannels = channels;
  wf.nSamplesPerSec = samplesPerSec;
  wf.nBlockAlign = static_cast<std::uint16_t>(channels * bitsPerSample / 8);
  wf.nAvgBytesPerSec = samplesPerSec * wf.nBlockAlign;
  wf.wBitsPerSample = bitsPerSample;
  wf.cbSize = 0;
  type.SetFormat(reinterpret_cast<const BYTE*>(&wf), sizeof wf);
  return type;
}

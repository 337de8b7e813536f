#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/com/guid.h"
#include "platform/gst/filter_types.h"

// Media types as filters see them: a major type, a subtype and a format
// block identified by its own GUID.

inline constexpr GUID MEDIATYPE_Audio{
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_PCM{
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_IEEE_FLOAT{
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID FORMAT_WaveFormatEx{
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

// The wave format block is a byte layout shared with files and other
// processes, hence packed: 18 bytes, followed by cbSize extra bytes.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// Owns its format block; copies are deep.
class CMediaType {
 public:
  CMediaType() = default;

  const GUID* Type() const { return &majortype_; }
  const GUID* Subtype() const { return &subtype_; }
  const GUID* FormatType() const { return &formattype_; }
  void SetType(const GUID* type) { majortype_ = *type; }
  void SetSubtype(const GUID* subtype) { subtype_ = *subtype; }
  void SetFormatType(const GUID* formatType) { formattype_ = *formatType; }

  // Null when there is no format block.
  BYTE* Format() { return format_.empty() ? nullptr : format_.data(); }
  const BYTE* Format() const { return format_.empty() ? nullptr : format_.data(); }
  std::uint32_t FormatLength() const { return static_cast<std::uint32_t>(format_.size()); }
  // Replaces the block with a copy of `length` bytes; false when memory runs
  // out, the type then unchanged.
  bool SetFormat(const BYTE* format, std::uint32_t length);
  // A zeroed block of `length` bytes to fill in; null when memory runs out.
  BYTE* AllocFormatBuffer(std::uint32_t length);
  void ResetFormatBuffer() { format_.clear(); }

  // A type with no major type describes nothing.
  bool IsValid() const { return majortype_ != GUID_NULL; }

  friend bool operator==(const CMediaType&, const CMediaType&) = default;

 private:
  GUID majortype_ = GUID_NULL;
  GUID subtype_ = GUID_NULL;
  GUID formattype_ = GUID_NULL;
  std::vector<BYTE> format_;
};

// The wave format of an audio type. A 16-byte block (the older PCM format
// record without cbSize) reads with cbSize 0. nullopt when the format type is
// not FORMAT_WaveFormatEx or the block is too short to hold one.
std::optional<WAVEFORMATEX> WaveFormatOf(const CMediaType& type);

// An audio type with a wave format block whose block alignment and data rate
// follow from the other fields.
CMediaType MakeAudioType(const GUID& subtype, std::uint16_t formatTag, std::uint16_t channels,
                         std::uint32_t samplesPerSec, std::uint16_t bitsPerSample);

#include "platform/filter/gst_media_type.h"

#include <gst/audio/audio.h>

#include <cstring>
#include <limits>

namespace {

struct WaveSubtype {
  GUID subtype;
  std::uint16_t tag;
};

// The wave format that stores samples of `info` unchanged, if there is one.
std::optional<WaveSubtype> WaveSubtypeOf(const GstAudioFormatInfo* info) {
  const int width = GST_AUDIO_FORMAT_INFO_WIDTH(info);
  if (width != GST_AUDIO_FORMAT_INFO_DEPTH(info)) return std::nullopt;
  const bool littleEndian = width == 8 || GST_AUDIO_FORMAT_INFO_IS_LITTLE_ENDIAN(info);
  if (!littleEndian) return std::nullopt;
  if (GST_AUDIO_FORMAT_INFO_IS_FLOAT(info)) {
    if (width != 32 && width != 64) return std::nullopt;
    return WaveSubtype{MEDIASUBTYPE_IEEE_FLOAT, WAVE_FORMAT_IEEE_FLOAT};
  }
  if (!GST_AUDIO_FORMAT_INFO_IS_INTEGER(info)) return std::nullopt;
  // Wave PCM is unsigned at 8 bits and signed above.
  const bool isSigned = GST_AUDIO_FORMAT_INFO_IS_SIGNED(info);
  if ((width == 8) == isSigned) return std::nullopt;
  if (width != 8 && width != 16 && width != 24 && width != 32) return std::nullopt;
  return WaveSubtype{MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM};
}

const char* FormatName(const GUID& subtype, int bits) {
  if (subtype == MEDIASUBTYPE_PCM) {
    switch (bits) {
      case 8:
        return "U8";
      case 16:
        return "S16LE";
      case 24:
        return "S24LE";
      case 32:
        return "S32LE";
    }
  } else if (subtype == MEDIASUBTYPE_IEEE_FLOAT) {
    switch (bits) {
      case 32:
        return "F32LE";
      case 64:
        return "F64LE";
    }
  }
  return nullptr;
}

}  // namespace

CMediaType MediaTypeFromCaps(const GstCaps* caps) {
  CMediaType type;
  if (!caps || !gst_caps_is_fixed(caps)) return type;
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  const char* name = gst_structure_get_name(s);
  if (!g_str_has_prefix(name, "audio/")) return type;
  type.SetType(&MEDIATYPE_Audio);
  if (std::strcmp(name, "audio/x-raw") != 0) return type;

  const char* format = gst_structure_get_string(s, "format");
  const char* layout = gst_structure_get_string(s, "layout");
  int rate = 0, channels = 0;
  if (!format || !layout || std::strcmp(layout, "interleaved") != 0 ||
      !gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels))
    return type;
  const GstAudioFormat audioFormat = gst_audio_format_from_string(format);
  if (audioFormat == GST_AUDIO_FORMAT_UNKNOWN) return type;
  const GstAudioFormatInfo* info = gst_audio_format_get_info(audioFormat);
  const auto wave = WaveSubtypeOf(info);
  if (!wave) return type;

  const int bits = GST_AUDIO_FORMAT_INFO_WIDTH(info);
  const auto blockAlign = static_cast<std::uint64_t>(channels) * (bits / 8);
  const auto bytesPerSecond = blockAlign * static_cast<std::uint64_t>(rate);
  if (rate <= 0 || channels <= 0 || blockAlign > std::numeric_limits<std::uint16_t>::max() ||
      bytesPerSecond > std::numeric_limits<std::uint32_t>::max())
    return type;
  return MakeAudioType(wave->subtype, wave->tag, static_cast<std::uint16_t>(channels),
                       static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(bits));
}

GstCapsPtr CapsFromMediaType(const CMediaType& type) {
  if (*type.Type() != MEDIATYPE_Audio) return nullptr;
  const auto wf = WaveFormatOf(type);
  if (!wf || wf->nChannels == 0 || wf->nSamplesPerSec == 0 ||
      wf->nSamplesPerSec > static_cast<std::uint32_t>(std::numeric_limits<int>::max()))
    return nullptr;
  const char* format = FormatName(*type.Subtype(), wf->wBitsPerSample);
  if (!format) return nullptr;
  return GstCapsPtr(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, format, "layout",
                                        G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT,
                                        static_cast<int>(wf->nSamplesPerSec), "channels",
                                        G_TYPE_INT, static_cast<int>(wf->nChannels), nullptr));
}

std::string DescribeCaps(const GstCaps* caps) {
  if (!caps) return "no format";
  if (gst_caps_get_size(caps) == 1) {
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_name(s, "audio/x-raw")) {
      const char* format = gst_structure_get_string(s, "format");
      const char* layout = gst_structure_get_string(s, "layout");
      int rate = 0, channels = 0;
      std::string text = format ? format : "unknown format";
      if (layout && std::strcmp(layout, "interleaved") != 0) text += std::string(" ") + layout;
      if (gst_structure_get_int(s, "channels", &channels))
        text += ", " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
      if (gst_structure_get_int(s, "rate", &rate)) text += ", " + std::to_string(rate) + " Hz";
      return text;
    }
  }
  GCharPtr text(gst_caps_to_string(caps));
  return text.get();
}

#include "tools/quorvex-decode/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "tools/cli/command_line.h"

const char kUsageLine[] = "Usage: quorvex-decode [options] MEDIA_FILE";

const char kHelpText[] =
    R"(Usage: quorvex-decode [options] MEDIA_FILE

Decodes the telemetry on the audio track of a flight recording (any audio or
video file GStreamer can read: WAV, FLAC, MKV, MP4, AVI, ASF/WMV, MPG, OGG,
MP3, ...) as fast as the machine allows, through the Quorvex decoder filter.
The decoder is created by its class identifier from the component registry
(register it with "regsvr libquorvex.so"), unless --library names it. Only the
first audio stream is decoded; video is passed over without being decoded. The
filter gets the file's own samples: never resampled or remixed, only converted
to 16 bits.

Options:
  --library PATH         load the decoder from this library instead of the
                         registered one (for use straight from a build tree)
  --rate slow|norm|fast  telemetry rate: 2388, 4777 or 9554 slots per second
                         (default norm)
  --channel left|right   the channel of two-channel audio that carries the
                         telemetry (default right)
  --demodulator seed|robust
                         seed (default): the receiver recordings have always
                         been decoded with; robust: also decodes noisy, off-rate,
                         humming and lossily recorded telemetry
  --launch LON,LAT,ALT   launch site in degrees east, degrees north and metres,
                         applied after decoding and before any output
  --csv FILE             write the packet history as CSV (the viewer's Export
                         History format)
  --csv-full FILE        write every frame as CSV at full precision, with the
                         stream time at which it was decoded
  --kml FILE             write the flight track as KML
  --kml-track FILE       write the flight as a KML time track (gx:Track), which
                         a globe's time slider replays
  --nmea FILE            write the positions as NMEA 0183 sentences to FILE
                         (none without it); a FILE that a viewer or another
                         run holds locked is refused
  --nmea-udp HOST[:PORT] send the NMEA sentences of every fix as UDP datagrams
                         (port 10110 unless given; may be repeated)
  --nmea-tcp [ADDR:]PORT serve them to TCP clients such as gpsd, on the loopback
                         interface unless an address is given; both are meant
                         for --realtime
  --gpx FILE             write the flight as a GPX 1.1 track (a point per fix,
                         with UTC times and the uplink and battery values)
  --srt FILE, --vtt FILE write subtitles (SubRip, WebVTT) timed on the
                         recording, one per fix, for a video player to show
                         over the flight video
  --mux OUT.mkv          write the recording again as Matroska with those
                         subtitles as an extra track, nothing re-encoded
  --json                 print the final state as one JSON object instead of
                         the summary
  --realtime             decode at playback speed
  -h, --help             print this text
  --version              print the program's version

MEDIA_FILE may be "-" for standard input, or a named pipe: both are decoded
as the data streams in. Outputs follow symbolic links to the file they name;
devices and pipes (/dev/null, a terminal) are written in place, other files
replaced in one step. An output that is the recording itself or another
output of the same run is refused.

A progress bar is shown on stderr when stderr is a terminal. A file that ends
before its stated length (a recording cut short) is decoded as far as it goes
and reported as ended early; that is not an error.

Exit status:
  0  decoded (possibly ended early)
  1  the decoder cannot be created (not registered, or --library unusable)
  2  usage error
  3  MEDIA_FILE is missing, unreadable or not a media file, or nothing
     arrives on the stream
  4  MEDIA_FILE has no audio stream
  5  the decoder filter refuses the file's audio
  6  an output file cannot be written, is MEDIA_FILE or another output, or
     the --nmea file is locked
)";

namespace {

bool ParseFloat(std::string_view text, float& out) {
  const std::string s(text);
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(s.c_str(), &end);
  if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// The decoder keeps the site in 1/600000 degree and in centimetres, both as
// 32-bit integers, so altitudes beyond a few thousand kilometres cannot be
// represented; nothing that flies needs them.
std::optional<LaunchSite> ParseLaunchSite(std::string_view text) {
  LaunchSite site;
  float* fields[] = {&site.longitude, &site.latitude, &site.altitude};
  for (int i = 0; i < 3; ++i) {
    const auto comma = text.find(',');
    const bool last = i == 2;
    if ((comma == std::string_view::npos) != last) return std::nullopt;
    if (!ParseFloat(text.substr(0, comma), *fields[i])) return std::nullopt;
    if (!last) text.remove_prefix(comma + 1);
  }
  if (std::fabs(site.longitude) > 180 || std::fabs(site.latitude) > 90 ||
      std::fabs(site.altitude) > 1e6f)
    return std::nullopt;
  return site;
}

// The options whose value names a file.
std::optional<std::filesystem::path>* FileOption(DecodeOptions& options, std::string_view name) {
  using File = std::optional<std::filesystem::path> DecodeOptions::*;
  static constexpr std::pair<std::string_view, File> kFiles[] = {
      {"--library", &DecodeOptions::library},  {"--csv", &DecodeOptions::csv},
      {"--kml", &DecodeOptions::kml},          {"--nmea", &DecodeOptions::nmea},
      {"--gpx", &DecodeOptions::gpx},          {"--srt", &DecodeOptions::srt},
      {"--vtt", &DecodeOptions::vtt},          {"--kml-track", &DecodeOptions::kmlTrack},
      {"--csv-full", &DecodeOptions::csvFull}, {"--mux", &DecodeOptions::mux}};
  for (const auto& [option, member] : kFiles) {
    if (option == name) return &(options.*member);
  }
  return nullptr;
}

ParsedCommandLine ParseArguments(cli::ArgumentReader args) {
  DecodeOptions options;
  bool haveMedia = false;
  while (!args.AtEnd()) {
    const cli::ArgumentReader::Argument arg = args.Next();
    const std::string name(arg.name);
    if (arg.operand) {
      if (haveMedia) return UsageError{"only one MEDIA_FILE can be decoded at a time"};
      options.media = std::string(arg.text);
      haveMedia = true;
      continue;
    }
    if (name == "-h" || name == "--help") return HelpRequested{};
    if (name == "--json" || name == "--realtime") {
      cli::ArgumentReader::NoValue(arg);
      (name == "--json" ? options.json : options.realtime) = true;
      continue;
    }

    std::optional<std::filesystem::path>* const path = FileOption(options, name);
    const bool known = path || name == "--nmea-udp" || name == "--nmea-tcp" || name == "--rate" ||
                       name == "--channel" || name == "--demodulator" || name == "--launch";
    if (!known) cli::ArgumentReader::Unknown(arg);
    const std::string_view value = args.ValueOf(arg);

    if (path) {
      if (value.empty()) return UsageError{name + " needs a file name"};
      *path = std::string(value);
    } else if (name == "--nmea-udp") {
      if (value.empty()) return UsageError{"--nmea-udp needs HOST[:PORT]"};
      options.nmeaUdp.emplace_back(value);
    } else if (name == "--nmea-tcp") {
      if (value.empty()) return UsageError{"--nmea-tcp needs [ADDRESS:]PORT"};
      options.nmeaTcp = std::string(value);
    } else if (name == "--rate") {
      if (value == "slow") {
        options.slotRate = wire::kSlotRateSlow;
      } else if (value == "norm") {
        options.slotRate = wire::kSlotRateNorm;
      } else if (value == "fast") {
        options.slotRate = wire::kSlotRateFast;
      } else {
        return UsageError{"--rate must be slow, norm or fast, not '" + std::string(value) + "'"};
      }
    } else if (name == "--channel") {
      if (value == "left") {
        options.audioChannel = 0;
      } else if (value == "right") {
        options.audioChannel = 1;
      } else {
        return UsageError{"--channel must be left or right, not '" + std::string(value) + "'"};
      }
    } else if (name == "--demodulator") {
      if (value != "seed" && value != "robust") {
        return UsageError{"--demodulator must be seed or robust, not '" + std::string(value) + "'"};
      }
      options.robust = value == "robust";
    } else {
      options.launch = ParseLaunchSite(value);
      if (!options.launch) {
        return UsageError{"--launch needs LON,LAT,ALT in degrees and metres, not '" +
                          std::string(value) + "'"};
      }
    }
  }
  if (!haveMedia) return UsageError{"no MEDIA_FILE given"};
  return options;
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  try {
    return ParseArguments(cli::ArgumentReader(argc, argv));
  } catch (const cli::UsageError& e) {
    return UsageError{e.what()};
  }
}

// quorvex-decode: the telemetry of a recorded flight, without watching it.
// The decoder is reached the way the viewer reaches it, by class identifier,
// so a decode here proves the registered library as well.

#include <gst/gst.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "common/frame_csv_writer.h"
#include "common/gpx_writer.h"
#include "common/history_csv.h"
#include "common/iquorvex.h"
#include "common/iquorvex_nmea.h"
#include "common/kml_track_writer.h"
#include "common/subtitle_writer.h"
#include "platform/com/bstr.h"
#include "platform/com/co_create.h"
#include "platform/com/com_ptr.h"
#include "platform/filter/element_host.h"
#include "platform/filter/gst_ptr.h"
#include "tools/quorvex-decode/exit_status.h"
#include "tools/quorvex-decode/media_decode.h"
#include "tools/quorvex-decode/nmea_network.h"
#include "tools/quorvex-decode/options.h"
#include "tools/quorvex-decode/recording_time.h"
#include "tools/quorvex-decode/report.h"
#include "tools/quorvex-decode/subtitle_mux.h"
#include "tools/quorvex-decode/telemetry_messages.h"
#include "tools/quorvex-decode/wav_length.h"

namespace {

namespace fs = std::filesystem;

int Fail(ExitStatus status, const std::string& message) {
  std::fprintf(stderr, "quorvex-decode: %s\n", message.c_str());
  return ToInt(status);
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
  return text;
}

// Empty when the media file can be opened for reading and holds something.
std::string CheckMedia(const fs::path& media) {
  std::error_code ec;
  const auto status = fs::status(media, ec);
  if (!fs::exists(status)) return media.string() + ": no such file";
  if (fs::is_directory(status)) return media.string() + ": is a folder, not a media file";
  std::FILE* f = std::fopen(media.c_str(), "rb");
  if (!f) return media.string() + ": cannot be read: " + std::strerror(errno);
  const bool empty = std::fgetc(f) == EOF;
  std::fclose(f);
  if (empty) return media.string() + ": is empty; not a media file";
  return {};
}

// Outputs are checked before a long decode rather than after it. Empty when
// the file looks writable: its folder exists and can be written.
std::string CheckOutput(const char* option, const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return option + (" " + path.string()) + ": is a folder";
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) {
    return option + (" " + path.string()) + ": cannot be written: " + folder.string() +
           " is not a folder";
  }
  if (::access(folder.c_str(), W_OK) != 0) {
    return option + (" " + path.string()) + ": cannot be written: " + std::strerror(errno);
  }
  return {};
}

// The decoder truncates the NMEA file when it opens it but says nothing
// when it cannot; opening it here first turns that into an error.
std::string CheckNmeaOutput(const fs::path& path) {
  if (std::string why = CheckOutput("--nmea", path); !why.empty()) return why;
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return "--nmea " + path.string() + ": cannot be written: " + std::strerror(errno);
  std::fclose(f);
  return {};
}

struct Decoder {
  ComPtr<IUnknown> object;
  ComPtr<IQuorvex> control;
  GstObjectPtr<GstElement> element;
};

int CreateDecoder(const DecodeOptions& options, Decoder& decoder, std::string& error) {
  HRESULT hr;
  if (options.library) {
    const fs::path library = fs::absolute(*options.library);
    hr = CoCreateInstanceFromLibrary(library.string(), CLSID_Quorvex, nullptr, IID_IUnknown,
                                     decoder.object.PutVoid());
    if (FAILED(hr)) {
      error = "cannot create the decoder from " + library.string() + " (hr=" + Hex(hr) + ")";
      return ToInt(ExitStatus::kDecoderUnavailable);
    }
  } else {
    hr = CoCreateInstance(CLSID_Quorvex, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          decoder.object.PutVoid());
    if (hr == REGDB_E_CLASSNOTREG) {
      error =
          "the Quorvex decoder is not registered (run \"regsvr libquorvex.so\" or pass "
          "--library PATH)";
      return ToInt(ExitStatus::kDecoderUnavailable);
    }
    if (FAILED(hr)) {
      error = "cannot create the registered Quorvex decoder (hr=" + Hex(hr) + ")";
      return ToInt(ExitStatus::kDecoderUnavailable);
    }
  }
  if (FAILED(hr = decoder.object.As(IID_IQuorvex, decoder.control))) {
    error = "the decoder object has no IQuorvex interface (hr=" + Hex(hr) + ")";
    return ToInt(ExitStatus::kDecoderUnavailable);
  }
  ComPtr<IGstElementHost> host;
  GstElement* element = nullptr;
  if (FAILED(hr = decoder.object.As(IID_IGstElementHost, host)) ||
      FAILED(hr = host->CreateElement(&element)) || !element) {
    error = "the decoder cannot give its GStreamer element (hr=" + Hex(hr) + ")";
    return ToInt(ExitStatus::kDecoderUnavailable);
  }
  decoder.element.reset(GST_ELEMENT(gst_object_ref_sink(element)));
  return 0;
}

// Empty when written.
std::string WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << text;
  if (out) out.close();
  return out ? std::string() : std::string(std::strerror(errno));
}

// The outputs that follow the flight frame by frame, from the element's
// messages.
struct FrameOutput {
  const char* option;
  const std::optional<fs::path>& path;
  std::string (*document)(std::span<const TelemetryFrame>, std::int64_t recordingUtcSeconds);
};

// An instant near the recording, for the date its fixes lack, as the NMEA
// sentences are dated; now for what is not a regular file.
std::int64_t RecordingUtcSeconds(const fs::path& media) {
  return RecordingTime(media).value_or(static_cast<std::int64_t>(std::time(nullptr)));
}

int WriteFrameOutputs(const DecodeOptions& options, std::span<const TelemetryFrame> frames) {
  const FrameOutput outputs[] = {
      {"--gpx", options.gpx, &gpx::Document},
      {"--srt", options.srt,
       [](std::span<const TelemetryFrame> f, std::int64_t) { return subtitles::Srt(f); }},
      {"--vtt", options.vtt,
       [](std::span<const TelemetryFrame> f, std::int64_t) { return subtitles::WebVtt(f); }},
      {"--kml-track", options.kmlTrack, &kml_track::Document},
      {"--csv-full", options.csvFull,
       [](std::span<const TelemetryFrame> f, std::int64_t) { return frame_csv::Document(f); }},
  };
  int status = ToInt(ExitStatus::kOk);
  const std::int64_t recorded = RecordingUtcSeconds(options.media);
  for (const FrameOutput& o : outputs) {
    if (!o.path) continue;
    if (std::string why = WriteText(*o.path, o.document(frames, recorded)); !why.empty()) {
      status = Fail(ExitStatus::kOutputFailed,
                    std::string(o.option) + " " + o.path->string() + ": cannot be written: " + why);
    }
  }
  if (options.mux) {
    const auto cues = subtitles::Cues(frames);
    if (std::string why = MuxWithSubtitles(options.media, *options.mux, cues); !why.empty()) {
      status = Fail(ExitStatus::kOutputFailed,
                    "--mux " + options.mux->string() + ": cannot be written: " + why);
    }
  }
  return status;
}

int WriteOutputs(const DecodeOptions& options, IQuorvex& decoder) {
  int status = ToInt(ExitStatus::kOk);
  if (options.csv) {
    std::string why;
    if (FAILED(history_csv::Write(decoder, *options.csv, &why))) {
      status =
          Fail(ExitStatus::kOutputFailed, "--csv " + options.csv->string() + ": cannot be written" +
                                              (why.empty() ? "" : ": " + why));
    }
  }
  if (options.kml) {
    const ComBstr path(std::string_view(options.kml->string()));
    if (FAILED(decoder.WriteTrackKml(path.Get()))) {
      status =
          Fail(ExitStatus::kOutputFailed, "--kml " + options.kml->string() + ": cannot be written");
    }
  }
  return status;
}

int Run(const DecodeOptions& options) {
  if (std::string why = CheckMedia(options.media); !why.empty()) {
    return Fail(ExitStatus::kNotMedia, why);
  }
  if (options.csv) {
    if (std::string why = CheckOutput("--csv", *options.csv); !why.empty()) {
      return Fail(ExitStatus::kOutputFailed, why);
    }
  }
  if (options.kml) {
    if (std::string why = CheckOutput("--kml", *options.kml); !why.empty()) {
      return Fail(ExitStatus::kOutputFailed, why);
    }
  }
  for (const auto& [option, path] :
       {std::pair{"--gpx", &options.gpx}, std::pair{"--srt", &options.srt},
        std::pair{"--vtt", &options.vtt}}) {
    if (!*path) continue;
    if (std::string why = CheckOutput(option, **path); !why.empty()) {
      return Fail(ExitStatus::kOutputFailed, why);
    }
  }
  if (options.nmea) {
    if (std::string why = CheckNmeaOutput(*options.nmea); !why.empty()) {
      return Fail(ExitStatus::kOutputFailed, why);
    }
  }
  // The decoder reads its NMEA destination when it is constructed. Without
  // --nmea it gets none: its default is the viewer's live file.
  ::setenv("QUORVEX_NMEA_PATH", options.nmea ? fs::absolute(*options.nmea).c_str() : "", 1);

  gst_init(nullptr, nullptr);
  Decoder decoder;
  std::string error;
  if (int status = CreateDecoder(options, decoder, error); status != 0) {
    return Fail(static_cast<ExitStatus>(status), error);
  }
  if (options.nmea) {
    ComPtr<IQuorvexNmea> nmea;
    HRESULT opened = S_OK;  // a decoder without the interface cannot tell
    if (SUCCEEDED(decoder.object.As(IID_IQuorvexNmea, nmea))) {
      nmea->GetNmeaFile(nullptr, &opened);
      if (const auto when = RecordingTime(options.media)) nmea->SetRecordingTime(*when);
    }
    if (opened == QUORVEX_E_NMEA_LOCKED) {
      return Fail(ExitStatus::kOutputFailed,
                  "--nmea " + options.nmea->string() +
                      ": is locked by another program that writes it (a viewer or another run); "
                      "nothing was decoded");
    }
    if (FAILED(opened)) {
      return Fail(ExitStatus::kOutputFailed,
                  "--nmea " + options.nmea->string() +
                      ": the decoder cannot write it (hr=" + Hex(opened) + ")");
    }
  }
  NmeaNetwork network;
  const bool networked = !options.nmeaUdp.empty() || options.nmeaTcp;
  for (const std::string& destination : options.nmeaUdp) {
    if (std::string why = network.AddUdp(destination); !why.empty())
      return Fail(ExitStatus::kOutputFailed, "--nmea-udp " + why);
  }
  if (options.nmeaTcp) {
    if (std::string why = network.ListenTcp(*options.nmeaTcp); !why.empty())
      return Fail(ExitStatus::kOutputFailed, "--nmea-tcp " + why);
  }
  if (networked && !options.nmea) {
    // Sentences on the network are dated as those in a file would be.
    ComPtr<IQuorvexNmea> nmea;
    if (SUCCEEDED(decoder.object.As(IID_IQuorvexNmea, nmea))) {
      if (const auto when = RecordingTime(options.media)) nmea->SetRecordingTime(*when);
    }
  }
  IQuorvex& control = *decoder.control.Get();
  control.SetBitRate(options.slotRate);
  control.SetAudioChannel(options.audioChannel);

  DecodeSettings settings;
  settings.realtime = options.realtime;
  settings.showProgress = ::isatty(STDERR_FILENO) == 1;
  settings.statedSeconds = StatedWavSeconds(options.media);
  std::vector<TelemetryFrame> frames;
  settings.onElementMessage = [&](const GstStructure* s) {
    if (auto frame = FrameFromMessage(s)) frames.push_back(*frame);
    if (const char* sentences = gst_structure_get_string(s, "nmea"); networked && sentences)
      network.Send(sentences);
  };
  const DecodeOutcome outcome =
      DecodeMediaFile(fs::absolute(options.media), decoder.element.get(), settings);
  // The element holds the filter; the state stays readable through IQuorvex.
  decoder.element.reset();
  if (outcome.status != ExitStatus::kOk) {
    return Fail(outcome.status, options.media.string() + ": " + outcome.error);
  }
  if (outcome.endedEarly) {
    std::fprintf(stderr, "quorvex-decode: %s ended early (%s); decoded what was there\n",
                 options.media.c_str(), outcome.endedEarlyReason.c_str());
  }

  if (options.launch) {
    control.SetLaunchSite(options.launch->longitude, options.launch->latitude,
                          options.launch->altitude);
  }
  int status = WriteOutputs(options, control);
  if (const int framesStatus = WriteFrameOutputs(options, frames); status == 0)
    status = framesStatus;
  const std::string text =
      options.json ? report::Json(control) : report::Summary(control, options.media.string());
  std::fputs(text.c_str(), stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  if (std::holds_alternative<HelpRequested>(parsed)) {
    std::fputs(kHelpText, stdout);
    return ToInt(ExitStatus::kOk);
  }
  if (const auto* usage = std::get_if<UsageError>(&parsed)) {
    std::fprintf(stderr, "quorvex-decode: %s\n%s\nTry 'quorvex-decode --help' for more.\n",
                 usage->message.c_str(), kUsageLine);
    return ToInt(ExitStatus::kUsage);
  }
  return Run(std::get<DecodeOptions>(parsed));
}

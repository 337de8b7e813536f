// quorvex-decode: the telemetry of a recorded flight, without watching it.
// The decoder is reached the way the viewer reaches it, by class identifier,
// so a decode here proves the registered library as well.

#include <gst/gst.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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
#include "common/iquorvex_demodulator.h"
#include "common/iquorvex_nmea.h"
#include "common/kml_track_writer.h"
#include "common/nmea_network.h"
#include "common/subtitle_writer.h"
#include "platform/com/bstr.h"
#include "platform/com/co_create.h"
#include "platform/com/com_ptr.h"
#include "platform/com/component_registry.h"
#include "platform/file/atomic_file.h"
#include "platform/filter/element_host.h"
#include "platform/gst/gst_ptr.h"
#include "tools/cli/command_line.h"
#include "tools/quorvex-decode/exit_status.h"
#include "tools/quorvex-decode/file_checks.h"
#include "tools/quorvex-decode/media_decode.h"
#include "tools/quorvex-decode/options.h"
#include "tools/quorvex-decode/recording_time.h"
#include "tools/quorvex-decode/report.h"
#include "tools/quorvex-decode/subtitle_mux.h"
#include "tools/quorvex-decode/telemetry_messages.h"
#include "tools/quorvex-decode/wav_length.h"

namespace {

namespace fs = std::filesystem;

const cli::Tool kTool{"quorvex-decode", kUsageLine};
static_assert(ToInt(ExitStatus::kUsage) == cli::kExitUsage);

int Fail(ExitStatus status, const std::string& message) {
  return kTool.Fail(ToInt(status), message);
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
  return text;
}

// The system's reason hidden in a failure code from the decoder, when it
// carries one.
std::string ReasonOf(HRESULT hr) {
  if (const int code = ErrnoFromHresult(hr)) return std::strerror(code);
  return "hr=" + Hex(hr);
}

// The registered library and the loader's words, so that the user can act.
std::string LoadDetail(const std::optional<fs::path>& library) {
  std::string detail;
  if (library) detail = "library " + library->string();
  const std::string why = CoLastLoadError();
  if (!why.empty()) detail += (detail.empty() ? "" : ": ") + why;
  return detail.empty() ? detail : ": " + detail;
}

// A stream gives its first bytes within this time or is refused.
constexpr int kStreamWaitSeconds = 20;

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
      error = "cannot create the decoder from " + library.string() + " (hr=" + Hex(hr) + ")" +
              LoadDetail(std::nullopt);
      return ToInt(ExitStatus::kDecoderUnavailable);
    }
  } else {
    hr = CoCreateInstance(CLSID_Quorvex, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          decoder.object.PutVoid());
    if (hr == REGDB_E_CLASSNOTREG) {
      if (std::string problem = com_registry::ReadProblem(); !problem.empty()) {
        error = "the component registry cannot be used: " + problem;
        return ToInt(ExitStatus::kDecoderUnavailable);
      }
      error =
          "the Quorvex decoder is not registered (run \"regsvr libquorvex.so\" or pass "
          "--library PATH)";
      return ToInt(ExitStatus::kDecoderUnavailable);
    }
    if (FAILED(hr)) {
      const auto entry = com_registry::FindServer(CLSID_Quorvex);
      error = "cannot create the registered Quorvex decoder (hr=" + Hex(hr) + ")" +
              LoadDetail(entry ? std::optional<fs::path>(entry->library) : std::nullopt);
      return ToInt(ExitStatus::kDecoderUnavailable);
    }
  }
  if (FAILED(hr = decoder.object.As(IID_IQuorvex, decoder.control))) {
    error = "the decoder object has no IQuorvex interface (hr=" + Hex(hr) + ")";
    return ToInt(ExitStatus::kDecoderUnavailable);
  }
  if (options.robust) {
    ComPtr<IQuorvexDemodulator> demodulator;
    if (FAILED(hr = decoder.object.As(IID_IQuorvexDemodulator, demodulator)) ||
        FAILED(hr = demodulator->SetDemodulator(kQuorvexDemodulatorRobust))) {
      error = "the decoder offers no robust demodulator (hr=" + Hex(hr) +
              "); it may be older than this program";
      return ToInt(ExitStatus::kDecoderUnavailable);
    }
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

// Empty when written; replaced whole, as every file of the tool.
std::string WriteText(const fs::path& path, const std::string& text) {
  std::string why;
  return ReplaceFileContents(path, text, &why) ? std::string() : why;
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
std::int64_t RecordingUtcSeconds(const std::optional<fs::path>& file) {
  const auto when = file ? RecordingTime(*file) : std::nullopt;
  return when.value_or(static_cast<std::int64_t>(std::time(nullptr)));
}

int WriteFrameOutputs(const DecodeOptions& options, const std::optional<fs::path>& file,
                      std::span<const TelemetryFrame> frames) {
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
  const std::int64_t recorded = RecordingUtcSeconds(file);
  for (const FrameOutput& o : outputs) {
    if (!o.path) continue;
    if (std::string why = WriteText(*o.path, o.document(frames, recorded)); !why.empty()) {
      status = Fail(ExitStatus::kOutputFailed,
                    std::string(o.option) + " " + o.path->string() + ": cannot be written: " + why);
    }
  }
  if (options.mux && file) {
    const auto cues = subtitles::Cues(frames);
    if (std::string why = MuxWithSubtitles(*file, *options.mux, cues); !why.empty()) {
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
    if (const HRESULT hr = decoder.WriteTrackKml(path.Get()); FAILED(hr)) {
      status = Fail(ExitStatus::kOutputFailed,
                    "--kml " + options.kml->string() + ": cannot be written: " + ReasonOf(hr));
    }
  }
  return status;
}

int Run(const DecodeOptions& options) {
  MediaInput media;
  if (std::string why = OpenMedia(options.media, media, kStreamWaitSeconds); !why.empty()) {
    return Fail(ExitStatus::kNotMedia, why);
  }
  std::vector<NamedOutput> outputs;
  if (options.csv) outputs.push_back({"--csv", *options.csv});
  if (options.kml) outputs.push_back({"--kml", *options.kml});
  if (options.nmea) outputs.push_back({"--nmea", *options.nmea});
  for (const auto& [option, path] :
       {std::pair{"--gpx", &options.gpx}, std::pair{"--srt", &options.srt},
        std::pair{"--vtt", &options.vtt}, std::pair{"--mux", &options.mux},
        std::pair{"--kml-track", &options.kmlTrack}, std::pair{"--csv-full", &options.csvFull}}) {
    if (*path) outputs.push_back({option, **path});
  }
  if (std::string why = CheckOutputs(media, outputs); !why.empty()) {
    return Fail(ExitStatus::kOutputFailed, why);
  }
  if (options.mux && !media.file) {
    return Fail(ExitStatus::kOutputFailed,
                "--mux " + options.mux->string() +
                    ": needs the recording as a file; a stream cannot be read a second time");
  }
  FileDescriptor nmeaPipe;
  fs::path nmeaPath;
  if (options.nmea) {
    if (std::string why = PrepareNmeaOutput(*options.nmea, nmeaPath, nmeaPipe); !why.empty()) {
      return Fail(ExitStatus::kOutputFailed, why);
    }
  }
  // The decoder reads its NMEA destination when it is constructed. Without
  // --nmea it gets none: its default is the viewer's live file.
  ::setenv("QUORVEX_NMEA_PATH", options.nmea ? nmeaPath.c_str() : "", 1);

  gst_init(nullptr, nullptr);
  Decoder decoder;
  std::string error;
  if (int status = CreateDecoder(options, decoder, error); status != 0) {
    return Fail(static_cast<ExitStatus>(status), error);
  }
  // The decoder has the pipe open now; its reader never saw it close.
  nmeaPipe = FileDescriptor();
  if (options.nmea) {
    ComPtr<IQuorvexNmea> nmea;
    HRESULT opened = S_OK;  // a decoder without the interface cannot tell
    if (SUCCEEDED(decoder.object.As(IID_IQuorvexNmea, nmea))) {
      nmea->GetNmeaFile(nullptr, &opened);
      // A stream has no container date or file time to read ahead of it.
      if (media.file) {
        if (const auto when = RecordingTime(*media.file)) nmea->SetRecordingTime(*when);
      }
    }
    if (opened == QUORVEX_E_NMEA_LOCKED) {
      return Fail(ExitStatus::kOutputFailed,
                  "--nmea " + options.nmea->string() +
                      ": is locked by another program that writes it (a viewer or another run); "
                      "nothing was decoded");
    }
    if (FAILED(opened)) {
      return Fail(ExitStatus::kOutputFailed, "--nmea " + options.nmea->string() +
                                                 ": the decoder cannot write it (" +
                                                 ReasonOf(opened) + ")");
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
      if (const auto when = RecordingUtcSeconds(media.file); media.file)
        nmea->SetRecordingTime(when);
    }
  }
  IQuorvex& control = *decoder.control.Get();
  control.SetBitRate(options.slotRate);
  control.SetAudioChannel(options.audioChannel);

  DecodeSettings settings;
  settings.realtime = options.realtime;
  settings.showProgress = ::isatty(STDERR_FILENO) == 1;
  settings.streamFd = media.stream.Get();
  if (media.file) settings.statedSeconds = StatedWavSeconds(*media.file);
  std::vector<TelemetryFrame> frames;
  settings.onElementMessage = [&](const GstStructure* s) {
    if (auto frame = FrameFromMessage(s)) frames.push_back(*frame);
    if (const char* sentences = gst_structure_get_string(s, "nmea"); networked && sentences)
      network.Send(sentences);
  };
  const DecodeOutcome outcome = DecodeMediaFile(media.file ? fs::absolute(*media.file) : fs::path(),
                                                decoder.element.get(), settings);
  // The element holds the filter; the state stays readable through IQuorvex.
  decoder.element.reset();
  if (outcome.status != ExitStatus::kOk) {
    return Fail(outcome.status, media.name + ": " + outcome.error);
  }
  if (outcome.endedEarly) {
    std::fprintf(stderr, "quorvex-decode: %s ended early (%s); decoded what was there\n",
                 media.name.c_str(), outcome.endedEarlyReason.c_str());
  }

  if (options.launch) {
    control.SetLaunchSite(options.launch->longitude, options.launch->latitude,
                          options.launch->altitude);
  }
  int status = WriteOutputs(options, control);
  if (options.nmea) {
    // Written while decoding; a full disk shows only now.
    ComPtr<IQuorvexNmea> nmea;
    HRESULT written = S_OK;
    if (SUCCEEDED(decoder.object.As(IID_IQuorvexNmea, nmea))) nmea->GetNmeaFile(nullptr, &written);
    if (FAILED(written)) {
      status = Fail(ExitStatus::kOutputFailed, "--nmea " + options.nmea->string() +
                                                   ": cannot be written: " + ReasonOf(written));
    }
  }
  if (const int framesStatus = WriteFrameOutputs(options, media.file, frames); status == 0)
    status = framesStatus;
  const std::string text =
      options.json ? report::Json(control) : report::Summary(control, media.name);
  std::fputs(text.c_str(), stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (cli::Mentions({argv + 1, argv + argc}, "--version")) {
    kTool.PrintVersion();
    return ToInt(ExitStatus::kOk);
  }
  const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  if (std::holds_alternative<HelpRequested>(parsed)) {
    std::fputs(kHelpText, stdout);
    return ToInt(ExitStatus::kOk);
  }
  if (const auto* usage = std::get_if<UsageError>(&parsed))
    return kTool.UsageFailure(usage->message);
  return Run(std::get<DecodeOptions>(parsed));
}

// quorvex-encode: writes an aircraft's telemetry audio as a WAV file, from a
// synthetic flight or a flight log, for testing ground stations.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/wire/slot_rates.h"
#include "tools/cli/command_line.h"
#include "tools/simulated_aircraft/flight_log.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"

namespace {

using namespace simulated_aircraft;

constexpr int kExitWriteFailed = 1;
using cli::kExitUsage;
using cli::UsageError;

const cli::Tool kTool{"quorvex-encode",
                      "Usage: quorvex-encode (--synthetic SECONDS | --log FLIGHT.csv) [options] "
                      "-o OUT.wav"};

void PrintHelp() {
  std::cout <<
      R"(Usage: quorvex-encode (--synthetic SECONDS | --log FLIGHT.csv) [--sample-rate HZ]
                      [--rate slow|norm|fast] [--stereo left|right] [--other tone|silence]
                      [--inverted] [--amplitude A] [--snr DB] [--seed N]
                      [--clock-error PERCENT] [--untrimmed] [--hum HZ:AMPLITUDE]
                      [--dc N] -o OUT.wav

Writes an aircraft's telemetry audio as a 16-bit PCM WAV file. Every frame is
sent as a lead-in tone (one cycle per two slots), the 16-slot sync word 0xCCCC
and the frame bytes (type, length, payload, CRC-8), most significant bit
first, each bit as two slots of the same level. Between frames the line idles
at the low level.

Flight source, exactly one of:
  --synthetic SECONDS    a made-up flight lasting SECONDS (0 < SECONDS <= 86400):
                         on the ground while the satellite count rises from 4 to
                         9, take-off, one loop of about 3 km at 120 m, landing at
                         home. Positions twice a second, uplink and battery frames
                         once a second each. The same every time.
  --log FLIGHT.csv       the frames of a flight log, one row per frame (below).

Options:
  --sample-rate HZ       samples per second, 1000..384000 and at least twice the
                         slot rate (default 44100)
  --rate slow|norm|fast  2388, 4777 or 9554 slots per second (default norm)
  --stereo left|right    write two channels with the telemetry on the one named
                         (default: one channel)
  --other tone|silence   with --stereo, what the other channel carries: a 1000 Hz
                         tone at the telemetry's amplitude, or silence (default)
  --inverted             inverted polarity: the telemetry upside down, as an
                         inverting audio path delivers it; the receiver then
                         sees the sync word as 0x3333
  --amplitude A          peak level of the telemetry as a fraction of full scale,
                         0 < A <= 1 (default 0.5); a receiver needs peaks above
                         20/32767
  --snr DB               add Gaussian white noise to the telemetry channel.
                         SNR = 10*log10(signal power / noise power), where the
                         signal power is that of the telemetry waveform (A^2 for
                         its peak level A: the line always sits at +A or -A) and
                         the noise power is the noise's variance. The noise thus
                         has the standard deviation A / 10^(DB/20). Samples are
                         clipped to 16 bits after the noise is added.
  --seed N               seed of the noise, 0..18446744073709551615 (default 1);
                         the same seed and settings give the same file
  --clock-error PERCENT  the transmitter's clock this many percent fast
                         (negative: slow), -10..10; the lead-in, sync word and
                         data all run at the wrong rate
  --untrimmed            send lead-in, sync word and data on one unbroken slot
                         grid, as a real transmitter does; by default the sync
                         word is shifted to where the receiver reads best
  --hum HZ:AMPLITUDE     add mains hum: a sine of HZ with the peak AMPLITUDE
                         (a fraction of full scale, as --amplitude), e.g. 50:0.33
  --dc N                 add a constant offset of N sample units (-32767..32767)
  -o OUT.wav             the file to write (required)
  -h, --help             print this text
  --version              print the program's version

On success it prints the number of frames of each type it wrote:
  position frames: N
  uplink frames: N
  battery frames: N

Flight log columns (CSV, one row per frame; the row's first field is its type):
)" << kFlightLogColumns
            << R"(
Example flight log:
  type,fields
  # lift-off
  position,10:15:00.000,46.8123,7.1456,56200,6
  uplink,45,49,100,0,0,0,50,0,128,128,0,128,0,0,128,255
  battery,12590,0,400
  pause,250
  position,10:15:00.500,46.81235,7.14566,56450,7

Exit status: 0 the file was written; 1 it could not be written; 2 bad
arguments or a bad flight log.
)";
}

template <typename T>
T ParseNumber(std::string_view option, std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
    throw UsageError(std::string(option) + ": '" + std::string(text) + "' is not a number");
  }
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(value)) throw UsageError(std::string(option) + " must be finite");
  }
  return value;
}

struct Arguments {
  std::optional<double> syntheticSeconds;
  std::optional<std::string> logPath;
  std::string outPath;
  SignalOptions signal;
};

Arguments ParseArguments(const std::vector<std::string_view>& args) {
  static const std::map<std::string_view, bool> kTakesValue = {
      {"--synthetic", true},  {"--log", true},       {"--sample-rate", true},
      {"--rate", true},       {"--stereo", true},    {"--other", true},
      {"--inverted", false},  {"--amplitude", true}, {"--snr", true},
      {"--seed", true},       {"-o", true},          {"--clock-error", true},
      {"--untrimmed", false}, {"--hum", true},       {"--dc", true}};
  std::map<std::string_view, std::string_view> given;
  cli::ArgumentReader reader(args);
  while (!reader.AtEnd()) {
    const cli::ArgumentReader::Argument arg = reader.Next();
    const auto known = kTakesValue.find(arg.name);
    if (arg.operand || known == kTakesValue.end()) cli::ArgumentReader::Unknown(arg);
    if (given.contains(arg.name)) throw UsageError(std::string(arg.name) + " given twice");
    if (known->second) {
      given[arg.name] = reader.ValueOf(arg);
    } else {
      cli::ArgumentReader::NoValue(arg);
      given[arg.name] = "";
    }
  }

  Arguments a;
  SignalOptions& s = a.signal;
  if (given.contains("--synthetic") == given.contains("--log")) {
    throw UsageError("give exactly one of --synthetic SECONDS and --log FLIGHT.csv");
  }
  if (given.contains("--synthetic")) {
    const double seconds = ParseNumber<double>("--synthetic", given["--synthetic"]);
    if (!(seconds > 0 && seconds <= 86400)) {
      throw UsageError("--synthetic: SECONDS must be above 0 and at most 86400");
    }
    a.syntheticSeconds = seconds;
    s.minSeconds = seconds;
  } else {
    a.logPath = std::string(given["--log"]);
  }
  if (!given.contains("-o") || given["-o"].empty()) throw UsageError("-o OUT.wav is required");
  a.outPath = std::string(given["-o"]);

  if (given.contains("--rate")) {
    static const std::map<std::string_view, std::int32_t> kRates = {{"slow", wire::kSlotRateSlow},
                                                                    {"norm", wire::kSlotRateNorm},
                                                                    {"fast", wire::kSlotRateFast}};
    const auto rate = kRates.find(given["--rate"]);
    if (rate == kRates.end()) throw UsageError("--rate must be slow, norm or fast");
    s.link.slotRate = rate->second;
  }
  if (given.contains("--sample-rate")) {
    const auto hz = ParseNumber<std::uint32_t>("--sample-rate", given["--sample-rate"]);
    if (hz < 1000 || hz > 384000) throw UsageError("--sample-rate must be 1000..384000");
    s.link.sampleRate = hz;
  }
  if (s.link.sampleRate < 2u * static_cast<std::uint32_t>(s.link.slotRate)) {
    throw UsageError("--sample-rate must be at least twice the slot rate (" +
                     std::to_string(2 * s.link.slotRate) + " Hz)");
  }
  if (given.contains("--stereo")) {
    if (given["--stereo"] == "left") {
      s.layout = ChannelLayout::kStereoLeft;
    } else if (given["--stereo"] == "right") {
      s.layout = ChannelLayout::kStereoRight;
    } else {
      throw UsageError("--stereo must be left or right");
    }
  }
  if (given.contains("--other")) {
    if (s.layout == ChannelLayout::kMono) throw UsageError("--other needs --stereo");
    if (given["--other"] == "tone") {
      s.other = OtherChannel::kTone;
    } else if (given["--other"] != "silence") {
      throw UsageError("--other must be tone or silence");
    }
  }
  s.link.inverted = given.contains("--inverted");
  if (given.contains("--amplitude")) {
    s.amplitude = ParseNumber<double>("--amplitude", given["--amplitude"]);
    if (!(s.amplitude > 0 && s.amplitude <= 1)) throw UsageError("--amplitude must be 0 < A <= 1");
  }
  if (given.contains("--snr")) s.snrDb = ParseNumber<double>("--snr", given["--snr"]);
  if (given.contains("--clock-error")) {
    s.link.clockErrorPercent = ParseNumber<double>("--clock-error", given["--clock-error"]);
    if (std::fabs(s.link.clockErrorPercent) > 10) throw UsageError("--clock-error must be -10..10");
  }
  s.link.untrimmed = given.contains("--untrimmed");
  if (given.contains("--hum")) {
    const std::string_view hum = given["--hum"];
    const auto colon = hum.find(':');
    if (colon == std::string_view::npos) throw UsageError("--hum needs HZ:AMPLITUDE, e.g. 50:0.33");
    s.humHz = ParseNumber<double>("--hum", hum.substr(0, colon));
    s.humAmplitude = ParseNumber<double>("--hum", hum.substr(colon + 1));
    if (s.humHz < 0 || s.humHz > s.link.sampleRate / 2.0 || s.humAmplitude < 0 ||
        s.humAmplitude > 1) {
      throw UsageError("--hum: HZ must be 0..half the sample rate and AMPLITUDE 0..1");
    }
  }
  if (given.contains("--dc")) {
    s.dc = ParseNumber<double>("--dc", given["--dc"]);
    if (std::fabs(s.dc) > 32767) throw UsageError("--dc must be -32767..32767");
  }
  if (given.contains("--seed")) s.seed = ParseNumber<std::uint64_t>("--seed", given["--seed"]);
  return a;
}

int Run(const std::vector<std::string_view>& args) {
  for (std::string_view arg : args) {
    if (arg == "-h" || arg == "--help") {
      PrintHelp();
      return 0;
    }
    if (arg == "--version") {
      kTool.PrintVersion();
      return 0;
    }
  }
  Arguments a;
  std::vector<FlightFrame> flight;
  std::optional<CSignalRenderer> renderer;
  try {
    a = ParseArguments(args);
    flight = a.syntheticSeconds ? SyntheticFlight(*a.syntheticSeconds) : LoadFlightLog(*a.logPath);
    renderer.emplace(BuildFrames(flight), a.signal);
    const auto bytes = static_cast<std::uint64_t>(renderer->TotalSampleFrames()) *
                       static_cast<std::uint64_t>(renderer->Channels()) * 2;
    if (bytes > kMaxWavDataBytes) throw UsageError("the audio would be too long for a WAV file");
  } catch (const FlightLogError& e) {
    return kTool.Fail(kExitUsage, e.what());
  } catch (const std::invalid_argument& e) {
    return kTool.Fail(kExitUsage, e.what());
  } catch (const UsageError& e) {
    return kTool.UsageFailure(e.what());
  }

  try {
    CWavWriter wav(a.outPath,
                   {static_cast<std::uint16_t>(renderer->Channels()), a.signal.link.sampleRate});
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(65536 * renderer->Channels()));
    while (const std::size_t n = renderer->RenderNext(buffer)) {
      wav.Write(std::span(buffer).first(n));
    }
    wav.Close();
  } catch (const std::exception& e) {
    return kTool.Fail(kExitWriteFailed, e.what());
  }
  const FrameCounts counts = CountFrames(flight);
  std::cout << "position frames: " << counts.position << '\n'
            << "uplink frames: " << counts.uplink << '\n'
            << "battery frames: " << counts.battery << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return kTool.Fail(kExitWriteFailed, e.what());
  } catch (...) {
    return kTool.Fail(kExitWriteFailed, "unexpected failure");
  }
}

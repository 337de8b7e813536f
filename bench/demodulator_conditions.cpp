// Counts what each demodulator makes of a recording: frames decoded that
// were sent, and false frames (decoded, never sent). Driven by
// demodulator_conditions.sh; runnable on its own:
//
//   bench_demodulator_conditions count RAW.s16 SAMPLE_RATE SLOT_RATE SECONDS
//       RAW.s16: mono 16-bit little-endian samples of a synthetic flight of
//       SECONDS made by quorvex-encode (through any recorder chain).
//       Prints "sent seed_decoded seed_false robust_decoded robust_false".
//   bench_demodulator_conditions noise white|pink|music SECONDS
//       Audio without telemetry at 44100 Hz; prints the false frames of both
//       and how often the robust one read a sync word, a type and a length
//       there (each then rejected by the checks after them).
//   bench_demodulator_conditions snr SECONDS
//       Both demodulators' share of frames at 0..15 dB SNR (44100 Hz, 4777).
//   bench_demodulator_conditions speed
//       Samples per second on one core, both demodulators, 60-s flight.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "decoder/demodulator/decode_engine.h"
#include "decoder/demodulator/robust_demodulator.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"

namespace {

using Key = std::vector<std::uint8_t>;  // type, then payload

struct Tally {
  std::map<Key, int> unmatched;
  int decoded = 0;
  int falseFrames = 0;

  void Check(std::uint8_t type, const std::uint8_t* payload, std::size_t size) {
    Key key{type};
    key.insert(key.end(), payload, payload + size);
    auto it = unmatched.find(key);
    if (it != unmatched.end() && it->second > 0) {
      --it->second;
      ++decoded;
    } else {
      ++falseFrames;
    }
  }
};

Tally SentFrames(double seconds) {
  Tally t;
  if (seconds <= 0) return t;
  for (const auto& f :
       simulated_aircraft::BuildFrames(simulated_aircraft::SyntheticFlight(seconds))) {
    Key key{f.bytes[0]};
    key.insert(key.end(), f.bytes.begin() + 2, f.bytes.end() - 1);
    ++t.unmatched[key];
  }
  return t;
}

int SentCount(double seconds) {
  return seconds <= 0 ? 0 : static_cast<int>(simulated_aircraft::SyntheticFlight(seconds).size());
}

class SeedCounter final : public CDecodeEngine {
 public:
  explicit SeedCounter(Tally& t) : tally_(t) {}
  ~SeedCounter() = default;

 protected:
  void OnPosition(PositionRecord r) override { Add(kFramePosition, r); }
  void OnUplinkStatus(UplinkRecord r) override { Add(kFrameUplink, r); }
  void OnBatteryStatus(BatteryRecord r) override { Add(kFrameBattery, r); }

 private:
  template <typename R>
  void Add(std::uint8_t type, const R& r) {
    tally_.Check(type, reinterpret_cast<const std::uint8_t*>(&r), sizeof r);
  }
  Tally& tally_;
};

class RobustCounter final : public IFrameSink {
 public:
  explicit RobustCounter(Tally& t) : tally_(t) {}
  CRobustDemodulator demodulator{*this};
  void OnFrame(std::span<const std::uint8_t> f) override {
    tally_.Check(f[0], f.data() + 2, f.size() - 3);
  }
  void OnLostFrame() override { ++lost; }
  int lost = 0;

 private:
  Tally& tally_;
};

struct Result {
  Tally seed, robust;
  int robustLost = 0;  // sync word, type and length read, the rest rejected
};

Result Decode(const std::vector<std::int16_t>& audio, std::uint32_t rate, int slotRate,
              double seconds) {
  Result r{SentFrames(seconds), SentFrames(seconds)};
  SeedCounter seed(r.seed);
  seed.SetSlotRate(slotRate);
  seed.SetSampleRate(rate);
  seed.ProcessSamples(audio.data(), audio.size());
  RobustCounter robust(r.robust);
  robust.demodulator.SetSlotRate(slotRate);
  robust.demodulator.SetSampleRate(rate);
  robust.demodulator.ProcessSamples(audio.data(), audio.size());
  robust.demodulator.Flush();
  r.robustLost = robust.lost;
  return r;
}

std::vector<std::int16_t> Flight(double seconds, std::uint32_t rate, std::optional<double> snr,
                                 std::uint64_t seed = 1) {
  simulated_aircraft::SignalOptions o;
  o.link.sampleRate = rate;
  o.snrDb = snr;
  o.seed = seed;
  o.minSeconds = seconds;
  return simulated_aircraft::RenderSignal(simulated_aircraft::SyntheticFlight(seconds), o);
}

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::int16_t Clip(double v) { return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0)); }

// White, pink (-3 dB per octave) or something with the spectrum and
// dynamics of music: notes with harmonics and envelopes over a bass line,
// with noisy drum hits.
std::vector<std::int16_t> Noise(const std::string& kind, double seconds) {
  constexpr double kRate = 44100;
  const auto n = static_cast<std::size_t>(seconds * kRate);
  std::vector<std::int16_t> out(n);
  simulated_aircraft::CNoiseSource random(7);
  auto uniform = [&] { return static_cast<double>(random.Next() >> 11) / 9007199254740992.0; };
  auto gauss = [&] {
    double s = 0;
    for (int i = 0; i < 12; ++i) s += uniform();
    return s - 6.0;
  };
  if (kind == "white") {
    for (auto& v : out) v = Clip(6000 * gauss());
  } else if (kind == "pink") {
    double b0 = 0, b1 = 0, b2 = 0;
    for (auto& v : out) {
      const double w = gauss();
      b0 = 0.99765 * b0 + w * 0.0990460;
      b1 = 0.96300 * b1 + w * 0.2965164;
      b2 = 0.57000 * b2 + w * 1.0526913;
      v = Clip(6000 * (b0 + b1 + b2 + w * 0.1848) / 3);
    }
  } else {
    // One period of a note with eight harmonics, read at each voice's pitch.
    std::vector<double> wave(4096);
    for (std::size_t k = 0; k < wave.size(); ++k)
      for (int h = 1; h <= 8; ++h)
        wave[k] += std::sin(2 * std::numbers::pi * h * static_cast<double>(k) / 4096.0) / h;
    struct Voice {
      double step = 0, phase = 0, amp = 0, decay = 1;
    };
    std::vector<Voice> voices(6);
    const double scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    double drum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (i % 5512 == 0) {  // an eighth note at 120 beats per minute
        Voice& v = voices[random.Next() % voices.size()];
        const double freq =
            110.0 * std::pow(2.0, (scale[random.Next() % 8] + 12 * (random.Next() % 4)) / 12);
        v.step = freq / kRate * 4096.0;
        v.amp = 3000 + 3000 * uniform();
        v.decay = std::exp(-1.0 / (kRate * (0.1 + 0.5 * uniform())));
        if (random.Next() % 2 == 0) drum = 8000;
      }
      double s = drum * gauss();
      drum *= 0.9995;
      for (Voice& v : voices) {
        if (v.amp < 1) continue;
        v.phase = std::fmod(v.phase + v.step, 4096.0);
        s += v.amp * wave[static_cast<std::size_t>(v.phase)];
        v.amp *= v.decay;
      }
      out[i] = Clip(s);
    }
  }
  return out;
}

void PrintCounts(const Result& r, int sent) {
  std::printf("%d %d %d %d %d\n", sent, r.seed.decoded, r.seed.falseFrames, r.robust.decoded,
              r.robust.falseFrames);
}

int Usage() {
  std::fputs(
      "usage: bench_demodulator_conditions count RAW.s16 SAMPLE_RATE SLOT_RATE SECONDS\n"
      "       bench_demodulator_conditions noise white|pink|music SECONDS\n"
      "       bench_demodulator_conditions snr SECONDS\n"
      "       bench_demodulator_conditions speed\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 5 && args[0] == "count") {
    std::ifstream in(args[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot be read\n", args[1].c_str());
      return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::int16_t> audio(bytes.size() / 2);
    std::memcpy(audio.data(), bytes.data(), audio.size() * 2);
    const double seconds = std::stod(args[4]);
    PrintCounts(
        Decode(audio, static_cast<std::uint32_t>(std::stoul(args[2])), std::stoi(args[3]), seconds),
        SentCount(seconds));
    return 0;
  }
  if (args.size() == 3 && args[0] == "noise") {
    const Result r = Decode(Noise(args[1], std::stod(args[2])), 44100, 4777, 0);
    std::printf("%d %d %d\n", r.seed.falseFrames + r.seed.decoded,
                r.robust.falseFrames + r.robust.decoded, r.robustLost);
    return 0;
  }
  if (args.size() == 2 && args[0] == "snr") {
    const double seconds = std::stod(args[1]);
    const int sent = SentCount(seconds);
    std::printf("| SNR (dB) | seed | robust | robust false frames |\n|---|---|---|---|\n");
    for (int db = 0; db <= 15; ++db) {
      const Result r = Decode(Flight(seconds, 44100, db, static_cast<std::uint64_t>(db) + 1), 44100,
                              4777, seconds);
      std::printf("| %d | %.1f %% | %.1f %% | %d |\n", db, 100.0 * r.seed.decoded / sent,
                  100.0 * r.robust.decoded / sent, r.robust.falseFrames);
    }
    return 0;
  }
  if (args.size() == 1 && args[0] == "speed") {
    const auto audio = Flight(60, 48000, std::nullopt);
    Tally t = SentFrames(60);
    const auto time = [&](auto&& run) {
      double best = 1e9;
      // Processor time of this thread: the machine may be busy with others.
      for (int i = 0; i < 5; ++i) {
        const double start = ThreadSeconds();
        run();
        best = std::min(best, ThreadSeconds() - start);
      }
      return static_cast<double>(audio.size()) / best / 1e6;
    };
    const double seed = time([&] {
      SeedCounter e(t);
      e.SetSampleRate(48000);
      e.ProcessSamples(audio.data(), audio.size());
    });
    const double robust = time([&] {
      RobustCounter c(t);
      c.demodulator.SetSampleRate(48000);
      c.demodulator.ProcessSamples(audio.data(), audio.size());
    });
    std::printf("seed: %.0f M samples/s, robust: %.0f M samples/s (one core, 48000 Hz)\n", seed,
                robust);
    return 0;
  }
  return Usage();
}

// quorvex-decode as a pilot runs it: the real binary on files made by the
// generator and GStreamer's own encoders, checked against what the generator
// sent and against the decoder core fed the same samples directly.

#include <gtest/gtest.h>
#include <json-glib/json-glib.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/history_csv.h"
#include "common/telemetry_snapshot.h"
#include "tests/common/scratch_folder.h"
#include "tests/fakes/scripted_decoder.h"
#include "tests/tools/run_process.h"
#include "tools/simulated_aircraft/frame_builder.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace simulated_aircraft;

// A flight as it went into the audio.
struct Recording {
  std::vector<FlightFrame> flight;
  SignalOptions options;
  std::vector<std::int16_t> samples;

  int Channels() const { return options.layout == ChannelLayout::kMono ? 1 : 2; }
  int Frames() const { return static_cast<int>(flight.size()); }
  const PositionRecord& LastPosition() const {
    for (auto it = flight.rbegin(); it != flight.rend(); ++it) {
      if (const auto* p = std::get_if<PositionRecord>(&it->record)) return *p;
    }
    throw std::logic_error("a flight without positions");
  }
};

// Telemetry on the right channel with a tone on the left unless told
// otherwise: the other channel must never leak into the decode.
Recording Record(double seconds, ChannelLayout layout = ChannelLayout::kStereoRight,
                 std::int32_t slotRate = 4777, std::uint32_t sampleRate = 44100) {
  Recording r;
  r.flight = SyntheticFlight(seconds);
  r.options.link.sampleRate = sampleRate;
  r.options.link.slotRate = slotRate;
  r.options.layout = layout;
  r.options.other = OtherChannel::kTone;
  // Lossy codecs trim a few milliseconds at the end (AAC) or shift the
  // audio by their delay (WMA); idle line after the last frame keeps that
  // from costing a frame, as it never would in a real recording.
  r.options.minSeconds = seconds + 1.0;
  r.samples = RenderSignal(r.flight, r.options);
  return r;
}

// Everything IQuorvex tells after a decode, printed with enough digits that
// equal text means equal 32-bit values.
struct FinalState : TelemetrySnapshot {
  int records = 0;

  std::string Text() const {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "packets %d/%d records %d\nposition %d %.9g %.9g %.9g %.9g %.9g %.9g %.9g %d\n"
                  "launch %.9g %.9g %.9g\nuplink %d %d %d %d %d %d %d %d channels %d %d %d %d "
                  "%d %d %d %d\nbattery %d %d %d\n",
                  goodPackets, badPackets, records, timeMs, longitude, latitude, altitude,
                  altitudeAboveLaunch, heading, distance, distanceTravelled, numSats,
                  launchLongitude, launchLatitude, launchAltitude, rssiValue1, rssiValue2,
                  linkQuality, nFailsafes, freqError, iCurrentBin, nGoodPacketsThisBin,
                  nBadPacketsThisBin, channels[0], channels[1], channels[2], channels[3],
                  channels[4], channels[5], channels[6], channels[7], voltage, capacityUsed,
                  current);
    return text;
  }
};

FinalState ReadState(IQuorvex& d) {
  FinalState s;
  static_cast<TelemetrySnapshot&>(s) = ReadTelemetrySnapshot(d);
  d.GetRecordCount(&s.records);
  return s;
}

struct JsonDocument {
  explicit JsonDocument(const std::string& text) : parser(json_parser_new()) {
    GError* error = nullptr;
    if (!json_parser_load_from_data(parser, text.c_str(), -1, &error)) {
      ADD_FAILURE() << "not JSON: " << error->message << "\n" << text;
      g_error_free(error);
    }
  }
  ~JsonDocument() { g_object_unref(parser); }
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;

  JsonObject* Root() const {
    JsonNode* root = json_parser_get_root(parser);
    return root && JSON_NODE_HOLDS_OBJECT(root) ? json_node_get_object(root) : nullptr;
  }

  JsonParser* parser;
};

std::vector<std::string> Keys(JsonObject* object) {
  std::vector<std::string> keys;
  GList* members = json_object_get_members(object);
  for (GList* m = members; m; m = m->next) keys.emplace_back(static_cast<const char*>(m->data));
  g_list_free(members);
  return keys;
}

FinalState ParseState(const std::string& json) {
  FinalState s;
  JsonDocument doc(json);
  JsonObject* root = doc.Root();
  if (!root) {
    ADD_FAILURE() << "no JSON object in: " << json;
    return s;
  }
  auto i = [](JsonObject* o, const char* k) {
    return static_cast<int>(json_object_get_int_member(o, k));
  };
  auto f = [](JsonObject* o, const char* k) {
    return static_cast<float>(json_object_get_double_member(o, k));
  };
  s.goodPackets = i(root, "goodPackets");
  s.badPackets = i(root, "badPackets");
  s.records = i(root, "recordCount");
  JsonObject* p = json_object_get_object_member(root, "position");
  s.timeMs = i(p, "timeMs");
  s.longitude = f(p, "longitude");
  s.latitude = f(p, "latitude");
  s.altitude = f(p, "altitude");
  s.altitudeAboveLaunch = f(p, "altitudeAboveLaunch");
  s.heading = f(p, "heading");
  s.distance = f(p, "distance");
  s.distanceTravelled = f(p, "distanceTravelled");
  s.numSats = i(p, "numSats");
  JsonObject* l = json_object_get_object_member(root, "launchSite");
  s.launchLongitude = f(l, "longitude");
  s.launchLatitude = f(l, "latitude");
  s.launchAltitude = f(l, "altitude");
  JsonObject* u = json_object_get_object_member(root, "uplink");
  const char* uplinkKeys[] = {"rssiValue1",          "rssiValue2",        "linkQuality",
                              "nFailsafes",          "freqError",         "iCurrentBin",
                              "nGoodPacketsThisBin", "nBadPacketsThisBin"};
  constexpr std::int32_t TelemetrySnapshot::*kUplinkFields[] = {
      &TelemetrySnapshot::rssiValue1,          &TelemetrySnapshot::rssiValue2,
      &TelemetrySnapshot::linkQuality,         &TelemetrySnapshot::nFailsafes,
      &TelemetrySnapshot::freqError,           &TelemetrySnapshot::iCurrentBin,
      &TelemetrySnapshot::nGoodPacketsThisBin, &TelemetrySnapshot::nBadPacketsThisBin};
  for (int k = 0; k < 8; ++k) s.*kUplinkFields[k] = i(u, uplinkKeys[k]);
  JsonArray* channels = json_object_get_array_member(u, "channels");
  EXPECT_EQ(json_array_get_length(channels), 8u);
  for (guint k = 0; k < std::min(json_array_get_length(channels), 8u); ++k) {
    s.channels[k] = static_cast<int>(json_array_get_int_element(channels, k));
  }
  JsonObject* b = json_object_get_object_member(root, "battery");
  s.voltage = i(b, "voltage");
  s.capacityUsed = i(b, "capacityUsed");
  s.current = i(b, "current");
  return s;
}

// The decoder core fed the samples straight, as the filter feeds it.
class Reference {
 public:
  Reference(const Recording& r, int channel = 1, const std::optional<fs::path>& nmea = std::nullopt)
      : decoder_(nmea, r.options.link.sampleRate) {
    decoder_.SetBitRate(r.options.link.slotRate);
    decoder_.SetAudioChannel(channel);
    std::vector<std::int16_t> out(r.samples.size());
    decoder_.ProcessBuffer(r.samples.data(), out.data(), r.samples.size(), r.Channels());
  }
  IQuorvex& Control() { return decoder_; }

 private:
  ScriptedDecoder decoder_;
};

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class DecodeTool : public testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("VISTARO_COMPONENT_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
  }

  fs::path WriteWav(const std::string& name, const Recording& r) {
    const fs::path path = folder_ / name;
    simulated_aircraft::WriteWav(
        path, {static_cast<std::uint16_t>(r.Channels()), r.options.link.sampleRate}, r.samples);
    return path;
  }

  // Runs a gst-launch-1.0 description in which SOURCE stands for the WAV.
  fs::path Transcode(const fs::path& wav, const std::string& name, const std::string& pipeline) {
    const fs::path out = folder_ / name;
    std::vector<std::string> args = {"gst-launch-1.0", "-q"};
    std::string description = pipeline;
    const std::string source = "filesrc location=" + wav.string() + " ! wavparse ! audioconvert";
    description.replace(description.find("SOURCE"), 6, source);
    description += " ! filesink location=" + out.string();
    for (std::size_t start = 0;;) {
      const auto space = description.find(' ', start);
      args.push_back(description.substr(start, space - start));
      if (space == std::string::npos) break;
      start = space + 1;
    }
    const ProcessResult made = RunProcess(args, std::chrono::seconds(120));
    EXPECT_EQ(made.exitCode, 0) << pipeline << "\n" << made.err << made.out;
    return out;
  }

  ProcessResult Decode(std::vector<std::string> args, bool withLibrary = true,
                       const char* input = "/dev/null") {
    args.insert(args.begin(), QUORVEX_DECODE_PATH);
    if (withLibrary) args.insert(args.begin() + 1, {"--library", QUORVEX_LIBRARY_PATH});
    ProcessResult result = RunProcess(args, std::chrono::seconds(60), input);
    EXPECT_FALSE(result.timedOut) << "quorvex-decode hung";
    EXPECT_EQ(result.signal, 0) << "quorvex-decode crashed:\n" << result.err;
    return result;
  }

  // A run that fails gives its status and one line naming the trouble.
  void ExpectFailure(const ProcessResult& result, int status, const std::string& words) {
    EXPECT_EQ(result.exitCode, status) << result.err;
    EXPECT_NE(result.err.find(words), std::string::npos) << result.err;
    EXPECT_EQ(CountLines(result.err), 1) << result.err;
    EXPECT_EQ(result.err.rfind("quorvex-decode: ", 0), 0u) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }

  ScratchFolder folder_;
};

// Lossless files give the very samples the generator wrote, so the tool's
// whole state and history export must equal those of the decoder core fed
// directly, and every frame that was sent must be there.
struct MediaCase {
  const char* name;
  const char* file;
  const char* pipeline;  // empty: the WAV itself
};

void PrintTo(const MediaCase& c, std::ostream* os) { *os << c.name; }

class LosslessRoundTrip : public DecodeTool, public testing::WithParamInterface<MediaCase> {};

TEST_P(LosslessRoundTrip, StateAndHistoryMatchTheSamplesExactly) {
  const Recording recording = Record(20);
  const fs::path wav = WriteWav("flight.wav", recording);
  const fs::path media =
      *GetParam().pipeline ? Transcode(wav, GetParam().file, GetParam().pipeline) : wav;
  const ProcessResult run =
      Decode({"--json", "--csv", (folder_ / "history.csv").string(), media.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");

  Reference reference(recording);
  const FinalState decoded = ParseState(run.out);
  EXPECT_EQ(decoded.Text(), ReadState(reference.Control()).Text());
  EXPECT_EQ(ReadFile(folder_ / "history.csv"), history_csv::Build(reference.Control()));

  EXPECT_EQ(decoded.goodPackets, recording.Frames());
  EXPECT_EQ(decoded.badPackets, 0);
  EXPECT_EQ(decoded.records, recording.Frames());
  const PositionRecord& last = recording.LastPosition();
  EXPECT_EQ(decoded.timeMs, last.timeMs);
  EXPECT_EQ(decoded.latitude, static_cast<float>(last.latitude / 600000.0));
  EXPECT_EQ(decoded.longitude, static_cast<float>(last.longitude / 600000.0));
  EXPECT_EQ(decoded.altitude, static_cast<float>(last.altitude / 100.0));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LosslessRoundTrip,
    testing::Values(MediaCase{"Wav", "flight.wav", ""},
                    MediaCase{"Flac", "flight.flac", "SOURCE ! flacenc"},
                    MediaCase{"MkvWithH264VideoAndFlacAudio", "flight.mkv",
                              "SOURCE ! flacenc ! queue ! mux. videotestsrc num-buffers=100 ! "
                              "video/x-raw,width=160,height=120,framerate=5/1 ! x264enc "
                              "speed-preset=ultrafast ! queue ! matroskamux name=mux"}),
    [](const auto& info) { return std::string(info.param.name); });

// Lossy codecs at bitrates where every frame survives (the measurements of
// every codec and rate are in the README). A frame lost here means the tool
// dropped audio or fed it at the wrong rate, channel or sample format.
class LossyRoundTrip : public DecodeTool, public testing::WithParamInterface<MediaCase> {};

TEST_P(LossyRoundTrip, EveryFrameSurvivesATypicalBitrate) {
  const Recording recording = Record(20);
  const fs::path media =
      Transcode(WriteWav("flight.wav", recording), GetParam().file, GetParam().pipeline);
  const ProcessResult run = Decode({"--json", media.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const FinalState decoded = ParseState(run.out);
  EXPECT_EQ(decoded.goodPackets, recording.Frames());
  EXPECT_EQ(decoded.badPackets, 0);
  EXPECT_EQ(decoded.records, recording.Frames());
}

// Short video tracks keep the slow encoders quick; the audio runs on alone.
INSTANTIATE_TEST_SUITE_P(
    Codecs, LossyRoundTrip,
    testing::Values(
        MediaCase{"MkvWithH264AndVorbis", "flight.mkv",
                  "SOURCE ! vorbisenc ! queue ! mux. videotestsrc num-buffers=50 ! "
                  "video/x-raw,width=160,height=120,framerate=5/1 ! x264enc "
                  "speed-preset=ultrafast ! queue ! matroskamux name=mux"},
        MediaCase{"MkvWithVp8AndVorbis", "flight.webm",
                  "SOURCE ! vorbisenc ! queue ! mux. videotestsrc num-buffers=20 ! "
                  "video/x-raw,width=160,height=120,framerate=5/1 ! vp8enc deadline=1 ! "
                  "queue ! matroskamux name=mux"},
        MediaCase{"OggVorbis", "flight.ogg", "SOURCE ! vorbisenc ! oggmux"},
        MediaCase{"Mp4Aac128k", "flight.m4a", "SOURCE ! voaacenc bitrate=128000 ! mp4mux"},
        MediaCase{"WmvWithWma128k", "flight.wmv",
                  "SOURCE ! avenc_wmav2 bitrate=128000 ! queue ! mux. videotestsrc "
                  "num-buffers=20 ! video/x-raw,width=160,height=120,framerate=5/1 ! "
                  "avenc_wmv2 ! queue ! asfmux name=mux streamable=true"},
        MediaCase{"MpgWithMp2At192k", "flight.mpg",
                  "SOURCE ! twolamemp2enc bitrate=192 ! queue ! mux. videotestsrc "
                  "num-buffers=25 ! video/x-raw,width=176,height=144,framerate=25/1 ! "
                  "mpeg2enc ! queue ! avmux_mpeg name=mux"},
        MediaCase{"Mp3At192k", "flight.mp3",
                  "SOURCE ! lamemp3enc target=bitrate cbr=true bitrate=192 ! id3v2mux"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecodeTool, ReadsOnlyTheChosenChannel) {
  const Recording recording = Record(6, ChannelLayout::kStereoLeft);
  const fs::path wav = WriteWav("left.wav", recording);

  const FinalState left = ParseState(Decode({"--channel", "left", "--json", wav.string()}).out);
  EXPECT_EQ(left.goodPackets, recording.Frames());
  // The right channel carries only a tone.
  const FinalState right = ParseState(Decode({"--json", wav.string()}).out);
  EXPECT_EQ(right.goodPackets, 0);
}

TEST_F(DecodeTool, DecodesAtTheChosenRateOnly) {
  const Recording recording = Record(6, ChannelLayout::kMono, 9554, 48000);
  const fs::path wav = WriteWav("fast.wav", recording);
  EXPECT_EQ(ParseState(Decode({"--rate", "fast", "--json", wav.string()}).out).goodPackets,
            recording.Frames());
  EXPECT_EQ(ParseState(Decode({"--json", wav.string()}).out).goodPackets, 0);
}

TEST_F(DecodeTool, TheRobustDemodulatorFollowsAnOffRateTransmitter) {
  Recording recording = Record(6);
  recording.options.link.clockErrorPercent = 1;
  recording.samples = RenderSignal(recording.flight, recording.options);
  const fs::path wav = WriteWav("fast-clock.wav", recording);
  EXPECT_EQ(ParseState(Decode({"--demodulator", "robust", "--json", wav.string()}).out).goodPackets,
            recording.Frames());
  EXPECT_EQ(ParseState(Decode({"--json", wav.string()}).out).goodPackets, 0);
}

TEST_F(DecodeTool, EightBitAudioIsConvertedAndDecoded) {
  const Recording recording = Record(6, ChannelLayout::kMono);
  const fs::path media = Transcode(WriteWav("flight.wav", recording), "u8.wav",
                                   "SOURCE ! audio/x-raw,format=U8 ! wavenc");
  const ProcessResult run = Decode({"--json", media.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FinalState decoded = ParseState(run.out);
  EXPECT_EQ(decoded.goodPackets, recording.Frames());
  EXPECT_EQ(decoded.badPackets, 0);
}

// The launch site is applied before anything is written, so every export
// measures from it.
TEST_F(DecodeTool, LaunchSiteAppliesToJsonCsvAndKml) {
  const Recording recording = Record(10);
  const fs::path wav = WriteWav("flight.wav", recording);
  const ProcessResult run =
      Decode({"--launch", "7.15,46.81,500.5", "--json", "--csv", (folder_ / "h.csv").string(),
              "--kml", (folder_ / "t.kml").string(), wav.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;

  Reference reference(recording);
  reference.Control().SetLaunchSite(7.15f, 46.81f, 500.5f);
  const FinalState decoded = ParseState(run.out);
  EXPECT_EQ(decoded.Text(), ReadState(reference.Control()).Text());
  EXPECT_EQ(decoded.launchAltitude, 500.5f);
  EXPECT_EQ(ReadFile(folder_ / "h.csv"), history_csv::Build(reference.Control()));

  const ComBstr kml(std::string_view((folder_ / "expected.kml").string()));
  ASSERT_EQ(reference.Control().WriteTrackKml(kml.Get()), S_OK);
  EXPECT_EQ(ReadFile(folder_ / "t.kml"), ReadFile(folder_ / "expected.kml"));
}

TEST_F(DecodeTool, NmeaGoesToTheNamedFile) {
  const Recording recording = Record(6);
  const fs::path wav = WriteWav("flight.wav", recording);
  ASSERT_EQ(Decode({"--nmea", (folder_ / "out.nmea").string(), wav.string()}).exitCode, 0);
  { Reference reference(recording, 1, folder_ / "expected.nmea"); }
  const std::string nmea = ReadFile(folder_ / "out.nmea");
  EXPECT_NE(nmea.find("$GP"), std::string::npos) << nmea;
  EXPECT_EQ(nmea, ReadFile(folder_ / "expected.nmea"));
}

// True when `tool` is on PATH. Outside CI a missing consumer only skips.
bool Have(const char* tool) {
  return RunProcess({"sh", "-c", std::string("command -v ") + tool}).exitCode == 0;
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, separator);) fields.push_back(f);
  return fields;
}

// What real consumers make of the sentences: a converter keeps every fix at
// a time of its own, and gpsd reports the speed and track the RMC carries.
TEST_F(DecodeTool, NmeaReadsInGpsbabelAndGpsd) {
  if (!Have("gpsbabel") || !Have("gpsfake")) {
    const char* ci = std::getenv("CI");
    if (ci && std::string(ci) == "true") FAIL() << "gpsbabel and gpsfake are needed in CI";
    GTEST_SKIP() << "gpsbabel or gpsfake (gpsd-clients) is not installed";
  }
  // The container's date dates the fixes (the flight's clock reads 10:15).
  const fs::path flac =
      Transcode(WriteWav("flight.wav", Record(20)), "flight.flac",
                "SOURCE ! taginject tags=datetime=(datetime)2019-05-04T12:00:00Z ! flacenc");
  const fs::path nmea = folder_ / "flight.nmea";
  ASSERT_EQ(Decode({"--nmea", nmea.string(), flac.string()}).exitCode, 0);
  std::vector<std::vector<std::string>> rmc;
  for (const std::string& line : Split(ReadFile(nmea), '\n'))
    if (line.rfind("$GPRMC,", 0) == 0) rmc.push_back(Split(line, ','));
  ASSERT_GT(rmc.size(), 2u);
  EXPECT_EQ(rmc[0][9], "040519");

  const fs::path gpx = folder_ / "flight.gpx";
  const ProcessResult converted =
      RunProcess({"gpsbabel", "-i", "nmea", "-f", nmea.string(), "-o", "gpx", "-F", gpx.string()});
  ASSERT_EQ(converted.exitCode, 0) << converted.err;
  const std::string track = ReadFile(gpx);
  std::set<std::string> times;
  std::size_t points = 0;
  for (auto at = track.find("<trkpt"); at != std::string::npos; at = track.find("<trkpt", at + 1)) {
    ++points;
    const auto time = track.find("<time>", at);
    times.insert(track.substr(time, track.find("</time>", time) - time));
  }
  EXPECT_EQ(points, rmc.size());
  EXPECT_EQ(times.size(), rmc.size()) << "fixes that share a time are dropped by consumers";

  // gpsd on a pseudo-terminal of its own, which gpsfake stops at the end.
  // gpsfake connects as soon as gpsd's control socket exists, which on a busy
  // machine can be before gpsd listens on its port: that race is gpsfake's,
  // so a refused connection is tried again.
  ProcessResult gpsd = RunProcess({"gpsfake", "-1", "-p", "-q", nmea.string()});
  for (int retry = 0;
       retry < 3 && gpsd.exitCode != 0 && gpsd.err.find("Connection refused") != std::string::npos;
       ++retry)
    gpsd = RunProcess({"gpsfake", "-1", "-p", "-q", nmea.string()});
  ASSERT_EQ(gpsd.exitCode, 0) << gpsd.err;
  const auto fastest = std::max_element(rmc.begin(), rmc.end(), [](const auto& a, const auto& b) {
    return std::atof(a[7].c_str()) < std::atof(b[7].c_str());
  });
  const double knots = std::atof((*fastest)[7].c_str());
  ASSERT_GT(knots, 1.0);
  double reportedSpeed = -1, reportedTrack = -1;
  std::string reportedDay;
  for (const std::string& line : Split(gpsd.out, '\n')) {
    if (line.find("\"class\":\"TPV\"") == std::string::npos) continue;
    JsonDocument doc(line);
    JsonObject* tpv = doc.Root();
    if (!tpv || !json_object_has_member(tpv, "speed") || !json_object_has_member(tpv, "track"))
      continue;
    if (json_object_get_double_member(tpv, "speed") > reportedSpeed) {
      reportedSpeed = json_object_get_double_member(tpv, "speed");
      reportedTrack = json_object_get_double_member(tpv, "track");
      reportedDay = std::string(json_object_get_string_member(tpv, "time")).substr(0, 10);
    }
  }
  EXPECT_NEAR(reportedSpeed, knots * 1852.0 / 3600.0, 0.01) << gpsd.out;
  EXPECT_NEAR(reportedTrack, std::atof((*fastest)[8].c_str()), 0.05);
  EXPECT_EQ(reportedDay, "2019-05-04");
}

TEST_F(DecodeTool, SummaryNamesTheFileAndTheCounts) {
  const Recording recording = Record(4);
  const fs::path wav = WriteWav("flight.wav", recording);
  const ProcessResult run = Decode({wav.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find(wav.string() + ": " + std::to_string(recording.Frames()) +
                         " frames decoded, 0 bad"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.err, "") << "no progress bar unless stderr is a terminal";
}

TEST_F(DecodeTool, JsonHasExactlyTheDocumentedKeys) {
  const fs::path wav = WriteWav("flight.wav", Record(2));
  const ProcessResult run = Decode({"--json", wav.string()});
  JsonDocument doc(run.out);
  JsonObject* root = doc.Root();
  ASSERT_NE(root, nullptr);
  using Names = std::vector<std::string>;
  EXPECT_EQ(Keys(root), (Names{"goodPackets", "badPackets", "recordCount", "position", "launchSite",
                               "uplink", "battery"}));
  EXPECT_EQ(Keys(json_object_get_object_member(root, "position")),
            (Names{"timeMs", "longitude", "latitude", "altitude", "altitudeAboveLaunch", "heading",
                   "distance", "distanceTravelled", "numSats"}));
  EXPECT_EQ(Keys(json_object_get_object_member(root, "launchSite")),
            (Names{"longitude", "latitude", "altitude"}));
  EXPECT_EQ(Keys(json_object_get_object_member(root, "uplink")),
            (Names{"rssiValue1", "rssiValue2", "linkQuality", "nFailsafes", "freqError",
                   "iCurrentBin", "nGoodPacketsThisBin", "nBadPacketsThisBin", "channels"}));
  EXPECT_EQ(Keys(json_object_get_object_member(root, "battery")),
            (Names{"voltage", "capacityUsed", "current"}));
}

TEST_F(DecodeTool, RealtimeTakesAsLongAsTheRecording) {
  const Recording recording = Record(2);
  const fs::path wav = WriteWav("flight.wav", recording);
  const auto length =
      std::chrono::duration<double>(static_cast<double>(recording.samples.size()) /
                                    recording.Channels() / recording.options.link.sampleRate);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Decode({"--realtime", wav.string()}).exitCode, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, length * 0.95);
}

// Registered the way an installer does it, the decoder is found by class;
// once unregistered, the tool says so instead of failing obscurely.
TEST_F(DecodeTool, FindsTheRegisteredDecoderUntilItIsUnregistered) {
  const fs::path wav = WriteWav("flight.wav", Record(4));
  const ProcessResult before = Decode({wav.string()}, false);
  ExpectFailure(before, 1, "not registered");

  ASSERT_EQ(RunProcess({REGSVR_PATH, QUORVEX_LIBRARY_PATH}).exitCode, 0);
  const ProcessResult registered = Decode({"--json", wav.string()}, false);
  ASSERT_EQ(registered.exitCode, 0) << registered.err;
  EXPECT_GT(ParseState(registered.out).goodPackets, 0);

  ASSERT_EQ(RunProcess({REGSVR_PATH, "-u", QUORVEX_LIBRARY_PATH}).exitCode, 0);
  ExpectFailure(Decode({wav.string()}, false), 1, "not registered");
}

class BadInput : public DecodeTool {};

// Each failure to reach the decoder names the thing at fault and why: the
// registered library with the loader's words, the registry file itself.
TEST_F(BadInput, UnusableLibraryOrRegistryIsNamed) {
  const fs::path wav = WriteWav("flight.wav", Record(1));
  ASSERT_EQ(RunProcess({REGSVR_PATH, QUORVEX_LIBRARY_PATH}).exitCode, 0);
  const fs::path registry = folder_ / "config" / "Aviquent" / "components.ini";
  std::string text = ReadFile(registry);
  text.replace(text.find(QUORVEX_LIBRARY_PATH), std::string(QUORVEX_LIBRARY_PATH).size(),
               "/nonexistent/libquorvex.so");
  std::ofstream(registry) << text;
  ExpectFailure(Decode({wav.string()}, false), 1,
                "cannot create the registered Quorvex decoder (hr=0x80004005): library "
                "/nonexistent/libquorvex.so: /nonexistent/libquorvex.so: cannot open shared "
                "object file: No such file or directory");

  fs::remove(registry);
  ASSERT_EQ(::mkfifo(registry.c_str(), 0600), 0);
  const ProcessResult refused = RunProcess({REGSVR_PATH, QUORVEX_LIBRARY_PATH});
  EXPECT_EQ(refused.exitCode, 5);
  EXPECT_NE(refused.err.find(registry.string() + ": is not a regular file"), std::string::npos)
      << refused.err;
  ExpectFailure(
      Decode({wav.string()}, false), 1,
      "the component registry cannot be used: " + registry.string() + ": is not a regular file");
}

TEST_F(BadInput, MissingFolderAndEmptyFilesAreNotMedia) {
  ExpectFailure(Decode({(folder_ / "nowhere.mkv").string()}), 3, "no such file");
  ExpectFailure(Decode({folder_.path().string()}), 3, "folder");
  std::ofstream(folder_ / "empty.wav").close();
  ExpectFailure(Decode({(folder_ / "empty.wav").string()}), 3, "empty");
  std::ofstream(folder_ / "notes.mkv") << "Flight 12: windy, landed long.\n";
  ExpectFailure(Decode({(folder_ / "notes.mkv").string()}), 3, "not a media file");
}

TEST_F(BadInput, VideoOnlyFileHasNoAudio) {
  const ProcessResult made =
      RunProcess({"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=10", "!",
                  "video/x-raw,width=160,height=120", "!", "x264enc", "!", "matroskamux", "!",
                  "filesink", "location=" + (folder_ / "video.mkv").string()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  ExpectFailure(Decode({(folder_ / "video.mkv").string()}), 4, "no audio stream");
}

// A recording cut short (a flat battery in the recorder) still holds most
// of the flight: decode it, and say that the end is missing.
TEST_F(BadInput, TruncatedFilesDecodeWhatIsThereAndSaySo) {
  const Recording recording = Record(20);
  const fs::path wav = WriteWav("flight.wav", recording);
  const fs::path mkv = Transcode(wav, "flight.mkv",
                                 "SOURCE ! vorbisenc ! queue ! mux. videotestsrc num-buffers=20 ! "
                                 "video/x-raw,width=160,height=120,framerate=1/1 ! x264enc "
                                 "speed-preset=ultrafast ! queue ! matroskamux name=mux");
  for (const fs::path& full : {wav, mkv}) {
    SCOPED_TRACE(full.string());
    const fs::path cut = folder_ / ("cut-" + full.filename().string());
    fs::copy_file(full, cut);
    fs::resize_file(cut, fs::file_size(full) / 2);
    const ProcessResult run = Decode({"--json", cut.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("ended early"), std::string::npos) << run.err;
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    const FinalState decoded = ParseState(run.out);
    EXPECT_GT(decoded.goodPackets, recording.Frames() / 3);
    EXPECT_LT(decoded.goodPackets, recording.Frames());
  }
}

TEST_F(BadInput, FullLengthFilesDoNotClaimToEndEarly) {
  const fs::path wav = WriteWav("flight.wav", Record(6));
  const fs::path ogg = Transcode(wav, "flight.ogg", "SOURCE ! vorbisenc ! oggmux");
  for (const fs::path& media : {wav, ogg}) {
    const ProcessResult run = Decode({media.string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "") << media;
  }
}

TEST_F(BadInput, AudioTheDecoderRefusesGivesStatusFive) {
  const fs::path wav = WriteWav("flight.wav", Record(2));
  ExpectFailure(Decode({"--library", REFUSING_LIBRARY_PATH, wav.string()}, false), 5,
                "does not accept its audio (2 channels at 44100 Hz, S16LE)");
}

// As root every folder is writable, so the unwritable paths are ones that
// no user can create.
TEST_F(BadInput, UnwritableOutputsFailWithStatusSix) {
  const fs::path wav = WriteWav("flight.wav", Record(2));
  const std::string inMissingFolder = (folder_ / "missing" / "out").string();
  const std::string underAFile = (wav / "out").string();
  ExpectFailure(Decode({"--csv", inMissingFolder, wav.string()}), 6, "--csv");
  ExpectFailure(Decode({"--kml", underAFile, wav.string()}), 6, "--kml");
  ExpectFailure(Decode({"--nmea", folder_.path().string(), wav.string()}), 6, "--nmea");

  // Found only when the history is written: the rest of the run still
  // reports, and the status says an output is missing.
  const ProcessResult late = Decode({"--csv", "/proc/quorvex-history.csv", wav.string()});
  EXPECT_EQ(late.exitCode, 6);
  EXPECT_NE(late.err.find("--csv /proc/quorvex-history.csv: cannot be written"), std::string::npos)
      << late.err;
  EXPECT_NE(late.out.find("frames decoded"), std::string::npos);
}

// Checked before anything is opened for writing: an output that is the
// recording (by any name) or another output of the same run is refused, and
// the recording stays as it was.
TEST_F(BadInput, OutputsNeverOverwriteTheRecordingOrEachOther) {
  const fs::path wav = WriteWav("flight.wav", Record(2));
  const std::string original = ReadFile(wav);
  fs::create_symlink(wav, folder_ / "link.wav");
  fs::create_hard_link(wav, folder_ / "hard.wav");
  ExpectFailure(Decode({"--nmea", wav.string(), wav.string()}), 6, "is the recording");
  ExpectFailure(Decode({"--csv", (folder_ / "link.wav").string(), wav.string()}), 6,
                "is the recording");
  ExpectFailure(Decode({"--kml", (folder_ / "hard.wav").string(), wav.string()}), 6,
                "is the recording");
  EXPECT_EQ(ReadFile(wav), original);

  const std::string out = (folder_ / "out").string();
  ExpectFailure(Decode({"--csv", out, "--kml", out, wav.string()}), 6, "same file as --csv");
  std::ofstream(folder_ / "old.nmea") << "kept";
  fs::create_symlink("old.nmea", folder_ / "nmea.link");
  ExpectFailure(Decode({"--kml", (folder_ / "old.nmea").string(), "--nmea",
                        (folder_ / "nmea.link").string(), wav.string()}),
                6, "same file as --kml");
  EXPECT_EQ(ReadFile(folder_ / "old.nmea"), "kept");
  EXPECT_FALSE(fs::exists(out));

  // A run that fails before its first fix leaves an existing file as it was.
  std::ofstream(folder_ / "notes.mkv") << "Flight 12: windy, landed long.\n";
  ExpectFailure(
      Decode({"--nmea", (folder_ / "old.nmea").string(), (folder_ / "notes.mkv").string()}), 3,
      "not a media file");
  EXPECT_EQ(ReadFile(folder_ / "old.nmea"), "kept");
}

// Every output follows a symbolic link to its file and leaves the link; a
// device is written in place; a full device fails with the system's reason;
// a link into a missing folder fails before anything is created.
TEST_F(BadInput, OutputsFollowLinksAndWriteDevicesInPlace) {
  const fs::path wav = WriteWav("flight.wav", Record(2));
  fs::create_directory(folder_ / "real");
  for (const char* name : {"out.csv", "out.kml", "out.nmea"}) {
    fs::create_symlink(fs::path("real") / name, folder_ / name);
  }
  const ProcessResult run =
      Decode({"--csv", (folder_ / "out.csv").string(), "--kml", (folder_ / "out.kml").string(),
              "--nmea", (folder_ / "out.nmea").string(), wav.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* name : {"out.csv", "out.kml", "out.nmea"}) {
    EXPECT_TRUE(fs::is_symlink(folder_ / name)) << name;
    EXPECT_GT(fs::file_size(folder_ / "real" / name), 100u) << name;
  }
  EXPECT_NE(ReadFile(folder_ / "real" / "out.nmea").find("$GP"), std::string::npos);

  // Through links, so that a build without the mend replaces the links
  // rather than the system's devices.
  fs::create_symlink("/dev/null", folder_ / "null");
  fs::create_symlink("/dev/full", folder_ / "full");
  const std::string null = (folder_ / "null").string(), full = (folder_ / "full").string();
  EXPECT_EQ(Decode({"--csv", null, "--kml", null, "--nmea", null, wav.string()}).exitCode, 0);
  EXPECT_TRUE(fs::is_symlink(null));
  for (const char* option : {"--csv", "--kml", "--nmea"}) {
    const ProcessResult failed = Decode({option, full, wav.string()});
    EXPECT_EQ(failed.exitCode, 6) << option;
    EXPECT_NE(failed.err.find(std::string(option) + " " + full + ": cannot be written"),
              std::string::npos)
        << failed.err;
    EXPECT_NE(failed.err.find("No space left on device"), std::string::npos) << failed.err;
  }
  EXPECT_TRUE(fs::is_symlink(full));
  const ProcessResult toPipe = Decode({"--kml", "/dev/stdout", wav.string()});
  EXPECT_EQ(toPipe.exitCode, 0) << toPipe.err;
  EXPECT_EQ(toPipe.out.rfind("<?xml", 0), 0u) << toPipe.out;

  fs::create_symlink("missing/out.nmea", folder_ / "astray.nmea");
  ExpectFailure(Decode({"--nmea", (folder_ / "astray.nmea").string(), wav.string()}), 6,
                "no such folder");
  EXPECT_FALSE(fs::exists(folder_ / "missing"));
}

// A named pipe or standard input is decoded as it streams in, to the same
// result as the file itself: no byte is lost to a look at the start.
TEST_F(DecodeTool, PipesAndStandardInputAreDecodedAsStreams) {
  const fs::path wav = WriteWav("flight.wav", Record(4));
  const ProcessResult file = Decode({"--json", wav.string()});
  ASSERT_EQ(file.exitCode, 0) << file.err;

  const ProcessResult piped = Decode({"--json", "-"}, true, wav.c_str());
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.out, file.out);

  const fs::path fifo = folder_ / "flight.pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << ReadFile(wav); });
  const ProcessResult streamed = Decode({"--json", fifo.string()});
  writer.join();
  EXPECT_EQ(streamed.exitCode, 0) << streamed.err;
  EXPECT_EQ(streamed.out, file.out);
}

// The viewer's live NMEA file is never touched by a batch run that was not
// told to write NMEA, and no run writes a file another program holds.
TEST_F(BadInput, NmeaOnlyWhenAskedAndNeverIntoALockedFile) {
  const fs::path wav = WriteWav("flight.wav", Record(2));
  const fs::path live = folder_ / "nmea.txt";
  const std::string sentences = "$GPGGA, the viewer's own\r\n";
  std::ofstream(live, std::ios::binary) << sentences;
  const char* old = std::getenv("QUORVEX_NMEA_PATH");
  const std::string saved = old ? old : "";
  ::setenv("QUORVEX_NMEA_PATH", live.c_str(), 1);
  const ProcessResult quiet = Decode({wav.string()});
  old ? ::setenv("QUORVEX_NMEA_PATH", saved.c_str(), 1) : ::unsetenv("QUORVEX_NMEA_PATH");
  EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_EQ(ReadFile(live), sentences);

  const int viewer = ::open(live.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(viewer, 0);
  ASSERT_EQ(::flock(viewer, LOCK_EX), 0);
  ExpectFailure(Decode({"--nmea", live.string(), wav.string()}), 6, live.string() + ": is locked");
  ::close(viewer);
  EXPECT_EQ(ReadFile(live), sentences);
}

TEST_F(BadInput, UsageErrorsGiveStatusTwo) {
  const std::string f = (folder_ / "any.wav").string();
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {f, f},
      {"--rate", "medium", f},
      {"--channel", "centre", f},
      {"--demodulator", "best", f},
      {"--launch", "7.1,46.8", f},
      {"--launch", "7.1,46.8,x", f},
      {"--launch", "7.1,95,400", f},
      {"--launch", "7.1,46.8,400,1", f},
      {"--unknown", f},
      {"--json=yes", f},
      {f, "--csv"},
      {"--kml=", f},
  };
  for (const auto& args : wrong) {
    const ProcessResult run = Decode(args, false);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(run.exitCode, 2) << line << run.err;
    EXPECT_NE(run.err.find("Usage: quorvex-decode"), std::string::npos) << line << run.err;
  }
}

}  // namespace

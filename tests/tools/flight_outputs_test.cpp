// The flight outputs read back by the programs that consume them: the
// decoder element's bus messages by a pipeline's bus, GPX by the schema and
// a GPS data converter, subtitles by GStreamer's subtitle parser and the
// muxed recording by GStreamer's Matroska demuxer, the network NMEA by a
// socket and gpsd.

#include <arpa/inet.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tests/common/scratch_folder.h"
#include "tests/tools/run_process.h"
#include "tests/udp_listener.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace simulated_aircraft;

struct Flight {
  std::vector<FlightFrame> frames;
  fs::path wav;
  std::vector<const PositionRecord*> Positions() const {
    std::vector<const PositionRecord*> positions;
    for (const auto& f : frames)
      if (const auto* p = std::get_if<PositionRecord>(&f.record)) positions.push_back(p);
    return positions;
  }
};

class FlightOutputs : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QUORVEX_NMEA_PATH", (folder_ / "nmea.txt").c_str(), 1);
    flight_.frames = SyntheticFlight(8.0);
    SignalOptions options;
    options.minSeconds = 9.0;
    flight_.wav = folder_ / "flight.wav";
    WriteWav(flight_.wav, {1, options.link.sampleRate}, RenderSignal(flight_.frames, options));
  }

  ScratchFolder folder_;
  Flight flight_;
};

double Field(const GstStructure* s, const char* name) {
  double value = 0;
  gst_structure_get_double(s, name, &value);
  return value;
}

TEST_F(FlightOutputs, TheElementPostsEveryFrameWithItsStreamTime) {
  gst_init(nullptr, nullptr);
  GError* error = nullptr;
  GstPlugin* plugin = gst_plugin_load_file(QUORVEX_LIBRARY_PATH, &error);
  ASSERT_TRUE(plugin) << (error ? error->message : "");
  gst_object_unref(plugin);
  GstElement* pipeline = gst_parse_launch(
      ("filesrc location=" + flight_.wav.string() +
       " ! wavparse ! audioconvert ! quorvexdecode rate=norm attenuation=1.0 ! fakesink")
          .c_str(),
      &error);
  ASSERT_TRUE(pipeline) << (error ? error->message : "");
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  std::vector<GstMessage*> frames;
  for (bool done = false; !done;) {
    GstMessage* m = gst_bus_timed_pop_filtered(
        bus, 30 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_ELEMENT | GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ASSERT_TRUE(m) << "no end of stream";
    done = GST_MESSAGE_TYPE(m) != GST_MESSAGE_ELEMENT;
    EXPECT_NE(GST_MESSAGE_TYPE(m), GST_MESSAGE_ERROR);
    if (gst_structure_has_name(gst_message_get_structure(m), "quorvex-telemetry"))
      frames.push_back(m);
    else
      gst_message_unref(m);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);

  ASSERT_EQ(frames.size(), flight_.frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const GstStructure* s = gst_message_get_structure(frames[i]);
    const FlightFrame& sent = flight_.frames[i];
    guint64 streamTime = 0;
    ASSERT_TRUE(gst_structure_get_uint64(s, "stream-time", &streamTime));
    // Decoded after it was sent, and before the next frame could start.
    EXPECT_GT(streamTime / 1e9, sent.sendAt) << i;
    if (i + 1 < frames.size()) {
      EXPECT_LT(streamTime / 1e9, flight_.frames[i + 1].sendAt + 0.3) << i;
    }
    const std::string type = gst_structure_get_string(s, "type");
    if (const auto* p = std::get_if<PositionRecord>(&sent.record)) {
      EXPECT_EQ(type, "position");
      int timeOfDay = 0, satellites = 0;
      gst_structure_get_int(s, "time-of-day", &timeOfDay);
      gst_structure_get_int(s, "satellites", &satellites);
      EXPECT_EQ(timeOfDay, p->timeMs);
      EXPECT_EQ(satellites, p->numSats);
      EXPECT_DOUBLE_EQ(Field(s, "latitude"), p->latitude / 600000.0);
      EXPECT_DOUBLE_EQ(Field(s, "longitude"), p->longitude / 600000.0);
      EXPECT_DOUBLE_EQ(Field(s, "altitude"), p->altitude / 100.0);
    } else if (const auto* b = std::get_if<BatteryRecord>(&sent.record)) {
      EXPECT_EQ(type, "battery");
      int voltage = 0;
      gst_structure_get_int(s, "voltage", &voltage);
      EXPECT_EQ(voltage, b->voltage);
    } else {
      const auto& u = std::get<UplinkRecord>(sent.record);
      EXPECT_EQ(type, "uplink");
      int rssi = 0;
      gst_structure_get_int(s, "rssi1", &rssi);
      EXPECT_EQ(rssi, u.rssiValue1);
    }
  }
  for (GstMessage* m : frames) gst_message_unref(m);
}

// The lines from the `from`th on, whatever their line ends.
std::string Lines(const std::string& text, std::size_t from) {
  std::istringstream in(text);
  std::string line, out;
  for (std::size_t n = 0; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (n >= from) out += line + "\n";
  }
  return out;
}

// The text buffers that reach the appsink "cues" of a pipeline, with their
// times.
std::vector<std::pair<GstClockTime, std::string>> TextBuffers(const std::string& description) {
  gst_init(nullptr, nullptr);
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  EXPECT_TRUE(pipeline) << (error ? error->message : "");
  if (!pipeline) return {};
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "cues");
  g_object_set(sink, "sync", FALSE, nullptr);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  std::vector<std::pair<GstClockTime, std::string>> buffers;
  while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    buffers.emplace_back(GST_BUFFER_PTS(buffer),
                         std::string(reinterpret_cast<const char*>(map.data), map.size));
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return buffers;
}

TEST_F(FlightOutputs, FilesAreReadByTheirConsumers) {
  const fs::path gpx = folder_ / "flight.gpx", srt = folder_ / "flight.srt",
                 mkv = folder_ / "flight.mkv", kml = folder_ / "track.kml",
                 csv = folder_ / "full.csv";
  // A file modified on a known day dates the fixes on it.
  const ProcessResult touched = RunProcess({"touch", "-d", "2026-06-01 10:20:00Z", flight_.wav});
  ASSERT_EQ(touched.exitCode, 0);
  const ProcessResult decoded = RunProcess(
      {QUORVEX_DECODE_PATH, "--library", QUORVEX_LIBRARY_PATH, "--gpx", gpx, "--srt", srt, "--vtt",
       folder_ / "flight.vtt", "--mux", mkv, "--kml-track", kml, "--csv-full", csv, flight_.wav});
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;

  const ProcessResult valid = RunProcess({"xmllint", "--noout", "--schema", GPX_SCHEMA_PATH, gpx});
  EXPECT_EQ(valid.exitCode, 0) << valid.err;

  const auto positions = flight_.Positions();
  const ProcessResult read =
      RunProcess({"gpsbabel", "-t", "-i", "gpx", "-f", gpx, "-o", "unicsv,utc=0", "-F", "-"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  // The converter reads the time track as the GPX track, without satellites.
  std::string expected, expectedTrack;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const PositionRecord& p = *positions[i];
    char row[160], time[40];
    const int ms = p.timeMs % 1000;
    std::snprintf(time, sizeof time, "2026/06/01,%02d:%02d:%02d%s", p.timeMs / 3600000,
                  p.timeMs / 60000 % 60, p.timeMs / 1000 % 60,
                  ms ? ("." + std::to_string(ms)).c_str() : "");
    const int n = std::snprintf(row, sizeof row, "%zu,%.6f,%.6f,%.1f,", i + 1,
                                p.latitude / 600000.0, p.longitude / 600000.0, p.altitude / 100.0);
    expected += std::string(row, n) + std::to_string(p.numSats) + "," + time + "\n";
    expectedTrack += std::string(row, n) + time + "\n";
  }
  const ProcessResult track =
      RunProcess({"gpsbabel", "-t", "-i", "kml", "-f", kml, "-o", "unicsv,utc=0", "-F", "-"});
  EXPECT_EQ(Lines(track.out, 1), expectedTrack) << track.err;
  EXPECT_EQ(Lines(read.out, 1), expected);

  // A row per frame, the values exact.
  std::ifstream full(csv);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(full, line);) {
    std::vector<std::string>& cells = rows.emplace_back();
    std::istringstream fields(line.substr(0, line.find('\r')));
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
  }
  ASSERT_EQ(rows.size(), flight_.frames.size() + 1);
  ASSERT_GE(rows[1].size(), 6u);
  EXPECT_EQ(rows[1][1], "position");
  EXPECT_EQ(rows[1][2], std::to_string(positions[0]->timeMs));
  EXPECT_EQ(std::strtod(rows[1][3].c_str(), nullptr), positions[0]->latitude / 600000.0);

  // GStreamer's parser gives one buffer per cue, at the decoded frame's
  // time, and the muxed recording carries the same cues beside its audio.
  const auto parsed =
      TextBuffers("filesrc location=" + srt.string() + " ! subparse ! appsink name=cues");
  ASSERT_EQ(parsed.size(), positions.size());
  for (std::size_t i = 1; i < parsed.size(); ++i) EXPECT_GT(parsed[i].first, parsed[i - 1].first);
  EXPECT_NE(parsed.back().second.find("Sats 9"), std::string::npos) << parsed.back().second;
  EXPECT_NE(parsed.back().second.find("Bat "), std::string::npos) << parsed.back().second;
  const auto muxed = TextBuffers("filesrc location=" + mkv.string() +
                                 " ! matroskademux name=d d.subtitle_0 ! queue ! appsink "
                                 "name=cues d.audio_0 ! queue ! fakesink sync=false");
  ASSERT_EQ(muxed.size(), parsed.size());
  for (std::size_t i = 0; i < muxed.size(); ++i) EXPECT_EQ(muxed[i].first, parsed[i].first) << i;
}

// A free port on the loopback interface, of the given socket type.
int FreePort(int type) {
  const int fd = ::socket(AF_INET, type, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// A live decode feeds a UDP socket and, through its TCP server, a real gpsd
// on a private port and control socket, which reports the fixes.
TEST_F(FlightOutputs, LiveNmeaReachesAUdpSocketAndGpsd) {
  const UdpListener movingMap;
  ASSERT_NE(movingMap.Port(), 0);
  const std::string udpTarget = movingMap.Target();
  const int tcpPort = FreePort(SOCK_STREAM), gpsdPort = FreePort(SOCK_STREAM);

  ProcessResult decoded;
  std::thread decode([&] {
    decoded =
        RunProcess({QUORVEX_DECODE_PATH, "--library", QUORVEX_LIBRARY_PATH, "--realtime",
                    "--nmea-udp", udpTarget, "--nmea-tcp", std::to_string(tcpPort), flight_.wav});
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  // The server is up once it accepts (it drops this probe at the next fix).
  while (!Accepts(tcpPort) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::yield();

  const std::string control = (folder_ / "gpsd.sock").string();
  const std::string device = "tcp://127.0.0.1:" + std::to_string(tcpPort);
  const std::string port = std::to_string(gpsdPort);
  const char* gpsdArgs[] = {"gpsd",          "-N",           "-n",   "-S", port.c_str(), "-F",
                            control.c_str(), device.c_str(), nullptr};
  pid_t gpsd = 0;
  posix_spawn_file_actions_t quiet;  // it complains of the missing system bus
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const int spawned =
      ::posix_spawnp(&gpsd, "gpsd", &quiet, nullptr, const_cast<char**>(gpsdArgs), environ);
  posix_spawn_file_actions_destroy(&quiet);
  ASSERT_EQ(spawned, 0);
  // gpspipe gives up at once when gpsd is not listening yet.
  while (!Accepts(gpsdPort) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const ProcessResult watched =
      RunProcess({"gpspipe", "-w", "-n", "12", "127.0.0.1:" + port}, std::chrono::seconds(20));
  ::kill(gpsd, SIGTERM);
  ::waitpid(gpsd, nullptr, 0);
  decode.join();
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  EXPECT_NE(watched.out.find("\"class\":\"TPV\""), std::string::npos) << watched.out;
  EXPECT_NE(watched.out.find("\"lat\":46.81"), std::string::npos) << watched.out;

  // Every fix reached the socket, as an RMC and a GGA datagram.
  int rmc = 0, gga = 0;
  for (const std::string& text : movingMap.Received()) {
    rmc += text.starts_with("$GPRMC,");
    gga += text.starts_with("$GPGGA,");
    EXPECT_TRUE(text.ends_with("\r\n")) << text;
  }
  EXPECT_EQ(rmc, static_cast<int>(flight_.Positions().size()));
  EXPECT_EQ(gga, rmc);
}

}  // namespace

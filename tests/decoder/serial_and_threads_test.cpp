#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "decoder/telemetry/nmea.h"
#include "tests/decoder/slot_signal.h"
#include "tests/fakes/scripted_decoder.h"

namespace {

using testsignal::Frame;
using testsignal::SlotSignal;

std::vector<std::int16_t> PositionAudio(const PositionRecord& r) {
  std::vector<std::uint8_t> payload(sizeof r);
  std::memcpy(payload.data(), &r, sizeof r);
  SlotSignal s(44100, 4777);
  s.AddFrame(Frame(1, payload));
  return s.Samples();
}

class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
      name_ = ::ptsname(master_);
  }
  ~PseudoTerminal() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& Name() const { return name_; }
  std::string ReadAvailable(int timeoutMs = 2000) {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, out.empty() ? timeoutMs : 100) > 0) {
      char buf[512];
      const auto n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string name_;
};

TEST(SerialSink, PositionFramesReachAnOpenPortAsNmea) {
  PseudoTerminal pty;
  ASSERT_FALSE(pty.Name().empty());
  ScriptedDecoder d;
  ComBstr port(pty.Name());
  ASSERT_EQ(d.SetSerialPort(port.Get()), S_OK);
  ASSERT_TRUE(d.Engine().SerialSink().IsOpen());
  EXPECT_TRUE(d.Engine().SerialPortRequested());
  EXPECT_NE(d.Engine().SerialPortName(), port.Get());  // a private copy

  const PositionRecord fix{45296789, 28350000, 5100000, 40050, 9};
  d.FeedMono(PositionAudio(fix));
  const auto expected = nmea::StreamSentences().For(fix);
  EXPECT_EQ(pty.ReadAvailable(), expected.rmc + expected.gga);

  // Passing the string already held changes nothing; null closes the port.
  EXPECT_EQ(d.SetSerialPort(d.Engine().SerialPortName()), S_OK);
  EXPECT_TRUE(d.Engine().SerialSink().IsOpen());
  EXPECT_EQ(d.SetSerialPort(nullptr), S_OK);
  EXPECT_FALSE(d.Engine().SerialSink().IsOpen());
  EXPECT_EQ(d.Engine().SerialPortName(), nullptr);
  d.FeedMono(PositionAudio(fix));
  EXPECT_EQ(pty.ReadAvailable(200), "");
}

TEST(SerialSink, PortsThatCannotBeOpenedLeaveItClosed) {
  ScriptedDecoder d;
  for (const char* name : {"/dev/nonexistent-port", "/etc/hostname", ""}) {
    EXPECT_EQ(d.SetSerialPort(ComBstr(std::string(name)).Get()), S_OK);
    EXPECT_FALSE(d.Engine().SerialSink().IsOpen()) << name;
  }
  d.FeedMono(PositionAudio({1, 2, 3, 4, 5}));
  int good = 0, bad = 0;
  d.GetPacketCounts(&good, &bad);
  EXPECT_EQ(good, 1);
}

// The streaming thread stores frames while the viewer's thread polls every
// getter and look-up; run under ThreadSanitizer this proves the locking.
TEST(DecoderThreads, StreamingAgainstPolling) {
  ScriptedDecoder d;
  std::vector<std::int16_t> audio;
  for (int i = 0; i < 60; ++i) {
    const PositionRecord fix{i * 500, 28350000 + i * 100, 5100000 + i * 50, 40000 + i, 9};
    const auto a = PositionAudio(fix);
    audio.insert(audio.end(), a.begin(), a.end());
    SlotSignal s(44100, 4777);
    s.AddFrame(Frame(2, {0x40, 0x2E, 0xDC, 0x05, 0xD4, 0x30, 0x00, 0x00}));
    s.AddFrame(Frame(3, std::vector<std::uint8_t>(20, static_cast<std::uint8_t>(i))));
    audio.insert(audio.end(), s.Samples().begin(), s.Samples().end());
  }
  std::atomic<bool> done{false};
  std::thread streaming([&] {
    constexpr std::size_t kBuffer = 4410;
    std::vector<std::int16_t> out(kBuffer);
    for (std::size_t i = 0; i < audio.size(); i += kBuffer) {
      const std::size_t n = std::min(kBuffer, audio.size() - i);
      d.ProcessBuffer(audio.data() + i, out.data(), n, 1);
    }
    done = true;
  });
  const auto dir = std::filesystem::path(testing::TempDir()) / "threads";
  std::filesystem::create_directories(dir);
  const ComBstr trackPath((dir / "track.kml").u16string());
  int polls = 0;
  while (!done || polls < 10) {
    int a, b, c, e, f, g, h, k, channels[12];
    float fa, fb, fc, fd, fe, ff, fg, fh;
    d.GetPacketCounts(&a, &b);
    d.GetPosition(&a, &fa, &fb, &fc, &fd, &fe, &ff, &fg, &b);
    d.GetUplinkStatus(&a, &b, &c, &e, &f, &g, &h, &k, channels);
    d.GetBatteryStatus(&a, &b, &c);
    d.GetLaunchSite(&fa, &fb, &fc);
    int count = 0;
    d.GetRecordCount(&count);
    for (int key = 0; key < count; ++key) {
      d.GetPositionAt(key, &a, &fa, &fb, &fc, &fd, &fe, &fh, &b);
      d.GetUplinkStatusAt(key, &a, &b, &c, &e, &f, &g, &h, &k);
      d.GetBatteryStatusAt(key, &a, &b, &c);
    }
    d.SetAudioChannel(polls % 2);
    d.SetBitRate(4777);
    d.WriteTrackKml(trackPath.Get());
    if (polls % 7 == 3) d.SetLaunchSite(8.5f, 47.25f, 400.0f);
    ++polls;
  }
  streaming.join();
  int good = 0, bad = 0, count = 0;
  d.GetPacketCounts(&good, &bad);
  d.GetRecordCount(&count);
  EXPECT_EQ(good, 180);
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(count, 180);
}

// Exporting the track to a slow target (here a pipe whose reader waits)
// must not hold up the audio: the decoder writes outside its lock.
TEST(DecoderThreads, TrackExportWritesOutsideTheLock) {
  const auto dir = std::filesystem::path(testing::TempDir()) / "slow-export";
  std::filesystem::create_directories(dir);
  const auto fifo = dir / "track.kml";
  std::filesystem::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ScriptedDecoder d;
  {
    // More than a pipe holds, so the writer waits for the reader.
    std::lock_guard guard(d.Lock());
    for (int i = 0; i < 4000; ++i) d.Engine().Track().AddPoint({28350000 + i, 5100000, 40000, {}});
  }
  const ComBstr path(fifo.u16string());
  auto exported = std::async(std::launch::async, [&] { return d.WriteTrackKml(path.Get()); });
  pollfd p{reader, POLLIN, 0};
  while (::poll(&p, 1, 100) == 0 &&
         exported.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
  }
  if (!(p.revents & POLLIN)) {
    ::close(reader);
    exported.get();
    GTEST_SKIP() << "the export replaced the pipe instead of writing into it";
  }
  // The export is now inside its write, waiting for the reader.
  auto audio = std::async(std::launch::async, [&] { Sender(d).Position({1000, 2, 3, 4, 9}); });
  const bool audioWentOn = audio.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  ::fcntl(reader, F_SETFL, 0);
  char buf[65536];
  while (::read(reader, buf, sizeof buf) > 0) {
  }
  ::close(reader);
  EXPECT_EQ(exported.get(), S_OK);
  audio.get();
  EXPECT_TRUE(audioWentOn) << "the audio waited for the export's file";
}

}  // namespace

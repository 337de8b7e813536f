#include "decoder/demodulator/decode_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tests/decoder/slot_signal.h"

namespace {

using testsignal::Frame;
using testsignal::SlotSignal;

class RecordingEngine : public CDecodeEngine {
 public:
  RecordingEngine(std::uint32_t sampleRate = 44100, int slotRate = 4777) {
    SetSlotRate(slotRate);
    SetSampleRate(sampleRate);
  }
  void Feed(const std::vector<std::int16_t>& s) { ProcessSamples(s.data(), s.size()); }

  std::vector<PositionRecord> positions;
  std::vector<UplinkRecord> uplinks;
  std::vector<BatteryRecord> batteries;

 protected:
  void OnPosition(PositionRecord r) override { positions.push_back(r); }
  void OnUplinkStatus(UplinkRecord r) override { uplinks.push_back(r); }
  void OnBatteryStatus(BatteryRecord r) override { batteries.push_back(r); }
};

const std::vector<std::uint8_t> kBatteryPayload{0x40, 0x2E, 0xDC, 0x05, 0xD4, 0x30, 0x00, 0x00};

// Edges `distance` apart after a long quiet stretch, so the first one is
// always out of the window.
std::vector<std::int16_t> Edges(int count, int distance) {
  SlotSignal s(44100, 4777);
  s.Low(100);
  for (int i = 0; i < count; ++i) s.Cycle(distance);
  s.Samples().push_back(testsignal::kHigh);
  return s.Samples();
}

TEST(DecodeEngineTiming, LeadInCycleFollowsSampleAndSlotRate) {
  struct Case {
    std::uint32_t sampleRate;
    int slotRate;
    int cycle;
  };
  for (const Case& c : {Case{44100, 4777, 18}, Case{48000, 4777, 20}, Case{44100, 9554, 8},
                        Case{44100, 2388, 36}, Case{22050, 9554, 4}, Case{4000, 4777, 0}}) {
    RecordingEngine e(c.sampleRate, c.slotRate);
    EXPECT_EQ(e.LeadInCycle(), c.cycle) << c.sampleRate << "/" << c.slotRate;
  }
  // Either order of the two setters gives the same cycle.
  RecordingEngine e(8000, 4777);
  e.SetSampleRate(44100);
  EXPECT_EQ(e.LeadInCycle(), 18);
}

TEST(DecodeEngineTiming, WindowAcceptsCounts17To19At44100) {
  for (int distance : {18, 19, 20}) {
    RecordingEngine e;
    e.Feed(Edges(2, distance));  // the first edge is out of window; two hits
    EXPECT_EQ(e.LeadInHits(), 2) << distance;
    EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);
    std::vector<std::int16_t> more(static_cast<std::size_t>(distance - 1), testsignal::kLow);
    more.push_back(testsignal::kHigh);
    e.Feed(more);
    EXPECT_EQ(e.StateValue(), CDecodeEngine::kSync) << distance;
  }
  for (int distance : {17, 21}) {
    RecordingEngine e;
    e.Feed(Edges(6, distance));
    EXPECT_EQ(e.LeadInHits(), 0) << distance;
    EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);
  }
}

TEST(DecodeEngineTiming, OutOfWindowCycleClearsHits) {
  RecordingEngine e;
  SlotSignal s(44100, 4777);
  s.Low(100);
  s.Cycle(19);
  s.Cycle(19);
  s.Cycle(25);  // two hits so far, then this one breaks the run
  s.Samples().push_back(testsignal::kHigh);
  e.Feed(s.Samples());
  EXPECT_EQ(e.LeadInHits(), 0);
  EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);
}

TEST(DecodeEngineTiming, SampleRateBelowSlotRateNeverLocks) {
  RecordingEngine e(4000, 4777);
  SlotSignal s(44100, 4777);
  for (int d = 1; d < 40; ++d)
    for (int i = 0; i < 5; ++i) s.Cycle(d);
  e.Feed(s.Samples());
  EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);
}

TEST(DecodeEngineFrames, BatteryFrameDecodesAndBitFlipCountsBad) {
  const auto frame = Frame(2, kBatteryPayload);
  ASSERT_EQ(frame.back(), 0x3C);

  RecordingEngine e;
  SlotSignal s(44100, 4777);
  s.AddFrame(frame);
  e.Feed(s.Samples());
  EXPECT_EQ(e.GoodFrames(), 1);
  EXPECT_EQ(e.BadFrames(), 0);
  ASSERT_EQ(e.batteries.size(), 1u);
  EXPECT_EQ(+e.LatestBattery().voltage, 11840);
  EXPECT_EQ(+e.LatestBattery().capacityUsed, 1500);
  EXPECT_EQ(+e.LatestBattery().current, 12500);

  auto flipped = frame;
  flipped[4] ^= 0x10;
  SlotSignal s2(44100, 4777);
  s2.AddFrame(flipped);
  e.Feed(s2.Samples());
  EXPECT_EQ(e.GoodFrames(), 1);
  EXPECT_EQ(e.BadFrames(), 1);
  EXPECT_EQ(+e.LatestBattery().capacityUsed, 1500);
  EXPECT_EQ(e.batteries.size(), 1u);

  for (std::uint8_t last = 0; last != 0xFF; ++last) {
    if (last == 0x3C) continue;
    auto wrong = frame;
    wrong.back() = last;
    RecordingEngine w;
    SlotSignal sw(44100, 4777);
    sw.AddFrame(wrong);
    w.Feed(sw.Samples());
    ASSERT_EQ(w.BadFrames(), 1) << int(last);
    ASSERT_EQ(w.GoodFrames(), 0);
  }
}

TEST(DecodeEngineFrames, InvertedSyncDecodesSameBytes) {
  // Small high bytes keep the time within the day and the fix on the globe.
  const std::vector<std::uint8_t> payload{1, 2, 3, 0, 5, 6, 7, 0, 9, 10, 11, 0, 13, 14, 15, 16, 17};
  for (bool inverted : {false, true}) {
    RecordingEngine e;
    SlotSignal s(44100, 4777);
    s.AddFrame(Frame(1, payload), inverted);
    e.Feed(s.Samples());
    ASSERT_EQ(e.positions.size(), 1u) << inverted;
    EXPECT_EQ(std::memcmp(&e.positions[0], payload.data(), 17), 0);
  }
}

TEST(DecodeEngineFrames, EveryRateCombinationDecodesConsecutiveFrames) {
  for (std::uint32_t rate : {22050u, 44100u, 48000u})
    for (int slots : {2388, 4777, 9554}) {
      RecordingEngine e(rate, slots);
      SlotSignal s(rate, slots);
      std::vector<std::uint8_t> uplink(20);
      for (int i = 0; i < 20; ++i)
        uplink[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 13);
      for (int i = 0; i < 4; ++i) {
        s.AddFrame(Frame(3, uplink), i % 2 == 1);
        s.AddFrame(Frame(2, kBatteryPayload));
      }
      e.Feed(s.Samples());
      EXPECT_EQ(e.GoodFrames(), 8) << rate << "/" << slots;
      EXPECT_EQ(e.BadFrames(), 0) << rate << "/" << slots;
      ASSERT_EQ(e.uplinks.size(), 4u);
      EXPECT_EQ(std::memcmp(&e.LatestUplink(), uplink.data(), 20), 0);
    }
}

TEST(DecodeEngineFrames, InvalidTypeByteReturnsToHuntUncounted) {
  for (std::uint8_t type : {0, 4, 0xFF}) {
    RecordingEngine e;
    SlotSignal s(44100, 4777);
    s.AddFrame(Frame(type, kBatteryPayload));
    e.Feed(s.Samples());
    EXPECT_EQ(e.GoodFrames(), 0);
    EXPECT_EQ(e.BadFrames(), 0) << int(type);
    EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);
  }
}

TEST(DecodeEngineFrames, ShortLengthByteHandsOverStaleBufferBytes) {
  // The length byte only decides where the CRC sits: a position frame that
  // claims two payload bytes still delivers seventeen, the rest left over
  // from the frame before.
  std::vector<std::uint8_t> first(17);
  for (int i = 0; i < 17; ++i)
    first[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xA0 + i);
  first[3] = first[7] = first[11] = 0;  // a time within the day, a fix on the globe
  RecordingEngine e;
  SlotSignal s(44100, 4777);
  s.AddFrame(Frame(1, first));
  s.AddFrame(Frame(1, {0x11, 0x22}));
  e.Feed(s.Samples());
  ASSERT_EQ(e.positions.size(), 2u);
  auto expected = first;
  expected[0] = 0x11;
  expected[1] = 0x22;
  expected[2] = crc8::Compute(std::vector<std::uint8_t>{1, 2, 0x11, 0x22}.data(), 4);
  EXPECT_EQ(std::memcmp(&e.positions[1], expected.data(), 17), 0);
}

TEST(DecodeEngineFrames, OverlongFrameEndsAsTimeoutWithByteCountCapped) {
  // At the fast rate 159 bytes fit well inside the half-second episode.
  std::vector<std::uint8_t> bytes{1, 255};
  bytes.resize(200, 0x5A);
  RecordingEngine e(44100, 9554);
  SlotSignal s(44100, 9554);
  s.LeadIn();
  s.SyncAndBytes(bytes, false);
  int maxCount = 0;
  for (std::int16_t v : s.Samples()) {
    e.ProcessSample(v);
    maxCount = std::max(maxCount, e.ByteCount());
  }
  EXPECT_EQ(maxCount, 159);
  EXPECT_EQ(e.BadFrames(), 0);  // the 200 bytes take less than half a second
  std::vector<std::int16_t> quiet(44100, 0);
  e.Feed(quiet);
  EXPECT_EQ(e.BadFrames(), 1);
  EXPECT_EQ(e.GoodFrames(), 0);
  EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);
}

TEST(DecodeEngineFrames, SignalBreakingOffCountsOneLoss) {
  // Silence right after the lead-in: no sync word ever completes, so the
  // loss is counted by the time-out, half a second after the lock.
  RecordingEngine e;
  SlotSignal s(44100, 4777);
  s.LeadIn();
  const std::size_t lockSample = s.Size() - 1;
  s.Samples().resize(lockSample + 44100, 0);
  const std::size_t before = lockSample + 44100 / 2 - 20;
  const std::size_t after = lockSample + 44100 / 2 + 20;
  for (std::size_t i = 0; i < s.Size(); ++i) {
    e.ProcessSample(s.Samples()[i]);
    if (i == before) {
      EXPECT_EQ(e.BadFrames(), 0);
      EXPECT_EQ(e.StateValue(), CDecodeEngine::kSync);
    }
    if (i == after) {
      EXPECT_EQ(e.BadFrames(), 1);
    }
  }
  EXPECT_EQ(e.BadFrames(), 1);
  EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);

  // Silence in the middle of a frame: the slot clock keeps reading bytes
  // until the length byte's count, so the CRC fails once.
  auto frame = Frame(3, std::vector<std::uint8_t>(20, 0x42));
  frame.resize(6);
  RecordingEngine m;
  SlotSignal s2(44100, 4777);
  s2.LeadIn();
  s2.SyncAndBytes(frame, false, 0);
  s2.Samples().resize(s2.Size() + 44100, 0);
  m.Feed(s2.Samples());
  EXPECT_EQ(m.BadFrames(), 1);
  EXPECT_EQ(m.GoodFrames(), 0);
}

TEST(DecodeEngineRelock, InWindowEdgesAfterAFrameNeverLockWithoutAnOutOfWindowOne) {
  RecordingEngine e;
  SlotSignal s(44100, 4777);
  const std::size_t end = s.AddFrame(Frame(2, kBatteryPayload));
  // Cut right after the sample on which the frame completed, then keep the
  // edges in the window from the very first one (counted from the return).
  s.Samples().resize(end + 1);
  s.Low(18);
  for (int i = 0; i < 40; ++i) s.Cycle(19);
  e.Feed(s.Samples());
  ASSERT_EQ(e.GoodFrames(), 1);
  EXPECT_EQ(e.StateValue(), CDecodeEngine::kHunt);
  EXPECT_GT(e.LeadInHits(), 40);

  // One out-of-window cycle, then three good ones: locked again.
  SlotSignal more(44100, 4777);
  more.Cycle(40);
  for (int i = 0; i < 3; ++i) more.Cycle(19);
  more.Samples().push_back(testsignal::kHigh);
  e.Feed(more.Samples());
  EXPECT_EQ(e.StateValue(), CDecodeEngine::kSync);
}

TEST(DecodeEngineRelock, SlotRateChangeInDataKeepsTheFrame) {
  RecordingEngine e;
  SlotSignal s(44100, 4777);
  s.LeadIn();
  s.SyncAndBytes(Frame(2, kBatteryPayload), false);
  const auto& v = s.Samples();
  std::size_t i = 0;
  while (e.ByteCount() < 3) e.ProcessSample(v[i++]);
  ASSERT_EQ(e.StateValue(), CDecodeEngine::kData);
  e.SetSlotRate(9554);
  EXPECT_EQ(e.LeadInCycle(), 8);
  e.ProcessSample(v[i++]);
  EXPECT_EQ(e.StateValue(), CDecodeEngine::kData);
  EXPECT_EQ(e.ByteCount(), 3);
  e.SetSlotRate(0);  // ignored: no clock can run on it
  EXPECT_EQ(e.SlotRate(), 9554);
}

// Random and adversarial input, meant to run under the sanitizers: nothing
// may read or write outside the frame, and every good frame reaches exactly
// one handler.
TEST(DecodeEngineRobustness, TenMillionHostileSamples) {
  std::mt19937 rng(1234);
  RecordingEngine e;
  int maxCount = 0;
  std::size_t fed = 0;
  auto feed = [&](const std::vector<std::int16_t>& v) {
    for (std::int16_t x : v) {
      e.ProcessSample(x);
      maxCount = std::max(maxCount, e.ByteCount());
    }
    fed += v.size();
  };
  std::uniform_int_distribution<int> sample(-32768, 32767);
  std::uniform_int_distribution<int> byte(0, 255);
  while (fed < 10'000'000) {
    // White noise.
    std::vector<std::int16_t> noise(200'000);
    for (auto& x : noise) x = static_cast<std::int16_t>(sample(rng));
    feed(noise);
    // Lead-in and sync followed by garbage, and length bytes of 255.
    SlotSignal s(44100, 4777);
    for (int k = 0; k < 50; ++k) {
      std::vector<std::uint8_t> garbage{static_cast<std::uint8_t>(1 + k % 3), 255};
      for (int j = 0; j < 40; ++j) garbage.push_back(static_cast<std::uint8_t>(byte(rng)));
      if (k % 5 == 0) garbage[1] = static_cast<std::uint8_t>(byte(rng));
      s.AddFrame(garbage, k % 2 == 1);
    }
    feed(s.Samples());
  }
  EXPECT_LE(maxCount, 159);
  EXPECT_EQ(static_cast<std::size_t>(e.GoodFrames()),
            e.positions.size() + e.uplinks.size() + e.batteries.size());
  EXPECT_GE(e.BadFrames(), 0);
}

}  // namespace

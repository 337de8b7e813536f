#include "tools/simulated_aircraft/frame_builder.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "common/wire/crc8.h"

namespace {

using namespace simulated_aircraft;
using Bytes = std::vector<std::uint8_t>;

TEST(FrameBuilder, BatteryFrameMatchesTheKnownBytes) {
  BatteryRecord b{};
  b.voltage = 11840;
  b.capacityUsed = 1500;
  b.current = 12500;
  EXPECT_EQ(BuildFrame(b),
            (Bytes{0x02, 0x08, 0x40, 0x2E, 0xDC, 0x05, 0xD4, 0x30, 0x00, 0x00, 0x3C}));
}

// The field order of the payload is the receiver's contract.
TEST(FrameBuilder, PositionPayloadIsLittleEndianInFieldOrder) {
  PositionRecord p{};
  p.timeMs = 0x01020304;
  p.altitude = -2;
  p.numSats = 9;
  const Bytes f = BuildFrame(p);
  ASSERT_EQ(f.size(), 20u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), (Bytes{1, 17, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(Bytes(f.begin() + 14, f.end() - 1), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 9}));
  EXPECT_EQ(f.back(), crc8::Compute(f.data(), f.size() - 1));
}

TEST(FrameBuilder, PayloadLengthLimits) {
  EXPECT_EQ(BuildFrame(2, {}), (Bytes{2, 0, crc8::Compute(Bytes{2, 0}.data(), 2)}));
  EXPECT_EQ(BuildFrame(1, Bytes(255, 0x55))[1], 255);
  EXPECT_THROW(BuildFrame(1, Bytes(256, 0)), std::length_error);
}

}  // namespace

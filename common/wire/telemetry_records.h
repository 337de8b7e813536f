#pragma once

#include <bit>
#include <cstdint>

// Frame payloads exactly as they stand on the wire: packed, little-endian.
static_assert(std::endian::native == std::endian::little,
              "payload records are copied straight from the frame bytes");

#pragma pack(push, 1)
struct PositionRecord {
  std::int32_t timeMs;     // milliseconds of the day, as the aircraft sends it
  std::int32_t latitude;   // 1/600000 degree, north positive
  std::int32_t longitude;  // 1/600000 degree, east positive
  std::int32_t altitude;   // centimetres above sea level
  std::uint8_t numSats;
};

struct UplinkRecord {
  std::uint8_t reserved[2];
  std::uint8_t rssiValue1;
  std::uint8_t rssiValue2;
  std::uint8_t linkQuality;
  std::uint8_t nFailsafes;
  std::int8_t freqError;
  std::uint8_t iCurrentBin;
  std::int16_t nGoodPacketsThisBin;
  std::int16_t nBadPacketsThisBin;
  std::uint8_t channels[8];
};

struct BatteryRecord {
  std::uint16_t voltage;       // mV
  std::uint16_t capacityUsed;  // mAh
  std::int32_t current;        // mA
};
#pragma pack(pop)

static_assert(sizeof(PositionRecord) == 17);
static_assert(sizeof(UplinkRecord) == 20);
static_assert(sizeof(BatteryRecord) == 8);

enum FrameType : std::uint8_t {
  kFramePosition = 1,
  kFrameBattery = 2,
  kFrameUplink = 3,
};

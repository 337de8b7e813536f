#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "decoder/demodulator/decode_engine.h"
#include "tools/simulated_aircraft/flight.h"
#include "tools/simulated_aircraft/frame_builder.h"

// The receiver with its handlers writing down every record, in order.
class CRecordingEngine : public CDecodeEngine {
 public:
  CRecordingEngine(std::uint32_t sampleRate, std::int32_t slotRate) {
    SetSlotRate(slotRate);
    SetSampleRate(sampleRate);
  }

  // Feeds one channel of interleaved audio.
  void Feed(std::span<const std::int16_t> interleaved, int channels = 1, int channel = 0) {
    for (std::size_t i = static_cast<std::size_t>(channel); i < interleaved.size();
         i += static_cast<std::size_t>(channels)) {
      ProcessSample(interleaved[i]);
    }
  }

  std::vector<simulated_aircraft::TelemetryRecord> records;

 protected:
  void OnPosition(PositionRecord r) override { records.emplace_back(r); }
  void OnUplinkStatus(UplinkRecord r) override { records.emplace_back(r); }
  void OnBatteryStatus(BatteryRecord r) override { records.emplace_back(r); }
};

// Records have no operator==; their frames compare every byte.
inline std::vector<std::vector<std::uint8_t>> AsFrames(
    std::span<const simulated_aircraft::TelemetryRecord> records) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (const auto& r : records) frames.push_back(simulated_aircraft::BuildFrame(r));
  return frames;
}

inline std::vector<simulated_aircraft::TelemetryRecord> RecordsOf(
    std::span<const simulated_aircraft::FlightFrame> flight) {
  std::vector<simulated_aircraft::TelemetryRecord> records;
  for (const auto& f : flight) records.push_back(f.record);
  return records;
}

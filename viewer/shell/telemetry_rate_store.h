#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "common/wire/slot_rates.h"

// The one persistent setting: the telemetry rate's list index, kept as an
// unsigned 32-bit value (0xFFFFFFFF for no selection) under the program's
// settings key. An empty path means the user's real settings; tests give a
// file of their own.
class TelemetryRateStore {
 public:
  explicit TelemetryRateStore(QString iniPath = {}) : iniPath_(std::move(iniPath)) {}

  // Nothing when the key or the value is missing.
  std::optional<std::uint32_t> Read() const;
  // Failures are not reported: the setting is a convenience.
  void Write(std::uint32_t index) const;

 private:
  QString iniPath_;
};

inline constexpr int kTelemetryRates[] = {wire::kSlotRateSlow, wire::kSlotRateNorm,
                                          wire::kSlotRateFast};

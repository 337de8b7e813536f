#include "tools/quorvex-decode/telemetry_messages.h"

#include <string_view>

namespace {

int Int(const GstStructure* s, const char* field) {
  int value = 0;
  gst_structure_get_int(s, field, &value);
  return value;
}

double Double(const GstStructure* s, const char* field) {
  double value = 0;
  gst_structure_get_double(s, field, &value);
  return value;
}

}  // namespace

std::optional<TelemetryFrame> FrameFromMessage(const GstStructure* s) {
  if (!gst_structure_has_name(s, "quorvex-telemetry")) return std::nullopt;
  const char* type = gst_structure_get_string(s, "type");
  if (!type) return std::nullopt;
  TelemetryFrame f;
  guint64 streamTime = GST_CLOCK_TIME_NONE;
  if (gst_structure_get_uint64(s, "stream-time", &streamTime) &&
      GST_CLOCK_TIME_IS_VALID(streamTime))
    f.streamSeconds = static_cast<double>(streamTime) / GST_SECOND;
  const std::string_view kind = type;
  if (kind == "position") {
    f.type = TelemetryFrame::Type::kPosition;
    f.timeOfDayMs = Int(s, "time-of-day");
    f.latitude = Double(s, "latitude");
    f.longitude = Double(s, "longitude");
    f.altitude = Double(s, "altitude");
    f.satellites = Int(s, "satellites");
    f.launchSiteKnown = gst_structure_has_field(s, "distance");
    f.altitudeAboveLaunch = Double(s, "altitude-above-launch");
    f.distance = Double(s, "distance");
  } else if (kind == "uplink") {
    f.type = TelemetryFrame::Type::kUplink;
    f.rssi1 = Int(s, "rssi1");
    f.rssi2 = Int(s, "rssi2");
    f.linkQuality = Int(s, "link-quality");
    f.failsafes = Int(s, "failsafes");
    f.frequencyError = Int(s, "frequency-error");
    f.bin = Int(s, "bin");
    f.goodPackets = Int(s, "good-packets");
    f.badPackets = Int(s, "bad-packets");
  } else if (kind == "battery") {
    f.type = TelemetryFrame::Type::kBattery;
    f.voltageMv = Int(s, "voltage");
    f.capacityUsedMah = Int(s, "capacity-used");
    f.currentMa = Int(s, "current");
  } else {
    return std::nullopt;
  }
  return f;
}

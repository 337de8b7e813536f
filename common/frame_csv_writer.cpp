#include "common/frame_csv_writer.h"

#include <charconv>

namespace frame_csv {

namespace {

std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

}  // namespace

std::string Document(std::span<const TelemetryFrame> frames) {
  std::string out =
      "stream_time_s,type,time_of_day_ms,latitude_deg,longitude_deg,altitude_m,satellites,"
      "altitude_above_launch_m,distance_m,rssi1,rssi2,link_quality,failsafes,frequency_error,"
      "bin,good_packets,bad_packets,voltage_mv,capacity_used_mah,current_ma\r\n";
  for (const TelemetryFrame& f : frames) {
    out += f.streamSeconds ? Number(*f.streamSeconds) : "";
    auto cells = [&out](std::initializer_list<std::string> values) {
      for (const std::string& v : values) out += "," + v;
    };
    const auto n = [](int v) { return std::to_string(v); };
    switch (f.type) {
      case TelemetryFrame::Type::kPosition:
        cells({"position", n(f.timeOfDayMs), Number(f.latitude), Number(f.longitude),
               Number(f.altitude), n(f.satellites),
               f.launchSiteKnown ? Number(f.altitudeAboveLaunch) : "",
               f.launchSiteKnown ? Number(f.distance) : "", "", "", "", "", "", "", "", "", "", "",
               ""});
        break;
      case TelemetryFrame::Type::kUplink:
        cells({"uplink", "", "", "", "", "", "", "", n(f.rssi1), n(f.rssi2), n(f.linkQuality),
               n(f.failsafes), n(f.frequencyError), n(f.bin), n(f.goodPackets), n(f.badPackets), "",
               "", ""});
        break;
      case TelemetryFrame::Type::kBattery:
        cells({"battery", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
               n(f.voltageMv), n(f.capacityUsedMah), n(f.currentMa)});
        break;
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace frame_csv

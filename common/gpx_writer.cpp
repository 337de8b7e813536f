#include "common/gpx_writer.h"

#include <cstdio>

namespace gpx {

namespace {

template <typename... Args>
void Append(std::string& out, const char* format, Args... args) {
  char line[512];
  const int n = std::snprintf(line, sizeof line, format, args...);
  if (n > 0) out.append(line, static_cast<std::size_t>(n) < sizeof line ? n : sizeof line - 1);
}

}  // namespace

std::string Document(std::span<const TelemetryFrame> frames, std::int64_t recordingUtcSeconds) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"Quorvex\" xmlns=\"http://www.topografix.com/GPX/1/1\"\n"
      "     xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
      "     xmlns:qv=\"" +
      std::string(kExtensionNamespace) +
      "\"\n"
      "     xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
      "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
      "  <trk>\n    <name>Flight</name>\n    <trkseg>\n";
  FixDater dater(recordingUtcSeconds);
  const TelemetryFrame* uplink = nullptr;
  const TelemetryFrame* battery = nullptr;
  for (const TelemetryFrame& f : frames) {
    if (f.type == TelemetryFrame::Type::kUplink) uplink = &f;
    if (f.type == TelemetryFrame::Type::kBattery) battery = &f;
    if (f.type != TelemetryFrame::Type::kPosition) continue;
    Append(out,
           "      <trkpt lat=\"%.7f\" lon=\"%.7f\">\n        <ele>%.2f</ele>\n"
           "        <time>%s</time>\n        <sat>%d</sat>\n",
           f.latitude, f.longitude, f.altitude, IsoUtc(dater.Date(f.timeOfDayMs)).c_str(),
           f.satellites);
    if (uplink || battery) {
      out += "        <extensions>\n";
      if (uplink) {
        Append(out,
               "          <qv:uplink rssi1=\"%d\" rssi2=\"%d\" linkQuality=\"%d\" "
               "failsafes=\"%d\"/>\n",
               uplink->rssi1, uplink->rssi2, uplink->linkQuality, uplink->failsafes);
      }
      if (battery) {
        Append(out,
               "          <qv:battery voltage=\"%.3f\" current=\"%.3f\" capacityUsed=\"%d\"/>\n",
               battery->voltageMv / 1000.0, battery->currentMa / 1000.0, battery->capacityUsedMah);
      }
      out += "        </extensions>\n";
    }
    out += "      </trkpt>\n";
  }
  out += "    </trkseg>\n  </trk>\n</gpx>\n";
  return out;
}

}  // namespace gpx

#include "common/kml_track_writer.h"

#include <cstdio>

namespace kml_track {

std::string Document(std::span<const TelemetryFrame> frames, std::int64_t recordingUtcSeconds) {
  std::string whens, coords;
  FixDater dater(recordingUtcSeconds);
  for (const TelemetryFrame& f : frames) {
    if (f.type != TelemetryFrame::Type::kPosition) continue;
    whens += "        <when>" + IsoUtc(dater.Date(f.timeOfDayMs)) + "</when>\n";
    char coord[128];
    std::snprintf(coord, sizeof coord, "        <gx:coord>%.7f %.7f %.2f</gx:coord>\n", f.longitude,
                  f.latitude, f.altitude);
    coords += coord;
  }
  // All whens first, then all coords: the order the schema asks for.
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
         "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n"
         "  <Document>\n    <name>Flight</name>\n    <Placemark>\n      <name>Flight</name>\n"
         "      <gx:Track>\n        <altitudeMode>absolute</altitudeMode>\n" +
         whens + coords + "      </gx:Track>\n    </Placemark>\n  </Document>\n</kml>\n";
}

}  // namespace kml_track

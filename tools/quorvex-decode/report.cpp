#include "tools/quorvex-decode/report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/telemetry_snapshot.h"

namespace report {
namespace {

struct State : TelemetrySnapshot {
  int records = 0;
};

State Read(IQuorvex& d) {
  State s;
  static_cast<TelemetrySnapshot&>(s) = ReadTelemetrySnapshot(d);
  d.GetRecordCount(&s.records);
  return s;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// JSON has no spelling for infinities or NaN; null keeps the object valid.
std::string JsonFloat(float v) {
  if (!std::isfinite(v)) return "null";
  return Format("%.9g", static_cast<double>(v));
}

class JsonObject {
 public:
  JsonObject(std::string& out, int depth) : out_(out), depth_(depth) { out_ += "{"; }
  ~JsonObject() { out_ += "\n" + std::string(2 * depth_, ' ') + "}"; }
  std::string& Key(const char* name) {
    out_ += first_ ? "\n" : ",\n";
    first_ = false;
    out_ += std::string(2 * (depth_ + 1), ' ') + "\"" + name + "\": ";
    return out_;
  }
  void Int(const char* name, int v) { Key(name) += std::to_string(v); }
  void Float(const char* name, float v) { Key(name) += JsonFloat(v); }

 private:
  std::string& out_;
  int depth_;
  bool first_ = true;
};

std::string TimeOfDay(int ms) {
  if (ms < 0) return Format("%d ms", ms);
  return Format("%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

std::string Degrees(float v, char positive, char negative) {
  return Format("%.6f %c", std::fabs(static_cast<double>(v)), v < 0 ? negative : positive);
}

}  // namespace

std::string Json(IQuorvex& decoder) {
  const State s = Read(decoder);
  std::string out;
  {
    JsonObject root(out, 0);
    root.Int("goodPackets", s.goodPackets);
    root.Int("badPackets", s.badPackets);
    root.Int("recordCount", s.records);
    {
      root.Key("position");
      JsonObject p(out, 1);
      p.Int("timeMs", s.timeMs);
      p.Float("longitude", s.longitude);
      p.Float("latitude", s.latitude);
      p.Float("altitude", s.altitude);
      p.Float("altitudeAboveLaunch", s.altitudeAboveLaunch);
      p.Float("heading", s.heading);
      p.Float("distance", s.distance);
      p.Float("distanceTravelled", s.distanceTravelled);
      p.Int("numSats", s.numSats);
    }
    {
      root.Key("launchSite");
      JsonObject l(out, 1);
      l.Float("longitude", s.launchLongitude);
      l.Float("latitude", s.launchLatitude);
      l.Float("altitude", s.launchAltitude);
    }
    {
      root.Key("uplink");
      JsonObject u(out, 1);
      u.Int("rssiValue1", s.rssiValue1);
      u.Int("rssiValue2", s.rssiValue2);
      u.Int("linkQuality", s.linkQuality);
      u.Int("nFailsafes", s.nFailsafes);
      u.Int("freqError", s.freqError);
      u.Int("iCurrentBin", s.iCurrentBin);
      u.Int("nGoodPacketsThisBin", s.nGoodPacketsThisBin);
      u.Int("nBadPacketsThisBin", s.nBadPacketsThisBin);
      // Only eight channel values travel in an uplink frame.
      std::string& channels = u.Key("channels");
      channels += "[";
      for (int i = 0; i < 8; ++i) channels += (i ? ", " : "") + std::to_string(s.channels[i]);
      channels += "]";
    }
    {
      root.Key("battery");
      JsonObject b(out, 1);
      b.Int("voltage", s.voltage);
      b.Int("capacityUsed", s.capacityUsed);
      b.Int("current", s.current);
    }
  }
  return out + "\n";
}

std::string Summary(IQuorvex& decoder, const std::string& mediaName) {
  const State s = Read(decoder);
  std::string out =
      mediaName + ": " +
      Format("%d frames decoded, %d bad, %d records\n", s.goodPackets, s.badPackets, s.records);
  if (s.goodPackets == 0) return out + "  no telemetry found (check --rate and --channel)\n";
  out += Format("  last fix    %s  %s  %s  %.1f m (%.1f m above launch)  %d satellites\n",
                TimeOfDay(s.timeMs).c_str(), Degrees(s.latitude, 'N', 'S').c_str(),
                Degrees(s.longitude, 'E', 'W').c_str(), static_cast<double>(s.altitude),
                static_cast<double>(s.altitudeAboveLaunch), s.numSats);
  out += Format("  course      %.0f deg, %.0f m from launch, %.0f m travelled\n",
                static_cast<double>(s.heading), static_cast<double>(s.distance),
                static_cast<double>(s.distanceTravelled));
  out +=
      Format("  launch site %s  %s  %.1f m\n", Degrees(s.launchLatitude, 'N', 'S').c_str(),
             Degrees(s.launchLongitude, 'E', 'W').c_str(), static_cast<double>(s.launchAltitude));
  out += Format("  uplink      RSSI %d/%d, link quality %d, %d failsafes\n", s.rssiValue1,
                s.rssiValue2, s.linkQuality, s.nFailsafes);
  out += Format("  battery     %.2f V, %d mAh used, %.2f A\n", s.voltage / 1000.0, s.capacityUsed,
                s.current / 1000.0);
  return out;
}

}  // namespace report

#include "tools/simulated_aircraft/flight_log.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <utility>

namespace simulated_aircraft {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr double kUnitsPerDegree = 600000.0;

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (true) {
    const auto comma = line.find(',');
    fields.push_back(Trim(line.substr(0, comma)));
    if (comma == std::string_view::npos) return fields;
    line.remove_prefix(comma + 1);
  }
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return r;
}

// Parses the fields of one row, each checked against its column's range.
class CRowReader {
 public:
  CRowReader(const std::string& source, int line, std::vector<std::string_view> fields)
      : source_(source), line_(line), fields_(std::move(fields)) {}

  void ExpectFields(const std::string& type, std::size_t count, const char* columns) const {
    if (fields_.size() - 1 != count) {
      Fail(type + " row needs " + std::to_string(count) + " fields after the type (" + columns +
           "), found " + std::to_string(fields_.size() - 1));
    }
  }

  std::int64_t Integer(std::size_t index, const char* column, std::int64_t low,
                       std::int64_t high) const {
    const std::string_view text = Field(index, column);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
      Fail(std::string(column) + " '" + std::string(text) + "' is not a whole number");
    }
    CheckRange(column, text, value, low, high);
    return value;
  }

  double Decimal(std::size_t index, const char* column, double low, double high) const {
    const std::string_view text = Field(index, column);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
      Fail(std::string(column) + " '" + std::string(text) + "' is not a number");
    }
    if (value < low || value > high) OutOfRange(column, text, low, high);
    return value;
  }

  std::int32_t TimeOfDay(std::size_t index, const char* column) const {
    const std::string_view text = Field(index, column);
    if (text.find(':') == std::string_view::npos) {
      return static_cast<std::int32_t>(Integer(index, column, 0, kMsPerDay - 1));
    }
    if (const auto ms = ParseClock(text)) return *ms;
    Fail(std::string(column) + " '" + std::string(text) +
         "' is neither milliseconds of the day nor a time hh:mm:ss[.fff]");
  }

  [[noreturn]] void Fail(const std::string& problem) const {
    throw FlightLogError(source_, line_, problem);
  }

 private:
  std::string_view Field(std::size_t index, const char* column) const {
    const std::string_view text = fields_.at(index);
    if (text.empty()) Fail(std::string(column) + " is empty");
    return text;
  }

  void CheckRange(const char* column, std::string_view text, std::int64_t value, std::int64_t low,
                  std::int64_t high) const {
    if (value < low || value > high) {
      OutOfRange(column, text, static_cast<double>(low), static_cast<double>(high));
    }
  }

  [[noreturn]] void OutOfRange(const char* column, std::string_view text, double low,
                               double high) const {
    auto number = [](double v) {
      std::string s = std::to_string(v);
      s.erase(s.find_last_not_of('0') + 1);
      if (s.back() == '.') s.pop_back();
      return s;
    };
    Fail(std::string(column) + " " + std::string(text) + " is out of range " + number(low) + ".." +
         number(high));
  }

  // hh:mm:ss with an optional fraction of up to three digits.
  static std::optional<std::int32_t> ParseClock(std::string_view text) {
    int parts[3] = {};
    std::string_view rest = text;
    for (int i = 0; i < 3; ++i) {
      const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), parts[i]);
      if (ec != std::errc() || end == rest.data() || end - rest.data() > 2) return std::nullopt;
      rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
      if (i < 2) {
        if (rest.empty() || rest.front() != ':') return std::nullopt;
        rest.remove_prefix(1);
      }
    }
    int ms = 0;
    if (!rest.empty()) {
      if (rest.front() != '.' || rest.size() < 2 || rest.size() > 4) return std::nullopt;
      int scale = 100;
      for (char c : rest.substr(1)) {
        if (c < '0' || c > '9') return std::nullopt;
        ms += (c - '0') * scale;
        scale /= 10;
      }
    }
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    return ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000 + ms;
  }

  const std::string& source_;
  int line_;
  std::vector<std::string_view> fields_;
};

std::int32_t ToUnits(double degrees) {
  return static_cast<std::int32_t>(std::lround(degrees * kUnitsPerDegree));
}

PositionRecord ReadPosition(const CRowReader& row) {
  row.ExpectFields("position", 5, "TIME,LAT,LON,ALT_CM,SATS");
  PositionRecord r{};
  r.timeMs = row.TimeOfDay(1, "TIME");
  r.latitude = ToUnits(row.Decimal(2, "LAT", -90, 90));
  r.longitude = ToUnits(row.Decimal(3, "LON", -180, 180));
  r.altitude = static_cast<std::int32_t>(row.Integer(4, "ALT_CM", INT32_MIN, INT32_MAX));
  r.numSats = static_cast<std::uint8_t>(row.Integer(5, "SATS", 0, 255));
  return r;
}

UplinkRecord ReadUplink(const CRowReader& row) {
  row.ExpectFields("uplink", 16,
                   "RSSI1,RSSI2,QUALITY,FAILSAFES,FREQ_ERROR,BIN,GOOD,BAD,CH1,...,CH8");
  UplinkRecord r{};
  r.rssiValue1 = static_cast<std::uint8_t>(row.Integer(1, "RSSI1", 0, 255));
  r.rssiValue2 = static_cast<std::uint8_t>(row.Integer(2, "RSSI2", 0, 255));
  r.linkQuality = static_cast<std::uint8_t>(row.Integer(3, "QUALITY", 0, 255));
  r.nFailsafes = static_cast<std::uint8_t>(row.Integer(4, "FAILSAFES", 0, 255));
  r.freqError = static_cast<std::int8_t>(row.Integer(5, "FREQ_ERROR", -128, 127));
  r.iCurrentBin = static_cast<std::uint8_t>(row.Integer(6, "BIN", 0, 255));
  r.nGoodPacketsThisBin = static_cast<std::int16_t>(row.Integer(7, "GOOD", -32768, 32767));
  r.nBadPacketsThisBin = static_cast<std::int16_t>(row.Integer(8, "BAD", -32768, 32767));
  static const char* const kChannels[] = {"CH1", "CH2", "CH3", "CH4", "CH5", "CH6", "CH7", "CH8"};
  for (std::size_t i = 0; i < 8; ++i) {
    r.channels[i] = static_cast<std::uint8_t>(row.Integer(9 + i, kChannels[i], 0, 255));
  }
  return r;
}

BatteryRecord ReadBattery(const CRowReader& row) {
  row.ExpectFields("battery", 3, "MV,MAH,MA");
  BatteryRecord r{};
  r.voltage = static_cast<std::uint16_t>(row.Integer(1, "MV", 0, 65535));
  r.capacityUsed = static_cast<std::uint16_t>(row.Integer(2, "MAH", 0, 65535));
  r.current = static_cast<std::int32_t>(row.Integer(3, "MA", INT32_MIN, INT32_MAX));
  return r;
}

}  // namespace

FlightLogError::FlightLogError(const std::string& source, int line, const std::string& problem)
    : std::runtime_error(line > 0 ? source + ":" + std::to_string(line) + ": " + problem
                                  : source + ": " + problem),
      line_(line) {}

std::vector<FlightFrame> ParseFlightLog(std::istream& in, const std::string& source) {
  std::vector<FlightFrame> frames;
  double pause = 0.0;
  std::string text;
  bool firstRow = true;
  for (int line = 1; std::getline(in, text); ++line) {
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    std::vector<std::string_view> fields = SplitFields(trimmed);
    const std::string_view typeField = fields.front();
    const std::string type = Lower(typeField);
    const CRowReader row(source, line, std::move(fields));
    const bool header = firstRow && type == "type";
    firstRow = false;
    if (header) continue;
    if (type == "pause") {
      row.ExpectFields("pause", 1, "MS");
      pause += static_cast<double>(row.Integer(1, "MS", 0, 3'600'000)) / 1000.0;
      continue;
    }
    FlightFrame frame;
    if (type == "position" || type == "1") {
      frame.record = ReadPosition(row);
    } else if (type == "uplink" || type == "3") {
      frame.record = ReadUplink(row);
    } else if (type == "battery" || type == "2") {
      frame.record = ReadBattery(row);
    } else {
      row.Fail("unknown row type '" + std::string(typeField) +
               "' (expected position, uplink, battery or pause)");
    }
    frame.pauseBefore = std::exchange(pause, 0.0);
    frames.push_back(frame);
  }
  if (in.bad()) throw FlightLogError(source, 0, "read error");
  if (frames.empty()) throw FlightLogError(source, 0, "holds no frames");
  return frames;
}

std::vector<FlightFrame> LoadFlightLog(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FlightLogError(path.string(), 0, "cannot be opened");
  return ParseFlightLog(in, path.string());
}

}  // namespace simulated_aircraft

#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/wire/slot_rates.h"

struct LaunchSite {
  float longitude = 0;
  float latitude = 0;
  float altitude = 0;
};

struct DecodeOptions {
  std::filesystem::path media;
  std::optional<std::filesystem::path> library;
  int slotRate = wire::kSlotRateNorm;
  int audioChannel = 1;  // 0 left, 1 right
  bool robust = false;   // --demodulator robust
  std::optional<LaunchSite> launch;
  std::optional<std::filesystem::path> csv;
  std::optional<std::filesystem::path> kml;
  std::optional<std::filesystem::path> nmea;
  std::optional<std::filesystem::path> gpx;
  std::optional<std::filesystem::path> srt;
  std::optional<std::filesystem::path> vtt;
  std::optional<std::filesystem::path> mux;
  std::optional<std::filesystem::path> kmlTrack;
  std::optional<std::filesystem::path> csvFull;
  std::vector<std::string> nmeaUdp;    // HOST[:PORT]
  std::optional<std::string> nmeaTcp;  // [ADDRESS:]PORT
  bool json = false;
  bool realtime = false;
};

struct HelpRequested {};
struct UsageError {
  std::string message;
};

using ParsedCommandLine = std::variant<DecodeOptions, HelpRequested, UsageError>;

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

extern const char kHelpText[];
extern const char kUsageLine[];

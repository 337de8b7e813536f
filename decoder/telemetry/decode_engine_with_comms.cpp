#include "decoder/telemetry/decode_engine_with_comms.h"

#include <cmath>
#include <cstdlib>

#include "common/user_folder.h"
#include "decoder/telemetry/nmea.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// 600000 × 180 ÷ π: 1/600000-degree units per radian.
constexpr double kUnitsPerRadian = 34377467.706;
constexpr double kEarthRadius = 6366833.142;

std::FILE* OpenNmeaFile(const std::filesystem::path& path) {
#if defined(_WIN32)
  // Binary, so the sentences' own CR LF are not doubled.
  return _wfopen(path.c_str(), L"wb");
#else
  // A symbolic link planted at the path must not redirect the log.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) ::close(fd);
  return f;
#endif
}

void WriteSentence(std::FILE* f, const std::string& sentence) {
  std::fwrite(sentence.data(), 1, sentence.size(), f);
}

}  // namespace

std::optional<std::filesystem::path> CDecodeEngineWithComms::DefaultNmeaPath() {
  if (const char* env = std::getenv("QUORVEX_NMEA_PATH"); env && *env)
    return std::filesystem::path(env);
#if defined(_WIN32)
  return std::filesystem::path(L"c:\\nmea.txt");
#else
  if (auto folder = PrivateTempFolder()) return *folder / "nmea.txt";
  return std::nullopt;
#endif
}

CDecodeEngineWithComms::CDecodeEngineWithComms(const std::optional<std::filesystem::path>& nmeaPath) {
  if (nmeaPath) nmeaFile_.reset(OpenNmeaFile(*nmeaPath));
}

CDecodeEngineWithComms::~CDecodeEngineWithComms() = default;

float CDecodeEngineWithComms::Distance(const PositionRecord& a, const PositionRecord& b) {
  const float latB = static_cast<float>(b.latitude / kUnitsPerRadian);
  const float c = static_cast<float>(std::cos(static_cast<double>(latB)));
  const float latA = static_cast<float>(a.latitude / kUnitsPerRadian);
  const float dLat = latB - latA;
  const float lonB = static_cast<float>(b.longitude / kUnitsPerRadian);
  const float lonA = static_cast<float>(a.longitude / kUnitsPerRadian);
  const float dx = (lonB - lonA) * c;
  const float sum = dLat * dLat + dx * dx;
  return static_cast<float>(static_cast<double>(std::sqrt(sum)) * kEarthRadius);
}

void CDecodeEngineWithComms::OverrideLaunchSite(std::int32_t latitude, std::int32_t longitude,
                                                std::int32_t altitude) {
  launchSite_.latitude = latitude;
  launchSite_.longitude = longitude;
  launchSite_.altitude = altitude;
}

void CDecodeEngineWithComms::SetSerialPort(BSTR portName) {
  serialPortRequested_ = true;
  if (portName != nullptr && portName == serialPortName_.Get()) return;
  serialPortName_ = portName ? ComBstr(std::u16string_view(portName, SysStringLen(portName)))
                             : ComBstr();
  if (serialPortName_.Length() == 0)
    serialSink_.Close();
  else
    serialSink_.Open(serialPortName_.View());
}

void CDecodeEngineWithComms::OnPosition(PositionRecord record) {
  positionHistory_[nextKey_++] = record;
  if (record.latitude == 0) distanceTravelled_ += 1.0f;
  track_.AddPoint(TrackPoint{record.latitude, record.longitude, record.altitude, {}});

  if (record.numSats >= 6 && launchSite_.numSats == 0) {
    launchSite_ = record;
    previousPosition_ = record;
    launchSiteValid_ = true;
  }
  if (launchSiteValid_) {
    float d = Distance(record, previousPosition_);
    if (d > 500.0f) d += 1.0f;
    distanceTravelled_ += d;
  }
  currentPosition_ = record;

  if (nmeaFile_ || serialSink_.IsOpen()) {
    const std::string rmc = nmea::RmcSentence(record);
    const std::string gga = nmea::GgaSentence(record);
    if (nmeaFile_) {
      WriteSentence(nmeaFile_.get(), rmc);
      WriteSentence(nmeaFile_.get(), gga);
      // Moving-map programs follow this file while the flight runs.
      std::fflush(nmeaFile_.get());
    }
    if (serialSink_.IsOpen()) {
      serialSink_.Write(ComBstr(rmc).Detach());
      serialSink_.Write(ComBstr(gga).Detach());
    }
  }

  // int64 differences: garbage frames may carry any int32 coordinates.
  const auto dLat = static_cast<std::int64_t>(currentPosition_.latitude) - previousPosition_.latitude;
  const auto dLon =
      static_cast<std::int64_t>(currentPosition_.longitude) - previousPosition_.longitude;
  const float y = static_cast<float>(static_cast<double>(dLon) *
                                     std::cos(previousPosition_.latitude / kUnitsPerRadian));
  const float angle = static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(dLat)));
  course_ = static_cast<float>(std::trunc(angle * 180.0 / 3.1415926));

  previousPosition_ = currentPosition_;
  if (previousPosition_.latitude == 0) distanceTravelled_ += 1.0f;
}

void CDecodeEngineWithComms::OnUplinkStatus(UplinkRecord record) {
  uplinkHistory_[nextKey_++] = record;
}

void CDecodeEngineWithComms::OnBatteryStatus(BatteryRecord record) {
  batteryHistory_[nextKey_++] = record;
}

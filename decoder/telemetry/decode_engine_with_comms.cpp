#include "decoder/telemetry/decode_engine_with_comms.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "common/iquorvex_nmea.h"
#include "platform/file/user_folder.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// 600000 × 180 ÷ π: 1/600000-degree units per radian.
constexpr double kUnitsPerRadian = 34377467.706;
constexpr double kEarthRadius = 6366833.142;

std::FILE* OpenNmeaFile(const std::filesystem::path& path, HRESULT& result) {
  result = E_FAIL;
#if defined(_WIN32)
  // Binary, so the sentences' own CR LF are not doubled.
  std::FILE* f = _wfopen(path.c_str(), L"wb");
#else
  // A symbolic link planted at the path must not redirect the log. Not
  // truncated here: a file another process holds stays as it is, and so
  // does one of a run that fails before its first fix. Opened without
  // blocking, so a pipe nobody reads fails here instead of hanging.
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // One writer per file: two would interleave their lines, and the one
    // that truncates last leaves the other's offset beyond the end, which
    // fills the gap with NUL bytes.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) result = QUORVEX_E_NMEA_LOCKED;
      ::close(fd);
      return nullptr;
    }
  }
  // Writes wait for a slow reader of a pipe rather than fail.
  if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) ::close(fd);
#endif
  if (f) result = S_OK;
  return f;
}

void WriteSentence(std::FILE* f, const std::string& sentence) {
  std::fwrite(sentence.data(), 1, sentence.size(), f);
}

}  // namespace

std::optional<std::filesystem::path> CDecodeEngineWithComms::DefaultNmeaPath() {
  if (const char* env = std::getenv("QUORVEX_NMEA_PATH")) {
    if (!*env) return std::nullopt;
    return std::filesystem::path(env);
  }
#if defined(_WIN32)
  return std::filesystem::path(L"c:\\nmea.txt");
#else
  if (auto folder = PrivateTempFolder()) return *folder / "nmea.txt";
  return std::nullopt;
#endif
}

CDecodeEngineWithComms::CDecodeEngineWithComms(const std::optional<std::filesystem::path>& nmeaPath)
    : nmeaPath_(nmeaPath) {
  if (nmeaPath_) nmeaFile_.reset(OpenNmeaFile(*nmeaPath_, nmeaOpenResult_));
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
  siteOverride_ = launchSite_;
  siteOverrideAfterFix_ = launchSiteValid_;
}

std::unique_ptr<CTelemetryComms> CDecodeEngineWithComms::ReplaceSerialSink(
    ComBstr portName, std::unique_ptr<CTelemetryComms> sink) {
  serialPortRequested_ = true;
  serialPortName_ = std::move(portName);
  serialSink_.swap(sink);
  return sink;
}

void CDecodeEngineWithComms::EmptyNmeaFile() {
#if !defined(_WIN32)
  // The old sentences go only now that new ones come. A device or a pipe
  // has nothing to empty.
  const int fd = ::fileno(nmeaFile_.get());
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    nmeaWriteResult_.store(HresultFromErrno(errno), std::memory_order_relaxed);
  }
#endif
}

void CDecodeEngineWithComms::AccumulatePosition(const PositionRecord& record) {
  if (record.latitude == 0) distanceTravelled_ += 1.0f;
  if (!trackClearedUpTo_ || keyPosition_.back() > *trackClearedUpTo_)
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

  // int64 differences: garbage frames may carry any int32 coordinates.
  const auto dLat =
      static_cast<std::int64_t>(currentPosition_.latitude) - previousPosition_.latitude;
  const auto dLon =
      static_cast<std::int64_t>(currentPosition_.longitude) - previousPosition_.longitude;
  const float y = static_cast<float>(static_cast<double>(dLon) *
                                     std::cos(previousPosition_.latitude / kUnitsPerRadian));
  const float angle =
      static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(dLat)));
  course_ = static_cast<float>(std::trunc(angle * 180.0 / 3.1415926));

  previousPosition_ = currentPosition_;
  if (previousPosition_.latitude == 0) distanceTravelled_ += 1.0f;
}

template <typename Drop>
void CDecodeEngineWithComms::Reorder(Drop drop) {
  std::vector<std::int32_t> order;
  order.reserve(keyPosition_.size());
  for (std::int32_t k = 0; k < nextKey_; ++k)
    if (!drop(k)) order.push_back(k);
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    return keyPosition_[static_cast<std::size_t>(a)] < keyPosition_[static_cast<std::size_t>(b)];
  });
  auto positions = std::move(positionHistory_);
  auto uplinks = std::move(uplinkHistory_);
  auto batteries = std::move(batteryHistory_);
  const auto keyPositions = std::move(keyPosition_);
  positionHistory_.clear();
  uplinkHistory_.clear();
  batteryHistory_.clear();
  keyPosition_.clear();
  nextKey_ = 0;

  // As before the first record, but for a launch site the pilot set before
  // any fix did; one set later is put back over the replayed one below.
  launchSite_ = siteOverride_ && !siteOverrideAfterFix_ ? *siteOverride_ : PositionRecord{};
  launchSiteValid_ = false;
  currentPosition_ = {};
  previousPosition_ = {};
  distanceTravelled_ = 0.0f;
  course_ = 0.0f;
  track_.Clear();
  UplinkRecord uplink{};
  BatteryRecord battery{};
  for (const std::int32_t old : order) {
    const std::int32_t key = nextKey_++;
    keyPosition_.push_back(keyPositions[static_cast<std::size_t>(old)]);
    if (const auto p = positions.find(old); p != positions.end()) {
      positionHistory_[key] = p->second;
      AccumulatePosition(p->second);
    } else if (const auto u = uplinks.find(old); u != uplinks.end()) {
      uplinkHistory_[key] = uplink = u->second;
    } else if (const auto b = batteries.find(old); b != batteries.end()) {
      batteryHistory_[key] = battery = b->second;
    }
  }
  SetLatest(uplink, battery);
  if (siteOverride_ && siteOverrideAfterFix_)
    OverrideLaunchSite(siteOverride_->latitude, siteOverride_->longitude, siteOverride_->altitude);
}

void CDecodeEngineWithComms::OnPosition(PositionRecord record) {
  const std::int32_t key = nextKey_++;
  positionHistory_[key] = record;
  const bool inOrder =
      !streamPosition_ || keyPosition_.empty() || *streamPosition_ >= keyPosition_.back();
  keyPosition_.push_back(streamPosition_.value_or(keyPosition_.empty() ? 0 : keyPosition_.back()));
  if (inOrder) AccumulatePosition(record);
  Stored(key);

  {
    // Formed for every fix, wherever in the recording it lies: the element
    // posts them for network outputs, which follow what is playing.
    latestSentences_ = sentences_.For(record);
    const auto& [rmc, gga] = latestSentences_;
    if (nmeaFile_ && !nmeaEmptied_) {
      nmeaEmptied_ = true;
      EmptyNmeaFile();
    }
    if (nmeaFile_ && SUCCEEDED(nmeaWriteResult_.load(std::memory_order_relaxed))) {
      WriteSentence(nmeaFile_.get(), rmc);
      WriteSentence(nmeaFile_.get(), gga);
      // Moving-map programs follow this file while the flight runs.
      errno = 0;
      if (std::fflush(nmeaFile_.get()) != 0 || std::ferror(nmeaFile_.get())) {
        // A full disk or a device gone: the rest would be lost the same way,
        // and whoever asks learns why.
        nmeaWriteResult_.store(HresultFromErrno(errno != 0 ? errno : EIO),
                               std::memory_order_relaxed);
      }
    }
    if (serialSink_->IsOpen()) {
      serialSink_->Write(ComBstr(rmc).Detach());
      serialSink_->Write(ComBstr(gga).Detach());
    }
    for (const auto& output : network_) {
      if (output) output->Send(rmc + gga);
    }
  }
}

void CDecodeEngineWithComms::OnUplinkStatus(UplinkRecord record) {
  const std::int32_t key = nextKey_++;
  uplinkHistory_[key] = record;
  keyPosition_.push_back(streamPosition_.value_or(keyPosition_.empty() ? 0 : keyPosition_.back()));
  Stored(key);
}

void CDecodeEngineWithComms::OnBatteryStatus(BatteryRecord record) {
  const std::int32_t key = nextKey_++;
  batteryHistory_[key] = record;
  keyPosition_.push_back(streamPosition_.value_or(keyPosition_.empty() ? 0 : keyPosition_.back()));
  Stored(key);
}

void CDecodeEngineWithComms::Stored(std::int32_t key) {
  ++storedCount_;
  lastStoredKey_ = key;
  const std::int64_t at = keyPosition_.back();
  if (keyPosition_.size() < 2 || at >= keyPosition_[keyPosition_.size() - 2]) return;
  // Records completed at the same place keep the order they came in, so the
  // new one goes after them.
  std::int32_t place = 0;
  for (std::int32_t k = 0; k < key; ++k)
    if (keyPosition_[static_cast<std::size_t>(k)] <= at) ++place;
  Reorder([](std::int32_t) { return false; });
  lastStoredKey_ = place;
}

std::int32_t CDecodeEngineWithComms::DropRecords(std::int64_t from, std::int64_t to) {
  std::int32_t dropped = 0;
  for (const std::int64_t at : keyPosition_)
    if (at >= from && at < to) ++dropped;
  if (dropped == 0) return 0;
  const std::vector<std::int64_t> positions = keyPosition_;
  Reorder([&](std::int32_t key) {
    const std::int64_t at = positions[static_cast<std::size_t>(key)];
    return at >= from && at < to;
  });
  lastStoredKey_ = nextKey_ - 1;
  return dropped;
}

void CDecodeEngineWithComms::ClearTrack() {
  track_.Clear();
  // Live audio has no recording positions to tell old records from new.
  if (streamPosition_ && !keyPosition_.empty()) {
    const std::int64_t last = *std::max_element(keyPosition_.begin(), keyPosition_.end());
    trackClearedUpTo_ = std::max(trackClearedUpTo_.value_or(last), last);
  }
}

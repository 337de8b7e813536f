#include "decoder/control_interface/quorvex_control.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "common/frame_csv_writer.h"
#include "platform/com/utf.h"
#include "platform/file/atomic_file.h"

namespace {

constexpr double kUnitsPerDegree = 600000.0;
constexpr double kCentimetresPerMetre = 100.0;

float Degrees(std::int32_t units) { return static_cast<float>(units / kUnitsPerDegree); }
float Metres(std::int64_t centimetres) {
  return static_cast<float>(static_cast<double>(centimetres) / kCentimetresPerMetre);
}

// Truncation toward zero into the int32 units the decoder keeps; nullopt
// when the value has no such representation (NaN, infinite, out of range).
std::optional<std::int32_t> ToUnits(float value, double scale) {
  const double scaled = std::trunc(static_cast<double>(value) * scale);
  if (!(scaled >= std::numeric_limits<std::int32_t>::min() &&
        scaled <= std::numeric_limits<std::int32_t>::max()))
    return std::nullopt;
  return static_cast<std::int32_t>(scaled);
}

void ReadUplink(const UplinkRecord& r, int* rssiValue1, int* rssiValue2, int* linkQuality,
                int* nFailsafes, int* freqError, int* iCurrentBin, int* nGoodPacketsThisBin,
                int* nBadPacketsThisBin) {
  *rssiValue1 = r.rssiValue1;
  *rssiValue2 = r.rssiValue2;
  *linkQuality = r.linkQuality;
  *nFailsafes = r.nFailsafes;
  *freqError = r.freqError;
  *iCurrentBin = r.iCurrentBin;
  *nGoodPacketsThisBin = r.nGoodPacketsThisBin;
  *nBadPacketsThisBin = r.nBadPacketsThisBin;
}

void ReadBattery(const BatteryRecord& r, int* voltage, int* capacityUsed, int* current) {
  *voltage = r.voltage;
  *capacityUsed = r.capacityUsed;
  *current = r.current;
}

// One TCP server per endpoint in the process: the viewer makes the next
// decoder while the last one still holds the port, and the clients (gpsd,
// a moving map) stay connected from one recording to the next.
std::shared_ptr<NmeaNetwork> SharedTcpServer(const std::string& endpoint, std::string& why) {
  static std::mutex lock;
  static std::map<std::string, std::weak_ptr<NmeaNetwork>> servers;
  std::lock_guard guard(lock);
  std::erase_if(servers, [](const auto& entry) { return entry.second.expired(); });
  if (auto server = servers[endpoint].lock()) return server;
  auto server = std::make_shared<NmeaNetwork>();
  why = server->ListenTcp(endpoint);
  if (!why.empty()) {
    servers.erase(endpoint);
    return nullptr;
  }
  servers[endpoint] = server;
  return server;
}

}  // namespace

CQuorvexControl::CQuorvexControl(const std::optional<std::filesystem::path>& nmeaPath)
    : engine_(nmeaPath) {}

CQuorvexControl::~CQuorvexControl() = default;

void CQuorvexControl::SetSampleRate(std::uint32_t rate) {
  std::lock_guard guard(lock_);
  engine_.SetSampleRate(rate);
  robust_.SetSampleRate(rate);
  timelineSlack_ = std::max<std::int64_t>(1, rate / 50);
}

std::int32_t CQuorvexControl::SlotRate() const {
  std::lock_guard guard(lock_);
  return engine_.SlotRate();
}

CQuorvexControl::DecodedFrame CQuorvexControl::FrameAt(std::int32_t key,
                                                       std::size_t sampleFrame) const {
  DecodedFrame frame;
  frame.key = key;
  frame.sampleFrame = sampleFrame;
  if (const auto p = engine_.PositionHistory().find(key); p != engine_.PositionHistory().end()) {
    frame.type = kFramePosition;
    frame.position = p->second;
    const PositionRecord& site = engine_.LaunchSite();
    frame.launchSiteKnown = engine_.LaunchSiteValid();
    // Only the latest fix has its sentences at hand, and a buffer that
    // stores two fixes between samples does not happen at any slot rate.
    if (key == engine_.NextKey() - 1)
      frame.nmea = engine_.LatestSentences().rmc + engine_.LatestSentences().gga;
    frame.altitudeAboveLaunch =
        Metres(static_cast<std::int64_t>(p->second.altitude) - site.altitude);
    frame.distance = CDecodeEngineWithComms::Distance(p->second, site);
  } else if (const auto u = engine_.UplinkHistory().find(key); u != engine_.UplinkHistory().end()) {
    frame.type = kFrameUplink;
    frame.uplink = u->second;
  } else if (const auto b = engine_.BatteryHistory().find(key);
             b != engine_.BatteryHistory().end()) {
    frame.type = kFrameBattery;
    frame.battery = b->second;
  }
  return frame;
}

void CQuorvexControl::ProcessBuffer(const std::int16_t* input, std::int16_t* output,
                                    std::size_t values, int channels,
                                    std::optional<std::int64_t> firstFrame,
                                    std::vector<DecodedFrame>* decoded) {
  if (channels < 1) return;
  const auto stride = static_cast<std::size_t>(channels);
  const std::size_t offset = channels == 2 ? static_cast<std::size_t>(AudioChannel()) : 0;
  const std::size_t whole = values - values % stride;
  const double gain = PassThroughGain();
  std::lock_guard guard(lock_);
  // Decoding resumes on the very frame where it stopped, so the demodulator
  // sees the recording as one unbroken stream however the pilot seeks.
  std::size_t decodeFrom = 0;
  if (recordingTimeline_ && firstFrame) {
    const auto frames = static_cast<std::int64_t>(whole / stride);
    // Containers keep time stamps in milliseconds: a buffer that starts
    // within the slack of where the last one ended follows it, and only a
    // larger step is a seek.
    std::int64_t position = *firstFrame;
    if (nextFrame_ && std::abs(*firstFrame - *nextFrame_) <= timelineSlack_) position = *nextFrame_;
    nextFrame_ = position + frames;
    const std::int64_t behind = std::clamp<std::int64_t>(decodedUpTo_ - position, 0, frames);
    decodeFrom = static_cast<std::size_t>(behind) * stride;
    decodedUpTo_ = std::max(decodedUpTo_, position + frames);
  }
  std::int32_t stored = engine_.NextKey();
  const bool robust = demodulator_.load(std::memory_order_relaxed) == kQuorvexDemodulatorRobust;
  for (std::size_t i = 0; i < whole; i += stride) {
    // Read before writing: output may alias input.
    if (i >= decodeFrom) {
      if (robust) {
        robust_.ProcessSample(input[i + offset]);
      } else {
        engine_.ProcessSample(input[i + offset]);
      }
    }
    for (std::size_t k = i; k < i + stride; ++k)
      output[k] = static_cast<std::int16_t>(input[k] * gain);
    // Every stored frame takes the next key, so a new key is a new frame.
    if (decoded && engine_.NextKey() != stored) {
      for (; stored != engine_.NextKey(); ++stored) decoded->push_back(FrameAt(stored, i / stride));
    }
  }
  for (std::size_t k = whole; k < values; ++k)
    output[k] = static_cast<std::int16_t>(input[k] * gain);
}

HRESULT CQuorvexControl::SetSerialPort(BSTR portName) {
  {
    std::lock_guard guard(lock_);
    if (engine_.HoldsSerialPortName(portName)) {
      engine_.MarkSerialPortRequested();
      return S_OK;
    }
  }
  ComBstr name =
      portName ? ComBstr(std::u16string_view(portName, SysStringLen(portName))) : ComBstr();
  auto sink = std::make_unique<CTelemetryComms>();
  if (name.Length() != 0) sink->Open(name.View());
  std::unique_ptr<CTelemetryComms> replaced;
  {
    std::lock_guard guard(lock_);
    replaced = engine_.ReplaceSerialSink(std::move(name), std::move(sink));
  }
  // Closing a terminal may wait for its output to drain: after the unlock.
  replaced.reset();
  return S_OK;
}

HRESULT CQuorvexControl::GetPacketCounts(int* goodPackets, int* badPackets) {
  std::lock_guard guard(lock_);
  *goodPackets = engine_.GoodFrames();
  *badPackets = engine_.BadFrames();
  return S_OK;
}

void CQuorvexControl::ReadPosition(const PositionRecord& r, int* timeMs, float* longitude,
                                   float* latitude, float* altitude, float* altitudeAboveLaunch,
                                   float* distance, int* numSats) const {
  const PositionRecord& site = engine_.LaunchSite();
  *timeMs = r.timeMs;
  *longitude = Degrees(r.longitude);
  *latitude = Degrees(r.latitude);
  *altitude = Metres(r.altitude);
  // The difference is taken in whole centimetres before the division.
  *altitudeAboveLaunch = Metres(static_cast<std::int64_t>(r.altitude) - site.altitude);
  *distance = std::trunc(CDecodeEngineWithComms::Distance(r, site));
  *numSats = r.numSats;
}

HRESULT CQuorvexControl::GetPosition(int* timeMs, float* longitude, float* latitude,
                                     float* altitude, float* altitudeAboveLaunch, float* heading,
                                     float* distance, float* distanceTravelled, int* numSats) {
  std::lock_guard guard(lock_);
  ReadPosition(engine_.CurrentPosition(), timeMs, longitude, latitude, altitude,
               altitudeAboveLaunch, distance, numSats);
  *heading = engine_.Course();
  *distanceTravelled = engine_.DistanceTravelled();
  return S_OK;
}

HRESULT CQuorvexControl::WriteTrackKml(BSTR path) {
  if (SysStringLen(path) == 0) return E_FAIL;
  std::string document;
  {
    // The points' text is formatted as they arrive: assembling the document
    // is a copy, and the write (of a long flight, to a slow disk) waits
    // outside the lock.
    std::lock_guard guard(lock_);
    document = engine_.Track().TrackDocument(u"Aviquent", false, false);
  }
  return KmlWriter::WriteDocumentFile(std::u16string_view(path, SysStringLen(path)), document);
}

HRESULT CQuorvexControl::ClearTrack() {
  std::lock_guard guard(lock_);
  engine_.Track().Clear();
  return S_OK;
}

HRESULT CQuorvexControl::GetUplinkStatus(int* rssiValue1, int* rssiValue2, int* linkQuality,
                                         int* nFailsafes, int* freqError, int* iCurrentBin,
                                         int* nGoodPacketsThisBin, int* nBadPacketsThisBin,
                                         int channels[12]) {
  std::lock_guard guard(lock_);
  const UplinkRecord& r = engine_.LatestUplink();
  ReadUplink(r, rssiValue1, rssiValue2, linkQuality, nFailsafes, freqError, iCurrentBin,
             nGoodPacketsThisBin, nBadPacketsThisBin);
  for (int i = 0; i < 8; ++i) channels[i] = r.channels[i];
  // The link carries eight channels; the rest read as zero.
  for (int i = 8; i < 12; ++i) channels[i] = 0;
  return S_OK;
}

HRESULT CQuorvexControl::GetBatteryStatus(int* voltage, int* capacityUsed, int* current) {
  std::lock_guard guard(lock_);
  ReadBattery(engine_.LatestBattery(), voltage, capacityUsed, current);
  return S_OK;
}

HRESULT CQuorvexControl::SetAudioChannel(int channel) {
  // Any other value would index past the sample frame.
  if (channel != 0 && channel != 1) return E_INVALIDARG;
  audioChannel_.store(channel, std::memory_order_relaxed);
  return S_OK;
}

HRESULT CQuorvexControl::GetPositionAt(int key, int* timeMs, float* longitude, float* latitude,
                                       float* altitude, float* altitudeAboveLaunch, float* heading,
                                       float* distance, int* numSats) {
  std::lock_guard guard(lock_);
  const auto& history = engine_.PositionHistory();
  const auto it = history.lower_bound(key);
  if (it == history.end() || it->first != key) return S_FALSE;
  ReadPosition(it->second, timeMs, longitude, latitude, altitude, altitudeAboveLaunch, distance,
               numSats);
  *heading = 0.0f;
  return S_OK;
}

HRESULT CQuorvexControl::GetUplinkStatusAt(int key, int* rssiValue1, int* rssiValue2,
                                           int* linkQuality, int* nFailsafes, int* freqError,
                                           int* iCurrentBin, int* nGoodPacketsThisBin,
                                           int* nBadPacketsThisBin) {
  std::lock_guard guard(lock_);
  const auto& history = engine_.UplinkHistory();
  const auto it = history.lower_bound(key);
  if (it == history.end() || it->first != key) return S_FALSE;
  ReadUplink(it->second, rssiValue1, rssiValue2, linkQuality, nFailsafes, freqError, iCurrentBin,
             nGoodPacketsThisBin, nBadPacketsThisBin);
  return S_OK;
}

HRESULT CQuorvexControl::GetBatteryStatusAt(int key, int* voltage, int* capacityUsed,
                                            int* current) {
  std::lock_guard guard(lock_);
  const auto& history = engine_.BatteryHistory();
  const auto it = history.lower_bound(key);
  if (it == history.end() || it->first != key) return S_FALSE;
  ReadBattery(it->second, voltage, capacityUsed, current);
  return S_OK;
}

HRESULT CQuorvexControl::GetRecordCount(int* count) {
  std::lock_guard guard(lock_);
  *count = engine_.NextKey();
  return S_OK;
}

HRESULT CQuorvexControl::SetBitRate(int slotRate) {
  // The slot clock cannot run on a rate that is not positive.
  if (slotRate <= 0) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  engine_.SetSlotRate(slotRate);
  robust_.SetSlotRate(slotRate);
  return S_OK;
}

void CQuorvexControl::FinishStream() {
  std::lock_guard guard(lock_);
  robust_.Flush();
}

HRESULT CQuorvexControl::SetDemodulator(int demodulator) {
  if (demodulator != kQuorvexDemodulatorSeed && demodulator != kQuorvexDemodulatorRobust)
    return E_INVALIDARG;
  std::lock_guard guard(lock_);
  // Audio the robust demodulator held from an earlier turn is not
  // continuous with what comes next.
  if (demodulator != demodulator_.exchange(demodulator)) robust_.Reset();
  return S_OK;
}

HRESULT CQuorvexControl::GetDemodulator(int* demodulator) {
  if (!demodulator) return E_POINTER;
  *demodulator = demodulator_.load();
  return S_OK;
}

HRESULT CQuorvexControl::GetLaunchSite(float* longitude, float* latitude, float* altitude) {
  std::lock_guard guard(lock_);
  const PositionRecord& site = engine_.LaunchSite();
  *longitude = Degrees(site.longitude);
  *latitude = Degrees(site.latitude);
  *altitude = Metres(site.altitude);
  return S_OK;
}

HRESULT CQuorvexControl::SetRecordingTime(std::int64_t utcSeconds) {
  std::lock_guard guard(lock_);
  engine_.SetRecordingTime(std::chrono::sys_seconds(std::chrono::seconds(utcSeconds)));
  return S_OK;
}

HRESULT CQuorvexControl::GetNmeaFile(BSTR* path, HRESULT* openResult) {
  // Fixed at construction, or atomic: no lock needed.
  if (path) {
    const auto& nmeaPath = engine_.NmeaPath();
    *path = nmeaPath ? ComBstr(std::string_view(nmeaPath->string())).Detach() : nullptr;
  }
  if (openResult) {
    const HRESULT opened = engine_.NmeaOpenResult();
    *openResult = FAILED(opened) ? opened : engine_.NmeaWriteResult();
  }
  return S_OK;
}

HRESULT CQuorvexControl::SetLaunchSite(float longitude, float latitude, float altitude) {
  const auto lon = ToUnits(longitude, kUnitsPerDegree);
  const auto lat = ToUnits(latitude, kUnitsPerDegree);
  const auto alt = ToUnits(altitude, kCentimetresPerMetre);
  // A value beyond the int32 units (from a garbled entry) would be undefined
  // to convert; the site stays as it was.
  if (!lon || !lat || !alt) return E_INVALIDARG;
  std::lock_guard guard(lock_);
  engine_.OverrideLaunchSite(*lat, *lon, *alt);
  return S_OK;
}

HRESULT CQuorvexControl::GetPositionFrameCount(int* count) {
  if (!count) return E_POINTER;
  std::lock_guard guard(lock_);
  *count = static_cast<int>(
      std::min<std::size_t>(engine_.PositionHistory().size(), std::numeric_limits<int>::max()));
  return S_OK;
}

HRESULT CQuorvexControl::SetRecordingTimeline(BOOL enabled) {
  std::lock_guard guard(lock_);
  recordingTimeline_ = enabled != 0;
  return S_OK;
}

TelemetryFrame CQuorvexControl::TelemetryFrameOf(const DecodedFrame& frame,
                                                 std::optional<double> streamSeconds) {
  TelemetryFrame f;
  f.streamSeconds = streamSeconds;
  switch (frame.type) {
    case kFramePosition: {
      const PositionRecord& p = frame.position;
      f.type = TelemetryFrame::Type::kPosition;
      f.timeOfDayMs = p.timeMs;
      f.latitude = p.latitude / kUnitsPerDegree;
      f.longitude = p.longitude / kUnitsPerDegree;
      f.altitude = p.altitude / kCentimetresPerMetre;
      f.satellites = p.numSats;
      f.launchSiteKnown = frame.launchSiteKnown;
      if (frame.launchSiteKnown) {
        f.altitudeAboveLaunch = frame.altitudeAboveLaunch;
        f.distance = frame.distance;
      }
      break;
    }
    case kFrameUplink: {
      const UplinkRecord& u = frame.uplink;
      f.type = TelemetryFrame::Type::kUplink;
      f.rssi1 = u.rssiValue1;
      f.rssi2 = u.rssiValue2;
      f.linkQuality = u.linkQuality;
      f.failsafes = u.nFailsafes;
      f.frequencyError = u.freqError;
      f.bin = u.iCurrentBin;
      f.goodPackets = u.nGoodPacketsThisBin;
      f.badPackets = u.nBadPacketsThisBin;
      break;
    }
    case kFrameBattery: {
      const BatteryRecord& b = frame.battery;
      f.type = TelemetryFrame::Type::kBattery;
      f.voltageMv = b.voltage;
      f.capacityUsedMah = b.capacityUsed;
      f.currentMa = b.current;
      break;
    }
  }
  return f;
}

void CQuorvexControl::LogFrames(std::span<const TelemetryFrame> frames) {
  if (frames.empty()) return;
  std::lock_guard guard(lock_);
  frameLog_.insert(frameLog_.end(), frames.begin(), frames.end());
}

HRESULT CQuorvexControl::GetFrameCount(int* count) {
  if (!count) return E_POINTER;
  std::lock_guard guard(lock_);
  *count =
      static_cast<int>(std::min<std::size_t>(frameLog_.size(), std::numeric_limits<int>::max()));
  return S_OK;
}

HRESULT CQuorvexControl::WriteFrameCsv(int frameCount, BSTR path) {
  if (SysStringLen(path) == 0) return E_INVALIDARG;
  std::vector<TelemetryFrame> frames;
  {
    // A copy: the document is made and written (a long flight, a slow disk)
    // while the audio goes on being decoded.
    std::lock_guard guard(lock_);
    const auto count =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(frameCount, 0)), frameLog_.size());
    frames.assign(frameLog_.begin(), frameLog_.begin() + static_cast<std::ptrdiff_t>(count));
  }
  const std::filesystem::path target(std::u16string(path, SysStringLen(path)));
  if (ReplaceFileContents(target, frame_csv::Document(frames))) return S_OK;
  return HresultFromErrno(errno != 0 ? errno : EIO);
}

HRESULT CQuorvexControl::SetNmeaNetwork(BSTR udpDestination, BSTR tcpEndpoint, BSTR* error) {
  if (error) *error = nullptr;
  const auto text = [](BSTR value) {
    return value ? Utf16ToUtf8(std::u16string_view(value, SysStringLen(value))) : std::string();
  };
  const std::string udp = text(udpDestination);
  const std::string tcp = text(tcpEndpoint);
  const auto fail = [error](HRESULT hr, const std::string& why) {
    if (error) *error = ComBstr(std::string_view(why)).Detach();
    return hr;
  };
  std::lock_guard setting(networkSetting_);
  const bool udpChanged = udp != udpDestination_;
  const bool tcpChanged = tcp != tcpEndpoint_;
  if (!udpChanged && !tcpChanged) return S_OK;
  if (!udp.empty()) {
    if (std::string why = NmeaNetwork::CheckUdp(udp); !why.empty()) return fail(E_INVALIDARG, why);
  }
  if (!tcp.empty()) {
    if (std::string why = NmeaNetwork::CheckTcp(tcp); !why.empty()) return fail(E_INVALIDARG, why);
  }
  // Made in full before anything is replaced, so that a failure leaves the
  // outputs as they were; an unchanged output keeps its socket and clients.
  std::shared_ptr<NmeaNetwork> udpOutput, tcpOutput;
  if (udpChanged && !udp.empty()) {
    udpOutput = std::make_shared<NmeaNetwork>();
    if (std::string why = udpOutput->AddUdp(udp); !why.empty()) return fail(E_FAIL, why);
  }
  if (tcpChanged && !tcp.empty()) {
    std::string why;
    tcpOutput = SharedTcpServer(tcp, why);
    if (!tcpOutput) return fail(E_FAIL, why);
  }
  {
    std::lock_guard guard(lock_);
    if (udpChanged) udpOutput = engine_.ReplaceNetwork(NetworkOutput::kUdp, std::move(udpOutput));
    if (tcpChanged) tcpOutput = engine_.ReplaceNetwork(NetworkOutput::kTcp, std::move(tcpOutput));
  }
  udpDestination_ = udp;
  tcpEndpoint_ = tcp;
  // The replaced outputs close on the way out, after the unlock.
  return S_OK;
}

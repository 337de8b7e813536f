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
  // A graph may settle its buffers twice before it plays: the same rate
  // again must not make the demodulators forget the audio they hold.
  if (rate == engine_.SampleRate()) return;
  // Sample frames of another rate: where the stretches lie means nothing.
  spans_.clear();
  cursor_.reset();
  flushedAt_.clear();
  nextFrame_.reset();
  engine_.SetSampleRate(rate);
  robust_.SetSampleRate(rate);
  timelineSlack_ = std::max<std::int64_t>(1, rate / 50);
  retained_ = std::size_t{rate} * 2;
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
    if (key == engine_.LastStoredKey())
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

void CQuorvexControl::Report(std::size_t sampleFrame, std::optional<std::int64_t> recordingFrame,
                             std::vector<DecodedFrame>* decoded) {
  const std::int64_t stored = engine_.StoredCount();
  if (stored == reported_) return;
  if (decoded) {
    const std::size_t first = decoded->size();
    if (stored - reported_ == 1) {
      decoded->push_back(FrameAt(engine_.LastStoredKey(), sampleFrame));
    } else {
      // Several frames on one sample come only at the end of the audio,
      // after all the others.
      for (auto key = static_cast<std::int32_t>(engine_.NextKey() - (stored - reported_));
           key < engine_.NextKey(); ++key)
        decoded->push_back(FrameAt(key, sampleFrame));
    }
    for (std::size_t i = first; i < decoded->size(); ++i)
      (*decoded)[i].recordingFrame = recordingFrame;
  }
  reported_ = stored;
}

std::int32_t CQuorvexControl::DropRecords(std::int64_t from, std::int64_t to) {
  const std::int32_t dropped = engine_.DropRecords(from, to);
  reported_ = engine_.StoredCount();
  if (dropped == 0) return 0;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < frameLog_.size(); ++i) {
    if (frameLogPlaces_[i] >= from && frameLogPlaces_[i] < to) continue;
    frameLog_[kept] = std::move(frameLog_[i]);
    frameLogPlaces_[kept++] = frameLogPlaces_[i];
  }
  frameLog_.resize(kept);
  frameLogPlaces_.resize(kept);
  return dropped;
}

void CQuorvexControl::Retain(Span& span, std::int16_t sample) {
  if (span.head.size() < retained_) span.head.push_back(sample);
  span.tail.push_back(sample);
  if (span.tail.size() > 2 * retained_)
    span.tail.erase(span.tail.begin(),
                    span.tail.begin() + static_cast<std::ptrdiff_t>(span.tail.size() - retained_));
}

void CQuorvexControl::Restart(const Span* before, std::int64_t at, bool robust) {
  engine_.ResetSync();
  robust_.Reset();
  if (flushedAt_.erase(at) != 0) {
    // Read out early at the end of the audio; the read taken up again
    // finds them whole.
    const std::int32_t dropped = DropRecords(at, at + 1);
    engine_.SetCounts(engine_.GoodFrames() - dropped, engine_.BadFrames());
  }
  if (before) {
    const std::size_t from = before->tail.size() - std::min(before->tail.size(), retained_);
    engine_.SetMuted(true);
    for (std::size_t k = from; k < before->tail.size(); ++k) Demodulate(before->tail[k], robust);
    engine_.SetMuted(false);
  }
  cursor_ = at;
}

void CQuorvexControl::Join(Span& span, std::map<std::int64_t, Span>::iterator next,
                           std::int64_t bufferStart, bool robust,
                           std::vector<DecodedFrame>* decoded) {
  const std::int64_t from = next->first;
  Span later = std::move(next->second);
  spans_.erase(next);
  const auto length = later.end - from;
  const auto read = static_cast<std::int64_t>(later.head.size());
  const std::int32_t good = engine_.GoodFrames();
  const std::int32_t bad = engine_.BadFrames();
  const std::int32_t dropped = DropRecords(from, from + read);
  for (std::int64_t k = 0; k < read; ++k) {
    const std::int16_t sample = later.head[static_cast<std::size_t>(k)];
    engine_.SetStreamPosition(from + k);
    Demodulate(sample, robust);
    Retain(span, sample);
    Report(static_cast<std::size_t>(from + k - bufferStart), from + k, decoded);
  }
  // The frames read again replace the ones dropped; a frame the cold start
  // lost is now counted, and a loss it counted stays counted.
  engine_.SetCounts(good - dropped + (engine_.GoodFrames() - good), bad);
  span.end = later.end;
  if (read == length) {
    cursor_ = later.end;
  } else {
    span.tail = std::move(later.tail);
    cursor_.reset();
  }
}

void CQuorvexControl::ProcessBuffer(const std::int16_t* input, std::int16_t* output,
                                    std::size_t values, int channels,
                                    std::optional<std::int64_t> firstFrame,
                                    std::vector<DecodedFrame>* decoded) {
  if (channels < 1) return;
  const auto stride = static_cast<std::size_t>(channels);
  const std::size_t offset = channels == 2 ? static_cast<std::size_t>(AudioChannel()) : 0;
  const std::size_t whole = values - values % stride;
  const auto frames = static_cast<std::int64_t>(whole / stride);
  const double gain = PassThroughGain();
  std::lock_guard guard(lock_);
  const bool robust = demodulator_.load(std::memory_order_relaxed) == kQuorvexDemodulatorRobust;
  reported_ = engine_.StoredCount();
  if (!recordingTimeline_ || !firstFrame) {
    engine_.SetStreamPosition(std::nullopt);
    for (std::int64_t f = 0; f < frames; ++f) {
      Demodulate(input[static_cast<std::size_t>(f) * stride + offset], robust);
      Report(static_cast<std::size_t>(f), std::nullopt, decoded);
    }
  } else {
    // Containers keep time stamps in milliseconds: a buffer that starts
    // within the slack of where the last one ended follows it, and only a
    // larger step is a seek.
    std::int64_t position = *firstFrame;
    if (nextFrame_ && std::abs(*firstFrame - *nextFrame_) <= timelineSlack_) position = *nextFrame_;
    const std::int64_t end = position + frames;
    nextFrame_ = end;
    // Each stretch of the recording is decoded once, whatever order the
    // pilot plays it in; the demodulator takes up the signal exactly where
    // it left off when the stretch follows on from one it read.
    for (std::int64_t p = position; p < end;) {
      auto next = spans_.upper_bound(p);
      Span* before = nullptr;
      if (next != spans_.begin()) {
        Span& prior = std::prev(next)->second;
        if (p < prior.end) {
          p = std::min(prior.end, end);
          continue;
        }
        if (prior.end == p) before = &prior;
      }
      const std::int64_t stop = next == spans_.end() ? end : std::min(next->first, end);
      if (cursor_ != p) Restart(before, p, robust);
      Span& span = before ? *before : spans_[p];
      for (std::int64_t f = p; f < stop; ++f) {
        const std::int16_t sample = input[static_cast<std::size_t>(f - position) * stride + offset];
        engine_.SetStreamPosition(f);
        Demodulate(sample, robust);
        Retain(span, sample);
        Report(static_cast<std::size_t>(f - position), f, decoded);
      }
      span.end = stop;
      cursor_ = stop;
      if (next != spans_.end() && stop == next->first) Join(span, next, position, robust, decoded);
      p = stop;
    }
  }
  // After the decoding, which reads the input: output may alias it.
  for (std::size_t k = 0; k < whole; k += stride) {
    for (std::size_t c = k; c < k + stride; ++c)
      output[c] = static_cast<std::int16_t>(input[c] * gain);
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
  engine_.ClearTrack();
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
  // The first demodulator holds nothing back to read out.
  if (demodulator_.load(std::memory_order_relaxed) != kQuorvexDemodulatorRobust) return;
  if (recordingTimeline_ && nextFrame_) {
    // Audio that ends inside a stretch decoded already ends nothing the
    // demodulator holds.
    if (!cursor_ || cursor_ != nextFrame_) return;
    engine_.SetStreamPosition(cursor_);
    flushedAt_.insert(*cursor_);
    cursor_.reset();
  }
  robust_.Flush();
}

HRESULT CQuorvexControl::SetDemodulator(int demodulator) {
  if (demodulator != kQuorvexDemodulatorSeed && demodulator != kQuorvexDemodulatorRobust)
    return E_INVALIDARG;
  std::lock_guard guard(lock_);
  // Audio the robust demodulator held from an earlier turn is not
  // continuous with what comes next.
  if (demodulator != demodulator_.exchange(demodulator)) {
    robust_.Reset();
    cursor_.reset();
  }
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

void CQuorvexControl::LogFrames(std::span<const TelemetryFrame> frames,
                                std::span<const DecodedFrame> decoded) {
  if (frames.empty()) return;
  std::lock_guard guard(lock_);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::int64_t last = frameLogPlaces_.empty() ? 0 : frameLogPlaces_.back();
    const std::int64_t place =
        i < decoded.size() && decoded[i].recordingFrame ? *decoded[i].recordingFrame : last;
    // A stretch decoded after a later one goes among the frames, as its
    // records go among the records.
    const auto at = static_cast<std::size_t>(
        std::upper_bound(frameLogPlaces_.begin(), frameLogPlaces_.end(), place) -
        frameLogPlaces_.begin());
    frameLog_.insert(frameLog_.begin() + static_cast<std::ptrdiff_t>(at), frames[i]);
    frameLogPlaces_.insert(frameLogPlaces_.begin() + static_cast<std::ptrdiff_t>(at), place);
  }
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

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "common/iquorvex.h"
#include "common/iquorvex_demodulator.h"
#include "common/iquorvex_frame_log.h"
#include "common/iquorvex_nmea.h"
#include "common/iquorvex_nmea_network.h"
#include "common/iquorvex_stream.h"
#include "common/telemetry_frame.h"
#include "decoder/demodulator/robust_demodulator.h"
#include "decoder/telemetry/decode_engine_with_comms.h"

// IQuorvex over one decoder engine, plus the buffer loop that feeds it. The
// object that exposes it (the decoder filter) supplies IUnknown, so it can
// delegate to an outer object when aggregated.
//
// One lock guards the engine: the streaming thread holds it for a whole
// buffer and the control methods hold it while they touch the engine, so
// the viewer never reads a history or the track while a frame is being
// stored. No file or device work happens under it (what a method writes is
// copied first), apart from the NMEA lines of the fix being stored: a slow
// disk or port must not stall the audio.
class CQuorvexControl : public IQuorvex,
                        public IQuorvexStream,
                        public IQuorvexNmea,
                        public IQuorvexDemodulator,
                        public IQuorvexNmeaNetwork,
                        public IQuorvexFrameLog {
 public:
  static constexpr double kPassThroughGain = 0.05;

  // One frame as it was stored, for whoever reports frames as they come.
  struct DecodedFrame {
    FrameType type = kFramePosition;
    std::int32_t key = 0;
    // The sample frame of the buffer whose sample completed the frame.
    std::size_t sampleFrame = 0;
    // That sample frame in the recording, with the recording timeline on.
    std::optional<std::int64_t> recordingFrame;
    PositionRecord position{};  // with type kFramePosition
    UplinkRecord uplink{};      // with type kFrameUplink
    BatteryRecord battery{};    // with type kFrameBattery
    // Against the launch site as it stood once the fix was stored, when
    // there was one.
    std::string nmea;  // its RMC and GGA sentences, with type kFramePosition
    bool launchSiteKnown = false;
    float altitudeAboveLaunch = 0;
    float distance = 0;
  };

  explicit CQuorvexControl(const std::optional<std::filesystem::path>& nmeaPath =
                               CDecodeEngineWithComms::DefaultNmeaPath());
  CQuorvexControl(const CQuorvexControl&) = delete;
  CQuorvexControl& operator=(const CQuorvexControl&) = delete;

  // Streaming side.
  void SetSampleRate(std::uint32_t rate);
  // `input` and `output` hold `values` interleaved 16-bit values of
  // `channels` channels. Every output value is its input at 5 % (truncated
  // toward zero), so the pilot hears the audio faint; the decode channel of
  // every whole sample frame goes to the demodulator. A trailing incomplete
  // frame is passed on but not decoded. `output` may equal `input`.
  // Every frame stored meanwhile is appended to `decoded` when given.
  // `firstFrame` places the buffer's first sample frame in a recording, when
  // its time stamp says where; with the recording timeline on, sample frames
  // decoded once already are passed on undecoded, and the records of a
  // stretch decoded after a later one go among the records in recording
  // order.
  void ProcessBuffer(const std::int16_t* input, std::int16_t* output, std::size_t values,
                     int channels, std::optional<std::int64_t> firstFrame = std::nullopt,
                     std::vector<DecodedFrame>* decoded = nullptr);
  // The audio has ended: frames whose end was still awaited are read as
  // far as they go.
  void FinishStream();
  int AudioChannel() const { return audioChannel_.load(std::memory_order_relaxed); }
  // The gain of the audio passed on: 0.05 unless set, 1 passes it unchanged.
  void SetPassThroughGain(double gain) { gain_.store(gain, std::memory_order_relaxed); }
  double PassThroughGain() const { return gain_.load(std::memory_order_relaxed); }
  std::int32_t SlotRate() const;
  // `frame` in physical units, as the outputs that follow a flight take it.
  static TelemetryFrame TelemetryFrameOf(const DecodedFrame& frame,
                                         std::optional<double> streamSeconds);
  // Frames just decoded, for IQuorvexFrameLog; the owner that knows the
  // stream's clock gives them their stream times. `decoded` holds the same
  // frames as ProcessBuffer gave them, which places them in the recording.
  void LogFrames(std::span<const TelemetryFrame> frames, std::span<const DecodedFrame> decoded);

  // IQuorvex
  HRESULT STDMETHODCALLTYPE SetSerialPort(BSTR portName) override;
  HRESULT STDMETHODCALLTYPE GetPacketCounts(int* goodPackets, int* badPackets) override;
  HRESULT STDMETHODCALLTYPE GetPosition(int* timeMs, float* longitude, float* latitude,
                                        float* altitude, float* altitudeAboveLaunch, float* heading,
                                        float* distance, float* distanceTravelled,
                                        int* numSats) override;
  HRESULT STDMETHODCALLTYPE WriteTrackKml(BSTR path) override;
  HRESULT STDMETHODCALLTYPE ClearTrack() override;
  HRESULT STDMETHODCALLTYPE GetUplinkStatus(int* rssiValue1, int* rssiValue2, int* linkQuality,
                                            int* nFailsafes, int* freqError, int* iCurrentBin,
                                            int* nGoodPacketsThisBin, int* nBadPacketsThisBin,
                                            int channels[12]) override;
  HRESULT STDMETHODCALLTYPE GetBatteryStatus(int* voltage, int* capacityUsed,
                                             int* current) override;
  HRESULT STDMETHODCALLTYPE SetAudioChannel(int channel) override;
  HRESULT STDMETHODCALLTYPE GetPositionAt(int key, int* timeMs, float* longitude, float* latitude,
                                          float* altitude, float* altitudeAboveLaunch,
                                          float* heading, float* distance, int* numSats) override;
  HRESULT STDMETHODCALLTYPE GetUplinkStatusAt(int key, int* rssiValue1, int* rssiValue2,
                                              int* linkQuality, int* nFailsafes, int* freqError,
                                              int* iCurrentBin, int* nGoodPacketsThisBin,
                                              int* nBadPacketsThisBin) override;
  HRESULT STDMETHODCALLTYPE GetBatteryStatusAt(int key, int* voltage, int* capacityUsed,
                                               int* current) override;
  HRESULT STDMETHODCALLTYPE GetRecordCount(int* count) override;
  HRESULT STDMETHODCALLTYPE SetBitRate(int slotRate) override;
  HRESULT STDMETHODCALLTYPE GetLaunchSite(float* longitude, float* latitude,
                                          float* altitude) override;
  HRESULT STDMETHODCALLTYPE SetLaunchSite(float longitude, float latitude, float altitude) override;

  // IQuorvexStream
  HRESULT STDMETHODCALLTYPE GetPositionFrameCount(int* count) override;
  HRESULT STDMETHODCALLTYPE SetRecordingTimeline(BOOL enabled) override;

  // IQuorvexNmea
  HRESULT STDMETHODCALLTYPE SetRecordingTime(std::int64_t utcSeconds) override;
  HRESULT STDMETHODCALLTYPE GetNmeaFile(BSTR* path, HRESULT* openResult) override;

  // IQuorvexDemodulator: both demodulators feed the same engine, so the
  // histories, counters and side outputs carry on across a change.
  HRESULT STDMETHODCALLTYPE SetDemodulator(int demodulator) override;
  HRESULT STDMETHODCALLTYPE GetDemodulator(int* demodulator) override;

  // IQuorvexNmeaNetwork
  HRESULT STDMETHODCALLTYPE SetNmeaNetwork(BSTR udpDestination, BSTR tcpEndpoint,
                                           BSTR* error) override;

  // IQuorvexFrameLog
  HRESULT STDMETHODCALLTYPE GetFrameCount(int* count) override;
  HRESULT STDMETHODCALLTYPE WriteFrameCsv(int frameCount, BSTR path) override;

 protected:
  ~CQuorvexControl();

  // For owners and tests that need more than IQuorvex offers; hold the lock.
  std::mutex& Lock() const { return lock_; }
  CDecodeEngineWithComms& Engine() { return engine_; }

 private:
  // Position fields in degrees and metres, relative values against the
  // current launch site.
  void ReadPosition(const PositionRecord& r, int* timeMs, float* longitude, float* latitude,
                    float* altitude, float* altitudeAboveLaunch, float* distance,
                    int* numSats) const;

  // The frame stored under `key`, which the engine has just stored.
  DecodedFrame FrameAt(std::int32_t key, std::size_t sampleFrame) const;

  // A stretch of the recording decoded once, with the decode channel's audio
  // at both its ends kept, so that a later read across either end can take
  // up the signal as one unbroken read would have it.
  struct Span {
    std::int64_t end = 0;
    std::vector<std::int16_t> head;  // its first samples
    std::vector<std::int16_t> tail;  // its last samples, at least as many
  };
  // Hands out the frames stored since the last call, each placed at
  // `sampleFrame` past the buffer's start.
  void Report(std::size_t sampleFrame, std::optional<std::int64_t> recordingFrame,
              std::vector<DecodedFrame>* decoded);
  // The engine's DropRecords, and the same frames out of the frame log.
  std::int32_t DropRecords(std::int64_t from, std::int64_t to);
  void Demodulate(std::int16_t sample, bool robust) {
    if (robust) {
      robust_.ProcessSample(sample);
    } else {
      engine_.ProcessSample(sample);
    }
  }
  void Retain(Span& span, std::int16_t sample);
  // Decoding starts at `at`, not where the demodulator stands: it forgets
  // what it heard and, when a decoded stretch ends at `at`, hears that
  // stretch's last seconds again without storing what they hold.
  void Restart(const Span* before, std::int64_t at, bool robust);
  // `span` has just been decoded up to `next`: the first seconds of `next`,
  // which were decoded from a cold start, are read again on from `span`,
  // and the two become one.
  void Join(Span& span, std::map<std::int64_t, Span>::iterator next, std::int64_t bufferStart,
            bool robust, std::vector<DecodedFrame>* decoded);

  struct RobustSink final : IFrameSink {
    explicit RobustSink(CDecodeEngineWithComms& e) : engine(e) {}
    void OnFrame(std::span<const std::uint8_t> frame) override { engine.AcceptFrame(frame.data()); }
    void OnLostFrame() override { engine.CountLostFrame(); }
    CDecodeEngineWithComms& engine;
  };

  mutable std::mutex lock_;
  CDecodeEngineWithComms engine_;
  RobustSink robustSink_{engine_};
  CRobustDemodulator robust_{robustSink_};
  std::atomic<int> demodulator_{kQuorvexDemodulatorSeed};
  std::atomic<int> audioChannel_{1};
  // Under lock_, as the histories: every frame with its stream time, in
  // recording order, and where in the recording each was completed (live
  // audio: where the one before it was).
  std::vector<TelemetryFrame> frameLog_;
  std::vector<std::int64_t> frameLogPlaces_;
  // Serializes SetNmeaNetwork, whose look-ups and binding run unlocked.
  std::mutex networkSetting_;
  std::string udpDestination_, tcpEndpoint_;  // in force, under networkSetting_
  std::atomic<double> gain_{kPassThroughGain};
  bool recordingTimeline_ = false;
  // The stretches decoded so far, by their first sample frame; they never
  // overlap or touch.
  std::map<std::int64_t, Span> spans_;
  // Where the demodulator stands, when its state is that of a read without a
  // break up to there.
  std::optional<std::int64_t> cursor_;
  // Ends of the audio where the demodulator was flushed: what it read out
  // early there it would have read in full had the audio gone on.
  std::set<std::int64_t> flushedAt_;
  // Where the buffer after the last one starts, counted from its start.
  std::optional<std::int64_t> nextFrame_;
  // 20 ms of sample frames: the jitter of millisecond time stamps.
  std::int64_t timelineSlack_ = 882;
  // Samples kept at each end of a span: 2 s, four times the longest either
  // receiver stays in one frame before it gives up, so both are back in
  // step with the signal by their end.
  std::size_t retained_ = 88200;
  std::int64_t reported_ = 0;
};

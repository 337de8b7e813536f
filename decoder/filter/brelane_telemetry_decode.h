#pragma once

#include <atomic>
#include <vector>

#include "decoder/control_interface/quorvex_control.h"
#include "platform/filter/transform_filter.h"

// The decoder library's one filter: audio in, the same audio out at 5 %,
// with one channel of every sample frame fed to the demodulator. IQuorvex
// reads what it decoded; the element that runs it also posts every frame
// on the bus.
class BrelaneTelemetryDecode final : public CTransformFilter, public CQuorvexControl {
 public:
  static constexpr const char* kObjectName = "Quorvex";
  static constexpr LONG kBufferCount = 3;
  // Time stamps count 100-ns units.
  static constexpr std::int64_t kUnitsPerSecond = 10'000'000;

  // The factory template's creation function: null with E_OUTOFMEMORY in
  // `hr` when the object cannot be made.
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN

  // IQuorvex and its companions (stream, NMEA file and network,
  // demodulator, frame log), then the base's interfaces.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CheckInputType(const CMediaType* mediaType) override;
  HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override;
  // One second of audio in each of three buffers; also tells the engine the
  // sample rate.
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  // Offers the input type, so the output is always identical to the input.
  HRESULT GetMediaType(int position, CMediaType* mediaType) override;
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType) override;
  HRESULT Transform(IMediaSample* input, IMediaSample* output) override;
  HRESULT EndOfStream() override;

  void SetPostMessages(bool post) { postMessages_.store(post, std::memory_order_relaxed); }
  bool PostMessages() const { return postMessages_.load(std::memory_order_relaxed); }

 private:
  explicit BrelaneTelemetryDecode(IUnknown* outer);
  ~BrelaneTelemetryDecode() override;

  CMediaType inputMediaType_;
  int inputChannels_ = 0;
  std::int64_t sampleRate_ = 0;
  std::atomic<bool> postMessages_{true};
  std::vector<DecodedFrame> decoded_;   // reused by every buffer
  std::vector<TelemetryFrame> logged_;  // reused by every buffer

  // Logs the frames of the buffer whose first sample frame lies at
  // `firstFrame` in the recording, and posts them on the bus.
  void ReportFrames(std::optional<std::int64_t> firstFrame);
};

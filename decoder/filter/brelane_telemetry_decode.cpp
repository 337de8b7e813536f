#include "decoder/filter/brelane_telemetry_decode.h"

#include <gst/base/gstbasetransform.h>

#include <new>

#include "decoder/filter/quorvex_element.h"
#include "decoder/filter/quorvex_library.h"

BrelaneTelemetryDecode::BrelaneTelemetryDecode(IUnknown* outer)
    : CTransformFilter(kObjectName, outer, CLSID_Quorvex, &kQuorvexElement) {}

BrelaneTelemetryDecode::~BrelaneTelemetryDecode() = default;

CUnknown* BrelaneTelemetryDecode::CreateInstance(IUnknown* outer, HRESULT* hr) {
  try {
    auto* filter = new BrelaneTelemetryDecode(outer);
    *hr = S_OK;
    return filter;
  } catch (const std::bad_alloc&) {
    *hr = E_OUTOFMEMORY;
    return nullptr;
  }
}

HRESULT BrelaneTelemetryDecode::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IQuorvex) return GetInterface(static_cast<IQuorvex*>(this), object);
  if (iid == IID_IQuorvexStream) return GetInterface(static_cast<IQuorvexStream*>(this), object);
  if (iid == IID_IQuorvexNmea) return GetInterface(static_cast<IQuorvexNmea*>(this), object);
  if (iid == IID_IQuorvexDemodulator)
    return GetInterface(static_cast<IQuorvexDemodulator*>(this), object);
  if (iid == IID_IQuorvexNmeaNetwork)
    return GetInterface(static_cast<IQuorvexNmeaNetwork*>(this), object);
  if (iid == IID_IQuorvexFrameLog)
    return GetInterface(static_cast<IQuorvexFrameLog*>(this), object);
  return CTransformFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT BrelaneTelemetryDecode::CheckInputType(const CMediaType* mediaType) {
  if (!mediaType) return E_POINTER;
  if (*mediaType->Type() != MEDIATYPE_Audio || *mediaType->Subtype() != MEDIASUBTYPE_PCM)
    return E_FAIL;
  const auto format = WaveFormatOf(*mediaType);
  return format && format->wBitsPerSample == 16 ? S_OK : E_FAIL;
}

HRESULT BrelaneTelemetryDecode::CheckTransform(const CMediaType* input, const CMediaType* output) {
  const HRESULT hr = CheckInputType(input);
  if (FAILED(hr)) return hr;
  if (!output) return E_POINTER;
  return *output->Type() == MEDIATYPE_Audio && *output->Subtype() == MEDIASUBTYPE_PCM ? S_OK
                                                                                      : E_FAIL;
}

HRESULT BrelaneTelemetryDecode::DecideBufferSize(IMemAllocator* allocator,
                                                 ALLOCATOR_PROPERTIES* properties) {
  if (!allocator || !properties) return E_POINTER;
  const auto format = WaveFormatOf(inputMediaType_);
  if (!format) return VFW_E_NOT_CONNECTED;
  properties->cbBuffer = static_cast<LONG>(format->nAvgBytesPerSec);
  SetSampleRate(format->nSamplesPerSec);
  properties->cBuffers = kBufferCount;
  ALLOCATOR_PROPERTIES actual;
  const HRESULT hr = allocator->SetProperties(properties, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < properties->cbBuffer ? E_FAIL : S_OK;
}

HRESULT BrelaneTelemetryDecode::GetMediaType(int position, CMediaType* mediaType) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0 || !InputPin().IsConnected()) return VFW_S_NO_MORE_ITEMS;
  if (!mediaType) return E_POINTER;
  *mediaType = inputMediaType_;
  return S_OK;
}

HRESULT BrelaneTelemetryDecode::SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType) {
  const HRESULT hr = CTransformFilter::SetMediaType(direction, mediaType);
  if (FAILED(hr)) return hr;
  if (direction == PINDIR_INPUT) {
    if (!mediaType) return E_POINTER;
    inputMediaType_ = *mediaType;
    const auto format = WaveFormatOf(inputMediaType_);
    inputChannels_ = format ? format->nChannels : 0;
    sampleRate_ = format ? format->nSamplesPerSec : 0;
  }
  return S_OK;
}

HRESULT BrelaneTelemetryDecode::Transform(IMediaSample* input, IMediaSample* output) {
  BYTE* in = nullptr;
  BYTE* out = nullptr;
  if (FAILED(input->GetPointer(&in)) || FAILED(output->GetPointer(&out))) return E_POINTER;
  // An odd trailing byte is half a sample: dropped.
  const auto values = static_cast<std::size_t>(input->GetActualDataLength()) / 2;
  const auto bytes = static_cast<LONG>(values * 2);
  if (bytes > output->GetSize()) return VFW_E_BUFFER_OVERFLOW;
  decoded_.clear();
  // The time stamp places the buffer in the recording, to the nearest
  // sample frame.
  std::optional<std::int64_t> firstFrame;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  if (SUCCEEDED(input->GetTime(&start, &stop)) && start >= 0 && sampleRate_ > 0)
    firstFrame = (start * sampleRate_ + kUnitsPerSecond / 2) / kUnitsPerSecond;
  ProcessBuffer(reinterpret_cast<const std::int16_t*>(in), reinterpret_cast<std::int16_t*>(out),
                values, inputChannels_, firstFrame, &decoded_);
  // Logged and posted outside the decoder's lock: a synchronous bus handler
  // may well read the decoder through IQuorvex.
  if (!decoded_.empty()) ReportFrames(firstFrame);
  return output->SetActualDataLength(bytes);
}

void BrelaneTelemetryDecode::ReportFrames(std::optional<std::int64_t> firstFrame) {
  GstElement* element = RunningElement();
  const bool post = element && PostMessages();
  const bool timed = firstFrame && sampleRate_ > 0;
  logged_.clear();
  for (const DecodedFrame& frame : decoded_) {
    GstClockTime at = GST_CLOCK_TIME_NONE;
    // The frame ends with the sample that completed it, counted from the
    // start of the recording: its time does not depend on how the audio was
    // cut into buffers, so every player of a recording gives the same.
    if (timed) {
      // Where the recording timeline placed it: read again after a seek, a
      // frame keeps the time it had.
      const auto sample = frame.recordingFrame
                              ? static_cast<guint64>(*frame.recordingFrame)
                              : static_cast<guint64>(*firstFrame) + frame.sampleFrame;
      at = gst_util_uint64_scale(sample + 1, GST_SECOND, static_cast<guint64>(sampleRate_));
    }
    GstClockTime streamTime = GST_CLOCK_TIME_NONE;
    GstClockTime runningTime = GST_CLOCK_TIME_NONE;
    if (timed && element) {
      const GstSegment& segment = GST_BASE_TRANSFORM(element)->segment;
      streamTime = gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, at);
      runningTime = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, at);
    }
    logged_.push_back(TelemetryFrameOf(
        frame, GST_CLOCK_TIME_IS_VALID(streamTime)
                   ? std::optional<double>(static_cast<double>(streamTime) / GST_SECOND)
                   : std::nullopt));
    if (post) {
      gst_element_post_message(
          element, gst_message_new_element(GST_OBJECT(element),
                                           TelemetryStructure(frame, at, streamTime, runningTime)));
    }
  }
  LogFrames(logged_, decoded_);
  if (element) gst_object_unref(element);
}

HRESULT BrelaneTelemetryDecode::EndOfStream() {
  FinishStream();
  return S_OK;
}

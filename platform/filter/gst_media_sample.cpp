#include "platform/filter/gst_media_sample.h"

#include <bit>
#include <limits>

namespace {

LONG ClampLength(gsize size) {
  return size > static_cast<gsize>(std::numeric_limits<LONG>::max())
             ? std::numeric_limits<LONG>::max()
             : static_cast<LONG>(size);
}

void SetFlag(GstBuffer* buffer, GstBufferFlags flag, bool on) {
  if (on)
    GST_BUFFER_FLAG_SET(buffer, flag);
  else
    GST_BUFFER_FLAG_UNSET(buffer, flag);
}

}  // namespace

CGstBufferSample::CGstBufferSample(GstBuffer* buffer, GstMapFlags flags)
    : buffer_(buffer), sample_(nullptr, 0, 0) {
  mapped_ = gst_buffer_map(buffer_, &map_, flags);
  if (!mapped_) return;
  const LONG size = ClampLength(map_.size);
  sample_.SetPointer(map_.data, size);
  sample_.SetActualDataLength(size);

  const GstClockTime pts = GST_BUFFER_PTS(buffer_);
  const GstClockTime duration = GST_BUFFER_DURATION(buffer_);
  if (GST_CLOCK_TIME_IS_VALID(pts)) {
    REFERENCE_TIME start = ToReferenceTime(pts);
    REFERENCE_TIME stop = GST_CLOCK_TIME_IS_VALID(duration) ? ToReferenceTime(pts + duration) : 0;
    sample_.SetTime(&start, GST_CLOCK_TIME_IS_VALID(duration) ? &stop : nullptr);
  }
  if (GST_BUFFER_OFFSET_IS_VALID(buffer_) && GST_BUFFER_OFFSET_END_IS_VALID(buffer_)) {
    auto start = static_cast<LONGLONG>(GST_BUFFER_OFFSET(buffer_));
    auto stop = static_cast<LONGLONG>(GST_BUFFER_OFFSET_END(buffer_));
    sample_.SetMediaTime(&start, &stop);
  }
  sample_.SetSyncPoint(!GST_BUFFER_FLAG_IS_SET(buffer_, GST_BUFFER_FLAG_DELTA_UNIT));
  sample_.SetPreroll(GST_BUFFER_FLAG_IS_SET(buffer_, GST_BUFFER_FLAG_DECODE_ONLY));
  sample_.SetDiscontinuity(GST_BUFFER_FLAG_IS_SET(buffer_, GST_BUFFER_FLAG_DISCONT));
  loaded_ = Read();
}

CGstBufferSample::~CGstBufferSample() { Unmap(); }

void CGstBufferSample::Unmap() {
  if (mapped_) gst_buffer_unmap(buffer_, &map_);
  mapped_ = false;
}

CGstBufferSample::Times CGstBufferSample::Read() {
  Times t;
  t.state = sample_.GetTime(&t.start, &t.stop);
  t.mediaState = sample_.GetMediaTime(&t.mediaStart, &t.mediaStop);
  return t;
}

void CGstBufferSample::Commit() {
  if (!mapped_) return;
  const auto actual = static_cast<gsize>(sample_.GetActualDataLength());
  Unmap();
  gst_buffer_set_size(buffer_, static_cast<gssize>(actual));

  const Times now = Read();
  if (now.state != loaded_.state || now.start != loaded_.start || now.stop != loaded_.stop) {
    GST_BUFFER_PTS(buffer_) = FAILED(now.state) ? GST_CLOCK_TIME_NONE : ToClockTime(now.start);
    GST_BUFFER_DURATION(buffer_) = now.state == S_OK && now.stop >= now.start
                                       ? ToClockTime(now.stop - now.start)
                                       : GST_CLOCK_TIME_NONE;
  }
  if (now.mediaState != loaded_.mediaState || now.mediaStart != loaded_.mediaStart ||
      now.mediaStop != loaded_.mediaStop) {
    const bool valid = now.mediaState == S_OK;
    GST_BUFFER_OFFSET(buffer_) =
        valid ? static_cast<guint64>(now.mediaStart) : GST_BUFFER_OFFSET_NONE;
    GST_BUFFER_OFFSET_END(buffer_) =
        valid ? static_cast<guint64>(now.mediaStop) : GST_BUFFER_OFFSET_NONE;
  }
  SetFlag(buffer_, GST_BUFFER_FLAG_DELTA_UNIT, sample_.IsSyncPoint() != S_OK);
  SetFlag(buffer_, GST_BUFFER_FLAG_DECODE_ONLY, sample_.IsPreroll() == S_OK);
  SetFlag(buffer_, GST_BUFFER_FLAG_DISCONT, sample_.IsDiscontinuity() == S_OK);
}

CGstPoolAllocator::CGstPoolAllocator(GstBufferPool* pool, GstCaps* caps, GstAllocator* allocator,
                                     const GstAllocationParams& params)
    : pool_(pool), caps_(caps), allocator_(allocator), params_(params) {}

HRESULT CGstPoolAllocator::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
    *object = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT CGstPoolAllocator::SetProperties(ALLOCATOR_PROPERTIES* request,
                                         ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  if (request->cbAlign <= 0 || !std::has_single_bit(static_cast<unsigned>(request->cbAlign)))
    return VFW_E_BADALIGN;
  if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
  if (gst_buffer_pool_is_active(pool_)) return VFW_E_ALREADY_COMMITTED;

  GstAllocationParams params = params_;
  params.align = static_cast<gsize>(request->cbAlign - 1);
  params.prefix = static_cast<gsize>(request->cbPrefix);
  GstStructure* config = gst_buffer_pool_get_config(pool_);
  gst_buffer_pool_config_set_params(config, caps_, static_cast<guint>(request->cbBuffer),
                                    static_cast<guint>(request->cBuffers), 0);
  gst_buffer_pool_config_set_allocator(config, allocator_, &params);
  // A pool that cannot take the request as it is leaves its counter-offer
  // in the configuration; taking that one tells the filter what it got.
  if (!gst_buffer_pool_set_config(pool_, config) &&
      !gst_buffer_pool_set_config(pool_, gst_buffer_pool_get_config(pool_)))
    return E_FAIL;
  return GetProperties(actual);
}

HRESULT CGstPoolAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  GstStructure* config = gst_buffer_pool_get_config(pool_);
  guint size = 0, min = 0, max = 0;
  GstAllocationParams params;
  gst_allocation_params_init(&params);
  gst_buffer_pool_config_get_params(config, nullptr, &size, &min, &max);
  gst_buffer_pool_config_get_allocator(config, nullptr, &params);
  gst_structure_free(config);
  properties->cBuffers = static_cast<LONG>(min);
  properties->cbBuffer = static_cast<LONG>(size);
  properties->cbAlign = static_cast<LONG>(params.align + 1);
  properties->cbPrefix = static_cast<LONG>(params.prefix);
  return S_OK;
}

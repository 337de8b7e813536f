#pragma once

#include <gst/gst.h>

#include <atomic>

#include "platform/filter/media_sample.h"

// A GstBuffer seen as a media sample for the length of one Transform call:
// its memory mapped, its time stamps, offsets and flags as the sample's.
//   start/stop        <-> PTS and PTS + duration (100 ns units)
//   media start/stop  <-> offset and offset_end
//   sync point        <-> no DELTA_UNIT flag
//   preroll           <-> DECODE_ONLY flag
//   discontinuity     <-> DISCONT flag
class CGstBufferSample {
 public:
  CGstBufferSample(GstBuffer* buffer, GstMapFlags flags);
  CGstBufferSample(const CGstBufferSample&) = delete;
  CGstBufferSample& operator=(const CGstBufferSample&) = delete;
  ~CGstBufferSample();

  bool IsMapped() const { return mapped_; }
  IMediaSample* Sample() { return &sample_; }
  const BYTE* Data() const { return map_.data; }
  // Points the sample at another copy of the mapped data (of the same size).
  void Substitute(BYTE* copy) { sample_.SetPointer(copy, static_cast<LONG>(map_.size)); }

  // Unmaps the buffer, trims it to the actual data length and stores the
  // time stamps, offsets and flags. Only times the filter changed are
  // written back: the 100 ns units would otherwise round the buffer's own
  // nanoseconds.
  void Commit();

 private:
  struct Times {
    HRESULT state = VFW_E_SAMPLE_TIME_NOT_SET;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT mediaState = VFW_E_MEDIA_TIME_NOT_SET;
    LONGLONG mediaStart = 0, mediaStop = 0;
  };
  Times Read();
  void Unmap();

  GstBuffer* buffer_;
  GstMapInfo map_{};
  bool mapped_ = false;
  CMediaSample sample_;
  Times loaded_;
};

// Output buffers from a GstBufferPool, as the allocator a filter sizes in
// DecideBufferSize. The pool gets the requested size, at least the requested
// number of buffers and no upper limit (a limit would block a pipeline whose
// sink holds on to buffers), the alignment and the prefix. A pool may adjust
// the request; the actual properties say what it took.
class CGstPoolAllocator final : public IMemAllocator {
 public:
  CGstPoolAllocator(GstBufferPool* pool, GstCaps* caps, GstAllocator* allocator,
                    const GstAllocationParams& params);
  CGstPoolAllocator(const CGstPoolAllocator&) = delete;
  CGstPoolAllocator& operator=(const CGstPoolAllocator&) = delete;
  ~CGstPoolAllocator() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                          ALLOCATOR_PROPERTIES* actual) override;
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* properties) override;

 private:
  GstBufferPool* pool_;
  GstCaps* caps_;
  GstAllocator* allocator_;
  GstAllocationParams params_;
  std::atomic<ULONG> refs_{1};
};

// Stream time conversions, truncating toward zero.
inline REFERENCE_TIME ToReferenceTime(GstClockTime time) {
  return static_cast<REFERENCE_TIME>(time / 100);
}
inline GstClockTime ToClockTime(REFERENCE_TIME time) {
  return time < 0 ? 0 : static_cast<GstClockTime>(time) * 100;
}

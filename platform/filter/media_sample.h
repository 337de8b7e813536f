#pragma once

#include <atomic>

#include "platform/com/unknown.h"
#include "platform/gst/filter_types.h"

// One buffer of media data with its time stamps and flags, and the allocator
// that sizes the output buffers of a filter.

inline constexpr IID IID_IMediaSample{
    0x56A8689A, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMemAllocator{
    0x56A8689C, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

struct IMediaSample : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) = 0;
  virtual LONG STDMETHODCALLTYPE GetSize() = 0;
  // VFW_E_SAMPLE_TIME_NOT_SET without a start; VFW_S_NO_STOP_TIME (stop =
  // start + 1) with a start only.
  virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
  // A null start clears both times; a null stop keeps the start alone.
  virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL syncPoint) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL preroll) = 0;
  virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
  // VFW_E_BUFFER_OVERFLOW beyond GetSize().
  virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) = 0;
  // VFW_E_MEDIA_TIME_NOT_SET when absent.
  virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* stop) = 0;
  // Null clears the media times.
  virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* stop) = 0;

 protected:
  ~IMediaSample() = default;
};

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers = 0;
  LONG cbBuffer = 0;
  LONG cbAlign = 0;
  LONG cbPrefix = 0;
};

struct IMemAllocator : IUnknown {
  // Asks for `request`; `actual` receives what the allocator holds now, which
  // may be less than asked. Fails only for a request it cannot take at all.
  virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                                  ALLOCATOR_PROPERTIES* actual) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* properties) = 0;

 protected:
  ~IMemAllocator() = default;
};

// A sample over memory owned by someone else, valid for one call into a
// filter. It lives on its caller's stack: references are counted so that a
// filter keeping one beyond the call shows up (References() > 1), but
// nothing is ever deleted through Release.
class CMediaSample final : public IMediaSample {
 public:
  CMediaSample(BYTE* buffer, LONG size, LONG actualLength);
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;
  ~CMediaSample() = default;

  // For hosts that substitute another copy of the same data.
  void SetPointer(BYTE* buffer, LONG size);
  ULONG References() const { return refs_.load(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override;
  LONG STDMETHODCALLTYPE GetSize() override { return size_; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return syncPoint_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL syncPoint) override;
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL preroll) override;
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return actual_; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override;
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) override;
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* stop) override;
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* stop) override;

 private:
  BYTE* buffer_;
  LONG size_;
  LONG actual_;
  bool startValid_ = false;
  bool stopValid_ = false;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
  bool mediaTimeValid_ = false;
  LONGLONG mediaStart_ = 0;
  LONGLONG mediaStop_ = 0;
  bool syncPoint_ = false;
  bool preroll_ = false;
  bool discontinuity_ = false;
  std::atomic<ULONG> refs_{1};
};

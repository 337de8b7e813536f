#include "platform/filter/media_sample.h"

CMediaSample::CMediaSample(BYTE* buffer, LONG size, LONG actualLength)
    : buffer_(buffer), size_(size), actual_(actualLength) {}

void CMediaSample::SetPointer(BYTE* buffer, LONG size) {
  buffer_ = buffer;
  size_ = size;
  if (actual_ > size_) actual_ = size_;
}

HRESULT CMediaSample::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMediaSample) {
    *object = static_cast<IMediaSample*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = buffer_;
  return S_OK;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (!start || !stop) return E_POINTER;
  if (!startValid_) return VFW_E_SAMPLE_TIME_NOT_SET;
  *start = start_;
  if (!stopValid_) {
    *stop = start_ + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *stop = stop_;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  startValid_ = start != nullptr;
  stopValid_ = start != nullptr && stop != nullptr;
  start_ = startValid_ ? *start : 0;
  stop_ = stopValid_ ? *stop : 0;
  return S_OK;
}

HRESULT CMediaSample::SetSyncPoint(BOOL syncPoint) {
  syncPoint_ = syncPoint != 0;
  return S_OK;
}

HRESULT CMediaSample::SetPreroll(BOOL preroll) {
  preroll_ = preroll != 0;
  return S_OK;
}

HRESULT CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
  actual_ = length;
  return S_OK;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
  discontinuity_ = discontinuity != 0;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* stop) {
  if (!start || !stop) return E_POINTER;
  if (!mediaTimeValid_) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = mediaStart_;
  *stop = mediaStop_;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* stop) {
  if (!start) {
    mediaTimeValid_ = false;
    return S_OK;
  }
  if (!stop) return E_POINTER;
  mediaTimeValid_ = true;
  mediaStart_ = *start;
  mediaStop_ = *stop;
  return S_OK;
}

#include "platform/filter/transform_filter.h"

#include <gst/gst.h>

#include <utility>

#include "platform/filter/gst_transform_element.h"

namespace {

// A filter that offers types without end would otherwise hang negotiation.
constexpr int kMaxProposals = 256;

}  // namespace

CTransformFilter::CTransformFilter(const char* objectName, IUnknown* outer, REFCLSID clsid,
                                   const TransformElementInfo* element)
    : CUnknown(objectName, outer), clsid_(clsid), elementInfo_(element) {
  g_weak_ref_init(&element_, nullptr);
}

// A kept element holds a reference to the filter, so none is kept by now.
CTransformFilter::~CTransformFilter() { g_weak_ref_clear(&element_); }

HRESULT CTransformFilter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IGstElementHost) return GetInterface(static_cast<IGstElementHost*>(this), object);
  if (iid == IID_IBaseFilter || iid == IID_IGstFilterElement) {
    return QueryFilterInterface(iid, object);
  }
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG CTransformFilter::NonDelegatingRelease() {
  // Two references left while the filter keeps its element: the caller's
  // and the element's. Letting the element go is always safe (the filter
  // then only tracks it); unless somebody else holds the element too, it
  // goes now and releases its reference, and the caller's is the last.
  if (NonDelegatingRefCount() == 2) {
    GstElement* kept = nullptr;
    {
      std::lock_guard lock(elementLock_);
      kept = std::exchange(ownElement_, nullptr);
    }
    if (kept) gst_object_unref(kept);
  }
  return CUnknown::NonDelegatingRelease();
}

GstElement* CTransformFilter::RunningElement() {
  std::lock_guard lock(elementLock_);
  return static_cast<GstElement*>(g_weak_ref_get(&element_));
}

GstElement* CTransformFilter::AcquireElement() {
  std::lock_guard lock(elementLock_);
  if (auto* existing = static_cast<GstElement*>(g_weak_ref_get(&element_))) return existing;
  if (!elementInfo_) return nullptr;
  GstElement* made = NewTransformElement(*elementInfo_, this);
  if (!made) return nullptr;
  gst_object_ref_sink(made);
  if (!IsAggregated()) ownElement_ = GST_ELEMENT(gst_object_ref(made));
  return made;
}

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }

HRESULT CTransformFilter::ConnectInput(const CMediaType& type) {
  std::lock_guard lock(filterLock_);
  Disconnect();
  const HRESULT check = CheckInputType(&type);
  if (check != S_OK) return FAILED(check) ? check : VFW_E_TYPE_NOT_ACCEPTED;
  const HRESULT set = SetMediaType(PINDIR_INPUT, &type);
  if (FAILED(set)) return set;
  input_.type_ = type;
  input_.connected_ = true;
  return S_OK;
}

HRESULT CTransformFilter::ConnectOutput(
    const CMediaType& settled, const std::function<bool(const CMediaType&)>& downstreamTakes) {
  std::lock_guard lock(filterLock_);
  if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
  output_.connected_ = false;
  output_.type_ = CMediaType();

  const CMediaType& in = input_.type_;
  CMediaType agreed;
  bool found = false;
  for (int position = 0; position < kMaxProposals && !found; ++position) {
    CMediaType proposal;
    if (GetMediaType(position, &proposal) != S_OK) break;
    if (downstreamTakes(proposal) && CheckTransform(&in, &proposal) == S_OK) {
      agreed = std::move(proposal);
      found = true;
    }
  }
  if (!found) {
    const HRESULT check = CheckTransform(&in, &settled);
    if (check != S_OK) return FAILED(check) ? check : VFW_E_TYPE_NOT_ACCEPTED;
    agreed = settled;
  }
  const HRESULT set = SetMediaType(PINDIR_OUTPUT, &agreed);
  if (FAILED(set)) return set;
  output_.type_ = std::move(agreed);
  output_.connected_ = true;
  return S_OK;
}

HRESULT CTransformFilter::DecideAllocator(IMemAllocator* allocator,
                                          const ALLOCATOR_PROPERTIES& request) {
  std::lock_guard lock(filterLock_);
  if (!allocator) return E_POINTER;
  if (!output_.IsConnected()) return VFW_E_NOT_CONNECTED;
  ALLOCATOR_PROPERTIES properties = request;
  return DecideBufferSize(allocator, &properties);
}

HRESULT CTransformFilter::Receive(IMediaSample* input, IMediaSample* output) {
  std::lock_guard lock(receiveLock_);
  if (!input || !output) return E_POINTER;

  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT times = input->GetTime(&start, &stop);
  if (times == S_OK)
    output->SetTime(&start, &stop);
  else if (times == VFW_S_NO_STOP_TIME)
    output->SetTime(&start, nullptr);
  else
    output->SetTime(nullptr, nullptr);

  LONGLONG mediaStart = 0, mediaStop = 0;
  if (input->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
    output->SetMediaTime(&mediaStart, &mediaStop);
  else
    output->SetMediaTime(nullptr, nullptr);

  output->SetSyncPoint(input->IsSyncPoint() == S_OK);
  output->SetPreroll(input->IsPreroll() == S_OK);
  // Downstream must learn that a sample went missing before this one.
  output->SetDiscontinuity(input->IsDiscontinuity() == S_OK || sampleSkipped_);

  const HRESULT hr = Transform(input, output);
  sampleSkipped_ = hr == S_FALSE;
  return hr;
}

void CTransformFilter::Disconnect() {
  std::lock_guard lock(filterLock_);
  input_.connected_ = false;
  input_.type_ = CMediaType();
  output_.connected_ = false;
  output_.type_ = CMediaType();
}

void CTransformFilter::BindElement(GstElement* element) { g_weak_ref_set(&element_, element); }

HRESULT CTransformFilter::CreateElement(GstElement** element) {
  if (!element) return E_POINTER;
  *element = nullptr;
  if (!elementInfo_) return E_NOTIMPL;
  std::lock_guard lock(elementLock_);
  if (auto* existing = static_cast<GstElement*>(g_weak_ref_get(&element_))) {
    gst_object_unref(existing);
    return E_ELEMENT_IN_USE;
  }
  GstElement* created = NewTransformElement(*elementInfo_, this);
  if (!created) return E_FAIL;
  *element = created;
  return S_OK;
}

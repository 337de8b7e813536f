#pragma once

#include <glib-object.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/com/bstr.h"
#include "platform/com/unknown_base.h"
#include "platform/filter/element_host.h"
#include "platform/filter/media_sample.h"
#include "platform/filter/media_type.h"
#include "platform/gst/gst_filter.h"

struct TransformElementInfo;

// One of the two pins every transform filter has.
class CTransformPin {
 public:
  CTransformPin(const OLECHAR* name, PIN_DIRECTION direction)
      : name_(name), direction_(direction) {}

  const OLECHAR* Name() const { return name_; }
  PIN_DIRECTION Direction() const { return direction_; }
  bool IsConnected() const { return connected_.load(); }
  // The agreed type; empty while not connected. Read under the filter lock
  // (inside the filter's own callbacks, or from its host).
  const CMediaType& CurrentMediaType() const { return type_; }

 private:
  friend class CTransformFilter;

  const OLECHAR* name_;
  PIN_DIRECTION direction_;
  std::atomic<bool> connected_{false};
  CMediaType type_;
};

// A filter with one input and one output that makes one output sample from
// each input sample. Subclasses override the callbacks; the host (a
// GStreamer element, or a test) drives the connection, allocation and
// streaming methods below, which call them in the framework's order:
//
//   ConnectInput:   CheckInputType, SetMediaType(input)
//   ConnectOutput:  GetMediaType(0, 1, ...) and CheckTransform until a type
//                   fits, SetMediaType(output)
//   DecideAllocator: DecideBufferSize
//   Receive:        time stamps and flags copied to the output, Transform
//
// Connection and allocation run under the filter lock, Receive under the
// receive lock, so calls of one kind never overlap.
//
// The filter is also an IBaseFilter over the element that runs it, so a
// filter made by class identifier goes into a media graph as it is. When
// nobody else has made its element yet (IGstElementHost::CreateElement, or
// GStreamer making the element, which then makes the filter), the filter
// makes one the first time it is asked for its pins or its element, and
// keeps it for as long as it lives, so that its pins stay the same pads
// before and after it joins a graph. That element holds a reference to the
// filter too; when the two hold only each other the filter lets the element
// go, and both are gone. An aggregated filter cannot tell its outer
// object's count, so it does not keep the element: it lives as long as
// somebody else holds it.
class CTransformFilter : public CUnknown, public IGstElementHost, public CGstFilterBase {
 public:
  // `element` describes the GStreamer element that hosts filters of this
  // class (null: CreateElement gives E_NOTIMPL).
  CTransformFilter(const char* objectName, IUnknown* outer, REFCLSID clsid,
                   const TransformElementInfo* element);

  DECLARE_IUNKNOWN

  // IID_IGstElementHost, IID_IBaseFilter, IID_IGstFilterElement, then
  // CUnknown's.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  virtual HRESULT CheckInputType(const CMediaType* mediaType) = 0;
  virtual HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType* mediaType) = 0;
  // The pins keep the type themselves; the base accepts every type.
  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType);
  // S_FALSE drops the output sample (the next one delivered is marked as a
  // discontinuity); a failure stops the stream.
  virtual HRESULT Transform(IMediaSample* input, IMediaSample* output) = 0;
  // The input has ended: a filter that holds samples back finishes with
  // them. Called on the streaming thread before the end passes downstream.
  virtual HRESULT EndOfStream() { return S_OK; }

  // IGstElementHost
  HRESULT STDMETHODCALLTYPE CreateElement(GstElement** element) override;

  const CLSID& ClassId() const { return clsid_; }
  const CTransformPin& InputPin() const { return input_; }
  const CTransformPin& OutputPin() const { return output_; }

  // Host side. A new input type first disconnects both pins. Returns the
  // refusal (VFW_E_TYPE_NOT_ACCEPTED for a refusal that is not an error).
  HRESULT ConnectInput(const CMediaType& type);
  // `settled` is the type the host will deliver downstream; `downstreamTakes`
  // tells whether a type the filter proposes is compatible with it. The
  // filter's own proposals are tried first, then `settled` itself.
  HRESULT ConnectOutput(const CMediaType& settled,
                        const std::function<bool(const CMediaType&)>& downstreamTakes);
  // `request` holds what downstream asked for (zeros when nothing), with the
  // alignment and prefix the filter keeps.
  HRESULT DecideAllocator(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& request);
  HRESULT Receive(IMediaSample* input, IMediaSample* output);
  void Disconnect();
  // Records the element that runs this filter (it owns the filter, so the
  // filter only keeps a weak reference).
  void BindElement(GstElement* element);

 protected:
  ~CTransformFilter() override;

  // The element that runs the filter, made now when there is none.
  GstElement* AcquireElement() override;
  // The element that runs the filter with a reference added, or null: a
  // filter driven without one (a test, another host) gets none made.
  GstElement* RunningElement();

 private:
  const CLSID clsid_;
  const TransformElementInfo* const elementInfo_;
  std::recursive_mutex filterLock_;
  std::mutex receiveLock_;
  std::mutex elementLock_;
  CTransformPin input_{u"XForm In", PINDIR_INPUT};
  CTransformPin output_{u"XForm Out", PINDIR_OUTPUT};
  bool sampleSkipped_ = false;
  // Under elementLock_: the element, whoever made it; the one the filter
  // made for itself and keeps.
  GWeakRef element_;
  GstElement* ownElement_ = nullptr;
};

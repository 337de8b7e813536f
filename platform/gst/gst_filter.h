#pragma once

#include <gst/gst.h>

#include <mutex>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/weak_reference.h"
#include "platform/gst/graph_interfaces.h"
#include "platform/gst/gst_ptr.h"

// How filters and pins meet GStreamer: a filter runs as one element in the
// graph's pipeline, a pin is one of that element's pads (always pads only,
// in the element's order; a bin shows its ghost pads).

// {5B0E36C2-7F4A-4C9B-A1D3-2E8F60C4B917}
inline constexpr IID IID_IGstFilterElement{
    0x5B0E36C2, 0x7F4A, 0x4C9B, {0xA1, 0xD3, 0x2E, 0x8F, 0x60, 0xC4, 0xB9, 0x17}};
// {0C7D91A4-6E25-4B3F-8D60-B2A47E19F3C8}
inline constexpr IID IID_IGstPin{
    0x0C7D91A4, 0x6E25, 0x4B3F, {0x8D, 0x60, 0xB2, 0xA4, 0x7E, 0x19, 0xF3, 0xC8}};

// The element a filter runs as. Every call for the same filter gives the
// same element for as long as anybody holds it.
struct IGstFilterElement : IUnknown {
  // A full (not floating) reference for the caller.
  virtual HRESULT STDMETHODCALLTYPE GetElement(GstElement** element) = 0;

 protected:
  ~IGstFilterElement() = default;
};

struct IGstPin : IUnknown {
  // A reference for the caller.
  virtual HRESULT STDMETHODCALLTYPE GetPad(GstPad** pad) = 0;

 protected:
  ~IGstPin() = default;
};

// IBaseFilter for a filter backed by a GstElement, for any object to
// inherit: the object keeps its own IUnknown (and lifetime) and answers
// IID_IBaseFilter and IID_IGstFilterElement through QueryFilterInterface.
// Pins are made on demand; each holds its pad.
//
// The decoder library builds this in too, and a library loaded at run time
// has its own copy of every static: so nothing here is shared between
// filters or with the graph. A filter works on its own element and pads,
// and knows its graph only through what the graph told it in
// JoinFilterGraph.
class CGstFilterBase : public IBaseFilter, public IGstFilterElement {
 public:
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(const OLECHAR* id, IPin** pin) override;
  // The name the graph gave (the element's outside a graph) and the graph,
  // while it lives.
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, const OLECHAR* name) override;

  // IGstFilterElement
  HRESULT STDMETHODCALLTYPE GetElement(GstElement** element) override;

 protected:
  CGstFilterBase() = default;
  ~CGstFilterBase() = default;

  // The element, with a full reference for the caller; null when there is
  // none (pins then fail with E_UNEXPECTED).
  virtual GstElement* AcquireElement() = 0;

  // For the object's QueryInterface: IID_IBaseFilter and
  // IID_IGstFilterElement, with a reference; E_NOINTERFACE for others.
  HRESULT QueryFilterInterface(REFIID iid, void** object);

 private:
  std::mutex joinLock_;
  bool joined_ = false;
  std::u16string joinedName_;
  ComPtr<IWeakReference> graph_;
};

// A filter that wraps an element made elsewhere.
class CGstFilter : public CGstFilterBase {
 public:
  // Takes a reference to `element` (sinking a floating one).
  static HRESULT Create(GstElement* element, IBaseFilter** filter);

  // Only Create makes one whole: this class has no IUnknown of its own.
  explicit CGstFilter(GstElement* element);

 protected:
  ~CGstFilter();

  GstElement* AcquireElement() override;

 private:
  GstElement* const element_;
};

// A pin over `pad` (a reference is taken), for filters that hand out their
// own pads.
HRESULT CreateGstPin(GstPad* pad, IPin** pin);

// The element and pad behind a filter or a pin of any kind that offers
// them; empty otherwise.
GstObjectPtr<GstElement> ElementOfFilter(IBaseFilter* filter);
GstObjectPtr<GstPad> PadOfPin(IPin* pin);

#pragma once

#include "platform/com/unknown.h"

typedef struct _GstElement GstElement;

// {A3964876-32F3-4DE8-932C-AB0BC14812D0}
inline constexpr IID IID_IGstElementHost{
    0xA3964876, 0x32F3, 0x4DE8, {0x93, 0x2C, 0xAB, 0x0B, 0xC1, 0x48, 0x12, 0xD0}};

// ERROR_BUSY as a result: the filter already drives an element.
inline constexpr HRESULT E_ELEMENT_IN_USE = MakeHresult(0x800700AAu);

// How a filter created by class identifier enters a GStreamer pipeline: it
// makes the element that runs it. The element holds a reference to the
// filter; the filter only tracks the element, so either may go first.
struct IGstElementHost : IUnknown {
  // A new element bound to this filter, with the floating reference that
  // gst_element_factory_make gives (a bin takes it over). One element per
  // filter at a time: E_ELEMENT_IN_USE while the previous one exists.
  virtual HRESULT STDMETHODCALLTYPE CreateElement(GstElement** element) = 0;

 protected:
  ~IGstElementHost() = default;
};

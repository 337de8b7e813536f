#pragma once

#include <gst/gst.h>

#include "platform/com/class_factory.h"

class CTransformFilter;

// The GStreamer element that hosts one transform filter: a GstBaseTransform
// whose caps negotiation, allocation and buffers drive the filter's
// connection, allocator and Receive. The pad templates state what the filter
// takes (`caps`), yet any audio/x-raw is let through to the filter, so that a
// refused input fails negotiation with an error message that names the
// format rather than a bare not-negotiated.
//
// The element owns a reference to its filter. An element made by GStreamer
// (a pipeline description, gst_element_factory_make) creates its filter
// through the library's class factory; an element made by the filter
// (IGstElementHost::CreateElement) is bound to that filter.
//
// Property `propertyName` (read-only, a boxed type whose copies each hold a
// reference): g_object_get gives the filter's IUnknown with a reference
// added for the caller, who must Release it.
// A read-write string property whose value the hosted filter keeps (reached
// through the filter's IUnknown), for settings a pipeline description gives.
struct TransformElementSetting {
  const char* name;
  const char* blurb;
  const char* defaultValue;
  // False for a value the filter does not take; the element then warns and
  // keeps the previous one.
  bool (*set)(IUnknown* filter, const char* value);
  const char* (*get)(IUnknown* filter);
};

struct TransformElementInfo {
  const char* featureName;  // factory name, e.g. for gst-launch
  const char* typeName;     // GType name
  const char* longName;
  const char* klass;
  const char* description;
  const char* author;
  unsigned rank;  // GstRank
  const char* propertyName;
  const CLSID* clsid;
  DllGetClassObjectFn getClassObject;
  // The raw audio format the filter takes (e.g. "S16LE"), offered first when
  // upstream asks what the input can be, so a converter in front converts
  // to it instead of passing another format through to be refused. Null
  // offers every format alike.
  const char* preferredInputFormat = nullptr;
  const TransformElementSetting* setting = nullptr;
  // Caps of both pad templates; null means any audio/x-raw.
  const char* caps = nullptr;
  // Properties of the element beyond `propertyName`: `installProperties`
  // installs them with ids from `firstPropertyId` up, and the accessors see
  // the filter the element hosts (never null).
  void (*installProperties)(GObjectClass* klass, guint firstPropertyId) = nullptr;
  void (*setProperty)(CTransformFilter* filter, guint id, const GValue* value,
                      GParamSpec* pspec) = nullptr;
  void (*getProperty)(CTransformFilter* filter, guint id, GValue* value,
                      GParamSpec* pspec) = nullptr;
};

// Registers the element type on first use. GTypes stay for the life of the
// process, so code that has registered one must never be unloaded.
GType TransformElementType(const TransformElementInfo& info);
bool TransformElementTypeRegistered();

// For the plugin's init function.
gboolean RegisterTransformElement(GstPlugin* plugin, const TransformElementInfo& info);

// A new element bound to `filter`, with a floating reference; null on
// failure. Initialises GStreamer if nobody has, and enters the element in
// the registry unless a factory of that name exists already: replacing a
// factory would leave its element class pointing at a freed one.
GstElement* NewTransformElement(const TransformElementInfo& info, CTransformFilter* filter);

// The filter an element of this kind hosts (no reference added), else null.
CTransformFilter* HostedFilter(GstElement* element);

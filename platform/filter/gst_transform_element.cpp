#include "platform/filter/gst_transform_element.h"

#include <gst/base/gstbasetransform.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/filter/gst_media_sample.h"
#include "platform/filter/gst_media_type.h"
#include "platform/filter/transform_filter.h"
#include "platform/gst/gst_ptr.h"

GST_DEBUG_CATEGORY_STATIC(transform_element_debug);
#define GST_CAT_DEFAULT transform_element_debug

namespace {

struct ElementState {
  // Keeps the whole object alive, the outer one too when it is aggregated.
  ComPtr<IUnknown> owner;
  CTransformFilter* filter = nullptr;
  // Buffer size of the pool DecideBufferSize settled; bigger input buffers
  // get an output buffer of their own.
  gsize poolBufferSize = 0;
  // Input whose memory is not aligned for its samples is copied here first.
  std::vector<std::uint64_t> alignedCopy;
  // The base class retries a failed negotiation with every buffer; one
  // message per refused format is enough.
  GstCapsPtr refusedCaps;
};

struct TransformElement {
  GstBaseTransform parent;
  alignas(ElementState) unsigned char state[sizeof(ElementState)];
};

struct TransformElementClass {
  GstBaseTransformClass parent;
  const TransformElementInfo* info;
};

enum { PROP_0, PROP_FILTER, PROP_SETTING, PROP_FIRST_HOSTED };

constexpr const char* kAnyAudio = "audio/x-raw";

GstBaseTransformClass* parentClass = nullptr;
std::mutex typeLock;
std::atomic<bool> typeRegistered{false};
// Hands the filter to the instance being constructed on this thread.
thread_local CTransformFilter* pendingFilter = nullptr;

ElementState& State(gpointer element) {
  auto* self = static_cast<TransformElement*>(element);
  return *std::launder(reinterpret_cast<ElementState*>(self->state));
}

const TransformElementInfo& Info(gpointer element) {
  return *reinterpret_cast<TransformElementClass*>(G_OBJECT_GET_CLASS(element))->info;
}

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// The filter's IUnknown as a property value. Every copy holds a reference of
// its own, so g_object_get still hands the reader one to release, and code
// that reads every property without knowing them (a pipeline's Graphviz
// picture, gst-inspect) lets go of what it read instead of keeping the
// filter alive for good.
constexpr char kUnknownTypeName[] = "ComUnknownReference";

gpointer CopyUnknown(gpointer unknown) {
  static_cast<IUnknown*>(unknown)->AddRef();
  return unknown;
}

void FreeUnknown(gpointer unknown) { static_cast<IUnknown*>(unknown)->Release(); }

GType UnknownType() {
  static const GType type = [] {
    // Another library in the process that hosts filters may have registered
    // it; the copies do the same.
    if (const GType known = g_type_from_name(kUnknownTypeName)) return known;
    return g_boxed_type_register_static(kUnknownTypeName, CopyUnknown, FreeUnknown);
  }();
  return type;
}

// Nothing may unwind into GStreamer's C frames.
template <typename Call>
HRESULT Guarded(Call&& call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

CTransformFilter* CreateThroughFactory(const TransformElementInfo& info) {
  ComPtr<IClassFactory> factory;
  if (FAILED(info.getClassObject(*info.clsid, IID_IClassFactory, factory.PutVoid())))
    return nullptr;
  ComPtr<IGstElementHost> host;
  if (FAILED(factory->CreateInstance(nullptr, IID_IGstElementHost, host.PutVoid()))) return nullptr;
  // This library's factories make only transform filters, so the host
  // interface is the filter's own.
  return static_cast<CTransformFilter*>(host.Detach());
}

void InstanceInit(GTypeInstance* instance, gpointer klass) {
  auto* state =
      new (static_cast<TransformElement*>(static_cast<void*>(instance))->state) ElementState();
  const auto& info = *static_cast<TransformElementClass*>(klass)->info;
  if (CTransformFilter* filter = std::exchange(pendingFilter, nullptr)) {
    state->filter = filter;
    state->owner = ComPtr<IUnknown>(filter->GetOwner());
  } else if (CTransformFilter* created = CreateThroughFactory(info)) {
    state->filter = created;
    state->owner = ComPtr<IUnknown>::Attach(created->GetOwner());
  }
}

void Constructed(GObject* object) {
  G_OBJECT_CLASS(parentClass)->constructed(object);
  if (CTransformFilter* filter = State(object).filter) filter->BindElement(GST_ELEMENT(object));
}

void Finalize(GObject* object) {
  State(object).~ElementState();
  G_OBJECT_CLASS(parentClass)->finalize(object);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  if (id == PROP_SETTING) {
    const TransformElementSetting* setting = Info(object).setting;
    const char* text = g_value_get_string(value);
    IUnknown* owner = State(object).owner.Get();
    if (!owner || !text || !setting->set(owner, text))
      g_warning("%s: the %s property cannot be set to \"%s\"", GST_ELEMENT_NAME(object),
                setting->name, text ? text : "(null)");
    return;
  }
  CTransformFilter* filter = State(object).filter;
  const auto setter = Info(object).setProperty;
  if (id < PROP_FIRST_HOSTED || !setter) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  if (filter) setter(filter, id, value, pspec);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  if (id == PROP_SETTING && Info(object).setting) {
    IUnknown* owner = State(object).owner.Get();
    g_value_set_string(value, owner ? Info(object).setting->get(owner) : nullptr);
    return;
  }
  if (id >= PROP_FIRST_HOSTED) {
    CTransformFilter* filter = State(object).filter;
    if (const auto getter = Info(object).getProperty; getter && filter)
      getter(filter, id, value, pspec);
    else if (!getter)
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  if (id != PROP_FILTER) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  IUnknown* identity = nullptr;
  if (const auto& owner = State(object).owner)
    owner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  g_value_take_boxed(value, identity);
}

gboolean Start(GstBaseTransform* trans) {
  if (State(trans).filter) return TRUE;
  GST_ELEMENT_ERROR(trans, CORE, FAILED, ("%s could not be created.", Info(trans).longName),
                    ("the class factory gave no filter"));
  return FALSE;
}

gboolean Stop(GstBaseTransform* trans) {
  ElementState& state = State(trans);
  if (state.filter) state.filter->Disconnect();
  state.poolBufferSize = 0;
  state.refusedCaps.reset();
  return TRUE;
}

// False, with an error message naming the format, when the filter refuses.
bool ConnectInput(GstBaseTransform* trans, GstCaps* incaps) {
  ElementState& state = State(trans);
  if (state.refusedCaps && gst_caps_is_equal(state.refusedCaps.get(), incaps)) return false;
  const HRESULT hr = Guarded([&] { return state.filter->ConnectInput(MediaTypeFromCaps(incaps)); });
  if (FAILED(hr)) {
    state.refusedCaps.reset(gst_caps_ref(incaps));
    GST_ELEMENT_ERROR(
        trans, CORE, NEGOTIATION,
        ("%s does not accept this audio: %s.", Info(trans).longName, DescribeCaps(incaps).c_str()),
        ("input type refused, hr=0x%08x, caps %" GST_PTR_FORMAT, Hex(hr), incaps));
    return false;
  }
  state.refusedCaps.reset();
  return true;
}

// The end of the stream lets the filter finish what it holds. Caps outside
// the template never reach SetCaps (the base class finds no output for
// them), so the filter is asked here and names what it refuses.
gboolean SinkEvent(GstBaseTransform* trans, GstEvent* event) {
  ElementState& state = State(trans);
  if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && state.filter)
    Guarded([&] { return state.filter->EndOfStream(); });
  if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS && state.filter && Info(trans).caps) {
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    const GstCapsPtr templateCaps(gst_pad_get_pad_template_caps(trans->sinkpad));
    if (!gst_caps_can_intersect(caps, templateCaps.get()) && !ConnectInput(trans, caps)) {
      gst_event_unref(event);
      return FALSE;
    }
  }
  return parentClass->sink_event(trans, event);
}

gboolean SetCaps(GstBaseTransform* trans, GstCaps* incaps, GstCaps* outcaps) {
  ElementState& state = State(trans);
  const TransformElementInfo& info = Info(trans);
  if (!state.filter) return FALSE;
  if (!ConnectInput(trans, incaps)) return FALSE;
  const HRESULT hr = Guarded([&] {
    return state.filter->ConnectOutput(MediaTypeFromCaps(outcaps),
                                       [outcaps](const CMediaType& type) {
                                         const GstCapsPtr caps = CapsFromMediaType(type);
                                         return caps && gst_caps_can_intersect(caps.get(), outcaps);
                                       });
  });
  if (FAILED(hr)) {
    GST_ELEMENT_ERROR(trans, CORE, NEGOTIATION,
                      ("%s cannot deliver %s.", info.longName, DescribeCaps(outcaps).c_str()),
                      ("output type refused, hr=0x%08x, caps %" GST_PTR_FORMAT, Hex(hr), outcaps));
    return FALSE;
  }
  return TRUE;
}

GstCaps* TransformCaps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps,
                       GstCaps* filter) {
  GstCaps* result = gst_caps_copy(caps);
  const char* preferred = Info(trans).preferredInputFormat;
  // Asked from the source side what the sink pad can take: only the format
  // the filter takes, so a converter in front converts (converters keep the
  // input format when they may). A source that sends another format anyway
  // still reaches the filter, which refuses it, because accepting caps goes
  // by the pad template.
  if (direction == GST_PAD_SRC && preferred && !gst_caps_is_any(caps))
    gst_caps_set_simple(result, "format", G_TYPE_STRING, preferred, "layout", G_TYPE_STRING,
                        "interleaved", nullptr);
  if (filter) {
    GstCaps* narrowed = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = narrowed;
  }
  return result;
}

// The templates tell what the filter takes, but the filter is the one to
// refuse, in words that name the format: raw audio of any kind gets as far
// as SetCaps.
gboolean AcceptCaps(GstBaseTransform*, GstPadDirection, GstCaps* caps) {
  return gst_caps_is_fixed(caps) &&
         gst_structure_has_name(gst_caps_get_structure(caps, 0), kAnyAudio);
}

gboolean DecideAllocation(GstBaseTransform* trans, GstQuery* query) {
  ElementState& state = State(trans);
  if (!state.filter || !parentClass->decide_allocation(trans, query)) return FALSE;

  GstCaps* outcaps = nullptr;
  gst_query_parse_allocation(query, &outcaps, nullptr);
  GstAllocator* allocator = nullptr;
  GstAllocationParams params;
  gst_allocation_params_init(&params);
  if (gst_query_get_n_allocation_params(query) > 0)
    gst_query_parse_nth_allocation_param(query, 0, &allocator, &params);
  const GstObjectPtr<GstAllocator> allocatorRef(allocator);

  ALLOCATOR_PROPERTIES request;
  request.cbAlign = static_cast<LONG>(params.align + 1);
  request.cbPrefix = static_cast<LONG>(params.prefix);
  const bool hasPool = gst_query_get_n_allocation_pools(query) > 0;
  GstBufferPool* downstream = nullptr;
  if (hasPool) {
    guint size = 0, min = 0, max = 0;
    gst_query_parse_nth_allocation_pool(query, 0, &downstream, &size, &min, &max);
    request.cBuffers = static_cast<LONG>(min);
    request.cbBuffer = static_cast<LONG>(size);
  }

  // Downstream's pool first, then one of our own, as an output pin tries
  // the peer's allocator before its own.
  GstObjectPtr<GstBufferPool> candidates[] = {GstObjectPtr<GstBufferPool>(downstream),
                                              GstObjectPtr<GstBufferPool>(gst_buffer_pool_new())};
  HRESULT hr = E_FAIL;
  for (auto& pool : candidates) {
    if (!pool) continue;
    CGstPoolAllocator memAllocator(pool.get(), outcaps, allocator, params);
    hr = Guarded([&] { return state.filter->DecideAllocator(&memAllocator, request); });
    if (FAILED(hr)) continue;
    ALLOCATOR_PROPERTIES actual;
    memAllocator.GetProperties(&actual);
    state.poolBufferSize = static_cast<gsize>(actual.cbBuffer);
    const auto size = static_cast<guint>(actual.cbBuffer);
    const auto count = static_cast<guint>(actual.cBuffers);
    if (hasPool)
      gst_query_set_nth_allocation_pool(query, 0, pool.get(), size, count, 0);
    else
      gst_query_add_allocation_pool(query, pool.get(), size, count, 0);
    return TRUE;
  }
  GST_ELEMENT_ERROR(trans, RESOURCE, SETTINGS,
                    ("%s could not set up its output buffers.", Info(trans).longName),
                    ("DecideBufferSize failed, hr=0x%08x", Hex(hr)));
  return FALSE;
}

GstFlowReturn PrepareOutputBuffer(GstBaseTransform* trans, GstBuffer* input, GstBuffer** output) {
  ElementState& state = State(trans);
  const gsize needed = gst_buffer_get_size(input);
  const GstObjectPtr<GstBufferPool> pool(gst_base_transform_get_buffer_pool(trans));
  if (pool && needed <= state.poolBufferSize) {
    if (!gst_buffer_pool_is_active(pool.get()) && !gst_buffer_pool_set_active(pool.get(), TRUE)) {
      GST_ELEMENT_ERROR(trans, RESOURCE, SETTINGS, ("Failed to activate the buffer pool."),
                        (nullptr));
      return GST_FLOW_ERROR;
    }
    const GstFlowReturn ret = gst_buffer_pool_acquire_buffer(pool.get(), output, nullptr);
    if (ret != GST_FLOW_OK) return ret;
  } else {
    GstAllocator* allocator = nullptr;
    GstAllocationParams params;
    gst_base_transform_get_allocator(trans, &allocator, &params);
    const GstObjectPtr<GstAllocator> allocatorRef(allocator);
    *output = gst_buffer_new_allocate(allocator, needed, &params);
    if (!*output) return GST_FLOW_ERROR;
  }
  auto* klass = GST_BASE_TRANSFORM_GET_CLASS(trans);
  if (klass->copy_metadata && !klass->copy_metadata(trans, input, *output))
    GST_ELEMENT_WARNING(trans, STREAM, NOT_IMPLEMENTED, ("could not copy metadata"), (nullptr));
  return GST_FLOW_OK;
}

GstFlowReturn Transform(GstBaseTransform* trans, GstBuffer* input, GstBuffer* output) {
  ElementState& state = State(trans);
  if (!state.filter) return GST_FLOW_NOT_NEGOTIATED;
  CGstBufferSample in(input, GST_MAP_READ);
  CGstBufferSample out(output, GST_MAP_WRITE);
  if (!in.IsMapped() || !out.IsMapped()) {
    GST_ELEMENT_ERROR(trans, RESOURCE, FAILED, ("Failed to map a buffer."), (nullptr));
    return GST_FLOW_ERROR;
  }
  // Filters read samples straight from the pointer, which the framework's
  // own allocators always align; foreign memory may not be.
  if (reinterpret_cast<std::uintptr_t>(in.Data()) % alignof(std::uint64_t) != 0) {
    const gsize size = gst_buffer_get_size(input);
    state.alignedCopy.resize((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* copy = reinterpret_cast<BYTE*>(state.alignedCopy.data());
    std::copy_n(in.Data(), size, copy);
    in.Substitute(copy);
  }

  const HRESULT hr = Guarded([&] { return state.filter->Receive(in.Sample(), out.Sample()); });
  out.Commit();
  if (hr == S_FALSE) return GST_BASE_TRANSFORM_FLOW_DROPPED;
  if (FAILED(hr)) {
    GST_ELEMENT_ERROR(trans, STREAM, FAILED, ("%s failed on a buffer.", Info(trans).longName),
                      ("Transform gave hr=0x%08x", Hex(hr)));
    return GST_FLOW_ERROR;
  }
  return GST_FLOW_OK;
}

void ClassInit(gpointer klass, gpointer classData) {
  const auto* info = static_cast<const TransformElementInfo*>(classData);
  static_cast<TransformElementClass*>(klass)->info = info;
  parentClass = static_cast<GstBaseTransformClass*>(g_type_class_peek_parent(klass));

  auto* objectClass = G_OBJECT_CLASS(klass);
  objectClass->constructed = Constructed;
  objectClass->finalize = Finalize;
  objectClass->set_property = SetProperty;
  objectClass->get_property = GetProperty;
  g_object_class_install_property(
      objectClass, PROP_FILTER,
      g_param_spec_boxed(info->propertyName, info->propertyName,
                         "The filter's IUnknown, with a reference the reader must Release",
                         UnknownType(),
                         static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
  if (const TransformElementSetting* setting = info->setting) {
    g_object_class_install_property(
        objectClass, PROP_SETTING,
        g_param_spec_string(setting->name, setting->name, setting->blurb, setting->defaultValue,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
  }
  if (info->installProperties) info->installProperties(objectClass, PROP_FIRST_HOSTED);

  auto* elementClass = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(elementClass, info->longName, info->klass,
                                        info->description, info->author);
  // One caps description for both pads: the output is the input, attenuated.
  GstCapsPtr caps(gst_caps_from_string(info->caps ? info->caps : kAnyAudio));
  gst_element_class_add_pad_template(
      elementClass, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps.get()));
  gst_element_class_add_pad_template(
      elementClass, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps.get()));

  auto* transformClass = GST_BASE_TRANSFORM_CLASS(klass);
  transformClass->start = Start;
  transformClass->stop = Stop;
  transformClass->set_caps = SetCaps;
  transformClass->transform_caps = TransformCaps;
  transformClass->accept_caps = AcceptCaps;
  transformClass->sink_event = SinkEvent;
  transformClass->decide_allocation = DecideAllocation;
  transformClass->prepare_output_buffer = PrepareOutputBuffer;
  transformClass->transform = Transform;
  transformClass->passthrough_on_same_caps = FALSE;
}

}  // namespace

GType TransformElementType(const TransformElementInfo& info) {
  std::lock_guard lock(typeLock);
  if (const GType existing = g_type_from_name(info.typeName)) return existing;
  GST_DEBUG_CATEGORY_INIT(transform_element_debug, "transformfilter", 0,
                          "hosted transform filters");
  GTypeInfo typeInfo{};
  typeInfo.class_size = sizeof(TransformElementClass);
  typeInfo.class_init = ClassInit;
  typeInfo.class_data = &info;
  typeInfo.instance_size = sizeof(TransformElement);
  typeInfo.instance_init = InstanceInit;
  const GType type = g_type_register_static(GST_TYPE_BASE_TRANSFORM, info.typeName, &typeInfo,
                                            static_cast<GTypeFlags>(0));
  typeRegistered = true;
  return type;
}

bool TransformElementTypeRegistered() { return typeRegistered.load(); }

gboolean RegisterTransformElement(GstPlugin* plugin, const TransformElementInfo& info) {
  return gst_element_register(plugin, info.featureName, info.rank, TransformElementType(info));
}

GstElement* NewTransformElement(const TransformElementInfo& info, CTransformFilter* filter) {
  if (!gst_is_initialized() && !gst_init_check(nullptr, nullptr, nullptr)) return nullptr;
  const GType type = TransformElementType(info);
  if (GstPluginFeature* known = gst_registry_lookup_feature(gst_registry_get(), info.featureName))
    gst_object_unref(known);
  else
    gst_element_register(nullptr, info.featureName, info.rank, type);
  pendingFilter = filter;
  auto* element = static_cast<GstElement*>(g_object_new(type, nullptr));
  pendingFilter = nullptr;
  return element;
}

CTransformFilter* HostedFilter(GstElement* element) {
  if (!GST_IS_BASE_TRANSFORM(element) ||
      GST_BASE_TRANSFORM_GET_CLASS(element)->transform != Transform)
    return nullptr;
  return State(element).filter;
}

#include "platform/graph/filter_graph.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <new>
#include <span>
#include <string>

#include "platform/com/single_interface_object.h"
#include "platform/com/utf.h"
#include "platform/file/atomic_file.h"
#include "platform/file/user_folder.h"
#include "platform/graph/graph_objects.h"
#include "platform/graph/renderers.h"
#include "platform/gst/gst_filter.h"

namespace {

constexpr GstClockTime kRenderTimeout = 20 * GST_SECOND;
constexpr GstClockTime kSeekTimeout = 5 * GST_SECOND;
constexpr std::size_t kMaxPendingEvents = 256;

IFilterGraph* AsFilterGraph(IGraphBuilder* graph) { return graph; }

HRESULT HresultOf(const GError* error) {
  if (!error) return E_FAIL;
  if (error->domain == GST_RESOURCE_ERROR) {
    switch (error->code) {
      case GST_RESOURCE_ERROR_NOT_FOUND:
        return HRESULT_FILE_NOT_FOUND;
      case GST_RESOURCE_ERROR_OPEN_READ:
      case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
      case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
        return HRESULT_ACCESS_DENIED;
      default:
        return E_FAIL;
    }
  }
  if (error->domain == GST_STREAM_ERROR) {
    switch (error->code) {
      case GST_STREAM_ERROR_TYPE_NOT_FOUND:
      case GST_STREAM_ERROR_WRONG_TYPE:
        return VFW_E_UNKNOWN_FILE_TYPE;
      case GST_STREAM_ERROR_CODEC_NOT_FOUND:
      case GST_STREAM_ERROR_DECODE:
      case GST_STREAM_ERROR_DEMUX:
        return VFW_E_UNSUPPORTED_STREAM;
      case GST_STREAM_ERROR_FORMAT:
        return VFW_E_TYPE_NOT_ACCEPTED;
      default:
        return E_FAIL;
    }
  }
  if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN) {
    return VFW_E_UNSUPPORTED_STREAM;
  }
  return E_FAIL;
}

// ASF files are known by their extensions, as the caller that splices
// them knows them, and otherwise by the identifier of the header object
// they start with.
bool IsAsfFile(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".asf" || extension == ".wmv" || extension == ".wma") return true;
  static constexpr std::array<unsigned char, 16> kHeader{0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66,
                                                         0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA,
                                                         0x00, 0x62, 0xCE, 0x6C};
  std::ifstream in(path, std::ios::binary);
  std::array<char, 16> start{};
  if (!in.read(start.data(), start.size())) return false;
  return std::equal(kHeader.begin(), kHeader.end(), start.begin(),
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); });
}

GstCaps* CapsOf(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  return caps ? caps : gst_pad_query_caps(pad, nullptr);
}

std::vector<GstObjectPtr<GstPad>> FreePads(GstElement* element, GstPadDirection direction) {
  std::vector<GstObjectPtr<GstPad>> pads;
  GST_OBJECT_LOCK(element);
  for (GList* item = GST_ELEMENT_PADS(element); item; item = item->next) {
    GstPad* pad = GST_PAD(item->data);
    if (GST_PAD_DIRECTION(pad) == direction && !GST_PAD_PEER(pad)) {
      pads.emplace_back(GST_PAD(gst_object_ref(pad)));
    }
  }
  GST_OBJECT_UNLOCK(element);
  return pads;
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? "Source" : name;
}

// The filters as they were when the walk started or was reset, so that a
// walk survives the graph changing under it (filters removed, converters
// added by a connection).
class CFilterEnumerator final : public CSingleInterfaceObject<IEnumFilters, IID_IEnumFilters> {
 public:
  using Snapshot = std::function<std::vector<ComPtr<IBaseFilter>>()>;

  static HRESULT Create(Snapshot snapshot, IEnumFilters** filters) {
    *filters = new (std::nothrow) CFilterEnumerator(std::move(snapshot));
    return *filters ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    if (!filters) return E_POINTER;
    if (count != 1 && !fetched) return E_INVALIDARG;
    ULONG given = 0;
    while (given < count && next_ < filters_.size()) {
      filters[given++] = ComPtr<IBaseFilter>(filters_[next_++]).Detach();
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    filters_ = snapshot_();
    next_ = 0;
    return S_OK;
  }

 private:
  explicit CFilterEnumerator(Snapshot snapshot)
      : snapshot_(std::move(snapshot)), filters_(snapshot_()) {}
  ~CFilterEnumerator() = default;

  Snapshot snapshot_;
  std::vector<ComPtr<IBaseFilter>> filters_;
  std::size_t next_ = 0;
};

}  // namespace

struct CFilterGraph::SourceContext {
  CFilterGraph* graph;
  bool audioDirect;
  unsigned pass;
  std::atomic<int> rendered{0};
  std::atomic<int> unrendered{0};
};

HRESULT CFilterGraph::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!gst_init_check(nullptr, nullptr, nullptr)) return E_FAIL;
  auto* graph = new (std::nothrow) CFilterGraph();
  if (!graph) return E_OUTOFMEMORY;
  const HRESULT hr = graph->QueryInterface(iid, object);
  graph->Release();
  return hr;
}

CFilterGraph::CFilterGraph()
    : pipeline_(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr)))),
      weak_(ComPtr<CWeakGraph>::Attach(new (std::nothrow) CWeakGraph(this))) {
  GstObjectPtr<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), &CFilterGraph::OnBusMessage, this, nullptr);
}

CFilterGraph::~CFilterGraph() {
  // First, so that no filter hands out a reference to this graph from now.
  if (weak_) weak_->Forget();
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  GstObjectPtr<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
  for (Entry& entry : entries_) {
    if (entry.padAddedHandler)
      g_signal_handler_disconnect(entry.element.get(), entry.padAddedHandler);
    entry.filter->JoinFilterGraph(nullptr, nullptr);
  }
  for (const auto& [_, path] : publishedFiles_) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  entries_.clear();
  gst_object_unref(pipeline_);
}

HRESULT STDMETHODCALLTYPE CFilterGraph::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IGraphBuilder) {
    *object = static_cast<IGraphBuilder*>(this);
  } else if (iid == IID_IFilterGraph) {
    *object = AsFilterGraph(this);
  } else if (iid == IID_IMediaControl) {
    *object = static_cast<IMediaControl*>(this);
  } else if (iid == IID_IMediaEvent) {
    *object = static_cast<IMediaEvent*>(this);
  } else if (iid == IID_IMediaEventEx) {
    *object = static_cast<IMediaEventEx*>(this);
  } else if (iid == IID_IMediaSeeking) {
    *object = static_cast<IMediaSeeking*>(this);
  } else if (iid == IID_IVideoWindow) {
    *object = static_cast<IVideoWindow*>(this);
  } else if (iid == IID_IRunningObjectNotify) {
    *object = static_cast<IRunningObjectNotify*>(this);
  } else if (iid == IID_IWeakReferenceSource) {
    *object = static_cast<IWeakReferenceSource*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE CFilterGraph::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE CFilterGraph::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

bool CFilterGraph::AddRefUnlessGone() {
  ULONG current = refs_.load();
  while (current != 0) {
    if (refs_.compare_exchange_weak(current, current + 1)) return true;
  }
  return false;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::GetWeakReference(IWeakReference** weak) {
  if (!weak) return E_POINTER;
  *weak = ComPtr<CWeakGraph>(weak_).Detach();
  return *weak ? S_OK : E_OUTOFMEMORY;
}

CFilterGraph::CWeakGraph::CWeakGraph(CFilterGraph* graph) : graph_(graph) {}

HRESULT STDMETHODCALLTYPE CFilterGraph::CWeakGraph::Resolve(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CFilterGraph* graph = nullptr;
  {
    // The graph's destructor waits here before it frees anything, and a
    // graph whose count has reached zero is never counted up again.
    std::lock_guard guard(lock_);
    if (graph_ && graph_->AddRefUnlessGone()) graph = graph_;
  }
  if (!graph) return E_FAIL;
  const HRESULT hr = graph->QueryInterface(iid, object);
  graph->Release();
  return hr;
}

void CFilterGraph::CWeakGraph::Forget() {
  std::lock_guard guard(lock_);
  graph_ = nullptr;
}

// ---- Filters ------------------------------------------------------------

HRESULT CFilterGraph::AddEntry(Entry entry, const OLECHAR* name) {
  std::string base = name && *name ? Utf16ToUtf8(name) : std::string("Filter");
  std::lock_guard guard(filtersLock_);
  for (const Entry& e : entries_) {
    if (e.identity.Get() == entry.identity.Get()) return E_INVALIDARG;
  }
  if (GST_OBJECT_PARENT(entry.element.get())) return E_INVALIDARG;
  auto taken = [&](const std::string& candidate) {
    GST_OBJECT_LOCK(pipeline_);
    bool found = false;
    for (GList* item = GST_BIN_CHILDREN(pipeline_); item && !found; item = item->next) {
      found = candidate == GST_OBJECT_NAME(item->data);
    }
    GST_OBJECT_UNLOCK(pipeline_);
    return found;
  };
  std::string unique = base;
  for (int n = 1; taken(unique); ++n) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " %04d", n);
    unique = base + suffix;
  }
  if (!gst_object_set_name(GST_OBJECT(entry.element.get()), unique.c_str())) return E_FAIL;
  if (!gst_bin_add(GST_BIN(pipeline_), entry.element.get())) return E_FAIL;
  // Under the lock, so that a removal cannot tell the filter it left before
  // it hears that it joined.
  entry.filter->JoinFilterGraph(AsFilterGraph(this), Utf8ToUtf16(unique).c_str());
  entries_.push_back(std::move(entry));
  return unique == base ? S_OK : VFW_S_DUPLICATE_NAME;
}

void CFilterGraph::DropEntry(Entry& entry) {
  GstElement* element = entry.element.get();
  entry.filter->JoinFilterGraph(nullptr, nullptr);
  if (entry.padAddedHandler) {
    g_signal_handler_disconnect(element, entry.padAddedHandler);
    entry.padAddedHandler = 0;
  }
  // After Stop a streaming thread may wait in a sink downstream for preroll
  // while it holds this element's stream lock, which taking the element to
  // NULL needs: flush what lies downstream to let it go, then end the flush
  // so the rest of the graph can stream again.
  std::vector<GstObjectPtr<GstPad>> peers;
  GstIterator* pads = gst_element_iterate_src_pads(element);
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
    if (GstPad* peer = gst_pad_get_peer(GST_PAD(g_value_get_object(&item)))) {
      peers.emplace_back(peer);
      gst_pad_send_event(peer, gst_event_new_flush_start());
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(pads);
  gst_element_set_state(element, GST_STATE_NULL);
  for (const auto& peer : peers) gst_pad_send_event(peer.get(), gst_event_new_flush_stop(TRUE));
  GstObjectPtr<GstObject> parent(gst_element_get_parent(element));
  if (parent.get() == GST_OBJECT(pipeline_)) gst_bin_remove(GST_BIN(pipeline_), element);
  if (entry.video) entry.video->SetOwner(nullptr);
}

HRESULT CFilterGraph::AddOwnElement(GstElement* element, const char16_t* name, unsigned pass,
                                    std::shared_ptr<VideoOutput> video, GstElement** added) {
  if (!element) return E_OUTOFMEMORY;
  Entry entry;
  if (const HRESULT hr = CGstFilter::Create(element, entry.filter.Put()); FAILED(hr)) return hr;
  entry.filter->QueryInterface(IID_IUnknown, entry.identity.PutVoid());
  entry.element.reset(GST_ELEMENT(gst_object_ref(element)));
  entry.video = std::move(video);
  entry.renderPass = pass;
  const HRESULT hr = AddEntry(std::move(entry), name);
  if (SUCCEEDED(hr) && added) *added = element;
  return hr;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::AddFilter(IBaseFilter* filter, const OLECHAR* name) {
  if (!filter) return E_POINTER;
  Entry entry;
  entry.filter = ComPtr<IBaseFilter>(filter);
  if (FAILED(filter->QueryInterface(IID_IUnknown, entry.identity.PutVoid()))) return E_NOINTERFACE;
  entry.element = ElementOfFilter(filter);
  if (!entry.element) return E_NOINTERFACE;
  const HRESULT hr = AddEntry(std::move(entry), name);
  RefreshPublishedGraph();
  return hr;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return E_POINTER;
  ComPtr<IUnknown> identity;
  if (FAILED(filter->QueryInterface(IID_IUnknown, identity.PutVoid()))) return E_NOINTERFACE;
  Entry removed;
  bool empty = false;
  {
    std::lock_guard guard(filtersLock_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.identity.Get() == identity.Get(); });
    if (it == entries_.end()) return VFW_E_NOT_IN_GRAPH;
    removed = std::move(*it);
    entries_.erase(it);
    empty = entries_.empty();
  }
  DropEntry(removed);
  // Nothing is left to preroll. Left PAUSED, the graph built next would
  // join a state change that a live source never lets finish: its sinks
  // wait for preroll while the source waits for PLAYING.
  if (empty) gst_element_set_state(pipeline_, GST_STATE_READY);
  RefreshPublishedGraph();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::EnumFilters(IEnumFilters** filters) {
  if (!filters) return E_POINTER;
  *filters = nullptr;
  ComPtr<IGraphBuilder> self(this);
  return CFilterEnumerator::Create(
      [self] {
        auto* graph = static_cast<CFilterGraph*>(self.Get());
        std::lock_guard guard(graph->filtersLock_);
        std::vector<ComPtr<IBaseFilter>> list;
        for (const Entry& e : graph->entries_) list.push_back(e.filter);
        return list;
      },
      filters);
}

void CFilterGraph::RemoveRenderPass(unsigned pass) {
  std::vector<Entry> removed;
  {
    std::lock_guard guard(filtersLock_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->renderPass == pass) {
        removed.push_back(std::move(*it));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Entry& entry : removed) DropEntry(entry);
}

// ---- Connections --------------------------------------------------------

bool CFilterGraph::InThisGraph(GstPad* pad) {
  GstObjectPtr<GstElement> element(gst_pad_get_parent_element(pad));
  if (!element) return false;
  GstObjectPtr<GstObject> parent(gst_element_get_parent(element.get()));
  return parent.get() == GST_OBJECT(pipeline_);
}

HRESULT CFilterGraph::PadsOf(IPin* output, IPin* input, GstObjectPtr<GstPad>& out,
                             GstObjectPtr<GstPad>& in) {
  if (!output || !input) return E_POINTER;
  out = PadOfPin(output);
  in = PadOfPin(input);
  if (!out || !in || !InThisGraph(out.get()) || !InThisGraph(in.get())) return VFW_E_NOT_IN_GRAPH;
  if (!GST_PAD_IS_SRC(out.get()) || !GST_PAD_IS_SINK(in.get())) return VFW_E_INVALID_DIRECTION;
  if (gst_pad_is_linked(out.get()) || gst_pad_is_linked(in.get())) return VFW_E_ALREADY_CONNECTED;
  return S_OK;
}

void CFilterGraph::SyncWithPipeline(GstElement* element) {
  gst_element_sync_state_with_parent(element);
}

namespace {

bool FormatsMeet(GstPad* output, GstPad* input) {
  GstCapsPtr current(gst_pad_get_current_caps(output));
  if (current) return gst_pad_query_accept_caps(input, current.get());
  GstCapsPtr offered(gst_pad_query_caps(output, nullptr));
  GstCapsPtr accepted(gst_pad_query_caps(input, nullptr));
  return offered && accepted && gst_caps_can_intersect(offered.get(), accepted.get());
}

}  // namespace

HRESULT CFilterGraph::LinkConverting(GstPad* output, GstPad* input, unsigned pass) {
  GstObjectPtr<GstElement> target(gst_pad_get_parent_element(input));
  GstCapsPtr caps(CapsOf(output));
  const GstStructure* first = caps && !gst_caps_is_any(caps.get()) && !gst_caps_is_empty(caps.get())
                                  ? gst_caps_get_structure(caps.get(), 0)
                                  : nullptr;
  const bool audio = first && gst_structure_has_name(first, "audio/x-raw");
  const bool video = first && gst_structure_has_name(first, "video/x-raw");
  if ((!audio && !video) || (target && ConvertsInput(target.get()))) {
    if (!FormatsMeet(output, input)) return VFW_E_NO_ACCEPTABLE_TYPES;
    return gst_pad_link(output, input) == GST_PAD_LINK_OK ? S_OK : VFW_E_CANNOT_CONNECT;
  }

  struct Converter {
    const char* factory;
    const char16_t* name;
  };
  static constexpr Converter kAudio[] = {{"audioconvert", u"Audio Converter"},
                                         {"audioresample", u"Audio Resampler"}};
  static constexpr Converter kVideo[] = {{"videoconvert", u"Color Space Converter"}};
  std::vector<GstElement*> chain;
  auto undo = [&] {
    std::vector<Entry> removed;
    {
      std::lock_guard guard(filtersLock_);
      for (GstElement* e : chain) {
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& entry) { return entry.element.get() == e; });
        if (it != entries_.end()) {
          removed.push_back(std::move(*it));
          entries_.erase(it);
        }
      }
    }
    for (Entry& entry : removed) DropEntry(entry);
    return VFW_E_CANNOT_CONNECT;
  };
  for (const Converter& c :
       audio ? std::span<const Converter>(kAudio) : std::span<const Converter>(kVideo)) {
    GstElement* added = nullptr;
    if (FAILED(AddOwnElement(gst_element_factory_make(c.factory, nullptr), c.name, pass, nullptr,
                             &added))) {
      return undo();
    }
    chain.push_back(added);
  }
  // Downstream first, so that nothing is pushed into an element still
  // stopped.
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) SyncWithPipeline(*it);
  GstObjectPtr<GstPad> from(GST_PAD(gst_object_ref(output)));
  for (GstElement* e : chain) {
    GstObjectPtr<GstPad> sink(gst_element_get_static_pad(e, "sink"));
    if (gst_pad_link(from.get(), sink.get()) != GST_PAD_LINK_OK) return undo();
    from.reset(gst_element_get_static_pad(e, "src"));
  }
  if (gst_pad_link(from.get(), input) != GST_PAD_LINK_OK) {
    GstObjectPtr<GstPad> firstSink(gst_element_get_static_pad(chain.front(), "sink"));
    gst_pad_unlink(output, firstSink.get());
    return undo();
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::ConnectDirect(IPin* output, IPin* input,
                                                      const CMediaType* mediaType) {
  if (mediaType) return E_NOTIMPL;
  GstObjectPtr<GstPad> out, in;
  if (const HRESULT hr = PadsOf(output, input, out, in); FAILED(hr)) return hr;
  if (!FormatsMeet(out.get(), in.get())) return VFW_E_NO_ACCEPTABLE_TYPES;
  GstObjectPtr<GstElement> downstream(gst_pad_get_parent_element(in.get()));
  GstObjectPtr<GstElement> upstream(gst_pad_get_parent_element(out.get()));
  SyncWithPipeline(downstream.get());
  if (gst_pad_link(out.get(), in.get()) != GST_PAD_LINK_OK) return VFW_E_CANNOT_CONNECT;
  SyncWithPipeline(upstream.get());
  RefreshPublishedGraph();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::Connect(IPin* output, IPin* input) {
  GstObjectPtr<GstPad> out, in;
  if (const HRESULT hr = PadsOf(output, input, out, in); FAILED(hr)) return hr;
  GstObjectPtr<GstElement> downstream(gst_pad_get_parent_element(in.get()));
  GstObjectPtr<GstElement> upstream(gst_pad_get_parent_element(out.get()));
  SyncWithPipeline(downstream.get());
  const HRESULT hr = LinkConverting(out.get(), in.get(), 0);
  if (SUCCEEDED(hr)) SyncWithPipeline(upstream.get());
  RefreshPublishedGraph();
  return hr;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::Disconnect(IPin* pin) {
  if (!pin) return E_POINTER;
  GstObjectPtr<GstPad> pad = PadOfPin(pin);
  if (!pad || !InThisGraph(pad.get())) return VFW_E_NOT_IN_GRAPH;
  GstObjectPtr<GstPad> peer(gst_pad_get_peer(pad.get()));
  if (!peer) return S_FALSE;
  const bool unlinked = GST_PAD_IS_SRC(pad.get()) ? gst_pad_unlink(pad.get(), peer.get())
                                                  : gst_pad_unlink(peer.get(), pad.get());
  RefreshPublishedGraph();
  return unlinked ? S_OK : E_FAIL;
}

// ---- Rendering ----------------------------------------------------------

bool CFilterGraph::RenderIntoFilter(GstPad* pad, Kind kind, GstElement* filter,
                                    std::vector<GstElement*>& visited, unsigned pass) {
  GstCapsPtr raw(gst_caps_new_empty_simple(kind == Kind::kAudio ? "audio/x-raw" : "video/x-raw"));
  for (const auto& input : FreePads(filter, GST_PAD_SINK)) {
    GstCapsPtr accepted(gst_pad_query_caps(input.get(), nullptr));
    if (!accepted || !gst_caps_can_intersect(accepted.get(), raw.get())) continue;
    SyncWithPipeline(filter);
    if (FAILED(LinkConverting(pad, input.get(), pass))) continue;
    visited.push_back(filter);
    for (const auto& output : FreePads(filter, GST_PAD_SRC)) {
      RenderPad(output.get(), false, visited, pass);
    }
    return true;
  }
  return false;
}

bool CFilterGraph::RenderPad(GstPad* pad, bool direct, std::vector<GstElement*>& visited,
                             unsigned pass) {
  GstCapsPtr caps(CapsOf(pad));
  if (!caps || gst_caps_is_any(caps.get()) || gst_caps_is_empty(caps.get())) return false;
  const GstStructure* first = gst_caps_get_structure(caps.get(), 0);
  const Kind kind = gst_structure_has_name(first, "audio/x-raw")   ? Kind::kAudio
                    : gst_structure_has_name(first, "video/x-raw") ? Kind::kVideo
                                                                   : Kind::kOther;
  if (kind == Kind::kOther) return false;

  if (!(direct && kind == Kind::kAudio)) {
    std::vector<GstObjectPtr<GstElement>> candidates;
    {
      std::lock_guard guard(filtersLock_);
      for (const Entry& e : entries_) {
        if (std::find(visited.begin(), visited.end(), e.element.get()) == visited.end()) {
          candidates.emplace_back(GST_ELEMENT(gst_object_ref(e.element.get())));
        }
      }
    }
    for (const auto& candidate : candidates) {
      if (RenderIntoFilter(pad, kind, candidate.get(), visited, pass)) return true;
    }
  }

  std::shared_ptr<VideoOutput> video;
  GstElement* renderer = nullptr;
  if (kind == Kind::kAudio) {
    renderer = MakeAudioRenderer();
  } else {
    video = std::make_shared<VideoOutput>();
    renderer = MakeVideoRenderer(video);
  }
  GstElement* added = nullptr;
  if (FAILED(AddOwnElement(renderer, kind == Kind::kAudio ? kAudioRendererName : kVideoRendererName,
                           pass, video, &added))) {
    return false;
  }
  SyncWithPipeline(added);
  GstObjectPtr<GstPad> input(gst_element_get_static_pad(
      added,
      Utf16ToUtf8(kind == Kind::kAudio ? kAudioRendererPinId : kVideoRendererPinId).c_str()));
  return input && gst_pad_link(pad, input.get()) == GST_PAD_LINK_OK;
}

void CFilterGraph::OnPadAdded(GstElement* element, GstPad* pad, gpointer data) {
  auto& context = **static_cast<std::shared_ptr<SourceContext>*>(data);
  std::vector<GstElement*> visited{element};
  if (context.graph->RenderPad(pad, context.audioDirect, visited, context.pass)) {
    ++context.rendered;
  } else {
    ++context.unrendered;
  }
}

HRESULT STDMETHODCALLTYPE CFilterGraph::RenderFile(const OLECHAR* file, const OLECHAR* playList) {
  if (!file) return E_POINTER;
  if (playList) return E_INVALIDARG;
  const std::string path = Utf16ToUtf8(file);
  GCharPtr uri;
  if (path.find("://") != std::string::npos && gst_uri_is_valid(path.c_str())) {
    uri.reset(g_strdup(path.c_str()));
  } else {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return HRESULT_FILE_NOT_FOUND;
    uri.reset(gst_filename_to_uri(path.c_str(), nullptr));
    if (!uri) return HRESULT_FILE_NOT_FOUND;
  }
  // ASF audio is rendered as the file holds it, straight to the renderer:
  // a filter meant for its stream is put in by the caller.
  const bool asf = IsAsfFile(path);
  GstElement* source = gst_element_factory_make("uridecodebin", nullptr);
  if (!source) return E_FAIL;
  g_object_set(source, "uri", uri.get(), nullptr);

  auto context = std::make_shared<SourceContext>();
  context->graph = this;
  context->audioDirect = asf;
  {
    std::lock_guard guard(filtersLock_);
    context->pass = ++lastRenderPass_;
  }
  GstElement* added = nullptr;
  if (const HRESULT hr = AddOwnElement(source, Utf8ToUtf16(FileNameOf(path)).c_str(), context->pass,
                                       nullptr, &added);
      FAILED(hr)) {
    return hr;
  }
  {
    std::lock_guard guard(filtersLock_);
    for (Entry& e : entries_) {
      if (e.element.get() != added) continue;
      e.padAddedHandler = g_signal_connect_data(
          added, "pad-added", G_CALLBACK(&CFilterGraph::OnPadAdded),
          std::make_unique<std::shared_ptr<SourceContext>>(context).release(),
          [](gpointer data, GClosure*) {
            std::unique_ptr<std::shared_ptr<SourceContext>> owned(
                static_cast<std::shared_ptr<SourceContext>*>(data));
          },
          GConnectFlags(0));
    }
  }
  {
    std::lock_guard guard(renderLock_);
    rendering_ = true;
    renderError_ = S_OK;
  }
  GstState current = GST_STATE_NULL;
  GstState pending = GST_STATE_VOID_PENDING;
  gst_element_get_state(pipeline_, &current, &pending, 0);
  if (current < GST_STATE_PAUSED && pending != GST_STATE_PAUSED && pending != GST_STATE_PLAYING) {
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  } else {
    SyncWithPipeline(added);
  }
  const GstStateChangeReturn result =
      gst_element_get_state(pipeline_, nullptr, nullptr, kRenderTimeout);
  HRESULT error;
  {
    std::lock_guard guard(renderLock_);
    rendering_ = false;
    error = renderError_;
  }

  HRESULT hr = S_OK;
  if (result == GST_STATE_CHANGE_FAILURE || result == GST_STATE_CHANGE_ASYNC ||
      context->rendered == 0) {
    hr = FAILED(error) ? error : result == GST_STATE_CHANGE_ASYNC ? E_FAIL : VFW_E_CANNOT_RENDER;
    RemoveRenderPass(context->pass);
    gst_element_set_state(pipeline_, GST_STATE_READY);
  } else if (context->unrendered > 0) {
    hr = VFW_S_PARTIAL_RENDER;
  }
  RefreshPublishedGraph();
  return hr;
}

// ---- Control and events -------------------------------------------------

GstBusSyncReply CFilterGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
  auto* self = static_cast<CFilterGraph*>(data);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
      GError* raw = nullptr;
      gst_message_parse_error(message, &raw, nullptr);
      GErrorPtr error(raw);
      const HRESULT hr = HresultOf(error.get());
      {
        std::lock_guard guard(self->renderLock_);
        if (self->rendering_ && SUCCEEDED(self->renderError_)) self->renderError_ = hr;
      }
      if (self->running_) self->QueueEvent(EC_ERRORABORT, hr, 0);
      break;
    }
    case GST_MESSAGE_EOS:
      self->QueueEvent(EC_COMPLETE, S_OK, 0);
      break;
    case GST_MESSAGE_CLOCK_LOST:
      // The clock went with the element that gave it: running again picks
      // a new one. Not from this streaming thread, which a state change
      // would wait for.
      if (self->running_) {
        gst_element_call_async(
            self->pipeline_,
            [](GstElement* pipeline, gpointer) {
              gst_element_set_state(pipeline, GST_STATE_PAUSED);
              gst_element_set_state(pipeline, GST_STATE_PLAYING);
            },
            nullptr, nullptr);
      }
      break;
    default:
      break;
  }
  // A dropped message is the handler's to free, and each one holds the
  // element that posted it: kept, they would keep the pipeline and every
  // filter in it alive after the graph is gone.
  gst_message_unref(message);
  return GST_BUS_DROP;
}

void CFilterGraph::QueueEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  std::lock_guard guard(eventLock_);
  if (events_.size() >= kMaxPendingEvents) events_.pop_front();
  events_.push_back({code, param1, param2});
  eventArrived_.notify_all();
  // Under the lock, so that once SetNotifyWindow has replaced a target
  // nothing reaches the old one.
  if (notifyTarget_) notifyTarget_->PostNotify(notifyMessage_, notifyInstance_);
}

HRESULT STDMETHODCALLTYPE CFilterGraph::Run() {
  running_ = true;
  const GstStateChangeReturn result = gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  RefreshPublishedGraph();
  if (result == GST_STATE_CHANGE_FAILURE) return E_FAIL;
  return result == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::Stop() {
  running_ = false;
  const GstStateChangeReturn result = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  if (result == GST_STATE_CHANGE_FAILURE) return E_FAIL;
  gst_bin_sync_children_states(GST_BIN(pipeline_));
  // A stopped graph keeps its place, so Run goes on from there: going back
  // to the start would feed the decoder the same telemetry twice.
  RefreshPublishedGraph();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::GetEvent(long* eventCode, LONG_PTR* param1,
                                                 LONG_PTR* param2, long timeoutMs) {
  if (!eventCode || !param1 || !param2) return E_POINTER;
  std::unique_lock guard(eventLock_);
  if (!eventArrived_.wait_for(guard, std::chrono::milliseconds(std::max(timeoutMs, 0L)),
                              [&] { return !events_.empty(); })) {
    return E_ABORT;
  }
  const Event event = events_.front();
  events_.pop_front();
  *eventCode = event.code;
  *param1 = event.param1;
  *param2 = event.param2;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::FreeEventParams(long, LONG_PTR, LONG_PTR) { return S_OK; }

HRESULT STDMETHODCALLTYPE CFilterGraph::SetNotifyWindow(INotifyTarget* target, long message,
                                                        LONG_PTR instance) {
  std::lock_guard guard(eventLock_);
  notifyTarget_ = target;
  notifyMessage_ = message;
  notifyInstance_ = instance;
  if (notifyTarget_ && !events_.empty()) notifyTarget_->PostNotify(message, instance);
  return S_OK;
}

// ---- Seeking ------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CFilterGraph::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  gint64 nanoseconds = -1;
  if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &nanoseconds) || nanoseconds < 0) {
    return E_FAIL;
  }
  *duration = nanoseconds / 100;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (current) {
    gint64 nanoseconds = 0;
    if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &nanoseconds) || nanoseconds < 0) {
      nanoseconds = 0;
    }
    *current = nanoseconds / 100;
  }
  if (stop) {
    GstQuery* query = gst_query_new_segment(GST_FORMAT_TIME);
    gint64 end = -1;
    if (gst_element_query(pipeline_, query)) {
      gst_query_parse_segment(query, nullptr, nullptr, nullptr, &end);
    }
    gst_query_unref(query);
    if (end < 0 && !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &end)) end = 0;
    *stop = std::max<gint64>(end, 0) / 100;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags,
                                                     LONGLONG* stop, DWORD stopFlags) {
  const DWORD currentMode = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
  for (DWORD mode : {currentMode, stopMode}) {
    if (mode != AM_SEEKING_NoPositioning && mode != AM_SEEKING_AbsolutePositioning) {
      return E_NOTIMPL;
    }
  }
  const bool moveCurrent = currentMode == AM_SEEKING_AbsolutePositioning;
  const bool moveStop = stopMode == AM_SEEKING_AbsolutePositioning;
  if ((moveCurrent && !current) || (moveStop && !stop)) return E_POINTER;
  if (!moveCurrent && !moveStop) return S_OK;
  if ((moveCurrent && *current < 0) || (moveStop && *stop < 0)) return E_INVALIDARG;
  if (!gst_element_seek(
          pipeline_, 1.0, GST_FORMAT_TIME,
          GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
          moveCurrent ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE, moveCurrent ? *current * 100 : 0,
          moveStop ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE, moveStop ? *stop * 100 : 0)) {
    return E_FAIL;
  }
  // The new place is reached once the streams have prerolled there again.
  gst_element_get_state(pipeline_, nullptr, nullptr, kSeekTimeout);
  return S_OK;
}

// ---- Video window -------------------------------------------------------

std::shared_ptr<VideoOutput> CFilterGraph::FirstVideoOutput() {
  std::lock_guard guard(filtersLock_);
  for (const Entry& e : entries_) {
    if (e.video) return e.video;
  }
  return nullptr;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::put_Owner(IVideoSurface* owner) {
  auto video = FirstVideoOutput();
  if (!video) return E_NOINTERFACE;
  video->SetOwner(owner);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::put_WindowStyle(long style) {
  auto video = FirstVideoOutput();
  if (!video) return E_NOINTERFACE;
  video->SetStyle(style);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::SetWindowPosition(long left, long top, long width,
                                                          long height) {
  auto video = FirstVideoOutput();
  if (!video) return E_NOINTERFACE;
  if (width < 0 || height < 0) return E_INVALIDARG;
  video->Place(left, top, width, height);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilterGraph::put_Visible(long visible) {
  auto video = FirstVideoOutput();
  if (!video) return E_NOINTERFACE;
  video->Show(visible != OAFALSE);
  return S_OK;
}

// ---- Publication --------------------------------------------------------

void STDMETHODCALLTYPE CFilterGraph::OnRegistered(DWORD cookie, const OLECHAR* displayName) {
  const auto folder = PrivateTempFolder();
  if (!folder || !displayName) return;
  std::u16string_view name(displayName);
  // An item moniker's name starts with its delimiter.
  while (!name.empty() && (name.front() == u'!' || name.front() == u'/' || name.front() == u'\\')) {
    name.remove_prefix(1);
  }
  if (name.empty()) return;
  {
    std::lock_guard guard(publishLock_);
    publishedFiles_[cookie] = *folder / (Utf16ToUtf8(name) + ".dot");
  }
  RefreshPublishedGraph();
}

void STDMETHODCALLTYPE CFilterGraph::OnRevoked(DWORD cookie) {
  std::lock_guard guard(publishLock_);
  auto it = publishedFiles_.find(cookie);
  if (it == publishedFiles_.end()) return;
  std::error_code ignored;
  std::filesystem::remove(it->second, ignored);
  publishedFiles_.erase(it);
}

void CFilterGraph::RefreshPublishedGraph() {
  std::lock_guard guard(publishLock_);
  if (publishedFiles_.empty()) return;
  GCharPtr dot(gst_debug_bin_to_dot_data(GST_BIN(pipeline_), GST_DEBUG_GRAPH_SHOW_ALL));
  if (!dot) return;
  for (const auto& [_, path] : publishedFiles_) ReplaceFileContents(path, dot.get());
}

#include "platform/graph/graph_objects.h"

#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <new>

#include "platform/com/com_ptr.h"
#include "platform/com/single_interface_object.h"
#include "platform/graph/factories.h"
#include "platform/graph/filter_graph.h"
#include "platform/graph/renderers.h"
#include "platform/gst/gst_filter.h"

namespace {

std::mutex optionsLock;
GraphRenderingOptions options;

// Holds the graph it builds on; capture-specific building is not needed by
// this system, so binding is all it does.
class CCaptureGraphBuilder final
    : public CSingleInterfaceObject<ICaptureGraphBuilder2, IID_ICaptureGraphBuilder2> {
 public:
  CCaptureGraphBuilder() = default;

  HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* graph) override {
    if (!graph) return E_POINTER;
    std::lock_guard guard(lock_);
    if (graph_) return E_UNEXPECTED;
    graph_ = ComPtr<IGraphBuilder>(graph);
    return S_OK;
  }

 private:
  ~CCaptureGraphBuilder() = default;

  std::mutex lock_;
  ComPtr<IGraphBuilder> graph_;
};

template <typename T>
HRESULT CreateAndQuery(T* object, REFIID iid, void** out) {
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace

HRESULT CreateFilterGraph(REFIID iid, void** object) { return CFilterGraph::Create(iid, object); }

HRESULT CreateCaptureGraphBuilder(REFIID iid, void** object) {
  return CreateAndQuery(new (std::nothrow) CCaptureGraphBuilder(), iid, object);
}

HRESULT CreateAudioOutputFilter(REFIID iid, void** object) {
  GstElement* renderer = MakeAudioRenderer();
  if (!renderer) return E_FAIL;
  ComPtr<IBaseFilter> filter;
  if (const HRESULT hr = CGstFilter::Create(renderer, filter.Put()); FAILED(hr)) return hr;
  return filter->QueryInterface(iid, object);
}

HRESULT CreateGraphObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!gst_init_check(nullptr, nullptr, nullptr)) return E_FAIL;
  if (clsid == CLSID_FilterGraph) return CreateFilterGraph(iid, object);
  if (clsid == CLSID_CaptureGraphBuilder2) return CreateCaptureGraphBuilder(iid, object);
  if (clsid == CLSID_SystemDeviceEnum) return CreateSystemDeviceEnum(iid, object);
  if (clsid == CLSID_DSoundRender) return CreateAudioOutputFilter(iid, object);
  return REGDB_E_CLASSNOTREG;
}

void SetGraphRenderingOptions(const GraphRenderingOptions& value) {
  std::lock_guard guard(optionsLock);
  options = value;
}

GraphRenderingOptions CurrentGraphRenderingOptions() {
  std::lock_guard guard(optionsLock);
  return options;
}

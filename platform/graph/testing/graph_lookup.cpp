#include "platform/graph/testing/graph_lookup.h"

#include "platform/com/utf.h"
#include "platform/graph/testing/fake_graph.h"
#include "platform/gst/gst_filter.h"

ComPtr<IBaseFilter> FindFilter(IGraphBuilder* graph, const std::string& name) {
  ComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(filters.Put()))) return nullptr;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.Put(), nullptr) == S_OK) {
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info))) continue;
    if (info.pGraph) info.pGraph->Release();
    if (Utf16ToUtf8(info.achName) == name) return filter;
  }
  return nullptr;
}

std::string PeerElementName(IPin* pin) {
  ComPtr<IPin> peer, real;
  if (!pin || FAILED(pin->ConnectedTo(peer.Put()))) return {};
  UnwrapFake(peer.Get()).As(IID_IPin, real);
  GstObjectPtr<GstPad> pad = PadOfPin(real.Get());
  GstObjectPtr<GstElement> element(pad ? gst_pad_get_parent_element(pad.get()) : nullptr);
  GCharPtr name(element ? gst_element_get_name(element.get()) : nullptr);
  return name ? name.get() : "";
}

// The decoder made by class identifier from the registered library, as a
// filter of the graph in its own right: the library has its own copy of the
// filter code and shares nothing with the graph but interfaces.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/iquorvex.h"
#include "platform/com/co_create.h"
#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"
#include "platform/gst/gst_filter.h"
#include "tests/viewer/shell/media_graph_fixtures.h"

namespace {

ComPtr<IBaseFilter> NewDecoder() {
  ComPtr<IBaseFilter> decoder;
  EXPECT_EQ(CoCreateInstance(CLSID_Quorvex, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             decoder.PutVoid()),
            S_OK);
  return decoder;
}

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CreateGraphObject(CLSID_FilterGraph, IID_IGraphBuilder, graph.PutVoid()), S_OK);
  return graph;
}

ComPtr<IBaseFilter> ElementFilter(const char* description) {
  GstElement* element = gst_parse_launch(description, nullptr);
  ComPtr<IBaseFilter> filter;
  if (element) {
    EXPECT_EQ(CGstFilter::Create(element, filter.Put()), S_OK);
  }
  return filter;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IPin> pin;
  MediaGraph::FindPinByDirection(filter, direction, pin.Put());
  return pin;
}

struct FilterInfo {
  std::string name;
  ComPtr<IFilterGraph> graph;
};

FilterInfo InfoOf(IBaseFilter* filter) {
  FILTER_INFO info{};
  EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
  return {Utf16ToUtf8(info.achName), ComPtr<IFilterGraph>::Attach(info.pGraph)};
}

GstObjectPtr<GstElement> ElementOf(IBaseFilter* filter) {
  GstObjectPtr<GstElement> element = ElementOfFilter(filter);
  EXPECT_TRUE(element);
  return element;
}

bool Alive(GWeakRef& ref) {
  GstObjectPtr<GstElement> element(static_cast<GstElement*>(g_weak_ref_get(&ref)));
  return element != nullptr;
}

TEST(DecoderFilter, OneObjectBehindEveryInterface) {
  auto decoder = NewDecoder();
  ASSERT_TRUE(decoder);
  ComPtr<IQuorvex> control;
  ASSERT_EQ(decoder.As(IID_IQuorvex, control), S_OK);
  ComPtr<IBaseFilter> back;
  ASSERT_EQ(control.As(IID_IBaseFilter, back), S_OK);
  EXPECT_EQ(back.Get(), decoder.Get());
  ComPtr<IUnknown> fromFilter, fromControl;
  decoder.As(IID_IUnknown, fromFilter);
  control.As(IID_IUnknown, fromControl);
  EXPECT_EQ(fromFilter.Get(), fromControl.Get());

  // An input, then an output, before the filter is in any graph.
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(decoder->EnumPins(pins.Put()), S_OK);
  std::vector<PIN_DIRECTION> directions;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
    PIN_DIRECTION direction;
    ASSERT_EQ(pin->QueryDirection(&direction), S_OK);
    directions.push_back(direction);
  }
  EXPECT_EQ(directions, (std::vector<PIN_DIRECTION>{PINDIR_INPUT, PINDIR_OUTPUT}));
  EXPECT_EQ(InfoOf(decoder.Get()).graph.Get(), nullptr);
}

// Pins taken before the filter joined are the pins it has in the graph.
TEST(DecoderFilter, JoinsAGraphAndStreamsThroughPinsTakenBeforehand) {
  auto decoder = NewDecoder();
  auto input = FirstPin(decoder.Get(), PINDIR_INPUT);
  auto output = FirstPin(decoder.Get(), PINDIR_OUTPUT);
  ASSERT_TRUE(input && output);

  auto graph = NewGraph();
  auto tone = ElementFilter("audiotestsrc num-buffers=20");
  auto sink = ElementFilter("fakesink");
  ASSERT_EQ(graph->AddFilter(tone.Get(), u"Tone"), S_OK);
  ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Telemetry Decode"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);
  ASSERT_EQ(graph->Connect(FirstPin(tone.Get(), PINDIR_OUTPUT).Get(), input.Get()), S_OK);
  ASSERT_EQ(graph->ConnectDirect(output.Get(), FirstPin(sink.Get(), PINDIR_INPUT).Get(), nullptr),
            S_OK);

  const FilterInfo joined = InfoOf(decoder.Get());
  EXPECT_EQ(joined.name, "Telemetry Decode");
  ComPtr<IFilterGraph> self;
  graph->QueryInterface(IID_IFilterGraph, self.PutVoid());
  EXPECT_EQ(joined.graph.Get(), self.Get());

  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
  EXPECT_TRUE(SUCCEEDED(control->Run()));
  ComPtr<IMediaEvent> events;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.PutVoid()), S_OK);
  long code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10'000), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);

  EXPECT_EQ(graph->RemoveFilter(decoder.Get()), S_OK);
  EXPECT_EQ(InfoOf(decoder.Get()).graph.Get(), nullptr);
}

// The filter keeps its element and the element keeps its filter; neither
// may keep the other alive once nobody else holds either.
TEST(DecoderFilter, FilterAndElementGoTogetherWhicheverIsLetGoLast) {
  GWeakRef ref;
  g_weak_ref_init(&ref, nullptr);

  auto decoder = NewDecoder();
  g_weak_ref_set(&ref, ElementOf(decoder.Get()).get());
  EXPECT_TRUE(Alive(ref));
  decoder.Reset();
  EXPECT_FALSE(Alive(ref));

  // Held only through its element, the filter is still there to be asked.
  decoder = NewDecoder();
  GstObjectPtr<GstElement> element = ElementOf(decoder.Get());
  g_weak_ref_set(&ref, element.get());
  decoder.Reset();
  IUnknown* identity = nullptr;
  g_object_get(element.get(), "decoder", &identity, nullptr);
  ASSERT_NE(identity, nullptr);
  ComPtr<IQuorvex> control;
  EXPECT_EQ(identity->QueryInterface(IID_IQuorvex, control.PutVoid()), S_OK);
  identity->Release();
  control.Reset();
  element.reset();
  EXPECT_FALSE(Alive(ref));
  g_weak_ref_clear(&ref);
}

// Asking a filter for its graph while another thread lets the graph go
// gives either a live graph or none, never one on its way out.
TEST(DecoderFilterThreads, GraphAskedForWhileItIsReleased) {
  auto decoder = NewDecoder();
  for (int round = 0; round < 50; ++round) {
    auto graph = NewGraph();
    ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Telemetry Decode"), S_OK);
    std::atomic<bool> released{false};
    std::thread asker([&] {
      for (int after = 0; after < 20;) {
        FILTER_INFO info{};
        if (decoder->QueryFilterInfo(&info) == S_OK && info.pGraph) {
          ComPtr<IMediaControl> control;
          EXPECT_EQ(info.pGraph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
          info.pGraph->Release();
        }
        if (released) ++after;
      }
    });
    graph.Reset();
    released = true;
    asker.join();
    EXPECT_EQ(InfoOf(decoder.Get()).graph.Get(), nullptr);
  }
}

}  // namespace

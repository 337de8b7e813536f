#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"
#include "tests/platform/graph_media.h"

namespace {

TEST(GraphObjects, PlatformClassesAreMadeInProcess) {
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CreateGraphObject(CLSID_FilterGraph, IID_IGraphBuilder, graph.PutVoid()), S_OK);
  for (const IID& iid : {IID_IMediaControl, IID_IMediaEventEx, IID_IMediaSeeking, IID_IVideoWindow,
                         IID_IFilterGraph}) {
    ComPtr<IUnknown> part;
    EXPECT_EQ(graph->QueryInterface(iid, part.PutVoid()), S_OK) << GuidToString(iid);
  }

  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(
      CreateGraphObject(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, builder.PutVoid()),
      S_OK);
  EXPECT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
  EXPECT_EQ(builder->SetFiltergraph(graph.Get()), E_UNEXPECTED);

  ComPtr<IBaseFilter> output;
  ASSERT_EQ(CreateGraphObject(CLSID_DSoundRender, IID_IBaseFilter, output.PutVoid()), S_OK);
  EXPECT_TRUE(Pin(output.Get(), kAudioRendererPinId));
  ComPtr<IPin> missing;
  EXPECT_EQ(output->FindPin(u"Nonexistent", missing.Put()), VFW_E_NOT_FOUND);

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateGraphObject(GUID{1, 2, 3, {}}, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
}

TEST(GraphFilters, NamesMembershipAndRemoval) {
  auto graph = NewGraph();
  auto first = ElementFilter("volume");
  auto second = ElementFilter("volume");
  EXPECT_EQ(graph->AddFilter(first.Get(), u"Level"), S_OK);
  EXPECT_EQ(graph->AddFilter(second.Get(), u"Level"), VFW_S_DUPLICATE_NAME);
  EXPECT_TRUE(FAILED(graph->AddFilter(first.Get(), u"Again")));
  EXPECT_EQ(FilterNames(graph.Get()), (std::vector<std::string>{"Level", "Level 0001"}));

  FILTER_INFO info{};
  ASSERT_EQ(second->QueryFilterInfo(&info), S_OK);
  ComPtr<IFilterGraph> owner = ComPtr<IFilterGraph>::Attach(info.pGraph);
  ComPtr<IFilterGraph> self;
  graph->QueryInterface(IID_IFilterGraph, self.PutVoid());
  EXPECT_EQ(owner.Get(), self.Get());

  // Emptying the graph the way its user does: remove, then start over.
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(graph->EnumFilters(filters.Put()), S_OK);
  ComPtr<IBaseFilter> filter;
  int removed = 0;
  while (filters->Next(1, filter.Put(), nullptr) == S_OK) {
    EXPECT_EQ(graph->RemoveFilter(filter.Get()), S_OK);
    ++removed;
    filters->Reset();
  }
  EXPECT_EQ(removed, 2);
  EXPECT_EQ(graph->RemoveFilter(first.Get()), VFW_E_NOT_IN_GRAPH);
  ASSERT_EQ(second->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
}

TEST(GraphFilters, DirectConnectionNeedsFormatsThatMeet) {
  auto graph = NewGraph();
  auto video = ElementFilter("videotestsrc");
  auto tone = ElementFilter("audiotestsrc");
  auto level = ElementFilter("volume");
  auto outside = ElementFilter("volume");
  for (auto* f : {video.Get(), tone.Get(), level.Get()})
    ASSERT_TRUE(SUCCEEDED(graph->AddFilter(f, nullptr)));
  auto levelIn = FirstPin(level.Get(), PINDIR_INPUT);

  EXPECT_EQ(
      graph->ConnectDirect(FirstPin(video.Get(), PINDIR_OUTPUT).Get(), levelIn.Get(), nullptr),
      VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(graph->ConnectDirect(levelIn.Get(), FirstPin(tone.Get(), PINDIR_OUTPUT).Get(), nullptr),
            VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(graph->ConnectDirect(FirstPin(tone.Get(), PINDIR_OUTPUT).Get(),
                                 FirstPin(outside.Get(), PINDIR_INPUT).Get(), nullptr),
            VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(graph->ConnectDirect(FirstPin(tone.Get(), PINDIR_OUTPUT).Get(), levelIn.Get(), nullptr),
            S_OK);
  EXPECT_EQ(
      graph->ConnectDirect(FirstPin(video.Get(), PINDIR_OUTPUT).Get(), levelIn.Get(), nullptr),
      VFW_E_ALREADY_CONNECTED);
  // Nothing was put in between.
  EXPECT_EQ(FilterNames(graph.Get()).size(), 3u);
}

class RecordingTarget : public INotifyTarget {
 public:
  void PostNotify(long message, LONG_PTR instance) override {
    std::lock_guard guard(lock);
    posts.emplace_back(message, instance);
  }
  std::mutex lock;
  std::vector<std::pair<long, LONG_PTR>> posts;
};

// Both the end of the streams and errors while running are announced.
TEST(GraphEvents, CompletionAndErrorsReachTheNotifyTarget) {
  RecordingTarget target;
  {
    auto graph = NewGraph();
    ComPtr<IMediaEventEx> events;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEventEx, events.PutVoid()), S_OK);
    ASSERT_EQ(events->SetNotifyWindow(&target, 0x8001, 0), S_OK);
    auto tone = ElementFilter("audiotestsrc num-buffers=5");
    auto sink = ElementFilter("fakesink");
    graph->AddFilter(tone.Get(), u"Tone");
    graph->AddFilter(sink.Get(), u"Sink");
    ASSERT_EQ(graph->ConnectDirect(FirstPin(tone.Get(), PINDIR_OUTPUT).Get(),
                                   FirstPin(sink.Get(), PINDIR_INPUT).Get(), nullptr),
              S_OK);
    ComPtr<IMediaControl> control;
    graph->QueryInterface(IID_IMediaControl, control.PutVoid());
    EXPECT_TRUE(SUCCEEDED(control->Run()));
    LONG_PTR code = -1;
    EXPECT_TRUE(WaitForEvent(graph.Get(), EC_COMPLETE, 10, &code));
    EXPECT_EQ(code, S_OK);
    events->SetNotifyWindow(nullptr, 0, 0);
  }
  {
    std::lock_guard guard(target.lock);
    ASSERT_FALSE(target.posts.empty());
    EXPECT_EQ(target.posts.front(), std::make_pair(0x8001L, LONG_PTR{0}));
    target.posts.clear();
  }

  auto graph = NewGraph();
  ComPtr<IMediaEventEx> events;
  graph->QueryInterface(IID_IMediaEventEx, events.PutVoid());
  events->SetNotifyWindow(&target, 0x8001, 7);
  auto source = ElementFilter("filesrc location=/nonexistent/vistaro.wav");
  auto sink = ElementFilter("fakesink");
  graph->AddFilter(source.Get(), u"Source");
  graph->AddFilter(sink.Get(), u"Sink");
  ASSERT_EQ(graph->ConnectDirect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(),
                                 FirstPin(sink.Get(), PINDIR_INPUT).Get(), nullptr),
            S_OK);
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  EXPECT_TRUE(FAILED(control->Run()));
  LONG_PTR code = 0;
  EXPECT_TRUE(WaitForEvent(graph.Get(), EC_ERRORABORT, 5, &code));
  EXPECT_EQ(code, HRESULT_FILE_NOT_FOUND);
  events->SetNotifyWindow(nullptr, 0, 0);
  std::lock_guard guard(target.lock);
  ASSERT_FALSE(target.posts.empty());
  EXPECT_EQ(target.posts.front(), std::make_pair(0x8001L, LONG_PTR{7}));
}

}  // namespace

#include <gtest/gtest.h>

#include "platform/com/utf.h"
#include "platform/graph/testing/fake_graph.h"
#include "tests/platform/graph_media.h"

namespace {

struct FakeGraphTest : ::testing::Test {
  std::shared_ptr<FailureScript> script = std::make_shared<FailureScript>();
  FakeGraphPlatform platform{script};

  ComPtr<IGraphBuilder> Graph() {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(platform.CreateObject(CLSID_FilterGraph, IID_IGraphBuilder, graph.PutVoid()), S_OK);
    return graph;
  }
};

TEST_F(FakeGraphTest, CreationFailsAsScriptedAndOtherwiseGivesTheRealObject) {
  script->Fail("Create(CaptureGraphBuilder2)", E_OUTOFMEMORY);
  ComPtr<ICaptureGraphBuilder2> builder;
  EXPECT_EQ(platform.CreateObject(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2,
                                  builder.PutVoid()),
            E_OUTOFMEMORY);
  EXPECT_FALSE(builder);
  script->Pass("Create(CaptureGraphBuilder2)");
  ASSERT_EQ(platform.CreateObject(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2,
                                  builder.PutVoid()),
            S_OK);
  auto graph = Graph();
  EXPECT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
  EXPECT_EQ(builder->SetFiltergraph(graph.Get()), E_UNEXPECTED);

  // Classes that are not the platform's come from their servers.
  ComPtr<IBaseFilter> unknown;
  EXPECT_EQ(platform.CreateObject(GUID{7, 7, 7, {}}, IID_IBaseFilter, unknown.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(script->CountOf("Create({00000007-0007-0007-0000-000000000000})"), 1);

  script->Fail("QueryInterface(IMediaSeeking)", E_NOINTERFACE);
  ComPtr<IMediaSeeking> seeking;
  EXPECT_EQ(graph->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), E_NOINTERFACE);
  ComPtr<IMediaControl> control;
  EXPECT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
}

TEST_F(FakeGraphTest, CountedFailuresAndRecordedCalls) {
  auto graph = Graph();
  script->ClearCalls();
  script->Fail("IGraphBuilder::AddFilter", E_FAIL, 1, 1);
  auto a = ElementFilter("volume");
  auto b = ElementFilter("volume");
  auto c = ElementFilter("volume");
  EXPECT_EQ(graph->AddFilter(a.Get(), u"A"), S_OK);
  EXPECT_EQ(graph->AddFilter(b.Get(), u"B"), E_FAIL);
  EXPECT_EQ(graph->AddFilter(c.Get(), u"C"), S_OK);
  EXPECT_EQ(FilterNames(graph.Get()), (std::vector<std::string>{"A", "C"}));
  const auto calls = script->Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], "IGraphBuilder::AddFilter(A)");
  EXPECT_EQ(calls[1], "IGraphBuilder::AddFilter(B)");
  EXPECT_EQ(script->CountOf("IGraphBuilder::AddFilter"), 3);
  // Cleared calls are not counted; the rule still counts from the first.
  script->ClearCalls();
  EXPECT_EQ(script->CountOf("IGraphBuilder::AddFilter"), 0);
  auto d = ElementFilter("volume");
  EXPECT_EQ(graph->AddFilter(d.Get(), u"D"), S_OK);
  EXPECT_EQ(script->CountOf("IGraphBuilder::AddFilter"), 1);
}

// What the graph hands out is wrapped too, and goes back in unwrapped.
TEST_F(FakeGraphTest, HandedOutFiltersAndPinsFailAsScriptedAndWorkWithTheGraph) {
  auto graph = Graph();
  auto tone = ElementFilter("audiotestsrc");
  auto level = ElementFilter("volume");
  graph->AddFilter(tone.Get(), u"Tone");
  graph->AddFilter(level.Get(), u"Level");
  script->Fail("IBaseFilter::QueryFilterInfo", E_OUTOFMEMORY, 0, 1);

  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(graph->EnumFilters(filters.Put()), S_OK);
  ComPtr<IBaseFilter> first, second;
  ASSERT_EQ(filters->Next(1, first.Put(), nullptr), S_OK);
  ASSERT_EQ(filters->Next(1, second.Put(), nullptr), S_OK);
  FILTER_INFO info{};
  EXPECT_EQ(first->QueryFilterInfo(&info), E_OUTOFMEMORY);
  EXPECT_EQ(info.pGraph, nullptr);
  ASSERT_EQ(second->QueryFilterInfo(&info), S_OK);
  if (info.pGraph) info.pGraph->Release();
  EXPECT_EQ(Utf16ToUtf8(info.achName), "Level");

  EXPECT_EQ(graph->Connect(FirstPin(first.Get(), PINDIR_OUTPUT).Get(),
                           FirstPin(second.Get(), PINDIR_INPUT).Get()),
            S_OK);
  script->Fail("IPin::ConnectedTo", VFW_E_NOT_CONNECTED);
  ComPtr<IPin> peer;
  EXPECT_EQ(FirstPin(second.Get(), PINDIR_INPUT)->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(graph->RemoveFilter(second.Get()), S_OK);
  EXPECT_EQ(FilterNames(graph.Get()).size(), 3u);  // the tone and its two converters
}

TEST_F(FakeGraphTest, ScriptedSuccessCodesSkipTheRealCall) {
  script->Fail("ICreateDevEnum::CreateClassEnumerator", S_FALSE);
  ComPtr<ICreateDevEnum> devices;
  ASSERT_EQ(platform.CreateObject(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, devices.PutVoid()),
            S_OK);
  ComPtr<IEnumMoniker> monikers;
  EXPECT_EQ(devices->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0),
            S_FALSE);
  EXPECT_FALSE(monikers);
}

TEST_F(FakeGraphTest, RunningObjectTableFailures) {
  script->Fail("GetRunningObjectTable", E_UNEXPECTED, 0, 1);
  ComPtr<IRunningObjectTable> table;
  EXPECT_EQ(platform.GetRunningObjectTable(table.Put()), E_UNEXPECTED);
  ASSERT_EQ(platform.GetRunningObjectTable(table.Put()), S_OK);

  auto graph = Graph();
  ComPtr<IMoniker> name;
  ASSERT_EQ(platform.CreateItemMoniker(u"!", u"FilterGraph fake", name.Put()), S_OK);
  script->Fail("IRunningObjectTable::Register", E_OUTOFMEMORY, 0, 1);
  DWORD cookie = 1;
  EXPECT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.Get(), name.Get(), &cookie),
            E_OUTOFMEMORY);
  EXPECT_EQ(cookie, 0u);
  ASSERT_EQ(table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.Get(), name.Get(), &cookie),
            S_OK);
  // The real graph is what the table holds.
  ComPtr<IUnknown> held;
  ASSERT_EQ(table->GetObject(name.Get(), held.Put()), S_OK);
  EXPECT_EQ(held.Get(), UnwrapFake(graph.Get()).Get());
  EXPECT_EQ(table->Revoke(cookie), S_OK);
}

}  // namespace

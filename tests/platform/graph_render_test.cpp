#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"
#include "tests/platform/graph_media.h"

namespace {

// True once the playing position reaches `position`, within `seconds`.
bool PositionReaches(IMediaSeeking* seeking, LONGLONG position, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  LONGLONG current = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (SUCCEEDED(seeking->GetPositions(&current, nullptr)) && current >= position) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

constexpr LONGLONG kSecond = 10'000'000;

bool Has(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

ComPtr<IPin> RendererInput(IGraphBuilder* graph) {
  return Pin(FindFilter(graph, "Audio Renderer").Get(), kAudioRendererPinId);
}

HRESULT StopThenRun(IGraphBuilder* graph) {
  ComPtr<IMediaControl> control;
  EXPECT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
  control->Stop();
  return control->Run();
}

class RecordingSurface : public IVideoSurface {
 public:
  void PresentFrame(const VideoFrame& frame) override {
    std::lock_guard guard(lock);
    ++frames;
    width = frame.width;
    height = frame.height;
    stride = frame.stride;
  }
  void PlaceVideo(long, long, long w, long h) override {
    std::lock_guard guard(lock);
    placed = {w, h};
  }
  void ShowVideo(bool visible) override {
    std::lock_guard guard(lock);
    shown = visible;
  }

  std::mutex lock;
  int frames = 0, width = 0, height = 0, stride = 0;
  std::pair<long, long> placed{-1, -1};
  bool shown = false;
};

TEST(GraphRender, FileWithVideoAndAudioGetsBothRenderersAndPlaysToTheEnd) {
  auto graph = NewGraph();
  ASSERT_EQ(graph->RenderFile(Wide(GraphMedia::VideoAndAudioMkv()).c_str(), nullptr), S_OK);
  const auto names = FilterNames(graph.Get());
  EXPECT_TRUE(Has(names, "Audio Renderer"));
  EXPECT_TRUE(Has(names, "Video Renderer"));
  EXPECT_TRUE(Has(names, "flight.mkv"));

  RecordingSurface surface;
  ComPtr<IVideoWindow> window;
  ASSERT_EQ(graph->QueryInterface(IID_IVideoWindow, window.PutVoid()), S_OK);
  EXPECT_EQ(window->put_Owner(&surface), S_OK);
  EXPECT_EQ(window->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN), S_OK);
  EXPECT_EQ(window->SetWindowPosition(0, 0, 320, 240), S_OK);
  EXPECT_EQ(window->put_Visible(OATRUE), S_OK);
  EXPECT_TRUE(SUCCEEDED(StopThenRun(graph.Get())));
  EXPECT_TRUE(WaitForEvent(graph.Get(), EC_COMPLETE, 60));
  window->put_Owner(nullptr);

  std::lock_guard guard(surface.lock);
  EXPECT_GE(surface.frames, 500);
  EXPECT_EQ(surface.width, 160);
  EXPECT_EQ(surface.height, 120);
  EXPECT_GE(surface.stride, 160 * 4);
  EXPECT_EQ(surface.placed, std::make_pair(320L, 240L));
  EXPECT_TRUE(surface.shown);
}

// A filter added before rendering ends up on the audio stream and feeds the
// renderer itself; re-linking its output to the renderer is a plain link.
TEST(GraphRender, FilterAlreadyInTheGraphTakesTheAudioStream) {
  auto graph = NewGraph();
  auto decoder = ElementFilter("volume");
  ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Telemetry Decode"), S_OK);
  ASSERT_EQ(graph->RenderFile(Wide(GraphMedia::VideoAndAudioMkv()).c_str(), nullptr), S_OK);

  auto rendererIn = RendererInput(graph.Get());
  ASSERT_TRUE(rendererIn);
  EXPECT_EQ(PeerElementName(rendererIn.Get()), "Telemetry Decode");
  auto decoderIn = FirstPin(decoder.Get(), PINDIR_INPUT);
  auto decoderOut = FirstPin(decoder.Get(), PINDIR_OUTPUT);
  EXPECT_FALSE(PeerElementName(decoderIn.Get()).empty());

  EXPECT_EQ(graph->Disconnect(decoderOut.Get()), S_OK);
  EXPECT_EQ(graph->Disconnect(rendererIn.Get()), S_FALSE);
  ComPtr<IPin> none;
  EXPECT_EQ(rendererIn->ConnectedTo(none.Put()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(graph->Connect(decoderOut.Get(), rendererIn.Get()), S_OK);
  EXPECT_EQ(PeerElementName(rendererIn.Get()), "Telemetry Decode");

  BufferCounter passed(decoderOut.Get());
  EXPECT_TRUE(SUCCEEDED(StopThenRun(graph.Get())));
  EXPECT_TRUE(WaitForEvent(graph.Get(), EC_COMPLETE, 60));
  EXPECT_GT(passed.Count(), 100);
}

// ASF audio is rendered straight; the caller puts its filter in between.
TEST(GraphRender, AsfAudioGoesStraightToTheRendererUntilSpliced) {
  auto graph = NewGraph();
  auto decoder = ElementFilter("volume");
  ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Telemetry Decode"), S_OK);
  ASSERT_EQ(graph->RenderFile(Wide(GraphMedia::Asf()).c_str(), nullptr), S_OK);
  EXPECT_TRUE(Has(FilterNames(graph.Get()), "Video Renderer"));

  auto rendererIn = RendererInput(graph.Get());
  ASSERT_TRUE(rendererIn);
  EXPECT_EQ(PeerElementName(rendererIn.Get()), "flight.wmv");
  auto decoderIn = FirstPin(decoder.Get(), PINDIR_INPUT);
  auto decoderOut = FirstPin(decoder.Get(), PINDIR_OUTPUT);
  EXPECT_EQ(PeerElementName(decoderIn.Get()), "");

  ComPtr<IPin> upstream;
  ASSERT_EQ(rendererIn->ConnectedTo(upstream.Put()), S_OK);
  EXPECT_EQ(graph->Disconnect(upstream.Get()), S_OK);
  EXPECT_EQ(graph->Disconnect(rendererIn.Get()), S_FALSE);
  EXPECT_EQ(graph->Connect(upstream.Get(), decoderIn.Get()), S_OK);
  EXPECT_EQ(graph->Connect(decoderOut.Get(), rendererIn.Get()), S_OK);
  EXPECT_TRUE(Has(FilterNames(graph.Get()), "Audio Converter"));

  BufferCounter passed(decoderIn.Get());
  EXPECT_TRUE(SUCCEEDED(StopThenRun(graph.Get())));
  EXPECT_TRUE(WaitForEvent(graph.Get(), EC_COMPLETE, 30));
  EXPECT_GT(passed.Count(), 10);
}

TEST(GraphRender, AudioOnlyFileHasNoVideoWindow) {
  auto graph = NewGraph();
  ASSERT_EQ(graph->RenderFile(Wide(GraphMedia::TelemetryWav()).c_str(), nullptr), S_OK);
  EXPECT_FALSE(Has(FilterNames(graph.Get()), "Video Renderer"));
  ComPtr<IVideoWindow> window;
  ASSERT_EQ(graph->QueryInterface(IID_IVideoWindow, window.PutVoid()), S_OK);
  RecordingSurface surface;
  EXPECT_EQ(window->put_Owner(&surface), E_NOINTERFACE);
  EXPECT_EQ(window->put_WindowStyle(WS_CHILD), E_NOINTERFACE);
  EXPECT_EQ(window->SetWindowPosition(0, 0, 1, 1), E_NOINTERFACE);
  EXPECT_EQ(window->put_Visible(OATRUE), E_NOINTERFACE);
}

TEST(GraphRender, VideoOnlyFileHasNoAudioRenderer) {
  auto graph = NewGraph();
  ASSERT_EQ(graph->RenderFile(Wide(GraphMedia::VideoOnlyMkv()).c_str(), nullptr), S_OK);
  const auto names = FilterNames(graph.Get());
  EXPECT_FALSE(Has(names, "Audio Renderer"));
  EXPECT_TRUE(Has(names, "Video Renderer"));
  EXPECT_TRUE(SUCCEEDED(StopThenRun(graph.Get())));
  EXPECT_TRUE(WaitForEvent(graph.Get(), EC_COMPLETE, 30));
}

TEST(GraphRender, FailedRenderingLeavesTheGraphAsItWas) {
  auto graph = NewGraph();
  auto decoder = ElementFilter("volume");
  ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Telemetry Decode"), S_OK);
  const auto before = FilterNames(graph.Get());

  const auto missing = GraphMedia::Folder() / "missing.mkv";
  EXPECT_EQ(graph->RenderFile(Wide(missing).c_str(), nullptr), HRESULT_FILE_NOT_FOUND);
  const auto text = GraphMedia::Folder() / "notes.mkv";
  std::ofstream(text) << "not a media file\n";
  EXPECT_TRUE(FAILED(graph->RenderFile(Wide(text).c_str(), nullptr)));
  EXPECT_EQ(FilterNames(graph.Get()), before);
  EXPECT_EQ(PeerElementName(FirstPin(decoder.Get(), PINDIR_INPUT).Get()), "");
  EXPECT_TRUE(SUCCEEDED(StopThenRun(graph.Get())));

  // The same graph still renders a good file afterwards.
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  EXPECT_EQ(control->Stop(), S_OK);
  EXPECT_EQ(graph->RenderFile(Wide(GraphMedia::TelemetryWav()).c_str(), nullptr), S_OK);
  EXPECT_EQ(PeerElementName(RendererInput(graph.Get()).Get()), "Telemetry Decode");
}

TEST(GraphSeeking, HalfOfAMinuteLandsThereAndStopKeepsThePlace) {
  auto graph = NewGraph();
  ASSERT_EQ(graph->RenderFile(Wide(GraphMedia::VideoAndAudioMkv()).c_str(), nullptr), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_NEAR(static_cast<double>(duration), 60.0 * kSecond, 0.2 * kSecond);

  LONGLONG target = duration / 2;
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                  AM_SEEKING_NoPositioning),
            S_OK);
  LONGLONG current = -1, stop = -1;
  ASSERT_EQ(seeking->GetPositions(&current, &stop), S_OK);
  EXPECT_NEAR(static_cast<double>(current), static_cast<double>(target), 0.2 * kSecond);
  EXPECT_NEAR(static_cast<double>(stop), static_cast<double>(duration), 0.2 * kSecond);

  LONGLONG relative = kSecond;
  EXPECT_EQ(seeking->SetPositions(&relative, 0x2, nullptr, AM_SEEKING_NoPositioning), E_NOTIMPL);

  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  EXPECT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(PositionReaches(seeking.Get(), target + kSecond / 10, 10));
  EXPECT_EQ(control->Stop(), S_OK);
  LONGLONG stopped = -1;
  ASSERT_EQ(seeking->GetPositions(&stopped, nullptr), S_OK);
  // Stopped where it was, so that Run goes on from there.
  EXPECT_GE(stopped, target);
}

// With no sound output the renderer still keeps to the clock.
TEST(GraphRender, WithoutAnAudioOutputPlaybackKeepsRealTime) {
  const auto saved = CurrentGraphRenderingOptions();
  SetGraphRenderingOptions({.realTime = true, .audioDevice = false});
  auto graph = NewGraph();
  const HRESULT rendered = graph->RenderFile(Wide(GraphMedia::TelemetryWav()).c_str(), nullptr);
  SetGraphRenderingOptions(saved);
  ASSERT_EQ(rendered, S_OK);
  ComPtr<IMediaSeeking> seeking;
  graph->QueryInterface(IID_IMediaSeeking, seeking.PutVoid());
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(SUCCEEDED(StopThenRun(graph.Get())));
  ASSERT_TRUE(PositionReaches(seeking.Get(), kSecond / 2, 10));
  // Half a second of the stream took about half a second.
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(450));
}

}  // namespace

#include "tests/platform/graph_media.h"

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"
#include "platform/gst/gst_filter.h"
#include "tools/simulated_aircraft/signal_renderer.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "tools/simulated_aircraft/wav_writer.h"

namespace {

namespace fs = std::filesystem;

// Files play as fast as they decode unless a test asks for real time; the
// folder goes with the run.
class MediaEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    SetGraphRenderingOptions({.realTime = false, .audioDevice = false});
  }
  void TearDown() override {
    if (!folder_.empty()) {
      std::error_code ignored;
      fs::remove_all(folder_, ignored);
    }
  }
  const fs::path& Folder() {
    if (folder_.empty()) {
      std::string pattern = (fs::temp_directory_path() / "graphtest-XXXXXX").string();
      if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
      folder_ = pattern;
    }
    return folder_;
  }

 private:
  fs::path folder_;
};

MediaEnvironment* const environment = static_cast<MediaEnvironment*>(
    ::testing::AddGlobalTestEnvironment(std::make_unique<MediaEnvironment>().release()));

void Launch(const std::string& pipeline, const fs::path& output) {
  if (fs::exists(output)) return;
  const std::string command = "gst-launch-1.0 -q " + pipeline + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0 || !fs::exists(output)) {
    throw std::runtime_error("could not make " + output.string() + " with: " + command);
  }
}

std::string Quoted(const fs::path& path) { return "location=\"" + path.string() + "\""; }

}  // namespace

fs::path GraphMedia::Folder() { return environment->Folder(); }

fs::path GraphMedia::TelemetryWav() {
  const fs::path path = Folder() / "flight.wav";
  if (!fs::exists(path)) {
    using namespace simulated_aircraft;
    SignalOptions options;
    options.minSeconds = kLongSeconds;
    const auto samples = RenderSignal(SyntheticFlight(kLongSeconds - 1.0), options);
    WriteWav(path, WavFormat{}, samples);
  }
  return path;
}

fs::path GraphMedia::VideoAndAudioMkv() {
  const fs::path path = Folder() / "flight.mkv";
  Launch("filesrc " + Quoted(TelemetryWav()) +
             " ! wavparse ! audioconvert ! vorbisenc ! mux. "
             "videotestsrc num-buffers=600 ! video/x-raw,width=160,height=120,framerate=10/1 "
             "! x264enc speed-preset=ultrafast tune=zerolatency ! mux. "
             "matroskamux name=mux ! filesink " +
             Quoted(path),
         path);
  return path;
}

fs::path GraphMedia::Asf() {
  const fs::path path = Folder() / "flight.wmv";
  Launch(
      "audiotestsrc num-buffers=172 ! audio/x-raw,rate=44100,channels=1 ! audioconvert "
      "! avenc_wmav2 ! mux. "
      "videotestsrc num-buffers=40 ! video/x-raw,width=160,height=120,framerate=10/1 "
      "! videoconvert ! avenc_wmv2 ! mux. asfmux name=mux streamable=true ! filesink " +
          Quoted(path),
      path);
  return path;
}

fs::path GraphMedia::VideoOnlyMkv() {
  const fs::path path = Folder() / "video-only.mkv";
  Launch(
      "videotestsrc num-buffers=40 ! video/x-raw,width=160,height=120,framerate=10/1 "
      "! x264enc speed-preset=ultrafast ! matroskamux ! filesink " +
          Quoted(path),
      path);
  return path;
}

std::u16string Wide(const fs::path& path) { return Utf8ToUtf16(path.string()); }

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CreateGraphObject(CLSID_FilterGraph, IID_IGraphBuilder, graph.PutVoid()), S_OK);
  return graph;
}

ComPtr<IBaseFilter> ElementFilter(const char* description) {
  GError* error = nullptr;
  GstElement* element = gst_parse_launch(description, &error);
  if (error) g_error_free(error);
  if (!element) ADD_FAILURE() << "no element " << description;
  ComPtr<IBaseFilter> filter;
  if (element) {
    EXPECT_EQ(CGstFilter::Create(element, filter.Put()), S_OK);
  }
  return filter;
}

std::vector<std::string> FilterNames(IGraphBuilder* graph) {
  std::vector<std::string> names;
  ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(filters.Put()))) return names;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.Put(), nullptr) == S_OK) {
    FILTER_INFO info{};
    if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
      names.push_back(Utf16ToUtf8(info.achName));
      if (info.pGraph) info.pGraph->Release();
    }
  }
  return names;
}

ComPtr<IPin> Pin(IBaseFilter* filter, const char16_t* id) {
  ComPtr<IPin> pin;
  if (filter) filter->FindPin(id, pin.Put());
  return pin;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  if (!filter || FAILED(filter->EnumPins(pins.Put()))) return nullptr;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) return pin;
  }
  return nullptr;
}

bool WaitForEvent(IGraphBuilder* graph, long code, double seconds, LONG_PTR* param1) {
  ComPtr<IMediaEvent> events;
  if (FAILED(graph->QueryInterface(IID_IMediaEvent, events.PutVoid()))) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    long got = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (events->GetEvent(&got, &p1, &p2, 100) != S_OK) continue;
    events->FreeEventParams(got, p1, p2);
    if (got == code) {
      if (param1) *param1 = p1;
      return true;
    }
  }
  return false;
}

BufferCounter::BufferCounter(IPin* pin) {
  GstObjectPtr<GstPad> pad = PadOfPin(pin);
  if (!pad) {
    ADD_FAILURE() << "not a pad";
    return;
  }
  pad_ = pad.release();
  // The probe runs on a streaming thread that GStreamer's own locks order
  // after this one; an atomic store makes that order visible here too.
  count_.store(0);
  probe_ = gst_pad_add_probe(
      pad_, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer count) {
        ++*static_cast<std::atomic<int>*>(count);
        return GST_PAD_PROBE_OK;
      },
      &count_, nullptr);
}

BufferCounter::~BufferCounter() {
  if (!pad_) return;
  gst_pad_remove_probe(pad_, probe_);
  gst_object_unref(pad_);
}

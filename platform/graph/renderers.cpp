#include "platform/graph/renderers.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <memory>
#include <mutex>
#include <string>

#include "platform/com/utf.h"
#include "platform/graph/graph_objects.h"
#include "platform/gst/gst_ptr.h"

namespace {

std::string PadName(const char16_t* id) { return Utf16ToUtf8(id); }

GstElement* Make(const char* factory) { return gst_element_factory_make(factory, nullptr); }

// A sink of the machine's audio output, ready to play; null when it has
// none (no sound server, no card).
GstElement* OpenAudioOutput() {
  for (const char* factory : {"pulsesink", "alsasink"}) {
    GstElement* sink = Make(factory);
    if (!sink) continue;
    gst_object_ref_sink(sink);
    if (gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) {
      gst_element_set_state(sink, GST_STATE_NULL);
      return sink;
    }
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(sink);
  }
  return nullptr;
}

// Chains `elements` in a new bin whose first sink pad (or last source pad,
// for sources) is ghosted under `padName`. Floating reference; null when a
// part is missing.
GstElement* MakeBin(std::initializer_list<GstElement*> elements, const std::string& padName,
                    bool source) {
  bool complete = true;
  for (GstElement* e : elements) complete &= e != nullptr;
  if (!complete) {
    for (GstElement* e : elements) {
      if (e) gst_object_unref(gst_object_ref_sink(e));
    }
    return nullptr;
  }
  GstElement* bin = gst_bin_new(nullptr);
  GstElement* previous = nullptr;
  for (GstElement* e : elements) {
    gst_bin_add(GST_BIN(bin), e);
    if (previous && !gst_element_link(previous, e)) {
      gst_object_unref(gst_object_ref_sink(bin));
      return nullptr;
    }
    previous = e;
  }
  GstElement* end = source ? previous : *elements.begin();
  GstObjectPtr<GstPad> target(gst_element_get_static_pad(end, source ? "src" : "sink"));
  gst_element_add_pad(bin, gst_ghost_pad_new(padName.c_str(), target.get()));
  return bin;
}

// What the video sink's callbacks reach. It is filled on the streaming
// thread that renders the stream and read on the one that streams into the
// sink, ordered only by GStreamer's locks; its own lock, taken on both
// sides, states the order in this code itself, where checkers see it.
struct OutputLink {
  std::mutex lock;
  std::shared_ptr<VideoOutput> output;
};

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
  GstSamplePtr sample(gst_app_sink_pull_sample(sink));
  if (!sample) return GST_FLOW_EOS;
  GstVideoInfo info;
  GstBuffer* buffer = gst_sample_get_buffer(sample.get());
  if (!buffer || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get()))) {
    return GST_FLOW_OK;
  }
  GstVideoFrame mapped;
  if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) return GST_FLOW_OK;
  VideoFrame frame;
  frame.width = GST_VIDEO_FRAME_WIDTH(&mapped);
  frame.height = GST_VIDEO_FRAME_HEIGHT(&mapped);
  frame.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
  frame.pixels = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
  if (GST_BUFFER_PTS_IS_VALID(buffer)) {
    frame.timestamp = static_cast<LONGLONG>(GST_BUFFER_PTS(buffer) / 100);
  }
  std::shared_ptr<VideoOutput> output;
  {
    auto* link = static_cast<OutputLink*>(data);
    std::lock_guard guard(link->lock);
    output = link->output;
  }
  if (output) output->Present(frame);
  gst_video_frame_unmap(&mapped);
  return GST_FLOW_OK;
}

void ForgetOutput(gpointer data) {
  std::unique_ptr<OutputLink> owned(static_cast<OutputLink*>(data));
}

GQuark ConvertsInputQuark() {
  static const GQuark quark = g_quark_from_static_string("vistaro-converts-input");
  return quark;
}

}  // namespace

void MarkConvertsInput(GstElement* element) {
  if (element) g_object_set_qdata(G_OBJECT(element), ConvertsInputQuark(), element);
}

bool ConvertsInput(GstElement* element) {
  return g_object_get_qdata(G_OBJECT(element), ConvertsInputQuark()) != nullptr;
}

GstElement* MakeAudioRenderer() {
  const GraphRenderingOptions options = CurrentGraphRenderingOptions();
  GstElement* sink = options.realTime && options.audioDevice ? OpenAudioOutput() : nullptr;
  if (!sink) {
    // Without an output the renderer still keeps the pace, so that what
    // reads the stream sees it arrive as it would with sound.
    sink = Make("fakesink");
    if (sink) g_object_set(sink, "sync", options.realTime ? TRUE : FALSE, nullptr);
  }
  GstElement* bin = MakeBin({Make("audioconvert"), Make("audioresample"), sink},
                            PadName(kAudioRendererPinId), false);
  MarkConvertsInput(bin);
  return bin;
}

GstElement* MakeVideoRenderer(std::shared_ptr<VideoOutput> output) {
  GstElement* sink = Make("appsink");
  if (sink) {
    GstCapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    g_object_set(sink, "caps", caps.get(), "sync",
                 CurrentGraphRenderingOptions().realTime ? TRUE : FALSE, "max-buffers", 2u,
                 nullptr);
    auto link = std::make_unique<OutputLink>();
    {
      std::lock_guard guard(link->lock);
      link->output = std::move(output);
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, link.release(), ForgetOutput);
  }
  GstElement* bin = MakeBin({Make("videoconvert"), sink}, PadName(kVideoRendererPinId), false);
  MarkConvertsInput(bin);
  return bin;
}

GstElement* MakeCaptureSource(GstDevice* device) {
  GstElement* source = gst_device_create_element(device, nullptr);
  GstElement* filter = Make("capsfilter");
  if (filter) {
    GstCapsPtr caps(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                        G_TYPE_STRING, "interleaved", nullptr));
    g_object_set(filter, "caps", caps.get(), nullptr);
  }
  return MakeBin({source, filter}, PadName(kCapturePinId), true);
}

void VideoOutput::SetOwner(IVideoSurface* owner) {
  std::lock_guard guard(lock_);
  owner_ = owner;
}

bool VideoOutput::HasOwner() {
  std::lock_guard guard(lock_);
  return owner_ != nullptr;
}

void VideoOutput::SetStyle(long style) {
  std::lock_guard guard(lock_);
  style_ = style;
}

void VideoOutput::Place(long left, long top, long width, long height) {
  std::lock_guard guard(lock_);
  if (owner_) owner_->PlaceVideo(left, top, width, height);
}

void VideoOutput::Show(bool visible) {
  std::lock_guard guard(lock_);
  if (owner_) owner_->ShowVideo(visible);
}

void VideoOutput::Present(const VideoFrame& frame) {
  std::lock_guard guard(lock_);
  if (owner_) owner_->PresentFrame(frame);
}

#include "tools/quorvex-decode/subtitle_mux.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cmath>
#include <mutex>

#include "platform/gst/gst_ptr.h"

namespace {

GstClockTime ClockTime(double seconds) {
  return static_cast<GstClockTime>(std::llround(seconds * GST_SECOND));
}

struct Mux {
  GstElement* pipeline = nullptr;
  GstElement* mux = nullptr;
  GstElement* text = nullptr;
  std::span<const subtitles::Cue> cues;
  std::once_flag cuesSent;
  std::mutex lock;
  std::string refused;  // caps of a stream the muxer has no pad for

  // The muxer takes no new track once it has written its headers, which it
  // does as soon as every track it has holds data. The recording's streams
  // all appear before any of them carries data, so the cues wait for the
  // first buffer of the recording.
  static GstPadProbeReturn OnFirstBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* self = static_cast<Mux*>(data);
    std::call_once(self->cuesSent, [self] {
      for (const subtitles::Cue& cue : self->cues) {
        GstBuffer* buffer = gst_buffer_new_memdup(cue.text.data(), cue.text.size());
        GST_BUFFER_PTS(buffer) = ClockTime(cue.start);
        GST_BUFFER_DURATION(buffer) = ClockTime(cue.end) - ClockTime(cue.start);
        gst_app_src_push_buffer(GST_APP_SRC(self->text), buffer);
      }
      gst_app_src_end_of_stream(GST_APP_SRC(self->text));
    });
    return GST_PAD_PROBE_REMOVE;
  }

  static void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* self = static_cast<Mux*>(data);
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    gst_bin_add(GST_BIN(self->pipeline), queue);
    GstPad* queueSink = gst_element_get_static_pad(queue, "sink");
    GstPad* queueSrc = gst_element_get_static_pad(queue, "src");
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    GstPad* muxSink = gst_element_get_compatible_pad(self->mux, queueSrc, caps);
    if (!muxSink || GST_PAD_LINK_FAILED(gst_pad_link(queueSrc, muxSink)) ||
        GST_PAD_LINK_FAILED(gst_pad_link(pad, queueSink))) {
      gchar* text = gst_caps_to_string(caps);
      std::lock_guard guard(self->lock);
      if (self->refused.empty()) self->refused = text;
      g_free(text);
    } else {
      gst_element_sync_state_with_parent(queue);
      gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &Mux::OnFirstBuffer, self, nullptr);
    }
    if (muxSink) gst_object_unref(muxSink);
    gst_caps_unref(caps);
    gst_object_unref(queueSink);
    gst_object_unref(queueSrc);
  }
};

}  // namespace

std::string MuxWithSubtitles(const std::filesystem::path& media, const std::filesystem::path& out,
                             std::span<const subtitles::Cue> cues) {
  Mux m;
  m.cues = cues;
  GstObjectPtr<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
  m.pipeline = pipeline.get();
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  GstElement* parse = gst_element_factory_make("parsebin", nullptr);
  m.text = gst_element_factory_make("appsrc", nullptr);
  m.mux = gst_element_factory_make("matroskamux", nullptr);
  GstElement* sink = gst_element_factory_make("filesink", nullptr);
  if (!source || !parse || !m.text || !m.mux || !sink) {
    for (GstElement* e : {source, parse, m.text, m.mux, sink})
      if (e) gst_object_unref(gst_object_ref_sink(e));
    return "GStreamer's parsebin or matroskamux is missing (install gstreamer1.0-plugins-good)";
  }
  gst_bin_add_many(GST_BIN(m.pipeline), source, parse, m.text, m.mux, sink, nullptr);
  g_object_set(source, "location", media.c_str(), nullptr);
  g_object_set(sink, "location", out.c_str(), nullptr);
  gst_element_link(source, parse);
  gst_element_link(m.mux, sink);
  g_signal_connect(parse, "pad-added", G_CALLBACK(&Mux::OnPadAdded), &m);

  GstCapsPtr textCaps(gst_caps_from_string("text/x-raw, format=(string)utf8"));
  g_object_set(m.text, "caps", textCaps.get(), "format", GST_FORMAT_TIME, "max-bytes", guint64{0},
               nullptr);
  GstPad* textSrc = gst_element_get_static_pad(m.text, "src");
  GstPad* muxText = gst_element_get_compatible_pad(m.mux, textSrc, textCaps.get());
  const bool linked = muxText && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(textSrc, muxText));
  if (muxText) gst_object_unref(muxText);
  gst_object_unref(textSrc);
  if (!linked) return "the Matroska muxer takes no subtitle track";

  gst_element_set_state(m.pipeline, GST_STATE_PLAYING);
  GstObjectPtr<GstBus> bus(gst_element_get_bus(m.pipeline));
  std::string error;
  GstMessage* message =
      gst_bus_timed_pop_filtered(bus.get(), GST_CLOCK_TIME_NONE,
                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* e = nullptr;
    gst_message_parse_error(message, &e, nullptr);
    error = e ? e->message : "unknown error";
    g_clear_error(&e);
  }
  gst_message_unref(message);
  gst_element_set_state(m.pipeline, GST_STATE_NULL);
  std::lock_guard guard(m.lock);
  if (!m.refused.empty()) return "Matroska cannot hold the stream " + m.refused;
  return error;
}

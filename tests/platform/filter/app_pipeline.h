#pragma once

// appsrc ! ELEMENT ! appsink, fed and drained by the test's thread.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/gst/gst_ptr.h"

namespace testpipeline {

inline void InitGstreamer() {
  if (!gst_is_initialized()) gst_init(nullptr, nullptr);
}

struct Outcome {
  bool eos = false;
  std::string error;  // the first error message, empty when none
};

class AppPipeline {
 public:
  // Takes over a floating `element`. `configure` sees the source before
  // the pipeline starts.
  AppPipeline(GstElement* element, const std::string& caps,
              const std::function<void(GstAppSrc*)>& configure = {}) {
    pipeline_ = gst_pipeline_new(nullptr);
    src_ = gst_element_factory_make("appsrc", nullptr);
    sink_ = gst_element_factory_make("appsink", nullptr);
    const GstCapsPtr srcCaps(gst_caps_from_string(caps.c_str()));
    g_object_set(src_, "caps", srcCaps.get(), "format", GST_FORMAT_TIME, nullptr);
    g_object_set(sink_, "sync", FALSE, "wait-on-eos", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = [](GstAppSink*, gpointer self) {
      static_cast<AppPipeline*>(self)->ended_ = true;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(pipeline_), src_, element, sink_, nullptr);
    linked_ = gst_element_link_many(src_, element, sink_, nullptr);
    if (configure) configure(GST_APP_SRC(src_));
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  }
  AppPipeline(const AppPipeline&) = delete;
  AppPipeline& operator=(const AppPipeline&) = delete;
  ~AppPipeline() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
  }

  bool Linked() const { return linked_; }
  // Whether the end of the stream has reached the sink. Unlike the bus, this
  // never hands the test thread an object the streaming thread made.
  bool Ended() const { return ended_; }

  void Push(GstBuffer* buffer) { gst_app_src_push_buffer(GST_APP_SRC(src_), buffer); }
  void Push(const void* data, std::size_t bytes, GstClockTime pts = GST_CLOCK_TIME_NONE,
            GstClockTime duration = GST_CLOCK_TIME_NONE) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
    gst_buffer_fill(buffer, 0, data, bytes);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = duration;
    Push(buffer);
  }
  template <typename T>
  void Push(const std::vector<T>& values) {
    Push(values.data(), values.size() * sizeof(T));
  }

  // Ends the stream and waits for it to come out, or for an error.
  Outcome Finish(GstClockTime timeout = 10 * GST_SECOND) {
    gst_app_src_end_of_stream(GST_APP_SRC(src_));
    return Wait(timeout);
  }
  Outcome Wait(GstClockTime timeout = 10 * GST_SECOND) {
    Outcome outcome;
    GstObjectPtr<GstBus> bus(gst_element_get_bus(pipeline_));
    const GstMessagePtr message(gst_bus_timed_pop_filtered(
        bus.get(), timeout, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    if (!message) return outcome;
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) {
      outcome.eos = true;
    } else {
      GError* error = nullptr;
      gst_message_parse_error(message.get(), &error, nullptr);
      outcome.error = error->message;
      g_error_free(error);
    }
    return outcome;
  }

  // Every buffer that reached the sink.
  std::vector<GstBufferPtr> Output() {
    std::vector<GstBufferPtr> buffers;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 0)) {
      buffers.emplace_back(gst_buffer_ref(gst_sample_get_buffer(sample)));
      gst_sample_unref(sample);
    }
    return buffers;
  }

 private:
  GstElement* pipeline_;
  GstElement* src_;
  GstElement* sink_;
  bool linked_ = false;
  std::atomic<bool> ended_{false};
};

template <typename T>
std::vector<T> Contents(GstBuffer* buffer) {
  std::vector<T> values(gst_buffer_get_size(buffer) / sizeof(T));
  gst_buffer_extract(buffer, 0, values.data(), values.size() * sizeof(T));
  return values;
}

inline std::string RawAudioCaps(const char* format, int channels, int rate) {
  return std::string("audio/x-raw,format=") + format +
         ",layout=interleaved,channels=" + std::to_string(channels) +
         ",rate=" + std::to_string(rate);
}

}  // namespace testpipeline

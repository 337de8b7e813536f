#include "tools/quorvex-decode/media_decode.h"

#include <gst/pbutils/pbutils.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/gst/gst_ptr.h"

namespace {

using Clock = std::chrono::steady_clock;

// decodebin's answers to autoplug-select. The enum itself lives in a header
// that the playback plugin does not install; the values are its ABI.
enum AutoplugSelectResult : int { kAutoplugTry = 0, kAutoplugExpose = 1 };

using ElementPtr = GstObjectPtr<GstElement>;
using PadPtr = GstObjectPtr<GstPad>;
using BusPtr = GstObjectPtr<GstBus>;

// Elements come with a floating reference; sinking it makes the handle the
// owner whether or not a bin later takes its own reference.
ElementPtr MakeElement(const char* factory) {
  GstElement* element = gst_element_factory_make(factory, nullptr);
  if (element) gst_object_ref_sink(element);
  return ElementPtr(element);
}

std::string TakeString(gchar* text) {
  GCharPtr owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

constexpr auto kBufferProbe =
    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST);

constexpr GstClockTime kBusPollInterval = 100 * GST_MSECOND;
// Nothing has moved in any stream for this long: a file that makes the
// demuxer wait forever rather than fail. Far beyond any honest pause.
constexpr auto kStallTimeout = std::chrono::seconds(20);
// A file is only called short when it misses more than this of its stated
// length; codec delay and rounding of the container's duration stay below.
constexpr double kEarlyEndToleranceSeconds = 1.0;

std::string FormatSeconds(double seconds) {
  const long tenths = std::lround(std::max(0.0, seconds) * 10);
  const long s = tenths / 10;
  char text[48];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld.%ld", s / 3600, s / 60 % 60, s % 60,
                  tenths % 10);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", s / 60, s % 60, tenths % 10);
  }
  return text;
}

bool HasCurrentCaps(GstElement* element, const char* padName) {
  PadPtr pad(gst_element_get_static_pad(element, padName));
  return pad && gst_pad_has_current_caps(pad.get());
}

bool IsWithin(GstObject* object, GstElement* ancestor) {
  for (GstObject* o = object; o; o = GST_OBJECT_PARENT(o)) {
    if (o == GST_OBJECT(ancestor)) return true;
  }
  return false;
}

class Decode {
 public:
  Decode(GstElement* filter, const DecodeSettings& settings)
      : filter_(filter), settings_(settings) {}

  DecodeOutcome Run(const std::filesystem::path& media);

 private:
  static int OnAutoplugSelect(GstElement*, GstPad*, GstCaps* caps, GstElementFactory* factory,
                              gpointer);
  static void OnPadAdded(GstElement*, GstPad* pad, gpointer self);
  static void OnNoMorePads(GstElement*, gpointer self);
  static GstPadProbeReturn OnAudioCaps(GstPad*, GstPadProbeInfo* info, gpointer self);
  static GstPadProbeReturn OnFilterInput(GstPad*, GstPadProbeInfo* info, gpointer self);
  static GstPadProbeReturn OnStreamBuffer(GstPad*, GstPadProbeInfo*, gpointer self);

  bool BuildPipeline(const std::filesystem::path& media);
  void LinkAudio(GstPad* pad);
  void LinkToFakeSink(GstPad* pad);
  void Post(const char* name);
  void NoteActivity() {
    lastActivity_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  }

  bool AudioLinked() {
    std::lock_guard lock(linkLock_);
    return audioLinked_;
  }
  void HandleError(GstMessage* message);
  void HandleNoMorePads();
  void Finish(ExitStatus status, std::string error);
  void CheckLength();
  void UpdateDuration();
  void DrawProgress();
  void ClearProgress();
  double DecodedSeconds() const {
    return static_cast<double>(audioEnd_.load(std::memory_order_relaxed)) / GST_SECOND;
  }

  GstElement* filter_;
  DecodeSettings settings_;
  ElementPtr pipeline_;
  ElementPtr reader_;  // only for a stream
  ElementPtr source_;
  ElementPtr queue_;
  ElementPtr convert_;
  ElementPtr capsFilter_;

  std::mutex linkLock_;  // pad-added comes from streaming threads
  bool audioLinked_ = false;
  int streams_ = 0;
  std::string audioFormat_;  // what the file's audio is, for messages
  std::vector<std::string> missingPlugins_;

  std::atomic<bool> audioStarted_{false};
  std::atomic<guint64> audioEnd_{0};
  std::atomic<Clock::rep> lastActivity_{0};

  bool done_ = false;
  bool progressShown_ = false;
  DecodeOutcome outcome_;
};

int Decode::OnAutoplugSelect(GstElement*, GstPad*, GstCaps*, GstElementFactory* factory, gpointer) {
  // Video is only ever passed by; decoding it would cost ten times the audio.
  // Parsers count too: they would pull in a decoder after them.
  const std::string_view klass =
      gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
  const bool codec = klass.find("Decoder") != std::string_view::npos ||
                     klass.find("Parser") != std::string_view::npos;
  const bool picture = klass.find("Video") != std::string_view::npos ||
                       klass.find("Image") != std::string_view::npos;
  return codec && picture ? kAutoplugExpose : kAutoplugTry;
}

void Decode::OnPadAdded(GstElement*, GstPad* pad, gpointer self) {
  auto* d = static_cast<Decode*>(self);
  GstCapsPtr caps(gst_pad_get_current_caps(pad));
  if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
  const GstStructure* s =
      caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
  const std::string_view type = s ? gst_structure_get_name(s) : "";

  gst_pad_add_probe(pad, kBufferProbe, &Decode::OnStreamBuffer, d, nullptr);
  std::lock_guard lock(d->linkLock_);
  ++d->streams_;
  if (type == "audio/x-raw" && !d->audioLinked_) {
    d->audioLinked_ = true;
    d->LinkAudio(pad);
  } else {
    // Every stream needs somewhere to go, or the demuxer stops on
    // not-linked.
    d->LinkToFakeSink(pad);
  }
}

void Decode::OnNoMorePads(GstElement*, gpointer self) {
  static_cast<Decode*>(self)->Post("no-more-pads");
}

GstPadProbeReturn Decode::OnAudioCaps(GstPad*, GstPadProbeInfo* info, gpointer self) {
  auto* d = static_cast<Decode*>(self);
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
  GstCaps* caps = nullptr;
  gst_event_parse_caps(event, &caps);
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  int rate = 0, channels = 0;
  gst_structure_get_int(s, "rate", &rate);
  gst_structure_get_int(s, "channels", &channels);
  const char* format = gst_structure_get_string(s, "format");
  {
    std::lock_guard lock(d->linkLock_);
    d->audioFormat_ = std::to_string(channels) + (channels == 1 ? " channel" : " channels") +
                      " at " + std::to_string(rate) + " Hz, " + (format ? format : "?");
  }
  // The filter must see the file's own samples: only the sample format may
  // change. Pinning rate and channels to the stream's own stops the
  // converter from remixing to suit the filter, so a refusal shows as one.
  GstCapsPtr wanted(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                        G_TYPE_STRING, "interleaved", nullptr));
  GstStructure* w = gst_caps_get_structure(wanted.get(), 0);
  if (rate > 0) gst_structure_set(w, "rate", G_TYPE_INT, rate, nullptr);
  if (channels > 0) gst_structure_set(w, "channels", G_TYPE_INT, channels, nullptr);
  g_object_set(d->capsFilter_.get(), "caps", wanted.get(), nullptr);
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn Decode::OnFilterInput(GstPad*, GstPadProbeInfo* info, gpointer self) {
  auto* d = static_cast<Decode*>(self);
  auto note = [d](GstBuffer* buffer) {
    if (!GST_BUFFER_PTS_IS_VALID(buffer)) return;
    guint64 end = GST_BUFFER_PTS(buffer);
    if (GST_BUFFER_DURATION_IS_VALID(buffer)) end += GST_BUFFER_DURATION(buffer);
    guint64 seen = d->audioEnd_.load(std::memory_order_relaxed);
    while (end > seen && !d->audioEnd_.compare_exchange_weak(seen, end)) {
    }
  };
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
    note(GST_PAD_PROBE_INFO_BUFFER(info));
  } else {
    GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    for (guint i = 0; i < gst_buffer_list_length(list); ++i) note(gst_buffer_list_get(list, i));
  }
  d->audioStarted_.store(true, std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn Decode::OnStreamBuffer(GstPad*, GstPadProbeInfo*, gpointer self) {
  static_cast<Decode*>(self)->NoteActivity();
  return GST_PAD_PROBE_OK;
}

void Decode::Post(const char* name) {
  gst_element_post_message(
      pipeline_.get(),
      gst_message_new_application(GST_OBJECT(pipeline_.get()), gst_structure_new_empty(name)));
}

bool Decode::BuildPipeline(const std::filesystem::path& media) {
  const bool stream = settings_.streamFd >= 0;
  pipeline_ = MakeElement("pipeline");
  source_ = MakeElement(stream ? "decodebin" : "uridecodebin");
  queue_ = MakeElement("queue");
  convert_ = MakeElement("audioconvert");
  capsFilter_ = MakeElement("capsfilter");
  if (!pipeline_ || !source_ || !queue_ || !convert_ || !capsFilter_) return false;
  // Dither would add noise to the very samples the demodulator reads, and
  // costs more than the rest of the conversion.
  gst_util_set_object_arg(G_OBJECT(convert_.get()), "dithering", "none");
  gst_util_set_object_arg(G_OBJECT(convert_.get()), "noise-shaping", "none");

  if (stream) {
    // A pipe cannot be opened again by name, and its bytes can be read only
    // once: the decoder reads the descriptor that was checked.
    reader_ = MakeElement("fdsrc");
    if (!reader_) return false;
    g_object_set(reader_.get(), "fd", settings_.streamFd, nullptr);
    gst_bin_add_many(GST_BIN(pipeline_.get()), reader_.get(), source_.get(), nullptr);
    if (!gst_element_link(reader_.get(), source_.get())) return false;
  } else {
    GError* error = nullptr;
    const std::string uri = TakeString(gst_filename_to_uri(media.c_str(), &error));
    GErrorPtr owned(error);
    if (uri.empty()) return false;
    g_object_set(source_.get(), "uri", uri.c_str(), nullptr);
    gst_bin_add(GST_BIN(pipeline_.get()), source_.get());
  }
  g_signal_connect(source_.get(), "autoplug-select", G_CALLBACK(&Decode::OnAutoplugSelect), this);
  g_signal_connect(source_.get(), "pad-added", G_CALLBACK(&Decode::OnPadAdded), this);
  g_signal_connect(source_.get(), "no-more-pads", G_CALLBACK(&Decode::OnNoMorePads), this);

  PadPtr convertSink(gst_element_get_static_pad(convert_.get(), "sink"));
  gst_pad_add_probe(convertSink.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &Decode::OnAudioCaps,
                    this, nullptr);
  PadPtr filterSink(gst_element_get_static_pad(filter_, "sink"));
  if (!filterSink) return false;
  gst_pad_add_probe(filterSink.get(), kBufferProbe, &Decode::OnFilterInput, this, nullptr);
  return true;
}

// Runs on a streaming thread with linkLock_ held.
void Decode::LinkAudio(GstPad* pad) {
  ElementPtr sink = MakeElement("fakesink");
  g_object_set(sink.get(), "sync", settings_.realtime ? TRUE : FALSE, "enable-last-sample", FALSE,
               nullptr);
  GstBin* bin = GST_BIN(pipeline_.get());
  // The queue gives conversion and filter a thread of their own, beside the
  // audio decoder's: on two cores that takes a third off the run.
  gst_bin_add_many(bin, queue_.get(), convert_.get(), capsFilter_.get(), filter_, sink.get(),
                   nullptr);
  if (!gst_element_link_many(queue_.get(), convert_.get(), capsFilter_.get(), filter_, sink.get(),
                             nullptr)) {
    Post("audio-link-failed");
    return;
  }
  // Downstream first, so that nothing pushes into an element not yet running.
  for (GstElement* e : {sink.get(), filter_, capsFilter_.get(), convert_.get(), queue_.get()}) {
    gst_element_sync_state_with_parent(e);
  }
  PadPtr queueSink(gst_element_get_static_pad(queue_.get(), "sink"));
  if (GST_PAD_LINK_FAILED(gst_pad_link(pad, queueSink.get()))) Post("audio-link-failed");
}

void Decode::LinkToFakeSink(GstPad* pad) {
  ElementPtr sink = MakeElement("fakesink");
  // Not part of preroll: a sparse stream (subtitles, a still picture) must
  // not hold back the audio until its first buffer comes.
  g_object_set(sink.get(), "sync", settings_.realtime ? TRUE : FALSE, "async", FALSE,
               "enable-last-sample", FALSE, nullptr);
  gst_bin_add(GST_BIN(pipeline_.get()), sink.get());
  gst_element_sync_state_with_parent(sink.get());
  PadPtr sinkPad(gst_element_get_static_pad(sink.get(), "sink"));
  gst_pad_link(pad, sinkPad.get());
}

void Decode::Finish(ExitStatus status, std::string error) {
  if (done_) return;
  done_ = true;
  outcome_.status = status;
  outcome_.error = std::move(error);
}

void Decode::HandleNoMorePads() {
  std::lock_guard lock(linkLock_);
  if (audioLinked_) return;
  if (streams_ == 0) {
    Finish(ExitStatus::kNotMedia, "no streams found; not a media file");
    return;
  }
  std::string why = "no audio stream";
  if (!missingPlugins_.empty()) why += " that can be decoded (missing " + missingPlugins_[0] + ")";
  Finish(ExitStatus::kNoAudio, why);
}

void Decode::HandleError(GstMessage* message) {
  GError* raw = nullptr;
  gchar* rawDebug = nullptr;
  gst_message_parse_error(message, &raw, &rawDebug);
  GErrorPtr error(raw);
  const std::string debug = TakeString(rawDebug);
  const GstStructure* details = nullptr;
  gst_message_parse_error_details(message, &details);
  int flow = GST_FLOW_OK;
  const bool notNegotiated = (details && gst_structure_get_int(details, "flow-return", &flow) &&
                              flow == GST_FLOW_NOT_NEGOTIATED) ||
                             debug.find("not-negotiated") != std::string::npos;

  // The file's audio reached the converter but the filter never took a
  // format for it, whether it refused the caps or its caps query left the
  // converter nothing to offer.
  std::string format;
  {
    std::lock_guard lock(linkLock_);
    format = audioFormat_;
  }
  const bool refused = notNegotiated && !format.empty() && !HasCurrentCaps(filter_, "sink");
  if (IsWithin(GST_MESSAGE_SRC(message), filter_) || refused) {
    std::string why = "the decoder does not accept its audio";
    if (!format.empty()) why += " (" + format + ")";
    // The filter's own words name what it wanted; a failed negotiation
    // upstream only says that the stream stopped.
    if (IsWithin(GST_MESSAGE_SRC(message), filter_)) why += std::string(": ") + error->message;
    Finish(ExitStatus::kAudioRefused, why);
    return;
  }
  if (audioStarted_.load()) {
    // Part of the file was good: keep what it gave, as a pilot with a cut
    // recording wants.
    outcome_.endedEarly = true;
    outcome_.endedEarlyReason = error->message;
    Finish(ExitStatus::kOk, {});
    return;
  }
  std::string why = std::string("not a media file that can be read (") + error->message + ")";
  if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN &&
      !missingPlugins_.empty()) {
    why = "cannot be read without " + missingPlugins_[0];
  }
  Finish(ExitStatus::kNotMedia, why);
}

void Decode::UpdateDuration() {
  gint64 duration = 0;
  if (gst_element_query_duration(pipeline_.get(), GST_FORMAT_TIME, &duration) && duration > 0) {
    outcome_.durationSeconds = static_cast<double>(duration) / GST_SECOND;
  }
}

void Decode::CheckLength() {
  if (outcome_.endedEarly) return;
  const double stated =
      std::max(outcome_.durationSeconds.value_or(0), settings_.statedSeconds.value_or(0));
  const double decoded = DecodedSeconds();
  if (decoded + kEarlyEndToleranceSeconds < stated) {
    outcome_.endedEarly = true;
    outcome_.endedEarlyReason =
        "its audio stops at " + FormatSeconds(decoded) + " of a stated " + FormatSeconds(stated);
  }
}

void Decode::DrawProgress() {
  constexpr int kWidth = 30;
  const double decoded = DecodedSeconds();
  std::string line = "\r" + FormatSeconds(decoded);
  if (outcome_.durationSeconds && *outcome_.durationSeconds > 0) {
    const double share = std::clamp(decoded / *outcome_.durationSeconds, 0.0, 1.0);
    const int filled = static_cast<int>(share * kWidth);
    line = "\r[" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + "] " +
           std::to_string(static_cast<int>(share * 100)) + "%  " + FormatSeconds(decoded) + " / " +
           FormatSeconds(*outcome_.durationSeconds);
  }
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  progressShown_ = true;
}

void Decode::ClearProgress() {
  if (!progressShown_) return;
  std::fputs(("\r" + std::string(72, ' ') + "\r").c_str(), stderr);
  std::fflush(stderr);
}

DecodeOutcome Decode::Run(const std::filesystem::path& media) {
  gst_pb_utils_init();
  if (!BuildPipeline(media)) {
    outcome_.status = ExitStatus::kDecoderUnavailable;
    outcome_.error = "cannot build the decoding pipeline (are GStreamer's base plugins installed?)";
    return outcome_;
  }
  BusPtr bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline_.get())));
  NoteActivity();
  // Preroll first: sinks added while the pipeline is still on its way to
  // PLAYING can miss its base time and then render everything at once,
  // which --realtime must not.
  gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
  bool playing = false;

  auto lastDraw = Clock::now();
  while (!done_) {
    GstMessagePtr message(gst_bus_timed_pop_filtered(
        bus.get(), kBusPollInterval,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_APPLICATION |
                                    GST_MESSAGE_ELEMENT | GST_MESSAGE_ASYNC_DONE)));
    if (message) {
      switch (GST_MESSAGE_TYPE(message.get())) {
        case GST_MESSAGE_ERROR:
          HandleError(message.get());
          break;
        case GST_MESSAGE_EOS:
          if (!AudioLinked()) {
            HandleNoMorePads();
          } else {
            UpdateDuration();
            CheckLength();
            Finish(ExitStatus::kOk, {});
          }
          break;
        case GST_MESSAGE_ASYNC_DONE:
          if (!playing && GST_MESSAGE_SRC(message.get()) == GST_OBJECT(pipeline_.get())) {
            playing = true;
            gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
          }
          break;
        case GST_MESSAGE_ELEMENT:
          if (const GstStructure* s = gst_message_get_structure(message.get());
              s && settings_.onElementMessage)
            settings_.onElementMessage(s);
          if (gst_is_missing_plugin_message(message.get())) {
            std::lock_guard lock(linkLock_);
            missingPlugins_.push_back(
                TakeString(gst_missing_plugin_message_get_description(message.get())));
          }
          break;
        case GST_MESSAGE_APPLICATION: {
          const std::string_view name =
              gst_structure_get_name(gst_message_get_structure(message.get()));
          if (name == "no-more-pads") HandleNoMorePads();
          if (name == "audio-link-failed") {
            Finish(ExitStatus::kAudioRefused, "the decoder cannot be connected to its audio");
          }
          break;
        }
        default:
          break;
      }
    }
    if (done_) break;
    if (!outcome_.durationSeconds) UpdateDuration();
    const auto now = Clock::now();
    const auto idle = now - Clock::time_point(Clock::duration(lastActivity_.load()));
    // At playback speed a gap in the stream's time stamps is waited out on
    // the clock, and looks the same as a stall.
    if (idle > kStallTimeout && !(settings_.realtime && playing)) {
      Finish(audioStarted_.load() ? ExitStatus::kOk : ExitStatus::kNotMedia,
             audioStarted_.load() ? "" : "reading stalled; not a usable media file");
      if (audioStarted_.load()) {
        outcome_.endedEarly = true;
        outcome_.endedEarlyReason = "reading stalled";
      }
      break;
    }
    if (settings_.showProgress && now - lastDraw > std::chrono::milliseconds(200)) {
      lastDraw = now;
      DrawProgress();
    }
  }
  ClearProgress();
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  outcome_.decodedSeconds = DecodedSeconds();
  return outcome_;
}

}  // namespace

DecodeOutcome DecodeMediaFile(const std::filesystem::path& media, GstElement* filter,
                              const DecodeSettings& settings) {
  Decode decode(filter, settings);
  return decode.Run(media);
}

#pragma once

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/graph/testing/graph_lookup.h"
#include "platform/gst/graph_interfaces.h"

// Media files made once per test run from generated telemetry and
// GStreamer's own encoders, and small helpers over the graph interfaces.
class GraphMedia {
 public:
  static constexpr double kLongSeconds = 60.0;
  static constexpr double kShortSeconds = 4.0;

  // Telemetry audio, mono 16-bit, kLongSeconds.
  static std::filesystem::path TelemetryWav();
  // Video and the telemetry as Vorbis in Matroska, kLongSeconds.
  static std::filesystem::path VideoAndAudioMkv();
  // WMV video and WMA audio in ASF, kShortSeconds.
  static std::filesystem::path Asf();
  // Video only, kShortSeconds.
  static std::filesystem::path VideoOnlyMkv();
  static std::filesystem::path Folder();
};

std::u16string Wide(const std::filesystem::path& path);

ComPtr<IGraphBuilder> NewGraph();
// A filter over a new element made from a description, e.g. "volume" or
// "audiotestsrc num-buffers=10".
ComPtr<IBaseFilter> ElementFilter(const char* description);
std::vector<std::string> FilterNames(IGraphBuilder* graph);
ComPtr<IPin> Pin(IBaseFilter* filter, const char16_t* id);
ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction);
// Waits for an event of `code`; false after `seconds`.
bool WaitForEvent(IGraphBuilder* graph, long code, double seconds, LONG_PTR* param1 = nullptr);

// Counts buffers passing a pad.
class BufferCounter {
 public:
  explicit BufferCounter(IPin* pin);
  ~BufferCounter();
  BufferCounter(const BufferCounter&) = delete;
  BufferCounter& operator=(const BufferCounter&) = delete;
  int Count() const { return count_; }

 private:
  GstPad* pad_ = nullptr;
  gulong probe_ = 0;
  std::atomic<int> count_{0};
};

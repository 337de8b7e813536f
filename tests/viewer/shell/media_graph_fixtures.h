#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/iquorvex.h"
#include "platform/graph/testing/fake_graph.h"
#include "platform/graph/testing/graph_lookup.h"
#include "tests/sound_server.h"
#include "viewer/shell/media_graph.h"

// Media made once per run from generated telemetry and GStreamer's
// encoders, the decoder library registered for the run, and stand-ins for
// the viewer's windows.
// What the pilot reads when there is no input to capture.
inline constexpr char kNoInputText[] =
    "No audio input found: connect the video receiver's audio output to the line input, then "
    "press Live Capture again.";

namespace media {

namespace fs = std::filesystem;

struct File {
  fs::path path;
  int frames = 0;  // telemetry frames the audio holds
};

inline constexpr double kLongSeconds = 60.0;
inline constexpr double kShortSeconds = 6.0;

fs::path Folder();
// Telemetry, mono 16-bit.
File LongWav();
File ShortWav();
// Video and the telemetry as FLAC in Matroska, kLongSeconds.
File VideoAndAudioMkv();
// WMV video and WMA audio in a file named .asf, kShortSeconds.
File Asf();
// MPEG-2 video and MPEG-1 layer II audio in a program stream, kShortSeconds.
File Mpg();
File VideoOnlyMkv();
// Two audio streams, each the short telemetry as FLAC, in Matroska;
// `frames` counts one stream.
File TwoAudioStreamsMkv();
// The MPEG file again, in a folder whose name ends in ".ASF".
File MpgInAsfFolder();

}  // namespace media

struct ShownMessage {
  bool owned = false;  // owned by the video area
  std::string text;
  std::string caption;
};

class RecordingMessages final : public IMessageService {
 public:
  void ShowMessage(const IVideoArea* owner, std::u16string_view text, std::u16string_view caption,
                   MessageIcon icon) override;
  std::vector<ShownMessage> shown;
  std::vector<std::string> Texts() const;
};

class RecordingArea final : public IVideoArea {
 public:
  void PresentFrame(const VideoFrame&) override { ++frames; }
  void PlaceVideo(long left, long top, long width, long height) override;
  void ShowVideo(bool visible) override { shown = visible; }
  void PostNotify(long message, LONG_PTR instance) override;
  ClientRect GetClientRect() const override { return {352, 288}; }

  std::atomic<int> frames{0};
  std::atomic<int> notifications{0};
  std::atomic<long> lastMessage{0};
  std::atomic<LONG_PTR> lastInstance{-1};
  std::atomic<bool> shown{false};
  long placed[4] = {-1, -1, -1, -1};
};

// The platform's objects with a failure script in front of them.
class ScriptedServices final : public IGraphServices {
 public:
  ScriptedServices() : platform_(std::make_shared<FailureScript>()) {}
  HRESULT CreateObject(REFCLSID clsid, DWORD context, REFIID iid, void** object) override;
  HRESULT GetRunningObjectTable(IRunningObjectTable** table) override {
    return platform_.GetRunningObjectTable(table);
  }
  HRESULT CreateItemMoniker(const OLECHAR* delimiter, const OLECHAR* item,
                            IMoniker** moniker) override {
    return platform_.CreateItemMoniker(delimiter, item, moniker);
  }
  FailureScript& Script() { return platform_.Script(); }

 private:
  FakeGraphPlatform platform_;
};

struct PacketCounts {
  int good = -1;
  int bad = -1;
};
PacketCounts CountsOf(IBaseFilter* decoder);
ComPtr<IQuorvex> ControlOf(IBaseFilter* decoder);

// Waits for the end of the stream; false after `seconds`.
bool WaitForCompletion(MediaGraph& graph, double seconds);
// Waits until the decoder has decoded `frames` good frames.
bool WaitForFrames(IBaseFilter* decoder, int frames, double seconds);
std::u16string Wide(const std::filesystem::path& path);

// The graph name of the filter whose output feeds the input pin `pinId` of
// `filter`; empty when nothing does.
std::string Feeder(IBaseFilter* filter, const char16_t* pinId);

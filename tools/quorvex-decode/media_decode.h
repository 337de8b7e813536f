#pragma once

#include <gst/gst.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "tools/quorvex-decode/exit_status.h"

struct DecodeSettings {
  bool realtime = false;      // let the sinks run on the clock
  bool showProgress = false;  // a progress bar on stderr
  // The length the file's own header states, where GStreamer would not
  // tell that the file falls short of it.
  std::optional<double> statedSeconds;
  // Every element message from the pipeline, on the thread that runs it.
  std::function<void(const GstStructure*)> onElementMessage;
  // A pipe or standard input to decode as a stream instead of the file;
  // it stays the caller's.
  int streamFd = -1;
};

struct DecodeOutcome {
  ExitStatus status = ExitStatus::kOk;
  std::string error;  // why, for one line about the file, when status is not kOk
  // The file stopped before the length it claims, or its reading failed part
  // way through: what came before was decoded.
  bool endedEarly = false;
  std::string endedEarlyReason;
  double decodedSeconds = 0;  // stream time of the audio the filter received
  std::optional<double> durationSeconds;
};

// Plays the first audio stream of `media` through `filter` (an element that
// takes interleaved 16-bit audio), as fast as possible or in real time, until
// the end of the file or an error. Other streams are read but never decoded.
// Needs gst_init.
DecodeOutcome DecodeMediaFile(const std::filesystem::path& media, GstElement* filter,
                              const DecodeSettings& settings);

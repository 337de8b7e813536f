#pragma once

// The process exit statuses. Scripts that batch-decode whole folders of
// flights branch on them, so the numbers never change.
enum class ExitStatus : int {
  kOk = 0,
  kDecoderUnavailable = 1,  // the decoder library cannot be found or created
  kUsage = 2,
  kNotMedia = 3,  // missing, unreadable, or not a media file
  kNoAudio = 4,
  kAudioRefused = 5,  // the filter will not take the file's audio
  kOutputFailed = 6,
};

constexpr int ToInt(ExitStatus status) { return static_cast<int>(status); }

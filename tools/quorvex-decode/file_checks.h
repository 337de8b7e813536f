#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/file/file_descriptor.h"

// The recording to decode: a file read by name, or a stream (a named pipe,
// or standard input when the name is "-") read from a descriptor.
struct MediaInput {
  std::string name;  // for messages
  std::optional<std::filesystem::path> file;
  FileDescriptor stream;
  struct stat identity {};
};

// Empty when the recording can be read; else why not. A stream is only
// handed on once its first bytes have arrived (none are consumed), so a
// pipe that no one writes is refused after waitSeconds instead of hanging.
std::string OpenMedia(const std::filesystem::path& argument, MediaInput& media, int waitSeconds);

struct NamedOutput {
  const char* option;  // "--csv" and so on, for messages
  std::filesystem::path path;
};

// Everything that must hold before a long decode, judged before anything is
// opened for writing: no output is the recording itself or another output
// of the same run (links and hard links included), and each can be written
// where it would go. Empty when they are fine; else the message.
std::string CheckOutputs(const MediaInput& media, const std::vector<NamedOutput>& outputs);

// The decoder opens its NMEA file by a name without links in it and
// truncates it. Empty (with the name in decoderPath) when that will work
// without blocking; a pipe is held open in keepOpen until the decoder has
// opened it, so that its reader does not see the end of the stream first.
std::string PrepareNmeaOutput(const std::filesystem::path& path, std::filesystem::path& decoderPath,
                              FileDescriptor& keepOpen);

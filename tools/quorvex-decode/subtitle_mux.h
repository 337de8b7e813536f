#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "common/subtitle_writer.h"

// Writes `media` again as Matroska with `cues` as an extra subtitle track.
// Every stream of the recording is copied as it is, parsed but never
// decoded, so nothing is re-encoded. Empty when written, else why not
// (a stream Matroska cannot hold is named). Needs gst_init.
std::string MuxWithSubtitles(const std::filesystem::path& media, const std::filesystem::path& out,
                             std::span<const subtitles::Cue> cues);

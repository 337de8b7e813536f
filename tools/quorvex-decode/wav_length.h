#pragma once

#include <filesystem>
#include <optional>

// The length that a PCM WAV file's header states for its audio, in seconds.
// GStreamer quietly clips a data chunk to the file's size, so this is how a
// recording cut short is told from a short one. nullopt for other files and
// for headers that leave the length open (0 or 0xFFFFFFFF, as recorders that
// stream to disk write until they finish).
std::optional<double> StatedWavSeconds(const std::filesystem::path& file);

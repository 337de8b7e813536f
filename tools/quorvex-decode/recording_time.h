#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

// An instant of the recording in seconds since 1970 UTC, which dates the
// NMEA sentences: the date and time the container declares (a date alone
// counts as its noon), else the file's modification time. nullopt for
// what is not a regular file, which cannot be read twice. Needs gst_init.
std::optional<std::int64_t> RecordingTime(const std::filesystem::path& media);

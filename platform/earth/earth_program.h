#pragma once

#include <filesystem>
#include <optional>

namespace earth {

// The Google Earth program of this user: the one named by the environment
// variable VISTARO_GOOGLE_EARTH (or GOOGLE_EARTH), a path or a name looked
// up on the PATH; without either, google-earth-pro or googleearth on the
// PATH. Empty when that names nothing executable: a variable that is set is
// never second-guessed by a search of its own.
std::optional<std::filesystem::path> FindEarthProgram();

// Whether `program` (as FindEarthProgram gives it) already runs for this
// user: a process of ours whose executable or script is that program, or
// Google Earth's own binary beside it (the program is often a launcher
// script that starts the binary under another name).
bool EarthProgramRuns(const std::filesystem::path& program);

}  // namespace earth

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

}  // namespace earth

#include "platform/earth/earth_program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace earth {
namespace {

bool IsExecutableFile(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> SearchPath(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const auto colon = dirs.find(':');
    std::string_view dir = dirs.substr(0, colon);
    // An empty entry means the current folder, as the shell reads it.
    const std::filesystem::path candidate =
        std::filesystem::path(dir.empty() ? std::string_view(".") : dir) / name;
    if (IsExecutableFile(candidate)) return std::filesystem::absolute(candidate);
    if (colon == std::string_view::npos) return std::nullopt;
    dirs.remove_prefix(colon + 1);
  }
}

std::optional<std::filesystem::path> Resolve(std::string_view program) {
  if (program.find('/') == std::string_view::npos) return SearchPath(program);
  const std::filesystem::path path(program);
  if (!IsExecutableFile(path)) return std::nullopt;
  return std::filesystem::absolute(path);
}

}  // namespace

std::optional<std::filesystem::path> FindEarthProgram() {
  for (const char* variable : {"VISTARO_GOOGLE_EARTH", "GOOGLE_EARTH"}) {
    if (const char* named = std::getenv(variable); named != nullptr && *named != '\0') {
      return Resolve(named);
    }
  }
  for (std::string_view name : {"google-earth-pro", "googleearth"}) {
    if (auto found = SearchPath(name)) return found;
  }
  return std::nullopt;
}

}  // namespace earth

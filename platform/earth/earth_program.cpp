#include "platform/earth/earth_program.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file/file_descriptor.h"

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

std::filesystem::path Canonical(const std::filesystem::path& path) {
  std::error_code error;
  auto canonical = std::filesystem::canonical(path, error);
  return error ? std::filesystem::path() : canonical;
}

// The first arguments of a process: the program, and for a script the
// script itself.
std::vector<std::string> LeadingArguments(const std::filesystem::path& process) {
  // Read with plain read(2): a process that ends meanwhile makes its files
  // fail with ESRCH, which is only "gone", where a stream would throw.
  const FileDescriptor in(::open((process / "cmdline").c_str(), O_RDONLY | O_CLOEXEC));
  std::string text;
  char buffer[4096];
  for (ssize_t got; in.Get() >= 0 && (got = ::read(in.Get(), buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  std::vector<std::string> arguments;
  for (std::size_t start = 0; start < text.size() && arguments.size() < 2;) {
    const auto end = text.find('\0', start);
    arguments.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return arguments;
}

}  // namespace

bool EarthProgramRuns(const std::filesystem::path& program) {
  const auto target = Canonical(program);
  if (target.empty()) return false;
  // Google Earth Pro's launcher starts this binary from its own folder.
  const auto binary = target.parent_path() / "googleearth-bin";
  const uid_t me = ::getuid();
  const pid_t self = ::getpid();
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (std::stoll(name) == self) continue;
    struct stat info;
    if (::stat(entry.path().c_str(), &info) != 0 || info.st_uid != me) continue;
    std::vector<std::filesystem::path> candidates{Canonical(entry.path() / "exe")};
    for (const auto& argument : LeadingArguments(entry.path())) {
      if (argument.starts_with('/')) candidates.push_back(Canonical(argument));
    }
    for (const auto& candidate : candidates) {
      if (!candidate.empty() && (candidate == target || candidate == binary)) return true;
    }
  }
  return false;
}

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

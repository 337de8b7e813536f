#include "platform/file/atomic_file.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using WriteSize = unsigned int;
int OpenExclusive(const std::filesystem::path& path) {
  int fd = -1;
  _wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR,
            _S_IREAD | _S_IWRITE);
  return fd;
}
long long WriteSome(int fd, const char* data, std::size_t size) {
  constexpr std::size_t kMaxChunk = 1u << 30;
  return _write(fd, data, static_cast<WriteSize>(size < kMaxChunk ? size : kMaxChunk));
}
int CloseFile(int fd) { return _close(fd); }
void RemoveFile(const std::filesystem::path& path) { _wremove(path.c_str()); }
std::error_code RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return {};
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}
unsigned long ProcessId() { return GetCurrentProcessId(); }
#else
int OpenExclusive(const std::filesystem::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
long long WriteSome(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
// A close interrupted by a signal has still released the descriptor on the
// systems we run on; retrying could close someone else's.
int CloseFile(int fd) { return ::close(fd); }
void RemoveFile(const std::filesystem::path& path) { ::unlink(path.c_str()); }
std::error_code RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return {};
  return std::error_code(errno, std::generic_category());
}
unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }
#endif

std::uint64_t NextTag() {
  static const std::uint64_t seed = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  static std::atomic<std::uint64_t> counter{0};
  return seed + counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
}

// Hidden, and named after the target so that a leftover from a crash says
// where it came from. Very long names are left out to stay within the
// file-system's name limit.
std::filesystem::path TemporaryName(const std::filesystem::path& target) {
  char tag[64];
  std::snprintf(tag, sizeof tag, ".%lu.%016llx.tmp", ProcessId(),
                static_cast<unsigned long long>(NextTag()));
  std::filesystem::path name = ".";
  if (target.filename().native().size() <= 100) name += target.filename();
  name += tag;
  return target.parent_path() / name;
}

void SetError(std::string* error, std::string_view what, const std::filesystem::path& path,
              std::error_code code) {
  if (error == nullptr) return;
  *error = std::string(what);
  *error += " ";
  const std::u8string name = path.u8string();
  error->append(reinterpret_cast<const char*>(name.data()), name.size());
  *error += ": ";
  *error += code.message();
}

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

// Sets the error and leaves its code in errno for callers that only pass a
// number on.
bool Fail(std::string* error, std::string_view what, const std::filesystem::path& path,
          std::error_code code) {
  SetError(error, what, path, code);
  errno = code.value();
  return false;
}

// Everything or an error: a short write without an error means the device
// is full.
std::error_code WriteAll(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const long long written = WriteSome(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      return written < 0 ? LastError() : std::make_error_code(std::errc::no_space_on_device);
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return {};
}

#ifndef _WIN32
// A device or a pipe gets the bytes where it is: replacing it would turn
// /dev/null into a regular file, and a reader of the pipe would never see
// them.
bool WriteInPlace(const std::filesystem::path& target, std::string_view bytes, std::string* error) {
  // Without O_NONBLOCK a pipe with no reader would block the open for ever.
  int fd;
  do {
    fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENXIO) {
      Fail(error, "cannot write", target, std::make_error_code(std::errc::broken_pipe));
      if (error != nullptr) *error += " (no program is reading the pipe)";
      return false;
    }
    return Fail(error, "cannot open", target, LastError());
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::error_code code = WriteAll(fd, bytes);
  if (CloseFile(fd) != 0 && !code) code = LastError();
  if (code) return Fail(error, "cannot write", target, code);
  return true;
}
#endif

}  // namespace

std::filesystem::path FollowLinks(const std::filesystem::path& path, std::error_code& code) {
  code.clear();
  std::filesystem::path current = path;
  // The limit the kernel itself puts on links followed in one lookup.
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ignored;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, ignored))) {
      return current;
    }
    const std::filesystem::path next = std::filesystem::read_symlink(current, code);
    if (code) return current;
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  code = std::make_error_code(std::errc::too_many_symbolic_link_levels);
  return current;
}

bool ReplaceFileContents(const std::filesystem::path& requested, std::string_view bytes,
                         std::string* error) {
  if (requested.empty()) {
    return Fail(error, "cannot write", "\"\"",
                std::make_error_code(std::errc::no_such_file_or_directory));
  }
  // Judged by the name as given, which the system follows through every
  // link, a descriptor's too (/dev/stdout on a pipe names no file).
  std::error_code code;
  const auto status = std::filesystem::status(requested, code);
  if (std::filesystem::is_directory(status)) {
    return Fail(error, "cannot write", requested, std::make_error_code(std::errc::is_a_directory));
  }
#ifndef _WIN32
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return WriteInPlace(requested, bytes, error);
  }
#endif
  const std::filesystem::path target = FollowLinks(requested, code);
  if (code) return Fail(error, "cannot follow", requested, code);
  // A file that has lost its name (open but deleted, behind a descriptor)
  // cannot be replaced.
  if (std::filesystem::exists(status) && !std::filesystem::equivalent(requested, target, code)) {
    Fail(error, "cannot replace", requested,
         std::make_error_code(std::errc::no_such_file_or_directory));
    if (error != nullptr) *error += " (it has no name of its own to replace)";
    return false;
  }

  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = TemporaryName(target);
    fd = OpenExclusive(temporary);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    return Fail(error, "cannot create a file in", folder, LastError());
  }

  code = WriteAll(fd, bytes);
  // Some file systems report a failed write only when the file is closed.
  if (CloseFile(fd) != 0 && !code) code = LastError();
  if (code) {
    RemoveFile(temporary);
    return Fail(error, "cannot write", target, code);
  }
  if ((code = RenameOver(temporary, target))) {
    RemoveFile(temporary);
    return Fail(error, "cannot replace", target, code);
  }
  return true;
}

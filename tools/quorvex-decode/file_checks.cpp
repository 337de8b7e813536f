#include "tools/quorvex-decode/file_checks.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/file/atomic_file.h"

namespace fs = std::filesystem;

namespace {

std::string SystemReason() { return std::strerror(errno); }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Waits for the first bytes of a stream without reading them. Empty when
// they are there; a stream that ends at once is empty, not media.
std::string AwaitData(int fd, const std::string& name, int waitSeconds) {
  pollfd ready{fd, POLLIN, 0};
  int n;
  do {
    n = ::poll(&ready, 1, waitSeconds * 1000);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return name + ": cannot be read: " + SystemReason();
  if (n == 0) {
    return name + ": nothing arrived in " + std::to_string(waitSeconds) +
           " s; is anything writing to it?";
  }
  if (!(ready.revents & POLLIN)) return name + ": is empty; not a media file";
  return {};
}

std::string OpenStream(MediaInput& media, int waitSeconds) {
  const int fd = media.stream.Get();
  if (::fstat(fd, &media.identity) != 0) return media.name + ": cannot be read: " + SystemReason();
  if (::isatty(fd) == 1) {
    return media.name + ": is a terminal; pipe a recording into it (... | quorvex-decode -)";
  }
  if (S_ISDIR(media.identity.st_mode)) return media.name + ": is a folder, not a media file";
  if (S_ISFIFO(media.identity.st_mode) || S_ISSOCK(media.identity.st_mode)) {
    if (std::string why = AwaitData(fd, media.name, waitSeconds); !why.empty()) return why;
  }
  // The decoder reads with blocking calls of its own.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return {};
}

}  // namespace

std::string OpenMedia(const fs::path& argument, MediaInput& media, int waitSeconds) {
  if (argument == "-") {
    media.name = "standard input";
    const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return media.name + ": cannot be read: " + SystemReason();
    media.stream = FileDescriptor(fd);
    return OpenStream(media, waitSeconds);
  }
  media.name = argument.string();
  if (::stat(argument.c_str(), &media.identity) != 0) {
    if (errno == ENOENT) return media.name + ": no such file";
    return media.name + ": cannot be read: " + SystemReason();
  }
  if (S_ISDIR(media.identity.st_mode)) return media.name + ": is a folder, not a media file";
  if (S_ISFIFO(media.identity.st_mode)) {
    // Opening a pipe to read waits for a writer unless told not to.
    const int fd = ::open(argument.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return media.name + ": cannot be read: " + SystemReason();
    media.stream = FileDescriptor(fd);
    return OpenStream(media, waitSeconds);
  }
  if (!S_ISREG(media.identity.st_mode)) {
    return media.name + ": is a device, not a media file";
  }
  FileDescriptor fd(::open(argument.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return media.name + ": cannot be read: " + SystemReason();
  char first;
  const ssize_t got = ::read(fd.Get(), &first, 1);
  if (got < 0) return media.name + ": cannot be read: " + SystemReason();
  if (got == 0) return media.name + ": is empty; not a media file";
  media.file = argument;
  return {};
}

std::string CheckOutputs(const MediaInput& media, const std::vector<NamedOutput>& outputs) {
  // What each output will finally write: the file itself when it exists
  // and is regular, else the name it will be created under.
  struct Destination {
    std::optional<struct stat> file;
    fs::path created;
  };
  std::vector<Destination> seen;
  std::vector<NamedOutput> all = outputs;
  // The summary is an output too: a file that receives it cannot also be
  // replaced by another output.
  if (struct stat out{}; ::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode)) {
    all.insert(all.begin(), {"standard output", {}});
    seen.push_back({out, {}});
  }
  for (std::size_t n = seen.size(); n < all.size(); ++n) {
    const NamedOutput& output = all[n];
    const std::string what = std::string(output.option) + " " + output.path.string();
    struct stat info {};
    const bool exists = ::stat(output.path.c_str(), &info) == 0;
    if (exists && SameFile(info, media.identity)) {
      return what + ": is the recording being decoded (" + media.name + "); refused";
    }
    if (exists && S_ISDIR(info.st_mode)) return what + ": is a folder";
    Destination destination;
    if (exists && !S_ISREG(info.st_mode)) {
      // Devices and pipes are written in place; two outputs may share one.
      if (::access(output.path.c_str(), W_OK) != 0) {
        return what + ": cannot be written: " + SystemReason();
      }
      seen.push_back({});
      continue;
    }
    std::error_code code;
    const fs::path target = FollowLinks(output.path, code);
    if (code) return what + ": cannot be written: " + code.message();
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, code)) {
      return what + ": cannot be written: " + folder.string() +
             (fs::exists(folder, code) ? " is not a folder" : ": no such folder");
    }
    // A file is replaced, not rewritten: its folder must take a new one.
    if (::access(folder.c_str(), W_OK) != 0) {
      return what + ": cannot be written: " + folder.string() + ": " + SystemReason();
    }
    if (exists) {
      destination.file = info;
    } else {
      destination.created = fs::weakly_canonical(fs::absolute(target, code), code);
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
      const Destination& other = seen[i];
      const bool same = destination.file
                            ? other.file && SameFile(*other.file, *destination.file)
                            : !other.created.empty() && other.created == destination.created;
      if (same) {
        return what + ": is the same file as " + all[i].option +
               (all[i].path.empty() ? "" : " " + all[i].path.string()) +
               "; give each output its own file";
      }
    }
    seen.push_back(std::move(destination));
  }
  return {};
}

std::string PrepareNmeaOutput(const fs::path& path, fs::path& decoderPath,
                              FileDescriptor& keepOpen) {
  const std::string what = "--nmea " + path.string();
  std::error_code code;
  const fs::path target = FollowLinks(path, code);
  if (code) return what + ": cannot be written: " + code.message();
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    struct stat reached {};
    // A descriptor's name (/dev/stdout on a pipe) leads to no file that can
    // be opened again by name.
    if (::stat(target.c_str(), &reached) != 0 || !SameFile(info, reached)) {
      return what + ": cannot be opened by name; give a file or a named pipe";
    }
    if (S_ISFIFO(info.st_mode)) {
      const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && errno == ENXIO) return what + ": no program is reading the pipe";
      if (fd < 0) return what + ": cannot be written: " + SystemReason();
      keepOpen = FileDescriptor(fd);
    }
  }
  decoderPath = fs::absolute(target, code);
  return {};
}

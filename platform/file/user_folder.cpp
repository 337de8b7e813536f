#include "platform/file/user_folder.h"

#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file/file_descriptor.h"
#endif

namespace {

std::optional<std::filesystem::path> Refuse(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return std::nullopt;
}

#ifndef _WIN32
std::string Describe(const std::filesystem::path& path, std::string_view problem) {
  std::string text = path.string();
  text += ": ";
  text += problem;
  return text;
}

std::string Describe(const std::filesystem::path& path, int code) {
  return Describe(path, std::error_code(code, std::generic_category()).message());
}

#endif

}  // namespace

std::optional<std::filesystem::path> PrivateTempFolder(std::string* error) {
  std::error_code code;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(code);
  if (code) return Refuse(error, "no temporary folder: " + code.message());
#ifdef _WIN32
  return temp;
#else
  const uid_t uid = ::geteuid();
  const std::filesystem::path folder = temp / ("vistaroplayer-" + std::to_string(uid));

  // Someone may create it between our look and our mkdir, so try to create
  // it first and judge whatever is there afterwards.
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return Refuse(error, Describe(folder, errno));
  }

  struct stat link;
  if (::lstat(folder.c_str(), &link) != 0) return Refuse(error, Describe(folder, errno));
  if (S_ISLNK(link.st_mode)) return Refuse(error, Describe(folder, "is a symbolic link"));
  if (!S_ISDIR(link.st_mode)) return Refuse(error, Describe(folder, "is not a directory"));
  if (link.st_uid != uid) return Refuse(error, Describe(folder, "belongs to another user"));

  // Check and tighten through a descriptor of the very directory we looked
  // at, so that nothing swapped in after lstat gets the chmod.
  const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.Get() < 0) return Refuse(error, Describe(folder, errno));
  struct stat opened;
  if (::fstat(dir.Get(), &opened) != 0) return Refuse(error, Describe(folder, errno));
  if (opened.st_dev != link.st_dev || opened.st_ino != link.st_ino || opened.st_uid != uid) {
    return Refuse(error, Describe(folder, "was replaced while being checked"));
  }
  if ((opened.st_mode & 07777) != 0700 && ::fchmod(dir.Get(), 0700) != 0) {
    return Refuse(error, Describe(folder, errno));
  }
  return folder;
#endif
}

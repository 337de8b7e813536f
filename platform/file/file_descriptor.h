#pragma once

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

// Owns a file descriptor and closes it on every path out of its scope.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.Release();
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  void Close() {
#ifdef _WIN32
    if (fd_ >= 0) ::_close(fd_);
#else
    if (fd_ >= 0) ::close(fd_);
#endif
  }

  int fd_ = -1;
};

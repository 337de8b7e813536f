#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

// A read-only web server on the loopback interface for the maker's plane
// icons (plane_icons.h), so that the icon links keep their paths and still
// show in Google Earth without an internet connection. It answers GET and
// HEAD for exactly those paths with the file of the icon folder, read afresh
// for each request; any other path is 404 and nothing else of the disk can
// be reached. One connection at a time, each with a bounded request and a
// deadline, on a thread of its own so that a busy user-interface thread
// never holds Google Earth up.
class IconServer {
 public:
  // Largest request head read; anything longer is refused.
  static constexpr std::size_t kMaxRequestBytes = 8192;
  // Largest icon file served.
  static constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

  // Listens on 127.0.0.1:`port` (0: a free port of the system's choosing).
  // Empty, with the reason in `error`, when the socket cannot be set up.
  static std::unique_ptr<IconServer> Start(std::filesystem::path folder, std::uint16_t port = 0,
                                           std::string* error = nullptr);
  ~IconServer();
  IconServer(const IconServer&) = delete;
  IconServer& operator=(const IconServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // "http://127.0.0.1:PORT", the base of the maker's icon links.
  std::u16string BaseUrl() const;

 private:
  IconServer(std::filesystem::path folder, int listener, int wakeRead, int wakeWrite,
             std::uint16_t port);
  void Serve(std::stop_token stop);
  void Answer(int connection);
  std::string Response(std::string_view requestHead) const;
  void Close();

  const std::filesystem::path folder_;
  int listener_;
  int wakeRead_;
  int wakeWrite_;
  const std::uint16_t port_;
  std::jthread thread_;
};

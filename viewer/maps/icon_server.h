#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/earth/loopback_http_server.h"

// A read-only web server on the loopback interface for the maker's plane
// icons (plane_icons.h), so that the icon links keep their paths and still
// show in Google Earth without an internet connection. It answers GET and
// HEAD for exactly those paths with the file of the icon folder, read afresh
// for each request; any other path is 404, and a link in the folder that
// leads out of it is not followed, so nothing else of the disk can be
// reached.
class IconServer {
 public:
  static constexpr std::size_t kMaxRequestBytes = LoopbackHttpServer::kMaxRequestBytes;
  // Largest icon file served.
  static constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

  // Listens on 127.0.0.1:`port` (0: a free port of the system's choosing).
  // Empty, with the reason in `error`, when the socket cannot be set up.
  static std::unique_ptr<IconServer> Start(std::filesystem::path folder, std::uint16_t port = 0,
                                           std::string* error = nullptr);

  std::uint16_t Port() const { return server_->Port(); }
  // "http://127.0.0.1:PORT", the base of the maker's icon links.
  std::u16string BaseUrl() const;

  // The bytes of icon `file` of `folder`; empty when it is missing, too
  // large, not a regular file or reached through a link out of the folder.
  static std::optional<std::string> ReadIcon(const std::filesystem::path& folder,
                                             const std::filesystem::path& file);

 private:
  explicit IconServer(std::unique_ptr<LoopbackHttpServer> server) : server_(std::move(server)) {}

  std::unique_ptr<LoopbackHttpServer> server_;
};

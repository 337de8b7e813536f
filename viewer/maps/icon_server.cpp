#include "viewer/maps/icon_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "viewer/maps/plane_icons.h"

namespace {

bool Within(const std::filesystem::path& path, const std::filesystem::path& folder) {
  const auto [end, _] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return end == folder.end();
}

}  // namespace

std::optional<std::string> IconServer::ReadIcon(const std::filesystem::path& folder,
                                                const std::filesystem::path& file) {
  std::error_code error;
  const auto root = std::filesystem::canonical(folder, error);
  if (error) return std::nullopt;
  const auto target = std::filesystem::canonical(folder / file, error);
  if (error || !Within(target, root)) return std::nullopt;
  // O_NOFOLLOW: a link put in place after the check is not followed either.
  const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> bytes;
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::uintmax_t>(info.st_size) <= kMaxFileBytes) {
    std::string data(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t got = ::read(fd, data.data() + done, data.size() - done);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    data.resize(done);
    bytes = std::move(data);
  }
  ::close(fd);
  return bytes;
}

std::unique_ptr<IconServer> IconServer::Start(std::filesystem::path folder, std::uint16_t port,
                                              std::string* error) {
  auto server = LoopbackHttpServer::Start(
      [folder = std::move(folder)](
          std::string_view path) -> std::optional<LoopbackHttpServer::Resource> {
        // Only the exact paths of the list: nothing in a request names a file.
        for (const PlaneIcon& icon : kPlaneIcons) {
          if (icon.file.empty() ||
              !std::equal(path.begin(), path.end(), icon.path.begin(), icon.path.end(),
                          [](char a, char16_t b) { return static_cast<char16_t>(a) == b; })) {
            continue;
          }
          auto bytes = ReadIcon(folder, std::filesystem::path(icon.file));
          if (!bytes) return std::nullopt;
          return LoopbackHttpServer::Resource{"image/png", std::move(*bytes), "max-age=3600"};
        }
        return std::nullopt;
      },
      port, error);
  if (!server) return nullptr;
  return std::unique_ptr<IconServer>(new IconServer(std::move(server)));
}

std::u16string IconServer::BaseUrl() const {
  const std::string text = server_->BaseUrl();
  return std::u16string(text.begin(), text.end());
}

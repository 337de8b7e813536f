#include "viewer/maps/icon_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "viewer/maps/plane_icons.h"

namespace {

using Clock = std::chrono::steady_clock;

// A slow or silent client must not keep the icons from everyone else.
constexpr auto kRequestDeadline = std::chrono::seconds(2);
constexpr int kSendTimeoutSeconds = 2;

// Owns one descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string Reason(std::string_view what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::optional<std::string> ReadIcon(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > IconServer::kMaxFileBytes) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Reply(std::string_view status, std::string_view contentType, std::string_view body,
                  bool withBody, std::string_view extraHeaders = {}) {
  std::string out = "HTTP/1.1 ";
  out += status;
  out += "\r\nContent-Type: ";
  out += contentType;
  out += "\r\nContent-Length: " + std::to_string(body.size());
  out += "\r\nCache-Control: max-age=3600\r\nConnection: close\r\n";
  out += extraHeaders;
  out += "\r\n";
  if (withBody) out += body;
  return out;
}

std::string Error(std::string_view status, bool withBody, std::string_view extraHeaders = {}) {
  return Reply(status, "text/plain; charset=utf-8", std::string(status) + "\n", withBody,
               extraHeaders);
}

// The end of the request head, or npos while it is incomplete.
std::size_t HeadEnd(std::string_view request) {
  const auto crlf = request.find("\r\n\r\n");
  return crlf != std::string_view::npos ? crlf : request.find("\n\n");
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace

std::unique_ptr<IconServer> IconServer::Start(std::filesystem::path folder, std::uint16_t port,
                                              std::string* error) {
  auto fail = [&](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return nullptr;
  };
  Descriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (listener.Get() < 0) return fail(Reason("socket"));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return fail(Reason("bind 127.0.0.1:" + std::to_string(port)));
  }
  if (::listen(listener.Get(), 16) != 0) return fail(Reason("listen"));
  socklen_t length = sizeof address;
  if (::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return fail(Reason("getsockname"));
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail(Reason("pipe"));
  Descriptor wakeRead(wake[0]);
  Descriptor wakeWrite(wake[1]);

  std::unique_ptr<IconServer> server(new IconServer(std::move(folder), listener.Release(),
                                                    wakeRead.Release(), wakeWrite.Release(),
                                                    ntohs(address.sin_port)));
  server->thread_ = std::jthread([s = server.get()](std::stop_token stop) { s->Serve(stop); });
  return server;
}

IconServer::IconServer(std::filesystem::path folder, int listener, int wakeRead, int wakeWrite,
                       std::uint16_t port)
    : folder_(std::move(folder)),
      listener_(listener),
      wakeRead_(wakeRead),
      wakeWrite_(wakeWrite),
      port_(port) {}

IconServer::~IconServer() {
  if (thread_.joinable()) {
    thread_.request_stop();
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
    thread_.join();
  }
  Close();
}

void IconServer::Close() {
  for (int fd : {listener_, wakeRead_, wakeWrite_}) ::close(fd);
}

std::u16string IconServer::BaseUrl() const {
  const std::string text = "http://127.0.0.1:" + std::to_string(port_);
  return std::u16string(text.begin(), text.end());
}

void IconServer::Serve(std::stop_token stop) {
  while (!stop.stop_requested()) {
    pollfd waits[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents != 0) return;
    const Descriptor connection(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.Get() >= 0) {
      Answer(connection.Get());
    } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // The waiting connection stays queued; without a pause poll would
      // report it again at once and spin.
      pollfd wake{wakeRead_, POLLIN, 0};
      ::poll(&wake, 1, 100);
    }
  }
}

void IconServer::Answer(int connection) {
  const timeval sendTimeout{kSendTimeoutSeconds, 0};
  ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);

  std::string request;
  const auto deadline = Clock::now() + kRequestDeadline;
  bool complete = false;
  while (request.size() <= kMaxRequestBytes) {
    if (HeadEnd(request) != std::string::npos) {
      complete = true;
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    pollfd waits[2] = {{connection, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    const int ready = ::poll(waits, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || waits[1].revents != 0) return;
    char buffer[2048];
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  const std::string reply =
      complete ? Response(request) : Error("431 Request Header Fields Too Large", true);
  SendAll(connection, reply);
  // Closing with unread bytes would reset the connection and could cost the
  // client our reply, so the rest is read (briefly) after our side is done.
  ::shutdown(connection, SHUT_WR);
  const auto drainUntil = Clock::now() + std::chrono::milliseconds(200);
  char sink[4096];
  while (Clock::now() < drainUntil) {
    pollfd wait{connection, POLLIN, 0};
    if (::poll(&wait, 1, 50) <= 0) continue;
    if (::recv(connection, sink, sizeof sink, 0) <= 0) break;
  }
}

std::string IconServer::Response(std::string_view head) const {
  const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
  const auto firstSpace = line.find(' ');
  const auto lastSpace = line.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
    return Error("400 Bad Request", true);
  }
  const std::string_view method = line.substr(0, firstSpace);
  std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  const std::string_view version = line.substr(lastSpace + 1);
  if (!version.starts_with("HTTP/1.") || target.find(' ') != std::string_view::npos) {
    return Error("400 Bad Request", true);
  }
  const bool headOnly = method == "HEAD";
  if (method != "GET" && !headOnly) {
    return Error("405 Method Not Allowed", true, "Allow: GET, HEAD\r\n");
  }
  target = target.substr(0, target.find('?'));
  // Only the exact paths of the list: nothing in a request names a file.
  for (const PlaneIcon& icon : kPlaneIcons) {
    if (icon.file.empty() || icon.path.size() != target.size() ||
        !std::equal(target.begin(), target.end(), icon.path.begin(),
                    [](char a, char16_t b) { return static_cast<char16_t>(a) == b; })) {
      continue;
    }
    if (const auto bytes = ReadIcon(folder_ / icon.file)) {
      return Reply("200 OK", "image/png", *bytes, !headOnly);
    }
    break;
  }
  return Error("404 Not Found", !headOnly);
}

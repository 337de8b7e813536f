#include "common/nmea_network.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// HOST:PORT, [V6]:PORT, HOST or PORT alone as `portOnly` says.
bool SplitEndpoint(const std::string& text, bool portOnly, std::string& host, std::string& port) {
  host.clear();
  port = NmeaNetwork::kDefaultPort;
  if (text.empty()) return false;
  const auto colon = text.rfind(':');
  const bool bracketed = text.front() == '[';
  if (bracketed) {
    const auto close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      port = text.substr(close + 2);
    }
  } else if (colon != std::string::npos && text.find(':') == colon) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  } else if (portOnly) {
    port = text;
  } else {
    host = text;
  }
  return !port.empty();
}

// Empty for a port number, else why it is none.
std::string PortProblem(const std::string& port) {
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
    return "port " + port + " is not a number from 1 to 65535";
  return {};
}

std::string Lookup(const std::string& host, const std::string& port, int type, bool passive,
                   addrinfo** found) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = type;
  hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
  const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, found);
  return rc == 0 ? std::string() : std::string(gai_strerror(rc));
}

}  // namespace

std::string NmeaNetwork::CheckUdp(const std::string& destination) {
  std::string host, port;
  if (!SplitEndpoint(destination, false, host, port) || host.empty())
    return destination + ": not HOST:PORT";
  if (std::string why = PortProblem(port); !why.empty()) return destination + ": " + why;
  return {};
}

std::string NmeaNetwork::CheckTcp(const std::string& endpoint) {
  std::string host, port;
  if (!SplitEndpoint(endpoint, true, host, port)) return endpoint + ": not [ADDRESS:]PORT";
  if (std::string why = PortProblem(port); !why.empty()) return endpoint + ": " + why;
  return {};
}

NmeaNetwork::~NmeaNetwork() {
  for (const Udp& u : udp_) ::close(u.fd);
  for (int fd : clients_) ::close(fd);
  if (listener_ >= 0) ::close(listener_);
}

std::string NmeaNetwork::AddUdp(const std::string& destination) {
  if (std::string why = CheckUdp(destination); !why.empty()) return why;
  std::string host, port;
  SplitEndpoint(destination, false, host, port);
  addrinfo* found = nullptr;
  if (std::string why = Lookup(host, port, SOCK_DGRAM, false, &found); !why.empty())
    return destination + ": " + why;
  const int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    const std::string why = std::strerror(errno);
    freeaddrinfo(found);
    return destination + ": " + why;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(found->ai_addr);
  udp_.push_back({fd, std::vector<unsigned char>(bytes, bytes + found->ai_addrlen)});
  freeaddrinfo(found);
  return {};
}

std::string NmeaNetwork::ListenTcp(const std::string& endpoint) {
  if (std::string why = CheckTcp(endpoint); !why.empty()) return why;
  std::string host, port;
  SplitEndpoint(endpoint, true, host, port);
  // Position reports are the pilot's to share: only this machine, unless an
  // address says otherwise.
  if (host.empty()) host = "127.0.0.1";
  addrinfo* found = nullptr;
  if (std::string why = Lookup(host, port, SOCK_STREAM, true, &found); !why.empty())
    return endpoint + ": " + why;
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int on = 1;
  std::string why;
  if (fd < 0) {
    why = std::strerror(errno);
  } else if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
             ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 8) != 0) {
    why = std::strerror(errno);
    ::close(fd);
  }
  freeaddrinfo(found);
  if (!why.empty()) return endpoint + ": " + why;
  listener_ = fd;
  return {};
}

void NmeaNetwork::Send(std::string_view sentences) {
  for (const Udp& u : udp_) {
    for (std::size_t start = 0; start < sentences.size();) {
      const auto end = sentences.find('\n', start);
      const std::size_t stop = end == std::string_view::npos ? sentences.size() : end + 1;
      // A datagram lost is a fix late, not an error.
      ::sendto(u.fd, sentences.data() + start, stop - start, MSG_NOSIGNAL | MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(u.address.data()),
               static_cast<socklen_t>(u.address.size()));
      start = stop;
    }
  }
  if (listener_ < 0) return;
  std::lock_guard guard(sending_);
  // Clients that came since the last fix; the listener never blocks.
  for (int fd; (fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
    clients_.push_back(fd);
  for (auto it = clients_.begin(); it != clients_.end();) {
    const ssize_t sent =
        ::send(*it, sentences.data(), sentences.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(sentences.size())) {
      ++it;
    } else {
      ::close(*it);
      it = clients_.erase(it);
    }
  }
}

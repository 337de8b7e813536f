#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

// A UDP socket on 127.0.0.1 at a free port, standing in for a moving map or
// antenna tracker that listens for NMEA datagrams.
class UdpListener {
 public:
  UdpListener() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port_ = ntohs(address.sin_port);
  }
  ~UdpListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;

  // 0 when the socket could not be set up.
  std::uint16_t Port() const { return port_; }
  std::string Target() const { return "127.0.0.1:" + std::to_string(port_); }

  // Every datagram received so far, without waiting for more.
  std::vector<std::string> Received() const {
    std::vector<std::string> datagrams;
    char buffer[2048];
    for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
      datagrams.emplace_back(buffer, static_cast<std::size_t>(n));
    return datagrams;
  }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

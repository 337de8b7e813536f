#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The NMEA sentences of each fix for moving maps and trackers on the
// network: as UDP datagrams (one per sentence) to one address, and to every
// client of a TCP server. Send never waits: it runs on the audio thread,
// where a datagram the kernel cannot take is a fix late, and a TCP client
// that cannot keep up is dropped rather than allowed to hold up the decode.
class NmeaNetwork {
 public:
  // "HOST[:PORT]" for UDP; "[ADDRESS:]PORT" for TCP, loopback unless an
  // address is given. Port 10110 when none is given.
  static constexpr const char* kDefaultPort = "10110";

  NmeaNetwork() = default;
  NmeaNetwork(const NmeaNetwork&) = delete;
  NmeaNetwork& operator=(const NmeaNetwork&) = delete;
  ~NmeaNetwork();

  // Empty when `destination` ("HOST[:PORT]") or `endpoint` ("[ADDRESS:]PORT")
  // reads as one, else why not, naming it. No name is looked up here.
  static std::string CheckUdp(const std::string& destination);
  static std::string CheckTcp(const std::string& endpoint);

  // Empty on success, else why not (naming the address).
  std::string AddUdp(const std::string& destination);
  std::string ListenTcp(const std::string& endpoint);

  // Sentences of one fix, each ending in CR LF. Safe from several threads
  // once set up, so that decoders in turn can share one TCP server.
  void Send(std::string_view sentences);

 private:
  struct Udp {
    int fd;
    std::vector<unsigned char> address;
  };
  std::vector<Udp> udp_;
  int listener_ = -1;
  std::mutex sending_;  // guards clients_
  std::vector<int> clients_;
};

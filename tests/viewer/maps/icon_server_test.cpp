#include "viewer/maps/icon_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "tests/common/scratch_folder.h"
#include "tests/loopback_http.h"
#include "viewer/maps/plane_icons.h"

namespace {

std::string Exchange(std::uint16_t port, std::string_view request) {
  const std::string reply = LoopbackExchange(port, request);
  return reply.empty() ? "no reply" : reply;
}

std::string Get(std::uint16_t port, std::string_view path, std::string_view method = "GET") {
  return Exchange(port, std::string(method) + " " + std::string(path) +
                            " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: test\r\n\r\n");
}

std::string StatusLine(const std::string& reply) { return reply.substr(0, reply.find("\r\n")); }
std::string Body(const std::string& reply) {
  const auto end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

std::string Path(const PlaneIcon& icon) { return std::string(icon.path.begin(), icon.path.end()); }

class IconServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Distinct bytes per icon, NULs included, so that a mix-up or a text
    // read would show.
    for (const PlaneIcon& icon : kPlaneIcons) {
      if (icon.file.empty()) continue;
      std::string bytes("\x89PNG\r\n\x1a\n\0", 9);
      bytes += icon.file;
      std::ofstream(scratch_ / icon.file, std::ios::binary) << bytes;
    }
    std::ofstream(scratch_ / "secret.txt") << "not for the network\n";
    std::string error;
    server_ = IconServer::Start(scratch_.path(), 0, &error);
    ASSERT_TRUE(server_) << error;
  }
  std::uint16_t Port() const { return server_->Port(); }

  ScratchFolder scratch_;
  std::unique_ptr<IconServer> server_;
};

TEST_F(IconServerTest, ServesEachMakerIconAtItsLinkPath) {
  EXPECT_EQ(
      server_->BaseUrl(), u"http://127.0.0.1:" + [&] {
        const std::string port = std::to_string(Port());
        return std::u16string(port.begin(), port.end());
      }());
  for (const PlaneIcon& icon : kPlaneIcons) {
    if (icon.file.empty()) continue;
    const std::string reply = Get(Port(), Path(icon));
    EXPECT_EQ(StatusLine(reply), "HTTP/1.1 200 OK") << Path(icon);
    EXPECT_EQ(Body(reply), ReadFile(scratch_ / icon.file)) << Path(icon);
    EXPECT_NE(reply.find("\r\nContent-Type: image/png\r\n"), std::string::npos);
    EXPECT_NE(reply.find("\r\nContent-Length: " + std::to_string(Body(reply).size()) + "\r\n"),
              std::string::npos);
  }
  // A query string does not change the file.
  EXPECT_EQ(Body(Get(Port(), "/kml/Zephyr.png?client=earth")),
            ReadFile(scratch_ / "Zephyr64x64.png"));
}

TEST_F(IconServerTest, HeadGivesTheHeadersWithoutTheFile) {
  const std::string reply = Get(Port(), "/kml/Cularis64x64.png", "HEAD");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(reply), "");
  const auto size = ReadFile(scratch_ / "Cularis64x64.png").size();
  EXPECT_NE(reply.find("\r\nContent-Length: " + std::to_string(size) + "\r\n"), std::string::npos);
  EXPECT_EQ(StatusLine(Get(Port(), "/nothing", "HEAD")), "HTTP/1.1 404 Not Found");
}

TEST_F(IconServerTest, NothingButTheListedPathsReachesTheDisk) {
  for (const char* path :
       {"/kml/secret.txt", "/secret.txt", "/kml/../secret.txt", "/kml/..%2fsecret.txt",
        "/kml/../kml/EasyStar64x64.png", "/EasyStar64x64.png", "/kml/EasyStar64x64.png/",
        "/kml/Zephyr64x64.png", "/kml/easystar64x64.png", "/mapfiles/kml/shapes/airports.png",
        "//kml/EasyStar64x64.png", "http://127.0.0.1/kml/EasyStar64x64.png"}) {
    const std::string reply = Get(Port(), path);
    EXPECT_EQ(StatusLine(reply), "HTTP/1.1 404 Not Found") << path;
    EXPECT_EQ(reply.find("not for the network"), std::string::npos) << path;
  }
  std::filesystem::remove(scratch_ / "FunJet64x64.png");
  EXPECT_EQ(StatusLine(Get(Port(), "/kml/FunJet64x64.png")), "HTTP/1.1 404 Not Found");
  // A link in the folder is followed only as far as the folder.
  std::filesystem::create_directories(scratch_ / "icons");
  std::filesystem::create_symlink("../secret.txt", scratch_ / "icons" / "FunJet64x64.png");
  std::filesystem::create_symlink("Zephyr64x64.png", scratch_ / "EasyStar64x64.png.new");
  std::filesystem::rename(scratch_ / "EasyStar64x64.png.new", scratch_ / "EasyStar64x64.png");
  const auto inner = IconServer::Start(scratch_ / "icons");
  ASSERT_TRUE(inner);
  EXPECT_EQ(StatusLine(Get(inner->Port(), "/kml/FunJet64x64.png")), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(Body(Get(Port(), "/kml/EasyStar64x64.png")), ReadFile(scratch_ / "Zephyr64x64.png"));
}

TEST_F(IconServerTest, RefusesOtherMethodsAndMalformedOrOversizedRequests) {
  const std::string post = Get(Port(), "/kml/EasyStar64x64.png", "POST");
  EXPECT_EQ(StatusLine(post), "HTTP/1.1 405 Method Not Allowed");
  EXPECT_NE(post.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos);
  EXPECT_EQ(StatusLine(Exchange(Port(), "GET\r\n\r\n")), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(StatusLine(Exchange(Port(), "GET /kml/Zephyr.png SPDY/3\r\n\r\n")),
            "HTTP/1.1 400 Bad Request");
  const std::string huge = "GET /kml/Zephyr.png HTTP/1.1\r\nX-Filler: " +
                           std::string(IconServer::kMaxRequestBytes, 'a') + "\r\n\r\n";
  EXPECT_EQ(StatusLine(Exchange(Port(), huge)), "HTTP/1.1 431 Request Header Fields Too Large");
  // Still serving afterwards.
  EXPECT_EQ(StatusLine(Get(Port(), "/kml/Zephyr.png")), "HTTP/1.1 200 OK");
}

TEST_F(IconServerTest, IdleClientsHoldNobodyUp) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> idle;
  for (int i = 0; i < 10; ++i) {
    idle.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(idle.back(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
              0);
  }
  ASSERT_EQ(::send(idle[0], "GET /kml/Zep", 12, MSG_NOSIGNAL), 12);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StatusLine(Get(Port(), "/kml/Zephyr.png")), "HTTP/1.1 200 OK");
  // Well below one connection's time limit.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  // The idle ones are cut off at their limit.
  char byte;
  EXPECT_LE(::recv(idle[0], &byte, 1, 0), 0);
  for (int fd : idle) ::close(fd);
}

TEST(IconServer, ServesTheViewersOwnIcons) {
  auto server =
      IconServer::Start(std::filesystem::path(VISTARO_SOURCE_DIR) / "resources" / "planes");
  ASSERT_TRUE(server);
  for (const PlaneIcon& icon : kPlaneIcons) {
    if (icon.file.empty()) continue;
    const std::string body = Body(Get(server->Port(), Path(icon)));
    EXPECT_EQ(body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << icon.file;
  }
}

TEST(IconServer, StartFailsWithAReasonWhenThePortIsTaken) {
  auto first = IconServer::Start(std::filesystem::temp_directory_path());
  ASSERT_TRUE(first);
  std::string error;
  EXPECT_FALSE(IconServer::Start(std::filesystem::temp_directory_path(), first->Port(), &error));
  EXPECT_NE(error.find("127.0.0.1:" + std::to_string(first->Port())), std::string::npos) << error;
}

}  // namespace

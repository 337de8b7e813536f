#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// A small read-only web server on 127.0.0.1 for what Google Earth and the
// live map fetch from us: plane icons, the camera document, the map's page. It answers GET and HEAD
// with what the handler gives for the request's path; everything else is refused. Connections are
// served side by side on a thread of its own, so that neither a busy user-interface thread nor an
// idle client holds a real request up; each connection has a bounded request head and a time limit.
// Whatever it serves lives only as long as this object, and so no longer than the process: a client
// that keeps reloading finds nothing once we are gone.
class LoopbackHttpServer {
 public:
  struct Resource {
    std::string contentType;
    std::string body;
    // "max-age=3600", "no-store", ...
    std::string cacheControl;
    // "403 Forbidden", "502 Bad Gateway", ...
    std::string status = "200 OK";
  };
  // Called on the server's thread with the path of the request (without the
  // query); empty for "404 Not Found".
  using Handler = std::function<std::optional<Resource>(std::string_view path)>;

  // A request as a deferring handler sees it; the views last as long as the
  // call.
  struct Request {
    std::string_view path;
    std::string_view query;  // after the '?', without it
    std::string_view head;   // the whole request head, header fields included
  };
  // Answers one request, once, from any thread; empty for "404 Not Found".
  // A reply that never comes leaves the connection to its time limit.
  using Respond = std::function<void(std::optional<Resource>)>;
  // Called on the server's thread; may keep `respond` and answer later, so
  // that a slow answer (a download) holds up no other connection.
  using DeferringHandler = std::function<void(const Request& request, Respond respond)>;

  // Largest request head read; anything longer is refused.
  static constexpr std::size_t kMaxRequestBytes = 8192;
  // A slow or silent client is cut off after this, from its connection on.
  static constexpr std::chrono::milliseconds kConnectionTimeLimit{2000};
  // The same once a deferring handler has kept the request to answer later.
  static constexpr std::chrono::milliseconds kDeferredTimeLimit{20000};
  // Connections open at once; further ones are closed at once.
  static constexpr int kMaxConnections = 64;

  // Listens on 127.0.0.1:`port` (0: a free port of the system's choosing).
  // Empty, with the reason in `error`, when the socket cannot be set up.
  static std::unique_ptr<LoopbackHttpServer> Start(Handler handler, std::uint16_t port = 0,
                                                   std::string* error = nullptr);
  static std::unique_ptr<LoopbackHttpServer> StartDeferring(DeferringHandler handler,
                                                            std::uint16_t port = 0,
                                                            std::string* error = nullptr);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // "http://127.0.0.1:PORT".
  std::string BaseUrl() const;

  // The reply to one complete request head; public so that the protocol can
  // be checked without a socket.
  static std::string Response(std::string_view requestHead, const Handler& handler);

 private:
  class Thread;
  LoopbackHttpServer(std::unique_ptr<Thread> thread, std::uint16_t port);

  std::unique_ptr<Thread> thread_;
  const std::uint16_t port_;
};

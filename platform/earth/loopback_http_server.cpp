#include "platform/earth/loopback_http_server.h"

#include <sys/socket.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <future>
#include <mutex>
#include <utility>
#include <variant>

namespace {

std::string Reply(std::string_view status, std::string_view contentType, std::string_view body,
                  bool withBody, std::string_view cacheControl,
                  std::string_view extraHeaders = {}) {
  std::string out = "HTTP/1.1 ";
  out += status;
  out += "\r\nContent-Type: ";
  out += contentType;
  out += "\r\nContent-Length: " + std::to_string(body.size());
  out += "\r\nCache-Control: ";
  out += cacheControl;
  out += "\r\nConnection: close\r\n";
  out += extraHeaders;
  out += "\r\n";
  if (withBody) out += body;
  return out;
}

std::string Error(std::string_view status, bool withBody, std::string_view extraHeaders = {}) {
  return Reply(status, "text/plain; charset=utf-8", std::string(status) + "\n", withBody,
               "no-store", extraHeaders);
}

// The end of the request head, or npos while it is incomplete.
std::size_t HeadEnd(std::string_view request) {
  const auto crlf = request.find("\r\n\r\n");
  return crlf != std::string_view::npos ? crlf : request.find("\n\n");
}

// The request line of a GET or HEAD, taken apart.
struct RequestLine {
  bool headOnly = false;
  std::string_view path;
  std::string_view query;
};

// The request line, or the error reply to it.
std::variant<RequestLine, std::string> ParseRequestLine(std::string_view head) {
  const std::string_view line = head.substr(0, head.find_first_of("\r\n"));
  const auto firstSpace = line.find(' ');
  const auto lastSpace = line.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
    return Error("400 Bad Request", true);
  }
  const std::string_view method = line.substr(0, firstSpace);
  const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  const std::string_view version = line.substr(lastSpace + 1);
  if (!version.starts_with("HTTP/1.") || target.find(' ') != std::string_view::npos) {
    return Error("400 Bad Request", true);
  }
  const bool headOnly = method == "HEAD";
  if (method != "GET" && !headOnly) {
    return Error("405 Method Not Allowed", true, "Allow: GET, HEAD\r\n");
  }
  const auto mark = target.find('?');
  return RequestLine{headOnly, target.substr(0, mark),
                     mark == std::string_view::npos ? std::string_view{} : target.substr(mark + 1)};
}

std::string Answer(const std::optional<LoopbackHttpServer::Resource>& resource, bool headOnly) {
  if (!resource) return Error("404 Not Found", !headOnly);
  return Reply(resource->status, resource->contentType, resource->body, !headOnly,
               resource->cacheControl);
}

// Carries replies that come from other threads to the server's thread, for
// as long as it runs.
class Dispatch {
 public:
  explicit Dispatch(QObject* context) : context_(context) {}
  void Post(std::function<void()> work) {
    const std::lock_guard lock(mutex_);
    if (context_ == nullptr) return;
    if (QThread::currentThread() == context_->thread()) {
      work();
    } else {
      QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
    }
  }
  void Stop() {
    const std::lock_guard lock(mutex_);
    context_ = nullptr;
  }

 private:
  std::mutex mutex_;
  QObject* context_;
};

// One connection: reads the head, answers once, then waits (within the time
// limit) for the client to close, because closing with unread bytes would
// reset the connection and could cost the client our reply.
void Serve(QTcpSocket* socket, const LoopbackHttpServer::DeferringHandler& handler, int& open,
           const std::shared_ptr<Dispatch>& dispatch) {
  ++open;
  auto request = std::make_shared<std::string>();
  auto answered = std::make_shared<bool>(false);
  auto replied = std::make_shared<bool>(false);
  // Set once the handler keeps the request: the longer limit then holds.
  auto deferred = std::make_shared<bool>(false);
  const auto cutOff = [socket] {
    socket->abort();
    socket->deleteLater();
  };
  QTimer::singleShot(LoopbackHttpServer::kConnectionTimeLimit, socket, [deferred, cutOff] {
    if (!*deferred) cutOff();
  });
  QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  QObject::connect(socket, &QObject::destroyed, [&open] { --open; });
  const auto write = [socket, replied](const std::string& reply) {
    *replied = true;
    socket->write(reply.data(), static_cast<qint64>(reply.size()));
  };
  QObject::connect(
      socket, &QTcpSocket::readyRead, socket,
      [socket, request, answered, replied, deferred, cutOff, write, &handler, dispatch] {
        const QByteArray bytes = socket->readAll();
        if (*answered) return;
        request->append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        const std::size_t headEnd = HeadEnd(*request);
        if (std::min(headEnd, request->size()) > LoopbackHttpServer::kMaxRequestBytes) {
          *answered = true;
          write(Error("431 Request Header Fields Too Large", true));
          return;
        }
        if (headEnd == std::string::npos) return;
        *answered = true;
        const std::string head = std::exchange(*request, {});
        const auto line = ParseRequestLine(head);
        if (const auto* error = std::get_if<std::string>(&line)) {
          write(*error);
          return;
        }
        const auto& [headOnly, path, query] = std::get<RequestLine>(line);
        QPointer<QTcpSocket> guard(socket);
        handler({path, query, head}, [dispatch, guard, write, headOnly](
                                         std::optional<LoopbackHttpServer::Resource> resource) {
          dispatch->Post([guard, write, reply = Answer(resource, headOnly)] {
            if (guard) write(reply);
          });
        });
        if (!*replied) {
          *deferred = true;
          QTimer::singleShot(LoopbackHttpServer::kDeferredTimeLimit, socket, cutOff);
        }
      });
  QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
    if (socket->bytesToWrite() == 0)
      ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
  });
}

}  // namespace

class LoopbackHttpServer::Thread final : public QThread {
 public:
  Thread(DeferringHandler handler, std::uint16_t port)
      : handler_(std::move(handler)), port_(port) {}
  ~Thread() override {
    quit();
    wait();
  }

  // The port listened on, or the reason why not.
  std::future<std::pair<std::uint16_t, std::string>> Listening() { return listening_.get_future(); }

 protected:
  void run() override {
    // Before the server, whose sockets count themselves out as they go.
    int open = 0;
    QObject context;
    const auto dispatch = std::make_shared<Dispatch>(&context);
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port_)) {
      listening_.set_value({0, "listen on 127.0.0.1:" + std::to_string(port_) + ": " +
                                   server.errorString().toStdString()});
      return;
    }
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
      while (QTcpSocket* socket = server.nextPendingConnection()) {
        if (open >= kMaxConnections) {
          socket->abort();
          socket->deleteLater();
          continue;
        }
        Serve(socket, handler_, open, dispatch);
      }
    });
    listening_.set_value({server.serverPort(), {}});
    exec();
    // Replies that come later have no socket to go to.
    dispatch->Stop();
  }

 private:
  const DeferringHandler handler_;
  const std::uint16_t port_;
  std::promise<std::pair<std::uint16_t, std::string>> listening_;
};

std::unique_ptr<LoopbackHttpServer> LoopbackHttpServer::Start(Handler handler, std::uint16_t port,
                                                              std::string* error) {
  return StartDeferring(
      [handler = std::move(handler)](const Request& request, const Respond& respond) {
        respond(handler(request.path));
      },
      port, error);
}

std::unique_ptr<LoopbackHttpServer> LoopbackHttpServer::StartDeferring(DeferringHandler handler,
                                                                       std::uint16_t port,
                                                                       std::string* error) {
  // Qt runs no event loop, in any thread, before the application object.
  if (QCoreApplication::instance() == nullptr) {
    if (error != nullptr) *error = "no Qt application object in this process";
    return nullptr;
  }
  auto thread = std::make_unique<Thread>(std::move(handler), port);
  auto listening = thread->Listening();
  thread->start();
  auto [bound, reason] = listening.get();
  if (bound == 0) {
    if (error != nullptr) *error = std::move(reason);
    return nullptr;
  }
  return std::unique_ptr<LoopbackHttpServer>(new LoopbackHttpServer(std::move(thread), bound));
}

LoopbackHttpServer::LoopbackHttpServer(std::unique_ptr<Thread> thread, std::uint16_t port)
    : thread_(std::move(thread)), port_(port) {}

LoopbackHttpServer::~LoopbackHttpServer() = default;

std::string LoopbackHttpServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackHttpServer::Response(std::string_view head, const Handler& handler) {
  const auto line = ParseRequestLine(head);
  if (const auto* error = std::get_if<std::string>(&line)) return *error;
  const RequestLine& request = std::get<RequestLine>(line);
  return Answer(handler(request.path), request.headOnly);
}

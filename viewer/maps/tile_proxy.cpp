#include "viewer/maps/tile_proxy.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/file/atomic_file.h"

namespace {

// One folder per tile source, so that changing the setting shows no tiles
// of the last one.
std::filesystem::path SourceFolder(const std::filesystem::path& cache, std::string_view url) {
  if (cache.empty()) return {};
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : url) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char name[17];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
  return cache / name;
}

std::string Replace(std::string text, std::string_view field, int value) {
  for (auto at = text.find(field); at != std::string::npos; at = text.find(field)) {
    text.replace(at, field.size(), std::to_string(value));
  }
  return text;
}

std::string ImageType(std::string_view bytes) {
  if (bytes.starts_with("\x89PNG")) return "image/png";
  if (bytes.starts_with("\xff\xd8")) return "image/jpeg";
  return "application/octet-stream";
}

bool LooksLikeImage(std::string_view bytes) {
  return ImageType(bytes) != "application/octet-stream";
}

LoopbackHttpServer::Resource Tile(std::string bytes) {
  auto type = ImageType(bytes);
  return {std::move(type), std::move(bytes), "max-age=86400"};
}

}  // namespace

TileProxy::TileProxy(std::string urlTemplate, std::filesystem::path cacheFolder,
                     std::string userAgent)
    : urlTemplate_(std::move(urlTemplate)),
      folder_(SourceFolder(cacheFolder, urlTemplate_)),
      userAgent_(std::move(userAgent)),
      network_(std::make_unique<QNetworkAccessManager>()) {
  network_->moveToThread(&thread_);
  thread_.start();
  // Off the user-interface thread: a big cache takes a while to walk.
  if (!cacheFolder.empty()) {
    QMetaObject::invokeMethod(
        network_.get(), [cache = std::move(cacheFolder)] { PruneCache(cache, kMaxCacheBytes); });
  }
}

std::uintmax_t TileProxy::PruneCache(const std::filesystem::path& cache, std::uintmax_t limit) {
  namespace fs = std::filesystem;
  struct Kept {
    fs::file_time_type written;
    std::uintmax_t size;
    fs::path path;
  };
  std::vector<Kept> tiles;
  std::uintmax_t total = 0;
  std::error_code walking;
  for (fs::recursive_directory_iterator
           it(cache, fs::directory_options::skip_permission_denied, walking),
       end;
       !walking && it != end; it.increment(walking)) {
    std::error_code error;
    // Never through a link: the cache may only lose its own files.
    if (it->symlink_status(error).type() != fs::file_type::regular ||
        it->path().extension() != ".tile")
      continue;
    const auto size = it->file_size(error);
    const auto written = error ? fs::file_time_type() : it->last_write_time(error);
    if (error) continue;
    tiles.push_back({written, size, it->path()});
    total += size;
  }
  if (total <= limit) return 0;
  std::sort(tiles.begin(), tiles.end(),
            [](const Kept& a, const Kept& b) { return a.written < b.written; });
  std::uintmax_t freed = 0;
  for (const Kept& tile : tiles) {
    if (total - freed <= limit / 4 * 3) break;
    std::error_code error;
    if (fs::remove(tile.path, error)) freed += tile.size;
  }
  return freed;
}

TileProxy::~TileProxy() {
  // A network object must be destroyed on its own thread: the thread deletes
  // it as it finishes, and joining the thread then orders that before
  // anything after.
  QNetworkAccessManager* const network = network_.release();
  QObject::connect(&thread_, &QThread::finished, network, &QObject::deleteLater);
  thread_.quit();
  thread_.wait();
}

bool TileProxy::Valid(int z, int x, int y) {
  if (z < 0 || z > 22) return false;
  const long long side = 1LL << z;
  return x >= 0 && y >= 0 && x < side && y < side;
}

void TileProxy::Fetch(int z, int x, int y, LoopbackHttpServer::Respond respond) {
  std::filesystem::path file;
  std::string stale;
  if (!folder_.empty()) {
    file = folder_ / std::to_string(z) / std::to_string(x) / (std::to_string(y) + ".tile");
    std::error_code error;
    const auto written = std::filesystem::last_write_time(file, error);
    if (!error) {
      std::ifstream in(file, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      stale = bytes.str();
      const auto age = std::filesystem::file_time_type::clock::now() - written;
      if (LooksLikeImage(stale) && age < kFreshFor) {
        respond(Tile(std::move(stale)));
        return;
      }
    }
  }
  std::string url = Replace(Replace(Replace(urlTemplate_, "{z}", z), "{x}", x), "{y}", y);
  QMetaObject::invokeMethod(
      network_.get(), [this, url = std::move(url), file = std::move(file), stale = std::move(stale),
                       respond = std::move(respond)]() mutable {
        Download(std::move(url), std::move(file), std::move(stale), std::move(respond));
      });
}

void TileProxy::Download(std::string url, std::filesystem::path file, std::string stale,
                         LoopbackHttpServer::Respond respond) {
  QNetworkRequest request(QUrl(QString::fromStdString(url)));
  request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromStdString(userAgent_));
  request.setTransferTimeout(static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kDownloadTimeLimit).count()));
  QNetworkReply* reply = network_->get(request);
  QObject::connect(reply, &QNetworkReply::finished, reply,
                   [reply, url = std::move(url), file = std::move(file), stale = std::move(stale),
                    respond = std::move(respond)]() mutable {
                     reply->deleteLater();
                     const int status =
                         reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                     const QByteArray body = reply->read(kMaxTileBytes + 1);
                     std::string bytes(body.constData(), static_cast<std::size_t>(body.size()));
                     if (reply->error() == QNetworkReply::NoError && status == 200 &&
                         bytes.size() <= kMaxTileBytes && LooksLikeImage(bytes)) {
                       if (!file.empty()) {
                         std::error_code ignored;
                         std::filesystem::create_directories(file.parent_path(), ignored);
                         // A full disk costs the cache, not the map.
                         ReplaceFileContents(file, bytes);
                       }
                       respond(Tile(std::move(bytes)));
                       return;
                     }
                     if (!stale.empty() && LooksLikeImage(stale)) {
                       respond(Tile(std::move(stale)));
                       return;
                     }
                     std::string reason = reply->error() != QNetworkReply::NoError
                                              ? reply->errorString().toStdString()
                                              : "HTTP " + std::to_string(status) + " or no image";
                     respond(LoopbackHttpServer::Resource{"text/plain; charset=utf-8",
                                                          "tile " + url + ": " + reason + "\n",
                                                          "no-store", "502 Bad Gateway"});
                   });
}

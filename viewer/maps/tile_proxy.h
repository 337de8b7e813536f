#pragma once

#include <QThread>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/earth/loopback_http_server.h"

class QNetworkAccessManager;

// Map tiles for the live map, fetched from the configured tile server and
// kept on disk, so that an area seen once at home shows again at the field
// without a network. Downloads run on a thread of their own and answer
// through the server's deferred reply, so a slow tile server holds up no
// other request.
class TileProxy {
 public:
  // A tile kept this long is served without asking the tile server again;
  // an older one still is when the server cannot be reached.
  static constexpr std::chrono::hours kFreshFor{24 * 7};
  static constexpr std::chrono::seconds kDownloadTimeLimit{15};
  static constexpr std::size_t kMaxTileBytes = 1 << 20;

  // `urlTemplate` holds {z}, {x} and {y}; `cacheFolder` may be empty (no
  // cache).
  TileProxy(std::string urlTemplate, std::filesystem::path cacheFolder, std::string userAgent);
  ~TileProxy();
  TileProxy(const TileProxy&) = delete;
  TileProxy& operator=(const TileProxy&) = delete;

  // A tile that exists at zoom `z`.
  static bool Valid(int z, int x, int y);
  // Answers with the tile: from the cache while fresh, else downloaded (and
  // kept), else the stale copy, else "502 Bad Gateway" with the reason.
  void Fetch(int z, int x, int y, LoopbackHttpServer::Respond respond);

  // The folder of this tile source's tiles within the cache.
  const std::filesystem::path& Folder() const { return folder_; }

 private:
  void Download(std::string url, std::filesystem::path file, std::string stale,
                LoopbackHttpServer::Respond respond);

  const std::string urlTemplate_;
  const std::filesystem::path folder_;
  const std::string userAgent_;
  QThread thread_;
  // Lives on thread_.
  std::unique_ptr<QNetworkAccessManager> network_;
};

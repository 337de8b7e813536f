#pragma once

#include <QThread>
#include <chrono>
#include <cstdint>
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
  // What the tiles of every tile server may take on disk together; beyond
  // it the longest-kept go when the viewer starts.
  static constexpr std::uintmax_t kMaxCacheBytes = std::uintmax_t{512} << 20;

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

  // Deletes the longest-kept tiles under `cache` until they take at most
  // three quarters of `limit`, if they take more than `limit`, so that a
  // cache near its limit is not pruned at every start. Only tile files are
  // touched. Returns the bytes freed.
  static std::uintmax_t PruneCache(const std::filesystem::path& cache, std::uintmax_t limit);

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

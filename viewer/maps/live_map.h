#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/telemetry_snapshot.h"
#include "platform/earth/loopback_http_server.h"

class TileProxy;

// The live map: a Leaflet page with the plane, its track and the launch
// site, served on the loopback interface under a path that carries a random
// token, so that other users of the machine cannot read the flight. The
// refresh cycle feeds it one fix at a time; the page polls state.json.
//
// Under http://127.0.0.1:PORT/map/<token>/:
//   (empty), index.html, map.js, ...  the page's files, read once at start
//   state.json?have=N&track=ID        the plane and the track after point N
//   icons/<file>                      the maker's plane icons
//   tiles/Z/X/Y.png                   map tiles, through the disk cache
// Anything else on the server, the token missing or wrong, is 403.
class LiveMap {
 public:
  struct Options {
    // The page's files (index.html, map.js, leaflet/...).
    std::filesystem::path webFolder{};
    // The maker's plane icons (plane_icons.h); empty: no icons.
    std::filesystem::path iconFolder{};
    // "https://tile.openstreetmap.org/{z}/{x}/{y}.png"; empty: no tiles,
    // only the grid.
    std::string tileUrl{};
    std::string tileAttribution{};
    // Where tiles are kept between runs; empty: not kept.
    std::filesystem::path tileCache{};
    // Sent with every tile request, as tile servers ask.
    std::string userAgent{};
    std::uint16_t port = 0;
  };

  // The colours the track can take: what the "Plot" list chose.
  enum class Colouring { kNone, kAltitude, kRssi, kLostPackets };

  // Serves the page at once. Empty, with the reason in `error`, when the
  // page's files cannot be read or the socket cannot be set up.
  static std::unique_ptr<LiveMap> Start(Options options, std::string* error = nullptr);
  ~LiveMap();
  LiveMap(const LiveMap&) = delete;
  LiveMap& operator=(const LiveMap&) = delete;

  // "http://127.0.0.1:PORT/map/<token>/".
  std::string PageUrl() const;
  std::uint16_t Port() const { return server_->Port(); }

  // One new fix (RSSI in dBm, as the refresh cycle holds it), with the
  // "Plot" list's entry (PlotSelection) and the plane icon's link as the
  // plane-icon list gives it. From the user-interface thread.
  void AddFix(const TelemetrySnapshot& sample, int plotSelection, std::u16string_view iconHref);
  // A new recording or capture: the track starts afresh.
  void BeginRecording();

  // What state.json answers to a page that holds `have` points of track
  // `trackId`.
  std::string StateJson(std::size_t have, std::uint64_t trackId) const;

  // The tile-URL setting of `settingsFile` (QSettings' default place when
  // empty) with OpenStreetMap's as the default, and its attribution.
  struct TileSource {
    std::string url;
    std::string attribution;
  };
  static TileSource TileSetting(const QString& settingsFile);
  // Where the tile cache lives for this user.
  static std::filesystem::path DefaultTileCache();
  // 32 hexadecimal digits from the system's random source.
  static std::string NewToken();

 private:
  struct TrackPoint {
    double latitude;
    double longitude;
    float altitude;
    std::int32_t rssi;
    std::int32_t lostPackets;
  };
  LiveMap(Options options, std::string token, std::map<std::string, std::string> files);
  void Handle(const LoopbackHttpServer::Request& request,
              const LoopbackHttpServer::Respond& respond);
  std::optional<LoopbackHttpServer::Resource> File(std::string_view name) const;

  const Options options_;
  const std::string token_;
  // Path under the token -> bytes.
  const std::map<std::string, std::string> files_;

  mutable std::mutex mutex_;
  std::vector<TrackPoint> track_;
  std::uint64_t trackId_ = 1;
  std::int32_t lastLinkQuality_ = 0;
  bool linkQualitySeen_ = false;
  bool haveFix_ = false;
  TelemetrySnapshot fix_;
  Colouring colouring_ = Colouring::kNone;
  std::string iconFile_;

  std::unique_ptr<TileProxy> tiles_;
  // Last: stopped first, so that no request finds the rest gone.
  std::unique_ptr<LoopbackHttpServer> server_;
};

#include "viewer/maps/live_map.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <cmath>
#include <fstream>
#include <future>
#include <variant>

#include "tests/common/scratch_folder.h"
#include "tests/fakes/scripted_decoder.h"
#include "tests/loopback_http.h"
#include "tests/viewer/telemetry/fake_refresh_host.h"
#include "tools/simulated_aircraft/synthetic_flight.h"
#include "viewer/maps/tile_proxy.h"
#include "viewer/telemetry/refresh_cycle.h"

namespace {

std::string Get(std::uint16_t port, const std::string& path) {
  return LoopbackExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}
std::string StatusLine(const std::string& reply) { return reply.substr(0, reply.find("\r\n")); }
std::string Body(const std::string& reply) {
  const auto end = reply.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 4);
}
// The path of the page's URL.
std::string PagePath(const LiveMap& map) {
  const std::string url = map.PageUrl();
  return url.substr(url.find('/', std::string_view("http://").size()));
}
QJsonObject State(const LiveMap& map, const std::string& query = {}) {
  const std::string reply = Get(map.Port(), PagePath(map) + "state.json" + query);
  EXPECT_EQ(StatusLine(reply), "HTTP/1.1 200 OK");
  return QJsonDocument::fromJson(QByteArray::fromStdString(Body(reply))).object();
}

LiveMap::Options PageOptions() {
  return {.webFolder = VISTARO_MAP_BUILD_DIR,
          .iconFolder = std::filesystem::path(VISTARO_SOURCE_DIR) / "resources" / "planes"};
}

// The fixes the refresh cycle hands on while a generated flight decodes.
std::vector<TelemetrySnapshot> DecodedFlight(double seconds) {
  ScriptedDecoder decoder;
  ScratchFolder folder;
  FakeRefreshHost host(folder.path());
  host.decoder = static_cast<IQuorvex*>(&decoder);
  RefreshCycle cycle(host);
  Sender send(decoder);
  for (const auto& frame : simulated_aircraft::SyntheticFlight(seconds)) {
    send.Add(simulated_aircraft::BuildFrame(frame.record));
    cycle.Tick();
  }
  return host.mapFixes;
}

TEST(LiveMap, ServesTheDecodedFlightBehindItsTokenAndSendsOnlyNewTrackPoints) {
  const std::vector<TelemetrySnapshot> fixes = DecodedFlight(20);
  ASSERT_GT(fixes.size(), 20u);
  std::string error;
  auto map = LiveMap::Start(PageOptions(), &error);
  ASSERT_TRUE(map) << error;
  const std::string page = PagePath(*map);

  const std::string html = Get(map->Port(), page);
  EXPECT_EQ(StatusLine(html), "HTTP/1.1 200 OK");
  EXPECT_NE(html.find("leaflet/leaflet.js"), std::string::npos);
  EXPECT_EQ(StatusLine(Get(map->Port(), page + "leaflet/leaflet.js")), "HTTP/1.1 200 OK");
  // Another user of the machine, without the token, learns nothing.
  for (const std::string& path :
       std::vector<std::string>{"/", "/map/", "/map/state.json", "/map/0123/state.json",
                                "/map/" + std::string(32, '0') + "/", "/kml/EasyStar64x64.png"}) {
    EXPECT_EQ(StatusLine(Get(map->Port(), path)), "HTTP/1.1 403 Forbidden") << path;
  }
  EXPECT_EQ(State(*map)["fix"].toBool(), false);

  for (std::size_t i = 0; i + 1 < fixes.size(); ++i) {
    map->AddFix(fixes[i], kPlotAltitude, u"http://127.0.0.1:1/kml/FunJet64x64.png");
  }
  QJsonObject state = State(*map);
  const TelemetrySnapshot& before = fixes[fixes.size() - 2];
  EXPECT_NEAR(state["plane"].toObject()["lat"].toDouble(), before.latitude, 1e-6);
  EXPECT_NEAR(state["plane"].toObject()["lon"].toDouble(), before.longitude, 1e-6);
  EXPECT_NEAR(state["launch"].toObject()["lat"].toDouble(),
              simulated_aircraft::kSyntheticHomeLatitude, 1e-5);
  EXPECT_NEAR(state["distance"].toDouble(), before.distance, 0.1);
  EXPECT_EQ(state["icon"].toString(), "icons/FunJet64x64.png");
  EXPECT_EQ(StatusLine(Get(map->Port(), page + "icons/FunJet64x64.png")), "HTTP/1.1 200 OK");
  EXPECT_EQ(state["plot"].toString(), "altitude");
  double lowest = 1e9;
  for (const auto& fix : fixes) lowest = std::min(lowest, double{fix.altitude});
  const double legendLow = state["legend"].toObject()["min"].toDouble();
  EXPECT_LE(legendLow, lowest);
  EXPECT_GT(legendLow, lowest - 10);
  const auto sent = static_cast<qsizetype>(fixes.size() - 1);
  EXPECT_EQ(state["trackTotal"].toInt(), sent);
  ASSERT_EQ(state["track"].toArray().size(), sent);

  // A page that holds the track gets only the point after it.
  map->AddFix(fixes.back(), kPlotAltitude, u"");
  const std::string have =
      "?have=" + std::to_string(sent) + "&track=" + std::to_string(state["trackId"].toInteger());
  state = State(*map, have);
  EXPECT_EQ(state["trackFrom"].toInt(), sent);
  ASSERT_EQ(state["track"].toArray().size(), 1);
  EXPECT_NEAR(state["track"].toArray()[0].toArray()[0].toDouble(), fixes.back().latitude, 1e-6);
  EXPECT_TRUE(state["icon"].isNull());

  // A new recording sends its own track from the start.
  map->BeginRecording();
  map->AddFix(fixes.front(), kPlotGroundTrack, u"");
  state = State(*map, have);
  EXPECT_EQ(state["trackFrom"].toInt(), 0);
  EXPECT_EQ(state["track"].toArray().size(), 1);
  EXPECT_FALSE(state.contains("legend"));
}

// A tile server on the loopback interface that holds its first answer until
// the test lets it go.
class FakeTileServer {
 public:
  static constexpr std::string_view kPng{"\x89PNG\r\n\x1a\n fake tile", 18};

  FakeTileServer()
      : server_(
            LoopbackHttpServer::StartDeferring([this](const LoopbackHttpServer::Request& request,
                                                      const LoopbackHttpServer::Respond& respond) {
              ++requests;
              // Tile servers turn away clients that do not say who they are.
              if (request.head.find("\r\nUser-Agent: VistaroPlayer/test\r\n") ==
                  std::string_view::npos) {
                return respond(LoopbackHttpServer::Resource{"text/plain", "", "", "403 Forbidden"});
              }
              if (request.path != "/t/3/4/2.png") return respond(std::nullopt);
              held_.set_value(respond);
            })) {}
  std::string Template() const { return server_->BaseUrl() + "/t/{z}/{x}/{y}.png"; }
  // False when the tile was never asked for as it should be.
  bool Release() {
    auto held = held_.get_future();
    if (held.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return false;
    held.get()(LoopbackHttpServer::Resource{"image/png", std::string(kPng), ""});
    return true;
  }
  void Stop() { server_.reset(); }

  std::atomic<int> requests{0};

 private:
  std::promise<LoopbackHttpServer::Respond> held_;
  std::unique_ptr<LoopbackHttpServer> server_;
};

TEST(LiveMap, TilesComeThroughTheProxyWithoutHoldingUpTheMapAndStayForOfflineUse) {
  ScratchFolder cache;
  FakeTileServer upstream;
  LiveMap::Options options = PageOptions();
  options.tileUrl = upstream.Template();
  options.tileCache = cache.path();
  options.userAgent = "VistaroPlayer/test";
  auto map = LiveMap::Start(options);
  ASSERT_TRUE(map);
  const std::string tiles = PagePath(*map) + "tiles/";

  auto slow = std::async(std::launch::async, [&] { return Get(map->Port(), tiles + "3/4/2.png"); });
  // While the tile server takes its time, the plane still moves.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(State(*map)["tiles"].toString(), "tiles/{z}/{x}/{y}.png");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(upstream.Release());
  const std::string tile = slow.get();
  EXPECT_EQ(StatusLine(tile), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(tile), FakeTileServer::kPng);
  EXPECT_EQ(StatusLine(Get(map->Port(), tiles + "3/8/2.png")), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(StatusLine(Get(map->Port(), tiles + "3/4/2.png/../x")), "HTTP/1.1 404 Not Found");

  // At the field: no tile server, the same tile from the disk.
  upstream.Stop();
  const int asked = upstream.requests;
  auto offline = LiveMap::Start(options);
  ASSERT_TRUE(offline);
  const std::string offlineTiles = PagePath(*offline) + "tiles/";
  EXPECT_EQ(Body(Get(offline->Port(), offlineTiles + "3/4/2.png")), FakeTileServer::kPng);
  EXPECT_EQ(upstream.requests, asked);
  const std::string missing = Get(offline->Port(), offlineTiles + "3/1/1.png");
  EXPECT_EQ(StatusLine(missing), "HTTP/1.1 502 Bad Gateway");
  EXPECT_NE(Body(missing).find("/t/3/1/1.png"), std::string::npos);
}

// A cache over its limit loses its longest-kept tiles first, and nothing
// that is not a tile.
TEST(LiveMap, TileCacheOverItsLimitDropsTheOldestTiles) {
  ScratchFolder cache;
  const auto now = std::filesystem::file_time_type::clock::now();
  std::vector<std::filesystem::path> tiles;
  for (int age = 4; age >= 1; --age) {
    const auto tile = cache.path() / "source" / "3" / std::to_string(age) / "2.tile";
    std::filesystem::create_directories(tile.parent_path());
    std::ofstream(tile, std::ios::binary) << std::string(1000, 't');
    std::filesystem::last_write_time(tile, now - std::chrono::hours(24 * age));
    tiles.push_back(tile);
  }
  std::ofstream(cache.path() / "notes.txt") << std::string(5000, 'n');
  EXPECT_EQ(TileProxy::PruneCache(cache.path(), 4000), 0u);
  EXPECT_EQ(TileProxy::PruneCache(cache.path(), 3000), 2000u);
  EXPECT_FALSE(std::filesystem::exists(tiles[0]));
  EXPECT_FALSE(std::filesystem::exists(tiles[1]));
  EXPECT_TRUE(std::filesystem::exists(tiles[2]));
  EXPECT_TRUE(std::filesystem::exists(tiles[3]));
  EXPECT_TRUE(std::filesystem::exists(cache.path() / "notes.txt"));
}

// The page in a real browser, driven by map_page_check.cjs: it loads, shows
// the plane where the decoder put it with the whole track, and moves the
// plane within a second of a new fix.
TEST(LiveMap, PageShowsThePlaneAndTrackInABrowser) {
  const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
  const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
  ASSERT_FALSE(node.isEmpty() || chromium.isEmpty())
      << "node and chromium are needed (scripts/install-deps.sh installs them)";
  const std::vector<TelemetrySnapshot> fixes = DecodedFlight(20);
  auto map = LiveMap::Start(PageOptions());
  ASSERT_TRUE(map);
  for (std::size_t i = 0; i + 1 < fixes.size(); ++i) map->AddFix(fixes[i], kPlotRssi, u"");
  const TelemetrySnapshot& last = fixes[fixes.size() - 2];

  QProcess check;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("NODE_PATH"), QStringLiteral(VISTARO_NODE_MODULES));
  check.setProcessEnvironment(environment);
  check.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  check.start(node, {QStringLiteral(MAP_PAGE_CHECK), chromium,
                     QString::fromStdString(map->PageUrl()), QString::number(last.latitude, 'f', 7),
                     QString::number(last.longitude, 'f', 7), QString::number(fixes.size() - 1)});
  ASSERT_TRUE(check.waitForStarted());
  QByteArray said;
  while (!said.contains("ready\n") && check.waitForReadyRead(30000)) said += check.readAll();
  ASSERT_TRUE(said.contains("ready\n")) << said.toStdString();

  TelemetrySnapshot moved = fixes.back();
  moved.latitude += 0.001f;
  map->AddFix(moved, kPlotRssi, u"");
  check.write(QStringLiteral("%1 %2\n")
                  .arg(moved.latitude, 0, 'f', 7)
                  .arg(moved.longitude, 0, 'f', 7)
                  .toUtf8());
  ASSERT_TRUE(check.waitForFinished(30000));
  said += check.readAll();
  EXPECT_EQ(check.exitCode(), 0) << said.toStdString();
}

}  // namespace

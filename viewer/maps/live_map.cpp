#include "viewer/maps/live_map.h"

#include <sys/random.h>

#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "viewer/maps/icon_server.h"
#include "viewer/maps/plane_icons.h"
#include "viewer/maps/tile_proxy.h"

namespace {

constexpr std::uintmax_t kMaxPageFileBytes = 4 << 20;
constexpr char kDefaultTileUrl[] = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
constexpr char kDefaultAttribution[] =
    "&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap</a> contributors";

std::string ContentType(const std::filesystem::path& file) {
  const std::string extension = file.extension().string();
  if (extension == ".html") return "text/html; charset=utf-8";
  if (extension == ".js") return "text/javascript; charset=utf-8";
  if (extension == ".css") return "text/css; charset=utf-8";
  if (extension == ".png") return "image/png";
  if (extension == ".svg") return "image/svg+xml";
  return "text/plain; charset=utf-8";
}

// Every regular file under `folder`, by its path relative to it.
std::map<std::string, std::string> ReadPage(const std::filesystem::path& folder,
                                            std::string* error) {
  std::map<std::string, std::string> files;
  std::error_code code;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, code);
       !code && it != std::filesystem::recursive_directory_iterator(); it.increment(code)) {
    if (!it->is_regular_file(code) || it->file_size(code) > kMaxPageFileBytes) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[it->path().lexically_relative(folder).generic_string()] = bytes.str();
  }
  if (code || !files.contains("index.html")) {
    *error = "the map page in " + folder.string() +
             " cannot be read: " + (code ? code.message() : std::string("index.html is missing"));
    return {};
  }
  return files;
}

LoopbackHttpServer::Resource Refused(std::string status, std::string text) {
  return {"text/plain; charset=utf-8", std::move(text) + "\n", "no-store", std::move(status)};
}

// Equal without telling, by its time, how much of the token was right.
bool SameToken(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= a[i] ^ b[i];
  return difference == 0;
}

// The value of `name` in a query such as "have=12&track=3".
std::optional<std::uint64_t> QueryNumber(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
    if (pair.size() <= name.size() || !pair.starts_with(name) || pair[name.size()] != '=') continue;
    std::uint64_t value = 0;
    const char* first = pair.data() + name.size() + 1;
    const char* last = pair.data() + pair.size();
    const auto [end, failure] = std::from_chars(first, last, value);
    if (failure == std::errc() && end == last) return value;
  }
  return std::nullopt;
}

// A string as a JSON literal.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Number(double value, int decimals) {
  // JSON has no NaN or infinity; a garbled value shows as zero.
  if (!std::isfinite(value)) value = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

std::string LiveMap::NewToken() {
  unsigned char bytes[16];
  std::size_t done = 0;
  while (done < sizeof bytes) {
    const ssize_t got = ::getrandom(bytes + done, sizeof bytes - done, 0);
    if (got > 0) done += static_cast<std::size_t>(got);
  }
  std::string token;
  for (const unsigned char byte : bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

LiveMap::TileSource LiveMap::TileSetting(const QString& settingsFile) {
  const auto settings =
      settingsFile.isEmpty()
          ? std::make_unique<QSettings>(QStringLiteral("Aviquent"), QStringLiteral("VistaroPlayer"))
          : std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
  const QString url = settings->value(QStringLiteral("Map/TileUrl")).toString();
  if (url.isEmpty()) return {kDefaultTileUrl, kDefaultAttribution};
  // Another server's tiles need its own credit, which only the pilot knows.
  return {url.toStdString(),
          settings->value(QStringLiteral("Map/TileAttribution")).toString().toStdString()};
}

std::filesystem::path LiveMap::DefaultTileCache() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (folder.isEmpty()) return {};
  return std::filesystem::path(folder.toStdString()) / "tiles";
}

std::unique_ptr<LiveMap> LiveMap::Start(Options options, std::string* error) {
  std::string reason;
  auto files = ReadPage(options.webFolder, &reason);
  if (files.empty()) {
    if (error != nullptr) *error = std::move(reason);
    return nullptr;
  }
  std::unique_ptr<LiveMap> map(new LiveMap(std::move(options), NewToken(), std::move(files)));
  map->server_ = LoopbackHttpServer::StartDeferring(
      [raw = map.get()](const LoopbackHttpServer::Request& request,
                        const LoopbackHttpServer::Respond& respond) {
        raw->Handle(request, respond);
      },
      map->options_.port, error);
  if (!map->server_) return nullptr;
  return map;
}

LiveMap::LiveMap(Options options, std::string token, std::map<std::string, std::string> files)
    : options_(std::move(options)), token_(std::move(token)), files_(std::move(files)) {
  if (!options_.tileUrl.empty()) {
    tiles_ = std::make_unique<TileProxy>(options_.tileUrl, options_.tileCache, options_.userAgent);
  }
}

LiveMap::~LiveMap() = default;

std::string LiveMap::PageUrl() const { return server_->BaseUrl() + "/map/" + token_ + "/"; }

void LiveMap::AddFix(const TelemetrySnapshot& sample, int plotSelection,
                     std::u16string_view iconHref) {
  std::string iconFile;
  for (const PlaneIcon& icon : kPlaneIcons) {
    if (iconHref.ends_with(icon.path)) iconFile = icon.file;
  }
  const std::lock_guard lock(mutex_);
  // As the "Lost Packets" plot counts them: the counter wraps at 255. Until
  // the first uplink frame the count is zero, and the jump to the first
  // real count is no loss.
  std::int32_t lost = sample.linkQuality - lastLinkQuality_;
  if (sample.linkQuality < lastLinkQuality_) lost += 255;
  if (!linkQualitySeen_) lost = 0;
  linkQualitySeen_ = linkQualitySeen_ || sample.linkQuality != 0;
  lastLinkQuality_ = sample.linkQuality;
  haveFix_ = true;
  fix_ = sample;
  iconFile_ = std::move(iconFile);
  // The "Plot" list: 1 Altitude, 2 RSSI, 3 Lost Packets; the others give
  // the track no colour.
  colouring_ = plotSelection == 1   ? Colouring::kAltitude
               : plotSelection == 2 ? Colouring::kRssi
               : plotSelection == 3 ? Colouring::kLostPackets
                                    : Colouring::kNone;
  track_.push_back({sample.latitude, sample.longitude, sample.altitude, sample.rssiValue1, lost});
}

void LiveMap::BeginRecording() {
  const std::lock_guard lock(mutex_);
  track_.clear();
  ++trackId_;
  haveFix_ = false;
  lastLinkQuality_ = 0;
  linkQualitySeen_ = false;
}

std::string LiveMap::StateJson(std::size_t have, std::uint64_t trackId) const {
  const std::lock_guard lock(mutex_);
  std::string json = "{\"fix\":";
  json += haveFix_ ? "true" : "false";
  if (haveFix_) {
    json += ",\"plane\":{\"lat\":" + Number(fix_.latitude, 7) +
            ",\"lon\":" + Number(fix_.longitude, 7) + ",\"heading\":" +
            Number(std::fmod(std::fmod(double{fix_.heading}, 360.0) + 360.0, 360.0), 1) +
            ",\"altitude\":" + Number(fix_.altitude, 1) + "}";
    const bool launchKnown = fix_.launchLatitude != 0.0f || fix_.launchLongitude != 0.0f;
    if (launchKnown) {
      json += ",\"launch\":{\"lat\":" + Number(fix_.launchLatitude, 7) +
              ",\"lon\":" + Number(fix_.launchLongitude, 7) +
              "},\"distance\":" + Number(fix_.distance, 1);
    }
  }
  json += ",\"icon\":";
  json += iconFile_.empty() ? "null" : Quoted("icons/" + iconFile_);

  static constexpr const char* kPlotNames[] = {"none", "altitude", "rssi", "lostPackets"};
  static constexpr const char* kUnits[] = {"", "m", "dBm", "packets"};
  const auto kind = static_cast<std::size_t>(colouring_);
  json += ",\"plot\":" + Quoted(kPlotNames[kind]);
  if (colouring_ != Colouring::kNone && !track_.empty()) {
    const auto value = [this](const TrackPoint& point) -> double {
      switch (colouring_) {
        case Colouring::kAltitude:
          return point.altitude;
        case Colouring::kRssi:
          return point.rssi;
        default:
          return point.lostPackets;
      }
    };
    double low = value(track_.front());
    double high = low;
    for (const TrackPoint& point : track_) {
      low = std::min(low, value(point));
      high = std::max(high, value(point));
    }
    // Whole steps, so that the range, and with it the colour of the whole
    // track, changes only now and then as the flight goes on.
    static constexpr double kSteps[] = {1, 10, 5, 1};
    const double step = kSteps[static_cast<std::size_t>(colouring_)];
    low = std::floor(low / step) * step;
    high = std::max(std::ceil(high / step) * step, low + step);
    json += ",\"legend\":{\"min\":" + Number(low, 0) + ",\"max\":" + Number(high, 0) +
            ",\"unit\":" + Quoted(kUnits[kind]) + "}";
  }

  // A page of another recording, or one that holds more than there is,
  // starts over.
  const std::size_t from = trackId == trackId_ && have <= track_.size() ? have : 0;
  json += ",\"trackId\":" + std::to_string(trackId_) + ",\"trackFrom\":" + std::to_string(from) +
          ",\"trackTotal\":" + std::to_string(track_.size()) + ",\"track\":[";
  for (std::size_t i = from; i < track_.size(); ++i) {
    const TrackPoint& point = track_[i];
    if (i != from) json += ',';
    json += "[" + Number(point.latitude, 7) + "," + Number(point.longitude, 7) + "," +
            Number(point.altitude, 1) + "," + std::to_string(point.rssi) + "," +
            std::to_string(point.lostPackets) + "]";
  }
  json += "],\"tiles\":";
  json += tiles_ ? "\"tiles/{z}/{x}/{y}.png\"" : "null";
  json += ",\"attribution\":" + Quoted(options_.tileAttribution) + "}";
  return json;
}

std::optional<LoopbackHttpServer::Resource> LiveMap::File(std::string_view name) const {
  const auto found = files_.find(std::string(name.empty() ? "index.html" : name));
  if (found == files_.end()) return std::nullopt;
  // The page changes only with the program.
  return LoopbackHttpServer::Resource{ContentType(found->first), found->second, "no-cache"};
}

void LiveMap::Handle(const LoopbackHttpServer::Request& request,
                     const LoopbackHttpServer::Respond& respond) {
  static constexpr std::string_view kPrefix = "/map/";
  std::string_view path = request.path;
  const std::size_t tokenEnd = path.find('/', kPrefix.size());
  if (!path.starts_with(kPrefix) || tokenEnd == std::string_view::npos ||
      !SameToken(path.substr(kPrefix.size(), tokenEnd - kPrefix.size()), token_)) {
    respond(Refused("403 Forbidden", "403 Forbidden"));
    return;
  }
  path.remove_prefix(tokenEnd + 1);

  if (path == "state.json") {
    const std::string json = StateJson(QueryNumber(request.query, "have").value_or(0),
                                       QueryNumber(request.query, "track").value_or(0));
    respond(LoopbackHttpServer::Resource{"application/json", json, "no-store"});
    return;
  }
  if (path.starts_with("icons/")) {
    path.remove_prefix(6);
    for (const PlaneIcon& icon : kPlaneIcons) {
      if (icon.file.empty() || icon.file != path || options_.iconFolder.empty()) continue;
      if (auto bytes = IconServer::ReadIcon(options_.iconFolder, std::filesystem::path(path))) {
        respond(LoopbackHttpServer::Resource{"image/png", std::move(*bytes), "max-age=3600"});
        return;
      }
    }
    respond(std::nullopt);
    return;
  }
  if (path.starts_with("tiles/")) {
    path.remove_prefix(6);
    int z = -1, x = -1, y = -1;
    char tail[8] = {};
    const std::string tile(path);
    if (!tiles_ || std::sscanf(tile.c_str(), "%d/%d/%d.%4s", &z, &x, &y, tail) != 4 ||
        std::string_view(tail) != "png" || !TileProxy::Valid(z, x, y)) {
      respond(std::nullopt);
      return;
    }
    tiles_->Fetch(z, x, y, respond);
    return;
  }
  respond(File(path));
}

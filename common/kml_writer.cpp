#include "common/kml_writer.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <utility>

#include "platform/com/utf.h"
#include "platform/file/atomic_file.h"
#include "platform/file/xml_text.h"

const char16_t KmlWriter::kDefaultIconHref[] =
    u"http://maps.google.com/mapfiles/kml/pal4/icon25.png";

namespace {

// The exact product of a float and 600000 or 100 fits a double, so the only
// rounding is the truncation itself.
std::int32_t SaturatingTruncate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483649.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

// printf("%f") without the locale: Google Earth needs a full stop whatever
// LC_NUMERIC says. to_chars gives the same correctly rounded digits.
void AppendFixed(std::string& out, double value) {
  // Room for the largest double in fixed notation with six decimals.
  char buffer[std::numeric_limits<double>::max_exponent10 + 32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  out.append(buffer, result.ptr);
}

std::string FormatCoordinates(const TrackPoint& point) {
  std::string text;
  text.reserve(40);
  AppendFixed(text, point.longitude / 600000.0);
  text += ',';
  AppendFixed(text, point.latitude / 600000.0);
  text += ',';
  AppendFixed(text, point.altitude / 100.0);
  return text;
}

// The three icon styles differ in colour, line style and, for the sake of
// files that must stay byte for byte what earlier versions wrote, in
// indentation; everything else is this one block.
struct IconStyleText {
  std::string_view id;
  std::string_view color;  // the whole <color> line, or empty
  std::string_view scaleIndent;
  std::string_view hrefIndent;
  std::string_view iconEndIndent;
  std::string_view lineStyle;  // the whole <LineStyle> line, or empty
};

void AppendIconStyle(std::string& out, const IconStyleText& style, std::string_view scale,
                     std::string_view heading, std::string_view href) {
  out += "<Style id=\"";
  out += style.id;
  out += "\">\n\t\t<IconStyle>\n";
  out += style.color;
  out += style.scaleIndent;
  out += "<scale>";
  out += scale;
  out += "</scale>\n         <heading>";
  out += heading;
  out += "</heading>\n\t\t\t<Icon>\n";
  out += style.hrefIndent;
  out += "<href>";
  out += href;
  out += "</href>\n";
  out += style.iconEndIndent;
  out += "</Icon>\n\t\t</IconStyle>\n";
  out += style.lineStyle;
  out += "</Style>\n";
}

constexpr IconStyleText kPlaneIconStyle{"PlaneIcon", "", "         ", "        ", "      ", ""};
constexpr IconStyleText kRedPushpinStyle{
    "RedPushpin", "\t\t\t<color>ff0000aa</color>\n",
    "         ",  "        ",
    "      ",     "\t\t<LineStyle><color>49ffffff</color></LineStyle>\n"};
constexpr IconStyleText kGreenPushpinStyle{
    "GreenPushpin", "\t\t\t<color>ff00aa00</color>\n",
    "\t\t\t",       "            ",
    "         ",    "     <LineStyle><color>49ffffff</color></LineStyle>\n"};

std::string EscapedUtf8(std::u16string_view text) {
  std::string escaped;
  AppendXmlEscaped(escaped, Utf16ToUtf8(text));
  return escaped;
}

constexpr std::string_view kDocumentStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
    "<Document>\n"
    "<name>";
constexpr std::string_view kDocumentEnd =
    "\t</Folder>\n"
    "</Document>\n"
    "</kml>\n";

// Upper bounds of the fixed text around the points and of the fixed text of
// one point, so that a document is built without reallocating.
constexpr std::size_t kFrameBytes = 1200;
constexpr std::size_t kPositionPointBytes = 176;
constexpr std::size_t kTrackPointBytes = 256;

std::filesystem::path NativePath(std::u16string_view path) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
  return std::filesystem::path(Utf16ToUtf8(path));
#endif
}

HRESULT WriteDocument(std::u16string_view path, const std::string& document) {
#ifdef _WIN32
  // Text-mode files on this platform end their lines with CR LF.
  std::string text;
  text.reserve(document.size() + document.size() / 16);
  for (char c : document) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return ReplaceFileContents(NativePath(path), text) ? S_OK : HresultFromErrno(errno);
#else
  return ReplaceFileContents(NativePath(path), document) ? S_OK : HresultFromErrno(errno);
#endif
}

}  // namespace

KmlWriter::KmlWriter() : iconHref_(kDefaultIconHref), iconHrefText_(EscapedUtf8(iconHref_)) {}

void KmlWriter::SetIconStyle(std::u16string href, float scale, float heading) {
  iconHrefText_ = EscapedUtf8(href);
  iconHref_ = std::move(href);
  iconScale_ = scale;
  iconHeading_ = heading;
}

void KmlWriter::AddPoint(float longitude, float latitude, float altitude,
                         std::u16string description) {
  TrackPoint point;
  point.latitude = SaturatingTruncate(static_cast<double>(latitude) * 600000.0);
  point.longitude = SaturatingTruncate(static_cast<double>(longitude) * 600000.0);
  point.altitude = SaturatingTruncate(static_cast<double>(altitude) * 100.0);
  point.description = std::move(description);
  AddPoint(std::move(point));
}

void KmlWriter::AddPoint(TrackPoint point) {
  Entry entry;
  entry.coordinates = FormatCoordinates(point);
  entry.description = EscapedUtf8(point.description);
  entry.point = std::move(point);
  entries_.push_back(std::move(entry));
  coordinateBytes_ += entries_.back().coordinates.size();
  descriptionBytes_ += entries_.back().description.size();
}

void KmlWriter::Clear() {
  entries_.clear();
  coordinateBytes_ = 0;
  descriptionBytes_ = 0;
}

std::size_t KmlWriter::PointCount() const { return entries_.size(); }

const TrackPoint& KmlWriter::PointAt(std::size_t i) const { return entries_.at(i).point; }

std::string KmlWriter::PositionDocument(std::u16string_view name, bool absoluteAltitude) const {
  const std::string nameText = EscapedUtf8(name);
  std::string out;
  out.reserve(kFrameBytes + nameText.size() + iconHrefText_.size() + coordinateBytes_ +
              entries_.size() * kPositionPointBytes);

  out += kDocumentStart;
  out += nameText;
  out += "</name>\n\n";
  std::string scale;
  AppendFixed(scale, iconScale_);
  std::string heading;
  AppendFixed(heading, iconHeading_);
  AppendIconStyle(out, kPlaneIconStyle, scale, heading, iconHrefText_);
  out +=
      "\t<Folder>\n"
      "\t\t<name>PlaneIcon</name>\n"
      "\t\t<open>1</open>\n";

  const std::string_view placemarkStart =
      absoluteAltitude ? "\t\t<Placemark>\n"
                         "\t\t\t<styleUrl>#PlaneIcon</styleUrl>\n"
                         "\t\t\t<Point>\n"
                         "\t\t\t    <altitudeMode>absolute</altitudeMode>\n"
                         "\t\t\t\t<coordinates>"
                       : "\t\t<Placemark>\n"
                         "\t\t\t<styleUrl>#PlaneIcon</styleUrl>\n"
                         "\t\t\t<Point>\n"
                         "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
                         "\t\t\t\t<coordinates>";
  for (const Entry& entry : entries_) {
    out += placemarkStart;
    out += entry.coordinates;
    out +=
        "</coordinates>\n"
        "\t\t\t</Point>\n"
        "\t\t</Placemark>\n";
  }
  out += kDocumentEnd;
  return out;
}

std::string KmlWriter::TrackDocument(std::u16string_view name, bool relativeAltitude,
                                     bool extrude) const {
  const std::string nameText = EscapedUtf8(name);
  std::string out;
  out.reserve(kFrameBytes + nameText.size() + 2 * iconHrefText_.size() + 2 * coordinateBytes_ +
              descriptionBytes_ + entries_.size() * kTrackPointBytes);

  std::string scale;
  AppendFixed(scale, iconScale_);
  std::string heading;
  AppendFixed(heading, iconHeading_);

  out += kDocumentStart;
  out += nameText;
  out += "</name>\n\n";
  AppendIconStyle(out, kRedPushpinStyle, scale, heading, iconHrefText_);
  AppendIconStyle(out, kGreenPushpinStyle, scale, heading, iconHrefText_);
  out +=
      "\t<Folder>\n"
      "\t\t<name>LastRoute</name>\n"
      "\t\t<open>1</open>\n"
      "\t\t<Placemark>\n"
      "\t\t\t<name>Flight Path</name>\n"
      "\t\t\t<styleUrl>#RedPushpin</styleUrl>\n"
      "\t\t\t<LineString>\n"
      "\t\t\t\t<tessellate>1</tessellate>\n";
  out += relativeAltitude ? "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
                          : "\t\t\t    <altitudeMode>absolute</altitudeMode>\n";
  out += "\t\t\t\t    <coordinates>\n";
  for (const Entry& entry : entries_) {
    out += entry.coordinates;
    out += ' ';
  }
  out +=
      "\n"
      "\t\t\t\t    </coordinates>\n"
      "\t\t\t</LineString>\n"
      "\t\t</Placemark>\n";

  // The schema's order: extrude, then altitudeMode, then coordinates.
  const std::string_view pointStart =
      relativeAltitude ? (extrude ? "\t\t\t<Point>\n"
                                    "\t\t\t    <extrude>1</extrude>\n"
                                    "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
                                    "\t\t\t\t<coordinates>"
                                  : "\t\t\t<Point>\n"
                                    "\t\t\t    <altitudeMode>relativeToGround</altitudeMode>\n"
                                    "\t\t\t\t<coordinates>")
                       : (extrude ? "\t\t\t<Point>\n"
                                    "\t\t\t    <extrude>1</extrude>\n"
                                    "\t\t\t    <altitudeMode>absolute</altitudeMode>\n"
                                    "\t\t\t\t<coordinates>"
                                  : "\t\t\t<Point>\n"
                                    "\t\t\t    <altitudeMode>absolute</altitudeMode>\n"
                                    "\t\t\t\t<coordinates>");
  std::int32_t previousAltitude = 0;
  for (const Entry& entry : entries_) {
    // A feature's description comes before its style in the schema.
    out += "\t\t<Placemark>\n";
    if (!entry.description.empty()) {
      out += "\t\t\t<description>";
      out += entry.description;
      out += "</description>\n";
    }
    out += entry.point.altitude > previousAltitude ? "\t\t\t<styleUrl>#GreenPushpin</styleUrl>\n"
                                                   : "\t\t\t<styleUrl>#RedPushpin</styleUrl>\n";
    out += pointStart;
    out += entry.coordinates;
    out +=
        "</coordinates>\n"
        "\t\t\t</Point>\n"
        "\t\t</Placemark>\n";
    previousAltitude = entry.point.altitude;
  }
  out += kDocumentEnd;
  return out;
}

std::string KmlWriter::NetworkLinkDocument(std::u16string_view href, std::u16string_view name,
                                           float refreshInterval) const {
  std::string out;
  out.reserve(400 + 6 * (href.size() + name.size()));
  out +=
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
      "<NetworkLink>\n"
      "\t<name>";
  AppendXmlEscaped(out, Utf16ToUtf8(name));
  out +=
      "</name>\n"
      "\t<Link>\n"
      "\t\t<href>";
  AppendXmlEscaped(out, Utf16ToUtf8(href));
  out +=
      "</href>\n"
      "\t\t<refreshMode>onInterval</refreshMode>\n"
      "\t\t<refreshInterval>";
  AppendFixed(out, refreshInterval);
  out +=
      "</refreshInterval>\n"
      "\t</Link>\n"
      "</NetworkLink>\n"
      "</kml>\n";
  return out;
}

HRESULT KmlWriter::WritePositionFile(std::u16string_view path, std::u16string_view name,
                                     bool absoluteAltitude) const {
  return WriteDocument(path, PositionDocument(name, absoluteAltitude));
}

HRESULT KmlWriter::WriteTrackFile(std::u16string_view path, std::u16string_view name,
                                  bool relativeAltitude, bool extrude) const {
  return WriteDocument(path, TrackDocument(name, relativeAltitude, extrude));
}

HRESULT KmlWriter::WriteDocumentFile(std::u16string_view path, const std::string& document) {
  return WriteDocument(path, document);
}

HRESULT KmlWriter::WriteNetworkLink(std::u16string_view path, std::u16string_view href,
                                    std::u16string_view name, float refreshInterval) const {
  return WriteDocument(path, NetworkLinkDocument(href, name, refreshInterval));
}

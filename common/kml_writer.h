#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"

struct TrackPoint {
  std::int32_t latitude = 0;   // 1/600000 degree
  std::int32_t longitude = 0;  // 1/600000 degree
  std::int32_t altitude = 0;   // centimetres
  std::u16string description;
};

// Writes the KML documents Google Earth reloads while telemetry arrives. The
// viewer rewrites the whole track on every sample, so everything a point
// contributes to a document is formatted once, when the point is added, and
// the documents are assembled from that text without any number formatting.
class KmlWriter {
 public:
  KmlWriter();
  KmlWriter(const KmlWriter&) = delete;
  KmlWriter& operator=(const KmlWriter&) = delete;

  void SetIconStyle(std::u16string href, float scale, float heading);
  // Degrees, degrees, metres. Out-of-range values saturate and NaN becomes 0,
  // so garbage telemetry can never make the conversion undefined.
  void AddPoint(float longitude, float latitude, float altitude, std::u16string description);
  void AddPoint(TrackPoint point);
  void Clear();  // the icon style stays
  std::size_t PointCount() const;
  const TrackPoint& PointAt(std::size_t i) const;

  // UTF-8 with "\n" line ends.
  std::string PositionDocument(std::u16string_view name, bool absoluteAltitude) const;
  std::string TrackDocument(std::u16string_view name, bool relativeAltitude, bool extrude) const;
  std::string NetworkLinkDocument(std::u16string_view href, std::u16string_view name,
                                  float refreshInterval) const;

  // Each write replaces the file in one step: a reader never sees a partial
  // document. When the file cannot be written, the system's reason as
  // HresultFromErrno gives it; nothing is left behind.
  HRESULT WritePositionFile(std::u16string_view path, std::u16string_view name,
                            bool absoluteAltitude) const;
  HRESULT WriteTrackFile(std::u16string_view path, std::u16string_view name, bool relativeAltitude,
                         bool extrude) const;
  HRESULT WriteNetworkLink(std::u16string_view path, std::u16string_view href,
                           std::u16string_view name, float refreshInterval) const;
  // A document assembled earlier, written the same way (for writers that
  // copy the document under a lock and write it after).
  static HRESULT WriteDocumentFile(std::u16string_view path, const std::string& document);

  static const char16_t kDefaultIconHref[];

 private:
  struct Entry {
    TrackPoint point;
    std::string coordinates;  // "lon,lat,alt"
    std::string description;  // escaped UTF-8
  };

  std::vector<Entry> entries_;
  std::size_t coordinateBytes_ = 0;
  std::size_t descriptionBytes_ = 0;
  std::u16string iconHref_;
  std::string iconHrefText_;  // escaped UTF-8
  float iconScale_ = 0.4f;
  float iconHeading_ = 0.0f;
};

#include "viewer/dialogs/status_formats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr char16_t kDegreeSign = u'\u00B0';

QString WithoutLeadingSpaces(const char* text) {
  while (*text == ' ') ++text;
  return QString::fromLatin1(text);
}

bool IsCSpace(QChar c) {
  const char16_t u = c.unicode();
  return u == u' ' || (u >= u'\t' && u <= u'\r');
}

}  // namespace

std::int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

QString FormatDegrees(double degrees) {
  const std::int32_t units = TruncateToInt32(degrees * 600000.0);
  const std::int32_t tenThousandths = units / 60;
  const std::int32_t magnitude = std::min<std::int32_t>(std::abs(tenThousandths), 9999999);
  char field[16];
  std::snprintf(field, sizeof field, "%c%3d.%04d", tenThousandths < 0 ? '-' : ' ',
                static_cast<int>(magnitude / 10000), static_cast<int>(magnitude % 10000));
  return WithoutLeadingSpaces(field) + QChar(kDegreeSign);
}

QString FormatAltitude(double metres) {
  // Clamped from the whole value: wrapping to 16 bits first would show a
  // climb past 32767 m as a negative altitude.
  const std::int32_t whole = std::clamp<std::int32_t>(TruncateToInt32(metres), -9999, 32000);
  char field[16];
  if (whole >= 0) {
    std::snprintf(field, sizeof field, "%4dm", static_cast<int>(whole));
  } else {
    std::snprintf(field, sizeof field, "-%3dm", static_cast<int>(-whole));
  }
  return WithoutLeadingSpaces(field);
}

QString FormatDistance(double metres) {
  const std::int32_t whole = std::min<std::int32_t>(TruncateToInt32(metres), 99999);
  char field[16];
  if (whole < 1000) {
    std::snprintf(field, sizeof field, "%5dm", static_cast<int>(whole));
  } else {
    std::snprintf(field, sizeof field, "%2d.%dkm", static_cast<int>(whole / 1000),
                  static_cast<int>(whole % 1000 / 100));
  }
  return WithoutLeadingSpaces(field);
}

QString FormatGeneral6(double value) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  return QString::fromLatin1(buffer, static_cast<int>(result.ptr - buffer));
}

std::int32_t LeadingInteger(const QString& text) {
  qsizetype at = 0;
  const qsizetype size = text.size();
  while (at < size && IsCSpace(text[at])) ++at;
  bool negative = false;
  if (at < size && (text[at] == u'-' || text[at] == u'+')) {
    negative = text[at] == u'-';
    ++at;
  }
  std::int64_t magnitude = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; at < size; ++at) {
    const char16_t c = text[at].unicode();
    if (c < u'0' || c > u'9') break;
    magnitude = std::min(magnitude * 10 + (c - u'0'), kLimit);
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

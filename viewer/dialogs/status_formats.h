#pragma once

#include <QString>
#include <cstdint>

// Texts of the status dialogs' read-outs. They mirror the fixed-width
// fields of the aircraft's on-screen display, so pilots read the same digits
// on the ground as in the goggles: values are cut, never rounded.

// Ten-thousandths of a degree with the degree sign: "47.1408°", "-  8.5000°"
// (the sign keeps its column; only leading blanks are dropped).
QString FormatDegrees(double degrees);
// Whole metres, clamped to -9999..32000: "1249m", "-  3m".
QString FormatAltitude(double metres);
// Whole metres below 1 km, then tenths of a km, capped at 99.9km.
QString FormatDistance(double metres);
// printf's "%g" (six significant digits) in the C locale, whatever locale
// the desktop set.
QString FormatGeneral6(double value);

// The integer at the start of a typed text, read the way the C library's
// atoi reads it: leading white space, an optional sign, then decimal digits
// up to the first other character; no digits give 0. Values beyond the
// 32-bit range saturate instead of being undefined.
std::int32_t LeadingInteger(const QString& text);

// Truncation toward zero to 32 bits that saturates at the limits and maps
// NaN to 0, for values computed from telemetry that may be garbage.
std::int32_t TruncateToInt32(double value);

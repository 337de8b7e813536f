#include "viewer/dialogs/status_formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const QString kDegree = QString(QChar(0x00B0));

QString Degrees(const char* digits) { return QString::fromLatin1(digits) + kDegree; }

TEST(FormatDegrees, CutsToTenThousandthsAndKeepsTheSignColumn) {
  EXPECT_EQ(FormatDegrees(47.140845), Degrees("47.1408"));
  // As the refresh cycle hands them over: single precision widened.
  EXPECT_EQ(FormatDegrees(static_cast<float>(47.140845)), Degrees("47.1408"));
  EXPECT_EQ(FormatDegrees(static_cast<float>(10.292253)), Degrees("10.2922"));
  EXPECT_EQ(FormatDegrees(-122.4194), Degrees("-122.4194"));
  EXPECT_EQ(FormatDegrees(-8.5), Degrees("-  8.5000"));
  EXPECT_EQ(FormatDegrees(-0.05), Degrees("-  0.0500"));
  EXPECT_EQ(FormatDegrees(0.05), Degrees("0.0500"));
  EXPECT_EQ(FormatDegrees(0.0), Degrees("0.0000"));
  EXPECT_EQ(FormatDegrees(1.99999), Degrees("1.9999"));
  // Less than a ten-thousandth below zero has no sign left to show.
  EXPECT_EQ(FormatDegrees(-0.00001), Degrees("0.0000"));
}

TEST(FormatDegrees, CapsTheFieldAndSurvivesGarbage) {
  EXPECT_EQ(FormatDegrees(999.99999), Degrees("999.9999"));
  EXPECT_EQ(FormatDegrees(1500.0), Degrees("999.9999"));
  EXPECT_EQ(FormatDegrees(-1e12), Degrees("-999.9999"));
  EXPECT_EQ(FormatDegrees(std::numeric_limits<double>::quiet_NaN()), Degrees("0.0000"));
  EXPECT_EQ(FormatDegrees(std::numeric_limits<double>::infinity()), Degrees("999.9999"));
}

TEST(FormatAltitude, WholeMetresInAFixedField) {
  EXPECT_EQ(FormatAltitude(1249.9), "1249m");
  EXPECT_EQ(FormatAltitude(5.0), "5m");
  EXPECT_EQ(FormatAltitude(0.0), "0m");
  EXPECT_EQ(FormatAltitude(-0.5), "0m");
  EXPECT_EQ(FormatAltitude(-45.0), "- 45m");
  EXPECT_EQ(FormatAltitude(-5.0), "-  5m");
  EXPECT_EQ(FormatAltitude(-3.7), "-  3m");
  EXPECT_EQ(FormatAltitude(-999.0), "-999m");
}

TEST(FormatAltitude, ClampsWithoutWrapping) {
  EXPECT_EQ(FormatAltitude(10000.0), "10000m");
  EXPECT_EQ(FormatAltitude(32000.9), "32000m");
  // Beyond 16 bits a wrap would turn these into -25536 and 4464.
  EXPECT_EQ(FormatAltitude(40000.0), "32000m");
  EXPECT_EQ(FormatAltitude(70000.0), "32000m");
  EXPECT_EQ(FormatAltitude(-1000.0), "-1000m");
  EXPECT_EQ(FormatAltitude(-20000.0), "-9999m");
  EXPECT_EQ(FormatAltitude(std::numeric_limits<double>::quiet_NaN()), "0m");
}

TEST(FormatDistance, MetresThenCutTenthsOfAKilometre) {
  EXPECT_EQ(FormatDistance(0.0), "0m");
  EXPECT_EQ(FormatDistance(5.0), "5m");
  EXPECT_EQ(FormatDistance(123.0), "123m");
  EXPECT_EQ(FormatDistance(999.9), "999m");
  EXPECT_EQ(FormatDistance(1000.0), "1.0km");
  EXPECT_EQ(FormatDistance(1299.0), "1.2km");
  EXPECT_EQ(FormatDistance(12345.0), "12.3km");
  EXPECT_EQ(FormatDistance(99999.0), "99.9km");
  EXPECT_EQ(FormatDistance(5e9), "99.9km");
}

TEST(FormatGeneral6, SixSignificantDigitsWithoutTrailingZeros) {
  EXPECT_EQ(FormatGeneral6(11840 / 1000.0f), "11.84");
  EXPECT_EQ(FormatGeneral6(12500 / 1000.0f), "12.5");
  EXPECT_EQ(FormatGeneral6(0.0), "0");
  EXPECT_EQ(FormatGeneral6(-0.3f), "-0.3");
  EXPECT_EQ(FormatGeneral6(65.535f), "65.535");
  EXPECT_EQ(FormatGeneral6(1234567.0), "1.23457e+06");
}

TEST(LeadingInteger, ReadsLikeAtoi) {
  EXPECT_EQ(LeadingInteger("-100"), -100);
  EXPECT_EQ(LeadingInteger("  -95dBm"), -95);
  EXPECT_EQ(LeadingInteger("\t\n+7"), 7);
  EXPECT_EQ(LeadingInteger("12 34"), 12);
  EXPECT_EQ(LeadingInteger(""), 0);
  EXPECT_EQ(LeadingInteger("dBm"), 0);
  EXPECT_EQ(LeadingInteger("- 5"), 0);
  EXPECT_EQ(LeadingInteger("--5"), 0);
  EXPECT_EQ(LeadingInteger(QString::fromUtf8("\u00A0-5")), 0);  // not C white space
}

TEST(LeadingInteger, SaturatesBeyondThirtyTwoBits) {
  EXPECT_EQ(LeadingInteger("2147483647"), 2147483647);
  EXPECT_EQ(LeadingInteger("-2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(LeadingInteger("99999999999999999999"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(LeadingInteger("-99999999999999999999"), std::numeric_limits<std::int32_t>::min());
}

TEST(TruncateToInt32, TowardZeroAndSaturating) {
  EXPECT_EQ(TruncateToInt32(4.936), 4);
  EXPECT_EQ(TruncateToInt32(-4.936), -4);
  EXPECT_EQ(TruncateToInt32(1e300), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(TruncateToInt32(-std::numeric_limits<double>::infinity()),
            std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(TruncateToInt32(std::nan("")), 0);
}

}  // namespace

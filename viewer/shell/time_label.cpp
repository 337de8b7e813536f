#include "viewer/shell/time_label.h"

namespace {

constexpr std::int64_t kUnitsPerSecond = 10'000'000;

}  // namespace

QString FormatClock(std::int64_t units) {
  // Whole seconds gone by, as a clock shows them: 59.9 s is still 0:00:59.
  const std::int64_t seconds = units > 0 ? units / kUnitsPerSecond : 0;
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString RecordingTimeText(std::int64_t position, std::int64_t duration) {
  return FormatClock(position) + QStringLiteral(" / ") + FormatClock(duration);
}

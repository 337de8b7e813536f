#pragma once

#include <QString>
#include <cstdint>

// The time beside the transport, from stream times in 100-ns units.

// "h:mm:ss", hours unbounded; negative times show as 0:00:00.
QString FormatClock(std::int64_t units);
// "position / duration" for a recording.
QString RecordingTimeText(std::int64_t position, std::int64_t duration);

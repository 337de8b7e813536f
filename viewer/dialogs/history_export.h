#pragma once

#include <QString>
#include <cstdint>

#include "common/iquorvex.h"
#include "platform/com/com_ptr.h"
#include "platform/ui/ui_service.h"

class QWidget;

inline const QString kHistoryFileName = QStringLiteral("DiagData.csv");
// The second type is every frame at full precision with its stream time,
// the file quorvex-decode --csv-full writes.
inline const QString kHistoryFilter = QStringLiteral(
    "CSV Files (*.csv)|*.csv|Full-precision CSV (*.csv)|*.csv|All Files (*.*)|*.*||");
inline constexpr int kFullPrecisionCsvType = 1;

// The main dialog's "Export History" button: the decoder's packet history
// into a CSV file the user names, as it stood when the button was pressed.
// Nothing happens without a decoder. A file that cannot be written is
// reported in a box owned by `owner`, the way a failed track export is: the
// pilot asked for the data and would otherwise believe it saved.
void ExportHistory(const ComPtr<IQuorvex>& decoder, ui::IUiService& ui, QWidget* owner);

inline const QString kGpxFileName = QStringLiteral("Flight.gpx");
inline const QString kGpxFilter = QStringLiteral("GPX Files (*.gpx)|*.gpx|All Files (*.*)|*.*||");

// The window's "Export GPX": the history's fixes as a GPX track, dated from
// `recordingUtcSeconds` (an instant near the recording). Reported like
// ExportHistory when the file cannot be written.
void ExportGpx(const ComPtr<IQuorvex>& decoder, std::int64_t recordingUtcSeconds,
               ui::IUiService& ui, QWidget* owner);

#include "viewer/dialogs/history_export.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/gpx_writer.h"
#include "common/history_csv.h"
#include "common/history_frames.h"
#include "common/iquorvex_frame_log.h"
#include "platform/com/bstr.h"
#include "platform/file/atomic_file.h"

void ExportHistory(const ComPtr<IQuorvex>& decoder, ui::IUiService& ui, QWidget* owner) {
  if (!decoder) return;
  // Playback goes on behind the file dialog; the file holds the history as
  // it stood when the button was pressed.
  int count = 0;
  decoder->GetRecordCount(&count);
  ComPtr<IQuorvexFrameLog> log;
  int frames = 0;
  if (SUCCEEDED(decoder.As(IID_IQuorvexFrameLog, log))) log->GetFrameCount(&frames);

  // No default extension and no overwrite question: the same name is meant
  // to be exported to again and again.
  int type = 0;
  const auto chosen =
      ui.GetSaveFileNameOfType(nullptr, kHistoryFileName, QString(), kHistoryFilter, &type);
  if (!chosen || chosen->isEmpty()) return;

  if (type == kFullPrecisionCsvType) {
    QString problem;
    if (!log) {
      problem = QStringLiteral(
          "This decoder keeps no full-precision log; it may be older than "
          "this program.");
    } else if (const HRESULT hr =
                   log->WriteFrameCsv(frames, ComBstr(chosen->toStdU16String()).Get());
               FAILED(hr)) {
      const int code = ErrnoFromHresult(hr);
      problem =
          QStringLiteral("Could not save the full-precision CSV file %1: %2")
              .arg(*chosen, code ? QString::fromLocal8Bit(std::strerror(code))
                                 : QStringLiteral("error 0x%1")
                                       .arg(static_cast<unsigned>(hr), 8, 16, QLatin1Char('0')));
    }
    if (!problem.isEmpty())
      ui.MessageBox(owner, problem, QStringLiteral("VistaroViewer"), ui::MessageIcon::kError);
    return;
  }

  const std::filesystem::path path(chosen->toStdU16String());
  if (const HRESULT hr = history_csv::Write(*decoder, count, path); FAILED(hr)) {
    char caption[64];
    std::snprintf(caption, sizeof caption, "Could not save .csv file (0x%x)",
                  static_cast<unsigned>(hr));
    ui.MessageBox(owner, QStringLiteral("VistaroViewer"), QString::fromLatin1(caption),
                  ui::MessageIcon::kError);
  }
}

void ExportGpx(const ComPtr<IQuorvex>& decoder, std::int64_t recordingUtcSeconds,
               ui::IUiService& ui, QWidget* owner) {
  if (!decoder) return;
  int count = 0;
  decoder->GetRecordCount(&count);
  const std::string document = gpx::Document(HistoryFrames(*decoder, count), recordingUtcSeconds);
  const auto chosen = ui.GetSaveFileName(owner, kGpxFileName, QStringLiteral("gpx"), kGpxFilter);
  if (!chosen || chosen->isEmpty()) return;
  const std::filesystem::path path(chosen->toStdU16String());
  std::string why;
  if (!ReplaceFileContents(path, document, &why)) {
    ui.MessageBox(owner, QStringLiteral("Could not save .gpx file: ") + QString::fromStdString(why),
                  QStringLiteral("VistaroViewer"), ui::MessageIcon::kError);
  }
}

#include "viewer/dialogs/history_export.h"

#include <cstdio>
#include <filesystem>

#include "common/gpx_writer.h"
#include "common/history_csv.h"
#include "common/history_frames.h"
#include "platform/file/atomic_file.h"

void ExportHistory(const ComPtr<IQuorvex>& decoder, ui::IUiService& ui, QWidget* owner) {
  if (!decoder) return;
  // Playback goes on behind the file dialog; the file holds the history as
  // it stood when the button was pressed.
  int count = 0;
  decoder->GetRecordCount(&count);

  // No default extension and no overwrite question: the same name is meant
  // to be exported to again and again.
  const auto chosen = ui.GetSaveFileName(nullptr, kHistoryFileName, QString(), kHistoryFilter);
  if (!chosen || chosen->isEmpty()) return;

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

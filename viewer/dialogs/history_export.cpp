#include "viewer/dialogs/history_export.h"

#include <cstdio>
#include <filesystem>

#include "common/history_csv.h"

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

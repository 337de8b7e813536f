#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace ui {

enum class MessageIcon { kNone, kError, kWarning, kInformation, kQuestion };

// Return codes of modal boxes and dialogs.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Everything modal that the dialogs show: message boxes and file dialogs.
// The program uses the Qt boxes; tests put a recorder in their place, so
// every text and caption can be checked and no test ever blocks on a box.
class IUiService {
 public:
  virtual ~IUiService() = default;

  // Returns once the box is dismissed, with IDOK.
  virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                         MessageIcon icon) = 0;
  // `filter` is in the framework's form "Description|patterns|...|" with
  // patterns separated by ';'. Empty when the user cancels.
  virtual std::optional<QString> GetOpenFileName(QWidget* owner, const QString& filter) = 0;
  virtual std::optional<QString> GetSaveFileName(QWidget* owner, const QString& fileName,
                                                 const QString& defaultExtension,
                                                 const QString& filter) = 0;
};

// The real boxes.
class QtUiService final : public IUiService {
 public:
  int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                 MessageIcon icon) override;
  std::optional<QString> GetOpenFileName(QWidget* owner, const QString& filter) override;
  std::optional<QString> GetSaveFileName(QWidget* owner, const QString& fileName,
                                         const QString& defaultExtension,
                                         const QString& filter) override;
};

// "Text (*.a;*.b)|*.a;*.b|All (*.*)|*.*||" -> "Text (*.a *.b);;All (*)" in
// the order given; patterns keep their own spelling (stray spaces dropped).
QString QtFileFilter(const QString& frameworkFilter);

// The caption of the framework's own boxes (invalid numbers and the like).
QString ApplicationName();

}  // namespace ui

#pragma once

#include <QString>
#include <QStringList>
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
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) = 0;
  // `filter` is in the framework's form "Description|patterns|...|" with
  // patterns separated by ';'. Empty when the user cancels.
  virtual std::optional<QString> GetOpenFileName(QWidget* owner, const QString& filter) = 0;
  virtual std::optional<QString> GetSaveFileName(QWidget* owner, const QString& fileName,
                                                 const QString& defaultExtension,
                                                 const QString& filter) = 0;
  // As GetSaveFileName, for a choice of file types: `fileType` (when not
  // null) gets the index in `filter` of the type the user picked, 0 for the
  // first. A service that offers no choice gives the first.
  virtual std::optional<QString> GetSaveFileNameOfType(QWidget* owner, const QString& fileName,
                                                       const QString& defaultExtension,
                                                       const QString& filter, int* fileType) {
    if (fileType) *fileType = 0;
    return GetSaveFileName(owner, fileName, defaultExtension, filter);
  }
  // A form of one line of text per label, filled in with `values`: the
  // lines the user accepted, one per label, or nullopt when cancelled. A
  // service without forms cancels.
  virtual std::optional<QStringList> AskForText(QWidget* /*owner*/, const QString& /*caption*/,
                                                const QString& /*prompt*/,
                                                const QStringList& /*labels*/,
                                                const QStringList& /*values*/) {
    return std::nullopt;
  }
};

// The real boxes. Where there is no screen to show them on (Qt's offscreen
// platform) a box is written to standard error instead and a question is
// answered Yes, so that a run without a display never waits for a click.
// File dialogs open in the folder of the file last chosen in any of them,
// kept as "LastFolder" in the settings file `settingsPath` (empty: the
// application's own settings).
class QtUiService final : public IUiService {
 public:
  explicit QtUiService(QString settingsPath = {}) : settingsPath_(std::move(settingsPath)) {}
  int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                 MessageIcon icon) override;
  bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) override;
  std::optional<QString> GetOpenFileName(QWidget* owner, const QString& filter) override;
  std::optional<QString> GetSaveFileName(QWidget* owner, const QString& fileName,
                                         const QString& defaultExtension,
                                         const QString& filter) override;
  std::optional<QString> GetSaveFileNameOfType(QWidget* owner, const QString& fileName,
                                               const QString& defaultExtension,
                                               const QString& filter, int* fileType) override;
  // Where boxes cannot be seen, cancelled with a line on standard error.
  std::optional<QStringList> AskForText(QWidget* owner, const QString& caption,
                                        const QString& prompt, const QStringList& labels,
                                        const QStringList& values) override;

 private:
  QString LastFolder() const;
  void RememberFolderOf(const QString& path) const;

  QString settingsPath_;
};

// "Text (*.a;*.b)|*.a;*.b|All (*.*)|*.*||" -> "Text (*.a *.b);;All (*)" in
// the order given; patterns keep their own spelling (stray spaces dropped).
// A description that already ends in its own pattern list is not given a
// second one.
QString QtFileFilter(const QString& frameworkFilter);

// True where boxes cannot be seen: Qt's offscreen platform.
bool HeadlessDisplay();

// The caption of the framework's own boxes (invalid numbers and the like).
QString ApplicationName();

}  // namespace ui

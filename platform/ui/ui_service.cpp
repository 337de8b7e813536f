#include "platform/ui/ui_service.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace ui {

QString QtFileFilter(const QString& frameworkFilter) {
  const QStringList parts = frameworkFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    if (description.isEmpty()) break;
    QStringList given;
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      given << pattern.trimmed();
      // "*.*" means every file, including those without a dot.
      patterns << (given.back() == QStringLiteral("*.*") ? QStringLiteral("*") : given.back());
    }
    // Qt reads the patterns from the last parentheses of a filter. A
    // description that ends in its own list loses it, so that no pattern
    // shows twice; any other is followed by the real list.
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (description.endsWith(QLatin1Char(')')) && open > 0) {
      QStringList shown;
      for (const QString& pattern :
           description.mid(open + 1, description.size() - open - 2).split(QLatin1Char(';')))
        shown << pattern.trimmed();
      if (shown == given) description = description.left(open).trimmed();
    }
    filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
  }
  return filters.join(QStringLiteral(";;"));
}

bool HeadlessDisplay() { return QGuiApplication::platformName() == QStringLiteral("offscreen"); }

QString ApplicationName() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QStringLiteral("VistaroPlayer") : name;
}

int QtUiService::MessageBox(QWidget* owner, const QString& text, const QString& caption,
                            MessageIcon icon) {
  QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
  switch (icon) {
    case MessageIcon::kError:
      qtIcon = QMessageBox::Critical;
      break;
    case MessageIcon::kWarning:
      qtIcon = QMessageBox::Warning;
      break;
    case MessageIcon::kInformation:
      qtIcon = QMessageBox::Information;
      break;
    case MessageIcon::kQuestion:
      qtIcon = QMessageBox::Question;
      break;
    case MessageIcon::kNone:
      break;
  }
  if (HeadlessDisplay()) {
    std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    return IDOK;
  }
  QMessageBox box(qtIcon, caption, text, QMessageBox::Ok, owner);
  box.exec();
  return IDOK;
}

bool QtUiService::AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
  if (HeadlessDisplay()) {
    std::fprintf(stderr, "%s: %s [Yes]\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    return true;
  }
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtUiService::GetOpenFileName(QWidget* owner, const QString& filter) {
  QFileDialog dialog(owner, QString(), LastFolder(), QtFileFilter(filter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  RememberFolderOf(dialog.selectedFiles().front());
  return dialog.selectedFiles().front();
}

std::optional<QString> QtUiService::GetSaveFileName(QWidget* owner, const QString& fileName,
                                                    const QString& defaultExtension,
                                                    const QString& filter) {
  return GetSaveFileNameOfType(owner, fileName, defaultExtension, filter, nullptr);
}

std::optional<QString> QtUiService::GetSaveFileNameOfType(QWidget* owner, const QString& fileName,
                                                          const QString& defaultExtension,
                                                          const QString& filter, int* fileType) {
  const QString filters = QtFileFilter(filter);
  QFileDialog dialog(owner, QString(), LastFolder(), filters);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!defaultExtension.isEmpty()) dialog.setDefaultSuffix(defaultExtension);
  if (!fileName.isEmpty()) dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  if (fileType) {
    *fileType = std::max<int>(
        0,
        static_cast<int>(filters.split(QStringLiteral(";;")).indexOf(dialog.selectedNameFilter())));
  }
  RememberFolderOf(dialog.selectedFiles().front());
  return dialog.selectedFiles().front();
}

std::optional<QStringList> QtUiService::AskForText(QWidget* owner, const QString& caption,
                                                   const QString& prompt, const QStringList& labels,
                                                   const QStringList& values) {
  if (HeadlessDisplay()) {
    std::fprintf(stderr, "%s: %s [Cancel]\n", caption.toLocal8Bit().constData(),
                 prompt.toLocal8Bit().constData());
    return std::nullopt;
  }
  QDialog dialog(owner);
  dialog.setWindowTitle(caption);
  auto* form = new QFormLayout(&dialog);
  auto* text = new QLabel(prompt, &dialog);
  text->setWordWrap(true);
  form->addRow(text);
  std::vector<QLineEdit*> lines;
  for (qsizetype i = 0; i < labels.size(); ++i) {
    lines.push_back(new QLineEdit(i < values.size() ? values[i] : QString(), &dialog));
    form->addRow(labels[i], lines.back());
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  QStringList answers;
  for (const QLineEdit* line : lines) answers << line->text();
  return answers;
}

namespace {

const QString kLastFolder = QStringLiteral("LastFolder");

std::unique_ptr<QSettings> OpenSettings(const QString& path) {
  if (path.isEmpty()) return std::make_unique<QSettings>();
  return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

}  // namespace

QString QtUiService::LastFolder() const {
  const QString folder = OpenSettings(settingsPath_)->value(kLastFolder).toString();
  // A folder that has gone since is no place to start.
  return QFileInfo(folder).isDir() ? folder : QString();
}

void QtUiService::RememberFolderOf(const QString& path) const {
  const auto settings = OpenSettings(settingsPath_);
  settings->setValue(kLastFolder, QFileInfo(path).absolutePath());
  settings->sync();
}

}  // namespace ui

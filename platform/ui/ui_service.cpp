#include "platform/ui/ui_service.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace ui {

QString QtFileFilter(const QString& frameworkFilter) {
  const QStringList parts = frameworkFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    if (description.isEmpty()) break;
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString trimmed = pattern.trimmed();
      // "*.*" means every file, including those without a dot.
      patterns << (trimmed == QStringLiteral("*.*") ? QStringLiteral("*") : trimmed);
    }
    // Qt reads the patterns from the last parentheses of a filter, so
    // a description that shows its own is given the real list after it.
    filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
  }
  return filters.join(QStringLiteral(";;"));
}

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
  QMessageBox box(qtIcon, caption, text, QMessageBox::Ok, owner);
  box.exec();
  return IDOK;
}

std::optional<QString> QtUiService::GetOpenFileName(QWidget* owner, const QString& filter) {
  const QString path =
      QFileDialog::getOpenFileName(owner, QString(), QString(), QtFileFilter(filter));
  if (path.isEmpty()) return std::nullopt;
  return path;
}

std::optional<QString> QtUiService::GetSaveFileName(QWidget* owner, const QString& fileName,
                                                    const QString& defaultExtension,
                                                    const QString& filter) {
  QFileDialog dialog(owner, QString(), QString(), QtFileFilter(filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!defaultExtension.isEmpty()) dialog.setDefaultSuffix(defaultExtension);
  if (!fileName.isEmpty()) dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace ui

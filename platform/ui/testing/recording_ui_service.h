#pragma once

#include <deque>
#include <optional>
#include <vector>

#include "platform/ui/ui_service.h"

namespace ui::testing {

// Records every box the dialogs show and answers file dialogs from a
// script (cancel when the script is empty).
class RecordingUiService final : public IUiService {
 public:
  struct Message {
    QWidget* owner;
    QString text;
    QString caption;
    MessageIcon icon;
  };
  struct FileDialog {
    bool save;
    QWidget* owner;
    QString fileName;
    QString defaultExtension;
    QString filter;
  };
  struct Form {
    QWidget* owner;
    QString caption;
    QString prompt;
    QStringList labels;
    QStringList values;
  };

  int MessageBox(QWidget* owner, const QString& text, const QString& caption,
                 MessageIcon icon) override {
    messages.push_back({owner, text, caption, icon});
    return IDOK;
  }
  // Recorded with kQuestion and answered from `answers`, Yes when empty.
  bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) override {
    questions.push_back({owner, text, caption, MessageIcon::kQuestion});
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<QString> GetOpenFileName(QWidget* owner, const QString& filter) override {
    fileDialogs.push_back({false, owner, {}, {}, filter});
    return NextAnswer();
  }
  std::optional<QString> GetSaveFileName(QWidget* owner, const QString& fileName,
                                         const QString& defaultExtension,
                                         const QString& filter) override {
    fileDialogs.push_back({true, owner, fileName, defaultExtension, filter});
    return NextAnswer();
  }
  // The type picked from `fileTypes`, the first when empty.
  std::optional<QString> GetSaveFileNameOfType(QWidget* owner, const QString& fileName,
                                               const QString& defaultExtension,
                                               const QString& filter, int* fileType) override {
    int type = 0;
    if (!fileTypes.empty()) {
      type = fileTypes.front();
      fileTypes.pop_front();
    }
    if (fileType) *fileType = type;
    return GetSaveFileName(owner, fileName, defaultExtension, filter);
  }
  // Recorded and answered from `textAnswers`, cancelled when empty.
  std::optional<QStringList> AskForText(QWidget* owner, const QString& caption,
                                        const QString& prompt, const QStringList& labels,
                                        const QStringList& values) override {
    forms.push_back({owner, caption, prompt, labels, values});
    std::optional<QStringList> answer;
    if (!textAnswers.empty()) {
      answer.swap(textAnswers.front());
      textAnswers.pop_front();
    }
    return answer;
  }

  std::vector<Message> messages;
  std::vector<Message> questions;
  std::deque<bool> answers;
  std::vector<FileDialog> fileDialogs;
  std::deque<std::optional<QString>> fileAnswers;
  std::deque<int> fileTypes;
  std::vector<Form> forms;
  std::deque<std::optional<QStringList>> textAnswers;

 private:
  std::optional<QString> NextAnswer() {
    std::optional<QString> answer;
    if (!fileAnswers.empty()) {
      answer.swap(fileAnswers.front());
      fileAnswers.pop_front();
    }
    return answer;
  }
};

}  // namespace ui::testing

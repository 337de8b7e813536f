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
  // Recorded; no browser is started.
  bool OpenUrl(const QString& url) override {
    openedUrls.push_back(url);
    return true;
  }

  std::vector<Message> messages;
  std::vector<Message> questions;
  std::deque<bool> answers;
  std::vector<FileDialog> fileDialogs;
  std::deque<std::optional<QString>> fileAnswers;
  std::vector<QString> openedUrls;

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

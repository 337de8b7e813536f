#pragma once

#include "platform/ui/dialog.h"

// The About box; nothing of its own beyond its template.
class CAboutDlg final : public ui::CDialog {
 public:
  explicit CAboutDlg(ui::IUiService& ui, QWidget* parent = nullptr);
};

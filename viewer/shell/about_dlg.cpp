#include "viewer/shell/about_dlg.h"

#include "viewer/shell/dialog_templates.h"

CAboutDlg::CAboutDlg(ui::IUiService& ui, QWidget* parent)
    : CDialog(AboutDialogTemplate(), ui, parent) {}

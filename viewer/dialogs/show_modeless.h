#pragma once

#include "platform/ui/dialog.h"

// What the main dialog's "Show ... Status" buttons do: the window is made
// on the first press and only shown again afterwards, so everything typed
// into it survives closing.
inline void ShowModeless(ui::CDialog& dialog) {
  dialog.Create();
  dialog.show();
  dialog.raise();
  dialog.activateWindow();
}

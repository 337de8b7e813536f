#pragma once

#include "platform/ui/dialog_template.h"

// The main dialog's and the About box's layouts.
ui::DialogTemplate MainDialogTemplate();
ui::DialogTemplate AboutDialogTemplate();

#pragma once

#include <QString>

#include "platform/ui/dialog_template.h"

// Building blocks of the status dialogs' templates. Every read-out has its
// caption above it and its unit to its right, on a grid of dialog units.
namespace field_layout {

inline constexpr int kLabelHeight = 8;
inline constexpr int kEditHeight = 12;
// From the top of a caption to the top of its edit.
inline constexpr int kCaptionGap = 10;
// From an edit's right edge to its unit label, which sits on the edit's
// text line.
inline constexpr int kUnitGap = 3;
inline constexpr int kUnitDrop = 2;

inline void AddStatic(ui::DialogTemplate& dialog, const QString& text, int x, int y, int cx,
                      int cy = kLabelHeight, unsigned style = 0) {
  dialog.controls.emplace_back(ui::IDC_STATIC, ui::ControlKind::kStatic, text, x, y, cx, cy, style);
}

struct Field {
  int id;
  QString caption;
  QString unit;  // empty: none
  bool readOnly = true;
};

inline void AddField(ui::DialogTemplate& dialog, const Field& field, int x, int y, int captionWidth,
                     int editWidth, int unitWidth) {
  AddStatic(dialog, field.caption, x, y, captionWidth);
  dialog.controls.emplace_back(field.id, ui::ControlKind::kEdit, QString(), x, y + kCaptionGap,
                               editWidth, kEditHeight, field.readOnly ? ui::kReadOnly : 0u);
  if (!field.unit.isEmpty()) {
    AddStatic(dialog, field.unit, x + editWidth + kUnitGap, y + kCaptionGap + kUnitDrop, unitWidth);
  }
}

inline void AddButton(ui::DialogTemplate& dialog, int id, const QString& text, int x, int y, int cx,
                      int cy, unsigned style = 0) {
  dialog.controls.emplace_back(id, ui::ControlKind::kPushButton, text, x, y, cx, cy, style);
}

}  // namespace field_layout

#include "platform/ui/dialog_template.h"

#include <QFontMetrics>
#include <QGuiApplication>

namespace ui {

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  // The dialog manager's own measure: the average width of the 52 Latin
  // letters, rounded, and the full height of the font.
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits units;
  units.x = std::max(1, (letters / 26 + 1) / 2);
  units.y = std::max(1, metrics.height());
  return units;
}

QRect DialogUnitsToPixels(const QRect& dialogUnits, DialogBaseUnits units) {
  const auto horizontal = [&](int value) { return (value * units.x + 2) / 4; };
  const auto vertical = [&](int value) { return (value * units.y + 4) / 8; };
  const int left = horizontal(dialogUnits.x());
  const int top = vertical(dialogUnits.y());
  return QRect(left, top, horizontal(dialogUnits.x() + dialogUnits.width()) - left,
               vertical(dialogUnits.y() + dialogUnits.height()) - top);
}

QFont DialogFont() {
#ifdef _WIN32
  QFont font(QStringLiteral("MS Shell Dlg 2"));
#else
  QFont font = QGuiApplication::font();
  font.setFamily(QStringLiteral("Sans Serif"));
#endif
  font.setPointSize(8);
  return font;
}

}  // namespace ui

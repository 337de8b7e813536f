#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <vector>

namespace ui {

// Identifier of labels and other controls nobody addresses.
inline constexpr int IDC_STATIC = -1;

enum class ControlKind {
  kStatic,      // text label
  kPicture,     // image from `image`, scaled to the control
  kPushButton,  // text, and an icon from `image` when given
  kCheckBox,
  kEdit,
  kHorizontalSlider,
  kVerticalSlider,  // minimum at the top
  kComboBox,        // drop-down list, not sorted
  kEtchedVerticalLine,
  kEtchedHorizontalLine,
  kGroupBox,
  kIcon,  // the application icon
};

enum ControlStyle : unsigned {
  kHidden = 1u << 0,
  kDisabled = 1u << 1,
  kDefaultButton = 1u << 2,
  kReadOnly = 1u << 3,
  kCentered = 1u << 4,  // static text
  kRightAligned = 1u << 5,
  kNoTabStop = 1u << 6,
};

// One control: position and size in dialog units.
struct ControlTemplate {
  ControlTemplate() = default;
  ControlTemplate(int id, ControlKind kind, QString text, int x, int y, int cx, int cy,
                  unsigned style = 0)
      : id(id), kind(kind), text(std::move(text)), x(x), y(y), cx(cx), cy(cy), style(style) {}
  ControlTemplate& Image(QString path) {
    image = std::move(path);
    return *this;
  }
  ControlTemplate& Range(int minimum, int maximum) {
    rangeMin = minimum;
    rangeMax = maximum;
    return *this;
  }
  ControlTemplate& Items(std::vector<QString> list) {
    items = std::move(list);
    return *this;
  }

  int id = IDC_STATIC;
  ControlKind kind = ControlKind::kStatic;
  QString text;
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  unsigned style = 0;
  QString image;     // resource path (":/...") of a picture or button icon
  int rangeMin = 0;  // sliders
  int rangeMax = 100;
  std::vector<QString> items;  // combo boxes, in this order
};

struct DialogTemplate {
  int id = 0;
  QString caption;
  int cx = 0;
  int cy = 0;
  std::vector<ControlTemplate> controls;
};

// Horizontal and vertical dialog base units of a font: 4 horizontal and 8
// vertical dialog units make one base unit.
struct DialogBaseUnits {
  int x = 6;
  int y = 13;
};

DialogBaseUnits BaseUnitsOf(const QFont& font);
QRect DialogUnitsToPixels(const QRect& dialogUnits, DialogBaseUnits units);
// The font dialogs are laid out with: the desktop's sans font at 8 points.
QFont DialogFont();

}  // namespace ui

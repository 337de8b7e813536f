#include "platform/ui/dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace ui {

// ---- Number texts -----------------------------------------------------------

QString FormatInt(int value) { return QString::number(value); }

QString FormatDouble(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", 15, value);
  return QString::fromLatin1(text);
}

namespace {

// The text without surrounding blanks, as Latin-1; nullopt when it holds
// anything a number cannot.
std::optional<std::string> NumberText(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return std::nullopt;
  for (QChar c : trimmed)
    if (c.unicode() > 0x7f) return std::nullopt;
  std::string narrow = trimmed.toStdString();
  if (narrow.front() == '+') narrow.erase(0, 1);
  if (narrow.empty() || narrow.front() == '+' || narrow.front() == ' ' ||
      (text.trimmed().front() == QLatin1Char('+') && narrow.front() == '-'))
    return std::nullopt;
  return narrow;
}

}  // namespace

bool ParseInt(const QString& text, int* value) {
  const auto narrow = NumberText(text);
  if (!narrow) return false;
  int parsed = 0;
  const char* end = narrow->data() + narrow->size();
  const auto [stop, error] = std::from_chars(narrow->data(), end, parsed, 10);
  if (error != std::errc() || stop != end) return false;
  *value = parsed;
  return true;
}

bool ParseDouble(const QString& text, double* value) {
  const auto narrow = NumberText(text);
  if (!narrow) return false;
  double parsed = 0;
  const char* end = narrow->data() + narrow->size();
  const auto [stop, error] =
      std::from_chars(narrow->data(), end, parsed, std::chars_format::general);
  // Infinities and NaN would travel on into camera positions and files.
  if (error != std::errc() || stop != end || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

// ---- Data exchange ----------------------------------------------------------

void DataExchange::Fail(int id, const QString& message) {
  failed_ = true;
  dialog_.ShowMessage(message, ApplicationName(), MessageIcon::kWarning);
  if (QWidget* control = dialog_.GetDlgItem(id)) {
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
  }
}

void DataExchange::Text(int id, int& value) {
  if (failed_) return;
  if (!saving_) {
    dialog_.SetDlgItemText(id, FormatInt(value));
    return;
  }
  int parsed = 0;
  if (!ParseInt(dialog_.GetDlgItemText(id), &parsed)) return Fail(id, kInvalidIntegerMessage);
  value = parsed;
}

void DataExchange::Text(int id, double& value) {
  if (failed_) return;
  if (!saving_) {
    dialog_.SetDlgItemText(id, FormatDouble(value));
    return;
  }
  double parsed = 0;
  if (!ParseDouble(dialog_.GetDlgItemText(id), &parsed)) return Fail(id, kInvalidNumberMessage);
  value = parsed;
}

void DataExchange::Text(int id, QString& value) {
  if (failed_) return;
  if (saving_)
    value = dialog_.GetDlgItemText(id);
  else
    dialog_.SetDlgItemText(id, value);
}

void DataExchange::Check(int id, bool& value) {
  if (failed_) return;
  if (saving_)
    value = dialog_.IsChecked(id);
  else
    dialog_.SetCheck(id, value);
}

// ---- The dialog -------------------------------------------------------------

CDialog::CDialog(DialogTemplate dialogTemplate, IUiService& ui, QWidget* parent)
    : QDialog(parent), template_(std::move(dialogTemplate)), ui_(ui) {
  setFont(DialogFont());
  units_ = BaseUnitsOf(font());
  // A fixed frame with a close box and no resizing, like the template's.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(template_.caption);
}

CDialog::~CDialog() = default;

QRect CDialog::MapDialogRect(const QRect& dialogUnits) const {
  return DialogUnitsToPixels(dialogUnits, units_);
}

bool CDialog::Create() {
  if (created_) return true;
  BuildControls();
  created_ = true;
  OnInitDialog();
  return true;
}

int CDialog::DoModal() {
  Create();
  modal_ = true;
  setModal(true);
  const int result = exec();
  modal_ = false;
  return result;
}

void CDialog::EndDialog(int result) {
  if (modal_) {
    ending_ = true;
    QDialog::done(result);
    ending_ = false;
  } else {
    hide();
    setResult(result);
  }
}

namespace {

// Breaks a one-line text at its last fitting blank when the control is too
// narrow but tall enough for two lines, as multi-line buttons and check
// boxes do on the platform the layouts were drawn for.
QString FitText(const QString& text, const QFontMetrics& metrics, int width, int height) {
  if (text.contains(QLatin1Char('\n')) || metrics.horizontalAdvance(text) <= width ||
      height < 2 * metrics.height())
    return text;
  for (qsizetype blank = text.lastIndexOf(QLatin1Char(' ')); blank > 0;
       blank = text.lastIndexOf(QLatin1Char(' '), blank - 1)) {
    if (metrics.horizontalAdvance(text.left(blank)) <= width)
      return text.left(blank) + QLatin1Char('\n') + text.mid(blank + 1);
  }
  return text;
}

}  // namespace

void CDialog::BuildControls() {
  setFixedSize(MapDialogRect(QRect(0, 0, template_.cx, template_.cy)).size());
  for (const ControlTemplate& control : template_.controls) {
    QWidget* widget = CreateControl(control);
    if (!widget) continue;
    widget->setParent(this);
    widget->setFont(font());
    widget->setGeometry(MapDialogRect(QRect(control.x, control.y, control.cx, control.cy)));
    widget->setVisible(!(control.style & kHidden));
    widget->setEnabled(!(control.style & kDisabled));
    if (control.style & kNoTabStop) widget->setFocusPolicy(Qt::NoFocus);
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
      // Room taken by the box itself and its spacing.
      const int indicator =
          box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
          box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
      box->setText(
          FitText(box->text(), box->fontMetrics(), box->width() - indicator - 2, box->height()));
    }
    if (control.id != IDC_STATIC) controls_[control.id] = widget;
    ConnectNotifications(widget, control);
  }
}

QWidget* CDialog::CreateControl(const ControlTemplate& control) {
  switch (control.kind) {
    case ControlKind::kStatic: {
      auto* label = new QLabel(control.text);
      label->setWordWrap(!control.text.contains(QLatin1Char('\n')));
      Qt::Alignment alignment = Qt::AlignTop;
      if (control.style & kCentered)
        alignment |= Qt::AlignHCenter;
      else if (control.style & kRightAligned)
        alignment |= Qt::AlignRight;
      else
        alignment |= Qt::AlignLeft;
      label->setAlignment(alignment);
      return label;
    }
    case ControlKind::kPicture: {
      auto* label = new QLabel;
      label->setScaledContents(true);
      if (!control.image.isEmpty()) label->setPixmap(QPixmap(control.image));
      return label;
    }
    case ControlKind::kIcon: {
      auto* label = new QLabel;
      label->setAlignment(Qt::AlignCenter);
      const QRect size = MapDialogRect(QRect(0, 0, control.cx, control.cy));
      const QIcon icon = control.image.isEmpty() ? windowIcon() : QIcon(control.image);
      label->setPixmap(icon.pixmap(std::min(size.width(), size.height())));
      return label;
    }
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(control.text);
      if (!control.image.isEmpty()) {
        button->setIcon(QIcon(control.image));
        button->setIconSize(QSize(32, 32));
      }
      if (control.style & kDefaultButton) button->setDefault(true);
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::kCheckBox:
      return new QCheckBox(control.text);
    case ControlKind::kEdit: {
      auto* edit = new QLineEdit(control.text);
      edit->setReadOnly(control.style & kReadOnly);
      if (control.style & kRightAligned) edit->setAlignment(Qt::AlignRight);
      return edit;
    }
    case ControlKind::kHorizontalSlider:
    case ControlKind::kVerticalSlider: {
      const bool vertical = control.kind == ControlKind::kVerticalSlider;
      auto* slider = new QSlider(vertical ? Qt::Vertical : Qt::Horizontal);
      slider->setRange(control.rangeMin, control.rangeMax);
      // The platform's vertical track bars have their minimum at the top.
      slider->setInvertedAppearance(vertical);
      slider->setInvertedControls(vertical);
      slider->setPageStep(std::max(1, (control.rangeMax - control.rangeMin) / 5));
      return slider;
    }
    case ControlKind::kComboBox: {
      auto* combo = new QComboBox;
      for (const QString& item : control.items) combo->addItem(item);
      combo->setCurrentIndex(-1);
      return combo;
    }
    case ControlKind::kEtchedVerticalLine:
    case ControlKind::kEtchedHorizontalLine: {
      auto* line = new QFrame;
      line->setFrameShape(control.kind == ControlKind::kEtchedVerticalLine ? QFrame::VLine
                                                                           : QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      return line;
    }
    case ControlKind::kGroupBox:
      return new QGroupBox(control.text);
  }
  return nullptr;
}

void CDialog::ConnectNotifications(QWidget* widget, const ControlTemplate& control) {
  const int id = control.id;
  if (id == IDC_STATIC) return;
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    connect(combo, &QComboBox::activated, this, [this, id] { OnSelChange(id); });
  } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
    const bool vertical = slider->orientation() == Qt::Vertical;
    const auto notify = [this, id, vertical, slider](int code) {
      if (vertical)
        OnVScroll(id, code, slider->sliderPosition());
      else
        OnHScroll(id, code, slider->sliderPosition());
    };
    connect(slider, &QSlider::actionTriggered, this, [notify](int action) {
      switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
          notify(SB_LINERIGHT);
          break;
        case QAbstractSlider::SliderSingleStepSub:
          notify(SB_LINELEFT);
          break;
        case QAbstractSlider::SliderPageStepAdd:
          notify(SB_PAGERIGHT);
          break;
        case QAbstractSlider::SliderPageStepSub:
          notify(SB_PAGELEFT);
          break;
        case QAbstractSlider::SliderToMinimum:
          notify(SB_LEFT);
          break;
        case QAbstractSlider::SliderToMaximum:
          notify(SB_RIGHT);
          break;
        case QAbstractSlider::SliderMove:
          notify(SB_THUMBTRACK);
          break;
        default:
          break;
      }
    });
    connect(slider, &QSlider::sliderReleased, this, [notify] {
      notify(SB_THUMBPOSITION);
      notify(SB_ENDSCROLL);
    });
  }
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::DoDataExchange(DataExchange&) {}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnTimer(int) {}

void CDialog::OnCommand(int id) {
  if (id == IDOK)
    OnOK();
  else if (id == IDCANCEL)
    OnCancel();
}

void CDialog::OnSelChange(int) {}
void CDialog::OnHScroll(int, int, int) {}
void CDialog::OnVScroll(int, int, int) {}

bool CDialog::UpdateData(bool saveAndValidate) {
  DataExchange exchange(*this, saveAndValidate);
  DoDataExchange(exchange);
  return !exchange.Failed();
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    OnCancel();
    event->accept();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    // Enter presses the default button, as the dialog manager does.
    for (const auto& [id, widget] : controls_) {
      auto* button = qobject_cast<QPushButton*>(widget);
      if (button && button->isDefault() && button->isVisible() && button->isEnabled()) {
        OnCommand(id);
        event->accept();
        return;
      }
    }
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CDialog::closeEvent(QCloseEvent* event) {
  // The close box is Cancel; OnCancel decides whether the window goes.
  if (ending_ || !isVisible()) {
    event->accept();
    return;
  }
  event->ignore();
  OnCancel();
}

void CDialog::accept() { OnOK(); }
void CDialog::reject() { OnCancel(); }
void CDialog::done(int result) {
  if (ending_) {
    QDialog::done(result);
    return;
  }
  EndDialog(result);
}

QWidget* CDialog::GetDlgItem(int id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

QString CDialog::GetDlgItemText(int id) const {
  QWidget* widget = GetDlgItem(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  return {};
}

void CDialog::SetDlgItemText(int id, const QString& text) {
  QWidget* widget = GetDlgItem(id);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    // Unchanged text is left alone so a box the user is editing keeps
    // its cursor.
    if (edit->text() != text) edit->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(text);
  }
}

void CDialog::ShowControl(int id, bool show) {
  if (QWidget* widget = GetDlgItem(id)) widget->setVisible(show);
}

void CDialog::EnableControl(int id, bool enable) {
  if (QWidget* widget = GetDlgItem(id)) widget->setEnabled(enable);
}

bool CDialog::IsControlShown(int id) const {
  const QWidget* widget = GetDlgItem(id);
  return widget && !widget->isHidden();
}

bool CDialog::IsControlEnabled(int id) const {
  const QWidget* widget = GetDlgItem(id);
  return widget && widget->isEnabled();
}

bool CDialog::IsChecked(int id) const {
  const auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
  return button && button->isChecked();
}

void CDialog::SetCheck(int id, bool checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id))) button->setChecked(checked);
}

int CDialog::GetCurSel(int id) const {
  const auto* combo = qobject_cast<QComboBox*>(GetDlgItem(id));
  return combo ? combo->currentIndex() : -1;
}

void CDialog::SetCurSel(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(GetDlgItem(id));
  if (!combo) return;
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

int CDialog::GetPos(int id) const {
  const auto* slider = qobject_cast<QSlider*>(GetDlgItem(id));
  return slider ? slider->value() : 0;
}

void CDialog::SetPos(int id, int position) {
  auto* slider = qobject_cast<QSlider*>(GetDlgItem(id));
  if (!slider) return;
  // Programmatic moves are not user actions: no scroll notification.
  const QSignalBlocker block(slider);
  slider->setValue(position);
  slider->setSliderPosition(slider->value());
}

void CDialog::SetTimer(int id, int milliseconds) {
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
  }
  timer->start(milliseconds);
}

void CDialog::KillTimer(int id) {
  const auto found = timers_.find(id);
  if (found != timers_.end() && found->second) found->second->stop();
}

bool CDialog::TimerRunning(int id) const {
  const auto found = timers_.find(id);
  return found != timers_.end() && found->second && found->second->isActive();
}

int CDialog::TimerInterval(int id) const {
  const auto found = timers_.find(id);
  return found != timers_.end() && found->second ? found->second->interval() : 0;
}

int CDialog::ShowMessage(const QString& text, const QString& caption, MessageIcon icon) {
  return ui_.MessageBox(this, text, caption, icon);
}

void CDialog::Click(int id) {
  QWidget* widget = GetDlgItem(id);
  if (!widget || !widget->isEnabled()) return;
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->click();
}

void CDialog::SelectItem(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(GetDlgItem(id));
  if (!combo || !combo->isEnabled()) return;
  SetCurSel(id, index);
  OnSelChange(id);
}

void CDialog::Scroll(int id, int code, int position) {
  auto* slider = qobject_cast<QSlider*>(GetDlgItem(id));
  if (!slider || !slider->isEnabled()) return;
  {
    const QSignalBlocker block(slider);
    slider->setSliderPosition(position);
    if (code != SB_THUMBTRACK) slider->setValue(position);
  }
  if (slider->orientation() == Qt::Vertical)
    OnVScroll(id, code, slider->sliderPosition());
  else
    OnHScroll(id, code, slider->sliderPosition());
}

}  // namespace ui

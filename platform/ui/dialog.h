#pragma once

#include <QDialog>
#include <QString>
#include <map>
#include <memory>

#include "platform/ui/dialog_template.h"
#include "platform/ui/ui_service.h"

class QTimer;
class QSlider;
class QComboBox;

namespace ui {

class CDialog;

// Slider notifications, with the codes of the platform's scroll messages.
enum ScrollCode : int {
  SB_LINELEFT = 0,
  SB_LINERIGHT = 1,
  SB_PAGELEFT = 2,
  SB_PAGERIGHT = 3,
  SB_THUMBPOSITION = 4,
  SB_THUMBTRACK = 5,
  SB_LEFT = 6,
  SB_RIGHT = 7,
  SB_ENDSCROLL = 8,
};

// Moves values between a dialog's members and its controls, in the order
// of the calls. Writing back a value that does not parse shows the
// framework's message, puts the focus on that box and fails the exchange;
// the remaining calls then do nothing.
class DataExchange {
 public:
  DataExchange(CDialog& dialog, bool saveAndValidate) : dialog_(dialog), saving_(saveAndValidate) {}

  bool Saving() const { return saving_; }
  bool Failed() const { return failed_; }

  // Decimal integers.
  void Text(int id, int& value);
  // General format with up to 15 significant digits.
  void Text(int id, double& value);
  void Text(int id, QString& value);
  void Check(int id, bool& value);

 private:
  void Fail(int id, const QString& message);

  CDialog& dialog_;
  const bool saving_;
  bool failed_ = false;
};

// Number texts as the dialogs show and read them. Parsing is strict: blanks
// around the number are allowed, anything else fails.
QString FormatInt(int value);
QString FormatDouble(double value);
bool ParseInt(const QString& text, int* value);
bool ParseDouble(const QString& text, double* value);

inline const QString kInvalidIntegerMessage = QStringLiteral("Please enter an integer.");
inline const QString kInvalidNumberMessage = QStringLiteral("Please enter a number.");

// A dialog built from a template. Its window and controls exist from
// Create (modeless) or DoModal (modal) on; until then only the members
// hold values. OK, Cancel, Escape and the close box go through OnOK and
// OnCancel, which a modeless dialog answers by hiding.
class CDialog : public QDialog {
 public:
  CDialog(DialogTemplate dialogTemplate, IUiService& ui, QWidget* parent = nullptr);
  ~CDialog() override;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the window and runs OnInitDialog once; later calls only report
  // that the window exists.
  bool Create();
  // Runs the dialog modally and returns what EndDialog was given.
  int DoModal();
  // A modal run ends with `result`; a modeless window is hidden.
  void EndDialog(int result);
  bool HasWindow() const { return created_; }
  bool IsModal() const { return modal_; }

  bool UpdateData(bool saveAndValidate = true);

  // Null for an unknown identifier or before the window exists.
  QWidget* GetDlgItem(int id) const;
  template <class T>
  T* Item(int id) const {
    return qobject_cast<T*>(GetDlgItem(id));
  }
  QString GetDlgItemText(int id) const;
  void SetDlgItemText(int id, const QString& text);
  void ShowControl(int id, bool show);
  void EnableControl(int id, bool enable);
  bool IsControlShown(int id) const;
  bool IsControlEnabled(int id) const;
  bool IsChecked(int id) const;
  void SetCheck(int id, bool checked);
  // -1 when nothing is selected.
  int GetCurSel(int id) const;
  void SetCurSel(int id, int index);
  int GetPos(int id) const;
  void SetPos(int id, int position);

  // (Re)starts timer `id`; each tick calls OnTimer.
  void SetTimer(int id, int milliseconds);
  void KillTimer(int id);
  bool TimerRunning(int id) const;
  int TimerInterval(int id) const;

  const DialogTemplate& Template() const { return template_; }
  DialogBaseUnits BaseUnits() const { return units_; }
  // A rectangle in dialog units, in pixels of this dialog.
  QRect MapDialogRect(const QRect& dialogUnits) const;
  IUiService& Ui() const { return ui_; }
  int ShowMessage(const QString& text, const QString& caption, MessageIcon icon);

  // Scripted user actions, as the window system would deliver them.
  void Click(int id);
  void SelectItem(int id, int index);
  void Scroll(int id, int code, int position);

 protected:
  // Base: moves the members into the controls.
  virtual bool OnInitDialog();
  virtual void DoDataExchange(DataExchange& exchange);
  // Base: reads back, then ends with IDOK.
  virtual void OnOK();
  // Base: ends with IDCANCEL without reading back.
  virtual void OnCancel();
  virtual void OnTimer(int id);
  // A click on a button; IDOK and IDCANCEL go to OnOK and OnCancel.
  virtual void OnCommand(int id);
  virtual void OnSelChange(int id);
  virtual void OnHScroll(int id, int code, int position);
  virtual void OnVScroll(int id, int code, int position);
  // The widget for a control; override to supply a widget of your own
  // for some identifiers and call the base for the rest.
  virtual QWidget* CreateControl(const ControlTemplate& control);

  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 public:
  // QDialog's own entry points route through OnOK and OnCancel.
  void accept() override;
  void reject() override;
  void done(int result) override;

 private:
  void BuildControls();
  void ConnectNotifications(QWidget* widget, const ControlTemplate& control);

  DialogTemplate template_;
  IUiService& ui_;
  DialogBaseUnits units_;
  std::map<int, QWidget*> controls_;
  std::map<int, QTimer*> timers_;
  bool created_ = false;
  bool modal_ = false;
  bool ending_ = false;
};

}  // namespace ui

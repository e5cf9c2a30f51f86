#pragma once

#include <QDialog>
#include <QSpinBox>
#include <string>

class QCheckBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class TFramePlacement;

// An integer box whose text may run out of range while it is typed; the
// value is pulled into range when it is set, when the box loses the focus and
// whenever it is read.
//
// Only digits, signs and the decimal separator may be typed; any other key
// that would type something is dropped with a beep.
class TSpinEdit : public QSpinBox {
  Q_OBJECT

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  int Value() const;
  void SetValue(int value);

 signals:
  // A typed key was dropped; the box beeps.
  void KeyRefused();

 protected:
  QValidator::State validate(QString& input, int& position) const override;
  int valueFromText(const QString& text) const override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  static bool IsRefusedKey(const QKeyEvent& event);
};

// The port editor: one port definition, validated by its OK button. The
// duplicate test is the port list's affair, made after this dialog returned
// OK with the help of OldPort.
class TForm3 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);

  // The OK handler: either shows an error box and leaves the dialog open with
  // the focus where the operator has to correct, or accepts. A failure it
  // did not foresee shows the general error box, the dialog left open.
  void BitBtn1Click();

  // The control that has the focus when the dialog is shown next.
  void SetActiveControl(QWidget* control);

  QLineEdit* ePort = nullptr;
  QLineEdit* eDirectory = nullptr;
  QLineEdit* eFormat = nullptr;
  TSpinEdit* seDays = nullptr;
  QLineEdit* eComment = nullptr;
  QCheckBox* cbOverwrite = nullptr;
  // Not shown: the port text of the row being edited, empty for an addition.
  QLineEdit* OldPort = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildControls();
  bool Validate();
  bool Fail(const char* message, QWidget* focus);

  QWidget* strip_ = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QWidget* activeControl_ = nullptr;
  TFramePlacement* placement_ = nullptr;
  bool placed_ = false;
};

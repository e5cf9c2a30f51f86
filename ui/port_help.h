#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class TFramePlacement;

// Explains the fields of a port definition and the date-time pattern of
// capture file names. The text box is editable, but what the operator types
// is never saved; it stays until the program ends because the dialog is only
// hidden between showings.
class THelp1 : public QDialog {
  Q_OBJECT

 public:
  explicit THelp1(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();

  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  TFramePlacement* placement_ = nullptr;
  bool placed_ = false;
};

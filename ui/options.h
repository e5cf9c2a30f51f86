#pragma once

#include <QDialog>
#include <string>

class QPushButton;
class QTableWidget;
class TForm3;
class TFramePlacement;
class THelp1;

// The port list dialog: every port definition of the settings file as one
// grid row. Rows are added and edited through the port editor, deleted after
// a confirmation, and written back to [Ports] only on OK. The grid is its only
// store: the close box drops every change, and the opener reloads the grid
// from the file before each showing.
class TForm2 : public QDialog {
  Q_OBJECT

 public:
  // Uses the settings file beside the executable.
  explicit TForm2(QWidget* parent = nullptr);
  // Uses the given settings file (tests pass a temporary one).
  explicit TForm2(std::string settingsPath, QWidget* parent = nullptr);

  // The editor and help dialogs are created separately at start-up; the
  // dialog uses them only while it is shown.
  void Attach(TForm3* editor, THelp1* help);

  // Loads the grid from [Ports]; called by the opener before each showing.
  void CreateRows();
  // Byte-wise ascending order of the port texts.
  void SortRows();
  // Edit and Delete are enabled exactly when a data row exists.
  void EnableButtons();
  // After the editor returned OK: the duplicate test and the storing of the
  // editor's values. False when the port is already used (nothing stored).
  bool PortisOK(bool editing);
  // Removes data row `row` (1-based; row 0 is the header row).
  void DeleteRow(int row);

  void btnAddClick();
  void btnEditClick();
  void btnDeleteClick();
  void BitBtn1Click();
  void BitBtn2Click();

  // The grid in its own row numbering: row 0 is the header row, data rows
  // count from 1, so RowCount() includes the header.
  int RowCount() const;
  std::string Cell(int row, int column) const;
  int SelectedRow() const;
  void SelectRow(int row);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormShow();
  void BuildControls();
  void SetCell(int row, int column, const std::string& text);
  void ExchangeRows(int first, int second);
  int FindPortRow(const std::string& port) const;
  void RunEditor(bool editing);
  void SaveRows();

  std::string settingsPath_;
  TForm3* editor_ = nullptr;
  THelp1* help_ = nullptr;
  TFramePlacement* placement_ = nullptr;
  bool placed_ = false;

  QTableWidget* StringGrid1 = nullptr;
  QPushButton* btnAdd = nullptr;
  QPushButton* btnEdit = nullptr;
  QPushButton* btnDelete = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QPushButton* BitBtn1 = nullptr;
};

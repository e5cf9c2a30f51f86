#include "ui/options.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>
#include <utility>
#include <vector>

#include "base/text.h"
#include "capture/ini_file.h"
#include "capture/port_definition.h"
#include "ui/add_port.h"
#include "ui/frame_placement.h"
#include "ui/message_box.h"
#include "ui/port_help.h"
#include "ui/window_style.h"

namespace {

constexpr int kColumnCount = 6;
constexpr const char* kHeaders[kColumnCount] = {"Port",      "Directory", "File Format",
                                                "Overwrite", "Days",      "Comments"};
constexpr int kColumnWidths[kColumnCount] = {56, 203, 144, 64, 63, 132};

constexpr int kClientWidth = 674;
constexpr int kClientHeight = 340;
constexpr int kStripTop = 299;
constexpr int kButtonTop = kStripTop + 8;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(name);
  button->setGeometry(left, kButtonTop, 75, 25);
  // Enter on a focused button runs that button; anywhere else it runs OK.
  button->setAutoDefault(true);
  return button;
}

}  // namespace

TForm2::TForm2(QWidget* parent) : TForm2(SettingsFilePath(), parent) {}

TForm2::TForm2(std::string settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  SetUpDialog(this, "Form2", "Ports");
  setFixedSize(kClientWidth, kClientHeight);
  BuildControls();
  placement_ = new TFramePlacement(this, [this](const QMargins& frame) {
    return TFramePlacement::CentredOnScreen(this, size().grownBy(frame));
  });
}

void TForm2::BuildControls() {
  auto* gridPanel = new QWidget(this);
  gridPanel->setGeometry(0, 0, kClientWidth, kStripTop);

  StringGrid1 = new QTableWidget(0, kColumnCount, gridPanel);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setGeometry(1, 1, 672, 297);
  StringGrid1->verticalHeader()->hide();
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setDragEnabled(false);
  StringGrid1->setShowGrid(true);
  StringGrid1->setWordWrap(false);
  // Arrows move within the grid; Tab moves on to the buttons.
  StringGrid1->setTabKeyNavigation(false);
  StringGrid1->setAccessibleName("Port definitions");
  StringGrid1->horizontalHeader()->setSectionsMovable(false);
  StringGrid1->horizontalHeader()->setHighlightSections(false);
  for (int column = 0; column < kColumnCount; ++column) {
    StringGrid1->setHorizontalHeaderItem(column, new QTableWidgetItem(kHeaders[column]));
    StringGrid1->setColumnWidth(column, kColumnWidths[column]);
  }

  btnAdd = MakeButton(this, "btnAdd", "&Add", 8);
  btnEdit = MakeButton(this, "btnEdit", "&Edit", 88);
  btnDelete = MakeButton(this, "btnDelete", "&Delete", 168);
  BitBtn2 = MakeButton(this, "BitBtn2", "&Help", 496);
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
  BitBtn1 = MakeButton(this, "BitBtn1", "OK", 584);
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  BitBtn1->setDefault(true);

  setTabOrder(StringGrid1, BitBtn1);
  setTabOrder(BitBtn1, BitBtn2);
  setTabOrder(BitBtn2, btnAdd);
  setTabOrder(btnAdd, btnEdit);
  setTabOrder(btnEdit, btnDelete);

  connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
  connect(btnEdit, &QPushButton::clicked, this, [this] { btnEditClick(); });
  connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
}

void TForm2::Attach(TForm3* editor, THelp1* help) {
  editor_ = editor;
  help_ = help;
}

int TForm2::RowCount() const { return StringGrid1->rowCount() + 1; }

std::string TForm2::Cell(int row, int column) const {
  if (row == 0) return kHeaders[column];
  const QTableWidgetItem* item = StringGrid1->item(row - 1, column);
  return item ? item->text().toStdString() : std::string();
}

void TForm2::SetCell(int row, int column, const std::string& text) {
  QTableWidgetItem* item = StringGrid1->item(row - 1, column);
  if (item)
    item->setText(QString::fromStdString(text));
  else
    StringGrid1->setItem(row - 1, column, new QTableWidgetItem(QString::fromStdString(text)));
}

int TForm2::SelectedRow() const {
  const int current = StringGrid1->currentRow();
  return current < 0 ? 0 : current + 1;
}

void TForm2::SelectRow(int row) {
  if (row >= 1 && row < RowCount()) StringGrid1->selectRow(row - 1);
}

void TForm2::CreateRows() {
  const std::vector<TPortEntry> ports = PortEntries(TIniFile(settingsPath_).Load());
  StringGrid1->setRowCount(0);
  StringGrid1->setRowCount(static_cast<int>(ports.size()));
  int row = 1;
  for (const auto& [port, definition] : ports) {
    SetCell(row, 0, port);
    SetCell(row, 1, definition.Directory);
    SetCell(row, 2, definition.FileFormat);
    SetCell(row, 3, definition.OverwriteMark);
    SetCell(row, 4, definition.Days);
    SetCell(row, 5, definition.Comments);
    ++row;
  }
  SelectRow(1);
}

void TForm2::ExchangeRows(int first, int second) {
  for (int column = 0; column < kColumnCount; ++column) {
    QTableWidgetItem* upper = StringGrid1->takeItem(first - 1, column);
    QTableWidgetItem* lower = StringGrid1->takeItem(second - 1, column);
    StringGrid1->setItem(first - 1, column, lower);
    StringGrid1->setItem(second - 1, column, upper);
  }
  // The selection stays with its row's content.
  const int selected = SelectedRow();
  if (selected == first)
    SelectRow(second);
  else if (selected == second)
    SelectRow(first);
}

// An exchange sort: each row in turn takes the smallest port text of the
// rows from it down. It is not stable: rows with the same port text may
// change places. std::string compares bytes as unsigned values, shorter
// prefix first.
void TForm2::SortRows() {
  const int rows = RowCount();
  for (int i = 1; i < rows; ++i)
    for (int k = rows - 1; k > i; --k)
      if (Cell(i, 0) > Cell(k, 0)) ExchangeRows(i, k);
}

void TForm2::EnableButtons() {
  const bool anyRow = RowCount() > 1;
  btnEdit->setEnabled(anyRow);
  btnDelete->setEnabled(anyRow);
}

void TForm2::FormShow() {
  EnableButtons();
  SelectRow(1);
  StringGrid1->setFocus();
}

// Centred at the first showing only; later showings find the dialog where
// the operator left it.
void TForm2::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
  if (!std::exchange(placed_, true)) placement_->Place();
}

// No Cancel: Escape must not close the dialog.
void TForm2::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

int TForm2::FindPortRow(const std::string& port) const {
  for (int row = 1; row < RowCount(); ++row)
    if (Cell(row, 0) == port) return row;
  return 0;
}

bool TForm2::PortisOK(bool editing) {
  const std::string typed = editor_->ePort->text().toStdString();
  const bool unchanged = editing && editor_->OldPort->text().toStdString() == typed;
  if (!unchanged && FindPortRow(TrimBlanks(typed)) != 0) {
    ShowErrorBox(this, "Port Already In Use");
    return false;
  }
  int target = SelectedRow();
  if (!editing) {
    StringGrid1->setRowCount(StringGrid1->rowCount() + 1);
    target = RowCount() - 1;
  }
  SetCell(target, 0, typed);
  SetCell(target, 1, editor_->eDirectory->text().toStdString());
  SetCell(target, 2, editor_->eFormat->text().toStdString());
  SetCell(target, 3, editor_->cbOverwrite->isChecked() ? "T" : "F");
  SetCell(target, 4, FormatInteger(editor_->seDays->Value()));
  SetCell(target, 5, editor_->eComment->text().toStdString());
  SelectRow(target);
  SortRows();
  return true;
}

// Shows the editor until it is cancelled or its port is stored; after a
// refused duplicate it opens again with what the operator entered.
void TForm2::RunEditor(bool editing) {
  while (editor_->exec() == QDialog::Accepted)
    if (PortisOK(editing)) return;
}

void TForm2::btnAddClick() {
  AtEventEdge(this, [this] {
    editor_->ePort->clear();
    editor_->eDirectory->clear();
    editor_->eFormat->clear();
    editor_->eComment->clear();
    editor_->cbOverwrite->setChecked(false);
    editor_->seDays->SetValue(0);
    editor_->OldPort->clear();
    editor_->SetActiveControl(editor_->ePort);
    RunEditor(false);
    EnableButtons();
  });
}

void TForm2::btnEditClick() {
  AtEventEdge(this, [this] {
    const int row = SelectedRow();
    if (row < 1) return;
    editor_->ePort->setText(QString::fromStdString(Cell(row, 0)));
    editor_->OldPort->setText(editor_->ePort->text());
    editor_->eDirectory->setText(QString::fromStdString(Cell(row, 1)));
    editor_->eFormat->setText(QString::fromStdString(Cell(row, 2)));
    editor_->cbOverwrite->setChecked(Cell(row, 3).starts_with('T'));
    // A Days cell that is no number (a hand-edited file) fails here, before
    // the editor opens.
    editor_->seDays->SetValue(ParseInteger(Cell(row, 4)));
    editor_->eComment->setText(QString::fromStdString(Cell(row, 5)));
    editor_->SetActiveControl(editor_->ePort);
    RunEditor(true);
  });
}

void TForm2::btnDeleteClick() {
  AtEventEdge(this, [this] {
    const int row = SelectedRow();
    if (row < 1) return;
    if (ConfirmBox(this, "Delete port " + Cell(row, 0))) DeleteRow(row);
  });
}

void TForm2::DeleteRow(int row) {
  if (row >= 1 && row < RowCount()) {
    StringGrid1->removeRow(row - 1);
    SelectRow(std::min(row, RowCount() - 1));
  }
  EnableButtons();
}

// The whole section goes to the file in one write, so a failure leaves the
// old port list complete instead of a part of the new one.
void TForm2::SaveRows() {
  std::vector<std::pair<std::string, std::string>> entries;
  for (int row = 1; row < RowCount(); ++row) {
    const TPortDefinition definition{Cell(row, 1), Cell(row, 2), Cell(row, 3), Cell(row, 4),
                                     Cell(row, 5)};
    entries.emplace_back(Cell(row, 0), EncodePortDefinition(definition));
  }
  TIniFile(settingsPath_).ReplaceSection(kPortsSection, entries);
}

// The dialog closes with OK even when the save failed: the failure is shown,
// and the opener restarts from whatever the file holds.
void TForm2::BitBtn1Click() {
  AtEventEdge(this, [this] { SaveRows(); });
  accept();
}

void TForm2::BitBtn2Click() {
  AtEventEdge(this, [this] {
    if (help_) help_->exec();
  });
}

#include "ui/job_list_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <iterator>
#include <set>
#include <utility>

#include "base/disk_file.h"
#include "base/paths.h"
#include "base/system_calls.h"
#include "base/text.h"
#include "capture/ini_file.h"
#include "ui/capture_opener.h"
#include "ui/job_index_loader.h"
#include "ui/job_list_model.h"
#include "ui/message_box.h"
#include "ui/remembered_size.h"

namespace {

constexpr QSize kDesignSize(960, 540);

// Enter, Delete and Ctrl+C on the list run the window's actions instead of
// the view's own (which would start editing or copy one cell).
class TListKeys : public QObject {
 public:
  TListKeys(TJobListWindow* window, QObject* view) : QObject(view), window_(window) {
    view->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
      window_->OpenSelected();
    else if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier)
      window_->DeleteSelected();
    else if (key->matches(QKeySequence::Copy))
      window_->CopySelectedPaths();
    else
      return false;
    return true;
  }

 private:
  TJobListWindow* window_;
};

// "80,50,120": empty when any part is no number.
std::vector<int> NumbersOf(std::string_view text) {
  std::vector<int> numbers;
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(','), text.size());
    int32_t value = 0;
    if (!TryParseInteger(text.substr(0, comma), value)) return {};
    numbers.push_back(value);
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  return numbers;
}

// Room beside a cell's text for the grid and the cell's margins.
constexpr int kCellPadding = 12;

std::string JoinNumbers(const std::vector<int>& numbers) {
  std::string text;
  for (int number : numbers) {
    if (!text.empty()) text += ',';
    text += FormatInteger(number);
  }
  return text;
}

}  // namespace

TJobListWindow::TJobListWindow(TJobListModel* model, TSetup setup, QWidget* parent)
    : QWidget(parent, Qt::Window),
      model_(model),
      setup_(std::move(setup)),
      size_(new TRememberedSize(this, setup_.SettingsPath, kSection, kDesignSize)),
      loader_(new TJobIndexLoader(
          [this](TJobIndexLoader::TResult result) {
            Guarded([this, &result] {
              for (const std::string& failure : result.Failures)
                if (setup_.FailureLine) setup_.FailureLine(failure);
              model_->MergeLoaded(std::move(result.History));
            });
          },
          this)) {
  setObjectName("JobListWindow");
  setWindowTitle("Job List");
  setAccessibleName("Job List");
  BuildControls();
  ConnectModel();
}

TJobListWindow::~TJobListWindow() = default;

void TJobListWindow::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  edFilter = new QLineEdit(this);
  edFilter->setObjectName("edFilter");
  edFilter->setPlaceholderText("Filter");
  edFilter->setAccessibleName("Filter");
  edFilter->setAccessibleDescription("Shows only the jobs with this text in any column.");
  edFilter->setClearButtonEnabled(true);
  for (QAbstractButton* clear : edFilter->findChildren<QAbstractButton*>())
    clear->setAccessibleName("Clear filter");
  layout->addWidget(edFilter);

  splJobList = new QSplitter(Qt::Horizontal, this);
  splJobList->setObjectName("splJobList");
  splJobList->setAccessibleName("Jobs and preview");
  splJobList->setChildrenCollapsible(false);
  connect(splJobList, &QSplitter::splitterMoved, this, [this] { splitterMoved_ = true; });
  auto* listSide = new QWidget(splJobList);
  auto* listLayout = new QVBoxLayout(listSide);
  listLayout->setContentsMargins(0, 0, 0, 0);
  tvJobs = new QTableView(listSide);
  tvJobs->setObjectName("tvJobs");
  tvJobs->setAccessibleName("Jobs");
  tvJobs->setModel(model_);
  tvJobs->setSelectionBehavior(QAbstractItemView::SelectRows);
  tvJobs->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tvJobs->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvJobs->setWordWrap(false);
  tvJobs->verticalHeader()->hide();
  tvJobs->horizontalHeader()->setStretchLastSection(true);
  tvJobs->setSortingEnabled(true);
  tvJobs->sortByColumn(0, Qt::DescendingOrder);
  tvJobs->setContextMenuPolicy(Qt::ActionsContextMenu);
  tvJobs->horizontalHeader()->setAccessibleName("Columns");
  tvJobs->verticalHeader()->setAccessibleName("Rows");
  for (QAbstractButton* corner : tvJobs->findChildren<QAbstractButton*>())
    corner->setAccessibleName("Select all jobs");
  new TListKeys(this, tvJobs);
  listLayout->addWidget(tvJobs, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(
      AddButton("Open", "btnOpen", "Opens the selected captures.", &TJobListWindow::OpenSelected));
  buttons->addWidget(AddButton("Open Folder", "btnOpenFolder",
                               "Opens the folders of the selected captures.",
                               &TJobListWindow::OpenSelectedFolder));
  buttons->addWidget(AddButton("Copy Path", "btnCopyPath",
                               "Copies the paths of the selected captures.",
                               &TJobListWindow::CopySelectedPaths));
  buttons->addWidget(AddButton("Resend...", "btnResend",
                               "Sends the selected captures to a host and port.",
                               &TJobListWindow::ResendSelected));
  buttons->addWidget(AddButton("Delete", "btnDelete",
                               "Deletes the selected captures; the jobs stay listed.",
                               &TJobListWindow::DeleteSelected));
  buttons->addStretch();
  listLayout->addLayout(buttons);

  AddMenuAction("Open\tEnter", &TJobListWindow::OpenSelected);
  AddMenuAction("Open Folder", &TJobListWindow::OpenSelectedFolder);
  AddMenuAction("Copy Path\tCtrl+C", &TJobListWindow::CopySelectedPaths);
  AddMenuAction("Resend...", &TJobListWindow::ResendSelected);
  AddMenuAction("Delete\tDel", &TJobListWindow::DeleteSelected);

  splJobList->addWidget(listSide);
  layout->addWidget(splJobList, 1);
}

QPushButton* TJobListWindow::AddButton(const char* text, const char* name, const char* description,
                                       void (TJobListWindow::*action)()) {
  auto* button = new QPushButton(text, tvJobs->parentWidget());
  button->setObjectName(name);
  button->setAccessibleName(QString(text).remove("..."));
  button->setAccessibleDescription(description);
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
  return button;
}

void TJobListWindow::AddMenuAction(const QString& text, void (TJobListWindow::*action)()) {
  auto* entry = new QAction(text, tvJobs);
  connect(entry, &QAction::triggered, this, [this, action] { (this->*action)(); });
  tvJobs->addAction(entry);
}

void TJobListWindow::ConnectModel() {
  connect(tvJobs->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { Guarded([this] { CurrentRowChanged(); }); });
  connect(edFilter, &QLineEdit::textChanged, this,
          [this](const QString& text) { Guarded([this, &text] { model_->SetFilter(text); }); });
  connect(tvJobs, &QAbstractItemView::activated, this, [this] { OpenSelected(); });
  // Rows that come in above the first row in view push it down; the view
  // is moved with them, unless the reader is at the very top, watching the
  // newest jobs arrive.
  connect(model_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
    const bool atTop = tvJobs->verticalScrollBar()->value() == 0;
    topRowBeforeInsert_ = atTop ? -1 : tvJobs->rowAt(0);
  });
  connect(model_, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { KeepTopRowInView(first, last); });
}

void TJobListWindow::KeepTopRowInView(int first, int last) {
  if (topRowBeforeInsert_ < 0 || first > topRowBeforeInsert_) return;
  tvJobs->doItemsLayout();
  QScrollBar* bar = tvJobs->verticalScrollBar();
  const int count = last - first + 1;
  const bool perItem = tvJobs->verticalScrollMode() == QAbstractItemView::ScrollPerItem;
  bar->setValue(bar->value() + count * (perItem ? 1 : tvJobs->rowHeight(first)));
}

void TJobListWindow::SetPreview(QWidget* pane) {
  delete preview_;
  preview_ = pane;
  if (pane != nullptr) splJobList->addWidget(pane);
}

void TJobListWindow::Guarded(const std::function<void()>& body) { AtEventEdge(this, body); }

bool TJobListWindow::Loading() const { return loader_->Running(); }

std::string TJobListWindow::DeleteQuestion(std::size_t count) {
  return "Delete " + FormatInteger(static_cast<int64_t>(count)) +
         (count == 1 ? " capture?" : " captures?");
}

std::vector<int> TJobListWindow::SelectedRows() {
  std::vector<int> rows;
  for (const QModelIndex& index : tvJobs->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  for (int row : rows) model_->CheckGone(row);
  return rows;
}

void TJobListWindow::CurrentRowChanged() {
  const QModelIndex current = tvJobs->selectionModel()->currentIndex();
  if (!current.isValid()) {
    emit CurrentFileChanged(QString());
    return;
  }
  model_->CheckGone(current.row());
  emit CurrentFileChanged(QString::fromStdString(model_->FileAt(current.row())));
}

void TJobListWindow::OpenSelected() {
  Guarded([this] {
    for (int row : SelectedRows()) OpenCaptureFile(this, model_->FileAt(row));
  });
}

void TJobListWindow::OpenSelectedFolder() {
  Guarded([this] {
    std::set<std::string> folders;
    for (int row : SelectedRows()) folders.insert(DirectoryPart(model_->FileAt(row)));
    for (const std::string& folder : folders) OpenCaptureFolder(this, folder);
  });
}

void TJobListWindow::CopySelectedPaths() {
  Guarded([this] {
    QStringList paths;
    for (int row : SelectedRows()) paths << QString::fromStdString(model_->FileAt(row));
    if (!paths.isEmpty()) QGuiApplication::clipboard()->setText(paths.join('\n'));
  });
}

void TJobListWindow::ResendSelected() {
  Guarded([this] {
    QStringList files;
    for (int row : SelectedRows())
      if (!model_->GoneAt(row)) files << QString::fromStdString(model_->FileAt(row));
    if (!files.isEmpty()) emit ResendRequested(files);
  });
}

// A file that cannot be deleted is named with the reason; the others are
// deleted all the same. The rows stay, marked gone: the jobs did happen.
void TJobListWindow::DeleteSelected() {
  Guarded([this] {
    std::vector<int> present;
    for (int row : SelectedRows())
      if (!model_->GoneAt(row)) present.push_back(row);
    if (present.empty() || !ConfirmBox(this, DeleteQuestion(present.size()))) return;
    std::string failures;
    for (int row : present) {
      const std::string path = model_->FileAt(row);
      if (FileCalls().Unlink(path.c_str()) == 0 || errno == ENOENT) continue;
      const std::string reason = InOutErrorMessage(InOutErrorCode(errno, path));
      if (!failures.empty()) failures += '\n';
      failures.append("Unable to delete ").append(path).append(": ").append(reason);
    }
    for (int row : present) model_->CheckGone(row);
    if (!failures.empty()) ShowErrorBox(this, failures);
  });
}

void TJobListWindow::showEvent(QShowEvent* event) {
  if (!opened_) {
    opened_ = true;
    Guarded([this] { FirstOpening(); });
  }
  QWidget::showEvent(event);
}

void TJobListWindow::FirstOpening() {
  RestoreLayout();
  size_->Place();
  if (setup_.ListPortFolders) loader_->Start(setup_.ListPortFolders());
}

void TJobListWindow::hideEvent(QHideEvent* event) {
  Guarded([this] {
    SaveLayout();
    size_->SaveIfResized();
  });
  QWidget::hideEvent(event);
}

void TJobListWindow::RestoreLayout() {
  const TIniSnapshot settings = TIniFile(setup_.SettingsPath).Load();
  columnsRead_ = settings.ReadText(kSection, kColumnsKey, "");
  const std::string splitterRead = settings.ReadText(kSection, kSplitterKey, "");
  // Without kept widths, the first columns fit what they usually hold.
  const char* const samples[] = {"2026-12-09T14:30:05.123+00:00 ", "65535 ", "198.51.100.200 ",
                                 "4294967296 "};
  for (int column = 0; column < static_cast<int>(std::size(samples)); ++column)
    tvJobs->horizontalHeader()->resizeSection(
        column, tvJobs->fontMetrics().horizontalAdvance(samples[column]) + kCellPadding);
  const std::vector<int> widths = NumbersOf(columnsRead_);
  for (std::size_t column = 0; column < widths.size() && column < TJobListModel::kColumns; ++column)
    if (widths[column] > 0)
      tvJobs->horizontalHeader()->resizeSection(static_cast<int>(column), widths[column]);
  const std::vector<int> sizes = NumbersOf(splitterRead);
  if (!sizes.empty() && static_cast<int>(sizes.size()) == splJobList->count())
    splJobList->setSizes(QList<int>(sizes.begin(), sizes.end()));
  columnsRead_ = ColumnsText();
}

std::string TJobListWindow::ColumnsText() const {
  std::vector<int> widths;
  for (int column = 0; column < TJobListModel::kColumns - 1; ++column)
    widths.push_back(tvJobs->horizontalHeader()->sectionSize(column));
  return JoinNumbers(widths);
}

std::string TJobListWindow::SplitterText() const {
  const QList<int> sizes = splJobList->sizes();
  return JoinNumbers(std::vector<int>(sizes.begin(), sizes.end()));
}

// Written only when the reader changed them, in one write, so a file
// nobody changed the layout in stays as it was.
void TJobListWindow::SaveLayout() {
  if (!opened_) return;
  const std::string columns = ColumnsText();
  const std::string splitter = SplitterText();
  if (columns == columnsRead_ && !splitterMoved_) return;
  TIniFile(setup_.SettingsPath)
      .WriteTexts(kSection, {{kColumnsKey, columns}, {kSplitterKey, splitter}});
  columnsRead_ = columns;
  splitterMoved_ = false;
}

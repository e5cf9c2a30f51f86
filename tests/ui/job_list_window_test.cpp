#include "ui/job_list_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <string>
#include <vector>

#include "base/paths.h"
#include "capture/ini_file.h"
#include "jobs/job_index.h"
#include "support/dialog_driver.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "ui/job_list_model.h"

namespace {

std::string EndAt(int second) {
  char text[40];
  std::snprintf(text, sizeof text, "2026-12-08T%02d:%02d:%02d.000Z", second / 3600,
                second / 60 % 60, second % 60);
  return text;
}

std::string IndexLine(int second, const std::string& file) {
  return "s," + EndAt(second) + ",9100,192.0.2.5,5000,3," + file + ",closed,0,,,,,\r\n";
}

THistoryRow Job(int second, const std::string& folder, const std::string& file) {
  TJobIndexFields line;
  line.Fields[static_cast<std::size_t>(TIndexColumn::End)] = EndAt(second);
  line.Fields[static_cast<std::size_t>(TIndexColumn::File)] = file;
  return THistoryRow::FromIndexLine(line, folder);
}

class JobListWindowTest : public TempFolderTest {
 protected:
  TJobListWindow& Window(std::vector<std::string> folders = {}) {
    window_ = std::make_unique<TJobListWindow>(
        &model_,
        TJobListWindow::TSetup{Settings(), [folders] { return folders; },
                               [this](const std::string& line) { lines_.push_back(line); }});
    window_->resize(700, 400);
    return *window_;
  }
  std::string Settings() const { return root_ + "/tarnock.ini"; }
  QTableView* Table() const { return window_->findChild<QTableView*>("tvJobs"); }
  std::string Selected() const {
    const QModelIndexList rows = Table()->selectionModel()->selectedRows();
    return rows.size() == 1 ? model_.FileAt(rows[0].row()) : "<not one>";
  }
  std::string TopFile() const { return model_.FileAt(Table()->rowAt(0)); }

  TBoxRecorder boxes_;
  TJobListModel model_;
  std::unique_ptr<TJobListWindow> window_;
  std::vector<std::string> lines_;
};

// Two ports' indexes are read off the UI thread and merged, newest first,
// and an index that is none gives one exact failure line.
TEST_F(JobListWindowTest, FirstOpeningLoadsTheIndexes) {
  const std::string bad = root_ + "/bad";
  for (const char* name : {"/p1", "/p2", "/bad"}) ::mkdir((root_ + name).c_str(), 0700);
  WriteWholeFile(root_ + "/p1/jobs.csv", kJobIndexHeader + IndexLine(1, "x") + IndexLine(3, "y"));
  WriteWholeFile(root_ + "/p2/jobs.csv", kJobIndexHeader + IndexLine(2, "z"));
  WriteWholeFile(bad + "/jobs.csv", "no,header\r\n");
  model_.AddJob(Job(4, root_ + "/p2", "now"));
  TJobListWindow& window = Window({root_ + "/p1", bad, root_ + "/p2"});
  window.show();
  ASSERT_TRUE(WaitUntil([&] { return !window.Loading(); }));
  EXPECT_TRUE(boxes_.Boxes.empty()) << boxes_.Texts().front();
  std::vector<std::string> files;
  for (int row = 0; row < model_.rowCount(); ++row) files.push_back(model_.FileAt(row));
  EXPECT_EQ(files, (std::vector<std::string>{root_ + "/p2/now", root_ + "/p1/y", root_ + "/p2/z",
                                             root_ + "/p1/x"}));
  EXPECT_EQ(lines_, (std::vector<std::string>{"Job index " + bad +
                                              "/jobs.csv: Not a job index: its first line is no "
                                              "known header"}));
}

// Reading the screen from the middle of the list, a job that finishes
// neither scrolls the rows in view nor moves the selection.
TEST_F(JobListWindowTest, NewJobsMoveNeitherSelectionNorView) {
  for (int second = 0; second < 300; ++second)
    model_.AddJob(Job(second, root_, "f" + std::to_string(second)));
  TJobListWindow& window = Window();
  window.show();
  QTableView* table = Table();
  table->selectRow(120);
  table->scrollTo(model_.index(100, 0), QAbstractItemView::PositionAtTop);
  const std::string top = TopFile(), selected = Selected();
  ASSERT_NE(table->verticalScrollBar()->value(), 0);
  model_.AddJob(Job(1000, root_, "newest"));
  EXPECT_EQ(TopFile(), top);
  EXPECT_EQ(Selected(), selected);
  // At the very top the newest job is what the reader sees arrive.
  table->scrollToTop();
  model_.AddJob(Job(1001, root_, "newer"));
  EXPECT_EQ(TopFile(), root_ + "/newer");
}

// Delete asks naming the count, deletes what it can, names what it cannot
// with the reason, and keeps every row, marked gone.
TEST_F(JobListWindowTest, DeleteConfirmsDeletesAndMarksGone) {
  WriteWholeFile(root_ + "/a", "1");
  WriteWholeFile(root_ + "/b", "2");
  ::mkdir((root_ + "/dir").c_str(), 0700);  // not a file: refused
  for (const char* name : {"a", "b", "dir"}) model_.AddJob(Job(name[0], root_, name));
  TJobListWindow& window = Window();
  window.show();
  Table()->selectAll();
  boxes_.Consent = false;
  QTest::keyClick(Table(), Qt::Key_Delete);
  EXPECT_TRUE(FileIsPresent(root_ + "/a"));
  boxes_.Consent = true;
  window.findChild<QAbstractButton*>("btnDelete")->click();
  EXPECT_EQ(boxes_.Texts(),
            (std::vector<std::string>{"Delete 3 captures?", "Delete 3 captures?",
                                      "Unable to delete " + root_ + "/dir: File access denied"}));
  EXPECT_FALSE(FileIsPresent(root_ + "/a"));
  ASSERT_EQ(model_.rowCount(), 3);
  std::vector<bool> gone;
  for (int row = 0; row < 3; ++row) gone.push_back(model_.GoneAt(row));
  EXPECT_EQ(gone, (std::vector<bool>{false, true, true}));  // dir, b, a
  EXPECT_EQ(TJobListWindow::DeleteQuestion(1), "Delete 1 capture?");
  // Ctrl+C copies the paths, one per line.
  QTest::keyClick(Table(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
            root_ + "/dir\n" + root_ + "/b\n" + root_ + "/a");
}

TEST_F(JobListWindowTest, EveryControlHasAnAccessibleName) {
  TJobListWindow& window = Window();
  window.SetPreview(new QLabel("preview"));
  window.show();
  int controls = 0;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!qobject_cast<QAbstractButton*>(widget) && !qobject_cast<QLineEdit*>(widget) &&
        !qobject_cast<QAbstractItemView*>(widget))
      continue;
    ++controls;
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->text(QAccessible::Name).isEmpty())
        << widget->metaObject()->className() << " " << widget->objectName().toStdString();
  }
  EXPECT_GE(controls, 7);
  EXPECT_EQ(window.findChild<QLineEdit*>("edFilter")->placeholderText(), "Filter");
  EXPECT_EQ(window.windowTitle(), "Job List");
}

// The size, the column widths and the splitter come back as the reader
// left them; a window nobody changed writes nothing.
TEST_F(JobListWindowTest, RemembersSizeColumnsAndSplitter) {
  {
    TJobListWindow& window = Window();
    window.SetPreview(new QLabel("preview"));
    window.show();
    window.close();
    EXPECT_FALSE(FileIsPresent(Settings()));
    window.show();
    Table()->horizontalHeader()->resizeSection(2, 123);
    auto* splitter = window.findChild<QSplitter*>("splJobList");
    splitter->setSizes({400, 250});
    emit splitter->splitterMoved(400, 1);
    window.resize(680, 390);
    window.close();
  }
  const TIniFile settings(Settings());
  const std::string columns = settings.ReadText(TJobListWindow::kSection, "Columns", "");
  const std::string sizes = settings.ReadText(TJobListWindow::kSection, "Splitter", "");
  EXPECT_NE(columns.find(",123,"), std::string::npos) << columns;
  EXPECT_EQ(settings.ReadText(TJobListWindow::kSection, "Width", ""), "680");
  TJobListWindow& again = Window();
  again.SetPreview(new QLabel("preview"));
  again.show();
  EXPECT_EQ(Table()->horizontalHeader()->sectionSize(2), 123);
  const QList<int> restored = again.findChild<QSplitter*>("splJobList")->sizes();
  EXPECT_EQ(std::to_string(restored[0]) + "," + std::to_string(restored[1]), sizes);
}

}  // namespace

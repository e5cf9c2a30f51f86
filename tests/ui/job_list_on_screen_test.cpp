#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <optional>
#include <string>

#include "preview/renderer_choice.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "support/x_display.h"
#include "ui/job_list_window.h"
#include "ui/main_window.h"

namespace {

using namespace std::string_literals;

constexpr const char* kChildVariable = "TARNOCK_JOB_LIST_ON_SCREEN";
constexpr int kStepTimeoutMs = 30000;
constexpr int kChildTimeoutMs = 180000;
constexpr int kPagesTab = 2;

// A receipt: initialize, a line of text, feed and cut.
const std::string kReceipt =
    "\x1b@Front office\n\x1b"
    "d\x03\x1dV\x00"s;
const std::string kPostScript =
    "%!PS\n/Helvetica findfont 24 scalefont setfont\n72 700 moveto (Page one) show showpage\n"
    "72 700 moveto (Page two) show showpage\n";

void Send(uint16_t port, const std::string& bytes) {
  const int peer = ConnectLoopback(port);
  ASSERT_GE(peer, 0);
  ASSERT_TRUE(SendAll(peer, bytes));
  ::close(peer);
}

// Every control a person can reach has a name a screen reader says.
void ExpectEveryControlNamed(QWidget* window) {
  int controls = 0;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    const bool control =
        qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
        qobject_cast<QAbstractItemView*>(widget) || qobject_cast<QTabWidget*>(widget);
    if (!control || !widget->isVisibleTo(window)) continue;
    ++controls;
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->text(QAccessible::Name).isEmpty())
        << widget->metaObject()->className() << " " << widget->objectName().toStdString();
  }
  EXPECT_GE(controls, 12);
}

// The row of the job of that many bytes.
int RowOf(QTableView* table, std::size_t bytes) {
  for (int row = 0; row < table->model()->rowCount(); ++row)
    if (table->model()->index(row, 3).data().toString() == QString::number(bytes)) return row;
  return -1;
}

// The part the child runs on the private display: two jobs arrive, the list
// opens from the Jobs menu framed within the screen, and the preview draws
// the receipt and the PostScript page of the selected job.
TEST(JobListOnScreen, ShowsTheJobsAndDrawsTheirPages) {
  if (!qEnvironmentVariableIsSet(kChildVariable))
    GTEST_SKIP() << "runs as a child of JobListUnderWindowManager";
  TTempFolder folder;
  const uint16_t port = FreeLoopbackPort();
  WriteWholeFile(folder.FilePath("tarnock.ini"), "[Ports]\n" + std::to_string(port) + "=" +
                                                     folder.Path() + ",hhnnss,F,0,\n" +
                                                     "[Jobs]\nOneFilePerJob=1\n");
  TForm1 window(folder.FilePath("tarnock.ini"));
  window.show();
  Send(port, kReceipt);
  Send(port, kPostScript);

  window.findChild<QAction*>("JobList1")->trigger();
  TJobListWindow* list = window.JobList();
  ASSERT_NE(list, nullptr);
  auto* table = list->findChild<QTableView*>("tvJobs");
  ASSERT_TRUE(WaitUntil([&] { return table->model()->rowCount() == 2; }, kStepTimeoutMs));
  const QRect screen = list->screen()->availableGeometry();
  ASSERT_TRUE(WaitUntil(
      [&] {
        return list->frameGeometry() != list->geometry() && screen.contains(list->frameGeometry());
      },
      kStepTimeoutMs));

  auto* tabs = list->findChild<QTabWidget*>("tabPreview");
  auto* number = list->findChild<QLabel*>("lblPageNumber");
  auto* failure = list->findChild<QLabel*>("lblPageFailure");
  tabs->setCurrentIndex(kPagesTab);
  table->selectRow(RowOf(table, kReceipt.size()));
  ASSERT_TRUE(WaitUntil([&] { return number->text() == "Page 1 of 1"; }, kStepTimeoutMs))
      << number->text().toStdString() << " " << failure->text().toStdString();
  EXPECT_EQ(list->findChild<QLabel*>("lblLanguage")->text(), "Language: ESC/POS");
  ExpectEveryControlNamed(list);

  if (FindProgram("gs").empty()) return;
  table->selectRow(RowOf(table, kPostScript.size()));
  ASSERT_TRUE(WaitUntil([&] { return number->text() == "Page 1 of 2"; }, kStepTimeoutMs))
      << number->text().toStdString() << " " << failure->text().toStdString();
  EXPECT_EQ(list->findChild<QLabel*>("lblLanguage")->text(), "Language: PostScript");
}

TEST(JobListUnderWindowManager, ShowsTheJobsAndDrawsTheirPages) {
  if (qEnvironmentVariableIsSet(kChildVariable)) GTEST_SKIP() << "the child runs only its part";
  if (!TXDisplay::Available()) GTEST_SKIP() << "no X server can start here";
  const std::optional<std::string> missing = TXTools::MissingTool();
  ASSERT_FALSE(missing) << *missing << " is missing; scripts/setup.sh installs it";
  TXDisplay display;
  ASSERT_TRUE(display.Start(1024, 768));
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DISPLAY", QString::fromStdString(display.Name()));
  environment.insert("QT_QPA_PLATFORM", "xcb");
  environment.insert(kChildVariable, "1");
  // The X client libraries keep their allocations until the process ends.
  environment.insert("ASAN_OPTIONS", "detect_leaks=0");
  TTempFolder cache;
  environment.insert("XDG_CACHE_HOME", QString::fromStdString(cache.Path()));
  QProcess child;
  child.setProcessEnvironment(environment);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=JobListOnScreen.*"});
  ASSERT_TRUE(child.waitForFinished(kChildTimeoutMs));
  const std::string output = child.readAll().toStdString();
  EXPECT_EQ(child.exitCode(), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

}  // namespace

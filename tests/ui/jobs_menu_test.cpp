#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "capture/ini_file.h"
#include "support/dialog_driver.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "ui/job_list_window.h"
#include "ui/job_settings_dialog.h"
#include "ui/main_window.h"

// Takes the URLs the desktop would have opened.
class TUrlRecorder : public QObject {
  Q_OBJECT

 public:
  TUrlRecorder() { QDesktopServices::setUrlHandler("file", this, "Open"); }
  ~TUrlRecorder() override { QDesktopServices::unsetUrlHandler("file"); }

  std::vector<std::string> Paths;

 public slots:
  void Open(const QUrl& url) { Paths.push_back(url.toLocalFile().toStdString()); }
};

namespace {

std::string AcceptAnyRules(std::string_view) { return ""; }

// Runs the step on the first modal widget or popup of the given type that
// shows, from inside its own loop.
template <typename Widget>
void WhenShown(std::function<void(Widget&)> step) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    QWidget* shown = QApplication::activePopupWidget();
    if (shown == nullptr) shown = QApplication::activeModalWidget();
    auto* widget = qobject_cast<Widget*>(shown);
    if (widget == nullptr) return;
    timer->stop();
    timer->deleteLater();
    step(*widget);
  });
  timer->start(5);
}

class JobsMenuTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.IsValid()); }

  std::string Path(const std::string& relative) const { return folder_.FilePath(relative); }
  std::string Settings() const { return Path("tarnock.ini"); }

  static std::vector<std::string> Entries(QMenu* menu) {
    std::vector<std::string> texts;
    for (const QAction* action : menu->actions())
      texts.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    return texts;
  }

  // The message log holding one line, with the text cursor in it.
  static QPlainTextEdit* LogWithLine(TForm1& window, const std::string& line) {
    window.AppendMessageLine(line);
    window.FlushPanes();
    auto* pane = window.findChild<QPlainTextEdit*>("MessageMemo");
    QTextCursor cursor(pane->document()->lastBlock());
    pane->setTextCursor(cursor);
    return pane;
  }

  static QPoint LinePoint(QPlainTextEdit* pane) {
    return pane->cursorRect(QTextCursor(pane->document()->lastBlock())).center() + QPoint(4, 0);
  }

  TTempFolder folder_;
  TBoxRecorder boxes_;
  TUrlRecorder urls_;
};

TEST_F(JobsMenuTest, JobsStandsBetweenOptionsAndHelpAndListsEachPortsFolder) {
  WriteWholeFile(Settings(), "[Ports]\n9100=" + Path("front") +
                                 ",yyyymmdd,F,0,\n9101=" + Path("a&b") + ",yyyymmdd,F,0,x\n");
  std::filesystem::create_directory(Path("front"));
  TForm1 window(Settings());
  const QList<QAction*> menus = window.menuBar()->actions();
  ASSERT_EQ(menus.size(), 3);
  EXPECT_EQ(menus[0]->text().toStdString(), "Options");
  EXPECT_EQ(menus[1]->text().toStdString(), "Jobs");
  EXPECT_EQ(menus[2]->text().toStdString(), "Help");
  auto* jobs = window.findChild<QMenu*>("Jobs1");
  emit jobs->aboutToShow();
  EXPECT_EQ(Entries(jobs), (std::vector<std::string>{"Job List", "Job Settings", "-",
                                                     "Port 9100: " + Path("front"),
                                                     "Port 9101: " + Path("a&&b")}));
  // Listed afresh at every opening.
  WriteWholeFile(Settings(), "[Ports]\n9100=" + Path("front") + ",yyyymmdd,F,0,\n");
  emit jobs->aboutToShow();
  EXPECT_EQ(Entries(jobs).size(), 4u);

  jobs->actions()[3]->trigger();
  EXPECT_EQ(urls_.Paths, std::vector<std::string>{Path("front")});
  std::filesystem::remove(Path("front"));
  jobs->actions()[3]->trigger();
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Folder not found: " + Path("front")});
}

// Every job of the run is in the list, with no option on, also one that
// finished before the list was first opened; its index is read then.
TEST_F(JobsMenuTest, JobListShowsTheRunsJobsAndTheIndexes) {
  const uint16_t port = FreeLoopbackPort();
  std::filesystem::create_directory(Path("front"));
  WriteWholeFile(Path("front/jobs.csv"),
                 "start,end,port,peer address,peer port,bytes,file,outcome\n"
                 "2026-01-02T10:00:00.000+00:00,2026-01-02T10:00:01.000+00:00,9100,192.0.2.7,"
                 "4000,12,old.txt,closed\n");
  WriteWholeFile(Settings(),
                 "[Ports]\n" + std::to_string(port) + "=" + Path("front") + ",yyyymmdd,F,0,\n");
  TForm1 window(Settings());
  const int peer = ConnectLoopback(port);
  ASSERT_GE(peer, 0);
  ASSERT_TRUE(SendAll(peer, "hello"));
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return window.windowTitle() == "Tarnock - Listening"; }));

  window.findChild<QAction*>("JobList1")->trigger();
  ASSERT_NE(window.JobList(), nullptr);
  auto* table = window.JobList()->findChild<QTableView*>("tvJobs");
  ASSERT_TRUE(WaitUntil([&] { return table->model()->rowCount() == 2; }));
  EXPECT_EQ(table->model()->index(0, 1).data().toString().toStdString(), std::to_string(port));
  EXPECT_EQ(table->model()->index(0, 3).data().toString().toStdString(), "5");
  EXPECT_EQ(table->model()->index(1, 2).data().toString().toStdString(), "192.0.2.7");
}

struct TDialogCase {
  const char* name;
  const char* before;  // the [Jobs] lines in the file, or "" for none
  bool ok;
  bool checkOneFilePerJob;
  const char* oneFilePerJobAfter;  // "<absent>" when not written
  const char* jobIndexAfter;
};

class JobSettingsDialogTest : public JobsMenuTest,
                              public testing::WithParamInterface<TDialogCase> {};

TEST_P(JobSettingsDialogTest, ShowsTheFileAndWritesOnlyOnOk) {
  const TDialogCase& c = GetParam();
  WriteWholeFile(Settings(), std::string("[File]\nDeleteIfEmpty=0\n") + c.before);
  TForm1 window(Settings());
  bool shown = false;
  WhenShown<TJobSettingsDialog>([&](TJobSettingsDialog& dialog) {
    shown = true;
    auto* oneFile = dialog.findChild<QCheckBox*>("cbOneFilePerJob");
    auto* index = dialog.findChild<QCheckBox*>("cbJobIndex");
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Job Settings");
    EXPECT_EQ(oneFile->text().toStdString(), "&One file per job");
    EXPECT_EQ(index->text().toStdString(), "Job &index");
    EXPECT_EQ(index->isChecked(), std::string(c.before).find("JobIndex=1") != std::string::npos);
    if (c.checkOneFilePerJob) oneFile->setChecked(true);
    dialog.findChild<QPushButton*>(c.ok ? "btnOK" : "btnCancel")->click();
  });
  window.findChild<QAction*>("JobSettings1")->trigger();
  EXPECT_TRUE(shown);
  const TIniFile settings(Settings());
  EXPECT_EQ(settings.ReadText("Jobs", "OneFilePerJob", "<absent>"), c.oneFilePerJobAfter);
  EXPECT_EQ(settings.ReadText("Jobs", "JobIndex", "<absent>"), c.jobIndexAfter);
  EXPECT_TRUE(boxes_.Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JobSettingsDialogTest,
    testing::Values(TDialogCase{"CancelWritesNothing", "", false, true, "<absent>", "<absent>"},
                    TDialogCase{"OkWritesEveryOption", "", true, true, "1", "0"},
                    TDialogCase{"OkKeepsWhatItShowed", "[Jobs]\nJobIndex=1\n", true, false, "0",
                                "1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TLimitsCase {
  const char* name;
  const char* senders;
  const char* size;
  const char* box;  // the error box's text, "" for none
};

class JobLimitsDialogTest : public JobsMenuTest, public testing::WithParamInterface<TLimitsCase> {};

// A malformed entry keeps the dialog open and the file as it was; a good
// one is written with the other limits.
TEST_P(JobLimitsDialogTest, WritesTheLimitsOrNamesWhatIsWrong) {
  const TLimitsCase& c = GetParam();
  WriteWholeFile(Settings(), "[Jobs]\nIdleSeconds=30\nDeleteAfterDays=1\n");
  TJobSettingsDialog dialog(Settings(), AcceptAnyRules);
  dialog.LoadSettings();
  auto* idle = dialog.findChild<QSpinBox*>("eIdleSeconds");
  EXPECT_EQ(idle->value(), 30);
  EXPECT_TRUE(dialog.findChild<QCheckBox*>("cbDeleteAfterDays")->isChecked());
  EXPECT_EQ(dialog.findChild<QLineEdit*>("eMaxJobBytes")->text().toStdString(), "0");
  dialog.findChild<QLineEdit*>("eAllowedSenders")->setText(c.senders);
  dialog.findChild<QLineEdit*>("eMaxJobBytes")->setText(c.size);
  idle->setValue(5);
  dialog.btnOKClick();
  const TIniFile settings(Settings());
  if (*c.box != '\0') {
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{c.box});
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(settings.ReadText("Jobs", "IdleSeconds", ""), "30");
    return;
  }
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(settings.ReadText("Jobs", "AllowedSenders", "<absent>"), TrimBlanks(c.senders));
  EXPECT_EQ(settings.ReadText("Jobs", "MaxJobBytes", ""), *c.size ? TrimBlanks(c.size) : "0");
  EXPECT_EQ(settings.ReadText("Jobs", "IdleSeconds", ""), "5");
  EXPECT_EQ(settings.ReadText("Jobs", "DeleteAfterDays", ""), "1");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JobLimitsDialogTest,
    testing::Values(
        TLimitsCase{"Good", "192.168.1.0/24, 10.0.0.7", " 1048576 ", ""},
        TLimitsCase{"IPv6", "::1, fd00::/8, 2001:db8::1/128, 10.0.0.7", "0", ""},
        TLimitsCase{"EmptyMeansAnybody", "", "", ""},
        TLimitsCase{"BadBlock", "10.0.0.7, 10.0.0.0/33", "0",
                    "'10.0.0.0/33' is not an IP address or a block such as 192.168.1.0/24 or "
                    "fd00::/8"},
        TLimitsCase{"BadIPv6Block", "::1, fd00::/129", "0",
                    "'fd00::/129' is not an IP address or a block such as 192.168.1.0/24 or "
                    "fd00::/8"},
        TLimitsCase{"HostName", "printer.local", "0",
                    "'printer.local' is not an IP address or a block such as 192.168.1.0/24 or "
                    "fd00::/8"},
        TLimitsCase{"BadSize", "", "1e6", "'1e6' is not a size in bytes"},
        TLimitsCase{"NegativeSize", "", "-5", "'-5' is not a size in bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TSaveFailureCase {
  const char* name;
  const char* settings;  // where the settings file is, in the test folder
  bool directoryInPlace;
  const char* message;  // the general error box's text, "@" the settings path
};

class JobSettingsSaveFailureTest : public JobsMenuTest,
                                   public testing::WithParamInterface<TSaveFailureCase> {};

// The settings file turns unreadable or unwritable while the dialog is open:
// OK shows why in the general error box, nothing escapes the click, and the
// dialog stays open with what the operator entered.
TEST_P(JobSettingsSaveFailureTest, OkShowsTheFailureAndKeepsTheDialogOpen) {
  const TSaveFailureCase& c = GetParam();
  const std::string settings = Path(c.settings);
  TJobSettingsDialog dialog(settings, AcceptAnyRules);
  dialog.LoadSettings();
  dialog.show();
  if (c.directoryInPlace) std::filesystem::create_directory(settings);
  dialog.findChild<QCheckBox*>("cbJobIndex")->setChecked(true);
  QTest::mouseClick(dialog.findChild<QPushButton*>("btnOK"), Qt::LeftButton);
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::GeneralError);
  std::string message = c.message;
  message.replace(message.find('@'), 1, settings);
  EXPECT_EQ(boxes_.Boxes[0].Text, message);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(dialog.findChild<QCheckBox*>("cbJobIndex")->isChecked());
}

INSTANTIATE_TEST_SUITE_P(Rows, JobSettingsSaveFailureTest,
                         testing::Values(TSaveFailureCase{"Unreadable", "tarnock.ini", true,
                                                          "File access denied: @."},
                                         TSaveFailureCase{"Unwritable", "missing/tarnock.ini",
                                                          false, "Unable to write to @."}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobsMenuTest, DoubleClickOrEnterOnASizeLineOpensItsFile) {
  WriteWholeFile(Path("a b.txt"), "x");
  TForm1 window(Settings());
  QPlainTextEdit* pane =
      LogWithLine(window, "08/12/26 14:30 - 1 bytes written to " + Path("a b.txt"));
  QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, LinePoint(pane));
  QTest::keyClick(pane, Qt::Key_Return);
  EXPECT_EQ(urls_.Paths, (std::vector<std::string>{Path("a b.txt"), Path("a b.txt")}));

  std::filesystem::remove(Path("a b.txt"));
  QTest::keyClick(pane, Qt::Key_Enter);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"File not found: " + Path("a b.txt")});

  // Any other line keeps the pane's own behaviour.
  pane = LogWithLine(window, "08/12/26 14:31 - Connected to: 127.0.0.1 on port 9100");
  QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, LinePoint(pane));
  QTest::keyClick(pane, Qt::Key_Return);
  EXPECT_EQ(urls_.Paths.size(), 2u);
  EXPECT_EQ(boxes_.Boxes.size(), 1u);
}

// How the reader opens a line's menu.
enum class TMenuOpening { Mouse, MenuKey, ShiftF10 };

struct TMenuCase {
  const char* name;
  const char* entry;
  TMenuOpening opening;
  bool opensFile;
  bool opensFolder;
  const char* copied;  // what the clipboard holds afterwards; @ stands for the capture's path
};

class CaptureMenuTest : public JobsMenuTest, public testing::WithParamInterface<TMenuCase> {};

TEST_P(CaptureMenuTest, OffersTheCaptureEntriesAboveThePanesOwn) {
  std::filesystem::create_directory(Path("cap"));
  WriteWholeFile(Path("cap/job.txt"), "x");
  TForm1 window(Settings());
  // The Menu key's menu is the text cursor's line's, not the first line's.
  window.AppendMessageLine("08/12/26 14:29 - Connected to: 127.0.0.1 on port 9100");
  const std::string line = "08/12/26 14:30 - 1 bytes written to " + Path("cap/job.txt");
  QPlainTextEdit* pane = LogWithLine(window, line);
  QTextCursor selection = pane->textCursor();
  selection.select(QTextCursor::LineUnderCursor);
  pane->setTextCursor(selection);
  QApplication::clipboard()->setText("before");
  std::vector<std::string> offered;
  WhenShown<QMenu>([&](QMenu& menu) {
    offered = Entries(&menu);
    for (QAction* action : menu.actions())
      if (action->text() == GetParam().entry) action->trigger();
    menu.close();
  });
  const QPoint point = LinePoint(pane);
  switch (GetParam().opening) {
    case TMenuOpening::Mouse: {
      QContextMenuEvent event(QContextMenuEvent::Mouse, point,
                              pane->viewport()->mapToGlobal(point));
      QApplication::sendEvent(pane->viewport(), &event);
      break;
    }
    case TMenuOpening::MenuKey: {
      // The Menu key's event goes to the focused pane, wherever the mouse is.
      QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(1, 1),
                              pane->mapToGlobal(QPoint(1, 1)));
      QApplication::sendEvent(pane, &event);
      break;
    }
    case TMenuOpening::ShiftF10:
      QTest::keyClick(pane, Qt::Key_F10, Qt::ShiftModifier);
      break;
  }
  EXPECT_EQ(offered, (std::vector<std::string>{"Open File", "Open Folder", "Copy Path", "-",
                                               "&Copy\tCtrl+C", "-", "Select All\tCtrl+A"}));
  std::vector<std::string> expected;
  if (GetParam().opensFile) expected.push_back(Path("cap/job.txt"));
  if (GetParam().opensFolder) expected.push_back(Path("cap/"));
  EXPECT_EQ(urls_.Paths, expected);
  const std::string copied = GetParam().copied;
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), copied == "@" ? Path("cap/job.txt")
                                                             : copied == "line" ? line
                                                                                : copied);
  if (std::string(GetParam().entry).starts_with("Select All")) {
    EXPECT_EQ(pane->textCursor().selection().toPlainText(), pane->toPlainText());
  }
}

INSTANTIATE_TEST_SUITE_P(Entries, CaptureMenuTest,
                         testing::Values(TMenuCase{"OpenFileByMouse", "Open File",
                                                   TMenuOpening::Mouse, true, false, "before"},
                                         TMenuCase{"OpenFolderByMenuKey", "Open Folder",
                                                   TMenuOpening::MenuKey, false, true, "before"},
                                         TMenuCase{"CopyPathByShiftF10", "Copy Path",
                                                   TMenuOpening::ShiftF10, false, false, "@"},
                                         TMenuCase{"CopySelection", "&Copy\tCtrl+C",
                                                   TMenuOpening::Mouse, false, false, "line"},
                                         TMenuCase{"SelectAll", "Select All\tCtrl+A",
                                                   TMenuOpening::ShiftF10, false, false, "before"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#include "jobs_menu_test.moc"

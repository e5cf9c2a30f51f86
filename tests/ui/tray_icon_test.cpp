#include "ui/tray_icon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "capture/log_lines.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "ui/main_window.h"

namespace {

// What the exec loop answers when the program went on running after the
// step; a step that ends the program makes it answer 0.
constexpr int kStillRunning = 3;

// The offscreen platform has no tray; the window is told there is one, as
// the program tells it on a desktop that has one.
class TrayIconTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.IsValid());
    settingsPath_ = folder_.FilePath("tarnock.ini");
  }
  // A window with a tray stops the program from ending with its last window.
  void TearDown() override { QApplication::setQuitOnLastWindowClosed(true); }

  std::string CloseToTray() const {
    return TIniFile(settingsPath_).ReadText("Window", "CloseToTray", "<absent>");
  }

  static QStringList Texts(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* action : actions) texts << (action->isSeparator() ? "-" : action->text());
    return texts;
  }

  TTempFolder folder_;
  std::string settingsPath_;
};

enum class TEnding { CloseBox, CloseEntry, CtrlQ, TrayQuit };

struct TEndingCase {
  const char* name;
  bool tray;
  const char* settings;
  TEnding how;
  bool ends;
};

TEST_F(TrayIconTest, TheCloseBoxHidesOnlyWhenKeptInTheTrayAndCloseAlwaysEnds) {
  constexpr const char* kKept = "[Window]\nCloseToTray=1\n";
  const std::vector<TEndingCase> cases = {
      {"tray, not kept: close box ends", true, "", TEnding::CloseBox, true},
      {"kept in the tray: close box hides", true, kKept, TEnding::CloseBox, false},
      {"kept in the tray: Close ends", true, kKept, TEnding::CloseEntry, true},
      {"kept in the tray: Ctrl+Q ends", true, kKept, TEnding::CtrlQ, true},
      {"no tray: Ctrl+Q ends", false, "", TEnding::CtrlQ, true},
      {"kept in the tray: the tray's Quit ends", true, kKept, TEnding::TrayQuit, true},
  };
  for (const TEndingCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteWholeFile(settingsPath_, c.settings));
    QApplication::setQuitOnLastWindowClosed(true);
    TForm1 window(settingsPath_);
    window.SetUpTray(c.tray);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTimer::singleShot(0, &window, [&] {
      switch (c.how) {
        case TEnding::CloseBox:
          window.close();
          break;
        case TEnding::CloseEntry:
          window.findChild<QAction*>("Close2")->trigger();
          break;
        case TEnding::CtrlQ:
          QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
          break;
        case TEnding::TrayQuit:
          window.Tray()->Menu()->findChild<QAction*>("TrayQuit")->trigger();
      }
      // Queued behind the end that the step may have posted.
      QMetaObject::invokeMethod(
          &window, [] { QCoreApplication::exit(kStillRunning); }, Qt::QueuedConnection);
    });
    EXPECT_EQ(QApplication::exec(), c.ends ? 0 : kStillRunning);
    // Ending closes every window; the tray hides its own.
    EXPECT_FALSE(window.isVisible());
  }
}

TEST_F(TrayIconTest, KeepRunningInTheTrayIsOfferedOnlyWithATrayAndSaved) {
  {
    TForm1 window(settingsPath_);
    window.SetUpTray(false);
    EXPECT_EQ(window.findChild<QAction*>("KeepInTray1"), nullptr);
    EXPECT_EQ(window.Tray(), nullptr);
  }
  TForm1 window(settingsPath_);
  window.SetUpTray(true);
  auto* jobs = window.findChild<QMenu*>("Jobs1");
  ASSERT_NE(jobs, nullptr);
  EXPECT_EQ(Texts(jobs->actions()).mid(0, 4).join('|').toStdString(),
            "Job List|Job Settings|Keep Running in the Tray|-");
  EXPECT_EQ(Texts(window.Tray()->Menu()->actions()).join('|').toStdString(),
            "Show|Keep Running in the Tray|-|Quit");
  QAction* keep = window.findChild<QAction*>("KeepInTray1");
  ASSERT_NE(keep, nullptr);
  EXPECT_TRUE(keep->isCheckable());
  EXPECT_FALSE(keep->isChecked());
  keep->trigger();
  EXPECT_EQ(CloseToTray(), "1");
  EXPECT_TRUE(window.KeepsRunningInTray());
  keep->trigger();
  EXPECT_EQ(CloseToTray(), "0");
  EXPECT_FALSE(window.KeepsRunningInTray());
}

TEST_F(TrayIconTest, MenuShowsOrHidesTheWindowAndTheTooltipNamesTheLastJob) {
  TForm1 window(settingsPath_);
  window.SetUpTray(true);
  TTrayIcon* tray = window.Tray();
  QAction* showHide = tray->Menu()->findChild<QAction*>("TrayShowHide");
  ASSERT_NE(showHide, nullptr);
  EXPECT_EQ(showHide->text().toStdString(), "Show");
  window.show();
  EXPECT_EQ(showHide->text().toStdString(), "Hide");
  showHide->trigger();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(showHide->text().toStdString(), "Show");
  window.setWindowState(Qt::WindowMinimized);
  showHide->trigger();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.IsNormalState());

  window.AppendMessageLine(SizeLine(TimestampPrefix(), 5, "/captures/a.txt"));
  window.AppendMessageLine(TimestampPrefix() + "127.0.0.1 disconnected.");
  window.SetCaption("Tarnock - Connections: 2");
  EXPECT_TRUE(WaitUntil([&] {
    return tray->ToolTip() == "Tarnock - Connections: 2\nLast job: /captures/a.txt";
  })) << tray->ToolTip().toStdString();
}

}  // namespace

#include "ui/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <memory>
#include <regex>
#include <vector>

#include "base/paths.h"
#include "capture/date_pattern.h"
#include "capture/ini_file.h"
#include "support/fake_monitor_window.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "ui/about.h"
#include "ui/add_port.h"
#include "ui/log_pane.h"
#include "ui/message_box.h"
#include "ui/options.h"
#include "ui/port_help.h"
#include "ui/window_style.h"

namespace {

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.IsValid());
    settingsPath_ = folder_.FilePath("tarnock.ini");
    SetMessageBoxHandler([this](const TBoxRequest& request) {
      boxes_.push_back(request);
      return true;
    });
  }
  void TearDown() override { SetMessageBoxHandler({}); }

  void WriteSettings(const std::string& text) const {
    ASSERT_TRUE(WriteWholeFile(settingsPath_, text));
  }

  std::string Setting(const char* section, const char* key) const {
    return TIniFile(settingsPath_).ReadText(section, key, "<absent>");
  }

  std::string CaptureFolder() const { return folder_.FilePath("captures"); }

  // One port whose captures go to the captures folder, named after the day.
  std::string PortSettings(uint16_t port) const {
    return "[Ports]\n" + std::to_string(port) + "=" + CaptureFolder() + ",yyyymmdd,F,0,\n";
  }

  static std::string Text(const QPlainTextEdit* pane) { return pane->toPlainText().toStdString(); }

  TTempFolder folder_;
  std::string settingsPath_;
  std::vector<TBoxRequest> boxes_;
};

// The pane's lines with their timestamp prefix removed; a line without one
// is kept whole behind a marker, so the comparison shows it.
std::vector<std::string> WithoutPrefixes(const std::string& text) {
  static const std::regex prefixed(R"(\d\d/\d\d/\d\d \d\d:\d\d - (.*))");
  std::vector<std::string> lines;
  std::smatch match;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    lines.push_back(std::regex_match(line, match, prefixed) ? match[1].str()
                                                            : "<no prefix> " + line);
    start = end + 1;
  }
  return lines;
}

// The pane with everything queued for it applied.
QPlainTextEdit* Pane(TForm1& window, const char* name) {
  window.FlushPanes();
  return window.findChild<QPlainTextEdit*>(name);
}

TEST_F(MainWindowTest, OptionsMenuHoldsItsEntriesInOrder) {
  TForm1 window(settingsPath_);
  auto* options = window.findChild<QMenu*>("Options1");
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(options->title().toStdString(), "Options");

  struct Entry {
    const char* name;
    const char* text;
    bool checkable;
    const char* shortcut;
  };
  const std::vector<Entry> expected = {
      {"Ports2", "Ports", false, ""},
      {"DeleteifEmpty1", "Delete if Empty", true, ""},
      {"", "", false, ""},  // separator
      {"Close2", "Close", false, "Ctrl+Q"},
  };
  const QList<QAction*> actions = options->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const QAction* action = actions[static_cast<qsizetype>(i)];
    EXPECT_EQ(action->isSeparator(), *expected[i].name == '\0');
    EXPECT_EQ(action->objectName().toStdString(), expected[i].name);
    EXPECT_EQ(action->text().toStdString(), expected[i].text);
    EXPECT_EQ(action->isCheckable(), expected[i].checkable);
    EXPECT_EQ(action->shortcut().toString().toStdString(), expected[i].shortcut);
  }
}

TEST_F(MainWindowTest, OpensWithDesignCaptionSizeAndPanes) {
  TForm1 window(settingsPath_);
  EXPECT_EQ(window.windowTitle().toStdString(), "Tarnock Log");
  EXPECT_EQ(window.width(), 490);
  EXPECT_EQ(window.Height(), 151);

  QPlainTextEdit* ports = Pane(window, "PortsMemo");
  QPlainTextEdit* messages = Pane(window, "MessageMemo");
  auto* splitter = window.findChild<QSplitter*>("Splitter1");
  ASSERT_TRUE(ports && messages && splitter);
  // The start has already cleared the design text. With no port defined the
  // empty log shows what to do first, as a placeholder that is no line.
  EXPECT_EQ(Text(ports), "");
  EXPECT_EQ(ports->placeholderText().toStdString(), TForm1::kNoPortsHint);
  EXPECT_EQ(ports->document()->characterCount(), 1);
  EXPECT_TRUE(ports->isReadOnly() && messages->isReadOnly());
  EXPECT_TRUE(messages->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_EQ(ports->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(ports->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(messages->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(messages->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(splitter->handleWidth(), TForm1::kSplitterWidth);

  window.show();
  ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
  EXPECT_EQ(ports->width(), TForm1::kPortsPaneWidth);
}

TEST_F(MainWindowTest, DeleteIfEmptyToggleSavesTheFlagAndTwiceReturnsToTheStart) {
  struct Case {
    const char* settings;
    bool initial;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"[File]\nDeleteIfEmpty=0\n", false},
      {"[File]\nDeleteIfEmpty=1\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    WriteSettings(c.settings);
    TForm1 window(settingsPath_);
    auto* entry = window.findChild<QAction*>("DeleteifEmpty1");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->isChecked(), c.initial);

    entry->trigger();
    EXPECT_EQ(entry->isChecked(), !c.initial);
    EXPECT_EQ(window.DeleteIfEmpty(), !c.initial);
    EXPECT_EQ(Setting("File", "DeleteIfEmpty"), c.initial ? "0" : "1");

    entry->trigger();
    EXPECT_EQ(entry->isChecked(), c.initial);
    EXPECT_EQ(Setting("File", "DeleteIfEmpty"), c.initial ? "1" : "0");
  }
  EXPECT_TRUE(boxes_.empty());
}

// The monitor's stop saves the placement only while the window is in its
// normal state; a real window answers for each state, so the rule is tested
// here, end to end, and not again against the fake window.
TEST_F(MainWindowTest, ProgramEndSavesPlacementOnlyInTheNormalState) {
  struct Case {
    const char* name;
    Qt::WindowState state;
    bool saves;
  };
  const std::vector<Case> cases = {
      {"normal", Qt::WindowNoState, true},
      {"maximized", Qt::WindowMaximized, false},
      {"minimized", Qt::WindowMinimized, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteSettings("[Window]\nTop=7\nLeft=8\nHeight=200\n");
    int top = 0, left = 0, height = 0;
    {
      TForm1 window(settingsPath_);
      window.show();
      ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
      window.SetTop(40);
      window.SetLeft(30);
      window.SetHeight(180);
      window.setWindowState(c.state);
      EXPECT_EQ(window.IsNormalState(), c.saves);
      top = window.Top();
      left = window.Left();
      height = window.Height();
    }
    if (c.saves) {
      EXPECT_EQ(Setting("Window", "Top"), std::to_string(top));
      EXPECT_EQ(Setting("Window", "Left"), std::to_string(left));
      EXPECT_EQ(Setting("Window", "Height"), std::to_string(height));
      EXPECT_EQ(height, 180);
    } else {
      EXPECT_EQ(Setting("Window", "Top"), "7");
      EXPECT_EQ(Setting("Window", "Left"), "8");
      EXPECT_EQ(Setting("Window", "Height"), "200");
    }
    EXPECT_EQ(Setting("Window", "Width"), "<absent>");
  }
}

TEST_F(MainWindowTest, FirstShowingCentresTheWindowWithTheStoredHeight) {
  WriteSettings("[Window]\nTop=5\nLeft=5\nHeight=300\n");
  TForm1 window(settingsPath_);
  EXPECT_EQ(window.Top(), 5);
  EXPECT_EQ(window.Left(), 5);
  window.show();
  ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
  const QRect screen = window.screen()->geometry();
  EXPECT_EQ(window.Height(), 300);
  EXPECT_EQ(window.frameGeometry().width(), 490);
  EXPECT_EQ(window.Left(), std::max(0, (screen.width() - 490) / 2));
  EXPECT_EQ(window.Top(), std::max(0, (screen.height() - 300) / 2));

  // A later showing leaves the window where the operator put it.
  window.hide();
  window.SetLeft(3);
  window.show();
  EXPECT_EQ(window.Left(), 3);
}

// A restart in the normal state keeps the outer placement it saves. A
// maximized or minimized window stays so, and the placement read then is the
// normal geometry's, taken up when the operator restores the window.
TEST_F(MainWindowTest, RestartKeepsTheWindowStateAndPlacesTheNormalGeometry) {
  struct Case {
    const char* name;
    Qt::WindowState state;
  };
  for (const Case c : {Case{"normal", Qt::WindowNoState}, Case{"maximized", Qt::WindowMaximized},
                       Case{"minimized", Qt::WindowMinimized}}) {
    SCOPED_TRACE(c.name);
    WriteSettings("[Window]\nHeight=200\n");
    TForm1 window(settingsPath_);
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
    window.setWindowState(c.state);
    ASSERT_TRUE(WaitUntil([&] { return window.windowState() == c.state; }));
    const QRect before = window.geometry();
    QRect expected(window.Left(), window.Top(), 490, window.Height());
    if (c.state != Qt::WindowNoState) {
      WriteSettings("[Window]\nTop=60\nLeft=50\nHeight=220\n");
      expected = QRect(50, 60, 490, 220);
    }
    window.Monitor().Restart();
    EXPECT_EQ(window.windowState(), c.state);
    EXPECT_EQ(window.geometry(), before);
    window.showNormal();
    EXPECT_TRUE(WaitUntil([&] { return window.frameGeometry() == expected; }))
        << window.frameGeometry().x() << "," << window.frameGeometry().y() << " "
        << window.frameGeometry().width() << "x" << window.frameGeometry().height();
  }
}

// A placement from a larger screen or another layout: the frame is moved,
// and its height cut, until all of it is on the screen, and that is what the
// end saves. At the first showing only the stored height counts, since the
// window is centred. At a restart the placement saved by its stop counts,
// such as one the operator dragged partly off the screen; and while the
// window is maximized, the stored one counts once it is restored.
TEST_F(MainWindowTest, PlacementIsKeptOnTheScreen) {
  enum TWhen { FirstShowing, Restart, RestoredAfterRestart };
  struct Case {
    const char* name;
    TWhen when;
    int top, left, height;
    QRect (*expected)(const QRect& screen);
  };
  const std::vector<Case> cases = {
      {"taller than the screen", FirstShowing, 10, 10, 2000,
       [](const QRect& s) { return QRect((s.width() - 490) / 2, 0, 490, s.height()); }},
      {"taller and lower", Restart, 500, 20, 900,
       [](const QRect& s) { return QRect(20, 0, 490, s.height()); }},
      {"right of and below", Restart, 5000, 5000, 200,
       [](const QRect& s) { return QRect(s.width() - 490, s.height() - 200, 490, 200); }},
      {"above and left of", Restart, -300, -300, 200,
       [](const QRect&) { return QRect(0, 0, 490, 200); }},
      {"on the screen", Restart, 20, 30, 300, [](const QRect&) { return QRect(30, 20, 490, 300); }},
      {"below, restored", RestoredAfterRestart, 5000, 40, 250,
       [](const QRect& s) { return QRect(40, s.height() - 250, 490, 250); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stored = "[Window]\nTop=" + std::to_string(c.top) +
                               "\nLeft=" + std::to_string(c.left) +
                               "\nHeight=" + std::to_string(c.height) + "\n";
    WriteSettings(c.when == FirstShowing ? stored : "");
    QRect expected;
    {
      TForm1 window(settingsPath_);
      window.show();
      ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
      expected = c.expected(window.screen()->availableGeometry());
      if (c.when == Restart) {
        window.SetTop(c.top);
        window.SetLeft(c.left);
        window.SetHeight(c.height);
        window.Monitor().Restart();
      } else if (c.when == RestoredAfterRestart) {
        window.showMaximized();
        ASSERT_TRUE(WaitUntil([&] { return !window.IsNormalState(); }));
        WriteSettings(stored);
        window.Monitor().Restart();
        window.showNormal();
      }
      EXPECT_TRUE(WaitUntil([&] { return window.frameGeometry() == expected; }))
          << window.frameGeometry().x() << "," << window.frameGeometry().y() << " "
          << window.frameGeometry().width() << "x" << window.frameGeometry().height();
    }
    EXPECT_EQ(Setting("Window", "Top"), std::to_string(expected.top()));
    EXPECT_EQ(Setting("Window", "Left"), std::to_string(expected.left()));
    EXPECT_EQ(Setting("Window", "Height"), std::to_string(expected.height()));
  }
}

// Help is the last menu, right of any other, and its one entry opens the
// About box over the window without waiting for it.
TEST_F(MainWindowTest, HelpMenuShowsVersionLicenceSettingsFileAndReadme) {
  TForm1 window(settingsPath_);
  const QList<QAction*> menus = window.menuBar()->actions();
  ASSERT_GE(menus.size(), 2);
  EXPECT_EQ(menus.first()->menu()->objectName().toStdString(), "Options1");
  QMenu* help = menus.last()->menu();
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->objectName().toStdString(), "Help1");
  EXPECT_EQ(help->title().toStdString(), "Help");
  ASSERT_EQ(help->actions().size(), 1);
  EXPECT_EQ(help->actions()[0]->text().toStdString(), "About Tarnock");

  window.show();
  for (int showing = 0; showing < 2; ++showing) {
    SCOPED_TRACE(showing);
    help->actions()[0]->trigger();
    // The box of an earlier showing has gone.
    ASSERT_EQ(window.findChildren<TAboutBox*>().size(), 1);
    auto* about = window.findChild<TAboutBox*>("AboutBox");
    ASSERT_TRUE(WaitUntil([&] { return about->isVisible(); }));
    EXPECT_EQ(about->windowTitle().toStdString(), "About Tarnock");
    const std::string text = about->Text();
    for (const std::string& part :
         {std::string("Tarnock ") + TARNOCK_VERSION + "\n", std::string("MIT License"),
          "\nSettings file: " + settingsPath_ + "\n", std::string("\nREADME: ")}) {
      EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    }
    about->accept();
  }
  EXPECT_TRUE(boxes_.empty());
}

// The About box names the README that is really there: the installed copy
// beside the installed executable, or the source tree's above a build folder.
TEST_F(MainWindowTest, ReadmeIsFoundBesideTheExecutable) {
  struct Case {
    const char* name;
    const char* executable;
    const char* readme;  // created; empty for none
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"installed", "usr/bin/tarnock", "usr/share/doc/tarnock/README.md",
       "usr/share/doc/tarnock/README.md"},
      {"build folder", "source/build/tarnock", "source/README.md", "source/README.md"},
      {"neither", "elsewhere/bin/tarnock", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* file : {c.executable, c.readme}) {
      if (!*file) continue;
      QDir().mkpath(QString::fromStdString(DirectoryPart(folder_.FilePath(file))));
      ASSERT_TRUE(WriteWholeFile(folder_.FilePath(file), ""));
    }
    EXPECT_EQ(ReadmePathFor(folder_.FilePath(c.executable)),
              *c.expected ? folder_.FilePath(c.expected) : "");
  }
}

// Every window, message boxes included, shows the program's own icon in its
// title bar and the task bar, whatever the application object carries.
TEST_F(MainWindowTest, EveryWindowCarriesTheProgramIcon) {
  const QImage icon = ProgramIcon().pixmap(32, 32).toImage();
  ASSERT_FALSE(icon.isNull()) << "the SVG icon engine is missing";
  TForm1 window(settingsPath_);
  TForm2 portList(settingsPath_);
  TForm3 editor;
  THelp1 help;
  TAboutBox about(settingsPath_);
  QImage boxIcon;
  SetMessageBoxHandler({});
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    boxIcon = box->windowIcon().pixmap(32, 32).toImage();
    box->accept();
  });
  closer.start(10);
  ShowErrorBox(&window, "Please Enter all Data");
  EXPECT_EQ(boxIcon, icon) << "message box";
  for (const QWidget* shown :
       std::initializer_list<const QWidget*>{&window, &portList, &editor, &help, &about}) {
    SCOPED_TRACE(shown->metaObject()->className());
    EXPECT_EQ(shown->windowIcon().pixmap(32, 32).toImage(), icon);
  }
}

TEST_F(MainWindowTest, FailedSettingsWriteGoesToTheGeneralErrorBox) {
  // A folder that is a file: no write can succeed there, not even as root.
  const QString blocker = QString::fromStdString(folder_.FilePath("blocker"));
  ASSERT_TRUE(WriteWholeFile(blocker.toStdString(), ""));
  settingsPath_ = (blocker + "/tarnock.ini").toStdString();
  const TBoxRequest expected{TBoxKind::GeneralError, ApplicationTitle(),
                             "Unable to write to " + settingsPath_ + "."};
  {
    TForm1 window(settingsPath_);
    auto* entry = window.findChild<QAction*>("DeleteifEmpty1");
    entry->trigger();
    // The mark keeps its new state although the file could not follow.
    EXPECT_FALSE(entry->isChecked());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].Kind, expected.Kind);
    EXPECT_EQ(boxes_[0].Caption, expected.Caption);
    EXPECT_EQ(boxes_[0].Text, expected.Text);

    // A restart whose placement save fails stops there: the monitor is not
    // started again, so the port log keeps what it had.
    window.AppendPortLine("kept");
    window.Ports1Click();
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].Text, expected.Text);
    EXPECT_EQ(Text(Pane(window, "PortsMemo")), "kept");
  }
  // The program end shows the failure too, and goes on ending.
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[2].Kind, TBoxKind::GeneralError);
  EXPECT_EQ(boxes_[2].Text, expected.Text);
}

// The fake window of the monitor tests gets every line too: it must count
// and cut as the real pane does, or those tests would miss a pane that
// outgrows its bound.
TEST_F(MainWindowTest, MessageLogCountsLinesAndCutsFromTheTop) {
  struct Case {
    const char* name;
    std::vector<std::string> appended;
    int cut;
    int countBefore;
    std::string textAfter;
  };
  const std::vector<Case> cases = {
      {"plain lines", {"a", "b", "c"}, 1, 3, "b\nc"},
      {"socket error holds CR LF", {"x", "ERROR: first\r\nsecond", "y"}, 2, 4, "second\ny"},
      {"lone CR", {"x", "first\rsecond", "y"}, 2, 4, "second\ny"},
      {"U+2029 in a path", {"x", "to /cap/a\u2029b.txt", "y"}, 2, 4, "b.txt\ny"},
      {"cut of everything", {"a", "b"}, 2, 2, ""},
      {"cut beyond the end", {"a"}, 5, 1, ""},
      {"no cut", {"a", "b"}, 0, 2, "a\nb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TForm1 window(settingsPath_);
    TFakeMonitorWindow fake;
    for (const std::string& line : c.appended) {
      window.AppendMessageLine(line);
      fake.AppendMessageLine(line);
    }
    EXPECT_EQ(window.MessageLineCount(), c.countBefore);
    EXPECT_EQ(fake.MessageLineCount(), c.countBefore);
    window.DeleteFirstMessageLines(c.cut);
    // The monitor never cuts more than there is; the fake need not cope.
    fake.DeleteFirstMessageLines(std::min(c.cut, fake.MessageLineCount()));
    EXPECT_EQ(Text(Pane(window, "MessageMemo")), c.textAfter);
    std::string fakeText;
    for (std::size_t i = 0; i < fake.MessageLines.size(); ++i)
      fakeText += (i == 0 ? "" : "\n") + fake.MessageLines[i];
    EXPECT_EQ(fakeText, c.textAfter);
    EXPECT_EQ(window.MessageLineCount(), std::max(0, c.countBefore - c.cut));
    EXPECT_EQ(fake.MessageLineCount(), window.MessageLineCount());
    // The count stays right for what comes after a cut.
    window.AppendMessageLine("z");
    EXPECT_EQ(window.MessageLineCount(), std::max(0, c.countBefore - c.cut) + 1);
  }
}

TEST_F(MainWindowTest, QueuedLinesAndCutsEndAsIfAppliedOneByOne) {
  // "+x" appends line x, "-n" cuts n lines from the top.
  struct Case {
    const char* name;
    std::vector<std::string> steps;
    std::string textAfter;
  };
  const std::vector<Case> cases = {
      {"cut between appends", {"+a", "+b", "-1", "+c", "+d", "-2"}, "d"},
      {"cut of all, then more", {"+a", "+b", "-5", "+z"}, "z"},
      {"cuts add up", {"+a", "+b", "+c", "+d", "-1", "-1", "+e"}, "c\nd\ne"},
      {"CR LF counts twice", {"+x", "+first\r\nsecond", "-2", "+y"}, "second\ny"},
      {"cut of most shown lines", {"+a", "+b", "+c", "+d", "-3", "+e"}, "d\ne"},
      {"cut reaching into the queue", {"+a", "+b", "-1", "+c", "+d", "+e", "-3"}, "e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TForm1 queued(settingsPath_);
    TForm1 immediate(settingsPath_);
    for (const std::string& step : c.steps) {
      for (TForm1* window : {&queued, &immediate}) {
        if (step[0] == '+')
          window->AppendMessageLine(step.substr(1));
        else
          window->DeleteFirstMessageLines(std::stoi(step.substr(1)));
      }
      immediate.FlushPanes();
      EXPECT_EQ(queued.MessageLineCount(), immediate.MessageLineCount());
    }
    EXPECT_EQ(Text(Pane(queued, "MessageMemo")), c.textAfter);
    EXPECT_EQ(Text(Pane(immediate, "MessageMemo")), c.textAfter);
  }
}

// No flood of lines grows a pane without bound: the oldest lines go first.
TEST_F(MainWindowTest, BothLogsKeepAtMostTheirLimitOfLines) {
  TForm1 window(settingsPath_);
  const int total = TLogPane::kMaxLines + 3;
  for (int i = 0; i < total; ++i) {
    window.AppendMessageLine("m" + std::to_string(i));
    window.AppendPortLine("p" + std::to_string(i));
    if (i == total / 2) window.FlushPanes();
  }
  EXPECT_EQ(window.MessageLineCount(), TLogPane::kMaxLines);
  for (const char* name : {"MessageMemo", "PortsMemo"}) {
    const std::string text = Text(Pane(window, name));
    const std::string first = text.substr(0, text.find('\n'));
    EXPECT_EQ(first.substr(1), "3") << name;
    EXPECT_EQ(Pane(window, name)->blockCount(), TLogPane::kMaxLines) << name;
  }
}

// A path may hold characters the pane starts a new line at; the count must
// see them too, or the 500-line cut would let the log grow without end.
TEST_F(MainWindowTest, LinesSplitWhereThePaneSplitsThem) {
  for (const char16_t separator : {u'\u2029', u'\uFDD0', u'\uFDD1'}) {
    TForm1 window(settingsPath_);
    const std::string line =
        "5 bytes written to /cap/a" + QString(QChar(separator)).toStdString() + "b.txt";
    for (int i = 0; i < 600; ++i) window.AppendMessageLine(line);
    window.DeleteFirstMessageLines(window.MessageLineCount() - 500);
    window.FlushPanes();
    EXPECT_EQ(window.MessageLineCount(), 500) << int(separator);
    EXPECT_EQ(Pane(window, "MessageMemo")->blockCount(), 500) << int(separator);
  }
}

// A cut from the top leaves the reader where they were: a selection below the
// cut keeps its text, and a view scrolled up keeps showing the same lines.
TEST_F(MainWindowTest, ACutKeepsTheReadersSelectionAndPlace) {
  for (const int cut : {100, 900}) {  // a small cut, and one that refills the pane
    TForm1 window(settingsPath_);
    window.resize(490, 300);
    for (int i = 0; i < 1000; ++i) window.AppendMessageLine("line " + std::to_string(i));
    window.FlushPanes();
    QPlainTextEdit* pane = Pane(window, "MessageMemo");
    QTextCursor selection(pane->document()->findBlockByNumber(950));
    selection.select(QTextCursor::LineUnderCursor);
    pane->setTextCursor(selection);
    pane->verticalScrollBar()->setValue(940);
    window.DeleteFirstMessageLines(cut);
    window.FlushPanes();
    EXPECT_EQ(pane->textCursor().selectedText().toStdString(), "line 950") << cut;
    EXPECT_EQ(pane->verticalScrollBar()->value(), 940 - cut) << cut;
  }
}

TEST_F(MainWindowTest, QueuedLinesReachThePanesWithoutAFlushCall) {
  TForm1 window(settingsPath_);
  auto* messages = window.findChild<QPlainTextEdit*>("MessageMemo");
  auto* ports = window.findChild<QPlainTextEdit*>("PortsMemo");
  window.AppendMessageLine("one");
  window.AppendMessageLine("two");
  window.AppendPortLine("port line");
  EXPECT_EQ(Text(messages), "");
  EXPECT_EQ(window.MessageLineCount(), 2);
  ASSERT_TRUE(WaitUntil([&] { return Text(messages) == "one\ntwo"; }));
  EXPECT_EQ(Text(ports), "port line");
}

TEST_F(MainWindowTest, PortLogShowsSocketErrorOnTwoLines) {
  TForm1 window(settingsPath_);
  window.AppendPortLine("ERROR: first\r\nsecond");
  EXPECT_EQ(Text(Pane(window, "PortsMemo")), "ERROR: first\nsecond");
}

TEST_F(MainWindowTest, CaptionFollowsTheOpenConnections) {
  // Two ports with folders of their own, so the two captures never share a
  // file name.
  const uint16_t first = FreeLoopbackPort();
  uint16_t second = FreeLoopbackPort();
  while (second == first) second = FreeLoopbackPort();
  WriteSettings("[Ports]\n" + std::to_string(first) + "=" + CaptureFolder() + "/a,yyyymmdd,F,0,\n" +
                std::to_string(second) + "=" + CaptureFolder() + "/b,yyyymmdd,F,0,\n");
  TForm1 window(settingsPath_);
  EXPECT_EQ(Text(Pane(window, "PortsMemo")), "Listening on port " + std::to_string(first) +
                                                 "\nListening on port " + std::to_string(second));
  EXPECT_EQ(window.windowTitle().toStdString(), "Tarnock Log");

  const int sending = ConnectLoopback(first);
  ASSERT_GE(sending, 0);
  ASSERT_TRUE(WaitUntil([&] { return window.windowTitle() == "Tarnock - Connections: 1"; }));
  const int silent = ConnectLoopback(second);
  ASSERT_GE(silent, 0);
  ASSERT_TRUE(WaitUntil([&] { return window.windowTitle() == "Tarnock - Connections: 2"; }));

  ASSERT_TRUE(SendAll(sending, "hello"));
  ::close(sending);
  ASSERT_TRUE(WaitUntil([&] { return window.windowTitle() == "Tarnock - Connections: 1"; }));
  ::close(silent);
  ASSERT_TRUE(WaitUntil([&] { return window.windowTitle() == "Tarnock - Listening"; }));

  // Delete if Empty is on by default, so the silent connection's file goes.
  const std::string day = FormatDatePattern("yyyymmdd", CurrentLocalTime());
  const std::string fileA = CaptureFolder() + "/a/" + day + ".txt";
  const std::string fileB = CaptureFolder() + "/b/" + day + ".txt";
  EXPECT_EQ(WithoutPrefixes(Text(Pane(window, "MessageMemo"))),
            (std::vector<std::string>{
                "Connected to: 127.0.0.1 on port " + std::to_string(first),
                "Connected to: 127.0.0.1 on port " + std::to_string(second),
                "5 bytes written to " + fileA,
                "127.0.0.1 disconnected.",
                "0 bytes written to " + fileB,
                fileB + " deleted",
                "127.0.0.1 disconnected.",
            }));
}

// A burst of closes in one loop turn changes the count many times; the frame
// gets only the last caption, once, when the turn ends.
TEST_F(MainWindowTest, CaptionChangesOnceAtTheEndOfALoopTurn) {
  TForm1 window(settingsPath_);
  int changes = 0;
  QObject::connect(&window, &QWidget::windowTitleChanged, [&] { ++changes; });
  for (int open = 3; open > 0; --open)
    window.SetCaption("Tarnock - Connections: " + std::to_string(open));
  window.SetCaption("Tarnock - Listening");
  EXPECT_EQ(window.windowTitle().toStdString(), "Tarnock Log");
  ASSERT_TRUE(WaitUntil([&] { return changes > 0; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(window.windowTitle().toStdString(), "Tarnock - Listening");
  EXPECT_EQ(changes, 1);
}

TEST_F(MainWindowTest, PortsRestartsTheMonitorHoweverTheDialogCloses) {
  const uint16_t port = FreeLoopbackPort();
  WriteSettings(PortSettings(port));
  TForm1 window(settingsPath_);
  TForm2 portList(settingsPath_, &window);
  window.AttachPortList(&portList);
  window.AppendMessageLine("earlier line");
  window.AppendPortLine("stale line");

  struct Case {
    const char* name;
    bool accept;
  };
  for (const Case c : {Case{"close box", false}, Case{"OK", true}}) {
    SCOPED_TRACE(c.name);
    bool dialogSeen = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (!portList.isVisible()) return;
      dialogSeen = true;
      c.accept ? portList.BitBtn1Click() : portList.reject();
    });
    closer.start(10);
    window.findChild<QAction*>("Ports2")->trigger();
    EXPECT_TRUE(dialogSeen);
    EXPECT_EQ(Text(Pane(window, "PortsMemo")), "Listening on port " + std::to_string(port));
    EXPECT_EQ(Text(Pane(window, "MessageMemo")), "earlier line");
    EXPECT_EQ(Setting("Window", "Height"), std::to_string(window.Height()));
  }
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace

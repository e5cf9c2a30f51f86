#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <optional>
#include <ostream>
#include <string>

#include "capture/ini_file.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "support/x_display.h"

// Prints a frame as x,y widthxheight in failure messages.
inline void PrintTo(const QRect& rect, std::ostream* out) {
  *out << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height();
}

namespace {

// Under the sanitizers the program starts slowly and the dialogs take a while
// to appear.
constexpr int kStepTimeoutMs = 30000;
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

// The built program in a folder of its own with its settings file beside it,
// shown on the private X server.
class TProgramOnDisplay {
 public:
  explicit TProgramOnDisplay(const std::string& display) : display_(display) {}
  ~TProgramOnDisplay() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(kStepTimeoutMs)) process_.kill();
    process_.waitForFinished(5000);
  }

  std::string Folder() const { return folder_.Path(); }
  std::string SettingsPath() const { return Folder() + "/tarnock.ini"; }

  bool Install(const std::string& settings) {
    if (!QFile::copy(TARNOCK_BINARY, QString::fromStdString(folder_.FilePath("tarnock"))))
      return false;
    return WriteWholeFile(SettingsPath(), settings);
  }

  bool Start() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(display_));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    // The X client libraries keep their allocations until the process ends.
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QString::fromStdString(folder_.FilePath("tarnock")), {});
    return process_.waitForStarted(kStepTimeoutMs);
  }

  bool WaitForEnd() { return process_.waitForFinished(kStepTimeoutMs); }

  std::string Output() { return process_.readAll().toStdString(); }

 private:
  std::string display_;
  TTempFolder folder_;
  QProcess process_;
};

std::string FolderContent(const std::string& folder) {
  std::string content;
  const QDir dir(QString::fromStdString(folder));
  for (const QString& name : dir.entryList({"*.txt"}, QDir::Files, QDir::Name)) {
    content += ReadWholeFile(dir.filePath(name).toStdString());
  }
  return content;
}

// The program on a private X server under a window manager, typed into and
// clicked the way an operator does.
class DialogsEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!TXDisplay::Available()) GTEST_SKIP() << "no X server can start here";
    const std::optional<std::string> missing = TXTools::MissingTool();
    ASSERT_FALSE(missing) << *missing << " is missing; scripts/setup.sh installs it";
    ASSERT_TRUE(display_.Start(kScreenWidth, kScreenHeight))
        << "no X server with a window manager started within a minute";
    tools_.emplace(display_.Name());
    program_.emplace(display_.Name());
  }

  const TXTools& X() const { return *tools_; }

  // The frame once the window manager has framed the window and it has
  // reached the expected place; what it was last when it doesn't.
  std::optional<QRect> FrameOnceAt(const std::string& window, const QRect& expected) const {
    std::optional<QRect> frame;
    WaitUntil([&] { return (frame = X().OuterFrame(window)) == expected; }, kStepTimeoutMs);
    return frame;
  }

  // Options is the first menu of the menu bar; its entries are Ports, Delete
  // if Empty and Close.
  void ChooseOption(const std::string& mainWindow, int entry) const {
    X().Click(mainWindow, 25, 10);
    QStringList keys;
    for (int i = 0; i < entry; ++i) keys << "Down";
    X().Keys(keys << "Return");
  }

  // Opens the Options menu's entry and waits for the window of that caption.
  // On a loaded machine the click or the keys may come before the window
  // takes input, so the menu is closed and asked again while nothing came.
  std::string OpenFromOptions(const std::string& mainWindow, int entry,
                              const QString& caption) const {
    for (int tried = 0; tried < 3; ++tried) {
      ChooseOption(mainWindow, entry);
      const std::string window = X().WaitForWindow(caption, kStepTimeoutMs / 3);
      if (!window.empty()) return window;
      X().Keys({"Escape"});
    }
    return "";
  }

  std::string StartAndFindMainWindow() {
    if (!program_->Start()) return "";
    return X().WaitForWindow("^Tarnock", kStepTimeoutMs);
  }

  std::string Setting(const char* key) const {
    return TIniFile(program_->SettingsPath()).ReadText("Window", key, "<absent>");
  }

  TXDisplay display_;
  std::optional<TXTools> tools_;
  std::optional<TProgramOnDisplay> program_;
};

// The stored height is the frame's, so a start neither grows nor shrinks the
// window, and a restart through Ports leaves it where it was.
TEST_F(DialogsEndToEndTest, MainWindowKeepsItsOuterSizeOverStartsAndARestart) {
  ASSERT_TRUE(program_->Install("[File]\nDeleteIfEmpty=0\n"));
  const QRect centred((kScreenWidth - 490) / 2, (kScreenHeight - 151) / 2, 490, 151);
  for (int start = 1; start <= 3; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    const std::string main = StartAndFindMainWindow();
    ASSERT_FALSE(main.empty()) << program_->Output();
    EXPECT_EQ(FrameOnceAt(main, centred), centred) << program_->Output();
    if (start == 3) {
      // The stop of the restart writes the placement again.
      TIniFile(program_->SettingsPath()).DropSection("Window");
      const std::string list = OpenFromOptions(main, 1, "^Ports$");
      ASSERT_FALSE(list.empty()) << program_->Output();
      X().Focus(list);
      X().Keys({"Return"});
      ASSERT_TRUE(X().WaitForWindowGone("^Ports$", kStepTimeoutMs));
      ASSERT_TRUE(WaitUntil([&] { return Setting("Height") != "<absent>"; }, kStepTimeoutMs));
      EXPECT_EQ(FrameOnceAt(main, centred), centred) << "after the restart";
    }
    ChooseOption(main, 3);
    ASSERT_TRUE(program_->WaitForEnd()) << program_->Output();
    EXPECT_EQ(Setting("Height"), "151");
    EXPECT_EQ(Setting("Top"), std::to_string(centred.top()));
    EXPECT_EQ(Setting("Left"), std::to_string(centred.left()));
  }
}

// Tab leaves the grid for the buttons; Enter runs the focused button, and
// OK only from a field; the editor opens at its design place; a port added
// this way is captured after OK.
TEST_F(DialogsEndToEndTest, APortAddedThroughTheDialogsIsCapturedAfterOk) {
  const uint16_t port = FreeLoopbackPort();
  uint16_t listed = FreeLoopbackPort();
  while (listed == port) listed = FreeLoopbackPort();
  const std::string captures = program_->Folder() + "/captures/new";
  // One row already, so that Tab has cells to wander through.
  ASSERT_TRUE(program_->Install("[File]\nDeleteIfEmpty=0\n[Ports]\n" + std::to_string(listed) +
                                "=" + program_->Folder() + ",yymmdd,F,0,\n"));
  const std::string main = StartAndFindMainWindow();
  ASSERT_FALSE(main.empty()) << program_->Output();
  const std::string list = OpenFromOptions(main, 1, "^Ports$");
  ASSERT_FALSE(list.empty()) << program_->Output();
  X().Focus(list);
  // Grid, OK, Help, Add: Enter there adds instead of saving and closing.
  X().Keys({"Tab", "Tab", "Tab", "Return"});
  const std::string editor = X().WaitForWindow("^Add/Edit Port$", kStepTimeoutMs);
  ASSERT_FALSE(editor.empty()) << program_->Output();
  EXPECT_FALSE(X().Run("xdotool", {"search", "--onlyvisible", "--name", "^Ports$"}).empty());
  const QRect designPlace(336, 186, 243, 265);
  EXPECT_EQ(FrameOnceAt(editor, designPlace), designPlace) << program_->Output();

  // Port, Directory, File Format, Days, Comments, Overwrite, OK, Cancel:
  // Enter on Cancel cancels without checking the port typed.
  X().Focus(editor);
  X().Type("x");
  X().Keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"});
  ASSERT_TRUE(X().WaitForWindowGone("^Add/Edit Port$", kStepTimeoutMs)) << program_->Output();
  EXPECT_TRUE(X().Run("xdotool", {"search", "--onlyvisible", "--name", "^Error$"}).empty());

  // Shown again, the editor is where it was.
  X().Focus(list);
  X().Keys({"alt+a"});
  const std::string again = X().WaitForWindow("^Add/Edit Port$", kStepTimeoutMs);
  ASSERT_FALSE(again.empty()) << program_->Output();
  EXPECT_EQ(FrameOnceAt(again, designPlace), designPlace);
  X().Focus(again);
  X().Type(std::to_string(port));
  X().Keys({"Tab"});
  X().Type(captures);
  X().Keys({"Tab"});
  X().Type("yyyymmdd");
  X().Keys({"Return"});
  ASSERT_TRUE(X().WaitForWindowGone("^Add/Edit Port$", kStepTimeoutMs)) << program_->Output();

  // Until OK nothing listens on the new port.
  const int early = ConnectLoopback(port);
  EXPECT_LT(early, 0);
  if (early >= 0) ::close(early);
  // Add still has the focus: back over Help to OK.
  X().Focus(list);
  X().Keys({"shift+Tab", "shift+Tab", "Return"});
  ASSERT_TRUE(X().WaitForWindowGone("^Ports$", kStepTimeoutMs)) << program_->Output();

  int client = -1;
  ASSERT_TRUE(WaitUntil([&] { return (client = ConnectLoopback(port)) >= 0; }, kStepTimeoutMs))
      << program_->Output();
  ASSERT_TRUE(SendAll(client, "captured through the dialogs"));
  ::close(client);
  EXPECT_TRUE(WaitUntil([&] { return FolderContent(captures) == "captured through the dialogs"; },
                        kStepTimeoutMs))
      << "captured: '" << FolderContent(captures) << "'\n"
      << program_->Output();
  EXPECT_EQ(TIniFile(program_->SettingsPath()).ReadText("Ports", std::to_string(port), ""),
            captures + ",yyyymmdd,F,0,");
}

}  // namespace

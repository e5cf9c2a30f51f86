#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "support/loopback.h"
#include "support/wait.h"

namespace {

// Under the sanitizers the program starts slowly and the dialogs take a while
// to appear.
constexpr int kStepTimeoutMs = 30000;

// A private X server, so the test can type and click into the real windows
// of the program the way an operator does.
class TXServer {
 public:
  ~TXServer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(5000);
  }

  // True once the server runs; it picks a free display and reports it.
  bool Start() {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) return false;
    process_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                            "-ac"});
    if (!process_.waitForStarted(5000)) return false;
    std::string reported;
    WaitUntil(
        [&] {
          reported += process_.readAllStandardOutput().toStdString();
          return reported.find('\n') != std::string::npos ||
                 process_.state() == QProcess::NotRunning;
        },
        10000);
    const size_t end = reported.find('\n');
    if (end == std::string::npos || end == 0) return false;
    display_ = ":" + reported.substr(0, end);
    return true;
  }

  const std::string& Display() const { return display_; }

 private:
  QProcess process_;
  std::string display_;
};

// xdotool against the private server; its output with blanks trimmed.
class TInput {
 public:
  explicit TInput(std::string display) : display_(std::move(display)) {}

  static bool IsPresent() { return !QStandardPaths::findExecutable("xdotool").isEmpty(); }

  std::string Run(const QStringList& arguments) const {
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(display_));
    tool.setProcessEnvironment(environment);
    tool.start("xdotool", arguments);
    tool.waitForFinished(10000);
    return tool.readAllStandardOutput().trimmed().toStdString();
  }

  // The first visible window whose caption matches the pattern, once it is
  // there; empty when it doesn't come.
  std::string WaitForWindow(const QString& caption) const {
    std::string window;
    WaitUntil(
        [&] {
          window = Run({"search", "--onlyvisible", "--name", caption});
          window = window.substr(0, window.find('\n'));
          return !window.empty();
        },
        kStepTimeoutMs);
    return window;
  }

  bool WaitForWindowGone(const QString& caption) const {
    return WaitUntil([&] { return Run({"search", "--onlyvisible", "--name", caption}).empty(); },
                     kStepTimeoutMs);
  }

  void Focus(const std::string& window) const {
    Run({"windowfocus", "--sync", QString::fromStdString(window)});
  }
  void Keys(const QStringList& keys) const { Run(QStringList{"key", "--delay", "50"} + keys); }
  void Type(const std::string& text) const {
    Run({"type", "--delay", "20", QString::fromStdString(text)});
  }
  void Click(const std::string& window, int x, int y) const {
    Run({"mousemove", "--sync", "--window", QString::fromStdString(window), QString::number(x),
         QString::number(y), "click", "1"});
  }

 private:
  std::string display_;
};

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

  std::string Folder() const { return folder_.path().toStdString(); }
  std::string SettingsPath() const { return Folder() + "/tarnock.ini"; }

  bool Start(const std::string& settings) {
    const QString binary = folder_.filePath("tarnock");
    if (!QFile::copy(TARNOCK_BINARY, binary)) return false;
    QFile file(QString::fromStdString(SettingsPath()));
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(settings.data(), static_cast<qint64>(settings.size()));
    file.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(display_));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    // The X client libraries keep their allocations until the process ends.
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(binary, {});
    return process_.waitForStarted(kStepTimeoutMs);
  }

  std::string Output() { return process_.readAll().toStdString(); }

 private:
  std::string display_;
  QTemporaryDir folder_;
  QProcess process_;
};

// A connection to the port that stays open for sending; -1 while nothing
// listens there.
int TryConnect(uint16_t port) { return ConnectLoopback(port); }

std::string FolderContent(const std::string& folder) {
  std::string content;
  const QDir dir(QString::fromStdString(folder));
  for (const QString& name : dir.entryList({"*.txt"}, QDir::Files, QDir::Name)) {
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::ReadOnly)) content += file.readAll().toStdString();
  }
  return content;
}

TEST(DialogsEndToEndTest, APortAddedThroughTheDialogsIsCapturedAfterOk) {
  TXServer server;
  if (!TInput::IsPresent() || !server.Start()) GTEST_SKIP() << "no X server or xdotool";
  const TInput input(server.Display());
  TProgramOnDisplay program(server.Display());
  ASSERT_TRUE(program.Start("[File]\nDeleteIfEmpty=0\n"));
  const std::string captures = program.Folder() + "/captures/new";
  const uint16_t port = FreeLoopbackPort();

  const std::string main = input.WaitForWindow("^Tarnock");
  ASSERT_FALSE(main.empty()) << program.Output();
  // Options is the first menu of the menu bar; Ports its first entry.
  input.Click(main, 25, 10);
  input.Keys({"Down", "Return"});

  const std::string list = input.WaitForWindow("^Ports$");
  ASSERT_FALSE(list.empty()) << program.Output();
  input.Focus(list);
  input.Keys({"alt+a"});

  const std::string editor = input.WaitForWindow("^Add/Edit Port$");
  ASSERT_FALSE(editor.empty()) << program.Output();
  input.Focus(editor);
  input.Type(std::to_string(port));
  input.Keys({"Tab"});
  input.Type(captures);
  input.Keys({"Tab"});
  input.Type("yyyymmdd");
  input.Keys({"Return"});
  ASSERT_TRUE(input.WaitForWindowGone("^Add/Edit Port$")) << program.Output();

  // Until OK nothing listens on the new port.
  const int early = TryConnect(port);
  EXPECT_LT(early, 0);
  if (early >= 0) ::close(early);
  input.Focus(list);
  input.Keys({"Return"});
  ASSERT_TRUE(input.WaitForWindowGone("^Ports$")) << program.Output();

  int client = -1;
  ASSERT_TRUE(WaitUntil([&] { return (client = TryConnect(port)) >= 0; }, kStepTimeoutMs))
      << program.Output();
  ASSERT_TRUE(SendAll(client, "captured through the dialogs"));
  ::close(client);
  EXPECT_TRUE(WaitUntil([&] { return FolderContent(captures) == "captured through the dialogs"; },
                        kStepTimeoutMs))
      << "captured: '" << FolderContent(captures) << "'\n"
      << program.Output();
  EXPECT_EQ(TIniFile(program.SettingsPath()).ReadText("Ports", std::to_string(port), ""),
            captures + ",yyyymmdd,F,0,");
}

}  // namespace

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <optional>
#include <string>

#include "net/port_holder.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/program_process.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "support/x_display.h"

namespace {

// Under the sanitizers the program starts slowly.
constexpr int kStepTimeoutMs = 30000;

// One copy of the program and its settings file, started as often as a test
// needs: every start finds the same settings file.
class TTrayProgram {
 public:
  explicit TTrayProgram(const std::string& display) {
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert("DISPLAY", QString::fromStdString(display));
    environment_.insert("QT_QPA_PLATFORM", "xcb");
    // The X client libraries keep their allocations until the process ends.
    environment_.insert("ASAN_OPTIONS", "detect_leaks=0");
    // The tray is the X one; a desktop's session bus could offer another.
    environment_.remove("DBUS_SESSION_BUS_ADDRESS");
  }

  std::string Folder() const { return folder_.Path(); }
  std::string SettingsPath() const { return folder_.FilePath("tarnock.ini"); }

  bool Install(const std::string& settings) {
    return QFile::copy(TARNOCK_BINARY, Binary()) && WriteWholeFile(SettingsPath(), settings);
  }

  bool Start(QProcess& process, const QStringList& arguments) const {
    process.setProcessEnvironment(environment_);
    process.start(Binary(), arguments);
    return process.waitForStarted(kStepTimeoutMs);
  }

  const QProcessEnvironment& Environment() const { return environment_; }

 private:
  QString Binary() const { return QString::fromStdString(folder_.FilePath("tarnock")); }

  TTempFolder folder_;
  QProcessEnvironment environment_;
};

void Stop(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(kStepTimeoutMs)) process.kill();
  process.waitForFinished(5000);
}

class TrayEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!TXDisplay::Available()) GTEST_SKIP() << "no X server can start here";
    const std::optional<std::string> missing = TXTools::MissingTool();
    ASSERT_FALSE(missing) << *missing << " is missing; scripts/setup.sh installs it";
    ASSERT_TRUE(display_.Start(1024, 768));
    tools_.emplace(display_.Name());
    program_.emplace(display_.Name());
    port_ = FreeLoopbackPort();
  }
  void TearDown() override {
    for (QProcess* process : {&later_, &first_, &trayHost_}) Stop(*process);
  }

  const TXTools& X() const { return *tools_; }

  std::string Settings(const std::string& window) const {
    return window + "[Ports]\n" + std::to_string(port_) + "=" + program_->Folder() +
           ",yyyymmdd,F,0,\n";
  }

  // A tray host holds the tray selection once its panel is up.
  void StartTrayHost() {
    ASSERT_FALSE(QStandardPaths::findExecutable("trayer").isEmpty())
        << "trayer is missing; scripts/setup.sh installs it";
    trayHost_.setProcessEnvironment(program_->Environment());
    trayHost_.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                               "--height", "24"});
    ASSERT_TRUE(trayHost_.waitForStarted(kStepTimeoutMs));
    ASSERT_TRUE(WaitUntil([&] { return Tree().contains(R"("panel": ("panel" "trayer"))"); },
                          kStepTimeoutMs));
  }

  QString Tree() const { return QString::fromStdString(X().Run("xwininfo", {"-root", "-tree"})); }

  // The program's icon in the tray, once it is mapped there.
  std::string TrayIcon() const {
    std::string icon;
    WaitUntil(
        [&] {
          const QRegularExpressionMatch match =
              QRegularExpression(R"((0x[0-9a-f]+) "tarnock": \("tarnock" "tarnock"\))")
                  .match(Tree());
          if (!match.hasMatch()) return false;
          icon = match.captured(1).toStdString();
          return X().Run("xwininfo", {"-id", match.captured(1)}).find("IsViewable") !=
                 std::string::npos;
        },
        kStepTimeoutMs);
    return icon;
  }

  int VisibleMainWindows() const {
    const QString found = QString::fromStdString(
        X().Run("xdotool", {"search", "--onlyvisible", "--name", "^Tarnock"}));
    return found.isEmpty() ? 0 : static_cast<int>(found.split('\n').size());
  }

  std::string AlreadyRunning(const std::string& how) const {
    const std::optional<TPortHolder> holder = FindPortHolder(port_);
    return "tarnock: already running for " + program_->SettingsPath() + " (pid " +
           (holder ? std::to_string(holder->Pid) : "?") + ")" + how + "\n";
  }

  TXDisplay display_;
  std::optional<TXTools> tools_;
  std::optional<TTrayProgram> program_;
  QProcess trayHost_;
  QProcess first_;
  QProcess later_;
  uint16_t port_ = 0;
};

// From autostart to the tray, back to the screen through a second start,
// into the tray through the close box and out of it through the icon.
TEST_F(TrayEndToEndTest, HiddenStartSitsInTheTrayUntilASecondStartOrTheIconShowsIt) {
  StartTrayHost();
  ASSERT_TRUE(program_->Install(Settings("[Window]\nCloseToTray=1\n")));
  ASSERT_TRUE(program_->Start(first_, {"--hidden"}));
  const std::string icon = TrayIcon();
  ASSERT_FALSE(icon.empty()) << first_.readAll().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return TProgramProcess::PortIsListening(port_); }, kStepTimeoutMs));
  EXPECT_EQ(VisibleMainWindows(), 0);

  QElapsedTimer secondStart;
  secondStart.start();
  ASSERT_TRUE(program_->Start(later_, {}));
  ASSERT_TRUE(later_.waitForFinished(kStepTimeoutMs));
  RecordProperty("second_start_ms", static_cast<int>(secondStart.elapsed()));
  EXPECT_EQ(later_.exitCode(), 0);
  EXPECT_EQ(later_.readAllStandardError().toStdString(), AlreadyRunning("; its window is shown"));
  const std::string window = X().WaitForWindow("^Tarnock", kStepTimeoutMs);
  ASSERT_FALSE(window.empty());

  // Openbox closes the active window on Alt+F4, as with its close box. On a
  // loaded machine the window manager may miss the first keys, so they are
  // given again while the window is still there.
  bool closed = false;
  for (int tried = 0; tried < 5 && !closed; ++tried) {
    X().Focus(window);
    X().Keys({"alt+F4"});
    closed = X().WaitForWindowGone("^Tarnock", kStepTimeoutMs / 5);
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(first_.state(), QProcess::Running);
  X().Click(icon, 11, 11);
  EXPECT_FALSE(X().WaitForWindow("^Tarnock", kStepTimeoutMs).empty());

  // --new-instance asks nobody: a second window comes.
  ASSERT_TRUE(program_->Start(later_, {"--new-instance"}));
  EXPECT_TRUE(WaitUntil([&] { return VisibleMainWindows() == 2; }, kStepTimeoutMs));
  Stop(later_);

  ASSERT_EQ(::kill(static_cast<pid_t>(first_.processId()), SIGTERM), 0);
  ASSERT_TRUE(first_.waitForFinished(kStepTimeoutMs));
  EXPECT_EQ(first_.exitCode(), 0);
}

// The user service runs the program without a window; a window started for
// the same settings file can't show it and says so.
TEST_F(TrayEndToEndTest, AWindowStartNamesTheServiceThatHasNoWindow) {
  ASSERT_TRUE(program_->Install(Settings("")));
  ASSERT_TRUE(program_->Start(first_, {"-platform", "offscreen", "--hidden"}));
  ASSERT_TRUE(WaitUntil([&] { return TProgramProcess::PortIsListening(port_); }, kStepTimeoutMs));
  ASSERT_TRUE(program_->Start(later_, {}));
  ASSERT_TRUE(later_.waitForFinished(kStepTimeoutMs));
  EXPECT_EQ(later_.exitCode(), 0);
  EXPECT_EQ(later_.readAllStandardError().toStdString(),
            AlreadyRunning(" without a window; stop that one to capture with a window here"));
  // The log's lines reach standard error from a thread of their own.
  const std::string listening = "Listening on port " + std::to_string(port_) + "\n";
  std::string error;
  WaitUntil(
      [&] {
        error += first_.readAllStandardError().toStdString();
        return error.find(listening) != std::string::npos;
      },
      kStepTimeoutMs);
  EXPECT_EQ(error,
            "tarnock: no system tray to keep the window in; --hidden is ignored\n" + listening);
}

}  // namespace

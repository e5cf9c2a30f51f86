#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <ostream>
#include <string>

#include "support/loopback.h"
#include "support/program_process.h"
#include "support/wait.h"

namespace {

// Under the sanitizers the program starts and ends slowly.
constexpr int kProgramTimeoutMs = 30000;

// The environment of a desktop session without its display, as a service
// or a remote shell has it.
QProcessEnvironment WithoutDisplay() {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    environment.remove(name);
  return environment;
}

// A display is named, but no X server answers there.
QProcessEnvironment UnreachableDisplay() {
  QProcessEnvironment environment = WithoutDisplay();
  environment.insert("DISPLAY", ":12345");
  return environment;
}

QProcessEnvironment Offscreen() {
  QProcessEnvironment environment = WithoutDisplay();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  return environment;
}

// A platform that no plugin provides, chosen the way a desktop file or a
// shell profile would.
QProcessEnvironment UnknownPlatform() {
  QProcessEnvironment environment = WithoutDisplay();
  environment.insert("QT_QPA_PLATFORM", "bogus;nothing");
  return environment;
}

class CommandLineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program_.IsReady());
    port_ = FreeLoopbackPort();
    program_.WriteSettings("[Ports]\n" + std::to_string(port_) + "=" + program_.Folder() +
                           ",yyyymmdd,F,0,\n");
    process_.setProgram(QString::fromStdString(program_.Folder() + "/tarnock"));
    process_.setWorkingDirectory(QString::fromStdString(program_.Folder()));
  }

  void Start(const QStringList& arguments, const QProcessEnvironment& environment) {
    process_.setArguments(arguments);
    process_.setProcessEnvironment(environment);
    process_.start();
    ASSERT_TRUE(process_.waitForStarted(kProgramTimeoutMs));
  }

  // Runs the program to its end; false when it did not end in time.
  bool Ended() {
    return process_.waitForFinished(kProgramTimeoutMs) &&
           process_.exitStatus() == QProcess::NormalExit;
  }

  std::string StandardOutput() { return process_.readAllStandardOutput().toStdString(); }
  std::string StandardError() { return process_.readAllStandardError().toStdString(); }

  TProgramProcess program_{TARNOCK_BINARY};
  QProcess process_;
  uint16_t port_ = 0;
};

constexpr const char* kPlatformNeedsName =
    "tarnock: -platform needs the name of a platform, such as -platform offscreen; see tarnock "
    "--help\n";
// The list is the installed plugins'; offscreen and xcb are always among them.
constexpr const char* kBogusPlatform =
    "tarnock: platform \"bogus\" not found; available platforms: [a-z0-9, -]*offscreen[a-z0-9, "
    "-]*xcb[a-z0-9, -]*\n";

constexpr const char* kNoDisplay =
    "tarnock: no display; start it in a desktop session, or with -platform offscreen to capture "
    "without a window\n";

// Arguments that end the program before anything listens: what it prints on
// standard output and standard error (regular expressions, matched in full),
// and its exit status. "<settings>" in an expectation stands for the settings
// file's path.
struct TEarlyEndCase {
  const char* name;
  QStringList arguments;
  QProcessEnvironment (*environment)();
  int status;
  const char* output;
  const char* error;
};

bool MatchesInFull(const std::string& pattern, const std::string& text) {
  return QRegularExpression(QRegularExpression::anchoredPattern(pattern.c_str()),
                            QRegularExpression::DotMatchesEverythingOption)
      .match(QString::fromStdString(text))
      .hasMatch();
}

void PrintTo(const TEarlyEndCase& c, std::ostream* out) { *out << c.name; }

class EarlyEndTest : public CommandLineTest, public testing::WithParamInterface<TEarlyEndCase> {};

TEST_P(EarlyEndTest, AnswersAndEndsWithoutListening) {
  const TEarlyEndCase& c = GetParam();
  Start(c.arguments, c.environment());
  ASSERT_TRUE(Ended());
  EXPECT_EQ(process_.exitCode(), c.status);
  std::string output = c.output;
  if (const size_t at = output.find("<settings>"); at != std::string::npos)
    output.replace(at, 10,
                   QRegularExpression::escape(program_.SettingsPath().c_str()).toStdString());
  const std::string printed = StandardOutput();
  EXPECT_TRUE(MatchesInFull(output, printed)) << printed;
  const std::string complained = StandardError();
  EXPECT_TRUE(MatchesInFull(c.error, complained)) << complained;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, EarlyEndTest,
    testing::Values(
        TEarlyEndCase{
            "help",
            {"--help"},
            Offscreen,
            0,
            "Usage: tarnock .*\nSettings file: <settings>\n.*-platform offscreen.*README.*",
            ""},
        TEarlyEndCase{
            "help_needs_no_display", {"--help"}, WithoutDisplay, 0, "Usage: tarnock .*", ""},
        TEarlyEndCase{
            "version", {"--version"}, WithoutDisplay, 0, "tarnock [0-9]+\\.[0-9]+\\.[0-9]+\n", ""},
        TEarlyEndCase{"unknown_option",
                      {"--bogus"},
                      Offscreen,
                      2,
                      "",
                      "tarnock: unknown argument \"--bogus\"; see tarnock --help\n"},
        TEarlyEndCase{"word_after_a_qt_option",
                      {"-platform", "offscreen", "capture"},
                      WithoutDisplay,
                      2,
                      "",
                      "tarnock: unknown argument \"capture\"; see tarnock --help\n"},
        TEarlyEndCase{"unknown_option_without_display",
                      {"-reverse", "--bogus"},
                      WithoutDisplay,
                      2,
                      "",
                      "tarnock: unknown argument \"--bogus\"; see tarnock --help\n"},
        TEarlyEndCase{"platform_without_name", {"-platform"}, Offscreen, 2, "", kPlatformNeedsName},
        TEarlyEndCase{"platform_without_name_or_display",
                      {"-platform"},
                      WithoutDisplay,
                      2,
                      "",
                      kPlatformNeedsName},
        TEarlyEndCase{"platform_with_empty_name",
                      {"-platform", "", "-style", "fusion"},
                      Offscreen,
                      2,
                      "",
                      kPlatformNeedsName},
        TEarlyEndCase{"unknown_platform", {"-platform", "bogus"}, Offscreen, 2, "", kBogusPlatform},
        TEarlyEndCase{"unknown_platform_without_display",
                      {"--platform", "bogus"},
                      WithoutDisplay,
                      2,
                      "",
                      kBogusPlatform},
        TEarlyEndCase{"unknown_platforms_in_the_environment",
                      {},
                      UnknownPlatform,
                      2,
                      "",
                      "tarnock: platform \"bogus;nothing\" not found; available platforms: "
                      "[a-z0-9, -]+\n"},
        TEarlyEndCase{"no_display", {}, WithoutDisplay, 1, "", kNoDisplay},
        TEarlyEndCase{"unreachable_display", {}, UnreachableDisplay, 1, "", kNoDisplay}),
    [](const testing::TestParamInfo<TEarlyEndCase>& info) { return info.param.name; });

// The way a service runs it: no display, the platform chosen on the command
// line, and a termination signal to stop it.
TEST_F(CommandLineTest, CapturesWithoutADisplayOnTheOffscreenPlatform) {
  Start({"-platform", "offscreen"}, WithoutDisplay());
  ASSERT_TRUE(WaitUntil([&] { return TProgramProcess::PortIsListening(port_); }, kProgramTimeoutMs))
      << StandardError();
  ASSERT_EQ(::kill(static_cast<pid_t>(process_.processId()), SIGTERM), 0);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(process_.exitCode(), 0);
  EXPECT_EQ(StandardOutput(), "");
  EXPECT_EQ(StandardError(), "Listening on port " + std::to_string(port_) + "\n");
}

// What the shell set up before starting the program, and what the running
// program's descriptors and signal masks (from /proc) must show for it.
struct TInheritedCase {
  const char* name;
  const char* shellSetUp;
  const char* procFile;
  const char* key;       // the start of the line to read; empty for a link
  const char* expected;  // that line, or the target of the link
};

void PrintTo(const TInheritedCase& c, std::ostream* out) { *out << c.name; }

class InheritedTest : public CommandLineTest, public testing::WithParamInterface<TInheritedCase> {
 protected:
  std::string ProcEntry(const char* name) const {
    const QString path = QString("/proc/%1/%2").arg(process_.processId()).arg(name);
    const QFileInfo info(path);
    if (info.isSymLink()) return info.symLinkTarget().toStdString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<unreadable>";
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (line.startsWith(GetParam().key)) return line.toStdString();
    }
    return "<missing>";
  }
};

TEST_P(InheritedTest, IsKeptOrMendedBeforeListening) {
  const TInheritedCase& c = GetParam();
  const QString command = QString("%1; exec \"$0\"").arg(c.shellSetUp);
  process_.setProgram("/bin/sh");
  Start({"-c", command, QString::fromStdString(program_.Folder() + "/tarnock")}, Offscreen());
  ASSERT_TRUE(
      WaitUntil([&] { return TProgramProcess::PortIsListening(port_); }, kProgramTimeoutMs));
  EXPECT_EQ(ProcEntry(c.procFile), c.expected);
  ASSERT_EQ(::kill(static_cast<pid_t>(process_.processId()), SIGTERM), 0);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(process_.exitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shell, InheritedTest,
    testing::Values(
        // Otherwise descriptor 2 would be the first socket or file opened,
        // and the log lines would go into it.
        TInheritedCase{"closed_standard_error_is_reopened", "exec 2>&-", "fd/2", "", "/dev/null"},
        // Started through nohup, the terminal's hangup leaves it running.
        TInheritedCase{"ignored_hangup_stays_ignored", "trap '' HUP", "status",
                       "SigIgn:", "SigIgn:\t0000000000001001"}),
    [](const testing::TestParamInfo<TInheritedCase>& info) { return info.param.name; });

}  // namespace

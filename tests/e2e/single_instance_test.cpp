#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <optional>
#include <string>

#include "net/port_holder.h"
#include "support/loopback.h"
#include "support/program_process.h"
#include "support/wait.h"

namespace {

// Under the sanitizers the program starts and ends slowly.
constexpr int kProgramTimeoutMs = 30000;

// One program runs for a settings file, on the offscreen platform as the
// user service runs it; a later start goes to the same copy of the
// executable, so it finds the same settings file.
class SingleInstanceTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(first_.IsReady());
    port_ = FreeLoopbackPort();
    first_.WriteSettings("[Ports]\n" + std::to_string(port_) + "=" + first_.Folder() +
                         ",yyyymmdd,F,0,\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    later_.setProcessEnvironment(environment);
    later_.setProgram(QString::fromStdString(first_.Folder() + "/tarnock"));
    later_.setWorkingDirectory(QString::fromStdString(first_.Folder()));
  }
  void TearDown() override {
    if (later_.state() == QProcess::NotRunning) return;
    later_.kill();
    later_.waitForFinished(5000);
  }

  void StartFirst() {
    ASSERT_TRUE(first_.Start());
    ASSERT_TRUE(
        WaitUntil([&] { return TProgramProcess::PortIsListening(port_); }, kProgramTimeoutMs))
        << first_.Output();
  }

  // The later start's exit status once it ended by itself; -1 when it is
  // still running.
  int LaterEnds(const QStringList& arguments) {
    later_.setArguments(arguments);
    later_.start();
    if (!later_.waitForStarted(kProgramTimeoutMs) || !later_.waitForFinished(kProgramTimeoutMs))
      return -1;
    return later_.exitStatus() == QProcess::NormalExit ? later_.exitCode() : -1;
  }

  // What a later start says of the first, which holds the port.
  std::string AlreadyRunning() const {
    const std::optional<TPortHolder> holder = FindPortHolder(port_);
    return "tarnock: already running for " + first_.SettingsPath() + " (pid " +
           (holder ? std::to_string(holder->Pid) : "?") + ")\n";
  }

  std::string LaterError() { return later_.readAllStandardError().toStdString(); }

  TProgramProcess first_{TARNOCK_BINARY};
  QProcess later_;
  uint16_t port_ = 0;
};

TEST_F(SingleInstanceTest, ALaterStartNamesTheRunningOneAndEnds) {
  StartFirst();
  ASSERT_EQ(LaterEnds({}), 0);
  EXPECT_EQ(LaterError(), AlreadyRunning());
  ASSERT_TRUE(first_.Signal(SIGTERM));
  EXPECT_TRUE(first_.EndedCleanly(kProgramTimeoutMs));
}

// A killed instance leaves its socket behind; it must not stop the next start.
TEST_F(SingleInstanceTest, ASocketLeftByAKilledRunIsTakenOver) {
  StartFirst();
  ASSERT_TRUE(first_.Signal(SIGKILL));
  ASSERT_TRUE(
      WaitUntil([&] { return !TProgramProcess::PortIsListening(port_); }, kProgramTimeoutMs));
  later_.start();
  ASSERT_TRUE(later_.waitForStarted(kProgramTimeoutMs));
  EXPECT_TRUE(WaitUntil([&] { return TProgramProcess::PortIsListening(port_); }, kProgramTimeoutMs))
      << LaterError();
  EXPECT_EQ(later_.state(), QProcess::Running);
}

// --new-instance neither asks nor answers: it runs beside the first, whose
// ports it then finds busy, and a third start still finds the first.
TEST_F(SingleInstanceTest, ANewInstanceRunsBesideTheFirst) {
  StartFirst();
  later_.setArguments({"--new-instance"});
  later_.start();
  ASSERT_TRUE(later_.waitForStarted(kProgramTimeoutMs));
  std::string error;
  EXPECT_TRUE(WaitUntil(
      [&] {
        error += LaterError();
        return error.find("is busy") != std::string::npos;
      },
      kProgramTimeoutMs))
      << error;
  EXPECT_EQ(later_.state(), QProcess::Running);

  QProcess third;
  third.setProcessEnvironment(later_.processEnvironment());
  third.start(later_.program(), {});
  ASSERT_TRUE(third.waitForFinished(kProgramTimeoutMs));
  EXPECT_EQ(third.exitCode(), 0);
  EXPECT_EQ(third.readAllStandardError().toStdString(), AlreadyRunning());
}

}  // namespace

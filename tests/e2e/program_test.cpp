#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <csignal>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "support/log_lines.h"
#include "support/loopback.h"
#include "support/program_process.h"
#include "support/wait.h"

namespace {

// Under the sanitizers the program starts and ends slowly.
constexpr int kProgramTimeoutMs = 30000;

class ProgramTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(program_.IsReady()); }

  std::string CaptureFolder() const { return program_.Folder() + "/captures"; }

  // The [Ports] line of a port picked free, which becomes the test's port.
  std::string PortLine() {
    port_ = FreeLoopbackPort();
    return std::to_string(port_) + "=" + CaptureFolder() + ",yyyymmddhhnnss,F,0,\n";
  }

  // Starts the program with one port and waits until it listens there.
  void StartWithPort(const std::string& extraSettings = "") {
    StartWith("[Ports]\n" + PortLine() + extraSettings);
  }

  void StartWith(const std::string& settings) {
    program_.WriteSettings(settings);
    ASSERT_TRUE(program_.Start());
    ASSERT_TRUE(
        WaitUntil([&] { return TProgramProcess::PortIsListening(port_); }, kProgramTimeoutMs))
        << program_.Output();
  }

  std::vector<std::string> CaptureFiles() const {
    std::vector<std::string> paths;
    const QDir folder(QString::fromStdString(CaptureFolder()));
    for (const QString& name : folder.entryList({"*.txt"}, QDir::Files, QDir::Name))
      paths.push_back(folder.filePath(name).toStdString());
    return paths;
  }

  // The one capture file once it holds the given number of bytes.
  std::string CaptureOnceItHolds(size_t size) const {
    std::string content;
    WaitUntil(
        [&] {
          const std::vector<std::string> files = CaptureFiles();
          content = files.size() == 1 ? ReadWholeFile(files[0]) : std::string();
          return content.size() >= size;
        },
        kProgramTimeoutMs);
    return content;
  }

  void EndWith(int signalNumber) {
    ASSERT_TRUE(program_.Signal(signalNumber));
    ASSERT_TRUE(program_.EndedCleanly(kProgramTimeoutMs)) << program_.Output();
  }

  // What the program printed so far, line by line.
  std::vector<std::string> OutputLines() {
    output_ += program_.Output();
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = output_.find('\n', start)) != std::string::npos;
         start = end + 1)
      lines.push_back(output_.substr(start, end - start));
    return lines;
  }

  std::string Setting(const char* section, const char* key) const {
    return TIniFile(program_.SettingsPath()).ReadText(section, key, "<absent>");
  }

  TProgramProcess program_{TARNOCK_BINARY};
  uint16_t port_ = 0;
  std::string output_;
};

std::string RandomBytes(size_t size) {
  std::mt19937 generator(size);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>(byte(generator));
  return bytes;
}

std::string CountingBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 256);
  return bytes;
}

struct PayloadCase {
  const char* name;
  std::string payload;
};

void PrintTo(const PayloadCase& c, std::ostream* out) { *out << c.name; }

class PayloadTest : public ProgramTest, public testing::WithParamInterface<PayloadCase> {};

TEST_P(PayloadTest, ArrivesWholeInItsCaptureFile) {
  StartWithPort();
  const std::string& payload = GetParam().payload;
  const int connection = ConnectLoopback(port_);
  ASSERT_GE(connection, 0);
  ASSERT_TRUE(SendAll(connection, payload));
  ::close(connection);

  const std::string content = CaptureOnceItHolds(payload.size());
  EXPECT_EQ(content.size(), payload.size());
  EXPECT_TRUE(content == payload);
  EndWith(SIGTERM);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, PayloadTest,
    testing::Values(PayloadCase{"text", "hello"},
                    PayloadCase{"zero_bytes_first", std::string("\0\0\0abc\0", 7)},
                    PayloadCase{"binary_with_zero_bytes", CountingBytes(3000)},
                    PayloadCase{"a_few_megabytes", RandomBytes(3 * 1024 * 1024)}),
    [](const testing::TestParamInfo<PayloadCase>& info) { return info.param.name; });

struct SignalCase {
  const char* name;
  int number;
};

void PrintTo(const SignalCase& c, std::ostream* out) { *out << c.name; }

class TerminationTest : public ProgramTest, public testing::WithParamInterface<SignalCase> {};

// A signal ends the program as Close does: the placement of the normal
// window is saved, and an open connection's capture is kept as it is.
TEST_P(TerminationTest, EndsLikeCloseWithAnOpenConnection) {
  StartWithPort("[File]\nDeleteIfEmpty=1\n");
  const int connection = ConnectLoopback(port_);
  ASSERT_GE(connection, 0);
  ASSERT_TRUE(WaitUntil([&] { return CaptureFiles().size() == 1; }, kProgramTimeoutMs));

  EndWith(GetParam().number);
  ::close(connection);
  ASSERT_EQ(CaptureFiles().size(), 1u);
  EXPECT_EQ(ReadWholeFile(CaptureFiles()[0]), "");
  EXPECT_EQ(Setting("Window", "Height"), "151");
  EXPECT_NE(Setting("Window", "Top"), "<absent>");
  EXPECT_NE(Setting("Window", "Left"), "<absent>");
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationTest,
                         testing::Values(SignalCase{"SIGTERM", SIGTERM},
                                         SignalCase{"SIGINT", SIGINT},
                                         SignalCase{"SIGHUP", SIGHUP}),
                         [](const testing::TestParamInfo<SignalCase>& info) {
                           return info.param.name;
                         });

// Bytes that reached this machine before the program was told to end are
// captured, whether or not the program had received them yet.
TEST_F(ProgramTest, BytesSentJustBeforeTheEndAreCaptured) {
  StartWithPort();
  const int connection = ConnectLoopback(port_);
  ASSERT_GE(connection, 0);
  ASSERT_TRUE(WaitUntil([&] { return CaptureFiles().size() == 1; }, kProgramTimeoutMs));
  const std::string payload = CountingBytes(5000);
  ASSERT_TRUE(SendAll(connection, payload));

  EndWith(SIGTERM);
  ::close(connection);
  EXPECT_TRUE(ReadWholeFile(CaptureFiles()[0]) == payload);
}

// Nobody answers a box at an end that a signal asked for: a failed save of
// the placement goes to standard error, and the program ends all the same.
TEST_F(ProgramTest, FailedSaveAtASignalEndGoesToStandardError) {
  StartWithPort();
  // A folder in place of the settings file fails every save, also for the
  // administrator.
  ASSERT_TRUE(QFile::remove(QString::fromStdString(program_.SettingsPath())));
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(program_.SettingsPath())));
  EndWith(SIGTERM);
  const std::vector<std::string> lines = OutputLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Unable to write to " + program_.SettingsPath());
}

// A reader that stops reading standard error (a paused pager, a stalled
// journal) fills the pipe after a few hundred jobs: capturing goes on, and a
// signal still ends the program.
TEST_F(ProgramTest, AStandardErrorNobodyReadsNeverStopsTheCapture) {
  int stalled[2];
  ASSERT_EQ(::pipe2(stalled, O_CLOEXEC), 0);
  program_.SendStandardErrorTo(stalled[1]);
  StartWithPort();
  // Three lines of about 80 bytes each: far more than the pipe holds.
  constexpr int kJobs = 600;
  for (int job = 0; job < kJobs; ++job) {
    const int connection = ConnectLoopback(port_);
    ASSERT_GE(connection, 0);
    ASSERT_TRUE(SendAll(connection, "job\n"));
    ::close(connection);
  }
  const bool allStored = WaitUntil(
      [&] {
        size_t bytes = 0;
        for (const std::string& file : CaptureFiles()) bytes += ReadWholeFile(file).size();
        return bytes == 4u * kJobs;
      },
      kProgramTimeoutMs);
  EXPECT_TRUE(allStored);
  EndWith(SIGTERM);
  ::close(stalled[0]);
  ::close(stalled[1]);
}

// A command still running after a job is left to finish when the program
// ends, and the end does not wait for it.
TEST_F(ProgramTest, AnAfterJobCommandStillRunningOutlivesTheEnd) {
  const std::string pidFile = program_.Folder() + "/command.pid";
  StartWithPort("[Jobs]\nAfterJob=echo $$ > " + pidFile + "; exec sleep 60\n");
  const int connection = ConnectLoopback(port_);
  ASSERT_GE(connection, 0);
  ASSERT_TRUE(SendAll(connection, "job"));
  ::close(connection);
  std::string pid;
  ASSERT_TRUE(WaitUntil(
      [&] {
        pid = ReadWholeFile(pidFile);
        return !pid.empty() && pid.back() == '\n';
      },
      kProgramTimeoutMs));
  EndWith(SIGTERM);
  const pid_t command = static_cast<pid_t>(std::stol(pid));
  EXPECT_EQ(::kill(command, 0), 0) << "the command ended with the program";
  ::kill(-command, SIGKILL);
  ::kill(command, SIGKILL);
}

// Standard error carries every pane line as it stands, one line per line,
// and nothing else. "0" before the port names the same port again, which is
// then busy.
TEST_F(ProgramTest, StandardErrorHoldsExactlyThePaneLines) {
  const std::string portLine = PortLine();
  const std::string port = std::to_string(port_);
  StartWith("[Ports]\n" + portLine + "0" + port + "=x\n");
  const int connection = ConnectLoopback(port_);
  ASSERT_GE(connection, 0);
  ASSERT_TRUE(SendAll(connection, "hello"));
  ::close(connection);
  ASSERT_EQ(CaptureOnceItHolds(5), "hello");
  ASSERT_TRUE(WaitUntil([&] { return OutputLines().size() >= 6; }, kProgramTimeoutMs));
  EndWith(SIGTERM);

  const std::vector<std::string> lines = OutputLines();
  ASSERT_EQ(lines.size(), 6u) << output_;
  EXPECT_EQ(lines[0], "Listening on port " + port);
  EXPECT_TRUE(HasPrefixThen(lines[1], "ERROR: Port 0" + port + " is busy")) << lines[1];
  // The program holds the port itself, and says so.
  EXPECT_TRUE(lines[2].starts_with("Port 0" + port + " is held by tarnock (pid ")) << lines[2];
  EXPECT_TRUE(HasPrefixThen(lines[3], "Connected to: 127.0.0.1 on port " + port)) << lines[3];
  EXPECT_TRUE(HasPrefixThen(lines[4], "5 bytes written to " + CaptureFiles()[0])) << lines[4];
  EXPECT_TRUE(HasPrefixThen(lines[5], "127.0.0.1 disconnected.")) << lines[5];
}

}  // namespace

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <csignal>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "capture/ini_file.h"
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

  // Starts the program with one port and waits until it listens there.
  void StartWithPort(const std::string& extraSettings = "") {
    port_ = FreeLoopbackPort();
    program_.WriteSettings("[Ports]\n" + std::to_string(port_) + "=" + CaptureFolder() +
                           ",yyyymmddhhnnss,F,0,\n" + extraSettings);
    ASSERT_TRUE(program_.Start());
    ASSERT_TRUE(WaitUntil([&] { return TProgramProcess::PortIsListening(port_); },
                          kProgramTimeoutMs))
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

  std::string Setting(const char* section, const char* key) const {
    return TIniFile(program_.SettingsPath()).ReadText(section, key, "<absent>");
  }

  TProgramProcess program_{TARNOCK_BINARY};
  uint16_t port_ = 0;
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
                                         SignalCase{"SIGINT", SIGINT}),
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

}  // namespace

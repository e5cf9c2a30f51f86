#include "support/monitor_fixture.h"

#include <sys/socket.h>
#include <unistd.h>

#include "support/file_contents.h"
#include "support/log_lines.h"
#include "support/loopback.h"
#include "support/wait.h"

namespace {

std::size_t FileSize(const std::string& path) { return ReadWholeFile(path).size(); }

}  // namespace

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 251 + seed * 31) & 0xFF);
  return bytes;
}

void ExpectCloseReport(const std::vector<std::string>& lines, std::size_t size,
                       const std::string& path) {
  ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
  EXPECT_TRUE(HasPrefixThen(lines[0], std::to_string(size) + " bytes written to " + path))
      << lines[0];
  EXPECT_TRUE(HasPrefixThen(lines[1], "127.0.0.1 disconnected.")) << lines[1];
}

void TCountingWindow::AppendMessageLine(const std::string& line) {
  const auto holds = [&line](const char* text) { return line.find(text) != std::string::npos; };
  if (holds("Connected to: ")) {
    ++Connected;
    LastConnected = line;
  }
  SizeLines += holds(" bytes written to ");
  Disconnected += holds(" disconnected.");
  Errors += holds("ERROR: ");
  if (const auto more = line.rfind(" (and "); more != std::string::npos)
    HeldBack += std::stoi(line.substr(more + 6));
  TFakeMonitorWindow::AppendMessageLine(line);
}

void MonitorFixture::SetUp() {
  TempFolderTest::SetUp();
  if (HasFatalFailure()) return;
  port_ = FreeLoopbackPort();
  ASSERT_NE(port_, 0);
}

void MonitorFixture::TearDown() {
  monitor_.reset();
  for (int fd : peers_) ::close(fd);
}

void MonitorFixture::WritePorts(const std::vector<std::string>& lines) {
  std::string text = "[Ports]\n";
  for (const auto& line : lines) text += line + "\n";
  WriteWholeFile(IniPath(), text);
}

void MonitorFixture::StartMonitor() {
  monitor_ = std::make_unique<TCaptureMonitor>(window_, IniPath(), MakeJobFeatures);
  monitor_->FormCreate();
}

int MonitorFixture::Connect() {
  const int sessions = monitor_->SessionCount();
  const int connected = window_.Connected;
  const int fd = ConnectLoopback(port_);
  EXPECT_GE(fd, 0);
  if (fd < 0) return -1;
  peers_.push_back(fd);
  const bool taken = WaitUntil(
      [&] { return monitor_->SessionCount() > sessions && window_.Connected > connected; });
  EXPECT_TRUE(taken);
  if (!taken) return -1;
  EXPECT_TRUE(HasPrefixThen(window_.LastConnected, "Connected to: 127.0.0.1 on port " + PortText()))
      << window_.LastConnected;
  return fd;
}

void MonitorFixture::SendStored(int peer, const std::string& bytes) {
  const std::size_t before = FileSize(CapturePath());
  ASSERT_TRUE(SendAll(peer, bytes));
  ASSERT_TRUE(WaitUntil([&] { return FileSize(CapturePath()) >= before + bytes.size(); }))
      << FileSize(CapturePath()) << " of " << before + bytes.size();
}

void MonitorFixture::SendFailing(int peer, const std::string& bytes) {
  const std::size_t lines = window_.MessageLines.size();
  ASSERT_TRUE(SendAll(peer, bytes));
  ASSERT_TRUE(WaitUntil([&] { return window_.MessageLines.size() > lines; }));
}

void MonitorFixture::Finish(int peer) {
  const int sessions = monitor_->SessionCount();
  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() < sessions; }));
}

void MonitorFixture::ExpectNextJobCaptured(const std::string& held, const std::string& bytes) {
  const int next = Connect();
  ASSERT_GE(next, 0);
  SendStored(next, bytes);
  Finish(next);
  EXPECT_EQ(ReadWholeFile(CapturePath()), held + bytes);
}

std::vector<std::string> MonitorFixture::LinesFrom(std::size_t first) const {
  return {window_.MessageLines.begin() + static_cast<long>(first), window_.MessageLines.end()};
}

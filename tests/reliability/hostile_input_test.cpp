// What a hostile folder or a flood of peers can try against the capture
// path: entries planted under the capture file's name, names the platform
// would cut short, a file shared by two open connections, connections that
// fail half-made, and a burst far beyond a small accept queue.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>

#include "reliability/capture_fixture.h"
#include "support/fault_injection.h"
#include "support/loopback.h"
#include "support/wait.h"

namespace {

using namespace std::literals;

struct TPlantedCase {
  const char* name;
  std::string_view fileFormat;
  char overwrite;
  // Puts something under the capture file's name (may do nothing).
  void (*plant)(const std::string& capture, const std::string& outside);
  const char* error;
};

void PlantFifo(const std::string& capture, const std::string&) { ::mkfifo(capture.c_str(), 0666); }

void PlantLink(const std::string& capture, const std::string& outside) {
  ::symlink(outside.c_str(), capture.c_str());
}

void PlantNothing(const std::string&, const std::string&) {}

// The expected line with "%s" standing for the file it names.
std::string WithPath(std::string line, const std::string& path) {
  const std::size_t at = line.find("%s");
  if (at != std::string::npos) line.replace(at, 2, path);
  return line;
}

const TPlantedCase kPlanted[] = {
    {"Fifo", "'job'"sv, 'F', PlantFifo, "ERROR: File access denied: %s is not a regular file"},
    {"LinkAppended", "'job'"sv, 'F', PlantLink,
     "ERROR: File access denied: %s is not a regular file"},
    {"LinkOverwritten", "'job'"sv, 'T', PlantLink,
     "ERROR: File access denied: %s is not a regular file"},
    // A quoted NUL byte from a hand-edited settings file.
    {"NulInName", "'job\0x'"sv, 'F', PlantNothing, "ERROR: Invalid filename"},
};

class PlantedEntryTest : public CaptureFixture, public testing::WithParamInterface<TPlantedCase> {};

// The preparation fails at once, without waiting and without touching any
// file but its own; the peer is cut off and the next connection is captured.
TEST_P(PlantedEntryTest, RefusesTheConnectionAndWritesNothingElsewhere) {
  const TPlantedCase& c = GetParam();
  const std::string outside = Root() + "/outside.txt";
  WriteWholeFile(outside, "not yours");
  std::filesystem::create_directory(CaptureFolder());
  c.plant(CapturePath(), outside);
  Start(std::string(c.fileFormat), c.overwrite);
  const int peer = ConnectLoopback(port_);
  ASSERT_GE(peer, 0);
  peers_.push_back(peer);
  ASSERT_TRUE(WaitUntil([&] { return window_.PortLines.size() == 2; }));
  EXPECT_TRUE(HasPrefixThen(window_.PortLines[1], WithPath(c.error, CapturePath())))
      << window_.PortLines[1];
  EXPECT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_EQ(ReadWholeFile(outside), "not yours");
  EXPECT_FALSE(std::filesystem::exists(CaptureFolder() + "/job")) << "a name cut at its NUL";

  std::filesystem::remove(CapturePath());
  monitor_.reset();
  Start();
  ExpectNextJobCaptured("", "after");
}

INSTANTIATE_TEST_SUITE_P(Entries, PlantedEntryTest, testing::ValuesIn(kPlanted),
                         [](const auto& info) { return std::string(info.param.name); });

struct TSpoiledSettingsCase {
  const char* name;
  bool fifo;         // the settings file becomes a FIFO
  TFault openFault;  // else: the settings file's open fails
  const char* error;
};

class SpoiledSettingsTest : public CaptureFixture,
                            public testing::WithParamInterface<TSpoiledSettingsCase> {};

// The port's definition is read at every connection. A settings file that is
// there but cannot be read fails the connection with its own message, and a
// FIFO in its place never makes the program wait.
TEST_P(SpoiledSettingsTest, FailsTheConnectionWithItsOwnMessage) {
  const TSpoiledSettingsCase& c = GetParam();
  Start();
  const std::string settings = ReadWholeFile(IniPath());
  std::optional<TFileFault> fault;
  if (c.fifo) {
    std::filesystem::remove(IniPath());
    ASSERT_EQ(::mkfifo(IniPath().c_str(), 0666), 0);
  } else {
    fault.emplace(TFileCall::Open, c.openFault);
  }
  const int peer = ConnectLoopback(port_);
  ASSERT_GE(peer, 0);
  peers_.push_back(peer);
  ASSERT_TRUE(WaitUntil([&] { return window_.PortLines.size() == 2; }));
  fault.reset();
  const std::string error = WithPath(c.error, IniPath());
  EXPECT_TRUE(HasPrefixThen(window_.PortLines[1], error)) << window_.PortLines[1];
  EXPECT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
  EXPECT_EQ(monitor_->SessionCount(), 0);

  // At start the same file opens no port, and the port log says why.
  monitor_.reset();
  window_.PortLines.clear();
  if (!c.fifo) fault.emplace(TFileCall::Open, TFault{1, 0, c.openFault.error});
  monitor_ = std::make_unique<TCaptureMonitor>(window_, IniPath(), MakeJobFeatures);
  monitor_->FormCreate();
  fault.reset();
  ASSERT_EQ(window_.PortLines.size(), 1u);
  EXPECT_TRUE(HasPrefixThen(window_.PortLines[0], error)) << window_.PortLines[0];
  EXPECT_EQ(monitor_->ListenerCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SpoiledSettingsTest,
    testing::Values(TSpoiledSettingsCase{"Fifo", true, {}, "ERROR: File access denied: %s"},
                    TSpoiledSettingsCase{"OutOfDescriptors", false, TFault{1, 1, EMFILE},
                                         "ERROR: Too many open files: %s"}),
    [](const auto& info) { return std::string(info.param.name); });

// A port probe that ends empty within the same minute as a real job must not
// delete the file the job is still writing into.
TEST_F(CaptureFixture, AnEmptyConnectionKeepsAFileAnotherOneStillWrites) {
  Start("'job'", 'F', true);
  const int writer = Connect();
  ASSERT_GE(writer, 0);
  const int probe = Connect();
  ASSERT_GE(probe, 0);
  std::size_t lines = window_.MessageLines.size();
  Finish(probe);
  ExpectCloseReport(LinesFrom(lines), 0, CapturePath());
  ASSERT_TRUE(std::filesystem::exists(CapturePath()));
  const std::string job = Pattern(2500, 9);
  SendStored(writer, job);
  lines = window_.MessageLines.size();
  Finish(writer);
  ExpectCloseReport(LinesFrom(lines), job.size(), CapturePath());
  EXPECT_EQ(ReadWholeFile(CapturePath()), job);
}

// The connection fails after its file was made: the file goes as the
// connection's close would have taken it, with Delete if Empty on.
TEST_F(CaptureFixture, AHalfMadeSessionLeavesNoEmptyFileBehind) {
  Start("'job'", 'F', true);
  {
    TSocketFault registration(TSocketCall::EpollCtl, TFault{1, 1, ENOMEM});
    const int peer = ConnectLoopback(port_);
    ASSERT_GE(peer, 0);
    peers_.push_back(peer);
    ASSERT_TRUE(WaitUntil([&] { return window_.PortLines.size() == 2; }));
  }
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(CapturePath()));
  EXPECT_TRUE(window_.MessageLines.empty());
}

// A non-blocking connect to 127.0.0.1:port, under way or done.
int StartConnect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Two thousand peers connect in one burst, before the monitor takes any, and
// each sends one job: the accept queue holds them all, so every job arrives.
TEST_F(CaptureFixture, ABurstOfTwoThousandConnectionsLosesNoJob) {
  constexpr int kPeers = 2000;
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 2 * kPeers + 200)
    GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
  limit.rlim_cur = limit.rlim_max;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  Start();
  std::vector<int> burst;
  for (int i = 0; i < kPeers; ++i) {
    const int fd = StartConnect(port_);
    ASSERT_GE(fd, 0) << "connection " << i;
    burst.push_back(fd);
    peers_.push_back(fd);
  }
  // Every connect completes inside the kernel; none waits for a retry.
  int sent = 0;
  for (int i = 0; i < kPeers; ++i) {
    pollfd entry{burst[static_cast<std::size_t>(i)], POLLOUT, 0};
    if (::poll(&entry, 1, 5000) != 1 || (entry.revents & (POLLERR | POLLHUP)) != 0) continue;
    const std::string job = "<" + std::to_string(i) + ">";
    if (::send(entry.fd, job.data(), job.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(job.size())) {
      ::shutdown(entry.fd, SHUT_WR);
      ++sent;
    }
  }
  EXPECT_EQ(sent, kPeers);
  ASSERT_TRUE(WaitUntil([&] { return window_.SizeLines == kPeers; }, 120000))
      << window_.SizeLines << " of " << kPeers << " reported";
  const std::string stored = ReadWholeFile(CapturePath());
  std::set<std::string> jobs;
  for (std::size_t at = 0; (at = stored.find('<', at)) != std::string::npos; ++at)
    jobs.insert(stored.substr(at, stored.find('>', at) - at + 1));
  EXPECT_EQ(jobs.size(), static_cast<std::size_t>(kPeers));
}

}  // namespace

// Peers that misbehave: resets in the middle of a stream, half-closes, and a
// crowd that connects and vanishes at once. Nothing that reached the capture
// file is lost, every session gets its close report, and the service keeps
// taking connections.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "reliability/capture_fixture.h"
#include "support/fault_injection.h"
#include "support/loopback.h"
#include "support/wait.h"

namespace {

// A non-blocking socket whose connection to 127.0.0.1:port is on its way.
int ConnectWithoutWaiting(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST_F(CaptureFixture, PeerResetMidStreamKeepsEveryStoredByteAndClosesTheSession) {
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  const std::string stored = Pattern(5000, 4);
  SendStored(peer, stored);
  const std::size_t lines = window_.MessageLines.size();
  ResetConnection(peer);
  peers_.pop_back();
  ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() == 0; }))
      << testing::PrintToString(LinesFrom(lines));
  EXPECT_EQ(ReadWholeFile(CapturePath()), stored);
  // The reset connection has no peer name left to show in the disconnect
  // line; the failure of that query is what the log says instead.
  const std::vector<std::string> report = LinesFrom(lines);
  ASSERT_EQ(report.size(), 3u) << testing::PrintToString(report);
  EXPECT_TRUE(HasPrefixThen(report[0], "5000 bytes written to " + CapturePath())) << report[0];
  EXPECT_TRUE(HasPrefixThen(report[1], "ERROR: Error 10057 in function GetPeerName")) << report[1];
  EXPECT_EQ(report[2], "Socket is not connected");
  EXPECT_EQ(window_.Caption(), "Tarnock - Listening");

  ExpectNextJobCaptured(stored, "next");
}

// Peers that reset right after sending: the bytes had reached this machine
// before the reset did, and every one of them is stored.
TEST_F(CaptureFixture, PeersThatResetRightAfterSendingLoseNothing) {
  Start();
  constexpr int kJobs = 200;
  const std::string job = Pattern(2000, 6);
  for (int i = 0; i < kJobs; ++i) {
    const int peer = ConnectLoopback(port_);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(SendAll(peer, job));
    ResetConnection(peer);
  }
  const bool stored = WaitUntil(
      [&] {
        return window_.SizeLines == kJobs && monitor_->SessionCount() == 0 &&
               ReadWholeFile(CapturePath()).size() == job.size() * kJobs;
      },
      30000);
  EXPECT_TRUE(stored) << window_.SizeLines << " closes, " << ReadWholeFile(CapturePath()).size()
                      << " bytes";
  EXPECT_EQ(window_.Connected, kJobs);
  ExpectNextJobCaptured(ReadWholeFile(CapturePath()), "after the resets");
}

// Out of descriptors, every peer of a flood fails the same way: the port log
// gets that line once a second, and the count of the rest is written within
// a second after the burst, though the failure never comes back.
TEST_F(CaptureFixture, AFloodOutOfDescriptorsGivesOneLineASecond) {
  Start();
  constexpr int kPeers = 300;
  std::vector<int> crowd;
  {
    TFileFault exhausted(TFileCall::Open, TFault{1, 0, EMFILE});
    for (int i = 0; i < kPeers; ++i) crowd.push_back(ConnectWithoutWaiting(port_));
    ASSERT_TRUE(WaitUntil([&] {
      return std::all_of(crowd.begin(), crowd.end(), [](int fd) { return PeerClosed(fd); });
    }));
  }
  for (int fd : crowd) ::close(fd);
  const std::string error = "ERROR: Too many open files: " + IniPath();
  const auto counted = [&] {
    int lines = 0;
    for (std::size_t i = 1; i < window_.PortLines.size(); ++i) {
      const std::string& line = window_.PortLines[i];
      const auto more = line.rfind(" (and ");
      EXPECT_TRUE(HasPrefixThen(line.substr(0, more), error)) << line;
      lines += 1 + (more == std::string::npos ? 0 : std::stoi(line.substr(more + 6)));
    }
    return lines;
  };
  EXPECT_TRUE(WaitUntil([&] { return counted() == kPeers; }));
  EXPECT_LE(window_.PortLines.size(), 4u) << testing::PrintToString(window_.PortLines);
  EXPECT_EQ(monitor_->SessionCount(), 0);
  ExpectNextJobCaptured("", "after the flood");
}

// The peer stops sending but keeps reading: its half-close ends the capture
// at once, with every byte it sent, and the peer then sees the connection end.
TEST_F(CaptureFixture, PeerHalfCloseEndsTheCaptureWithEveryByte) {
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  const std::string job = Pattern(70000, 5);
  ASSERT_TRUE(SendAll(peer, job));
  const std::size_t lines = window_.MessageLines.size();
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(CapturePath()), job);
  ExpectCloseReport(LinesFrom(lines), job.size(), CapturePath());
  char byte;
  EXPECT_LE(::recv(peer, &byte, 1, 0), 0);
}

// Connections waiting in the accept queue of the listener on the port, as
// /proc/net/tcp or, for a dual-stack listener, /proc/net/tcp6 shows it (the
// receive queue of a listening entry); -1 when the listener is not found.
int AcceptQueueLength(uint16_t port) {
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream table(path);
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues;
      fields >> slot >> local >> remote >> state >> queues;
      if (state != "0A" || local.size() < 5 || local.substr(local.size() - 5) != wanted) continue;
      return static_cast<int>(std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16));
    }
  }
  return -1;
}

// A thousand peers connect at once and vanish at once, half of them with a
// reset, most of them before the monitor could take them: the monitor takes
// what reaches it, reports every session it took, and gives back every
// descriptor.
TEST_F(CaptureFixture, ThousandPeersConnectAndVanishAtOnce) {
  // Both ends of every connection live in this process, as in the program
  // the soft descriptor limit goes up to the hard one.
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 2200)
    GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
  limit.rlim_cur = limit.rlim_max;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  Start();
  const int descriptorsBefore = OpenDescriptorCount();
  constexpr int kPeers = 1000;
  std::vector<int> crowd;
  for (int i = 0; i < kPeers; ++i) {
    const int fd = ConnectWithoutWaiting(port_);
    ASSERT_GE(fd, 0) << "connection " << i;
    crowd.push_back(fd);
  }
  // Let the monitor take some of them before they go.
  ASSERT_TRUE(WaitUntil([&] { return window_.Connected >= 5; }, 30000));
  for (int i = 0; i < kPeers; ++i) {
    if (i % 2 == 0)
      ResetConnection(crowd[static_cast<std::size_t>(i)]);
    else
      ::close(crowd[static_cast<std::size_t>(i)]);
  }
  ASSERT_TRUE(WaitUntil(
      [&] {
        return AcceptQueueLength(port_) == 0 && monitor_->SessionCount() == 0 &&
               window_.SizeLines == window_.Connected && OpenDescriptorCount() <= descriptorsBefore;
      },
      60000))
      << window_.Connected << " taken, " << window_.SizeLines << " reports, "
      << monitor_->SessionCount() << " sessions, " << OpenDescriptorCount() << " of "
      << descriptorsBefore << " descriptors";
  // A reset peer's disconnect line is the failed peer-name query; a crowd of
  // them repeats it, so most are held back and counted on the next one shown.
  EXPECT_LE(window_.Disconnected + window_.Errors + window_.HeldBack, window_.Connected);
  EXPECT_GE(window_.Disconnected + window_.Errors, 1);
  EXPECT_EQ(window_.Caption(), "Tarnock - Listening");
  EXPECT_LE(window_.MessageLineCount(), 500);
  EXPECT_EQ(ReadWholeFile(CapturePath()), "");

  ExpectNextJobCaptured("", "after the crowd");
}

}  // namespace

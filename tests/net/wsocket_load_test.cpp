// The listener under load: a peer that never stops sending, and a process
// that runs out of descriptors.

#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_calls.h"
#include "net/wsocket.h"
#include "support/fault_injection.h"
#include "support/loopback.h"
#include "support/wait.h"
#include "wsocket_server.h"

namespace {

TEST(WSocketLoad, ASecondPeerIsServedWhileAnotherStreams) {
  constexpr size_t kStreamBytes = 100u << 20;
  TTestServer server;
  int streamer = ConnectLoopback(server.PortNumber());
  ASSERT_GE(streamer, 0);
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    std::string block(64 * 1024, 's');
    size_t sent = 0;
    while (sent < kStreamBytes && !stop) {
      if (!SendAll(streamer, block)) break;
      sent += block.size();
    }
    ::close(streamer);
  });
  bool started = WaitUntil(
      [&] { return !server.sessions.empty() && server.sessions[0]->received.size() > (1u << 20); },
      20000);
  int second = -1;
  bool secondDone = false;
  if (started) {
    second = ConnectLoopback(server.PortNumber());
    SendAll(second, "second peer");
    ::close(second);
    secondDone =
        WaitUntil([&] { return server.ClosedCount() >= 1 && server.sessions.size() == 2; }, 20000);
  }
  size_t streamedWhenSecondClosed =
      server.sessions.empty() ? 0 : server.sessions[0]->received.size();
  bool streamOpen = !server.sessions.empty() && server.sessions[0]->closeEvents == 0;
  stop = true;
  // Keep reading so that the sender can finish.
  WaitUntil([&] { return server.sessions[0]->closeEvents == 1; }, 30000);
  sender.join();
  ASSERT_TRUE(started);
  ASSERT_TRUE(secondDone);
  EXPECT_EQ(server.sessions[1]->received, "second peer");
  EXPECT_EQ(server.sessions[1]->closeEvents, 1);
  EXPECT_TRUE(streamOpen);
  EXPECT_LT(streamedWhenSecondClosed, kStreamBytes);
}

// The child's side of the descriptor test: listens with few descriptors left,
// captures what peers send, and ends with an exit code the parent reads.
int gAcceptCalls = 0;
int gAcceptFailures = 0;

enum TChildResult {
  kChildPassed = 0,
  kChildNoFinalCapture = 10,
  kChildNeverRanOut = 11,
  kChildSpun = 12,
  kChildNoListener = 13,
};

int RunDescriptorStarvedListener(int reportFd) {
  TSocketCallsOverride override;
  override.Calls().Accept = [](int fd, sockaddr* addr, socklen_t* length) {
    ++gAcceptCalls;
    if (gAcceptFailures > 0) {
      --gAcceptFailures;
      errno = EMFILE;
      return -1;
    }
    return RealSocketCalls().Accept(fd, addr, length);
  };
  TTestServer server;
  if (server.listener.State() != wsListening) return kChildNoListener;
  // One rehearsal of running out while descriptors are still plenty: the
  // sanitizer's type checks need descriptors the first time they see a call,
  // and would misreport if that first time came with none left.
  gAcceptFailures = 1;
  int rehearsal = ConnectLoopback(server.PortNumber());
  if (!WaitUntil([&] { return !server.AcceptError.empty(); }) || !PeerSeesEnd(rehearsal))
    return kChildNoListener;
  ::close(rehearsal);
  rehearsal = ConnectLoopback(server.PortNumber());
  SendAll(rehearsal, "rehearsal");
  ::shutdown(rehearsal, SHUT_WR);
  if (!WaitUntil([&] { return server.ClosedCount() == 1; }) || !PeerSeesEnd(rehearsal))
    return kChildNoListener;
  ::close(rehearsal);
  server.AcceptError.clear();
  gAcceptCalls = 0;
  // Room for a handful of new descriptors: the limit bounds the numbers new
  // descriptors get, so it sits just above the sixth free number.
  std::set<int> open;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (dirent* entry = ::readdir(dir)) open.insert(std::atoi(entry->d_name));
    ::closedir(dir);
  }
  int limitNumber = 0;
  for (int free = 0; free < 6; ++limitNumber)
    if (!open.count(limitNumber)) ++free;
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(limitNumber);
  ::setrlimit(RLIMIT_NOFILE, &limit);
  uint16_t port = server.PortNumber();
  if (::write(reportFd, &port, sizeof port) != sizeof port) return kChildNoListener;
  ::close(reportFd);

  bool captured = WaitUntil(
      [&] {
        for (const auto& session : server.sessions)
          if (session->received == "final" && session->closeEvents == 1) return true;
        return false;
      },
      20000);
  if (!captured) return kChildNoFinalCapture;
  if (server.AcceptError.find("Too many open files") == std::string::npos) return kChildNeverRanOut;
  // Each notification accepts a connection or pauses; a spinning listener
  // would have called accept without end.
  if (gAcceptCalls > 1000) return kChildSpun;
  return kChildPassed;
}

TEST(WSocketLoad, ChildProcessRunningOutOfDescriptors) {
  if (const char* child = std::getenv("TARNOCK_DESCRIPTOR_CHILD")) {
    std::_Exit(RunDescriptorStarvedListener(std::atoi(child)));
  }
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A fresh process image, so the child's event loop shares nothing with ours.
    ::close(report[0]);
    std::string fd = std::to_string(report[1]);
    ::setenv("TARNOCK_DESCRIPTOR_CHILD", fd.c_str(), 1);
    ::execl("/proc/self/exe", "test_net",
            "--gtest_filter=WSocketLoad.ChildProcessRunningOutOfDescriptors", nullptr);
    std::_Exit(127);
  }
  ::close(report[1]);
  uint16_t port = 0;
  ssize_t got = ::read(report[0], &port, sizeof port);
  ::close(report[0]);
  ASSERT_EQ(got, static_cast<ssize_t>(sizeof port));

  // More peers than the child has descriptors; each holds its connection open
  // until all are connected.
  std::vector<int> peers;
  for (int i = 0; i < 16; ++i) {
    int peer = ConnectLoopback(port);
    ASSERT_GE(peer, 0);
    peers.push_back(peer);
  }
  // The child has run out: the peers it could not serve see their end.
  std::vector<pollfd> watched;
  for (int peer : peers) watched.push_back({peer, POLLIN, 0});
  EXPECT_GT(::poll(watched.data(), watched.size(), 10000), 0);
  // No peer hangs: each one's connection ends, served or shed.
  for (int peer : peers) {
    SendAll(peer, "x");
    ::shutdown(peer, SHUT_WR);
  }
  int ended = 0;
  for (int peer : peers) {
    ended += PeerSeesEnd(peer, 10000) ? 1 : 0;
    ::close(peer);
  }
  EXPECT_EQ(ended, 16);
  // Descriptors are free again: a new connection is accepted and captured.
  int last = ConnectLoopback(port);
  ASSERT_GE(last, 0);
  SendAll(last, "final");
  ::shutdown(last, SHUT_WR);
  EXPECT_TRUE(PeerSeesEnd(last, 10000));
  ::close(last);

  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kChildPassed);
}

}  // namespace

#include "net/socket_calls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "support/fault_injection.h"
#include "support/loopback.h"

namespace {

// A non-blocking listener on 127.0.0.1 with one connection waiting.
struct TWaitingConnection {
  TWaitingConnection() {
    listening = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listening, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listening, 4);
    ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length);
    peer = ConnectLoopback(ntohs(address.sin_port));
  }
  ~TWaitingConnection() {
    ::close(peer);
    ::close(listening);
  }
  int listening = -1;
  int peer = -1;
};

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(AcceptRetrying, RetriesInterruptionsAndSkipsAbortedPeers) {
  for (int error : {EINTR, ECONNABORTED, ECONNRESET, EPROTO}) {
    TWaitingConnection waiting;
    TSocketFault fault(TSocketCall::Accept, TFault{1, 2, error});
    sockaddr_storage peer{};
    const int fd = AcceptRetrying(waiting.listening, &peer);
    EXPECT_GE(fd, 0) << error;
    EXPECT_EQ(fault.Calls(), 3) << error;
    ASSERT_EQ(peer.ss_family, AF_INET) << error;
    EXPECT_EQ(reinterpret_cast<const sockaddr_in&>(peer).sin_addr.s_addr, htonl(INADDR_LOOPBACK))
        << error;
    ::close(fd);
  }
}

TEST(AcceptRetrying, HandsOtherFailuresBack) {
  TWaitingConnection waiting;
  {
    TSocketFault fault(TSocketCall::Accept, TFault{1, 1, EMFILE});
    EXPECT_EQ(AcceptRetrying(waiting.listening, nullptr), -1);
    EXPECT_EQ(errno, EMFILE);
    EXPECT_EQ(fault.Calls(), 1);
  }
  const int fd = AcceptRetrying(waiting.listening, nullptr);
  EXPECT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(AcceptRetrying(waiting.listening, nullptr), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST(RecvRetrying, RetriesInterruptionsOnly) {
  int pair[2] = {-1, -1};
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  ASSERT_EQ(::write(pair[1], "x", 1), 1);
  char byte = 0;
  {
    TSocketFault fault(TSocketCall::Recv, TFault{1, 2, EINTR});
    EXPECT_EQ(RecvRetrying(pair[0], &byte, 1, 0), 1);
    EXPECT_EQ(fault.Calls(), 3);
  }
  {
    TSocketFault fault(TSocketCall::Recv, TFault{1, 1, ECONNRESET});
    EXPECT_EQ(RecvRetrying(pair[0], &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    EXPECT_EQ(fault.Calls(), 1);
  }
  ::close(pair[0]);
  ::close(pair[1]);
}

TEST(CloseSocketOnce, AnInterruptedCloseCountsAsClosedAndIsNeverRetried) {
  struct {
    int error;
    int result;
  } cases[] = {{0, 0}, {EINTR, 0}, {EINPROGRESS, 0}, {EIO, -1}};
  for (const auto& c : cases) {
    const int fd = ::dup(STDERR_FILENO);
    TSocketFault fault(TSocketCall::Close, TFault{1, 1, c.error});
    errno = 0;
    EXPECT_EQ(CloseSocketOnce(fd), c.result) << c.error;
    if (c.result != 0) {
      EXPECT_EQ(errno, c.error);
    }
    EXPECT_EQ(fault.Calls(), 1) << c.error;
    EXPECT_FALSE(IsOpen(fd)) << c.error;
  }
}

}  // namespace

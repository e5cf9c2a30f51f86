#include "net/socket_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {

int RealAccept(int fd, sockaddr* addr, socklen_t* length) {
  return ::accept4(fd, addr, length, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

int RealPendingBytes(int fd, int* count) { return ::ioctl(fd, FIONREAD, count); }

int RealSetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
  int fdFlags = ::fcntl(fd, F_GETFD);
  if (fdFlags < 0 || ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) < 0) return -1;
  return 0;
}

int RealOpenSpare() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

int RealEpollCreate() { return ::epoll_create1(EPOLL_CLOEXEC); }

int RealEpollWait(int set, epoll_event* events, int capacity) {
  return ::epoll_wait(set, events, capacity, 0);
}

const TSocketCalls kReal = {TARNOCK_SOCKET_CALLS(TARNOCK_CALL_REAL)};

TSocketCalls gCalls = kReal;

// Peers whose connection failed before it was accepted.
bool IsAbortedPeer(int platformErrno) {
  switch (platformErrno) {
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ECONNRESET:
      return true;
    default:
      return false;
  }
}

}  // namespace

TSocketCalls& SocketCalls() { return gCalls; }

const TSocketCalls& RealSocketCalls() { return kReal; }

int AcceptRetrying(int listening, sockaddr_storage* peer) {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    sockaddr* into = peer != nullptr ? reinterpret_cast<sockaddr*>(&address) : nullptr;
    socklen_t* intoLength = peer != nullptr ? &length : nullptr;
    const int fd = RetryOnEintr([&] { return gCalls.Accept(listening, into, intoLength); });
    if (fd >= 0) {
      if (peer != nullptr) *peer = address;
      return fd;
    }
    if (!IsAbortedPeer(errno)) return -1;
  }
}

ssize_t RecvRetrying(int fd, void* buffer, size_t length, int flags) {
  return RetryOnEintr([&] { return gCalls.Recv(fd, buffer, length, flags); });
}

ssize_t SendRetrying(int fd, const void* buffer, size_t length, int flags) {
  return RetryOnEintr([&] { return gCalls.Send(fd, buffer, length, flags); });
}

int CloseSocketOnce(int fd) {
  if (gCalls.Close(fd) == 0 || errno == EINTR || errno == EINPROGRESS) return 0;
  return -1;
}

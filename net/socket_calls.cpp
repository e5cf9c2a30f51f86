#include "net/socket_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

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

const TSocketCalls kReal = {
    ::socket,           ::bind,        ::listen,
    RealAccept,         ::recv,        RealPendingBytes,
    ::shutdown,         ::close,       ::setsockopt,
    ::getsockopt,       ::getpeername, ::getsockname,
    RealSetNonBlocking, RealOpenSpare, RealEpollCreate,
    ::epoll_ctl,        RealEpollWait,
};

TSocketCalls gCalls = kReal;

}  // namespace

TSocketCalls& SocketCalls() { return gCalls; }

const TSocketCalls& RealSocketCalls() { return kReal; }

void ResetSocketCalls() { gCalls = kReal; }

#pragma once

// Every platform socket call of the network layer goes through this one
// process-wide table, so that a test can make any call fail. The defaults are
// the real calls; each reports failure as the platform does (-1 and errno).

#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>

#include "base/call_table.h"

// Each entry, given once: the table, its real calls and the test layer's
// fault names are made from this list.
#define TARNOCK_SOCKET_CALLS(CALL)                                                          \
  CALL(Socket, int, (int domain, int type, int protocol), ::socket)                         \
  CALL(Bind, int, (int fd, const sockaddr* addr, socklen_t length), ::bind)                 \
  CALL(Listen, int, (int fd, int backlog), ::listen)                                        \
  /* Accepts one pending connection as a non-blocking, close-on-exec handle. */             \
  CALL(Accept, int, (int fd, sockaddr* addr, socklen_t* length), RealAccept)                \
  CALL(Connect, int, (int fd, const sockaddr* addr, socklen_t length), ::connect)           \
  CALL(Send, ssize_t, (int fd, const void* buffer, size_t length, int flags), ::send)       \
  CALL(Recv, ssize_t, (int fd, void* buffer, size_t length, int flags), ::recv)             \
  /* Waits for readiness of a few handles, at most timeoutMs. */                            \
  CALL(Poll, int, (pollfd * fds, nfds_t count, int timeoutMs), ::poll)                      \
  /* Bytes pending on a connection (FIONREAD) into *count. */                               \
  CALL(PendingBytes, int, (int fd, int* count), RealPendingBytes)                           \
  CALL(Shutdown, int, (int fd, int how), ::shutdown)                                        \
  CALL(Close, int, (int fd), ::close)                                                       \
  CALL(SetSockOpt, int, (int fd, int level, int name, const void* value, socklen_t length), \
       ::setsockopt)                                                                        \
  CALL(GetPeerName, int, (int fd, sockaddr* addr, socklen_t* length), ::getpeername)        \
  CALL(GetSockName, int, (int fd, sockaddr* addr, socklen_t* length), ::getsockname)        \
  /* Makes a handle non-blocking and close-on-exec. */                                      \
  CALL(SetNonBlocking, int, (int fd), RealSetNonBlocking)                                   \
  /* Opens the spare descriptor kept for running out of descriptors. */                     \
  CALL(OpenSpare, int, (), RealOpenSpare)                                                   \
  /* The readiness set: a close-on-exec epoll set, a change of one handle's */              \
  /* registration in it, and a collection of ready handles that never waits. */             \
  CALL(EpollCreate, int, (), RealEpollCreate)                                               \
  CALL(EpollCtl, int, (int set, int operation, int fd, epoll_event* event), ::epoll_ctl)    \
  CALL(EpollWait, int, (int set, epoll_event* events, int capacity), RealEpollWait)

struct TSocketCalls {
  TARNOCK_SOCKET_CALLS(TARNOCK_CALL_ENTRY)
};

constexpr int kSocketCallCount = 0 TARNOCK_SOCKET_CALLS(TARNOCK_CALL_COUNT);

// The table in force; starts out as the real calls. Tests change it only
// for a scope (tests/support/fault_injection.h).
TSocketCalls& SocketCalls();
// The real calls, for forwarding to them.
const TSocketCalls& RealSocketCalls();

// The calls of the table that the platform may interrupt, each with its
// answer to that in one place, so that no caller writes a retry loop of its
// own.

// Takes the next connection that is still there: retries an interrupted
// accept and skips peers whose connection failed before it was taken
// (ECONNABORTED and the like), since the next one may be fine. Stores the
// peer's address, of either family, when peer is not null. Answers the
// handle, or -1 with errno (EAGAIN when none waits).
int AcceptRetrying(int listening, sockaddr_storage* peer);
// A receive, retried while it is interrupted.
ssize_t RecvRetrying(int fd, void* buffer, size_t length, int flags);
// A send, retried while it is interrupted.
ssize_t SendRetrying(int fd, const void* buffer, size_t length, int flags);
// The flags of every send: a send never waits, and a peer that has gone
// raises no signal.
constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
// The errno of a call that would have had to wait.
inline bool IsWouldBlock(int platformErrno) {
  return platformErrno == EAGAIN || platformErrno == EWOULDBLOCK;
}
// Closes fd once and never again: Linux has released the descriptor whatever
// close reports, and a retry could close one that another part of the process
// has just been given. An interrupted close (EINTR, EINPROGRESS) therefore
// counts as closed and answers 0; any other failure answers -1 with errno.
int CloseSocketOnce(int fd);

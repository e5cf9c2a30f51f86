#pragma once

// Every platform socket call of the network layer goes through this one
// process-wide table, so that a test can make any call fail. The defaults are
// the real calls; each reports failure as the platform does (-1 and errno).

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/types.h>

struct TSocketCalls {
  int (*Socket)(int domain, int type, int protocol);
  int (*Bind)(int fd, const sockaddr* addr, socklen_t length);
  int (*Listen)(int fd, int backlog);
  // Accepts one pending connection as a non-blocking, close-on-exec handle.
  int (*Accept)(int fd, sockaddr* addr, socklen_t* length);
  ssize_t (*Recv)(int fd, void* buffer, size_t length, int flags);
  // Bytes pending on a connection (FIONREAD) into *count.
  int (*PendingBytes)(int fd, int* count);
  int (*Shutdown)(int fd, int how);
  int (*Close)(int fd);
  int (*SetSockOpt)(int fd, int level, int name, const void* value, socklen_t length);
  int (*GetSockOpt)(int fd, int level, int name, void* value, socklen_t* length);
  int (*GetPeerName)(int fd, sockaddr* addr, socklen_t* length);
  int (*GetSockName)(int fd, sockaddr* addr, socklen_t* length);
  // Makes a handle non-blocking and close-on-exec.
  int (*SetNonBlocking)(int fd);
  // Opens the spare descriptor kept for running out of descriptors.
  int (*OpenSpare)();
  // The readiness set: a close-on-exec epoll set, a change of one handle's
  // registration in it, and a collection of ready handles that never waits.
  int (*EpollCreate)();
  int (*EpollCtl)(int set, int operation, int fd, epoll_event* event);
  int (*EpollWait)(int set, epoll_event* events, int capacity);
};

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
// peer's address when peer is not null. Answers the handle, or -1 with errno
// (EAGAIN when none waits).
int AcceptRetrying(int listening, sockaddr_in* peer);
// A receive, retried while it is interrupted.
ssize_t RecvRetrying(int fd, void* buffer, size_t length, int flags);
// Closes fd once and never again: Linux has released the descriptor whatever
// close reports, and a retry could close one that another part of the process
// has just been given. An interrupted close (EINTR, EINPROGRESS) therefore
// counts as closed and answers 0; any other failure answers -1 with errno.
int CloseSocketOnce(int fd);

#pragma once

// Every platform socket call of the network layer goes through this one
// process-wide table, so that a test can make any call fail. The defaults are
// the real calls; each reports failure as the platform does (-1 and errno).

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

// The table in force; tests overwrite entries and restore with ResetSocketCalls.
TSocketCalls& SocketCalls();
// The real calls.
const TSocketCalls& RealSocketCalls();
void ResetSocketCalls();

#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "base/call_table.h"

// Every file platform call of DiskFile, the path operations and the settings
// writer goes through this one process-wide table, so that a test can drive
// any of them into failure. Each entry behaves like the POSIX call of the same
// meaning: it returns -1 and sets errno on failure.
#define TARNOCK_FILE_CALLS(CALL)                                                     \
  CALL(Open, int, (const char* path, int flags, mode_t mode), RealOpen)              \
  CALL(Read, ssize_t, (int fd, void* data, size_t size), ::read)                     \
  CALL(Write, ssize_t, (int fd, const void* data, size_t size), ::write)             \
  CALL(Close, int, (int fd), ::close)                                                \
  CALL(FileStatus, int, (int fd, struct stat* status), ::fstat)                      \
  CALL(PathStatus, int, (const char* path, struct stat* status), ::stat)             \
  CALL(Sync, int, (int fd), ::fsync)                                                 \
  CALL(Rename, int, (const char* from, const char* to), ::rename)                    \
  CALL(Link, int, (const char* from, const char* to), ::link)                        \
  CALL(Unlink, int, (const char* path), ::unlink)                                    \
  CALL(MakeDirectory, int, (const char* path, mode_t mode), ::mkdir)                 \
  CALL(ReadLink, ssize_t, (const char* path, char* buffer, size_t size), ::readlink) \
  CALL(Access, int, (const char* path, int mode), ::access)

struct TFileCalls {
  TARNOCK_FILE_CALLS(TARNOCK_CALL_ENTRY)
};

constexpr int kFileCallCount = 0 TARNOCK_FILE_CALLS(TARNOCK_CALL_COUNT);

// The table in use; starts out as the real calls.
TFileCalls& FileCalls();

// The real calls, for restoring the table or forwarding to them.
const TFileCalls& RealFileCalls();

// The calls as the layers above use them, each in one place. A signal may cut
// a call short on a slow file system; these go on until the call itself
// answers. Like the table entries they return -1 and set errno on failure.

// Open, retried while interrupted.
int OpenRetrying(const char* path, int flags, mode_t mode);
// Read, retried while interrupted; returns the byte count, 0 at the end.
ssize_t ReadRetrying(int fd, void* data, size_t size);
// Writes every byte: retried while interrupted, continued after a short
// write. A write that takes nothing fails with ENOSPC, since it would never
// end otherwise.
int WriteAll(int fd, const void* data, size_t size);
// Sync, retried while interrupted.
int SyncRetrying(int fd);
// Close, never retried: the handle is gone whatever close returned, and a
// retry could close a handle another thread has just been given. An
// interrupted close has still released it, so it counts as closed.
int CloseOnce(int fd);

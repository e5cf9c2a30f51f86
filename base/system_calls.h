#pragma once

#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "base/call_table.h"

// What posix_spawn is given besides the place for the new process's id.
struct TSpawnRequest {
  const char* Path;
  const posix_spawn_file_actions_t* Actions;
  const posix_spawnattr_t* Attributes;
  char* const* Arguments;
  char* const* Environment;
};

// Every file platform call of DiskFile, the path operations, the settings
// writer, the sweep of old captures and the preview's paged reader, and every
// process call of the after-job command, goes through this one process-wide table, so that a
// test can drive any of them into failure. Each entry behaves like the POSIX
// call of the same meaning: it returns -1 and sets errno on failure (Spawn
// too, unlike posix_spawn itself).
#define TARNOCK_FILE_CALLS(CALL)                                                                 \
  CALL(Open, int, (const char* path, int flags, mode_t mode), RealOpen)                          \
  CALL(Read, ssize_t, (int fd, void* data, size_t size), ::read)                                 \
  CALL(ReadAt, ssize_t, (int fd, void* data, size_t size, off_t offset), ::pread)                \
  CALL(Write, ssize_t, (int fd, const void* data, size_t size), ::write)                         \
  CALL(Close, int, (int fd), ::close)                                                            \
  CALL(FileStatus, int, (int fd, struct stat* status), ::fstat)                                  \
  CALL(PathStatus, int, (const char* path, struct stat* status), ::stat)                         \
  CALL(Sync, int, (int fd), ::fsync)                                                             \
  CALL(Rename, int, (const char* from, const char* to), ::rename)                                \
  CALL(Unlink, int, (const char* path), ::unlink)                                                \
  CALL(Link, int, (const char* from, const char* to), ::link)                                    \
  CALL(MakeDirectory, int, (const char* path, mode_t mode), ::mkdir)                             \
  CALL(ReadLink, ssize_t, (const char* path, char* buffer, size_t size), ::readlink)             \
  CALL(Access, int, (const char* path, int mode), ::access)                                      \
  CALL(OpenAt, int, (int folder, const char* name, int flags), RealOpenAt)                       \
  CALL(StatusAt, int, (int folder, const char* name, struct stat* status, int flags), ::fstatat) \
  CALL(UnlinkAt, int, (int folder, const char* name, int flags), ::unlinkat)                     \
  CALL(ReadFolder, ssize_t, (int folder, void* entries, size_t size), ::getdents64)              \
  CALL(Control, int, (int fd, int command, int argument), RealControl)                           \
  CALL(MakePipe, int, (int* handles, int flags), ::pipe2)                                        \
  CALL(Spawn, int, (pid_t * pid, const TSpawnRequest* request), RealSpawn)                       \
  CALL(OpenPidHandle, int, (pid_t pid), RealOpenPidHandle)                                       \
  CALL(Signal, int, (pid_t pid, int signalNumber), ::kill)                                       \
  CALL(WaitForChild, pid_t, (pid_t pid, int* status, int options), ::waitpid)

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
// OpenAt, retried while interrupted.
int OpenAtRetrying(int folder, const char* name, int flags);
// Sync, retried while interrupted.
int SyncRetrying(int fd);
// Close, never retried: the handle is gone whatever close returned, and a
// retry could close a handle another thread has just been given. An
// interrupted close has still released it, so it counts as closed.
int CloseOnce(int fd);
// Closes a handle that may be open (not -1) once and marks it closed.
void CloseHandle(int& handle);

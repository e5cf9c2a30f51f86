#include "base/system_calls.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
// Never creates, so it needs no mode.
int RealOpenAt(int folder, const char* name, int flags) { return ::openat(folder, name, flags); }

int RealControl(int fd, int command, int argument) { return ::fcntl(fd, command, argument); }

// posix_spawn answers its error instead of setting errno; the table's entries
// all answer -1 and errno.
int RealSpawn(pid_t* pid, const TSpawnRequest* request) {
  const int error = ::posix_spawn(pid, request->Path, request->Actions, request->Attributes,
                                  request->Arguments, request->Environment);
  if (error == 0) return 0;
  errno = error;
  return -1;
}

// A handle that becomes readable when the process ends, close-on-exec from
// birth; ENOSYS on a kernel without one.
int RealOpenPidHandle(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

const TFileCalls kRealFileCalls = {TARNOCK_FILE_CALLS(TARNOCK_CALL_REAL)};

}  // namespace

const TFileCalls& RealFileCalls() { return kRealFileCalls; }

TFileCalls& FileCalls() {
  static TFileCalls calls = kRealFileCalls;
  return calls;
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
  return RetryOnEintr([&] { return FileCalls().Open(path, flags, mode); });
}

ssize_t ReadRetrying(int fd, void* data, size_t size) {
  return RetryOnEintr([&] { return FileCalls().Read(fd, data, size); });
}

int WriteAll(int fd, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = RetryOnEintr([&] { return FileCalls().Write(fd, next, size); });
    if (written < 0) return -1;
    if (written == 0) {
      errno = ENOSPC;
      return -1;
    }
    next += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

int OpenAtRetrying(int folder, const char* name, int flags) {
  return RetryOnEintr([&] { return FileCalls().OpenAt(folder, name, flags); });
}

int SyncRetrying(int fd) {
  return RetryOnEintr([&] { return FileCalls().Sync(fd); });
}

int CloseOnce(int fd) {
  if (FileCalls().Close(fd) == 0 || errno == EINTR) return 0;
  return -1;
}

void CloseHandle(int& handle) {
  if (handle >= 0) CloseOnce(handle);
  handle = -1;
}

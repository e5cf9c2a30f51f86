#include "base/system_calls.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

const TFileCalls kRealFileCalls = {
    &RealOpen, &::read,   &::write,  &::close, &::fstat,    &::stat,
    &::fsync,  &::rename, &::unlink, &::mkdir, &::readlink, &::access,
};

}  // namespace

const TFileCalls& RealFileCalls() { return kRealFileCalls; }

TFileCalls& FileCalls() {
  static TFileCalls calls = kRealFileCalls;
  return calls;
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int handle;
  do {
    handle = FileCalls().Open(path, flags, mode);
  } while (handle < 0 && errno == EINTR);
  return handle;
}

ssize_t ReadRetrying(int fd, void* data, size_t size) {
  ssize_t got;
  do {
    got = FileCalls().Read(fd, data, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

int WriteAll(int fd, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = FileCalls().Write(fd, next, size);
    if (written < 0 && errno == EINTR) continue;
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

int SyncRetrying(int fd) {
  int result;
  do {
    result = FileCalls().Sync(fd);
  } while (result != 0 && errno == EINTR);
  return result;
}

int CloseOnce(int fd) {
  if (FileCalls().Close(fd) == 0 || errno == EINTR) return 0;
  return -1;
}

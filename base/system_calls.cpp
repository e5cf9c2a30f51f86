#include "base/system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {

int RealOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

const TFileCalls kRealFileCalls = {
    &RealOpen, &::read,   &::write,  &::close, &::fstat,    &::stat,
    &::fsync,  &::rename, &::unlink, &::mkdir, &::readlink, &::access,
};

}  // namespace

const TFileCalls& RealFileCalls() {
  return kRealFileCalls;
}

TFileCalls& FileCalls() {
  static TFileCalls calls = kRealFileCalls;
  return calls;
}

#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

// Every file platform call of DiskFile, the path operations and the settings
// writer goes through this one process-wide table, so that a test can drive
// any of them into failure. Each entry behaves like the POSIX call of the same
// meaning: it returns -1 and sets errno on failure.
struct TFileCalls {
  int (*Open)(const char* path, int flags, mode_t mode);
  ssize_t (*Read)(int fd, void* data, size_t size);
  ssize_t (*Write)(int fd, const void* data, size_t size);
  int (*Close)(int fd);
  int (*FileStatus)(int fd, struct stat* status);            // fstat
  int (*PathStatus)(const char* path, struct stat* status);  // stat
  int (*Sync)(int fd);                                       // fsync
  int (*Rename)(const char* from, const char* to);
  int (*Unlink)(const char* path);
  int (*MakeDirectory)(const char* path, mode_t mode);
  ssize_t (*ReadLink)(const char* path, char* buffer, size_t size);
  int (*Access)(const char* path, int mode);  // access
};

// The table in use; starts out as the real calls.
TFileCalls& FileCalls();

// The real calls, for restoring the table or forwarding to them.
const TFileCalls& RealFileCalls();

// Swaps in a changed table for its lifetime and puts back the one it found.
class TFileCallsOverride {
 public:
  TFileCallsOverride() : saved_(FileCalls()) {}
  ~TFileCallsOverride() { FileCalls() = saved_; }
  TFileCallsOverride(const TFileCallsOverride&) = delete;
  TFileCallsOverride& operator=(const TFileCallsOverride&) = delete;
  TFileCalls& Calls() { return FileCalls(); }

 private:
  TFileCalls saved_;
};

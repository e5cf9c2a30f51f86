#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A capture opened for reading in windows, so that a view of a file of any
// size costs the same memory: the object holds one window of at most
// kMaxWindowBytes, never the file. The handle stays open while the object
// lives, so a capture deleted meanwhile still reads as it was. One object is
// used by one thread at a time. Every failure raises EInOutError with a code
// and message of the I/O error table and the path ("I/O error 1117: <path>").
class TPagedFile {
 public:
  // The most bytes one Read answers, whatever it is asked for.
  static constexpr std::size_t kMaxWindowBytes = 1024 * 1024;

  // Opens the capture read-only. Never waits and never follows a link in the
  // last step of the path: a link, a FIFO, a folder, a device or anything
  // else that is not a regular file is refused with "File access denied:
  // <path> is not a regular file".
  explicit TPagedFile(std::string path);
  ~TPagedFile();
  TPagedFile(const TPagedFile&) = delete;
  TPagedFile& operator=(const TPagedFile&) = delete;

  const std::string& Path() const { return path_; }

  // The file's size now, asked of the platform on every call: a capture that
  // is still being received grows while it is shown.
  uint64_t Size() const;

  // At most count bytes (and at most kMaxWindowBytes) from offset on; fewer
  // at the end of the file, none at or beyond it. A window asked for again,
  // or a part of it, is answered without reading the file again.
  std::string Read(uint64_t offset, std::size_t count) const;

  // Bytes held for the last window; never above kMaxWindowBytes, whatever
  // the size of the file.
  std::size_t WindowCapacity() const { return windowCapacity_; }

 private:
  [[noreturn]] void RaiseFromErrno(int systemError) const;
  void ReadWindow(uint64_t offset, std::size_t count) const;
  void EnsureCapacity(std::size_t count) const;

  std::string path_;
  int handle_ = -1;
  // The one window: its bytes, where it starts and how many it holds.
  mutable std::unique_ptr<char[]> window_;
  mutable std::size_t windowCapacity_ = 0;
  mutable uint64_t windowOffset_ = 0;
  mutable std::size_t windowSize_ = 0;
};

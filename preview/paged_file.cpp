#include "preview/paged_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "base/disk_file.h"
#include "base/exceptions.h"
#include "base/system_calls.h"

namespace {

constexpr int kInvalidFilename = 3;
constexpr int kAccessDenied = 5;

[[noreturn]] void RaiseNotARegularFile(const std::string& path, int systemError) {
  throw EInOutError(InOutErrorMessage(kAccessDenied) + ": " + path + " is not a regular file",
                    kAccessDenied, systemError);
}

// The platform would cut the name at the NUL and open another file.
void RequireUsablePath(const std::string& path) {
  if (path.find('\0') == std::string::npos) return;
  throw EInOutError(InOutErrorMessage(kInvalidFilename) + ": " + path, kInvalidFilename);
}

// Offsets past what off_t holds are beyond any file.
constexpr uint64_t kLargestOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

}  // namespace

TPagedFile::TPagedFile(std::string path) : path_(std::move(path)) {
  RequireUsablePath(path_);
  // Never waits (a FIFO planted under the name would block the open for
  // ever) and never follows a link in the last step (the preview must show
  // the capture, not what a link points at).
  handle_ = OpenRetrying(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0);
  if (handle_ < 0 && errno == ELOOP) RaiseNotARegularFile(path_, errno);
  if (handle_ < 0) RaiseFromErrno(errno);
  struct stat status {};
  const int statusResult = FileCalls().FileStatus(handle_, &status);
  const int statusError = errno;
  // A FIFO, a device or a folder opens fine for reading but is no capture.
  if (statusResult == 0 && S_ISREG(status.st_mode)) return;
  CloseOnce(handle_);
  if (statusResult != 0) RaiseFromErrno(statusError);
  RaiseNotARegularFile(path_, 0);
}

TPagedFile::~TPagedFile() { CloseOnce(handle_); }

void TPagedFile::RaiseFromErrno(int systemError) const {
  const int code = InOutErrorCode(systemError, path_);
  throw EInOutError(InOutErrorMessage(code) + ": " + path_, code, systemError);
}

uint64_t TPagedFile::Size() const {
  struct stat status {};
  if (FileCalls().FileStatus(handle_, &status) != 0) RaiseFromErrno(errno);
  return static_cast<uint64_t>(status.st_size);
}

std::string TPagedFile::Read(uint64_t offset, std::size_t count) const {
  count = std::min(count, kMaxWindowBytes);
  if (count == 0 || offset > kLargestOffset - count) return {};
  const bool held = offset >= windowOffset_ && offset - windowOffset_ <= windowSize_ &&
                    count <= windowSize_ - (offset - windowOffset_);
  if (!held) ReadWindow(offset, count);
  const std::size_t skipped = static_cast<std::size_t>(offset - windowOffset_);
  return std::string(window_.get() + skipped, std::min(count, windowSize_ - skipped));
}

// Fills the window from offset until count bytes or the end of the file; a
// window short of the end is read again next time, so growth shows.
void TPagedFile::ReadWindow(uint64_t offset, std::size_t count) const {
  EnsureCapacity(count);
  windowOffset_ = offset;
  windowSize_ = 0;
  while (windowSize_ < count) {
    const ssize_t got = RetryOnEintr([&] {
      return FileCalls().ReadAt(handle_, window_.get() + windowSize_, count - windowSize_,
                                static_cast<off_t>(offset + windowSize_));
    });
    if (got < 0) {
      windowSize_ = 0;
      RaiseFromErrno(errno);
    }
    if (got == 0) break;
    windowSize_ += static_cast<std::size_t>(got);
  }
}

// Grows the window to exactly what is asked (never to a multiple of it), so
// the capacity is bounded by kMaxWindowBytes.
void TPagedFile::EnsureCapacity(std::size_t count) const {
  if (count <= windowCapacity_) return;
  window_.reset();
  windowCapacity_ = 0;
  window_ = std::make_unique_for_overwrite<char[]>(count);
  windowCapacity_ = count;
}

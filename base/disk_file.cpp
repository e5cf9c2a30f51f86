#include "base/disk_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/exceptions.h"
#include "base/paths.h"
#include "base/system_calls.h"
#include "base/text.h"

namespace {

constexpr int kInvalidFilename = 3;
constexpr int kAccessDenied = 5;
constexpr int kLinkLoop = 1921;
// Codes for an operation in the wrong state.
constexpr int kNoPathBound = 102;
constexpr int kFileNotOpen = 103;
constexpr int kFileNotOpenForWriting = 105;

struct TErrnoCode {
  int systemError;
  int code;
};

// Platform error numbers outside the fixed mapping, each given the code of the
// same meaning in the numbering the I/O error table uses (32 for a file in
// use, 112 for a full disk, ...); anything not listed is a general failure.
constexpr TErrnoCode kOtherErrnoCodes[] = {
    {EBADF, 6},    {ENOMEM, 8},   {EXDEV, 17},  {ENXIO, 21},        {ENODEV, 21},
    {EBUSY, 32},   {ETXTBSY, 32}, {EAGAIN, 33}, {EEXIST, 80},       {EINVAL, 87},
    {EDQUOT, 112}, {EFBIG, 223},  {EIO, 1117},  {ELOOP, kLinkLoop},
};
constexpr int kGeneralFailure = 31;

// Whether the folder that should hold path exists; a bare name lives in the
// current folder, which does.
bool HoldingFolderIsPresent(const std::string& path) {
  const std::string folder = DirectoryPart(path);
  return folder.empty() || DirectoryIsPresent(folder);
}

}  // namespace

std::string InOutErrorMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    case kLinkLoop:
      return "Too many levels of symbolic links";
    default:
      return "I/O error " + FormatInteger(code);
  }
}

int InOutErrorCode(int systemError, const std::string& path) {
  switch (systemError) {
    case ENOENT:
      return HoldingFolderIsPresent(path) ? 2 : 3;
    case ENOTDIR:
      return 3;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return 5;
    case ENOSPC:
      return 112;
    case ENAMETOOLONG:
      return 206;
    default:
      break;
  }
  for (const TErrnoCode& entry : kOtherErrnoCodes) {
    if (entry.systemError == systemError) return entry.code;
  }
  return kGeneralFailure;
}

void RaiseInOutError(int code, int systemError) {
  throw EInOutError(InOutErrorMessage(code), code, systemError);
}

namespace {

[[noreturn]] void RaiseFromErrno(int systemError, const std::string& path) {
  RaiseInOutError(InOutErrorCode(systemError, path), systemError);
}

// The operator must learn which entry is in the way: the folder may hold a
// planted link or FIFO under a name the pattern rendered a moment ago.
[[noreturn]] void RaiseNotARegularFile(const std::string& path, int systemError) {
  throw EInOutError(InOutErrorMessage(kAccessDenied) + ": " + path + " is not a regular file",
                    kAccessDenied, systemError);
}

}  // namespace

DiskFile::~DiskFile() {
  if (state_ == TState::Closed) return;
  try {
    WriteOut();
  } catch (...) {
    // A destructor reports nothing; the caller closes explicitly to hear.
  }
  Abandon();
}

void DiskFile::Bind(std::string_view path) { path_ = std::string(path); }

void DiskFile::RequireUsablePath() const {
  if (path_.empty()) RaiseInOutError(kNoPathBound);
  if (path_.size() > kMaxPathLength) RaiseInOutError(206, ENAMETOOLONG);
  // The platform would cut the name at the NUL and open another file.
  if (path_.find('\0') != std::string::npos) RaiseInOutError(kInvalidFilename);
}

void DiskFile::Open(int flags, TState state) {
  if (state_ != TState::Closed) CloseOut();
  RequireUsablePath();
  // Never waits (a FIFO planted under the name would block the open for
  // ever) and never follows a link in the last step (a link planted in a
  // shared folder would send the bytes into another file).
  const int handle = OpenRetrying(path_.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666);
  // ELOOP: the name is a link; ENXIO: a FIFO that nobody reads or a device
  // that is not there; EISDIR: a folder. None is a file this object may write.
  if (handle < 0 && (errno == ELOOP || errno == ENXIO || errno == EISDIR))
    RaiseNotARegularFile(path_, errno);
  if (handle < 0) RaiseFromErrno(errno, path_);
  handle_ = handle;
  state_ = state;
  buffered_ = 0;
  RequireRegularFile();
}

// A FIFO with a reader, a device or a socket opens fine but is no capture.
void DiskFile::RequireRegularFile() {
  struct stat status {};
  if (FileCalls().FileStatus(handle_, &status) != 0) {
    const int statusError = errno;
    Abandon();
    RaiseFromErrno(statusError, path_);
  }
  identity_ = IdentityOfStatus(status);
  if (S_ISREG(status.st_mode)) return;
  Abandon();
  RaiseNotARegularFile(path_, 0);
}

void DiskFile::OpenCreate() { Open(O_WRONLY | O_CREAT | O_TRUNC, TState::OpenForWriting); }

void DiskFile::OpenCreateNew() { Open(O_WRONLY | O_CREAT | O_EXCL, TState::OpenForWriting); }

void DiskFile::OpenAppend() { Open(O_WRONLY | O_APPEND, TState::OpenForWriting); }

void DiskFile::OpenExisting() { Open(O_RDWR, TState::OpenForReadingAndWriting); }

void DiskFile::WriteOut() {
  const std::size_t left = buffered_;
  // The buffer counts as handed over even when the platform refuses it, so
  // that a failed write is reported once and CloseOut still releases.
  buffered_ = 0;
  WriteThrough(buffer_.data(), left);
}

void DiskFile::WriteThrough(const char* data, std::size_t size) {
  if (WriteAll(handle_, data, size) != 0) RaiseFromErrno(errno, path_);
}

void DiskFile::PutText(std::string_view text) {
  if (state_ == TState::Closed) RaiseInOutError(kFileNotOpen);
  if (state_ != TState::OpenForWriting) RaiseInOutError(kFileNotOpenForWriting);
  if (text.empty()) return;
  if (buffered_ > 0) {
    // Whatever is buffered goes first, topped up to a whole buffer when the
    // text is long enough, so the order of the bytes is kept.
    const std::size_t taken = std::min(text.size(), kBufferSize - buffered_);
    std::memcpy(buffer_.data() + buffered_, text.data(), taken);
    buffered_ += taken;
    text.remove_prefix(taken);
    if (buffered_ < kBufferSize) return;
    WriteOut();
  }
  // A text of at least a buffer's length goes to the platform in one call:
  // copying it through the buffer would only multiply the calls.
  if (text.size() >= kBufferSize) return WriteThrough(text.data(), text.size());
  std::memcpy(buffer_.data(), text.data(), text.size());
  buffered_ = text.size();
}

void DiskFile::Release() {
  const int result = CloseOnce(handle_);
  const int closeError = errno;
  handle_ = -1;
  state_ = TState::Closed;
  buffered_ = 0;
  if (result < 0) RaiseFromErrno(closeError, path_);
}

void DiskFile::CloseOut() {
  if (state_ == TState::Closed) RaiseInOutError(kFileNotOpen);
  try {
    WriteOut();
  } catch (...) {
    try {
      Release();
    } catch (...) {
      // The write failure is the one to report.
    }
    throw;
  }
  Release();
}

void DiskFile::Abandon() noexcept {
  if (state_ == TState::Closed) return;
  buffered_ = 0;
  try {
    Release();
  } catch (...) {
    // The failure that made us give up the file is the one to report.
  }
}

int64_t DiskFile::SizeInBytes() {
  if (state_ == TState::Closed) RaiseInOutError(kFileNotOpen);
  struct stat status {};
  if (FileCalls().FileStatus(handle_, &status) != 0) RaiseFromErrno(errno, path_);
  return static_cast<int64_t>(status.st_size) + static_cast<int64_t>(buffered_);
}

void DiskFile::RemoveFile() {
  RequireUsablePath();
  if (FileCalls().Unlink(path_.c_str()) != 0) RaiseFromErrno(errno, path_);
}

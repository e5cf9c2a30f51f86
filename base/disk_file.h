#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_identity.h"

// A file bound to one path, opened, used and closed within one event. Every
// failure raises EInOutError with a code and message of the I/O error table.
class DiskFile {
 public:
  enum class TState { Closed, OpenForWriting, OpenForReadingAndWriting };

  static constexpr std::size_t kBufferSize = 128;
  static constexpr std::size_t kMaxPathLength = 259;

  DiskFile() = default;
  // Writes out what is buffered and releases the file, silently.
  ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  // Binds the path; touches no disk. A path longer than kMaxPathLength is
  // refused when it is used (I/O error 206), one holding a NUL byte too
  // ("Invalid filename").
  void Bind(std::string_view path);
  const std::string& Path() const { return path_; }
  // Raises what an open would raise for the bound path itself (none bound,
  // too long, a NUL byte), without touching the disk.
  void RequireUsablePath() const;
  TState State() const { return state_; }

  // The opens never wait and never follow a link in the last step of the
  // path; a link, a FIFO, a device or anything else that is not a regular
  // file is refused with "File access denied".
  // Creates or truncates the file and opens it for writing.
  void OpenCreate();
  // Creates the file, which must not exist yet, and opens it for writing; a
  // name already taken raises I/O error 80 (EEXIST). Two programs sharing a
  // folder can never both get one name this way.
  void OpenCreateNew();
  // Opens the existing file for writing at its end; never shortens it.
  void OpenAppend();
  // Opens the existing file for reading and writing.
  void OpenExisting();
  // Appends every byte of the text (NUL bytes included). Short texts gather in
  // the 128-byte buffer, a full buffer is written out at once, and a text at
  // least as long as the buffer is handed to the platform whole. Only while
  // open for writing.
  void PutText(std::string_view text);
  // Writes out the buffer and releases the file.
  void CloseOut();
  // The size of the open file in bytes, buffered bytes included.
  int64_t SizeInBytes();
  // Which file the last open reached, so that its holders can tell it apart
  // from another spelling of the same path.
  const TFileIdentity& Identity() const { return identity_; }
  // Deletes the bound file; used on a closed file.
  void RemoveFile();
  // Releases the file after a failure without writing out what is buffered;
  // never raises, so a failed chunk never leaves its file open.
  void Abandon() noexcept;

 private:
  void Open(int flags, TState state);
  void RequireRegularFile();
  void WriteOut();
  void WriteThrough(const char* data, std::size_t size);
  void Release();

  std::string path_;
  TState state_ = TState::Closed;
  int handle_ = -1;
  std::array<char, kBufferSize> buffer_{};
  std::size_t buffered_ = 0;
  TFileIdentity identity_;
};

// The message of an I/O error code: "File not found", "Invalid filename",
// "Too many open files", "File access denied", ... or "I/O error %d".
std::string InOutErrorMessage(int code);

// The I/O error code of a platform error number from an operation on path:
// ENOENT 2 (3 when the folder that should hold the file is missing), ENOTDIR 3,
// EMFILE/ENFILE 4, EACCES/EPERM/EROFS/EISDIR 5, ENOSPC 112, ENAMETOOLONG 206,
// others from one table.
int InOutErrorCode(int systemError, const std::string& path);

// Raises EInOutError with the code and its message.
[[noreturn]] void RaiseInOutError(int code, int systemError = 0);

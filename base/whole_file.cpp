#include "base/whole_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "base/disk_file.h"
#include "base/exceptions.h"
#include "base/paths.h"
#include "base/system_calls.h"
#include "base/text.h"

namespace {

// Why a file that opened cannot be read whole; 0 when it can.
int UnreadableReason(const struct stat& status, off_t maxSize) {
  if (!S_ISREG(status.st_mode)) return EACCES;  // a FIFO, a device, a folder
  if (status.st_size > maxSize) return EFBIG;
  return 0;
}

// Appends what is left of the file to content; 0 on success, else the errno.
int ReadToEnd(int handle, std::string& content) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = ReadRetrying(handle, chunk, sizeof chunk);
    if (got < 0) return errno;
    if (got == 0) return 0;
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

// Fills file from the open handle; 0 on success, else the errno.
int ReadOpenFile(int handle, off_t maxSize, TWholeFile& file) {
  struct stat status {};
  if (FileCalls().FileStatus(handle, &status) != 0) return errno;
  if (const int reason = UnreadableReason(status, maxSize)) return reason;
  file.mode = status.st_mode & 07777;
  return ReadToEnd(handle, file.content);
}

std::string TemporaryName(const std::string& target, unsigned number) {
  return target + "." + FormatInteger(getpid()) + "." + FormatInteger(number) + ".tmp";
}

// Creates a temporary file of a name nobody uses yet beside target; the
// handle, or -1 with errno set.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temporary) {
  static unsigned counter = 0;
  int handle = -1;
  for (int attempt = 0; attempt < 100 && handle < 0; ++attempt) {
    temporary = TemporaryName(target, ++counter);
    handle = OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (handle < 0 && errno != EEXIST) break;
  }
  return handle;
}

// Writes and syncs the content and releases the handle; true when all of it
// reached the disk.
bool WriteSyncAndClose(int handle, std::string_view content) {
  const bool written =
      WriteAll(handle, content.data(), content.size()) == 0 && SyncRetrying(handle) == 0;
  return CloseOnce(handle) == 0 && written;
}

bool IsDecimal(std::string_view text) {
  return !text.empty() && text.size() <= 10 &&
         std::all_of(text.begin(), text.end(), IsDecimalDigit);
}

// The replacing process of a temporary file named "<file>.<pid>.<n>.tmp", as
// TemporaryName names them; 0 for any other name.
pid_t SavingProcessOf(std::string_view entry, std::string_view fileName) {
  if (!entry.starts_with(fileName) || !entry.ends_with(".tmp")) return 0;
  entry.remove_prefix(fileName.size());
  entry.remove_suffix(4);
  if (!entry.starts_with('.')) return 0;
  entry.remove_prefix(1);
  const std::size_t dot = entry.find('.');
  if (dot == std::string_view::npos) return 0;
  const std::string_view pid = entry.substr(0, dot);
  if (!IsDecimal(pid) || !IsDecimal(entry.substr(dot + 1))) return 0;
  return static_cast<pid_t>(std::stoll(std::string(pid)));
}

// A process that has ended leaves its temporary file to nobody. Our own
// number counts as ended too: at start this process has saved nothing yet,
// so such a file is from an earlier process that had the same number.
bool SaverIsGone(pid_t pid) { return pid == getpid() || (::kill(pid, 0) != 0 && errno == ESRCH); }

}  // namespace

TWholeFile LoadWholeFile(const std::string& path, off_t maxSize) {
  const int handle = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
  TWholeFile file;
  const int failure = handle < 0 ? errno : ReadOpenFile(handle, maxSize, file);
  if (handle >= 0) CloseOnce(handle);
  if (failure == 0) return file;
  // A file that exists but cannot be read is no empty one: the caller must
  // hear why, and must not replace what it cannot see.
  if (failure != ENOENT && failure != ENOTDIR) {
    const int code = InOutErrorCode(failure, path);
    throw EInOutError(InOutErrorMessage(code) + ": " + path, code, failure);
  }
  return TWholeFile{};
}

void ReplaceWholeFile(const std::string& path, std::string_view content, mode_t mode) {
  const std::string target = FileBehindLinks(path);
  std::string temporary;
  const int handle = CreateTemporary(target, mode, temporary);
  const Exception failure = UnableToWrite(path);
  if (handle < 0) throw failure;
  if (WriteSyncAndClose(handle, content) &&
      FileCalls().Rename(temporary.c_str(), target.c_str()) == 0) {
    return;
  }
  FileCalls().Unlink(temporary.c_str());
  throw failure;
}

Exception UnableToWrite(const std::string& path) { return Exception("Unable to write to " + path); }

void RemoveAbandonedTemporaries(const std::string& path) {
  const std::string target = FileBehindLinks(path);
  const std::string folder = DirectoryPart(target);
  const std::string fileName = target.substr(folder.size());
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(folder.empty() ? "." : folder, error)) {
    const std::string name = entry.path().filename().string();
    const pid_t saver = SavingProcessOf(name, fileName);
    if (saver > 0 && SaverIsGone(saver)) FileCalls().Unlink((folder + name).c_str());
  }
}

#include "jobs/job_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "base/disk_file.h"
#include "base/exceptions.h"
#include "base/system_calls.h"
#include "base/text.h"

namespace {

// A field holding a comma, a quote or a line end goes in quotes, its quotes
// doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

constexpr int kAccessDenied = 5;
constexpr const char* kNotRegular = "Not a regular file";
// Temporary names tried before giving up; each is new to this process.
constexpr int kTemporaryNameTries = 100;

// A link in the index's place is refused like a link in a capture's place.
[[noreturn]] void RaiseIndexFailure(const std::string& path) {
  const int error = errno;
  if (error == ELOOP) RaiseInOutError(kAccessDenied, error);
  RaiseInOutError(InOutErrorCode(error, path), error);
}

[[noreturn]] void RaiseNotRegular(int error) {
  throw EInOutError(kNotRegular, kAccessDenied, error);
}

void CloseKeepingErrno(int handle) {
  const int error = errno;
  CloseOnce(handle);
  errno = error;
}

// A FIFO, a socket or a device in the index's place would take the line
// (or, opened without O_NONBLOCK, stop the program until someone reads).
void RequireRegularFile(int handle, const std::string& path) {
  struct stat status {};
  if (FileCalls().FileStatus(handle, &status) != 0) {
    CloseKeepingErrno(handle);
    RaiseIndexFailure(path);
  }
  if (S_ISREG(status.st_mode)) return;
  CloseOnce(handle);
  RaiseNotRegular(0);
}

void WriteOnce(int handle, const std::string& text, const std::string& path) {
  if (WriteAll(handle, text.data(), text.size()) != 0) {
    CloseKeepingErrno(handle);
    RaiseIndexFailure(path);
  }
  if (CloseOnce(handle) != 0) RaiseIndexFailure(path);
}

// Adds the line to the index that is there; false when there is none.
bool AppendIfPresent(const std::string& path, const std::string& line) {
  const int handle =
      OpenRetrying(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (handle < 0) {
    if (errno == ENOENT) return false;
    // ENXIO: a FIFO nobody reads, or a socket; EISDIR: a folder.
    if (errno == ENXIO || errno == EISDIR) RaiseNotRegular(errno);
    RaiseIndexFailure(path);
  }
  RequireRegularFile(handle, path);
  WriteOnce(handle, line, path);
  return true;
}

// A name beside the index that no other process and no earlier call of
// this one uses.
std::string TemporaryName(const std::string& path) {
  static std::atomic<uint64_t> made{0};
  const std::size_t slash = path.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, nameAt) + "." + path.substr(nameAt) + "." +
         FormatInteger(static_cast<int64_t>(::getpid())) + "-" +
         FormatInteger(static_cast<int64_t>(++made));
}

// Writes text into a new temporary file beside the index and answers its
// name.
std::string WriteTemporary(const std::string& path, const std::string& text) {
  for (int tries = 0; tries < kTemporaryNameTries; ++tries) {
    const std::string name = TemporaryName(path);
    const int handle =
        OpenRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (handle < 0 && errno == EEXIST) continue;
    if (handle < 0) RaiseIndexFailure(path);
    try {
      WriteOnce(handle, text, path);
    } catch (...) {
      FileCalls().Unlink(name.c_str());
      throw;
    }
    return name;
  }
  errno = EEXIST;
  RaiseIndexFailure(path);
}

// A file system without hard links (FAT, say) only has the exclusive
// create; there a reader may for a moment find the index empty.
bool CreateExclusive(const std::string& path, const std::string& text) {
  const int handle = OpenRetrying(
      path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (handle < 0 && errno == EEXIST) return false;
  if (handle < 0) RaiseIndexFailure(path);
  WriteOnce(handle, text, path);
  return true;
}

// Makes the index with text in it, whole: the text is written under a
// temporary name and the index appears by a link to it, so that nobody,
// not even another copy of the program, can add a line before the header.
// False when another made it first.
bool CreateWhole(const std::string& path, const std::string& text) {
  const std::string temporary = WriteTemporary(path, text);
  const int linked = FileCalls().Link(temporary.c_str(), path.c_str());
  const int error = errno;
  FileCalls().Unlink(temporary.c_str());
  if (linked == 0) return true;
  if (error == EEXIST) return false;
  if (error == EPERM || error == EOPNOTSUPP) return CreateExclusive(path, text);
  errno = error;
  RaiseIndexFailure(path);
}

}  // namespace

std::string JobIndexLine(const TJob& record) {
  const std::string fields[] = {
      FormatLocalIsoTime(record.Start),
      FormatLocalIsoTime(record.End),
      record.Port,
      record.PeerAddress,
      FormatInteger(record.PeerPort),
      record.FileSize < 0 ? std::string() : FormatInteger(record.FileSize),
      record.RelativeFileName(),
      record.OutcomeText(),
      FormatInteger(record.QueriesAnswered),
      record.Labels.Queue,
      record.Labels.JobName,
      record.Labels.SourceName,
      record.Labels.User,
      record.Labels.Host,
  };
  std::string line;
  for (const std::string& field : fields) {
    if (!line.empty()) line += ',';
    line += CsvField(field);
  }
  line += "\r\n";
  return line;
}

void AppendToJobIndex(const TJob& record) {
  const std::string path = record.Folder + kJobIndexName;
  const std::string line = JobIndexLine(record);
  // The index can vanish between the two steps (a script rotating it); a
  // second round then makes it afresh.
  for (int round = 0; round < 2; ++round) {
    if (AppendIfPresent(path, line)) return;
    if (CreateWhole(path, kJobIndexHeader + line)) return;
  }
  errno = ENOENT;
  RaiseIndexFailure(path);
}

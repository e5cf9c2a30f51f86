#include "jobs/job_index.h"

#include <fcntl.h>

#include <cerrno>

#include "base/disk_file.h"
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

// A link in the index's place is refused like a link in a capture's place.
[[noreturn]] void RaiseIndexFailure(const std::string& path) {
  const int error = errno;
  if (error == ELOOP) RaiseInOutError(kAccessDenied, error);
  RaiseInOutError(InOutErrorCode(error, path), error);
}

int OpenIndex(const std::string& path, int flags) {
  return OpenRetrying(path.c_str(),
                      O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags, 0666);
}

void WriteOnce(int handle, const std::string& text, const std::string& path) {
  if (WriteAll(handle, text.data(), text.size()) != 0) {
    const int error = errno;
    CloseOnce(handle);
    errno = error;
    RaiseIndexFailure(path);
  }
  if (CloseOnce(handle) != 0) RaiseIndexFailure(path);
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
  // The one that creates the index writes its header and its own line in
  // the same write, so no reader ever sees a line before the header.
  int handle = OpenIndex(path, O_CREAT | O_EXCL);
  if (handle >= 0) return WriteOnce(handle, kJobIndexHeader + line, path);
  if (errno != EEXIST) RaiseIndexFailure(path);
  handle = OpenIndex(path, 0);
  if (handle < 0) RaiseIndexFailure(path);
  WriteOnce(handle, line, path);
}

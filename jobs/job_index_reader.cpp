#include "jobs/job_index_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "base/disk_file.h"
#include "base/exceptions.h"
#include "base/system_calls.h"

namespace {

constexpr int kAccessDenied = 5;
constexpr const char* kNotRegular = "Not a regular file";
constexpr std::size_t kReadBlockBytes = 64 * 1024;

// The column names in the order every header generation writes them.
constexpr const char* kColumnNames[kJobIndexColumns] = {
    "start",        "end",       "port",
    "peer address", "peer port", "bytes",
    "file",         "outcome",   "queries answered",
    "queue",        "job name",  "source file",
    "user",         "host"};

// The field counts the writer has ever given a line: the first eight
// columns, then queries answered, then the LPD labels.
bool IsWrittenFieldCount(std::size_t count) { return count == 8 || count == 9 || count == 14; }

// The failures a reader shares with the writer, in the writer's words.
[[noreturn]] void RaiseReadFailure(int error, const std::string& path) {
  if (error == ELOOP) RaiseInOutError(kAccessDenied, error);
  RaiseInOutError(InOutErrorCode(error, path), error);
}

[[noreturn]] void RaiseNotRegular(int error) {
  throw EInOutError(kNotRegular, kAccessDenied, error);
}

// Closes the index however the reading ends.
class TOpenIndex {
 public:
  explicit TOpenIndex(int handle) : handle_(handle) {}
  ~TOpenIndex() { CloseOnce(handle_); }
  TOpenIndex(const TOpenIndex&) = delete;
  TOpenIndex& operator=(const TOpenIndex&) = delete;
  int Handle() const { return handle_; }

 private:
  int handle_;
};

// The open index, or -1 when there is none. O_NONBLOCK: a FIFO in the
// index's place must not hold the program up before it is refused.
int OpenIndex(const std::string& path) {
  const int handle = OpenRetrying(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (handle >= 0) return handle;
  if (errno == ENOENT) return -1;
  // ENXIO: a socket; EISDIR is not given for reading, but means the same.
  if (errno == ENXIO || errno == EISDIR) RaiseNotRegular(errno);
  RaiseReadFailure(errno, path);
}

void RequireRegularFile(int handle, const std::string& path) {
  struct stat status {};
  if (FileCalls().FileStatus(handle, &status) != 0) RaiseReadFailure(errno, path);
  if (!S_ISREG(status.st_mode)) RaiseNotRegular(0);
}

}  // namespace

TJobIndexParser::TJobIndexParser(TLineHandler onLine) : onLine_(std::move(onLine)) {}

void TJobIndexParser::Feed(std::string_view bytes) {
  for (char byte : bytes) TakeByte(byte);
}

TJobIndexTally TJobIndexParser::Finish() {
  tally_.TornLastLine = lineStarted_ && state_ != TState::SkippingLongLine;
  return tally_;
}

// Outside quotes a CR is dropped: the writer quotes every field that holds
// one, so there it is only the first half of a line end.
void TJobIndexParser::TakeByte(char byte) {
  lineStarted_ = true;
  if (state_ == TState::SkippingLongLine) {
    if (byte == '\n') EndLine();
    return;
  }
  if (++lineBytes_ > kMaxIndexLineBytes) {
    ++tally_.Skipped;
    state_ = TState::SkippingLongLine;
    if (headerColumns_ == 0) throw EInOutError(kNotAJobIndex, kAccessDenied);
    return;
  }
  const bool quoted = state_ == TState::Quoted;
  if (quoted) {
    if (byte == '"')
      state_ = TState::QuoteInQuoted;
    else
      AddToField(byte);
    return;
  }
  if (byte == '"' && state_ == TState::FieldStart) {
    state_ = TState::Quoted;
  } else if (byte == '"' && state_ == TState::QuoteInQuoted) {
    AddToField('"');
    state_ = TState::Quoted;
  } else if (byte == ',') {
    EndField();
  } else if (byte == '\n') {
    EndField();
    EndLine();
  } else if (byte != '\r') {
    // Text after a closing quote, or a quote inside an unquoted field, is
    // taken as it stands.
    AddToField(byte);
    state_ = TState::Unquoted;
  }
}

void TJobIndexParser::AddToField(char byte) {
  if (fieldCount_ < fields_.size()) fields_[fieldCount_] += byte;
}

void TJobIndexParser::EndField() {
  ++fieldCount_;
  state_ = TState::FieldStart;
}

void TJobIndexParser::EndLine() {
  if (state_ != TState::SkippingLongLine) {
    if (headerColumns_ == 0)
      TakeHeader();
    else
      TakeDataLine();
  }
  for (std::string& field : fields_) field.clear();
  fieldCount_ = 0;
  lineBytes_ = 0;
  lineStarted_ = false;
  state_ = TState::FieldStart;
}

// A header of any generation, or of a later one that keeps these columns
// first.
void TJobIndexParser::TakeHeader() {
  const bool known = fieldCount_ >= 8 && [this] {
    for (std::size_t i = 0; i < kJobIndexColumns && i < fieldCount_; ++i)
      if (fields_[i] != kColumnNames[i]) return false;
    return true;
  }();
  if (!known) throw EInOutError(kNotAJobIndex, kAccessDenied);
  headerColumns_ = fieldCount_;
}

// A line has its header's field count, or that of a later generation: an
// index begun by an older version keeps its header while its new lines
// carry every field.
void TJobIndexParser::TakeDataLine() {
  const bool fits = fieldCount_ == headerColumns_ ||
                    (IsWrittenFieldCount(fieldCount_) && fieldCount_ > headerColumns_);
  if (!fits) {
    ++tally_.Skipped;
    return;
  }
  ++tally_.Lines;
  TJobIndexFields line;
  for (std::size_t i = 0; i < kJobIndexColumns && i < fieldCount_; ++i)
    line.Fields[i] = std::move(fields_[i]);
  onLine_(line);
}

TJobIndexTally ReadJobIndex(const std::string& path, const TJobIndexParser::TLineHandler& onLine) {
  const int handle = OpenIndex(path);
  if (handle < 0) return {};
  TOpenIndex index(handle);
  RequireRegularFile(handle, path);
  TJobIndexParser parser(onLine);
  std::vector<char> block(kReadBlockBytes);
  for (;;) {
    const ssize_t count = ReadRetrying(handle, block.data(), block.size());
    if (count < 0) RaiseReadFailure(errno, path);
    if (count == 0) break;
    parser.Feed(std::string_view(block.data(), static_cast<std::size_t>(count)));
  }
  return parser.Finish();
}

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// jobs.csv read back, as its writer (job_index.h) makes it: RFC 4180
// fields, a quoted field may hold commas, doubled quotes and line ends,
// lines end in CR LF. Every header the index ever had is read: the first
// eight columns, then queries answered, then the five labels of an LPD job.

enum class TIndexColumn : std::size_t {
  Start,
  End,
  Port,
  PeerAddress,
  PeerPort,
  Bytes,
  File,
  Outcome,
  QueriesAnswered,
  Queue,
  JobName,
  SourceFile,
  User,
  Host,
};
constexpr std::size_t kJobIndexColumns = 14;

// One line of the index by the columns of the newest header; the columns an
// older line lacks are empty.
struct TJobIndexFields {
  std::array<std::string, kJobIndexColumns> Fields;

  const std::string& operator[](TIndexColumn column) const {
    return Fields[static_cast<std::size_t>(column)];
  }
};

// What a reading found besides its lines.
struct TJobIndexTally {
  int64_t Lines = 0;
  // Lines skipped: a field count no header generation has, or longer than
  // kMaxIndexLineBytes.
  int64_t Skipped = 0;
  // The file ended inside a line (a write cut short): that line is skipped.
  bool TornLastLine = false;
};

// A line longer than this is no line of the writer's: it is skipped and
// counted, and reading goes on after its end, so a stray quote cannot make
// the rest of a large file one line held in memory.
constexpr std::size_t kMaxIndexLineBytes = 64 * 1024;

// The first line of a file that is no index of any generation.
constexpr const char* kNotAJobIndex = "Not a job index: its first line is no known header";

// Takes the index's bytes in pieces of any size and hands on each whole line
// as it ends; only one line is held at a time.
class TJobIndexParser {
 public:
  using TLineHandler = std::function<void(const TJobIndexFields&)>;

  explicit TJobIndexParser(TLineHandler onLine);

  // Raises EInOutError kNotAJobIndex when the first line is no header.
  void Feed(std::string_view bytes);
  // The tally; whatever is left without a line end is the torn last line.
  TJobIndexTally Finish();

 private:
  enum class TState { FieldStart, Unquoted, Quoted, QuoteInQuoted, SkippingLongLine };

  void TakeByte(char byte);
  void AddToField(char byte);
  void EndField();
  void EndLine();
  void TakeHeader();
  void TakeDataLine();

  TLineHandler onLine_;
  TState state_ = TState::FieldStart;
  std::array<std::string, kJobIndexColumns + 1> fields_;
  // Fields beyond the slots are counted, not kept: a line with more than
  // the slots has a wrong field count unless the header has as many.
  std::size_t fieldCount_ = 0;
  std::size_t lineBytes_ = 0;
  std::size_t headerColumns_ = 0;
  bool lineStarted_ = false;
  bool lineTooLong_ = false;
  TJobIndexTally tally_;
};

// Reads the index at path from its start to its end in blocks, calling
// onLine for each whole line, oldest first; memory does not grow with the
// file. A missing index has no lines. Like the writer it never follows a
// link in the index's place ("File access denied") and never reads
// anything but a regular file ("Not a regular file"); other failures give
// the I/O error table's message. Raises EInOutError.
TJobIndexTally ReadJobIndex(const std::string& path, const TJobIndexParser::TLineHandler& onLine);

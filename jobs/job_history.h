#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "capture/job.h"
#include "jobs/job_index_reader.h"

// The finished jobs a person can look through: this run's and those the
// ports' indexes remember, kept compact so that a hundred thousand of them
// cost a few tens of megabytes.

enum class THistoryColumn : std::size_t {
  End,
  Port,
  Peer,
  Bytes,
  File,
  Outcome,
  JobName,
  User,
  Queue,
  SourceFile,
  Host,
};
constexpr std::size_t kHistoryColumns = 11;

// An end time that could not be read sorts before every other.
constexpr int64_t kUnknownTime = std::numeric_limits<int64_t>::min();

// Milliseconds since 1970 (UTC) of a time as the index writes it,
// 2026-12-08T14:30:05.123+01:00 (a "Z" for the offset is taken too);
// kUnknownTime for any other text.
int64_t ParseIndexTime(std::string_view text);

// One finished job. Its texts live in one allocation, each field followed
// by a NUL byte, so a row costs one small block beside its fixed part, and
// a filter looks through one run of bytes.
class THistoryRow {
 public:
  // This run's job; bytes are the capture file's size at the close, as the
  // index has them, so that the same job reads the same from either source.
  static THistoryRow FromJob(const TJob& job);
  // A line of the index in folder (with or without its separator); its
  // file, relative to the folder, becomes the full path.
  static THistoryRow FromIndexLine(const TJobIndexFields& line, std::string_view folder);

  // The column's text: the end time as written, the port, the peer's
  // address, the bytes in digits (empty when unknown), the file's full path,
  // the outcome, and the labels of an LPD job (empty for a raw one).
  std::string_view Text(THistoryColumn column) const;

  int64_t EndMilliseconds = kUnknownTime;
  // -1: the size could not be taken.
  int64_t Bytes = -1;
  uint16_t PeerPort = 0;
  // The file was found missing the last time it was looked for
  // (TJobHistory::CheckGone); false until then.
  bool Gone = false;

 private:
  friend class TJobHistory;
  void Pack(const std::array<std::string_view, kHistoryColumns>& texts);
  // The NUL-separated texts, for the filter.
  std::string_view Packed() const { return packed_; }

  std::string packed_;
  // Where each column's text ends in packed_.
  std::array<uint16_t, kHistoryColumns> ends_{};
  // Only bytes below 0x80: no case folding beyond ASCII can matter.
  bool ascii_ = true;
};

// A Load that was asked to stop before the index was read through.
struct EJobIndexLoadStopped {};

// The rows the job list shows, newest first, at most Bound() of them: each
// row beyond drops the oldest. Row indices hold until the next Add or Load.
class TJobHistory {
 public:
  static constexpr std::size_t kDefaultBound = 100000;
  static constexpr std::size_t kNotKept = std::numeric_limits<std::size_t>::max();

  explicit TJobHistory(std::size_t bound = kDefaultBound);

  std::size_t Size() const { return rows_.size(); }
  std::size_t Bound() const { return bound_; }
  // 0 is the newest row.
  const THistoryRow& Row(std::size_t index) const;

  struct TAdded {
    // Where the row now stands, newest first: 0 unless an older job
    // finished after it. kNotKept when the history is full of newer rows.
    std::size_t Position = 0;
    // The oldest row (the last index before the add) was dropped.
    bool DroppedOldest = false;
  };
  // A job that has just finished.
  TAdded Add(THistoryRow row);

  struct TLoaded {
    std::size_t Added = 0;
    // Lines of jobs already held (this run's, or an earlier Load's): a
    // job is the same when its file and its end time are.
    std::size_t AlreadyHeld = 0;
    TJobIndexTally Tally;
  };
  // The index in a port's folder, read through, its newest lines merged in
  // by end time; an absent index adds nothing. Raises EInOutError with the
  // index writer's messages ("File access denied" for a link in its
  // place, "Not a regular file", the I/O error table's) or kNotAJobIndex.
  // Every row index changes.
  // stopRequested, asked at every line, ends the read early (the rows read
  // so far are not merged) with EJobIndexLoadStopped: a program that is
  // closing need not wait for a long index.
  TLoaded Load(const std::string& folder, const std::function<bool()>& stopRequested = {});
  // The rows of another history (one loaded apart, off the UI thread)
  // merged in by end time, jobs already held left out; answers how many
  // came in. Every row index changes.
  std::size_t Merge(TJobHistory&& other);
  static std::string IndexPathIn(const std::string& folder);

  // The rows with filter in any column's text, letter case ignored (also
  // beyond ASCII), newest first; every row for an empty filter.
  std::vector<std::size_t> Matching(std::string_view filter) const;
  // Orders row indices by a column: times as times, bytes and ports as
  // numbers, texts with their digit runs as numbers (192.0.2.9 before
  // 192.0.2.10) and letter case ignored. Stable: equal rows stay newest
  // first.
  void Sort(std::vector<std::size_t>& indices, THistoryColumn column, bool ascending) const;
  // Negative, zero or positive as row left sorts before, with or after row
  // right by the column, in Sort's ascending order (ties not broken).
  int Compare(std::size_t left, std::size_t right, THistoryColumn column) const;
  // Whether the row has filter in any column's text, as Matching decides.
  bool Matches(std::size_t index, std::string_view filter) const;
  // Which job a row is, whichever source it came from: its file and end.
  static std::string JobKey(const THistoryRow& row);

  // Looks whether the row's file is still there and marks the row; answers
  // Gone. A file that cannot be looked at (no permission) is not gone.
  bool CheckGone(std::size_t index);

 private:
  std::size_t Stored(std::size_t index) const { return rows_.size() - 1 - index; }
  // The keys (JobKey) of the rows held now.
  std::unordered_set<std::string> HeldKeys() const;
  // Rows in end order moved in (newRows is left empty), merged by end time
  // after the held rows of the same end, and the oldest beyond the bound
  // dropped.
  void MergeInOrder(std::deque<THistoryRow>& newRows);
  void DropBeyondBound();

  std::size_t bound_;
  // Oldest first, by end time.
  std::deque<THistoryRow> rows_;
};

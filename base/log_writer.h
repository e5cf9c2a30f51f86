#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// Writes log lines to a descriptor on a thread of its own, so that a reader
// that stops reading (a paused pager, a stalled journal, a terminal held with
// Ctrl+S) never holds up the caller. What waits is bounded: a line that does
// not fit is dropped and counted, and once lines fit again one line says how
// many were dropped, in the place where they went missing, and why: the
// reader took nothing for a while, or lines simply came faster than it took
// them.
class TLogWriter {
 public:
  static constexpr std::size_t kDefaultCapacity = 1 << 20;
  // Lines are gathered this long, or up to this size, before they are
  // written together; a batch goes out in pieces of at most this size.
  static constexpr std::chrono::milliseconds kBatchDelay{20};
  static constexpr std::size_t kBatchBytes = 64 * 1024;
  // A write that has taken nothing for this long means nobody reads.
  static constexpr std::chrono::milliseconds kDefaultStallTime{1000};

  explicit TLogWriter(int descriptor, std::size_t capacity = kDefaultCapacity,
                      std::chrono::milliseconds stallTime = kDefaultStallTime);
  // Waits for the thread, which finishes what it holds first: the
  // descriptor must by then take or refuse writes (a pipe whose reader has
  // gone refuses them).
  ~TLogWriter();
  TLogWriter(const TLogWriter&) = delete;
  TLogWriter& operator=(const TLogWriter&) = delete;

  // Queues text made of whole lines; never waits.
  void Write(std::string_view text);
  // Waits at most timeout for everything queued to be written, and the
  // notice of lines dropped since the last one with it; answers whether it
  // was.
  bool Drain(std::chrono::milliseconds timeout);
  // Lines dropped so far.
  int64_t DroppedLines() const;
  // Whether a write has waited on the descriptor, taking nothing, for the
  // stall time or longer.
  bool Stalled() const;
  int Descriptor() const { return descriptor_; }

 private:
  using TClock = std::chrono::steady_clock;

  void Run();
  void WriteOut(const std::string& text);
  bool StalledLocked() const;
  std::string PendingNotice() const;

  const int descriptor_;
  const std::size_t capacity_;
  const std::chrono::milliseconds stallTime_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable drained_;
  std::string queue_;
  bool writing_ = false;
  bool stopping_ = false;
  bool draining_ = false;
  // When the piece being written was handed to the descriptor.
  TClock::time_point pieceStarted_;
  int64_t droppedSinceNotice_ = 0;
  // Whether any line since the last notice was dropped while the reader
  // took nothing.
  bool droppedWhileStalled_ = false;
  int64_t droppedLines_ = 0;
  std::thread thread_;
};

// The writer for standard error. Made at first use and never destroyed: a
// thread stuck on a reader that never reads again must not keep the program
// from ending.
TLogWriter& StandardErrorLog();

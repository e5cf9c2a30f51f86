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
// many were dropped, in the place where they went missing.
class TLogWriter {
 public:
  static constexpr std::size_t kDefaultCapacity = 1 << 20;
  // Lines are gathered this long, or up to this size, before they are
  // written together.
  static constexpr std::chrono::milliseconds kBatchDelay{20};
  static constexpr std::size_t kBatchBytes = 64 * 1024;

  explicit TLogWriter(int descriptor, std::size_t capacity = kDefaultCapacity);
  // Waits for the thread, which finishes what it holds first: the
  // descriptor must by then take or refuse writes (a pipe whose reader has
  // gone refuses them).
  ~TLogWriter();
  TLogWriter(const TLogWriter&) = delete;
  TLogWriter& operator=(const TLogWriter&) = delete;

  // Queues text made of whole lines; never waits.
  void Write(std::string_view text);
  // Waits at most timeout for everything queued to be written; answers
  // whether it was.
  bool Drain(std::chrono::milliseconds timeout);
  // Lines dropped so far.
  int64_t DroppedLines() const;

 private:
  void Run();
  void WriteOut(const std::string& text) const;

  const int descriptor_;
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable drained_;
  std::string queue_;
  bool writing_ = false;
  bool stopping_ = false;
  bool draining_ = false;
  int64_t droppedSinceNotice_ = 0;
  int64_t droppedLines_ = 0;
  std::thread thread_;
};

// The writer for standard error. Made at first use and never destroyed: a
// thread stuck on a reader that never reads again must not keep the program
// from ending.
TLogWriter& StandardErrorLog();

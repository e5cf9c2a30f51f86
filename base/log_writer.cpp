#include "base/log_writer.h"

#include <unistd.h>

#include <algorithm>

#include "base/call_table.h"
#include "base/text.h"

namespace {

int64_t LinesIn(std::string_view text) {
  return std::max<int64_t>(1, std::count(text.begin(), text.end(), '\n'));
}

std::string DropNotice(int64_t lines) {
  return "tarnock: " + FormatInteger(lines) +
         " log lines dropped here: standard error was not being read\n";
}

}  // namespace

TLogWriter::TLogWriter(int descriptor, std::size_t capacity)
    : descriptor_(descriptor), capacity_(capacity), thread_([this] { Run(); }) {}

TLogWriter::~TLogWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_one();
  thread_.join();
}

void TLogWriter::Write(std::string_view text) {
  if (text.empty()) return;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    const std::string notice =
        droppedSinceNotice_ > 0 ? DropNotice(droppedSinceNotice_) : std::string();
    if (queue_.size() + notice.size() + text.size() > capacity_) {
      const int64_t lines = LinesIn(text);
      droppedSinceNotice_ += lines;
      droppedLines_ += lines;
      return;
    }
    // The thread gathers lines for a moment before it writes them: waking it
    // for every line of a flood would cost more than the writing itself.
    wake = queue_.empty() || queue_.size() + notice.size() + text.size() >= kBatchBytes;
    queue_ += notice;
    queue_ += text;
    droppedSinceNotice_ = 0;
  }
  if (wake) queued_.notify_one();
}

bool TLogWriter::Drain(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  draining_ = true;
  queued_.notify_one();
  const bool drained =
      drained_.wait_for(lock, timeout, [this] { return queue_.empty() && !writing_; });
  draining_ = false;
  return drained;
}

int64_t TLogWriter::DroppedLines() const {
  std::lock_guard lock(mutex_);
  return droppedLines_;
}

void TLogWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    queued_.wait_for(lock, kBatchDelay,
                     [this] { return stopping_ || draining_ || queue_.size() >= kBatchBytes; });
    std::string text;
    text.swap(queue_);
    writing_ = true;
    lock.unlock();
    WriteOut(text);
    lock.lock();
    writing_ = false;
    if (queue_.empty()) drained_.notify_all();
  }
}

// A reader that has gone (EPIPE) or a descriptor that was never usable takes
// nothing; the lines are given up rather than retried for ever.
void TLogWriter::WriteOut(const std::string& text) const {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count =
        RetryOnEintr([&] { return ::write(descriptor_, text.data() + done, text.size() - done); });
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

TLogWriter& StandardErrorLog() {
  static TLogWriter* const writer = new TLogWriter(STDERR_FILENO);
  return *writer;
}

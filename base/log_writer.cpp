#include "base/log_writer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/call_table.h"
#include "base/text.h"

namespace {

int64_t LinesIn(std::string_view text) {
  return std::max<int64_t>(1, std::count(text.begin(), text.end(), '\n'));
}

// Why lines went missing: a reader that took nothing is one thing, a reader
// that took lines as fast as it could but fewer than came is another.
std::string DropNotice(int64_t lines, bool readerStalled) {
  return "tarnock: " + FormatInteger(lines) + " log lines dropped here: " +
         (readerStalled ? "standard error was not being read\n"
                        : "they came faster than standard error took them\n");
}

}  // namespace

TLogWriter::TLogWriter(int descriptor, std::size_t capacity, std::chrono::milliseconds stallTime)
    : descriptor_(descriptor),
      capacity_(capacity),
      stallTime_(stallTime),
      thread_([this] { Run(); }) {}

TLogWriter::~TLogWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_one();
  thread_.join();
}

std::string TLogWriter::PendingNotice() const {
  return droppedSinceNotice_ > 0 ? DropNotice(droppedSinceNotice_, droppedWhileStalled_)
                                 : std::string();
}

void TLogWriter::Write(std::string_view text) {
  if (text.empty()) return;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    const std::string notice = PendingNotice();
    if (queue_.size() + notice.size() + text.size() > capacity_) {
      const int64_t lines = LinesIn(text);
      droppedSinceNotice_ += lines;
      droppedLines_ += lines;
      droppedWhileStalled_ = droppedWhileStalled_ || StalledLocked();
      return;
    }
    // The thread gathers lines for a moment before it writes them: waking it
    // for every line of a flood would cost more than the writing itself.
    wake = queue_.empty() || queue_.size() + notice.size() + text.size() >= kBatchBytes;
    queue_ += notice;
    queue_ += text;
    droppedSinceNotice_ = 0;
    droppedWhileStalled_ = false;
  }
  if (wake) queued_.notify_one();
}

// The notice of the last drops would otherwise wait for a line that may
// never come (the program is ending), so a drain queues it once there is
// room.
bool TLogWriter::Drain(std::chrono::milliseconds timeout) {
  const TClock::time_point deadline = TClock::now() + timeout;
  std::unique_lock lock(mutex_);
  draining_ = true;
  bool drained = false;
  for (;;) {
    queued_.notify_one();
    drained = drained_.wait_until(lock, deadline, [this] { return queue_.empty() && !writing_; });
    if (!drained || droppedSinceNotice_ == 0) break;
    queue_ = PendingNotice();
    droppedSinceNotice_ = 0;
    droppedWhileStalled_ = false;
  }
  draining_ = false;
  return drained;
}

int64_t TLogWriter::DroppedLines() const {
  std::lock_guard lock(mutex_);
  return droppedLines_;
}

bool TLogWriter::Stalled() const {
  std::lock_guard lock(mutex_);
  return StalledLocked();
}

bool TLogWriter::StalledLocked() const {
  return writing_ && TClock::now() - pieceStarted_ >= stallTime_;
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
    pieceStarted_ = TClock::now();
    lock.unlock();
    WriteOut(text);
    lock.lock();
    writing_ = false;
    if (queue_.empty()) drained_.notify_all();
  }
}

// In pieces, so that a slow but living reader shows as progress and only a
// reader that takes nothing counts as stalled. A descriptor another program
// made non-blocking is waited on rather than given up. A reader that has
// gone (EPIPE) or a descriptor that was never usable takes nothing; the
// lines are given up rather than retried for ever.
void TLogWriter::WriteOut(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t piece = std::min(text.size() - done, kBatchBytes);
    const ssize_t count =
        RetryOnEintr([&] { return ::write(descriptor_, text.data() + done, piece); });
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd writable{descriptor_, POLLOUT, 0};
      if (RetryOnEintr([&] { return ::poll(&writable, 1, -1); }) > 0) continue;
    }
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
    std::lock_guard lock(mutex_);
    pieceStarted_ = TClock::now();
  }
}

TLogWriter& StandardErrorLog() {
  static TLogWriter* const writer = new TLogWriter(STDERR_FILENO);
  return *writer;
}

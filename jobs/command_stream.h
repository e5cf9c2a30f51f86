#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "jobs/reply_profile.h"

// A byte stream read one step at a time, where a step (a command's head, a
// run of data) may need bytes that have not arrived yet. The head of a
// command split across receives is kept until it is whole; it is never longer
// than kLongestHead, so that is all a connection keeps.
class TCommandStream {
 public:
  virtual ~TCommandStream() = default;

  // The next bytes of the stream; the first is at stream offset offset.
  void Read(std::string_view bytes, uint64_t offset, TReplyHost& host);
  std::size_t KeptHead() const { return pending_.size(); }

 protected:
  // Every step that needs more bytes is complete with this many.
  static constexpr std::size_t kLongestHead = 16;

  // Reads at the start of at (whose first byte is at stream offset
  // atOffset): returns how many bytes the step used, at least 1, or 0 when
  // at ends before the step is whole.
  virtual std::size_t Step(std::string_view at, uint64_t atOffset, TReplyHost& host) = 0;

 private:
  std::size_t StepWithin(std::string_view at, uint64_t atOffset, TReplyHost& host);
  std::size_t FinishPending(std::string_view bytes, TReplyHost& host);

  std::string pending_;
  uint64_t pendingOffset_ = 0;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "jobs/printer_state.h"

// What a language's status profile reaches of the responder that feeds it.
class TReplyHost {
 public:
  virtual ~TReplyHost() = default;
  // The simulated state; the settings behind it are read at most once per
  // receive, and only when a profile asks.
  virtual TPrinterState State() = 0;
  // True when a custom rule has answered a byte at or after queryStart: the
  // query then belongs to the rule, and the profile neither answers it nor
  // acts on it.
  virtual bool ClaimedByRule(uint64_t queryStart) const = 0;
  // The answer to a query whose last byte is at stream offset queryEnd; it
  // counts as one query answered.
  virtual void Answer(uint64_t queryEnd, std::string_view reply) = 0;
  // Status the client asked to be sent unasked (automatic status, PJL's
  // unsolicited status); not counted as an answer.
  virtual void Announce(uint64_t end, std::string_view status) = 0;
};

// One language's status queries, recognised in the stream as it arrives.
class TReplyProfile {
 public:
  virtual ~TReplyProfile() = default;
  // Once at the start of every receive, before its bytes: what waits for a
  // state change is answered or announced here.
  virtual void Resume(TReplyHost& host) = 0;
  // The next bytes of the stream; the first is at stream offset offset.
  virtual void Feed(std::string_view bytes, uint64_t offset, TReplyHost& host) = 0;
  // The bytes kept between receives: an unfinished command or line.
  virtual std::size_t CarriedBytes() const = 0;
};

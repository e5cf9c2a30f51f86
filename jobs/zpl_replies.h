#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "jobs/command_stream.h"
#include "jobs/reply_profile.h"

// The status queries of the label printer command language: ~HS (host
// status), ~HI (host identification) and ~HQES (printer status). Control
// commands act on arrival wherever they stand, so they are recognised
// anywhere in the stream, in either letter case. The prefixes can be changed
// by the stream itself (^CT / ~CT for the tilde, ^CC / ~CC for the caret),
// and a query is looked for after the current tilde only.
class TZplReplies final : public TReplyProfile, private TCommandStream {
 public:
  void Resume(TReplyHost&) override {}
  void Feed(std::string_view bytes, uint64_t offset, TReplyHost& host) override {
    Read(bytes, offset, host);
  }
  std::size_t CarriedBytes() const override { return KeptHead(); }

 private:
  std::size_t Step(std::string_view at, uint64_t atOffset, TReplyHost& host) override;
  std::size_t StepCommand(std::string_view at, uint64_t atOffset, TReplyHost& host);

  char tilde_ = '~';
  char caret_ = '^';
};

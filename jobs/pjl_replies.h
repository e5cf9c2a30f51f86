#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "jobs/reply_profile.h"

// The status queries of the job language that wraps office print jobs:
// @PJL INFO STATUS, @PJL INFO ID, @PJL ECHO, and @PJL USTATUS with the
// unsolicited status it turns on. Commands are lines starting with "@PJL"
// while the stream is in job language context: from the start of the
// connection and after every Universal Exit Language (ESC %-12345X), until
// @PJL ENTER LANGUAGE or a line that is not a command (the printer then
// switches to the page language on its own). Page language data is only
// searched for the next UEL. A line longer than 1024 bytes is dropped
// unanswered, so a runaway line costs no memory.
class TPjlReplies final : public TReplyProfile {
 public:
  void Resume(TReplyHost& host) override;
  void Feed(std::string_view bytes, uint64_t offset, TReplyHost& host) override;
  std::size_t CarriedBytes() const override { return line_.size() + uelHave_; }

  static constexpr std::size_t kLongestLine = 1024;

 private:
  enum class TMode { LineStart, Uel, Prefix, Line, DropLine, PageLanguage };
  enum class TDeviceStatus { Off, On, Verbose };

  std::size_t StepLineStart(std::string_view bytes, std::size_t i, uint64_t offset);
  std::size_t StepUel(std::string_view bytes, std::size_t i);
  std::size_t StepPrefix(std::string_view bytes, std::size_t i);
  std::size_t StepLine(std::string_view bytes, std::size_t i, uint64_t offset, TReplyHost& host);
  std::size_t StepDropLine(std::string_view bytes, std::size_t i);
  std::size_t StepPageLanguage(std::string_view bytes, std::size_t i);
  void Command(std::string_view line, uint64_t start, uint64_t end, TReplyHost& host);
  void SetUnsolicited(std::string_view setting, TReplyHost& host);
  void AnnounceJob(std::string_view phase, std::string_view arguments, uint64_t end,
                   TReplyHost& host);

  TMode mode_ = TMode::LineStart;
  std::string line_;
  uint64_t lineStart_ = 0;
  std::size_t uelHave_ = 0;
  TDeviceStatus deviceStatus_ = TDeviceStatus::Off;
  bool jobStatus_ = false;
  std::optional<TPrinterState> lastAnnounced_;
};

#include "jobs/zpl_replies.h"

#include <algorithm>
#include <string>

#include "base/text.h"

namespace {

constexpr char kStx = 0x02;
constexpr std::string_view kEnd = "\x03\r\n";

std::string Framed(std::string_view text) { return kStx + std::string(text) + std::string(kEnd); }

// Three strings. The first carries the paper out and pause flags (fields 2
// and 3), the second the head up flag (field 3); the rest describe a
// tear-off thermal transfer printer with nothing queued.
std::string HostStatus(TPrinterState state) {
  const char paperOut = state == TPrinterState::PaperOut ? '1' : '0';
  const char paused = state == TPrinterState::Offline ? '1' : '0';
  const char headUp = state == TPrinterState::CoverOpen ? '1' : '0';
  return Framed(std::string("030,") + paperOut + ',' + paused + ",1218,000,0,0,0,000,0,0,0") +
         Framed(std::string("000,0,") + headUp + ",0,1,2,6,0,00000000,1,000") + Framed("1234,0");
}

std::string HostIdentification() { return Framed("Tarnock,V1.0,8,8192KB"); }

// The error flag words: media out is bit 0, head open bit 2. A paused
// printer has no error; ~HS tells its pause.
std::string PrinterStatus(TPrinterState state) {
  std::string errors = "0 00000000 00000000";
  if (state == TPrinterState::PaperOut) errors = "1 00000000 00000001";
  if (state == TPrinterState::CoverOpen) errors = "1 00000000 00000004";
  return std::string(1, kStx) + "\r\n  PRINTER STATUS\r\n    ERRORS:         " + errors +
         "\r\n    WARNINGS:       0 00000000 00000000\r\n" + std::string(kEnd);
}

bool Named(std::string_view at, std::size_t index, std::string_view name) {
  return UpperAscii(at[index]) == name[0] && UpperAscii(at[index + 1]) == name[1];
}

}  // namespace

std::size_t TZplReplies::Step(std::string_view at, uint64_t atOffset, TReplyHost& host) {
  if (at[0] == tilde_ || at[0] == caret_) return StepCommand(at, atOffset, host);
  const auto prefix =
      std::find_if(at.begin(), at.end(), [this](char c) { return c == tilde_ || c == caret_; });
  return static_cast<std::size_t>(prefix - at.begin());
}

std::size_t TZplReplies::StepCommand(std::string_view at, uint64_t atOffset, TReplyHost& host) {
  if (at.size() < 3) return 0;
  if (Named(at, 1, "CT") || Named(at, 1, "CC")) {
    if (at.size() < 4) return 0;
    (UpperAscii(at[2]) == 'T' ? tilde_ : caret_) = at[3];
    return 4;
  }
  if (at[0] != tilde_) return 1;
  std::string reply;
  std::size_t length = 3;
  if (Named(at, 1, "HS")) {
    if (!host.ClaimedByRule(atOffset)) reply = HostStatus(host.State());
  } else if (Named(at, 1, "HI")) {
    if (!host.ClaimedByRule(atOffset)) reply = HostIdentification();
  } else if (Named(at, 1, "HQ")) {
    if (at.size() < 5) return 0;
    if (!Named(at, 3, "ES")) return 3;
    length = 5;
    if (!host.ClaimedByRule(atOffset)) reply = PrinterStatus(host.State());
  } else {
    return 1;
  }
  if (!reply.empty()) host.Answer(atOffset + length - 1, reply);
  return length;
}

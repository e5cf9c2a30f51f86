#include "jobs/pjl_replies.h"

#include <cstring>

#include "base/text.h"

namespace {

constexpr std::string_view kUel = "\x1B%-12345X";
constexpr std::string_view kPrefix = "@PJL";
constexpr char kFormFeed = '\f';

// CODE, DISPLAY and ONLINE for a state: 10001 ready, 10002 offline,
// 41000 paper to be loaded (tray and size not named), 40021 printer open.
std::string StatusLines(TPrinterState state) {
  switch (state) {
    case TPrinterState::PaperOut:
      return "CODE=41000\r\nDISPLAY=\"PAPER OUT\"\r\nONLINE=TRUE\r\n";
    case TPrinterState::CoverOpen:
      return "CODE=40021\r\nDISPLAY=\"COVER OPEN\"\r\nONLINE=TRUE\r\n";
    case TPrinterState::Offline:
      return "CODE=10002\r\nDISPLAY=\"OFFLINE\"\r\nONLINE=FALSE\r\n";
    case TPrinterState::Ready:
      break;
  }
  return "CODE=10001\r\nDISPLAY=\"READY\"\r\nONLINE=TRUE\r\n";
}

bool IsLineBlank(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == '\f'; }

// The first word of text, and text after it with its blanks removed.
std::string_view FirstWord(std::string_view text, std::string_view& rest) {
  text = TrimBlanksView(text);
  std::size_t end = 0;
  while (end < text.size() && !IsBlank(text[end]) && text[end] != '=') ++end;
  rest = TrimBlanksView(text.substr(end));
  return text.substr(0, end);
}

// The quoted NAME of a JOB or EOJ line, "" when it has none.
std::string JobName(std::string_view arguments) {
  const std::string upper = UpperAscii(arguments);
  const std::size_t name = upper.find("NAME");
  if (name == std::string::npos) return {};
  const std::size_t open = arguments.find('"', name);
  if (open == std::string_view::npos) return {};
  const std::size_t close = arguments.find('"', open + 1);
  return std::string(arguments.substr(
      open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1));
}

}  // namespace

void TPjlReplies::Feed(std::string_view bytes, uint64_t offset, TReplyHost& host) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    switch (mode_) {
      case TMode::LineStart:
        i = StepLineStart(bytes, i, offset);
        break;
      case TMode::Uel:
        i = StepUel(bytes, i);
        break;
      case TMode::Prefix:
        i = StepPrefix(bytes, i);
        break;
      case TMode::Line:
        i = StepLine(bytes, i, offset, host);
        break;
      case TMode::DropLine:
        i = StepDropLine(bytes, i);
        break;
      case TMode::PageLanguage:
        i = StepPageLanguage(bytes, i);
        break;
    }
  }
}

std::size_t TPjlReplies::StepLineStart(std::string_view bytes, std::size_t i, uint64_t offset) {
  while (i < bytes.size() && IsLineBlank(bytes[i])) ++i;
  if (i == bytes.size()) return i;
  lineStart_ = offset + i;
  line_.clear();
  uelHave_ = 0;
  mode_ = bytes[i] == kUel[0] ? TMode::Uel : TMode::Prefix;
  return i;
}

// A UEL before a command, as a job starts with it.
std::size_t TPjlReplies::StepUel(std::string_view bytes, std::size_t i) {
  while (i < bytes.size() && uelHave_ < kUel.size()) {
    if (bytes[i] != kUel[uelHave_]) {
      uelHave_ = 0;
      mode_ = TMode::PageLanguage;
      return i;
    }
    ++uelHave_;
    ++i;
  }
  if (uelHave_ == kUel.size()) {
    uelHave_ = 0;
    mode_ = TMode::LineStart;
  }
  return i;
}

// The first bytes of a line: "@PJL" or the page language begins.
std::size_t TPjlReplies::StepPrefix(std::string_view bytes, std::size_t i) {
  while (i < bytes.size() && line_.size() < kPrefix.size()) {
    if (bytes[i] != kPrefix[line_.size()]) {
      line_.clear();
      mode_ = TMode::PageLanguage;
      return i;
    }
    line_.push_back(bytes[i++]);
  }
  if (line_.size() == kPrefix.size()) mode_ = TMode::Line;
  return i;
}

std::size_t TPjlReplies::StepLine(std::string_view bytes, std::size_t i, uint64_t offset,
                                  TReplyHost& host) {
  const std::size_t lineFeed = bytes.find('\n', i);
  const std::size_t end = lineFeed == std::string_view::npos ? bytes.size() : lineFeed;
  if (line_.size() + (end - i) > kLongestLine) {
    line_.clear();
    mode_ = TMode::DropLine;
    return i;
  }
  line_.append(bytes.substr(i, end - i));
  if (lineFeed == std::string_view::npos) return end;
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  mode_ = TMode::LineStart;
  const std::string line = std::move(line_);
  line_.clear();
  Command(line, lineStart_, offset + lineFeed, host);
  return lineFeed + 1;
}

std::size_t TPjlReplies::StepDropLine(std::string_view bytes, std::size_t i) {
  const std::size_t lineFeed = bytes.find('\n', i);
  if (lineFeed == std::string_view::npos) return bytes.size();
  mode_ = TMode::LineStart;
  return lineFeed + 1;
}

// Page language data: only a UEL, which may be split across receives, ends it.
std::size_t TPjlReplies::StepPageLanguage(std::string_view bytes, std::size_t i) {
  while (i < bytes.size()) {
    if (uelHave_ == 0) {
      const void* escape = std::memchr(bytes.data() + i, kUel[0], bytes.size() - i);
      if (escape == nullptr) return bytes.size();
      i = static_cast<std::size_t>(static_cast<const char*>(escape) - bytes.data());
    }
    if (bytes[i] == kUel[uelHave_]) {
      ++i;
      if (++uelHave_ == kUel.size()) {
        uelHave_ = 0;
        mode_ = TMode::LineStart;
        return i;
      }
    } else {
      // The UEL does not repeat its first byte, so a mismatch can only be the
      // start of a new one.
      uelHave_ = 0;
    }
  }
  return i;
}

void TPjlReplies::Command(std::string_view line, uint64_t start, uint64_t end, TReplyHost& host) {
  std::string_view rest;
  const std::string command = UpperAscii(FirstWord(line.substr(kPrefix.size()), rest));
  if (command == "ENTER") mode_ = TMode::PageLanguage;
  if (host.ClaimedByRule(start)) return;
  if (command == "INFO") {
    std::string_view ignored;
    const std::string category = UpperAscii(FirstWord(rest, ignored));
    if (category == "STATUS")
      host.Answer(end, "@PJL INFO STATUS\r\n" + StatusLines(host.State()) + kFormFeed);
    if (category == "ID") host.Answer(end, std::string("@PJL INFO ID\r\n\"Tarnock\"\r\n\f"));
  } else if (command == "ECHO") {
    host.Answer(end, std::string(line) + "\r\n" + kFormFeed);
  } else if (command == "USTATUS") {
    SetUnsolicited(rest, host);
  } else if (command == "USTATUSOFF") {
    deviceStatus_ = TDeviceStatus::Off;
    jobStatus_ = false;
  } else if (command == "JOB" && jobStatus_) {
    AnnounceJob("START", rest, end, host);
  } else if (command == "EOJ" && jobStatus_) {
    AnnounceJob("END", rest, end, host);
  }
}

// "DEVICE = ON | OFF | VERBOSE" or "JOB = ON | OFF"; others are left alone.
void TPjlReplies::SetUnsolicited(std::string_view setting, TReplyHost& host) {
  std::string compact;
  for (const char c : setting)
    if (!IsBlank(c)) compact.push_back(UpperAscii(c));
  if (compact == "DEVICE=ON" || compact == "DEVICE=VERBOSE") {
    deviceStatus_ = compact == "DEVICE=ON" ? TDeviceStatus::On : TDeviceStatus::Verbose;
    lastAnnounced_ = host.State();
  } else if (compact == "DEVICE=OFF") {
    deviceStatus_ = TDeviceStatus::Off;
  } else if (compact == "JOB=ON" || compact == "JOB=OFF") {
    jobStatus_ = compact == "JOB=ON";
  }
}

// No page is rendered here, so the end of a job tells PAGES=0.
void TPjlReplies::AnnounceJob(std::string_view phase, std::string_view arguments, uint64_t end,
                              TReplyHost& host) {
  std::string status =
      "@PJL USTATUS JOB\r\n" + std::string(phase) + "\r\nNAME=\"" + JobName(arguments) + "\"\r\n";
  if (phase == "END") status += "PAGES=0\r\n";
  host.Announce(end, status + kFormFeed);
}

void TPjlReplies::Resume(TReplyHost& host) {
  if (deviceStatus_ == TDeviceStatus::Off) return;
  const TPrinterState state = host.State();
  if (lastAnnounced_ != state)
    host.Announce(0, "@PJL USTATUS DEVICE\r\n" + StatusLines(state) + kFormFeed);
  lastAnnounced_ = state;
}

#include "preview/pjl_commands.h"

#include <algorithm>
#include <array>

#include "base/text.h"
#include "preview/printer_language.h"

namespace {

constexpr std::string_view kUniversalExitName = "UEL universal exit";
constexpr std::string_view kPjlPrefix = "@PJL";
constexpr std::string_view kEnterLanguage = "ENTER LANGUAGE";

constexpr std::array<std::string_view, 26> kCommandWords = {
    "COMMENT",  "DEFAULT",  "DINQUIRE",   "DMCMD",      "DMINFO",    "ECHO",    "EOJ",
    "FSAPPEND", "FSDELETE", "FSDIRLIST",  "FSDOWNLOAD", "FSINIT",    "FSMKDIR", "FSQUERY",
    "FSUPLOAD", "INFO",     "INITIALIZE", "INQUIRE",    "JOB",       "OPMSG",   "RDYMSG",
    "RESET",    "SET",      "STMSG",      "USTATUS",    "USTATUSOFF"};

// Enough of a line for "@PJL ENTER LANGUAGE" with generous blanks.
constexpr std::size_t kLongestLineKept = 128;

bool IsLineBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

bool IsLetter(char byte) { return UpperAscii(byte) >= 'A' && UpperAscii(byte) <= 'Z'; }

// The next word of letters at position, upper-cased; position moves past it.
std::string NextWord(std::string_view line, std::size_t& position) {
  while (position < line.size() && (line[position] == ' ' || line[position] == '\t')) ++position;
  const std::size_t start = position;
  while (position < line.size() && IsLetter(line[position])) ++position;
  return UpperAscii(line.substr(start, position - start));
}

// "@PJL" and the command word, or the two words of ENTER LANGUAGE.
std::string PjlLineName(std::string_view line) {
  std::size_t position = kPjlPrefix.size();
  std::string command = NextWord(line, position);
  if (command.empty()) return std::string(kPjlPrefix);
  if (command == "ENTER") {
    const std::string second = NextWord(line, position);
    if (!second.empty()) command += " " + second;
  }
  const bool known =
      command == kEnterLanguage ||
      std::find(kCommandWords.begin(), kCommandWords.end(), command) != kCommandWords.end();
  return std::string(kPjlPrefix) + " " + command +
         (known ? std::string() : std::string(kUnknownCommandSuffix));
}

}  // namespace

void TPjlCommands::Scan(std::string_view bytes, uint64_t offset, std::vector<TCommandMark>& marks) {
  std::size_t position = 0;
  while (position < bytes.size()) {
    switch (state_) {
      case TState::LineStart:
        position = ScanLineStart(bytes, position, offset, marks);
        break;
      case TState::Line:
        position = ScanLine(bytes, position, marks);
        break;
      case TState::Entered:
        position = ScanEntered(bytes, position, offset, marks);
        break;
    }
  }
}

// Between PJL lines: blanks, a universal exit, "@PJL", or the first byte of
// a language the printer enters without being told.
std::size_t TPjlCommands::ScanLineStart(std::string_view bytes, std::size_t position,
                                        uint64_t offset, std::vector<TCommandMark>& marks) {
  if (lookahead_.empty()) {
    while (position < bytes.size() && IsLineBlank(bytes[position])) ++position;
    if (position == bytes.size()) return position;
    lookaheadOffset_ = offset + position;
  }
  lookahead_.push_back(bytes[position]);
  if (lookahead_ == kUniversalExit) {
    AddCommandMark(marks, lookaheadOffset_, kUniversalExit.size(), std::string(kUniversalExitName));
    lookahead_.clear();
  } else if (lookahead_ == kPjlPrefix) {
    state_ = TState::Line;
    line_ = std::move(lookahead_);
    lineOffset_ = lookaheadOffset_;
    lineLength_ = line_.size();
    lookahead_.clear();
  } else if (!kUniversalExit.starts_with(lookahead_) && !kPjlPrefix.starts_with(lookahead_)) {
    // The bytes held back are the entered language's; they may start a
    // universal exit of their own.
    state_ = TState::Entered;
    exitMatched_ = 0;
    const std::string held = std::move(lookahead_);
    lookahead_.clear();
    Scan(held, lookaheadOffset_, marks);
  }
  return position + 1;
}

// A PJL line runs to its line feed, which belongs to it.
std::size_t TPjlCommands::ScanLine(std::string_view bytes, std::size_t position,
                                   std::vector<TCommandMark>& marks) {
  const std::size_t feed = bytes.find('\n', position);
  const std::size_t end = feed == std::string_view::npos ? bytes.size() : feed + 1;
  const std::string_view part = bytes.substr(position, end - position);
  line_.append(part.substr(0, kLongestLineKept - std::min(kLongestLineKept, line_.size())));
  lineLength_ += part.size();
  if (feed != std::string_view::npos) MarkLine(marks);
  return end;
}

// Inside the entered language only a universal exit counts. Its first
// byte occurs in it once, so a failed match starts again at that byte.
std::size_t TPjlCommands::ScanEntered(std::string_view bytes, std::size_t position, uint64_t offset,
                                      std::vector<TCommandMark>& marks) {
  if (exitMatched_ == 0) {
    const std::size_t escape = bytes.find(kUniversalExit[0], position);
    if (escape == std::string_view::npos) return bytes.size();
    exitOffset_ = offset + escape;
    exitMatched_ = 1;
    return escape + 1;
  }
  if (bytes[position] != kUniversalExit[exitMatched_]) {
    exitMatched_ = 0;
    return position;
  }
  if (++exitMatched_ == kUniversalExit.size()) {
    AddCommandMark(marks, exitOffset_, kUniversalExit.size(), std::string(kUniversalExitName));
    exitMatched_ = 0;
    state_ = TState::LineStart;
  }
  return position + 1;
}

void TPjlCommands::MarkLine(std::vector<TCommandMark>& marks) {
  const std::string name = PjlLineName(line_);
  AddCommandMark(marks, lineOffset_, lineLength_, name);
  state_ = name == std::string(kPjlPrefix) + " " + std::string(kEnterLanguage) ? TState::Entered
                                                                               : TState::LineStart;
  exitMatched_ = 0;
  line_.clear();
}

// A last line without its line feed still is a command.
void TPjlCommands::Finish(std::vector<TCommandMark>& marks) {
  if (state_ == TState::Line) MarkLine(marks);
  state_ = TState::LineStart;
  lookahead_.clear();
  exitMatched_ = 0;
}

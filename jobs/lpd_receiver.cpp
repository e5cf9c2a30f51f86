#include "jobs/lpd_receiver.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

using namespace std::string_view_literals;

// The daemon's positive and negative acknowledgements.
constexpr std::string_view kAck = "\0"sv;
constexpr std::string_view kNak = "\x01"sv;
// The queue state, short and long: nothing waits here, every job is
// captured as it arrives.
constexpr std::string_view kEmptyQueue = "no entries\n"sv;

// Enough of a peer's bytes to recognise them in a log line, never a whole
// line of them, and nothing that could break the line or the terminal.
std::string Printable(std::string_view bytes) {
  constexpr std::size_t kShown = 40;
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char byte : bytes.substr(0, kShown)) {
    const auto code = static_cast<unsigned char>(byte);
    if (code >= 0x20 && code < 0x7f) {
      text += byte;
    } else {
      text += "\\x";
      text += kDigits[code >> 4];
      text += kDigits[code & 0x0f];
    }
  }
  if (bytes.size() > kShown) text += "...";
  return text;
}

std::string Hex(char byte) {
  constexpr char kDigits[] = "0123456789abcdef";
  const auto code = static_cast<unsigned char>(byte);
  return std::string("0x") + kDigits[code >> 4] + kDigits[code & 0x0f];
}

// A file's line: count SP name. A name may be missing; the count may not.
std::string_view CountOf(std::string_view operand) { return operand.substr(0, operand.find(' ')); }

std::string_view NameOf(std::string_view operand) {
  const std::size_t space = operand.find(' ');
  return space == std::string_view::npos ? std::string_view{} : operand.substr(space + 1);
}

enum class TCountSyntax { Number, NoNumber, Over64Bits };

TCountSyntax ParseDecimal(std::string_view digits, uint64_t& value) {
  if (digits.empty()) return TCountSyntax::NoNumber;
  uint64_t result = 0;
  bool over = false;
  for (const char c : digits) {
    if (c < '0' || c > '9') return TCountSyntax::NoNumber;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (result > (std::numeric_limits<uint64_t>::max() - digit) / 10) over = true;
    result = result * 10 + digit;
  }
  if (over) return TCountSyntax::Over64Bits;
  value = result;
  return TCountSyntax::Number;
}

// Reads the fields a job's record keeps. A client may send a line ending
// with CR LF; the CR is no part of the value.
TLpdControl ParseControl(std::string text, const std::string& queue) {
  TLpdControl control;
  control.queue = queue;
  std::string_view rest = text;
  std::string lastSource;
  bool sawSource = false;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const std::string value(line.substr(1));
    switch (line[0]) {
      case 'J':
        if (control.jobName.empty()) control.jobName = value;
        break;
      case 'P':
        if (control.user.empty()) control.user = value;
        break;
      case 'H':
        if (control.host.empty()) control.host = value;
        break;
      case 'N':
        if (!sawSource) control.sourceName = value;
        sawSource = true;
        lastSource = value;
        break;
      case 'U':
        control.dataFiles.insert(value);
        break;
      default:
        // Lower-case codes print a data file: the N before names its source.
        if (line[0] < 'a' || line[0] > 'z') break;
        control.dataFiles.insert(value);
        if (sawSource) control.sourceNames.try_emplace(value, lastSource);
    }
  }
  control.text = std::move(text);
  return control;
}

}  // namespace

// Appended piece by piece: "'" + a temporary makes GCC 12 at -O3 warn of an
// overlap that cannot happen.
std::string LpdQuoted(std::string_view bytes) {
  std::string quoted = "'";
  quoted += Printable(bytes);
  quoted += '\'';
  return quoted;
}

const std::string& TLpdControl::SourceNameOf(std::string_view dataFileName) const {
  const auto found = sourceNames.find(dataFileName);
  return found == sourceNames.end() ? sourceName : found->second;
}

TLpdReceiver::TLpdReceiver(TLpdLimits limits) : limits_(limits) {}

void TLpdReceiver::Received(std::string_view bytes, TEvents& events) {
  while (!bytes.empty() && state_ != TState::Closing) bytes.remove_prefix(Step(bytes, events));
}

std::size_t TLpdReceiver::Step(std::string_view bytes, TEvents& events) {
  switch (state_) {
    case TState::CommandLine:
    case TState::SubcommandLine:
      return ReadLine(bytes, events);
    case TState::ControlBytes:
      return TakeControlBytes(bytes);
    case TState::DataBytes:
      return TakeDataBytes(bytes, events);
    case TState::DataToPeerEnd:
      return TakeDataToPeerEnd(bytes, events);
    case TState::ControlEnd:
    case TState::DataEnd:
      ClosingZero(bytes.front(), events);
      return 1;
    case TState::Closing:
      break;
  }
  return bytes.size();
}

// A line is kept only up to its bound, so a peer that never sends LF costs
// no more than that.
std::size_t TLpdReceiver::ReadLine(std::string_view bytes, TEvents& events) {
  const std::size_t end = bytes.find('\n');
  const std::size_t take = std::min(end, bytes.size());
  if (line_.size() + take > limits_.maxLineBytes) {
    Refuse("LPD: line without an end after " + std::to_string(limits_.maxLineBytes) + " bytes",
           true, TLpdJobEnd::Refused, events);
    return bytes.size();
  }
  line_.append(bytes.substr(0, take));
  if (end == std::string_view::npos) return bytes.size();
  const std::string line = std::exchange(line_, {});
  if (state_ == TState::CommandLine)
    Command(line, events);
  else
    Subcommand(line, events);
  return end + 1;
}

// One command per connection. Print-waiting-jobs and remove-jobs have
// nothing to do here, since nothing waits, but a client is told they were
// taken; queue state lists an empty queue.
void TLpdReceiver::Command(std::string_view line, TEvents& events) {
  const char code = line.empty() ? '\n' : line.front();
  switch (code) {
    case '\x01':
    case '\x05':
      Answer(kAck, events);
      break;
    case '\x02':
      queue_ = line.substr(1);
      jobOpen_ = true;
      state_ = TState::SubcommandLine;
      events.Reply(kAck);
      break;
    case '\x03':
    case '\x04':
      Answer(kEmptyQueue, events);
      break;
    default:
      Refuse("LPD: unknown command " + Hex(code), true, TLpdJobEnd::Refused, events);
  }
}

void TLpdReceiver::Subcommand(std::string_view line, TEvents& events) {
  if (++subcommands_ > limits_.maxSubcommands) {
    Refuse("LPD: more than " + std::to_string(limits_.maxSubcommands) +
               " subcommands on one connection",
           true, TLpdJobEnd::Refused, events);
    return;
  }
  const char code = line.empty() ? '\n' : line.front();
  switch (code) {
    case '\x01':
      // The files the job had are captures already; their records say so.
      events.Reply(kAck);
      EndJob(TLpdJobEnd::Aborted, events);
      break;
    case '\x02':
      jobOpen_ = true;
      BeginControlFile(line.substr(1), events);
      break;
    case '\x03':
      jobOpen_ = true;
      BeginDataFile(line.substr(1), events);
      break;
    default:
      Refuse("LPD: unknown subcommand " + Hex(code), true, TLpdJobEnd::Refused, events);
  }
}

bool TLpdReceiver::ParseCount(std::string_view operand, std::string_view what, uint64_t& count,
                              TEvents& events) {
  const std::string_view digits = CountOf(operand);
  const TCountSyntax syntax = ParseDecimal(digits, count);
  if (syntax == TCountSyntax::Number) return true;
  const char* problem = syntax == TCountSyntax::NoNumber ? " is no number" : " is over 64 bits";
  Refuse("LPD: " + std::string(what) + " count " + LpdQuoted(digits) + problem, true,
         TLpdJobEnd::Refused, events);
  return false;
}

void TLpdReceiver::BeginControlFile(std::string_view operand, TEvents& events) {
  uint64_t count = 0;
  if (!ParseCount(operand, "control file", count, events)) return;
  if (count > limits_.maxControlFileBytes) {
    Refuse("LPD: control file of " + std::to_string(count) + " bytes is over the bound of " +
               std::to_string(limits_.maxControlFileBytes),
           true, TLpdJobEnd::Refused, events);
    return;
  }
  fileName_ = NameOf(operand);
  fileCount_ = count;
  fileReceived_ = 0;
  control_.clear();
  events.Reply(kAck);
  state_ = count == 0 ? TState::ControlEnd : TState::ControlBytes;
}

void TLpdReceiver::BeginDataFile(std::string_view operand, TEvents& events) {
  uint64_t count = 0;
  if (!ParseCount(operand, "data file", count, events)) return;
  if (limits_.maxJobBytes != 0 && count > limits_.maxJobBytes) {
    Refuse("LPD: data file of " + std::to_string(count) + " bytes is over the size limit of " +
               std::to_string(limits_.maxJobBytes),
           true, TLpdJobEnd::Refused, events);
    return;
  }
  fileName_ = NameOf(operand);
  fileCount_ = count;
  fileReceived_ = 0;
  if (!events.DataFileBegins(TLpdFile{queue_, count, fileName_})) {
    Refuse({}, true, TLpdJobEnd::Refused, events);
    return;
  }
  events.Reply(kAck);
  state_ = count == 0 ? TState::DataToPeerEnd : TState::DataBytes;
}

// The part of bytes that still belongs to the announced file; once all of
// it came, the closing zero byte is next.
std::string_view TLpdReceiver::TakeAnnounced(std::string_view bytes, TState closingZero) {
  const auto take =
      static_cast<std::size_t>(std::min<uint64_t>(fileCount_ - fileReceived_, bytes.size()));
  fileReceived_ += take;
  if (fileReceived_ == fileCount_) state_ = closingZero;
  return bytes.substr(0, take);
}

std::size_t TLpdReceiver::TakeControlBytes(std::string_view bytes) {
  const std::string_view piece = TakeAnnounced(bytes, TState::ControlEnd);
  control_.append(piece);
  return piece.size();
}

std::size_t TLpdReceiver::TakeDataBytes(std::string_view bytes, TEvents& events) {
  const std::string_view piece = TakeAnnounced(bytes, TState::DataEnd);
  events.DataBytes(piece);
  return piece.size();
}

// A file announced with count 0 has no end but the connection's, so the size
// limit is all that bounds it.
std::size_t TLpdReceiver::TakeDataToPeerEnd(std::string_view bytes, TEvents& events) {
  const uint64_t limit = limits_.maxJobBytes;
  if (limit == 0 || bytes.size() <= limit - fileReceived_) {
    events.DataBytes(bytes);
    fileReceived_ += bytes.size();
    return bytes.size();
  }
  const auto room = static_cast<std::size_t>(limit - fileReceived_);
  if (room > 0) events.DataBytes(bytes.substr(0, room));
  fileReceived_ = limit;
  Refuse("LPD: data file read to the connection's end is over the size limit of " +
             std::to_string(limit),
         false, TLpdJobEnd::Refused, events);
  return bytes.size();
}

void TLpdReceiver::ClosingZero(char byte, TEvents& events) {
  const bool control = state_ == TState::ControlEnd;
  if (byte != '\0') {
    Refuse(std::string("LPD: ") + (control ? "control file " : "data file ") +
               LpdQuoted(fileName_) + " ends with " + Hex(byte) + ", not with a zero byte",
           true, TLpdJobEnd::Refused, events);
    return;
  }
  state_ = TState::SubcommandLine;
  if (control)
    events.ControlFile(ParseControl(std::exchange(control_, {}), queue_));
  else
    events.DataFileEnds(true);
  events.Reply(kAck);
}

void TLpdReceiver::PeerEnded(TEvents& events) {
  const std::string file = (state_ == TState::ControlBytes || state_ == TState::ControlEnd)
                               ? "LPD: control file " + LpdQuoted(fileName_)
                               : "LPD: data file " + LpdQuoted(fileName_);
  const std::string received = " ended after " + std::to_string(fileReceived_) + " of " +
                               std::to_string(fileCount_) + " bytes";
  switch (state_) {
    case TState::CommandLine:
    case TState::SubcommandLine:
      if (!line_.empty())
        Refuse("LPD: the connection ended inside a line", false, TLpdJobEnd::CutShort, events);
      break;
    case TState::ControlBytes:
    case TState::DataBytes:
      Refuse(file + received, false, TLpdJobEnd::CutShort, events);
      break;
    case TState::ControlEnd:
      Refuse(file + " ended before its closing zero byte", false, TLpdJobEnd::CutShort, events);
      break;
    case TState::DataEnd:
      // Every announced byte came: a client that streams its data file
      // leaves the closing zero byte out, and nothing of the file is missing.
      state_ = TState::SubcommandLine;
      events.DataFileEnds(true);
      break;
    case TState::DataToPeerEnd:
      events.DataFileEnds(true);
      break;
    case TState::Closing:
      return;
  }
  EndJob(TLpdJobEnd::Whole, events);
  state_ = TState::Closing;
}

// Bad input ends the connection: what follows can no longer be framed. A
// file it cuts short is no complete capture. An empty line: the refusal was
// told already.
void TLpdReceiver::Refuse(const std::string& line, bool answer, TLpdJobEnd how, TEvents& events) {
  const bool inDataFile =
      state_ == TState::DataBytes || state_ == TState::DataEnd || state_ == TState::DataToPeerEnd;
  state_ = TState::Closing;
  line_ = {};
  control_ = {};
  if (!line.empty()) events.Refused(line);
  if (answer) events.Reply(kNak);
  if (inDataFile) events.DataFileEnds(false);
  EndJob(how, events);
}

void TLpdReceiver::EndJob(TLpdJobEnd how, TEvents& events) {
  if (!jobOpen_) return;
  jobOpen_ = false;
  events.JobEnds(how);
}

void TLpdReceiver::Answer(std::string_view reply, TEvents& events) {
  state_ = TState::Closing;
  events.Reply(reply);
}

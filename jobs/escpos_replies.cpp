#include "jobs/escpos_replies.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr char kDle = 0x10;
constexpr char kEot = 0x04;
constexpr char kEsc = 0x1B;
constexpr char kFs = 0x1C;
constexpr char kGs = 0x1D;
constexpr std::size_t kMostWaiting = 64;

// The neutral identity the printer reports.
constexpr char kModelId = 0x01;
constexpr char kTypeIdAutocutter = 0x02;
constexpr char kVersionId = 0x10;
constexpr std::string_view kFirmware = "1.0";
constexpr std::string_view kMaker = "Tarnock";
constexpr std::string_view kModel = "Tarnock";
constexpr std::string_view kSerial = "00000001";
constexpr std::string_view kFontOfLanguage = "ANK";

uint8_t Byte(std::string_view at, std::size_t index) { return static_cast<uint8_t>(at[index]); }
uint64_t Word(std::string_view at, std::size_t low) {
  return Byte(at, low) + 256u * uint64_t{Byte(at, low + 1)};
}

bool IsLead(char byte) { return byte == kDle || byte == kEsc || byte == kFs || byte == kGs; }

// How a command's bytes go on: its head (lead bytes and fixed parameters),
// then counted data, or data up to a NUL. Head 0: more bytes are needed.
struct TShape {
  std::size_t Head = 0;
  uint64_t Payload = 0;
  std::size_t NulBudget = 0;
};

TShape Need() { return {}; }
TShape Fixed(std::size_t head) { return {head, 0, 0}; }

TShape EscShape(std::string_view at) {
  switch (at[1]) {
    case '*': {  // bit image: m nL nH, one byte a column for 8 dots, three for 24
      if (at.size() < 5) return Need();
      const uint8_t m = Byte(at, 2);
      return {5, Word(at, 3) * (m == 32 || m == 33 ? 3u : 1u), 0};
    }
    case '(':
      return at.size() < 5 ? Need() : TShape{5, Word(at, 3), 0};
    case 'D':  // tab positions, up to 32, ended by NUL
      return {2, 0, 33};
    case 'W':
      return Fixed(10);
    case 'p':
      return Fixed(5);
    case '$':
    case '\\':
    case 'c':
      return Fixed(4);
    case ' ':
    case '!':
    case '%':
    case '-':
    case '3':
    case '=':
    case '?':
    case 'E':
    case 'G':
    case 'J':
    case 'M':
    case 'R':
    case 'T':
    case 'U':
    case 'V':
    case 'a':
    case 'd':
    case 'e':
    case 'r':
    case 't':
    case 'u':
    case '{':
      return Fixed(3);
    default:
      return Fixed(2);
  }
}

TShape GsShape(std::string_view at) {
  switch (at[1]) {
    case 'v':  // raster bit image: 0 m xL xH yL yH, x bytes by y dots
      if (at.size() < 3) return Need();
      if (at[2] != '0') return Fixed(3);
      return at.size() < 8 ? Need() : TShape{8, Word(at, 4) * Word(at, 6), 0};
    case 'Q':  // variable vertical size bit image, the same counts
      if (at.size() < 3) return Need();
      if (at[2] != '0') return Fixed(3);
      return at.size() < 8 ? Need() : TShape{8, Word(at, 4) * Word(at, 6), 0};
    case '(':
      return at.size() < 5 ? Need() : TShape{5, Word(at, 3), 0};
    case '8':  // graphics with a 32-bit count: L p1 p2 p3 p4
      if (at.size() < 3) return Need();
      if (at[2] != 'L') return Fixed(2);
      return at.size() < 7 ? Need() : TShape{7, Word(at, 3) + 65536u * Word(at, 5), 0};
    case '*':  // downloaded bit image: x y, x * y * 8 bytes
      return at.size() < 4 ? Need() : TShape{4, uint64_t{Byte(at, 2)} * Byte(at, 3) * 8u, 0};
    case 'k': {  // bar code: m 0 to 6 ends in NUL, higher m counts its data
      if (at.size() < 3) return Need();
      if (Byte(at, 2) <= 6) return {3, 0, 256};
      return at.size() < 4 ? Need() : TShape{4, Byte(at, 3), 0};
    }
    case 'V': {
      if (at.size() < 3) return Need();
      const uint8_t m = Byte(at, 2);
      return Fixed(m == 0 || m == 1 || m == '0' || m == '1' ? 3 : 4);
    }
    case '^':
      return Fixed(5);
    case '$':
    case 'L':
    case 'P':
    case 'W':
    case '\\':
      return Fixed(4);
    case '!':
    case '/':
    case 'B':
    case 'E':
    case 'H':
    case 'I':
    case 'T':
    case 'a':
    case 'b':
    case 'f':
    case 'h':
    case 'j':
    case 'r':
    case 'w':
      return Fixed(3);
    default:
      return Fixed(2);
  }
}

TShape FsShape(std::string_view at) {
  switch (at[1]) {
    case '(':
      return at.size() < 5 ? Need() : TShape{5, Word(at, 3), 0};
    case 'p':
    case 'S':
      return Fixed(4);
    case '!':
    case '-':
    case 'C':
    case 'W':
      return Fixed(3);
    default:
      return Fixed(2);
  }
}

TShape DleShape(std::string_view at) {
  switch (at[1]) {
    case 0x04:
    case 0x05:
      return Fixed(3);
    case 0x14: {  // DLE DC4 fn and its parameters
      if (at.size() < 3) return Need();
      const uint8_t fn = Byte(at, 2);
      return Fixed(fn == 7 ? 4 : fn == 8 ? 10 : 5);
    }
    default:
      return Fixed(1);  // a lone DLE is data
  }
}

TShape ShapeOf(std::string_view at) {
  if (at.size() < 2) return Need();
  TShape shape;
  switch (at[0]) {
    case kEsc:
      shape = EscShape(at);
      break;
    case kGs:
      shape = GsShape(at);
      break;
    case kFs:
      shape = FsShape(at);
      break;
    default:
      shape = DleShape(at);
      break;
  }
  return shape.Head > at.size() ? Need() : shape;
}

// DLE EOT n: one byte, bits 1 and 4 always set.
std::optional<char> RealTimeStatus(uint8_t n, TPrinterState state) {
  // Rows: printer, offline cause, error cause, roll paper sensor.
  static constexpr std::array<std::array<uint8_t, 4>, 4> kStatus{{
      // ready, paper out, cover open, offline
      {0x12, 0x1A, 0x1A, 0x1A},  // bit 3: offline
      {0x12, 0x32, 0x16, 0x52},  // bit 2: cover open, 5: stopped by paper end, 6: error
      {0x12, 0x12, 0x12, 0x52},  // bit 6: an automatically recoverable error
      {0x12, 0x72, 0x12, 0x12},  // bits 5 and 6: roll paper end
  }};
  if (n < 1 || n > 4) return std::nullopt;
  return static_cast<char>(kStatus[n - 1][static_cast<std::size_t>(state)]);
}

// The automatic status back: four bytes, byte 1 with bit 4 set and the
// others with bit 4 clear, so that a client tells it from other replies.
std::string AutomaticStatus(TPrinterState state) {
  switch (state) {
    case TPrinterState::PaperOut:
      return std::string("\x18\x00\x0C\x00", 4);
    case TPrinterState::CoverOpen:
      return std::string("\x38\x00\x00\x00", 4);
    case TPrinterState::Offline:
      return std::string("\x18\x40\x00\x00", 4);
    case TPrinterState::Ready:
      break;
  }
  return std::string("\x10\x00\x00\x00", 4);
}

// Which status bits each bit of GS a n asks to hear of: drawer, online and
// offline (with the cover and the feed button), errors, roll paper.
std::array<uint8_t, 4> WatchedBits(uint8_t n) {
  std::array<uint8_t, 4> mask{};
  if (n & 0x01) mask[0] |= 0x04;
  if (n & 0x02) mask[0] |= 0x68;
  if (n & 0x04) mask[1] = 0xFF;
  if (n & 0x08) mask[2] = 0xFF;
  return mask;
}

std::string TextId(std::string_view text) {
  std::string reply = "_";
  reply.append(text);
  reply.push_back('\0');
  return reply;
}

std::optional<std::string> PrinterId(uint8_t n) {
  switch (n) {
    case 1:
    case '1':
      return std::string(1, kModelId);
    case 2:
    case '2':
      return std::string(1, kTypeIdAutocutter);
    case 3:
    case '3':
      return std::string(1, kVersionId);
    case 65:
      return TextId(kFirmware);
    case 66:
      return TextId(kMaker);
    case 67:
      return TextId(kModel);
    case 68:
      return TextId(kSerial);
    case 69:
      return TextId(kFontOfLanguage);
    default:
      return std::nullopt;
  }
}

// GS r n while ready: no paper near end or end, drawer pin low.
std::optional<std::string> SensorStatus(uint8_t n) {
  if (n == 1 || n == '1' || n == 2 || n == '2') return std::string(1, '\0');
  return std::nullopt;
}

}  // namespace

std::size_t TEscPosReplies::CarriedBytes() const {
  return KeptHead() + static_cast<std::size_t>(realTimeHave_);
}

void TEscPosReplies::Feed(std::string_view bytes, uint64_t offset, TReplyHost& host) {
  ScanRealTime(bytes, offset, host);
  Read(bytes, offset, host);
}

void TEscPosReplies::ScanRealTime(std::string_view bytes, uint64_t offset, TReplyHost& host) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (realTimeHave_ == 0) {
      const void* dle = std::memchr(bytes.data() + i, kDle, bytes.size() - i);
      if (dle == nullptr) return;
      i = static_cast<std::size_t>(static_cast<const char*>(dle) - bytes.data()) + 1;
      realTimeHave_ = 1;
      realTimeStart_ = offset + i - 1;
    } else if (realTimeHave_ == 1) {
      // Anything but EOT is looked at again: it may be the next DLE.
      realTimeHave_ = bytes[i] == kEot ? 2 : 0;
      if (realTimeHave_ == 2) ++i;
    } else {
      realTimeHave_ = 0;
      const auto status = RealTimeStatus(Byte(bytes, i), TPrinterState::Ready);
      if (!status) continue;
      if (!host.ClaimedByRule(realTimeStart_)) {
        const auto reply = RealTimeStatus(Byte(bytes, i), host.State());
        host.Answer(offset + i, std::string(1, *reply));
      }
      ++i;
    }
  }
}

std::size_t TEscPosReplies::Step(std::string_view at, uint64_t atOffset, TReplyHost& host) {
  if (payload_ > 0) {
    const uint64_t skipped = std::min<uint64_t>(payload_, at.size());
    payload_ -= skipped;
    return static_cast<std::size_t>(skipped);
  }
  if (nulBudget_ > 0) {
    const std::size_t look = std::min(nulBudget_, at.size());
    const std::size_t nul = at.substr(0, look).find('\0');
    nulBudget_ = nul == std::string_view::npos ? nulBudget_ - look : 0;
    return nul == std::string_view::npos ? look : nul + 1;
  }
  if (!IsLead(at[0])) {
    const auto lead = std::find_if(at.begin(), at.end(), IsLead);
    return static_cast<std::size_t>(lead - at.begin());
  }
  return StepCommand(at, atOffset, host);
}

std::size_t TEscPosReplies::StepCommand(std::string_view at, uint64_t atOffset, TReplyHost& host) {
  const TShape shape = ShapeOf(at);
  if (shape.Head == 0) return 0;
  if (at[0] == kGs && (at[1] == 'r' || at[1] == 'I' || at[1] == 'a'))
    TakeQuery({at[1], Byte(at, 2)}, atOffset, atOffset + 2, host);
  payload_ = shape.Payload;
  nulBudget_ = shape.NulBudget;
  return shape.Head;
}

void TEscPosReplies::TakeQuery(TQuery query, uint64_t start, uint64_t end, TReplyHost& host) {
  if (host.ClaimedByRule(start)) return;
  if (host.State() != TPrinterState::Ready || !waiting_.empty()) {
    if (waiting_.size() < kMostWaiting) waiting_.push_back(query);
    return;
  }
  if (const auto reply = Process(query)) host.Answer(end, *reply);
}

std::optional<std::string> TEscPosReplies::Process(TQuery query) {
  switch (query.Command) {
    case 'r':
      return SensorStatus(query.N);
    case 'I':
      return PrinterId(query.N);
    default:
      automaticStatus_ = query.N;
      if (automaticStatus_ == 0) return std::nullopt;
      lastAutomaticStatus_ = AutomaticStatus(TPrinterState::Ready);
      return lastAutomaticStatus_;
  }
}

void TEscPosReplies::AnnounceStatusChange(TPrinterState state, TReplyHost& host) {
  const std::string status = AutomaticStatus(state);
  const std::array<uint8_t, 4> watched = WatchedBits(automaticStatus_);
  bool changed = false;
  for (std::size_t i = 0; i < watched.size(); ++i)
    changed |= ((static_cast<uint8_t>(status[i]) ^ static_cast<uint8_t>(lastAutomaticStatus_[i])) &
                watched[i]) != 0;
  if (changed) host.Announce(0, status);
  lastAutomaticStatus_ = status;
}

void TEscPosReplies::Resume(TReplyHost& host) {
  if (automaticStatus_ == 0 && waiting_.empty()) return;
  const TPrinterState state = host.State();
  if (automaticStatus_ != 0) AnnounceStatusChange(state, host);
  if (state != TPrinterState::Ready) return;
  const std::vector<TQuery> waiting = std::move(waiting_);
  waiting_.clear();
  for (const TQuery& query : waiting)
    if (const auto reply = Process(query)) host.Answer(0, *reply);
}

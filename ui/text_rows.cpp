#include "ui/text_rows.h"

#include <algorithm>

namespace {

constexpr char16_t kReplacement = 0xfffd;
constexpr char16_t kControlPictures = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;
constexpr int kTabStop = 8;

unsigned char ByteAt(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

bool IsContinuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// A decoded character: its code point and how many bytes it took; cutShort
// when the bytes end inside it.
struct TDecoded {
  char32_t codePoint = 0;
  std::size_t length = 1;
  bool cutShort = false;
};

// The second byte's narrower range after E0, ED, F0 and F4 rules out
// overlong forms, surrogates and code points past U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
  if (lead == 0xe0) return second >= 0xa0 && second <= 0xbf;
  if (lead == 0xed) return second >= 0x80 && second <= 0x9f;
  if (lead == 0xf0) return second >= 0x90 && second <= 0xbf;
  if (lead == 0xf4) return second >= 0x80 && second <= 0x8f;
  return IsContinuation(second);
}

std::size_t AnnouncedLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) return 2;
  if (lead >= 0xe0 && lead <= 0xef) return 3;
  if (lead >= 0xf0 && lead <= 0xf4) return 4;
  return 0;
}

TDecoded DecodeUtf8(std::string_view bytes, std::size_t at) {
  const unsigned char lead = ByteAt(bytes, at);
  const std::size_t length = AnnouncedLength(lead);
  if (length == 0) return {kReplacement};
  constexpr unsigned char kLeadMasks[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
  char32_t codePoint = lead & kLeadMasks[length];
  for (std::size_t index = 1; index < length; ++index) {
    if (at + index >= bytes.size()) return {kReplacement, 1, true};
    const unsigned char next = ByteAt(bytes, at + index);
    if (index == 1 ? !SecondByteFits(lead, next) : !IsContinuation(next)) return {kReplacement};
    codePoint = (codePoint << 6) | (next & 0x3fu);
  }
  return {codePoint, length};
}

char32_t Shown(char32_t codePoint) {
  if (codePoint < 0x20) return kControlPictures + codePoint;
  if (codePoint == 0x7f) return kDeletePicture;
  if (codePoint >= 0x80 && codePoint <= 0x9f) return kReplacement;
  return codePoint;
}

// Builds the rows one character at a time, wrapping at the column count.
class TRowBuilder {
 public:
  TRowBuilder(uint64_t offset, int columns, int maxRows)
      : offset_(offset), columns_(std::max(columns, 1)), maxRows_(maxRows) {}

  bool Full() const { return static_cast<int>(rows_.size()) >= maxRows_; }

  void Add(char32_t codePoint, std::size_t at) {
    if (Width() >= columns_) EndRow(at);
    if (Full()) return;
    if (current_.text.isEmpty()) current_.start = offset_ + at;
    const auto byte = static_cast<int64_t>(offset_ + at);
    if (QChar::requiresSurrogates(codePoint)) {
      current_.text += QChar(QChar::highSurrogate(codePoint));
      current_.text += QChar(QChar::lowSurrogate(codePoint));
      current_.byteOfCharacter.insert(current_.byteOfCharacter.end(), 2, byte);
    } else {
      current_.text += QChar(static_cast<char16_t>(codePoint));
      current_.byteOfCharacter.push_back(byte);
    }
  }

  void AddTab(std::size_t at) {
    do Add(' ', at);
    while (!Full() && Width() % kTabStop != 0 && Width() < columns_);
  }

  // Ends the row at a line end whose bytes run up to next.
  void EndLine(std::size_t lineEnd, std::size_t next) {
    if (Full()) return;
    if (current_.text.isEmpty()) current_.start = offset_ + lineEnd;
    EndRow(next);
  }

  TTextRows Finish(std::size_t at) {
    if (!Full() && !current_.text.isEmpty()) EndRow(at);
    return {std::move(rows_), offset_ + next_};
  }

 private:
  int Width() const { return static_cast<int>(current_.text.size()); }

  void EndRow(std::size_t next) {
    rows_.push_back(std::move(current_));
    current_ = TByteRow{};
    next_ = next;
  }

  uint64_t offset_;
  int columns_;
  int maxRows_;
  std::vector<TByteRow> rows_;
  TByteRow current_;
  std::size_t next_ = 0;
};

}  // namespace

TTextRows LayOutTextRows(std::string_view bytes, uint64_t offset, TTextEncoding encoding,
                         int columns, int maxRows) {
  TRowBuilder builder(offset, columns, maxRows);
  std::size_t at = 0;
  while (at < bytes.size() && !builder.Full()) {
    const char byte = bytes[at];
    if (byte == '\r' || byte == '\n') {
      const bool crLf = byte == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n';
      builder.EndLine(at, at + (crLf ? 2 : 1));
      at += crLf ? 2 : 1;
      continue;
    }
    if (byte == '\t') {
      builder.AddTab(at++);
      continue;
    }
    if (encoding == TTextEncoding::Latin1) {
      builder.Add(Shown(ByteAt(bytes, at)), at);
      ++at;
      continue;
    }
    const TDecoded decoded = DecodeUtf8(bytes, at);
    if (decoded.cutShort) break;
    builder.Add(Shown(decoded.codePoint), at);
    at += decoded.length;
  }
  return builder.Finish(at);
}

std::size_t CharacterStart(std::string_view bytes, std::size_t at, TTextEncoding encoding) {
  if (encoding == TTextEncoding::Latin1) return at;
  std::size_t start = at;
  while (start < bytes.size() && start < at + 3 && IsContinuation(ByteAt(bytes, start))) ++start;
  return start;
}

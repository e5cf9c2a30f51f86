#include "ui/text_rows.h"

#include <algorithm>

namespace {

constexpr int kTabStop = 8;

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
    const TShownCharacter character = ShownCharacterAt(bytes, at, encoding);
    if (character.cutShort) break;
    builder.Add(character.codePoint, at);
    at += character.length;
  }
  return builder.Finish(at);
}

std::size_t CharacterStart(std::string_view bytes, std::size_t at, TTextEncoding encoding) {
  if (encoding == TTextEncoding::Latin1) return at;
  std::size_t start = at;
  // A continuation byte (10xxxxxx) starts no character.
  while (start < bytes.size() && start < at + 3 &&
         (static_cast<unsigned char>(bytes[start]) & 0xc0) == 0x80)
    ++start;
  return start;
}

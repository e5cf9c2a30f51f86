#include "preview/text_page.h"

#include <algorithm>

#include "preview/paged_file.h"

namespace {

enum class TSequence { Valid, Malformed, CutShort };

struct TCharacter {
  char32_t codePoint = 0;
  std::size_t length = 1;
  TSequence sequence = TSequence::Valid;
};

constexpr char32_t kReplacement = 0xfffd;
constexpr char32_t kControlPictures = 0x2400;
constexpr char32_t kDeletePicture = 0x2421;

unsigned char ByteAt(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

bool IsContinuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// The length a lead byte announces; 0 for a byte no sequence starts with (a
// continuation, C0 and C1, which would be overlong, F5 and above).
std::size_t AnnouncedLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) return 2;
  if (lead >= 0xe0 && lead <= 0xef) return 3;
  if (lead >= 0xf0 && lead <= 0xf4) return 4;
  return 0;
}

// The bits of the code point a lead byte of the length carries.
char32_t LeadBits(unsigned char lead, std::size_t length) {
  constexpr unsigned char kMasks[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
  return lead & kMasks[length];
}

// The second byte's narrower range after E0, ED, F0 and F4 is what rules out
// overlong forms, surrogates and code points past U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second) {
  switch (lead) {
    case 0xe0:
      return second >= 0xa0 && second <= 0xbf;
    case 0xed:
      return second >= 0x80 && second <= 0x9f;
    case 0xf0:
      return second >= 0x90 && second <= 0xbf;
    case 0xf4:
      return second >= 0x80 && second <= 0x8f;
    default:
      return IsContinuation(second);
  }
}

// The UTF-8 character at the position; a malformed one is one byte long.
TCharacter DecodeUtf8(std::string_view bytes, std::size_t at) {
  const unsigned char lead = ByteAt(bytes, at);
  const std::size_t length = AnnouncedLength(lead);
  if (length == 0) return TCharacter{kReplacement, 1, TSequence::Malformed};
  char32_t codePoint = LeadBits(lead, length);
  for (std::size_t index = 1; index < length; ++index) {
    if (at + index >= bytes.size()) return TCharacter{kReplacement, 1, TSequence::CutShort};
    const unsigned char next = ByteAt(bytes, at + index);
    if (index == 1 ? !SecondByteFits(lead, next) : !IsContinuation(next))
      return TCharacter{kReplacement, 1, TSequence::Malformed};
    codePoint = (codePoint << 6) | (next & 0x3fu);
  }
  return TCharacter{codePoint, length, TSequence::Valid};
}

void AppendCodePoint(QString& text, char32_t codePoint) {
  if (QChar::requiresSurrogates(codePoint)) {
    text += QChar(QChar::highSurrogate(codePoint));
    text += QChar(QChar::lowSurrogate(codePoint));
  } else {
    text += QChar(static_cast<char16_t>(codePoint));
  }
}

// What the view shows for a character that is not a line end.
char32_t Shown(char32_t codePoint) {
  if (codePoint == '\t') return codePoint;
  if (codePoint < 0x20) return kControlPictures + codePoint;
  if (codePoint == 0x7f) return kDeletePicture;
  if (codePoint >= 0x80 && codePoint <= 0x9f) return kReplacement;
  return codePoint;
}

TCharacter CharacterAt(std::string_view bytes, std::size_t at, TTextEncoding encoding) {
  if (encoding == TTextEncoding::Latin1) return TCharacter{ByteAt(bytes, at)};
  return DecodeUtf8(bytes, at);
}

QString Decode(std::string_view bytes, TTextEncoding encoding) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (std::size_t at = 0; at < bytes.size();) {
    if (bytes[at] == '\r' || bytes[at] == '\n') {
      // CR LF is one line end: the CR gives way to the LF.
      if (!(bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n'))
        text += QLatin1Char('\n');
      ++at;
      continue;
    }
    const TCharacter character = CharacterAt(bytes, at, encoding);
    AppendCodePoint(text, Shown(character.codePoint));
    at += character.length;
  }
  return text;
}

// The index in raw where the window starts. raw begins one byte before the
// asked offset when there is one (lookBehind), to see whether the offset is
// already a line start.
std::size_t WindowBegin(std::string_view raw, std::size_t lookBehind, TTextEncoding encoding) {
  if (lookBehind == 0) return 0;
  const bool afterLineEnd = raw[0] == '\n' || (raw[0] == '\r' && raw[1] != '\n');
  if (afterLineEnd) return 1;
  const std::size_t reach = std::min(raw.size() - 1, std::min(kLineStartReach, raw.size() / 2));
  for (std::size_t at = 1; at < reach; ++at) {
    if (raw[at] == '\n') return at + 1;
    if (raw[at] == '\r' && raw[at + 1] != '\n') return at + 1;
  }
  std::size_t begin = 1;
  if (encoding == TTextEncoding::Utf8) {
    while (begin < raw.size() && begin < 4 && IsContinuation(ByteAt(raw, begin))) ++begin;
  }
  return begin;
}

// The end of the last whole UTF-8 character: a sequence cut short by the
// window's end belongs to the next window.
std::size_t WithoutCutCharacter(std::string_view raw, std::size_t end) {
  for (std::size_t back = 1; back <= 3 && back <= end; ++back) {
    const unsigned char byte = ByteAt(raw, end - back);
    if (IsContinuation(byte)) continue;
    return DecodeUtf8(raw.substr(0, end), end - back).sequence == TSequence::CutShort ? end - back
                                                                                      : end;
  }
  return end;
}

// The index in raw where the window ends, when the file goes on after raw.
std::size_t WindowEnd(std::string_view raw, std::size_t begin, TTextEncoding encoding) {
  if (begin >= raw.size() || raw.back() == '\n') return raw.size();
  // The last byte is left out of the search: a CR there may pair with an LF
  // in the next window.
  const std::string_view body = raw.substr(begin, raw.size() - 1 - begin);
  const std::size_t lastLineEnd = body.find_last_of("\r\n");
  if (lastLineEnd != std::string_view::npos && (lastLineEnd + 1) * 2 >= raw.size() - begin)
    return begin + lastLineEnd + 1;
  std::size_t end = raw.size();
  if (encoding == TTextEncoding::Utf8) end = WithoutCutCharacter(raw, end);
  if (end > begin && raw[end - 1] == '\r') --end;
  // A window too small to hold one whole character still moves on.
  return end > begin ? end : raw.size();
}

}  // namespace

TTextEncoding DetectTextEncoding(std::string_view firstBytes, bool cutByWindow) {
  for (std::size_t at = 0; at < firstBytes.size();) {
    const TCharacter character = DecodeUtf8(firstBytes, at);
    if (character.sequence == TSequence::Malformed) return TTextEncoding::Latin1;
    if (character.sequence == TSequence::CutShort)
      return cutByWindow ? TTextEncoding::Utf8 : TTextEncoding::Latin1;
    at += character.length;
  }
  return TTextEncoding::Utf8;
}

TTextEncoding DetectTextEncoding(const TPagedFile& file) {
  const std::string probe = file.Read(0, kEncodingProbeBytes);
  return DetectTextEncoding(probe, probe.size() == kEncodingProbeBytes);
}

TShownCharacter ShownCharacterAt(std::string_view bytes, std::size_t at, TTextEncoding encoding) {
  const TCharacter character = CharacterAt(bytes, at, encoding);
  return {Shown(character.codePoint), character.length, character.sequence == TSequence::CutShort};
}

std::string TextEncodingName(TTextEncoding encoding) {
  return encoding == TTextEncoding::Utf8 ? "UTF-8" : "Latin-1";
}

TTextWindow TextAt(const TPagedFile& file, TTextEncoding encoding, uint64_t offset,
                   std::size_t bytes) {
  TTextWindow window{QString(), offset, offset, encoding};
  bytes = std::clamp(bytes, kMinTextWindowBytes, TPagedFile::kMaxWindowBytes - 1);
  const std::size_t lookBehind = offset > 0 ? 1 : 0;
  const std::string raw = file.Read(offset - lookBehind, bytes + lookBehind);
  if (raw.size() <= lookBehind) return window;
  const bool reachesEnd = raw.size() < bytes + lookBehind;
  const std::size_t begin = WindowBegin(raw, lookBehind, encoding);
  const std::size_t end = reachesEnd ? raw.size() : WindowEnd(raw, begin, encoding);
  const uint64_t rawOffset = offset - lookBehind;
  window.text = Decode(std::string_view(raw).substr(begin, end - begin), encoding);
  window.start = rawOffset + begin;
  window.next = rawOffset + end;
  return window;
}

TTextWindow TextAt(const TPagedFile& file, uint64_t offset, std::size_t bytes) {
  return TextAt(file, DetectTextEncoding(file), offset, bytes);
}

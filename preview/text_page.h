#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TPagedFile;

// How the text view reads a capture's bytes: as UTF-8 when its first
// kEncodingProbeBytes are UTF-8, else as Latin-1, where every byte is a
// character and nothing can fail.
enum class TTextEncoding { Utf8, Latin1 };

constexpr std::size_t kEncodingProbeBytes = 64 * 1024;

// UTF-8 when the bytes hold no malformed sequence (overlong forms, surrogates
// and code points past U+10FFFF are malformed). When the file goes on after
// the bytes (cutByWindow), a sequence cut short by their end counts as
// UTF-8: the probe may end inside a character. A file that ends inside one is
// not UTF-8. No bytes at all are UTF-8.
TTextEncoding DetectTextEncoding(std::string_view firstBytes, bool cutByWindow);
// The encoding of the file from its first kEncodingProbeBytes; a file at
// least that long counts as going on after them.
TTextEncoding DetectTextEncoding(const TPagedFile& file);

// One character as the views show it: control bytes as their pictures,
// DEL as its own, C1 controls and malformed UTF-8 bytes as U+FFFD, TAB as it
// is; with the bytes it took, and cutShort when the bytes end inside a
// UTF-8 sequence (then it is one byte long).
struct TShownCharacter {
  char32_t codePoint = 0;
  std::size_t length = 1;
  bool cutShort = false;
};
TShownCharacter ShownCharacterAt(std::string_view bytes, std::size_t at, TTextEncoding encoding);

// "UTF-8" or "Latin-1".
std::string TextEncodingName(TTextEncoding encoding);

// One page of the text view.
struct TTextWindow {
  // The characters. CR LF and a lone CR become "\n"; TAB and LF stay; the
  // other control bytes (0x00-0x1f) show as their pictures U+2400-U+241F and
  // DEL as U+2421, so printer commands stay visible; C1 controls (U+0080-
  // U+009F) and malformed UTF-8 bytes show as U+FFFD.
  QString text;
  // The offset of the window's first byte: the offset asked for, or moved
  // forward to the next line start when one is near (kLineStartReach), else
  // to the next character start.
  uint64_t start = 0;
  // Where the following window starts: after the window's last line end when
  // that keeps at least half of the window, else after its last whole
  // character. A CR at the window's end is left to the next one, as it may
  // be the first half of CR LF. At the end of the file, the file's size.
  uint64_t next = 0;
  TTextEncoding encoding = TTextEncoding::Utf8;
};

// How far past the asked offset a window looks for a line start.
constexpr std::size_t kLineStartReach = 512;

// How many bytes a window reads at least, so that after moving to a
// character start it still holds a whole character and a whole CR LF.
constexpr std::size_t kMinTextWindowBytes = 8;

// The text of at most bytes bytes from offset on (at least
// kMinTextWindowBytes, at most TPagedFile::kMaxWindowBytes - 1). An offset at
// or past the end gives an empty window whose start and next are the offset.
TTextWindow TextAt(const TPagedFile& file, TTextEncoding encoding, uint64_t offset,
                   std::size_t bytes);
// The same, with the encoding detected first; a view that pages through a
// file detects once and passes the encoding instead.
TTextWindow TextAt(const TPagedFile& file, uint64_t offset, std::size_t bytes);

#pragma once

#include <QString>
#include <cstdint>
#include <string_view>
#include <vector>

#include "preview/text_page.h"

// One row of the text or hex view as drawn: its characters and, for each,
// the offset in the capture of the byte it shows (-1 for none), so that a
// command's mark can colour the very characters its bytes became.
struct TByteRow {
  uint64_t start = 0;
  QString text;
  std::vector<int64_t> byteOfCharacter;
};

// Rows of at most columns characters from bytes, which start at offset in
// the capture, decoded as the text view reads a capture: CR LF, a lone CR
// and LF end a row; TAB moves to the next multiple of 8; other control bytes
// show as their pictures (U+2400-U+241F, DEL U+2421); C1 controls and
// malformed UTF-8 bytes show as U+FFFD. A row that does not fit is wrapped.
// At most maxRows rows; a character cut by the end of bytes is left out, so
// the last row ends on a whole character.
struct TTextRows {
  std::vector<TByteRow> rows;
  // Where the row after them starts: right after the last byte they show,
  // their line end included.
  uint64_t next = 0;
};
TTextRows LayOutTextRows(std::string_view bytes, uint64_t offset, TTextEncoding encoding,
                         int columns, int maxRows);

// The offset of the first character start at or after the position, for a
// scroll bar dropped inside a UTF-8 sequence.
std::size_t CharacterStart(std::string_view bytes, std::size_t at, TTextEncoding encoding);

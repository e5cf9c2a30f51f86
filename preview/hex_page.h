#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TPagedFile;

// The hex view of a capture, one line per 16 bytes:
// "0000000000000010  1b 40 48 65 6c 6c 6f 0a  1d 56 00 41 42 43 44 45  |.@Hello..V.ABCDE|"
// The offset always has 16 hex digits, so the column never widens while a
// capture grows past 4 GiB and any offset a file can have fits. Bytes from
// 0x20 to 0x7e show as themselves between the bars, all others as '.'. The
// last line of a file that does not fill it keeps the bars in place for the
// hex columns and shows only its own characters.

constexpr int kHexBytesPerLine = 16;

// Lines of the file now (its size over 16, rounded up), to size a scroll bar.
uint64_t HexLineCount(const TPagedFile& file);

// The lines from firstLine on, at most lineCount of them (fewer at the end
// of the file, none beyond it); one window of the file is read for them.
std::vector<std::string> HexLines(const TPagedFile& file, uint64_t firstLine, int lineCount);

// One line: the offset of its first byte and up to 16 bytes.
std::string HexLine(uint64_t offset, const std::string& bytes);

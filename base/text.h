#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Text is a byte string; lengths and positions count bytes and positions
// start at 1. A blank is any byte from 0x00 to 0x20.

// The text without its leading and trailing blanks.
std::string TrimBlanks(std::string_view text);
// The same, as a view into the text.
std::string_view TrimBlanksView(std::string_view text);

// True when the byte is a blank (0x00 to 0x20).
bool IsBlank(char byte);

// "0" to "9", nothing else (no locale's digits).
bool IsDecimalDigit(char byte);

// Reads the one integer syntax of the system: optional leading spaces, then a
// signed decimal number, an unsigned decimal number, or "$", "x", "X", "0x",
// "0X" and hexadecimal digits taken as 32 bits. Nothing may follow.
// Raises EConvertError "'%s' is not a valid integer value" on failure.
int32_t ParseInteger(std::string_view text);

// The same syntax; gives the default instead of failing.
int32_t ParseIntegerOr(std::string_view text, int32_t defaultValue);

// The same syntax; false (value untouched) when the text is no integer.
bool TryParseInteger(std::string_view text, int32_t& value);

// A TCP port number written as decimal digits only (no sign, no blank, no
// other base), from 0 to 65535; false (value untouched) for anything else,
// so a text never names a port other than the one it shows.
bool ParsePortNumber(std::string_view digits, uint16_t& value);

// Decimal digits with a leading "-" for negative numbers; no padding.
std::string FormatInteger(int64_t value);

// 1-based position of the first occurrence of needle in text; 0 when absent
// or when either is empty.
int PositionOf(std::string_view needle, std::string_view text);

// At most count bytes from index on. An index below 1 counts as 1; an index
// past the end, an empty text or a negative count gives the empty text.
std::string CopyRange(std::string_view text, int index, int count);

// Removes at most count bytes from index on. Does nothing when the index is
// below 1 or past the end, or when count is 0 or negative.
void DeleteRange(std::string& text, int index, int count);

// "a" to "z" made "A" to "Z", every other byte as it is, whatever the locale:
// a settings file or a date pattern means the same on every machine.
char UpperAscii(char byte);
std::string UpperAscii(std::string_view text);

// ASCII letters compared without regard to case; other bytes exactly.
bool SameTextIgnoringCase(std::string_view left, std::string_view right);

// Where a line ends: LF, CR LF and a lone CR everywhere (a lone CR must not
// reach a terminal, which would write the next line over this one); a log
// pane's text view also starts a block at U+2029, U+FDD0 and U+FDD1, so
// whoever counts a pane's lines splits there too.
enum class TLineEnds { Terminal, TextView };

// The lines of UTF-8 text, as views into it: a text without a line end is one
// line, and a line end at the very end leaves an empty last line.
std::vector<std::string_view> SplitLines(std::string_view text, TLineEnds ends);

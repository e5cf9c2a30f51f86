#include "preview/hex_page.h"

#include <algorithm>
#include <string_view>

#include "preview/paged_file.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr int kOffsetDigits = 16;
constexpr uint64_t kBytesPerLine = kHexBytesPerLine;

void AppendOffset(std::string& line, uint64_t offset) {
  for (int shift = (kOffsetDigits - 1) * 4; shift >= 0; shift -= 4)
    line += kHexDigits[(offset >> shift) & 0xf];
}

// "1b " for a byte, three blanks where the line has none; one more blank
// between the two halves.
void AppendHexColumn(std::string& line, std::string_view bytes, std::size_t column) {
  if (column == kBytesPerLine / 2) line += ' ';
  if (column < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[column]);
    line += kHexDigits[byte >> 4];
    line += kHexDigits[byte & 0xf];
  } else {
    line += "  ";
  }
  line += ' ';
}

char Printable(char byte) { return byte >= 0x20 && byte <= 0x7e ? byte : '.'; }

}  // namespace

std::string HexLine(uint64_t offset, const std::string& bytes) {
  const std::string_view shown = std::string_view(bytes).substr(0, kBytesPerLine);
  std::string line;
  line.reserve(kOffsetDigits + 2 + kBytesPerLine * 3 + 2 + kBytesPerLine + 2);
  AppendOffset(line, offset);
  line += "  ";
  for (std::size_t column = 0; column < kBytesPerLine; ++column)
    AppendHexColumn(line, shown, column);
  line += " |";
  std::transform(shown.begin(), shown.end(), std::back_inserter(line), Printable);
  line += '|';
  return line;
}

uint64_t HexLineCount(const TPagedFile& file) {
  const uint64_t size = file.Size();
  return size / kBytesPerLine + (size % kBytesPerLine == 0 ? 0 : 1);
}

std::vector<std::string> HexLines(const TPagedFile& file, uint64_t firstLine, int lineCount) {
  std::vector<std::string> lines;
  // A line number past what an offset can hold is past the end of any file.
  if (lineCount <= 0 || firstLine > UINT64_MAX / kBytesPerLine) return lines;
  const uint64_t firstOffset = firstLine * kBytesPerLine;
  const std::string window =
      file.Read(firstOffset, static_cast<std::size_t>(lineCount) * kBytesPerLine);
  lines.reserve((window.size() + kBytesPerLine - 1) / kBytesPerLine);
  for (std::size_t start = 0; start < window.size(); start += kBytesPerLine)
    lines.push_back(HexLine(firstOffset + start, window.substr(start, kBytesPerLine)));
  return lines;
}

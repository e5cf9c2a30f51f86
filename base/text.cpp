#include "base/text.h"

#include <algorithm>

#include "base/exceptions.h"

bool IsBlank(char byte) { return static_cast<unsigned char>(byte) <= 0x20; }

std::string_view TrimBlanksView(std::string_view text) {
  std::size_t first = 0;
  std::size_t end = text.size();
  while (first < end && IsBlank(text[first])) ++first;
  while (end > first && IsBlank(text[end - 1])) --end;
  return text.substr(first, end - first);
}

std::string TrimBlanks(std::string_view text) { return std::string(TrimBlanksView(text)); }

bool IsDecimalDigit(char byte) { return byte >= '0' && byte <= '9'; }

namespace {

int HexDigitValue(char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

// Decimal digits only, at least one; the magnitude may reach 2^31 so that the
// caller can accept -2147483648.
bool ReadDecimal(std::string_view digits, bool negative, int32_t& value) {
  if (digits.empty()) return false;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t magnitude = 0;
  for (char byte : digits) {
    if (!IsDecimalDigit(byte)) return false;
    magnitude = magnitude * 10 + (byte - '0');
    if (magnitude > limit) return false;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

// Hexadecimal digits only, at least one, whose value fits in 32 bits; the 32
// bits are the result.
bool ReadHexadecimal(std::string_view digits, int32_t& value) {
  if (digits.empty()) return false;
  uint64_t bits = 0;
  for (char byte : digits) {
    const int digit = HexDigitValue(byte);
    if (digit < 0) return false;
    bits = bits * 16 + static_cast<uint64_t>(digit);
    if (bits > 0xFFFFFFFFULL) return false;
  }
  value = static_cast<int32_t>(static_cast<uint32_t>(bits));
  return true;
}

std::size_t HexPrefixLength(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) return 2;
  if (text.starts_with("$") || text.starts_with("x") || text.starts_with("X")) return 1;
  return 0;
}

}  // namespace

bool TryParseInteger(std::string_view text, int32_t& value) {
  std::size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  std::string_view rest = text.substr(start);
  if (rest.empty()) return false;
  if (rest[0] == '-' || rest[0] == '+') return ReadDecimal(rest.substr(1), rest[0] == '-', value);
  // "0" alone or "012" are decimal; "0x..." is hexadecimal.
  if (const std::size_t prefix = HexPrefixLength(rest); prefix > 0) {
    return ReadHexadecimal(rest.substr(prefix), value);
  }
  return ReadDecimal(rest, false, value);
}

int32_t ParseInteger(std::string_view text) {
  int32_t value = 0;
  if (!TryParseInteger(text, value)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return value;
}

int32_t ParseIntegerOr(std::string_view text, int32_t defaultValue) {
  int32_t value = 0;
  return TryParseInteger(text, value) ? value : defaultValue;
}

bool ParsePortNumber(std::string_view digits, uint16_t& value) {
  if (digits.empty()) return false;
  uint32_t number = 0;
  for (const char digit : digits) {
    if (!IsDecimalDigit(digit)) return false;
    number = number * 10 + static_cast<uint32_t>(digit - '0');
    if (number > 65535) return false;
  }
  value = static_cast<uint16_t>(number);
  return true;
}

std::string FormatInteger(int64_t value) { return std::to_string(value); }

int PositionOf(std::string_view needle, std::string_view text) {
  if (needle.empty() || text.empty()) return 0;
  const std::size_t found = text.find(needle);
  return found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
}

std::string CopyRange(std::string_view text, int index, int count) {
  const int64_t length = static_cast<int64_t>(text.size());
  const int64_t first = std::max<int64_t>(index, 1);
  if (text.empty() || count < 0 || first > length) return std::string();
  const int64_t taken = std::min<int64_t>(count, length - first + 1);
  return std::string(
      text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(taken)));
}

void DeleteRange(std::string& text, int index, int count) {
  const int64_t length = static_cast<int64_t>(text.size());
  if (index < 1 || index > length || count <= 0) return;
  const int64_t removed = std::min<int64_t>(count, length - index + 1);
  text.erase(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(removed));
}

char UpperAscii(char byte) {
  return (byte >= 'a' && byte <= 'z') ? static_cast<char>(byte - 32) : byte;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& byte : upper) byte = UpperAscii(byte);
  return upper;
}

bool SameTextIgnoringCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (UpperAscii(left[i]) != UpperAscii(right[i])) return false;
  }
  return true;
}

namespace {

// The length of the line end the text starts with, 0 when it starts with none.
std::size_t LineEndLength(std::string_view text, TLineEnds ends) {
  if (text.starts_with("\r\n")) return 2;
  if (text.starts_with('\n') || text.starts_with('\r')) return 1;
  if (ends == TLineEnds::TextView &&
      (text.starts_with("\u2029") || text.starts_with("\uFDD0") || text.starts_with("\uFDD1"))) {
    return 3;
  }
  return 0;
}

}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text, TLineEnds ends) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  std::size_t index = 0;
  while (index < text.size()) {
    if (const std::size_t length = LineEndLength(text.substr(index), ends)) {
      lines.push_back(text.substr(start, index - start));
      index += length;
      start = index;
    } else {
      ++index;
    }
  }
  lines.push_back(text.substr(start));
  return lines;
}

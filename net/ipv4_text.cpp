#include "net/ipv4_text.h"

#include "base/text.h"

namespace {

// Values stop growing here: past 255 a group is refused whatever its length,
// and the arithmetic never overflows.
constexpr uint32_t kAboveAnyGroup = 256;

std::optional<uint32_t> GroupValue(std::string_view digits, const TIPv4TextRules& rules) {
  if (digits.empty() || (rules.MaxGroupDigits != 0 && digits.size() > rules.MaxGroupDigits))
    return std::nullopt;
  const bool octal = rules.LeadingZeroOctal && digits.size() > 1 && digits[0] == '0';
  const uint32_t base = octal ? 8 : 10;
  uint32_t value = 0;
  for (const char digit : digits) {
    if (!IsDecimalDigit(digit)) return std::nullopt;
    const auto weight = static_cast<uint32_t>(digit - '0');
    if (weight >= base) return std::nullopt;
    value = value * base + weight;
    if (value > kAboveAnyGroup) value = kAboveAnyGroup;
  }
  if (value > 255) return std::nullopt;
  return value;
}

std::string_view WithoutSpacesAround(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

}  // namespace

std::optional<uint32_t> ParseIPv4Text(std::string_view text, const TIPv4TextRules& rules) {
  if (rules.SpacesAround) text = WithoutSpacesAround(text);
  uint32_t address = 0;
  for (int group = 0; group < 4; ++group) {
    const std::size_t end = group < 3 ? text.find('.') : text.size();
    if (end == std::string_view::npos) return std::nullopt;
    const auto value = GroupValue(text.substr(0, end), rules);
    if (!value) return std::nullopt;
    address = (address << 8) | *value;
    text.remove_prefix(group < 3 ? end + 1 : end);
  }
  return address;
}

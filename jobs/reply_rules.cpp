#include "jobs/reply_rules.h"

#include <algorithm>
#include <optional>

#include "base/text.h"

namespace {

// Built by appending: GCC 12 at -O3 takes "\"" + std::string(...) for an
// overlapping copy and stops the build.
std::string NotAHexByte(std::string_view pair) {
  std::string fault = "\"";
  fault.append(pair);
  return fault + "\" is not a hex byte";
}

constexpr std::size_t kShownRuleLength = 60;

// The pieces of the text between the separators that stand outside quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == separator && !quoted) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// Where the arrows outside quotes stand.
std::vector<std::size_t> ArrowsOutsideQuotes(std::string_view rule) {
  std::vector<std::size_t> arrows;
  bool quoted = false;
  for (std::size_t i = 0; i < rule.size(); ++i) {
    if (rule[i] == '"') quoted = !quoted;
    if (!quoted && rule.compare(i, 2, "=>") == 0) arrows.push_back(i++);
  }
  return arrows;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char upper = UpperAscii(c);
  if (upper >= 'A' && upper <= 'F') return upper - 'A' + 10;
  return -1;
}

// One side of a rule as bytes; the fault text when it is malformed.
std::optional<std::string> ReadBytes(std::string_view side, std::string& bytes) {
  std::size_t i = 0;
  while (i < side.size()) {
    if (IsBlank(side[i])) {
      ++i;
    } else if (side[i] == '"') {
      const std::size_t close = side.find('"', i + 1);
      if (close == std::string_view::npos) return std::string("a quote is not closed");
      bytes.append(side.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      std::size_t pairLength = 1;
      if (i + 1 < side.size() && !IsBlank(side[i + 1]) && side[i + 1] != '"') pairLength = 2;
      const std::string_view pair = side.substr(i, pairLength);
      const int high = HexDigitValue(pair[0]);
      const int low = pairLength == 2 ? HexDigitValue(pair[1]) : -1;
      if (high < 0 || low < 0) return NotAHexByte(pair);
      bytes.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadRule(std::string_view rule, TReplyRule& parsed) {
  const std::vector<std::size_t> arrows = ArrowsOutsideQuotes(rule);
  // An unclosed quote hides any arrow after it, so it is named first.
  if (std::count(rule.begin(), rule.end(), '"') % 2 != 0)
    return std::string("a quote is not closed");
  if (arrows.empty()) return std::string("\"=>\" is missing");
  if (arrows.size() > 1) return std::string("\"=>\" appears more than once");
  if (const auto fault = ReadBytes(rule.substr(0, arrows[0]), parsed.Pattern)) return fault;
  if (const auto fault = ReadBytes(rule.substr(arrows[0] + 2), parsed.Reply)) return fault;
  if (parsed.Pattern.empty()) return std::string("the pattern is empty");
  if (parsed.Pattern.size() > kLongestReplyPattern)
    return "the pattern is longer than " + FormatInteger(kLongestReplyPattern) + " bytes";
  return std::nullopt;
}

std::string ShownRule(std::string_view rule) {
  if (rule.size() <= kShownRuleLength) return std::string(rule);
  return std::string(rule.substr(0, kShownRuleLength - 3)) + "...";
}

}  // namespace

TParsedReplyRules ParseReplyRules(std::string_view text) {
  TParsedReplyRules result;
  const std::vector<std::string_view> pieces = SplitOutsideQuotes(text, ';');
  for (std::size_t index = 0; index < pieces.size(); ++index) {
    const std::string_view rule = TrimBlanksView(pieces[index]);
    if (rule.empty()) continue;
    TReplyRule parsed;
    if (const auto fault = ReadRule(rule, parsed)) {
      result.Rules.clear();
      result.Error = "Reply rule " + FormatInteger(static_cast<int64_t>(index + 1)) + " (" +
                     ShownRule(rule) + "): " + *fault;
      return result;
    }
    result.Rules.push_back(std::move(parsed));
  }
  return result;
}

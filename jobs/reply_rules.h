#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Custom status replies: when the bytes of Pattern arrive, Reply goes back.
struct TReplyRule {
  std::string Pattern;
  std::string Reply;
};

struct TParsedReplyRules {
  std::vector<TReplyRule> Rules;
  // Empty when every rule is well formed; otherwise the first fault, and
  // Rules is empty, so that a caller never applies half of a list.
  std::string Error;
};

// The longest pattern a rule may have: it bounds what a connection keeps of
// the bytes it has read while it waits for the rest of a pattern.
inline constexpr std::size_t kLongestReplyPattern = 1024;

// The ReplyRules= text. Rules are separated by ";" (outside quotes); blank
// rules are skipped but still counted, so that "rule 3" is the third piece
// as written. Each rule is `pattern => reply`, each side a sequence of hex
// bytes (two hex digits each, in either case, blanks between bytes allowed:
// "1B 76" or "1B76") and double-quoted text taken byte for byte ("PING"; no
// escapes, so a quote byte is written as 22). The pattern may not be empty;
// an empty reply makes the rule swallow its pattern: nothing is sent, the
// language's own answer is suppressed, and nothing is counted. Faults, as
// `Reply rule <n> (<rule as written, trimmed>): ...`:
//   "=>" is missing | "=>" appears more than once | the pattern is empty |
//   a quote is not closed | "<xy>" is not a hex byte |
//   the pattern is longer than 1024 bytes
// A rule text of more than 60 bytes is shown as its first 57 and "...".
TParsedReplyRules ParseReplyRules(std::string_view text);

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "jobs/printer_state.h"
#include "jobs/reply_language.h"
#include "jobs/reply_rules.h"

namespace {

using namespace std::string_literals;

TEST(ReplySettingsTest, LanguageAndStateNames) {
  struct TCase {
    const char* text;
    std::optional<TReplyLanguage> language;
    std::optional<TPrinterState> state;
  };
  const TCase cases[] = {
      {"none", TReplyLanguage::None, std::nullopt},
      {" EscPos\t", TReplyLanguage::EscPos, std::nullopt},
      {"ZPL", TReplyLanguage::Zpl, std::nullopt},
      {"pjl ", TReplyLanguage::Pjl, std::nullopt},
      {"esc/pos", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"ready", std::nullopt, TPrinterState::Ready},
      {"  Paper Out ", std::nullopt, TPrinterState::PaperOut},
      {"COVER OPEN", std::nullopt, TPrinterState::CoverOpen},
      {"offline", std::nullopt, TPrinterState::Offline},
      {"paper  out", std::nullopt, std::nullopt},
      {"paperout", std::nullopt, std::nullopt},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ParseReplyLanguage(c.text), c.language) << c.text;
    EXPECT_EQ(ParsePrinterState(c.text), c.state) << c.text;
  }
}

// The rules as "pattern>reply|..." with the bytes shown as they are.
std::string Shown(const TParsedReplyRules& parsed) {
  if (!parsed.Error.empty()) return parsed.Rules.empty() ? parsed.Error : "rules kept on error";
  std::string shown;
  for (const TReplyRule& rule : parsed.Rules) shown += rule.Pattern + ">" + rule.Reply + "|";
  return shown;
}

TEST(ReplySettingsTest, ReplyRules) {
  const std::string longPattern = "\"" + std::string(1025, 'x') + "\" => 00";
  struct TCase {
    std::string text;
    std::string shown;
  };
  const TCase cases[] = {
      {"", ""},
      {"  ; ", ""},
      {"1B 76 => 00", "\x1B\x76>\0|"s},
      {"1b76=>\"OK\" 0D0A", "\x1B\x76>OK\r\n|"},
      {"\"PING\" => \"PONG\"; 10 04 05 => 12;", "PING>PONG|\x10\x04\x05>\x12|"},
      {"\"a;b=>c\" => \"d;e\"", "a;b=>c>d;e|"},
      {"22 \"x\" 22 =>", "\"x\">|"},
      {"\"A\"\"B\"=>\"\"", "AB>|"},
      {"00 => 00; 1B 7G => 00", "Reply rule 2 (1B 7G => 00): \"7G\" is not a hex byte"},
      {"1B7 => 00", "Reply rule 1 (1B7 => 00): \"7\" is not a hex byte"},
      {"1B => 0,1", "Reply rule 1 (1B => 0,1): \"0,\" is not a hex byte"},
      {"1B 76 00", "Reply rule 1 (1B 76 00): \"=>\" is missing"},
      {"1B => 76 => 00", "Reply rule 1 (1B => 76 => 00): \"=>\" appears more than once"},
      {";; => 00", "Reply rule 3 (=> 00): the pattern is empty"},
      {"\"\" => 00", "Reply rule 1 (\"\" => 00): the pattern is empty"},
      {"\"AB => 00; 1B => 00", "Reply rule 1 (\"AB => 00; 1B => 00): a quote is not closed"},
      {"1B => \"AB", "Reply rule 1 (1B => \"AB): a quote is not closed"},
      {longPattern,
       "Reply rule 1 (\"" + std::string(56, 'x') + "...): the pattern is longer than 1024 bytes"},
  };
  for (const TCase& c : cases) EXPECT_EQ(Shown(ParseReplyRules(c.text)), c.shown) << c.text;
}

}  // namespace

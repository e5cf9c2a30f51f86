#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/exceptions.h"
#include "support/raised_message.h"

namespace {

struct TIntegerCase {
  std::string text;
  bool valid;
  int32_t value;
};

class ParseIntegerTest : public testing::TestWithParam<TIntegerCase> {};

TEST_P(ParseIntegerTest, FollowsTheOneIntegerSyntax) {
  const TIntegerCase& c = GetParam();
  if (c.valid) {
    EXPECT_EQ(ParseInteger(c.text), c.value);
    EXPECT_EQ(ParseIntegerOr(c.text, 4242), c.value);
  } else {
    EXPECT_EQ(RaisedMessage([&] { ParseInteger(c.text); }),
              "'" + c.text + "' is not a valid integer value");
    EXPECT_EQ(ParseIntegerOr(c.text, 4242), 4242);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseIntegerTest,
    testing::Values(
        TIntegerCase{"80", true, 80}, TIntegerCase{"  80", true, 80}, TIntegerCase{"80 ", false, 0},
        TIntegerCase{"+80", true, 80}, TIntegerCase{"-80", true, -80}, TIntegerCase{"-0", true, 0},
        TIntegerCase{"0", true, 0}, TIntegerCase{"012", true, 12}, TIntegerCase{"$1F", true, 31},
        TIntegerCase{"x1f", true, 31}, TIntegerCase{"X1F", true, 31},
        TIntegerCase{"0x1f", true, 31}, TIntegerCase{"0X1F", true, 31},
        TIntegerCase{"  $1f", true, 31}, TIntegerCase{"-$1F", false, 0},
        TIntegerCase{"+$1F", false, 0}, TIntegerCase{"-0x1F", false, 0}, TIntegerCase{"", false, 0},
        TIntegerCase{"   ", false, 0}, TIntegerCase{"1e3", false, 0},
        TIntegerCase{"99999999999", false, 0}, TIntegerCase{"2147483647", true, 2147483647},
        TIntegerCase{"2147483648", false, 0}, TIntegerCase{"-2147483648", true, INT32_MIN},
        TIntegerCase{"-2147483649", false, 0}, TIntegerCase{"+2147483648", false, 0},
        TIntegerCase{"00000000002147483647", true, 2147483647}, TIntegerCase{"$FFFFFFFF", true, -1},
        TIntegerCase{"0xFFFFFFFF", true, -1}, TIntegerCase{"$80000000", true, INT32_MIN},
        TIntegerCase{"$7fffffff", true, 2147483647}, TIntegerCase{"$100000000", false, 0},
        TIntegerCase{"$000000001", true, 1}, TIntegerCase{"$", false, 0},
        TIntegerCase{"0x", false, 0}, TIntegerCase{"x", false, 0}, TIntegerCase{"-", false, 0},
        TIntegerCase{"+", false, 0}, TIntegerCase{"$G", false, 0}, TIntegerCase{"0x1G", false, 0},
        TIntegerCase{"\t80", false, 0}, TIntegerCase{"\r80", false, 0},
        TIntegerCase{"8 0", false, 0}, TIntegerCase{"- 8", false, 0}, TIntegerCase{"--8", false, 0},
        TIntegerCase{"00x1", false, 0}, TIntegerCase{"$-1", false, 0},
        TIntegerCase{"12px", false, 0}, TIntegerCase{"80\n", false, 0},
        TIntegerCase{std::string("8\0", 2), false, 0}, TIntegerCase{"\xb2", false, 0}));

TEST(ParseInteger, MessageKeepsTheTextExactlyAsGiven) {
  EXPECT_THROW(ParseInteger("80 "), EConvertError);
  EXPECT_EQ(RaisedMessage([] { ParseInteger("80 "); }), "'80 ' is not a valid integer value");
  EXPECT_EQ(RaisedMessage([] { ParseInteger(""); }), "'' is not a valid integer value");
}

TEST(FormatInteger, WritesPlainDecimal) {
  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(80), "80");
  EXPECT_EQ(FormatInteger(-5), "-5");
  EXPECT_EQ(FormatInteger(INT32_MIN), "-2147483648");
  EXPECT_EQ(FormatInteger(INT32_MAX), "2147483647");
  EXPECT_EQ(FormatInteger(5000000000LL), "5000000000");
  EXPECT_EQ(FormatInteger(INT64_MIN), "-9223372036854775808");
}

TEST(TrimBlanks, RemovesEveryByteUpToSpaceAtBothEnds) {
  EXPECT_EQ(TrimBlanks(" \t\r\n "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks(std::string("\0\x01x\x1f\x20", 5)), "x");
  EXPECT_EQ(TrimBlanks("\x80\xff"), "\x80\xff");
  EXPECT_EQ(TrimBlanks(" \xa0 "), "\xa0");
  EXPECT_EQ(TrimBlanks("\x7f"), "\x7f");
}

struct TPositionCase {
  std::string needle, text;
  int position;
};

class PositionOfTest : public testing::TestWithParam<TPositionCase> {};

TEST_P(PositionOfTest, FindsTheFirstOccurrence) {
  EXPECT_EQ(PositionOf(GetParam().needle, GetParam().text), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(Cases, PositionOfTest,
                         testing::Values(TPositionCase{",", "a,b,c", 2},
                                         TPositionCase{",", "abc", 0}, TPositionCase{"", "abc", 0},
                                         TPositionCase{",", "", 0}, TPositionCase{"", "", 0},
                                         TPositionCase{"bc", "abcbc", 2},
                                         TPositionCase{"a", "a", 1}, TPositionCase{"A", "a", 0},
                                         TPositionCase{"abcd", "abc", 0},
                                         TPositionCase{",", ",", 1}));

struct TRangeCase {
  std::string text;
  int index, count;
  std::string copied;
  std::string afterDelete;
};

class RangeTest : public testing::TestWithParam<TRangeCase> {};

TEST_P(RangeTest, CopiesAndDeletes) {
  const TRangeCase& c = GetParam();
  EXPECT_EQ(CopyRange(c.text, c.index, c.count), c.copied);
  std::string changed = c.text;
  DeleteRange(changed, c.index, c.count);
  EXPECT_EQ(changed, c.afterDelete);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RangeTest,
    testing::Values(
        TRangeCase{"abcdef", 2, 3, "bcd", "aef"}, TRangeCase{"abcdef", 1, 0, "", "abcdef"},
        TRangeCase{"abcdef", 1, -1, "", "abcdef"}, TRangeCase{"abcdef", 0, 2, "ab", "abcdef"},
        TRangeCase{"abcdef", -5, 2, "ab", "abcdef"}, TRangeCase{"abcdef", 6, 9, "f", "abcde"},
        TRangeCase{"abcdef", 7, 1, "", "abcdef"}, TRangeCase{"abcdef", 4, 2147483647, "def", "abc"},
        TRangeCase{"abcdef", 2147483647, 2147483647, "", "abcdef"},
        TRangeCase{"abcdef", INT32_MIN, 3, "abc", "abcdef"}, TRangeCase{"", 1, 1, "", ""},
        TRangeCase{"abc", 1, 3, "abc", ""}, TRangeCase{"a,b", 1, 2, "a,", "b"}));

TEST(SameTextIgnoringCase, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(SameTextIgnoringCase("Ports", "pORTS"));
  EXPECT_FALSE(SameTextIgnoringCase("Port", "Ports"));
  EXPECT_FALSE(SameTextIgnoringCase("\xc4", "\xe4"));
  EXPECT_TRUE(SameTextIgnoringCase("", ""));
  EXPECT_FALSE(SameTextIgnoringCase("@", "`"));
  EXPECT_FALSE(SameTextIgnoringCase("[", "{"));
  EXPECT_TRUE(SameTextIgnoringCase("az", "AZ"));
}

struct TSplitCase {
  const char* name;
  std::string text;
  std::vector<std::string> terminal;  // TLineEnds::Terminal
  std::vector<std::string> textView;  // TLineEnds::TextView
};

// A count that missed a line end of the panes' text view would let a pane
// outgrow its bound; one that split elsewhere would cut lines still shown.
TEST(SplitLines, EndsLinesWhereTheirReaderDoes) {
  const std::vector<TSplitCase> cases = {
      {"no line end", "abc", {"abc"}, {"abc"}},
      {"empty text", "", {""}, {""}},
      {"LF", "a\nb", {"a", "b"}, {"a", "b"}},
      {"CR LF is one end", "a\r\nb", {"a", "b"}, {"a", "b"}},
      {"lone CR", "a\rb", {"a", "b"}, {"a", "b"}},
      {"CR before CR LF", "a\r\r\nb", {"a", "", "b"}, {"a", "", "b"}},
      {"LF CR is two ends", "a\n\rb", {"a", "", "b"}, {"a", "", "b"}},
      {"end at the end", "a\r\n", {"a", ""}, {"a", ""}},
      {"U+2029", "a\u2029b", {"a\u2029b"}, {"a", "b"}},
      {"U+FDD0", "a\uFDD0b", {"a\uFDD0b"}, {"a", "b"}},
      {"U+FDD1 then CR", "a\uFDD1\rb", {"a\uFDD1", "b"}, {"a", "", "b"}},
      {"U+2028 ends no block", "a\u2028b", {"a\u2028b"}, {"a\u2028b"}},
      {"U+FDD2 is no end", "a\uFDD2b", {"a\uFDD2b"}, {"a\uFDD2b"}},
      {"cut-off U+2029", "a\xE2\x80", {"a\xE2\x80"}, {"a\xE2\x80"}},
  };
  for (const TSplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [ends, expected] :
         {std::pair{TLineEnds::Terminal, c.terminal}, std::pair{TLineEnds::TextView, c.textView}}) {
      const std::vector<std::string_view> lines = SplitLines(c.text, ends);
      EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()), expected);
    }
  }
}

TEST(ParsePortNumber, TakesDecimalDigitsUpTo65535Only) {
  const struct {
    const char* text;
    bool valid;
    uint16_t value;
  } cases[] = {{"0", true, 0},
               {"9100", true, 9100},
               {"09100", true, 9100},
               {"65535", true, 65535},
               {"65536", false, 0},
               {"70000", false, 0},
               {"", false, 0},
               {" 80", false, 0},
               {"80 ", false, 0},
               {"+80", false, 0},
               {"0x238C", false, 0},
               {"9100x", false, 0},
               {"99999999999999999999", false, 0}};
  for (const auto& c : cases) {
    uint16_t value = 7;
    EXPECT_EQ(ParsePortNumber(c.text, value), c.valid) << c.text;
    EXPECT_EQ(value, c.valid ? c.value : 7) << c.text;
  }
}

}  // namespace

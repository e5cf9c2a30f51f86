#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/text_rows.h"

namespace {

QString Q(const char8_t* text) { return QString::fromUtf8(text); }

struct TRowsCase {
  const char* name;
  std::string bytes;
  TTextEncoding encoding;
  int columns;
  std::vector<QString> rows;
  // The byte offset of each row's characters, row after row.
  std::vector<int64_t> offsets;
  uint64_t next;
};

class TextRowsTest : public testing::TestWithParam<TRowsCase> {};

// The rows start at offset 100 in the capture, so offsets are absolute.
TEST_P(TextRowsTest, LaysOutRowsWithEachCharactersByte) {
  const TTextRows laidOut =
      LayOutTextRows(GetParam().bytes, 100, GetParam().encoding, GetParam().columns, 10);
  std::vector<QString> texts;
  std::vector<int64_t> offsets;
  for (const TByteRow& row : laidOut.rows) {
    texts.push_back(row.text);
    offsets.insert(offsets.end(), row.byteOfCharacter.begin(), row.byteOfCharacter.end());
  }
  EXPECT_EQ(texts, GetParam().rows);
  EXPECT_EQ(offsets, GetParam().offsets);
  EXPECT_EQ(laidOut.next, GetParam().next);
}

const auto kUtf8 = TTextEncoding::Utf8;
const auto kLatin1 = TTextEncoding::Latin1;

INSTANTIATE_TEST_SUITE_P(
    Captures, TextRowsTest,
    testing::Values(
        TRowsCase{
            "LineEnds", "ab\r\nc\rd\n", kUtf8, 80, {"ab", "c", "d"}, {100, 101, 104, 106}, 108},
        TRowsCase{"Wraps",
                  "abcdefghij",
                  kUtf8,
                  4,
                  {"abcd", "efgh", "ij"},
                  {100, 101, 102, 103, 104, 105, 106, 107, 108, 109},
                  110},
        TRowsCase{"EmptyLines", "\n\nx", kUtf8, 80, {"", "", "x"}, {102}, 103},
        TRowsCase{"ControlPictures",
                  "\x1b@\x7f",
                  kUtf8,
                  80,
                  {Q(u8"\u241b@\u2421")},
                  {100, 101, 102},
                  103},
        TRowsCase{"TabToEight",
                  "a\tb",
                  kUtf8,
                  80,
                  {"a       b"},
                  {100, 101, 101, 101, 101, 101, 101, 101, 102},
                  103},
        TRowsCase{"Utf8TakesItsBytes",
                  "\xc3\xa9z\xf0\x9f\x98\x80",
                  kUtf8,
                  80,
                  {Q(u8"\u00e9z\U0001F600")},
                  {100, 102, 103, 103},
                  107},
        TRowsCase{"MalformedIsOneByteEach",
                  "\xff\xc3(",
                  kUtf8,
                  80,
                  {Q(u8"\ufffd\ufffd(")},
                  {100, 101, 102},
                  103},
        TRowsCase{"CutCharacterWaits", "ab\xe2\x82", kUtf8, 80, {"ab"}, {100, 101}, 102},
        TRowsCase{"C1IsReplaced", "\xc2\x85x", kUtf8, 80, {Q(u8"\ufffdx")}, {100, 102}, 103},
        TRowsCase{
            "Latin1ByteByByte", "\xe9\x85", kLatin1, 80, {Q(u8"\u00e9\ufffd")}, {100, 101}, 102}),
    [](const testing::TestParamInfo<TRowsCase>& info) { return info.param.name; });

TEST(TextRowsLimitTest, StopsAtTheRowCountAndSaysWhereTheNextStarts) {
  const TTextRows laidOut = LayOutTextRows("one\ntwo\nthree\n", 0, kUtf8, 80, 2);
  ASSERT_EQ(laidOut.rows.size(), 2u);
  EXPECT_EQ(laidOut.rows[1].start, 4u);
  EXPECT_EQ(laidOut.next, 8u);
}

}  // namespace

#include "capture/date_pattern.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "capture/locale_formats.h"

namespace {

struct TPatternCase {
  std::string Pattern;
  std::string Expected;
};

// Monday 12 January 1998, 14:30:05.000.
double ExampleValue() { return EncodeDateTime(1998, 1, 12, 14, 30, 5, 0); }

// Every test starts from the built-in defaults and leaves them behind.
class DatePatternTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = LocaleFormats;
    LoadLocaleFormats();
  }
  void TearDown() override { LocaleFormats = saved_; }

  static void ExpectRenders(const std::vector<TPatternCase>& cases, double value) {
    for (const TPatternCase& c : cases) {
      EXPECT_EQ(FormatDatePattern(c.Pattern, value), c.Expected) << "pattern: " << c.Pattern;
    }
  }

 private:
  TLocaleFormats saved_;
};

TEST_F(DatePatternTest, ExampleTableWithDefaults) {
  ExpectRenders(
      {
          {"yy-mm-dd hhmm 'Quenvale'", "98-01-12 1430 Quenvale"},
          {"dd/mm/yy hh:nn", "12/01/98 14:30"},
          {"yyyymmdd", "19980112"},
          {"d/m/y", "12/1/98"},
          {"yyy", "1998"},
          {"mmm yyyy", "Jan 1998"},
          {"mmmmmm", "January"},
          {"ddd dddd", "Mon Monday"},
          {"aaa, aaaa", "Mon, Monday"},
          {"ddddd", "1/12/98"},
          {"ddddddd", "January 12, 1998"},
          {"c", "1/12/98 2:30:05 pm"},
          {"t", "2:30 pm"},
          {"tt", "2:30:05 pm"},
          {"ttt", "2:30:05 pm"},
          {"h:nn am/pm", "2:30 pm"},
          {"hh:nn AM/PM", "02:30 PM"},
          {"h a/p", "2 p"},
          {"hh:mm", "14:30"},
          {"hh dd mm", "14 12 01"},
          {"h m m", "14 30 1"},
          {"hmmm", "1430"},
          {"Hh", "1414"},
          {"nn:ss", "30:05"},
          {"n:s", "30:5"},
          {"Data", "12a2:30 pma"},
          {"'Data'", "Data"},
          {"zzz", "zzz"},
          {"yyyy\\mm\\dd", "1998\\01\\12"},
      },
      ExampleValue());
}

TEST_F(DatePatternTest, OtherCasesOfThePart) {
  ExpectRenders(
      {
          {"", "1/12/98 2:30:05 pm"},
          {"am/pm h", "pm 2"},
          {"hh 'h' am/pm", "14 h pm"},
          {"h \"it's\" am/pm", "14 it's pm"},
          {"yy-mm-dd hhmm \"Quenvale\"", "98-01-12 1430 Quenvale"},
      },
      ExampleValue());
}

TEST_F(DatePatternTest, TwelveHourClockAtMidnightNoonAndAfternoon) {
  struct TCase {
    int Hour, Minute;
    std::string Expected;
  };
  for (const TCase& c : std::vector<TCase>{{0, 0, "12:00 am"},
                                           {12, 0, "12:00 pm"},
                                           {13, 5, "1:05 pm"},
                                           {11, 59, "11:59 am"},
                                           {23, 59, "11:59 pm"},
                                           {1, 0, "1:00 am"}}) {
    double value = EncodeDateTime(1998, 1, 12, c.Hour, c.Minute, 0, 0);
    EXPECT_EQ(FormatDatePattern("h:nn am/pm", value), c.Expected) << c.Hour << ":" << c.Minute;
  }
}

TEST_F(DatePatternTest, MarkerForms) {
  double morning = EncodeDateTime(1998, 1, 12, 9, 5, 0, 0);
  ExpectRenders(
      {
          {"AM/PM", "AM"},
          {"Am/pM", "Am"},
          {"a/p", "a"},
          {"A/P", "A"},
          {"ampm", "am"},
          {"AMPM h", "am 9"},
          {"hh a/p", "09 a"},
          {"h:n", "9:5"},
      },
      morning);
  ExpectRenders(
      {
          {"Am/pM", "pM"},
          {"A/P", "P"},
          {"AMPM", "pm"},
          {"a", "a"},
          {"am", "a1"},
          {"ap", "ap"},
          {"aa", "aa"},
          {"AAAAA", "MondayA"},
      },
      ExampleValue());
}

TEST_F(DatePatternTest, MarkersComeFromLocaleFormats) {
  LocaleFormats.AmMarker = "vorm.";
  LocaleFormats.PmMarker = "nachm.";
  EXPECT_EQ(FormatDatePattern("h ampm", ExampleValue()), "2 nachm.");
  EXPECT_EQ(FormatDatePattern("h ampm", EncodeDateTime(1998, 1, 12, 8, 0, 0, 0)), "8 vorm.");
}

TEST_F(DatePatternTest, TwelveHourFlagIsPerLevel) {
  // The nested short time turns the flag on for its own level only.
  EXPECT_EQ(FormatDatePattern("t h", ExampleValue()), "2:30 pm 14");
  // Within one level the flag stays on once set.
  EXPECT_EQ(FormatDatePattern("h am/pm h", ExampleValue()), "2 pm 2");
  // A look-ahead that meets an "a" of no marker stops there.
  EXPECT_EQ(FormatDatePattern("h x am/pm", ExampleValue()), "2 x pm");
  EXPECT_EQ(FormatDatePattern("h aaa am/pm", ExampleValue()), "14 Mon pm");
}

TEST_F(DatePatternTest, RunsAreOfTheSameLetterInTheSameCase) {
  ExpectRenders(
      {
          {"Dd", "1212"},
          {"yYyY", "98989898"},
          {"YYYY", "1998"},
          {"MM", "01"},
          {"Mm", "11"},
          {"hM", "1430"},
          {"hH", "1414"},
          {"hhh", "14"},
          {"nnn", "30"},
          {"sss", "05"},
          {"h s m", "14 5 1"},
      },
      ExampleValue());
}

TEST_F(DatePatternTest, OrdinaryCharactersAreCopied) {
  ExpectRenders(
      {
          {"F I J K L O P Q R U V W X Z", "F I J K L O P Q R U V W X Z"},
          {"0123456789", "0123456789"},
          {"-_.,;!?()[]{}<>*+=\\|", "-_.,;!?()[]{}<>*+=\\|"},
          {"\xE9\xFF", "\xE9\xFF"},
      },
      ExampleValue());
}

TEST_F(DatePatternTest, QuotedTexts) {
  ExpectRenders(
      {
          {"'yy' \"mm\"", "yy mm"},
          {"\"a'b\"", "a'b"},
          {"'a\"b'", "a\"b"},
          {"'open yy", "open yy"},
          {"''", ""},
          {"'h'h", "h14"},
          {"x'", "x"},
      },
      ExampleValue());
}

TEST_F(DatePatternTest, EraSpecifiersRenderNothing) {
  ExpectRenders(
      {
          {"gg e yyyy", "  1998"},
          {"ggg", ""},
          {"EEEE", ""},
      },
      ExampleValue());
}

TEST_F(DatePatternTest, CAtMidnightGivesOnlyTheDate) {
  EXPECT_EQ(FormatDatePattern("c", EncodeDateTime(1998, 1, 12, 0, 0, 0, 0)), "1/12/98");
  EXPECT_EQ(FormatDatePattern("c", EncodeDateTime(1998, 1, 12, 0, 0, 0, 500)), "1/12/98");
  EXPECT_EQ(FormatDatePattern("c", EncodeDateTime(1998, 1, 12, 0, 0, 1, 0)), "1/12/98 12:00:01 am");
  EXPECT_EQ(FormatDatePattern("", EncodeDateTime(1998, 1, 12, 0, 0, 0, 0)), "1/12/98");
}

TEST_F(DatePatternTest, OutputIsCutAt256Bytes) {
  std::string digits;
  for (int k = 0; k < 300; ++k) digits += static_cast<char>('0' + k % 10);
  EXPECT_EQ(FormatDatePattern(digits, ExampleValue()), digits.substr(0, 256));

  std::string pattern(254, 'x');
  EXPECT_EQ(FormatDatePattern(pattern + "mmmm", ExampleValue()), pattern + "Ja");
  EXPECT_EQ(FormatDatePattern(pattern + "yyyy", ExampleValue()), pattern + "19");
  EXPECT_EQ(FormatDatePattern(pattern + "'quoted'", ExampleValue()), pattern + "qu");
  EXPECT_EQ(FormatDatePattern(pattern + "c", ExampleValue()), pattern + "1/");
  EXPECT_EQ(FormatDatePattern(std::string(100, 'c'), ExampleValue()).size(), 18u);
  EXPECT_EQ(FormatDatePattern("c c c c c c c c c c c c c c c c c c c c", ExampleValue()).size(),
            256u);
}

TEST_F(DatePatternTest, DelimitersComeFromLocaleFormats) {
  LocaleFormats.DateDelimiter = '.';
  EXPECT_EQ(FormatDatePattern("dd/mm/yy hh:nn", ExampleValue()), "12.01.98 14:30");
  EXPECT_EQ(FormatDatePattern("ddddd", ExampleValue()), "1.12.98");
  LocaleFormats.TimeDelimiter = '-';
  EXPECT_EQ(FormatDatePattern("hh:nn", ExampleValue()), "14-30");
  EXPECT_EQ(FormatDatePattern("tt", ExampleValue()), "2-30-05 pm");
  LocaleFormats.DateDelimiter = '\0';
  EXPECT_EQ(FormatDatePattern("d/m", ExampleValue()), "121");
}

TEST_F(DatePatternTest, NamesComeFromLocaleFormats) {
  LocaleFormats.ShortMonthNames[0] = "jan.";
  LocaleFormats.LongMonthNames[0] = "januari";
  LocaleFormats.ShortDayNames[1] = "ma";
  LocaleFormats.LongDayNames[1] = "maandag";
  EXPECT_EQ(FormatDatePattern("mmm mmmm ddd dddd aaa aaaa", ExampleValue()),
            "jan. januari ma maandag ma maandag");
}

TEST_F(DatePatternTest, NestingStopsAtDepthThree) {
  LocaleFormats.ShortDateFormat = "[ddddd]";
  EXPECT_EQ(FormatDatePattern("ddddd", ExampleValue()), "[]");
  EXPECT_EQ(FormatDatePattern("c", ExampleValue()), "[] 2:30:05 pm");
  LocaleFormats.LongTimeFormat = "<c t tt dddddd> h";
  EXPECT_EQ(FormatDatePattern("tt", ExampleValue()), "<    > 14");
  LocaleFormats.ShortDateFormat = "ddddd";
  EXPECT_EQ(FormatDatePattern("ddddd", ExampleValue()), "");
}

TEST_F(DatePatternTest, EmptyLocalePatternRendersNothing) {
  LocaleFormats.ShortDateFormat = "";
  LocaleFormats.ShortTimeFormat = "";
  EXPECT_EQ(FormatDatePattern("[ddddd]", ExampleValue()), "[]");
  EXPECT_EQ(FormatDatePattern("[t]", ExampleValue()), "[]");
  EXPECT_EQ(FormatDatePattern("c", ExampleValue()), " 2:30:05 pm");
  EXPECT_EQ(FormatDatePattern("", ExampleValue()), " 2:30:05 pm");
}

TEST_F(DatePatternTest, NestedLevelsHaveTheirOwnLastToken) {
  // The nested level's "h" does not make the outer "m" a minute...
  LocaleFormats.ShortDateFormat = "h";
  EXPECT_EQ(FormatDatePattern("ddddd m", ExampleValue()), "14 1");
  // ...and the outer "h" does not make the nested "m" one.
  LocaleFormats.ShortTimeFormat = "m";
  EXPECT_EQ(FormatDatePattern("ht", ExampleValue()), "141");
}

TEST_F(DatePatternTest, TimestampPrefixPattern) {
  EXPECT_EQ(FormatDatePattern("dd/mm/yy hh:nn", EncodeDateTime(2026, 12, 7, 1, 38, 59, 999)),
            "07/12/26 01:38");
  EXPECT_EQ(FormatDatePattern("dd/mm/yy hh:nn", EncodeDateTime(2005, 3, 9, 23, 5, 0, 0)),
            "09/03/05 23:05");
  EXPECT_EQ(FormatDatePattern("dd/mm/yy hh:nn", EncodeDateTime(2000, 1, 1, 0, 0, 0, 0)),
            "01/01/00 00:00");
}

TEST(DateTimeValue, EncodesDaysSince30December1899) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_DOUBLE_EQ(ExampleValue(), 35807.0 + 52205000.0 / 86400000.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(9999, 12, 31, 0, 0, 0, 0), 2958465.0);
}

TEST(DateTimeValue, DecodesDatesAtDayAndYearBoundaries) {
  struct TCase {
    int Year, Month, Day, DayOfWeek;
    double Value;
    std::string Rendered;  // "yyyy-mm-dd dddd"
  };
  for (const TCase& c : std::vector<TCase>{
           {1899, 12, 30, 7, 0, "1899-12-30 Saturday"},
           {1899, 12, 31, 1, 1, "1899-12-31 Sunday"},
           {1900, 1, 1, 2, 2, "1900-01-01 Monday"},
           {1900, 2, 28, 4, 60, "1900-02-28 Wednesday"},
           {1900, 3, 1, 5, 61, "1900-03-01 Thursday"},
           {1998, 1, 12, 2, 35807, "1998-01-12 Monday"},
           {1999, 12, 31, 6, 36525, "1999-12-31 Friday"},
           {2000, 1, 1, 7, 36526, "2000-01-01 Saturday"},
           {2000, 2, 28, 2, 36584, "2000-02-28 Monday"},
           {2000, 2, 29, 3, 36585, "2000-02-29 Tuesday"},
           {2000, 3, 1, 4, 36586, "2000-03-01 Wednesday"},
           {2000, 12, 31, 1, 36891, "2000-12-31 Sunday"},
           {2001, 1, 1, 2, 36892, "2001-01-01 Monday"},
           {9999, 12, 31, 6, 2958465, "9999-12-31 Friday"},
           {1, 1, 1, 2, -693593, "0001-01-01 Monday"},
       }) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.Year, c.Month, c.Day, 0, 0, 0, 0), c.Value) << c.Rendered;
    TDecodedDate date = DecodeDate(c.Value + (c.Value >= 0 ? 0.75 : -0.75));
    EXPECT_EQ(date.Year, c.Year) << c.Rendered;
    EXPECT_EQ(date.Month, c.Month) << c.Rendered;
    EXPECT_EQ(date.Day, c.Day) << c.Rendered;
    EXPECT_EQ(date.DayOfWeek, c.DayOfWeek) << c.Rendered;
    if (c.Value >= 0) {
      EXPECT_EQ(FormatDatePattern("yyyy-mm-dd dddd", c.Value), c.Rendered);
    }
  }
}

TEST(DateTimeValue, DecodesTimeOfDayToTheMillisecond) {
  struct TCase {
    int Hour, Minute, Second, Millisecond;
  };
  for (const TCase& c : std::vector<TCase>{{0, 0, 0, 0},
                                           {0, 0, 0, 1},
                                           {12, 0, 0, 0},
                                           {14, 30, 5, 0},
                                           {23, 59, 59, 999},
                                           {9, 8, 7, 654}}) {
    for (int year : {1900, 2000, 9999}) {
      TDecodedTime time =
          DecodeTime(EncodeDateTime(year, 12, 31, c.Hour, c.Minute, c.Second, c.Millisecond));
      EXPECT_EQ(time.Hour, c.Hour);
      EXPECT_EQ(time.Minute, c.Minute);
      EXPECT_EQ(time.Second, c.Second);
      EXPECT_EQ(time.Millisecond, c.Millisecond) << year;
    }
  }
  // 23:59:59.999 on 31 December 9999 stays in that day.
  double last = EncodeDateTime(9999, 12, 31, 23, 59, 59, 999);
  EXPECT_EQ(FormatDatePattern("yyyy-mm-dd hh:nn:ss", last), "9999-12-31 23:59:59");
  // Half a millisecond rounds to the nearest whole one.
  TDecodedTime rounded = DecodeTime(2.0 + 1.6 / 86400000.0);
  EXPECT_EQ(rounded.Millisecond, 2);
}

TEST(DateTimeValue, CurrentLocalTimeIsTheLocalClock) {
  auto localNow = [] {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, 0);
  };
  double before = localNow();
  double value = CurrentLocalTime();
  double after = localNow();
  constexpr double kSecond = 1.0 / 86400.0;
  EXPECT_GE(value, before - kSecond / 1000);
  EXPECT_LE(value, after + kSecond);
  // The value holds a whole number of milliseconds.
  double fraction = value - static_cast<double>(static_cast<int64_t>(value));
  double ms = fraction * 86400000.0;
  EXPECT_NEAR(ms, static_cast<double>(static_cast<int64_t>(ms + 0.5)), 0.01);
}

}  // namespace

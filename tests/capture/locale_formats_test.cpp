#include "capture/locale_formats.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "capture/date_pattern.h"

namespace {

// A locale service with hand-made values; items it does not hold fail.
class TFakeLocaleSource : public TLocaleSource {
 public:
  uint32_t Locale = 0;
  std::map<int, std::string> Values;
  bool DoubleByte = false;
  std::vector<std::pair<uint8_t, uint8_t>> Ranges;
  std::vector<uint32_t> AskedLocales;

  uint32_t ThreadLocale() override { return Locale; }
  std::optional<std::string> LookUp(uint32_t localeId, int item) override {
    AskedLocales.push_back(localeId);
    auto found = Values.find(item);
    if (found == Values.end()) return std::nullopt;
    return found->second;
  }
  bool DoubleByteEnabled() override { return DoubleByte; }
  std::vector<std::pair<uint8_t, uint8_t>> LeadByteRanges() override { return Ranges; }
};

void ExpectDefaults(const TLocaleFormats& formats) {
  EXPECT_EQ(formats.DateDelimiter, '/');
  EXPECT_EQ(formats.TimeDelimiter, ':');
  EXPECT_EQ(formats.ShortDateFormat, "m/d/yy");
  EXPECT_EQ(formats.LongDateFormat, "mmmm d, yyyy");
  EXPECT_EQ(formats.ShortTimeFormat, "h:mm AMPM");
  EXPECT_EQ(formats.LongTimeFormat, "h:mm:ss AMPM");
  EXPECT_EQ(formats.AmMarker, "am");
  EXPECT_EQ(formats.PmMarker, "pm");
  EXPECT_EQ(formats.ShortMonthNames,
            (std::array<std::string, 12>{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug",
                                         "Sep", "Oct", "Nov", "Dec"}));
  EXPECT_EQ(formats.LongMonthNames,
            (std::array<std::string, 12>{"January", "February", "March", "April", "May", "June",
                                         "July", "August", "September", "October", "November",
                                         "December"}));
  EXPECT_EQ(formats.ShortDayNames,
            (std::array<std::string, 7>{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}));
  EXPECT_EQ(formats.LongDayNames,
            (std::array<std::string, 7>{"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday",
                                        "Friday", "Saturday"}));
  EXPECT_EQ(formats.LocaleId, LocaleEnglishUS);
  EXPECT_EQ(formats.PrimaryLanguage, 0x09);
  EXPECT_EQ(formats.SubLanguage, 0x01);
  EXPECT_FALSE(formats.DoubleByte);
  EXPECT_TRUE(formats.LeadBytes.none());
}

TEST(LocaleFormats, WithoutLocaleServiceEveryDefaultApplies) {
  TLocaleFormats saved = LocaleFormats;
  LocaleFormats = TLocaleFormats{};
  LoadLocaleFormats();
  ExpectDefaults(LocaleFormats);
  LocaleFormats = saved;
}

TEST(LocaleFormats, FailedLookupsTakeTheDefaults) {
  TFakeLocaleSource source;
  ExpectDefaults(BuildLocaleFormats(source));
  for (uint32_t asked : source.AskedLocales) EXPECT_EQ(asked, LocaleEnglishUS);
}

TEST(LocaleFormats, LanguageFactsComeFromTheThreadLocale) {
  struct TCase {
    uint32_t Locale;
    int Primary, Sub;
  };
  for (const TCase& c : std::vector<TCase>{{0x0411, 0x11, 0x01},
                                          {0x0404, 0x04, 0x01},
                                          {0x0804, 0x04, 0x02},
                                          {0x0407, 0x07, 0x01},
                                          {0x0C07, 0x07, 0x03},
                                          {0x00000409, 0x09, 0x01}}) {
    TFakeLocaleSource source;
    source.Locale = c.Locale;
    TLocaleFormats formats = BuildLocaleFormats(source);
    EXPECT_EQ(formats.LocaleId, c.Locale);
    EXPECT_EQ(formats.PrimaryLanguage, c.Primary) << std::hex << c.Locale;
    EXPECT_EQ(formats.SubLanguage, c.Sub) << std::hex << c.Locale;
    for (uint32_t asked : source.AskedLocales) EXPECT_EQ(asked, c.Locale);
  }
}

TEST(LocaleFormats, LeadBytesOnlyWithDoubleByteCharacterSet) {
  TFakeLocaleSource source;
  source.Ranges = {{0x81, 0x9F}, {0xE0, 0xFC}};
  EXPECT_TRUE(BuildLocaleFormats(source).LeadBytes.none());

  source.DoubleByte = true;
  source.Ranges = {{0x81, 0x83}, {0xE0, 0xE0}, {0, 0}, {0xF0, 0xF1}};
  TLocaleFormats formats = BuildLocaleFormats(source);
  EXPECT_TRUE(formats.DoubleByte);
  EXPECT_EQ(formats.LeadBytes.count(), 4u);
  for (int b : {0x81, 0x82, 0x83, 0xE0}) EXPECT_TRUE(formats.LeadBytes.test(b)) << b;
  EXPECT_FALSE(formats.LeadBytes.test(0xF0));

  // At most six ranges are read.
  source.Ranges = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}};
  formats = BuildLocaleFormats(source);
  EXPECT_EQ(formats.LeadBytes.count(), 6u);
  EXPECT_FALSE(formats.LeadBytes.test(7));
}

TEST(LocaleFormats, NamesFromTheLocaleWithSundayAsTheSeventhDay) {
  TFakeLocaleSource source;
  source.Values[LocaleSAbbrevMonthName1] = "jan.";
  source.Values[LocaleSMonthName1 + 11] = "december";
  source.Values[LocaleSMonthName1 + 10] = "";  // empty: default
  source.Values[LocaleSAbbrevDayName1] = "ma";        // Monday
  source.Values[LocaleSAbbrevDayName1 + 6] = "zo";    // Sunday
  source.Values[LocaleSDayName1 + 5] = "zaterdag";    // Saturday
  source.Values[LocaleSDayName1 + 6] = "zondag";      // Sunday
  TLocaleFormats formats = BuildLocaleFormats(source);
  EXPECT_EQ(formats.ShortMonthNames[0], "jan.");
  EXPECT_EQ(formats.ShortMonthNames[1], "Feb");
  EXPECT_EQ(formats.LongMonthNames[11], "december");
  EXPECT_EQ(formats.LongMonthNames[10], "November");
  EXPECT_EQ(formats.ShortDayNames[0], "zo");
  EXPECT_EQ(formats.ShortDayNames[1], "ma");
  EXPECT_EQ(formats.ShortDayNames[2], "Tue");
  EXPECT_EQ(formats.LongDayNames[0], "zondag");
  EXPECT_EQ(formats.LongDayNames[6], "zaterdag");
  EXPECT_EQ(formats.LongDayNames[1], "Monday");
}

TEST(LocaleFormats, TextAndCharacterSettings) {
  TFakeLocaleSource source;
  source.Values[LocaleSDate] = ".";
  source.Values[LocaleSTime] = "::";  // too long for its buffer: default
  source.Values[LocaleS1159] = "";    // an empty text stays empty
  source.Values[LocaleS2359] = "PM";
  source.Values[LocaleSShortDate] = "dd.MM.yyyy";
  source.Values[LocaleSLongDate] = std::string(256, 'd');  // does not fit: default
  TLocaleFormats formats = BuildLocaleFormats(source);
  EXPECT_EQ(formats.DateDelimiter, '.');
  EXPECT_EQ(formats.TimeDelimiter, ':');
  EXPECT_EQ(formats.AmMarker, "");
  EXPECT_EQ(formats.PmMarker, "PM");
  EXPECT_EQ(formats.ShortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(formats.LongDateFormat, "mmmm d, yyyy");

  source.Values[LocaleSLongDate] = std::string(255, 'd');
  source.Values[LocaleSDate] = "";
  formats = BuildLocaleFormats(source);
  EXPECT_EQ(formats.LongDateFormat, std::string(255, 'd'));
  EXPECT_EQ(formats.DateDelimiter, '\0');
}

TEST(LocaleFormats, BuiltTimeFormats) {
  struct TCase {
    std::string TLZero, Time, MarkPosn, Short, Long;
  };
  for (const TCase& c : std::vector<TCase>{
           {"0", "0", "0", "h:mm AMPM", "h:mm:ss AMPM"},
           {"1", "1", "0", "hh:mm", "hh:mm:ss"},
           {"0", "1", "0", "h:mm", "h:mm:ss"},
           {"1", "0", "1", "AMPM hh:mm", "AMPM hh:mm:ss"},
           {"0", "0", "2", "AMPM h:mm", "AMPM h:mm:ss"},
           {"x", "x", "x", "h:mm AMPM", "h:mm:ss AMPM"},  // no integer reads as 0
           {"", "", "", "h:mm AMPM", "h:mm:ss AMPM"},
           {" 1", "$0", "0x1", "AMPM hh:mm", "AMPM hh:mm:ss"},
       }) {
    SCOPED_TRACE(c.TLZero + "|" + c.Time + "|" + c.MarkPosn);
    EXPECT_EQ(BuildShortTimeFormat(c.TLZero, c.Time, c.MarkPosn), c.Short);
    EXPECT_EQ(BuildLongTimeFormat(c.TLZero, c.Time, c.MarkPosn), c.Long);

    TFakeLocaleSource source;
    source.Values[LocaleITLZero] = c.TLZero;
    source.Values[LocaleITime] = c.Time;
    source.Values[LocaleITimeMarkPosn] = c.MarkPosn;
    TLocaleFormats formats = BuildLocaleFormats(source);
    EXPECT_EQ(formats.ShortTimeFormat, c.Short);
    EXPECT_EQ(formats.LongTimeFormat, c.Long);
  }
  EXPECT_EQ(TimeHourPart("0"), "h");
  EXPECT_EQ(TimeHourPart("2"), "hh");
  EXPECT_EQ(TimeMarkerPlacement("0", "0").Suffix, " AMPM");
  EXPECT_EQ(TimeMarkerPlacement("0", "1").Prefix, "AMPM ");
  EXPECT_EQ(TimeMarkerPlacement("1", "1").Prefix, "");
}

TEST(LocaleFormats, EraTranslationOfDateFormats) {
  TLeadBytes none;
  TLeadBytes lead;
  lead.set(0x81);
  struct TCase {
    std::string Format;
    int Calendar, Language;
    const TLeadBytes* Lead;
    std::string Expected;
  };
  for (const TCase& c : std::vector<TCase>{
           {"gg yyyy/yy/y", 3, LangJapanese, &none, "ggg eeee/ee/e"},
           {"GGyyyyy", 4, LangChinese, &none, "gggeeeee"},
           {"g YYyY M", 5, LangKorean, &none, "g eeee M"},
           {"yyy", 3, 0x09, &none, "eee"},
           {"\x81y y", 3, LangJapanese, &lead, "\x81y e"},
           {"\x81y y", 3, LangJapanese, &none, "\x81" "e e"},
           {"y\x81", 3, LangJapanese, &lead, "e\x81"},
           {"gg yyyy", 1, LangJapanese, &none, " yyyy"},
           {"Gg yy", 2, LangChinese, &none, " yy"},
           {"ggg", 6, LangKorean, &none, ""},
           {"gg yyyy", 1, 0x09, &none, "gg yyyy"},
           {"gg yyyy", 0, 0x07, &none, "gg yyyy"},
       }) {
    EXPECT_EQ(TranslateDateFormatForEra(c.Format, c.Calendar, c.Language, *c.Lead), c.Expected)
        << c.Format << " calendar " << c.Calendar;
  }
}

TEST(LocaleFormats, EraTranslationDuringLoading) {
  TFakeLocaleSource source;
  source.Locale = 0x0411;  // Japanese
  source.Values[LocaleICalendarType] = "3";
  source.Values[LocaleSShortDate] = "gg y/M/d";
  TLocaleFormats formats = BuildLocaleFormats(source);
  EXPECT_EQ(formats.ShortDateFormat, "ggg e/M/d");
  EXPECT_EQ(formats.LongDateFormat, "mmmm d, eeee");

  source.Values[LocaleICalendarType] = "1";
  EXPECT_EQ(BuildLocaleFormats(source).ShortDateFormat, " y/M/d");
  source.Values[LocaleICalendarType] = "no number";  // reads as the default 1
  EXPECT_EQ(BuildLocaleFormats(source).ShortDateFormat, " y/M/d");
}

TEST(LocaleFormats, HandMadeLocaleRendersThroughThePatterns) {
  TFakeLocaleSource source;
  source.Locale = 0x0407;
  source.Values[LocaleSDate] = ".";
  source.Values[LocaleSShortDate] = "dd.MM.yyyy";
  source.Values[LocaleSLongDate] = "dddd, d. MMMM yyyy";
  source.Values[LocaleITLZero] = "1";
  source.Values[LocaleITime] = "1";
  source.Values[LocaleSMonthName1] = "Januar";
  source.Values[LocaleSDayName1] = "Montag";
  TLocaleFormats saved = LocaleFormats;
  LocaleFormats = BuildLocaleFormats(source);
  double value = EncodeDateTime(1998, 1, 12, 14, 30, 5, 0);
  EXPECT_EQ(FormatDatePattern("c", value), "12.01.1998 14:30:05");
  EXPECT_EQ(FormatDatePattern("dddddd", value), "Montag, 12. Januar 1998");
  EXPECT_EQ(FormatDatePattern("t", value), "14:30");
  EXPECT_EQ(FormatDatePattern("dd/mm/yy hh:nn", value), "12.01.98 14:30");
  LocaleFormats = saved;
}

}  // namespace

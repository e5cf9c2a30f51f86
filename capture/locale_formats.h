#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The set of bytes that start a two-byte character of the ANSI code page.
using TLeadBytes = std::bitset<256>;

// The locale's separators, formats and names that some date-time pattern
// specifiers expand to, plus the few facts about the system locale that the
// formatter and the era translation need. One process-wide record.
struct TLocaleFormats {
  char DateDelimiter = '/';
  char TimeDelimiter = ':';
  std::string ShortDateFormat;
  std::string LongDateFormat;
  std::string ShortTimeFormat;
  std::string LongTimeFormat;
  std::string AmMarker;
  std::string PmMarker;
  std::array<std::string, 12> ShortMonthNames;  // January first
  std::array<std::string, 12> LongMonthNames;
  std::array<std::string, 7> ShortDayNames;  // Sunday first
  std::array<std::string, 7> LongDayNames;

  uint32_t LocaleId = 0;
  int PrimaryLanguage = 0;
  int SubLanguage = 0;
  bool DoubleByte = false;
  TLeadBytes LeadBytes;
};

// Filled with every default at process start, so that it is usable even before
// LoadLocaleFormats runs; LoadLocaleFormats replaces it wholesale.
extern TLocaleFormats LocaleFormats;

// Reads the locale settings into LocaleFormats. This platform has no locale
// service, so every lookup fails and every default applies.
void LoadLocaleFormats();

// ---------------------------------------------------------------------------
// The steps of LoadLocaleFormats, open to a locale service plugged in later and
// to tests that hand in made-up locale values.

// Locale item numbers, with the values the Windows locale service gives them.
enum TLocaleItem : int {
  LocaleSDate = 0x1D,
  LocaleSTime = 0x1E,
  LocaleSShortDate = 0x1F,
  LocaleSLongDate = 0x20,
  LocaleITime = 0x23,
  LocaleITLZero = 0x25,
  LocaleS1159 = 0x28,
  LocaleS2359 = 0x29,
  LocaleSDayName1 = 0x2A,        // Monday; ..7 is Sunday
  LocaleSAbbrevDayName1 = 0x31,  // Monday; ..7 is Sunday
  LocaleSMonthName1 = 0x38,      // January; ..12 is December
  LocaleSAbbrevMonthName1 = 0x44,
  LocaleITimeMarkPosn = 0x1005,
  LocaleICalendarType = 0x1009,
};

// Primary language identifiers the era rules look at.
constexpr int LangChinese = 0x04;
constexpr int LangJapanese = 0x11;
constexpr int LangKorean = 0x12;
constexpr int SubLangChineseTraditional = 0x01;
constexpr uint32_t LocaleEnglishUS = 0x0409;

// Where LoadLocaleFormats looks values up.
class TLocaleSource {
 public:
  virtual ~TLocaleSource() = default;
  // The thread locale; 0 when there is none.
  virtual uint32_t ThreadLocale() = 0;
  // The locale's value of one item, or nothing when the lookup fails. The
  // caller applies the buffer-size rules.
  virtual std::optional<std::string> LookUp(uint32_t localeId, int item) = 0;
  // Whether the system runs a double-byte character set.
  virtual bool DoubleByteEnabled() = 0;
  // The lead-byte ranges of the ANSI code page, as the platform reports them
  // (at most 6 are read; a range of two zero bytes ends the list).
  virtual std::vector<std::pair<uint8_t, uint8_t>> LeadByteRanges() = 0;
};

// The locale service of this platform: there is none.
class TNoLocaleSource : public TLocaleSource {
 public:
  uint32_t ThreadLocale() override { return 0; }
  std::optional<std::string> LookUp(uint32_t, int) override { return std::nullopt; }
  bool DoubleByteEnabled() override { return false; }
  std::vector<std::pair<uint8_t, uint8_t>> LeadByteRanges() override { return {}; }
};

// Every step of LoadLocaleFormats, on the given source.
TLocaleFormats BuildLocaleFormats(TLocaleSource& source);

// "h" when the ITLZERO text reads as integer 0, else "hh".
std::string TimeHourPart(std::string_view itlzero);

// The AMPM marker's prefix and suffix: for a 12-hour clock (ITIME reads as 0)
// the suffix " AMPM" when ITIMEMARKPOSN reads as 0, else the prefix "AMPM ";
// for a 24-hour clock neither.
struct TTimeMarkerPlacement {
  std::string Prefix;
  std::string Suffix;
};
TTimeMarkerPlacement TimeMarkerPlacement(std::string_view itime, std::string_view itimemarkposn);

// The built time formats: prefix + hour part + ":mm" (+ ":ss") + suffix.
std::string BuildShortTimeFormat(std::string_view itlzero, std::string_view itime,
                                 std::string_view itimemarkposn);
std::string BuildLongTimeFormat(std::string_view itlzero, std::string_view itime,
                                std::string_view itimemarkposn);

// The era translation of a date format for the given calendar type and
// primary language.
std::string TranslateDateFormatForEra(std::string_view format, int calendarType,
                                      int primaryLanguage, const TLeadBytes& leadBytes);

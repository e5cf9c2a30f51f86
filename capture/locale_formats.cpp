#include "capture/locale_formats.h"

#include <cstddef>

#include "base/text.h"

namespace {

// The locale service fills 256-byte buffers for texts and 2-byte buffers for
// one-character settings; a value that does not fit with its terminator fails.
constexpr size_t kTextBufferSize = 256;
constexpr size_t kCharBufferSize = 2;

constexpr std::array<const char*, 12> kShortMonthNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 12> kLongMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kShortDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kLongDayNames = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

constexpr int kMaxLeadByteRanges = 6;

bool IsAsciiLetter(char c, char lower) { return c == lower || c == lower - 'a' + 'A'; }

bool StartsWithIgnoringCase(std::string_view text, size_t at, std::string_view lowerWord) {
  if (text.size() - at < lowerWord.size()) return false;
  for (size_t k = 0; k < lowerWord.size(); ++k) {
    if (!IsAsciiLetter(text[at + k], lowerWord[k])) return false;
  }
  return true;
}

class TLocaleReader {
 public:
  TLocaleReader(TLocaleSource& source, uint32_t localeId) : source_(source), localeId_(localeId) {}

  // A text setting: the locale's value (an empty value stays empty) or the
  // default when the lookup fails.
  std::string Text(int item, const char* fallback) {
    std::optional<std::string> value = source_.LookUp(localeId_, item);
    if (!value || value->size() >= kTextBufferSize) return fallback;
    return *value;
  }

  // A name: a failed lookup and an empty value both take the default.
  std::string Name(int item, const char* fallback) {
    std::string value = Text(item, fallback);
    return value.empty() ? std::string(fallback) : value;
  }

  // A one-character setting: its first character (the terminator for an empty
  // value); a value of more than one character does not fit and fails.
  char Character(int item, char fallback) {
    std::optional<std::string> value = source_.LookUp(localeId_, item);
    if (!value || value->size() >= kCharBufferSize) return fallback;
    return value->empty() ? '\0' : (*value)[0];
  }

 private:
  TLocaleSource& source_;
  uint32_t localeId_;
};

TLeadBytes ReadLeadBytes(TLocaleSource& source) {
  TLeadBytes leadBytes;
  std::vector<std::pair<uint8_t, uint8_t>> ranges = source.LeadByteRanges();
  for (size_t r = 0; r < ranges.size() && r < kMaxLeadByteRanges; ++r) {
    auto [low, high] = ranges[r];
    if (low == 0 && high == 0) break;
    for (int b = low; b <= high; ++b) leadBytes.set(static_cast<size_t>(b));
  }
  return leadBytes;
}

std::string BuildTimeFormat(std::string_view itlzero, std::string_view itime,
                            std::string_view itimemarkposn, std::string_view rest) {
  TTimeMarkerPlacement placement = TimeMarkerPlacement(itime, itimemarkposn);
  std::string format = placement.Prefix;
  format += TimeHourPart(itlzero);
  format += rest;
  format += placement.Suffix;
  return format;
}

}  // namespace

TLocaleFormats LocaleFormats = [] {
  TNoLocaleSource none;
  return BuildLocaleFormats(none);
}();

void LoadLocaleFormats() {
  TNoLocaleSource none;
  LocaleFormats = BuildLocaleFormats(none);
}

TLocaleFormats BuildLocaleFormats(TLocaleSource& source) {
  TLocaleFormats formats;

  // System locale facts.
  formats.LocaleId = source.ThreadLocale();
  if (formats.LocaleId == 0) formats.LocaleId = LocaleEnglishUS;
  uint32_t languageId = formats.LocaleId & 0xFFFF;
  formats.PrimaryLanguage = static_cast<int>(languageId & 0x3FF);
  formats.SubLanguage = static_cast<int>((languageId >> 10) & 0x3F);
  formats.DoubleByte = source.DoubleByteEnabled();
  if (formats.DoubleByte) formats.LeadBytes = ReadLeadBytes(source);

  TLocaleReader reader(source, formats.LocaleId);

  // Month and day names. The locale numbers its days from Monday; our lists
  // start on Sunday, which is the locale's seventh day.
  for (int month = 0; month < 12; ++month) {
    formats.ShortMonthNames[month] =
        reader.Name(LocaleSAbbrevMonthName1 + month, kShortMonthNames[month]);
    formats.LongMonthNames[month] = reader.Name(LocaleSMonthName1 + month, kLongMonthNames[month]);
  }
  for (int day = 0; day < 7; ++day) {
    int localeDay = (day + 6) % 7;  // Sunday -> 6, Monday -> 0, ...
    formats.ShortDayNames[day] =
        reader.Name(LocaleSAbbrevDayName1 + localeDay, kShortDayNames[day]);
    formats.LongDayNames[day] = reader.Name(LocaleSDayName1 + localeDay, kLongDayNames[day]);
  }

  // The remaining settings, in the order the locale is asked for them.
  formats.DateDelimiter = reader.Character(LocaleSDate, '/');
  int calendarType = ParseIntegerOr(reader.Text(LocaleICalendarType, "1"), 1);
  formats.ShortDateFormat =
      TranslateDateFormatForEra(reader.Text(LocaleSShortDate, "m/d/yy"), calendarType,
                                formats.PrimaryLanguage, formats.LeadBytes);
  formats.LongDateFormat =
      TranslateDateFormatForEra(reader.Text(LocaleSLongDate, "mmmm d, yyyy"), calendarType,
                                formats.PrimaryLanguage, formats.LeadBytes);
  formats.TimeDelimiter = reader.Character(LocaleSTime, ':');
  formats.AmMarker = reader.Text(LocaleS1159, "am");
  formats.PmMarker = reader.Text(LocaleS2359, "pm");
  std::string itlzero = reader.Text(LocaleITLZero, "0");
  std::string itime = reader.Text(LocaleITime, "0");
  std::string itimemarkposn = reader.Text(LocaleITimeMarkPosn, "0");
  formats.ShortTimeFormat = BuildShortTimeFormat(itlzero, itime, itimemarkposn);
  formats.LongTimeFormat = BuildLongTimeFormat(itlzero, itime, itimemarkposn);
  return formats;
}

std::string TimeHourPart(std::string_view itlzero) {
  return ParseIntegerOr(itlzero, 0) == 0 ? "h" : "hh";
}

TTimeMarkerPlacement TimeMarkerPlacement(std::string_view itime, std::string_view itimemarkposn) {
  TTimeMarkerPlacement placement;
  if (ParseIntegerOr(itime, 0) == 0) {
    if (ParseIntegerOr(itimemarkposn, 0) == 0) {
      placement.Suffix = " AMPM";
    } else {
      placement.Prefix = "AMPM ";
    }
  }
  return placement;
}

std::string BuildShortTimeFormat(std::string_view itlzero, std::string_view itime,
                                 std::string_view itimemarkposn) {
  return BuildTimeFormat(itlzero, itime, itimemarkposn, ":mm");
}

std::string BuildLongTimeFormat(std::string_view itlzero, std::string_view itime,
                                std::string_view itimemarkposn) {
  return BuildTimeFormat(itlzero, itime, itimemarkposn, ":mm:ss");
}

std::string TranslateDateFormatForEra(std::string_view format, int calendarType,
                                      int primaryLanguage, const TLeadBytes& leadBytes) {
  // The era calendars (Japanese emperor era, Taiwan, Korean) show years within
  // the era and a longer era name.
  constexpr int kCalendarJapan = 3;
  constexpr int kCalendarKorea = 5;
  bool eraCalendar = calendarType >= kCalendarJapan && calendarType <= kCalendarKorea;

  std::string result;
  if (!eraCalendar) {
    bool removeEra = primaryLanguage == LangChinese || primaryLanguage == LangJapanese ||
                     primaryLanguage == LangKorean;
    if (!removeEra) return std::string(format);
    for (char c : format) {
      if (c != 'g' && c != 'G') result += c;
    }
    return result;
  }

  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (leadBytes.test(static_cast<unsigned char>(c))) {
      size_t length = i + 1 < format.size() ? 2 : 1;
      result.append(format.substr(i, length));
      i += length;
    } else if (StartsWithIgnoringCase(format, i, "gg")) {
      result += "ggg";
      i += 2;
    } else if (StartsWithIgnoringCase(format, i, "yyyy")) {
      result += "eeee";
      i += 4;
    } else if (StartsWithIgnoringCase(format, i, "yy")) {
      result += "ee";
      i += 2;
    } else if (c == 'y' || c == 'Y') {
      result += 'e';
      i += 1;
    } else {
      result += c;
      i += 1;
    }
  }
  return result;
}

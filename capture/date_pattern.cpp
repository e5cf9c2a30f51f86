#include "capture/date_pattern.h"

#include <cmath>
#include <cstddef>
#include <ctime>
#include <iterator>

#include "base/text.h"
#include "capture/locale_formats.h"

namespace {

constexpr int64_t kMillisecondsPerDay = 86400000;
constexpr size_t kOutputSize = 256;
// The operator's pattern is level 1; a locale pattern is level 2; a locale
// pattern asked for from level 2 renders nothing.
constexpr int kDeepestLevel = 2;

// Days from 30 December 1899 to 1 January 1970.
constexpr int64_t kUnixEpochDay = 25569;
// The day numbers of 1 January 0001 and 31 December 9999.
constexpr int64_t kFirstDay = -693593;
constexpr int64_t kLastDay = 2958465;

// Days since 1 January 1970 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// True when text from at on begins with the word, ASCII case ignored.
bool MatchesIgnoringCase(std::string_view text, size_t at, std::string_view word) {
  return SameTextIgnoringCase(text.substr(at, word.size()), word);
}

// True when an am/pm marker ("AM/PM", "A/P" or "AMPM", any case) starts at at.
bool IsMarkerAt(std::string_view pattern, size_t at) {
  return MatchesIgnoringCase(pattern, at, "AM/PM") || MatchesIgnoringCase(pattern, at, "A/P") ||
         MatchesIgnoringCase(pattern, at, "AMPM");
}

// The tokens whose specifier is a run of the starter repeated, same letter in
// the same case; the run's length picks the form.
bool TakesRun(char token) {
  return std::string_view("YMDHNSTCGE").find(token) != std::string_view::npos;
}

// Hours, minutes and seconds show with one digit or two, never more.
int AtMostTwoDigits(int runLength) { return runLength > 2 ? 2 : runLength; }

// 0 shows as 12 and 13..23 as 1..11.
unsigned OnTwelveHourClock(unsigned hour) {
  if (hour == 0) return 12;
  return hour > 12 ? hour - 12 : hour;
}

// The one output buffer of a rendering; appends past its end are dropped.
// Given a shape, it also records which bytes are numbers and words.
class TOutput {
 public:
  explicit TOutput(std::vector<TPatternPiece>* shape = nullptr) : shape_(shape) {}

  void Append(const char* bytes, size_t count) {
    if (shape_ != nullptr) AppendShapeText(std::string_view(bytes, count));
    AppendBytes(bytes, count);
  }
  void Append(std::string_view text) { Append(text.data(), text.size()); }
  void Append(char byte) { Append(&byte, 1); }

  // The number in decimal, padded on the left with "0" to at least digits.
  void AppendNumber(unsigned number, int digits) {
    char reversed[16];
    int count = 0;
    do {
      reversed[count++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    while (count < digits) reversed[count++] = '0';
    char text[16];
    for (int k = 0; k < count; ++k) text[k] = reversed[count - 1 - k];
    // Every number rendered here is below 100, except the four-digit year.
    if (shape_ != nullptr) {
      TPatternPiece piece;
      piece.MinDigits = digits;
      piece.MaxDigits = digits > 2 ? digits : 2;
      shape_->push_back(piece);
    }
    AppendBytes(text, static_cast<size_t>(count));
  }

  // One word of several that the same specifier shows at other times.
  template <typename TWords>
  void AppendWord(std::string_view word, const TWords& words) {
    if (shape_ != nullptr) {
      TPatternPiece piece;
      piece.Words.assign(std::begin(words), std::end(words));
      shape_->push_back(piece);
    }
    AppendBytes(word.data(), word.size());
  }

  std::string Text() const { return std::string(bytes_, length_); }

 private:
  void AppendBytes(const char* bytes, size_t count) {
    size_t room = kOutputSize - length_;
    if (count > room) count = room;
    for (size_t k = 0; k < count; ++k) bytes_[length_ + k] = bytes[k];
    length_ += count;
  }
  void AppendShapeText(std::string_view text) {
    if (shape_->empty() || shape_->back().MaxDigits > 0 || !shape_->back().Words.empty())
      shape_->emplace_back();
    shape_->back().Text += text;
  }

  std::vector<TPatternPiece>* shape_;
  char bytes_[kOutputSize];
  size_t length_ = 0;
};

class TRenderer {
 public:
  TRenderer(double value, const TLocaleFormats& formats,
            std::vector<TPatternPiece>* shape = nullptr)
      : value_(value), formats_(formats), output_(shape) {}

  void RenderLevel(std::string_view pattern);
  std::string Text() const { return output_.Text(); }

 private:
  // The state of one rendering level.
  struct TLevel {
    std::string_view Pattern;
    size_t Next = 0;  // index of the next unread byte
    char LastToken = ' ';
    bool Use12HourClock = false;
    bool DateDecoded = false;
    bool TimeDecoded = false;
    TDecodedDate Date;
    TDecodedTime Time;
  };

  const TDecodedDate& DateOf(TLevel& level) const;
  const TDecodedTime& TimeOf(TLevel& level) const;
  static int ConsumeRun(TLevel& level, char starter);
  void LookAheadForMarker(TLevel& level) const;
  void AppendToken(TLevel& level, char starter, char token);
  void AppendRun(TLevel& level, char token, int count);
  void AppendYear(TLevel& level, int count);
  void AppendMonth(TLevel& level, int count);
  void AppendDay(TLevel& level, int count);
  void AppendDayName(TLevel& level, bool longName);
  void AppendHour(TLevel& level, int count);
  void AppendDateAndTime(TLevel& level);
  void AppendMarkerOrDayName(TLevel& level, char starter);
  bool AppendMarker(TLevel& level, size_t at);
  void AppendQuoted(TLevel& level, char quote);
  void AppendDelimiter(char delimiter);

  double value_;
  const TLocaleFormats& formats_;
  TOutput output_;
  int depth_ = 0;  // levels being rendered
};

const TDecodedDate& TRenderer::DateOf(TLevel& level) const {
  if (!level.DateDecoded) {
    level.Date = DecodeDate(value_);
    level.DateDecoded = true;
  }
  return level.Date;
}

const TDecodedTime& TRenderer::TimeOf(TLevel& level) const {
  if (!level.TimeDecoded) {
    level.Time = DecodeTime(value_);
    level.TimeDecoded = true;
  }
  return level.Time;
}

// Consumes the rest of a run of bytes equal to the starter (already consumed)
// and gives the run's length.
int TRenderer::ConsumeRun(TLevel& level, char starter) {
  int count = 1;
  while (level.Next < level.Pattern.size() && level.Pattern[level.Next] == starter) {
    ++level.Next;
    ++count;
  }
  return count;
}

// After an hour run: an am/pm marker ahead of the next hour, outside quotes,
// switches the level to the 12-hour clock.
void TRenderer::LookAheadForMarker(TLevel& level) const {
  std::string_view pattern = level.Pattern;
  bool inQuotes = false;
  size_t at = level.Next;
  while (at < pattern.size()) {
    char c = pattern[at];
    if (c == 'h' || c == 'H') return;
    if ((c == 'a' || c == 'A') && !inQuotes) {
      if (IsMarkerAt(pattern, at)) level.Use12HourClock = true;
      return;
    }
    if (c == '\'' || c == '"') inQuotes = !inQuotes;
    ++at;
  }
}

// One specifier or ordinary character; its starter is already consumed.
void TRenderer::AppendToken(TLevel& level, char starter, char token) {
  if (TakesRun(token)) {
    AppendRun(level, token, ConsumeRun(level, starter));
  } else if (token == 'A') {
    AppendMarkerOrDayName(level, starter);
  } else if (token == '/') {
    AppendDelimiter(formats_.DateDelimiter);
  } else if (token == ':') {
    AppendDelimiter(formats_.TimeDelimiter);
  } else if (token == '\'' || token == '"') {
    AppendQuoted(level, starter);
  } else {
    output_.Append(starter);
  }
}

void TRenderer::AppendRun(TLevel& level, char token, int count) {
  switch (token) {
    case 'Y':
      AppendYear(level, count);
      break;
    case 'M':
      AppendMonth(level, count);
      break;
    case 'D':
      AppendDay(level, count);
      break;
    case 'H':
      AppendHour(level, count);
      break;
    case 'N':
      output_.AppendNumber(TimeOf(level).Minute, AtMostTwoDigits(count));
      break;
    case 'S':
      output_.AppendNumber(TimeOf(level).Second, AtMostTwoDigits(count));
      break;
    case 'T':
      RenderLevel(count == 1 ? formats_.ShortTimeFormat : formats_.LongTimeFormat);
      break;
    case 'C':
      AppendDateAndTime(level);
      break;
    default:
      // "G" and "E": the era name and the year within the era come from an
      // alternate calendar, which this platform does not have: the run
      // shows nothing.
      break;
  }
}

void TRenderer::AppendYear(TLevel& level, int count) {
  unsigned year = DateOf(level).Year;
  if (count <= 2) {
    output_.AppendNumber(year % 100, 2);
  } else {
    output_.AppendNumber(year, 4);
  }
}

// A month outside the calendar (0) has no name to show.
void TRenderer::AppendMonth(TLevel& level, int count) {
  unsigned month = DateOf(level).Month;
  if (count <= 2) {
    output_.AppendNumber(month, count);
  } else if (month >= 1 && month <= 12) {
    const auto& names = count == 3 ? formats_.ShortMonthNames : formats_.LongMonthNames;
    output_.AppendWord(names[month - 1], names);
  }
}

void TRenderer::AppendDay(TLevel& level, int count) {
  if (count <= 2) {
    output_.AppendNumber(DateOf(level).Day, count);
  } else if (count <= 4) {
    AppendDayName(level, count == 4);
  } else {
    RenderLevel(count == 5 ? formats_.ShortDateFormat : formats_.LongDateFormat);
  }
}

// A day outside the calendar (day of week 0) has no name to show.
void TRenderer::AppendDayName(TLevel& level, bool longName) {
  unsigned dayOfWeek = DateOf(level).DayOfWeek;
  if (dayOfWeek < 1) return;
  const auto& names = longName ? formats_.LongDayNames : formats_.ShortDayNames;
  output_.AppendWord(names[dayOfWeek - 1], names);
}

void TRenderer::AppendHour(TLevel& level, int count) {
  LookAheadForMarker(level);
  unsigned hour = TimeOf(level).Hour;
  if (level.Use12HourClock) hour = OnTwelveHourClock(hour);
  output_.AppendNumber(hour, AtMostTwoDigits(count));
}

// The short date and, unless the time is midnight to the second, the long
// time.
void TRenderer::AppendDateAndTime(TLevel& level) {
  RenderLevel(formats_.ShortDateFormat);
  const TDecodedTime& time = TimeOf(level);
  if (time.Hour == 0 && time.Minute == 0 && time.Second == 0) return;
  output_.Append(' ');
  RenderLevel(formats_.LongTimeFormat);
}

// An "a" or "A" starter (already consumed): an am/pm marker, a day name, or
// the starter itself.
void TRenderer::AppendMarkerOrDayName(TLevel& level, char starter) {
  size_t at = level.Next - 1;
  if (AppendMarker(level, at)) {
    level.Use12HourClock = true;
  } else if (MatchesIgnoringCase(level.Pattern, at, "AAAA")) {
    AppendDayName(level, true);
    level.Next = at + 4;
  } else if (MatchesIgnoringCase(level.Pattern, at, "AAA")) {
    AppendDayName(level, false);
    level.Next = at + 3;
  } else {
    output_.Append(starter);
  }
}

// An am/pm marker at at shows the half of the day and is consumed; false when
// there is none. "AM/PM" and "A/P" show as written, in the pattern's case.
bool TRenderer::AppendMarker(TLevel& level, size_t at) {
  std::string_view pattern = level.Pattern;
  bool beforeNoon = TimeOf(level).Hour < 12;
  if (MatchesIgnoringCase(pattern, at, "AM/PM")) {
    const std::string_view halves[] = {pattern.substr(at, 2), pattern.substr(at + 3, 2)};
    output_.AppendWord(halves[beforeNoon ? 0 : 1], halves);
    level.Next = at + 5;
  } else if (MatchesIgnoringCase(pattern, at, "A/P")) {
    const std::string_view halves[] = {pattern.substr(at, 1), pattern.substr(at + 2, 1)};
    output_.AppendWord(halves[beforeNoon ? 0 : 1], halves);
    level.Next = at + 3;
  } else if (MatchesIgnoringCase(pattern, at, "AMPM")) {
    const std::string_view halves[] = {formats_.AmMarker, formats_.PmMarker};
    output_.AppendWord(halves[beforeNoon ? 0 : 1], halves);
    level.Next = at + 4;
  } else {
    return false;
  }
  return true;
}

// The opening quote is consumed; copies up to the same quote, which is
// consumed and not copied. An unclosed quote copies to the end of the pattern.
void TRenderer::AppendQuoted(TLevel& level, char quote) {
  std::string_view text = level.Pattern.substr(level.Next);
  size_t closing = text.find(quote);
  output_.Append(text.substr(0, closing));
  level.Next = closing == std::string_view::npos ? level.Pattern.size() : level.Next + closing + 1;
}

// A locale without a separator character has none to show.
void TRenderer::AppendDelimiter(char delimiter) {
  if (delimiter != '\0') output_.Append(delimiter);
}

// A level renders nothing when its pattern is empty or when it would be
// nested deeper than a locale pattern.
void TRenderer::RenderLevel(std::string_view pattern) {
  if (pattern.empty() || depth_ >= kDeepestLevel) return;
  ++depth_;
  TLevel state;
  state.Pattern = pattern;
  while (state.Next < pattern.size()) {
    char starter = pattern[state.Next];
    ++state.Next;
    char token = UpperAscii(starter);
    if (token >= 'A' && token <= 'Z') {
      if (token == 'M' && state.LastToken == 'H') token = 'N';
      state.LastToken = token;
    }
    AppendToken(state, starter, token);
  }
  --depth_;
}

}  // namespace

TDecodedDate DecodeDate(double value) {
  TDecodedDate date;
  double whole = std::trunc(value);
  if (!(whole >= static_cast<double>(kFirstDay) && whole <= static_cast<double>(kLastDay))) {
    return date;
  }
  int64_t day = static_cast<int64_t>(whole);
  // Civil date from days since 1 January 1970.
  int64_t z = day - kUnixEpochDay + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t dayOfEra = z - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  int64_t monthDay = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  date.Year = static_cast<uint16_t>(year);
  date.Month = static_cast<uint16_t>(month);
  date.Day = static_cast<uint16_t>(monthDay);
  // Day 1 of the calendar (1 January 0001) is a Monday; 30 December 1899 a Saturday.
  date.DayOfWeek = static_cast<uint16_t>((day - kFirstDay + 1) % 7 + 1);
  return date;
}

TDecodedTime DecodeTime(double value) {
  TDecodedTime time;
  double fraction = std::fabs(value - std::trunc(value));
  if (!std::isfinite(fraction)) return time;
  int64_t ms = std::llround(fraction * static_cast<double>(kMillisecondsPerDay));
  time.Hour = static_cast<uint16_t>(ms / 3600000);
  time.Minute = static_cast<uint16_t>(ms / 60000 % 60);
  time.Second = static_cast<uint16_t>(ms / 1000 % 60);
  time.Millisecond = static_cast<uint16_t>(ms % 1000);
  return time;
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
  double date = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  int64_t ms = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  double time = static_cast<double>(ms) / static_cast<double>(kMillisecondsPerDay);
  // Before day 0 the fraction counts backwards with the day, as DecodeTime reads it.
  return date >= 0 ? date + time : date - time;
}

double CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  // A leap second shows as the last second of its minute.
  int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, second, static_cast<int>(now.tv_nsec / 1000000));
}

std::string FormatDatePattern(std::string_view pattern, double value) {
  TRenderer renderer(value, LocaleFormats);
  renderer.RenderLevel(pattern.empty() ? std::string_view("C") : pattern);
  return renderer.Text();
}

std::vector<TPatternPiece> DatePatternShape(std::string_view pattern) {
  std::vector<TPatternPiece> shape;
  // Any value shows every piece, except "c" at midnight: one second past
  // noon is not midnight.
  TRenderer renderer(EncodeDateTime(2000, 1, 1, 12, 0, 1, 0), LocaleFormats, &shape);
  renderer.RenderLevel(pattern.empty() ? std::string_view("C") : pattern);
  return shape;
}

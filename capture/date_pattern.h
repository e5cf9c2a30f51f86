#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A date-time value: the integral part counts days since 30 December 1899,
// the fraction is the time of day (0.5 is noon).

struct TDecodedDate {
  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t DayOfWeek = 0;  // 1 = Sunday .. 7 = Saturday
};

struct TDecodedTime {
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Millisecond = 0;
};

// The proleptic Gregorian date of the value's day (years 1..9999; all fields
// 0 outside that range).
TDecodedDate DecodeDate(double value);

// The time of day, rounded to the nearest millisecond.
TDecodedTime DecodeTime(double value);

// The value of a date and a time of day.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond);

// The local wall-clock date and time, to the millisecond. Never fails.
double CurrentLocalTime();

// Renders the value through a date-time pattern, with the separators, formats
// and names of LocaleFormats. Never fails; the result is at most 256 bytes.
// The empty pattern renders as "c".
std::string FormatDatePattern(std::string_view pattern, double value);

// One piece of every name a pattern renders, whatever the time: text it
// always shows, a number of MinDigits to MaxDigits digits, or one of a few
// words (month and day names, am/pm markers).
struct TPatternPiece {
  std::string Text;
  int MinDigits = 0;
  int MaxDigits = 0;               // a number when above 0
  std::vector<std::string> Words;  // a word when not empty
};

// The pieces FormatDatePattern renders the pattern into at any time of day,
// long names included. "c" is taken with its time part, which a value at
// midnight to the second does not show.
std::vector<TPatternPiece> DatePatternShape(std::string_view pattern);

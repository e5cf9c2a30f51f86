#pragma once

#include <array>
#include <string>

// The locale's separators, formats and names that some date-time pattern
// specifiers expand to. One process-wide record. This platform has no locale
// service, so the values below are the only ones the program ever uses.
struct TLocaleFormats {
  char DateDelimiter = '/';
  char TimeDelimiter = ':';
  std::string ShortDateFormat = "m/d/yy";
  std::string LongDateFormat = "mmmm d, yyyy";
  // The "m" after "h" makes these minutes; "AMPM" shows the markers below.
  std::string ShortTimeFormat = "h:mm AMPM";
  std::string LongTimeFormat = "h:mm:ss AMPM";
  std::string AmMarker = "am";
  std::string PmMarker = "pm";
  std::array<std::string, 12> ShortMonthNames = {  // January first
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames = {  // Sunday first
      "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};
};

// Holds every default from process start, so that it is usable even before
// LoadLocaleFormats runs.
extern TLocaleFormats LocaleFormats;

// Reads the locale settings into LocaleFormats. Without a locale service
// that means every default applies again.
void LoadLocaleFormats();

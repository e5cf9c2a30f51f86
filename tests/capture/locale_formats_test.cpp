#include "capture/locale_formats.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
  EXPECT_EQ(
      formats.LongMonthNames,
      (std::array<std::string, 12>{"January", "February", "March", "April", "May", "June", "July",
                                   "August", "September", "October", "November", "December"}));
  EXPECT_EQ(formats.ShortDayNames,
            (std::array<std::string, 7>{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}));
  EXPECT_EQ(formats.LongDayNames,
            (std::array<std::string, 7>{"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday",
                                        "Friday", "Saturday"}));
}

TEST(LocaleFormats, WithoutLocaleServiceEveryDefaultApplies) {
  ExpectDefaults(TLocaleFormats{});

  TLocaleFormats saved = LocaleFormats;
  LocaleFormats.DateDelimiter = '.';
  LocaleFormats.LongDayNames[0] = "zondag";
  LoadLocaleFormats();
  ExpectDefaults(LocaleFormats);
  LocaleFormats = saved;
}

}  // namespace

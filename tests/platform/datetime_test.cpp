#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/errors.h"

namespace kelvane {
namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, ms);
}

TEST(DateTime, EncodeKnownDays) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_DOUBLE_EQ(EncodeTime(18, 0, 0, 0), 0.75);
  int y, m, d, h, mi, s, ms;
  DecodeDate(At(2026, 12, 9, 18, 45, 3, 250), y, m, d);
  DecodeTime(At(2026, 12, 9, 18, 45, 3, 250), h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, m, d, h, mi, s, ms}),
            (std::vector<int>{2026, 12, 9, 18, 45, 3, 250}));
  DecodeTime(At(2026, 1, 1, 23, 59, 59, 999), h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{h, mi, s, ms}), (std::vector<int>{23, 59, 59, 999}));
}

TEST(DateTime, InvalidDatesAndTimesRaise) {
  const int badDates[][3] = {{2026, 13, 1}, {2026, 2, 29}, {2026, 4, 31}, {2026, 0, 1},
                             {2026, 1, 0},  {0, 1, 1},     {10000, 1, 1}, {1900, 2, 29}};
  for (const auto& b : badDates) EXPECT_THROW(EncodeDate(b[0], b[1], b[2]), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(23, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  TDateTime out = 5;
  EXPECT_FALSE(TryEncodeDate(2026, 2, 30, out));
  EXPECT_EQ(out, 5);
}

TEST(DateTime, EnglishUnitedStatesFormats) {
  const TFormatSettings us;
  const struct {
    const char* pattern;
    TDateTime value;
    const char* text;
  } cases[] = {
      {"c", At(2026, 12, 9, 18, 45, 3), "12/9/2026 6:45:03 PM"},
      {"c", At(2026, 12, 9), "12/9/2026"},
      {"c", At(2026, 1, 5, 0, 5, 9), "1/5/2026 12:05:09 AM"},
      {"c", At(2026, 1, 5, 12, 0, 0), "1/5/2026 12:00:00 PM"},
      {"dd/mm/yyyy hh:nn:ss.zzz", At(2026, 3, 4, 5, 6, 7, 8), "04/03/2026 05:06:07.008"},
      {"yy-m-d h:n:s", At(2026, 3, 4, 15, 6, 7), "26-3-4 15:6:7"},
      {"hh:mm", At(2026, 3, 4, 15, 6, 7), "15:06"},  // "m" after an hour is minutes
      {"ddd dddd mmm mmmm", At(2026, 12, 9), "Wed Wednesday Dec December"},
      {"h am/pm A/P", At(2026, 1, 1, 13), "1 pm P"},
      {"'at' h \"o'clock\"", At(2026, 1, 1, 9), "at 9 o'clock"},
      {"t | tt", At(2026, 1, 1, 9, 7, 3), "9:07 AM | 9:07:03 AM"},
      {"ddddd", At(2026, 7, 14), "7/14/2026"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.pattern, c.value, us), c.text) << c.pattern;
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 9, 18, 45, 3), us), "12/9/2026 6:45:03 PM");
  EXPECT_EQ(DateToStr(At(2026, 12, 9, 18, 45, 3), us), "12/9/2026");
  EXPECT_EQ(TimeToStr(At(2026, 12, 9, 18, 45, 3), us), "6:45:03 PM");

  TFormatSettings german;
  german.DateSeparator = '.';
  german.ShortDateFormat = "dd/mm/yyyy";
  german.LongTimeFormat = "hh:nn:ss";
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 9, 18, 45, 3), german), "09.12.2026 18:45:03");
}

TEST(DateTime, UnixAndDosStampsInLocalTime) {
  // A POSIX rule rather than a zone name, so the test needs no time-zone database.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  const std::time_t t = 1796838303;  // 2026-12-09 17:45:03 UTC, 18:45:03 in Berlin
  EXPECT_EQ(DateTimeToStr(UnixToDateTime(t), TFormatSettings()), "12/9/2026 6:45:03 PM");
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(t)), t);
  std::uint16_t date, time;
  UnixToDosDateTime(t, date, time);
  EXPECT_EQ(date, ((2026 - 1980) << 9) | (12 << 5) | 9);
  EXPECT_EQ(time, (18 << 11) | (45 << 5) | 1);  // two-second steps
  EXPECT_EQ(DosDateTimeToUnix(date, time), t - 1);
  UnixToDosDateTime(0, date, time);  // before 1980: the format's first day
  EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
  EXPECT_EQ(time, 0);
  unsetenv("TZ");
  tzset();
}

TEST(DateTime, NowIsToday) {
  const TDateTime now = Now();
  const TDateTime today = Date();
  EXPECT_LE(today, now);
  EXPECT_LT(now - today, 1.0);
}

}  // namespace
}  // namespace kelvane

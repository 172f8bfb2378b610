#include "platform/datetime.h"

#include <sys/time.h>

#include <cmath>
#include <cstdio>

#include "platform/errors.h"

namespace kelvane {

namespace {

constexpr double kMsPerDay = 86400000.0;
// Days from 1899-12-30 (day 0 of TDateTime) to 1970-01-01.
constexpr int kUnixEpochDays = 25569;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

// Milliseconds of the day, rounded to the nearest millisecond; the whole day part separately.
// Negative values keep the time of day as the magnitude of the fraction (-1.25 is 12/29/1899 6:00).
void Split(TDateTime value, long long& days, long long& msOfDay) {
  double whole = std::trunc(value);
  long long ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  if (ms >= 86400000LL) {
    ms -= 86400000LL;
    whole += value < 0 ? -1 : 1;
  }
  days = static_cast<long long>(whole);
  msOfDay = ms;
}

std::string Pad(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

TDateTime FromTm(const std::tm& tm, int ms) {
  return static_cast<double>(DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
                             kUnixEpochDays) +
         (tm.tm_hour * 3600000.0 + tm.tm_min * 60000.0 + tm.tm_sec * 1000.0 + ms) / kMsPerDay;
}

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view prefix) {
  if (pos + prefix.size() > text.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = text[pos + i], b = prefix[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return true;
}

const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

void AppendFormatted(std::string& out, std::string_view pattern, TDateTime value,
                     const TFormatSettings& settings, int depth);

// Does the pattern hold an AM/PM marker? It decides the 12-hour clock for the whole pattern.
bool HasAmPm(std::string_view pattern) {
  char quote = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    if (StartsWithNoCase(pattern, i, "AM/PM") || StartsWithNoCase(pattern, i, "A/P") ||
        StartsWithNoCase(pattern, i, "AMPM"))
      return true;
  }
  return false;
}

void AppendFormatted(std::string& out, std::string_view pattern, TDateTime value,
                     const TFormatSettings& settings, int depth) {
  if (depth > 2) return;  // the settings' own patterns are not allowed to recurse further
  int year, month, day, hour, minute, second, ms;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, ms);
  long long days, msOfDay;
  Split(value, days, msOfDay);
  const int weekday =
      static_cast<int>(((days - kUnixEpochDays) % 7 + 7 + 4) % 7);  // 1970-01-01: Thu
  const bool twelveHour = HasAmPm(pattern);
  bool lastWasHour = false;

  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    auto run = [&](char letter) {
      std::size_t n = 0;
      while (i + n < pattern.size() && (pattern[i + n] == letter || pattern[i + n] == letter + 32))
        ++n;
      return n;
    };
    if (c == '"' || c == '\'') {
      const auto end = pattern.find(c, i + 1);
      const auto stop = end == std::string_view::npos ? pattern.size() : end;
      out.append(pattern.substr(i + 1, stop - i - 1));
      i = stop == pattern.size() ? stop : stop + 1;
      continue;
    }
    if (c == '/') {
      out += settings.DateSeparator;
      ++i;
      continue;
    }
    if (c == ':') {
      out += settings.TimeSeparator;
      ++i;
      continue;
    }
    if (StartsWithNoCase(pattern, i, "AM/PM")) {
      const std::string_view src = pattern.substr(i, 5);
      const bool pm = hour >= 12;
      out.append(pm ? src.substr(3, 2) : src.substr(0, 2));
      i += 5;
      continue;
    }
    if (StartsWithNoCase(pattern, i, "A/P")) {
      out += hour >= 12 ? pattern[i + 2] : pattern[i];
      i += 3;
      continue;
    }
    if (StartsWithNoCase(pattern, i, "AMPM")) {
      out += hour >= 12 ? settings.TimePMString : settings.TimeAMString;
      i += 4;
      continue;
    }
    switch (upper) {
      case 'Y': {
        const std::size_t n = run('Y');
        out += n <= 2 ? Pad(year % 100, 2) : Pad(year, 4);
        i += n;
        lastWasHour = false;
        continue;
      }
      case 'M': {
        const std::size_t n = run('M');
        if (lastWasHour && n <= 2) {  // "h:m" means minutes
          out += n == 1 ? std::to_string(minute) : Pad(minute, 2);
        } else if (n == 1) {
          out += std::to_string(month);
        } else if (n == 2) {
          out += Pad(month, 2);
        } else if (n == 3) {
          out += kShortMonths[month - 1];
        } else {
          out += kLongMonths[month - 1];
        }
        i += n;
        lastWasHour = false;
        continue;
      }
      case 'D': {
        const std::size_t n = run('D');
        if (n == 1)
          out += std::to_string(day);
        else if (n == 2)
          out += Pad(day, 2);
        else if (n == 3)
          out += kShortDays[weekday];
        else if (n == 4)
          out += kLongDays[weekday];
        else
          AppendFormatted(out, settings.ShortDateFormat, value, settings, depth + 1);
        i += n;
        lastWasHour = false;
        continue;
      }
      case 'H': {
        const std::size_t n = run('H');
        int h = hour;
        if (twelveHour) {
          h %= 12;
          if (h == 0) h = 12;
        }
        out += n == 1 ? std::to_string(h) : Pad(h, 2);
        i += n;
        lastWasHour = true;
        continue;
      }
      case 'N': {
        const std::size_t n = run('N');
        out += n == 1 ? std::to_string(minute) : Pad(minute, 2);
        i += n;
        lastWasHour = false;
        continue;
      }
      case 'S': {
        const std::size_t n = run('S');
        out += n == 1 ? std::to_string(second) : Pad(second, 2);
        i += n;
        lastWasHour = false;
        continue;
      }
      case 'Z': {
        const std::size_t n = run('Z');
        out += n == 1 ? std::to_string(ms) : Pad(ms, 3);
        i += n;
        lastWasHour = false;
        continue;
      }
      case 'T': {
        const std::size_t n = run('T');
        AppendFormatted(out, n == 1 ? settings.ShortTimeFormat : settings.LongTimeFormat, value,
                        settings, depth + 1);
        i += n;
        continue;
      }
      case 'C': {
        out += DateTimeToStr(value, settings);
        ++i;
        continue;
      }
      default:
        out += c;
        ++i;
        // Separators between an hour and a following "m" keep it a minute.
        if (c != ' ' && c != '.') lastWasHour = false;
        continue;
    }
  }
}

}  // namespace

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

TDateTime Now() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  std::tm tm;
  const std::time_t t = tv.tv_sec;
  localtime_r(&t, &tm);
  return FromTm(tm, static_cast<int>(tv.tv_usec / 1000));
}

TDateTime Date() { return std::trunc(Now()); }

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  result = static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
      kUnixEpochDays);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  result = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / kMsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result;
  if (!TryEncodeDate(year, month, day, result))
    throw EConvertError("Invalid argument to date encode");
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime result;
  if (!TryEncodeTime(hour, minute, second, millisecond, result))
    throw EConvertError("Invalid argument to time encode");
  return result;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  long long days, ms;
  Split(value, days, ms);
  CivilFromDays(days - kUnixEpochDays, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  long long days, ms;
  Split(value, days, ms);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& settings) {
  std::string out;
  AppendFormatted(out, pattern, value, settings, 0);
  return out;
}

std::string DateToStr(TDateTime value, const TFormatSettings& settings) {
  return FormatDateTime(settings.ShortDateFormat, value, settings);
}

std::string TimeToStr(TDateTime value, const TFormatSettings& settings) {
  return FormatDateTime(settings.LongTimeFormat, value, settings);
}

std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings) {
  long long days, ms;
  Split(value, days, ms);
  std::string text = DateToStr(value, settings);
  if (ms != 0) text += " " + TimeToStr(value, settings);
  return text;
}

TDateTime UnixToDateTime(std::time_t t) {
  std::tm tm;
  localtime_r(&t, &tm);
  return FromTm(tm, 0);
}

std::time_t DateTimeToUnix(TDateTime value) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, ms);
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

void UnixToDosDateTime(std::time_t t, std::uint16_t& dosDate, std::uint16_t& dosTime) {
  std::tm tm;
  localtime_r(&t, &tm);
  const int year = tm.tm_year + 1900;
  // The DOS format covers 1980 to 2107; stamps outside it are clamped to its ends.
  if (year < 1980) {
    dosDate = (0 << 9) | (1 << 5) | 1;
    dosTime = 0;
    return;
  }
  if (year > 2107) {
    dosDate = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
    dosTime = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
    return;
  }
  dosDate = static_cast<std::uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  dosTime = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

std::time_t DosDateTimeToUnix(std::uint16_t dosDate, std::uint16_t dosTime) {
  std::tm tm{};
  tm.tm_year = 80 + (dosDate >> 9);
  tm.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
  tm.tm_mday = dosDate & 0x1F;
  tm.tm_hour = dosTime >> 11;
  tm.tm_min = (dosTime >> 5) & 0x3F;
  tm.tm_sec = (dosTime & 0x1F) * 2;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

}  // namespace kelvane

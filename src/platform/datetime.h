#pragma once
// Dates and times as the original keeps them: a TDateTime is days since 1899-12-30 with the time
// of day as the fraction, in local time. TFormatSettings holds the "system formats"; the default
// is English (United States), so a date reads 12/9/2026 and a time 6:45:03 PM.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace kelvane {

using TDateTime = double;

struct TFormatSettings {
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "M/d/yyyy";
  std::string LongTimeFormat = "h:mm:ss AMPM";
  std::string ShortTimeFormat = "h:mm AMPM";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
};

// The process-wide system formats (English (United States) unless a caller changes them).
TFormatSettings& FormatSettings();

TDateTime Now();
TDateTime Date();  // today, midnight

// Throw EConvertError for a date or time that does not exist.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

// Delphi-style patterns: d dd m mm yyyy yy h hh n nn s ss z zzz AM/PM AMPM, "/" and ":" as the
// separators of the settings, quoted text copied.
std::string FormatDateTime(std::string_view pattern, TDateTime value,
                           const TFormatSettings& settings = FormatSettings());
std::string DateToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());
std::string TimeToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());
// Short date, a blank, long time; the time is left out at midnight.
std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());

// Local time conversions for file stamps.
TDateTime UnixToDateTime(std::time_t t);
std::time_t DateTimeToUnix(TDateTime value);

// MS-DOS date and time words (cabinets), local time.
void UnixToDosDateTime(std::time_t t, std::uint16_t& dosDate, std::uint16_t& dosTime);
std::time_t DosDateTimeToUnix(std::uint16_t dosDate, std::uint16_t dosTime);

}  // namespace kelvane

#pragma once

// Date-time values and their calendar fields, text forms and the current
// time, for the date and time functions of the miscellaneous package. Nothing
// here needs an engine.
//
// A date-time value is a double counting days from 1899-12-30 (day 0), the
// time of day being the fraction: 1.5 is 1899-12-31 12:00, 45351.75 is
// 2024-02-29 18:00. Before day 0 the integral part counts days backwards
// while the fraction is still the time of day, taken as its absolute value:
// -1.25 is 1899-12-29 06:00 (so -0.25 is day 0 at 06:00, as 0.25 is).
// Values run from 0001-01-01 (day -693593) to
// 9999-12-31 (day 2958465); the fields of a time are rounded to the nearest
// millisecond.
//
// Text forms use format letters (see zephro/packages/misc_datetime.h for the
// table); the short date and the time format of the locale are derived from
// the C library's LC_TIME settings.
//
// Thread safety: the functions keep no state. CurrentDateTimeLocale reads
// the locale the calling thread uses, which another thread changing the
// global locale at the same time disturbs.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zephro {

// The first and last day a date-time value may fall on.
inline constexpr std::int32_t kFirstDateTimeDay = -693593;  // 0001-01-01
inline constexpr std::int32_t kLastDateTimeDay = 2958465;   // 9999-12-31

// The calendar fields of a date-time value.
struct TDateTimeFields {
  std::int32_t year = 1899;  // 1 to 9999
  std::int32_t month = 12;   // 1 to 12
  std::int32_t day = 30;     // 1 to the month's last day
  std::int32_t hour = 0;     // 0 to 23
  std::int32_t minute = 0;
  std::int32_t second = 0;
  std::int32_t millisecond = 0;
  std::int32_t day_of_week = 6;  // 0 Sunday to 6 Saturday
};

// The fields of `value`; nothing for a value outside the range of dates (or
// not a number).
std::optional<TDateTimeFields> DecodeDateTime(double value);

// The value of a date, a whole number; nothing when the fields make no date
// (year 1 to 9999, month 1 to 12, day 1 to the month's last day).
std::optional<double> EncodeDate(std::int32_t year, std::int32_t month, std::int32_t day);
// The value of a time of day, in [0, 1); nothing when the fields make no time
// (hour 0 to 23, minute and second 0 to 59, millisecond 0 to 999).
std::optional<double> EncodeTime(std::int32_t hour, std::int32_t minute, std::int32_t second,
                                 std::int32_t millisecond);
// The value of a date (a whole number) at a time of day (in [0, 1)): the
// time is subtracted from a date before day 0, so that it stays the time of
// day.
double CombineDateTime(double date, double time);
// The date of a value (its integral part) and its time of day (the absolute
// value of its fraction).
double DatePart(double value);
double TimePart(double value);

// What the text forms take from the locale.
struct TDateTimeLocale {
  std::string short_date_format = "mm/dd/yy";  // format letters
  std::string time_format = "hh:nn:ss";
  char date_separator = '/';  // what '/' in a format stands for
  char time_separator = ':';  // and ':'
  std::string am = "AM";      // what "ampm" stands for before noon
  std::string pm = "PM";      // and from noon on
  std::array<std::string, 12> short_month_names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> long_month_names = {"January",   "February", "March",    "April",
                                                  "May",       "June",     "July",     "August",
                                                  "September", "October",  "November", "December"};
  std::array<std::string, 7> short_day_names = {"Sun", "Mon", "Tue", "Wed",
                                                "Thu", "Fri", "Sat"};  // Sunday first
  std::array<std::string, 7> long_day_names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                               "Thursday", "Friday", "Saturday"};
};

// The settings of the LC_TIME category of the calling thread's C locale
// (the members' defaults are those of the "C" locale).
TDateTimeLocale CurrentDateTimeLocale();

// A C library date or time format ("%d.%m.%Y") in format letters
// ("dd.mm.yyyy"). Letters outside conversions are quoted; conversions that
// have no format letters (the century, the week number...) are left out.
std::string FormatFromStrftime(std::string_view strftime_format);
// The separator a C library format uses between its fields: its first ASCII
// punctuation character outside conversions, or `fallback` when it has none.
char SeparatorOfStrftime(std::string_view strftime_format, char fallback);

// `fields` written as `format` (format letters) says.
std::string FormatDateTime(std::string_view format, const TDateTimeFields& fields,
                           const TDateTimeLocale& locale);

// `text` read as a date in the locale's short date format, as a time in its
// time format, or as a date followed by an optional time. Fields may have one
// or two digits, years two (00 to 49 are read as 2000 to 2049, 50 to 99 as
// 1950 to 1999) or four; months may be given by name; seconds are optional,
// and may be followed by milliseconds after a '.'; a time may carry an
// "AM"/"PM" marker (the locale's or the English one, in any case), which
// makes its hour one of a 12-hour clock. Fields are separated by blanks or by
// the characters the format puts between its fields; blanks around the text
// are ignored. Nothing when the text is not such a date or time, or its
// fields make none (2/30/24).
std::optional<double> ParseDate(std::string_view text, const TDateTimeLocale& locale);
std::optional<double> ParseTime(std::string_view text, const TDateTimeLocale& locale);
std::optional<double> ParseDateTime(std::string_view text, const TDateTimeLocale& locale);

// The local date and time now, to the millisecond.
double CurrentDateTime();

}  // namespace zephro

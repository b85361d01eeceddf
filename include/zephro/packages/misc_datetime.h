#pragma once

// The date and time functions of the miscellaneous package (TMiscPackage).
//
// Dates and times are numbers, date-time values: floats counting days from
// 1899-12-30, the time of day being the fraction, so that programs store,
// compare and subtract them as any number (a difference is a number of
// days). 0.0 is 1899-12-30 00:00, 1.5 is 1899-12-31 12:00, 45351.75 is
// 2024-02-29 18:00. Before 1899-12-30 the integral part counts days
// backwards and the fraction is still the time of day, taken as its absolute
// value: -1.25 is 1899-12-29 06:00. Values run from 0001-01-01 (-693593.0)
// to 9999-12-31 (2958465.0 and its fraction); fields are read to the
// nearest millisecond. Dates and times are local, without a time zone.
//
//   (time)                          seconds since midnight now, a float:
//                                   45296.5 at 12:34:56.500
//   (system-datetime)               the date and time now
//   (system-date)                   today: a whole number
//   (system-time)                   the time now: a fraction of a day
//   (encode-date y [m [d]])         the value of a date; month and day are 1
//                                   when left out: (encode-date 2024 2 29)
//                                   45351.0
//   (encode-time h [n [s [ms]]])    the value of a time of day, in [0, 1);
//                                   the fields left out are 0:
//                                   (encode-time 18) 0.75
//   (decode-year v) ... (decode-millisecond v)
//                                   one field of a value, an integer: year,
//                                   month (1 to 12), day, hour (0 to 23),
//                                   minute, second, millisecond
//   (date-str v) (time-str v) (datetime-str v)
//                                   a value as text, in the locale's short date
//                                   format, its time format, or both joined by a
//                                   blank: "02/29/24", "18:00:00",
//                                   "02/29/24 18:00:00" in the "C" locale
//   (datetime-str-format f v)       a value written as the format f says (the
//                                   letters below); an empty format writes what
//                                   datetime-str does
//   (str-date t) (str-time t) (str-datetime t)
//                                   text read back into a value: a date, a time,
//                                   or a date followed by an optional time
//
// The locale is the C library's (its LC_TIME category, as the host set it with
// setlocale): the short date format follows its date format, the time format
// its time format, translated into the letters below; month and day names and
// the morning and afternoon markers are its own. The "C" locale writes dates
// as mm/dd/yy and times as hh:nn:ss.
//
// Reading text is lenient about the shape of the fields and strict about
// their order, which is the format's: days and months may have one or two
// digits, and months may be given by name; years have two digits (00 to 49
// are 2000 to 2049, 50 to 99 are 1950 to 1999) or four; hours and minutes
// are required, seconds optional, and may be followed by three digits of
// milliseconds after a '.'; a time may carry a morning or afternoon marker
// (the locale's, or AM and PM, in any case) before or after it, which makes
// its hour one of a 12-hour clock (12 AM is midnight). Fields are separated by
// blanks or by the characters the format puts between its fields; a date and
// its time by blanks. A name of the week's day may stand where the format has
// one; it is not checked against the date.
//
// Format letters (in any case; a run of more letters than the table has is
// read as the longest entry followed by the rest):
//
//   yy  yyyy      year, two or four digits (one or three y read as two, four)
//   m  mm         month, one or two digits (mm is always the month: minutes
//                 are n and nn)
//   mmm  mmmm     month's name, short or long (Feb, February)
//   d  dd         day, one or two digits
//   ddd  dddd     day of the week's name, short or long (Thu, Thursday)
//   h  hh         hour, one or two digits
//   n  nn         minute;   s  ss  second;   (one or two digits)
//   z  zzz        millisecond, as many digits as it takes, or three
//   am/pm         "am" before noon, "pm" from noon on, in the case written
//                 (AM/PM gives AM and PM); the hours then count from 1 to 12
//   ampm          the locale's morning or afternoon marker; 12-hour clock too
//   /  :          the locale's date separator and time separator
//   '...' "..."   the characters between the quotes, as they are
//   anything else, as it is (quote letters that should not be read as these)
//
//   (datetime-str-format "dddd d mmmm yyyy, h:nn am/pm" 45351.75)
//                                   "Thursday 29 February 2024, 6:00 pm"
//
// Errors, EIEException each (other than the conversion errors of arguments
// of the wrong kind):
//   "str-date error: "2/30/24" is not a valid date" (str-time: "... is not a
//    valid time"; str-datetime: "... is not a valid date and time");
//   "encode-date error: year 2023, month 2, day 29 is not a valid date";
//   "encode-time error: hour 24, minute 0, second 0, millisecond 0 is not a
//    valid time";
//   "decode-year error: 3000000.0000 is not a date and time from 0001-01-01
//    to 9999-12-31" (so for the functions writing a value as text).
//
// Most of these functions come in families (zephro/packages/typed_function.h):
// TSystemDateTimeFunction, TDateTimeStringFunction, TDecodeDateTimeFunction
// and TEncodeDateTimeFunction; time is a function of its own.
//
// Thread safety: the functions keep no state; they read the locale of the
// thread that calls them. Use them on the engine's thread.

#include <cstdint>
#include <span>

#include "zephro/functions/user_function.h"
#include "zephro/packages/typed_function.h"

namespace zephro {

inline constexpr char TimeFunctionName[] = "time";
inline constexpr char TimeComment[] = "Returns the number of seconds since midnight, as a float";
inline constexpr char TimeSyntax[] = "";

inline constexpr char SystemDateTimeFunctionName[] = "system-datetime";
inline constexpr char SystemDateTimeComment[] = "Returns the current date and time";
inline constexpr char SystemDateFunctionName[] = "system-date";
inline constexpr char SystemDateComment[] = "Returns the current date, without the time";
inline constexpr char SystemTimeFunctionName[] = "system-time";
inline constexpr char SystemTimeComment[] = "Returns the current time, without the date";
inline constexpr char SystemDateTimeSyntax[] = "";

inline constexpr char StrDateTimeFunctionName[] = "str-datetime";
inline constexpr char StrDateTimeComment[] =
    "Returns the date and time a text in the locale's date and time formats gives";
inline constexpr char StrDateFunctionName[] = "str-date";
inline constexpr char StrDateComment[] =
    "Returns the date a text in the locale's short date format gives";
inline constexpr char StrTimeFunctionName[] = "str-time";
inline constexpr char StrTimeComment[] =
    "Returns the time a text in the locale's time format gives";
inline constexpr char StrDateTimeSyntax[] = " <string-expression> ";
inline constexpr char DateTimeStrFunctionName[] = "datetime-str";
inline constexpr char DateTimeStrComment[] =
    "Returns a date and time as text in the locale's date and time formats";
inline constexpr char DateStrFunctionName[] = "date-str";
inline constexpr char DateStrComment[] =
    "Returns the date of a date and time as text in the locale's short date format";
inline constexpr char TimeStrFunctionName[] = "time-str";
inline constexpr char TimeStrComment[] =
    "Returns the time of a date and time as text in the locale's time format";
inline constexpr char DateTimeStrSyntax[] = " <system-date-numeric-expression>";
inline constexpr char DateTimeStrFormatFunctionName[] = "datetime-str-format";
inline constexpr char DateTimeStrFormatComment[] =
    "Returns a date and time as text written as a format of date and time letters says";
inline constexpr char DateTimeStrFormatSyntax[] =
    " <format-string-expression> <system-date-numeric-expression>";

inline constexpr char DecodeYearFunctionName[] = "decode-year";
inline constexpr char DecodeYearComment[] = "Returns the year of a date and time";
inline constexpr char DecodeMonthFunctionName[] = "decode-month";
inline constexpr char DecodeMonthComment[] = "Returns the month of a date and time, 1 to 12";
inline constexpr char DecodeDayFunctionName[] = "decode-day";
inline constexpr char DecodeDayComment[] = "Returns the day of the month of a date and time";
inline constexpr char DecodeHourFunctionName[] = "decode-hour";
inline constexpr char DecodeHourComment[] = "Returns the hour of a date and time, 0 to 23";
inline constexpr char DecodeMinuteFunctionName[] = "decode-minute";
inline constexpr char DecodeMinuteComment[] = "Returns the minute of a date and time";
inline constexpr char DecodeSecondFunctionName[] = "decode-second";
inline constexpr char DecodeSecondComment[] = "Returns the second of a date and time";
inline constexpr char DecodeMillisecondFunctionName[] = "decode-millisecond";
inline constexpr char DecodeMillisecondComment[] =
    "Returns the millisecond of a date and time, 0 to 999";
inline constexpr char DecodeDateTimeSyntax[] = " <system-date-numeric-expression>";

inline constexpr char EncodeDateFunctionName[] = "encode-date";
inline constexpr char EncodeDateComment[] =
    "Returns the date of a year, month and day, the month and day being 1 when left out";
inline constexpr char EncodeDateSyntax[] =
    " <year-integer-expression> [<month-integer-expression> [<day-integer-expression>]]";
inline constexpr char EncodeTimeFunctionName[] = "encode-time";
inline constexpr char EncodeTimeComment[] =
    "Returns the time of an hour, minute, second and millisecond, those left out being 0";
inline constexpr char EncodeTimeSyntax[] =
    " <hour-integer-expression> [<minute-integer-expression> [<second-integer-expression> "
    "[<millisecond-integer-expression>]]]";

// The function types of the families, each value in the order of its
// family's table.
enum class TSystemDateTimeFunctionType : std::uint8_t { sdtDateTime, sdtDate, sdtTime };
enum class TDateTimeStringFunctionType : std::uint8_t {
  dtsStrDateTime,
  dtsStrDate,
  dtsStrTime,
  dtsDateTimeStr,
  dtsDateStr,
  dtsTimeStr,
  dtsDateTimeStrFormat
};
enum class TDecodeDateTimeFunctionType : std::uint8_t {
  ddtYear,
  ddtMonth,
  ddtDay,
  ddtHour,
  ddtMinute,
  ddtSecond,
  ddtMillisecond
};
enum class TEncodeDateTimeFunctionType : std::uint8_t { edtDate, edtTime };

std::span<const TFunctionTypeInfo> FunctionTypes(TSystemDateTimeFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TDateTimeStringFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TDecodeDateTimeFunctionType);
std::span<const TFunctionTypeInfo> FunctionTypes(TEncodeDateTimeFunctionType);

using TSystemDateTimeFunction = TFamilyFunction<TSystemDateTimeFunctionType>;
using TDateTimeStringFunction = TFamilyFunction<TDateTimeStringFunctionType>;
using TDecodeDateTimeFunction = TFamilyFunction<TDecodeDateTimeFunctionType>;
using TEncodeDateTimeFunction = TFamilyFunction<TEncodeDateTimeFunctionType>;

template <>
Ref<IIEValue> TSystemDateTimeFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TDateTimeStringFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TDecodeDateTimeFunction::Run(IFunCall& call, TIEContext& context);
template <>
Ref<IIEValue> TEncodeDateTimeFunction::Run(IFunCall& call, TIEContext& context);

class TTimeFunction final : public TIEUserFunction {
 public:
  TTimeFunction();

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override;
};

}  // namespace zephro

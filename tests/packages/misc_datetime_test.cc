// The date and time functions of the miscellaneous package, and the calendar
// and text forms beneath them.
//
// Expected day numbers are counted by hand from 1899-12-30 (day 0):
// 1900-01-01 is day 2, 1900 has 365 days (not a leap year), 2000-01-01 is
// day 36526, 1970-01-01 day 25569, 2024-01-01 day 45292; the first and last
// days are 0001-01-01 (-693593) and 9999-12-31 (2958465).

#include "zephro/packages/misc_datetime.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/functions/user_package.h"
#include "zephro/values/exceptions.h"

#include "packages/date_time.h"
#include "packages/misc_internal.h"
#include "testing/engine_fixture.h"
#include "testing/function_calls.h"
#include "testing/package_checks.h"

namespace zephro {
namespace {

using testing::ExpectOutcomes;

// Sets the LC_TIME category of the C locale for the life of the object.
class TimeLocale {
 public:
  explicit TimeLocale(const char* name) : saved_(std::setlocale(LC_TIME, nullptr)) {
    set_ = std::setlocale(LC_TIME, name) != nullptr;
  }
  ~TimeLocale() { std::setlocale(LC_TIME, saved_.c_str()); }
  TimeLocale(const TimeLocale&) = delete;
  TimeLocale& operator=(const TimeLocale&) = delete;

  bool IsSet() const { return set_; }

 private:
  std::string saved_;
  bool set_ = false;
};

class MiscDateTimeTest : public ::testing::Test {
 protected:
  TInferenceEngine& Engine() { return fixture_.Engine(); }

  // The outcome of the call `text`, as testing::CallOutcome gives it.
  std::string Outcome(const std::string& text) {
    try {
      return Engine().ParseNExecuteFunCall(text)->ToString();
    } catch (const EBaseException& e) {
      return std::string("raises: ") + e.what();
    }
  }
  double Number(const std::string& text) { return Engine().ParseNExecuteFunCall(text)->AsFloat(); }

  TimeLocale locale_{"C"};
  testing::EngineFixture fixture_;
};

// --- registration -----------------------------------------------------------

TEST_F(MiscDateTimeTest, EveryFunctionIsRegisteredAndKeepsItsLimits) {
  TUserPackage package(nullptr);
  AddMiscDateTimeFunctions(package);
  std::vector<std::string> names;
  for (const Ref<IUserFunction>& f : package.Functions()) {
    names.push_back(f->FunctionName());
  }
  EXPECT_THAT(names, ::testing::ElementsAre("time", "system-datetime", "system-date", "system-time",
                                            "str-datetime", "str-date", "str-time", "datetime-str",
                                            "date-str", "time-str", "datetime-str-format",
                                            "decode-year", "decode-month", "decode-day",
                                            "decode-hour", "decode-minute", "decode-second",
                                            "decode-millisecond", "encode-date", "encode-time"));
  testing::ExpectEveryFunctionKeepsItsLimits(package, Engine());
}

TEST_F(MiscDateTimeTest, RenamingAFunctionSwitchesItsVariant) {
  auto function =
      TIEUserFunction::Make<TDecodeDateTimeFunction>(TDecodeDateTimeFunctionType::ddtDay);
  function->SetFunctionName("decode-hour");
  EXPECT_EQ(function->FunctionType(), TDecodeDateTimeFunctionType::ddtHour);
  auto encode = TIEUserFunction::Make<TEncodeDateTimeFunction>();
  encode->SetFunctionType(TEncodeDateTimeFunctionType::edtTime);
  EXPECT_EQ(encode->FunctionName(), "encode-time");
  EXPECT_EQ(encode->MaxArgumentCount(), 4);
}

// --- encoding and decoding --------------------------------------------------

TEST_F(MiscDateTimeTest, EncodeDateCountsDaysFromTheEpoch) {
  ExpectOutcomes(Engine(),
                 {
                     {"encode-date", {"1899", "12", "30"}, "0.0000"},
                     {"encode-date", {"1899", "12", "31"}, "1.0000"},
                     {"encode-date", {"1900", "1", "1"}, "2.0000"},
                     {"encode-date", {"1899", "12", "29"}, "-1.0000"},
                     {"encode-date", {"1800", "1", "1"}, "-36522.0000"},  // 100 years, 24 leap days
                     {"encode-date", {"1"}, "-693593.0000"},
                     {"encode-date", {"9999", "12", "31"}, "2958465.0000"},
                     {"encode-date", {"1970", "1", "1"}, "25569.0000"},
                     {"encode-date", {"2024"}, "45292.0000"},       // month and day 1
                     {"encode-date", {"2024", "2"}, "45323.0000"},  // 31 days of January later
                     // Month ends and leap years.
                     {"encode-date", {"1900", "2", "28"}, "60.0000"},
                     {"encode-date", {"1900", "3", "1"}, "61.0000"},  // 1900 is no leap year
                     {"encode-date", {"2000", "2", "29"}, "36585.0000"},
                     {"encode-date", {"2000", "3", "1"}, "36586.0000"},
                     {"encode-date", {"2024", "2", "29"}, "45351.0000"},
                     {"encode-date", {"2024", "4", "30"}, "45412.0000"},
                     {"encode-date", {"2024", "12", "31"}, "45657.0000"},
                     {"encode-date", {"2025", "1", "1"}, "45658.0000"},
                     {"encode-date", {"\"2024\"", "'2", "29.9"}, "45351.0000"},  // read as integers
                 });
}

TEST_F(MiscDateTimeTest, EncodeRefusesFieldsThatMakeNoDateOrTime) {
  ExpectOutcomes(
      Engine(),
      {
          {"encode-date",
           {"1900", "2", "29"},
           "raises: encode-date error: year 1900, month 2, day 29 is not a valid date"},
          {"encode-date",
           {"2023", "2", "29"},
           "raises: encode-date error: year 2023, month 2, day 29 is not a valid date"},
          {"encode-date",
           {"2024", "4", "31"},
           "raises: encode-date error: year 2024, month 4, day 31 is not a valid date"},
          {"encode-date",
           {"2024", "13"},
           "raises: encode-date error: year 2024, month 13, day 1 is not a valid date"},
          {"encode-date",
           {"2024", "0", "1"},
           "raises: encode-date error: year 2024, month 0, day 1 is not a valid date"},
          {"encode-date",
           {"2024", "1", "0"},
           "raises: encode-date error: year 2024, month 1, day 0 is not a valid date"},
          {"encode-date",
           {"2024", "1", "257"},
           "raises: encode-date error: year 2024, month 1, day 257 is not a valid date"},
          {"encode-date",
           {"2024", "-1", "1"},
           "raises: encode-date error: year 2024, month -1, day 1 is not a valid date"},
          {"encode-date",
           {"0", "1", "1"},
           "raises: encode-date error: year 0, month 1, day 1 is not a valid date"},
          {"encode-date",
           {"10000"},
           "raises: encode-date error: year 10000, month 1, day 1 is not a valid date"},
          {"encode-date", {"abc"}, "raises: Not a integer type.  Value (abc) is a dtAtom type"},
          {"encode-date", {"1", "2", "3", "4"}, "raises: Too many arguments for encode-date"},
          {"encode-time",
           {"24"},
           "raises: encode-time error: hour 24, minute 0, second 0, millisecond 0 is not a "
           "valid time"},
          {"encode-time",
           {"-1"},
           "raises: encode-time error: hour -1, minute 0, second 0, millisecond 0 is not a "
           "valid time"},
          {"encode-time",
           {"10", "60"},
           "raises: encode-time error: hour 10, minute 60, second 0, millisecond 0 is not a "
           "valid time"},
          {"encode-time",
           {"10", "0", "60"},
           "raises: encode-time error: hour 10, minute 0, second 60, millisecond 0 is not a "
           "valid time"},
          {"encode-time",
           {"10", "0", "0", "1000"},
           "raises: encode-time error: hour 10, minute 0, second 0, millisecond 1000 is not a "
           "valid time"},
          {"encode-time", {"(1 2)"}, "raises: Not a integer type.  Value (1 2 ) is a dtList type"},
          {"encode-time", {}, "raises: Too few arguments for encode-time"},
      });
}

TEST_F(MiscDateTimeTest, EncodeTimeIsAFractionOfADay) {
  ExpectOutcomes(Engine(), {
                               {"encode-time", {"0"}, "0.0000"},
                               {"encode-time", {"6"}, "0.2500"},
                               {"encode-time", {"12"}, "0.5000"},
                               {"encode-time", {"18", "0", "0", "0"}, "0.7500"},
                               {"encode-time", {"2", "24"}, "0.1000"},  // 144 minutes
                               {"encode-time", {"0", "0", "8", "640"}, "0.0001"},
                           });
  // Sub-second parts, out of reach of four decimals.
  EXPECT_DOUBLE_EQ(Number("(encode-time 0 0 1)"), 1.0 / 86400);
  EXPECT_DOUBLE_EQ(Number("(encode-time 0 0 0 1)"), 1.0 / 86400000);
  EXPECT_DOUBLE_EQ(Number("(encode-time 23 59 59 999)"), 1.0 - 1.0 / 86400000);
}

TEST_F(MiscDateTimeTest, DecodeReadsTheFieldsOfAValue) {
  struct {
    const char* value;
    std::int32_t year, month, day, hour, minute, second, millisecond;
  } const kCases[] = {
      {"0.0", 1899, 12, 30, 0, 0, 0, 0},
      {"1.5", 1899, 12, 31, 12, 0, 0, 0},
      {"2", 1900, 1, 1, 0, 0, 0, 0},
      {"60", 1900, 2, 28, 0, 0, 0, 0},
      {"61", 1900, 3, 1, 0, 0, 0, 0},
      {"36585.25", 2000, 2, 29, 6, 0, 0, 0},
      {"45351.75", 2024, 2, 29, 18, 0, 0, 0},
      {"45657.1", 2024, 12, 31, 2, 24, 0, 0},
      {"25569.0001", 1970, 1, 1, 0, 0, 8, 640},
      // Before the epoch the integral part counts back, the fraction is the
      // time of day all the same.
      {"-1.25", 1899, 12, 29, 6, 0, 0, 0},
      {"-0.25", 1899, 12, 30, 6, 0, 0, 0},
      {"-36522.75", 1800, 1, 1, 18, 0, 0, 0},
      {"-693593", 1, 1, 1, 0, 0, 0, 0},
      {"2958465.5", 9999, 12, 31, 12, 0, 0, 0},
      // A time that rounds to midnight belongs to the next day.
      {"0.99999999999", 1899, 12, 31, 0, 0, 0, 0},
      {"'45351.5", 2024, 2, 29, 12, 0, 0, 0},  // a number written as an atom
  };
  for (const auto& c : kCases) {
    ExpectOutcomes(Engine(), {
                                 {"decode-year", {c.value}, std::to_string(c.year)},
                                 {"decode-month", {c.value}, std::to_string(c.month)},
                                 {"decode-day", {c.value}, std::to_string(c.day)},
                                 {"decode-hour", {c.value}, std::to_string(c.hour)},
                                 {"decode-minute", {c.value}, std::to_string(c.minute)},
                                 {"decode-second", {c.value}, std::to_string(c.second)},
                                 {"decode-millisecond", {c.value}, std::to_string(c.millisecond)},
                             });
  }
}

TEST_F(MiscDateTimeTest, DecodeRefusesValuesOutsideTheDates) {
  ExpectOutcomes(
      Engine(),
      {
          {"decode-year",
           {"2958466.0"},
           "raises: decode-year error: 2958466.0000 is not a date and time from 0001-01-01 to "
           "9999-12-31"},
          {"decode-second",
           {"-693594"},
           "raises: decode-second error: -693594 is not a date and time from 0001-01-01 to "
           "9999-12-31"},
          {"decode-day",
           {"+inf"},
           "raises: decode-day error: inf is not a date and time from 0001-01-01 to 9999-12-31"},
          {"date-str",
           {"1e10"},
           "raises: date-str error: 10000000000.0000 is not a date and time from 0001-01-01 "
           "to 9999-12-31"},
          {"decode-month", {"abc"}, "raises: Not a numeric type.  Value (abc) is a dtAtom type"},
          {"decode-month", {"1", "2"}, "raises: Too many arguments for decode-month"},
      });
}

TEST_F(MiscDateTimeTest, EncodingAndDecodingGoRoundTrip) {
  for (std::int32_t day = kFirstDateTimeDay; day <= kLastDateTimeDay; day += 9973) {
    SCOPED_TRACE(day);
    const std::string value = std::to_string(day);
    const std::string fields =
        "(decode-year " + value + ") (decode-month " + value + ") (decode-day " + value + ")";
    EXPECT_EQ(Number("(encode-date " + fields + ")"), day);
  }
  for (std::int32_t ms = 0; ms < 86'400'000; ms += 999'983) {
    SCOPED_TRACE(ms);
    const std::int32_t hour = ms / 3'600'000;
    const std::int32_t minute = ms / 60'000 % 60;
    const std::int32_t second = ms / 1000 % 60;
    const std::int32_t millisecond = ms % 1000;
    // On a day after the epoch and on one before it.
    for (const char* date : {"45351", "-36522"}) {
      const std::string value = "(encode-time " + std::to_string(hour) + " " +
                                std::to_string(minute) + " " + std::to_string(second) + " " +
                                std::to_string(millisecond) + ")";
      const std::string moment = date[0] == '-' ? "(- " + std::string(date) + " " + value + ")"
                                                : "(+ " + std::string(date) + " " + value + ")";
      EXPECT_EQ(Number("(decode-hour " + moment + ")"), hour);
      EXPECT_EQ(Number("(decode-minute " + moment + ")"), minute);
      EXPECT_EQ(Number("(decode-second " + moment + ")"), second);
      EXPECT_EQ(Number("(decode-millisecond " + moment + ")"), millisecond);
    }
  }
}

TEST(MiscDateTimeCalendarTest, EveryDayFollowsTheOneBefore) {
  // Each day is the one after its predecessor, and February has 29 days
  // exactly in the leap years of the Gregorian rule.
  const auto is_leap = [](std::int32_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  };
  const std::int32_t month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  TDateTimeFields expected{1890, 1, 1, 0, 0, 0, 0, 3};  // a Wednesday
  const std::int32_t first = static_cast<std::int32_t>(*EncodeDate(1890, 1, 1));
  const std::int32_t last = static_cast<std::int32_t>(*EncodeDate(2110, 12, 31));
  for (std::int32_t day = first; day <= last; ++day) {
    const std::optional<TDateTimeFields> fields = DecodeDateTime(day);
    ASSERT_TRUE(fields.has_value()) << day;
    ASSERT_EQ(fields->year, expected.year) << day;
    ASSERT_EQ(fields->month, expected.month) << day;
    ASSERT_EQ(fields->day, expected.day) << day;
    ASSERT_EQ(fields->day_of_week, expected.day_of_week) << day;
    const std::int32_t length =
        expected.month == 2 && is_leap(expected.year) ? 29 : month_days[expected.month - 1];
    expected.day_of_week = (expected.day_of_week + 1) % 7;
    if (++expected.day > length) {
      expected.day = 1;
      if (++expected.month > 12) {
        expected.month = 1;
        ++expected.year;
      }
    }
  }
  EXPECT_EQ(expected.year, 2111);
}

// --- text forms in the "C" locale -------------------------------------------

TEST_F(MiscDateTimeTest, ValuesAsTextInTheLocalesFormats) {
  ExpectOutcomes(
      Engine(),
      {
          {"date-str", {"45351.75"}, "\"02/29/24\""},
          {"time-str", {"45351.75"}, "\"18:00:00\""},
          {"datetime-str", {"45351.75"}, "\"02/29/24 18:00:00\""},
          {"datetime-str", {"0"}, "\"12/30/99 00:00:00\""},
          {"date-str", {"-1.25"}, "\"12/29/99\""},
          {"time-str", {"-1.25"}, "\"06:00:00\""},
          {"time-str", {"0.1"}, "\"02:24:00\""},
          {"date-str", {"36526"}, "\"01/01/00\""},
          {"date-str", {"'2"}, "\"01/01/00\""},
          {"date-str", {"\"x\""}, "raises: Not a numeric type.  Value (\"x\") is a dtString type"},
      });
}

TEST_F(MiscDateTimeTest, ValuesWrittenByAFormat) {
  ExpectOutcomes(Engine(),
                 {
                     {"datetime-str-format",
                      {"\"dddd d mmmm yyyy, h:nn am/pm\"", "45351.75"},
                      "\"Thursday 29 February 2024, 6:00 pm\""},
                     {"datetime-str-format", {"\"ddd dd mmm yy\"", "0"}, "\"Sat 30 Dec 99\""},
                     {"datetime-str-format", {"\"ddd d/m/yyyy\"", "36526"}, "\"Sat 1/1/2000\""},
                     {"datetime-str-format", {"\"YYYY-MM-DD\"", "45657"}, "\"2024-12-31\""},
                     {"datetime-str-format", {"\"yyyy\"", "-693593"}, "\"0001\""},
                     {"datetime-str-format", {"\"y yyy\"", "45351"}, "\"24 2024\""},
                     {"datetime-str-format", {"\"hh:nn:ss.zzz\"", "0.0001"}, "\"00:00:08.640\""},
                     {"datetime-str-format", {"\"h:n:s z\"", "0.0001"}, "\"0:0:8 640\""},
                     {"datetime-str-format", {"\"h ampm\"", "0"}, "\"12 AM\""},
                     {"datetime-str-format", {"\"h AMPM\"", "0.5"}, "\"12 PM\""},
                     {"datetime-str-format", {"\"hh AM/PM\"", "0.25"}, "\"06 AM\""},
                     {"datetime-str-format", {"\"h Am/pM\"", "0.75"}, "\"6 pM\""},
                     {"datetime-str-format", {"\"hh\"", "0.75"}, "\"18\""},  // no marker: 24 hours
                     {"datetime-str-format", {"\"ddddd\"", "45351"}, "\"Thursday29\""},
                     {"datetime-str-format", {"\"'dd' \"mm\" dd[x]\"", "45351"}, "\"dd mm 29[x]\""},
                     {"datetime-str-format", {"\"'unclosed\"", "45351"}, "\"unclosed\""},
                     {"datetime-str-format", {"\"\"", "45351.75"}, "\"02/29/24 18:00:00\""},
                     {"datetime-str-format",
                      {"\"yyyy\"", "abc"},
                      "raises: Not a numeric type.  Value (abc) is a dtAtom type"},
                     {"datetime-str-format",
                      {"\"yyyy\""},
                      "raises: Too few arguments for datetime-str-format"},
                 });
}

TEST_F(MiscDateTimeTest, TextReadAsDatesAndTimes) {
  ExpectOutcomes(Engine(),
                 {
                     {"str-date", {"\"02/29/24\""}, "45351.0000"},
                     {"str-date", {"\"2/29/2024\""}, "45351.0000"},
                     {"str-date", {"\"  2/29/24 \""}, "45351.0000"},
                     {"str-date", {"\"2 / 29 / 24\""}, "45351.0000"},
                     {"str-date", {"\"Feb/29/24\""}, "45351.0000"},  // a month by name
                     {"str-date", {"\"february/29/24\""}, "45351.0000"},
                     {"str-date", {"\"12/30/1899\""}, "0.0000"},
                     {"str-date", {"\"12/29/1899\""}, "-1.0000"},
                     {"str-date", {"\"1/1/50\""}, "18264.0000"},  // two-digit years: 1950 to 2049
                     {"str-date", {"\"12/31/49\""}, "54788.0000"},
                     {"str-date", {"\"1/1/00\""}, "36526.0000"},
                     {"str-time", {"\"18:00:00\""}, "0.7500"},
                     {"str-time", {"\"6:00\""}, "0.2500"},
                     {"str-time", {"\"2:24\""}, "0.1000"},
                     {"str-time", {"\"6:00 PM\""}, "0.7500"},
                     {"str-time", {"\"6:00:00pm\""}, "0.7500"},
                     {"str-time", {"\"AM 6:00\""}, "0.2500"},
                     {"str-time", {"\"12:00 am\""}, "0.0000"},
                     {"str-time", {"\"12:00 PM\""}, "0.5000"},
                     {"str-time", {"\"0:00:08.640\""}, "0.0001"},
                     {"str-datetime", {"\"02/29/24 18:00\""}, "45351.7500"},
                     {"str-datetime", {"\"2/29/2024\""}, "45351.0000"},  // the time is optional
                     {"str-datetime", {"\"12/29/1899 06:00:00\""}, "-1.2500"},
                     {"str-datetime", {"\"12/29/1899 6:00 pm\""}, "-1.7500"},
                     {"str-date", {"2"}, "raises: str-date error: \"2\" is not a valid date"},
                 });
}

TEST_F(MiscDateTimeTest, TextThatIsNoDateOrTimeIsRefused) {
  const char* const kDates[] = {
      "2/30/24", "13/01/24",  "02-29-24",    "2/29",     "2/29/245",      "2/29/2",
      "abc",     "",          "/2/29/24",    "2/29/24/", "2/29/24 10:00", "2//29/24",
      "0/1/24",  "Fev/29/24", "2/29/24 abc", "29/2/24",
  };
  for (const char* text : kDates) {
    EXPECT_EQ(Outcome("(str-date \"" + std::string(text) + "\")"),
              "raises: str-date error: \"" + std::string(text) + "\" is not a valid date");
  }
  const char* const kTimes[] = {
      "24:00",         "10:60", "10:00:60", "10",     "13:00 PM", "10:30:15.5",
      "10:30:15.5000", "10-30", "10:30 XM", ":10:30", "",         "10:30:15:20",
  };
  for (const char* text : kTimes) {
    EXPECT_EQ(Outcome("(str-time \"" + std::string(text) + "\")"),
              "raises: str-time error: \"" + std::string(text) + "\" is not a valid time");
  }
  const char* const kDateTimes[] = {
      "02/29/24T18:00", "02/29/24/18:00", "02/29/24 25:00", "02/29/24 18", "18:00",
  };
  for (const char* text : kDateTimes) {
    EXPECT_EQ(
        Outcome("(str-datetime \"" + std::string(text) + "\")"),
        "raises: str-datetime error: \"" + std::string(text) + "\" is not a valid date and time");
  }
}

TEST_F(MiscDateTimeTest, TextGoesRoundTrip) {
  // The "C" locale's two-digit years reach from 1950 to 2049.
  const std::int32_t first = 18264;  // 1950-01-01
  const std::int32_t last = 54788;   // 2049-12-31
  for (std::int32_t day = first; day <= last; day += 97) {
    SCOPED_TRACE(day);
    const std::string value = std::to_string(day) + ".5";
    EXPECT_EQ(Number("(str-date (date-str " + value + "))"), day);
    EXPECT_EQ(Number("(str-datetime (datetime-str " + value + "))"), day + 0.5);
  }
  for (std::int32_t second = 0; second < 86400; second += 997) {
    SCOPED_TRACE(second);
    const std::string value = "(/ " + std::to_string(second) + " 86400)";
    EXPECT_NEAR(Number("(str-time (time-str " + value + "))"), second / 86400.0, 1e-12);
  }
  EXPECT_EQ(Number("(str-date (date-str " + std::to_string(last + 1) + "))"), first);
}

// --- the clock --------------------------------------------------------------

TEST_F(MiscDateTimeTest, TheClockReadsConsistently) {
  const double before = Number("(system-datetime)");
  const double date = Number("(system-date)");
  const double time = Number("(system-time)");
  const double seconds = Number("(time)");
  const double after = Number("(system-datetime)");
  EXPECT_EQ(date, std::trunc(date));
  EXPECT_GE(time, 0.0);
  EXPECT_LT(time, 1.0);
  EXPECT_GE(seconds, 0.0);
  EXPECT_LT(seconds, 86400.0);
  EXPECT_GT(date, kFirstDateTimeDay);
  EXPECT_LE(date, kLastDateTimeDay);
  if (std::trunc(before) != std::trunc(after)) {
    GTEST_SKIP() << "midnight passed while the clock was read";
  }
  const double tolerance = 5.0 / 86400;  // five seconds, for a slow machine
  EXPECT_LE(before, date + time + 1e-9);
  EXPECT_LE(date + time, after + 1e-9);
  EXPECT_LT(after - before, tolerance);
  EXPECT_NEAR(seconds / 86400, time, tolerance);
  EXPECT_EQ(std::trunc(before), date);
}

// --- locales ----------------------------------------------------------------

TEST(MiscDateTimeLocaleTest, FormatsOfTheCLibraryBecomeFormatLetters) {
  struct {
    const char* strftime_format;
    const char* letters;
    char separator;  // with '?' as fallback
  } const kCases[] = {
      {"%m/%d/%y", "mm/dd/yy", '/'},
      {"%H:%M:%S", "hh:nn:ss", ':'},
      {"%d.%m.%Y", "dd.mm.yyyy", '.'},
      {"%Y-%m-%d", "yyyy-mm-dd", '-'},
      {"%e %B %Y", "d mmmm yyyy", '?'},
      {"%a %d %b %Y", "ddd dd mmm yyyy", '?'},
      {"%A", "dddd", '?'},
      {"%I:%M:%S %p", "hh:nn:ss ampm", ':'},
      {"%l:%M %P", "h:nn ampm", ':'},
      {"%k.%M", "h.nn", '.'},
      {"%r", "hh:nn:ss ampm", '?'},
      {"%T", "hh:nn:ss", '?'},
      {"%R", "hh:nn", '?'},
      {"%D", "mm/dd/yy", '?'},
      {"%F", "yyyy-mm-dd", '?'},
      {"%-d/%-m/%Y", "d/m/yyyy", '/'},
      {"%_H:%-M:%-S", "h:n:s", ':'},
      {"%Ey %Od", "yy dd", '?'},
      {"%H h %M", "hh \"h\" nn", '?'},
      {"%Hh%M'", "hh\"h\"nn\"'\"", '\''},  // a quote is quoted too
      {"%Y年%m月%d日", "yyyy年mm月dd日", '?'},
      {"%d%%%U%j", "dd%", '%'},  // conversions without letters are left out
      {"%", "", '?'},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.strftime_format);
    EXPECT_EQ(FormatFromStrftime(c.strftime_format), c.letters);
    EXPECT_EQ(SeparatorOfStrftime(c.strftime_format, '?'), c.separator);
  }
}

TEST(MiscDateTimeLocaleTest, TheCLocale) {
  TimeLocale c_locale("C");
  const TDateTimeLocale locale = CurrentDateTimeLocale();
  EXPECT_EQ(locale.short_date_format, "mm/dd/yy");
  EXPECT_EQ(locale.time_format, "hh:nn:ss");
  EXPECT_EQ(locale.date_separator, '/');
  EXPECT_EQ(locale.time_separator, ':');
  EXPECT_EQ(locale.am, "AM");
  EXPECT_EQ(locale.long_month_names[1], "February");
  EXPECT_EQ(locale.short_day_names[0], "Sun");
}

// A locale of another shape, built by hand: day first, full stops between the
// date's fields, a 12-hour clock, German names, no English markers.
TDateTimeLocale DayFirstLocale() {
  TDateTimeLocale locale;
  locale.short_date_format = FormatFromStrftime("%d.%m.%Y");
  locale.time_format = FormatFromStrftime("%I.%M.%S %p");
  locale.date_separator = SeparatorOfStrftime("%d.%m.%Y", '/');
  locale.time_separator = SeparatorOfStrftime("%I.%M.%S %p", ':');
  locale.am = "vorm.";
  locale.pm = "nachm.";
  locale.short_month_names = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                              "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
  locale.long_month_names = {"Januar", "Februar", "März",      "April",   "Mai",      "Juni",
                             "Juli",   "August",  "September", "Oktober", "November", "Dezember"};
  locale.short_day_names = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
  locale.long_day_names = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                           "Donnerstag", "Freitag", "Samstag"};
  return locale;
}

TEST(MiscDateTimeLocaleTest, AnotherLocalesFormatsAndNames) {
  const TDateTimeLocale locale = DayFirstLocale();
  const TDateTimeFields evening = *DecodeDateTime(45351.75);  // 2024-02-29 18:00
  const TDateTimeFields morning = *DecodeDateTime(-1.25);     // 1899-12-29 06:00
  struct {
    const char* format;
    TDateTimeFields fields;
    const char* text;
  } const kFormats[] = {
      {"dd.mm.yyyy", evening, "29.02.2024"},
      {locale.time_format.c_str(), evening, "06.00.00 nachm."},
      {locale.time_format.c_str(), morning, "06.00.00 vorm."},
      {"dddd, d. mmmm yyyy", evening, "Donnerstag, 29. Februar 2024"},
      {"ddd d mmm", morning, "Fr 29 Dez"},
      {"d/m/yy h:nn", evening, "29.2.24 18.00"},  // the separators of the locale
  };
  for (const auto& c : kFormats) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(FormatDateTime(c.format, c.fields, locale), c.text);
  }
  struct {
    const char* text;
    std::optional<double> date;
    std::optional<double> time;
    std::optional<double> date_time;
  } const kTexts[] = {
      {"29.02.2024", 45351.0, std::nullopt, 45351.0},
      {"29.2.24", 45351.0, std::nullopt, 45351.0},
      {"29. Februar 2024", 45351.0, std::nullopt, 45351.0},
      {"29 mär 2024", 45380.0, std::nullopt, 45380.0},  // 2024-03-01 is day 45352
      {"02/29/2024", std::nullopt, std::nullopt, std::nullopt},
      {"6.00.00 nachm.", std::nullopt, 0.75, std::nullopt},
      {"6.00 PM", std::nullopt, 0.75, std::nullopt},
      {"6.00 vorm.", std::nullopt, 0.25, std::nullopt},
      {"29.02.2024 6.00 nachm.", std::nullopt, std::nullopt, 45351.75},
      {"29.12.1899 06.00", std::nullopt, std::nullopt, -1.25},
  };
  for (const auto& c : kTexts) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseDate(c.text, locale), c.date);
    EXPECT_EQ(ParseTime(c.text, locale), c.time);
    EXPECT_EQ(ParseDateTime(c.text, locale), c.date_time);
  }
}

TEST_F(MiscDateTimeTest, FunctionsFollowTheLocaleSetInTheCLibrary) {
  TimeLocale german("de_DE.UTF-8");
  if (!german.IsSet()) {
    GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
  }
  ExpectOutcomes(Engine(), {
                               {"date-str", {"45351.75"}, "\"29.02.2024\""},
                               {"time-str", {"45351.75"}, "\"18:00:00\""},
                               {"datetime-str-format", {"\"d. mmmm\"", "45351"}, "\"29. Februar\""},
                               {"str-date", {"\"29.2.2024\""}, "45351.0000"},
                           });
}

}  // namespace
}  // namespace zephro

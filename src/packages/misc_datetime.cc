// The miscellaneous package's date and time functions: time, the system-
// family, the text conversions, decode- and encode-. The calendar and the
// text forms are date_time.h's; here are the arguments and the errors.

#include "zephro/packages/misc_datetime.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "zephro/functions/user_package.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

#include "packages/date_time.h"
#include "packages/misc_internal.h"

namespace zephro {
namespace {

constexpr std::array<TFunctionTypeInfo, 3> kSystemDateTimeFunctions = {{
    {SystemDateTimeFunctionName, SystemDateTimeComment, SystemDateTimeSyntax, 0, 0},
    {SystemDateFunctionName, SystemDateComment, SystemDateTimeSyntax, 0, 0},
    {SystemTimeFunctionName, SystemTimeComment, SystemDateTimeSyntax, 0, 0},
}};

constexpr std::array<TFunctionTypeInfo, 7> kDateTimeStringFunctions = {{
    {StrDateTimeFunctionName, StrDateTimeComment, StrDateTimeSyntax, 1, 1},
    {StrDateFunctionName, StrDateComment, StrDateTimeSyntax, 1, 1},
    {StrTimeFunctionName, StrTimeComment, StrDateTimeSyntax, 1, 1},
    {DateTimeStrFunctionName, DateTimeStrComment, DateTimeStrSyntax, 1, 1},
    {DateStrFunctionName, DateStrComment, DateTimeStrSyntax, 1, 1},
    {TimeStrFunctionName, TimeStrComment, DateTimeStrSyntax, 1, 1},
    {DateTimeStrFormatFunctionName, DateTimeStrFormatComment, DateTimeStrFormatSyntax, 2, 2},
}};

constexpr std::array<TFunctionTypeInfo, 7> kDecodeDateTimeFunctions = {{
    {DecodeYearFunctionName, DecodeYearComment, DecodeDateTimeSyntax, 1, 1},
    {DecodeMonthFunctionName, DecodeMonthComment, DecodeDateTimeSyntax, 1, 1},
    {DecodeDayFunctionName, DecodeDayComment, DecodeDateTimeSyntax, 1, 1},
    {DecodeHourFunctionName, DecodeHourComment, DecodeDateTimeSyntax, 1, 1},
    {DecodeMinuteFunctionName, DecodeMinuteComment, DecodeDateTimeSyntax, 1, 1},
    {DecodeSecondFunctionName, DecodeSecondComment, DecodeDateTimeSyntax, 1, 1},
    {DecodeMillisecondFunctionName, DecodeMillisecondComment, DecodeDateTimeSyntax, 1, 1},
}};

constexpr std::array<TFunctionTypeInfo, 2> kEncodeDateTimeFunctions = {{
    {EncodeDateFunctionName, EncodeDateComment, EncodeDateSyntax, 1, 3},
    {EncodeTimeFunctionName, EncodeTimeComment, EncodeTimeSyntax, 1, 4},
}};

constexpr double kSecondsPerDay = 86400;

// The fields of `value`, a date-time value; a number outside the range of
// dates is an error of `function`.
TDateTimeFields FieldsOf(const IIEValue& value, const std::string& function) {
  const std::optional<TDateTimeFields> fields = DecodeDateTime(value.AsFloat());
  if (!fields) {
    const std::string message =
        value.ToString() + " is not a date and time from 0001-01-01 to 9999-12-31";
    RaiseIE(SFunctionError, function.c_str(), message.c_str());
  }
  return *fields;
}

}  // namespace

std::span<const TFunctionTypeInfo> FunctionTypes(TSystemDateTimeFunctionType) {
  return kSystemDateTimeFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TDateTimeStringFunctionType) {
  return kDateTimeStringFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TDecodeDateTimeFunctionType) {
  return kDecodeDateTimeFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TEncodeDateTimeFunctionType) {
  return kEncodeDateTimeFunctions;
}

TTimeFunction::TTimeFunction() : TIEUserFunction(TimeFunctionName, TimeComment, TimeSyntax, 0, 0) {}

Ref<IIEValue> TTimeFunction::Run(IFunCall& /*call*/, TIEContext& /*context*/) {
  return TIEValue::Float(TimePart(CurrentDateTime()) * kSecondsPerDay);
}

template <>
Ref<IIEValue> TSystemDateTimeFunction::Run(IFunCall& /*call*/, TIEContext& /*context*/) {
  const double now = CurrentDateTime();
  switch (FunctionType()) {
    case TSystemDateTimeFunctionType::sdtDate:
      return TIEValue::Float(DatePart(now));
    case TSystemDateTimeFunctionType::sdtTime:
      return TIEValue::Float(TimePart(now));
    case TSystemDateTimeFunctionType::sdtDateTime:
      break;
  }
  return TIEValue::Float(now);
}

template <>
Ref<IIEValue> TDateTimeStringFunction::Run(IFunCall& call, TIEContext& context) {
  using enum TDateTimeStringFunctionType;
  const TDateTimeLocale locale = CurrentDateTimeLocale();
  const TDateTimeStringFunctionType type = FunctionType();
  if (type == dtsStrDateTime || type == dtsStrDate || type == dtsStrTime) {
    const std::string text = EvalText(call, 0, context);
    const std::optional<double> value = type == dtsStrDate   ? ParseDate(text, locale)
                                        : type == dtsStrTime ? ParseTime(text, locale)
                                                             : ParseDateTime(text, locale);
    if (!value) {
      const char* what = type == dtsStrDate   ? "date"
                         : type == dtsStrTime ? "time"
                                              : "date and time";
      RaiseError("\"" + text + "\" is not a valid " + what);
    }
    return TIEValue::Float(*value);
  }
  const std::string date_and_time = locale.short_date_format + " " + locale.time_format;
  std::string format;
  int value_index = 0;
  switch (type) {
    case dtsDateStr:
      format = locale.short_date_format;
      break;
    case dtsTimeStr:
      format = locale.time_format;
      break;
    case dtsDateTimeStrFormat:
      format = EvalText(call, 0, context);
      value_index = 1;
      break;
    default:
      break;
  }
  if (format.empty()) {
    format = date_and_time;
  }
  const Ref<IIEValue> value = Eval(call, value_index, context);
  return TIEValue::String(FormatDateTime(format, FieldsOf(*value, FunctionName()), locale));
}

template <>
Ref<IIEValue> TDecodeDateTimeFunction::Run(IFunCall& call, TIEContext& context) {
  const TDateTimeFields fields = FieldsOf(*Eval(call, 0, context), FunctionName());
  switch (FunctionType()) {
    case TDecodeDateTimeFunctionType::ddtYear:
      return TIEValue::Integer(fields.year);
    case TDecodeDateTimeFunctionType::ddtMonth:
      return TIEValue::Integer(fields.month);
    case TDecodeDateTimeFunctionType::ddtDay:
      return TIEValue::Integer(fields.day);
    case TDecodeDateTimeFunctionType::ddtHour:
      return TIEValue::Integer(fields.hour);
    case TDecodeDateTimeFunctionType::ddtMinute:
      return TIEValue::Integer(fields.minute);
    case TDecodeDateTimeFunctionType::ddtSecond:
      return TIEValue::Integer(fields.second);
    case TDecodeDateTimeFunctionType::ddtMillisecond:
      break;
  }
  return TIEValue::Integer(fields.millisecond);
}

template <>
Ref<IIEValue> TEncodeDateTimeFunction::Run(IFunCall& call, TIEContext& context) {
  const bool date = FunctionType() == TEncodeDateTimeFunctionType::edtDate;
  // A date's month and day are 1 when left out, a time's fields 0.
  std::array<std::int32_t, 4> fields = {0, date ? 1 : 0, date ? 1 : 0, 0};
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    fields[static_cast<std::size_t>(i)] = EvalInteger(call, i, context);
  }
  const std::optional<double> value = date ? EncodeDate(fields[0], fields[1], fields[2])
                                           : EncodeTime(fields[0], fields[1], fields[2], fields[3]);
  if (!value) {
    RaiseError(date ? FormatMessage("year %d, month %d, day %d is not a valid date", fields[0],
                                    fields[1], fields[2])
                    : FormatMessage("hour %d, minute %d, second %d, millisecond %d is not a "
                                    "valid time",
                                    fields[0], fields[1], fields[2], fields[3]));
  }
  return TIEValue::Float(*value);
}

void AddMiscDateTimeFunctions(TUserPackage& package) {
  package.AddFunction<TTimeFunction>();
  AddFamily<TSystemDateTimeFunction>(package);
  AddFamily<TDateTimeStringFunction>(package);
  AddFamily<TDecodeDateTimeFunction>(package);
  AddFamily<TEncodeDateTimeFunction>(package);
}

}  // namespace zephro

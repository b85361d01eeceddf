#include "packages/date_time.h"

#include <langinfo.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <vector>

namespace zephro {
namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::weekday;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr sys_days kDayZero = sys_days{year{1899} / std::chrono::December / 30};
constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

// --- format letters ---------------------------------------------------------

enum class TItemKind : std::uint8_t {
  kLiteral,
  kDateSeparator,
  kTimeSeparator,
  kYear2,
  kYear4,
  kMonth,
  kMonth2,
  kMonthShort,
  kMonthLong,
  kDay,
  kDay2,
  kDayShort,
  kDayLong,
  kHour,
  kHour2,
  kMinute,
  kMinute2,
  kSecond,
  kSecond2,
  kMillisecond,
  kMillisecond3,
  kAmPmLetters,  // "am/pm" as written: the case of each half is kept
  kAmPmLocale,   // "ampm": the locale's markers
};

struct TFormatItem {
  TItemKind kind;
  std::string text;  // a literal's characters; the letters of kAmPmLetters
};

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) {
      return false;
    }
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// How many times `c` repeats from the start of `text` (in any case).
std::size_t RunLength(std::string_view text, char c) {
  std::size_t n = 0;
  while (n < text.size() && Lower(text[n]) == c) {
    ++n;
  }
  return n;
}

void AddLiteral(std::vector<TFormatItem>& items, std::string_view text) {
  if (!items.empty() && items.back().kind == TItemKind::kLiteral) {
    items.back().text += text;
  } else {
    items.push_back({TItemKind::kLiteral, std::string(text)});
  }
}

// The letter `c` starting `rest`, a run of `n` of them, as an item: the
// kinds for one, two, three and four letters (a longer run is cut after
// `kinds.size()`), and how many letters it takes.
std::size_t AddRun(std::vector<TFormatItem>& items, std::string_view rest,
                   std::initializer_list<TItemKind> kinds) {
  const std::size_t n = std::min(RunLength(rest, Lower(rest[0])), kinds.size());
  items.push_back({kinds.begin()[n - 1], ""});
  return n;
}

// `format` split into its items.
std::vector<TFormatItem> FormatItems(std::string_view format) {
  using enum TItemKind;
  std::vector<TFormatItem> items;
  std::size_t i = 0;
  while (i < format.size()) {
    const std::string_view rest = format.substr(i);
    const char c = Lower(rest[0]);
    if (c == '"' || c == '\'') {
      const std::size_t close = rest.find(rest[0], 1);
      const std::size_t end = close == std::string_view::npos ? rest.size() : close;
      AddLiteral(items, rest.substr(1, end - 1));
      i += std::min(end + 1, rest.size());
    } else if (c == '/' || c == ':') {
      items.push_back({c == '/' ? kDateSeparator : kTimeSeparator, ""});
      ++i;
    } else if (StartsWithNoCase(rest, "am/pm")) {
      items.push_back({kAmPmLetters, std::string(rest.substr(0, 5))});
      i += 5;
    } else if (StartsWithNoCase(rest, "ampm")) {
      items.push_back({kAmPmLocale, ""});
      i += 4;
    } else if (c == 'y') {
      const std::size_t n = RunLength(rest, 'y');
      items.push_back({n <= 2 ? kYear2 : kYear4, ""});
      i += n;
    } else if (c == 'm') {
      i += AddRun(items, rest, {kMonth, kMonth2, kMonthShort, kMonthLong});
    } else if (c == 'd') {
      i += AddRun(items, rest, {kDay, kDay2, kDayShort, kDayLong});
    } else if (c == 'h') {
      i += AddRun(items, rest, {kHour, kHour2});
    } else if (c == 'n') {
      i += AddRun(items, rest, {kMinute, kMinute2});
    } else if (c == 's') {
      i += AddRun(items, rest, {kSecond, kSecond2});
    } else if (c == 'z') {
      i += AddRun(items, rest, {kMillisecond, kMillisecond, kMillisecond3});
    } else {
      AddLiteral(items, rest.substr(0, 1));
      ++i;
    }
  }
  return items;
}

std::string Padded(std::int32_t number, std::size_t width) {
  std::string digits = std::to_string(number);
  if (digits.size() < width) {
    digits.insert(0, width - digits.size(), '0');
  }
  return digits;
}

// --- reading text -----------------------------------------------------------

// A number or a word of a text, and the separators before it.
struct TTextToken {
  bool number;
  std::string text;
  std::string before;
};

// The characters a format puts between its fields.
std::string SeparatorsOf(std::string_view format, const TDateTimeLocale& locale) {
  std::string separators;
  for (const TFormatItem& item : FormatItems(format)) {
    switch (item.kind) {
      case TItemKind::kLiteral:
        separators += item.text;
        break;
      case TItemKind::kDateSeparator:
        separators += locale.date_separator;
        break;
      case TItemKind::kTimeSeparator:
        separators += locale.time_separator;
        break;
      default:
        break;
    }
  }
  return separators;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// `text` split into numbers (runs of digits) and words (runs of other
// characters that are neither blanks nor `separators`, and a full stop right
// after them). Nothing when the text starts or ends with a separator other
// than a blank, or has two such separators between two tokens.
std::optional<std::vector<TTextToken>> Tokens(std::string_view text, std::string_view separators) {
  const auto is_separator = [&](char c) {
    return c == ' ' || c == '\t' || separators.find(c) != std::string_view::npos;
  };
  std::vector<TTextToken> tokens;
  std::size_t i = 0;
  while (true) {
    std::string before;
    while (i < text.size() && !IsDigit(text[i]) && is_separator(text[i])) {
      before += text[i++];
    }
    // Blanks, with one other separator at most, and none at the ends.
    const auto others =
        std::count_if(before.begin(), before.end(), [](char c) { return c != ' ' && c != '\t'; });
    if (others > ((tokens.empty() || i == text.size()) ? 0 : 1)) {
      return std::nullopt;
    }
    if (i == text.size()) {
      return tokens;
    }
    const bool number = IsDigit(text[i]);
    const std::size_t start = i;
    while (i < text.size() &&
           (number ? IsDigit(text[i]) : !IsDigit(text[i]) && !is_separator(text[i]))) {
      ++i;
    }
    if (!number && i < text.size() && text[i] == '.') {
      ++i;  // the full stop of an abbreviation
    }
    tokens.push_back({number, std::string(text.substr(start, i - start)), std::move(before)});
  }
}

std::string_view WithoutFullStop(std::string_view word) {
  if (!word.empty() && word.back() == '.') {
    word.remove_suffix(1);
  }
  return word;
}

// Walks the tokens of a text.
class TTokenReader {
 public:
  explicit TTokenReader(std::vector<TTextToken> tokens) : tokens_(std::move(tokens)) {}

  bool AtEnd() const { return next_ == tokens_.size(); }
  const TTextToken* Peek() const { return AtEnd() ? nullptr : &tokens_[next_]; }

  // The next token's number when it is one of `min_digits` to `max_digits`
  // digits; -1 (reading nothing) otherwise.
  std::int32_t Number(std::size_t min_digits, std::size_t max_digits) {
    const TTextToken* token = Peek();
    if (token == nullptr || !token->number || token->text.size() < min_digits ||
        token->text.size() > max_digits) {
      return -1;
    }
    ++next_;
    return std::stoi(token->text);
  }

  // The position of the next token's word in `names` (in any case, a
  // trailing full stop left out of both), reading it; -1 (reading nothing)
  // when the next token is no word of the list.
  template <std::size_t N>
  int Name(const std::array<std::string, N>& names) {
    const TTextToken* token = Peek();
    if (token == nullptr || token->number) {
      return -1;
    }
    const std::string_view word = WithoutFullStop(token->text);
    for (std::size_t i = 0; i < N; ++i) {
      const std::string_view name = WithoutFullStop(names[i]);
      if (!name.empty() && EqualsNoCase(word, name)) {
        ++next_;
        return static_cast<int>(i);
      }
    }
    return -1;
  }

 private:
  std::vector<TTextToken> tokens_;
  std::size_t next_ = 0;
};

// A year of two digits moved into 1950 to 2049.
std::int32_t FullYear(std::int32_t year, std::size_t digits) {
  if (digits != 2) {
    return year;
  }
  return year < 50 ? 2000 + year : 1900 + year;
}

// The date the reader's next tokens give, their fields in the order of the
// locale's short date format.
std::optional<double> ReadDate(TTokenReader& reader, const TDateTimeLocale& locale) {
  using enum TItemKind;
  std::int32_t year = -1;
  std::int32_t month = -1;
  std::int32_t day = -1;
  for (const TFormatItem& item : FormatItems(locale.short_date_format)) {
    switch (item.kind) {
      case kYear2:
      case kYear4: {
        const TTextToken* token = reader.Peek();
        const std::size_t digits = token == nullptr ? 0 : token->text.size();
        year = digits == 2 || digits == 4 ? reader.Number(digits, digits) : -1;
        if (year < 0) {
          return std::nullopt;
        }
        year = FullYear(year, digits);
        break;
      }
      case kMonth:
      case kMonth2:
      case kMonthShort:
      case kMonthLong: {
        month = reader.Number(1, 2);
        if (month < 0) {
          int index = reader.Name(locale.short_month_names);
          if (index < 0) {
            index = reader.Name(locale.long_month_names);
          }
          if (index < 0) {
            return std::nullopt;
          }
          month = index + 1;
        }
        break;
      }
      case kDay:
      case kDay2:
        day = reader.Number(1, 2);
        if (day < 0) {
          return std::nullopt;
        }
        break;
      case kDayShort:
      case kDayLong:  // a day's name may stand where the format has one
        if (reader.Name(locale.short_day_names) < 0) {
          reader.Name(locale.long_day_names);
        }
        break;
      default:
        break;
    }
  }
  return EncodeDate(year, month, day);
}

// Whether the next token is a morning or afternoon marker, reading it.
std::optional<bool> ReadAfternoon(TTokenReader& reader, const TDateTimeLocale& locale) {
  const std::array<std::string, 4> markers = {locale.am, locale.pm, "AM", "PM"};
  const int index = reader.Name(markers);
  if (index < 0) {
    return std::nullopt;
  }
  return index % 2 == 1;
}

// The time the reader's next tokens give: hour, minute, optional second and
// millisecond (three digits), an optional marker before or after them.
std::optional<double> ReadTime(TTokenReader& reader, const TDateTimeLocale& locale) {
  std::optional<bool> afternoon = ReadAfternoon(reader, locale);
  std::int32_t hour = reader.Number(1, 2);
  const std::int32_t minute = reader.Number(1, 2);
  if (hour < 0 || minute < 0) {
    return std::nullopt;
  }
  std::int32_t second = reader.Number(1, 2);
  std::int32_t millisecond = second < 0 ? -1 : reader.Number(3, 3);
  second = std::max(second, 0);
  millisecond = std::max(millisecond, 0);
  if (!afternoon) {
    afternoon = ReadAfternoon(reader, locale);
  }
  if (afternoon) {
    if (hour > 12) {
      return std::nullopt;
    }
    hour = hour % 12 + (*afternoon ? 12 : 0);
  }
  return EncodeTime(hour, minute, second, millisecond);
}

}  // namespace

// --- values and fields ------------------------------------------------------

std::optional<TDateTimeFields> DecodeDateTime(double value) {
  if (!std::isfinite(value)) {
    return std::nullopt;
  }
  const double whole = std::trunc(value);
  if (whole < kFirstDateTimeDay || whole > kLastDateTimeDay) {
    return std::nullopt;
  }
  auto day_number = static_cast<std::int32_t>(whole);
  std::int64_t milliseconds = std::llround(std::fabs(value - whole) * kMillisecondsPerDay);
  if (milliseconds >= kMillisecondsPerDay) {  // rounded up to midnight: the next day
    if (day_number < kLastDateTimeDay) {
      ++day_number;
      milliseconds = 0;
    } else {
      milliseconds = kMillisecondsPerDay - 1;
    }
  }
  const sys_days date = kDayZero + days{day_number};
  const year_month_day ymd{date};
  TDateTimeFields fields;
  fields.year = static_cast<std::int32_t>(ymd.year());
  fields.month = static_cast<std::int32_t>(static_cast<unsigned>(ymd.month()));
  fields.day = static_cast<std::int32_t>(static_cast<unsigned>(ymd.day()));
  fields.day_of_week = static_cast<std::int32_t>(weekday{date}.c_encoding());
  const std::chrono::hh_mm_ss time{std::chrono::milliseconds{milliseconds}};
  fields.hour = static_cast<std::int32_t>(time.hours().count());
  fields.minute = static_cast<std::int32_t>(time.minutes().count());
  fields.second = static_cast<std::int32_t>(time.seconds().count());
  fields.millisecond = static_cast<std::int32_t>(time.subseconds().count());
  return fields;
}

std::optional<double> EncodeDate(std::int32_t year_number, std::int32_t month_number,
                                 std::int32_t day_number) {
  // The calendar types keep a day in a byte: the ranges are checked first.
  if (year_number < 1 || year_number > 9999 || month_number < 1 || month_number > 12 ||
      day_number < 1 || day_number > 31) {
    return std::nullopt;
  }
  const year_month_day ymd{year{year_number}, month{static_cast<unsigned>(month_number)},
                           day{static_cast<unsigned>(day_number)}};
  if (!ymd.ok()) {
    return std::nullopt;
  }
  return static_cast<double>((sys_days{ymd} - kDayZero).count());
}

std::optional<double> EncodeTime(std::int32_t hour, std::int32_t minute, std::int32_t second,
                                 std::int32_t millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return std::nullopt;
  }
  const auto total = std::chrono::hours{hour} + std::chrono::minutes{minute} +
                     std::chrono::seconds{second} + std::chrono::milliseconds{millisecond};
  return static_cast<double>(total.count()) / kMillisecondsPerDay;
}

double CombineDateTime(double date, double time) {
  return date < 0 ? date - time : date + time;
}

double DatePart(double value) {
  return std::trunc(value);
}

double TimePart(double value) {
  return std::fabs(value - std::trunc(value));
}

// --- the locale -------------------------------------------------------------

TDateTimeLocale CurrentDateTimeLocale() {
  TDateTimeLocale locale;
  const char* date_format = nl_langinfo(D_FMT);
  const char* time_format = nl_langinfo(T_FMT);
  locale.short_date_format = FormatFromStrftime(date_format);
  locale.time_format = FormatFromStrftime(time_format);
  locale.date_separator = SeparatorOfStrftime(date_format, '/');
  locale.time_separator = SeparatorOfStrftime(time_format, ':');
  locale.am = nl_langinfo(AM_STR);
  locale.pm = nl_langinfo(PM_STR);
  for (int i = 0; i < 12; ++i) {
    locale.short_month_names[i] = nl_langinfo(static_cast<nl_item>(ABMON_1 + i));
    locale.long_month_names[i] = nl_langinfo(static_cast<nl_item>(MON_1 + i));
  }
  for (int i = 0; i < 7; ++i) {
    locale.short_day_names[i] = nl_langinfo(static_cast<nl_item>(ABDAY_1 + i));
    locale.long_day_names[i] = nl_langinfo(static_cast<nl_item>(DAY_1 + i));
  }
  return locale;
}

namespace {

// The format letters of one C library conversion; `unpadded` when the
// conversion asked for no leading zeros. Empty for a conversion they cannot
// say.
std::string_view LettersOfConversion(char conversion, bool unpadded) {
  switch (conversion) {
    case 'd':
      return unpadded ? "d" : "dd";
    case 'e':
      return "d";
    case 'm':
      return unpadded ? "m" : "mm";
    case 'y':
      return "yy";
    case 'Y':
      return "yyyy";
    case 'H':
    case 'I':
      return unpadded ? "h" : "hh";
    case 'k':
    case 'l':
      return "h";
    case 'M':
      return unpadded ? "n" : "nn";
    case 'S':
      return unpadded ? "s" : "ss";
    case 'p':
    case 'P':
      return "ampm";
    case 'b':
    case 'h':
      return "mmm";
    case 'B':
      return "mmmm";
    case 'a':
      return "ddd";
    case 'A':
      return "dddd";
    case 'D':
      return "mm/dd/yy";
    case 'F':
      return "yyyy-mm-dd";
    case 'T':
      return "hh:nn:ss";
    case 'R':
      return "hh:nn";
    case 'r':
      return "hh:nn:ss ampm";
    case 'n':
    case 't':
      return " ";
    default:
      return "";
  }
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Walks a C library format: `conversion(letter, unpadded)` for each
// conversion, `literal(c)` for each other character ("%%" is a literal '%').
template <class Conversion, class Literal>
void ForEachStrftimePart(std::string_view format, Conversion conversion, Literal literal) {
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      literal(format[i++]);
      continue;
    }
    ++i;
    bool unpadded = false;
    while (i < format.size() &&
           std::string_view("-_0^#").find(format[i]) != std::string_view::npos) {
      unpadded = unpadded || format[i] == '-' || format[i] == '_';
      ++i;
    }
    while (i < format.size() && (IsDigit(format[i]) || format[i] == 'E' || format[i] == 'O')) {
      ++i;  // field widths and the alternative forms change no field
    }
    if (i == format.size()) {
      return;
    }
    if (format[i] == '%') {
      literal('%');
    } else {
      conversion(format[i], unpadded);
    }
    ++i;
  }
}

}  // namespace

std::string FormatFromStrftime(std::string_view strftime_format) {
  std::string letters;
  std::string quoted;  // a run of literal letters waiting for its quotes
  const auto flush = [&] {
    if (!quoted.empty()) {
      const char quote = quoted.find('"') == std::string::npos ? '"' : '\'';
      letters += quote + quoted + quote;
      quoted.clear();
    }
  };
  ForEachStrftimePart(
      strftime_format,
      [&](char conversion, bool unpadded) {
        flush();
        letters += LettersOfConversion(conversion, unpadded);
      },
      [&](char c) {
        if (IsAsciiLetter(c) || c == '"' || c == '\'') {
          quoted += c;
        } else {
          flush();
          letters += c;
        }
      });
  flush();
  return letters;
}

char SeparatorOfStrftime(std::string_view strftime_format, char fallback) {
  char separator = 0;
  ForEachStrftimePart(
      strftime_format, [](char, bool) {},
      [&](char c) {
        const bool punctuation = c > ' ' && c < 0x7f && !IsAsciiLetter(c) && !IsDigit(c);
        if (separator == 0 && punctuation) {
          separator = c;
        }
      });
  return separator == 0 ? fallback : separator;
}

// --- text forms -------------------------------------------------------------

std::string FormatDateTime(std::string_view format, const TDateTimeFields& fields,
                           const TDateTimeLocale& locale) {
  using enum TItemKind;
  const std::vector<TFormatItem> items = FormatItems(format);
  const bool twelve_hours = std::any_of(items.begin(), items.end(), [](const TFormatItem& item) {
    return item.kind == kAmPmLetters || item.kind == kAmPmLocale;
  });
  const std::int32_t hour =
      twelve_hours ? (fields.hour % 12 == 0 ? 12 : fields.hour % 12) : fields.hour;
  const bool afternoon = fields.hour >= 12;
  std::string text;
  for (const TFormatItem& item : items) {
    switch (item.kind) {
      case kLiteral:
        text += item.text;
        break;
      case kDateSeparator:
        text += locale.date_separator;
        break;
      case kTimeSeparator:
        text += locale.time_separator;
        break;
      case kYear2:
        text += Padded(fields.year % 100, 2);
        break;
      case kYear4:
        text += Padded(fields.year, 4);
        break;
      case kMonth:
      case kMonth2:
        text += Padded(fields.month, item.kind == kMonth2 ? 2 : 1);
        break;
      case kMonthShort:
        text += locale.short_month_names[static_cast<std::size_t>(fields.month - 1)];
        break;
      case kMonthLong:
        text += locale.long_month_names[static_cast<std::size_t>(fields.month - 1)];
        break;
      case kDay:
      case kDay2:
        text += Padded(fields.day, item.kind == kDay2 ? 2 : 1);
        break;
      case kDayShort:
        text += locale.short_day_names[static_cast<std::size_t>(fields.day_of_week)];
        break;
      case kDayLong:
        text += locale.long_day_names[static_cast<std::size_t>(fields.day_of_week)];
        break;
      case kHour:
      case kHour2:
        text += Padded(hour, item.kind == kHour2 ? 2 : 1);
        break;
      case kMinute:
      case kMinute2:
        text += Padded(fields.minute, item.kind == kMinute2 ? 2 : 1);
        break;
      case kSecond:
      case kSecond2:
        text += Padded(fields.second, item.kind == kSecond2 ? 2 : 1);
        break;
      case kMillisecond:
      case kMillisecond3:
        text += Padded(fields.millisecond, item.kind == kMillisecond3 ? 3 : 1);
        break;
      case kAmPmLetters:
        text += afternoon ? item.text.substr(3, 2) : item.text.substr(0, 2);
        break;
      case kAmPmLocale:
        text += afternoon ? locale.pm : locale.am;
        break;
    }
  }
  return text;
}

namespace {

// `text` read by `read` from its tokens (Tokens) between `separators`;
// nothing when the tokens are not all read.
template <class Read>
std::optional<double> ReadWhole(std::string_view text, std::string_view separators, Read read) {
  auto tokens = Tokens(text, separators);
  if (!tokens) {
    return std::nullopt;
  }
  TTokenReader reader(std::move(*tokens));
  const std::optional<double> value = read(reader);
  return reader.AtEnd() ? value : std::nullopt;
}

}  // namespace

std::optional<double> ParseDate(std::string_view text, const TDateTimeLocale& locale) {
  return ReadWhole(text, SeparatorsOf(locale.short_date_format, locale),
                   [&](TTokenReader& reader) { return ReadDate(reader, locale); });
}

std::optional<double> ParseTime(std::string_view text, const TDateTimeLocale& locale) {
  return ReadWhole(text, SeparatorsOf(locale.time_format, locale) + '.',
                   [&](TTokenReader& reader) { return ReadTime(reader, locale); });
}

std::optional<double> ParseDateTime(std::string_view text, const TDateTimeLocale& locale) {
  const std::string separators = SeparatorsOf(locale.short_date_format, locale) +
                                 SeparatorsOf(locale.time_format, locale) + '.';
  return ReadWhole(text, separators, [&](TTokenReader& reader) -> std::optional<double> {
    const std::optional<double> date = ReadDate(reader, locale);
    if (!date || reader.AtEnd()) {
      return date;
    }
    // The time follows the date after a blank.
    if (reader.Peek()->before.find_first_of(" \t") == std::string::npos) {
      return std::nullopt;
    }
    const std::optional<double> time = ReadTime(reader, locale);
    if (!time) {
      return std::nullopt;
    }
    return CombineDateTime(*date, *time);
  });
}

// --- now --------------------------------------------------------------------

double CurrentDateTime() {
  const auto now = std::chrono::system_clock::now();
  const time_t seconds = std::chrono::system_clock::to_time_t(now);
  tm local{};
  localtime_r(&seconds, &local);
  const auto since_epoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const auto millisecond = static_cast<std::int32_t>(since_epoch.count() % 1000);
  // A leap second reads as the last second of its minute.
  const std::optional<double> date =
      EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  const std::optional<double> time =
      EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), millisecond);
  return CombineDateTime(date.value_or(0), time.value_or(0));
}

}  // namespace zephro

#include "zephro/values/exceptions.h"

// Messages are formatted with vsnprintf under the "C" locale, switched on for the
// calling thread only (uselocale) and only while formatting: a host that sets a
// locale with a decimal comma still gets "2.5000" in the engine's messages, and
// other threads are not disturbed. Most messages fit the stack buffer; a longer
// one is formatted a second time into a string of the exact size.

#include <locale.h>
#include <stdarg.h>

#include <cstdio>
#include <new>
#include <string>

#include "zephro/values/messages.h"

namespace zephro {
namespace {

// Context texts longer than this are shortened to kContextEnd characters from
// each end. Lengths count bytes of the text.
constexpr std::size_t kMaxContext = 255;
constexpr std::size_t kContextEnd = 128;
constexpr std::string_view kContextGap = "... \n";

// Made on first use and never freed. Should it fail, it is the null locale, for
// which uselocale changes nothing.
locale_t CLocale() {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  return c_locale;
}

// Puts the calling thread in the "C" locale for the scope's lifetime.
class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

[[gnu::format(printf, 1, 0)]] std::string VFormat(const char* tmpl, va_list args) {
  CLocaleScope c_locale;
  va_list retry;
  va_copy(retry, args);
  char buffer[256];
  const int length = std::vsnprintf(buffer, sizeof buffer, tmpl, args);
  std::string result;
  if (length < 0) {
    // Only an argument the C library cannot convert gets here; the bare template
    // still says what went wrong.
    result = tmpl;
  } else if (static_cast<std::size_t>(length) < sizeof buffer) {
    result.assign(buffer, static_cast<std::size_t>(length));
  } else {
    result.resize(static_cast<std::size_t>(length));
    std::vsnprintf(result.data(), result.size() + 1, tmpl, retry);
  }
  va_end(retry);
  return result;
}

std::string ShortenContext(std::string_view context) {
  if (context.size() <= kMaxContext) {
    return std::string(context);
  }
  std::string shortened;
  shortened.reserve(2 * kContextEnd + kContextGap.size());
  shortened.append(context.substr(0, kContextEnd));
  shortened.append(kContextGap);
  shortened.append(context.substr(context.size() - kContextEnd));
  return shortened;
}

}  // namespace

std::string FormatMessage(const char* tmpl, ...) {
  va_list args;
  va_start(args, tmpl);
  std::string message = VFormat(tmpl, args);
  va_end(args);
  return message;
}

void RaiseIE(const char* tmpl, ...) {
  va_list args;
  va_start(args, tmpl);
  std::string message = VFormat(tmpl, args);
  va_end(args);
  throw EIEException(std::move(message));
}

void RaiseIEPlain(std::string message) {
  throw EIEException(std::move(message));
}

EIEParseException MakeParseError(std::string_view detail, std::string_view place,
                                 std::int32_t line_number, std::string_view context) {
  std::string message =
      FormatMessage(SParseError, std::string(detail).c_str(), std::string(place).c_str(),
                    std::to_string(line_number).c_str(), ShortenContext(context).c_str());
  return EIEParseException(std::move(message), line_number);
}

void RaiseParseError(std::string_view detail, std::string_view place, std::int32_t line_number,
                     std::string_view context) {
  throw MakeParseError(detail, place, line_number, context);
}

EIEParseException LocatedError(std::string_view file, std::int32_t line,
                               const std::exception& error) {
  if (const auto* parse = dynamic_cast<const EIEParseException*>(&error);
      parse != nullptr && parse->LocatedInFile()) {
    return *parse;
  }
  std::string message = file.empty() ? "line " + std::to_string(line)
                                     : std::string(file) + ":" + std::to_string(line);
  message += ": ";
  const auto* base = dynamic_cast<const EBaseException*>(&error);
  if (base != nullptr && !base->RuleName().empty()) {
    message += "rule " + base->RuleName() + ": ";
  }
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    message += "Out of memory";
  } else {
    // A place in text that is no file's (a batch file's line, parsed on its
    // own) is replaced by this one.
    std::string_view text = error.what();
    if (text.starts_with("line ")) {
      const std::size_t digits = text.find_first_not_of("0123456789", 5);
      if (digits > 5 && digits != std::string_view::npos && text.substr(digits, 2) == ": ") {
        text.remove_prefix(digits + 2);
      }
    }
    message += text;
  }
  EIEParseException located(std::move(message), line);
  located.SetLocatedInFile(!file.empty());
  return located;
}

void RethrowAt(std::string_view file, std::int32_t line, const std::exception& error) {
  throw LocatedError(file, line, error);
}

void RaiseCollectedParseErrors(const std::vector<EIEParseException>& errors) {
  if (errors.empty()) {
    return;
  }
  if (errors.size() == 1) {
    throw errors.front();
  }
  std::string collected;
  for (std::size_t i = 0; i < errors.size(); ++i) {
    if (i > 0) {
      collected += '\n';
    }
    collected += errors[i].Message();
  }
  // The combined error points at the first one: that is where the input first
  // went wrong, and later errors are often its consequences.
  throw EIEParseException(FormatMessage(SMultipleParseError, collected.c_str()),
                          errors.front().LineNumber());
}

}  // namespace zephro

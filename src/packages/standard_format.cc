// The formatting routine of `format` and `str-format`.
//
// The routine works on the text itself rather than on a parsed template: each
// value looks for the first per-cent sign left in the text, so a directive
// is consumed by replacing it with what it produced, and text a value produced
// is searched again by the next value. That keeps surplus values (appended) and
// missing values (the directive stays) simple, and it is what users see:
// a value whose text holds a per-cent sign offers it to the value after it.
//
// Directives are interpreted here rather than handed to snprintf: the
// control string is user input, and a width or precision taken from it must
// not decide how much memory is written. Numbers go through std::to_chars, which
// ignores the host's locale.

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "zephro/packages/standard_io.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {

namespace {

// The characters a directive may hold between its per-cent sign and its
// conversion character.
constexpr std::string_view kDirectiveChars = "%-0123456789.";
// The largest width or precision a directive may ask for.
constexpr int kMaxFieldWidth = 4096;

// The conversion characters; any other character after a directive's
// flags takes a value and leaves the text alone.
constexpr std::string_view kConversionChars = "duxfegmps";

struct TFormatDirective {
  bool left_aligned = false;
  bool zero_padded = false;
  int width = 0;
  int precision = -1;  // none given
};

int PrecisionOr(const TFormatDirective& parsed, int otherwise) {
  return parsed.precision >= 0 ? parsed.precision : otherwise;
}

[[noreturn]] void RaiseInvalidDirective(std::string_view directive) {
  RaiseIE(SBadArgument,
          ("invalid format directive \"" + std::string(directive) + "\"").c_str());
}

// flags := ["-"] [width] ["." [precision]]   (a width starting with 0 pads with zeros)
TFormatDirective ParseDirective(std::string_view flags, std::string_view directive) {
  TFormatDirective parsed;
  std::size_t i = 0;
  auto read_number = [&](int& out) {
    while (i < flags.size() && flags[i] >= '0' && flags[i] <= '9') {
      out = out * 10 + (flags[i] - '0');
      if (out > kMaxFieldWidth) {
        RaiseInvalidDirective(directive);
      }
      ++i;
    }
  };
  if (i < flags.size() && flags[i] == '-') {
    parsed.left_aligned = true;
    ++i;
  }
  if (i < flags.size() && flags[i] == '0') {
    parsed.zero_padded = true;
  }
  read_number(parsed.width);
  if (i < flags.size() && flags[i] == '.') {
    ++i;
    parsed.precision = 0;
    read_number(parsed.precision);
  }
  if (i != flags.size()) {
    RaiseInvalidDirective(directive);
  }
  return parsed;
}

// `body` widened to the directive's width. Zeros go after a sign, and only
// where the conversion allows them (`zeros_allowed`).
std::string Pad(std::string body, const TFormatDirective& parsed, bool zeros_allowed) {
  const auto width = static_cast<std::size_t>(parsed.width);
  if (body.size() >= width) {
    return body;
  }
  const std::size_t fill = width - body.size();
  if (parsed.left_aligned) {
    return body.append(fill, ' ');
  }
  if (parsed.zero_padded && zeros_allowed) {
    const std::size_t sign = !body.empty() && (body[0] == '-' || body[0] == '+') ? 1 : 0;
    return body.insert(sign, fill, '0');
  }
  return body.insert(0, fill, ' ');
}

// Digits of an unsigned number in `base`, lower-case, at least `precision` of them.
std::string Digits(std::uint64_t n, int base, int precision) {
  char buffer[32];
  const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, n, base);
  std::string digits(buffer, r.ptr);
  if (precision >= 0 && digits.size() < static_cast<std::size_t>(precision)) {
    digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
  }
  return digits;
}

std::string Decimal(std::int32_t value, int precision) {
  const auto magnitude = static_cast<std::uint64_t>(value < 0 ? -static_cast<std::int64_t>(value)
                                                              : static_cast<std::int64_t>(value));
  std::string digits = Digits(magnitude, 10, precision);
  return value < 0 ? "-" + digits : digits;
}

std::string Real(double value, std::chars_format format, int precision) {
  // The longest fixed text: 309 integer digits, a point and kMaxFieldWidth decimals.
  std::string buffer(kMaxFieldWidth + 400, '\0');
  const std::to_chars_result r =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format, precision);
  buffer.resize(static_cast<std::size_t>(r.ptr - buffer.data()));
  return buffer;
}

// Fixed notation with a comma between groups of three integer digits.
std::string Money(double value, int precision) {
  std::string text = Real(value, std::chars_format::fixed, precision);
  const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  std::size_t end = text.find('.');
  if (end == std::string::npos) {
    end = text.size();
  }
  for (std::size_t i = end; i > start + 3; i -= 3) {
    text.insert(i - 3, 1, ',');
  }
  return text;
}

std::string Address(const void* address) {
  std::string digits =
      Digits(reinterpret_cast<std::uintptr_t>(address), 16, 2 * static_cast<int>(sizeof address));
  for (char& c : digits) {
    if (c >= 'a' && c <= 'f') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return digits;
}

// What `value` gives for the conversion `conversion`, one of kConversionChars.
std::string Convert(char conversion, const TFormatDirective& parsed, const IIEValue& value) {
  switch (conversion) {
    case 'd':
      return Pad(Decimal(value.AsInteger(), parsed.precision), parsed, parsed.precision < 0);
    case 'u':
      return Pad(Digits(static_cast<std::uint32_t>(value.AsInteger()), 10, parsed.precision), parsed,
                 parsed.precision < 0);
    case 'x':
      return Pad(Digits(static_cast<std::uint32_t>(value.AsInteger()), 16, parsed.precision), parsed,
                 parsed.precision < 0);
    case 'f':
      return Pad(Real(value.AsFloat(), std::chars_format::fixed, PrecisionOr(parsed, 6)), parsed, true);
    case 'e':
      return Pad(Real(value.AsFloat(), std::chars_format::scientific, PrecisionOr(parsed, 6)), parsed,
                 true);
    case 'g':
      return Pad(Real(value.AsFloat(), std::chars_format::general, PrecisionOr(parsed, 6)), parsed,
                 true);
    case 'm':
      return Pad(Money(value.AsFloat(), PrecisionOr(parsed, 2)), parsed, true);
    case 'p':
      return Pad(Address(value.AsExternalAddress()), parsed, false);
    default: {  // 's'
      std::string text = value.ToString();
      if (parsed.precision >= 0 && text.size() > static_cast<std::size_t>(parsed.precision)) {
        text.resize(static_cast<std::size_t>(parsed.precision));
      }
      return Pad(std::move(text), parsed, false);
    }
  }
}

// The text a value adds when no directive is left for it.
std::string AppendedText(const IIEValue& value) {
  switch (value.DType()) {
    case TIEType::dtString:
      return std::string(value.Text());
    case TIEType::dtFactId:
    case TIEType::dtExternalAddress:
      return std::to_string(value.AsInteger());
    case TIEType::dtList:
      return value.AsList() != nullptr ? ListText(*value.AsList()) : "()";
    default:
      return value.ToString();
  }
}

void ReplaceLineBreaks(std::string& text) {
  for (std::size_t p = text.find("%n"); p != std::string::npos; p = text.find("%n", p + 1)) {
    text.replace(p, 2, "\n");
  }
}

}  // namespace

std::string ListText(const IValueVector& list) {
  std::string text = list.ToString();
  if (!text.empty()) {
    text.pop_back();  // every item is followed by one blank
  }
  return "(" + text + ")";
}

std::string CLIPSFormat(std::string_view control, std::span<const Ref<IIEValue>> values) {
  std::string result(control);
  for (const Ref<IIEValue>& value : values) {
    for (;;) {
      const std::size_t percent = result.find('%');
      if (percent == std::string::npos) {
        result += ' ';
        result += AppendedText(*value);
        break;
      }
      if (percent + 1 < result.size() && result[percent + 1] == 'n') {
        result.replace(percent, 2, "\n");
        continue;  // the same value looks for the next directive
      }
      const std::size_t conversion = result.find_first_not_of(kDirectiveChars, percent + 1);
      if (conversion == std::string::npos ||
          kConversionChars.find(result[conversion]) == std::string_view::npos) {
        break;  // no conversion (or the text ends first): the value is used up
      }
      const std::string_view text(result);
      const TFormatDirective parsed =
          ParseDirective(text.substr(percent + 1, conversion - percent - 1),
                             text.substr(percent, conversion - percent + 1));
      result.replace(percent, conversion - percent + 1, Convert(result[conversion], parsed, *value));
      break;
    }
  }
  ReplaceLineBreaks(result);
  return result;
}

}  // namespace zephro

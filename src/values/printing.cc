// The layout and value-level printed forms every printer of the language shares.

#include "zephro/values/printing.h"

#include <cctype>
#include <charconv>
#include <cstddef>
#include <system_error>

#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

// The type keyword that stands for `kind` in a type qualifier, or null for
// kinds that are written no other way than through the slot's nature (the
// multislot kinds) or are admitted anyway (variables, calls).
const char* TypeKeyword(TIEType kind) {
  switch (kind) {
    case TIEType::dtAtom:
      return STypeSymbolKeyword;
    case TIEType::dtString:
      return STypeStringKeyword;
    case TIEType::dtInteger:
      return STypeIntegerKeyword;
    case TIEType::dtFactId:
      return STypeFactIdKeyword;
    case TIEType::dtFloat:
      return STypeFloatKeyword;
    case TIEType::dtFact:
      return STypeFactKeyword;
    case TIEType::dtDescriptor:
      return STypeDescriptorKeyword;
    case TIEType::dtObject:
      return STypeObjectKeyword;
    case TIEType::dtClass:
      return STypeClassKeyword;
    case TIEType::dtExternalAddress:
      return STypeExternalAddrKeyword;
    case TIEType::dtFuzzy:
      return STypeFuzzyKeyword;
    case TIEType::dtNone:
    case TIEType::dtVariable:
    case TIEType::dtFunCall:
    case TIEType::dtList:
    case TIEType::dtSingletons:
    case TIEType::dtMultiVariable:
    case TIEType::dtSlot:
    case TIEType::dtMultiSlot:
      return nullptr;
  }
  return nullptr;
}

}  // namespace

std::string IndentLines(std::string_view text) {
  // A line break inside a string constant belongs to the string: indenting it
  // would change the string each time the construct is printed and loaded.
  // Strings are printed with their quotes and backslashes escaped, and so are
  // the bytes of an atom that would end it.
  static_assert(kPrintLineBreak == "\n");
  std::string out;
  out.reserve(text.size());
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out += c;
    if (in_string) {
      if (c == '\\' && i + 1 < text.size()) {
        out += text[++i];
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '\\' && i + 1 < text.size()) {
      out += text[++i];  // an atom's escaped byte, a quote say, starts no string
    } else if (c == '"') {
      in_string = true;
    } else if (c == '\n') {
      out += kPrintIndent;
    }
  }
  return out;
}

std::string CommentLines(std::string_view comment) {
  std::string out;
  while (!comment.empty()) {
    const std::size_t end = comment.find(kPrintLineBreak);
    const std::string_view line = comment.substr(0, end);
    if (!line.starts_with(';')) {
      out += "; ";
    }
    out += line;
    out += kPrintLineBreak;
    comment = end == std::string_view::npos ? std::string_view()
                                            : comment.substr(end + kPrintLineBreak.size());
  }
  return out;
}

std::string TypesToString(TIETypes types) {
  std::string out;
  types.ForEach([&](TIEType kind) {
    if (const char* keyword = TypeKeyword(kind)) {
      if (!out.empty()) {
        out += ' ';
      }
      out += keyword;
    }
  });
  return out;
}

std::string WordText(std::string_view text) {
  constexpr std::string_view kEndsAWord = "[]\"&();<|~\\";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ordinary = c == '<' && i == 0;  // a word may start with <
    if (!ordinary &&
        (static_cast<unsigned char>(c) <= ' ' || kEndsAWord.find(c) != std::string_view::npos)) {
      out += '\\';
    }
    out += c;
  }
  return out;
}

std::string ExactFloatText(double value) {
  std::string text = FormatFloat(value);
  double back = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), back);
  if (error == std::errc() && end == text.data() + text.size() && back == value) {
    return text;
  }
  char buffer[400];
  const auto [stop, failed] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (failed != std::errc()) {
    return text;  // not finite: the check that follows refuses it
  }
  text.assign(buffer, stop);
  if (text.find('.') == std::string::npos) {
    text += ".0";
  }
  return text;
}

std::string KindNamesText(TIETypes types) {
  std::string out;
  types.ForEach([&](TIEType kind) {
    if (!out.empty()) {
      out += ", ";
    }
    for (char c : IETypeName(kind).substr(2)) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  });
  return out;
}

// --- singletons and globals ------------------------------------------------------------------

// singletons := "(" ( "(" x " " y ") " )* ")"
std::string PrettyPrintSingletons(const ISingletonsVector& singletons) {
  if (singletons.Count() == 0) {
    return std::string();
  }
  std::string out = "(";
  for (int i = 0; i < singletons.Count(); ++i) {
    const IIEValue* x = singletons.XValue(i);
    const IIEValue* y = singletons.YValue(i);
    out += "(" + (x != nullptr ? x->ToString() : std::string()) + " " +
           (y != nullptr ? y->ToString() : std::string()) + ") ";
  }
  return out + ")";
}

const ISingletonsParser& SingletonsPrinter() {
  class TSingletonsPrinter final : public ISingletonsParser {
   public:
    std::string SingletonsToString(const ISingletonsVector& singletons) const override {
      return PrettyPrintSingletons(singletons);
    }
  };
  static const TSingletonsPrinter* const printer = new TSingletonsPrinter();  // never destroyed
  return *printer;
}

std::string PrettyPrintGlobal(std::string_view name, const IIEValue& value) {
  std::string text(name);
  if (!text.starts_with("?")) {
    text = "?" + text;
  }
  return text + " = " + value.ToString();
}

}  // namespace zephro

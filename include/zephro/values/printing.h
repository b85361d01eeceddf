#pragma once

// What every printer of the language shares: the layout (a line break and an
// indent; nested text is indented by following every line break inside it
// with the indent), comment lines, type keywords, and the printed forms of
// the values-level constructs (singletons, a global's definition). Each
// construct is printed beside what it is: facts and templates by
// facts/fact_printer.h, calls and deffunctions by functions/call_printer.h,
// rules and patterns by rules/rule_printer.h.
//
// Thread safety: the functions keep no state.

#include <string>
#include <string_view>

#include "zephro/values/interfaces.h"

namespace zephro {

inline constexpr std::string_view kPrintLineBreak = "\n";
inline constexpr std::string_view kPrintIndent = "  ";

// `text`, printed language, with every line break in it followed by the
// indent, except those inside string constants.
std::string IndentLines(std::string_view text);

// Each line of `comment` as a comment line of the language: "; " and the
// line (nothing added to a line that starts with ";"), then a line break.
std::string CommentLines(std::string_view comment);

// The type keywords of `types` ("SYMBOL STRING INTEGER"...), in kind order,
// separated by blanks; kinds without a keyword of their own (variables, calls,
// the multislot kinds...) are left out.
std::string TypesToString(TIETypes types);

// `value` with the digits it needs: "%.4f" when that reads back exactly,
// else the shortest fixed-point text that does (always with a decimal point,
// so that it reads as a float).
std::string ExactFloatText(double value);

// A word (an atom, a function's name) as it reads back whole. A word may hold
// bytes that end or escape a word (a blank, a parenthesis, a quote, a
// backslash...) when it was written with backslashes: each is written back
// behind a backslash.
std::string WordText(std::string_view text);

// "ATOM, STRING": the names of `types` without their "dt" prefix, in capitals,
// joined by ", ", as messages about kinds name them.
std::string KindNamesText(TIETypes types);

// Singletons: "(" and each pair as "(x y) ", then ")"; an empty vector prints
// as the empty string.
std::string PrettyPrintSingletons(const ISingletonsVector& singletons);
// The printer singletons vectors made by the parser print through: it prints
// them as PrettyPrintSingletons does. Lives as long as the program.
const ISingletonsParser& SingletonsPrinter();

// A global's definition: "?" + name (the "?" added when missing) + " = " + value.
std::string PrettyPrintGlobal(std::string_view name, const IIEValue& value);

}  // namespace zephro

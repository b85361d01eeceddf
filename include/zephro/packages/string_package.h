#pragma once

// TStringPackage: concatenation, comparison, search, sub-strings, case and
// formatting of texts.
//
// A function reads each argument as text the way the value model converts it
// (AsString): an atom or a string gives its characters, an integer its decimal
// form, a float its "%.4f" form; a multifield or a fact raises the conversion
// error "Not a string type...". Texts are 8-bit: lengths count bytes and case
// conversion touches the ASCII letters only.
//
// Positions are 1-based:
//
//   (str-index "c" "abc")        3        FALSE when the text does not occur,
//                                         also for the empty text
//   (sub-string 2 3 "hello")     "el"     characters start to end, inclusive
//   (sub-string 2 1 "hello")     ""       end = start - 1 gives the empty text
//   (sub-string 2 9 "hello")     "ello"   an end past the text stops at its end
//   (sub-string 0 1 "a")         Invalid substring parameters: 0, 1
//
// sub-string raises "Invalid substring parameters: <start>, <end>" when start is
// below 1 or beyond the text (so any range of the empty text), or end is below
// start - 1.
//
// str-compare answers what an ordinal comparison of the bytes gives: the
// difference of the first differing bytes (as unsigned values), or else the
// difference of the lengths: (str-compare "a" "c") is -2, (str-compare "ab" "a")
// is 1.
//
// upcase and lowcase keep the kind of an atom or string argument (and of the
// other text kinds); any other argument gives a string.
//
// str-format is format without the printing: (str-format "%d items" 3) is the
// string "3 items" (CLIPSFormat, packages/standard_io.h, has the rules). Its
// control string is the first argument as written, not evaluated, so a
// variable there stands for its own name.
//
// Thread safety: the functions keep no state; use them on the engine's thread.

#include "zephro/functions/user_package.h"

namespace zephro {

inline constexpr char StrCatFunctionName[] = "str-cat";
inline constexpr char StrCatComment[] =
    "Returns the texts of its arguments concatenated into one string";
inline constexpr char StrCatSyntax[] = " <lexeme-expression>*";
inline constexpr char SymCatFunctionName[] = "sym-cat";
inline constexpr char SymCatComment[] =
    "Returns the texts of its arguments concatenated into one symbol";
inline constexpr char SymCatSyntax[] = " <expression>*";
inline constexpr char StrCompFunctionName[] = "str-compare";
inline constexpr char StrCompComment[] =
    "Compares two texts, case-sensitively: returns an integer below 0 if the first is less, 0 "
    "if they are equal, above 0 if it is greater";
inline constexpr char StrCompSyntax[] = " <lexeme-expression> <lexeme-expression>";
inline constexpr char StrIndexFunctionName[] = "str-index";
inline constexpr char StrIndexComment[] =
    "Returns the position (counted from 1) of the first text within the second, or FALSE";
inline constexpr char StrIndexSyntax[] = " <lexeme-expression> <lexeme-expression>";
inline constexpr char StrLengthFunctionName[] = "str-length";
inline constexpr char StrLengthComment[] = "Returns the number of characters of the text";
inline constexpr char StrLengthSyntax[] = " <lexeme-expression>";
inline constexpr char SubStringFunctionName[] = "sub-string";
inline constexpr char SubStringComment[] =
    "Returns the characters of the text from the start to the end position (counted from 1)";
inline constexpr char SubStringSyntax[] =
    " <start-integer-expression> <end-integer-expression> <lexeme-expression>";
inline constexpr char UpperCaseFunctionName[] = "upcase";
inline constexpr char UpperCaseComment[] = "Returns the text with its letters in upper case";
inline constexpr char UpperCaseSyntax[] = " <lexeme-expression>";
inline constexpr char LowerCaseFunctionName[] = "lowcase";
inline constexpr char LowerCaseComment[] = "Returns the text with its letters in lower case";
inline constexpr char LowerCaseSyntax[] = " <string-or-symbol-expression>";
inline constexpr char StrFormatFunctionName[] = "str-format";
inline constexpr char StrFormatComment[] =
    "Returns the control string with the values of the other arguments formatted into it";
inline constexpr char StrFormatSyntax[] = "<string-expression> <expression>+";

class TStringPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TStringPackage, TUserPackage)

 public:
  explicit TStringPackage(TComponent* owner);

 protected:
  // The functions in the order of the constants above.
  void CreateFunctions() override;
};

}  // namespace zephro

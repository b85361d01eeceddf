#pragma once

// IStreamToken: one token of the language as the scanner hands it out, and
// TIEStreamToken, its implementation.
//
// A token is what the parser reads and what a host supplies when the engine
// asks it for input (the read event hands the host a token to fill). It keeps
// the token's kind (DataType), its text, its number, the line it ends on and
// the blanks and comments that stood before it, and turns itself into a value.
//
// DataType is an int rather than an enumeration because it mixes three kinds
// of answer:
//   - a value token carries the ordinal of its TIEType: dtAtom 1, dtString 2,
//     dtInteger 3, dtVariable 4, dtFloat 6, dtMultiVariable 16;
//   - a punctuation token carries its character code: & ( ) = [ ] | ~;
//   - the end of input is 0 (kEndToken), with the text "EOF".
// Text holds a string's content without quotes, escapes resolved; a variable's
// name without "?" or "$?"; a number as it was written ("+5", "1e3").
//
// Tokens are counted (Ref<IStreamToken>); the scanner allocates each once and
// shares it between its look-ahead, the parser and the host.
//
// Thread safety: the reference count is atomic; nothing else is guarded.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "zephro/platform/ref.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/types.h"

namespace zephro {

// DataType of the end-of-input token.
inline constexpr std::int32_t kEndToken = 0;

// DataType of a token that stands for a value of kind `kind`.
constexpr std::int32_t TokenType(TIEType kind) noexcept {
  return static_cast<std::int32_t>(kind);
}

// True for the DataType of a punctuation token: & ( ) = [ ] | ~.
constexpr bool IsPunctuationToken(std::int32_t data_type) noexcept {
  switch (data_type) {
    case '&':
    case '(':
    case ')':
    case '=':
    case '[':
    case ']':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

// Looks up the value bound to a variable by its name (without "?" or "$?");
// returns an empty Ref when the name is unbound.
using TVariableResolver = std::function<Ref<IIEValue>(std::string_view name)>;

class IStreamToken : public RefCounted {
 public:
  virtual std::int32_t DataType() const noexcept = 0;
  virtual void SetDataType(std::int32_t data_type) = 0;
  // The line on which the token ends; the first line is 1.
  virtual std::int32_t LineNumber() const noexcept = 0;
  virtual void SetLineNumber(std::int32_t line_number) = 0;
  // The value of an integer or float token; 0 for other tokens.
  virtual double Number() const noexcept = 0;
  virtual void SetNumber(double number) = 0;
  virtual const std::string& Text() const noexcept = 0;
  virtual void SetText(std::string_view text) = 0;
  // Blanks, line breaks and comments read before the token, as written.
  virtual const std::string& Whitespace() const noexcept = 0;
  virtual void SetWhitespace(std::string_view whitespace) = 0;
  virtual std::int32_t Tag() const noexcept = 0;
  virtual void SetTag(std::int32_t tag) = 0;

  bool IsKind(TIEType kind) const noexcept { return DataType() == TokenType(kind); }
  bool IsChar(char c) const noexcept { return DataType() == static_cast<unsigned char>(c); }
  bool IsEnd() const noexcept { return DataType() == kEndToken; }

  // The token as it appears in error context: an integer in decimal, a float
  // with "%.4f", "?name" and "$?name" for variables, the character of a
  // punctuation token, a string in double quotes with `"` and `\` escaped,
  // anything else its text.
  virtual std::string ToString() const = 0;

  // The token as a value. The atoms TRUE and FALSE give FCTrue and FCFalse,
  // nil in any capitalisation FCNil, the end token (text "EOF") FCEOF; atoms,
  // strings, numbers and variables give new values of their kind; anything
  // else (punctuation) a string holding DataType in decimal.
  virtual Ref<IIEValue> Value() const = 0;
  // As Value(), but a variable or multifield variable is replaced by what
  // `resolve` finds for its name. Raises EIEException "Unknown variable
  // name: %s" when the name is unbound.
  virtual Ref<IIEValue> Value(const TVariableResolver& resolve) const = 0;
  // Makes this token stand for `value`: an atom, string, integer, float,
  // variable or multifield variable. Raises EIEException "Invalid Token hint
  // for parsing token: %s" (the kind's ordinal) for any other kind.
  virtual void SetValue(const IIEValue& value) = 0;

  // True when `other` has the same DataType, LineNumber and Number. The text
  // is not compared: two atoms on one line are equal.
  virtual bool Equals(const IStreamToken* other) const = 0;
  virtual Ref<IStreamToken> Clone() const = 0;
  // Copies every field of `source`.
  virtual void Assign(const IStreamToken& source) = 0;
};

class TIEStreamToken final : public IStreamToken {
 public:
  // The end-of-input token on line 1.
  TIEStreamToken();
  TIEStreamToken(std::int32_t data_type, std::string text, std::int32_t line_number,
                 double number = 0, std::string whitespace = {});

  std::int32_t DataType() const noexcept override { return data_type_; }
  void SetDataType(std::int32_t data_type) override { data_type_ = data_type; }
  std::int32_t LineNumber() const noexcept override { return line_number_; }
  void SetLineNumber(std::int32_t line_number) override { line_number_ = line_number; }
  double Number() const noexcept override { return number_; }
  void SetNumber(double number) override { number_ = number; }
  const std::string& Text() const noexcept override { return text_; }
  void SetText(std::string_view text) override { text_ = text; }
  const std::string& Whitespace() const noexcept override { return whitespace_; }
  void SetWhitespace(std::string_view whitespace) override { whitespace_ = whitespace; }
  std::int32_t Tag() const noexcept override { return tag_; }
  void SetTag(std::int32_t tag) override { tag_ = tag; }

  std::string ToString() const override;
  Ref<IIEValue> Value() const override;
  Ref<IIEValue> Value(const TVariableResolver& resolve) const override;
  void SetValue(const IIEValue& value) override;
  bool Equals(const IStreamToken* other) const override;
  Ref<IStreamToken> Clone() const override;
  void Assign(const IStreamToken& source) override;

 private:
  ~TIEStreamToken() override = default;

  std::int32_t data_type_;
  std::int32_t line_number_;
  double number_;
  std::string text_;
  std::string whitespace_;
  std::int32_t tag_ = 0;
};

}  // namespace zephro

// Tokens of the language: their printed form and their values.

#include "zephro/values/stream_token.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

constexpr std::int32_t kAtom = TokenType(TIEType::dtAtom);
constexpr std::int32_t kString = TokenType(TIEType::dtString);
constexpr std::int32_t kInteger = TokenType(TIEType::dtInteger);
constexpr std::int32_t kVariable = TokenType(TIEType::dtVariable);
constexpr std::int32_t kFloat = TokenType(TIEType::dtFloat);
constexpr std::int32_t kMultiVariable = TokenType(TIEType::dtMultiVariable);

constexpr std::string_view kEndText = "EOF";

// The number of an integer token in 32 bits. The scanner only makes integer
// tokens that fit; a number set by a host saturates instead of overflowing.
std::int32_t IntegerOf(double number) {
  if (std::isnan(number)) {
    return 0;
  }
  return static_cast<std::int32_t>(std::clamp(number, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                                               static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}

bool IsNilWord(std::string_view text) {
  constexpr std::string_view kNil = "nil";
  return text.size() == kNil.size() &&
         std::equal(text.begin(), text.end(), kNil.begin(),
                    [](char a, char b) { return (a | 0x20) == b; });
}

// A string token as it would be written: quoted, with the quote and the
// backslash escaped. Copies runs between escapes in one piece.
std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t at = 0; at < text.size();) {
    std::size_t special = text.find_first_of("\"\\", at);
    if (special == std::string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, special - at));
    out += '\\';
    out += text[special];
    at = special + 1;
  }
  out += '"';
  return out;
}

}  // namespace

TIEStreamToken::TIEStreamToken() : TIEStreamToken(kEndToken, std::string(kEndText), 1) {}

TIEStreamToken::TIEStreamToken(std::int32_t data_type, std::string text,
                               std::int32_t line_number, double number, std::string whitespace)
    : data_type_(data_type),
      line_number_(line_number),
      number_(number),
      text_(std::move(text)),
      whitespace_(std::move(whitespace)) {}

std::string TIEStreamToken::ToString() const {
  switch (data_type_) {
    case kInteger:
      return std::to_string(IntegerOf(number_));
    case kFloat:
      return FormatFloat(number_);
    case kVariable:
      return "?" + text_;
    case kMultiVariable:
      return "$?" + text_;
    case kString:
      return Quoted(text_);
    default:
      if (IsPunctuationToken(data_type_)) {
        return std::string(1, static_cast<char>(data_type_));
      }
      return text_;
  }
}

Ref<IIEValue> TIEStreamToken::Value() const {
  switch (data_type_) {
    case kAtom:
      if (text_ == "TRUE") {
        return Ref<IIEValue>(&FCTrue());
      }
      if (text_ == "FALSE") {
        return Ref<IIEValue>(&FCFalse());
      }
      if (IsNilWord(text_)) {
        return Ref<IIEValue>(&FCNil());
      }
      return TIEValue::Atom(text_);
    case kString:
      return TIEValue::String(text_);
    case kInteger:
      return TIEValue::Integer(IntegerOf(number_));
    case kFloat:
      return TIEValue::Float(number_);
    case kVariable:
      return MakeRef<TIEValue>(text_, TIEType::dtVariable);
    case kMultiVariable:
      return MakeRef<TIEValue>(text_, TIEType::dtMultiVariable);
    case kEndToken:
      if (text_ == kEndText) {
        return Ref<IIEValue>(&FCEOF());
      }
      break;
    default:
      break;
  }
  return TIEValue::String(std::to_string(data_type_));
}

Ref<IIEValue> TIEStreamToken::Value(const TVariableResolver& resolve) const {
  if (data_type_ != kVariable && data_type_ != kMultiVariable) {
    return Value();
  }
  Ref<IIEValue> bound = resolve ? resolve(text_) : nullptr;
  if (!bound) {
    RaiseIE(SUnknownVariable, text_.c_str());
  }
  return bound;
}

void TIEStreamToken::SetValue(const IIEValue& value) {
  TIEType kind = value.DType();
  switch (kind) {
    case TIEType::dtAtom:
    case TIEType::dtString:
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
      text_ = value.Text();
      number_ = 0;
      break;
    case TIEType::dtInteger:
    case TIEType::dtFloat:
      text_ = value.ToString();
      number_ = value.AsFloat();
      break;
    default:
      RaiseIE(SInvalidTokenHint, std::to_string(TokenType(kind)).c_str());
  }
  data_type_ = TokenType(kind);
}

bool TIEStreamToken::Equals(const IStreamToken* other) const {
  return other != nullptr && data_type_ == other->DataType() &&
         line_number_ == other->LineNumber() && number_ == other->Number();
}

Ref<IStreamToken> TIEStreamToken::Clone() const {
  Ref<IStreamToken> copy = MakeRef<TIEStreamToken>();
  copy->Assign(*this);
  return copy;
}

void TIEStreamToken::Assign(const IStreamToken& source) {
  if (&source == this) {
    return;
  }
  data_type_ = source.DataType();
  line_number_ = source.LineNumber();
  number_ = source.Number();
  text_ = source.Text();
  whitespace_ = source.Whitespace();
  tag_ = source.Tag();
}

}  // namespace zephro

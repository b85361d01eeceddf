#pragma once

// A small JSON document model, reader and writer, enough for the fact
// exchange of facts_json.h: no dependency beyond the standard library.
//
// The reader takes the whole grammar (objects, arrays, strings with every
// escape, numbers, true, false, null) and nothing more: no comments, no
// trailing commas, nothing but blanks after the value. Each node keeps the
// byte offset (from 0) where it starts, so later checks can name a place. A
// number without fraction or exponent is an integer (kept in 64 bits when it
// fits, else read as a float); one with either is a float. Nesting deeper
// than kMaxNesting levels is refused, so reading never runs out of stack.
//
// Errors raise EIEException: "Bad JSON at byte <offset>: <what>".

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zephro {

struct TJsonMember;

struct TJsonNode {
  enum class TKind : std::uint8_t { kNull, kBool, kInteger, kFloat, kString, kArray, kObject };

  TKind kind = TKind::kNull;
  bool boolean = false;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;                                        // kString
  std::vector<TJsonNode> items;                            // kArray
  std::vector<TJsonMember> members;                        // kObject, in document order
  std::size_t offset = 0;                                  // where the node starts

  // The member `name` of an object, or null.
  const TJsonNode* Member(std::string_view name) const;
};

struct TJsonMember {
  std::string name;
  TJsonNode value;
};

// Reads `text` as one JSON value. A repeated member name in an object is an
// error.
TJsonNode ReadJson(std::string_view text);

// Appends `text` to `out` as a JSON string literal: quotes, backslashes and
// control characters escaped, other bytes as they are.
void WriteJsonString(std::string& out, std::string_view text);
// Appends `value` to `out` in the shortest form that reads back as the same
// double, always with a fraction or an exponent ("2.0", "1e+300").
// REQUIRES: `value` is finite.
void WriteJsonFloat(std::string& out, double value);

}  // namespace zephro

#pragma once

// Helpers for table-driven tests of built-in functions: arguments written in a
// compact notation, one call through the engine, and the outcome as text.
//
// Argument notation (ArgumentValue):
//   42  -7            integer
//   2.0  -1.5  1e3    float; +inf and -inf are the infinities
//   "text"            string, without the quotes
//   'word             atom, even when the word looks like a number ('12)
//   ?x                variable x, resolved in the engine's root context
//   (a 1 2.5)  ()     multifield of the arguments inside, blank-separated
//   <address>         external address;   <object>   object (null)
//   <fuzzy>           fuzzy value kind only (no set behind it)
//   anything else     atom
//
// Outcome: the result's printed form (ToString), or the text of the
// EBaseException the call raised, prefixed by "raises: ".

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/function_call.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro::testing {

inline Ref<IIEValue> ArgumentValue(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return TIEValue::String(text.substr(1, text.size() - 2));
  }
  if (!text.empty() && text.front() == '\'') {
    return TIEValue::Atom(text.substr(1));
  }
  if (text.size() > 1 && text.front() == '?') {
    return MakeRef<TIEValue>(text.substr(1), TIEType::dtVariable);
  }
  if (!text.empty() && text.front() == '(' && text.back() == ')') {
    std::vector<Ref<IIEValue>> items;
    std::string_view rest = text.substr(1, text.size() - 2);
    while (!rest.empty()) {
      const std::size_t blank = rest.find(' ');
      if (blank != 0) {
        items.push_back(ArgumentValue(rest.substr(0, blank)));
      }
      rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    }
    return MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(items)));
  }
  if (text == "<address>") {
    Ref<IIEValue> value = MakeRef<TIEValue>();
    static int anchor = 0;
    value->SetAsExternalAddress(&anchor);
    return value;
  }
  if (text == "<object>") {
    return MakeRef<TIEValue>(static_cast<TObject*>(nullptr), false);
  }
  if (text == "<fuzzy>") {
    return MakeRef<TIEValue>(Ref<IMembershipSet>());
  }
  const std::string s(text);
  if (!s.empty() && (s[0] == '-' || s[0] == '+' || (s[0] >= '0' && s[0] <= '9'))) {
    std::size_t used = 0;
    try {
      const long long n = std::stoll(s, &used);
      if (used == s.size() && n >= INT32_MIN && n <= INT32_MAX) {
        return TIEValue::Integer(static_cast<std::int32_t>(n));
      }
    } catch (const std::logic_error&) {
    }
    try {
      const double d = std::stod(s, &used);
      if (used == s.size()) {
        return TIEValue::Float(d);
      }
    } catch (const std::logic_error&) {
    }
  }
  return TIEValue::Atom(text);
}

// A call of `function` in `engine` with the arguments in the notation above.
inline Ref<IFunCall> MakeCallOf(TInferenceEngine& engine, std::string_view function,
                                const std::vector<std::string_view>& arguments) {
  Ref<IFunCall> call = MakeFunCall(engine, function);
  for (std::string_view argument : arguments) {
    call->AddArgument(ArgumentValue(argument));
  }
  return call;
}

// Calls `function` with the arguments in `engine`'s root context and returns
// the outcome as described at the top of this file.
inline std::string CallOutcome(TInferenceEngine& engine, std::string_view function,
                               const std::vector<std::string_view>& arguments) {
  const Ref<IFunCall> call = MakeCallOf(engine, function, arguments);
  try {
    return call->Execute(engine.RootContext())->ToString();
  } catch (const EBaseException& e) {
    return std::string("raises: ") + e.what();
  }
}

// The float `function` returns for `arguments`, called through `engine`'s root
// context. A result of another kind fails the test and gives NaN; a raised
// exception passes to the caller.
inline double CallFloat(TInferenceEngine& engine, std::string_view function,
                        const std::vector<std::string_view>& arguments) {
  const Ref<IIEValue> result =
      MakeCallOf(engine, function, arguments)->Execute(engine.RootContext());
  EXPECT_EQ(result->DType(), TIEType::dtFloat) << result->ToString();
  return result->DType() == TIEType::dtFloat ? result->AsFloat()
                                             : std::numeric_limits<double>::quiet_NaN();
}

// One row of a function table: the call and its expected outcome.
struct CallCase {
  std::string_view function;
  std::vector<std::string_view> arguments;
  std::string_view outcome;
};

// The row as it would be written in the language, for traces: (+ 1 2.0).
inline std::string CallText(const CallCase& c) {
  std::string text = "(" + std::string(c.function);
  for (std::string_view argument : c.arguments) {
    text += " ";
    text += argument;
  }
  return text + ")";
}

// Runs every row in `engine` and compares outcomes.
inline void ExpectOutcomes(TInferenceEngine& engine, const std::vector<CallCase>& cases) {
  for (const CallCase& c : cases) {
    SCOPED_TRACE(CallText(c));
    EXPECT_EQ(CallOutcome(engine, c.function, c.arguments), c.outcome);
  }
}

}  // namespace zephro::testing

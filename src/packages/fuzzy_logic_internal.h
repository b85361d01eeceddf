#pragma once

// What the files of the fuzzy logic package share: the groups each file
// registers, and small helpers for the function bodies.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "zephro/functions/user_package.h"
#include "zephro/fuzzy/fuzzy_kinds.h"
#include "zephro/packages/fuzzy_logic_package.h"
#include "zephro/types/fuzzy_value.h"
#include "zephro/values/value.h"

namespace zephro {

class TInferenceEngine;

// The groups, in the order the package lists them:
// s, z, pi, tri, beta, the union and intersection functions, fuzzy-assert
// and fuzzy-assert-unconditional (fuzzy_logic_values.cc, which also holds
// create-fuzzy-value);
void AddFuzzyBuildFunctions(TUserPackage& package);
// the defuzzifications, get-fs... and get-u... (fuzzy_logic_reading.cc, which
// also holds plot-fuzzy-value);
void AddFuzzyReadFunctions(TUserPackage& package);
// the get- and set- pairs of the engine's fuzzy settings
// (fuzzy_logic_settings.cc).
void AddFuzzySettingFunctions(TUserPackage& package);

// The names joined by ", ", with "or " before the last: "minimum, or
// product", as the messages about a name that names nothing list them.
template <std::size_t N>
std::string ExpectedNames(const std::array<std::string_view, N>& names) {
  std::string text;
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) {
      text += i + 1 == N ? ", or " : ", ";
    }
    text += names[i];
  }
  return text;
}

// The method `text` names; raises "Invalid Fuzzy Inference specified (%s),
// expected %s" (the valid names as ExpectedNames lists them) when it names
// none.
TFuzzyInferenceKind InferenceKindNamed(const std::string& text);
// The same for correlations: "Invalid Fuzzy Correlation specified (%s),
// expected %s".
TFuzzyCorrelationKind CorrelationKindNamed(const std::string& text);

// A value holding `set`.
inline Ref<IIEValue> FuzzyValue(Ref<TIEFuzzySet> set) {
  return MakeRef<TIEValue>(Ref<IMembershipSet>(std::move(set)));
}

// The fuzzy variable `value` (resolved already) stands for: the variable of
// the FUZZY defined type its text names, or, for a fact, fact id or integer,
// that of the fact's first fuzzy slot. Raises "type name unknown or
// invalid: %s" for a name of no defined type, the invalid-argument-type
// message with the type's kinds for a type that is not fuzzy, and "fuzzy
// variable is not defined" for a fuzzy type or slot without a variable.
TIEFuzzyVariable& FuzzyVariableOfValue(TInferenceEngine& engine, const IIEValue& value);

}  // namespace zephro

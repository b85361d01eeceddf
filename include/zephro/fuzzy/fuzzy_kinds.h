#pragma once

// The kinds of fuzzy operation, in the orders the language numbers them, and
// the lower-case names the language writes them with.
//
//   TFuzzyInferenceKind    how a new fuzzy fact meets an existing one
//   TFuzzyCorrelationKind  how a rule's strength shapes what it asserts
//   TFuzzyCombineKind      the union and intersection of two sets
//   THedgeKind             the modifiers written before a term ("very cold")
//
// Each kind has a name table and a test that reads a name back:
//
//   FuzzyCombineKindName(TFuzzyCombineKind::fcMeanSqr)   -> "mean-sqr"
//   ParseFuzzyCombineKind("mean-sqr", kind)               -> true, kind set
//
// The formulas behind each kind are TMembershipSet's (membership_set.h).

#include <array>
#include <cstdint>
#include <string_view>

namespace zephro {

enum class TFuzzyInferenceKind : std::uint8_t { fiMinMax, fiSum, fiMean, fiProduct, fiBoundedSum };
enum class TFuzzyCorrelationKind : std::uint8_t { fcMinimum, fcProduct };
enum class TFuzzyCombineKind : std::uint8_t {
  fcZadeh,
  fcMean,
  fcMeanSqr,
  fcMeanSqrt,
  fcProduct,
  fcBoundedSum,
  fcSum
};
enum class THedgeKind : std::uint8_t {
  hkNot,
  hkVery,
  hkExtremely,
  hkSomewhat,
  hkMoreOrLess,
  hkSlightly,
  hkPlus,
  hkNorm,
  hkIntensify
};

inline constexpr std::array<std::string_view, 5> kFuzzyInferenceNames = {"min-max", "sum", "mean",
                                                                         "product", "bounded-sum"};
inline constexpr std::array<std::string_view, 2> kFuzzyCorrelationNames = {"minimum", "product"};
inline constexpr std::array<std::string_view, 7> kFuzzyCombineNames = {
    "zadeh", "mean", "mean-sqr", "mean-sqrt", "product", "bounded-sum", "sum"};
inline constexpr std::array<std::string_view, 9> kHedgeNames = {
    "not",      "very", "extremely", "somewhat", "more-or-less",
    "slightly", "plus", "norm",      "intensify"};

// The default term names of a variable made without terms, and the text of a
// fuzzy value with no points.
inline constexpr std::array<std::string_view, 3> kDefaultTermNames = {"low", "medium", "high"};
inline constexpr std::string_view kEmptyFuzzyValueText = "()";

namespace fuzzy_detail {

template <class E, std::size_t N>
bool ParseName(const std::array<std::string_view, N>& names, std::string_view text, E& kind) {
  for (std::size_t i = 0; i < N; ++i) {
    if (names[i] == text) {
      kind = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

}  // namespace fuzzy_detail

constexpr std::string_view FuzzyInferenceKindName(TFuzzyInferenceKind k) {
  return kFuzzyInferenceNames[static_cast<std::size_t>(k)];
}
constexpr std::string_view FuzzyCorrelationKindName(TFuzzyCorrelationKind k) {
  return kFuzzyCorrelationNames[static_cast<std::size_t>(k)];
}
constexpr std::string_view FuzzyCombineKindName(TFuzzyCombineKind k) {
  return kFuzzyCombineNames[static_cast<std::size_t>(k)];
}
constexpr std::string_view HedgeKindName(THedgeKind k) {
  return kHedgeNames[static_cast<std::size_t>(k)];
}

// True, with `kind` set, when `text` is the name of one.
inline bool ParseFuzzyInferenceKind(std::string_view text, TFuzzyInferenceKind& kind) {
  return fuzzy_detail::ParseName(kFuzzyInferenceNames, text, kind);
}
inline bool ParseFuzzyCorrelationKind(std::string_view text, TFuzzyCorrelationKind& kind) {
  return fuzzy_detail::ParseName(kFuzzyCorrelationNames, text, kind);
}
inline bool ParseFuzzyCombineKind(std::string_view text, TFuzzyCombineKind& kind) {
  return fuzzy_detail::ParseName(kFuzzyCombineNames, text, kind);
}
inline bool ParseHedgeKind(std::string_view text, THedgeKind& kind) {
  return fuzzy_detail::ParseName(kHedgeNames, text, kind);
}
// True for a hedge word.
inline bool IsHedge(std::string_view text) {
  THedgeKind kind{};
  return ParseHedgeKind(text, kind);
}
// True for the words that join the parts of a fuzzy expression.
inline bool IsFuzzyKeyword(std::string_view text) {
  return text == "and" || text == "or" || IsHedge(text);
}

}  // namespace zephro

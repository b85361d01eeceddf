#pragma once

// Small routines a host uses around the engine: finding an owned component by
// class, exchanging the event handlers of two objects, and text and number
// helpers for what the engine shows.
//
//   FindComponentType<TInferenceEngine>(form)      the form's first engine, or null
//   SwapEvents(old_engine, new_engine)              the handlers change places
//   IEStringToString("\"abc\"")                     "abc"
//   ContainsCharacters("a(b)", "()")                2
//   StringFilter("a(b)", "()")                      "ab"
//   CreateArgumentExpressions("<x> <y>", 1, 3, 5)   "<x> [<y> [<expression>]]"
//   FloatEquals(0.1 + 0.2, 0.3)                     true
//
// Thread safety: the text and number routines are pure; the component routines
// are as safe as using the components.

#include <cmath>
#include <concepts>
#include <string>
#include <string_view>

#include "zephro/platform/component.h"
#include "zephro/platform/persistent.h"

namespace zephro {

// The first component owned by `owner` (in joining order) whose class is `cls`
// or descends from it, or nullptr.
TComponent* FindComponentType(const TComponent& owner, const TClassInfo& cls);

template <std::derived_from<TComponent> T>
T* FindComponentType(const TComponent& owner) {
  // The class description says the component is a T.
  return static_cast<T*>(FindComponentType(owner, T::StaticClass()));
}

// For each published event of `source` that `dest` also publishes (by name,
// without regard to ASCII case), exchanges the two objects' handlers; the
// objects may be of different classes. Raises EBaseException, exchanging
// nothing, when two such events hold handlers of different types, or when the
// name is an event of `source` but another kind of property of `dest`.
void SwapEvents(TPersistent& source, TPersistent& dest);

// `text` without one pair of surrounding double quotes: when it is longer than
// one character and starts and ends with a double quote. Otherwise `text`
// itself (a lone double quote stays).
std::string IEStringToString(std::string_view text);

// The position, from 1, of the first character of `text` that occurs in
// `characters`; 0 when there is none.
int ContainsCharacters(std::string_view text, std::string_view characters);

// `text` without any of the characters in `characters`.
std::string StringFilter(std::string_view text, std::string_view characters);

// The argument syntax of a function taking `min_args` to `max_args` arguments,
// built from the placeholders of `syntax`: the texts from a "<" to the next
// ">", in order (all else in `syntax` is ignored). At most `limit` placeholders
// are written in all. The first `min_args` are written plainly, each after a
// blank; each further one up to `max_args` is written after " [" and the
// brackets close together at the end, so each is optional after the one
// before. When `syntax` has fewer placeholders than are written, the missing
// ones are "<expression>". The result starts with no blank:
//
//   ("<x> <y>", 2, 2, 10)          "<x> <y>"
//   ("<x> <y>", 1, 3, 10)          "<x> [<y> [<expression>]]"
//   ("<x>", 0, 2147483647, 2)      "[<x> [<expression>]]"
//
// Negative counts count as 0; a maximum below the minimum as the minimum.
std::string CreateArgumentExpressions(std::string_view syntax, int min_args, int max_args,
                                      int limit);

// The difference below which FloatEquals takes two numbers for equal.
inline constexpr double kFloatEqualsTolerance = 0.0001;

// True when `a` and `b` differ by less than `tolerance`. A NaN equals nothing,
// and two infinities, whose difference is no number, are not equal either.
inline bool FloatEquals(float a, float b,
                        float tolerance = static_cast<float>(kFloatEqualsTolerance)) {
  return std::fabs(a - b) < tolerance;
}
inline bool FloatEquals(double a, double b, double tolerance = kFloatEqualsTolerance) {
  return std::fabs(a - b) < tolerance;
}
inline bool FloatEquals(long double a, long double b,
                        long double tolerance = kFloatEqualsTolerance) {
  return std::fabs(a - b) < tolerance;
}

}  // namespace zephro

#pragma once

// The standard shapes a fuzzy set can be written as, and the point-list sets
// (membership_set.h) they stand for.
//
//   const TFuzzyShape warm{TFuzzyShapeKind::fsTriangleShape, {10, 20, 30}};
//   MakeShape(warm).DegreeOfMembership(15)    // 0.5: the points (10 0) (20 1) (30 0)
//   FuzzyShapeText(warm)                      // "(tri 10.0000 20.0000 30.0000)"
//   MakeShape({TFuzzyShapeKind::fsGrowthShape, {0, 6}}).DegreeOfMembership(3)  // 0.5
//
// A shape keeps its parameters exactly as the user wrote them; MakeShape
// checks them and builds the set.
//
// The shapes, with their parameters in the order they are written:
//
//   s a b      growth: 0 at a, 1 at b, 0.5 at the inflection m = a + (b - a)/2:
//                S(x) = 0                              x <= a
//                       2 ((x - a) / (b - a))^2        a <= x <= m
//                       1 - 2 ((x - b) / (b - a))^2    m <= x <= b
//                       1                              x >= b
//              sampled at the 7 points x = a + i (b - a)/6, i = 0..6, so a, m
//              and b are among them. Needs a < b.
//   z a b      decline: 1 - S(x) at the same 7 points. Needs a < b.
//   pi a b c   left a, centre b, right c: S from a to b, then 1 - S from b to
//              c; 0 at a and c, 1 at b. 7 points on either side, sharing b:
//              13 in all. With a = b the rising side is left out, with b = c
//              the falling side (7 points, a shoulder). Needs a <= b <= c and
//              a < c.
//   pi a b     centre a, range b: as pi (a - b) a (a + b). Needs b > 0.
//   tri a b c  left a, centre b, right c: the points (a, 0) (b, 1) (c, 0).
//              With a = b they are (a, 1) (c, 0), with b = c (a, 0) (c, 1):
//              a ramp, which keeps the value 1 beyond its end as every set
//              keeps its end values. Needs a <= b <= c and a < c.
//   beta a b [c [d]]
//              a bell of centre a, range b, inflection distance c and weight d:
//                B(x) = 1 / (1 + (|x - a| / c)^(2 d))
//              B is 1 at a and 0.5 at a - c and a + c. The weight acts in the
//              exponent: d = 1 is the plain bell 1 / (1 + ((x - a) / c)^2); a
//              larger d flattens the top and steepens the sides, a smaller one
//              the reverse. c is a distance from the centre, b / 2 when left
//              out; d is 1 when left out. Sampled at the 9 points at the
//              distances 0, c/2, c, (c + b)/2 and b from a on either side,
//              the two at a - b and a + b given membership 0 (B never
//              reaches 0; the set ends at its range as pi's does). Needs
//              b > 0, 0 < c < b and d > 0.
//
// Every parameter must be a finite number, with a finite span between the
// set's ends. Anything else, or a wrong number of parameters, raises
// EBaseException with a message naming the shape and the fault:
//
//   "Invalid parameters for tri: left 5 > centre 3"
//   "Invalid parameters for pi: 2 or 3 numbers expected, 4 given"
//
// Thread safety: pure functions of their arguments; safe from any thread.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/fuzzy/fuzzy_kinds.h"
#include "zephro/fuzzy/membership_set.h"

namespace zephro {

enum class TFuzzyShapeKind : std::uint8_t {
  fsGrowthShape,
  fsDeclineShape,
  fsPIShape,
  fsTriangleShape,
  fsBetaShape
};

inline constexpr std::array<std::string_view, 5> kFuzzyShapeNames = {"s", "z", "pi", "tri", "beta"};

constexpr std::string_view FuzzyShapeKindName(TFuzzyShapeKind k) {
  return kFuzzyShapeNames[static_cast<std::size_t>(k)];
}
// True, with `kind` set, when `text` is the name of a shape.
inline bool ParseFuzzyShapeKind(std::string_view text, TFuzzyShapeKind& kind) {
  return fuzzy_detail::ParseName(kFuzzyShapeNames, text, kind);
}

struct TFuzzyShape {
  TFuzzyShapeKind kind = TFuzzyShapeKind::fsTriangleShape;
  std::vector<double> parameters;
  bool operator==(const TFuzzyShape&) const = default;
};

// The set the shape stands for; raises EBaseException for bad parameters.
TMembershipSet MakeShape(const TFuzzyShape& shape);

// "(" + the shape's name + " %.4f" for each parameter + ")", e.g.
// "(tri 0.0000 10.0000 20.0000)"; the parameters as given, unchecked.
std::string FuzzyShapeText(const TFuzzyShape& shape);

}  // namespace zephro

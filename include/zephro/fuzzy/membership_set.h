#pragma once

// TMembershipSet: a fuzzy set as a piecewise-linear membership function,
// given by its points (x, y) in ascending x, each y in [0, 1].
//
//   TMembershipSet cold({{0, 1}, {20, 0}});
//   cold.DegreeOfMembership(5)                       // 0.75
//   cold.Union(warm, TFuzzyCombineKind::fcZadeh)     // the pointwise maximum
//   cold.Correlate(0.5, TFuzzyCorrelationKind::fcMinimum).Moment()
//
// Between two points the membership is the straight line joining them;
// before the first point and after the last it keeps the end point's value.
// An empty set has membership 0 everywhere.
//
// Operations are linear merges of the two point lists. Where the two
// functions cross between points, a point is added at the crossing, so
// that maximum, minimum and the other combinations are exact at every
// breakpoint of the result; for the kinds that are not piecewise linear
// (product, the means of squares and roots) the result is the combination
// taken at those points and joined by lines. Consecutive points that lie on
// one line are not removed; equal x values are kept once (the later y wins).
//
// The formulas, union / intersection of memberships a and b:
//   zadeh        max(a, b)            / min(a, b)
//   mean         (a + b) / 2          / (a + b) / 2
//   mean-sqr     (a^2 + b^2) / 2      / (a^2 + b^2) / 2
//   mean-sqrt    (sqrt a + sqrt b) / 2 / (sqrt a + sqrt b) / 2
//   product      a + b - ab           / ab
//   bounded-sum  min(1, a + b)        / max(0, a + b - 1)
//   sum          a + b, the set then scaled down to a height of 1 when it
//                rises above 1       / ab, scaled up to a height of 1
// Hedges, on each membership y: not 1 - y; very y^2; extremely y^3;
// somewhat y^(1/3); more-or-less y^(1/2); slightly y^(1/1.25); plus y^1.25;
// norm y / height; intensify 2y^2 up to 0.5, 1 - 2(1 - y)^2 above. The
// hedges other than not and norm bend the lines between points, so each
// sloping segment is first cut into kHedgeSteps equal parts, unless that
// would give the set more than kMaxHedgedPoints points.
// Correlation with a strength s: minimum min(y, s); product y * s.
// Defuzzification: the moment is the x of the centre of gravity of the area
// under the points; mean of maxima the middle of the region where the
// membership is highest (the mean of its intervals, weighted by length, or
// of its points when it has no extent). A set with no area and no point
// above 0 is undecidable: both answer the middle of its x range (0 for an
// empty set) and set the flag.
//
// Thread safety: a value type; const use from several threads is safe.

#include <functional>
#include <string>
#include <vector>

#include "zephro/fuzzy/fuzzy_kinds.h"

namespace zephro {

struct TFuzzyPoint {
  double x = 0;
  double y = 0;
  bool operator==(const TFuzzyPoint&) const = default;
};

// A number of a set's or a universe's text: "%.4f" whatever the locale.
std::string FuzzyNumberText(double v);

class TMembershipSet {
 public:
  static constexpr int kHedgeSteps = 4;
  static constexpr std::size_t kMaxHedgedPoints = 256;

  TMembershipSet() = default;
  // The points sorted by x, each y clamped to [0, 1].
  explicit TMembershipSet(std::vector<TFuzzyPoint> points);

  const std::vector<TFuzzyPoint>& Points() const noexcept { return points_; }
  int Count() const noexcept { return static_cast<int>(points_.size()); }
  double X(int i) const { return points_.at(static_cast<std::size_t>(i)).x; }
  double Y(int i) const { return points_.at(static_cast<std::size_t>(i)).y; }
  bool Empty() const noexcept { return points_.empty(); }
  // The x range of the points; 0 for an empty set.
  double MinX() const noexcept { return points_.empty() ? 0 : points_.front().x; }
  double MaxX() const noexcept { return points_.empty() ? 0 : points_.back().x; }
  // The largest membership.
  double Height() const noexcept;
  // Adds a point in x order (replacing one at the same x).
  void Add(double x, double y);

  double DegreeOfMembership(double x) const;

  // Calls `visit(x, y1, y2)` in ascending x for each x that is a point of
  // this set or of `other`, with both memberships there.
  void Iterate(const TMembershipSet& other,
               const std::function<void(double x, double y1, double y2)>& visit) const;

  TMembershipSet Union(const TMembershipSet& other,
                       TFuzzyCombineKind kind = TFuzzyCombineKind::fcZadeh) const;
  TMembershipSet Intersection(const TMembershipSet& other,
                              TFuzzyCombineKind kind = TFuzzyCombineKind::fcZadeh) const;
  TMembershipSet Hedge(THedgeKind hedge) const;
  TMembershipSet Correlate(double strength, TFuzzyCorrelationKind kind) const;

  // The largest min(y1, y2) over all x: how far the two sets agree.
  double MaxOfMin(const TMembershipSet& other) const;
  // The set's own degree of compatibility: its height.
  double GetCompatibilityIndex() const noexcept { return Height(); }

  double Moment(bool* undecidable = nullptr) const;
  double MeanOfMaxima(bool* undecidable = nullptr) const;

  // "((x y) (x y) )" with "%.4f" numbers; "()" for an empty set.
  std::string ToString() const;

  bool operator==(const TMembershipSet&) const = default;

 private:
  // Calls `visit(x, a, b)` with both memberships at each x point of either
  // set and at each x where the two cross between points, ascending.
  template <class V>
  void Walk(const TMembershipSet& other, V visit) const;
  // The two sets merged over the x points of both and their crossings.
  template <class F>
  TMembershipSet Merge(const TMembershipSet& other, F combine) const;
  TMembershipSet Scaled(double factor) const;
  std::vector<TFuzzyPoint> points_;
};

}  // namespace zephro

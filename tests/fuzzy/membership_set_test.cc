// The fuzzy set library against hand-computed sets: evaluation, every
// combination kind, hedges, correlation, defuzzification, the name tables
// and linguistic variables.

#include "zephro/fuzzy/membership_set.h"

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/fuzzy/fuzzy_kinds.h"
#include "zephro/fuzzy/linguistic_variable.h"
#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using Points = std::vector<TFuzzyPoint>;

// cold falls from 1 at 0 to 0 at 20; warm rises from 0 at 10 to 1 at 30.
// They cross at x = 15, membership 0.25.
const TMembershipSet kCold({{0, 1}, {20, 0}});
const TMembershipSet kWarm({{10, 0}, {30, 1}});
const TMembershipSet kTriangle({{0, 0}, {10, 1}, {20, 0}});

void ExpectPoints(const TMembershipSet& set, const Points& expected) {
  ASSERT_EQ(set.Count(), static_cast<int>(expected.size())) << set.ToString();
  for (int i = 0; i < set.Count(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(set.X(i), expected[static_cast<std::size_t>(i)].x);
    EXPECT_NEAR(set.Y(i), expected[static_cast<std::size_t>(i)].y, 1e-12);
  }
}

TEST(MembershipSetTest, PointsAreSortedClampedAndKeptOncePerX) {
  ExpectPoints(TMembershipSet({{20, 0}, {0, 1.5}, {20, 0.5}, {5, -1}}),
               {{0, 1}, {5, 0}, {20, 0.5}});
  TMembershipSet set;
  set.Add(3, 0.5);
  set.Add(1, 0.25);
  set.Add(3, 0.75);
  ExpectPoints(set, {{1, 0.25}, {3, 0.75}});
  EXPECT_DOUBLE_EQ(set.Height(), 0.75);
  EXPECT_EQ(kCold.ToString(), "((0.0000 1.0000) (20.0000 0.0000) )");
  EXPECT_EQ(TMembershipSet().ToString(), "()");
}

TEST(MembershipSetTest, MembershipIsInterpolatedAndFlatBeyondTheEnds) {
  const std::tuple<const TMembershipSet*, double, double> kCases[] = {
      {&kCold, -5, 1},    {&kCold, 0, 1},        {&kCold, 5, 0.75},   {&kCold, 20, 0},
      {&kCold, 30, 0},    {&kTriangle, 15, 0.5}, {&kTriangle, 10, 1}, {&kTriangle, 2.5, 0.25},
      {&kWarm, 25, 0.75}, {&kWarm, 0, 0},
  };
  for (const auto& [set, x, y] : kCases) {
    SCOPED_TRACE(x);
    EXPECT_DOUBLE_EQ(set->DegreeOfMembership(x), y);
  }
  EXPECT_EQ(TMembershipSet().DegreeOfMembership(3), 0);
}

TEST(MembershipSetTest, IterateVisitsEveryPointOfBoth) {
  std::vector<std::tuple<double, double, double>> seen;
  kCold.Iterate(kWarm, [&](double x, double a, double b) { seen.emplace_back(x, a, b); });
  const std::vector<std::tuple<double, double, double>> expected = {
      {0, 1, 0}, {10, 0.5, 0}, {20, 0, 0.5}, {30, 0, 1}};
  EXPECT_EQ(seen, expected);
}

TEST(MembershipSetTest, UnionsAndIntersectionsOfEveryKind) {
  using enum TFuzzyCombineKind;
  struct Case {
    TFuzzyCombineKind kind;
    bool union_of;
    Points expected;
  };
  // Memberships of cold and warm at 0, 10, 15 (the crossing), 20 and 30.
  const Case kCases[] = {
      {fcZadeh, true, {{0, 1}, {10, 0.5}, {15, 0.25}, {20, 0.5}, {30, 1}}},
      {fcZadeh, false, {{0, 0}, {10, 0}, {15, 0.25}, {20, 0}, {30, 0}}},
      {fcProduct, true, {{0, 1}, {10, 0.5}, {15, 0.4375}, {20, 0.5}, {30, 1}}},
      {fcProduct, false, {{0, 0}, {10, 0}, {15, 0.0625}, {20, 0}, {30, 0}}},
      {fcBoundedSum, true, {{0, 1}, {10, 0.5}, {15, 0.5}, {20, 0.5}, {30, 1}}},
      {fcBoundedSum, false, {{0, 0}, {10, 0}, {15, 0}, {20, 0}, {30, 0}}},
      {fcMean, true, {{0, 0.5}, {10, 0.25}, {15, 0.25}, {20, 0.25}, {30, 0.5}}},
      {fcMean, false, {{0, 0.5}, {10, 0.25}, {15, 0.25}, {20, 0.25}, {30, 0.5}}},
      {fcMeanSqr, true, {{0, 0.5}, {10, 0.125}, {15, 0.0625}, {20, 0.125}, {30, 0.5}}},
      {fcMeanSqrt,
       true,
       {{0, 0.5}, {10, std::sqrt(0.5) / 2}, {15, 0.5}, {20, std::sqrt(0.5) / 2}, {30, 0.5}}},
      // Sums at the points of both: 1, 0.5, 0.5, 1; no higher than 1, so kept.
      {fcSum, true, {{0, 1}, {10, 0.5}, {20, 0.5}, {30, 1}}},
      // Products scaled to a height of 1: only the crossing is above 0.
      {fcSum, false, {{0, 0}, {10, 0}, {15, 1}, {20, 0}, {30, 0}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(FuzzyCombineKindName(c.kind)) +
                 (c.union_of ? " union" : " intersection"));
    ExpectPoints(c.union_of ? kCold.Union(kWarm, c.kind) : kCold.Intersection(kWarm, c.kind),
                 c.expected);
  }
  // A sum above 1 is scaled back to a height of 1.
  ExpectPoints(kTriangle.Union(kTriangle, fcSum), {{0, 0}, {10, 1}, {20, 0}});
  EXPECT_DOUBLE_EQ(kCold.MaxOfMin(kWarm), 0.25);
  EXPECT_DOUBLE_EQ(kTriangle.MaxOfMin(kTriangle), 1);
  EXPECT_DOUBLE_EQ(kCold.MaxOfMin(TMembershipSet()), 0);
}

TEST(MembershipSetTest, PointsThatDifferOnlyByRoundingMergeIntoOne) {
  // A set limited to a single-precision strength crosses a line a hair away
  // from where the same line crossed at the exact strength.
  const double third = 1.0 / 3;
  const double third_f = static_cast<float>(third);
  const TMembershipSet exact({{5, 0}, {20.0 / 3, third}, {10, third}});
  const TMembershipSet rounded({{5, 0}, {5 + 5 * third_f, third_f}, {10, third_f}});
  const TMembershipSet both = exact.Union(rounded);
  ASSERT_EQ(both.Count(), 3) << both.ToString();
  EXPECT_NEAR(both.X(1), 20.0 / 3, 1e-6);
  // Points further apart than rounding are both kept.
  EXPECT_EQ(TMembershipSet({{0, 0}, {1, 1}}).Union(TMembershipSet({{0.001, 0}, {1, 1}})).Count(),
            3);
}

TEST(MembershipSetTest, HedgesChangeEveryMembership) {
  const TMembershipSet set({{0, 0}, {1, 0.125}, {2, 0.25}, {3, 0.5}, {4, 1}});
  struct Case {
    THedgeKind hedge;
    std::vector<double> ys;
  };
  const Case kCases[] = {
      {THedgeKind::hkNot, {1, 0.875, 0.75, 0.5, 0}},
      {THedgeKind::hkVery, {0, 0.015625, 0.0625, 0.25, 1}},
      {THedgeKind::hkExtremely, {0, 0.001953125, 0.015625, 0.125, 1}},
      {THedgeKind::hkSomewhat, {0, 0.5, std::cbrt(0.25), std::cbrt(0.5), 1}},
      {THedgeKind::hkMoreOrLess, {0, std::sqrt(0.125), 0.5, std::sqrt(0.5), 1}},
      {THedgeKind::hkPlus,
       {0, std::pow(0.125, 1.25), std::pow(0.25, 1.25), std::pow(0.5, 1.25), 1}},
      {THedgeKind::hkSlightly,
       {0, std::pow(0.125, 0.8), std::pow(0.25, 0.8), std::pow(0.5, 0.8), 1}},
      {THedgeKind::hkIntensify, {0, 0.03125, 0.125, 0.5, 1}},
      {THedgeKind::hkNorm, {0, 0.125, 0.25, 0.5, 1}},  // already of height 1
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(HedgeKindName(c.hedge));
    const TMembershipSet hedged = set.Hedge(c.hedge);
    // not and norm are lines on lines; the curves cut each of the four
    // sloping segments in kHedgeSteps parts.
    const bool linear = c.hedge == THedgeKind::hkNot || c.hedge == THedgeKind::hkNorm;
    EXPECT_EQ(hedged.Count(), linear ? 5 : 1 + 4 * TMembershipSet::kHedgeSteps);
    for (int i = 0; i < 5; ++i) {
      EXPECT_NEAR(hedged.DegreeOfMembership(set.X(i)), c.ys[static_cast<std::size_t>(i)], 1e-12);
    }
  }
  // Between the points a curve follows the hedge: very of a ramp is a parabola.
  ExpectPoints(TMembershipSet({{0, 0}, {4, 1}}).Hedge(THedgeKind::hkVery),
               {{0, 0}, {1, 0.0625}, {2, 0.25}, {3, 0.5625}, {4, 1}});
  ExpectPoints(TMembershipSet({{0, 1}, {4, 1}}).Hedge(THedgeKind::hkVery), {{0, 1}, {4, 1}});
  ExpectPoints(TMembershipSet({{0, 0.25}, {1, 0.5}}).Hedge(THedgeKind::hkNorm), {{0, 0.5}, {1, 1}});
  // intensify above one half.
  EXPECT_DOUBLE_EQ(TMembershipSet({{0, 0.75}}).Hedge(THedgeKind::hkIntensify).Y(0), 0.875);
}

TEST(MembershipSetTest, CorrelationLimitsOrScalesByTheStrength) {
  ExpectPoints(kTriangle.Correlate(0.5, TFuzzyCorrelationKind::fcMinimum),
               {{0, 0}, {5, 0.5}, {10, 0.5}, {15, 0.5}, {20, 0}});
  ExpectPoints(kTriangle.Correlate(0.5, TFuzzyCorrelationKind::fcProduct),
               {{0, 0}, {10, 0.5}, {20, 0}});
  ExpectPoints(kTriangle.Correlate(1, TFuzzyCorrelationKind::fcMinimum),
               {{0, 0}, {10, 1}, {20, 0}});
  ExpectPoints(kTriangle.Correlate(-3, TFuzzyCorrelationKind::fcProduct),
               {{0, 0}, {10, 0}, {20, 0}});
  EXPECT_TRUE(TMembershipSet().Correlate(0.5, TFuzzyCorrelationKind::fcMinimum).Empty());
}

TEST(MembershipSetTest, Defuzzification) {
  struct Case {
    const char* what;
    TMembershipSet set;
    double moment;
    double maxima;
    bool undecidable;
  };
  const Case kCases[] = {
      {"symmetric triangle", kTriangle, 10, 10, false},
      // Area 1.5, first moment 3: the centroid is two thirds along.
      {"right triangle", TMembershipSet({{0, 0}, {3, 1}}), 2, 3, false},
      {"trapezoid", TMembershipSet({{0, 0}, {2, 1}, {6, 1}, {8, 0}}), 4, 4, false},
      // Maxima at 0 and 10, no plateau: their mean.
      {"two peaks", TMembershipSet({{0, 1}, {5, 0}, {10, 1}}), 5, 5, false},
      {"a plateau of the highest points", TMembershipSet({{0, 0.5}, {4, 0.5}, {6, 0.25}}),
       (0.5 * 4 * 2 + (4 * (2 * 0.5 + 0.25) + 6 * (0.5 + 2 * 0.25)) / 3) / (2 + 0.75), 2, false},
      {"one point", TMembershipSet({{4, 0.5}}), 4, 4, false},
      {"nothing above zero", TMembershipSet({{2, 0}, {6, 0}}), 4, 4, true},
      {"empty", TMembershipSet(), 0, 0, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    bool undecidable = !c.undecidable;
    EXPECT_NEAR(c.set.Moment(&undecidable), c.moment, 1e-12);
    EXPECT_EQ(undecidable, c.undecidable);
    undecidable = !c.undecidable;
    EXPECT_NEAR(c.set.MeanOfMaxima(&undecidable), c.maxima, 1e-12);
    EXPECT_EQ(undecidable, c.undecidable);
  }
  EXPECT_DOUBLE_EQ(kCold.Correlate(0.25, TFuzzyCorrelationKind::fcProduct).GetCompatibilityIndex(),
                   0.25);
}

TEST(FuzzyKindsTest, NamesInTheirOrderAndReadBack) {
  EXPECT_EQ(FuzzyInferenceKindName(TFuzzyInferenceKind::fiBoundedSum), "bounded-sum");
  EXPECT_EQ(FuzzyCorrelationKindName(TFuzzyCorrelationKind::fcProduct), "product");
  EXPECT_EQ(FuzzyCombineKindName(TFuzzyCombineKind::fcMeanSqrt), "mean-sqrt");
  EXPECT_EQ(HedgeKindName(THedgeKind::hkMoreOrLess), "more-or-less");
  for (std::size_t i = 0; i < kFuzzyCombineNames.size(); ++i) {
    TFuzzyCombineKind kind;
    ASSERT_TRUE(ParseFuzzyCombineKind(kFuzzyCombineNames[i], kind));
    EXPECT_EQ(static_cast<std::size_t>(kind), i);
  }
  for (std::size_t i = 0; i < kFuzzyInferenceNames.size(); ++i) {
    TFuzzyInferenceKind kind;
    ASSERT_TRUE(ParseFuzzyInferenceKind(kFuzzyInferenceNames[i], kind));
    EXPECT_EQ(static_cast<std::size_t>(kind), i);
  }
  TFuzzyCorrelationKind correlation = TFuzzyCorrelationKind::fcProduct;
  EXPECT_TRUE(ParseFuzzyCorrelationKind("minimum", correlation));
  EXPECT_EQ(correlation, TFuzzyCorrelationKind::fcMinimum);
  EXPECT_FALSE(ParseFuzzyCorrelationKind("Minimum", correlation));  // names are lower case
  EXPECT_TRUE(IsHedge("very"));
  EXPECT_FALSE(IsHedge("cold"));
  EXPECT_TRUE(IsFuzzyKeyword("or"));
  EXPECT_TRUE(IsFuzzyKeyword("somewhat"));
  EXPECT_FALSE(IsFuzzyKeyword("hot"));
}

TEST(LinguisticVariableTest, UniverseAndTerms) {
  TLinguisticVariable temp("temperature", 0, 100, "C");
  int changes = 0;
  temp.OnChange = [&](TLinguisticVariable& sender) {
    EXPECT_EQ(&sender, &temp);
    ++changes;
  };
  temp.AddTerm("cold", kCold);
  temp.AddTerm("hot", TMembershipSet({{60, 0}, {100, 1}}));
  temp.AddTerm("cold", TMembershipSet({{0, 1}, {10, 0}}));  // replaces
  EXPECT_EQ(changes, 3);
  ASSERT_EQ(temp.TermCount(), 2);
  EXPECT_EQ(temp.Terms()[0].name, "cold");
  EXPECT_DOUBLE_EQ(temp.FindTerm("cold")->DegreeOfMembership(5), 0.5);
  EXPECT_EQ(temp.FindTerm("warm"), nullptr);
  EXPECT_TRUE(temp.Contains(100));
  EXPECT_FALSE(temp.Contains(100.5));
  EXPECT_EQ(temp.ToString(),
            "(range 0.0000 100.0000) (units C) (values (term cold ((0.0000 1.0000) (10.0000 "
            "0.0000) )) (term hot ((60.0000 0.0000) (100.0000 1.0000) )))");
  EXPECT_TRUE(temp.RemoveTerm("hot"));
  EXPECT_FALSE(temp.RemoveTerm("hot"));
  try {
    temp.SetUniverse(10, 5, "K");
    ADD_FAILURE() << "no error";
  } catch (const EBaseException& e) {
    EXPECT_STREQ(e.what(), "Invalid low and high limits specified: 10.0000 to 5.0000");
  }
  EXPECT_EQ(temp.To(), 100);  // unchanged
  EXPECT_EQ(temp.Units(), "C");

  TLinguisticVariable level("level", 0, 10);
  level.AddDefaultTerms();
  ASSERT_EQ(level.TermCount(), 3);
  const std::tuple<const char*, double, double> kDegrees[] = {
      {"low", 0, 1},        {"low", 2.5, 0.5}, {"medium", 5, 1},
      {"medium", 7.5, 0.5}, {"high", 10, 1},   {"high", 5, 0},
  };
  for (const auto& [term, x, y] : kDegrees) {
    SCOPED_TRACE(term);
    EXPECT_DOUBLE_EQ(level.FindTerm(term)->DegreeOfMembership(x), y);
  }
}

}  // namespace
}  // namespace zephro

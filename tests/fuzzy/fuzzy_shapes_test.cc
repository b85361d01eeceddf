// The standard shapes against hand-computed points and memberships, every
// fault of their parameters, their names and their text.

#include "zephro/fuzzy/fuzzy_shapes.h"

#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using enum TFuzzyShapeKind;
using Points = std::vector<TFuzzyPoint>;

void ExpectPoints(const TMembershipSet& set, const Points& expected) {
  ASSERT_EQ(set.Count(), static_cast<int>(expected.size())) << set.ToString();
  for (int i = 0; i < set.Count(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(set.X(i), expected[static_cast<std::size_t>(i)].x);
    EXPECT_NEAR(set.Y(i), expected[static_cast<std::size_t>(i)].y, 1e-12);
  }
}

// S sampled at the sixths of its span, t = 0, 1/6, ..., 1: 2t^2 up to the
// middle, 1 - 2(1 - t)^2 after it.
//   t = 1/6: 2/36 = 1/18      t = 2/6: 2 * 4/36 = 2/9    t = 3/6: 1/2
//   t = 4/6: 1 - 2/9 = 7/9    t = 5/6: 1 - 1/18 = 17/18  t = 1:   1
const std::vector<double> kSSamples = {0, 1.0 / 18, 2.0 / 9, 0.5, 7.0 / 9, 17.0 / 18, 1};

TEST(FuzzyShapesTest, SAndZAreSampledAtSevenPoints) {
  // s 0 6 samples at the integers.
  Points s;
  Points z;
  for (std::size_t i = 0; i < kSSamples.size(); ++i) {
    s.push_back({static_cast<double>(i), kSSamples[i]});
    z.push_back({static_cast<double>(i), 1 - kSSamples[i]});
  }
  ExpectPoints(MakeShape({fsGrowthShape, {0, 6}}), s);
  ExpectPoints(MakeShape({fsDeclineShape, {0, 6}}), z);
  // s 10 40 samples every 5.
  ExpectPoints(
      MakeShape({fsGrowthShape, {10, 40}}),
      {{10, 0}, {15, 1.0 / 18}, {20, 2.0 / 9}, {25, 0.5}, {30, 7.0 / 9}, {35, 17.0 / 18}, {40, 1}});
}

TEST(FuzzyShapesTest, MembershipOfEachShape) {
  struct Case {
    TFuzzyShape shape;
    double x;
    double y;
  };
  const Case kCases[] = {
      // s 0 10: the samples are at multiples of 10/6; 5 is the inflection.
      {{fsGrowthShape, {0, 10}}, 5, 0.5},
      {{fsGrowthShape, {0, 10}}, 0, 0},
      {{fsGrowthShape, {0, 10}}, 10, 1},
      // 2.5 lies halfway between the samples at 10/6 (1/18) and 20/6 (2/9):
      // the set gives the chord, (1/18 + 4/18) / 2 = 5/36, where the curve
      // itself would give 2 * 0.25^2 = 0.125. 7.5 likewise: 1 - 5/36.
      {{fsGrowthShape, {0, 10}}, 2.5, 5.0 / 36},
      {{fsGrowthShape, {0, 10}}, 7.5, 31.0 / 36},
      // Flat beyond the ends.
      {{fsGrowthShape, {0, 10}}, -100, 0},
      {{fsGrowthShape, {0, 10}}, 100, 1},
      {{fsDeclineShape, {0, 10}}, -100, 1},
      {{fsDeclineShape, {0, 10}}, 2.5, 31.0 / 36},
      {{fsDeclineShape, {0, 10}}, 100, 0},
      // pi 0 6 18: S over [0, 6] then 1 - S over [6, 18], sampled every 2.
      {{fsPIShape, {0, 6, 18}}, 1, 1.0 / 18},
      {{fsPIShape, {0, 6, 18}}, 6, 1},
      {{fsPIShape, {0, 6, 18}}, 8, 17.0 / 18},
      {{fsPIShape, {0, 6, 18}}, 12, 0.5},
      {{fsPIShape, {0, 6, 18}}, 14, 2.0 / 9},
      {{fsPIShape, {0, 6, 18}}, 19, 0},
      {{fsPIShape, {0, 6, 18}}, -1, 0},
      // pi 50 12: left 38, right 62; the samples every 2 from 38.
      {{fsPIShape, {50, 12}}, 44, 0.5},
      {{fsPIShape, {50, 12}}, 46, 7.0 / 9},
      {{fsPIShape, {50, 12}}, 56, 0.5},
      {{fsPIShape, {50, 12}}, 60, 1.0 / 18},
      {{fsTriangleShape, {0, 10, 20}}, 5, 0.5},
      {{fsTriangleShape, {0, 10, 20}}, 16, 0.4},
      {{fsTriangleShape, {0, 10, 20}}, 25, 0},
      // The bell of centre 50, range 20 and by default inflection 10 and
      // weight 1, 1 / (1 + (d / 10)^2) at the distance d from 50:
      //   d = 5: 1 / 1.25 = 0.8   d = 10: 0.5   d = 15: 1 / 3.25 = 4/13
      // and 0 at the range's ends, 30 and 70.
      {{fsBetaShape, {50, 20}}, 50, 1},
      {{fsBetaShape, {50, 20}}, 45, 0.8},
      {{fsBetaShape, {50, 20}}, 60, 0.5},
      {{fsBetaShape, {50, 20}}, 65, 4.0 / 13},
      {{fsBetaShape, {50, 20}}, 70, 0},
      {{fsBetaShape, {50, 20}}, 80, 0},
      // Between samples, the chord: halfway from 0.5 at 60 to 4/13 at 65.
      {{fsBetaShape, {50, 20}}, 62.5, (0.5 + 4.0 / 13) / 2},
      // Weight 2, inflection 8: 1 / (1 + (d / 8)^4).
      //   d = 4: 1 / (1 + 1/16) = 16/17
      //   d = 14: 1.75^2 = 3.0625, squared 9.37890625: 1 / 10.37890625
      {{fsBetaShape, {50, 20, 8, 2}}, 46, 16.0 / 17},
      {{fsBetaShape, {50, 20, 8, 2}}, 58, 0.5},
      {{fsBetaShape, {50, 20, 8, 2}}, 64, 1 / 10.37890625},
      // Weight 0.5, inflection 10: 1 / (1 + d / 10).
      {{fsBetaShape, {50, 20, 10, 0.5}}, 45, 2.0 / 3},
      {{fsBetaShape, {50, 20, 10, 0.5}}, 65, 0.4},
      // Inflection 4 given, weight 1: 1 / (1 + (d / 4)^2); distances 2, 4, 12.
      {{fsBetaShape, {0, 20, 4}}, -2, 0.8},
      {{fsBetaShape, {0, 20, 4}}, 12, 0.1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(FuzzyShapeText(c.shape) + " at " + std::to_string(c.x));
    EXPECT_NEAR(MakeShape(c.shape).DegreeOfMembership(c.x), c.y, 1e-12);
  }
}

TEST(FuzzyShapesTest, PointCounts) {
  struct Case {
    TFuzzyShape shape;
    int count;
  };
  const Case kCases[] = {
      {{fsGrowthShape, {0, 1}}, 7},       {{fsDeclineShape, {-3, 1e-9}}, 7},
      {{fsPIShape, {0, 1, 2}}, 13},       {{fsPIShape, {0, 1, 5}}, 13},
      {{fsPIShape, {7, 0.5}}, 13},        {{fsPIShape, {1, 1, 2}}, 7},  // no rising side
      {{fsPIShape, {0, 2, 2}}, 7},                                      // no falling side
      {{fsTriangleShape, {0, 1, 2}}, 3},  {{fsTriangleShape, {1, 1, 2}}, 2},
      {{fsTriangleShape, {0, 2, 2}}, 2},  {{fsBetaShape, {0, 1}}, 9},
      {{fsBetaShape, {0, 1, 0.9, 3}}, 9},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(FuzzyShapeText(c.shape));
    EXPECT_EQ(MakeShape(c.shape).Count(), c.count);
  }
}

TEST(FuzzyShapesTest, ZIsOneMinusSAtEveryPoint) {
  const std::vector<std::vector<double>> kSpans = {{0, 6}, {-4.5, 1}, {0.7, 2.9}, {1e6, 1e6 + 3}};
  for (const std::vector<double>& span : kSpans) {
    SCOPED_TRACE(span[0]);
    const TMembershipSet s = MakeShape({fsGrowthShape, span});
    const TMembershipSet z = MakeShape({fsDeclineShape, span});
    ASSERT_EQ(s.Count(), 7);
    ASSERT_EQ(z.Count(), 7);
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(s.X(i), z.X(i));
      EXPECT_DOUBLE_EQ(s.Y(i) + z.Y(i), 1);
    }
  }
}

TEST(FuzzyShapesTest, TheEndsAndTheMiddleAreExactPoints) {
  // 0.7 + (2.9 - 0.7) is 2.9000000000000004 in doubles: the last point must
  // still be 2.9 itself, with membership 1 there.
  const TMembershipSet s = MakeShape({fsGrowthShape, {0.7, 2.9}});
  ASSERT_EQ(s.Count(), 7);
  EXPECT_EQ(s.X(0), 0.7);
  EXPECT_EQ(s.X(3), 0.7 + (2.9 - 0.7) / 2);
  EXPECT_EQ(s.Y(3), 0.5);
  EXPECT_EQ(s.X(6), 2.9);
  EXPECT_EQ(s.DegreeOfMembership(2.9), 1);
  const TMembershipSet pi = MakeShape({fsPIShape, {0.2, 0.9, 2.9}});
  ASSERT_EQ(pi.Count(), 13);
  EXPECT_EQ(pi.X(6), 0.9);
  EXPECT_EQ(pi.Y(6), 1);
  EXPECT_EQ(pi.X(12), 2.9);
  EXPECT_EQ(pi.Y(12), 0);
}

TEST(FuzzyShapesTest, SymmetricShapesAreMirrorImages) {
  const TFuzzyShape kShapes[] = {
      {fsPIShape, {0, 6, 12}}, {fsPIShape, {-3, 2.5}},         {fsTriangleShape, {1, 4, 7}},
      {fsBetaShape, {50, 20}}, {fsBetaShape, {-1, 3, 1, 2.5}},
  };
  for (const TFuzzyShape& shape : kShapes) {
    SCOPED_TRACE(FuzzyShapeText(shape));
    const TMembershipSet set = MakeShape(shape);
    const double centre = (set.MinX() + set.MaxX()) / 2;
    EXPECT_DOUBLE_EQ(set.DegreeOfMembership(centre), 1);
    for (int i = 0; i < set.Count(); ++i) {
      const int mirror = set.Count() - 1 - i;
      EXPECT_NEAR(set.X(i) - centre, centre - set.X(mirror), 1e-12);
      EXPECT_DOUBLE_EQ(set.Y(i), set.Y(mirror));
    }
  }
  // The two-parameter pi is the three-parameter one about its centre.
  EXPECT_EQ(MakeShape({fsPIShape, {50, 12}}), MakeShape({fsPIShape, {38, 50, 62}}));
}

TEST(FuzzyShapesTest, DegenerateShapesAreShoulders) {
  // tri a a c is a falling ramp, tri a c c a rising one; they keep 1 beyond
  // the end at the peak.
  ExpectPoints(MakeShape({fsTriangleShape, {5, 5, 10}}), {{5, 1}, {10, 0}});
  ExpectPoints(MakeShape({fsTriangleShape, {0, 10, 10}}), {{0, 0}, {10, 1}});
  EXPECT_EQ(MakeShape({fsTriangleShape, {5, 5, 10}}).DegreeOfMembership(0), 1);
  EXPECT_EQ(MakeShape({fsTriangleShape, {0, 10, 10}}).DegreeOfMembership(15), 1);
  // pi with no rising side is the z from centre to right, with no falling
  // side the s from left to centre.
  EXPECT_EQ(MakeShape({fsPIShape, {5, 5, 11}}), MakeShape({fsDeclineShape, {5, 11}}));
  EXPECT_EQ(MakeShape({fsPIShape, {0, 6, 6}}), MakeShape({fsGrowthShape, {0, 6}}));
}

TEST(FuzzyShapesTest, BetaDefaultsAreHalfTheRangeAndWeightOne) {
  const TMembershipSet given = MakeShape({fsBetaShape, {50, 20, 10, 1}});
  EXPECT_EQ(MakeShape({fsBetaShape, {50, 20}}), given);
  EXPECT_EQ(MakeShape({fsBetaShape, {50, 20, 10}}), given);
  // Distances 0, 5, 10, 15 and 20 either side; see the memberships above.
  ExpectPoints(given, {{30, 0},
                       {35, 4.0 / 13},
                       {40, 0.5},
                       {45, 0.8},
                       {50, 1},
                       {55, 0.8},
                       {60, 0.5},
                       {65, 4.0 / 13},
                       {70, 0}});
}

TEST(FuzzyShapesTest, BadParametersAreRefusedWithTheirFault) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    TFuzzyShape shape;
    const char* message;
  };
  const Case kCases[] = {
      {{fsGrowthShape, {}}, "Invalid parameters for s: 2 numbers expected, 0 given"},
      {{fsGrowthShape, {1, 2, 3}}, "Invalid parameters for s: 2 numbers expected, 3 given"},
      {{fsDeclineShape, {1}}, "Invalid parameters for z: 2 numbers expected, 1 given"},
      {{fsPIShape, {1}}, "Invalid parameters for pi: 2 or 3 numbers expected, 1 given"},
      {{fsPIShape, {1, 2, 3, 4}}, "Invalid parameters for pi: 2 or 3 numbers expected, 4 given"},
      {{fsTriangleShape, {1, 2}}, "Invalid parameters for tri: 3 numbers expected, 2 given"},
      {{fsBetaShape, {1}}, "Invalid parameters for beta: 2 to 4 numbers expected, 1 given"},
      {{fsBetaShape, {1, 2, 1, 1, 1}},
       "Invalid parameters for beta: 2 to 4 numbers expected, 5 given"},

      {{fsGrowthShape, {kNan, 1}}, "Invalid parameters for s: nan is not a finite number"},
      {{fsTriangleShape, {0, kInf, 1}}, "Invalid parameters for tri: inf is not a finite number"},
      {{fsBetaShape, {0, 1, 0.5, -kInf}},
       "Invalid parameters for beta: -inf is not a finite number"},
      {{fsGrowthShape, {-1e308, 1e308}},
       "Invalid parameters for s: the span from -1e+308 to 1e+308 is too wide"},
      {{fsPIShape, {0, 1e308}},
       "Invalid parameters for pi: the span from -1e+308 to 1e+308 is too wide"},

      {{fsGrowthShape, {5, 3}}, "Invalid parameters for s: left 5 > right 3"},
      {{fsDeclineShape, {-0.5, -1.25}}, "Invalid parameters for z: left -0.5 > right -1.25"},
      {{fsGrowthShape, {4, 4}}, "Invalid parameters for s: left 4 must be below right 4"},
      {{fsDeclineShape, {4, 4}}, "Invalid parameters for z: left 4 must be below right 4"},

      {{fsPIShape, {5, 3, 8}}, "Invalid parameters for pi: left 5 > centre 3"},
      {{fsPIShape, {0, 9, 8}}, "Invalid parameters for pi: centre 9 > right 8"},
      {{fsPIShape, {2, 2, 2}}, "Invalid parameters for pi: left 2 must be below right 2"},
      {{fsPIShape, {10, 0}}, "Invalid parameters for pi: range 0 must be above 0"},
      {{fsPIShape, {10, -2.5}}, "Invalid parameters for pi: range -2.5 must be above 0"},

      {{fsTriangleShape, {5, 3, 8}}, "Invalid parameters for tri: left 5 > centre 3"},
      {{fsTriangleShape, {0, 9, 8.5}}, "Invalid parameters for tri: centre 9 > right 8.5"},
      {{fsTriangleShape, {1, 1, 1}}, "Invalid parameters for tri: left 1 must be below right 1"},

      {{fsBetaShape, {50, 0}}, "Invalid parameters for beta: range 0 must be above 0"},
      {{fsBetaShape, {50, -3}}, "Invalid parameters for beta: range -3 must be above 0"},
      {{fsBetaShape, {50, 20, 0}}, "Invalid parameters for beta: inflection 0 must be above 0"},
      {{fsBetaShape, {50, 20, 25}}, "Invalid parameters for beta: inflection 25 > range 20"},
      {{fsBetaShape, {50, 20, 20}},
       "Invalid parameters for beta: inflection 20 must be below range 20"},
      {{fsBetaShape, {50, 20, 10, 0}}, "Invalid parameters for beta: weight 0 must be above 0"},
      {{fsBetaShape, {50, 20, 10, -1}}, "Invalid parameters for beta: weight -1 must be above 0"},

      {{static_cast<TFuzzyShapeKind>(7), {1, 2}}, "Unknown fuzzy shape kind 7"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.message);
    try {
      const TMembershipSet set = MakeShape(c.shape);
      ADD_FAILURE() << "no error, made " << set.ToString();
    } catch (const EBaseException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(FuzzyShapesTest, NamesInTheirOrderAndReadBack) {
  const TFuzzyShapeKind kKinds[] = {fsGrowthShape, fsDeclineShape, fsPIShape, fsTriangleShape,
                                    fsBetaShape};
  const char* const kNames[] = {"s", "z", "pi", "tri", "beta"};
  ASSERT_EQ(kFuzzyShapeNames.size(), std::size(kKinds));
  for (std::size_t i = 0; i < std::size(kKinds); ++i) {
    EXPECT_EQ(FuzzyShapeKindName(kKinds[i]), kNames[i]);
    TFuzzyShapeKind kind = i == 0 ? fsBetaShape : fsGrowthShape;
    ASSERT_TRUE(ParseFuzzyShapeKind(kNames[i], kind)) << kNames[i];
    EXPECT_EQ(kind, kKinds[i]);
  }
  TFuzzyShapeKind kind = fsPIShape;
  for (const char* text : {"S", "triangle", "", "pi "}) {
    EXPECT_FALSE(ParseFuzzyShapeKind(text, kind)) << text;
  }
  EXPECT_EQ(kind, fsPIShape);  // unchanged by a failed read
}

TEST(FuzzyShapesTest, TextIsTheNameAndTheParametersAsGiven) {
  struct Case {
    TFuzzyShape shape;
    const char* text;
  };
  const Case kCases[] = {
      {{fsTriangleShape, {0, 10, 20}}, "(tri 0.0000 10.0000 20.0000)"},
      {{fsGrowthShape, {-1.5, 2.25}}, "(s -1.5000 2.2500)"},
      {{fsDeclineShape, {0.123456, 0.98766}}, "(z 0.1235 0.9877)"},
      {{fsPIShape, {50, 10}}, "(pi 50.0000 10.0000)"},
      {{fsBetaShape, {50, 20, 8, 2}}, "(beta 50.0000 20.0000 8.0000 2.0000)"},
      // Unchecked: the text of a shape MakeShape refuses.
      {{fsTriangleShape, {5, 3}}, "(tri 5.0000 3.0000)"},
      {{fsDeclineShape, {}}, "(z)"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(FuzzyShapeText(c.shape), c.text);
  }
}

}  // namespace
}  // namespace zephro

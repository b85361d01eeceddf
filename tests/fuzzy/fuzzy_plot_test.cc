// The text plot of fuzzy sets: where the marks fall, the rows' labels, the
// axis and its labels, overlapping series and bad ranges.

#include "zephro/fuzzy/fuzzy_plot.h"

#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using Lines = std::vector<std::string>;

const std::string kAxis = "    |----|----|----|----|----|----|----|----|----|----|";
const std::string kLabels0To100 = "   0.00     20.00     40.00     60.00     80.00    100.00";
const char* const kRowLabels[] = {"1.00", "0.95", "0.90", "0.85", "0.80", "0.75", "0.70",
                                  "0.65", "0.60", "0.55", "0.50", "0.45", "0.40", "0.35",
                                  "0.30", "0.25", "0.20", "0.15", "0.10", "0.05", "0.00"};

const TMembershipSet kTriangle({{0, 0}, {50, 1}, {100, 0}});

// The marks of one column, top down, each as its row's label and the mark:
// {"0.40*"} when the column holds '*' in the row of 0.40 only.
std::vector<std::string> MarksOfColumn(const Lines& lines, int column) {
  std::vector<std::string> marks;
  for (std::size_t row = 0; row < 21; ++row) {
    const std::string& line = lines.at(row);
    const std::size_t at = 4 + static_cast<std::size_t>(column);
    if (at < line.size() && line[at] != ' ') {
      marks.push_back(line.substr(0, 4) + line[at]);
    }
  }
  return marks;
}

void ExpectColumns(const Lines& lines,
                   const std::vector<std::pair<int, std::vector<std::string>>>& columns) {
  for (const auto& [column, marks] : columns) {
    SCOPED_TRACE(column);
    EXPECT_EQ(MarksOfColumn(lines, column), marks);
  }
}

TEST(FuzzyPlotTest, ATriangleMarksTheRowNearestItsMembership) {
  const Lines lines = PlotFuzzySets({{'*', &kTriangle}}, 0, 100);
  ASSERT_EQ(lines.size(), 23u);
  // Column i is at x = 2i; the triangle is x / 50 up to 50, (100 - x) / 50
  // after, and its row that membership in twentieths, rounded.
  ExpectColumns(lines, {
                           {0, {"0.00*"}},
                           {1, {"0.05*"}},   // x 2: 0.04, 0.8 twentieths
                           {3, {"0.10*"}},   // x 6: 0.12, 2.4 twentieths
                           {10, {"0.40*"}},  // x 20: 0.4
                           {12, {"0.50*"}},  // x 24: 0.48, 9.6 twentieths
                           {13, {"0.50*"}},  // x 26: 0.52, 10.4 twentieths
                           {25, {"1.00*"}},  // x 50: the peak
                           {26, {"0.95*"}},  // x 52: 0.96, 19.2 twentieths
                           {40, {"0.40*"}},  // x 80: 0.4
                           {50, {"0.00*"}},
                       });
  // One mark in every column.
  for (int column = 0; column < 51; ++column) {
    EXPECT_EQ(MarksOfColumn(lines, column).size(), 1u) << column;
  }
  EXPECT_EQ(lines[0], "1.00" + std::string(25, ' ') + "*");
  EXPECT_EQ(lines[12], "0.40" + std::string(10, ' ') + "*" + std::string(29, ' ') + "*");
  EXPECT_EQ(lines[20], "0.00*" + std::string(49, ' ') + "*");
  EXPECT_EQ(lines[21], kAxis);
  EXPECT_EQ(lines[22], kLabels0To100);
}

TEST(FuzzyPlotTest, ColumnsSpanTheGivenRange) {
  // Over [10, 20] column i is at x = 10 + i / 5; the triangle 12 15 18.
  const TMembershipSet set({{12, 0}, {15, 1}, {18, 0}});
  ExpectColumns(PlotFuzzySets({{'o', &set}}, 10, 20),
                {
                    {0, {"0.00o"}},
                    {10, {"0.00o"}},  // x 12
                    {15, {"0.35o"}},  // x 13: 1/3, 6.7 twentieths
                    {20, {"0.65o"}},  // x 14: 2/3, 13.3 twentieths
                    {25, {"1.00o"}},  // x 15
                    {35, {"0.35o"}},  // x 17
                    {40, {"0.00o"}},  // x 18
                    {50, {"0.00o"}},
                });
}

TEST(FuzzyPlotTest, AxisAndLabelLines) {
  struct Case {
    double low;
    double high;
    const char* labels;
  };
  const Case kCases[] = {
      {0, 100, "   0.00     20.00     40.00     60.00     80.00    100.00"},
      {-1, 1.5, "  -1.00     -0.50      0.00      0.50      1.00      1.50"},
      {0, 1, "   0.00      0.20      0.40      0.60      0.80      1.00"},
      // Fifths of a third: 0.0667, 0.1333, 0.2, 0.2667, 0.3333.
      {0, 1.0 / 3, "   0.00      0.07      0.13      0.20      0.27      0.33"},
      // Wider than their columns: written whole.
      {0, 1e7, "   0.00 2000000.00 4000000.00 6000000.00 8000000.00 10000000.00"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.labels);
    const Lines lines = PlotFuzzySets({{'*', &kTriangle}}, c.low, c.high);
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[21], kAxis);
    EXPECT_EQ(lines[22], c.labels);
  }
}

TEST(FuzzyPlotTest, NoSeriesGivesTheLabelledRowsOnly) {
  Lines expected(std::begin(kRowLabels), std::end(kRowLabels));
  expected.push_back(kAxis);
  expected.push_back(kLabels0To100);
  EXPECT_EQ(PlotFuzzySets({}, 0, 100), expected);
  // A series without a set draws nothing.
  EXPECT_EQ(PlotFuzzySets({{'*', nullptr}}, 0, 100), expected);
}

TEST(FuzzyPlotTest, TheLaterSeriesWinsACell) {
  EXPECT_EQ(PlotFuzzySets({{'a', &kTriangle}, {'b', &kTriangle}}, 0, 100),
            PlotFuzzySets({{'b', &kTriangle}}, 0, 100));
  EXPECT_EQ(PlotFuzzySets({{'b', &kTriangle}, {'a', &kTriangle}}, 0, 100),
            PlotFuzzySets({{'a', &kTriangle}}, 0, 100));

  // Falling and rising lines crossing at x 50, membership 0.5.
  const TMembershipSet cold({{0, 1}, {100, 0}});
  const TMembershipSet hot({{0, 0}, {100, 1}});
  ExpectColumns(PlotFuzzySets({{'c', &cold}, {'h', &hot}}, 0, 100),
                {
                    {0, {"1.00c", "0.00h"}},
                    {23, {"0.55c", "0.45h"}},  // x 46: 0.54 and 0.46
                    {24, {"0.50h"}},           // x 48: 0.52 and 0.48, both nearest 0.50
                    {25, {"0.50h"}},
                    {50, {"1.00h", "0.00c"}},
                });
  ExpectColumns(PlotFuzzySets({{'h', &hot}, {'c', &cold}}, 0, 100),
                {{24, {"0.50c"}}, {25, {"0.50c"}}, {26, {"0.50c"}}});
}

TEST(FuzzyPlotTest, SetsBeyondTheRangeKeepTheirEndValues) {
  const Lines empty_grid(std::begin(kRowLabels), std::end(kRowLabels));
  // All of it above the range: 0 throughout, the bottom row full.
  const TMembershipSet above({{200, 0}, {250, 1}, {300, 0}});
  Lines expected = empty_grid;
  expected[20] += std::string(51, '*');
  Lines lines = PlotFuzzySets({{'*', &above}}, 0, 100);
  lines.resize(21);
  EXPECT_EQ(lines, expected);

  // A rise that ends below the range: 1 throughout, the top row full.
  const TMembershipSet below({{-50, 0}, {-20, 1}});
  expected = empty_grid;
  expected[0] += std::string(51, '#');
  lines = PlotFuzzySets({{'#', &below}}, 0, 100);
  lines.resize(21);
  EXPECT_EQ(lines, expected);

  // An empty set is 0 everywhere.
  const TMembershipSet nothing;
  expected = empty_grid;
  expected[20] += std::string(51, '.');
  lines = PlotFuzzySets({{'.', &nothing}}, 0, 100);
  lines.resize(21);
  EXPECT_EQ(lines, expected);

  // Partly inside: the triangle 90 120 150 rises from x 90.
  const TMembershipSet partly({{90, 0}, {120, 1}, {150, 0}});
  ExpectColumns(PlotFuzzySets({{'p', &partly}}, 0, 100),
                {
                    {45, {"0.00p"}},  // x 90
                    {48, {"0.20p"}},  // x 96: 6/30
                    {50, {"0.35p"}},  // x 100: 1/3, 6.7 twentieths
                });
}

TEST(FuzzyPlotTest, HalfwayBetweenRowsGoesUp) {
  struct Case {
    double y;
    const char* mark;
  };
  const Case kCases[] = {
      {0.024, "0.00x"},                    // 0.48 twentieths
      {0.025, "0.05x"},                    // 0.5
      {0.026, "0.05x"}, {0.975, "1.00x"},  // 19.5
      {0.974, "0.95x"}, {1, "1.00x"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.y);
    const TMembershipSet flat({{0, c.y}});
    EXPECT_EQ(MarksOfColumn(PlotFuzzySets({{'x', &flat}}, 0, 1), 30),
              std::vector<std::string>{c.mark});
  }
}

TEST(FuzzyPlotTest, ARangeMustRunUpwardsAndBeFinite) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    double low;
    double high;
    const char* message;
  };
  const Case kCases[] = {
      {5, 5, "Invalid plot range: 5 to 5; the low end must be below the high end, both finite"},
      {10, 0, "Invalid plot range: 10 to 0; the low end must be below the high end, both finite"},
      {kNan, 1,
       "Invalid plot range: nan to 1; the low end must be below the high end, both finite"},
      {0, kInf,
       "Invalid plot range: 0 to inf; the low end must be below the high end, both finite"},
      {-1e308, 1e308,
       "Invalid plot range: -1e+308 to 1e+308; the low end must be below the high end, both "
       "finite"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.message);
    try {
      const Lines lines = PlotFuzzySets({{'*', &kTriangle}}, c.low, c.high);
      ADD_FAILURE() << "no error, " << lines.size() << " lines";
    } catch (const EBaseException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

}  // namespace
}  // namespace zephro

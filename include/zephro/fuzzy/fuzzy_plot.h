#pragma once

// PlotFuzzySets: one or more fuzzy sets drawn as text, for a listing or a
// console.
//
//   const TMembershipSet cold({{0, 1}, {50, 0}});
//   const TMembershipSet hot({{50, 0}, {100, 1}});
//   for (const std::string& line : PlotFuzzySets({{'c', &cold}, {'h', &hot}}, 0, 100)) {
//     std::puts(line.c_str());
//   }
//
// gives, the rows from 0.85 to 0.15 left out here:
//
//   1.00c                                                 h
//   0.95 c                                               h
//   0.90  cc                                           hh
//   ...
//   0.10                      cc   hh
//   0.05                        c h
//   0.00hhhhhhhhhhhhhhhhhhhhhhhhhhccccccccccccccccccccccccc
//       |----|----|----|----|----|----|----|----|----|----|
//      0.00     20.00     40.00     60.00     80.00    100.00
//
// (At x = 50 both sets are 0; hot, the later, has the cell.)
//
// The lines, without line ends:
//   - 21 rows for the memberships 1.00 down to 0.00 in steps of 0.05, each
//     its membership "%4.2f" followed by 51 cells, cell i for the x
//     low + i (high - low) / 50. A series puts its mark in each column, in
//     the row nearest its membership at that x (halfway goes up); cells no
//     series marks are blank, and a row's trailing blanks are left out.
//     Where several series mark one cell, the one later in the list wins.
//   - the axis, "    |----|----|----|----|----|----|----|----|----|----|",
//     a tick under every fifth column.
//   - the labels, "%7.2f %9.2f %9.2f %9.2f %9.2f %9.2f" of low, the x at
//     each fifth of the range and high, each with its decimal point under
//     the tick of its column (0, 10, ..., 50).
// Beyond its points a set keeps its end values, and is drawn so. A series
// without a set (null) draws nothing; an empty list of series gives the
// rows with their labels only. A range with low not below high, or not
// finite, raises EBaseException. Numbers are written with a full stop
// whatever the locale.
//
// Thread safety: a pure function; it only reads the sets, which must not be
// changed meanwhile.

#include <string>
#include <vector>

#include "zephro/fuzzy/membership_set.h"

namespace zephro {

struct TFuzzyPlotSeries {
  char mark = '*';
  const TMembershipSet* set = nullptr;
};

std::vector<std::string> PlotFuzzySets(const std::vector<TFuzzyPlotSeries>& series, double low,
                                       double high);

}  // namespace zephro

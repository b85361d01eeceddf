// A text plot of fuzzy sets: a grid of marks over an axis and its labels.

#include "zephro/fuzzy/fuzzy_plot.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "zephro/platform/exceptions.h"

#include "fuzzy/fuzzy_text.h"

namespace zephro {
namespace {

using fuzzy_detail::FixedText;
using fuzzy_detail::ShortText;

constexpr int kRows = 21;     // memberships 1.00 down to 0.00 in steps of 0.05
constexpr int kColumns = 51;  // x from low to high in steps of a fiftieth
constexpr int kLabelWidth = 4;

// The number with two decimals, blanks before it up to `width` characters.
std::string Padded(double v, std::size_t width) {
  const std::string text = FixedText(v, 2);
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// The x of column i of the 50 steps, or of label i of the 5.
double Step(double low, double high, int i, int count) {
  return low + (high - low) * i / count;
}

}  // namespace

std::vector<std::string> PlotFuzzySets(const std::vector<TFuzzyPlotSeries>& series, double low,
                                       double high) {
  if (!(low < high) || !std::isfinite(high - low)) {
    throw EBaseException("Invalid plot range: " + ShortText(low) + " to " + ShortText(high) +
                         "; the low end must be below the high end, both finite");
  }
  std::vector<std::string> grid(kRows, std::string(kColumns, ' '));
  for (const TFuzzyPlotSeries& s : series) {
    if (s.set == nullptr) {
      continue;
    }
    for (int i = 0; i < kColumns; ++i) {
      const double y = s.set->DegreeOfMembership(Step(low, high, i, kColumns - 1));
      // Row 0 is membership 1; halfway between two rows goes to the upper.
      const long level = std::lround(y * (kRows - 1));
      const long row = (kRows - 1) - std::clamp(level, 0L, static_cast<long>(kRows - 1));
      grid[static_cast<std::size_t>(row)][static_cast<std::size_t>(i)] = s.mark;
    }
  }
  std::vector<std::string> lines;
  lines.reserve(kRows + 2);
  for (int row = 0; row < kRows; ++row) {
    std::string line = Padded(static_cast<double>(kRows - 1 - row) / (kRows - 1), kLabelWidth) +
                       grid[static_cast<std::size_t>(row)];
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(std::move(line));
  }
  std::string axis(kLabelWidth, ' ');
  for (int i = 0; i < kColumns; ++i) {
    axis += i % 5 == 0 ? '|' : '-';
  }
  lines.push_back(std::move(axis));
  // Labels at every tenth column, their decimal points under its tick.
  std::string labels = Padded(low, 7);
  for (int k = 1; k <= 5; ++k) {
    labels += " " + Padded(Step(low, high, k, 5), 9);
  }
  lines.push_back(std::move(labels));
  return lines;
}

}  // namespace zephro

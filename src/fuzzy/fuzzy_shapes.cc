// The standard shapes: their checks, their points and their text.

#include "zephro/fuzzy/fuzzy_shapes.h"

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "zephro/platform/exceptions.h"

#include "fuzzy/fuzzy_text.h"

namespace zephro {
namespace {

using fuzzy_detail::FixedText;
using fuzzy_detail::ShortText;
using enum TFuzzyShapeKind;

// How many parameters each shape takes, in the order of the kinds.
struct TArity {
  std::size_t least;
  std::size_t most;
};
constexpr std::array<TArity, kFuzzyShapeNames.size()> kArities = {
    {{2, 2}, {2, 2}, {2, 3}, {3, 3}, {2, 4}}};

// A parameter with the name a message calls it by.
struct TNamed {
  const char* name;
  double value;
};

std::string Quote(TNamed p) {
  return std::string(p.name) + " " + ShortText(p.value);
}

// Every fault of a shape's parameters is reported through here.
[[noreturn]] void Fail(TFuzzyShapeKind kind, const std::string& fault) {
  throw EBaseException("Invalid parameters for " + std::string(FuzzyShapeKindName(kind)) + ": " +
                       fault);
}

void CheckCount(TFuzzyShapeKind kind, std::size_t count) {
  const TArity arity = kArities[static_cast<std::size_t>(kind)];
  if (count >= arity.least && count <= arity.most) {
    return;
  }
  std::string expected = std::to_string(arity.least);
  if (arity.most != arity.least) {
    expected += (arity.most == arity.least + 1 ? " or " : " to ") + std::to_string(arity.most);
  }
  Fail(kind, expected + " numbers expected, " + std::to_string(count) + " given");
}

void CheckFinite(TFuzzyShapeKind kind, const std::vector<double>& parameters) {
  for (double p : parameters) {
    if (!std::isfinite(p)) {
      Fail(kind, ShortText(p) + " is not a finite number");
    }
  }
}

// low <= high, and low < high as well when `strict`.
void CheckOrder(TFuzzyShapeKind kind, TNamed low, TNamed high, bool strict) {
  if (low.value > high.value) {
    Fail(kind, Quote(low) + " > " + Quote(high));
  }
  if (strict && low.value == high.value) {
    Fail(kind, Quote(low) + " must be below " + Quote(high));
  }
}

void CheckPositive(TFuzzyShapeKind kind, TNamed p) {
  if (!(p.value > 0)) {
    Fail(kind, Quote(p) + " must be above 0");
  }
}

// The set's ends must be far enough apart to be measured between.
void CheckSpan(TFuzzyShapeKind kind, double left, double right) {
  if (!std::isfinite(right - left)) {
    Fail(kind, "the span from " + ShortText(left) + " to " + ShortText(right) + " is too wide");
  }
}

// Appends the 7 points of S from `from` to `to`, or of 1 - S when falling.
// The membership is taken from the fraction t of the way along, so that the
// ends and the middle come out exact: 2t^2 up to the middle, 1 - 2(1 - t)^2
// after it.
void AddSCurve(std::vector<TFuzzyPoint>& points, double from, double to, bool rising) {
  constexpr int kSteps = 6;
  for (int i = 0; i <= kSteps; ++i) {
    const double t = static_cast<double>(i) / kSteps;
    const double s = t <= 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
    const double x = i == kSteps ? to : from + (to - from) * t;
    points.push_back({x, rising ? s : 1 - s});
  }
}

TMembershipSet MakeSCurve(TFuzzyShapeKind kind, const std::vector<double>& p) {
  CheckOrder(kind, {"left", p[0]}, {"right", p[1]}, true);
  CheckSpan(kind, p[0], p[1]);
  std::vector<TFuzzyPoint> points;
  AddSCurve(points, p[0], p[1], kind == fsGrowthShape);
  return TMembershipSet(std::move(points));
}

// Left, centre and right of a pi or a triangle, checked.
struct TPeak {
  double left;
  double centre;
  double right;
};

TPeak CheckPeak(TFuzzyShapeKind kind, double left, double centre, double right) {
  CheckOrder(kind, {"left", left}, {"centre", centre}, false);
  CheckOrder(kind, {"centre", centre}, {"right", right}, false);
  CheckOrder(kind, {"left", left}, {"right", right}, true);
  CheckSpan(kind, left, right);
  return {left, centre, right};
}

TMembershipSet MakePi(const std::vector<double>& p) {
  // Two parameters are the centre and the range either side of it.
  if (p.size() == 2) {
    CheckPositive(fsPIShape, {"range", p[1]});
  }
  const TPeak peak = p.size() == 2 ? CheckPeak(fsPIShape, p[0] - p[1], p[0], p[0] + p[1])
                                   : CheckPeak(fsPIShape, p[0], p[1], p[2]);
  std::vector<TFuzzyPoint> points;
  if (peak.left < peak.centre) {
    AddSCurve(points, peak.left, peak.centre, true);
  }
  if (peak.centre < peak.right) {
    AddSCurve(points, peak.centre, peak.right, false);
  }
  // The centre, where the two sides meet, is kept once.
  return TMembershipSet(std::move(points));
}

TMembershipSet MakeTriangle(const std::vector<double>& p) {
  const TPeak peak = CheckPeak(fsTriangleShape, p[0], p[1], p[2]);
  std::vector<TFuzzyPoint> points;
  if (peak.left < peak.centre) {
    points.push_back({peak.left, 0});
  }
  points.push_back({peak.centre, 1});
  if (peak.centre < peak.right) {
    points.push_back({peak.right, 0});
  }
  return TMembershipSet(std::move(points));
}

TMembershipSet MakeBeta(const std::vector<double>& p) {
  const double centre = p[0];
  const double range = p[1];
  CheckPositive(fsBetaShape, {"range", range});
  const double inflection = p.size() > 2 ? p[2] : range / 2;
  const double weight = p.size() > 3 ? p[3] : 1;
  CheckPositive(fsBetaShape, {"inflection", inflection});
  CheckOrder(fsBetaShape, {"inflection", inflection}, {"range", range}, true);
  CheckPositive(fsBetaShape, {"weight", weight});
  CheckSpan(fsBetaShape, centre - range, centre + range);
  auto bell = [&](double distance) {
    return 1 / (1 + std::pow(distance / inflection, 2 * weight));
  };
  const double distances[] = {inflection / 2, inflection, (inflection + range) / 2};
  std::vector<TFuzzyPoint> points = {{centre - range, 0}, {centre, 1}, {centre + range, 0}};
  for (double d : distances) {
    points.push_back({centre - d, bell(d)});
    points.push_back({centre + d, bell(d)});
  }
  return TMembershipSet(std::move(points));
}

}  // namespace

TMembershipSet MakeShape(const TFuzzyShape& shape) {
  const TFuzzyShapeKind kind = shape.kind;
  if (static_cast<std::size_t>(kind) >= kFuzzyShapeNames.size()) {
    throw EBaseException("Unknown fuzzy shape kind " + std::to_string(static_cast<unsigned>(kind)));
  }
  const std::vector<double>& p = shape.parameters;
  CheckCount(kind, p.size());
  CheckFinite(kind, p);
  switch (kind) {
    case fsGrowthShape:
    case fsDeclineShape:
      return MakeSCurve(kind, p);
    case fsPIShape:
      return MakePi(p);
    case fsTriangleShape:
      return MakeTriangle(p);
    case fsBetaShape:
      return MakeBeta(p);
  }
  return {};
}

std::string FuzzyShapeText(const TFuzzyShape& shape) {
  std::string text = "(" + std::string(FuzzyShapeKindName(shape.kind));
  for (double p : shape.parameters) {
    text += " " + FixedText(p);
  }
  return text + ")";
}

}  // namespace zephro

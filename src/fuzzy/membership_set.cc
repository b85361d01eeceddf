// TMembershipSet: evaluation, merges, hedges, correlation, defuzzification.

#include "zephro/fuzzy/membership_set.h"

#include <algorithm>
#include <cmath>

#include "fuzzy/fuzzy_text.h"

namespace zephro {
namespace {

double Clamp01(double y) {
  return std::clamp(y, 0.0, 1.0);
}

// Reads a set's membership at ascending x, a cursor over its points: linear
// over a whole walk instead of a search per x.
class TCursor {
 public:
  explicit TCursor(const std::vector<TFuzzyPoint>& points) : points_(points) {}
  double At(double x) {
    if (points_.empty()) {
      return 0;
    }
    while (next_ < points_.size() && points_[next_].x <= x) {
      ++next_;
    }
    if (next_ == 0) {
      return points_.front().y;
    }
    if (next_ == points_.size()) {
      return points_.back().y;
    }
    const TFuzzyPoint& a = points_[next_ - 1];
    const TFuzzyPoint& b = points_[next_];
    return a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
  }

 private:
  const std::vector<TFuzzyPoint>& points_;
  std::size_t next_ = 0;
};

// Whether two x values are one point but for rounding: the crossing that two
// merges each computed for the same place, one of them from a strength held
// in single precision (good to about 1e-7).
bool SameX(double a, double b) {
  return std::abs(a - b) <= 1e-6 * std::max({1.0, std::abs(a), std::abs(b)});
}

// Calls `visit(x)` for the x points of both lists, ascending, each once.
template <class V>
void ForEachX(const std::vector<TFuzzyPoint>& a, const std::vector<TFuzzyPoint>& b, V visit) {
  std::size_t i = 0;
  std::size_t j = 0;
  bool any = false;
  double last = 0;
  while (i < a.size() || j < b.size()) {
    double x;
    if (j == b.size() || (i < a.size() && a[i].x < b[j].x)) {
      x = a[i++].x;
    } else if (i == a.size() || b[j].x < a[i].x) {
      x = b[j++].x;
    } else {
      x = a[i++].x;
      ++j;
    }
    if (!any || !SameX(last, x)) {
      visit(x);
      any = true;
      last = x;
    }
  }
}

}  // namespace

TMembershipSet::TMembershipSet(std::vector<TFuzzyPoint> points) {
  std::stable_sort(points.begin(), points.end(),
                   [](const TFuzzyPoint& a, const TFuzzyPoint& b) { return a.x < b.x; });
  for (const TFuzzyPoint& p : points) {
    if (!points_.empty() && points_.back().x == p.x) {
      points_.back().y = Clamp01(p.y);
    } else {
      points_.push_back({p.x, Clamp01(p.y)});
    }
  }
}

double TMembershipSet::Height() const noexcept {
  double height = 0;
  for (const TFuzzyPoint& p : points_) {
    height = std::max(height, p.y);
  }
  return height;
}

void TMembershipSet::Add(double x, double y) {
  auto it = std::lower_bound(points_.begin(), points_.end(), x,
                             [](const TFuzzyPoint& p, double v) { return p.x < v; });
  if (it != points_.end() && it->x == x) {
    it->y = Clamp01(y);
  } else {
    points_.insert(it, {x, Clamp01(y)});
  }
}

double TMembershipSet::DegreeOfMembership(double x) const {
  if (points_.empty()) {
    return 0;
  }
  auto it = std::upper_bound(points_.begin(), points_.end(), x,
                             [](double v, const TFuzzyPoint& p) { return v < p.x; });
  if (it == points_.begin()) {
    return points_.front().y;
  }
  if (it == points_.end()) {
    return points_.back().y;
  }
  const TFuzzyPoint& a = *(it - 1);
  const TFuzzyPoint& b = *it;
  return a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
}

void TMembershipSet::Iterate(const TMembershipSet& other,
                             const std::function<void(double, double, double)>& visit) const {
  TCursor mine(points_);
  TCursor theirs(other.points_);
  ForEachX(points_, other.points_, [&](double x) { visit(x, mine.At(x), theirs.At(x)); });
}

template <class V>
void TMembershipSet::Walk(const TMembershipSet& other, V visit) const {
  TCursor mine(points_);
  TCursor theirs(other.points_);
  bool first = true;
  double last_x = 0;
  double last_a = 0;
  double last_d = 0;
  ForEachX(points_, other.points_, [&](double x) {
    const double a = mine.At(x);
    const double b = theirs.At(x);
    const double d = a - b;
    if (!first && ((last_d < 0 && d > 0) || (last_d > 0 && d < 0))) {
      // Both are straight between the last x and this one, and cross there.
      const double t = last_d / (last_d - d);
      const double cx = last_x + (x - last_x) * t;
      if (cx > last_x && cx < x && !SameX(cx, last_x) && !SameX(cx, x)) {
        const double y = last_a + (a - last_a) * t;
        visit(cx, y, y);
      }
    }
    visit(x, a, b);
    first = false;
    last_x = x;
    last_a = a;
    last_d = d;
  });
}

template <class F>
TMembershipSet TMembershipSet::Merge(const TMembershipSet& other, F combine) const {
  TMembershipSet result;
  result.points_.reserve((points_.size() + other.points_.size()) * 2);
  Walk(other, [&](double x, double a, double b) {
    result.points_.push_back({x, Clamp01(combine(a, b))});
  });
  return result;
}

TMembershipSet TMembershipSet::Scaled(double factor) const {
  TMembershipSet result = *this;
  for (TFuzzyPoint& p : result.points_) {
    p.y = Clamp01(p.y * factor);
  }
  return result;
}

TMembershipSet TMembershipSet::Union(const TMembershipSet& other, TFuzzyCombineKind kind) const {
  switch (kind) {
    case TFuzzyCombineKind::fcZadeh:
      return Merge(other, [](double a, double b) { return std::max(a, b); });
    case TFuzzyCombineKind::fcMean:
      return Merge(other, [](double a, double b) { return (a + b) / 2; });
    case TFuzzyCombineKind::fcMeanSqr:
      return Merge(other, [](double a, double b) { return (a * a + b * b) / 2; });
    case TFuzzyCombineKind::fcMeanSqrt:
      return Merge(other, [](double a, double b) { return (std::sqrt(a) + std::sqrt(b)) / 2; });
    case TFuzzyCombineKind::fcProduct:
      return Merge(other, [](double a, double b) { return a + b - a * b; });
    case TFuzzyCombineKind::fcBoundedSum:
      return Merge(other, [](double a, double b) { return std::min(1.0, a + b); });
    case TFuzzyCombineKind::fcSum: {
      // Summed unclamped, then brought down to a height of 1.
      // (A sum of two lines is a line: the points of both are all it needs.)
      std::vector<TFuzzyPoint> sums;
      double height = 0;
      Iterate(other, [&](double x, double a, double b) {
        sums.push_back({x, a + b});
        height = std::max(height, a + b);
      });
      if (height > 1) {
        for (TFuzzyPoint& p : sums) {
          p.y /= height;
        }
      }
      return TMembershipSet(std::move(sums));
    }
  }
  return *this;
}

TMembershipSet TMembershipSet::Intersection(const TMembershipSet& other,
                                            TFuzzyCombineKind kind) const {
  switch (kind) {
    case TFuzzyCombineKind::fcZadeh:
      return Merge(other, [](double a, double b) { return std::min(a, b); });
    case TFuzzyCombineKind::fcProduct:
      return Merge(other, [](double a, double b) { return a * b; });
    case TFuzzyCombineKind::fcBoundedSum:
      return Merge(other, [](double a, double b) { return std::max(0.0, a + b - 1); });
    case TFuzzyCombineKind::fcSum: {
      TMembershipSet product = Merge(other, [](double a, double b) { return a * b; });
      const double height = product.Height();
      return height > 0 ? product.Scaled(1 / height) : product;
    }
    case TFuzzyCombineKind::fcMean:
    case TFuzzyCombineKind::fcMeanSqr:
    case TFuzzyCombineKind::fcMeanSqrt:
      return Union(other, kind);  // the means are their own duals
  }
  return *this;
}

TMembershipSet TMembershipSet::Hedge(THedgeKind hedge) const {
  const double height = Height();
  TMembershipSet result;
  if (hedge == THedgeKind::hkNot || hedge == THedgeKind::hkNorm ||
      points_.size() * kHedgeSteps > kMaxHedgedPoints) {
    // Linear in y, so the lines between points stay lines; or a set with
    // points enough already (hedges upon hedges would multiply them).
    result = *this;
  } else {
    // A curve: each sloping segment gets kHedgeSteps - 1 points inside it,
    // so that the hedged lines follow the curve.
    result.points_.reserve(points_.size() * kHedgeSteps);
    for (std::size_t i = 0; i < points_.size(); ++i) {
      if (i > 0 && points_[i - 1].y != points_[i].y) {
        const TFuzzyPoint& a = points_[i - 1];
        const TFuzzyPoint& b = points_[i];
        for (int k = 1; k < kHedgeSteps; ++k) {
          const double t = static_cast<double>(k) / kHedgeSteps;
          result.points_.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
        }
      }
      result.points_.push_back(points_[i]);
    }
  }
  for (TFuzzyPoint& p : result.points_) {
    const double y = p.y;
    switch (hedge) {
      case THedgeKind::hkNot:
        p.y = 1 - y;
        break;
      case THedgeKind::hkVery:
        p.y = y * y;
        break;
      case THedgeKind::hkExtremely:
        p.y = y * y * y;
        break;
      case THedgeKind::hkSomewhat:
        p.y = std::cbrt(y);
        break;
      case THedgeKind::hkMoreOrLess:
        p.y = std::sqrt(y);
        break;
      case THedgeKind::hkSlightly:
        p.y = std::pow(y, 1 / 1.25);
        break;
      case THedgeKind::hkPlus:
        p.y = std::pow(y, 1.25);
        break;
      case THedgeKind::hkNorm:
        p.y = height > 0 ? y / height : y;
        break;
      case THedgeKind::hkIntensify:
        p.y = y <= 0.5 ? 2 * y * y : 1 - 2 * (1 - y) * (1 - y);
        break;
    }
    p.y = Clamp01(p.y);
  }
  return result;
}

TMembershipSet TMembershipSet::Correlate(double strength, TFuzzyCorrelationKind kind) const {
  strength = Clamp01(strength);
  if (kind == TFuzzyCorrelationKind::fcProduct) {
    return Scaled(strength);
  }
  if (points_.empty()) {
    return *this;
  }
  const TMembershipSet flat({{MinX(), strength}, {MaxX(), strength}});
  return Merge(flat, [](double a, double b) { return std::min(a, b); });
}

double TMembershipSet::MaxOfMin(const TMembershipSet& other) const {
  // The minimum of two piecewise-linear functions peaks at a point of one of
  // them or where they cross: the walk visits exactly those, storing nothing.
  double best = 0;
  Walk(other, [&best](double, double a, double b) { best = std::max(best, std::min(a, b)); });
  return Clamp01(best);
}

double TMembershipSet::Moment(bool* undecidable) const {
  double area = 0;
  double moment = 0;
  for (std::size_t i = 1; i < points_.size(); ++i) {
    const TFuzzyPoint& a = points_[i - 1];
    const TFuzzyPoint& b = points_[i];
    const double dx = b.x - a.x;
    area += dx * (a.y + b.y) / 2;
    moment += dx * (a.x * (2 * a.y + b.y) + b.x * (a.y + 2 * b.y)) / 6;
  }
  if (undecidable != nullptr) {
    *undecidable = false;
  }
  if (area > 0) {
    return moment / area;
  }
  // No area: the points themselves, weighted by membership.
  double weight = 0;
  double sum = 0;
  for (const TFuzzyPoint& p : points_) {
    weight += p.y;
    sum += p.x * p.y;
  }
  if (weight > 0) {
    return sum / weight;
  }
  if (undecidable != nullptr) {
    *undecidable = true;
  }
  return (MinX() + MaxX()) / 2;
}

double TMembershipSet::MeanOfMaxima(bool* undecidable) const {
  const double height = Height();
  if (undecidable != nullptr) {
    *undecidable = height <= 0;
  }
  if (height <= 0) {
    return (MinX() + MaxX()) / 2;
  }
  double length = 0;
  double weighted = 0;
  double point_sum = 0;
  int point_count = 0;
  for (std::size_t i = 0; i < points_.size(); ++i) {
    if (points_[i].y != height) {
      continue;
    }
    point_sum += points_[i].x;
    ++point_count;
    if (i + 1 < points_.size() && points_[i + 1].y == height) {
      const double dx = points_[i + 1].x - points_[i].x;
      length += dx;
      weighted += dx * (points_[i].x + points_[i + 1].x) / 2;
    }
  }
  return length > 0 ? weighted / length : point_sum / point_count;
}

std::string TMembershipSet::ToString() const {
  if (points_.empty()) {
    return std::string(kEmptyFuzzyValueText);
  }
  using fuzzy_detail::FixedText;
  std::string out = "(";
  for (const TFuzzyPoint& p : points_) {
    out += "(" + FixedText(p.x) + " " + FixedText(p.y) + ") ";
  }
  return out + ")";
}

std::string FuzzyNumberText(double v) {
  return fuzzy_detail::FixedText(v);
}

}  // namespace zephro

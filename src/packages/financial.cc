// The financial routines. The annuity formulas are written with the growth
// factor (1 + r)^n and the annuity factor ((1 + r)^n - 1) / r computed through
// log1p and expm1, which stay accurate for rates close to 0 where the plain
// formula loses its digits to cancellation; at a rate of exactly 0 the
// annuity factor is its limit n.
//
// Both rate searches share one solver: Newton's method on the balance as a
// function of the rate and its derivative, and, when that fails, bisection of
// a bracket taken from a fixed grid of rates (see the header).

#include "packages/financial.h"

#include <cmath>
#include <cstddef>
#include <optional>

#include "zephro/platform/errors.h"
#include "zephro/values/messages.h"

namespace zephro {

namespace {

// (1 + rate)^n and ((1 + rate)^n - 1) / rate.
struct TGrowth {
  double factor;
  double annuity;
};

TGrowth Growth(double rate, double num_periods) {
  if (rate == 0) {
    return {1, num_periods};
  }
  const double exponent = num_periods * std::log1p(rate);
  return {std::exp(exponent), std::expm1(exponent) / rate};
}

// What a payment is worth at the end of its period: a payment at the start of
// the period earns one more period's interest.
double Timing(double rate, TPaymentTime when) {
  return when == TPaymentTime::ptStartOfPeriod ? 1 + rate : 1;
}

// A function of the rate whose root a search looks for, at one rate.
struct TRatePoint {
  double value;
  double slope;
};

// A rate in [low, high] where the function changes sign; `value_low` is the
// function's value at `low`.
struct TBracket {
  double low;
  double high;
  double value_low;
};

// How far `rate` lies from the bracket.
double DistanceTo(const TBracket& bracket, double rate) {
  if (rate < bracket.low) {
    return bracket.low - rate;
  }
  return rate > bracket.high ? rate - bracket.high : 0;
}

template <class Balance>
std::optional<double> Newton(double guess, Balance balance) {
  double rate = guess;
  for (int step = 0; step < kRateSearchSteps && rate > -1; ++step) {
    const TRatePoint point = balance(rate);
    if (!std::isfinite(point.value) || !std::isfinite(point.slope) || point.slope == 0) {
      return std::nullopt;
    }
    const double next = rate - point.value / point.slope;
    if (!std::isfinite(next)) {
      return std::nullopt;
    }
    if (std::fabs(next - rate) < kRateTolerance) {
      return next > -1 ? std::optional<double>(next) : std::nullopt;
    }
    rate = next;
  }
  return std::nullopt;
}

// The bracket of kRateGrid nearest `guess`, if the function changes sign on the
// grid at all.
template <class Balance>
std::optional<TBracket> NearestBracket(double guess, Balance balance) {
  std::optional<TBracket> best;
  double low = kRateGrid[0];
  double value_low = balance(low).value;
  for (std::size_t i = 1; i < kRateGrid.size(); ++i) {
    const double high = kRateGrid[i];
    const double value_high = balance(high).value;
    // A function that is zero at both ends changes sign nowhere (a root at a
    // grid point is found in the interval it closes).
    if (std::isfinite(value_low) && std::isfinite(value_high) && value_low != 0 &&
        (value_high == 0 || (value_low < 0) != (value_high < 0))) {
      const TBracket bracket{low, high, value_low};
      if (!best || DistanceTo(bracket, guess) < DistanceTo(*best, guess)) {
        best = bracket;
      }
    }
    low = high;
    value_low = value_high;
  }
  return best;
}

// The rate at which `balance` (a function of the rate giving a TRatePoint) is
// zero, searched from `guess`.
template <class Balance>
double SearchRate(double guess, Balance balance) {
  if (const std::optional<double> rate = Newton(guess, balance)) {
    return *rate;
  }
  const std::optional<TBracket> bracket = NearestBracket(guess, balance);
  if (!bracket) {
    RaisePlatformError("%s", SRateSearchFailed);
  }
  double low = bracket->low;
  double high = bracket->high;
  double value_low = bracket->value_low;
  while (high - low > kRateTolerance) {
    const double middle = (low + high) / 2;
    const double value = balance(middle).value;
    if (value == 0) {
      return middle;
    }
    if ((value < 0) == (value_low < 0)) {
      low = middle;
      value_low = value;
    } else {
      high = middle;
    }
  }
  return (low + high) / 2;
}

}  // namespace

TPaymentTime PaymentTimeOf(std::string_view text) {
  return text == "ptStartOfPeriod" ? TPaymentTime::ptStartOfPeriod : TPaymentTime::ptEndOfPeriod;
}

double FutureValue(double rate, double num_periods, double payment, double present_value,
                   TPaymentTime when) {
  const TGrowth g = Growth(rate, num_periods);
  return -(present_value * g.factor + payment * Timing(rate, when) * g.annuity);
}

double PresentValue(double rate, double num_periods, double payment, double future_value,
                    TPaymentTime when) {
  const TGrowth g = Growth(rate, num_periods);
  return -(future_value + payment * Timing(rate, when) * g.annuity) / g.factor;
}

double Payment(double rate, double num_periods, double present_value, double future_value,
               TPaymentTime when) {
  const TGrowth g = Growth(rate, num_periods);
  return -(present_value * g.factor + future_value) / (Timing(rate, when) * g.annuity);
}

// The interest of a period is the rate applied to the balance owed during it:
// the balance at the end of the previous period, which FutureValue gives with
// the opposite sign. With payments at the start, the period's payment has
// already reduced that balance, and what it pays is the interest of the
// previous period, so the first payment holds none.
double InterestPayment(double rate, double period, double num_periods, double present_value,
                       double future_value, TPaymentTime when) {
  const bool at_start = when == TPaymentTime::ptStartOfPeriod;
  if (rate == 0 || (at_start && period == 1)) {
    return 0;
  }
  const double payment = Payment(rate, num_periods, present_value, future_value, when);
  const double interest = FutureValue(rate, period - 1, payment, present_value, when) * rate;
  return at_start ? interest / (1 + rate) : interest;
}

double PeriodPayment(double rate, double period, double num_periods, double present_value,
                     double future_value, TPaymentTime when) {
  return Payment(rate, num_periods, present_value, future_value, when) -
         InterestPayment(rate, period, num_periods, present_value, future_value, when);
}

// From the balance: (1 + r)^n (pv + c) = c - fv, with c = payment (1 + r w) / r.
double NumberOfPeriods(double rate, double payment, double present_value, double future_value,
                       TPaymentTime when) {
  if (rate == 0) {
    return -(present_value + future_value) / payment;
  }
  const double c = payment * Timing(rate, when) / rate;
  return std::log((c - future_value) / (present_value + c)) / std::log1p(rate);
}

double InterestRate(double num_periods, double payment, double present_value, double future_value,
                    TPaymentTime when) {
  const double w = when == TPaymentTime::ptStartOfPeriod ? 1 : 0;
  const double n = num_periods;
  return SearchRate(kInterestRateGuess, [=](double rate) {
    const TGrowth g = Growth(rate, n);
    const double timing = 1 + rate * w;
    // d/dr of (1 + r)^n and of the annuity factor ((1 + r)^n - 1) / r.
    const double factor_slope = n * g.factor / (1 + rate);
    const double annuity_slope = rate == 0 ? n * (n - 1) / 2 : (factor_slope - g.annuity) / rate;
    return TRatePoint{
        present_value * g.factor + payment * timing * g.annuity + future_value,
        present_value * factor_slope + payment * (w * g.annuity + timing * annuity_slope)};
  });
}

double NetPresentValue(double rate, std::span<const double> cash_flows, TPaymentTime when) {
  const double discount = 1 / (1 + rate);
  double factor = when == TPaymentTime::ptStartOfPeriod ? 1 : discount;
  double sum = 0;
  for (double flow : cash_flows) {
    sum += flow * factor;
    factor *= discount;
  }
  return sum;
}

double InternalRateOfReturn(double guess, std::span<const double> cash_flows) {
  return SearchRate(guess, [cash_flows](double rate) {
    // Flow i is discounted by (1 + r)^-i; its derivative is -i (1 + r)^-(i+1).
    const double discount = 1 / (1 + rate);
    double factor = 1;
    TRatePoint point{0, 0};
    for (std::size_t i = 0; i < cash_flows.size(); ++i) {
      point.value += cash_flows[i] * factor;
      factor *= discount;
      point.slope -= static_cast<double>(i) * cash_flows[i] * factor;
    }
    return point;
  });
}

double SLNDepreciation(double cost, double salvage, double life) {
  return (cost - salvage) / life;
}

double SYDDepreciation(double cost, double salvage, double life, double period) {
  return (cost - salvage) * (life - period + 1) * 2 / (life * (life + 1));
}

// Without the floor at salvage the book value before `period` would be
// cost (1 - 2/life)^(period - 1) (0 after the first period when the life is
// shorter than 2); once a period reaches the floor, the book value stays
// there. So the book value is the larger of the two.
double DoubleDecliningBalance(double cost, double salvage, double life, double period) {
  const double rate = 2 / life;
  const double book = std::fmax(cost * std::pow(std::fmax(1 - rate, 0.0), period - 1), salvage);
  return std::fmax(std::fmin(book * rate, book - salvage), 0);
}

}  // namespace zephro

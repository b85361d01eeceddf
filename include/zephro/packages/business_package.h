#pragma once

// TBusinessPackage: financial functions over annuities, cash flows and
// depreciation. Every result is a float.
//
//   (future-value rate n payment pv when)          value left after n periods
//   (present-value rate n payment fv when)         value at the start
//   (payment rate n pv fv when)                    payment per period
//   (interest-payment rate period n pv fv when)    interest part of a period's payment
//   (period-payment rate period n pv fv when)      principal part of it
//   (number-of-periods rate payment pv fv when)    periods needed (not rounded)
//   (interest-rate n payment pv fv when)           rate per period
//   (net-present-value rate cash-flows when)       cash flows discounted at the rate
//   (internal-rate-of-return guess cash-flows)     rate at which they are worth 0
//   (sln-depreciation cost salvage life)           straight line
//   (syd-depreciation cost salvage life period)    sum of the years' digits
//   (double-declining-balance cost salvage life period)
//
// Conventions. Rates are per period (0.005 is 0.5% a period; 0 works too);
// money received is positive, money paid out negative, so a loan of 100000
// at 0.005 over 360 periods has the payment -599.55:
//
//   (payment 0.005 360 100000 0 ptEndOfPeriod)         -599.5505
//   (future-value 0.05 10 100 0 ptEndOfPeriod)         -1257.7893
//
// `when` is the text ptEndOfPeriod (payments at the end of each period) or
// ptStartOfPeriod (at the start); any other text counts as ptEndOfPeriod. Cash
// flows are a multifield of numbers, one a period: net-present-value
// discounts the first by one period at the end of each period and not at all at
// the start; internal-rate-of-return takes the first as falling at once.
//
// Arguments. Each function takes exactly the arguments shown, evaluated from
// left to right. rate, payment, pv, fv, cost, salvage and guess are read as
// numbers (AsNumeric: "Not a numeric type.  Value (%s) is a %s type"
// otherwise); n, period and life as integers (AsInteger: "Not a integer
// type..."); cash-flows as a multifield ("Not a list type...") whose elements
// are read as they stand, without resolving variables, as numbers (AsFloat).
//
// Errors. interest-rate and internal-rate-of-return search for the rate (at
// most 100 steps of Newton's method to a tolerance of 1e-10, then bisection of
// a bracket, see packages/financial.h); when there is none they raise
// "<function> error: the rate search did not converge". Other arithmetic is
// not checked: a zero number of periods or life gives an infinity or a NaN.
//
// Thread safety: the functions keep no state.

#include "zephro/functions/user_package.h"

namespace zephro {

inline constexpr char DoubleDecliningBalanceFunctionName[] = "double-declining-balance";
inline constexpr char DoubleDecliningBalanceComment[] =
    "Returns the depreciation for <period-integer-expression> of an asset costing "
    "<cost-numeric-expression>, worth <salvage-numeric-expression> after "
    "<life-integer-expression> periods, by the double-declining-balance method";
inline constexpr char DoubleDecliningBalanceSyntax[] =
    " <cost-numeric-expression> <salvage-numeric-expression> <life-integer-expression> "
    "<period-integer-expression>";
inline constexpr char FutureValueFunctionName[] = "future-value";
inline constexpr char FutureValueComment[] =
    "Returns the future value of an investment of <present-value-numeric-expression> and "
    "<payment-numeric-expression> per period over <num-periods-integer-expression> at "
    "<rate-numeric-expression> percent per period";
inline constexpr char FutureValueSyntax[] =
    " <rate-numeric-expression> <num-periods-integer-expression> <payment-numeric-expression> "
    "<present-value-numeric-expression> ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char InterestPaymentFunctionName[] = "interest-payment";
inline constexpr char InterestPaymentComment[] =
    "Returns the interest part of the payment for <period-integer-expression> of borrowing "
    "<present-value-numeric-expression> at <rate-numeric-expression> percent per period over "
    "<num-periods-integer-expression>";
inline constexpr char InterestPaymentSyntax[] =
    " <rate-numeric-expression> <period-integer-expression> <num-periods-integer-expression> "
    "<present-value-numeric-expression> <future-value-numeric-expression> "
    "ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char InterestRateFunctionName[] = "interest-rate";
inline constexpr char InterestRateComment[] =
    "Returns the rate per period at which <num-periods-integer-expression> payments of "
    "<payment-numeric-expression> pay off <present-value-numeric-expression>, leaving "
    "<future-value-numeric-expression>";
inline constexpr char InterestRateSyntax[] =
    " <num-periods-integer-expression> <payment-numeric-expression> "
    "<present-value-numeric-expression> <future-value-numeric-expression> "
    "ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char InternalRateOfReturnFunctionName[] = "internal-rate-of-return";
inline constexpr char InternalRateOfReturnComment[] =
    "Returns the internal rate of return of <cash-flows-multifield-expression>, searched from "
    "<guess-numeric-expression>";
inline constexpr char InternalRateOfReturnSyntax[] =
    " <guess-numeric-expression> <cash-flows-multifield-expression>";
inline constexpr char NetPresentValueFunctionName[] = "net-present-value";
inline constexpr char NetPresentValueComment[] =
    "Returns the present value of <cash-flows-multifield-expression> discounted at "
    "<rate-numeric-expression> percent per period";
inline constexpr char NetPresentValueSyntax[] =
    " <rate-numeric-expression> <cash-flows-multifield-expression> ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char NumberOfPeriodsFunctionName[] = "number-of-periods";
inline constexpr char NumberOfPeriodsComment[] =
    "Returns the number of periods over which payments of <payment-numeric-expression> pay off "
    "<present-value-numeric-expression> at <rate-numeric-expression> percent per period";
inline constexpr char NumberOfPeriodsSyntax[] =
    " <rate-numeric-expression> <payment-numeric-expression> <present-value-numeric-expression> "
    "<future-value-numeric-expression> ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char PaymentFunctionName[] = "payment";
inline constexpr char PaymentComment[] =
    "Returns the fully amortized payment of borrowing <present-value-numeric-expression> at "
    "<rate-numeric-expression> percent per period over <num-periods-integer-expression>.";
inline constexpr char PaymentSyntax[] =
    " <rate-numeric-expression> <num-periods-integer-expression> "
    "<present-value-numeric-expression> <future-value-numeric-expression> "
    "ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char PeriodPaymentFunctionName[] = "period-payment";
inline constexpr char PeriodPaymentComment[] =
    "Returns the principal part of the payment for <period-integer-expression> of borrowing "
    "<present-value-numeric-expression> at <rate-numeric-expression> percent per period over "
    "<num-periods-integer-expression>";
inline constexpr char PeriodPaymentSyntax[] =
    " <rate-numeric-expression> <period-integer-expression> <num-periods-integer-expression> "
    "<present-value-numeric-expression> <future-value-numeric-expression> "
    "ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char PresentValueFunctionName[] = "present-value";
inline constexpr char PresentValueComment[] =
    "Returns the present value of <num-periods-integer-expression> payments of "
    "<payment-numeric-expression> and a final <future-value-numeric-expression> at "
    "<rate-numeric-expression> percent per period";
inline constexpr char PresentValueSyntax[] =
    " <rate-numeric-expression> <num-periods-integer-expression> <payment-numeric-expression> "
    "<future-value-numeric-expression> ptEndOfPeriod|ptStartOfPeriod";
inline constexpr char SLNDepreciationFunctionName[] = "sln-depreciation";
inline constexpr char SLNDepreciationComment[] =
    "Returns the straight-line depreciation per period of an asset costing "
    "<cost-numeric-expression>, worth <salvage-numeric-expression> after "
    "<life-integer-expression> periods";
inline constexpr char SLNDepreciationSyntax[] =
    " <cost-numeric-expression> <salvage-numeric-expression> <life-integer-expression>";
inline constexpr char SYDDepreciationFunctionName[] = "syd-depreciation";
inline constexpr char SYDDepreciationComment[] =
    "Returns the sum-of-years'-digits depreciation for <period-integer-expression> of an asset "
    "costing <cost-numeric-expression>, worth <salvage-numeric-expression> after "
    "<life-integer-expression> periods";
inline constexpr char SYDDepreciationSyntax[] =
    " <cost-numeric-expression> <salvage-numeric-expression> <life-integer-expression> "
    "<period-integer-expression>";

class TBusinessPackage final : public TUserPackage {
  ZEPHRO_DECLARE_CLASS(TBusinessPackage, TUserPackage)

 public:
  explicit TBusinessPackage(TComponent* owner);

 protected:
  // The functions in the order of the constants above.
  void CreateFunctions() override;
};

}  // namespace zephro

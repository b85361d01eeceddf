#pragma once

// Financial routines of the business package: annuities, the valuation of
// cash flows and depreciation, as free functions of plain numbers.
//
// Annuities. An annuity is a present value pv, a payment made every period for
// num_periods periods, and a future value fv left at the end, all under one
// periodic rate (0.05 is 5% a period). Money received is positive, money paid
// out negative, so a balanced annuity satisfies
//
//   pv (1 + r)^n + payment (1 + r w) ((1 + r)^n - 1) / r + fv = 0
//
// where w is 1 for payments at the start of each period and 0 for payments at
// the end. At a rate of 0 the middle term is payment n (its limit), so every
// routine works at rate 0. A loan of 100000 at 0.5% a month over 360 months has
// the payment -599.55: the borrower receives 100000 and pays 599.55 a month.
//
// Periods are counted from 1. The routines take the period and the number of
// periods as doubles and apply their formulas whatever the values; a period
// outside 1 .. num_periods gives what the formulas give.
//
// Rate searches. InterestRate and InternalRateOfReturn solve for the rate with
// Newton's method from a starting rate, at most kRateSearchSteps steps, until a
// step changes the rate by less than kRateTolerance. When Newton's method fails
// (it leaves the rates above -1, meets a flat spot or does not settle), the
// search looks for a change of sign among kRateGrid and bisects the interval
// nearest the starting rate down to kRateTolerance. When there is no change of
// sign either, the routine raises the platform error
// "the rate search did not converge" (SRateSearchFailed), which the calling
// function reports as "<function> error: the rate search did not converge".
//
// Arithmetic is not checked: a division by zero or an argument outside a
// formula's domain gives an infinity or a NaN.
//
// Thread safety: the routines keep no state.

#include <array>
#include <span>
#include <string_view>

namespace zephro {

// When the payments fall in each period.
enum class TPaymentTime { ptEndOfPeriod, ptStartOfPeriod };

// The payment time named by `text`: ptStartOfPeriod for "ptStartOfPeriod",
// ptEndOfPeriod for any other text.
TPaymentTime PaymentTimeOf(std::string_view text);

inline constexpr int kRateSearchSteps = 100;
inline constexpr double kRateTolerance = 1e-10;
// Where the fallback of the rate searches looks for a change of sign.
inline constexpr std::array<double, 17> kRateGrid = {
    -0.999, -0.99, -0.9, -0.5, -0.2, -0.1, -0.05, 0, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 100};
// Where InterestRate starts.
inline constexpr double kInterestRateGuess = 0.1;

// The value left after num_periods periods.
double FutureValue(double rate, double num_periods, double payment, double present_value,
                   TPaymentTime when);
// The value at the start that the payments and the future value balance.
double PresentValue(double rate, double num_periods, double payment, double future_value,
                    TPaymentTime when);
// The payment per period that pays off present_value, leaving future_value.
double Payment(double rate, double num_periods, double present_value, double future_value,
               TPaymentTime when);
// The part of the payment of `period` that is interest. With payments at the
// start of each period the first payment holds no interest.
double InterestPayment(double rate, double period, double num_periods, double present_value,
                       double future_value, TPaymentTime when);
// The part of the payment of `period` that repays principal: Payment minus
// InterestPayment.
double PeriodPayment(double rate, double period, double num_periods, double present_value,
                     double future_value, TPaymentTime when);
// The number of periods (not rounded) after which the payments balance
// present_value and future_value.
double NumberOfPeriods(double rate, double payment, double present_value, double future_value,
                       TPaymentTime when);
// The rate that balances the annuity, searched from kInterestRateGuess.
double InterestRate(double num_periods, double payment, double present_value, double future_value,
                    TPaymentTime when);

// The present value of cash_flows, one a period. At the end of each period the
// first flow is discounted by one period; at the start of each period the
// first flow is taken as it is.
double NetPresentValue(double rate, std::span<const double> cash_flows, TPaymentTime when);
// The rate at which the net present value of cash_flows is zero, the first flow
// falling at once, searched from `guess`.
double InternalRateOfReturn(double guess, std::span<const double> cash_flows);

// Depreciation of an asset bought for `cost`, worth `salvage` after `life`
// periods. Straight line: the same amount every period. Sum of the years'
// digits: (cost - salvage) (life - period + 1) / (life (life + 1) / 2). Double
// declining balance: twice the straight-line rate applied to the book value
// still left, never taking the book value below salvage.
double SLNDepreciation(double cost, double salvage, double life);
double SYDDepreciation(double cost, double salvage, double life, double period);
double DoubleDecliningBalance(double cost, double salvage, double life, double period);

}  // namespace zephro

// The business package: its registration, the annuity, cash-flow and
// depreciation functions against textbook examples (a loan's payment and
// amortisation schedule worked out period by period, savings plans, the
// discounted values of small projects) and identities between the functions,
// and the errors of the arguments and of the rate searches.

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/packages/business_package.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"
#include "testing/function_calls.h"
#include "testing/package_checks.h"

namespace zephro {
namespace {

using testing::CallFloat;
using testing::EngineFixture;
using testing::ExpectOutcomes;

// `number` with all the digits of its double, as an argument.
std::string Digits(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", number);
  return text;
}

TEST(BusinessPackageTest, EveryFunctionIsRegisteredInOrderAndKeepsItsLimits) {
  EngineFixture fixture;
  TBusinessPackage package(nullptr);
  EXPECT_THAT(testing::FunctionNames(package),
              ::testing::ElementsAre(
                  "double-declining-balance", "future-value", "interest-payment", "interest-rate",
                  "internal-rate-of-return", "net-present-value", "number-of-periods", "payment",
                  "period-payment", "present-value", "sln-depreciation", "syd-depreciation"));
  const IUserFunction& payment = package.Functions().Get(package.IndexOf("payment"));
  EXPECT_EQ(payment.ArgumentString(),
            " <rate-numeric-expression> <num-periods-integer-expression> "
            "<present-value-numeric-expression> <future-value-numeric-expression> "
            "ptEndOfPeriod|ptStartOfPeriod");
  EXPECT_EQ(payment.Comment(),
            "Returns the fully amortized payment of borrowing <present-value-numeric-expression> "
            "at <rate-numeric-expression> percent per period over "
            "<num-periods-integer-expression>.");
  testing::ExpectEveryFunctionKeepsItsLimits(package, fixture.Engine());
}

// Money received is positive, money paid out negative.
TEST(BusinessPackageTest, Annuities) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          // A 30-year mortgage of 100000 at 0.5% a month.
          {"payment", {"0.005", "360", "100000", "0", "ptEndOfPeriod"}, "-599.5505"},
          {"payment", {"0.005", "360", "100000", "0", "ptStartOfPeriod"}, "-596.5677"},
          // 10000 borrowed at 8% a year over 10 months.
          {"payment", {"0.006666666666666667", "10", "10000", "0", "ptEndOfPeriod"}, "-1037.0321"},
          // Saving up 10000 from nothing in 10 periods at 0%: 1000 a period.
          {"payment", {"0", "10", "0", "10000", "ptEndOfPeriod"}, "-1000.0000"},
          {"payment", {"0", "4", "1000", "0", "ptStartOfPeriod"}, "-250.0000"},
          // 100 a period for 10 periods at 5%: 100 ((1.05^10 - 1) / 0.05),
          // and one period's more interest on each payment made at the start.
          {"future-value", {"0.05", "10", "100", "0", "ptEndOfPeriod"}, "-1257.7893"},
          {"future-value", {"0.05", "10", "100", "0", "ptStartOfPeriod"}, "-1320.6787"},
          // 500 deposited and 200 a month at 0.5% for 10 months, paid at the start.
          {"future-value", {"0.005", "10", "-200", "-500", "ptStartOfPeriod"}, "2581.4034"},
          {"future-value", {"0", "10", "100", "50", "ptEndOfPeriod"}, "-1050.0000"},
          {"future-value", {"0.1", "2", "0", "-100", "ptEndOfPeriod"}, "121.0000"},
          // What pays 500 a month for 20 years at 8% a year.
          {"present-value",
           {"0.006666666666666667", "240", "500", "0", "ptEndOfPeriod"},
           "-59777.1459"},
          {"present-value", {"0.1", "2", "0", "121", "ptEndOfPeriod"}, "-100.0000"},
          {"present-value", {"0.1", "1", "110", "0", "ptStartOfPeriod"}, "-110.0000"},
          {"present-value", {"0", "10", "100", "0", "ptEndOfPeriod"}, "-1000.0000"},
          // Saving from 1000 up to 10000 with 100 a month at 1%.
          {"number-of-periods", {"0.01", "-100", "-1000", "10000", "ptStartOfPeriod"}, "59.6739"},
          {"number-of-periods", {"0.01", "-100", "-1000", "10000", "ptEndOfPeriod"}, "60.0821"},
          {"number-of-periods", {"0.01", "-100", "-1000", "0", "ptEndOfPeriod"}, "-9.5786"},
          {"number-of-periods", {"0", "-100", "1000", "0", "ptEndOfPeriod"}, "10.0000"},
          {"number-of-periods", {"0.1", "0", "-100", "121", "ptEndOfPeriod"}, "2.0000"},
          // Any other text than ptStartOfPeriod counts as the end of the period.
          {"future-value", {"0.05", "10", "100", "0", "atTheEnd"}, "-1257.7893"},
          {"future-value", {"0.05", "10", "100", "0", "\"ptStartOfPeriod\""}, "-1320.6787"},
      });
}

// The loan's schedule worked out period by period: the interest of a period is
// the rate on the balance owed during it.
TEST(BusinessPackageTest, InterestAndPrincipalParts) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"interest-payment", {"0.005", "1", "360", "100000", "0", "ptEndOfPeriod"}, "-500.0000"},
          {"interest-payment", {"0.005", "2", "360", "100000", "0", "ptEndOfPeriod"}, "-499.5022"},
          {"period-payment", {"0.005", "1", "360", "100000", "0", "ptEndOfPeriod"}, "-99.5505"},
          // Paid at the start, the first payment is all principal and the second
          // pays the interest on what was left after it.
          {"interest-payment", {"0.005", "1", "360", "100000", "0", "ptStartOfPeriod"}, "0.0000"},
          {"interest-payment",
           {"0.005", "2", "360", "100000", "0", "ptStartOfPeriod"},
           "-497.0172"},
          {"interest-payment",
           {"0.005", "3", "360", "100000", "0", "ptStartOfPeriod"},
           "-496.5194"},
          {"period-payment", {"0.005", "2", "360", "100000", "0", "ptStartOfPeriod"}, "-99.5505"},
          {"interest-payment",
           {"0.008333333333333333", "1", "36", "8000", "0", "ptEndOfPeriod"},
           "-66.6667"},
          {"interest-payment", {"0.1", "3", "3", "8000", "0", "ptEndOfPeriod"}, "-292.4471"},
          {"period-payment",
           {"0.008333333333333333", "1", "24", "2000", "0", "ptEndOfPeriod"},
           "-75.6232"},
          {"period-payment", {"0.08", "10", "10", "200000", "0", "ptEndOfPeriod"}, "-27598.0535"},
          {"interest-payment", {"0", "3", "10", "1000", "0", "ptEndOfPeriod"}, "0.0000"},
          {"period-payment", {"0", "3", "10", "1000", "0", "ptEndOfPeriod"}, "-100.0000"},
      });
}

// Over a whole loan the principal parts repay what was borrowed, and each
// period's parts add up to the payment.
TEST(BusinessPackageTest, TheScheduleRepaysTheLoan) {
  EngineFixture fixture;
  TInferenceEngine& engine = fixture.Engine();
  for (std::string_view when : {"ptEndOfPeriod", "ptStartOfPeriod"}) {
    SCOPED_TRACE(when);
    const double payment = CallFloat(engine, "payment", {"0.01", "24", "5000", "0", when});
    double principal = 0;
    for (int period = 1; period <= 24; ++period) {
      const std::string p = std::to_string(period);
      const double interest =
          CallFloat(engine, "interest-payment", {"0.01", p, "24", "5000", "0", when});
      const double part = CallFloat(engine, "period-payment", {"0.01", p, "24", "5000", "0", when});
      EXPECT_NEAR(interest + part, payment, 1e-9);
      principal += part;
    }
    EXPECT_NEAR(principal, -5000, 1e-7);
  }
}

TEST(BusinessPackageTest, RateSearches) {
  EngineFixture fixture;
  TInferenceEngine& engine = fixture.Engine();
  // 8000 repaid with 48 payments of 200: 0.77% a month.
  EXPECT_NEAR(CallFloat(engine, "interest-rate", {"48", "-200", "8000", "0", "ptEndOfPeriod"}),
              0.0077014725, 1e-9);
  EXPECT_NEAR(CallFloat(engine, "interest-rate", {"2", "0", "-100", "121", "ptEndOfPeriod"}), 0.1,
              1e-10);
  EXPECT_NEAR(CallFloat(engine, "interest-rate", {"10", "-100", "1000", "0", "ptEndOfPeriod"}), 0,
              1e-10);
  // The rate that gives a payment is the rate the payment was computed at.
  for (std::string_view rate : {"0.001", "0.02", "0.3", "-0.05"}) {
    for (std::string_view when : {"ptEndOfPeriod", "ptStartOfPeriod"}) {
      SCOPED_TRACE(std::string(rate) + " " + std::string(when));
      const std::string payment =
          Digits(CallFloat(engine, "payment", {rate, "36", "10000", "-500", when}));
      EXPECT_NEAR(CallFloat(engine, "interest-rate", {"36", payment, "10000", "-500", when}),
                  std::stod(std::string(rate)), 1e-9);
    }
  }
  // Projects whose rates of return are known: 123400 invested for 36200,
  // 54800 and 48100 over three years returns 5.96%.
  EXPECT_NEAR(CallFloat(engine, "internal-rate-of-return", {"0.1", "(-123400 36200 54800 48100)"}),
              0.0596164, 1e-6);
  EXPECT_NEAR(CallFloat(engine, "internal-rate-of-return", {"0.1", "(-100 39 59 55 20)"}),
              0.2809484, 1e-6);
  EXPECT_NEAR(CallFloat(engine, "internal-rate-of-return", {"0", "(-100 121)"}), 0.21, 1e-10);
  // From a poor guess the search still finds the rate.
  EXPECT_NEAR(CallFloat(engine, "internal-rate-of-return", {"50", "(-100 39 59 55 20)"}), 0.2809484,
              1e-6);
  EXPECT_NEAR(CallFloat(engine, "internal-rate-of-return", {"-3", "(-100 110)"}), 0.1, 1e-9);
  // Flows that never change sign have no rate of return.
  ExpectOutcomes(engine,
                 {
                     {"internal-rate-of-return",
                      {"0.1", "(100 200 300)"},
                      "raises: internal-rate-of-return error: the rate search did not converge"},
                     {"internal-rate-of-return",
                      {"0.1", "()"},
                      "raises: internal-rate-of-return error: the rate search did not converge"},
                     {"internal-rate-of-return",
                      {"0.1", "(0 0)"},
                      "raises: internal-rate-of-return error: the rate search did not converge"},
                     {"interest-rate",
                      {"10", "100", "100", "100", "ptEndOfPeriod"},
                      "raises: interest-rate error: the rate search did not converge"},
                 });
}

TEST(BusinessPackageTest, NetPresentValue) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          // 10000 paid a year from now for 3000, 4200 and 6800 in the years after,
          // at 10%.
          {"net-present-value", {"0.1", "(-10000 3000 4200 6800)", "ptEndOfPeriod"}, "1188.4434"},
          {"net-present-value", {"0.1", "(-10000 3000 4200 6800)", "ptStartOfPeriod"}, "1307.2878"},
          {"net-present-value", {"0.1", "(110 121)", "ptEndOfPeriod"}, "200.0000"},
          {"net-present-value", {"0", "(-10000 3000 4200 6800)", "ptEndOfPeriod"}, "4000.0000"},
          {"net-present-value", {"0.1", "()", "ptEndOfPeriod"}, "0.0000"},
          // Flows are read as numbers as they stand: numeric texts count.
          {"net-present-value", {"0", "('5 \"2.5\" 1)", "ptEndOfPeriod"}, "8.5000"},
          {"net-present-value",
           {"0", "(5 a)", "ptEndOfPeriod"},
           "raises: Not a numeric type.  Value (a) is a dtAtom type"},
          {"net-present-value",
           {"0.1", "5", "ptEndOfPeriod"},
           "raises: Not a list type.  Value (5) is a dtInteger type"},
          {"internal-rate-of-return",
           {"0.1", "7"},
           "raises: Not a list type.  Value (7) is a dtInteger type"},
      });
}

// Cash flows are not resolved: a variable among them is not its value.
TEST(BusinessPackageTest, CashFlowsAreTakenAsTheyStand) {
  EngineFixture fixture;
  fixture.Engine().RootContext().SetVariable("x", TIEValue::Integer(5));
  fixture.Engine().RootContext().SetVariable("flows", testing::ArgumentValue("(1 2)"));
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"net-present-value", {"0", "?flows", "ptEndOfPeriod"}, "3.0000"},
                     {"net-present-value",
                      {"0", "(1 ?x)", "ptEndOfPeriod"},
                      "raises: Not a numeric type.  Value (?x) is a dtVariable type"},
                 });
}

TEST(BusinessPackageTest, Depreciation) {
  EngineFixture fixture;
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"sln-depreciation", {"1000", "100", "9"}, "100.0000"},
                     {"sln-depreciation", {"30000", "7500", "10"}, "2250.0000"},
                     // 22500 spread by the digits 10, 9, ... 1 over their sum 55.
                     {"syd-depreciation", {"30000", "7500", "10", "1"}, "4090.9091"},
                     {"syd-depreciation", {"30000", "7500", "10", "10"}, "409.0909"},
                     {"syd-depreciation", {"1500", "0", "5", "2"}, "400.0000"},
                     // 20% of the book value a year, 2400 after 0, 480, 384 ... taken
                     // off, until the book value would fall below salvage.
                     {"double-declining-balance", {"2400", "300", "10", "1"}, "480.0000"},
                     {"double-declining-balance", {"2400", "300", "10", "2"}, "384.0000"},
                     {"double-declining-balance", {"2400", "300", "10", "3"}, "307.2000"},
                     {"double-declining-balance", {"2400", "300", "10", "10"}, "22.1225"},
                     {"double-declining-balance", {"2400", "300", "10", "11"}, "0.0000"},
                     {"double-declining-balance", {"1000", "500", "5", "1"}, "400.0000"},
                     {"double-declining-balance", {"1000", "500", "5", "2"}, "100.0000"},
                     {"double-declining-balance", {"1000", "500", "5", "3"}, "0.0000"},
                     {"double-declining-balance", {"1000", "0", "1", "1"}, "1000.0000"},
                     {"double-declining-balance", {"1000", "0", "1", "3"}, "0.0000"},
                     {"double-declining-balance", {"100", "200", "5", "1"}, "0.0000"},
                 });
  // Over its life an asset loses cost - salvage, by either method.
  double syd = 0;
  double ddb = 0;
  for (int period = 1; period <= 10; ++period) {
    const std::string p = std::to_string(period);
    syd += CallFloat(fixture.Engine(), "syd-depreciation", {"30000", "7500", "10", p});
    ddb += CallFloat(fixture.Engine(), "double-declining-balance", {"2400", "300", "10", p});
  }
  EXPECT_NEAR(syd, 22500, 1e-9);
  EXPECT_NEAR(ddb, 2100, 1e-9);
}

TEST(BusinessPackageTest, ArgumentCountsAndKinds) {
  EngineFixture fixture;
  fixture.Engine().RootContext().SetVariable("n", TIEValue::Integer(360));
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"payment", {"0.005", "?n", "100000", "0", "ptEndOfPeriod"}, "-599.5505"},
          {"payment", {"'0.005", "\"360\"", "100000", "0", "ptEndOfPeriod"}, "-599.5505"},
          // An integer argument takes a float truncated.
          {"sln-depreciation", {"1000", "100", "9.7"}, "100.0000"},
          {"payment",
           {"rate", "360", "100000", "0", "ptEndOfPeriod"},
           "raises: Not a numeric type.  Value (rate) is a dtAtom type"},
          {"payment",
           {"0.005", "n", "100000", "0", "ptEndOfPeriod"},
           "raises: Not a integer type.  Value (n) is a dtAtom type"},
          {"syd-depreciation",
           {"1000", "0", "5", "\"one\""},
           "raises: Not a integer type.  Value (\"one\") is a dtString type"},
          {"payment", {"0.005", "360", "100000", "0"}, "raises: Too few arguments for payment"},
          {"payment",
           {"0.005", "360", "100000", "0", "ptEndOfPeriod", "1"},
           "raises: Too many arguments for payment"},
          {"internal-rate-of-return",
           {"(1 2)"},
           "raises: Too few arguments for internal-rate-of-return"},
          {"sln-depreciation",
           {"1", "2", "3", "4"},
           "raises: Too many arguments for sln-depreciation"},
      });
}

}  // namespace
}  // namespace zephro

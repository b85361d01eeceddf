// The trigonometry package: its registration, each function against values
// known from identities (sin 0 = 0, tan pi/4 = 1, acsc 2 = pi/6, ...) and
// hand computation, the distances and the errors of its arguments.

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/packages/trigonometry_package.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"
#include "testing/function_calls.h"
#include "testing/package_checks.h"

namespace zephro {
namespace {

using testing::CallFloat;
using testing::EngineFixture;
using testing::ExpectOutcomes;

// Angles written with all the digits of their doubles.
constexpr std::string_view kPi = "3.141592653589793";
constexpr std::string_view kHalfPi = "1.5707963267948966";
constexpr std::string_view kThirdPi = "1.0471975511965976";
constexpr std::string_view kQuarterPi = "0.7853981633974483";
constexpr std::string_view kSixthPi = "0.5235987755982988";
constexpr std::string_view kTwoPi = "6.283185307179586";

TEST(TrigonometryPackageTest, EveryFunctionIsRegisteredInOrderAndKeepsItsLimits) {
  EngineFixture fixture;
  TTrigonometryPackage package(nullptr);
  EXPECT_THAT(testing::FunctionNames(package),
              ::testing::ElementsAre("acos", "acosh", "acot", "acoth", "acsc", "acsch", "asec",
                                     "asech", "asin", "asinh", "atan", "atan2", "atanh", "cos",
                                     "cosh", "cot", "coth", "csc", "csch", "cycle-rad", "deg-grad",
                                     "deg-rad", "distance", "distance-sqr", "distance-manhattan",
                                     "grad-deg", "grad-rad", "hypotenuse", "rad-cycle", "rad-deg",
                                     "rad-grad", "sec", "sech", "sin", "sinh", "tan", "tanh"));
  const IUserFunction& atan2 = package.Functions().Get(package.IndexOf("atan2"));
  EXPECT_EQ(atan2.ArgumentString(), " <numeric-expression-X> <numeric-expression-Y>");
  EXPECT_EQ(atan2.Comment(), ATan2Comment);
  // The placeholders naming X and Y are not all lowercase, as the check wants.
  testing::ExpectEveryFunctionKeepsItsLimits(package, fixture.Engine(), {"atan2", "hypotenuse"});
}

TEST(TrigonometryPackageTest, CircularFunctionsAndTheirInverses) {
  EngineFixture fixture;
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"sin", {"0"}, "0.0000"},
                     {"sin", {kHalfPi}, "1.0000"},
                     {"sin", {kSixthPi}, "0.5000"},
                     {"sin", {"\"0\""}, "0.0000"},  // a numeric text is its number
                     {"cos", {"0"}, "1.0000"},
                     {"cos", {kPi}, "-1.0000"},
                     {"cos", {kThirdPi}, "0.5000"},
                     {"tan", {kQuarterPi}, "1.0000"},
                     {"tan", {"0"}, "0.0000"},
                     {"cot", {kQuarterPi}, "1.0000"},
                     {"sec", {"0"}, "1.0000"},
                     {"sec", {kThirdPi}, "2.0000"},
                     {"csc", {kSixthPi}, "2.0000"},
                     {"csc", {kHalfPi}, "1.0000"},
                     {"asin", {"1"}, "1.5708"},
                     {"asin", {"0.5"}, "0.5236"},
                     {"acos", {"1"}, "0.0000"},
                     {"acos", {"-1"}, "3.1416"},
                     {"acos", {"0.5"}, "1.0472"},
                     {"atan", {"1"}, "0.7854"},
                     {"atan", {"-1"}, "-0.7854"},
                     {"acot", {"1"}, "0.7854"},
                     {"acot", {"0"}, "1.5708"},
                     {"acot", {"-1"}, "2.3562"},  // pi/2 + pi/4: acot runs over (0, pi)
                     {"acsc", {"2"}, "0.5236"},
                     {"acsc", {"-2"}, "3.6652"},  // pi/6 + pi
                     {"acsc", {"1"}, "1.5708"},
                     {"asec", {"2"}, "1.0472"},
                     {"asec", {"-2"}, "4.1888"},  // pi/3 + pi
                     {"asec", {"1"}, "0.0000"},
                     // The second argument is the ordinate.
                     {"atan2", {"1", "0"}, "0.0000"},
                     {"atan2", {"0", "1"}, "1.5708"},
                     {"atan2", {"-1", "0"}, "3.1416"},
                     {"atan2", {"0", "-1"}, "-1.5708"},
                     {"atan2", {"1", "1"}, "0.7854"},
                     {"atan2", {"-1", "-1"}, "-2.3562"},
                     {"hypotenuse", {"3", "4"}, "5.0000"},
                     {"hypotenuse", {"-5", "12"}, "13.0000"},
                     {"hypotenuse", {"0", "0"}, "0.0000"},
                 });
}

TEST(TrigonometryPackageTest, HyperbolicFunctionsAndTheirInverses) {
  // sinh 1 = (e - 1/e) / 2, cosh 1 = (e + 1/e) / 2; acosh 2 = ln (2 + sqrt 3),
  // asinh 1 = ln (1 + sqrt 2), atanh 1/2 = ln 3 / 2.
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"sinh", {"0"}, "0.0000"},    {"sinh", {"1"}, "1.1752"},    {"cosh", {"0"}, "1.0000"},
          {"cosh", {"1"}, "1.5431"},    {"tanh", {"1"}, "0.7616"},    {"tanh", {"-1"}, "-0.7616"},
          {"coth", {"1"}, "1.3130"},    {"sech", {"0"}, "1.0000"},    {"sech", {"1"}, "0.6481"},
          {"csch", {"1"}, "0.8509"},    {"asinh", {"1"}, "0.8814"},   {"asinh", {"0"}, "0.0000"},
          {"acosh", {"1"}, "0.0000"},   {"acosh", {"2"}, "1.3170"},   {"atanh", {"0.5"}, "0.5493"},
          {"acoth", {"2"}, "0.5493"},   {"acoth", {"-2"}, "-0.5493"}, {"acsch", {"1"}, "0.8814"},
          {"acsch", {"0.5"}, "1.4436"},                                // asinh 2
          {"asech", {"1"}, "0.0000"},   {"asech", {"0.5"}, "1.3170"},  // acosh 2
      });
}

TEST(TrigonometryPackageTest, AngleConversions) {
  EngineFixture fixture;
  ExpectOutcomes(fixture.Engine(), {
                                       {"deg-rad", {"180"}, "3.1416"},
                                       {"deg-rad", {"-90"}, "-1.5708"},
                                       {"rad-deg", {kPi}, "180.0000"},
                                       {"rad-deg", {"1"}, "57.2958"},
                                       {"grad-rad", {"200"}, "3.1416"},
                                       {"rad-grad", {kPi}, "200.0000"},
                                       {"cycle-rad", {"1"}, "6.2832"},
                                       {"cycle-rad", {"0.5"}, "3.1416"},
                                       {"rad-cycle", {kTwoPi}, "1.0000"},
                                       {"rad-cycle", {kPi}, "0.5000"},
                                       {"deg-grad", {"90"}, "100.0000"},
                                       {"deg-grad", {"360"}, "400.0000"},
                                       {"grad-deg", {"100"}, "90.0000"},
                                       {"grad-deg", {"-400"}, "-360.0000"},
                                   });
  // A right angle is 100 grads and 90 degrees exactly, not merely to four
  // decimals.
  EXPECT_EQ(CallFloat(fixture.Engine(), "deg-grad", {"90"}), 100.0);
  EXPECT_EQ(CallFloat(fixture.Engine(), "grad-deg", {"100"}), 90.0);
}

TEST(TrigonometryPackageTest, Distances) {
  EngineFixture fixture;
  fixture.Engine().RootContext().SetVariable("x", TIEValue::Integer(3));
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"distance", {"(0 0)", "(3 4)"}, "5.0000"},
          {"distance-sqr", {"(0 0)", "(3 4)"}, "25.0000"},
          {"distance-manhattan", {"(0 0)", "(3 4)"}, "7.0000"},
          {"distance", {"(1 2 3)", "(4 6 3)"}, "5.0000"},
          {"distance-manhattan", {"(1 -2)", "(-1 2)"}, "6.0000"},
          {"distance-sqr", {"(1.5)", "(-0.5)"}, "4.0000"},
          {"distance", {"()", "()"}, "0.0000"},
          {"distance-manhattan", {"()", "()"}, "0.0000"},
          // Coordinates are resolved: a variable stands for its value.
          {"distance", {"(?x 4)", "(0 0)"}, "5.0000"},
          {"distance",
           {"(1)", "(1 2)"},
           "raises: Invalid multifield arguments, the two multifields must be of the same length"},
          {"distance-sqr",
           {"()", "(1)"},
           "raises: Invalid multifield arguments, the two multifields must be of the same length"},
          {"distance-manhattan",
           {"(1 2)", "(1)"},
           "raises: Invalid multifield arguments, the two multifields must be of the same length"},
          {"distance",
           {"(0 a)", "(3 4)"},
           "raises: Not a numeric type.  Value (a) is a dtAtom type"},
          {"distance", {"5", "(3 4)"}, "raises: Not a list type.  Value (5) is a dtInteger type"},
          {"distance-sqr", {"(1)", "b"}, "raises: Not a list type.  Value (b) is a dtAtom type"},
          {"distance", {"(0 0)"}, "raises: Too few arguments for distance"},
      });
}

TEST(TrigonometryPackageTest, ArgumentCountsAndKinds) {
  EngineFixture fixture;
  fixture.Engine().RootContext().SetVariable("x", TIEValue::Float(0.5));
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"asin", {"?x"}, "0.5236"},
          {"sin", {"'0"}, "0.0000"},
          {"sin", {"abc"}, "raises: Not a numeric type.  Value (abc) is a dtAtom type"},
          {"tanh", {"\"x\""}, "raises: Not a numeric type.  Value (\"x\") is a dtString type"},
          {"atan2", {"1", "y"}, "raises: Not a numeric type.  Value (y) is a dtAtom type"},
          {"sin", {}, "raises: Too few arguments for sin"},
          {"sin", {"1", "2"}, "raises: Too many arguments for sin"},
          {"atan2", {"1"}, "raises: Too few arguments for atan2"},
          {"hypotenuse", {"1", "2", "3"}, "raises: Too many arguments for hypotenuse"},
      });
}

// No function checks its domain: what the arithmetic gives comes back as a
// float.
TEST(TrigonometryPackageTest, ArgumentsOutsideTheDomainGiveNaNOrInfinity) {
  EngineFixture fixture;
  TInferenceEngine& engine = fixture.Engine();
  struct Case {
    std::string_view function;
    std::string_view argument;
  };
  for (const Case& c : {Case{"acos", "2"}, Case{"asin", "-2"}, Case{"acosh", "0.5"},
                        Case{"atanh", "2"}, Case{"asec", "0.5"}, Case{"acsc", "0.5"}}) {
    SCOPED_TRACE(c.function);
    EXPECT_TRUE(std::isnan(CallFloat(engine, c.function, {c.argument})));
  }
  EXPECT_TRUE(std::isinf(CallFloat(engine, "atanh", {"1"})));
  EXPECT_TRUE(std::isinf(CallFloat(engine, "cot", {"0"})));
  EXPECT_TRUE(std::isinf(CallFloat(engine, "coth", {"0"})));
  EXPECT_TRUE(std::isinf(CallFloat(engine, "csch", {"0"})));
  EXPECT_TRUE(std::isinf(CallFloat(engine, "acoth", {"1"})));
  EXPECT_TRUE(std::isinf(CallFloat(engine, "cosh", {"1000"})));
}

}  // namespace
}  // namespace zephro

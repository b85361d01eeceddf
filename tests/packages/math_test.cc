#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/packages/math_package.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"
#include "testing/function_calls.h"

namespace zephro {
namespace {

using testing::CallOutcome;
using testing::EngineFixture;
using testing::ExpectOutcomes;
using testing::MessageOf;

TEST(MathPackageTest, SumsDifferencesAndProductsFollowTheKinds) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"+", {}, "0"},
          {"+", {"1", "2"}, "3"},
          {"+", {"1", "2.0"}, "3.0000"},
          {"+", {"1.5", "2.5"}, "4.0000"},
          {"+", {"'3", "\"4\""}, "7"},  // texts read as numbers stay integers
          {"+", {"'0.5", "0"}, "0"},    // rounded, halves to even
          {"+", {"'1.5", "0"}, "2"},
          {"+", {"1e308", "1e308"}, "raises: + error: Floating point overflow"},
          {"+", {"+inf", "1"}, "inf"},
          {"+", {"+inf", "-inf"}, "raises: + error: Invalid floating point operation"},
          {"+", {"abc", "1"}, "raises: Not a numeric type.  Value (abc) is a dtAtom type"},
          {"-", {"7"}, "7"},
          {"-", {"7.0"}, "7.0000"},
          {"-", {"5.5", "1"}, "4.5000"},
          {"-", {"1", "2.0"}, "-1.0000"},
          {"-", {"10", "1", "2", "3"}, "4"},
          {"-", {}, "raises: Too few arguments for -"},
          {"*", {}, "1"},
          {"*", {"2", "3", "4"}, "24"},
          {"*", {"2", "1.5"}, "3.0000"},
          {"*", {"'inf", "1"}, "raises: * error: Invalid floating point operation"},
          {"*", {"1e200", "1e200"}, "raises: * error: Floating point overflow"},
          // integers folded exactly, then a float or a text taking over
          {"+", {"2", "3", "0.5"}, "5.5000"},
          {"*", {"3", "0.5", "4"}, "6.0000"},
          {"-", {"10", "4.5", "1"}, "4.5000"},
          {"+", {"1", "'3", "2"}, "6"},
          {"*", {"2", "abc"}, "raises: Not a numeric type.  Value (abc) is a dtAtom type"},
          {"-", {"-2147483648"}, "-2147483648"},
          {"*", {"-2147483648", "1"}, "-2147483648"},
          {"+", {"2147483647", "-2147483648", "2147483647"}, "2147483646"},
      });
}

TEST(MathPackageTest, DivisionAndRemainders) {
  EngineFixture fixture;
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"/", {"4", "2"}, "2.0000"},
                     {"/", {"4"}, "4.0000"},
                     {"/", {"1", "3"}, "0.3333"},
                     {"/", {"100", "2", "5"}, "10.0000"},
                     {"/", {"-7.5", "2.5"}, "-3.0000"},
                     {"/", {"1", "0"}, "raises: / error: Floating point division by zero"},
                     {"/", {"-1", "0.0"}, "raises: / error: Floating point division by zero"},
                     {"/", {"0", "0"}, "raises: / error: Invalid floating point operation"},
                     {"/", {"8", "2", "0"}, "raises: / error: Floating point division by zero"},
                     {"/", {"+inf", "0"}, "inf"},
                     {"/", {"1e308", "1e-308"}, "raises: / error: Floating point overflow"},
                     {"/", {}, "raises: Too few arguments for /"},
                     {"div", {"7", "2"}, "3"},
                     {"div", {"-7", "2"}, "-3"},
                     {"div", {"7", "-2"}, "-3"},
                     {"div", {"7"}, "7"},
                     {"div", {"100", "3", "3"}, "11"},
                     {"div", {"7.9", "2"}, "3"},  // 7.9 truncates to 7
                     {"div", {"7", "0"}, "raises: div error: Division by zero"},
                     {"div", {"7", "0.5"}, "raises: div error: Division by zero"},
                     {"div", {"7", "x"}, "raises: Not a integer type.  Value (x) is a dtAtom type"},
                     {"mod", {"7", "2"}, "1"},
                     {"mod", {"-7", "2"}, "-1"},
                     {"mod", {"7", "-2"}, "1"},
                     {"mod", {"-7", "-2"}, "-1"},
                     {"mod", {"7.5", "2"}, "1"},
                     {"mod", {"-2147483648", "-1"}, "0"},
                     {"mod", {"7", "0"}, "raises: mod error: Division by zero"},
                     {"mod", {"7"}, "raises: Too few arguments for mod"},
                     {"mod", {"7", "2", "1"}, "raises: Too many arguments for mod"},
                 });
}

TEST(MathPackageTest, ExtremesAbsAndConversions) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"max", {"1", "2.5", "2"}, "2.5000"},
          {"max", {"3", "2.5"}, "3"},
          {"max", {"2.0", "3"}, "3.0000"},  // the first argument was a float
          {"max", {"1", "2.5", "3"}, "3.0000"},
          {"max", {"1", "1.0"}, "1"},  // 1.0 is not greater, so never the extreme
          {"max", {"5"}, "5"},
          {"max", {"-2147483648", "'7.5"}, "8"},
          {"max", {"1", "x"}, "raises: Not a numeric type.  Value (x) is a dtAtom type"},
          {"max", {}, "raises: Too few arguments for max"},
          {"min", {"3", "1.5", "2"}, "1.5000"},
          {"min", {"1", "2.5"}, "1"},
          {"min", {"2.0", "1"}, "1.0000"},
          {"min", {"2", "2.0"}, "2"},
          {"abs", {"-5"}, "5"},
          {"abs", {"5"}, "5"},
          {"abs", {"-2.5"}, "2.5000"},
          {"abs", {"\"5\""}, "raises: Expected numeric argument to abs function call"},
          {"abs", {"abc"}, "raises: Expected numeric argument to abs function call"},
          {"float", {"3"}, "3.0000"},
          {"float", {"'3"}, "3.0000"},
          {"float", {"abc"}, "raises: Not a numeric type.  Value (abc) is a dtAtom type"},
          {"integer", {"3.9"}, "3"},
          {"integer", {"-3.9"}, "-3"},
          {"integer", {"\"2.9\""}, "2"},
          {"integer", {"abc"}, "raises: Not a integer type.  Value (abc) is a dtAtom type"},
          {"round", {"2.5"}, "2.0000"},
          {"round", {"3.5"}, "4.0000"},
          {"round", {"-2.5"}, "-2.0000"},
          {"round", {"2.4"}, "2.0000"},
          {"round", {"7"}, "7.0000"},
      });
}

// Integers are 32-bit: a result beyond that range raises, naming the function,
// in every function that computes an integer, whichever the step (an early one
// too, when a float comes later) and whichever the source of the number (a
// float or a text taken as an integer).
TEST(MathPackageTest, IntegerResultsBeyond32BitsOverflow) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"+", {"2147483646", "1"}, "2147483647"},
          {"+", {"2147483647", "1"}, "raises: Integer overflow in +"},
          {"+", {"-2147483647", "-1"}, "-2147483648"},
          {"+", {"-2147483648", "-1"}, "raises: Integer overflow in +"},
          {"+", {"2147483647", "1", "-1"}, "raises: Integer overflow in +"},
          {"+", {"2147483647", "1", "0.5"}, "raises: Integer overflow in +"},
          {"+", {"2147483647", "1.0"}, "2147483648.0000"},
          {"+", {"'2147483647.4", "0"}, "2147483647"},
          {"+", {"'2147483647.6", "0"}, "raises: Integer overflow in +"},
          {"-", {"-2147483647", "1"}, "-2147483648"},
          {"-", {"-2147483648", "1"}, "raises: Integer overflow in -"},
          {"-", {"2147483647", "-1"}, "raises: Integer overflow in -"},
          {"-", {"0", "-2147483648"}, "raises: Integer overflow in -"},
          {"-", {"-1", "-2147483648"}, "2147483647"},
          {"*", {"46340", "46340"}, "2147395600"},
          {"*", {"46341", "46341"}, "raises: Integer overflow in *"},
          {"*", {"65536", "65536"}, "raises: Integer overflow in *"},
          {"*", {"65536", "32768"}, "raises: Integer overflow in *"},
          {"*", {"-65536", "32768"}, "-2147483648"},
          {"*", {"-1", "-2147483648"}, "raises: Integer overflow in *"},
          {"*", {"65536", "65536", "0"}, "raises: Integer overflow in *"},
          {"*", {"65536", "65536", "0.5"}, "raises: Integer overflow in *"},
          {"-", {"2147483647", "-1", "0.5"}, "raises: Integer overflow in -"},
          {"*", {"2147483647", "2147483647"}, "raises: Integer overflow in *"},
          {"div", {"-2147483647", "-1"}, "2147483647"},
          {"div", {"-2147483648", "-1"}, "raises: Integer overflow in div"},
          {"div", {"2147483647.9", "1"}, "2147483647"},
          {"div", {"-2147483648.9", "1"}, "-2147483648"},
          {"div", {"3e9", "2"}, "raises: Integer overflow in div"},
          {"div", {"4", "-3e9"}, "raises: Integer overflow in div"},
          {"div", {"\"3e9\"", "2"}, "raises: Integer overflow in div"},
          {"mod", {"-2147483648", "-1"}, "0"},
          {"mod", {"3e9", "2"}, "raises: Integer overflow in mod"},
          {"mod", {"7", "-2147483649.0"}, "raises: Integer overflow in mod"},
          {"abs", {"-2147483647"}, "2147483647"},
          {"abs", {"-2147483648"}, "raises: Integer overflow in abs"},
          {"max", {"2147483647", "-2147483648"}, "2147483647"},
          {"max", {"1", "'3e9"}, "raises: Integer overflow in max"},
          {"min", {"1", "'-3e9"}, "raises: Integer overflow in min"},
          {"integer", {"2147483647.9"}, "2147483647"},
          {"integer", {"-2147483648.9"}, "-2147483648"},
          {"integer", {"2147483648.0"}, "raises: Integer overflow in integer"},
          {"integer", {"-2147483649.0"}, "raises: Integer overflow in integer"},
          {"integer", {"3e9"}, "raises: Integer overflow in integer"},
          {"integer", {"\"3e9\""}, "raises: Integer overflow in integer"},
          {"integer", {"'2147483647"}, "2147483647"},
          {"random", {"2147483647", "1"}, "2147483647"},
          {"random", {"3e9"}, "raises: Integer overflow in random"},
          {"random", {"1", "3e9"}, "raises: Integer overflow in random"},
      });
}

// low + (random high) is an integer sum like any other: drawn near the top of
// the range, it is the largest integer or an overflow, and both happen.
TEST(MathPackageTest, RandomSumsOverflowLikeOtherSums) {
  EngineFixture fixture;
  ASSERT_EQ(CallOutcome(fixture.Engine(), "seed", {"7"}), "TRUE");
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    seen.insert(CallOutcome(fixture.Engine(), "random", {"2147483647", "2"}));
  }
  EXPECT_EQ(seen, (std::set<std::string>{"2147483647", "raises: Integer overflow in random"}));
}

TEST(MathPackageTest, PowersAndLogarithms) {
  EngineFixture fixture;
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"sqrt", {"16"}, "4.0000"},
                     {"sqrt", {"2"}, "1.4142"},
                     {"sqrt", {"0"}, "0.0000"},
                     {"sqrt", {"-1"}, "raises: sqrt error: Invalid floating point operation"},
                     {"exp", {"0"}, "1.0000"},
                     {"exp", {"1"}, "2.7183"},
                     {"exp", {"-1000"}, "0.0000"},
                     {"exp", {"1000"}, "raises: exp error: Floating point overflow"},
                     {"**", {"2", "10"}, "1024.0000"},
                     {"**", {"2", "0.5"}, "1.4142"},
                     {"**", {"2", "-1"}, "0.5000"},
                     {"**", {"-2", "3"}, "-8.0000"},
                     {"**", {"0", "0"}, "1.0000"},
                     {"**", {"0", "-1"}, "raises: ** error: Floating point division by zero"},
                     {"**", {"-8", "0.5"}, "raises: ** error: Invalid floating point operation"},
                     {"**", {"10", "400"}, "raises: ** error: Floating point overflow"},
                     {"**", {"2"}, "raises: Too few arguments for **"},
                     {"log", {"1"}, "0.0000"},
                     {"log", {"2.718281828459045"}, "1.0000"},
                     {"log", {"0"}, "raises: log error: Floating point division by zero"},
                     {"log", {"-1"}, "raises: log error: Invalid floating point operation"},
                     {"log10", {"1000"}, "3.0000"},
                     {"log10", {"0.01"}, "-2.0000"},
                     {"log10", {"0"}, "raises: log10 error: Floating point division by zero"},
                     {"log10", {"-10"}, "raises: log10 error: Invalid floating point operation"},
                     {"PI", {}, "3.1416"},
                     {"PI", {"1"}, "raises: Too many arguments for PI"},
                 });
}

TEST(MathPackageTest, PiIsTheSharedConstant) {
  EngineFixture fixture;
  Ref<IFunCall> call = MakeFunCall(fixture.Engine(), "PI");
  EXPECT_EQ(call->Execute(fixture.Engine().RootContext()).get(), &FCPI());
}

TEST(MathPackageTest, RandomArgumentsAndSeeds) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"random", {"1"}, "0"},
          {"random", {"0"}, "0"},
          {"random", {"-5"}, "0"},
          {"random", {"10", "1"}, "10"},  // low + (random 1)
          {"random", {"2147483647", "1"}, "2147483647"},
          {"random", {"abc"}, "raises: Not a integer type.  Value (abc) is a dtAtom type"},
          {"random", {"1", "2", "3"}, "raises: Too many arguments for random"},
          {"seed", {"1"}, "TRUE"},
          {"seed", {}, "raises: Too few arguments for seed"},
          {"randomize", {}, "TRUE"},
          {"randomize", {"5"}, "TRUE"},
          {"randomize", {"1", "2"}, "raises: Too many arguments for randomize"},
      });
}

// The outcomes of `count` calls of random with `arguments`.
std::vector<std::string> Draws(EngineFixture& fixture, int count,
                               const std::vector<std::string_view>& arguments) {
  std::vector<std::string> draws;
  for (int i = 0; i < count; ++i) {
    draws.push_back(CallOutcome(fixture.Engine(), "random", arguments));
  }
  return draws;
}

TEST(MathPackageTest, SeedingRepeatsTheDraws) {
  EngineFixture fixture;
  CallOutcome(fixture.Engine(), "seed", {"42"});
  const std::vector<std::string> first = Draws(fixture, 8, {"1000"});
  CallOutcome(fixture.Engine(), "seed", {"42"});
  EXPECT_EQ(Draws(fixture, 8, {"1000"}), first);
  CallOutcome(fixture.Engine(), "randomize", {"42"});
  EXPECT_EQ(Draws(fixture, 8, {"1000"}), first);
  CallOutcome(fixture.Engine(), "seed", {"43"});
  EXPECT_NE(Draws(fixture, 8, {"1000"}), first);
}

TEST(MathPackageTest, DrawsCoverTheirRangeAndNothingElse) {
  struct Case {
    std::vector<std::string_view> arguments;
    int low;
    int high;
    bool every_value;  // whether 300 draws should meet every value of the range
  };
  const Case cases[] = {
      {{}, 0, 65535, false},
      {{"6"}, 0, 5, true},
      {{"10", "5"}, 10, 14, true},
      {{"-3", "2"}, -3, -2, true},
  };
  EngineFixture fixture;
  CallOutcome(fixture.Engine(), "seed", {"7"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.size());
    std::set<int> seen;
    for (const std::string& draw : Draws(fixture, 300, c.arguments)) {
      const int n = std::stoi(draw);
      EXPECT_GE(n, c.low);
      EXPECT_LE(n, c.high);
      seen.insert(n);
    }
    if (c.every_value) {
      EXPECT_EQ(static_cast<int>(seen.size()), c.high - c.low + 1);
    } else {
      EXPECT_GT(seen.size(), 250u);
    }
  }
}

// "tick" returns 1, 2, 3... on its calls, to observe how often and in which
// order a function evaluates its arguments.
class TTickFunction final : public TIEUserFunction {
 public:
  TTickFunction() : TIEUserFunction("tick", "", "", 0, 0) {}
  int ticks = 0;

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& /*context*/) override {
    return TIEValue::Integer(++ticks);
  }

 private:
  ~TTickFunction() override = default;
};

TEST(MathPackageTest, ArgumentsAreEvaluatedOnceFromLeftToRight) {
  struct Case {
    const char* function;
    int arguments;
    const char* result;
  };
  const Case cases[] = {
      {"-", 3, "-4"},                    // 1 - 2 - 3
      {"max", 3, "3"},                   // each tick evaluated once, though compared
      {"min", 2, "1"}, {"div", 2, "0"},  // 1 div 2
      {"mod", 2, "1"}, {"**", 2, "1.0000"}, {"seed", 1, "TRUE"},
  };
  EngineFixture fixture;
  Ref<TTickFunction> tick = TIEUserFunction::Make<TTickFunction>();
  tick->AddReasoner(fixture.Engine());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    tick->ticks = 0;
    Ref<IFunCall> call = MakeFunCall(fixture.Engine(), c.function);
    for (int i = 0; i < c.arguments; ++i) {
      call->AddArgument(MakeRef<TIEValue>(MakeFunCall(fixture.Engine(), "tick")));
    }
    EXPECT_EQ(call->Execute(fixture.Engine().RootContext())->ToString(), c.result);
    EXPECT_EQ(tick->ticks, c.arguments);
  }
}

TEST(MathPackageTest, VariablesAndNestedCallsAreResolved) {
  EngineFixture fixture;
  fixture.Engine().RootContext().SetVariable("x", TIEValue::Integer(4));
  fixture.Engine().RootContext().SetVariable("y", TIEValue::Float(0.5));
  Ref<IFunCall> product = MakeFunCall(fixture.Engine(), "*");
  product->AddArgument(testing::ArgumentValue("?x"));
  product->AddArgument(testing::ArgumentValue("?y"));
  Ref<IFunCall> sum = MakeFunCall(fixture.Engine(), "+");
  sum->AddArgument(testing::ArgumentValue("?x"));
  sum->AddArgument(MakeRef<TIEValue>(product));
  EXPECT_EQ(sum->Execute(fixture.Engine().RootContext())->ToString(), "6.0000");
}

// Nested arithmetic on integers is worked out in place (without running the
// inner calls) once its calls are bound; an engine that counts nesting runs
// every call. Both must print the same results and raise the same errors,
// for a deffunction's parameters and for a rule's pattern variables, each
// expression evaluated several times (the first run binds the calls, a
// refusal is remembered) over values that reach the edges: 32-bit overflow,
// floats, atoms, nests deeper than the in-place limit, other functions.
TEST(MathPackageTest, NestedArithmeticGivesWhatRunningEachCallGives) {
  const char* const expressions[] = {
      "(+ ?a (* 3 ?b))",
      "(- (* ?a ?b) (+ ?a 1) 7)",
      "(mod (+ ?a (* 7 ?b)) 1000003)",
      "(div (- ?a (* 2 ?b)) 3)",
      "(+ ?a (* 46341 ?b))",
      "(* (+ ?a 1) (+ 1 (+ 2 (+ 3 (+ 4 (+ 5 ?b))))))",  // deeper than worked out in place
      "(+ ?a (abs ?b) (* ?b (- ?a)))",                  // another function beside
      "(+ ?a (* ?b 0.5))",
      "(- (-) ?a)",
      "(+ ?a (* ?b ?unbound))",
  };
  const char* const values[][2] = {
      {"1", "2"},   {"2147483647", "0"}, {"2147483647", "1"}, {"-5", "46341"},
      {"3", "2.5"}, {"7", "x"},          {"1", "2"},          {"-2147483648", "-1"},
  };
  const auto run = [&](bool count_nesting, bool in_rule) {
    EngineFixture fixture;
    TInferenceEngine& engine = fixture.Engine();
    if (count_nesting) {
      engine.SetLimits({.nesting = 10000});
    }
    std::string out;
    for (const char* expression : expressions) {
      const std::string body = std::string("(printout t ") + expression + " crlf)";
      out += MessageOf([&] {
        engine.Parse(in_rule ? "(defrule r (v ?a ?b) => " + body + ")"
                             : "(deffunction f (?a ?b) " + body + ")");
      });
      for (const auto& pair : values) {
        const std::string args = std::string(pair[0]) + " " + pair[1];
        out += MessageOf([&] {
          engine.Parse(in_rule ? "(assert (v " + args + ")) (run)" : "(f " + args + ")");
        });
        out += fixture.TakeOutput() + "|";
      }
      engine.Parse("(clear)");
    }
    return out;
  };
  for (const bool in_rule : {false, true}) {
    SCOPED_TRACE(in_rule ? "a rule's action" : "a deffunction");
    const std::string counted = run(true, in_rule);
    EXPECT_EQ(run(false, in_rule), counted);
    EXPECT_NE(counted.find("Integer overflow in *"), std::string::npos);  // the edges were met
    EXPECT_NE(counted.find("Integer overflow in +"), std::string::npos);
  }
}

TEST(MathPackageTest, OnlyBoundIntegerArithmeticIsWorkedOutInPlace) {
  struct Case {
    const char* what;
    const char* function;                     // the nested call's
    std::vector<std::string_view> arguments;  // and its arguments
    bool bind_first;                          // run the call once before
    bool in_place;
    std::int64_t number;
  };
  const Case cases[] = {
      {"a bound product", "*", {"3", "?x"}, true, true, 12},
      {"a bound difference of one operand", "-", {"?x"}, true, true, 4},
      {"a bound sum of none", "+", {}, true, true, 0},
      {"a call not bound yet", "*", {"3", "?x"}, false, false, 0},
      {"a float operand", "*", {"?y", "2"}, true, false, 0},
      {"another function", "abs", {"?x"}, true, false, 0},
      {"a step beyond 32 bits", "*", {"?x", "1073741824"}, true, false, 0},
  };
  EngineFixture fixture;
  TIEContext& context = fixture.Engine().RootContext();
  context.SetVariable("x", TIEValue::Integer(4));
  context.SetVariable("y", TIEValue::Float(0.5));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A call as the reader makes it, bound when it first runs.
    Ref<IFunCall> call = MakeRef<TFunctionCall>(&fixture.Engine(), c.function);
    for (std::string_view text : c.arguments) {
      call->AddArgument(testing::ArgumentValue(text));
    }
    if (c.bind_first) {
      (void)MessageOf([&] { call->Execute(context); });
    }
    const Ref<IIEValue> argument = MakeRef<TIEValue>(call);
    std::int64_t number = 0;
    EXPECT_EQ(TIEUserFunction::InlineInteger(*argument, context, number), c.in_place);
    if (c.in_place) {
      EXPECT_EQ(number, c.number);
    }
  }
  // A call refused once for its operand is not tried again, even when the
  // operand is an integer now; the ordinary way still gives the right sum.
  Ref<IFunCall> call = testing::MakeCallOf(fixture.Engine(), "*", {"?y", "2"});
  call->Execute(context);
  const Ref<IIEValue> argument = MakeRef<TIEValue>(call);
  std::int64_t number = 0;
  EXPECT_FALSE(TIEUserFunction::InlineInteger(*argument, context, number));
  context.SetVariable("y", TIEValue::Integer(5));
  EXPECT_FALSE(TIEUserFunction::InlineInteger(*argument, context, number));
  EXPECT_EQ(call->Execute(context)->ToString(), "10");
}

}  // namespace
}  // namespace zephro

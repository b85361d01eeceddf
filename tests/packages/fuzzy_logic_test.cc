// The fuzzy logic package: its registration and function families, and the
// functions that make values and facts: shapes, create-fuzzy-value, the
// union and intersection functions and the fuzzy assertions.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/functions/user_function.h"
#include "zephro/packages/fuzzy_logic_package.h"

#include "packages/fuzzy_logic_fixture.h"
#include "testing/package_checks.h"

namespace zephro::testing {
namespace {

// --- registration and families -------------------------------------------------------

TEST_F(FuzzyLogicTest, EveryFunctionIsRegisteredAndKeepsItsLimits) {
  TFuzzyLogicPackage package(nullptr);
  std::vector<std::string> names;
  for (const Ref<IUserFunction>& f : package.Functions()) {
    names.push_back(f->FunctionName());
  }
  EXPECT_THAT(names, ::testing::ElementsAre(
                         "s", "z", "pi", "tri", "beta", "fuzzy-union", "fuzzy-union-x",
                         "fuzzy-intersection", "fuzzy-intersection-x", "fuzzy-assert",
                         "fuzzy-assert-unconditional", "moment-defuzzify", "maximum-defuzzify",
                         "is-undecidable", "get-compatibility-index", "get-fs", "get-fs-length",
                         "get-fs-x", "get-fs-y", "get-fs-variable", "get-fs-value", "get-u",
                         "get-u-from", "get-u-to", "get-u-units", "get-fuzzy-correlation",
                         "set-fuzzy-correlation", "get-fuzzy-inference", "set-fuzzy-inference",
                         "get-fuzzy-threshold", "set-fuzzy-threshold", "get-activation-threshold",
                         "set-activation-threshold", "get-fuzzy-auto-terms", "set-fuzzy-auto-terms",
                         "create-fuzzy-value", "plot-fuzzy-value"));
  // The syntax texts that list alternatives as " a | b " do not follow the
  // grammar the check reads (an element may not start with "|").
  ExpectEveryFunctionKeepsItsLimits(
      package, Engine(),
      {"pi", "moment-defuzzify", "maximum-defuzzify", "is-undecidable", "get-compatibility-index",
       "get-fs", "get-fs-length", "get-fs-x", "get-fs-y", "get-fs-variable", "get-fs-value",
       "get-u", "get-u-from", "get-u-to", "get-u-units"});
}

TEST_F(FuzzyLogicTest, ArgumentLimitsOfTheFamilies) {
  struct Case {
    const char* name;
    std::int32_t min;
    std::int32_t max;
  } const kCases[] = {
      {"s", 2, 2},
      {"pi", 2, 3},
      {"tri", 3, 3},
      {"beta", 2, 4},
      {"fuzzy-intersection", 2, kUnlimitedArguments},
      {"fuzzy-intersection-x", 3, kUnlimitedArguments},
      {"fuzzy-assert", 2, kUnlimitedArguments},
      {"fuzzy-assert-unconditional", 1, kUnlimitedArguments},
      {"is-undecidable", 1, 1},
      {"get-fs-length", 1, 1},
      {"get-fs-y", 2, 2},
      {"get-fs-value", 2, 2},
      {"get-u-to", 1, 1},
      {"get-fuzzy-inference", 0, 0},
      {"set-activation-threshold", 1, 1},
      {"create-fuzzy-value", 2, kUnlimitedArguments},
      {"plot-fuzzy-value", 5, kUnlimitedArguments},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const IUserFunction* f = Engine().GetUserFunction(c.name);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->MinArgumentCount(), c.min);
    EXPECT_EQ(f->MaxArgumentCount(), c.max);
  }
}

TEST(FuzzyFunctionFamilyTest, TheTypeFixesNameHelpSyntaxAndLimits) {
  Ref<TGetFuzzyFunction> f = TIEUserFunction::Make<TGetFuzzyFunction>();
  EXPECT_EQ(f->FunctionType(), TGetFuzzyFunctionType::gffGetFs);
  EXPECT_EQ(f->FunctionName(), "get-fs");

  f->SetFunctionType(TGetFuzzyFunctionType::gffGetFsValue);
  EXPECT_EQ(f->FunctionName(), "get-fs-value");
  EXPECT_EQ(f->Comment(), GetFsValueComment);
  EXPECT_EQ(f->ArgumentString(), GetFsValueSyntax);
  EXPECT_EQ(f->MinArgumentCount(), 2);

  // A name of the family selects its type...
  f->SetFunctionName("get-fs-length");
  EXPECT_EQ(f->FunctionType(), TGetFuzzyFunctionType::gffGetFsLength);
  EXPECT_EQ(f->ArgumentString(), GetFsSyntax);
  EXPECT_EQ(f->MaxArgumentCount(), 1);
  // ...another name only renames the function.
  f->SetFunctionName("singleton-count");
  EXPECT_EQ(f->FunctionName(), "singleton-count");
  EXPECT_EQ(f->FunctionType(), TGetFuzzyFunctionType::gffGetFsLength);

  Ref<TRWFuzzyAutoTerms> g =
      TIEUserFunction::Make<TRWFuzzyAutoTerms>(TRWFuzzyAutoTermsType::fatSetFuzzyAutoTerms);
  EXPECT_EQ(g->FunctionName(), "set-fuzzy-auto-terms");
  EXPECT_EQ(g->ArgumentString(), " <boolean-expression> ");
  g->Assign(*TIEUserFunction::Make<TRWFuzzyAutoTerms>());  // copies the name, and so the type
  EXPECT_EQ(g->FunctionType(), TRWFuzzyAutoTermsType::fatGetFuzzyAutoTerms);
  EXPECT_EQ(g->MaxArgumentCount(), 0);
}

// --- shapes ------------------------------------------------------------------------------------

TEST_F(FuzzyLogicTest, ShapesPrintAsWrittenAndHoldTheirCurves) {
  Run({
      {"(tri 0 10 20)", "(tri 0.0000 10.0000 20.0000)"},
      {"(get-fs (tri 0 10 20))", "((0.0000 0.0000) (10.0000 1.0000) (20.0000 0.0000) )"},
      {"(get-fs (tri 0 0 30))", "((0.0000 1.0000) (30.0000 0.0000) )"},
      // S(x) = 2 (x/6)^2 up to 3, 1 - 2 ((x-6)/6)^2 from there.
      {"(get-fs (s 0 6))",
       "((0.0000 0.0000) (1.0000 0.0556) (2.0000 0.2222) (3.0000 0.5000) (4.0000 0.7778) "
       "(5.0000 0.9444) (6.0000 1.0000) )"},
      {"(get-fs (z 0 6))",
       "((0.0000 1.0000) (1.0000 0.9444) (2.0000 0.7778) (3.0000 0.5000) (4.0000 0.2222) "
       "(5.0000 0.0556) (6.0000 0.0000) )"},
      {"(s 0 6.5)", "(s 0.0000 6.5000)"},
      // pi c r is pi (c-r) c (c+r): 13 points, 0.5 halfway up each side.
      {"(pi 10 4)", "(pi 10.0000 4.0000)"},
      {"(get-fs-length (pi 10 4))", "13"},
      {"(get-fs-x (pi 10 4) 3)", "8.0000"},
      {"(get-fs-y (pi 10 4) 3)", "0.5000"},
      {"(get-fs-y (pi 10 4) 6)", "1.0000"},
      {"(get-fs-value (pi 0 5 10) 7.5)", "0.5000"},
      // beta: 1 / (1 + (|x - c| / i)^(2w)) at 0, i/2, i, (i + r)/2 and r from the
      // centre; i is r/2 and w 1 when left out; 0 at the ends.
      {"(beta 0 10)", "(beta 0.0000 10.0000)"},
      {"(get-fs (beta 0 10))",
       "((-10.0000 0.0000) (-7.5000 0.3077) (-5.0000 0.5000) (-2.5000 0.8000) (0.0000 1.0000) "
       "(2.5000 0.8000) (5.0000 0.5000) (7.5000 0.3077) (10.0000 0.0000) )"},
      {"(get-fs-y (beta 0 10 4) 1)", "0.2462"},  // at -7: 1 / (1 + (7/4)^2)
      {"(get-fs (beta 0 10 4 2))",
       "((-10.0000 0.0000) (-7.0000 0.0963) (-4.0000 0.5000) (-2.0000 0.9412) (0.0000 1.0000) "
       "(2.0000 0.9412) (4.0000 0.5000) (7.0000 0.0963) (10.0000 0.0000) )"},
      {"(beta 0 10 4 2)", "(beta 0.0000 10.0000 4.0000 2.0000)"},
      {"(get-fs-variable (tri 0 10 20))", ""},  // nil
      {"(fuzzyp (z 1 2))", "TRUE"},
  });
}

TEST_F(FuzzyLogicTest, ShapesRefuseBadParameters) {
  Run({
      {"(tri 5 3 10)", "error: Invalid parameters for tri: left 5 > centre 3"},
      {"(s 6 0)", "error: Invalid parameters for s: left 6 > right 0"},
      {"(pi 10 0)", "error: Invalid parameters for pi: range 0 must be above 0"},
      {"(z 2 2)", "error: Invalid parameters for z: left 2 must be below right 2"},
      {"(s 1 a)", "error: Expected numeric argument to s function call"},
      {"(tri 1 2)", "error: Too few arguments for tri"},
      {"(beta 0 10 4 2 1)", "error: Too many arguments for beta"},
  });
}

// --- create-fuzzy-value ------------------------------------------------------------------------

TEST_F(FuzzyLogicTest, CreateFuzzyValueEvaluatesAnExpressionOfTheVariable) {
  Engine().RootContext().AddLocalBinding("word", TIEValue::Atom("hot"));
  Run({
      {"(create-fuzzy-value temp cold)", "cold"},
      {"(get-fs (create-fuzzy-value temp cold))", "((0.0000 1.0000) (50.0000 0.0000) )"},
      {"(get-fs-variable (create-fuzzy-value temp cold))", "temp"},
      // very squares each membership; each sloping line is cut in four first.
      {"(create-fuzzy-value temp very cold)", "very cold"},
      {"(get-fs (create-fuzzy-value temp very cold))",
       "((0.0000 1.0000) (12.5000 0.5625) (25.0000 0.2500) (37.5000 0.0625) (50.0000 0.0000) )"},
      {"(create-fuzzy-value temp (very cold) or hot)", "(very cold) or hot"},
      {"(get-fs (create-fuzzy-value temp cold or ?word))",
       "((0.0000 1.0000) (50.0000 0.0000) (100.0000 1.0000) )"},
      {"(get-fs (create-fuzzy-value temp cold and hot))",
       "((0.0000 0.0000) (50.0000 0.0000) (100.0000 0.0000) )"},
      {"(create-fuzzy-value temp ((10 0) (20 1)))", "((10.0000 0.0000) (20.0000 1.0000) )"},
      {"(get-fs-variable (create-fuzzy-value temp (tri 10 20 30)))", "temp"},
      {"(create-fuzzy-value temp ((150 1)))",
       "error: Fuzzy value ((150.0000 1.0000) ) lies outside the universe of discourse of temp "
       "(0.0000 to 100.0000)"},
      {"(create-fuzzy-value temp warm)", "error: Invalid item in fuzzy expression: warm"},
      {"(create-fuzzy-value nosuch cold)", "error: type name unknown or invalid: nosuch"},
      {"(create-fuzzy-value temp)", "error: Too few arguments for create-fuzzy-value"},
  });
}

// --- union and intersection -------------------------------------------------------------------

TEST_F(FuzzyLogicTest, UnionAndIntersectionByEveryCombineKind) {
  // a falls from 1 at 10 to 0 at 20 as b rises: they cross at (15, 0.5).
  Bind("a", "(tri 0 10 20)");
  Bind("b", "(tri 10 20 30)");
  struct Case {
    const char* call;
    const char* at_10_15_20;  // the memberships at 10, 15 and 20
  } const kCases[] = {
      {"(fuzzy-union ?a ?b)", "1.0000 0.5000 1.0000"},
      {"(fuzzy-intersection ?a ?b)", "0.0000 0.5000 0.0000"},
      {"(fuzzy-union-x zadeh ?a ?b)", "1.0000 0.5000 1.0000"},
      {"(fuzzy-intersection-x zadeh ?a ?b)", "0.0000 0.5000 0.0000"},
      {"(fuzzy-union-x mean ?a ?b)", "0.5000 0.5000 0.5000"},
      {"(fuzzy-intersection-x mean ?a ?b)", "0.5000 0.5000 0.5000"},
      {"(fuzzy-union-x mean-sqr ?a ?b)", "0.5000 0.2500 0.5000"},
      {"(fuzzy-union-x mean-sqrt ?a ?b)", "0.5000 0.7071 0.5000"},
      {"(fuzzy-union-x product ?a ?b)", "1.0000 0.7500 1.0000"},         // a + b - ab
      {"(fuzzy-intersection-x product ?a ?b)", "0.0000 0.2500 0.0000"},  // ab
      {"(fuzzy-union-x bounded-sum ?a ?b)", "1.0000 1.0000 1.0000"},
      {"(fuzzy-intersection-x bounded-sum ?a ?b)", "0.0000 0.0000 0.0000"},
      {"(fuzzy-union-x sum ?a ?b)", "1.0000 1.0000 1.0000"},
      // ab, whose height 0.25 is scaled up to 1.
      {"(fuzzy-intersection-x sum ?a ?b)", "0.0000 1.0000 0.0000"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.call);
    Bind("r", c.call);
    EXPECT_EQ(Eval("(get-fs-value ?r 10)") + " " + Eval("(get-fs-value ?r 15)") + " " +
                  Eval("(get-fs-value ?r 20)"),
              c.at_10_15_20);
    EXPECT_EQ(Eval("(get-fs-value ?r 0)") + " " + Eval("(get-fs-value ?r 30)"), "0.0000 0.0000");
  }
  Run({
      {"(get-fs (fuzzy-union ?a ?b))",
       "((0.0000 0.0000) (10.0000 1.0000) (15.0000 0.5000) (20.0000 1.0000) (30.0000 0.0000) )"},
      // Folded from left to right; the union with (tri 20 30 40) crosses at 25.
      {"(get-fs (fuzzy-union ?a ?b (tri 20 30 40)))",
       "((0.0000 0.0000) (10.0000 1.0000) (15.0000 0.5000) (20.0000 1.0000) (25.0000 0.5000) "
       "(30.0000 1.0000) (40.0000 0.0000) )"},
      {"(get-fs-length (fuzzy-intersection-x mean ?a ?b (tri 20 30 40)))", "7"},
      // The result is computed: it prints its points.
      {"(fuzzy-intersection ?a ?a)", "((0.0000 0.0000) (10.0000 1.0000) (20.0000 0.0000) )"},
  });
}

TEST_F(FuzzyLogicTest, OperationsTakeFactsAndKeepTheFirstVariable) {
  Load("(assert (room (name a) (t hot)))");
  Run({
      {"(get-fs-variable (fuzzy-union (create-fuzzy-value temp cold) (tri 0 10 20)))", "temp"},
      {"(get-fs-variable (fuzzy-union (tri 0 10 20) (create-fuzzy-value temp cold)))", ""},
      // Fact 1's first fuzzy slot holds hot.
      {"(get-fs (fuzzy-union 1 (create-fuzzy-value temp cold)))",
       "((0.0000 1.0000) (50.0000 0.0000) (100.0000 1.0000) )"},
      {"(get-fs-variable (fuzzy-intersection 1 (tri 0 10 20)))", "temp"},
  });
}

TEST_F(FuzzyLogicTest, OperationsRefuseBadArguments) {
  Load("(assert (point 1))");
  Run({
      {"(fuzzy-union (tri 0 10 20))", "error: Too few arguments for fuzzy-union"},
      {"(fuzzy-intersection-x zadeh (tri 0 10 20))",
       "error: Too few arguments for fuzzy-intersection-x"},
      {"(fuzzy-union-x maximum (tri 0 10 20) (tri 5 10 20))",
       "error: Invalid Fuzzy operation specified (maximum) for fuzzy-union-x, expected zadeh, "
       "mean, mean-sqr, mean-sqrt, product, bounded-sum, or sum"},
      {"(fuzzy-intersection-x 3 (tri 0 10 20) (tri 5 10 20))",
       "error: Invalid Fuzzy operation specified (3) for fuzzy-intersection-x, expected zadeh, "
       "mean, mean-sqr, mean-sqrt, product, bounded-sum, or sum"},
      {"(fuzzy-union (tri 0 10 20) 7)", "error: No Such Fact with ID=7 exists"},
      {"(fuzzy-union (tri 0 10 20) 1)", "error: Fact is not a fuzzy fact"},
      {"(fuzzy-union (tri 0 10 20) abc)",
       "error: Not a fuzzy value type.  Value (abc) is a dtAtom type"},
  });
}

// --- fuzzy assertions ---------------------------------------------------------------------------

// An existing fact (room (name a)) holds a triangle over the universe; the
// new one's cold falls as it rises: they cross at (25, 0.5).
constexpr char kTriangleRoom[] = "(assert (room (name a) (t ((0 0) (50 1) (100 0)))))";

TEST_F(FuzzyLogicTest, FuzzyAssertTakesAnExistingFactInByUnion) {
  Load(kTriangleRoom);
  Run({
      {"(fuzzy-assert min-max (room (name a) (t cold)))", "<Fact-2>"},
      {"(get-fs 2)", "((0.0000 1.0000) (25.0000 0.5000) (50.0000 1.0000) (100.0000 0.0000) )"},
      {"(get-fs 1)", "error: No Such Fact with ID=1 exists"},  // taken in, and gone
      // Another room is another fact.
      {"(fuzzy-assert min-max (room (name b) (t cold)))", "<Fact-3>"},
      {"(get-fs 3)", "((0.0000 1.0000) (50.0000 0.0000) )"},
  });
}

TEST_F(FuzzyLogicTest, FuzzyAssertUnconditionalTakesItInByIntersection) {
  Load(kTriangleRoom);
  Run({
      {"(fuzzy-assert-unconditional min-max (room (name a) (t cold)))", "<Fact-2>"},
      {"(get-fs 2)", "((0.0000 0.0000) (25.0000 0.5000) (50.0000 0.0000) (100.0000 0.0000) )"},
  });
}

TEST_F(FuzzyLogicTest, TheMethodHoldsForTheOneAssertion) {
  Load(kTriangleRoom);
  Run({
      // sum: cold + the triangle is 1 up to 50.
      {"(fuzzy-assert sum (room (name a) (t cold)))", "<Fact-2>"},
      {"(get-fs-value 2 0)", "1.0000"},
      {"(get-fs-value 2 25)", "1.0000"},
      {"(get-fs-value 2 50)", "1.0000"},
      {"(get-fs-value 2 75)", "0.5000"},
      {"(get-fuzzy-inference)", "min-max"},
      // Without a method the unconditional form takes the engine's.
      {"(set-fuzzy-inference product)", "min-max"},
      {"(fuzzy-assert-unconditional (room (name a) (t hot)))", "<Fact-3>"},
      // product intersection: ab. The sum above falls from 1 at 50 to 0 at 100
      // as hot rises: both are 0.5 at 75. Below 50 hot is 0.
      {"(get-fs-value 3 75)", "0.2500"},
      {"(get-fs-value 3 25)", "0.0000"},
  });
}

TEST_F(FuzzyLogicTest, FuzzyAssertEvaluatesSlotsAndReturnsTheLastId) {
  Bind("v", "(create-fuzzy-value temp hot)");
  Engine().RootContext().AddLocalBinding("n", TIEValue::Atom("c"));
  Run({
      {"(fuzzy-assert mean (room (name ?n) (t ?v)) (room (name d) (t cold)))", "<Fact-2>"},
      {"(get-slot-value 1 name)", "c"},
      {"(get-fs 1)", "((50.0000 0.0000) (100.0000 1.0000) )"},
      // A fact that is not fuzzy is asserted as usual: once.
      {"(fuzzy-assert min-max (reading 1))", "<Fact-3>"},
      {"(fuzzy-assert min-max (reading 1))", "FALSE"},
      {"(fuzzy-assert-unconditional bounded-sum (reading 2))", "<Fact-4>"},
  });
}

TEST_F(FuzzyLogicTest, FuzzyAssertNeedsAMethodName) {
  const char* expected = "expected min-max, sum, mean, product, or bounded-sum";
  Run({
      {"(fuzzy-assert (room (name a) (t cold)))", "error: Too few arguments for fuzzy-assert"},
      {"(fuzzy-assert-unconditional)", "error: Too few arguments for fuzzy-assert-unconditional"},
  });
  EXPECT_EQ(Eval("(fuzzy-assert maximum (room (name a) (t cold)))"),
            std::string("error: Invalid Fuzzy Inference specified (maximum), ") + expected);
  EXPECT_EQ(Eval("(fuzzy-assert-unconditional \"max\" (room (name a) (t cold)))"),
            std::string("error: Invalid Fuzzy Inference specified (max), ") + expected);
  // A fact where the method belongs: fuzzy-assert refuses it, the
  // unconditional form asserts it.
  EXPECT_EQ(Eval("(fuzzy-assert (room (name a) (t cold)) (room (name b) (t cold)))"),
            std::string("error: Invalid Fuzzy Inference specified ((room (name a) (t cold))), ") +
                expected);
  EXPECT_EQ(Engine().Facts().Count(), 1);  // the initial fact only
  EXPECT_EQ(Eval("(fuzzy-assert-unconditional (room (name a) (t cold)) (room (name b) (t cold)))"),
            "<Fact-2>");
  EXPECT_EQ(Engine().Facts().Count(), 3);
}

}  // namespace
}  // namespace zephro::testing

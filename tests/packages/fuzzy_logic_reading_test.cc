// The fuzzy logic package's functions that read values (defuzzifications,
// singletons, universes, the plot) and those of the engine's fuzzy settings.

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/packages/fuzzy_logic_package.h"
#include "zephro/values/value.h"

#include "packages/fuzzy_logic_fixture.h"

namespace zephro::testing {
namespace {

// --- defuzzification ----------------------------------------------------------------------------

TEST_F(FuzzyLogicTest, DefuzzifiesByMomentAndByMeanOfMaxima) {
  Load("(assert (room (name a) (t cold)))");
  Run({
      {"(moment-defuzzify (tri 0 10 20))", "10.0000"},
      {"(maximum-defuzzify (tri 0 10 20))", "10.0000"},
      // The triangle (0, 0) (10, 1) (30, 0): centre of gravity (0 + 10 + 30) / 3.
      {"(moment-defuzzify (create-fuzzy-value temp ((0 0) (10 1) (30 0))))", "13.3333"},
      // A plateau from 20 to 40: its middle.
      {"(maximum-defuzzify (create-fuzzy-value temp ((10 0) (20 1) (40 1) (50 0))))", "30.0000"},
      {"(maximum-defuzzify (tri 0 0 30))", "0.0000"},
      // Fact 1 holds cold: (0 1) (50 0), centre of gravity 50 / 3.
      {"(moment-defuzzify 1)", "16.6667"},
      {"(maximum-defuzzify 1)", "0.0000"},
      {"(get-compatibility-index (create-fuzzy-value temp ((0 0) (10 0.6) (20 0))))", "0.6000"},
      {"(get-compatibility-index 1)", "1.0000"},
      // No area and nothing above 0: the middle of its points.
      {"(moment-defuzzify (create-fuzzy-value temp ((10 0) (20 0))))", "15.0000"},
  });
}

TEST_F(FuzzyLogicTest, IsUndecidableTellsWhatTheLastDefuzzificationFound) {
  Bind("peak", "(tri 0 10 20)");
  Bind("flat", "(create-fuzzy-value temp ((10 0) (20 0)))");
  Load("(assert (room (name a) (t hot)))");
  Run({
      {"(is-undecidable (tri 0 10 20))", "TRUE"},  // never defuzzified
      {"(is-undecidable ?peak)", "TRUE"},
      {"(moment-defuzzify ?peak)", "10.0000"},
      {"(is-undecidable ?peak)", "FALSE"},
      {"(is-undecidable ?flat)", "TRUE"},
      {"(maximum-defuzzify ?flat)", "15.0000"},
      {"(is-undecidable ?flat)", "TRUE"},
      // The flag stays with the set of the fact's slot.
      {"(is-undecidable 1)", "TRUE"},
      {"(maximum-defuzzify 1)", "100.0000"},
      {"(is-undecidable 1)", "FALSE"},
  });
}

TEST_F(FuzzyLogicTest, FuzzyArgumentsNameFactsThatHaveFuzzySlots) {
  Load("(assert (room (name a) (t hot)) (reading 1))");
  Ref<IFact> room(Engine().Facts().GetFactByID(1));
  Engine().RootContext().AddLocalBinding("f", MakeRef<TIEValue>(room));
  Run({
      {"(moment-defuzzify ?f)", "83.3333"},  // hot: (50 0) (100 1)
      {"(moment-defuzzify (+ 0 1))", "83.3333"},
      {"(get-fs-length ?f)", "2"},
      {"(moment-defuzzify 9)", "error: No Such Fact with ID=9 exists"},
      {"(get-fs 2)", "error: Fact is not a fuzzy fact"},
      {"(is-undecidable cold)", "error: Not a fuzzy value type.  Value (cold) is a dtAtom type"},
      {"(get-compatibility-index 2.5)",
       "error: Not a fuzzy value type.  Value (2.5000) is a dtFloat type"},
  });
}

// --- singletons --------------------------------------------------------------------------------

TEST_F(FuzzyLogicTest, GetFsReadsTheSingletons) {
  Load("(assert (room (name a) (t cold)))");
  Run({
      {"(get-fs 1)", "((0.0000 1.0000) (50.0000 0.0000) )"},
      {"(get-type (get-fs 1))", "dtSingletons"},
      {"(get-fs-length 1)", "2"},
      {"(get-fs-length (pi 0 5 10))", "13"},
      {"(get-fs-x (tri 0 10 20) 1)", "10.0000"},
      {"(get-fs-y (tri 0 10 20) 1)", "1.0000"},
      {"(get-fs-x 1 1)", "50.0000"},
      {"(get-fs-y 1 0)", "1.0000"},
      {"(get-fs-variable 1)", "temp"},
      {"(get-fs-value 1 10)", "0.8000"},
      {"(get-fs-value 1 100)", "0.0000"},
      {"(get-fs-value 1 0)", "1.0000"},
      // A set of no variable has no universe: it keeps its end values.
      {"(get-fs-value (tri 0 10 20) -500)", "0.0000"},
      {"(get-fs-value (tri 0 0 20) -500)", "1.0000"},
  });
}

TEST_F(FuzzyLogicTest, GetFsRefusesIndexesAndXOutsideTheSet) {
  Load("(assert (room (name a) (t cold)))");
  Run({
      {"(get-fs-x 1 2)",
       "error: Singleton index 2 is out of range for a fuzzy value of 2 singletons"},
      {"(get-fs-y (tri 0 10 20) -1)",
       "error: Singleton index -1 is out of range for a fuzzy value of 3 singletons"},
      {"(get-fs-value 1 100.5)",
       "error: X value 100.5000 lies outside the universe of discourse of temp (0.0000 to "
       "100.0000)"},
      {"(get-fs-value 1 -1)",
       "error: X value -1.0000 lies outside the universe of discourse of temp (0.0000 to "
       "100.0000)"},
      {"(get-fs-value 1 x)", "error: Expected numeric argument to get-fs-value function call"},
      {"(get-fs-x 1)", "error: Too few arguments for get-fs-x"},
  });
}

// --- universe of discourse ----------------------------------------------------------------------

TEST_F(FuzzyLogicTest, GetUReadsTheUniverseOfATypeOrAFact) {
  Load(R"((deftype level extends (type FUZZY) (range -2.5 7))
          (deftype percent extends (type INTEGER FLOAT) (range 0 100))
          (assert (room (name a) (t cold)) (reading 1)))");
  Run({
      {"(get-u temp)", "\"0.0000 - 100.0000 C\""},
      {"(get-u \"temp\")", "\"0.0000 - 100.0000 C\""},
      {"(get-u level)", "\"-2.5000 - 7.0000 \""},
      {"(get-u 1)", "\"0.0000 - 100.0000 C\""},
      {"(get-u-from level)", "-2.5000"},
      {"(get-u-to level)", "7.0000"},
      {"(get-u-to 1)", "100.0000"},
      {"(get-u-units temp)", "\"C\""},
      {"(get-u-units level)", "\"\""},
      {"(get-u percent)",
       "error: Invalid argument type for deffunction: \"Integer, Float\".  Expected Fuzzy"},
      {"(get-u-from nosuch)", "error: type name unknown or invalid: nosuch"},
      {"(get-u-to 7)", "error: No Such Fact with ID=7 exists"},
      {"(get-u-units 2)", "error: Fact is not a fuzzy fact"},
  });
}

// --- settings ------------------------------------------------------------------------------------

TEST_F(FuzzyLogicTest, SettersReturnThePreviousSetting) {
  Run({
      {"(get-fuzzy-correlation)", "minimum"},
      {"(set-fuzzy-correlation product)", "minimum"},
      {"(get-fuzzy-correlation)", "product"},
      {"(set-fuzzy-correlation minimum)", "product"},

      {"(get-fuzzy-inference)", "min-max"},
      {"(set-fuzzy-inference sum)", "min-max"},
      {"(set-fuzzy-inference \"bounded-sum\")", "sum"},
      {"(get-fuzzy-inference)", "bounded-sum"},

      {"(get-fuzzy-threshold)", "0.0100"},
      {"(set-fuzzy-threshold 0.5)", "0.0100"},
      {"(set-fuzzy-threshold 2)", "0.5000"},
      {"(get-fuzzy-threshold)", "1.0000"},  // clamped
      {"(set-fuzzy-threshold -0.2)", "1.0000"},
      {"(get-fuzzy-threshold)", "0.0000"},

      {"(get-activation-threshold)", "0.0000"},
      {"(set-activation-threshold 0.25)", "0.0000"},
      {"(set-activation-threshold 1.5)", "0.2500"},
      {"(get-activation-threshold)", "1.0000"},

      {"(get-fuzzy-auto-terms)", "TRUE"},
      {"(set-fuzzy-auto-terms FALSE)", "TRUE"},
      {"(set-fuzzy-auto-terms TRUE)", "FALSE"},
      {"(set-fuzzy-auto-terms yes)", "TRUE"},  // anything but TRUE is off
      {"(get-fuzzy-auto-terms)", "FALSE"},
  });
  EXPECT_EQ(Engine().FuzzyCorrelationMethod(), TFuzzyCorrelationKind::fcMinimum);
  EXPECT_EQ(Engine().FuzzyInferenceMethod(), TFuzzyInferenceKind::fiBoundedSum);
  EXPECT_EQ(Engine().FuzzyEqualsThreshold(), 0.0f);
  EXPECT_EQ(Engine().MinActivationStrength(), 1.0f);
  EXPECT_FALSE(Engine().FuzzyAutoTerms());
}

TEST_F(FuzzyLogicTest, SettersRefuseNamesThatNameNothing) {
  Run({
      {"(set-fuzzy-correlation max)",
       "error: Invalid Fuzzy Correlation specified (max), expected minimum, or product"},
      {"(set-fuzzy-inference zadeh)",
       "error: Invalid Fuzzy Inference specified (zadeh), expected min-max, sum, mean, product, "
       "or bounded-sum"},
      {"(set-fuzzy-threshold high)",
       "error: Expected numeric argument to set-fuzzy-threshold function call"},
      {"(set-activation-threshold)", "error: Too few arguments for set-activation-threshold"},
      {"(get-fuzzy-correlation minimum)", "error: Too many arguments for get-fuzzy-correlation"},
      // The settings are as they were.
      {"(get-fuzzy-correlation)", "minimum"},
      {"(get-fuzzy-inference)", "min-max"},
  });
}

TEST_F(FuzzyLogicTest, TheSettingsReachTheEngine) {
  // The equality threshold decides whether two overlapping values are equal.
  Bind("a", "(create-fuzzy-value temp ((0 0) (40 0) (60 1) (100 1)))");
  // a rises from 0 at 40 as cold falls: they meet at x = 300/7, at 1/7.
  Bind("b", "(create-fuzzy-value temp cold)");
  Run({
      {"(eq ?a ?b)", "TRUE"},
      {"(set-fuzzy-threshold 0.5)", "0.0100"},
      {"(eq ?a ?b)", "FALSE"},
  });
  // Without auto terms a fuzzy type declared without terms has none.
  Load("(deftype level extends (type FUZZY) (range 0 10))");
  EXPECT_EQ(Eval("(create-fuzzy-value level medium)"), "medium");
  Load(R"((set-fuzzy-auto-terms FALSE)
          (deftype depth extends (type FUZZY) (range 0 10)))");
  EXPECT_EQ(Eval("(create-fuzzy-value depth medium)"),
            "error: Invalid item in fuzzy expression: medium");
}

// --- the plot
// ----------------------------------------------------------------------------------------

// The grid of cold (c) and hot (h) from 0 to 100: a column every 2, a row
// every 0.05, each set in the row nearest its membership; at x = 50 both are
// 0, and hot, drawn later, has the cell.
constexpr const char* kColdAndHot[] = {
    "1.00c                                                 h",
    "0.95 c                                               h",
    "0.90  cc                                           hh",
    "0.85    c                                         h",
    "0.80     c                                       h",
    "0.75      c                                     h",
    "0.70       cc                                 hh",
    "0.65         c                               h",
    "0.60          c                             h",
    "0.55           c                           h",
    "0.50            cc                       hh",
    "0.45              c                     h",
    "0.40               c                   h",
    "0.35                c                 h",
    "0.30                 cc             hh",
    "0.25                   c           h",
    "0.20                    c         h",
    "0.15                     c       h",
    "0.10                      cc   hh",
    "0.05                        c h",
    "0.00hhhhhhhhhhhhhhhhhhhhhhhhhhccccccccccccccccccccccccc",
    "    |----|----|----|----|----|----|----|----|----|----|",
    "   0.00     20.00     40.00     60.00     80.00    100.00",
};

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

std::string ColdAndHot() {
  return Lines(std::vector<std::string>(std::begin(kColdAndHot), std::end(kColdAndHot)));
}

TEST_F(FuzzyLogicTest, PlotsTheTermsOfAVariable) {
  EXPECT_EQ(Eval("(plot-fuzzy-value t \"ch\" 0 100 temp)"), "");
  EXPECT_EQ(Output(), "Fuzzy Variable: temp\n" + ColdAndHot() +
                          "Universe of Discourse: From 0.00 to 100.00\n");
}

TEST_F(FuzzyLogicTest, PlotsValuesWithTheirTexts) {
  Load("(assert (room (name a) (t hot)))");
  EXPECT_EQ(Eval("(plot-fuzzy-value t \"ch\" 0 100 (create-fuzzy-value temp cold) 1)"), "");
  EXPECT_EQ(Output(), "Fuzzy Values:\nc (cold)\nh (hot)\n" + ColdAndHot());
}

TEST_F(FuzzyLogicTest, PlotMarksAndTitles) {
  // Only the lines before the grid and after its labels differ.
  struct Case {
    const char* call;
    const char* head;
    const char* tail;
  } const kCases[] = {
      // The last character again when they run out, '*' when there are none.
      {"(plot-fuzzy-value t \"x\" 0 100 temp (tri 0 10 20) (tri 10 20 30))",
       "Fuzzy Variable: temp\nFuzzy Values:\nx ((tri 0.0000 10.0000 20.0000))\n"
       "x ((tri 10.0000 20.0000 30.0000))\n",
       "Universe of Discourse: From 0.00 to 100.00\n"},
      {"(plot-fuzzy-value t \"\" 0 100 (fuzzy-union (tri 0 10 20) (tri 10 20 30)))",
       "Fuzzy Values:\n"
       "* (((0.0000 0.0000) (10.0000 1.0000) (15.0000 0.5000) (20.0000 1.0000) "
       "(30.0000 0.0000) ))\n",
       ""},
      {"(plot-fuzzy-value t \"ab\" -1.5 8 temp)", "Fuzzy Variable: temp\n",
       "Universe of Discourse: From 0.00 to 100.00\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Eval(c.call), "");
    const std::string printed = Output();
    const std::string head(c.head);
    const std::string tail(c.tail);
    ASSERT_GT(printed.size(), head.size() + tail.size());
    EXPECT_EQ(printed.substr(0, head.size()), head);
    EXPECT_EQ(printed.substr(printed.size() - tail.size()), tail);
    // head, 21 rows, the axis, the labels, tail
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'),
              std::count(head.begin(), head.end(), '\n') + 23 +
                  std::count(tail.begin(), tail.end(), '\n'));
  }
}

TEST_F(FuzzyLogicTest, PlotGoesToTheLogicalName) {
  std::vector<std::pair<std::string, std::string>> printed;
  Engine().OnPrintOut = [&](TInferenceEngine&, std::string_view name, std::string_view text) {
    printed.emplace_back(name, text);
  };
  EXPECT_EQ(Eval("(plot-fuzzy-value wdisplay \"*\" 0 10 (tri 0 5 10))"), "");
  ASSERT_EQ(printed.size(), 1U);
  EXPECT_EQ(printed[0].first, "wdisplay");
  EXPECT_THAT(printed[0].second, ::testing::StartsWith("Fuzzy Values:\n* ((tri "));
  EXPECT_THAT(printed[0].second, ::testing::EndsWith("   0.00      2.00      4.00      6.00      "
                                                     "8.00     10.00\n"));
}

TEST_F(FuzzyLogicTest, PlotRefusesBadArguments) {
  Run({
      {"(plot-fuzzy-value t \"*\" 10 10 temp)",
       "error: Invalid plot range: 10 to 10; the low end must be below the high end, both "
       "finite"},
      {"(plot-fuzzy-value t \"*\" 0 100 nosuch)", "error: type name unknown or invalid: nosuch"},
      {"(plot-fuzzy-value t \"*\" 0 100 5)", "error: No Such Fact with ID=5 exists"},
      {"(plot-fuzzy-value t \"*\" 0 x temp)",
       "error: Expected numeric argument to plot-fuzzy-value function call"},
      {"(plot-fuzzy-value t \"*\" 0 100)", "error: Too few arguments for plot-fuzzy-value"},
  });
  EXPECT_EQ(Output(), "");
}

}  // namespace
}  // namespace zephro::testing

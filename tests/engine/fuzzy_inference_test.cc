// Fuzzy values in the engine: fuzzy expressions, what fuzzy slots store,
// matching by degree and activation strength, correlation of what a rule
// asserts, inference when a fuzzy fact meets an existing one, the settings
// and the events.

#include <cmath>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/rules/activation.h"
#include "zephro/types/defined_type.h"
#include "zephro/types/fuzzy_value.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;

// cold falls from 1 at 0 to 0 at 50; hot rises from 0 at 50 to 1 at 100;
// mid is a triangle on 25..75.
constexpr char kProgram[] =
    "(deftype temp extends (type FUZZY) (range 0 100) (units C)"
    "  (values (term cold ((0 1) (50 0))) (term hot ((50 0) (100 1)))"
    "          (term mid ((25 0) (50 1) (75 0)))))"
    "(deftype mood extends (type FUZZY) (range 0 1) (values (term calm ((0 1) (1 0)))))"
    "(deftemplate room (slot name) (slot t (type temp)))"
    "(deftemplate heat (slot name) (slot level (type temp)))"
    "(deftemplate zones (slot name) (multislot ts (type temp)))"
    "(deftemplate plain (slot x))";

class FuzzyInferenceTest : public ::testing::Test {
 protected:
  FuzzyInferenceTest() { E().Parse(kProgram, true); }

  TInferenceEngine& E() { return fixture_.Engine(); }
  TIEFuzzyVariable* Variable(std::string_view type) {
    return dynamic_cast<TIEDefinedType&>(*E().DefinedTypes().Get(type)).FuzzyVariable();
  }
  Ref<TIEFuzzySet> Eval(std::string_view text, std::string_view type = "temp") {
    return E().EvalFuzzyExpression(Variable(type), text);
  }
  std::string ErrorOf(auto&& action) {
    try {
      action();
    } catch (const EBaseException& e) {
      return e.what();
    }
    return std::string();
  }
  std::string ParseError(const std::string& text) {
    return ErrorOf([&] { E().Parse(text, true); });
  }
  // The fact with `id`, which must be in working memory.
  IFact& FactWithId(std::int32_t id) {
    IFact* found = nullptr;
    E().ForEachFact([&](IFact& f) { found = f.GetID() == id ? &f : found; });
    EXPECT_NE(found, nullptr) << id;
    return *found;
  }
  const TIEFuzzySet& SetIn(const IFact& fact, std::string_view slot) {
    const TIEFuzzySet* set = FuzzySetOf(*fact.GetValue(slot));
    EXPECT_NE(set, nullptr) << fact.ToString();
    return *set;
  }
  Ref<IFact> Fact(const std::string& text) {
    Ref<IFact> fact = E().ParseFact(text);
    return fact;
  }
  std::vector<std::string> Strengths() {
    std::vector<std::string> out;
    for (int i = 0; i < E().GetAgendaCount(); ++i) {
      out.push_back(E().GetActivation(i).ToString());
    }
    return out;
  }

  testing::EngineFixture fixture_;
};

TEST_F(FuzzyInferenceTest, ExpressionsCombineTermsWithHedgesAndOperators) {
  struct Case {
    const char* text;
    double x;
    double membership;
    const char* printed;
  };
  const Case kCases[] = {
      {"cold", 25, 0.5, "cold"},
      {"not cold", 25, 0.5, "not cold"},
      {"very cold", 25, 0.25, "very cold"},  // 25 is a point of the hedged curve
      {"extremely cold", 25, 0.125, "extremely cold"},
      {"somewhat hot", 75, std::cbrt(0.5), "somewhat hot"},
      {"cold or hot", 50, 0, "cold or hot"},
      {"cold or hot", 0, 1, "cold or hot"},
      {"cold and mid", 37.5, 0.25, "cold and mid"},  // where they cross
      {"not cold and not hot", 50, 1, "not cold and not hot"},
      {"(not cold) and (not hot)", 50, 1, "(not cold) and (not hot)"},
      // A hedge modifies the operand after it; "or" binds looser than "and".
      {"very cold or hot", 100, 1, "very cold or hot"},
      {"cold or hot and mid", 0, 1, "cold or hot and mid"},
      {"not (cold or hot)", 50, 1, "not (cold or hot)"},
      {"((0 0) (10 1) (20 0))", 5, 0.5, "((0.0000 0.0000) (10.0000 1.0000) (20.0000 0.0000) )"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const Ref<TIEFuzzySet> set = Eval(c.text);
    EXPECT_NEAR(set->DegreeOfMembership(c.x), c.membership, 1e-12);
    EXPECT_EQ(set->ToString(), c.printed);
    EXPECT_EQ(set->Variable(), Variable("temp"));
  }
}

TEST_F(FuzzyInferenceTest, MalformedExpressionsSayWhatIsWrong) {
  const std::pair<const char*, std::string> kCases[] = {
      {"warm", "Invalid item in fuzzy expression: warm"},
      {"very", "Missing fuzzy operand to be modified by hedge: very"},
      {"cold and", "Invalid item in fuzzy expression: and"},
      {"cold hot", "Invalid item in fuzzy expression: hot"},
      {"12", "Invalid item in fuzzy expression: 12"},
      {"((0 0) (10 2))", "invalid fuzzy value"},
      {"((0 a))", "Expected number, variable, or function call"},
      {"calm", "Invalid item in fuzzy expression: calm"},  // a term of another variable
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.first);
    EXPECT_THAT(ErrorOf([&] { Eval(c.first); }), HasSubstr(c.second));
  }
  EXPECT_EQ(ErrorOf([&] { E().EvalFuzzyExpression(nullptr, "cold"); }),
            "fuzzy variable is not defined");
  // The words may come as a list of values too.
  const Ref<TValueVector> words = MakeRef<TValueVector>(
      std::vector<Ref<IIEValue>>{TIEValue::Atom("very"), TIEValue::Atom("hot")});
  EXPECT_EQ(E().EvalFuzzyExpression(Variable("temp"), *words)->ToString(), "very hot");
  // A value of another variable does not mix in.
  const Ref<IIEValue> calm = MakeRef<TIEValue>(Ref<IMembershipSet>(Variable("mood")->Term("calm")));
  EXPECT_THAT(ErrorOf([&] { E().EvalFuzzyExpression(Variable("temp"), *calm); }),
              HasSubstr("Fuzzy variables are different, calm is a term from mood"));
}

TEST_F(FuzzyInferenceTest, LongAndDeepExpressionsStayBounded) {
  // Hedges upon hedges: no recursion per hedge, and no growth past a bound.
  std::string hedged;
  for (int i = 0; i < 20000; ++i) {
    hedged += "very ";
  }
  const Ref<TIEFuzzySet> set = Eval(hedged + "cold");
  EXPECT_LE(set->Count(), static_cast<int>(4 * TMembershipSet::kMaxHedgedPoints));
  EXPECT_DOUBLE_EQ(set->DegreeOfMembership(0), 1);
  EXPECT_DOUBLE_EQ(set->DegreeOfMembership(25), 0);  // 0.5 to a huge power
  // Groups nested past the limit are refused, not followed down the stack.
  std::string deep;
  for (int i = 0; i < 5000; ++i) {
    deep += "(not ";
  }
  deep += "cold" + std::string(5000, ')');
  EXPECT_THAT(ErrorOf([&] { Eval(deep); }), HasSubstr("nesting deeper than 1000 levels"));
  std::string nested = "cold";
  for (int i = 0; i < 200; ++i) {
    nested = "(not " + nested + ")";
  }
  EXPECT_DOUBLE_EQ(Eval(nested)->DegreeOfMembership(0), 1);  // an even number of nots
  EXPECT_EQ(Eval("cold")->ToString(), "cold");  // and the engine goes on
}

TEST_F(FuzzyInferenceTest, FuzzySlotsHoldValuesOfTheirVariable) {
  E().Parse("(assert (room (name a) (t very cold)))"
            "(assert (zones (name z) (ts cold (very hot) (not hot))))",
            true);
  const TIEFuzzySet& a = SetIn(FactWithId(1), "t");
  EXPECT_EQ(a.Variable(), Variable("temp"));
  EXPECT_EQ(a.ToString(), "very cold");
  EXPECT_EQ(FactWithId(1).ToString(), "(room (name a) (t very cold))");
  // A multislot holds one value per field.
  const IValueVector& ts = *FactWithId(2).GetValue("ts")->AsList();
  ASSERT_EQ(ts.ValueCount(), 3);
  EXPECT_EQ(FuzzySetOf(*ts.Get(1))->Variable(), Variable("temp"));
  EXPECT_EQ(FactWithId(2).ToString(), "(zones (name z) (ts cold (very hot) (not hot) ))");
  EXPECT_THAT(ParseError("(assert (zones (ts very hot)))"),
              HasSubstr("Missing fuzzy operand to be modified by hedge: very"));

  // A word stored into a fuzzy slot later is read the same way.
  const Ref<IFact> fact(&FactWithId(1));  // held: the modification retracts it
  E().BeginFactModify(*fact);
  fact->SetValue("t", TIEValue::Atom("hot"));
  const std::int32_t id = E().EndFactModify(fact);
  EXPECT_EQ(SetIn(FactWithId(id), "t").ToString(), "hot");
}

TEST_F(FuzzyInferenceTest, BadFuzzyValuesAreRefusedAndChangeNothing) {
  E().Parse("(assert (room (name a) (t cold)))", true);
  const int facts = E().Facts().Count();
  const std::pair<const char*, const char*> kCases[] = {
      {"(assert (room (name b) (t warm)))", "Invalid item in fuzzy expression: warm"},
      {"(assert (room (name b) (t ((0 1) (150 0)))))",
       "lies outside the universe of discourse of temp (0.0000 to 100.0000)"},
      {"(assert (room (name b) (t very)))", "Missing fuzzy operand to be modified by hedge"},
      {"(deftemplate bad (slot v (type FUZZY INTEGER)))",
       "Cannot mix fuzzy type with other primitive types"},
      {"(deftemplate bad (slot v (type temp) (range 0 1)))",
       "Invalid attempt to modify fuzzy type in fact template slot"},
      {"(deftemplate bare (slot v (type FUZZY))) (assert (bare (v cold)))",
       "Fuzzy Type Definition needed to parse value"},
      {"(deftype bad extends (type FUZZY) (range 10 0))",
       "Invalid low and high limits specified: 10.0000 to 0.0000"},
      {"(deftype bad extends (type FUZZY) (range 0 10) (values (term x ((0 1) (20 0)))))",
       "Term x lies outside the universe of discourse 0.0000 to 10.0000"},
      {"(deftype bad extends (type FUZZY) (colour red))",
       "Missing keyword.  Expected \"range, units, or values\""},
  };
  for (const auto& [text, message] : kCases) {
    SCOPED_TRACE(text);
    EXPECT_THAT(ParseError(text), HasSubstr(message));
    EXPECT_EQ(E().Facts().Count(), facts);
    EXPECT_EQ(E().DefinedTypes().Get("bad"), nullptr);
  }
  EXPECT_EQ(SetIn(FactWithId(1), "t").ToString(), "cold");
}

TEST_F(FuzzyInferenceTest, PatternsMatchByDegreeAndActivationsCarryTheStrength) {
  E().Parse("(defrule cold-room (room (name ?n) (t cold)) => )"
            "(defrule cold-and-mid (room (name ?n) (t cold)) (heat (name ?n) (level mid)) => )"
            // The triangle's rising side (x - 10) / 10 crosses cold, 1 - x / 50,
            // at x = 50 / 3, where both are 2 / 3: the degree of the match.
            "(assert (room (name a) (t ((10 0) (20 1) (30 0)))))"
            // Nowhere near cold: degree 0, no match at any threshold.
            "(assert (room (name b) (t ((60 0) (70 1) (80 0)))))"
            // Level 0.3 everywhere: degree 0.3 against mid, the weaker of the two.
            "(assert (heat (name a) (level ((0 0.3) (100 0.3)))))",
            true);
  const std::vector<std::string> expected = {"0 cold-and-mid : f-1, f-3 (0.3000)",
                                             "0 cold-room : f-1 (0.6667)"};
  EXPECT_EQ(Strengths(), expected);

  // Below the minimum strength no activation is made.
  E().Reset();
  E().SetMinActivationStrength(0.4f);
  E().Parse("(assert (room (name a) (t ((10 0) (20 1) (30 0)))))"
            "(assert (heat (name a) (level ((0 0.3) (100 0.3)))))",
            true);
  EXPECT_EQ(Strengths(), std::vector<std::string>{"0 cold-room : f-1 (0.6667)"});

  // Values are equal above the equality threshold only.
  E().Reset();
  E().SetMinActivationStrength(0);
  E().SetFuzzyEqualsThreshold(0.7f);
  E().Parse("(assert (room (name a) (t ((10 0) (20 1) (30 0)))))", true);
  EXPECT_TRUE(Strengths().empty());
}

TEST_F(FuzzyInferenceTest, AVariableJoinsFuzzySlotsByDegree) {
  E().Parse("(defrule alike (room (name ?n) (t ?x)) (heat (name ?n) (level ?x)) => )"
            "(defrule any-alike (room (t ?x)) (heat (level ?x)) => )"
            "(assert (room (name a) (t cold)) (heat (name a) (level very cold)))"
            // Sets that never overlap are not equal: no match for b.
            "(assert (room (name b) (t cold)) (heat (name b) (level hot)))",
            true);
  // cold and very cold agree fully at 0; the join compares, it does not weaken.
  EXPECT_THAT(Strengths(), ::testing::UnorderedElementsAre("0 any-alike : f-3, f-2 (1.0000)",
                                                          "0 alike : f-1, f-2 (1.0000)",
                                                          "0 any-alike : f-1, f-2 (1.0000)"));
}

TEST_F(FuzzyInferenceTest, WhatARuleAssertsIsCorrelatedWithItsStrength) {
  E().Parse("(defrule heat-cold (room (name ?n) (t cold)) => (assert (heat (name ?n) (level hot))))"
            "(assert (room (name a) (t ((0 0) (50 1) (100 0)))))",
            true);
  // The room meets cold where x / 50 = 1 - x / 50: strength 0.5.
  const struct {
    TFuzzyCorrelationKind kind;
    double at_100;  // hot is 1 at 100
    double at_75;   // hot is 0.5 at 75
  } kCases[] = {{TFuzzyCorrelationKind::fcMinimum, 0.5, 0.5},
                {TFuzzyCorrelationKind::fcProduct, 0.5, 0.25}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(FuzzyCorrelationKindName(c.kind));
    E().SetFuzzyCorrelationMethod(c.kind);
    E().Reset();
    E().Parse("(assert (room (name a) (t ((0 0) (50 1) (100 0)))))", true);
    E().Run();
    const IFact* heat = nullptr;
    E().ForEachFact([&](IFact& f) { heat = f.Template()->TemplateName() == "heat" ? &f : heat; });
    ASSERT_NE(heat, nullptr);
    const TIEFuzzySet& level = SetIn(*heat, "level");
    EXPECT_NEAR(level.DegreeOfMembership(100), c.at_100, 1e-12);
    EXPECT_NEAR(level.DegreeOfMembership(75), c.at_75, 1e-12);
    EXPECT_LE(level.Height(), 0.5);
  }
}

TEST_F(FuzzyInferenceTest, CorrelationLeavesAFullStrengthAloneAndRefusesCrispFacts) {
  Ref<IFact> fact = Fact("(room (name a) (t hot))");
  E().FuzzyCorrelation(*fact, 1.0f);
  EXPECT_EQ(fact->GetValue("t")->ToString(), "hot");
  E().FuzzyCorrelation(*fact, 0.8f);
  EXPECT_NEAR(SetIn(*fact, "t").Height(), 0.8, 1e-6);  // a single-precision strength

  Ref<IFact> plain = Fact("(plain (x 1))");
  EXPECT_EQ(ErrorOf([&] { E().FuzzyCorrelation(*plain, 0.5f); }), "Fact is not a fuzzy fact");

  // A handler that says it is done keeps the fact as it was.
  float seen = 0;
  E().OnFuzzyCorrelation = [&](TInferenceEngine&, IFact&, float strength, bool& done) {
    seen = strength;
    done = true;
  };
  Ref<IFact> other = Fact("(room (name b) (t hot))");
  E().FuzzyCorrelation(*other, 0.25f);
  EXPECT_EQ(seen, 0.25f);
  EXPECT_EQ(other->GetValue("t")->ToString(), "hot");
}

// Two sets that overlap unevenly: at 50 the first is 0.8 and the second 0.3;
// the sum of the two rises to 1.1 there, its highest.
TEST_F(FuzzyInferenceTest, AFuzzyFactMeetingAnEqualOneIsCombinedByTheMethod) {
  constexpr char kFirst[] = "(room (name a) (t ((0 0) (50 0.8) (100 0))))";
  constexpr char kSecond[] = "(room (name a) (t ((0 0.6) (100 0))))";
  const struct {
    TFuzzyInferenceKind method;
    bool intersection;
    double at_50;
  } kCases[] = {
      {TFuzzyInferenceKind::fiMinMax, false, 0.8},
      {TFuzzyInferenceKind::fiSum, false, 1.0},  // 1.1 scaled down to 1
      {TFuzzyInferenceKind::fiMean, false, 0.55},
      {TFuzzyInferenceKind::fiProduct, false, 0.86},  // 0.8 + 0.3 - 0.24
      {TFuzzyInferenceKind::fiBoundedSum, false, 1.0},
      {TFuzzyInferenceKind::fiMinMax, true, 0.3},
      {TFuzzyInferenceKind::fiMean, true, 0.55},
      {TFuzzyInferenceKind::fiProduct, true, 0.24},
      {TFuzzyInferenceKind::fiBoundedSum, true, 0.1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(FuzzyInferenceKindName(c.method)) +
                 (c.intersection ? " intersection" : " union"));
    E().Reset();
    E().Assert(Fact(kFirst));
    std::vector<std::string> retracted;
    E().OnRetraction = [&](TInferenceEngine&, IFact& f) { retracted.push_back(f.ToString()); };
    const std::int32_t id = E().Assert(Fact(kSecond), c.method, c.intersection);
    E().OnRetraction = nullptr;
    EXPECT_EQ(retracted.size(), 1u);
    EXPECT_EQ(E().Facts().Count(), 2);  // the initial fact and the combined one
    EXPECT_NEAR(SetIn(FactWithId(id), "t").DegreeOfMembership(50), c.at_50, 1e-12);
    EXPECT_EQ(E().FuzzyInferenceMethod(), TFuzzyInferenceKind::fiMinMax);  // restored
  }
  // Facts that differ in a crisp slot are not combined.
  E().Reset();
  E().Assert(Fact(kFirst));
  E().Assert(Fact("(room (name b) (t ((0 0.6) (100 0))))"));
  EXPECT_EQ(E().Facts().Count(), 3);
}

TEST_F(FuzzyInferenceTest, AnInferenceHandlerMayCombineTheFactsItself) {
  E().Assert(Fact("(room (name a) (t cold))"));
  E().OnFuzzyInference = [](TInferenceEngine&, IFact& fact, const IFact& existing, bool& done) {
    fact.SetValue("t", Ref<IIEValue>(existing.GetValue("t")));  // the old value stands
    done = true;
  };
  const std::int32_t id = E().Assert(Fact("(room (name a) (t hot))"));
  EXPECT_EQ(SetIn(FactWithId(id), "t").ToString(), "cold");
}

TEST_F(FuzzyInferenceTest, OperationsNeedTwoFuzzyFactsOfOneTemplate) {
  Ref<IFact> room = Fact("(room (name a) (t cold))");
  Ref<IFact> heat = Fact("(heat (name a) (level hot))");
  Ref<IFact> plain = Fact("(plain (x 1))");
  EXPECT_EQ(ErrorOf([&] { E().FuzzyOperation(*room, *heat, true); }),
            "Cannot union two facts with different fact templates: room and heat");
  EXPECT_EQ(ErrorOf([&] { E().FuzzyOperation(*plain, *plain, true); }),
            "Fact is not a fuzzy fact");
  EXPECT_EQ(room->GetValue("t")->ToString(), "cold");

  // Lists combine item by item when their lengths agree; anything else stays.
  const auto value = [&](const char* text) {
    return MakeRef<TIEValue>(Ref<IMembershipSet>(Eval(text)));
  };
  const auto list = [](std::vector<Ref<IIEValue>> items) {
    return MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(items))));
  };
  Ref<IIEValue> pair = list({value("cold"), value("hot")});
  TInferenceEngine::FuzzyUnion(pair, *list({value("hot"), value("cold")}),
                               TFuzzyCombineKind::fcZadeh);
  for (const Ref<IIEValue>& item : pair->AsList()->Values()) {
    EXPECT_DOUBLE_EQ(FuzzySetOf(*item)->DegreeOfMembership(100), 1);
    EXPECT_DOUBLE_EQ(FuzzySetOf(*item)->DegreeOfMembership(0), 1);
  }
  Ref<IIEValue> single = value("cold");
  const IIEValue* before = single.get();
  TInferenceEngine::FuzzyIntersection(single, *list({value("hot")}), TFuzzyCombineKind::fcZadeh);
  TInferenceEngine::FuzzyIntersection(single, *TIEValue::Integer(3), TFuzzyCombineKind::fcZadeh);
  EXPECT_EQ(single.get(), before);
  Ref<IIEValue> three = list({value("cold"), value("hot"), value("mid")});
  TInferenceEngine::FuzzyUnion(three, *list({value("hot")}), TFuzzyCombineKind::fcZadeh);
  EXPECT_EQ(three->ToString(), "cold hot mid ");
}

TEST_F(FuzzyInferenceTest, SettingsAreClampedAndReachEveryVariable) {
  EXPECT_FLOAT_EQ(E().FuzzyEqualsThreshold(), 0.01f);
  EXPECT_FLOAT_EQ(E().MinActivationStrength(), 0.0f);
  E().SetMinActivationStrength(1.5f);
  EXPECT_FLOAT_EQ(E().MinActivationStrength(), 1.0f);
  E().SetMinActivationStrength(-1);
  EXPECT_FLOAT_EQ(E().MinActivationStrength(), 0.0f);
  E().SetFuzzyEqualsThreshold(-0.2f);
  EXPECT_FLOAT_EQ(E().FuzzyEqualsThreshold(), 0.0f);
  E().SetFuzzyEqualsThreshold(0.7f);
  EXPECT_FLOAT_EQ(Variable("temp")->EqualsThreshold(), 0.7f);
  EXPECT_FLOAT_EQ(Variable("mood")->EqualsThreshold(), 0.7f);
  // A type declared later starts from the engine's threshold too.
  E().Parse("(deftype later extends (type FUZZY) (range 0 1))", true);
  EXPECT_FLOAT_EQ(Variable("later")->EqualsThreshold(), 0.7f);

  // A variable declared without terms gets low, medium and high unless told not to.
  EXPECT_EQ(Variable("later")->TermCount(), 3);
  EXPECT_NE(Variable("later")->FindTerm("medium"), nullptr);
  E().SetFuzzyAutoTerms(false);
  E().Parse("(deftype bare extends (type FUZZY) (range 0 1))", true);
  EXPECT_EQ(Variable("bare")->TermCount(), 0);
}

TEST_F(FuzzyInferenceTest, AFuzzyProgramSavesAndLoadsBack) {
  E().Parse("(deftype shaped \"a comment\" extends (type FUZZY) (range 0 10) (units \"deg C\")"
            "  (values (term lo ((0 1) (10 0))) (term not-lo not lo) (term both lo or not-lo)))"
            "(deftemplate probe (slot v (type shaped)) (multislot w (type shaped)))"
            "(defrule r (probe (v very lo) (w lo not-lo)) => )"
            "(assert (probe (v very lo) (w lo not-lo)))"
            "(assert (room (name a) (t ((0 0.123456) (100 0.5)))))",
            true);
  const std::string types = E().DefinedTypes().ToString();
  std::vector<std::string> facts;
  E().ForEachFact([&](IFact& f) { facts.push_back(f.ToString()); });
  const std::string file = ::testing::TempDir() + "fuzzy_save.clp";
  E().Parse("(save \"" + file + "\")", true);

  TInferenceEngine second(nullptr);
  second.Parse("(load \"" + file + "\")", true);
  EXPECT_EQ(second.DefinedTypes().ToString(), types);
  std::vector<std::string> loaded;
  second.ForEachFact([&](IFact& f) { loaded.push_back(f.ToString()); });
  EXPECT_EQ(loaded, facts);
  EXPECT_EQ(second.GetAgendaCount(), 1);
  // The computed set kept every digit.
  IFact* room = nullptr;
  second.ForEachFact([&](IFact& f) { room = f.Template()->TemplateName() == "room" ? &f : room; });
  ASSERT_NE(room, nullptr);
  EXPECT_DOUBLE_EQ(FuzzySetOf(*room->GetValue("t"))->Y(0), 0.123456);
}

}  // namespace
}  // namespace zephro

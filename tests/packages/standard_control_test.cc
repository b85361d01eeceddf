#include "zephro/packages/standard_control.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/functions/user_package.h"
#include "zephro/rules/rule.h"

#include "packages/standard_functions.h"
#include "testing/call_reader.h"
#include "testing/engine_fixture.h"
#include "testing/package_checks.h"

namespace zephro::testing {
namespace {

// An engine with the test functions of call_reader.h, evaluating expressions
// written as text.
class ControlTest : public ::testing::Test {
 protected:
  ControlTest() { AddTestFunctions(Engine()); }

  TInferenceEngine& Engine() { return fixture_.Engine(); }
  std::string Eval(std::string_view text) { return EvalToString(Engine(), text); }
  std::string Output() { return fixture_.TakeOutput(); }

  void RunSteps(const std::vector<EvalStep>& steps) { RunEvalSteps(fixture_, steps); }

  // A rule on the ordered facts (relation ?x) whose actions are `actions`.
  TRule& RuleWithActions(const char* name, const char* relation,
                         const std::vector<const char*>& actions) {
    TRule& rule = fixture_.Rule(name, {{relation, {V("x")}}});
    rule.BeginUpdate();
    for (const char* action : actions) {
      rule.AddAction(Ref<IFunCall>(ReadExpression(Engine(), action)->AsFunCall()));
    }
    rule.EndUpdate();
    return rule;
  }

  EngineFixture fixture_;
};

TEST(StandardControlTest, EveryFunctionIsCallableWithinItsLimits) {
  EngineFixture fixture;
  TUserPackage package(nullptr);
  AddStandardControlFunctions(package);
  // try's syntax text has a stray '>' after "[<expression>*".
  ExpectEveryFunctionKeepsItsLimits(package, fixture.Engine(), {"try"});
}

TEST_F(ControlTest, LogicAndComparisons) {
  RunSteps({
      {"(and)", "TRUE"},
      {"(or)", "FALSE"},
      {"(or 5)", "FALSE"},
      {"(and 5)", "TRUE"},
      {"(and TRUE FALSE)", "FALSE"},
      {"(or FALSE TRUE)", "TRUE"},
      {"(not FALSE)", "TRUE"},
      {"(not 0)", "FALSE"},
      {"(not)", "error: Too few arguments for not"},
      {"(not 1 2)", "error: Too many arguments for not"},
      {"(= 1 1.0)", "TRUE"},
      {"(eq 1 1.0)", "FALSE"},
      {"(eq* 1 1.0)", "TRUE"},
      {"(eq a a a)", "TRUE"},
      {"(eq a a b)", "FALSE"},
      {"(eq a)", "TRUE"},
      {"(eq abc \"abc\")", "FALSE"},
      {"(neq a b c)", "TRUE"},
      {"(neq a b a)", "FALSE"},
      {"(> 3 2 1)", "TRUE"},
      {"(> 3 1 2)", "FALSE"},
      {"(>= 3 3 2)", "TRUE"},
      {"(< 1 2.5 3)", "TRUE"},
      {"(<= 1 1 0)", "FALSE"},
      {"(= 2 2 3)", "FALSE"},
      {"(<> 1 2 1)", "FALSE"},
      {"(<> 1 2 3)", "TRUE"},
      {"(> 1)", "error: Too few arguments for >"},
      {"(= abc 1)", "error: Not a numeric type.  Value (abc) is a dtAtom type"},
  });
}

TEST_F(ControlTest, LogicStopsAtTheDecidingArgument) {
  RunSteps({
      {"(and FALSE (emit x))", "FALSE"},
      {"(or TRUE (emit x))", "TRUE"},
      {"(eq 1 2 (emit x))", "FALSE"},
      {"(neq 1 1 (emit x))", "FALSE"},
      {"(> 1 2 (emit x))", "FALSE"},
      {"(and TRUE (emit x))", "TRUE", "x "},
  });
}

// In a join, an ordering reads the matched slots in place (and falls back
// to ordinary evaluation for anything that is not a number at hand). Its
// verdict must be the one the same call gives evaluated on the same values as
// constants: a rule with the predicate fires exactly when that call is TRUE,
// and an argument that is no number makes the assertion fail as the call does.
TEST_F(ControlTest, PatternOrderingsDecideAsTheCallOnTheSameValues) {
  struct Values {
    const char* a;
    const char* b;
    const char* c;
  };
  const std::vector<Values> values = {
      {"1", "2", "3"},       {"2", "2", "3"},     {"3", "2", "1"},  {"1", "2.5", "2"},
      {"-1.5", "-1", "-1"},  {"2.0", "2", "2"},   {"1", "3", "2"},  {"\"4\"", "5", "6"},
      {"abc", "2", "3"},     {"2", "1", "abc"},   {"1", "2", "abc"},
  };
  // The predicate over slot a of the first fact and slots b, c of the second
  // (the test joins the two), with the constant 2 in some calls; the same
  // call with the values written in.
  struct Call {
    const char* in_pattern;
    std::string (*with_values)(const char* op, const Values& v);
  };
  const std::vector<Call> calls = {
      {"?a ?b", [](const char* op, const Values& v) {
         return std::string("(") + op + " " + v.a + " " + v.b + ")";
       }},
      {"?a ?b ?c", [](const char* op, const Values& v) {
         return std::string("(") + op + " " + v.a + " " + v.b + " " + v.c + ")";
       }},
      {"?a 2 ?c", [](const char* op, const Values& v) {
         return std::string("(") + op + " " + v.a + " 2 " + v.c + ")";
       }},
  };
  for (const char* op : {"<", "<=", ">", ">="}) {
    for (const Call& call : calls) {
      for (const Values& v : values) {
        const std::string expected = Eval(call.with_values(op, v));
        SCOPED_TRACE(call.with_values(op, v));
        ASSERT_EQ(Eval("(clear)"), "TRUE");
        Engine().Parse("(deftemplate q (slot a)) (deftemplate p (slot b) (slot c))");
        Engine().Parse(std::string("(defrule r (q (a ?a)) (p (b ?b) (c ?c&:(") + op + " " +
                       call.in_pattern + "))) =>)");
        ASSERT_THAT(Eval(std::string("(assert (q (a ") + v.a + ")))"),
                    ::testing::StartsWith("<Fact-"));
        const std::string asserted =
            Eval(std::string("(assert (p (b ") + v.b + ") (c " + v.c + ")))");
        if (expected.starts_with("error: ")) {
          EXPECT_THAT(asserted, ::testing::StartsWith("error: "));
          EXPECT_THAT(asserted, ::testing::HasSubstr(expected.substr(7)));
          continue;
        }
        ASSERT_THAT(asserted, ::testing::StartsWith("<Fact-"));
        EXPECT_EQ(Eval("(run)"), expected == "TRUE" ? "1" : "0");
      }
    }
  }
}

TEST_F(ControlTest, VariablesAndBranches) {
  RunSteps({
      {"(bind ?x 5)", "5"},
      {"?x", "5"},
      {"(bind ?x (+ ?x 1))", "6"},
      {"(__get-var ?x)", "6"},
      {"(__get-var x)", "6"},
      {"(__get-var unbound)", ""},
      {"(if FALSE then 1)", "FALSE"},
      {"(if TRUE then 1 2 else 3)", "2"},
      {"(if FALSE then 1 2 else 3)", "3"},
      {"(if 0 then 1)", "1"},
      {"(if TRUE 1)", "error: Syntax Error: Missing \"then\" in an IF statement"},
      {"(if TRUE then else 3)", "FALSE"},
      {"(if FALSE then else 3)", "3"},
      {"(if (> ?x 3) then (emit big) else (emit small))", "big", "big "},
  });
}

TEST_F(ControlTest, Loops) {
  RunSteps({
      {"(while FALSE do (emit x))", "FALSE"},
      {"(bind ?n 0)", "0"},
      {"(while (< ?n 3) do (emit ?n) (bind ?n (+ ?n 1)))", "FALSE", "0 1 2 "},
      {"(while (< ?n 5) (bind ?n (+ ?n 1)))", "FALSE"},
      {"?n", "5"},
      {"(foreach i (items) 1)", ""},
      {"(foreach i (items red green blue) (emit ?i))", "blue", "red green blue "},
      {"(foreach ?j (items 1 2) (* ?j 10))", "20"},
      {"(foreach i 5 1)", "error: Not a list type.  Value (5) is a dtInteger type"},
  });
}

TEST_F(ControlTest, TryCatchesErrorsAndRunsFinally) {
  RunSteps({
      {"(try (throw \"oops\") catch ?__ERROR)", "\"oops\""},
      {"(try (throw oops) except (emit caught) ?__ERROR)", "\"oops\"", "caught "},
      {"(try (emit a) (throw x) (emit b) finally (emit f))", "FALSE", "a f "},
      {"(try (emit a) finally (emit f) catch (emit c))", "f", "a f "},
      {"(try (not) catch ?__ERROR)", "\"Too few arguments for not\""},
      {"(try 1 2)", "error: Missing catch or finally statement for try block"},
      {"(try (throw x) finally (throw y) catch ?__ERROR)", "\"y\""},
      {"(throw \"plain\")", "error: plain"},
      {"(throw)", "error: Too few arguments for throw"},
  });
}

TEST_F(ControlTest, ReturnStopsSequencesAndTryKeepsIt) {
  RunSteps({
      {"(deffunction first-big ($?xs) (foreach x ?xs (if (> ?x 9) then (return ?x))) none)", ""},
      {"(first-big 1 20 30)", "20"},
      {"(first-big 1 2)", "none"},
      {"(deffunction guarded () (try (return inner) (emit no) finally (emit fin)) after)", ""},
      {"(guarded)", "inner", "fin "},
      {"(deffunction loop () (while TRUE (return (+ 1 2))))", ""},
      {"(loop)", "3"},
  });
}

TEST_F(ControlTest, ExitPassesTryAndReachesTheHost) {
  for (const char* text : {"(exit)", "(try (exit) catch 1)", "(try (exit) finally 1)"}) {
    SCOPED_TRACE(text);
    Ref<IIEValue> expression = ReadExpression(Engine(), text);
    EXPECT_THROW(expression->Resolve(&Engine().RootContext()), EExitRequest);
  }
  EXPECT_EQ(Eval("(and)"), "TRUE");
}

TEST_F(ControlTest, FactBaseCommands) {
  IFactTemplate& person = Engine().CreateFactTemplate("person");
  person.ClearSlots();
  person.AddSlot("name", TIEValue::Atom("nobody"));
  person.AddMultiSlot("tags", Ref<IIEValue>(&FCNilList()));
  RunSteps({
      {"(assert (a 1))", "<Fact-1>"},
      {"(assert (a 1))", "FALSE"},
      {"(assert)", "FALSE"},
      {"(bind ?v 7)", "7"},
      {"(assert (b x) (a ?v (+ 1 1)))", "<Fact-3>"},
      {"(get-slot-value 3)", "7 2 "},
      {"(assert (person (name Ann) (tags x y)))", "<Fact-4>"},
      {"(get-slot-value 4 name)", "Ann"},
      {"(modify 4 (name Bob) (tags p q r))", "<Fact-5>"},
      {"(get-slot-value 5 tags)", "p q r "},
      {"(get-slot-value 4 name)", "error: No Such Fact with ID=4 exists"},
      {"(modify 5 (tags (items s t) u))", "<Fact-6>"},
      {"(get-slot-value 6 tags)", "s t u "},
      {"(modify 6 (bogus 1))", "error: No such slot name: \"bogus\""},
      {"(get-slot-value 6 name)", "Bob"},
      {"(modify 999 (name x))", "error: No Such Fact with ID=999 exists"},
      {"(duplicate 6 (name Cy))", "<Fact-7>"},
      {"(get-slot-value 6 name)", "Bob"},
      {"(get-slot-value 7 tags)", "s t u "},
      {"(bind ?t z)", "z"},
      {"(duplicate 7 (tags ?t (items w)) (name ?t))", "<Fact-8>"},
      {"(get-slot-value 8 tags)", "z w "},
      {"(modify 8 (tags solo))", "<Fact-9>"},
      {"(get-slot-value 9 tags)", "solo "},
      {"(duplicate 6)", "error: Too few arguments for duplicate"},
      {"(get-slot-value \"f\")",
       "error: Invalid argument type for deffunction: \"dtString\".  "
       "Expected FactId, Fact"},
      {"(retract 999)", "TRUE"},
      {"(retract 1 3)", "TRUE"},
      {"(get-slot-value 1)", "error: No Such Fact with ID=1 exists"},
      {"(retract)", "error: Too few arguments for retract"},
  });
  EXPECT_EQ(Engine().Facts().Count(), 5);  // the initial fact, b, and persons 6, 7 and 9
  EXPECT_EQ(Eval("(retract *)"), "TRUE");
  EXPECT_EQ(Engine().Facts().Count(), 0);
}

TEST_F(ControlTest, StringFactCommandsParseThroughTheEngine) {
  RunSteps({
      {"(assert-string \"(c 1)\" \"(c 2)\")", "<Fact-2>"},
      {"(assert-string \"(c 2)\")", "<Fact--1>"},
      {"(retract-string \"(c 1)\" \"(c 9)\")", "TRUE"},
      {"(retract-string)", "TRUE"},
  });
  EXPECT_EQ(Engine().Facts().Count(), 2);
}

TEST_F(ControlTest, EngineSettingsAndStorage) {
  RunSteps({
      {"(version)", "2.7000"},
      {"(store k 5)", "5"},
      {"(fetch k)", "5"},
      {"(fetch missing)", ""},
      {"(store k nil)", ""},
      {"(fetch k)", ""},
      {"(store j (items 1 2))", "1 2 "},
      {"(clear-storage)", ""},
      {"(fetch j)", ""},
      {"(get-fact-duplication)", "TRUE"},
      {"(set-fact-duplication FALSE)", "TRUE"},
      {"(get-fact-duplication)", "FALSE"},
      {"(set-fact-duplication TRUE)", "FALSE"},
      {"(get-fact-duplication)", "TRUE"},
      {"(set-fact-duplication FALSE)", "TRUE"},
      {"(watch Rules)", "error: Cannot watch Rules"},
      {"(unwatch bogus)", "error: Cannot unwatch bogus"},
  });
  EXPECT_TRUE(Engine().FactDuplication());
}

TEST_F(ControlTest, WatchAndUnwatchChangeTheWatchSet) {
  using enum TConstructWatch;
  struct Row {
    const char* expression;
    TConstructWatches after;
  };
  const Row kRows[] = {
      {"(watch facts)", {cwFact}},
      {"(watch rules)", {cwFact, cwRule}},
      {"(unwatch facts)", {cwRule}},
      {"(watch all)", {cwActivation, cwFact, cwRule, cwCompilation, cwStatistics}},
      {"(unwatch statistics)", {cwActivation, cwFact, cwRule, cwCompilation}},
      {"(unwatch all)", {}},
      {"(watch activations)", {cwActivation}},
      {"(watch compilations)", {cwActivation, cwCompilation}},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.expression);
    EXPECT_EQ(Eval(row.expression), "TRUE");
    EXPECT_EQ(Engine().Watch(), row.after);
  }
}

TEST_F(ControlTest, GensymGivesNewSymbols) {
  const std::string a = Eval("(gensym*)");
  const std::string b = Eval("(gensym*)");
  EXPECT_THAT(a, ::testing::StartsWith("gen"));
  EXPECT_THAT(b, ::testing::StartsWith("gen"));
  EXPECT_NE(a, b);
}

TEST_F(ControlTest, BackwardChainingMakesGoalTemplates) {
  EXPECT_EQ(Eval("(do-backward-chaining weather (sym-of cold))"),
            "error: Function is unimplemented or unassigned: sym-of");
  EXPECT_EQ(Eval("(do-backward-chaining weather season)"), "TRUE");
  for (const char* name : {"weather", "season"}) {
    SCOPED_TRACE(name);
    IFactTemplate* t = Engine().FindFactTemplate(name);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->IsBackwardChaining());
    IFactTemplate* goal = Engine().FindFactTemplate(std::string("need-") + name);
    ASSERT_NE(goal, nullptr);
    EXPECT_FALSE(goal->IsBackwardChaining());
    EXPECT_EQ(goal->Comment(), std::string("Goal seeker for ") + name);
    EXPECT_EQ(goal->Parent(), t);
  }
  EXPECT_EQ(Eval("(do-backward-chaining test)"), "error: Cannot backchain on special CEs: test");
  EXPECT_EQ(Eval("(do-backward-chaining not)"), "error: Cannot backchain on special CEs: not");
}

TEST_F(ControlTest, HaltStopsTheRunAfterTheCurrentRule) {
  RuleWithActions("stop", "a", {"(emit ?x)", "(halt)", "(emit after)"});
  fixture_.Assert("a", {TIEValue::Integer(1)});
  fixture_.Assert("a", {TIEValue::Integer(2)});
  EXPECT_EQ(Eval("(run)"), "1");
  EXPECT_EQ(Output(), "2 after ");
  EXPECT_EQ(Eval("(run)"), "1");
  EXPECT_EQ(Output(), "1 after ");
}

TEST_F(ControlTest, RunWithLimitAndFromInsideARule) {
  RuleWithActions("nested", "a", {"(emit (run))"});
  for (std::int32_t i = 1; i <= 3; ++i) {
    fixture_.Assert("a", {TIEValue::Integer(i)});
  }
  EXPECT_EQ(Eval("(run 2)"), "2");
  EXPECT_EQ(Output(), "0 0 ");
  EXPECT_EQ(Eval("(run)"), "1");
}

TEST_F(ControlTest, ClearIsRefusedInsideARuleAndResetIsNot) {
  RuleWithActions("wipe", "a", {"(clear)"});
  RuleWithActions("restart", "b", {"(reset)", "(emit reset)"});
  fixture_.Assert("a", {TIEValue::Integer(1)});
  EXPECT_EQ(Eval("(run)"), "error: clear error: cannot clear the engine while a rule is firing");
  fixture_.Assert("b", {TIEValue::Integer(1)});
  EXPECT_EQ(Eval("(run)"), "1");
  EXPECT_EQ(Output(), "reset ");
  EXPECT_EQ(Engine().Facts().Count(), 1);  // the initial fact
  EXPECT_EQ(Eval("(clear)"), "TRUE");
  EXPECT_EQ(Engine().Facts().Count(), 0);
  EXPECT_EQ(Engine().FindRule("wipe"), nullptr);
}

}  // namespace
}  // namespace zephro::testing

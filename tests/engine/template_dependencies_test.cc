// What depends on a template: the dependency test over rules, calls and
// values, renaming a template, and building dependents again from their text.

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/function_call.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using testing::FactTexts;
using testing::MessageOf;

std::vector<std::string> RuleNames(const TInferenceEngine& e) {
  std::vector<std::string> names;
  for (const auto& [name, rule] : e.Rules()) {
    names.push_back(name);
  }
  return names;
}

TEST(TemplateDependenciesTest, RulesCallsAndValuesDependOnATemplate) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse(
      "(deftemplate t (slot a)) (deftemplate u (slot a))"
      "(defrule on-pattern (t (a ?x)) => )"
      "(defrule on-action (u (a ?x)) => (assert (t (a ?x))))"
      "(defrule nested (u (a ?x)) => (if (> ?x 1) then (assert (t (a 1)))))"
      "(defrule neither (u (a ?x)) => (printout t ?x crlf))");
  const IFactTemplate& t = *e.FindFactTemplate("t");
  const IFactTemplate& u = *e.FindFactTemplate("u");
  struct RuleCase {
    const char* rule;
    bool on_t;
    bool on_u;
  };
  const RuleCase kRules[] = {
      {"on-pattern", true, false},
      {"on-action", true, true},
      {"nested", true, true},
      {"neither", false, true},
  };
  for (const RuleCase& c : kRules) {
    SCOPED_TRACE(c.rule);
    EXPECT_EQ(e.IsDependent(*e.FindRule(c.rule), t), c.on_t);
    EXPECT_EQ(e.IsDependent(*e.FindRule(c.rule), u), c.on_u);
  }

  Ref<IIEValue> fact_of_t = MakeRef<TIEValue>(e.FindFactTemplate("t")->NewFact());
  Ref<IIEValue> list = MakeRef<TIEValue>(Ref<IValueVector>(
      MakeRef<TValueVector>(std::vector<Ref<IIEValue>>{TIEValue::Integer(1), fact_of_t})));
  Ref<IFunCall> inner = MakeFunCall(e, "assert");
  inner->AddArgument(list);
  Ref<IFunCall> outer = MakeFunCall(e, "progn");
  outer->AddArgument(TIEValue::Atom("x"));
  outer->AddArgument(MakeRef<TIEValue>(inner));
  Ref<IFunCall> plain = MakeFunCall(e, "progn");
  plain->AddArgument(TIEValue::Integer(2));
  struct ValueCase {
    const char* what;
    Ref<IIEValue> value;
    bool on_t;
  };
  const ValueCase kValues[] = {
      {"a fact of t", fact_of_t, true},
      {"a fact of u", MakeRef<TIEValue>(e.FindFactTemplate("u")->NewFact()), false},
      {"a list holding one", list, true},
      {"a call holding a call holding one", MakeRef<TIEValue>(outer), true},
      {"a call without", MakeRef<TIEValue>(plain), false},
      {"an atom named t", TIEValue::Atom("t"), false},
      {"an integer", TIEValue::Integer(1), false},
  };
  for (const ValueCase& c : kValues) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(e.IsDependent(*c.value, t), c.on_t);
  }
  EXPECT_TRUE(e.IsDependent(*outer, t));
  EXPECT_FALSE(e.IsDependent(*outer, u));
}

constexpr char kCars[] =
    "(deftemplate car (slot c))"
    "(deftemplate other (slot x))"
    "(defrule see-car (car (c ?c)) => )"
    "(defrule see-other (other (x ?x)) => )"
    "(defrule make-car (other (x ?x)) => (assert (car (c ?x))))"
    "(deffacts start (car (c red)) (other (x 1)))";

TEST(TemplateDependenciesTest, ARenamedTemplateLosesItsDependents) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse(kCars);
  e.Reset();
  std::vector<std::string> events;
  e.OnRemoveFactTemplate = [&](TInferenceEngine&, IFactTemplate& t) {
    events.push_back("-" + t.TemplateName());
  };
  e.OnNewFactTemplate = [&](TInferenceEngine&, IFactTemplate& t) {
    events.push_back("+" + t.TemplateName());
  };
  IFactTemplate* car = e.FindFactTemplate("car");
  e.ChangeFactTemplateName("car", "auto");
  EXPECT_EQ(e.FindFactTemplate("car"), nullptr);
  EXPECT_EQ(e.FindFactTemplate("auto"), car);
  EXPECT_EQ(car->TemplateName(), "auto");
  EXPECT_EQ(car->Owner(), &e);
  EXPECT_EQ(events, (std::vector<std::string>{"-car", "+auto"}));
  EXPECT_EQ(FactTexts(e), (std::vector<std::string>{"(Initial-Fact)", "(other (x 1))"}));
  EXPECT_EQ(RuleNames(e), (std::vector<std::string>{"see-other"}));
  ASSERT_EQ(e.FactSets().Count(), 1);
  EXPECT_EQ(e.FactSets()[0].Count(), 1);
  // Facts of the new name go in as usual.
  e.Assert("(auto (c blue))");
  EXPECT_EQ(e.Facts().Count(), 3);
  e.OnRemoveFactTemplate = nullptr;
  e.OnNewFactTemplate = nullptr;
}

TEST(TemplateDependenciesTest, RenamingChecksBeforeItChangesAnything) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse(kCars);
  e.Reset();
  const std::vector<std::string> facts = FactTexts(e);
  const std::vector<std::string> rules = RuleNames(e);
  struct Case {
    const char* old_name;
    const char* new_name;
    TDuplicateConstructs setting;
    const char* error;
  };
  using enum TDuplicateConstructs;
  const Case kCases[] = {
      {"", "x", dcOverwrite, ""},
      {"nosuch", "x", dcOverwrite, ""},
      {"car", "car", dcOverwrite, ""},
      {"car", "a b", dcOverwrite, "a b contains unexpected character: \" \""},
      {"car", "other", dcError, "Fact Template Name already exists: \"other\""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.old_name) + " -> " + c.new_name);
    e.SetDuplicateConstructs(c.setting);
    EXPECT_EQ(MessageOf([&] { e.ChangeFactTemplateName(c.old_name, c.new_name); }), c.error);
    EXPECT_NE(e.FindFactTemplate("car"), nullptr);
    EXPECT_EQ(FactTexts(e), facts);
    EXPECT_EQ(RuleNames(e), rules);
  }
}

TEST(TemplateDependenciesTest, DependentsThatNoLongerFitAreDropped) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(deftemplate p (slot x)) (assert (p (x 1)) (p (x 5)))");
  Ref<IFact> one(&e.Facts()[1]);
  Ref<IFact> gone = e.ParseFact("(p (x 9))");  // never asserted
  e.SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
  const std::vector<TInferenceEngine::TDependent> dependents = {
      {"(p (x 1))", one},                       // put in place of the old one
      {"(p (y 2))", gone},                      // no slot y: dropped
      {"(defrule broken (p (z ?z)) => )", {}},  // dropped
      {"(defrule good (p (x ?x)) => )", {}},
      {"(p (x 3))", gone},
      {"(p (x 5))", gone},  // a duplicate: not asserted
  };
  e.UpdateDependencies(dependents);
  EXPECT_EQ(e.ParserErrorHandling(), TErrorHandling::ehRaiseAllAtEnd);
  EXPECT_EQ(FactTexts(e),
            (std::vector<std::string>{"(Initial-Fact)", "(p (x 5))", "(p (x 1))", "(p (x 3))"}));
  EXPECT_EQ(one->Holder(), nullptr);  // the old fact left working memory
  EXPECT_EQ(RuleNames(e), (std::vector<std::string>{"good"}));
  // The rule built again sees the facts.
  EXPECT_EQ(e.GetAgendaCount(), 3);
}

TEST(TemplateDependenciesTest, ADependentFactTakesTheOldOnesPlace) {
  testing::EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(assert (q 1) (q 2))");
  Ref<IFact> old(&e.Facts()[1]);
  EXPECT_EQ(e.UpdateDependentFact(*old, e.ParseFact("(q 3)")), 3);
  EXPECT_EQ(FactTexts(e), (std::vector<std::string>{"(Initial-Fact)", "(q 2 )", "(q 3 )"}));
  // Not in working memory: only the new one is asserted, unless it is a duplicate.
  EXPECT_EQ(e.UpdateDependentFact(*old, e.ParseFact("(q 2)")), -1);
  EXPECT_EQ(e.Facts().Count(), 3);
}

}  // namespace
}  // namespace zephro

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "zephro/functions/function_call.h"
#include "zephro/rules/activation.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"
#include "testing/language_fixture.h"

namespace zephro::testing {
namespace {

// A rule whose action raises still uses up its activation: the error reaches
// the caller of Run, the agenda and the network forget the activation, and
// working memory can be reset and run again.
TEST(ActivationFireTest, AnActionThatRaisesUsesTheActivationUp) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  TRule& rule = fx.Rule("broken", {{"a", {V("x")}}});
  rule.BeginUpdate();
  rule.AddAction(MakeFunCall(e, "no-such-function"));
  rule.EndUpdate();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    fx.Assert("a", {TIEValue::Integer(1)});
    fx.Assert("a", {TIEValue::Integer(2)});
    ASSERT_EQ(e.GetAgendaCount(), 2);
    EXPECT_THROW(e.Run(), EIEException);
    EXPECT_EQ(e.GetAgendaCount(), 1);
    e.Reset();
    EXPECT_EQ(e.GetAgendaCount(), 0);
  }
}

// Every firing starts from the rule's bindings alone, whatever the previous
// firing bound; the rule keeps one context for its firings, and a firing from
// inside a firing of the same rule gets another, leaving the outer one as it was.
TEST(ActivationFireTest, EachFiringStartsWithTheRuleBindingsAlone) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  TRule& rule = fx.Rule("r", {{"a", {V("x")}}});
  struct Seen {
    TIEContext* context;
    std::vector<std::string> names;
    std::int32_t x;
  };
  std::vector<Seen> seen;
  int depth = 0;
  rule.OnFire = [&](TRule& r, TIEContext& context) {
    Seen s{&context, {}, context.GetVariable("x")->AsInteger()};
    for (const auto& b : context.Bindings()) {
      s.names.emplace_back(b->Name());
    }
    seen.push_back(s);
    context.AddLocalBinding("extra" + std::to_string(depth), TIEValue::Integer(depth));
    if (depth == 0 && seen.size() == 1) {
      ++depth;
      r.Fire(e.FiringActivation()->Token());
      --depth;
      EXPECT_EQ(context.GetVariable("x")->AsInteger(), s.x);
      EXPECT_NE(context.FindBinding("extra0"), nullptr);
      EXPECT_EQ(context.FindBinding("extra1"), nullptr);
    }
  };
  fx.Assert("a", {TIEValue::Integer(1)});
  fx.Assert("a", {TIEValue::Integer(2)});
  ASSERT_EQ(e.Run(), 2);
  ASSERT_EQ(seen.size(), 3u);
  const std::vector<std::string> fresh{"x", SRuleBinding};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].names, fresh);
  }
  EXPECT_EQ(seen[0].x, seen[1].x);  // the nested firing, same token
  EXPECT_NE(seen[0].x, seen[2].x);
  EXPECT_NE(seen[1].context, seen[0].context);
  EXPECT_EQ(seen[2].context, seen[0].context);
}

// A firing sees the name the rule has when it fires: a rename between two
// firings reaches the second, whether the rule or its engine is asked for it.
TEST(ActivationFireTest, AFiringSeesTheNameTheRuleHasNow) {
  for (const bool by_rule : {true, false}) {
    SCOPED_TRACE(by_rule);
    EngineFixture fx;
    TInferenceEngine& e = fx.Engine();
    TRule& rule = fx.Rule("first", {{"a", {V("x")}}});
    std::vector<std::string> names;
    rule.OnFire = [&](TRule&, TIEContext& context) {
      const TBinding* name = context.FindBinding(SRuleBinding);
      names.push_back(name != nullptr && name->Value() != nullptr ? name->Value()->AsString() : "");
    };
    for (const char* next : {"second", "third"}) {
      fx.Assert("a", {TIEValue::Integer(static_cast<std::int32_t>(names.size()))});
      ASSERT_EQ(e.Run(), 1);
      if (by_rule) {
        rule.SetRuleName(next);
      } else {
        e.RenameRule(rule.RuleName(), next);
      }
    }
    fx.Assert("a", {TIEValue::Integer(9)});
    ASSERT_EQ(e.Run(), 1);
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second", "third"}));
  }
}

// The firing context keeps the records of a firing's rule variables for the
// next firing, which gives them their new values in place. Whatever the
// previous firing did to the context, each firing sees the rule's variables
// alone, with this match's values: variables of a `not` pattern are left
// out, and what an action bound, rebound, removed or replaced is gone.
TEST(ActivationFireTest, FiringsRebindTheRecordsTheLastOneLeftWhateverItDidToThem) {
  struct TCase {
    const char* name;
    std::function<void(TIEContext&)> meddle;  // on the first firing
  };
  const std::vector<TCase> cases = {
      {"nothing", [](TIEContext&) {}},
      {"a rule variable rebound", [](TIEContext& c) { c.SetVariable("y", TIEValue::Integer(-7)); }},
      {"locals added",
       [](TIEContext& c) {
         for (int i = 0; i < 20; ++i) {  // past the size where the table indexes its names
           c.AddLocalBinding("local" + std::to_string(i), TIEValue::Integer(i));
         }
       }},
      {"a rule variable removed", [](TIEContext& c) { c.Bindings().Remove("x"); }},
      {"a rule variable removed, a local in its place",
       [](TIEContext& c) {
         c.Bindings().Remove("x");
         c.AddLocalBinding("q", TIEValue::Integer(0));
       }},
      {"a rule variable made a pattern binding",
       [](TIEContext& c) { c.AddBinding("y", 0, "y", NoSubIndex); }},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    ParserFixture f;
    TInferenceEngine& e = f.Engine();
    e.Parse(
        "(deftemplate a (slot x) (slot y)) (deftemplate b (slot x) (slot z))"
        "(defrule r ?f <- (a (x ?x) (y ?y)) (not (b (x ?x) (z ?z))) =>)"
        "(assert (a (x 1) (y 10)) (a (x 2) (y 20)) (a (x 3) (y 30)) (b (x 9) (z 0)))",
        true);
    TRule* rule = e.FindRule("r");
    ASSERT_NE(rule, nullptr);
    int firings = 0;
    std::vector<std::int32_t> xs;
    rule->OnFire = [&](TRule&, TIEContext& context) {
      std::vector<std::string> names;
      for (const auto& b : context.Bindings()) {
        names.emplace_back(b->Name());
      }
      EXPECT_EQ(names, (std::vector<std::string>{"f", "x", "y", SRuleBinding}));
      const std::int32_t x = context.GetVariable("x")->AsInteger();
      EXPECT_EQ(context.GetVariable("y")->AsInteger(), 10 * x);
      EXPECT_EQ(context.FindBinding("z"), nullptr);
      EXPECT_EQ(context.FindBinding("local3"), nullptr);
      xs.push_back(x);
      if (firings++ == 0) {
        test.meddle(context);
      }
    };
    ASSERT_EQ(e.Run(), 3);
    std::sort(xs.begin(), xs.end());
    EXPECT_EQ(xs, (std::vector<std::int32_t>{1, 2, 3}));
  }
}

}  // namespace
}  // namespace zephro::testing

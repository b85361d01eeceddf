#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zephro/functions/function_call.h"
#include "zephro/rules/activation.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"

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

}  // namespace
}  // namespace zephro::testing

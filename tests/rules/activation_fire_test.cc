#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zephro::testing

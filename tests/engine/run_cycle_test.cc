// The engine driven end to end through the C++ API alone: templates, rules
// and facts built in code, actions that are host-defined functions, output
// through OnPrintOut, and faults raised from actions.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "testing/engine_fixture.h"
#include "zephro/engine/io_streams.h"
#include "zephro/functions/function_call.h"
#include "zephro/functions/host_function.h"
#include "zephro/values/exceptions.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAre;

Ref<IIEValue> I(std::int32_t v) { return TIEValue::Integer(v); }

class RunCycleTest : public ::testing::Test {
 protected:
  RunCycleTest() {
    // (say x...) prints its arguments' values and a line break to "t".
    say_ = std::make_unique<TUserFunction>(nullptr, "say");
    say_->OnCall = [](TCustomUserFunction&, IFunCall& call, TIEContext& context,
                      Ref<IIEValue>& result) {
      std::string line;
      for (int i = 0; i < call.ArgumentCount(); ++i) {
        line += (i > 0 ? " " : "") + call.Argument(i)->Resolve(&context)->ToString();
      }
      context.Engine()->PrintOut("t", line + "\n");
      result = Ref<IIEValue>(&FCTrue());
    };
    say_->SetEngine(&fx_.Engine());
    // (fail) raises an engine error.
    fail_ = std::make_unique<TUserFunction>(nullptr, "fail");
    fail_->OnCall = [](TCustomUserFunction&, IFunCall&, TIEContext&, Ref<IIEValue>&) {
      RaiseIEPlain("action failed");
    };
    fail_->SetEngine(&fx_.Engine());
  }

  Ref<IFunCall> Call(const char* name, std::vector<Ref<IIEValue>> args) {
    auto call = MakeRef<TFunctionCall>(&fx_.Engine(), name);
    for (auto& a : args) {
      call->AddArgument(std::move(a));
    }
    return call;
  }

  EngineFixture fx_;
  std::unique_ptr<TUserFunction> say_;
  std::unique_ptr<TUserFunction> fail_;
};

TEST_F(RunCycleTest, RulesFireTheirActionsWithBoundVariables) {
  TRule& rule = fx_.Rule("greet", {{"person", {V("who")}}, {"likes", {V("who"), V("what")}}});
  rule.AddAction(Call("say", {TIEValue::Atom("hello"), MakeRef<TIEValue>("who", TIEType::dtVariable),
                              MakeRef<TIEValue>("what", TIEType::dtVariable)}));
  fx_.Assert("person", {TIEValue::Atom("ann")});
  fx_.Assert("likes", {TIEValue::Atom("ann"), TIEValue::Atom("tea")});
  fx_.Assert("likes", {TIEValue::Atom("bob"), TIEValue::Atom("jam")});
  EXPECT_EQ(fx_.Engine().Run(), 1);
  EXPECT_EQ(fx_.TakeOutput(), "hello ann tea\n");
}

TEST_F(RunCycleTest, AFailingActionEndsRunAndLeavesTheEngineUsable) {
  TRule& bad = fx_.Rule("bad", {{"a", {V("x")}}}, 10);
  bad.AddAction(Call("fail", {}));
  TRule& good = fx_.Rule("good", {{"b", {V("x")}}});
  good.AddAction(Call("say", {MakeRef<TIEValue>("x", TIEType::dtVariable)}));
  fx_.Assert("a", {I(1)});
  fx_.Assert("b", {I(2)});
  fx_.Assert("b", {I(3)});
  int ended = 0;
  fx_.Engine().OnEndInference = [&](TInferenceEngine&, int) { ++ended; };
  EXPECT_THROW(fx_.Engine().Run(), EIEException);
  EXPECT_EQ(ended, 0);
  // The failed activation is gone; the others wait.
  EXPECT_THAT(fx_.Agenda(), ElementsAre("good: f-3", "good: f-2"));
  // The lock was released: another thread could take it now.
  std::thread other([&] {
    fx_.Engine().Lock();
    fx_.Engine().Unlock();
  });
  other.join();
  EXPECT_EQ(fx_.Engine().Run(), 2);
  EXPECT_EQ(fx_.TakeOutput(), "3\n2\n");
  EXPECT_EQ(ended, 1);
}

TEST_F(RunCycleTest, ResetAssertsFactSetsAndInitialFactAgain) {
  fx_.Rule("r", {{"a", {V("x")}}});
  fx_.Assert("a", {I(1)});
  fx_.Engine().Reset();
  EXPECT_EQ(fx_.Engine().Facts().Count(), 1);
  EXPECT_EQ(fx_.Engine().GetAgendaCount(), 0);
  EXPECT_EQ(fx_.Assert("a", {I(1)}), 1);
  EXPECT_EQ(fx_.Engine().GetAgendaCount(), 1);
}

TEST_F(RunCycleTest, PrintOutRoutesByLogicalName) {
  TInferenceEngine& e = fx_.Engine();
  std::vector<std::string> ids;
  e.OnPrintOut = [&](TInferenceEngine&, std::string_view id, std::string_view) {
    ids.emplace_back(id);
  };
  e.PrintOut("t", "x");
  e.PrintOut("", "x");
  e.PrintOut("elsewhere", "x");
  EXPECT_THAT(ids, ElementsAre("t", "", "elsewhere"));
  // A registered stream takes its own output.
  auto stream = std::make_unique<TStringStream>();
  TStringStream* raw = stream.get();
  e.IOStreams().Add("log", std::move(stream));
  e.PrintOut("log", "line\n");
  EXPECT_EQ(raw->Text(), "line\n");
  EXPECT_EQ(ids.size(), 3u);
  // A capture takes the standard output only.
  auto capture = std::make_unique<std::ostringstream>();
  std::ostringstream* captured = capture.get();
  e.StartCapture(std::move(capture));
  e.PrintOut("t", "kept");
  e.PrintOut("other", "y");
  EXPECT_EQ(captured->str(), "kept");
  EXPECT_THAT(ids, ElementsAre("t", "", "elsewhere", "other"));
  e.StopCapture();
  // Without a handler, an unregistered name is an error.
  e.OnPrintOut = nullptr;
  EXPECT_THROW(e.PrintOut("nowhere", "x"), EIEException);
  e.PrintOut("t", "dropped");  // the standard output without a handler: nothing
}

TEST_F(RunCycleTest, ReadLineFromStreamsHandlerOrNothing) {
  TInferenceEngine& e = fx_.Engine();
  e.IOStreams().Add("in", std::make_unique<TStringStream>("first\nsecond\n"));
  EXPECT_EQ(e.ReadLine("in"), "first");
  EXPECT_EQ(e.ReadLine("in"), "second");
  EXPECT_EQ(e.ReadLine("in"), "");
  EXPECT_THROW(e.ReadLine("t"), EIEException);
  e.OnReadLine = [](TInferenceEngine&, std::string_view, std::string& text) { text = "typed"; };
  EXPECT_EQ(e.ReadLine("t"), "typed");
  EXPECT_THROW(e.IOStreams().Remove("unknown"), EIEException);
  e.SetDuplicateConstructs(TDuplicateConstructs::dcError);
  EXPECT_THROW(e.IOStreams().Add("in", std::make_unique<TStringStream>()), EIEException);
}

TEST_F(RunCycleTest, DuplicateRuleNamesFollowTheSetting) {
  TInferenceEngine& e = fx_.Engine();
  fx_.Rule("r", {{"a", {V("x")}}});
  e.SetDuplicateConstructs(TDuplicateConstructs::dcError);
  try {
    fx_.Rule("r", {{"b", {V("x")}}});
    FAIL() << "no error";
  } catch (const EIEException& error) {
    EXPECT_STREQ(error.what(), "Duplicate Rules defined with same name: \"r\"");
  }
  EXPECT_EQ(e.Rules().Count(), 1);
  e.SetDuplicateConstructs(TDuplicateConstructs::dcOverwrite);
  fx_.Rule("r", {{"b", {V("x")}}});
  EXPECT_EQ(e.Rules().Count(), 1);
  fx_.Assert("b", {I(1)});
  EXPECT_THAT(fx_.Agenda(), ElementsAre("r: f-1"));
}

}  // namespace
}  // namespace zephro::testing

namespace zephro::testing {
namespace {

TEST(EngineParseTest, ParseRuleAddsACompiledRule) {
  EngineFixture fx;
  TRule* rule = fx.Engine().ParseRule("(defrule seen (a ?x) => (printout t ?x crlf))");
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(fx.Engine().FindRule("seen"), rule);
  fx.Engine().Assert("(a 7)");
  EXPECT_EQ(fx.Engine().Run(), 1);
  EXPECT_EQ(fx.TakeOutput(), "7\n");
  EXPECT_THROW(fx.Engine().ParseRule("(defrule broken (a ?x) -> )"), EIEParseException);
  EXPECT_EQ(fx.Engine().Rules().Count(), 1);
}

}  // namespace
}  // namespace zephro::testing

#include "zephro/engine/inference_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "testing/engine_fixture.h"
#include "zephro/engine/engine_parts.h"
#include "zephro/facts/fact_template.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAre;

std::vector<Ref<IIEValue>> Ints(std::initializer_list<std::int32_t> values) {
  std::vector<Ref<IIEValue>> out;
  for (std::int32_t v : values) {
    out.push_back(TIEValue::Integer(v));
  }
  return out;
}

TEST(EngineTest, NewEngineHoldsTheInitialFact) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  ASSERT_EQ(e.Facts().Count(), 1);
  EXPECT_EQ(e.Facts()[0].GetID(), 0);
  EXPECT_EQ(e.Facts()[0].ToString(), "(Initial-Fact)");
  e.Clear();
  EXPECT_EQ(e.Facts().Count(), 0);
  e.Reset();
  ASSERT_EQ(e.Facts().Count(), 1);
  EXPECT_EQ(e.Facts()[0].GetID(), 0);
  EXPECT_EQ(fx.Assert("a", Ints({1})), 1);
}

TEST(EngineTest, DuplicatesAreRejectedWithoutConsumingAnId) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  int assertions = 0;
  e.OnAssertion = [&](TInferenceEngine&, IFact&) { ++assertions; };
  e.SetWatch({TConstructWatch::cwFact});
  EXPECT_EQ(fx.Assert("a", Ints({1})), 1);
  EXPECT_EQ(fx.Assert("a", Ints({1})), -1);
  EXPECT_EQ(assertions, 1);
  EXPECT_EQ(fx.TakeOutput(), " ==> f-1 (a 1 )\n");
  EXPECT_EQ(fx.Assert("a", Ints({2})), 2);
  e.SetFactDuplication(true);
  EXPECT_EQ(fx.Assert("a", Ints({1})), 3);
  e.SetFactDuplication(false);  // the cache is rebuilt from the facts present
  EXPECT_EQ(fx.Assert("a", Ints({2})), -1);
}

TEST(EngineTest, CollidingHashCodesKeepDistinctFactsApart) {
  EngineFixture fx;
  // Slot texts are hashed without separators, so (edge (from 51) (to 94))
  // and (edge (from 5) (to 194)) share a hash code but are not equal.
  auto edge = MakeRef<TFactTemplate>(&fx.Engine(), "edge", "", nullptr);
  edge->AddSlot("from", TIEValue::Integer(0));
  edge->AddSlot("to", TIEValue::Integer(0));
  fx.Engine().AddFactTemplate(edge);
  auto make = [&](std::int32_t from, std::int32_t to) {
    Ref<IFact> f = edge->NewFact();
    f->SetValue("from", TIEValue::Integer(from));
    f->SetValue("to", TIEValue::Integer(to));
    return f;
  };
  Ref<IFact> a = make(51, 94);
  Ref<IFact> b = make(5, 194);
  ASSERT_EQ(a->GetHashCode(), b->GetHashCode());
  EXPECT_GE(fx.Engine().Assert(a), 0);
  EXPECT_GE(fx.Engine().Assert(b), 0);
  EXPECT_EQ(fx.Engine().Facts().Count(), 3);
}

// The duplicate test files facts by a hash of their values' data: a second
// fact is refused exactly when it Equals the first, whatever kinds of values
// the two hold.
TEST(EngineTest, DuplicatesAreTheFactsThatAreEqual) {
  struct Case {
    const char* what;
    Ref<IIEValue> first;
    Ref<IIEValue> second;
    bool duplicate;
  };
  auto list = [](std::int32_t n, const char* atom) -> Ref<IIEValue> {
    return MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(
        std::vector<Ref<IIEValue>>{TIEValue::Integer(n), TIEValue::Atom(atom)})));
  };
  const Case cases[] = {
      {"same integer", TIEValue::Integer(7), TIEValue::Integer(7), true},
      {"other integer", TIEValue::Integer(7), TIEValue::Integer(8), false},
      {"integer and float", TIEValue::Integer(1), TIEValue::Float(1.0), false},
      {"same float", TIEValue::Float(2.5), TIEValue::Float(2.5), true},
      {"zero and minus zero", TIEValue::Float(0.0), TIEValue::Float(-0.0), true},
      {"same atom", TIEValue::Atom("red"), TIEValue::Atom("red"), true},
      {"atom and string", TIEValue::Atom("red"), TIEValue::String("red"), false},
      {"same string", TIEValue::String("a \"b\""), TIEValue::String("a \"b\""), true},
      {"fact id and integer", MakeRef<TIEValue>(3, TIEType::dtFactId), TIEValue::Integer(3), false},
      {"same list", list(1, "x"), list(1, "x"), true},
      {"other list", list(1, "x"), list(1, "y"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EngineFixture fx;
    auto box = MakeRef<TFactTemplate>(&fx.Engine(), "box", "", nullptr);
    box->AddSlot("v", TIEValue::Integer(0));
    box->AddSlot("w", TIEValue::Atom("fixed"));
    fx.Engine().AddFactTemplate(box);
    auto make = [&](const Ref<IIEValue>& v) {
      Ref<IFact> f = box->NewFact();
      f->SetValue("v", v->Clone());
      return f;
    };
    Ref<IFact> first = make(c.first);
    Ref<IFact> second = make(c.second);
    ASSERT_EQ(first->Equals(second.get()), c.duplicate);
    EXPECT_GE(fx.Engine().Assert(first), 0);
    EXPECT_EQ(fx.Engine().Assert(second) < 0, c.duplicate);
    // Once the first is gone, the second is no duplicate of anything.
    fx.Engine().Retract(*first);
    if (c.duplicate) {
      EXPECT_GE(fx.Engine().Assert(second), 0);
    }
  }
}

TEST(EngineTest, RetractByIdAndEquality) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.SetWatch({TConstructWatch::cwFact});
  fx.Assert("a", Ints({1}));
  fx.Assert("a", Ints({2}));
  fx.TakeOutput();
  e.Retract(1);
  EXPECT_EQ(fx.TakeOutput(), " <== f-1 (a 1 )\n");
  e.Retract(1);  // unknown ids are ignored
  e.Retract(*fx.Fact("a", Ints({2})));
  EXPECT_EQ(e.Facts().Count(), 1);
  EXPECT_EQ(fx.Assert("a", Ints({3})), 3);  // ids are not reused
}

TEST(EngineTest, ClearFactsRaisesOneEventAndNoRetractions) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Assert("a", Ints({1}));
  int clears = 0;
  int retractions = 0;
  e.OnClearFacts = [&](TInferenceEngine&) { ++clears; };
  e.OnRetraction = [&](TInferenceEngine&, IFact&) { ++retractions; };
  e.Facts().Clear();
  EXPECT_EQ(clears, 1);
  EXPECT_EQ(retractions, 0);
  EXPECT_EQ(e.Facts().Count(), 0);
}

TEST(EngineTest, PreserveIdsKeepsACarriedId) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Assert("a", Ints({1}));
  fx.Assert("a", Ints({2}));
  Ref<IFact> f = fx.Fact("a", Ints({9}));
  f->SetID(10);
  e.Facts().SetPreserveIDs(true);
  e.Facts().Add(f);
  EXPECT_EQ(f->GetID(), 10);
  EXPECT_EQ(e.NextFactId(), 11);
  e.Facts().SetPreserveIDs(false);
  Ref<IFact> g = fx.Fact("a", Ints({8}));
  g->SetID(20);
  e.Facts().Add(g);
  EXPECT_EQ(g->GetID(), 11);
}

TEST(EngineTest, RunLimitsAndHalting) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Rule("r", {{"a", {V("x")}}});
  for (std::int32_t i = 1; i <= 5; ++i) {
    fx.Assert("a", Ints({i}));
  }
  int started = 0;
  std::vector<int> ended;
  e.OnStartInference = [&](TInferenceEngine&) { ++started; };
  e.OnEndInference = [&](TInferenceEngine&, int n) { ended.push_back(n); };
  EXPECT_EQ(e.Run(0), 0);
  EXPECT_EQ(e.Run(3), 3);
  EXPECT_EQ(e.Run(3), 2);
  EXPECT_EQ(e.Run(), 0);
  EXPECT_EQ(started, 4);
  EXPECT_THAT(ended, ElementsAre(0, 3, 2, 0));
}

TEST(EngineTest, WatchLinesHaveTheirExactForms) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Rule("r", {{"a", {V("x")}}});
  e.SetWatch({TConstructWatch::cwActivation, TConstructWatch::cwRule});
  fx.Assert("a", Ints({1}));
  EXPECT_EQ(fx.TakeOutput(), "==> Activation: 0 r : f-1 (1.0000)\n");
  e.Run();
  // The fired activation leaves the agenda like any other.
  EXPECT_EQ(fx.TakeOutput(), "FIRE 0 r f-1\n<== Activation: r : f-1\n");
  fx.Assert("a", Ints({2}));
  e.Retract(2);
  EXPECT_EQ(fx.TakeOutput(),
            "==> Activation: 0 r : f-2 (1.0000)\n<== Activation: r : f-2\n");
}

TEST(EngineTest, StatisticsOfAShortRun) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Rule("r", {{"a", {V("x")}}});
  fx.Assert("a", Ints({1}));
  e.SetWatch({TConstructWatch::cwStatistics});
  e.Run();
  std::string out = fx.TakeOutput();
  EXPECT_THAT(out, ::testing::HasSubstr("1 rules fired.     Run time is "));
  EXPECT_THAT(out, ::testing::HasSubstr(" mean number of facts (2 maximum)\n"));
  EXPECT_THAT(out, ::testing::HasSubstr(" mean number of activations (1 maximum)\n"));
  e.Run();  // nothing fired: no statistics
  EXPECT_EQ(fx.TakeOutput(), "");
}

TEST(EngineTest, StrategyChangeReAddsActivations) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Rule("r", {{"a", {V("x")}}});
  fx.Assert("a", Ints({1}));
  fx.Assert("a", Ints({2}));
  fx.Assert("a", Ints({3}));
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-3", "r: f-2", "r: f-1"));
  int added = 0;
  e.OnAddActivation = [&](TInferenceEngine&, int, TActivation&) { ++added; };
  e.SetStrategy(TSearchStrategy::ssBreadthFirst);
  EXPECT_EQ(added, 3);
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-3", "r: f-2", "r: f-1"));
  fx.Assert("a", Ints({4}));
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-3", "r: f-2", "r: f-1", "r: f-4"));
}

// Handing the engine nothing where it takes something over is refused with
// an error, and the engine goes on as it was.
TEST(EngineTest, NothingHandedOverIsRefusedAndTheEngineGoesOn) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  EXPECT_THROW(e.AddRule(std::unique_ptr<TRule>()), EIEException);
  EXPECT_THROW(e.SetParser(nullptr), EIEException);
  e.Parse("(defrule r (a ?x) => (printout t ?x crlf))");
  e.Assert("(a 7)");
  fx.TakeOutput();
  EXPECT_EQ(e.Run(), 1);
  EXPECT_EQ(fx.TakeOutput(), "7\n");
}

TEST(EngineTest, SymbolsAndRuleIds) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  EXPECT_EQ(e.GenerateSymbol("gen"), "gen0");
  EXPECT_EQ(e.GenerateSymbol("gen"), "gen1");
  e.SetSymbolIndex(7);
  e.SetSymbolIndex(5);
  EXPECT_EQ(e.SymbolIndex(), 8);
}

// A host thread asserting under the lock while the engine runs.
TEST(EngineTest, ADeffunctionDroppedAsADuplicateLeavesTheFiledOne) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(deffunction f () 1)");
  IUserFunction* first = e.GetUserFunction("f");
  e.SetDuplicateConstructs(TDuplicateConstructs::dcIgnore);
  e.Parse("(deffunction f () 2) (printout t (f) crlf)");
  EXPECT_EQ(e.GetUserFunction("f"), first);
  // The parser names each function it read, the second time the one kept.
  EXPECT_EQ(fx.TakeOutput(), "f\nf\n1\n");
}

TEST(EngineThreadsTest, HostAssertsUnderLockWhileRunning) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Rule("r", {{"a", {V("x")}}});
  for (std::int32_t i = 0; i < 200; ++i) {
    fx.Assert("a", Ints({i}));
  }
  std::thread host([&] {
    for (std::int32_t i = 1000; i < 1200; ++i) {
      const TEngineLock lock(e);
      fx.Assert("a", Ints({i}));
    }
  });
  int fired = 0;
  while (true) {
    fired += e.Run();
    bool done = false;
    {
      const TEngineLock lock(e);
      done = e.Facts().Count() == 401 && e.GetAgendaCount() == 0;
    }
    if (done) {
      break;
    }
    std::this_thread::yield();
  }
  host.join();
  fired += e.Run();
  EXPECT_EQ(fired, 400);
}

}  // namespace
}  // namespace zephro::testing

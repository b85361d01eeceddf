#include "zephro/rules/activation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAre;

// Rules of the given saliences, each with one activation on the agenda in
// the given order (the agenda is filled front to back with breadth-first
// insertion, so the order is as listed when saliences do not increase).
struct AgendaCase {
  const char* name;
  TSearchStrategy strategy;
  std::vector<std::int32_t> saliences;
  std::int32_t incoming;
  int expected_index;  // -1: appended
};

TEST(AgendaTest, SearchSaliencePlacesByStrategy) {
  const AgendaCase cases[] = {
      {"depth, empty", TSearchStrategy::ssDepthFirst, {}, 0, -1},
      {"depth, all zero", TSearchStrategy::ssDepthFirst, {0, 0, 0}, 0, 0},
      {"breadth, all zero", TSearchStrategy::ssBreadthFirst, {0, 0, 0}, 0, -1},
      {"depth, middle group probed first", TSearchStrategy::ssDepthFirst, {10, 5, 5, 5, 0}, 5,
       2},
      {"breadth, between groups", TSearchStrategy::ssBreadthFirst, {10, 5, 0}, 7, 1},
      {"depth, below bottom", TSearchStrategy::ssDepthFirst, {10, 5}, 1, -1},
      {"depth, above top", TSearchStrategy::ssDepthFirst, {10, 5}, 11, 0},
      {"breadth, top group", TSearchStrategy::ssBreadthFirst, {10, 5}, 10, 0},
      {"breadth, bottom group", TSearchStrategy::ssBreadthFirst, {10, 5}, 5, -1},
      {"depth, between", TSearchStrategy::ssDepthFirst, {10, 5, 0}, 7, 1},
  };
  for (const AgendaCase& c : cases) {
    SCOPED_TRACE(c.name);
    EngineFixture fx;
    TInferenceEngine& e = fx.Engine();
    e.SetStrategy(TSearchStrategy::ssBreadthFirst);
    int i = 0;
    for (std::int32_t s : c.saliences) {
      const std::string relation = "p" + std::to_string(i);
      fx.Rule("r" + std::to_string(i), {{relation, {V("x")}}}, s);
      fx.Assert(relation, {TIEValue::Integer(1)});
      ++i;
    }
    ASSERT_EQ(e.GetAgendaCount(), static_cast<int>(c.saliences.size()));
    e.SetStrategy(c.strategy);
    EXPECT_EQ(e.SearchSalience(c.incoming), c.expected_index);
  }
}

TEST(AgendaTest, DepthFirstFiresTheNewestBreadthFirstTheOldest) {
  for (TSearchStrategy strategy : {TSearchStrategy::ssDepthFirst, TSearchStrategy::ssBreadthFirst}) {
    EngineFixture fx;
    fx.Engine().SetStrategy(strategy);
    fx.Rule("r", {{"a", {V("x")}}});
    fx.Assert("a", {TIEValue::Integer(1)});
    fx.Assert("a", {TIEValue::Integer(2)});
    fx.Assert("a", {TIEValue::Integer(3)});
    if (strategy == TSearchStrategy::ssDepthFirst) {
      EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-3", "r: f-2", "r: f-1"));
    } else {
      EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-1", "r: f-2", "r: f-3"));
    }
  }
}

TEST(AgendaTest, PlainAgendaKeepsInsertionOrderAndExtractKeepsTheActivation) {
  EngineFixture fx;
  TRule& low = fx.Rule("low", {{"x", {V("v")}}}, 0);
  TRule& high = fx.Rule("high", {{"y", {V("v")}}}, 9);
  Ref<IReteToken> token;
  TActivationAgenda agenda;
  fx.Assert("x", {TIEValue::Integer(1)});
  token = Ref<IReteToken>(&fx.Engine().GetActivation(0).Token());
  EXPECT_EQ(agenda.Add(std::make_unique<TActivation>(low, token, nullptr, 1.0f)), 0);
  EXPECT_EQ(agenda.Add(std::make_unique<TActivation>(high, token, nullptr, 1.0f)), 1);
  std::unique_ptr<TActivation> taken = agenda.Extract(0);
  EXPECT_EQ(&taken->Rule(), &low);
  EXPECT_EQ(agenda.Count(), 1);
  EXPECT_EQ(agenda.IndexOfData(*taken), -1);
  agenda.Delete(0);
  EXPECT_EQ(agenda.Count(), 0);
}

// Removing an activation asks for its index, then for the activation at
// that index, which the agenda answers from the first question while the
// list is as it was. Checked against a plain list through additions,
// extractions and index questions in any order: the entry at an index is
// always the one that is there now.
TEST(AgendaTest, EntriesByIndexFollowTheListThroughIndexQuestions) {
  EngineFixture fx;
  TRule& rule = fx.Rule("r", {{"x", {V("v")}}});
  fx.Assert("x", {TIEValue::Integer(1)});
  Ref<IReteToken> token(&fx.Engine().GetActivation(0).Token());
  TActivationAgenda agenda;
  std::vector<TActivation*> model;
  std::mt19937 random(8122026);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    const std::size_t op = pick(10);  // the list grows to some 600 entries: a tree of leaves
    if (op < 5 || model.empty()) {
      auto a = std::make_unique<TActivation>(rule, token, nullptr, 1.0f);
      model.push_back(a.get());
      agenda.Add(std::move(a));
    } else if (op < 8) {
      const std::size_t at = pick(model.size());
      ASSERT_EQ(agenda.IndexOfData(*model[at]), static_cast<int>(at));
      if (op == 7) {
        agenda.Extract(*model[at]).reset();
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
      }
    } else {
      const std::size_t at = pick(model.size());
      agenda.Delete(static_cast<int>(at));
      model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
    }
    ASSERT_EQ(agenda.Count(), static_cast<int>(model.size()));
    for (std::size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(&agenda.Activations(static_cast<int>(i)), model[i]) << "index " << i;
    }
  }
}

TEST(AgendaTest, StrengthIsClamped) {
  EngineFixture fx;
  TRule& r = fx.Rule("r", {{"x", {V("v")}}});
  fx.Assert("x", {TIEValue::Integer(1)});
  Ref<IReteToken> token(&fx.Engine().GetActivation(0).Token());
  TActivation a(r, token, nullptr, 1.5f);
  EXPECT_EQ(a.Strength(), 1.0f);
  a.SetStrength(-2.0f);
  EXPECT_EQ(a.Strength(), 0.0f);
}

}  // namespace
}  // namespace zephro::testing

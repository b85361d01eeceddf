// A `not` element holds each partial match back while some fact matches it:
// the first one found blocks it. When that fact leaves, the search for
// another goes on from the facts filed after it, as long as the element's
// tests judge by the facts' values alone; a test that reads anything else
// (a global here) searches the whole memory again.

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

struct Item {
  int id;
  int group;
  int weight;
};

// Picks the heaviest item of its group (the lowest id among equals), one
// firing at a time, and prints "group id" for each.
const char* const kRanking =
    "(deftemplate item (slot id) (slot g) (slot w))"
    "(defrule pick"
    "  ?f <- (item (id ?i) (g ?g) (w ?w))"
    "  (not (item (g ?g) (w ?w2&:(> ?w2 ?w))))"
    "  (not (item (g ?g) (w ?w) (id ?j&:(< ?j ?i))))"
    "  =>"
    "  (retract ?f)"
    "  (printout t ?g \" \" ?i crlf))";

std::string AssertText(const std::vector<Item>& items) {
  std::string text;
  for (const Item& item : items) {
    text += "(assert (item (id " + std::to_string(item.id) + ") (g " +
            std::to_string(item.group) + ") (w " + std::to_string(item.weight) + ")))";
  }
  return text;
}

// The ids each group's picks printed, in order.
std::map<int, std::vector<int>> PicksByGroup(const std::string& output) {
  std::map<int, std::vector<int>> picks;
  std::istringstream lines(output);
  int group = 0;
  int id = 0;
  while (lines >> group >> id) {
    picks[group].push_back(id);
  }
  return picks;
}

// What the picks must be: each group's items, heaviest first, equals by id.
std::map<int, std::vector<int>> Ranked(std::vector<Item> items) {
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return a.weight != b.weight ? a.weight > b.weight : a.id < b.id;
  });
  std::map<int, std::vector<int>> picks;
  for (const Item& item : items) {
    picks[item.group].push_back(item.id);
  }
  return picks;
}

struct RankingCase {
  const char* name;
  std::vector<Item> items;
};

std::vector<Item> Pattern(int count, int groups, int (*weight)(int)) {
  std::vector<Item> items;
  for (int i = 0; i < count; ++i) {
    items.push_back({i + 1, i % groups, weight(i)});
  }
  return items;
}

const RankingCase kRankingCases[] = {
    {"rising", Pattern(40, 2, [](int i) { return i; })},
    {"falling", Pattern(40, 2, [](int i) { return 100 - i; })},
    {"scattered", Pattern(60, 3, [](int i) { return (i * 37) % 23; })},
    {"zigzag", Pattern(50, 1, [](int i) { return i % 2 == 0 ? i : 60 - i; })},
    {"all equal", Pattern(20, 2, [](int) { return 7; })},
    {"two weights", Pattern(30, 1, [](int i) { return i % 3 == 0 ? 5 : 9; })},
};

class RankingTest : public ::testing::TestWithParam<RankingCase> {};

TEST_P(RankingTest, PicksComeHeaviestFirstInEveryGroup) {
  const std::vector<Item>& items = GetParam().items;
  EngineFixture fx;
  fx.Engine().Parse(kRanking);
  fx.Engine().Parse(AssertText(items));
  fx.TakeOutput();  // what parsing echoed
  fx.Engine().Run();
  EXPECT_EQ(PicksByGroup(fx.TakeOutput()), Ranked(items));
}

TEST_P(RankingTest, ItemsArrivingBetweenPicksAreWeighedToo) {
  // The first half is asserted and a few picks made; the rest then comes in
  // behind the items already filed, heavier and lighter ones alike.
  const std::vector<Item>& items = GetParam().items;
  const std::vector<Item> first(items.begin(), items.begin() + items.size() / 2);
  const std::vector<Item> rest(items.begin() + items.size() / 2, items.end());
  EngineFixture fx;
  fx.Engine().Parse(kRanking);
  fx.Engine().Parse(AssertText(first));
  fx.TakeOutput();  // what parsing echoed
  fx.Engine().Run(5);
  std::map<int, std::vector<int>> picks = PicksByGroup(fx.TakeOutput());
  int made = 0;
  for (const auto& [group, ids] : picks) {
    made += static_cast<int>(ids.size());
  }
  ASSERT_EQ(made, 5);

  // The picks so far are the heaviest of the first half (the agenda takes
  // the groups in its own order, so each group's share is checked).
  std::map<int, std::vector<int>> expected_first = Ranked(first);
  std::vector<Item> left = items;
  for (const auto& [group, ids] : picks) {
    const std::vector<int>& ranked = expected_first[group];
    // Named again: clang 14, which builds the fuzzing and thread tests, lets
    // no lambda capture a structured binding.
    const std::vector<int>& taken = ids;
    ASSERT_LE(taken.size(), ranked.size());
    EXPECT_EQ(taken, std::vector<int>(ranked.begin(), ranked.begin() + taken.size())) << group;
    std::erase_if(left, [&](const Item& item) {
      return std::find(taken.begin(), taken.end(), item.id) != taken.end();
    });
  }
  fx.Engine().Parse(AssertText(rest));
  fx.TakeOutput();
  fx.Engine().Run();
  EXPECT_EQ(PicksByGroup(fx.TakeOutput()), Ranked(left));
}

INSTANTIATE_TEST_SUITE_P(Orders, RankingTest, ::testing::ValuesIn(kRankingCases),
                         [](const auto& param_info) {
                           std::string name = param_info.param.name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

TEST(NegatedJoinTest, ATestReadingAGlobalSearchesTheWholeMemoryAgain) {
  // r0 fails l when l is blocked (2 > 3 + 0 is false), so r1 blocks it.
  // Once the global is lowered r0 would match: when r1 leaves, r0 must be
  // found, though it was filed before r1.
  EngineFixture fx;
  fx.Engine().Parse(
      "(defglobal ?*shift* = 0 ?*r0* = nil ?*r1* = nil)"
      "(deftemplate l (slot k) (slot v))"
      "(deftemplate r (slot k) (slot v))"
      "(defrule free"
      "  (l (k ?k) (v ?v))"
      "  (not (r (k ?k) (v ?w&:(> ?w (+ ?v ?*shift*)))))"
      "  =>"
      "  (printout t free crlf))"
      "(bind ?*r0* (assert (r (k 1) (v 2))))"
      "(bind ?*r1* (assert (r (k 1) (v 5))))"
      "(assert (l (k 1) (v 3)))");
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 0);
  fx.Engine().Parse("(bind ?*shift* -2) (retract ?*r1*)");
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 0);
  fx.Engine().Parse("(bind ?*shift* 10) (retract ?*r0*)");
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 1);
}

}  // namespace
}  // namespace zephro::testing

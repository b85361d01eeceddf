// Many rules that test one slot against different constants: the network
// reaches them through an index by value, which must activate exactly the
// rules a test of every sibling would, in the same order.

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAreArray;

// The constants of the sibling rules: kinds whose texts or numbers coincide
// must still be told apart, as a one-by-one test tells them apart.
const std::vector<std::string> kConstants = {
    "1", "2", "1.0", "2.5000", "a", "\"a\"", "b", "\"1\"", "nil", "-1", "0", "0.0",
};

std::string RuleName(std::size_t i) { return "r" + std::to_string(i); }

std::vector<std::string> Expected(const std::string& value) {
  // The rules whose constant is the asserted value, plus the rules that do
  // not test the slot against a constant, in rule order: the agenda lists the
  // newest activation first.
  std::vector<std::string> names;
  for (std::size_t i = 0; i < kConstants.size(); ++i) {
    if (kConstants[i] == value) {
      names.push_back(RuleName(i));
    }
  }
  names.push_back("by-call");
  names.push_back("any");
  return names;
}

TEST(ConstantDispatchTest, ActivatesExactlyTheRulesWhoseConstantEqualsTheSlot) {
  EngineFixture fx;
  std::string text = "(deftemplate item (slot v) (slot w))\n";
  for (std::size_t i = 0; i < kConstants.size(); ++i) {
    text += "(defrule " + RuleName(i) + " (item (v " + kConstants[i] + ")) => )\n";
  }
  // Siblings that are not constant tests keep their place among the others.
  text += "(defrule by-call (item (v ?x&:(neq ?x zzz))) => )\n";
  text += "(defrule any (item (w ?)) => )\n";
  fx.Engine().Parse(text);

  for (const std::string& value : kConstants) {
    SCOPED_TRACE(value);
    fx.Engine().Parse("(assert (item (v " + value + ") (w 0)))");
    std::vector<std::string> fired;
    for (const std::string& line : fx.Agenda()) {
      fired.push_back(line.substr(0, line.find(':')));
    }
    std::vector<std::string> expected = Expected(value);
    std::reverse(expected.begin(), expected.end());
    EXPECT_THAT(fired, ElementsAreArray(expected));
    fx.Engine().Parse("(reset)");
  }
}

TEST(ConstantDispatchTest, FollowsRulesAddedAndRemovedBetweenFacts) {
  EngineFixture fx;
  std::string text = "(deftemplate item (slot v))\n";
  for (int i = 0; i < 12; ++i) {
    text += "(defrule k" + std::to_string(i) + " (item (v " + std::to_string(i) + ")) => )\n";
  }
  fx.Engine().Parse(text);
  fx.Engine().Parse("(assert (item (v 3)))");
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 1);
  fx.Engine().RemoveRule("k3");
  fx.Engine().Parse("(defrule late (item (v 4)) => )");
  fx.Engine().Parse("(reset) (assert (item (v 3))) (assert (item (v 4)))");
  std::vector<std::string> fired;
  for (const std::string& line : fx.Agenda()) {
    fired.push_back(line.substr(0, line.find(':')));
  }
  EXPECT_THAT(fired, ElementsAreArray({"late", "k4"}));
}

}  // namespace
}  // namespace zephro::testing

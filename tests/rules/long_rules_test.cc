// Rules of many patterns and many variables: the binding table, compiling
// one rule of thousands of patterns, and feeding working memory through a
// rule's many entries.

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/facts/fact_template.h"
#include "zephro/functions/context.h"
#include "zephro/rules/rule.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAre;

Ref<IIEValue> I(std::int32_t v) { return TIEValue::Integer(v); }

// (defrule name (p0 <field 0>) (p1 <field 1>) ... =>), a pattern per field.
std::string ChainText(const std::string& name, const std::vector<std::string>& fields) {
  std::string text = "(defrule " + name;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    text += " (p" + std::to_string(i) + " " + fields[i] + ")";
  }
  return text + " =>)";
}

// Rules with fewer bindings than the table indexes and with more: each name
// finds its first binding, and an equal binding is not added twice.
TEST(LongRulesTest, BindingsAreFoundByNameHoweverMany) {
  for (const int n : {3, 15, 16, 17, 40}) {
    SCOPED_TRACE(n);
    EngineFixture fx;
    TRule& rule = MakeOwned<TRule>(fx.Engine());
    for (int i = 0; i < n; ++i) {
      rule.AddBinding("?v" + std::to_string(i), i, "__Data", 0);
    }
    // A second binding of a name, at another place, comes after the first.
    TBinding& again = rule.AddBinding("?v1", n, "__Data", 0);
    EXPECT_EQ(rule.BindingCount(), n + 1);
    EXPECT_EQ(&rule.Binding(n), &again);
    for (int i = 0; i < n; ++i) {
      const std::string name = "?v" + std::to_string(i);
      EXPECT_EQ(rule.IndexOfBinding(name), i) << name;
      EXPECT_EQ(rule.GetBindingByName(name), &rule.Binding(i)) << name;
      EXPECT_EQ(&rule.AddBinding(name, i, "__Data", 0), &rule.Binding(i)) << name;
    }
    EXPECT_EQ(&rule.AddBinding("?v1", n, "__Data", 0), &again);
    EXPECT_EQ(rule.BindingCount(), n + 1);
    EXPECT_EQ(rule.IndexOfBinding("?none"), -1);
    EXPECT_EQ(rule.GetBindingByName("?none"), nullptr);
  }
}

// One rule of thousands of patterns compiles and matches; its compile trace
// has a step per node.
TEST(LongRulesTest, ARuleOfThousandsOfPatternsCompilesAndMatches) {
  struct Row {
    const char* name;
    int patterns;
    std::string (*field)(int);
    bool asserted_first;
  };
  const Row kRows[] = {
      {"one variable shared", 3000, [](int) { return std::string("?x"); }, false},
      {"a variable each", 3000, [](int i) { return "?x" + std::to_string(i); }, true},
      {"constants", 3000, [](int) { return std::string("1"); }, true},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    EngineFixture fx;
    std::vector<std::string> fields;
    for (int i = 0; i < row.patterns; ++i) {
      fields.push_back(row.field(i));
    }
    auto assert_all = [&] {
      for (int i = 0; i < row.patterns; ++i) {
        fx.Assert("p" + std::to_string(i), {I(1)});
      }
    };
    if (row.asserted_first) {
      assert_all();
    }
    fx.Engine().Parse(ChainText("big", fields));
    if (!row.asserted_first) {
      assert_all();
    }
    TRule* rule = fx.Engine().FindRule("big");
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->PatternCount(), row.patterns);
    EXPECT_EQ(fx.Engine().GetAgendaCount(), 1);
    const std::string trace = fx.Engine().ReteNetwork().LastCompileTrace();
    EXPECT_EQ(trace.substr(trace.size() - 2), "+t");
    fx.Engine().RemoveRule("big");
    EXPECT_EQ(fx.Engine().GetAgendaCount(), 0);
  }
}

// The largest rule allowed compiles without running out of stack.
TEST(LongRulesTest, TheLargestRuleCompiles) {
  EngineFixture fx;
  std::vector<std::string> fields(TRule::kMaxPatterns, "?x");
  fx.Engine().Parse(ChainText("widest", fields));
  TRule* rule = fx.Engine().FindRule("widest");
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(rule->PatternCount(), TRule::kMaxPatterns);
  fx.Engine().RemoveRule("widest");
  EXPECT_EQ(fx.Engine().FindRule("widest"), nullptr);
}

// A rule added after its facts gets the activations it would have had
// before them, with patterns on a parent template that its children's facts
// match, and more entries than are asked one by one.
TEST(LongRulesTest, ARuleOfManyEntriesAddedLateMatchesAsOneAddedEarly) {
  auto program = [](EngineFixture& fx, bool rule_first) {
    TInferenceEngine& e = fx.Engine();
    e.Parse("(deftemplate base (slot k)) (deftemplate mid extends base (slot m))"
            "(deftemplate leaf extends mid (slot l))");
    std::string rule = "(defrule r (base (k ?k))";
    for (int i = 0; i < 10; ++i) {
      rule += " (t" + std::to_string(i) + " ?k)";
    }
    rule += " (mid (k ?k)) (leaf (k ?k)) =>)";
    if (rule_first) {
      e.Parse(rule);
    }
    for (int i = 0; i < 10; ++i) {
      for (int k = 1; k <= 2; ++k) {
        fx.Assert("t" + std::to_string(i), {I(k)});
      }
    }
    e.Parse("(assert (base (k 1))) (assert (mid (k 1))) (assert (leaf (k 1)))"
            "(assert (leaf (k 2)))");
    if (!rule_first) {
      e.Parse(rule);
    }
    std::vector<std::string> agenda = fx.Agenda();
    std::sort(agenda.begin(), agenda.end());
    return agenda;
  };
  EngineFixture early;
  EngineFixture late;
  const std::vector<std::string> expected = program(early, true);
  // ?k 1: three facts are bases (base, mid and leaf), two are mids, one is a
  // leaf; ?k 2: the one leaf is all three.
  EXPECT_EQ(expected.size(), 7u);
  EXPECT_EQ(program(late, false), expected);
}

}  // namespace
}  // namespace zephro::testing

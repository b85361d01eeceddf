#include "zephro/facts/pattern.h"

#include <string>

#include <gtest/gtest.h>

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

// The counts a pattern reports follow its tests as they stand, however they
// came to change: added, edited in place, or rewritten.
TEST(PatternTest, CountsTestsAndDisjunctionsAsTheyStandNow) {
  EngineFixture fx;
  TRule rule(nullptr);
  std::unique_ptr<TIEPattern> p = fx.Pattern(rule, "a", {C(1), V("x"), NotC(2)});
  EXPECT_EQ(p->TestCount(), 3);
  EXPECT_EQ(p->DisjunctionCount(), 0);

  // `| 5` on the field of ?x.
  p->AddTest(SDefaultSlotName, TSlotTestType::sttEquals, 1, TIEValue::Integer(5), false);
  EXPECT_EQ(p->TestCount(), 4);
  EXPECT_EQ(p->DisjunctionCount(), 1);

  // A host turning a test into a disjunction and back.
  TIEPatternMatchTest& first = p->SlotTest(0, 0);
  first.SetConjunction(false);
  EXPECT_EQ(p->DisjunctionCount(), 2);
  first.SetConjunction(true);
  EXPECT_EQ(p->DisjunctionCount(), 1);

  int generated = 0;
  p->FixTests(fx.Engine(), [&](std::string_view prefix) {
    return std::string(prefix) + std::to_string(++generated);
  });
  EXPECT_EQ(p->DisjunctionCount(), 0);
  EXPECT_GT(generated, 0);
  int tests = 0;
  for (int s = 0; s < p->SlotCount(); ++s) {
    tests += p->SlotTestCount(s);
  }
  EXPECT_EQ(p->TestCount(), tests);
}

}  // namespace
}  // namespace zephro::testing

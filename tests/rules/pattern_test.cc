#include "zephro/rules/pattern.h"

#include <string>

#include <gtest/gtest.h>

#include "zephro/facts/fact_template.h"
#include "zephro/values/exceptions.h"

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

namespace zephro::testing {
namespace {

// A slot's tests keep their order and count through growth and moves,
// whatever count the array of its own starts or doubles at.
TEST(PatternTest, SlotTestsKeepOrderThroughGrowthAndMoves) {
  for (const std::uint32_t n : {0u, 1u, 2u, 3u, 4u, 5u, 8u, 9u, 16u, 17u, 33u}) {
    SCOPED_TRACE(n);
    TSlotTests tests;
    for (std::uint32_t i = 0; i < n; ++i) {
      tests.emplace_back(new TIEPatternMatchTest(TSlotTestType::sttEquals,
                                                 static_cast<std::int32_t>(i),
                                                 TIEValue::Integer(static_cast<std::int32_t>(i))));
    }
    auto expect_all = [n](const TSlotTests& t) {
      ASSERT_EQ(t.size(), n);
      EXPECT_EQ(t.empty(), n == 0);
      std::int32_t i = 0;
      for (const auto& test : t) {
        EXPECT_EQ(test->MultiSlotSubIndex(), i);
        EXPECT_EQ(t[static_cast<std::size_t>(i)]->SlotValue()->AsInteger(), i);
        ++i;
      }
      EXPECT_EQ(i, static_cast<std::int32_t>(n));
    };
    expect_all(tests);
    TSlotTests moved(std::move(tests));
    expect_all(moved);
    EXPECT_TRUE(tests.empty());  // NOLINT: a moved-from list is empty
    TSlotTests assigned;
    assigned.emplace_back(new TIEPatternMatchTest(TSlotTestType::sttNotEquals, 99,
                                                  TIEValue::Integer(99)));
    assigned = std::move(moved);
    expect_all(assigned);
  }
}

// A pattern's slots, each with tests of its own, survive the block growing
// one slot at a time through the recycled sizes and doubling past them, and
// a reserve ahead; a table of counts on both sides of the recycled sizes.
TEST(PatternTest, SlotsKeepNamesTestsAndLengthsThroughGrowth) {
  for (const std::uint32_t n : {0u, 1u, 2u, 7u, 8u, 9u, 16u, 17u, 40u}) {
    for (const bool reserved : {false, true}) {
      SCOPED_TRACE(std::to_string(n) + (reserved ? " reserved" : ""));
      TPatternSlots slots;
      if (reserved) {
        slots.reserve(n);
      }
      for (std::uint32_t i = 0; i < n; ++i) {
        TPatternSlot slot{TText("s" + std::to_string(i)), {}, static_cast<std::int32_t>(i)};
        for (std::uint32_t t = 0; t < i % 3; ++t) {
          slot.tests.emplace_back(new TIEPatternMatchTest(
              TSlotTestType::sttEquals, static_cast<std::int32_t>(t),
              TIEValue::Integer(static_cast<std::int32_t>(i))));
        }
        slots.push_back(std::move(slot));
      }
      slots.reserve(n + 3);  // moves them once more
      ASSERT_EQ(slots.size(), n);
      EXPECT_EQ(slots.empty(), n == 0);
      std::uint32_t i = 0;
      for (const TPatternSlot& slot : slots) {
        EXPECT_EQ(slot.name.View(), "s" + std::to_string(i));
        EXPECT_EQ(slot.length, static_cast<std::int32_t>(i));
        ASSERT_EQ(slot.tests.size(), i % 3);
        for (std::uint32_t t = 0; t < i % 3; ++t) {
          EXPECT_EQ(slot.tests[t]->MultiSlotSubIndex(), static_cast<std::int32_t>(t));
          EXPECT_EQ(slot.tests[t]->SlotValue()->AsInteger(), static_cast<std::int32_t>(i));
        }
        ++i;
      }
      EXPECT_EQ(i, n);
    }
  }
}

// A pattern finds its slots by name in the template's order, however wide
// the template, and raises for a name the template lacks.
TEST(PatternTest, SlotsAreFoundByNameInTheTemplatesOrder) {
  for (const int n : {1, 8, 9, 500}) {
    SCOPED_TRACE(n);
    EngineFixture fx;
    auto wide = MakeRef<TFactTemplate>(&fx.Engine(), "wide" + std::to_string(n), "", nullptr);
    for (int i = 0; i < n; ++i) {
      wide->AddSlot("s" + std::to_string(i), TIEValue::Integer(0));
    }
    TIEPattern pattern(nullptr, "wide", Ref<IFactTemplate>(wide.get()));
    for (int i = n - 1; i >= 0; --i) {
      const std::string name = "s" + std::to_string(i);
      EXPECT_EQ(pattern.IndexOfSlotName(name), wide->SlotIndex(name)) << name;
      pattern.AddTest(name, TSlotTestType::sttEquals, NoSubIndex, TIEValue::Integer(i));
      EXPECT_EQ(pattern.Slot(wide->SlotIndex(name)).tests.size(), 1u) << name;
    }
    EXPECT_EQ(pattern.SlotCount(), n);
    EXPECT_EQ(pattern.IndexOfSlotName("S0"), -1);
    EXPECT_THROW(pattern.AddTest("nope", TSlotTestType::sttEquals, NoSubIndex, TIEValue::Integer(1)),
                 EIEException);
  }
}

}  // namespace
}  // namespace zephro::testing

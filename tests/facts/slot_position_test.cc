#include "zephro/facts/slot_position.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/facts/fact.h"
#include "zephro/facts/fact_template.h"
#include "zephro/values/value.h"

#include "testing/fact_fakes.h"

namespace zephro {
namespace {

// A remembered position must follow every change of the template's slots:
// reading through a stale position would hand a rule another slot's value.
TEST(SlotPositionTest, FollowsTheTemplateThroughEveryChangeOfItsSlots) {
  auto t = MakeTemplate("t", {"b", "d"});
  TSlotPosition d("d");
  ASSERT_EQ(d.IndexIn(t.get()), 1);

  struct Step {
    const char* what;
    std::function<void()> change;
    int expected;
  };
  const Step steps[] = {
      {"a slot sorted in front", [&] { t->AddSlot("a", TIEValue::Integer(0)); }, 2},
      {"the front slot removed", [&] { t->RemoveSlot("a"); }, 1},
      {"another slot renamed past it", [&] { t->GetSlot("b")->SetName("e"); }, 0},
      {"the slot itself renamed", [&] { t->GetSlot("d")->SetName("z"); }, -1},
      {"the name back", [&] { t->GetSlot("z")->SetName("d"); }, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(d.IndexIn(t.get()), step.expected);
    EXPECT_EQ(d.IndexIn(t.get()), t->SlotIndex("d"));
  }
}

TEST(SlotPositionTest, ReadsTheSlotOfFactsOfDifferentTemplates) {
  auto first = MakeTemplate("first", {"a", "x"});
  auto second = MakeTemplate("second", {"x"});
  auto none = MakeTemplate("none", {"y"});
  TSlotPosition x("x");
  for (int round = 0; round < 2; ++round) {
    auto f1 = MakeRef<TFact>(first);
    f1->SetValue("x", TIEValue::Integer(1));
    auto f2 = MakeRef<TFact>(second);
    f2->SetValue("x", TIEValue::Integer(2));
    auto f3 = MakeRef<TFact>(none);
    ASSERT_NE(x.Read(*f1), nullptr);
    EXPECT_EQ(x.Read(*f1)->AsInteger(), 1);
    ASSERT_NE(x.Read(*f2), nullptr);
    EXPECT_EQ(x.Read(*f2)->AsInteger(), 2);
    EXPECT_EQ(x.Read(*f3), nullptr);
  }
  EXPECT_EQ(x.IndexIn(nullptr), -1);
}

// Positions of one name share its text, and each still finds its own slot
// independently of the others (each remembers its own template).
TEST(SlotPositionTest, PositionsOfOneNameShareTheNameAndKeepTheirOwnPlaces) {
  auto first = MakeTemplate("first", {"a", "level"});
  auto second = MakeTemplate("second", {"level"});
  const std::string name = "level";
  TSlotPosition p(name);
  TSlotPosition q(std::string_view("level"));
  TSlotPosition other("lever");
  EXPECT_EQ(p.Name(), "level");
  EXPECT_EQ(p.Name().data(), q.Name().data());
  EXPECT_NE(other.Name().data(), p.Name().data());
  EXPECT_EQ(p.IndexIn(first.get()), 1);
  EXPECT_EQ(q.IndexIn(second.get()), 0);
  EXPECT_EQ(p.IndexIn(first.get()), 1);
  EXPECT_EQ(q.IndexIn(second.get()), 0);
  EXPECT_EQ(other.IndexIn(first.get()), -1);
  EXPECT_EQ(TSlotPosition().Name(), "");
  EXPECT_EQ(TSlotPosition().IndexIn(first.get()), -1);
}

}  // namespace
}  // namespace zephro

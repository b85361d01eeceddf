#include "zephro/platform/ref.h"

#include <gtest/gtest.h>

#include "zephro/platform/enum_set.h"

namespace zephro {
namespace {

class Counted : public RefCounted {
 public:
  explicit Counted(int* deaths) : deaths_(deaths) {}
  ~Counted() override { ++*deaths_; }

 private:
  int* deaths_;
};

class Derived final : public Counted {
 public:
  using Counted::Counted;
};

TEST(RefTest, LastHandleFreesTheObject) {
  int deaths = 0;
  {
    Ref<Counted> a = MakeRef<Counted>(&deaths);
    EXPECT_EQ(a->RefCount(), 1);
    Ref<Counted> b = a;
    EXPECT_EQ(a->RefCount(), 2);
    EXPECT_TRUE(a == b);
    Ref<Counted> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(a->RefCount(), 2);
    c.reset();
    EXPECT_EQ(deaths, 0);
  }
  EXPECT_EQ(deaths, 1);
}

TEST(RefTest, ConvertsAndCastsAlongTheHierarchy) {
  int deaths = 0;
  Ref<Derived> d = MakeRef<Derived>(&deaths);
  Ref<Counted> base = d;
  EXPECT_EQ(base->RefCount(), 2);
  EXPECT_EQ(RefCast<Derived>(base), d);
  Ref<Counted> other = MakeRef<Counted>(&deaths);
  EXPECT_FALSE(RefCast<Derived>(other));
  other = nullptr;
  EXPECT_EQ(deaths, 1);
}

TEST(RefTest, SelfAssignmentKeepsTheObject) {
  int deaths = 0;
  Ref<Counted> a = MakeRef<Counted>(&deaths);
  Ref<Counted>& alias = a;
  a = alias;
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(deaths, 0);
}

enum class Color : std::uint8_t { kRed, kGreen, kBlue, kBlack };
using Colors = EnumSet<Color>;

TEST(EnumSetTest, SetAlgebra) {
  constexpr Colors warm{Color::kRed};
  constexpr Colors all{Color::kRed, Color::kGreen, Color::kBlue};
  static_assert(all.Contains(Color::kGreen));
  static_assert(!warm.Contains(Color::kBlue));
  EXPECT_EQ((all - warm).Count(), 2);
  EXPECT_EQ((warm | Color::kBlack).Count(), 2);
  EXPECT_TRUE(all.Includes(warm));
  EXPECT_FALSE(warm.Includes(all));
  EXPECT_EQ(all & warm, warm);
  std::vector<Color> seen;
  (all | Color::kBlack).ForEach([&](Color c) { seen.push_back(c); });
  EXPECT_EQ(seen, (std::vector<Color>{Color::kRed, Color::kGreen, Color::kBlue, Color::kBlack}));
}

}  // namespace
}  // namespace zephro

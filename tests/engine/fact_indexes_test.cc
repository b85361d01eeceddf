#include "zephro/engine/fact_indexes.h"

#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/facts/fact.h"
#include "zephro/values/value.h"

#include "testing/fact_fakes.h"

namespace zephro {
namespace {

// Facts filed under chosen hash codes, so collisions are certain.
class FactHashIndexTest : public ::testing::Test {
 protected:
  Ref<IFact> NewFact(int n) {
    auto f = MakeRef<TFact>(tmpl_);
    f->SetValue("n", TIEValue::Integer(n));
    facts_.push_back(f);
    return f;
  }
  static IFact* FindN(const TFactHashIndex& index, std::int32_t hash, int n) {
    return index.Find(hash, [&](const IFact& f) { return f.GetValue("n")->AsInteger() == n; });
  }

  Ref<TFactTemplate> tmpl_ = MakeTemplate("t", {"n"});
  std::vector<Ref<IFact>> facts_;
};

TEST_F(FactHashIndexTest, SharedHashesAreToldApartAndErasedOneByOne) {
  TFactHashIndex index;
  constexpr int kFacts = 200;
  for (int n = 0; n < kFacts; ++n) {
    index.Insert(n % 3, NewFact(n).get());  // three hash codes for all of them
  }
  EXPECT_EQ(index.Count(), static_cast<std::size_t>(kFacts));
  for (int n = 0; n < kFacts; n += 2) {
    index.Erase(n % 3, facts_[n].get());
  }
  for (int n = 0; n < kFacts; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(FindN(index, n % 3, n), n % 2 == 0 ? nullptr : facts_[n].get());
    EXPECT_EQ(FindN(index, n % 3 + 3, n), nullptr);
  }
  // Erased cells are reused and dropped when the table is rebuilt.
  for (int n = 0; n < kFacts; n += 2) {
    index.Insert(n % 3, facts_[n].get());
  }
  for (int n = 0; n < kFacts; ++n) {
    EXPECT_EQ(FindN(index, n % 3, n), facts_[n].get());
  }
}

TEST_F(FactHashIndexTest, AFactFiledUnderAnOldHashIsStillErased) {
  TFactHashIndex index;
  Ref<IFact> a = NewFact(1);
  Ref<IFact> b = NewFact(2);
  index.Insert(10, a.get());
  index.Insert(10, b.get());
  index.Erase(99, a.get());  // its hash changed since it was filed
  EXPECT_EQ(index.Count(), 1u);
  EXPECT_EQ(FindN(index, 10, 1), nullptr);
  EXPECT_EQ(FindN(index, 10, 2), b.get());
  index.Erase(10, a.get());  // not there any more: nothing happens
  EXPECT_EQ(index.Count(), 1u);
  index.Clear();
  EXPECT_EQ(FindN(index, 10, 2), nullptr);
}

TEST(FactIdIndexTest, DenseSparseAndNegativeIdsFindTheirSlots) {
  struct Case {
    std::int32_t id;
    std::size_t slot;
  };
  const Case cases[] = {
      {0, 5}, {1, 6}, {2000, 7}, {2'000'000'000, 8}, {-1, 9}, {3, 10},
  };
  TFactIdIndex index;
  for (const Case& c : cases) {
    index.Set(c.id, c.slot);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(index.Find(c.id), static_cast<std::int64_t>(c.slot));
  }
  EXPECT_EQ(index.Find(2), -1);
  EXPECT_EQ(index.Find(1'999'999'999), -1);
  for (const Case& c : cases) {
    index.Erase(c.id);
    EXPECT_EQ(index.Find(c.id), -1);
  }
  index.Set(4, 1);
  index.Clear();
  EXPECT_EQ(index.Find(4), -1);
}

// Ids handed out far beyond the array and dropped again, as a program that
// modifies a few facts over and over files them: whatever order they come
// and go in, every id finds its own slot and nothing else. Ids close
// together share home cells, so removals keep moving later entries back.
TEST(FactIdIndexTest, SparseIdsComingAndGoingKeepTheirSlots) {
  struct Case {
    std::int32_t base;
    std::int32_t spread;
  };
  const Case cases[] = {
      {1'000'000, 64}, {1'000'000, 5000}, {-50'000, 300}, {2'000'000'000, 100'000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base);
    std::mt19937 random(static_cast<std::uint32_t>(c.spread));
    std::uniform_int_distribution<std::int32_t> pick(0, c.spread - 1);
    TFactIdIndex index;
    std::map<std::int32_t, std::size_t> expected;
    for (std::size_t step = 0; step < 20'000; ++step) {
      const std::int32_t id = c.base + pick(random);
      if (random() % 3 == 0) {
        index.Erase(id);
        expected.erase(id);
      } else {
        index.Set(id, step);
        expected[id] = step;
      }
      if (step % 1000 == 0) {
        for (std::int32_t probe = c.base; probe < c.base + std::min(c.spread, 500); ++probe) {
          auto it = expected.find(probe);
          ASSERT_EQ(index.Find(probe),
                    it == expected.end() ? -1 : static_cast<std::int64_t>(it->second))
              << "id " << probe << " after step " << step;
        }
      }
    }
    for (const auto& [id, slot] : expected) {
      ASSERT_EQ(index.Find(id), static_cast<std::int64_t>(slot)) << "id " << id;
      index.Erase(id);
    }
    for (const auto& entry : expected) {
      EXPECT_EQ(index.Find(entry.first), -1);
    }
  }
}

}  // namespace
}  // namespace zephro

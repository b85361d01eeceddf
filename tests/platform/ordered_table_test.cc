// The name-keyed tables of the engine (rules, templates, functions...) against
// a plain list: the same items in the same order after any mix of stores,
// replacements and removals, found by name and only by their own name.

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/platform/ordered_table.h"

namespace zephro::testing {
namespace {

using TModel = std::vector<std::pair<std::string, int>>;

void ExpectSame(const TOrderedTable<int>& table, const TModel& model,
                const std::vector<std::string>& names) {
  ASSERT_EQ(table.Count(), static_cast<int>(model.size()));
  for (int i = 0; i < table.Count(); ++i) {
    EXPECT_EQ(table.At(i), model[static_cast<std::size_t>(i)]);
  }
  for (const std::string& name : names) {
    auto it = std::find_if(model.begin(), model.end(),
                           [&](const auto& item) { return item.first == name; });
    const int* found = table.Find(name);
    if (it == model.end()) {
      EXPECT_EQ(found, nullptr) << name;
    } else {
      ASSERT_NE(found, nullptr) << name;
      EXPECT_EQ(*found, it->second) << name;
    }
  }
}

TEST(OrderedTableTest, AgreesWithAListThroughStoresAndRemovals) {
  // Names that share prefixes, an empty one, and enough of them to make the
  // index grow several times.
  std::vector<std::string> names = {"", "a", "ab", "abc", "r", "r1", "r10"};
  for (int i = 0; i < 300; ++i) {
    names.push_back("rule-" + std::to_string(i));
  }
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    TOrderedTable<int> table;
    TModel model;
    for (int step = 0; step < 3000; ++step) {
      const std::string& name = names[random() % names.size()];
      auto it = std::find_if(model.begin(), model.end(),
                             [&](const auto& item) { return item.first == name; });
      if (random() % 3 == 0) {
        const int taken = table.Take(name);
        EXPECT_EQ(taken, it == model.end() ? 0 : it->second) << name;
        if (it != model.end()) {
          model.erase(it);
        }
      } else {
        table.Put(name, step + 1);
        if (it == model.end()) {
          model.emplace_back(name, step + 1);
        } else {
          it->second = step + 1;  // replaced where it stands
        }
      }
      // Between full checks, holes stay open: counting and finding must see
      // through them.
      ASSERT_EQ(table.Count(), static_cast<int>(model.size()));
      const int* found = table.Find(name);
      it = std::find_if(model.begin(), model.end(),
                        [&](const auto& item) { return item.first == name; });
      ASSERT_EQ(found == nullptr, it == model.end()) << name;
      if (step % 250 == 0) {
        ExpectSame(table, model, names);
      }
    }
    ExpectSame(table, model, names);
    table.Clear();
    ExpectSame(table, {}, names);
    table.Put("after", 7);
    ExpectSame(table, {{"after", 7}}, names);
  }
}

}  // namespace
}  // namespace zephro::testing

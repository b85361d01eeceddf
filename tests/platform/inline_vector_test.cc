// The vector that keeps its first item in place, against std::vector: the
// same items in the same order through growth, removals in order and taking
// items off the back, across the move from the item in place to an array.

#include "zephro/platform/inline_vector.h"

#include <vector>

#include <gtest/gtest.h>

namespace zephro {
namespace {

struct Item {
  const void* to;
  int kind;
  bool operator==(const Item&) const = default;
};

TEST(InlineVectorTest, AgreesWithAVectorAcrossTheMoveToAnArray) {
  const struct {
    std::vector<int> added;  // item numbers, in order
    int removed;             // every item with this number goes
    int popped;              // then this many come off the back
  } kCases[] = {
      {{}, 0, 0},        {{0}, 0, 0},          {{0}, 1, 1},          {{1, 0}, 0, 0},
      {{0, 1, 0}, 0, 0}, {{2, 0, 1, 3}, 2, 2}, {{0, 1, 2, 3, 0, 1, 2, 3, 0}, 1, 3},
  };
  static const int kTargets[4] = {};
  for (const auto& c : kCases) {
    TInlineVector<Item> items;
    std::vector<Item> model;
    for (std::size_t k = 0; k < c.added.size(); ++k) {
      const Item item{&kTargets[c.added[k]], static_cast<int>(k)};
      items.push_back(item);
      model.push_back(item);
    }
    auto gone = [&](const Item& item) { return item.to == &kTargets[c.removed]; };
    EXPECT_EQ(items.erase_if(gone), std::erase_if(model, gone));
    for (int i = 0; i < c.popped; ++i) {
      items.pop_back();
      model.pop_back();
    }
    EXPECT_EQ(std::vector<Item>(items.begin(), items.end()), model);
    ASSERT_EQ(items.size(), model.size());
    EXPECT_EQ(items.empty(), model.empty());
    if (!model.empty()) {
      EXPECT_EQ(items.back(), model.back());
      EXPECT_EQ(*items.rbegin(), model.back());
      EXPECT_EQ(items[0], model.front());
      EXPECT_EQ(std::vector<Item>(items.rbegin(), items.rend()),
                std::vector<Item>(model.rbegin(), model.rend()));
    }
    items.push_back({nullptr, -1});  // room again after removals
    EXPECT_EQ(items.back(), (Item{nullptr, -1}));
  }
}

}  // namespace
}  // namespace zephro

#include "zephro/platform/hash_table.h"

#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

#include "testing/collect.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;

class TItem : public RefCounted {
 public:
  explicit TItem(int v) : value(v) {}
  const int value;
};

template <class V>
std::vector<std::string> KeysInOrder(const TStringHashTable<V>& table) {
  return test::Collect(table, [](const auto& entry) { return entry.key; });
}

TEST(StringHashTableTest, KeepsTheOrderKeysWereFirstPut) {
  TInterfaceStringHashTable<TItem> table;
  for (const char* key : {"delta", "alpha", "charlie", "bravo"}) {
    EXPECT_FALSE(table.Put(key, MakeRef<TItem>(1)));
  }
  Ref<TItem> previous = table.Put("alpha", MakeRef<TItem>(2));  // keeps its place
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous->value, 1);
  EXPECT_EQ(table.Remove("charlie")->value, 1);
  table.Put("charlie", MakeRef<TItem>(3));  // back at the end
  EXPECT_THAT(KeysInOrder(table), ElementsAre("delta", "alpha", "bravo", "charlie"));
  EXPECT_THAT(table.Keys(), ElementsAre("delta", "alpha", "bravo", "charlie"));
  EXPECT_EQ(table.KeyByIndex(3), "charlie");
  EXPECT_EQ(table.ItemByIndex(1)->value, 2);
  EXPECT_THROW(table.KeyByIndex(4), EBaseException);
}

TEST(StringHashTableTest, AbsentKeysGiveEmptyValues) {
  TInterfaceStringHashTable<TItem> table;
  table.Put("Key", MakeRef<TItem>(1));
  EXPECT_FALSE(table.Get("key"));  // keys compare exactly
  EXPECT_FALSE(table.ContainsKey("key"));
  EXPECT_EQ(table.Find("missing"), nullptr);
  EXPECT_FALSE(table.Remove("missing"));
  EXPECT_EQ(table.Get("Key")->value, 1);
  EXPECT_EQ(table.Count(), 1);
}

TEST(StringHashTableTest, OwningTableHandsOutBorrowedPointersAndGivesUpOwnership) {
  TStringHashTable<std::unique_ptr<std::string>> table;
  table.Put("a", std::make_unique<std::string>("first"));
  std::string* borrowed = table.Get("a");
  ASSERT_NE(borrowed, nullptr);
  EXPECT_EQ(*borrowed, "first");
  std::unique_ptr<std::string> replaced = table.Put("a", std::make_unique<std::string>("second"));
  EXPECT_EQ(replaced.get(), borrowed);
  std::unique_ptr<std::string> taken = table.Remove("a");
  EXPECT_EQ(*taken, "second");
  EXPECT_EQ(table.Get("a"), nullptr);
}

TEST(StringHashTableTest, CopiesAndMovesKeepLookupsWorking) {
  TInterfaceStringHashTable<TItem> original;
  original.Put("one", MakeRef<TItem>(1));
  original.Put("two", MakeRef<TItem>(2));

  TInterfaceStringHashTable<TItem> copy;
  copy.Put("stale", MakeRef<TItem>(0));
  copy.Assign(original);
  original.Remove("one");
  EXPECT_THAT(KeysInOrder(copy), ElementsAre("one", "two"));
  EXPECT_EQ(copy.Get("two"), original.Get("two"));  // values are shared, not cloned

  TInterfaceStringHashTable<TItem> moved = std::move(copy);
  moved.Put("three", MakeRef<TItem>(3));
  EXPECT_EQ(moved.Get("one")->value, 1);
  EXPECT_EQ(moved.Remove("two")->value, 2);
  EXPECT_THAT(KeysInOrder(moved), ElementsAre("one", "three"));
}

}  // namespace
}  // namespace zephro

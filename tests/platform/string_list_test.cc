#include "zephro/platform/string_list.h"

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

template <class D>
std::vector<std::string> Texts(const TSortedStringList<D>& list) {
  return test::Collect(list, [](const auto& entry) { return entry.text; });
}

TEST(SortedStringListTest, SortedAddFilesAfterEqualStrings) {
  TSortedStringList<int> list(/*sorted=*/true);
  struct Step {
    const char* text;
    int data;
    int index;
  };
  const Step steps[] = {{"m", 1, 0}, {"c", 2, 0}, {"x", 3, 2}, {"m", 4, 2}, {"a", 5, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.text);
    EXPECT_EQ(list.Add(s.text, s.data), s.index);
  }
  EXPECT_THAT(Texts(list), ElementsAre("a", "c", "m", "m", "x"));
  EXPECT_EQ(list.GetData(2), 1);
  EXPECT_EQ(list.GetData(3), 4);

  struct Lookup {
    const char* text;
    bool found;
    int index;
  };
  const Lookup lookups[] = {{"m", true, 2}, {"a", true, 0}, {"b", false, 1}, {"z", false, 5}};
  for (const Lookup& l : lookups) {
    SCOPED_TRACE(l.text);
    int index = -1;
    EXPECT_EQ(list.Find(l.text, index), l.found);
    EXPECT_EQ(index, l.index);
    EXPECT_EQ(list.IndexOf(l.text), l.found ? l.index : -1);
  }
  EXPECT_THROW(list.Insert(0, "b"), EBaseException);
  EXPECT_THROW(list.Put(0, "b"), EBaseException);
}

TEST(SortedStringListTest, UnsortedKeepsPositionsAndSortsStablyOnRequest) {
  TSortedStringList<int> list;
  list.Add("b", 1);
  list.Add("a", 2);
  list.Insert(0, "b", 3);
  list.Put(1, "c");
  EXPECT_THAT(Texts(list), ElementsAre("b", "c", "a"));
  EXPECT_EQ(list.IndexOf("a"), 2);
  list.Put(1, "b");
  list.SetSorted(true);
  EXPECT_THAT(Texts(list), ElementsAre("a", "b", "b"));
  EXPECT_EQ(list.GetData(1), 3);  // equal strings kept their order
  EXPECT_EQ(list.GetData(2), 1);
}

TEST(SortedStringListTest, OwningDataIsFoundByAddressAndExtracted) {
  TSortedStringList<std::unique_ptr<int>> list;
  list.Add("one", std::make_unique<int>(1));
  list.Add("two", std::make_unique<int>(2));
  const int* two = list.GetData(1).get();
  EXPECT_EQ(list.IndexOfData(two), 1);
  int other = 0;
  EXPECT_EQ(list.IndexOfData(&other), -1);

  std::unique_ptr<int> taken = list.Extract(1);
  EXPECT_EQ(taken.get(), two);
  EXPECT_EQ(list.Count(), 1);
  list.PutData(0, std::make_unique<int>(10));
  EXPECT_EQ(*list.GetData(0), 10);
  EXPECT_THROW(list.Delete(1), EBaseException);
}

}  // namespace
}  // namespace zephro

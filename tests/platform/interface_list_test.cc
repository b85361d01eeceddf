#include "zephro/platform/interface_list.h"

#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

#include "testing/collect.h"

namespace zephro {
namespace {

class TItem : public RefCounted {
 public:
  TItem(int v, int* freed) : value(v), freed_(freed) {}
  ~TItem() override { ++*freed_; }
  const int value;

 private:
  int* freed_;
};

std::vector<int> Values(const TInterfaceList<TItem>& list) {
  return test::Collect(list, [](const Ref<TItem>& item) { return item ? item->value : -1; });
}

TEST(InterfaceListTest, FindsAndRemovesByIdentityNotValue) {
  int freed = 0;
  TInterfaceList<TItem> list;
  Ref<TItem> a = MakeRef<TItem>(1, &freed);
  Ref<TItem> twin = MakeRef<TItem>(1, &freed);
  EXPECT_EQ(list.Add(a), 0);
  EXPECT_EQ(list.Add(nullptr), 1);  // an element may be empty
  list.Insert(2, twin);
  list.Insert(0, MakeRef<TItem>(0, &freed));
  EXPECT_THAT(Values(list), ::testing::ElementsAre(0, 1, -1, 1));

  EXPECT_EQ(list.IndexOf(twin), 3);
  EXPECT_EQ(list.IndexOf(a.get()), 1);
  EXPECT_EQ(list.Remove(a), 1);
  EXPECT_EQ(list.Remove(a), -1);
  EXPECT_EQ(list.Last(), twin);
  EXPECT_EQ(list.First()->value, 0);
}

TEST(InterfaceListTest, HoldsOneReferencePerElement) {
  int freed = 0;
  TInterfaceList<TItem> list;
  list.Add(MakeRef<TItem>(1, &freed));
  list.Add(MakeRef<TItem>(2, &freed));
  list.Add(MakeRef<TItem>(3, &freed));
  list.Put(0, MakeRef<TItem>(4, &freed));
  EXPECT_EQ(freed, 1);
  list.Delete(1);
  EXPECT_EQ(freed, 2);
  {
    TInterfaceList<TItem> copy = list;  // shares the elements
    EXPECT_EQ(copy.Get(0)->RefCount(), 2);
  }
  list.Clear();
  EXPECT_EQ(freed, 4);
}

TEST(InterfaceListTest, IndexesOutsideTheListRaise) {
  int freed = 0;
  TInterfaceList<TItem> list;
  EXPECT_THROW(list.First(), EBaseException);
  list.Add(MakeRef<TItem>(1, &freed));
  EXPECT_THAT([&] { list.Get(1); }, ::testing::ThrowsMessage<EBaseException>(
                                        ::testing::StrEq("List index 1 out of range (count 1)")));
  EXPECT_THROW(list.Put(-1, nullptr), EBaseException);
  EXPECT_THROW(list.Delete(1), EBaseException);
  EXPECT_THROW(list.Insert(2, nullptr), EBaseException);
  EXPECT_EQ(list.Count(), 1);
}

TEST(InterfaceQueueTest, FirstInFirstOutWithPutBack) {
  int freed = 0;
  TInterfaceQueue<TItem> queue;
  EXPECT_TRUE(queue.IsEmpty());
  EXPECT_FALSE(queue.Pop());
  for (int i = 1; i <= 3; ++i) {
    queue.Push(MakeRef<TItem>(i, &freed));
  }
  Ref<TItem> first = queue.Pop();
  queue.PushFront(first);
  std::vector<int> order;
  while (!queue.IsEmpty()) {
    order.push_back(queue.Peek()->value);
    queue.Pop();
  }
  EXPECT_THAT(order, ::testing::ElementsAre(1, 2, 3));
  EXPECT_EQ(freed, 2);  // `first` is still held here
}

}  // namespace
}  // namespace zephro

#include "rules/folded_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

Ref<IValueVector> Integers(int n) {
  std::vector<Ref<IIEValue>> values;
  for (int i = 0; i < n; ++i) {
    values.push_back(TIEValue::Integer(i));
  }
  return Ref<IValueVector>(MakeRef<TValueVector>(std::move(values)));
}

// What folding copies: the elements before `at`, the segment as one list,
// then the rest.
Ref<IValueVector> Copied(const IValueVector& list, int at, int length) {
  std::vector<Ref<IIEValue>> segment;
  std::vector<Ref<IIEValue>> out;
  for (int i = 0; i < list.ValueCount(); ++i) {
    if (i >= at && i < at + length) {
      segment.emplace_back(list.Get(i));
    } else {
      out.emplace_back(list.Get(i));
    }
    if (i + 1 == at + length || (length == 0 && i + 1 == at)) {
      out.push_back(MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(segment)))));
      segment.clear();
    }
  }
  if (length == 0 && at == 0) {
    out.insert(out.begin(), MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>())));
  }
  return Ref<IValueVector>(MakeRef<TValueVector>(std::move(out)));
}

struct TFolding {
  const char* name;
  int size;
  std::vector<std::pair<int, int>> folds;  // (at, length), applied in order
};

// Folds one after the other, as a pattern's multifield variables do, must
// read exactly as the copies they stand for, element by element and whole.
TEST(FoldedListTest, ReadsAsTheCopyItStandsFor) {
  const TFolding cases[] = {
      {"one segment in the middle", 10, {{3, 4}}},
      {"the whole list", 10, {{0, 10}}},
      {"an empty segment first", 6, {{0, 0}}},
      {"an empty segment last", 6, {{6, 0}}},
      {"two segments around a field", 12, {{0, 5}, {2, 6}}},
      {"three segments, one empty", 9, {{1, 2}, {3, 0}, {5, 3}}},
      {"an empty list", 0, {{0, 0}}},
  };
  for (const TFolding& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<IValueVector> copy = Integers(c.size);
    Ref<IValueVector> folded = copy;
    for (const auto& [at, length] : c.folds) {
      copy = Copied(*copy, at, length);
      folded = TFoldedList::Fold(folded, at, length);
      ASSERT_TRUE(folded);
      ASSERT_NE(TFoldedList::Of(*folded), nullptr);
    }
    ASSERT_EQ(folded->ValueCount(), copy->ValueCount());
    for (int i = 0; i < copy->ValueCount(); ++i) {
      EXPECT_TRUE(folded->Get(i)->Equals(copy->Get(i))) << "element " << i;
    }
    EXPECT_THROW(folded->Get(copy->ValueCount()), EIEException);
    EXPECT_THROW(folded->Get(-1), EIEException);
    EXPECT_LE(copy->Depth(), folded->Depth());
    // Whole, it is the copy.
    EXPECT_TRUE(folded->Equals(copy.get()));
    EXPECT_TRUE(copy->Equals(folded.get()));
    EXPECT_EQ(folded->ToString(), copy->ToString());
    EXPECT_EQ(folded->GetHashCode(), copy->GetHashCode());
    ASSERT_EQ(folded->Values().size(), static_cast<std::size_t>(copy->ValueCount()));
  }
}

TEST(FoldedListTest, ChangingItChangesTheWholeListOnly) {
  Ref<IValueVector> source = Integers(8);
  Ref<IValueVector> folded = TFoldedList::Fold(source, 2, 3);
  ASSERT_TRUE(folded);
  folded->Add(TIEValue::Atom("end"));
  folded->Delete(0);
  EXPECT_EQ(folded->ValueCount(), 6);
  EXPECT_EQ(folded->Last()->Text(), "end");
  EXPECT_EQ(source->ValueCount(), 8);  // the source stays as it was
  // Folded again once whole, it folds the changed list.
  Ref<IValueVector> again = TFoldedList::Fold(folded, 0, 2);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->ValueCount(), 5);
}

TEST(FoldedListTest, LeavesToCopyingWhatItCannotDescribe) {
  Ref<IValueVector> folded = TFoldedList::Fold(Integers(10), 5, 2);
  ASSERT_TRUE(folded);
  EXPECT_FALSE(TFoldedList::Fold(folded, 2, 1)) << "a fold before one already made";
  EXPECT_FALSE(TFoldedList::Fold(folded, 5, 1)) << "a fold at one already made";
  EXPECT_FALSE(TFoldedList::Fold(folded, 8, 3)) << "past the end";
  EXPECT_FALSE(TFoldedList::Fold(Integers(3), -1, 1));
}

}  // namespace
}  // namespace zephro

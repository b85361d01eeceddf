#include "rules/indexed_sequence.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace zephro {
namespace {

// The sequence must behave exactly like a vector under random positional
// inserts and handle-based erasures.
TEST(IndexedSequenceTest, MatchesAVectorUnderRandomOperations) {
  std::mt19937 rng(7);
  TIndexedSequence<int> seq;
  std::vector<int> model;
  std::vector<TIndexedSequence<int>::Node*> handles;  // handles[v] for value v, or null
  int next_value = 0;
  for (int step = 0; step < 20000; ++step) {
    const bool insert = model.empty() || rng() % 3 != 0;
    if (insert) {
      int index = static_cast<int>(rng() % (model.size() + 1));
      model.insert(model.begin() + index, next_value);
      handles.push_back(seq.Insert(index, next_value));
      ++next_value;
    } else {
      int index = static_cast<int>(rng() % model.size());
      int value = model[static_cast<std::size_t>(index)];
      auto* node = handles[static_cast<std::size_t>(value)];
      ASSERT_EQ(seq.IndexOf(node), index);
      EXPECT_EQ(seq.Erase(node), value);
      handles[static_cast<std::size_t>(value)] = nullptr;
      model.erase(model.begin() + index);
    }
    ASSERT_EQ(seq.Count(), static_cast<int>(model.size()));
    if (step % 997 == 0) {
      std::vector<int> walked;
      seq.ForEach([&](int v) { walked.push_back(v); });
      ASSERT_EQ(walked, model);
      for (int i = 0; i < seq.Count(); ++i) {
        ASSERT_EQ(seq.At(i)->value, model[static_cast<std::size_t>(i)]);
      }
    }
  }
  int visited = 0;
  seq.Clear([&](int&) { ++visited; });
  EXPECT_EQ(visited, static_cast<int>(model.size()));
  EXPECT_TRUE(seq.Empty());
}

TEST(IndexedSequenceTest, FrontInsertionOfManyStaysShallow) {
  TIndexedSequence<int> seq;
  for (int i = 0; i < 100000; ++i) {
    seq.Insert(0, i);
  }
  EXPECT_EQ(seq.At(0)->value, 99999);
  EXPECT_EQ(seq.At(99999)->value, 0);
  EXPECT_EQ(seq.IndexOf(seq.At(5000)), 5000);
}

}  // namespace
}  // namespace zephro

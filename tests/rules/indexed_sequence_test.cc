#include "rules/indexed_sequence.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace zephro {
namespace {

// Where each value sits, as the sequence reports it: leaves[v] for value v.
std::vector<void*> leaves;
// How many times the sequence reported a place.
std::size_t placings = 0;

struct TRecordPlace {
  void operator()(int value, void* leaf) const {
    ++placings;
    if (static_cast<std::size_t>(value) >= leaves.size()) {
      leaves.resize(static_cast<std::size_t>(value) + 1);
    }
    leaves[static_cast<std::size_t>(value)] = leaf;
  }
};

using TSequence = TIndexedSequence<int, TRecordPlace>;

TSequence::Leaf* LeafOf(int value) {
  return static_cast<TSequence::Leaf*>(leaves[static_cast<std::size_t>(value)]);
}

void ExpectSame(const TSequence& seq, const std::vector<int>& model) {
  ASSERT_EQ(seq.Count(), static_cast<int>(model.size()));
  std::vector<int> walked;
  seq.ForEach([&](int v) { walked.push_back(v); });
  ASSERT_EQ(walked, model);
  for (std::size_t i = 0; i < model.size(); ++i) {
    ASSERT_EQ(seq.At(static_cast<int>(i)), model[i]);
    ASSERT_EQ(seq.IndexOf(LeafOf(model[i]), model[i]), static_cast<int>(i));
    const int* next = TSequence::Next(LeafOf(model[i]), model[i]);
    if (i + 1 < model.size()) {
      ASSERT_NE(next, nullptr);
      ASSERT_EQ(*next, model[i + 1]);
    } else {
      ASSERT_EQ(next, nullptr);
    }
  }
  std::size_t visited = 0;
  EXPECT_EQ(seq.CheckInvariants([&](int v, const TSequence::Leaf* leaf, int index) {
              EXPECT_EQ(leaf, LeafOf(v));
              EXPECT_EQ(model[static_cast<std::size_t>(index)], v);
              ++visited;
            }),
            model.size());
  EXPECT_EQ(visited, model.size());
}

// The sequence behaves exactly like a vector under positional inserts and
// removals, in the patterns the agenda makes: at the front (a new top
// salience), at the back, anywhere, and bursts that grow the tree several
// levels and then empty it again.
struct TPattern {
  const char* name;
  int insert_percent;  // of the steps
  int where;           // 0 front, 1 back, 2 anywhere
  int steps;
};

TEST(IndexedSequenceTest, MatchesAVectorUnderEachPatternOfUse) {
  const TPattern patterns[] = {
      {"front, mostly growing", 75, 0, 40000},
      {"back, mostly growing", 75, 1, 40000},
      {"anywhere, mostly growing", 70, 2, 40000},
      {"anywhere, balanced", 50, 2, 40000},
      {"front, mostly shrinking", 35, 0, 40000},
  };
  for (const TPattern& p : patterns) {
    SCOPED_TRACE(p.name);
    std::mt19937 rng(7);
    TSequence seq;
    std::vector<int> model;
    int next_value = 0;
    for (int step = 0; step < p.steps; ++step) {
      const bool grow = step < p.steps / 2 ? static_cast<int>(rng() % 100) < p.insert_percent
                                           : static_cast<int>(rng() % 100) >= p.insert_percent;
      if (model.empty() || grow) {
        int index = 0;
        if (p.where == 1) {
          index = static_cast<int>(model.size());
        } else if (p.where == 2) {
          index = static_cast<int>(rng() % (model.size() + 1));
        }
        model.insert(model.begin() + index, next_value);
        seq.Insert(index, next_value);
        ++next_value;
      } else {
        const auto index = static_cast<std::size_t>(rng() % model.size());
        const int value = model[index];
        ASSERT_EQ(seq.IndexOf(LeafOf(value), value), static_cast<int>(index));
        EXPECT_EQ(seq.Erase(LeafOf(value), value), value);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(index));
      }
      if (step % 4999 == 0) {
        ExpectSame(seq, model);
      }
    }
    ExpectSame(seq, model);
    // Emptied by removals, it is used again from nothing.
    while (!model.empty()) {
      const int value = model.back();
      seq.Erase(LeafOf(value), value);
      model.pop_back();
    }
    ExpectSame(seq, model);
    seq.Insert(0, next_value);
    model.push_back(next_value);
    ExpectSame(seq, model);
    int visited = 0;
    seq.Clear([&](int&) { ++visited; });
    EXPECT_EQ(visited, 1);
    EXPECT_TRUE(seq.Empty());
  }
}

// An agenda places nearly every activation at one end of its list. There a
// full leaf gets a new empty neighbour and no element moves: each is placed
// once, however many leaves and levels the sequence grows.
TEST(IndexedSequenceTest, ElementsAddedAtEitherEndNeverMove) {
  for (const bool front : {true, false}) {
    SCOPED_TRACE(front ? "front" : "back");
    TSequence seq;
    std::vector<int> model;
    placings = 0;
    constexpr int kCount = 3000;  // more than a level of 32 leaves of 32
    for (int v = 0; v < kCount; ++v) {
      const int index = front ? 0 : v;
      seq.Insert(index, v);
      model.insert(model.begin() + index, v);
    }
    EXPECT_EQ(placings, static_cast<std::size_t>(kCount));
    ExpectSame(seq, model);
    // Full leaves: the tree holds no more leaves than it must.
    std::size_t leaf_count = 0;
    for (const TSequence::Leaf* l = LeafOf(model.front()); l != nullptr; l = l->next) {
      ++leaf_count;
    }
    EXPECT_EQ(leaf_count, (kCount + TSequence::kLeafSize - 1) / TSequence::kLeafSize);
  }
}

TEST(IndexedSequenceTest, ClearVisitsEveryElementInOrder) {
  TSequence seq;
  std::vector<int> model;
  for (int i = 0; i < 5000; ++i) {
    seq.Insert(i / 2, i);
    model.insert(model.begin() + i / 2, i);
  }
  std::vector<int> visited;
  seq.Clear([&](int& v) { visited.push_back(v); });
  EXPECT_EQ(visited, model);
  EXPECT_EQ(seq.Count(), 0);
  ExpectSame(seq, {});
}

}  // namespace
}  // namespace zephro

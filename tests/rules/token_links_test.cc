// The links between tokens through which partial matches are withdrawn: a
// node must meet exactly the children it made, in the order made (right
// children) or its reverse (children), whatever happened to their siblings,
// and no link may outlive the token it names.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rules/token.h"

namespace zephro {
namespace {

Ref<TIEToken> Root() { return MakeRef<TIEToken>(TTokenAction::taAdd, Ref<IFact>()); }

Ref<TIEToken> ChildOf(const Ref<TIEToken>& parent) {
  return MakeRef<TIEToken>(parent, Ref<IFact>());
}

// The positions (in `made`) of the children of `parent` from `origin`.
std::vector<int> Visit(TIEToken& parent, std::uint32_t origin,
                       const std::vector<Ref<TIEToken>>& made, bool right = false) {
  std::vector<int> seen;
  auto note = [&](TIEToken& child) {
    for (std::size_t i = 0; i < made.size(); ++i) {
      if (made[i].get() == &child) {
        seen.push_back(static_cast<int>(i));
      }
    }
  };
  if (right) {
    parent.ForRightChildrenFrom(origin, note);
  } else {
    parent.ForChildrenNewestFirst(origin, note);
    std::reverse(seen.begin(), seen.end());
  }
  return seen;
}

struct LinkCase {
  std::string name;
  std::vector<std::uint32_t> origins;  // of the children, in the order made
  std::vector<int> detached;           // positions detached afterwards
  std::uint32_t visited_origin;
  std::vector<int> expected;
};

TEST(TokenLinksTest, NodeMeetsItsOwnChildrenOldestFirst) {
  const std::vector<LinkCase> cases = {
      {"none", {}, {}, 1, {}},
      {"one node", {1, 1, 1}, {}, 1, {0, 1, 2}},
      {"two nodes interleaved", {1, 2, 1, 2, 1}, {}, 2, {1, 3}},
      {"first detached", {1, 1, 1}, {0}, 1, {1, 2}},
      {"middle detached", {1, 1, 1}, {1}, 1, {0, 2}},
      {"last detached", {1, 1, 1}, {2}, 1, {0, 1}},
      {"all detached", {1, 1}, {1, 0}, 1, {}},
      {"other node's child detached", {2, 1, 2, 1}, {0, 2}, 1, {1, 3}},
  };
  for (const LinkCase& c : cases) {
    for (bool right : {false, true}) {
      Ref<TIEToken> parent = Root();
      Ref<TIEToken> left = Root();  // what every right child extends
      std::vector<Ref<TIEToken>> made;
      for (std::uint32_t origin : c.origins) {
        Ref<TIEToken> child = ChildOf(right ? left : parent);
        child->ParentToken()->AdoptChild(*child, origin);
        if (right) {
          parent->AdoptRightChild(*child);
        }
        made.push_back(child);
      }
      for (int d : c.detached) {
        made[static_cast<std::size_t>(d)]->Detach();
      }
      EXPECT_EQ(Visit(*parent, c.visited_origin, made, right), c.expected)
          << c.name << (right ? " (right children)" : "");
    }
  }
}

TEST(TokenLinksTest, VisitorMayDetachEachChildAndMissesNewOnes) {
  Ref<TIEToken> parent = Root();
  std::vector<Ref<TIEToken>> made;
  for (int i = 0; i < 4; ++i) {
    made.push_back(ChildOf(parent));
    parent->AdoptChild(*made.back(), 7);
  }
  int visited = 0;
  parent->ForChildrenNewestFirst(7, [&](TIEToken& child) {
    ++visited;
    child.Detach();
    made.push_back(ChildOf(parent));  // made while withdrawing: not visited
    parent->AdoptChild(*made.back(), 7);
  });
  EXPECT_EQ(visited, 4);
  EXPECT_EQ(Visit(*parent, 7, made), (std::vector<int>{4, 5, 6, 7}));
}

TEST(TokenLinksTest, ReleasedTokensLeaveTheirLists) {
  Ref<TIEToken> parent = Root();
  Ref<TIEToken> right = Root();
  std::vector<Ref<TIEToken>> made;
  for (int i = 0; i < 3; ++i) {
    made.push_back(ChildOf(parent));
    parent->AdoptChild(*made.back(), 1);
    right->AdoptRightChild(*made.back());
  }
  made[1].reset();  // the middle child goes without being detached first
  std::vector<Ref<TIEToken>> live = {made[0], made[2]};
  EXPECT_EQ(Visit(*parent, 1, live), (std::vector<int>{0, 1}));
  EXPECT_EQ(Visit(*right, 1, live, true), (std::vector<int>{0, 1}));
  // The right parent goes first: its children stay usable and unlinked.
  right.reset();
  live[0]->Detach();
  live[1]->Detach();
  EXPECT_TRUE(Visit(*parent, 1, live).empty());
}

}  // namespace
}  // namespace zephro

namespace zephro {
namespace {

// A one-fact token filed by several memories must be found, and taken out,
// by each of them exactly once, in any order: the token keeps where each
// filed it.
TEST(TokenLinksTest, OneFactTokenIsFoundInEveryMemoryThatFiledIt) {
  const std::vector<std::vector<int>> removal_orders = {
      {0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 0, 4, 1, 3}, {1}, {3, 1}};
  for (const std::vector<int>& order : removal_orders) {
    std::vector<std::unique_ptr<TIETokenTree>> memories;
    for (int m = 0; m < 5; ++m) {
      memories.push_back(std::make_unique<TIETokenTree>(1));
    }
    Ref<TIEToken> token = Root();
    std::vector<Ref<TIEToken>> others;
    for (int m = 0; m < 5; ++m) {
      // Other tokens around it, so positions differ between memories.
      for (int k = 0; k < m; ++k) {
        others.push_back(Root());
        memories[static_cast<std::size_t>(m)]->Add(others.back(), k);
      }
      ASSERT_NE(memories[static_cast<std::size_t>(m)]->Add(token, 7), TIETokenTree::kNoEntry);
    }
    for (int m : order) {
      TIETokenTree& memory = *memories[static_cast<std::size_t>(m)];
      const int before = memory.Count();
      Ref<TIEToken> held;
      EXPECT_TRUE(memory.Remove(*token, nullptr, &held)) << "memory " << m;
      EXPECT_EQ(held.get(), token.get());
      EXPECT_EQ(memory.Count(), before - 1);
      EXPECT_FALSE(memory.Remove(*token, nullptr)) << "memory " << m << " twice";
    }
  }
}

}  // namespace
}  // namespace zephro

// The links between tokens through which partial matches are withdrawn: a
// node must meet exactly the children it made, in the order made (right
// children) or its reverse (children), whatever happened to their siblings,
// and no link may outlive the token it names.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rules/token_memory.h"
#include "zephro/facts/fact.h"

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
      // Longer lists, of odd and even lengths, their ends made by either node.
      {"six, two nodes", {1, 2, 2, 1, 1, 2}, {}, 1, {0, 3, 4}},
      {"six, the other node", {1, 2, 2, 1, 1, 2}, {}, 2, {1, 2, 5}},
      {"seven", {1, 1, 1, 1, 1, 1, 1}, {}, 1, {0, 1, 2, 3, 4, 5, 6}},
      {"eight, both ends detached", {1, 1, 1, 1, 1, 1, 1, 1}, {0, 7}, 1, {1, 2, 3, 4, 5, 6}},
      {"nine, middle detached", {2, 1, 1, 1, 1, 1, 1, 1, 2}, {4}, 1, {1, 2, 3, 5, 6, 7}},
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

// A memory finds the entry holding a partial match at home from the position
// alone, and no other: not an entry that holds it by identity (it was filed
// elsewhere first), nor one another token took after it left, nor a position
// past the end.
TEST(TokenLinksTest, EntryAtHomeIsOnlyTheTokensOwn) {
  const Ref<TIEToken> root = Root();
  TIETokenTree first(1);
  TIETokenTree second(1);
  std::vector<Ref<TIEToken>> partial;
  std::vector<std::uint32_t> in_first;
  std::vector<std::uint32_t> in_second;
  for (int i = 0; i < 6; ++i) {
    partial.push_back(ChildOf(root));
    in_first.push_back(first.Add(partial.back(), i));
  }
  // The second memory files some of them by identity, at other positions.
  for (int i = 5; i >= 2; --i) {
    in_second.push_back(second.Add(partial[static_cast<std::size_t>(i)], i));
  }
  ASSERT_TRUE(first.Remove(*partial[1], nullptr));
  const Ref<TIEToken> later = ChildOf(root);
  ASSERT_EQ(first.Add(later, 9), in_first[1]) << "the place left is taken again";
  struct Case {
    std::string name;
    const TIETokenTree* memory;
    std::uint32_t position;
    const TIEToken* token;
    const TIEToken* expected;  // the token of the entry found, or null
  };
  const std::vector<Case> cases = {
      {"at home", &first, in_first[0], partial[0].get(), partial[0].get()},
      {"at home, last", &first, in_first[5], partial[5].get(), partial[5].get()},
      {"filed by identity", &second, in_second[0], partial[5].get(), nullptr},
      {"place taken after it left", &first, in_first[1], partial[1].get(), nullptr},
      {"its successor there", &first, in_first[1], later.get(), later.get()},
      {"another token's home", &first, in_first[2], partial[3].get(), nullptr},
      {"past the end", &first, 1000, partial[0].get(), nullptr},
  };
  for (const Case& c : cases) {
    const TIETokenTree::Entry* e = c.memory->AtHome(c.position, *c.token);
    EXPECT_EQ(e != nullptr ? e->token.get() : nullptr, c.expected) << c.name;
  }
}

// A memory emptied entry by entry lets go of every token at once and, filled
// again from the start of its array, holds exactly the new tokens: probes
// and whole walks meet only them, and the old ones are found nowhere.
TEST(TokenLinksTest, MemoryEmptiedAndFilledAgainHoldsOnlyTheNew) {
  const int sizes[] = {1, 5, TIETokenTree::kLookAheadFrom + 5};
  for (int size : sizes) {
    TIETokenTree memory(1);
    const Ref<TIEToken> root = Root();
    std::vector<Ref<TIEToken>> old_tokens;
    for (int i = 0; i < size; ++i) {
      // Partial matches (filed at home) and one-fact tokens.
      old_tokens.push_back(i % 2 == 0 ? ChildOf(root) : Root());
      ASSERT_NE(memory.Add(old_tokens.back(), i % 3), TIETokenTree::kNoEntry);
    }
    for (int i = size - 1; i >= 0; i -= 2) {
      ASSERT_TRUE(memory.Remove(*old_tokens[static_cast<std::size_t>(i)], nullptr));
    }
    for (int i = size % 2 == 0 ? 0 : 1; i < size; i += 2) {
      ASSERT_TRUE(memory.Remove(*old_tokens[static_cast<std::size_t>(i)], nullptr));
    }
    ASSERT_EQ(memory.Count(), 0);
    for (const Ref<TIEToken>& t : old_tokens) {
      EXPECT_EQ(t->RefCount(), 1) << "size " << size << ": the memory still holds a token";
    }
    std::vector<Ref<TIEToken>> new_tokens;
    const int refilled = size / 2 + 1;
    for (int i = 0; i < refilled; ++i) {
      new_tokens.push_back(i % 2 == 0 ? ChildOf(root) : Root());
      ASSERT_NE(memory.Add(new_tokens.back(), i % 3), TIETokenTree::kNoEntry);
    }
    for (int hash = 0; hash < 3; ++hash) {
      std::vector<TIEToken*> expected;
      for (int i = hash; i < refilled; i += 3) {
        expected.push_back(new_tokens[static_cast<std::size_t>(i)].get());
      }
      std::vector<TIEToken*> met;
      memory.ForKey(hash, [&](TIETokenTree::Entry& e, std::uint32_t) {
        met.push_back(e.token.get());
        return true;
      });
      EXPECT_EQ(met, expected) << "size " << size << ", hash " << hash;
    }
    int walked = 0;
    memory.ForEach([&](TIETokenTree::Entry&, std::uint32_t) { return ++walked > 0; });
    EXPECT_EQ(walked, refilled) << "size " << size;
    for (const Ref<TIEToken>& t : old_tokens) {
      EXPECT_FALSE(memory.Remove(*t, nullptr)) << "size " << size << ": an old token was found";
    }
    EXPECT_EQ(memory.Count(), refilled);
  }
}

// A probe meets exactly the entries filed under its key hash, oldest first,
// and stops where the visitor says, in memories small and large (a large one
// fetches ahead while it walks), with removed entries and reused places.
TEST(TokenLinksTest, ProbesMeetTheirKeysEntriesOldestFirst) {
  constexpr int kKeys = 7;
  // Filed, less a third removed, plus a third filed again: the two middle
  // sizes leave the memory just below and just at the look-ahead's size.
  const int sizes[] = {12, TIETokenTree::kLookAheadFrom - 1, TIETokenTree::kLookAheadFrom + 1,
                       3 * TIETokenTree::kLookAheadFrom};
  for (int size : sizes) {
    TIETokenTree memory(1);
    std::vector<std::pair<int, Ref<TIEToken>>> live;  // hash and token, as filed
    auto file = [&](int hash) {
      live.emplace_back(hash, Root());
      ASSERT_NE(memory.Add(live.back().second, hash), TIETokenTree::kNoEntry);
    };
    for (int i = 0; i < size; ++i) {
      file(i % kKeys);
    }
    // Every third entry goes; as many come back, into the places it left.
    const std::size_t filed = live.size();
    for (std::size_t i = 0; i < filed; i += 3) {
      ASSERT_TRUE(memory.Remove(*live[i].second, nullptr));
      live[i].second = nullptr;
    }
    std::erase_if(live, [](const auto& entry) { return !entry.second; });
    for (int i = 0; i < size / 3; ++i) {
      file((i * 5) % kKeys);
    }
    for (int hash = 0; hash < kKeys; ++hash) {
      std::vector<TIEToken*> expected;
      for (const auto& [h, token] : live) {
        if (h == hash) {
          expected.push_back(token.get());
        }
      }
      std::vector<TIEToken*> met;
      memory.ForKey(hash, [&](TIETokenTree::Entry& e, std::uint32_t) {
        met.push_back(e.token.get());
        return true;
      });
      EXPECT_EQ(met, expected) << "size " << size << ", hash " << hash;
      std::vector<TIEToken*> first_three;
      memory.ForKey(hash, [&](TIETokenTree::Entry& e, std::uint32_t) {
        first_three.push_back(e.token.get());
        return first_three.size() < 3;
      });
      expected.resize(std::min<std::size_t>(expected.size(), 3));
      EXPECT_EQ(first_three, expected) << "size " << size << ", hash " << hash;
    }
  }
}

}  // namespace
}  // namespace zephro

namespace zephro {
namespace {

// A partial match reads its facts by position through its parents: each
// position in the chain gives the fact added there, any other none, for
// chains of every length, a copy with another action and the clear signal.
TEST(TokenLinksTest, FactsAreReadByTheirPositionInTheChain) {
  for (int length : {1, 2, 3, 7}) {
    std::vector<Ref<IFact>> facts;
    Ref<TIEToken> token;
    for (int i = 0; i < length; ++i) {
      facts.push_back(MakeRef<TFact>());
      facts.back()->SetID(100 + i);
      token = i == 0 ? MakeRef<TIEToken>(TTokenAction::taAdd, facts.back())
                     : MakeRef<TIEToken>(token, facts.back());
    }
    const Ref<TIEToken> copy = MakeRef<TIEToken>(*token, TTokenAction::taRemove);
    for (const TIEToken* t : {token.get(), copy.get()}) {
      ASSERT_EQ(t->Count(), length);
      for (int i = -2; i <= length + 1; ++i) {
        IFact* expected = i >= 0 && i < length ? facts[static_cast<std::size_t>(i)].get() : nullptr;
        EXPECT_EQ(t->FactAt(i), expected) << "length " << length << ", position " << i;
        EXPECT_EQ(t->GetFacts(i), expected) << "length " << length << ", position " << i;
      }
    }
  }
  const Ref<TIEToken> clear = TIEToken::Clear();
  for (int i = -1; i <= 1; ++i) {
    EXPECT_EQ(clear->FactAt(i), nullptr) << "clear signal, position " << i;
  }
}

// However many tokens hold one of the engine's facts, they take one
// reference of the fact's own, the first of them taking it and the last
// giving it back, in whatever order they go; a fact the host let go of lives
// as long as a token holds it.
TEST(TokenLinksTest, TokensHoldAFactThroughOneReferenceOfItsOwn) {
  for (const bool newest_first : {false, true}) {
    Ref<IFact> fact = MakeRef<TFact>();
    fact->SetID(7);
    std::vector<Ref<TIEToken>> tokens;
    tokens.push_back(MakeRef<TIEToken>(TTokenAction::taAdd, fact));
    for (int i = 0; i < 4; ++i) {
      tokens.push_back(MakeRef<TIEToken>(tokens.back(), fact.get()));
      tokens.push_back(MakeRef<TIEToken>(*tokens.back(), TTokenAction::taRemove));
    }
    EXPECT_EQ(fact->RefCount(), 2) << "the host's and the tokens' one";
    const IFact* held = fact.get();
    fact = nullptr;  // the tokens' reference keeps it
    while (!tokens.empty()) {
      EXPECT_EQ(tokens.back()->Fact(), held);
      EXPECT_EQ(tokens.back()->Fact()->GetID(), 7);
      EXPECT_EQ(held->RefCount(), 1);
      if (newest_first) {
        tokens.pop_back();
      } else {
        tokens.erase(tokens.begin());
      }
    }
  }
}

}  // namespace
}  // namespace zephro

// The invariant checks of the matcher's memories, the links between tokens,
// the agenda and working memory: a structure broken on purpose must stop the
// program with a message naming the structure and what is broken, and a
// sound one must pass. The structures' checks are compiled in every build and
// are called directly here; the engine calls them after each move of facts
// and each change of the agenda only in builds with ZEPHRO_DEBUG_CHECKS,
// which the last tests need.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/compact_arena.h"
#include "rules/rete_nodes.h"
#include "rules/token_memory.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact.h"
#include "zephro/rules/activation.h"

#include "testing/engine_fixture.h"

namespace zephro {

// Breaks memories and tokens on purpose: a friend of both.
struct TTokenMemoryTamper {
  using Link = TIEToken::Link;

  // The entry at `position`, its links done.
  static TIETokenTree::Entry& At(TIETokenTree& memory, std::uint32_t position) {
    memory.FinishLinks();
    return memory.entries_[position];
  }
  static int& Count(TIETokenTree& memory) { return memory.count_; }
  static std::size_t& Occupied(TIETokenTree& memory) { return memory.occupied_; }
  static std::size_t& IdentityCount(TIETokenTree& memory) { return memory.id_count_; }
  static std::uint32_t& FreeList(TIETokenTree& memory) { return memory.free_; }
  static std::uint32_t Modulus(const TIETokenTree& memory) { return memory.modulus_; }
  static void ResizeKeyTable(TIETokenTree& memory, std::size_t buckets) {
    memory.FinishLinks();
    memory.keys_.resize(buckets);
  }

  static std::uint32_t& Home(TIEToken& token) { return token.home_; }
  static std::uint16_t& FactCount(TIEToken& token) { return token.count_; }
  static void ForgetChildren(TIEToken& token) { token.children_ = Link(); }
  // The ring's head names its first right child as its last one.
  static void ShortenRing(TIEToken& head) { head.right_prev_ = head.right_next_; }
  // The token's list of children starts at `object` (not a live token).
  static void ChildrenAt(TIEToken& token, void* object) {
    token.children_ = Link(static_cast<TIEToken*>(object));
  }
};

namespace {

using testing::EngineFixture;
using testing::V;

Ref<TIEToken> Root() { return MakeRef<TIEToken>(TTokenAction::taAdd, Ref<IFact>()); }

// A memory of six partial matches of one parent under two keys, each filed
// at home (the first memory to hold it).
struct Filled {
  explicit Filled(bool probed) : memory(8, probed) {
    for (int i = 0; i < 6; ++i) {
      Ref<TIEToken> child = MakeRef<TIEToken>(parent, Ref<IFact>());
      parent->AdoptChild(*child, 1);
      memory.Add(child, i % 2);
      children.push_back(child);
    }
  }

  Ref<TIEToken> parent = Root();
  TIETokenTree memory;
  std::vector<Ref<TIEToken>> children;
};

// The messages all start alike.
std::string Broken(const std::string& what) { return "zephro: invariant broken: " + what; }

class InvariantChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The death tests run after others that started threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(InvariantChecksTest, SoundMemoriesPassAndCountTheirWork) {
  for (bool probed : {false, true}) {
    SCOPED_TRACE(probed ? "probed" : "walked");
    Filled f(probed);
    // Each entry and each token visited counts: the six entries, their
    // tokens and at least a bucket.
    const std::size_t full = f.memory.CheckInvariants();
    EXPECT_GE(full, 13u);
    // Filed by identity in a second memory (they have a home already).
    TIETokenTree other(8, probed);
    for (const Ref<TIEToken>& child : f.children) {
      other.Add(child, 7);
    }
    EXPECT_GE(other.CheckInvariants(), 13u);
    // Removals put positions on the free list; the next filing reuses one.
    std::uint32_t position = 0;
    ASSERT_TRUE(f.memory.Remove(*f.children[1], &position));
    ASSERT_TRUE(other.Remove(*f.children[4], &position));
    EXPECT_LT(f.memory.CheckInvariants(), full);
    other.CheckInvariants();
    // Filed again, by identity now: its home is the old position.
    f.memory.Add(f.children[1], 3);
    EXPECT_GE(f.memory.CheckInvariants(), full);
  }
}

TEST_F(InvariantChecksTest, BrokenKeyChainsAreReported) {
  Filled f(/*probed=*/true);
  EXPECT_DEATH(TTokenMemoryTamper::At(f.memory, 2).key_prev = TIETokenTree::kNoEntry;
               f.memory.CheckInvariants(),
               Broken("token memory: an entry.s key_prev is not the entry before it"));
  EXPECT_DEATH(TTokenMemoryTamper::At(f.memory, 4).key_next = 4; f.memory.CheckInvariants(),
               Broken("token memory: an entry is met twice on the key chains"));
  EXPECT_DEATH(TTokenMemoryTamper::At(f.memory, 3).key_next = 1000; f.memory.CheckInvariants(),
               Broken("token memory: a key chain names a position past the entries"));
  EXPECT_DEATH(--TTokenMemoryTamper::Count(f.memory); f.memory.CheckInvariants(),
               Broken("token memory: the entry count differs from the entries on the key chains"));
  EXPECT_DEATH(++TTokenMemoryTamper::Occupied(f.memory); f.memory.CheckInvariants(),
               Broken("token memory: the count of occupied key buckets"));
}

TEST_F(InvariantChecksTest, EntriesOfAnotherBucketAreReported) {
  // A memory walked whole files hash h in bucket |h| mod 8.
  Filled f(/*probed=*/false);
  ASSERT_EQ(TTokenMemoryTamper::Modulus(f.memory), 8u);
  EXPECT_DEATH(TTokenMemoryTamper::At(f.memory, 0).hash = 2; f.memory.CheckInvariants(),
               Broken("token memory: an entry is on the key chain of another bucket"));
  EXPECT_DEATH(TTokenMemoryTamper::ResizeKeyTable(f.memory, 9); f.memory.CheckInvariants(),
               Broken("token memory: a memory walked whole has more key buckets than its "
                      "bucket count"));
}

TEST_F(InvariantChecksTest, MisfiledTokensAreReported) {
  Filled f(/*probed=*/true);
  // Entry 3 is its token's home; the token says it is at 0.
  EXPECT_DEATH(TTokenMemoryTamper::Home(*f.children[3]) = 0; f.memory.CheckInvariants(),
               Broken("token memory: an entry filed at home is not where its token.s home says"));
  TIETokenTree other(8, /*probed=*/true);
  for (const Ref<TIEToken>& child : f.children) {
    other.Add(child, 5);  // by identity
  }
  other.CheckInvariants();
  EXPECT_DEATH(++TTokenMemoryTamper::IdentityCount(other); other.CheckInvariants(),
               Broken("token memory: the identity count differs"));
  EXPECT_DEATH(TTokenMemoryTamper::At(other, 2).id_next = 2; other.CheckInvariants(),
               Broken("token memory: an entry is met twice on the identity chains"));
}

TEST_F(InvariantChecksTest, BrokenFreeListsAreReported) {
  Filled f(/*probed=*/true);
  std::uint32_t position = 0;
  ASSERT_TRUE(f.memory.Remove(*f.children[1], &position));
  ASSERT_EQ(position, 1u);
  f.memory.CheckInvariants();
  EXPECT_DEATH(TTokenMemoryTamper::FreeList(f.memory) = 2; f.memory.CheckInvariants(),
               Broken("token memory: an entry on the free list holds a token"));
  EXPECT_DEATH(TTokenMemoryTamper::FreeList(f.memory) = TIETokenTree::kNoEntry;
               f.memory.CheckInvariants(),
               Broken("token memory: positions neither live nor on the free list"));
}

TEST_F(InvariantChecksTest, BrokenTokenLinksAreReported) {
  Filled f(/*probed=*/true);
  EXPECT_DEATH(TTokenMemoryTamper::FactCount(*f.children[2]) = 5; f.memory.CheckInvariants(),
               Broken("token: its fact count is not its parent.s count"));
  // The newest child stands first in its parent's list.
  EXPECT_DEATH(TTokenMemoryTamper::ForgetChildren(*f.parent); f.memory.CheckInvariants(),
               Broken("token: first among its parent.s children, but not the child its parent "
                      "names"));
  // A name past every unit carved.
  EXPECT_DEATH(TTokenMemoryTamper::ChildrenAt(*f.children[0], TCompactArena::At(0x7fffffffu));
               f.memory.CheckInvariants(),
               Broken("token: its list of children names no live token"));
#if defined(__SANITIZE_ADDRESS__)
  // A token released: its unit is poisoned, and never carved again.
  TIEToken* gone = Root().get();
  EXPECT_DEATH(TTokenMemoryTamper::ChildrenAt(*f.children[0], gone); f.memory.CheckInvariants(),
               Broken("token: its list of children names no live token"));
#endif
}

TEST_F(InvariantChecksTest, BrokenRingsOfRightChildrenAreReported) {
  Ref<TIEToken> left = Root();
  Ref<TIEToken> right = Root();
  std::vector<Ref<TIEToken>> made;
  for (int i = 0; i < 3; ++i) {
    Ref<TIEToken> child = MakeRef<TIEToken>(left, Ref<IFact>());
    left->AdoptChild(*child, 1);
    right->AdoptRightChild(*child);
    made.push_back(child);
  }
  TIETokenTree memory(8, /*probed=*/true);
  memory.Add(right, 0);
  TIETokenTree partial(8, /*probed=*/true);
  for (const Ref<TIEToken>& child : made) {
    partial.Add(child, 0);
  }
  // The head and its three right children are visited; then the three
  // partial matches.
  EXPECT_GE(memory.CheckInvariants(), 4u);
  EXPECT_GE(partial.CheckInvariants(), 3u);
  EXPECT_DEATH(TTokenMemoryTamper::ShortenRing(*right); memory.CheckInvariants(),
               Broken("token: the last of its ring is not the right child it names"));
  EXPECT_DEATH(TTokenMemoryTamper::ShortenRing(*right); partial.CheckInvariants(),
               Broken("token: its neighbours in its right parent.s ring do not link to it"));
}

TEST_F(InvariantChecksTest, BlockersThatAreGoneAreReported) {
  Filled left(/*probed=*/true);
  TIETokenTree right(8, /*probed=*/true);
  right.Add(Root(), 0);
  left.memory.Blocker(2) = 0;  // the one right entry
  left.memory.CheckBlockers(&right);
  EXPECT_DEATH(left.memory.Blocker(3) = 1; left.memory.CheckBlockers(&right),
               Broken("negated join: a left entry is blocked by a right entry that is gone"));
  EXPECT_DEATH(left.memory.CheckBlockers(nullptr),
               Broken("negated join: a left entry is blocked by a right entry that is gone"));
}

std::vector<Ref<IIEValue>> Ints(std::initializer_list<std::int32_t> values) {
  std::vector<Ref<IIEValue>> out;
  for (std::int32_t v : values) {
    out.push_back(TIEValue::Integer(v));
  }
  return out;
}

// An engine holding one partial match in a join's left memory, one
// activation of rule "high" (salience 10) and, after it, two of rule "low"
// (salience 0).
struct Loaded {
  Loaded() {
    fx.Rule("high", {{"a", {V("x")}}, {"b", {V("x")}}}, 10);
    fx.Rule("low", {{"c", {V("x")}}}, 0);
    fx.Assert("a", Ints({1}));
    fx.Assert("b", Ints({1}));
    fx.Assert("c", Ints({1}));
    fx.Assert("c", Ints({2}));
  }
  TInferenceEngine& Engine() { return fx.Engine(); }
  // The left memory of the join of rule "high", or null.
  TIETokenTree* JoinMemory() {
    TActivation& high = Engine().GetActivation(0);
    if (high.Node() == nullptr || high.Node()->Predecessors().empty()) {
      return nullptr;
    }
    const auto* join = dynamic_cast<const TJoinNode*>(*high.Node()->Predecessors().begin());
    return join != nullptr ? const_cast<TIETokenTree*>(join->LeftTree()) : nullptr;
  }
  // Moves facts through the network: more than enough for a check to be due.
  void Churn() {
    for (std::int32_t i = 0; i < 64; ++i) {
      fx.Assert("d", Ints({i}));
    }
  }
  EngineFixture fx;
};

TEST_F(InvariantChecksTest, SoundEngineStructuresPass) {
  Loaded e;
  ASSERT_EQ(e.Engine().GetAgendaCount(), 3);
  EXPECT_EQ(e.fx.Agenda().front(), "high: f-1, f-2");
  const std::size_t network = e.Engine().ReteNetwork().CheckInvariants();
  EXPECT_GT(network, 0u);
  EXPECT_GT(e.Engine().Agenda().CheckInvariants(), 0u);
  const std::size_t facts = e.Engine().Facts().CheckInvariants();
  // More facts, more work for the next check.
  e.fx.Assert("a", Ints({2}));
  EXPECT_GT(e.Engine().ReteNetwork().CheckInvariants(), network);
  EXPECT_GT(e.Engine().Facts().CheckInvariants(), facts);
  e.Engine().Run();
  EXPECT_EQ(e.Engine().GetAgendaCount(), 0);
  e.Engine().Agenda().CheckInvariants();
}

TEST_F(InvariantChecksTest, AnAgendaOutOfSalienceOrderIsReported) {
  Loaded e;
  e.Engine().Agenda().CheckInvariants();
  // "low" now outranks "high", which the agenda holds before it.
  EXPECT_DEATH(e.Engine().FindRule("low")->SetSalienceInteger(20);
               e.Engine().Agenda().CheckInvariants(),
               Broken("agenda: an activation of higher salience after one of lower salience"));
}

TEST_F(InvariantChecksTest, AFactWhoseIdChangedIsReported) {
  Loaded e;
  e.Engine().Facts().CheckInvariants();
  EXPECT_DEATH(e.Engine().Facts().GetFactByID(2)->SetID(40); e.Engine().Facts().CheckInvariants(),
               Broken("working memory: the id index does not find a fact at its slot"));
}

// The engine's own calls: a structure broken between two changes is
// reported by the checks that follow the next ones.
#if defined(ZEPHRO_DEBUG_CHECKS)

TEST_F(InvariantChecksTest, TheEngineChecksTheNetworkAfterMoves) {
  Loaded e;
  TIETokenTree* memory = e.JoinMemory();
  ASSERT_NE(memory, nullptr);
  EXPECT_DEATH(--TTokenMemoryTamper::Count(*memory); e.Churn(),
               Broken("token memory: the entry count differs from the entries on the key chains"));
  // A partial match withdrawn, then moves enough for a check to be due
  // whatever the pace the checks before left (it follows the work they did,
  // which depends on how the memories grew).
  EXPECT_DEATH(++TTokenMemoryTamper::Occupied(*memory); e.Engine().Retract(2); e.Churn(),
               Broken("token memory: the count of occupied key buckets"));
  e.Churn();  // the same moves pass a sound network
  EXPECT_EQ(e.Engine().Facts().Count(), 5 + 64);
}

TEST_F(InvariantChecksTest, TheEngineChecksWorkingMemoryAfterMoves) {
  Loaded e;
  EXPECT_DEATH(e.Engine().Facts().GetFactByID(2)->SetID(40); e.Churn(),
               Broken("working memory: the id index does not find a fact at its slot"));
}

TEST_F(InvariantChecksTest, TheEngineChecksTheAgendaAfterItsChanges) {
  Loaded e;
  // An activation added to an agenda whose order was broken meanwhile.
  EXPECT_DEATH(e.Engine().FindRule("low")->SetSalienceInteger(20); e.fx.Assert("c", Ints({7})),
               Broken("agenda: an activation of higher salience after one of lower salience"));
  // An activation removed likewise: two stay, out of order.
  EXPECT_DEATH(e.Engine().FindRule("high")->SetSalienceInteger(-5); e.Engine().Retract(3),
               Broken("agenda: an activation of higher salience after one of lower salience"));
}

#else

TEST_F(InvariantChecksTest, TheEngineChecksOnlyInDebugBuilds) {
  GTEST_SKIP() << "the engine calls its checks only in builds with ZEPHRO_DEBUG_CHECKS";
}

#endif

}  // namespace
}  // namespace zephro

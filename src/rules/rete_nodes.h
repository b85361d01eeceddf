#pragma once

// The node classes of the matching network.
//
//   TPatternMatchNode   one test on the last fact of a token (alpha part)
//   TTestNode           a `test` element: tests on a partial match
//   TJoinNode           combines partial matches (left) with facts (right),
//                       or counts the matches of a negated pattern
//   TPatternMatchTerminalNode   turns complete matches into activations
//
// Tokens travel as `const Ref<TIEToken>&`; a node copies the handle only when
// it stores the token. A node that makes tokens links each to the tokens it
// was made from, and withdraws it through those links.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "zephro/facts/slot_position.h"
#include "zephro/functions/context.h"
#include "zephro/platform/inline_vector.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rete_network.h"
#include "zephro/values/messages.h"

#include "rules/goal_recipe.h"
#include "rules/test_program.h"
#include "rules/token_memory.h"

namespace zephro {

// The template whose patterns a fact of `t` also matches: its parent, but
// for a goal template ("need-b", made with the template it asks for as its
// parent), whose goals must not pass for the facts they ask for.
inline const IFactTemplate* MatchingParent(const IFactTemplate& t) {
  return t.TemplateName().starts_with(SBackChainPrefix) ? nullptr : t.Parent();
}

class TActivation;
class TJoinNode;
class TRule;

// One argument of a pattern-match node: a slot name or a position.
using TNodeArg = std::variant<std::string, std::int32_t>;

class TReteNode {
 public:
  // An edge to a successor, and the side it enters by, in one word: nodes
  // are aligned to 8 bytes, so the side fits the address's low bits.
  class Edge {
   public:
    Edge() = default;
    Edge(TReteNode* to, TCallType call_type) noexcept
        : bits_(reinterpret_cast<std::uintptr_t>(to) | static_cast<std::uintptr_t>(call_type)) {}
    TReteNode* To() const noexcept { return reinterpret_cast<TReteNode*>(bits_ & ~kSideMask); }
    TCallType CallType() const noexcept { return static_cast<TCallType>(bits_ & kSideMask); }

   private:
    static constexpr std::uintptr_t kSideMask = 7;
    std::uintptr_t bits_;
  };
  // The successors, in order: one held in place (most nodes pass their
  // tokens to one node only).
  using Edges = TInlineVector<Edge>;

  explicit TReteNode(TReteNetwork& rete);
  virtual ~TReteNode();
  TReteNode(const TReteNode&) = delete;
  TReteNode& operator=(const TReteNode&) = delete;
  // Blocks of the node classes' exact sizes, recycled (node_blocks.cc).
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

  // Handles `token` arriving through an edge of kind `call_type`; answers
  // whether the token was passed on.
  virtual bool CallNode(const Ref<TIEToken>& token, TCallType call_type) = 0;
  virtual const char* NodeName() const = 0;
  // "Name In/Out#: p/s RuleUse: n" and the node's own details.
  virtual std::string ToString() const;

  void CallChildren(const Ref<TIEToken>& token) {
    if (successors_.size() < kDispatchFrom || token->Fact() == nullptr) {
      for (const Edge& e : successors_) {
        e.To()->CallNode(token, e.CallType());
      }
      return;
    }
    CallChildrenByValue(token);
  }
  // The successors changed: an index built over them is stale.
  void SuccessorsChanged() noexcept;

  TReteNetwork& Rete() const noexcept { return *rete_; }
  // The node's number, unique in the process: tokens record which node made
  // them.
  std::uint32_t Id() const noexcept { return id_; }
  int RuleUseCount() const noexcept { return rule_use_count_; }
  void AddUse() noexcept { ++rule_use_count_; }
  // Answers whether the node is still used.
  bool DropUse() noexcept { return --rule_use_count_ > 0; }
  // Change through TReteNetwork::Link and FreeNode, which call
  // SuccessorsChanged.
  Edges& Successors() noexcept { return successors_; }
  // The nodes this one is entered from: none for a root, one, or two for a
  // join (its left and its right input, which may be the same node). Held in
  // place: a network has many nodes and none has more inputs.
  class Inputs {
   public:
    TReteNode* const* begin() const noexcept { return nodes_; }
    TReteNode* const* end() const noexcept { return nodes_ + size(); }
    std::size_t size() const noexcept {
      return nodes_[0] == nullptr ? 0 : (nodes_[1] == nullptr ? 1 : 2);
    }
    bool empty() const noexcept { return nodes_[0] == nullptr; }
    // Raises std::length_error when the node has two already.
    void Add(TReteNode& node);
    // Drops every occurrence of `node`.
    void Remove(const TReteNode& node) noexcept;

   private:
    TReteNode* nodes_[2] = {nullptr, nullptr};
  };
  Inputs& Predecessors() noexcept { return predecessors_; }
  const Inputs& Predecessors() const noexcept { return predecessors_; }
  // True when this node is entered from `from` through an edge of that kind.
  bool EnteredFrom(const TReteNode& from, TCallType call_type) const;

 protected:
  // From this many successors on, those that compare one slot with a
  // constant are reached through an index by the constant's hash.
  static constexpr std::size_t kDispatchFrom = 8;
  struct TConstantDispatch;

  void CallChildrenByValue(const Ref<TIEToken>& token);
  // Withdraws the children this node made from `parent`, oldest first: each
  // leaves its parents and goes on as a removal.
  void WithdrawChildren(TIEToken& parent);
  void WithdrawRightChildren(TIEToken& right_parent);
  void Withdraw(const Ref<TIEToken>& child);
  // Withdraws, oldest first, the children `gather` hands over, oldest first
  // or, when `newest_first`, newest first.
  template <class Gather>
  void WithdrawGathered(Gather&& gather, bool newest_first);
  // The memory where the tokens this node makes are filed first (at home),
  // when its one successor is a join they enter on the left; else null.
  const TIETokenTree* HomeOfChildren() const;

  TReteNetwork* rete_;  // not owned
  std::uint32_t id_;
  int rule_use_count_ = 1;  // next to id_: no padding between them
  Edges successors_;
  Ref<TConstantDispatch> dispatch_;  // built on demand
  Inputs predecessors_;
};

static_assert(alignof(TReteNode) >= 8,
              "an edge keeps its side in the low bits of a node's address");

class TPatternMatchNode final : public TReteNode {
 public:
  TPatternMatchNode(TReteNetwork& rete, TPatternMatchTest test, Ref<IIEValue> value,
                    std::vector<TNodeArg> args);

  TPatternMatchTest Test() const noexcept { return test_; }
  IIEValue* Value() const noexcept { return value_.get(); }
  // The slot the test reads (empty for a template or test-element root).
  std::string_view SlotName() const noexcept { return slot1_.Name(); }
  // The arguments as the compiler gave them; the node keeps only what they
  // say: slot names and positions.
  std::vector<TNodeArg> Args() const;
  // Same test, equal values and equal arguments: the node can be shared.
  bool Equals(TPatternMatchTest test, const IIEValue* value,
              const std::vector<TNodeArg>& args) const;

  bool CallNode(const Ref<TIEToken>& token, TCallType call_type) override;
  const char* NodeName() const override { return "TPatternMatchNode"; }
  std::string ToString() const override;

 private:
  // Passes `token` when `fact_value` compares as the test asks with `value`.
  bool Compare(const Ref<TIEToken>& token, const IIEValue& value, bool negate,
               const IIEValue& fact_value);
  bool TestCall(const Ref<TIEToken>& token, bool negate);
  bool Fold(const Ref<TIEToken>& token, const IFact& fact);
  static IIEValue* Element(IIEValue* list_value, std::int32_t position);

  // A program has many of these nodes: the positions pair up, and the test
  // fills the padding after the cache.
  Ref<IIEValue> value_;
  TSlotPosition slot1_;
  TSlotPosition slot2_;
  std::int32_t pos1_ = -1;
  std::int32_t pos2_ = -1;
  [[no_unique_address]] TSlotCache cache1_;  // where slot1_ sits in the facts met
  TPatternMatchTest test_;
  // A fold: pos2_ counts the fields known to follow the segment (-1: not
  // known), and this is the slot's last segment, which takes what they leave.
  bool last_fold_ = false;
  // A fold of a slot whose one field is a multifield variable without a name:
  // the fact passes whole.
  bool whole_fold_ = false;
};

// A `test` element (and the base of joins): tests on a partial match.
class TTestNode : public TReteNode {
 public:
  explicit TTestNode(TReteNetwork& rete) : TReteNode(rete) {}
  ~TTestNode() override;

  void AddTest(std::unique_ptr<TIESlotTest> test) {
    tests_.push_back(test.get());
    static_cast<void>(test.release());  // now the node's
    program_.Reset();
  }
  int TestCount() const noexcept { return static_cast<int>(tests_.size()); }
  TIESlotTest& Test(int index) const { return *tests_[static_cast<std::size_t>(index)]; }
  // Same class and the same join tests (a node holding a function test is
  // never equal to another).
  virtual bool Equals(const TTestNode& other) const;

  bool CallNode(const Ref<TIEToken>& token, TCallType call_type) override;
  const char* NodeName() const override { return "TTestNode"; }
  std::string ToString() const override;

 protected:
  // True when every test from `first` on passes for the partial match
  // `left` and `right`.
  bool RunTests(const TIEToken& left, const TIEToken* right, IFact* right_fact,
                std::size_t first = 0);
  // Whether every test takes its verdict from the values of the facts it
  // reads alone (no function of the program's, no global, no fuzzy degree):
  // then a pair that failed once fails for as long as both facts stay.
  bool VerdictsStand();
  // Prepares the test program on first use.
  void PrepareProgram() {
    if (!program_.Compiled()) [[unlikely]] {
      program_.Compile(std::span<TIESlotTest* const>(tests_.begin(), tests_.end()));
    }
  }

  TInlineVector<TIESlotTest*> tests_;  // owned
  // The tests as the inner loop decides them, prepared on first use.
  TTestProgram program_;
  bool has_function_tests_ = false;

  friend class TReteCompiler;
};

// The right memory of a join, which joins fed by the same node and keyed
// alike may share: they would all file the same tokens under the same keys in
// the same order. The first of them in their feeder's order files each token
// and starts each removal; the others, called next for the same token, take
// its result. Until a member has been called for the token, it must see the
// memory as its own would be: without the token being filed, with the token
// being removed. The feeder may reach a member's left input before the
// member itself (a rule that joins a pattern with itself), so that member
// may look into the memory meanwhile: the entry in flight is hidden from it
// (HiddenFrom), and the last member takes a removed entry out.
struct TRightMemory : RefCounted {
  std::unique_ptr<TIETokenTree> tree;  // made when the first token is stored
  std::vector<TJoinNode*> members;     // in their feeder's order
  // The first member's last result, for the others.
  Ref<TIEToken> token;
  Ref<TIEToken> held;  // of a removal
  std::uint32_t position = 0;
  // Counts the first member's filings and removals: a member that has taken
  // the latest result holds its number.
  std::uint32_t event = 0;
  // The entry filed or being removed while members have still to take the
  // result, or kNoEntry.
  std::uint32_t in_flight = TIETokenTree::kNoEntry;
  bool removal = false;
  bool found = false;

  // The entry a member whose last result is `seen` must not meet, or kNoEntry.
  std::uint32_t HiddenFrom(std::uint32_t seen) const noexcept {
    return in_flight != TIETokenTree::kNoEntry && (seen == event) == removal
               ? in_flight
               : TIETokenTree::kNoEntry;
  }
  // Every member has the latest result: a removal is carried out.
  void Settle() noexcept {
    if (in_flight != TIETokenTree::kNoEntry) {
      if (removal) {
        tree->Unlink(in_flight);
      }
      in_flight = TIETokenTree::kNoEntry;
    }
    token = nullptr;
    held = nullptr;
  }
};

class TJoinNode final : public TTestNode {
 public:
  TJoinNode(TReteNetwork& rete, bool negated, bool unique);
  ~TJoinNode() override;

  bool NegatedPattern() const noexcept { return negated_; }
  bool Unique() const noexcept { return unique_; }
  // The right input carries partial matches whose prefix must equal the left
  // token (a nested negation level).
  void SetPrefixJoin() noexcept { prefix_join_ = true; }
  bool IsPrefixJoin() const noexcept { return prefix_join_; }
  // Chooses the hash key of both memories: every whole-slot equality join
  // test, else the first positional one.
  void PrepareShortCut();
  // Makes this the join of a pattern on a backward-chaining template: a
  // partial match that no fact completes here asks for one with a goal.
  // Raises SInvalidBackchainPattern for any other pattern.
  void SetPattern(const TIEPattern& pattern, const TRule& rule);
  bool AsksForGoals() const noexcept { return goal_ != nullptr; }
  void ClearMemory();
  bool Equals(const TTestNode& other) const override;
  // Lets joins placed later, fed by `feeder` too, use this join's right
  // memory (see TRightMemory).
  void OfferRightMemory(const TReteNode& feeder) noexcept {
    offers_right_ = true;
    offered_at_ = &feeder;
  }
  // What tells a right memory's key from others: the pooled key's address.
  const void* RightKeyId() const noexcept { return right_key_.parts.data(); }
  // Another join that shares the right memory and offers it, or null.
  TJoinNode* RightMemoryHeir() const noexcept;
  // Uses `other`'s right memory when it offers it, keys its right input alike
  // and has never stored a token; answers whether it does.
  bool ShareRightMemory(TJoinNode& other);
  // Lets go of the right memory without leaving the list of the joins that
  // share it: for when they all go.
  void DropRightMemory() noexcept {
    right_.reset();
    right_tree_ = nullptr;
    right_shared_ = false;
  }
  // Carries out what a move that failed left half done in the shared right
  // memory (see TRightMemory).
  void SettleRightMemory() noexcept;
  // False when the join uses the right memory of a join placed before it.
  bool LeadsRightMemory() const noexcept { return !right_ || right_->members.front() == this; }
  // The left memory, or null while it never stored anything.
  const TIETokenTree* LeftTree() const noexcept { return left_.get(); }
  // The right memory (maybe shared), or null while it never stored anything.
  const TIETokenTree* RightMemoryTree() const noexcept { return right_tree_; }

  bool CallNode(const Ref<TIEToken>& token, TCallType call_type) override;
  const char* NodeName() const override { return "TJoinNode"; }
  std::string ToString() const override;

 private:
  // The memories, made when the first token is stored: a memory that was
  // only ever looked into stays absent (and holds nothing).
  TIETokenTree& Left();
  TRightMemory& Right();
  void LeaveRightMemory();
  TIETokenTree* RightTree() const noexcept { return right_tree_; }
  // Files `token` in the right memory (see TIETokenTree::Add).
  std::uint32_t FileRight(const Ref<TIEToken>& token, std::int32_t hash,
                          std::uint64_t fingerprint) {
    if (right_tree_ != nullptr && !right_shared_) {
      return right_tree_->Add(token, hash, fingerprint);
    }
    return FileSharedRight(token, hash, fingerprint);
  }
  std::uint32_t FileSharedRight(const Ref<TIEToken>& token, std::int32_t hash,
                                std::uint64_t fingerprint);
  // Takes `token` out of the right memory (see TIETokenTree::Remove).
  bool UnfileRight(TIEToken& token, std::uint32_t& position, Ref<TIEToken>& held) {
    if (!right_shared_) {
      return right_tree_ != nullptr && right_tree_->Remove(token, &position, &held);
    }
    return UnfileSharedRight(token, position, held);
  }
  bool UnfileSharedRight(TIEToken& token, std::uint32_t& position, Ref<TIEToken>& held);
  void LeftActivate(const Ref<TIEToken>& token);
  void RightActivate(const Ref<TIEToken>& token);
  // Whether partial match `left` and right token `right`, whose keys have
  // fingerprints `a` and `b`, satisfy the join.
  bool Matches(const TIEToken& left, const TIEToken& right, std::uint64_t a, std::uint64_t b);
  // Passes `left` + each matching right token's fact on, tagged `tag`;
  // answers whether any matched.
  bool RunTestsVaryRight(const Ref<TIEToken>& left, TTokenAction tag, std::int32_t hash,
                         bool key_found, std::uint64_t fingerprint);
  // Queues the goal that asks for a fact to complete `token`.
  void AskForBackChain(const TIEToken& token);
  // The position of the first right token that matches `left`, or kNoEntry.
  std::uint32_t FindBlocker(const TIEToken& left, std::int32_t hash, bool key_found,
                            std::uint64_t fingerprint);
  // As FindBlocker, among the right entries filed under `hash` after the
  // one at `position` (see TIETokenTree::ForKeyAfter).
  std::uint32_t FindBlockerAfter(const TIEToken& left, std::int32_t hash, std::uint32_t position,
                                 std::uint64_t fingerprint);
  // A negated join's left tokens under `hash` that right entry `gone`
  // blocked, blocked again or passed on.
  void Unblock(std::int32_t hash, bool key_found, std::uint32_t gone);
  // True when an arriving token finds its partners in one bucket of the
  // other memory: the join has a key, or it is a prefix join.
  bool Probing() const noexcept { return left_key_.Keyed() || prefix_join_; }
  // The candidates' facts are fetched ahead for callers that pass a match on
  // (kPassesOn); a search for a blocker only answers where it is.
  template <bool kPassesOn = true, class F>
  void ForCandidates(TIETokenTree* memory, std::int32_t hash, bool key_found, F&& f);
  template <bool kPassesOn, class F>
  void WalkCandidates(TIETokenTree* memory, std::int32_t hash, bool key_found, F&& f);
  Ref<TIEToken> Extend(const Ref<TIEToken>& left, TIEToken& right, TTokenAction tag) const;
  Ref<TIEToken> WithNull(const Ref<TIEToken>& left, TTokenAction tag) const;

  bool negated_;
  bool unique_;
  bool prefix_join_ = false;
  bool offers_right_ = false;
  // Whether each blocker is the first match on its key chain, as searches
  // that ran to their end leave it (see Unblock).
  bool blockers_in_order_ = true;
  const TReteNode* offered_at_ = nullptr;  // the feeder it offered its right memory at
  bool right_shared_ = false;  // another join used the memory
  std::uint32_t right_event_ = 0;  // the shared memory's last result taken
  std::unique_ptr<TIETokenTree> left_;
  Ref<TRightMemory> right_;
  TIETokenTree* right_tree_ = nullptr;  // right_->tree, once made
  TMemoryKey left_key_;
  TMemoryKey right_key_;
  std::unique_ptr<const TGoalRecipe> goal_;
};

class TPatternMatchTerminalNode final : public TReteNode {
 public:
  TPatternMatchTerminalNode(TReteNetwork& rete, TRule& rule) : TReteNode(rete), rule_(&rule) {}
  ~TPatternMatchTerminalNode() override;

  TRule& Rule() const noexcept { return *rule_; }
  bool Initialized() const noexcept { return initialized_; }
  void SetInitialized(bool initialized) noexcept { initialized_ = initialized; }
  int ActivationCount() const noexcept { return count_; }

  bool CallNode(const Ref<TIEToken>& token, TCallType call_type) override;
  const char* NodeName() const override { return "TPatternMatchTerminalNode"; }
  std::string ToString() const override;

  void AddActivation(const Ref<TIEToken>& token);
  // Withdraws every activation, last first.
  void StandDown();
  // Withdraws the first activation whose token equals `token`.
  void StandDown(const TIEToken& token);
  // The activation is about to fire: starts fetching what firing and
  // forgetting it read (its token's parent, fact and neighbours, its bucket
  // here), so that those fetches overlap instead of following each other.
  void PrefetchFiring(const TActivation& activation) const noexcept;
  // The activation fired: forget it and tell the network.
  void RuleFired(TActivation& activation);
  // Forgets every activation without telling anyone.
  void FastClear();
  // Forgets `activation`, which leaves without firing and without telling
  // anyone (an engine copying another's agenda drops it).
  void Forget(TActivation& activation);
  // Checks the node's list of activations: each one is the node's, in the
  // bucket of its token's identity, with a place in the node's creation
  // order, and the count is that of the chains. Aborts at the first broken
  // invariant (see platform/debug_checks.h); answers the work done.
  std::size_t CheckActivations() const;

 private:
  TActivation*& BucketOf(std::uint32_t identity) noexcept {
    return buckets_[identity & (buckets_.size() - 1)];
  }
  void Grow();
  // Takes the activation `link` points at out of its chain.
  void Unchain(TActivation** link) noexcept;

  TRule* rule_;  // not owned
  // The node's activations (the agenda owns them), chained by the identity
  // hash of their tokens; each knows its place in creation order. No buckets
  // until the first activation: most rules of a large program wait long for
  // one.
  std::vector<TActivation*> buckets_;
  std::uint64_t next_order_ = 1;
  int count_ = 0;
  bool initialized_ = false;
};

// Points the network's context at a partial match and a fact while a
// predicate runs, and back at nothing however it ends. A predicate that
// raises while a fact moves through the network does not match: the nodes
// hand the failure to the engine (TReteNetwork::DeferFailure), which raises
// it once the fact has moved through the whole network.
class TFocus {
 public:
  TFocus(TIEContext& context, const TIEToken* token, IFact* fact) noexcept : context_(context) {
    context_.SetToken(const_cast<TIEToken*>(token));
    context_.SetFact(fact);
  }
  ~TFocus() {
    context_.SetToken(nullptr);
    context_.SetFact(nullptr);
  }
  TFocus(const TFocus&) = delete;
  TFocus& operator=(const TFocus&) = delete;

 private:
  TIEContext& context_;
};

}  // namespace zephro

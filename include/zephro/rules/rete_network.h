#pragma once

// TReteNetwork: the matching network that matches facts against all rules at
// once.
//
// Facts enter at the root nodes of their template (and of its ancestors) as
// one-fact tokens; pattern-match nodes test single facts (the alpha part,
// shared between rules that test the same thing); join nodes combine partial
// matches held in their left and right memories and count matches for negated
// patterns; test nodes evaluate `test` elements; one terminal node per rule
// turns complete matches into activations and withdraws them when a match is
// lost. The engine owns the network and feeds it every assertion (taAdd),
// retraction (taRemove) and reset (taClear).
//
// Thread safety: none; the engine calls it on one thread at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "zephro/values/interfaces.h"

namespace zephro {

class IRuleEnvironment;
class TRule;
class TActivation;
class TReteNode;
class TJoinNode;
class TIEToken;
class TMemoryKeyPool;
class TAlphaIndex;
class TPreparedCalls;

// The test of a pattern-match (alpha) node.
enum class TPatternMatchTest : std::uint8_t {
  pmtUnknown,
  pmtTestClassType,
  pmtTestEqual,
  pmtTestNotEqual,
  pmtTestSlotValueEqual,
  pmtTestSlotValueNotEqual,
  pmtTestMultiSlotEqual,
  pmtTestMultiSlotNotEqual,
  pmtTestMultiSlotLength,
  pmtTestMultiSlotMultiField,
  pmtFailTest,
};

// How a node is entered.
enum class TCallType : std::uint8_t { ctLeft, ctRight, ctSingle, ctActivate };

using TActivationEvent = std::function<void(TActivation& activation)>;

class TReteNetwork {
 public:
  explicit TReteNetwork(IRuleEnvironment* engine);
  ~TReteNetwork();
  TReteNetwork(const TReteNetwork&) = delete;
  TReteNetwork& operator=(const TReteNetwork&) = delete;

  IRuleEnvironment* Engine() const noexcept { return engine_; }
  bool Enabled() const noexcept { return enabled_; }
  // Disabling clears the network; enabling again leaves it empty.
  void SetEnabled(bool enabled);
  // The bucket count of every join memory (default 101): a memory walked
  // whole keeps it, which fixes the order of its walks; a probed memory
  // starts with fewer and grows as it fills.
  int HashKey() const noexcept { return hash_key_; }
  void SetHashKey(int buckets) noexcept { hash_key_ = buckets < 1 ? 1 : buckets; }
  // Whether a join may use the right memory of another join fed by the same
  // node and keyed alike instead of a memory of its own (default on). Only
  // rules compiled afterwards follow a change; matches and their order are
  // the same either way.
  bool ShareRightMemories() const noexcept { return share_right_memories_; }
  void SetShareRightMemories(bool on) noexcept { share_right_memories_ = on; }
  // Fuzzy matches weaker than this produce no activation; kept in [0, 1].
  float MinActivationStrength() const noexcept { return min_activation_strength_; }
  void SetMinActivationStrength(float strength) noexcept;

  TActivationEvent OnActivation;
  TActivationEvent OnDeactivation;
  TActivationEvent OnRuleFired;

  // For the nodes, in a handler of a failure of code they ran (a predicate,
  // a salience, a host's handler): hands the failure being handled to the
  // engine, which raises it once the fact under way has moved through the
  // whole network. False without an engine moving a fact: the caller raises
  // it at once.
  bool DeferFailure() const noexcept;

  // Compiles `rule` into nodes (sharing what other rules already built) and
  // brings the new nodes up to date with working memory.
  void AddRule(TRule& rule);
  // The last rule compiled and the steps of its compilation, as
  // "name: +1+1=1+2+t": each "+" (a node made) or "=" (a node shared)
  // followed by "1" (a pattern node), "2" (a join) or "t" (the terminal).
  const std::string& LastCompileTrace() const noexcept { return last_compile_trace_; }
  // Releases the rule's nodes; nodes no other rule uses are freed.
  void RemoveRule(TRule& rule);
  bool ContainsRule(const TRule& rule) const;
  // Empties every memory and drops every node.
  void Clear();
  // Drops every activation of every terminal node without telling anyone
  // (the engine has emptied its agenda already).
  void ForgetActivations();

  int NodeCount() const noexcept { return static_cast<int>(node_count_); }
  // How many right memories the joins use: one per join, less those shared.
  int RightMemoryCount() const;
  // How many distinct memory keys the joins hold, a join's left and right
  // key counting apart: joins keyed alike hold one.
  int MemoryKeyCount() const noexcept;
  int RootCount() const noexcept;
  // One line per node: a dump for debugging.
  std::string ToString() const;
  // Checks every join's memories and the tokens they hold, the blockers of
  // negated joins and every terminal node's list of activations; aborts at
  // the first broken invariant, naming it. Answers the work done, in
  // elements visited. The engine calls it after moves of facts in builds
  // with ZEPHRO_DEBUG_CHECKS (see TInferenceEngine).
  std::size_t CheckInvariants() const;

  // Called by terminal nodes.
  // Hands `activation` to the engine; when the engine does not take it
  // (none, or placing it failed), `activation` still holds it.
  void Activate(std::unique_ptr<TActivation>&& activation);
  void Deactivate(TActivation& activation);
  void RuleFired(TActivation& activation);
  // Frees `activation`, taken off the agenda by the engine, which will not
  // fire: its node forgets it; nothing else is told.
  void Withdraw(std::unique_ptr<TActivation> activation);
  // The fact standing in tokens for negated and test elements.
  IFact& NullFact() const;
  // Compares a fuzzy value with another value by degree: answers whether
  // they are equal (the degree above the fuzzy value's threshold) and sets
  // `degree`, in [0, 1]. The fuzzy subsystem installs it; without it fuzzy
  // values compare as any value does.
  std::function<bool(const IIEValue& fuzzy, const IIEValue& other, float& degree)> FuzzyMatch;

 private:
  friend class TInferenceEngine;  // moves facts through the network
  friend class TReteCompiler;     // builds nodes
  // Sends `token` to the roots that can match it; answers whether any root
  // passed it on.
  bool ProcessToken(const Ref<TIEToken>& token);
  bool PassToRoots(const Ref<TIEToken>& token);
  // After a move that failed: what joins sharing a right memory left half
  // done is carried out.
  void SettleRightMemories();
  // Node bookkeeping for the compiler.
  TReteNode& Adopt(std::unique_ptr<TReteNode> node);
  void Link(TReteNode& from, TReteNode& to, TCallType call_type);

  friend TReteNode* CompileRule(TReteNetwork& rete, TRule& rule, std::string& trace);
  void FreeNode(TReteNode& node);
  // Drops one rule's use of each of `nodes` (listed in the order they were
  // made or found), the last first, freeing each node no rule uses then.
  void DropUses(std::span<TReteNode* const> nodes);
  // Every node, in the order they were made (by id).
  std::vector<TReteNode*> AllNodes() const;
  void RegisterRoot(TReteNode& node);
  void UnregisterRoot(TReteNode& node);

  // Lets `join`, fed by `feeder`, use the right memory of an earlier join
  // fed and keyed alike that has never stored a token (see TRightMemory),
  // or offers its own to later ones.
  void ShareRightMemory(TJoinNode& join, const TReteNode& feeder);
  // `join` goes: a join sharing its memory takes over its offer.
  void WithdrawRightOffer(TJoinNode& join, const TReteNode& feeder) noexcept;

  friend class TJoinNode;  // keys its memories with the pooled keys
  TMemoryKeyPool& MemoryKeys() noexcept { return *memory_keys_; }

  // The keys joins read from the fact being propagated, so that the joins
  // keyed alike read each key once: by the fact and the pooled key, in the
  // slot of the key's number in the pool (the first 64 keys each have a
  // slot of their own). A memo holds for one epoch, which ends
  // whenever a fact enters and whenever rules come, go or are cleared (a
  // pooled key may then be new); within one, no fact leaves memory. The
  // joins leave out the ways of splitting a multifield slot, which are
  // copies made and dropped while a fact propagates.
  struct TFactKeyMemo {
    const void* fact = nullptr;
    const void* key = nullptr;
    std::uint64_t fingerprint = 0;
    std::int32_t hash = 0;
    std::uint32_t epoch = 0;  // none is 0
    bool found = false;
  };
  std::array<TFactKeyMemo, 64> fact_keys_{};
  std::uint32_t fact_key_epoch_ = 1;
  void EndFactKeyEpoch() noexcept {
    if (++fact_key_epoch_ == 0) {
      fact_keys_ = {};
      fact_key_epoch_ = 1;
    }
  }

  IRuleEnvironment* engine_;  // not owned
  // Kept until Clear has freed the joins, which read their keys to the end.
  std::unique_ptr<TMemoryKeyPool> memory_keys_;
  // The pattern nodes the compiler may share, for parents with many.
  std::unique_ptr<TAlphaIndex> alpha_index_;
  // The compiler's copies of predicates, shared by the rules that read alike.
  std::unique_ptr<TPreparedCalls> prepared_calls_;
  // The network owns its nodes without listing them: each is reachable from
  // a root, AllNodes finds them, and FreeNode frees one in constant time
  // (a list cost a search per node when rules went one by one).
  std::size_t node_count_ = 0;
  // Roots by the template name they test; test-element roots under "".
  std::unordered_map<std::string, std::vector<TReteNode*>> roots_;
  // The binding references of the network's copies of predicates, one per
  // template, fact index, slot and position, shared by every rule that reads
  // the same: nothing changes them but the slot's remembered position.
  std::map<std::tuple<const IFactTemplate*, std::int32_t, std::string, std::int32_t>, Ref<IIEValue>>
      binding_refs_;
  // The join offering its right memory, by feeder and pooled key.
  std::map<std::pair<const TReteNode*, const void*>, TJoinNode*> right_offers_;
  int hash_key_ = 101;
  float min_activation_strength_ = 0;
  std::string last_compile_trace_;
  bool enabled_ = true;
  bool share_right_memories_ = true;
};

}  // namespace zephro

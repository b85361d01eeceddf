#pragma once

// Activations and the agenda.
//
// A TActivation is one complete match of a rule: the rule, the token of facts
// that matched, and the match strength. The matching network creates it; the
// engine inserts it into its agenda (TIEAgenda) at the position chosen by the
// rules' saliences and the search strategy; the run cycle fires entry 0.
//
// The agenda owns its activations. Positions keep the meaning of a plain list
// (entry 0 fires first), but access by position, insertion and removal all
// cost O(log n), so agendas of a million activations stay cheap.
//
// Thread safety: none; the engine's lock covers agenda changes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zephro/values/interfaces.h"

namespace zephro {

class TRule;
class IRuleEnvironment;
class TPatternMatchTerminalNode;
template <class T, class Place>
class TIndexedSequence;
struct TAgendaPlace;

class TActivation {
 public:
  TActivation(TRule& rule, Ref<IReteToken> token, TPatternMatchTerminalNode* node,
              float strength);
  TActivation(const TActivation&) = delete;
  TActivation& operator=(const TActivation&) = delete;

  TRule& Rule() const noexcept { return *rule_; }
  IReteToken& Token() const noexcept { return *token_; }
  // The token's count is not atomic: copy or release this Ref only on the
  // engine's thread or under its lock.
  const Ref<IReteToken>& TokenRef() const noexcept { return token_; }
  TPatternMatchTerminalNode* Node() const noexcept { return node_; }
  float Strength() const noexcept { return strength_; }
  // Values below 0 are stored as 0 and above 1 as 1.
  void SetStrength(float strength) noexcept;

  // A new activation for the same rule, token and node.
  std::unique_ptr<TActivation> Clone() const;
  // Fires the rule with the token, then tells the node that the rule fired.
  void Fire();
  // "salience name : f-1, f-2 (1.0000)".
  std::string ToString() const;

  // A busy program makes and fires activations by the hundred thousand:
  // their blocks are recycled, without the allocator's header and rounding.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

 private:
  friend class TActivationAgenda;
  friend struct TAgendaPlace;
  friend class TPatternMatchTerminalNode;

  TRule* rule_;  // not owned
  Ref<IReteToken> token_;
  TPatternMatchTerminalNode* node_;  // not owned
  float strength_;
  void* agenda_entry_ = nullptr;  // the agenda's handle while on an agenda
  // While the terminal node lists the activation: its place in the node's
  // creation order (0 when not listed) and the next activation of its
  // identity bucket there.
  std::uint64_t node_order_ = 0;
  TActivation* node_next_ = nullptr;
};

// An ordered list of activations that owns them. The base class appends (a
// first-in first-out list); TIEAgenda places by salience and strategy.
class TActivationAgenda {
 public:
  TActivationAgenda();
  virtual ~TActivationAgenda();
  TActivationAgenda(const TActivationAgenda&) = delete;
  TActivationAgenda& operator=(const TActivationAgenda&) = delete;

  int Count() const noexcept;
  TActivation& Activations(int index) const;
  // Entries 0 and Count() - 1, without the checks of Activations.
  // REQUIRES: Count() > 0.
  TActivation& First() const noexcept;
  TActivation& Last() const noexcept;
  // Inserts at FindInsertion's index (or appends) and returns the index.
  // Takes `activation` only once it is placed: when placing it fails,
  // `activation` still holds it.
  int Add(std::unique_ptr<TActivation>&& activation);
  // Index at which to insert `activation`, or -1 for append.
  virtual int FindInsertion(const TActivation& activation) const;
  // Removes entry `index` and frees its activation.
  void Delete(int index);
  // Removes entry `index` and hands its activation to the caller.
  std::unique_ptr<TActivation> Extract(int index);
  // Removes `activation`'s entry and hands it over; it must be listed.
  std::unique_ptr<TActivation> Extract(TActivation& activation);
  // The index of the entry holding `activation`, or -1.
  int IndexOfData(const TActivation& activation) const;
  // Whether an entry holds `activation` (IndexOfData's answer is not -1).
  static bool Listed(const TActivation& activation) noexcept {
    return activation.agenda_entry_ != nullptr;
  }
  // Starts fetching what the two firings after that of `activation` (which
  // must be listed) read first: the token of the next activation, and the
  // activation after it. A firing may change what follows; then the
  // fetches are wasted, nothing else.
  void PrefetchAfter(const TActivation& activation) const noexcept;
  // Frees every activation.
  void Clear();
  // Empties the list and hands every activation over, in order.
  std::vector<std::unique_ptr<TActivation>> TakeAll();

  // Checks the list: its order structure is sound, each activation's handle
  // is the entry holding it and the entry at its index. Aborts at the first
  // broken invariant (see platform/debug_checks.h); answers the work done.
  virtual std::size_t CheckInvariants() const;

 protected:
  // Calls `f` for each activation, in order.
  void ForEachActivation(const std::function<void(const TActivation&)>& f) const;

 private:
  std::unique_ptr<TIndexedSequence<TActivation*, TAgendaPlace>> entries_;
  // The last activation IndexOfData placed, and where, while the list has
  // not changed since: removing an activation asks for its index, then for
  // the activation at that index.
  std::uint64_t changes_ = 0;
  mutable std::uint64_t indexed_changes_ = 0;
  mutable const TActivation* indexed_ = nullptr;
  mutable int indexed_at_ = -1;
};

// The engine's agenda: insertion by the engine's SearchSalience.
class TIEAgenda final : public TActivationAgenda {
 public:
  explicit TIEAgenda(IRuleEnvironment* engine) : engine_(engine) {}
  int FindInsertion(const TActivation& activation) const override;
  // The salience of entry `index`'s rule.
  std::int32_t SalienceAt(int index) const;
  // Besides the list's own checks: while every rule on the agenda has a
  // constant salience, the saliences do not increase along the agenda
  // (either strategy places by salience first). A salience evaluated anew
  // for each activation orders only against the values of its time.
  std::size_t CheckInvariants() const override;

 private:
  IRuleEnvironment* engine_;  // not owned
};

}  // namespace zephro

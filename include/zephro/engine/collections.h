#pragma once

// The engine's named collections: fact templates, rules, user functions,
// global and engine variables, fact sets, and working memory (TFacts).
//
// Each collection knows its engine (null for a free-standing one: then no
// events and no cascades). Adding a construct under a name already in use
// follows the engine's DuplicateConstructs setting; removing a template
// removes what depends on it. Iteration follows insertion order unless a
// collection says otherwise.
//
// Thread safety: none; use on the engine's thread or under its lock.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/engine/fact_indexes.h"
#include "zephro/platform/ordered_table.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/value_vector.h"

namespace zephro {

class TInferenceEngine;
class TRule;
class TFactSet;

// Fact templates by name.
class TFactTemplates {
 public:
  explicit TFactTemplates(TInferenceEngine* engine) : engine_(engine) {}
  IFactTemplate* Get(std::string_view name) const {
    Ref<IFactTemplate>* t = table_.Find(name);
    return t != nullptr ? t->get() : nullptr;
  }
  // Files `fact_template` under its name by the engine's duplicate setting;
  // returns the template now filed under that name.
  IFactTemplate* Add(Ref<IFactTemplate> fact_template);
  // Removes the template and everything that depends on it.
  void Remove(std::string_view name);
  // Files `replacement` in place of `existing` and rebuilds the dependents.
  IFactTemplate* Replace(const Ref<IFactTemplate>& existing, Ref<IFactTemplate> replacement);
  void Clear();
  int Count() const noexcept { return table_.Count(); }
  IFactTemplate& At(int index) const { return *table_.At(index).second; }
  // Every template in deftemplate syntax, parents before children.
  std::string ToString() const;

 private:
  friend class TInferenceEngine;
  TInferenceEngine* engine_;  // not owned
  TOrderedTable<Ref<IFactTemplate>> table_;
};

// Defined types by name. Removing a type removes what uses it: the types
// that extend it, and the templates with a slot of it or of a type refining
// it (so their facts and rules). Replacing a type under the same name
// rebuilds those templates on the new definition.
class TIEDefinedTypes {
 public:
  explicit TIEDefinedTypes(TInferenceEngine* engine) : engine_(engine) {}
  IIEDefinedType* Get(std::string_view name) const {
    Ref<IIEDefinedType>* t = table_.Find(name);
    return t != nullptr ? t->get() : nullptr;
  }
  // Files `type` under its name by the engine's duplicate setting; returns
  // the type now filed under that name.
  IIEDefinedType* Add(Ref<IIEDefinedType> type);
  // Files `replacement` in place of `existing` and rebuilds what used it.
  IIEDefinedType* Replace(const Ref<IIEDefinedType>& existing, Ref<IIEDefinedType> replacement);
  // Removes the type and everything that depends on it; false when absent.
  bool Remove(std::string_view name);
  // Clears the engine's templates first, then the types.
  void Clear();
  int Count() const noexcept { return table_.Count(); }
  IIEDefinedType& At(int index) const { return *table_.At(index).second; }
  // Every type in deftype syntax, parents before children.
  std::string ToString() const;

 private:
  friend class TInferenceEngine;
  TInferenceEngine* engine_;  // not owned
  TOrderedTable<Ref<IIEDefinedType>> table_;
};

// Rules by name. Owns the rules whose owner is the engine.
class TRules {
 public:
  explicit TRules(TInferenceEngine* engine) : engine_(engine) {}
  ~TRules();
  TRule* Get(std::string_view name) const {
    TRule** r = table_.Find(name);
    return r != nullptr ? *r : nullptr;
  }
  // Files and compiles `rule` by the duplicate setting; answers whether it
  // was filed (dcIgnore drops a duplicate, which the caller then frees).
  bool Add(TRule& rule);
  // Takes `name` out and has the engine remove (and free) the rule.
  void Remove(std::string_view name);
  // Removes `name` only when `rule` is the rule filed under it.
  void Remove(std::string_view name, TRule& rule);
  void Clear();
  int Count() const noexcept { return table_.Count(); }
  TRule& At(int index) const { return *table_.At(index).second; }
  std::string ToString() const;

 private:
  friend class TInferenceEngine;
  TInferenceEngine* engine_;  // not owned
  TOrderedTable<TRule*> table_;  // the engine owns rules whose owner it is
};

// Engine variables: name to value.
class TEngineVariables {
 public:
  explicit TEngineVariables(TInferenceEngine* engine) : engine_(engine) {}
  virtual ~TEngineVariables() = default;
  IIEValue* Get(std::string_view name) const {
    Ref<IIEValue>* v = table_.Find(name);
    return v != nullptr ? v->get() : nullptr;
  }
  virtual void Put(const std::string& name, Ref<IIEValue> value) { table_.Put(name, std::move(value)); }
  virtual void Clear() { table_.Clear(); }
  bool Remove(std::string_view name) { return static_cast<bool>(table_.Take(name)); }
  int Count() const noexcept { return table_.Count(); }
  const std::pair<std::string, Ref<IIEValue>>& At(int i) const { return table_.At(i); }
  std::string ToString() const;

 protected:
  TInferenceEngine* engine_;  // not owned
  TOrderedTable<Ref<IIEValue>> table_;
};

// Global variables: name (with asterisks) to initial value. Putting a value
// binds the global at once in the engine's root context.
class TGlobalVariables final : public TEngineVariables {
 public:
  using TEngineVariables::TEngineVariables;
  void Put(const std::string& name, Ref<IIEValue> value) override;
  void Clear() override;
};

// Working memory: the asserted facts in ascending id order, with an index by
// id and a duplicate-detection cache by fact hash code (hits confirmed with
// Equals, so distinct facts whose hashes collide are kept apart).
//
// Retracted facts leave tombstones that are compacted in bulk, so retracting
// costs O(1) amortised and positions stay meaningful between compactions.
class TFacts {
 public:
  explicit TFacts(TInferenceEngine* engine) : engine_(engine) {}
  // The facts still held are let go by this working memory.
  ~TFacts();
  TFacts(const TFacts&) = delete;
  TFacts& operator=(const TFacts&) = delete;

  int Count() const noexcept { return static_cast<int>(live_); }
  // The fact at position `index` (0 = oldest). O(1) when nothing was retracted
  // since the last compaction.
  IFact& Get(int index) const;
  IFact& operator[](int index) const { return Get(index); }
  // Position of the fact with `id`, or -1.
  int FindFact(std::int32_t id) const;
  // Position of a fact equal to `fact` (duplicate test), or -1.
  int FindFact(const IFact& fact) const;
  // Position of `fact` (by id when it has one, else identity), or -1.
  int IndexOf(const IFact& fact) const;
  IFact* GetFactByID(std::int32_t id) const;

  // A host adding a fact routes it to the engine (asserting it); with
  // PreserveIDs, a fact keeps the id it carries when that id is free.
  int Add(Ref<IFact> fact);
  // Retracts the fact at `index` through the engine.
  void Delete(int index);
  // Empties the list and the network's memories (no retraction events).
  void Clear();

  bool PreserveIDs() const noexcept { return preserve_ids_; }
  void SetPreserveIDs(bool on) noexcept { preserve_ids_ = on; }
  bool CacheHashCodes() const noexcept { return cache_hash_codes_; }
  void SetCacheHashCodes(bool on);

  // Visits the live facts in order.
  template <class F>
  void ForEach(F&& f) const {
    for (const Slot& s : slots_) {
      if (s.fact) {
        f(*s.fact);
      }
    }
  }
  // The facts' texts joined by line breaks.
  std::string ToString() const;
  std::string GetToIDString() const;

  // Checks working memory: the live and retracted counts are those of the
  // slots; ids ascend along the slots (unless PreserveIDs lets a fact keep
  // a lower id); the id index finds each fact at its slot and counts no
  // other; with the hash cache on, it finds each fact under the hash it was
  // filed under (a fuzzy fact: in the list of fuzzy facts), and holds
  // nothing else; a fact's token holds the fact. Then the indexes' own
  // checks. Aborts at the first broken invariant (see
  // platform/debug_checks.h); answers the work done.
  std::size_t CheckInvariants() const;

 private:
  // An engine's working memory no longer holds `fact`.
  void LetGo(IFact& fact) const noexcept;
  void LetGoAll() noexcept;
  friend class TInferenceEngine;
  // For the engine: visits the live facts in order with the tokens the
  // network made for them (null when it made none), which the visitor may
  // replace.
  template <class F>
  void ForEachMatch(F&& f) {
    for (Slot& s : slots_) {
      if (s.fact) {
        f(*s.fact, s.match);
      }
    }
  }
  struct Slot {
    Ref<IFact> fact;  // null: retracted
    // The token the matching network made for the fact, which goes through
    // the network again when the fact is retracted.
    Ref<IReteToken> match;
    std::int32_t hash = 0;  // what the fact was filed under in by_hash_
  };

  // The engine's own insertion and removal (no routing back). The engine
  // works with storage slots, which stay put between compactions; public
  // positions are slots after a compaction.
  // `hash`, when given, is the fact's hash code as FindSlot computed it.
  // Returns the fact's slot.
  int Append(Ref<IFact> fact, std::optional<std::int32_t> hash = std::nullopt);
  // Removes the fact with `id`; compacts when tombstones outnumber facts.
  void RemoveId(std::int32_t id);
  // The slot of the fact with `id`, or -1.
  int SlotOfId(std::int32_t id) const;
  // The slot of a fact equal to `fact`, or -1. When it looked by hash and
  // `hash` is given, stores the fact's hash code there for Append.
  int FindSlot(const IFact& fact, std::optional<std::int32_t>* hash = nullptr) const;
  IFact& AtSlot(int slot) const { return *slots_[static_cast<std::size_t>(slot)].fact; }
  int SlotOf(int index) const;
  void Compact() const;
  // Files `fact` (computing its hash unless given) and returns the hash it
  // is filed under (0 when not filed by hash).
  std::int32_t FileInCache(IFact& fact, std::optional<std::int32_t> hash = std::nullopt);
  // Takes out `fact`, filed under `hash`.
  void DropFromCache(IFact& fact, std::int32_t hash);

  TInferenceEngine* engine_;  // not owned
  mutable std::vector<Slot> slots_;
  mutable TFactIdIndex by_id_;  // id -> slot
  TFactHashIndex by_hash_;
  std::vector<IFact*> fuzzy_;
  std::size_t live_ = 0;
  mutable std::size_t dead_ = 0;
  std::int32_t highest_id_ = 0;
  bool preserve_ids_ = false;
  bool cache_hash_codes_ = true;
};

// "(defglobal ?*a* = 1 ?*b* = (+ 1 2))": every global of `globals`.
std::string PrettyPrintGlobalVariables(const TEngineVariables& globals);

}  // namespace zephro

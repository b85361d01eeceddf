#pragma once

// The engine's named collections: fact templates, rules, user functions,
// global and engine variables, fact sets, and working memory (TFacts).
//
// Each collection knows its engine (null for a free-standing one: then no
// events and no cascades). Adding a construct under a name already in use
// follows the engine's DuplicateConstructs setting; removing a template
// removes what depends on it. Iteration follows insertion order unless a
// collection says otherwise (the keyed ones: named_table.h).
//
// Copying. Assign(from) files in a collection a copy of every item of
// another collection of its kind; it does not empty the collection first
// (Clear does). Items go in through the collection's own filing, so by the
// duplicate setting and with the engine's events. Copies are made for the
// collection's engine: a construct that belongs to another engine (a
// template, a rule, a type, a deffunction, a value holding calls) is read
// again from its printed text by this engine's parser, so that it names this
// engine's templates, types and functions and never points into the other
// engine; an item this collection already files with the same text is left
// as it is (so the internal templates of two engines meet without harm).
// When either collection is free-standing, or both belong to one engine, the
// items themselves are shared (rules and streams say otherwise). AssignTo(to)
// is to.Assign(*this).
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
#include "zephro/engine/named_table.h"
#include "zephro/platform/ordered_table.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/value_vector.h"

namespace zephro {

class TInferenceEngine;
class TRule;
class TFactSet;
class TFactSets;
class TInterpretedFunction;
class TTreeNode;
class TTreeNodes;
class TTreeView;

// Fact templates by name.
class TFactTemplates : public TNamedTable<IFactTemplate> {
 public:
  explicit TFactTemplates(TInferenceEngine* engine) : engine_(engine) {}
  TFactTemplates(const TFactTemplates&) = delete;
  TFactTemplates& operator=(const TFactTemplates&) = delete;
  // Files `fact_template` under its name by the engine's duplicate setting;
  // returns the template now filed under that name.
  IFactTemplate* Add(Ref<IFactTemplate> fact_template);
  // As Add; `name` must be the template's own name, else EIEException
  // ("Bad Argument: %s") and nothing changes.
  IFactTemplate* Put(std::string_view name, Ref<IFactTemplate> fact_template);
  IFactTemplate* SetItem(std::string_view name, Ref<IFactTemplate> fact_template) {
    return Put(name, std::move(fact_template));
  }
  // Removes the template and everything that depends on it.
  void Remove(std::string_view name);
  // Files `replacement` in place of `existing` and rebuilds the dependents.
  IFactTemplate* Replace(const Ref<IFactTemplate>& existing, Ref<IFactTemplate> replacement);
  void Clear();
  // Files a copy of each of `from`'s templates, parents before children (see
  // the top of this file); a copy keeps the template's backward chaining.
  void Assign(const TFactTemplates& from);
  void AssignTo(TFactTemplates& to) const { to.Assign(*this); }
  // Every template in deftemplate syntax, parents before children.
  std::string ToString() const;

  // Tree views (platform/tree_model.h) of the templates: a node per template,
  // its text the name and its data the IFactTemplate; below it a node per slot
  // in slot order, named after the slot, with two children:
  //
  //   person
  //     age
  //       Type: Integer, Float
  //       Default: 0
  //     tags
  //       Type: (Multislot) Atom
  //       Default: a b
  //
  // The type line lists the slot's kinds as SetToString does (type_set_text.h),
  // those that make it a multislot left out; the default line prints the
  // default value (IIEValue::ToString), and ends after the blank when there is
  // none. Slot nodes and their lines carry no data.

  // Empties `view` and adds a top-level node per template, in filing order (the
  // engine's internal templates too), inside one BeginUpdate/EndUpdate pair of
  // its nodes; then selects the first node when there is one.
  void FillTreeView(TTreeView& view) const;
  // Adds the node of `fact_template` below `parent` (at the top level when
  // null), with a node per slot (FillNodeSlot); returns it.
  static TTreeNode& FillTreeViewNode(TTreeView& view, TTreeNode* parent,
                                     const IFactTemplate& fact_template);
  // The node of slot `slot_name` of `fact_template` below `node`: the child of
  // `node` with that text, its children deleted, or a new last child; then its
  // type and default lines. Returns the slot's node. Raises EIEException (the
  // template's "No such slot name") when there is no such slot.
  static TTreeNode& FillNodeSlot(TTreeView& view, TTreeNode& node,
                                 const IFactTemplate& fact_template, std::string_view slot_name);

 private:
  friend class TInferenceEngine;
  TInferenceEngine* engine_;  // not owned
};

// Defined types by name. Removing a type removes what uses it: the types
// that extend it, and the templates with a slot of it or of a type refining
// it (so their facts and rules). Replacing a type under the same name
// rebuilds those templates on the new definition.
class TIEDefinedTypes : public TNamedTable<IIEDefinedType> {
 public:
  explicit TIEDefinedTypes(TInferenceEngine* engine) : engine_(engine) {}
  TIEDefinedTypes(const TIEDefinedTypes&) = delete;
  TIEDefinedTypes& operator=(const TIEDefinedTypes&) = delete;
  // Files `type` under its name by the engine's duplicate setting; returns
  // the type now filed under that name.
  IIEDefinedType* Add(Ref<IIEDefinedType> type);
  // As Add; `name` must be the type's own name, else EIEException ("Bad
  // Argument: %s") and nothing changes.
  IIEDefinedType* Put(std::string_view name, Ref<IIEDefinedType> type);
  IIEDefinedType* SetItem(std::string_view name, Ref<IIEDefinedType> type) {
    return Put(name, std::move(type));
  }
  // Files `replacement` in place of `existing` and rebuilds what used it.
  IIEDefinedType* Replace(const Ref<IIEDefinedType>& existing, Ref<IIEDefinedType> replacement);
  // Removes the type and everything that depends on it; false when absent.
  bool Remove(std::string_view name);
  // Clears the engine's templates first, then the types.
  void Clear();
  // Files a copy of each of `from`'s types, parents before children (see the
  // top of this file).
  void Assign(const TIEDefinedTypes& from);
  void AssignTo(TIEDefinedTypes& to) const { to.Assign(*this); }
  // Every type in deftype syntax, parents before children.
  std::string ToString() const;

 private:
  friend class TInferenceEngine;
  TInferenceEngine* engine_;  // not owned
};

// Rules by name. Owns the rules whose owner is the engine.
class TRules : public TNamedTable<TRule, TRule*> {
 public:
  explicit TRules(TInferenceEngine* engine) : engine_(engine) {}
  ~TRules();
  TRules(const TRules&) = delete;
  TRules& operator=(const TRules&) = delete;
  // Files and compiles `rule` by the duplicate setting; answers whether it
  // was filed (dcIgnore drops a duplicate, which the caller then frees).
  bool Add(TRule& rule);
  // As Add; `name` must be the rule's own name, else EIEException ("Bad
  // Argument: %s") and nothing changes.
  bool Put(std::string_view name, TRule& rule);
  bool SetItem(std::string_view name, TRule& rule) { return Put(name, rule); }
  // Takes `name` out and has the engine remove (and free) the rule.
  void Remove(std::string_view name);
  // Removes `name` only when `rule` is the rule filed under it.
  void Remove(std::string_view name, TRule& rule);
  // Frees the rules the engine owns, empties the table, resets the rule ids.
  void Clear();
  // Files a copy of each of `from`'s rules (see the top of this file): with
  // an engine, each is read again from its text by the engine's parser and
  // owned by the engine. A free-standing collection files the rules
  // themselves, which it does not own.
  void Assign(const TRules& from);
  void AssignTo(TRules& to) const { to.Assign(*this); }
  // Empties `nodes` and adds a node per rule in filing order, inside one
  // BeginUpdate/EndUpdate pair: its text the rule name, followed by two blanks
  // and the comment in double quotes when the rule has a comment; its data the
  // TRule. Below it a node per line of the rule's printed text after the
  // first, each line without its leading and trailing blanks:
  //
  //   greet  "says hello"
  //     "says hello"
  //     (person (name ?n))
  //     =>
  //     (printout t "hi " ?n crlf))
  //
  // (The lines are those ToString prints.)
  void AssignTo(TTreeNodes& nodes) const;
  std::string ToString() const;

 private:
  friend class TInferenceEngine;
  TInferenceEngine* engine_;  // not owned; it owns the filed rules whose owner it is
};

// Engine variables: name to value.
class TEngineVariables : public TNamedTable<IIEValue> {
 public:
  explicit TEngineVariables(TInferenceEngine* engine) : engine_(engine) {}
  virtual ~TEngineVariables() = default;
  TEngineVariables(const TEngineVariables&) = delete;
  TEngineVariables& operator=(const TEngineVariables&) = delete;
  // Stores `value` under `name`; a new value replaces the old one.
  virtual void Put(const std::string& name, Ref<IIEValue> value) { table_.Put(name, std::move(value)); }
  void SetItem(const std::string& name, Ref<IIEValue> value) { Put(name, std::move(value)); }
  virtual void Clear() { table_.Clear(); }
  bool Remove(std::string_view name) { return static_cast<bool>(table_.Take(name)); }
  // The entry at `i`: name and value (GetItemByIndex gives the value alone).
  const TEntry& At(int i) const {
    CheckCollectionIndex(i, Count());
    return table_.At(i);
  }
  // Puts a copy of each of `from`'s values under its name (see the top of
  // this file): a clone, or, for a value holding function calls that belong
  // to another engine, the value read again from its text.
  void Assign(const TEngineVariables& from);
  void AssignTo(TEngineVariables& to) const { to.Assign(*this); }
  std::string ToString() const;

 protected:
  TInferenceEngine* engine_;  // not owned
};

// Global variables: name (with asterisks) to initial value. Putting a value
// binds the global at once in the engine's root context.
class TGlobalVariables final : public TEngineVariables {
 public:
  using TEngineVariables::TEngineVariables;
  void Put(const std::string& name, Ref<IIEValue> value) override;
  void Clear() override;
};

// The functions calls can reach, by name: the packages' functions, the
// host's and the interpreted ones (deffunctions). Counted: the table holds
// a reference to each function. Filing a function with an engine registers
// the engine with the function (IUserFunction::AddReasoner), which lists the
// engines it is filed with; removing it unregisters the engine. Every change
// moves the engine's FunctionTableVersion and raises OnAddUserFunction or
// OnRemoveUserFunction.
class TUserFunctions : public TNamedTable<IUserFunction> {
 public:
  explicit TUserFunctions(TInferenceEngine* engine) : engine_(engine) {}
  TUserFunctions(const TUserFunctions&) = delete;
  TUserFunctions& operator=(const TUserFunctions&) = delete;

  // Files `function` under its own name, as Put.
  void Add(Ref<IUserFunction> function);
  // Files `function` under `name`. Raises EIEException "Cannot add nil to
  // user functions" for null and "Function names do not match: %s and %s"
  // (`name`, the function's name) when `name` is not the function's name.
  // A function already filed under the name: the same object changes
  // nothing; otherwise dcOverwrite removes it first, dcIgnore keeps it
  // (dropping `function`), dcError raises "Function Name already exists:
  // "%s"". Nothing changes when it raises.
  void Put(const std::string& name, Ref<IUserFunction> function);
  void SetItem(const std::string& name, Ref<IUserFunction> function) {
    Put(name, std::move(function));
  }
  // Takes the function filed under `name` out and unregisters the engine
  // from it; false when nothing is filed there.
  bool Remove(std::string_view name);
  // Removes every function, the last filed first.
  void Clear();

  // How many of the functions are interpreted (IsInterpreted).
  int InterpretedCount() const noexcept { return interpreted_; }
  // The interpreted functions (deffunctions), in the order they were
  // defined (a redefined one counts as new).
  std::vector<const TInterpretedFunction*> DefFunctions() const;
  // The names, each followed by a line break, in filing order.
  std::string GetNamesToString() const;
  // For every interpreted function, a line break and the function's
  // definition as the language writes it (deffunction); package and host
  // functions are not written.
  std::string ToString() const;

  // Files the package and host functions of `from` (not the interpreted
  // ones) under the names this collection does not file yet: a function
  // holds no state of an engine, so engines share these objects.
  void Assign(const TUserFunctions& from);
  void AssignTo(TUserFunctions& to) const { to.Assign(*this); }
  // Files a new function for each interpreted function of `from`, in filing
  // order, by the duplicate setting: with an engine, the deffunction's text
  // is parsed by this engine, so the new function's calls resolve here and
  // it does not depend on `from`'s engine (which may then go). A
  // free-standing collection files the functions themselves. Raises what
  // the parser raises; the functions before the failing one stay filed.
  void AssignInterpretedFunctions(const TUserFunctions& from);

 private:
  friend class TInferenceEngine;
  // The engine's own filing (IReasoner): files or unfiles without the
  // checks above, keeping the interpreted count.
  void File(Ref<IUserFunction> function);
  Ref<IUserFunction> Unfile(std::string_view name);

  TInferenceEngine* engine_;  // not owned
  int interpreted_ = 0;
};

// The engine's fact sets (deffacts), in order: Reset asserts them in this
// order. Fact sets are components, which the list does not own. A set's
// engine and its place in the engine's list go together: adding a set to
// the list makes the list's engine its engine (TFactSet::SetEngine does the
// same from the set's side), taking it out or destroying it ends both. A
// free-standing list (no engine) only lists the sets.
//
// Iterating visits the sets (TFactSet*) in order:
//
//   for (TFactSet* fact_set : engine.FactSets()) { ... }
class TFactSets {
 public:
  explicit TFactSets(TInferenceEngine* engine) : engine_(engine) {}
  TFactSets(const TFactSets&) = delete;
  TFactSets& operator=(const TFactSets&) = delete;

  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // The set at `index`; raises EIEException ("Bad Argument: %s") out of range.
  TFactSet& Items(int index) const;
  TFactSet& operator[](int index) const { return Items(index); }
  // Appends `fact_set` and returns its index. A listed set of the same name
  // (compared case-sensitively) that is another object is detached from the
  // engine first. A set listed already stays where it is. With an engine,
  // the set leaves its former engine and parses its facts' texts.
  int Add(TFactSet& fact_set);
  // As Add, but at `index` (clamped to 0 .. Count()); a listed set moves
  // there.
  void Insert(int index, TFactSet& fact_set);
  // Takes `fact_set` out; its engine becomes null. Returns its former index,
  // or -1 when it was not listed.
  int Remove(TFactSet& fact_set);
  // The index of `fact_set`, or -1.
  int IndexOf(const TFactSet& fact_set) const;
  // The index of the first set named `name` (case-sensitive), or -1.
  int IndexOf(std::string_view name) const;
  // Takes every set out.
  void Clear();
  // Every set in deffacts syntax, each followed by a line break.
  std::string ToString() const;

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  friend class TFactSet;
  friend class TInferenceEngine;
  // Lists `fact_set` at `index` and makes it this list's engine's; parses
  // its texts when `parse`.
  void Join(int index, TFactSet& fact_set, bool parse);
  // Drops `fact_set` from the list only (it is leaving or being destroyed).
  void Forget(const TFactSet& fact_set) noexcept;

  TInferenceEngine* engine_;      // not owned
  std::vector<TFactSet*> items_;  // not owned
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
  // Adds `fact` as Add does, then moves it to position `index` (0 ..
  // Count()); raises EIEException ("Bad Argument: %s") for another index.
  // With an engine the fact is asserted first: when it is not (a duplicate,
  // or an assertion that waits for the fact being matched), or no longer in
  // working memory when the assertion returns, nothing moves. The facts no
  // longer stand in id order afterwards.
  void Insert(int index, Ref<IFact> fact);
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

  // Replaces the facts with copies of `source`'s, in order, added as Add
  // does (so asserted through the engine, with new ids unless PreserveIDs).
  // A copy takes the template this engine files under the name of the
  // source fact's template when the source's belongs to another engine;
  // the two must be equal, else EIEException "Unable to assign slot values,
  // fact templates are different: %s and %s" (the source's text, then this
  // engine's) and nothing changes. Otherwise it keeps the source fact's own.
  void Assign(const TFacts& source);
  void AssignTo(TFacts& dest) const { dest.Assign(*this); }
  // Replaces `lines` with one text per fact.
  void AssignTo(std::vector<std::string>& lines) const;

  // Checks working memory: the live and retracted counts are those of the
  // slots; ids ascend along the slots (unless PreserveIDs lets a fact keep
  // a lower id, or Insert placed one); the id index finds each fact at its
  // slot and counts no other; with the hash cache on, it finds each fact
  // under the hash it was filed under (a fuzzy fact: in the list of fuzzy
  // facts), and holds nothing else; a fact's token holds the fact. Then the
  // indexes' own checks. Aborts at the first broken invariant (see
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
  // Hands `fact` to the engine as Add does; answers the engine's id for it
  // (-1 when it was not asserted).
  std::int32_t Route(const Ref<IFact>& fact);
  // Moves the fact in `from` to slot `to`, the slots between shifting by
  // one. REQUIRES: no retracted slot.
  void MoveSlot(std::size_t from, std::size_t to);
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
  bool moved_ = false;  // Insert placed a fact out of id order since Clear
};

// "(defglobal ?*a* = 1 ?*b* = (+ 1 2))": every global of `globals`.
std::string PrettyPrintGlobalVariables(const TEngineVariables& globals);

}  // namespace zephro

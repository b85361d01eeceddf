#pragma once

// Evaluation contexts: the scopes in which expressions are evaluated.
//
// A TIEContext maps variable names to values, carries the return value of
// `return`-style early exits, and links to a parent scope. The engine owns one
// root context holding the global variables; each rule firing and each nested
// evaluation that needs its own scope pushes a child. Lookup walks from the
// innermost context to the root.
//
// Variable names are stored as the variable values hold them: without the "?"
// (a global ?*limit* is bound as "*limit*").
//
// Ownership: a context owns its bindings. Push returns a child the caller
// owns; the parent must outlive it. The engine, fact and token a context
// refers to are borrowed.
//
// Thread safety: none; a context is used on the firing thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zephro/facts/slot_position.h"
#include "zephro/platform/persistent.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/messages.h"

namespace zephro {

class TInferenceEngine;
class TEngineBudget;
class TIEValue;

// Where a rule variable takes its value from: the fact of pattern FactIndex in
// a match, and in it slot SlotIndex (or the whole fact for "__PATTERN", or
// nothing for "__LOCAL"), narrowed to position SubIndex of a multislot when
// SubIndex is not NoSubIndex. Held in function calls inside the matcher as a
// binding reference.
class TBindingInfo : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TBindingInfo, TPersistent)

 public:
  TBindingInfo() : TBindingInfo(0, std::string_view(), NoSubIndex) {}
  TBindingInfo(std::int32_t fact_index, std::string_view slot_index, std::int32_t sub_index);
  void Assign(const TPersistent& source) override;

  std::int32_t FactIndex() const noexcept { return fact_index_; }
  void SetFactIndex(std::int32_t index) noexcept { fact_index_ = index; }
  std::string_view SlotIndex() const noexcept { return position_.Name(); }
  // The slot as found in facts (positions remembered per template).
  const TSlotPosition& SlotPosition() const noexcept { return position_; }
  std::int32_t SubIndex() const noexcept { return sub_index_; }
  bool IsPatternBinding() const noexcept { return pattern_binding_; }
  bool IsLocalBinding() const noexcept { return local_binding_; }

  // Same position, slot and sub-index; TBinding adds its name and value.
  virtual bool Equals(const TBindingInfo& other) const;
  // "FactIdx=N SlotIdx=S" and " SubIdx=K" when there is a sub-index.
  virtual std::string ToString() const;

 private:
  std::int32_t fact_index_;
  std::int32_t sub_index_;
  TSlotPosition position_;  // the slot, by name, found in facts
  bool pattern_binding_;    // the slot is SPatternBinding
  bool local_binding_;      // the slot is SLocalBinding
};

// A named variable: where it comes from and its current value.
class TBinding final : public TBindingInfo {
 public:
  TBinding(std::string_view name, std::int32_t fact_index, std::string_view slot_index,
           std::int32_t sub_index);
  // A local binding: FactIndex -2, SlotIndex "__LOCAL", SubIndex -1.
  TBinding(std::string_view name, Ref<IIEValue> value);

  std::string_view Name() const noexcept { return name_.View(); }
  IIEValue* Value() const noexcept { return value_.get(); }
  void SetValue(Ref<IIEValue> value) noexcept { value_ = std::move(value); }

  bool Equals(const TBindingInfo& other) const override;
  // "name=N", " value=V" when bound, then a blank and the position text.
  std::string ToString() const override;

  // Rules and firings make many bindings: their blocks are recycled, without
  // the allocator's header and rounding.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

 private:
  friend class TBindings;  // renames the local records it keeps for reuse

  TText name_;  // variable names repeat: most share their text
  Ref<IIEValue> value_;
};

// The binding table of one context: variable name to owned TBinding. Small
// tables (the usual case: a rule's few variables) are searched linearly;
// larger ones are indexed. A word of name bits (one bit per name, chosen by
// its length and last byte) turns most searches for a name the table lacks
// away without comparing names: a rule's actions look for the globals they
// use in the firing's table first.
//
// A table can be emptied for reuse (Recycle): the records of its local
// bindings are then kept, and the local bindings made next take them over
// instead of allocating new ones. A rule's firing context is emptied so
// after every firing.
class TBindings {
 public:
  TBinding* Get(std::string_view name) const noexcept;
  // Stores `binding` under its name, replacing (and freeing) any binding of
  // that name; returns the stored binding.
  TBinding* Put(std::unique_ptr<TBinding> binding);
  // Binds `name` locally to `value`: the local binding of that name takes
  // the value, or a new local record replaces any other binding of the name.
  TBinding& PutLocal(std::string_view name, Ref<IIEValue> value);
  bool Remove(std::string_view name);
  void Clear() noexcept;
  // Empties the table as Clear does, but keeps the records of its local
  // bindings (their values dropped) for the local bindings made next.
  void Recycle() noexcept;
  // As Recycle, but the first `kept` records stay where they are, named,
  // their values dropped, when they are all local ones (else the table is
  // recycled whole): a context whose owner binds the same names in the
  // same order each time rebinds them with RebindAt.
  void Recycle(std::size_t kept) noexcept;
  // Gives the record at `index` the value `value` when it is a local binding
  // of `name`; false (and nothing changed) otherwise.
  bool RebindAt(std::size_t index, std::string_view name, Ref<IIEValue> value) noexcept;
  // The records kept by Recycle and not taken again yet.
  int SpareCount() const noexcept { return static_cast<int>(spare_.size() - next_spare_); }
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TBinding& At(int index) const { return *items_[static_cast<std::size_t>(index)]; }
  // The binding at `index` when it holds `name` by identity of the text
  // (the place a name was found before, checked), else null.
  TBinding* AtIfNamed(std::uint32_t index, const TText& name) const noexcept {
    if (index >= items_.size()) {
      return nullptr;
    }
    TBinding* b = items_[index].get();
    return b->name_.Identity() == name.Identity() && name.Identity() != 0 ? b : nullptr;
  }
  // The index of the binding of `name`, or -1.
  int IndexOf(std::string_view name) const noexcept;

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  static constexpr std::size_t kIndexThreshold = 16;
  static std::uint64_t NameBit(std::string_view name) noexcept {
    const unsigned last = name.empty() ? 0u : static_cast<unsigned char>(name.back());
    return std::uint64_t{1} << ((name.size() * 7 + last) & 63);
  }
  void Reindex();
  // A local record of `name` holding `value`: a kept one when there is one.
  std::unique_ptr<TBinding> MakeLocal(std::string_view name, Ref<IIEValue> value);
  TBinding* Append(std::unique_ptr<TBinding> binding);

  std::vector<std::unique_ptr<TBinding>> items_;
  std::unordered_map<std::string_view, std::size_t> index_;  // keys view the bindings' names
  std::uint64_t name_bits_ = 0;  // NameBit of every name held (and of some gone)
  // Local records kept by Recycle, in the order they were bound; the first
  // next_spare_ have been taken again (their entries are empty).
  std::vector<std::unique_ptr<TBinding>> spare_;
  std::size_t next_spare_ = 0;
};

class TIEContext final {
 public:
  // `engine` may be null (a free-standing context); `parent` is borrowed.
  explicit TIEContext(TInferenceEngine* engine = nullptr, TIEContext* parent = nullptr);
  TIEContext(const TIEContext&) = delete;
  TIEContext& operator=(const TIEContext&) = delete;

  TInferenceEngine* Engine() const noexcept { return engine_; }
  // What evaluation in this context may spend (null: no limits), shared
  // with every child pushed from it.
  TEngineBudget* Budget() const noexcept { return budget_; }
  void SetBudget(TEngineBudget* budget) noexcept { budget_ = budget; }
  TIEContext* Parent() const noexcept { return parent_; }
  TIEContext& Root() noexcept;
  TBindings& Bindings() noexcept { return bindings_; }
  const TBindings& Bindings() const noexcept { return bindings_; }

  // A new child scope of this one; the caller owns it.
  std::unique_ptr<TIEContext> Push();
  // Copies the return state into the parent and returns the parent (this
  // context itself at the root). Frees nothing.
  TIEContext& Pop();

  // First binding of `name` from this context up to the root, or null.
  TBinding* FindBinding(std::string_view name) const noexcept;
  // As FindBinding, trying first at each level the place `hint` where a
  // table held the name before, and keeping the place found in it.
  TBinding* FindBinding(const TText& name, std::uint32_t& hint) const noexcept;
  // The binding of `name` in the root context only, or null.
  TBinding* FindGlobalBinding(std::string_view name) const noexcept;
  // The value bound to `name`; raises "Unknown variable name: %s".
  IIEValue* GetVariable(std::string_view name) const;
  // Replaces the value of this context's own binding of `name`, or binds it
  // as AddBinding does.
  void SetVariable(std::string_view name, Ref<IIEValue> value);
  // As SetVariable for the variable `variable` names, with its place hint.
  void SetVariable(TIEValue& variable, Ref<IIEValue> value);
  // Updates the nearest binding of `name` in the chain, or creates a local one here.
  TBinding& AddBinding(std::string_view name, Ref<IIEValue> value);
  // Always binds `name` in this context, shadowing outer bindings.
  TBinding& AddLocalBinding(std::string_view name, Ref<IIEValue> value);
  // Updates or creates `name` in the root context.
  TBinding& AddGlobalBinding(std::string_view name, Ref<IIEValue> value);
  // A pattern binding in this context, shadowing outer bindings.
  TBinding& AddBinding(std::string_view name, std::int32_t fact_index,
                       std::string_view slot_index, std::int32_t sub_index);
  // Frees every binding of this context and lowers the return flag.
  void Clear() noexcept;
  // Brings the context back to the state of a fresh child of its parent (no
  // bindings, no return value, flags down, no fact or token) while keeping
  // its binding records for reuse (see TBindings::Recycle): for a context
  // that serves one evaluation after another.
  void Recycle() noexcept;
  // As Recycle, keeping the first `kept_bindings` records of the table in
  // place (see TBindings::Recycle).
  void Recycle(std::size_t kept_bindings) noexcept;

  bool ReturnFlag() const noexcept { return return_flag_; }
  IIEValue* ReturnValue() const noexcept { return return_value_.get(); }
  void SetReturnValue(Ref<IIEValue> value) noexcept;
  void ClearReturnValue() noexcept { return_flag_ = false; }
  bool Halted() const noexcept { return halted_; }
  void SetHalted(bool halted) noexcept { halted_ = halted; }
  // Copies the return state (a clone of the value); bindings are not copied.
  void Assign(const TIEContext& source);

  // The fact and partial match the current evaluation concerns; set by the
  // matcher before it evaluates a test. Borrowed.
  IFact* Fact() const noexcept { return fact_; }
  void SetFact(IFact* fact) noexcept { fact_ = fact; }
  IReteToken* Token() const noexcept { return token_; }
  void SetToken(IReteToken* token) noexcept { token_ = token; }
  // The fact of pattern `index` in the current match: from the token, or the
  // current fact for the position just past the token.
  IFact* FactAt(std::int32_t index) const {
    if (token_ != nullptr && index < token_->Count()) {
      return token_->GetFacts(index);
    }
    return fact_;
  }

  // Evaluates every slot of `fact` in this context and stores the results
  // back into it (lists are expanded); returns the same fact.
  IFact& Resolve(IFact& fact);
  // A new list of the evaluated elements of `list`, nested lists flattened.
  Ref<IValueVector> ExpandList(const IValueVector& list);
  // A new list of the non-list elements of `list` and its nested lists, in
  // depth-first order, without evaluation.
  static Ref<IValueVector> FlattenList(const IValueVector& list);

 private:
  TInferenceEngine* engine_;  // not owned
  TIEContext* parent_;        // not owned
  TEngineBudget* budget_;     // not owned
  TBindings bindings_;
  Ref<IIEValue> return_value_;
  IFact* fact_ = nullptr;         // not owned
  IReteToken* token_ = nullptr;   // not owned
  bool return_flag_ = false;
  bool halted_ = false;
};

}  // namespace zephro

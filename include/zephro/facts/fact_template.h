#pragma once

// TFactTemplate: the record type facts are built from (the deftemplate
// construct), and TSlotLayout, the order its slots are kept in.
//
// A template has a name, a comment, an optional parent it was extended from,
// and slots. Slots are kept sorted by name: SlotNames() is alphabetical,
// SlotIndex(name) is a slot's position in that order, and every walk over the
// slots (printing, hashing, comparing facts, filling defaults) follows it.
// Facts keep their values in a vector in the same order, so the matcher reads
// a slot by index without looking its name up.
//
// A template whose only slot is the multislot "__Data" is ordered: its facts
// are plain lists of fields.
//
// Ownership: templates are counted. The engine's template collection holds
// one reference and every fact of the template holds another; a template holds
// its slots and its parent, never its facts. The owner (the engine) is
// borrowed: it detaches its templates before it dies.
//
// Thread safety: reference counts are atomic; nothing else is guarded. Use a
// template on the engine's thread, or while holding the engine's lock.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/facts/fact_slot.h"
#include "zephro/values/interfaces.h"

namespace zephro {

// The sorted slot names of a template at one moment. Immutable: a template
// replaces its layout whenever a slot is added, removed or renamed, so a fact
// can tell by comparing one pointer whether its values still follow the
// template's order.
class TSlotLayout final : public RefCounted {
 public:
  // REQUIRES: `names` sorted and free of duplicates.
  explicit TSlotLayout(std::vector<std::string> names) noexcept;

  std::span<const std::string> Names() const noexcept { return names_; }
  int Count() const noexcept { return static_cast<int>(names_.size()); }
  // Unique among all layouts the process makes.
  std::uint64_t Serial() const noexcept { return serial_; }
  // Position of `name`, or -1.
  int IndexOf(std::string_view name) const noexcept;
  // Whether the template that made this layout has moved on to another. A
  // layout belongs to one template, so a fact that follows a layout not
  // superseded follows its template's current one.
  bool Superseded() const noexcept { return superseded_; }
  void Supersede() const noexcept { superseded_ = true; }

  // The order of slot names: alphabetical without regard to case, ties
  // (names differing only in case) broken by byte order.
  static bool Less(std::string_view a, std::string_view b) noexcept;

 private:
  ~TSlotLayout() override = default;

  std::vector<std::string> names_;
  std::uint64_t serial_;
  mutable bool superseded_ = false;
};

class TFactTemplate final : public IFactTemplate {
 public:
  // An unnamed template without slots. `owner` may be null.
  explicit TFactTemplate(IFactEnvironment* owner = nullptr);
  // A template named `name` (checked as SetTemplateName checks it) that
  // starts as a copy of `parent`'s slots and backward-chaining flag: this is
  // how `extends` works, the child holding its own copies of the parent's
  // slots. The parent is remembered only when it has the same owner.
  TFactTemplate(IFactEnvironment* owner, std::string_view name, std::string_view comment,
                IFactTemplate* parent);

  const std::string& TemplateName() const noexcept override { return name_; }
  // Raises "%s contains unexpected character: "%c"" for a new name with a
  // forbidden character, keeping the old name.
  void SetTemplateName(std::string_view name) override;
  const std::string& Comment() const noexcept override { return comment_; }
  void SetComment(std::string_view comment) override { comment_ = comment; }
  IFactTemplate* Parent() const noexcept override { return parent_.get(); }
  // Raises "Fact templates inheritance structure corrupted" when this
  // template is among `parent`'s ancestors.
  void SetParent(IFactTemplate* parent) override;
  bool IsBackwardChaining() const noexcept override { return backward_chaining_; }
  void SetBackwardChaining(bool on) override { backward_chaining_ = on; }
  std::int32_t Tag() const noexcept override { return tag_; }
  void SetTag(std::int32_t tag) override { tag_ = tag; }
  IFactEnvironment* Owner() const noexcept override { return owner_; }
  void SetOwner(IFactEnvironment* owner) override { owner_ = owner; }

  bool IsOrdered() const noexcept override;
  bool IsFuzzy() const override;
  int SlotCount() const noexcept override { return layout_->Count(); }
  std::span<const std::string> SlotNames() const noexcept override { return layout_->Names(); }
  std::uint64_t LayoutSerial() const noexcept override { return layout_->Serial(); }
  // REQUIRES: 0 <= index < SlotCount(), else EIEException.
  IFactSlot* SlotAt(int index) const override;
  int SlotIndex(std::string_view name) const noexcept override { return layout_->IndexOf(name); }
  IFactSlot* GetSlot(std::string_view name) const override;
  IFactSlot* ContainsType(const IIEDefinedType* type) const override;

  // The current order of the slots; replaced (never changed) when slots are
  // added, removed or renamed.
  const TSlotLayout& Layout() const noexcept { return *layout_; }

  // Adds a single-field slot admitting IESlotTypes with `default_value`, or
  // replaces the default of an existing single-field slot of that name.
  // Raises "Bad Slot Type" without a default, "Invalid default slot value: %s"
  // for a multifield default, "Invalid value for existing slot, multislot is
  // not slot" when the existing slot is a multislot. Returns the slot.
  IFactSlot* AddSlot(std::string_view name, Ref<IIEValue> default_value) override;
  // The same for a multislot (IESlotTypes and the multislot kinds); the name
  // is trimmed. Raises "Bad Slot Type" without a default, "Invalid default
  // value for a multislot, must be a multifield: %s" for a default that is not
  // a multifield, "Bad Slot Name: %s" for an empty name, "Invalid value for
  // existing slot, slot is not multislot" when the existing slot is single.
  IFactSlot* AddMultiSlot(std::string_view name, Ref<IIEValue> default_value) override;
  // Many slots at the cost of one, for a template being built (the parser's
  // deftemplate): between BeginSlotBatch and EndSlotBatch, AddSlot and
  // AddMultiSlot look names up and raise as always, but a new slot waits at
  // the end, out of the layout, and EndSlotBatch puts the new slots in their
  // places and publishes one layout for them all. Until then SlotCount,
  // SlotNames, SlotIndex and SlotAt show the slots the batch started with.
  // Any other change to the slots, and making or filling a fact, ends the
  // batch first. Without a batch, adding n slots costs n layouts of up to n
  // names each.
  void BeginSlotBatch();
  void EndSlotBatch();

  // Adds `slot` under its name, replacing a slot of that name. A slot that
  // belongs to another template is copied; one of another class is copied
  // into a TFactSlot.
  void AddSlot(Ref<IFactSlot> slot) override;
  // As AddSlot(slot); raises "Index does not match fact slot name: %s and %s"
  // when `name` is not the slot's name.
  void SetSlot(std::string_view name, Ref<IFactSlot> slot) override;
  // Raises "No such slot name: "%s"" for an unknown name.
  void RemoveSlot(std::string_view name) override;
  void ClearSlots() override;
  void AssignSlots(const IFactTemplate& source) override;
  // Takes `source`'s backward-chaining flag, comment, name, parent and
  // copies of its slots.
  void Assign(const IFactTemplate& source) override;

  Ref<IFact> NewFact() override;
  // Stores a clone of each slot's default in `fact`, in slot order. With an
  // owner, a dynamic default is resolved in the owner's root context, which
  // evaluates its calls. Raises "Fact Template is missing" for a fact without
  // template and "Unable to assign slot values, fact templates are
  // different: %s and %s" for a fact of another template.
  void FillFactWithDefaults(IFact& fact) override;

  // Same object, or the same name (case-sensitive), as many slots, and an
  // Equals slot of each name.
  bool Equals(const IFactTemplate* other) const override;
  // CalculateHash of the name followed by each slot name and a line break,
  // cached until a name changes.
  std::int32_t GetHashCode() const override;
  // The template in deftemplate syntax, printed by the owner when there is one.
  std::string ToString() const override;
  // A copy by Assign, with the same owner and tag.
  Ref<IFactTemplate> Clone() const override;

 private:
  friend class TFactSlot;

  ~TFactTemplate() override;

  // Renames `slot`, a slot of this template, and re-sorts the slots. Raises
  // "Bad Slot Name: %s" when another slot has that name.
  void NewSlotName(const TFactSlot& slot, std::string_view new_name);
  // Makes `slot` a slot of this template: adopts a free TFactSlot, copies any
  // other.
  Ref<TFactSlot> Adopt(Ref<IFactSlot> slot);
  // Creates, checks and adds a slot of `types`.
  TFactSlot* NewSlot(std::string_view name, TIETypes types, Ref<IIEValue> default_value);
  // Puts `slot` in its place by name, replacing a slot of the same name.
  void PutSlot(Ref<TFactSlot> slot);
  // Lets `slot` go: it no longer points back here.
  static void Detach(TFactSlot& slot) noexcept;
  // Publishes a new layout for the current slots.
  void SlotsChanged();
  TFactSlot* FindOwnSlot(std::string_view name) const noexcept;

  // The slots by name while a batch is open (see BeginSlotBatch); the keys
  // view the slots' names.
  struct TSlotBatch;
  std::unique_ptr<TSlotBatch> batch_;
  IFactEnvironment* owner_;  // not owned
  Ref<IFactTemplate> parent_;
  Ref<const TSlotLayout> layout_;
  std::vector<Ref<TFactSlot>> slots_;  // in layout_ order, then a batch's new ones
  std::string name_;
  std::string comment_;
  std::int32_t tag_ = 0;
  mutable std::int32_t hash_ = 0;
  mutable bool hash_stale_ = true;
  bool backward_chaining_ = false;
};

}  // namespace zephro

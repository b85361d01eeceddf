#pragma once

// TFactSlot: one slot of a fact template.
//
// A slot has a name, the set of value kinds it admits (SlotType), a default
// value, an optional defined type that decides validity instead of the kinds,
// and a flag that makes its default dynamic (evaluated anew for each fact, as
// `default-dynamic` asks). A slot is a multislot when dtMultiSlot is among its
// kinds and fuzzy when dtFuzzy is.
//
// Ownership: a slot is counted. The template that holds it keeps one
// reference; the slot points back to that template with a raw pointer, which
// the template clears when it lets the slot go or dies. A slot without a
// template is free-standing: it checks nothing against an engine.
//
// Type checks: when the owning template belongs to an engine whose
// TypeChecks() holds tcDynamic, a default that the slot does not admit is
// rejected, both when it is set and when the stored default is later changed
// in place.
//
// Thread safety: reference counts are atomic; nothing else is guarded.

#include <cstdint>
#include <string>
#include <string_view>

#include "zephro/values/interfaces.h"

namespace zephro {

class TFactTemplate;

// True when `name` may name a slot or a template; otherwise `*bad` (if given)
// receives the first character that may not appear: a blank, a quote, or one
// of # ( ) [ ] ? : $ & ; < >.
bool IsValidConstructName(std::string_view name, char* bad = nullptr) noexcept;

// Raises EIEException "%s contains unexpected character: "%c"" when `name`
// is not a valid slot or template name.
void CheckConstructName(std::string_view name);

class TFactSlot final : public IFactSlot {
 public:
  // A free-standing slot with no name, the single-field kinds (IESlotTypes)
  // and no default.
  TFactSlot();
  // A free-standing slot; `name` is checked as SetName checks it and
  // `default_value` stored as SetSlotDefault stores it.
  TFactSlot(std::string_view name, TIETypes types, Ref<IIEValue> default_value);

  const std::string& Name() const noexcept override { return name_; }
  // Renames the slot. A new name holding a forbidden character raises
  // "%s contains unexpected character: "%c""; a name another slot of the
  // template already has raises "Bad Slot Name: %s". Either way the slot keeps
  // its old name. The template re-sorts its slots under the new name.
  void SetName(std::string_view name) override;

  IIEValue* SlotDefault() const noexcept override { return default_.get(); }
  // Stores `value` as the default: a clone, unless it is one of the shared
  // constants, which are stored as they are. Under tcDynamic a value the slot
  // does not admit raises "Invalid default slot value: %s". Changing the stored
  // default in place later is checked the same way and raises
  // "Value "%s" is not valid, %s".
  void SetSlotDefault(Ref<IIEValue> value) override;

  TIETypes SlotType() const noexcept override { return slot_type_; }
  // Replaces the admitted kinds. dtFuzzy may only be combined with the
  // multislot kinds ("Cannot mix fuzzy type with other primitive types"). A
  // defined type is told the new kinds. When the default is absent or no
  // longer admitted, it is replaced by CreateValidDefault.
  void SetSlotType(TIETypes types) override;

  IIEDefinedType* ExtendedTypeInfo() const noexcept override { return type_info_.get(); }
  // Attaches a defined type (or detaches it with null). The slot then admits
  // the type's primitive kinds (plus the multislot kinds for "__Data").
  void SetExtendedTypeInfo(Ref<IIEDefinedType> type) override;

  bool DefaultDynamic() const noexcept override { return default_dynamic_; }
  void SetDefaultDynamic(bool dynamic) override { default_dynamic_ = dynamic; }
  std::int32_t Tag() const noexcept override { return tag_; }
  void SetTag(std::int32_t tag) override { tag_ = tag; }
  IFactTemplate* Template() const noexcept override;
  // The owning template's name, or "" for a free-standing slot.
  std::string TemplateName() const override;

  // Whether the slot admits `value`: null always; FCNil in a slot without
  // dtList and FCNilList in one with it; with a defined type, as the type
  // says; otherwise when the value's kind (and, for a multifield, each
  // element's kind) is among the slot's kinds or IEAlwaysValidTypes.
  bool IsValid(const IIEValue* value) const override;
  std::string GetInvalidValueString(const IIEValue& value) const override;
  // A default the slot admits: the defined type's, an empty multifield for a
  // multislot, else the empty value of the first admitted kind in the order
  // atom, string, integer, float, object, address, fuzzy (FCNil itself),
  // fact id, fact, descriptor, class; a dtNone value when none applies.
  Ref<IIEValue> CreateValidDefault(bool multislot) const override;

  // Same name (case-sensitive), kinds, defined type (identity) and defaults
  // (both absent, identical or Equals).
  bool Equals(const IFactSlot* other) const override;
  // A free-standing copy; the defined type is shared.
  Ref<IFactSlot> Clone() const override;
  // The slot in deftemplate syntax, printed by the owning engine when there
  // is one.
  std::string ToString() const override;

  // Takes `source`'s name, kinds, defined type, default, dynamic flag and tag.
  // The name is taken as it is (`source` checked it), but a template still
  // re-sorts its slots under it.
  void Assign(const IFactSlot& source);

 private:
  friend class TFactTemplate;

  ~TFactSlot() override;

  // The engine of the owning template, or null.
  IFactEnvironment* Environment() const noexcept;
  bool DynamicChecks() const noexcept;
  // Runs when the stored default changes in place.
  void ValueChanged();
  // Points the default's change notification at this slot, or away from it.
  void Watch(IIEValue* value);
  void Unwatch(IIEValue* value) noexcept;
  void StoreDefault(Ref<IIEValue> value);
  // Replaces an absent or inadmissible default by CreateValidDefault.
  void EnsureValidDefault();

  TFactTemplate* template_ = nullptr;  // not owned
  Ref<IIEValue> default_;
  Ref<IIEDefinedType> type_info_;
  std::string name_;
  TIETypes slot_type_ = IESlotTypes;
  std::int32_t tag_ = 0;
  bool default_dynamic_ = false;
};

}  // namespace zephro

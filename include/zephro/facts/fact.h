#pragma once

// TFact: one fact of working memory.
//
// A fact refers to its template, has an id (-1 until the engine asserts it)
// and one value per slot. Values are kept in a vector in the template's slot
// order (alphabetical), so ValueAt(i), the matcher's access, is an index and a
// pointer compare. A slot that has never been read or written has no value
// yet: the first read stores a clone of the slot's default.
//
// A template's slots may change while facts of it exist. The fact remembers
// the layout (TSlotLayout) its vector follows; when the template has published
// another one, the next access moves the values to their new positions by
// name, dropping those of removed slots.
//
// Two facts are Equals when they share one template object and their values
// are Equals slot by slot, fuzzy slots aside; the hash code (template hash and
// the slot texts) is what the fact base compares first.
//
// Ownership: facts are counted. A fact holds its template and its values; a
// value is stored as given (SetValue does not copy it).
//
// Thread safety: reference counts are atomic; nothing else is guarded. Reads
// may fill in defaults, so even reading a fact is not safe from two threads.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/facts/fact_template.h"
#include "zephro/values/interfaces.h"

namespace zephro {

class TFact final : public IFact {
 public:
  // A fact of `fact_template` (may be null) with no values yet. A template
  // that is not a TFactTemplate raises EIEException.
  explicit TFact(Ref<IFactTemplate> fact_template = nullptr);
  // A copy of `source` (template, values and id) under `fact_template`; the
  // values of slots both templates have are cloned.
  TFact(Ref<IFactTemplate> fact_template, const IFact& source);

  std::int32_t GetID() const noexcept override { return id_; }
  void SetID(std::int32_t id) override { id_ = id; }
  std::int32_t Tag() const noexcept override { return tag_; }
  void SetTag(std::int32_t tag) override { tag_ = tag; }
  IFactTemplate* Template() const noexcept override { return template_.get(); }
  // Moves to `fact_template`, keeping the values of the slots it shares (by
  // name) with the old template; null drops every value. A template that is
  // not a TFactTemplate raises EIEException.
  void SetTemplate(Ref<IFactTemplate> fact_template) override;

  IIEValue* GetValue(std::string_view name) const override;
  // Stores `value` itself in slot `name`; null puts the slot back to its
  // default. When the template's engine checks types dynamically and the
  // slot does not admit the value, an integer bound for a slot that admits
  // floats is turned into the same float (in place, unless it is a shared
  // constant) and an atom or string bound for a fuzzy slot is replaced by the
  // engine's parse of its text; anything else raises the slot's invalid-value
  // text and leaves the fact unchanged.
  void SetValue(std::string_view name, Ref<IIEValue> value) override;
  IIEValue* ValueAt(int index) const override;
  // As SetValue, for the slot at `index` in the template's order.
  void SetValueAt(int index, Ref<IIEValue> value) override;
  // Stores `value` at `index` with no check or conversion, for values known
  // to fit (copies of the slot's own default).
  // REQUIRES: 0 <= index < Template()->SlotCount().
  void StoreValueAt(int index, Ref<IIEValue> value);
  // The value at `index` of `layout`, read in place for the matcher's inner
  // loops: null unless the fact's values follow `layout`, `layout` is still
  // its template's, and the slot holds a value already (ValueAt decides then).
  IIEValue* PeekAt(const TSlotLayout* layout, int index) const noexcept {
    return layout_.get() == layout && template_ && &template_->Layout() == layout
               ? values_[static_cast<std::size_t>(index)].get()
               : nullptr;
  }
  // The layout the values follow now (null without a template).
  const TSlotLayout* StoredLayout() const noexcept { return layout_.get(); }
  bool ContainsKey(std::string_view name, Ref<IIEValue>* value) const override;

  std::string GetToIDString() const override;
  // The fact in its printed form, printed by the template's engine when there
  // is one.
  std::string ToString() const override;
  std::int32_t GetHashCode() const override;
  bool Equals(const IFact* other) const override;
  // Takes `source`'s template, id and clones of its values.
  void Assign(const IFact& source) override;
  // Takes clones of `source`'s values. Raises "Fact Template is missing" when
  // either fact has no template and "Unable to assign slot values, fact
  // templates are different: %s and %s" when they have different ones.
  void AssignValues(const IFact& source) override;
  Ref<IFact> Clone() const override;

 private:
  ~TFact() override;

  // The template as the class that publishes layouts.
  static Ref<TFactTemplate> AsFactTemplate(Ref<IFactTemplate> fact_template);
  const TFactTemplate& RequireTemplate() const;
  // The index of slot `name`; raises when there is no template or no such slot.
  int RequireSlot(std::string_view name) const;
  // Brings values_ to the template's current layout.
  void SyncLayout() const {
    if (layout_.get() != &template_->Layout()) [[unlikely]] {
      Remap(template_->Layout());
    }
  }
  void Remap(const TSlotLayout& to) const;
  IIEValue* Materialise(int index) const;
  // Copies clones of `source`'s values for every slot of this fact's template.
  void CopyValues(const IFact& source);

  Ref<TFactTemplate> template_;
  // The layout values_ follows (null without a template) and the values in
  // its order; an empty entry has not been read or written yet.
  mutable Ref<const TSlotLayout> layout_;
  mutable std::vector<Ref<IIEValue>> values_;
  std::int32_t id_ = -1;
  std::int32_t tag_ = 0;
};

}  // namespace zephro

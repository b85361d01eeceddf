#pragma once

// TFact: one fact of working memory.
//
// A fact refers to its template, has an id (-1 until the engine asserts it)
// and one value per slot. Values are kept in the template's slot order
// (alphabetical), so ValueAt(i), the matcher's access, is an index and a
// pointer compare; a fact made by Make keeps them in its own block, right
// behind it, which spares the matcher a dependent read per slot. A slot that
// has never been read or written has no value yet: the first read stores a
// clone of the slot's default.
//
// A template's slots may change while facts of it exist. The fact remembers
// the layout (TSlotLayout) its values follow; when the template has published
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
#include <typeinfo>
#include <vector>

#include "zephro/facts/fact_template.h"
#include "zephro/facts/slot_position.h"
#include "zephro/values/interfaces.h"

namespace zephro {

// The value places of a fact: first in places handed over at construction
// (the fact's own block), in an array of their own when more are needed.
class TFactValues {
 public:
  TFactValues() noexcept = default;
  // Starts with `capacity` places of raw memory at `places`, which must
  // outlive this object.
  TFactValues(void* places, std::uint32_t capacity) noexcept
      : data_(static_cast<Ref<IIEValue>*>(places)), inline_(data_), inline_count_(capacity) {}
  TFactValues(const TFactValues&) = delete;
  TFactValues& operator=(const TFactValues&) = delete;
  ~TFactValues();

  std::size_t size() const noexcept { return size_; }
  Ref<IIEValue>& operator[](std::size_t i) noexcept { return data_[i]; }
  const Ref<IIEValue>& operator[](std::size_t i) const noexcept { return data_[i]; }
  // Lets go of every value and leaves `n` empty places.
  void Reset(std::size_t n);
  // The values, moved out; leaves no place.
  std::vector<Ref<IIEValue>> TakeAll();

 private:
  void Destroy() noexcept;

  Ref<IIEValue>* data_ = nullptr;  // inline_, or an array of heap_count_ places
  Ref<IIEValue>* inline_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t inline_count_ = 0;
  std::uint32_t heap_count_ = 0;
};

class TFact final : public IFact {
 public:
  // A fact of `fact_template` (may be null) with no values yet. A template
  // that is not a TFactTemplate raises EIEException.
  explicit TFact(Ref<IFactTemplate> fact_template = nullptr);
  // A copy of `source` (template, values and id) under `fact_template`; the
  // values of slots both templates have are cloned.
  TFact(Ref<IFactTemplate> fact_template, const IFact& source);
  // As the constructors, but the values live in the fact's own block (the
  // way the engine makes its facts).
  static Ref<TFact> Make(Ref<IFactTemplate> fact_template);
  static Ref<TFact> Make(Ref<IFactTemplate> fact_template, const IFact& source);

  // The plain forms, which the placement form below (how Make puts the value
  // places behind a fact) would otherwise hide.
  static void* operator new(std::size_t size) { return ::operator new(size); }
  static void operator delete(void* block) noexcept { ::operator delete(block); }

  std::int32_t GetID() const noexcept override { return id_; }
  void SetID(std::int32_t id) override { id_ = id; }
  const IFactEnvironment* Holder() const noexcept override { return holder_; }
  void SetHolder(const IFactEnvironment* holder) noexcept override { holder_ = holder; }
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
  // As SetValue, checking the value whatever the engine's checks: for values
  // that come from outside the language (JSON documents, host programs),
  // which no parser has checked.
  void SetValueChecked(std::string_view name, Ref<IIEValue> value);
  // Stores `value` at `index` with no check or conversion, for values known
  // to fit (copies of the slot's own default).
  // REQUIRES: 0 <= index < Template()->SlotCount().
  void StoreValueAt(int index, Ref<IIEValue> value);
  // The value at `index` of `layout`, read in place for the matcher's inner
  // loops: null unless the fact's values follow `layout`, `layout` is still
  // its template's, and the slot holds a value already (ValueAt decides then).
  IIEValue* PeekAt(const TSlotLayout* layout, int index) const noexcept {
    return layout_.get() == layout && layout != nullptr && !layout->Superseded()
               ? values_[static_cast<std::size_t>(index)].get()
               : nullptr;
  }
  // The value of `slot`, read in place when `slot` already knows the
  // layout the values follow, that layout is still the template's, and the
  // slot holds a value; else null (ValueAt decides then).
  IIEValue* PeekSlot(const TSlotPosition& slot) const noexcept {
    const TSlotLayout* layout = layout_.get();
    if (layout == nullptr || layout->Superseded()) {
      return nullptr;
    }
    const int index = slot.CachedIndex(layout->Serial());
    return index >= 0 ? values_[static_cast<std::size_t>(index)].get() : nullptr;
  }
  // The layout the values follow now (null without a template).
  const TSlotLayout* StoredLayout() const noexcept { return layout_.get(); }

  // The matcher's holds on the fact. Its tokens are made and released only
  // under their engine's lock, and by the million: however many hold the
  // fact, they take one reference of its own (whose count is atomic) and
  // count themselves here, without atomic operations. A fact takes part in
  // the matching of one engine at a time.
  void HoldForMatching() const noexcept {
    if (matching_holds_++ == 0) {
      AddRef();
    }
  }
  void DropForMatching() const noexcept {
    if (--matching_holds_ == 0) {
      Release();
    }
  }
  // `fact` as a TFact when it is one (the class is final and marks its
  // objects: the test is exact), else null.
  static const TFact* Exactly(const IFact& fact) noexcept {
    return fact.EngineOwn() ? static_cast<const TFact*>(&fact) : nullptr;
  }
  static TFact* Exactly(IFact& fact) noexcept {
    return fact.EngineOwn() ? static_cast<TFact*>(&fact) : nullptr;
  }
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

  // Whether facts of this template may hold value objects that others hold
  // too: true unless the template's engine checks types dynamically, as
  // storing a value then may convert it in place.
  bool SharesValues() const noexcept;
  // As Clone, but when SharesValues the copy holds this fact's value objects
  // themselves rather than clones (reading each slot as Clone does): for a
  // scratch copy whose slots are given new values, not changed.
  Ref<TFact> CopyForChange() const;
  // As AssignValues, but when SharesValues takes `source`'s value objects
  // themselves, leaving `source`'s slots unset.
  void TakeValues(TFact& source);

 private:
  ~TFact() override;

  struct TPlaces {
    std::uint32_t count;
  };
  static void* operator new(std::size_t size, TPlaces places) {
    return ::operator new(size + places.count * sizeof(Ref<IIEValue>));
  }
  static void operator delete(void* block, TPlaces) noexcept { ::operator delete(block); }
  TFact(TPlaces places, Ref<TFactTemplate> fact_template);

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
  mutable TFactValues values_;
  const IFactEnvironment* holder_ = nullptr;  // not owned
  std::int32_t id_ = -1;
  std::int32_t tag_ = 0;
  mutable std::int32_t matching_holds_ = 0;  // see HoldForMatching
};

}  // namespace zephro

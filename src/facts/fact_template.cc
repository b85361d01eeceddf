// TFactTemplate: slots kept sorted by name, published as immutable layouts.
//
// slots_ is always sorted with TSlotLayout::Less, which orders names
// alphabetically regardless of case and breaks ties by bytes, so distinct
// names never compare equal. Every change to the set of names or to a name
// ends in SlotsChanged(), which publishes a fresh TSlotLayout; facts compare
// the layout pointer they followed with the current one and remap lazily.

#include "zephro/facts/fact_template.h"

#include <algorithm>
#include <atomic>
#include <string_view>
#include <unordered_map>

#include "zephro/facts/fact.h"
#include "zephro/facts/fact_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/text.h"

#include "platform/ascii.h"

namespace zephro {

// --- TSlotLayout -------------------------------------------------------------------

TSlotLayout::TSlotLayout(std::vector<std::string> names) noexcept : names_(std::move(names)) {
  static std::atomic<std::uint64_t> next_serial{1};
  serial_ = next_serial.fetch_add(1, std::memory_order_relaxed);
}

bool TSlotLayout::Less(std::string_view a, std::string_view b) noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    // ASCII folding, as names are compared everywhere else (no locale
    // lookup per character: slots are looked up by name on every modify).
    const auto ca = static_cast<unsigned char>(AsciiLower(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiLower(b[i]));
    if (ca != cb) {
      return ca < cb;
    }
  }
  if (a.size() != b.size()) {
    return a.size() < b.size();
  }
  return a < b;
}

int TSlotLayout::IndexOf(std::string_view name) const noexcept {
  if (names_.size() <= 8) {
    // Few slots: the exact name, by a walk (the names are distinct).
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (names_[i] == name) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  auto it = std::lower_bound(names_.begin(), names_.end(), name,
                             [](const std::string& s, std::string_view n) { return Less(s, n); });
  if (it == names_.end() || *it != name) {
    return -1;
  }
  return static_cast<int>(it - names_.begin());
}

// --- slot batches ------------------------------------------------------------------

struct TFactTemplate::TSlotBatch {
  std::unordered_map<std::string_view, TFactSlot*> slots;
};

void TFactTemplate::BeginSlotBatch() {
  if (batch_) {
    return;
  }
  auto batch = std::make_unique<TSlotBatch>();
  batch->slots.reserve(slots_.size());
  for (const Ref<TFactSlot>& slot : slots_) {
    batch->slots.emplace(slot->Name(), slot.get());
  }
  batch_ = std::move(batch);
}

void TFactTemplate::EndSlotBatch() {
  if (!batch_) {
    return;
  }
  // The names are distinct: no two compare equal, and the order is total.
  std::sort(slots_.begin(), slots_.end(), [](const Ref<TFactSlot>& a, const Ref<TFactSlot>& b) {
    return TSlotLayout::Less(a->Name(), b->Name());
  });
  batch_.reset();
  SlotsChanged();
}

// --- construction ------------------------------------------------------------------

TFactTemplate::TFactTemplate(IFactEnvironment* owner)
    : owner_(owner), layout_(MakeRef<TSlotLayout>(std::vector<std::string>())) {}

TFactTemplate::TFactTemplate(IFactEnvironment* owner, std::string_view name,
                             std::string_view comment, IFactTemplate* parent)
    : TFactTemplate(owner) {
  if (parent != nullptr) {
    Assign(*parent);
  }
  SetTemplateName(name);
  comment_ = comment;
  parent_ = (parent != nullptr && parent->Owner() == owner) ? parent : nullptr;
}

TFactTemplate::~TFactTemplate() {
  for (const Ref<TFactSlot>& slot : slots_) {
    Detach(*slot);
  }
}

void TFactTemplate::SetTemplateName(std::string_view name) {
  if (name == name_) {
    return;
  }
  CheckConstructName(name);
  name_ = name;
  hash_stale_ = true;
}

void TFactTemplate::SetParent(IFactTemplate* parent) {
  for (const IFactTemplate* p = parent; p != nullptr; p = p->Parent()) {
    if (p == this) {
      RaiseIEPlain(SFactTemplateInheritanceCorrupt);
    }
  }
  parent_ = parent;
}

// --- slots -------------------------------------------------------------------------

bool TFactTemplate::IsOrdered() const noexcept {
  return slots_.size() == 1 && slots_.front()->Name() == SDefaultSlotName;
}

bool TFactTemplate::IsFuzzy() const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const Ref<TFactSlot>& slot) { return slot->IsFuzzy(); });
}

IFactSlot* TFactTemplate::SlotAt(int index) const {
  if (index < 0 || index >= SlotCount()) {
    RaiseIE(SBadArgument, ("slot index out of bounds (" + std::to_string(index) + ")").c_str());
  }
  return slots_[static_cast<std::size_t>(index)].get();
}

TFactSlot* TFactTemplate::FindOwnSlot(std::string_view name) const noexcept {
  if (batch_) {
    auto it = batch_->slots.find(name);
    return it == batch_->slots.end() ? nullptr : it->second;
  }
  int i = SlotIndex(name);
  return i < 0 ? nullptr : slots_[static_cast<std::size_t>(i)].get();
}

IFactSlot* TFactTemplate::GetSlot(std::string_view name) const {
  TFactSlot* slot = FindOwnSlot(name);
  if (slot == nullptr) {
    RaiseIE(SInvalidSlotName, std::string(name).c_str());
  }
  return slot;
}

IFactSlot* TFactTemplate::ContainsType(const IIEDefinedType* type) const {
  for (const Ref<TFactSlot>& slot : slots_) {
    if (slot->ExtendedTypeInfo() == type) {
      return slot.get();
    }
  }
  return nullptr;
}

void TFactTemplate::SlotsChanged() {
  std::vector<std::string> names;
  names.reserve(slots_.size());
  for (const Ref<TFactSlot>& slot : slots_) {
    names.push_back(slot->Name());
  }
  layout_->Supersede();
  layout_ = MakeRef<TSlotLayout>(std::move(names));
  hash_stale_ = true;
}

void TFactTemplate::Detach(TFactSlot& slot) noexcept {
  slot.template_ = nullptr;
}

void TFactTemplate::PutSlot(Ref<TFactSlot> slot) {
  auto pos = std::lower_bound(
      slots_.begin(), slots_.end(), slot->Name(),
      [](const Ref<TFactSlot>& s, std::string_view n) { return TSlotLayout::Less(s->Name(), n); });
  if (pos != slots_.end() && (*pos)->Name() == slot->Name()) {
    if (*pos != slot) {
      Detach(**pos);
      *pos = std::move(slot);
    }
    return;
  }
  slots_.insert(pos, std::move(slot));
}

void TFactTemplate::NewSlotName(const TFactSlot& slot, std::string_view new_name) {
  EndSlotBatch();
  if (FindOwnSlot(new_name) != nullptr) {
    RaiseIE(SBadSlotName, std::string(new_name).c_str());
  }
  auto it = std::find_if(slots_.begin(), slots_.end(),
                         [&](const Ref<TFactSlot>& s) { return s.get() == &slot; });
  if (it == slots_.end()) {
    return;
  }
  Ref<TFactSlot> moving = std::move(*it);
  slots_.erase(it);
  moving->name_ = new_name;
  PutSlot(std::move(moving));
  SlotsChanged();
}

Ref<TFactSlot> TFactTemplate::Adopt(Ref<IFactSlot> slot) {
  auto* own = dynamic_cast<TFactSlot*>(slot.get());
  if (own != nullptr && (own->template_ == nullptr || own->template_ == this)) {
    own->template_ = this;
    return Ref<TFactSlot>(own);
  }
  Ref<TFactSlot> copy = MakeRef<TFactSlot>();
  copy->Assign(*slot);
  copy->template_ = this;
  return copy;
}

IFactSlot* TFactTemplate::AddSlot(std::string_view name, Ref<IIEValue> default_value) {
  if (!default_value) {
    RaiseIEPlain(SBadSlotType);
  }
  if (default_value->DType() == TIEType::dtList) {
    RaiseIE(SInvalidSlotDefault, default_value->ToString().c_str());
  }
  if (TFactSlot* existing = FindOwnSlot(name)) {
    if (existing->IsMultiSlot()) {
      RaiseIEPlain(SInvalidExistingMultiSlotChange);
    }
    existing->SetSlotDefault(std::move(default_value));
    return existing;
  }
  return NewSlot(name, IESlotTypes, std::move(default_value));
}

IFactSlot* TFactTemplate::AddMultiSlot(std::string_view name, Ref<IIEValue> default_value) {
  const std::string_view trimmed = TrimBlanks(name);
  if (!default_value) {
    RaiseIEPlain(SBadSlotType);
  }
  if (default_value->DType() != TIEType::dtList) {
    RaiseIE(SInvalidDefaultMultislotValue, default_value->ToString().c_str());
  }
  if (trimmed.empty()) {
    RaiseIE(SBadSlotName, std::string(name).c_str());
  }
  if (TFactSlot* existing = FindOwnSlot(trimmed)) {
    if (!existing->IsMultiSlot()) {
      RaiseIEPlain(SInvalidExistingSlotChange);
    }
    existing->SetSlotDefault(std::move(default_value));
    return existing;
  }
  return NewSlot(trimmed, IESlotTypes | IEMultiSlotTypes, std::move(default_value));
}

TFactSlot* TFactTemplate::NewSlot(std::string_view name, TIETypes types,
                                  Ref<IIEValue> default_value) {
  CheckConstructName(name);
  Ref<TFactSlot> slot = MakeRef<TFactSlot>();
  slot->template_ = this;  // so that the default is checked against the owner
  slot->slot_type_ = types;
  slot->SetSlotDefault(std::move(default_value));
  slot->name_ = name;
  TFactSlot* added = slot.get();
  if (batch_) {
    if (slots_.size() == slots_.capacity()) {
      slots_.reserve(std::max<std::size_t>(8, slots_.size() * 2));
    }
    batch_->slots.emplace(added->Name(), added);
    slots_.push_back(std::move(slot));  // within the capacity: cannot fail
    return added;
  }
  PutSlot(std::move(slot));
  SlotsChanged();
  return added;
}

void TFactTemplate::AddSlot(Ref<IFactSlot> slot) {
  EndSlotBatch();
  if (!slot) {
    RaiseIEPlain(SBadSlotType);
  }
  PutSlot(Adopt(std::move(slot)));
  SlotsChanged();
}

void TFactTemplate::SetSlot(std::string_view name, Ref<IFactSlot> slot) {
  if (!slot) {
    RaiseIEPlain(SBadSlotType);
  }
  if (slot->Name() != name) {
    RaiseIE(SNoIndexNameMatch, std::string(name).c_str(), slot->Name().c_str());
  }
  AddSlot(std::move(slot));
}

void TFactTemplate::RemoveSlot(std::string_view name) {
  EndSlotBatch();
  const int i = SlotIndex(name);
  if (i < 0) {
    RaiseIE(SInvalidSlotName, std::string(name).c_str());
  }
  Detach(*slots_[static_cast<std::size_t>(i)]);
  slots_.erase(slots_.begin() + i);
  SlotsChanged();
}

void TFactTemplate::ClearSlots() {
  EndSlotBatch();
  for (const Ref<TFactSlot>& slot : slots_) {
    Detach(*slot);
  }
  slots_.clear();
  SlotsChanged();
}

void TFactTemplate::AssignSlots(const IFactTemplate& source) {
  if (&source == this) {
    return;
  }
  EndSlotBatch();
  std::vector<Ref<TFactSlot>> copies;
  copies.reserve(static_cast<std::size_t>(source.SlotCount()));
  for (int i = 0; i < source.SlotCount(); ++i) {
    copies.push_back(Adopt(source.SlotAt(i)->Clone()));
  }
  for (const Ref<TFactSlot>& slot : slots_) {
    Detach(*slot);
  }
  slots_.clear();
  for (Ref<TFactSlot>& slot : copies) {
    PutSlot(std::move(slot));
  }
  SlotsChanged();
}

void TFactTemplate::Assign(const IFactTemplate& source) {
  if (&source == this) {
    return;
  }
  SetParent(source.Parent());
  AssignSlots(source);
  backward_chaining_ = source.IsBackwardChaining();
  comment_ = source.Comment();
  name_ = source.TemplateName();
  hash_stale_ = true;
}

// --- facts -------------------------------------------------------------------------

Ref<IFact> TFactTemplate::NewFact() {
  EndSlotBatch();
  Ref<IFact> fact = TFact::Make(Ref<IFactTemplate>(this));
  FillFactWithDefaults(*fact);
  return fact;
}

void TFactTemplate::FillFactWithDefaults(IFact& fact) {
  EndSlotBatch();
  const IFactTemplate* of = fact.Template();
  if (of == nullptr) {
    RaiseIEPlain(SNoTemplate);
  }
  if (of != this) {
    RaiseIE(SFactTemplatesDifferent, of->TemplateName().c_str(), name_.c_str());
  }
  // Static defaults were checked when they were set; only what a dynamic
  // default evaluates to goes through the fact's checks.
  auto* own = dynamic_cast<TFact*>(&fact);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const TFactSlot& slot = *slots_[i];
    IIEValue* default_value = slot.SlotDefault();
    if (default_value == nullptr) {
      continue;
    }
    const int index = static_cast<int>(i);
    Ref<IIEValue> value = default_value->Clone();
    if (slot.DefaultDynamic() && owner_ != nullptr) {
      fact.SetValueAt(index, value->Resolve(&owner_->RootContext()));
    } else if (own != nullptr) {
      own->StoreValueAt(index, std::move(value));
    } else {
      fact.SetValueAt(index, std::move(value));
    }
  }
}

// --- identity and text ----------------------------------------------------------------

bool TFactTemplate::Equals(const IFactTemplate* other) const {
  if (other == this) {
    return true;
  }
  if (other == nullptr || other->SlotCount() != SlotCount() || other->TemplateName() != name_) {
    return false;
  }
  for (const Ref<TFactSlot>& slot : slots_) {
    const IFactSlot* theirs = other->FindSlot(slot->Name());
    if (theirs == nullptr || !slot->Equals(theirs)) {
      return false;
    }
  }
  return true;
}

std::int32_t TFactTemplate::GetHashCode() const {
  if (hash_stale_) {
    std::string text = name_;
    for (const Ref<TFactSlot>& slot : slots_) {
      text += slot->Name();
      text += '\n';
    }
    hash_ = CalculateHash(text, 1);
    hash_stale_ = false;
  }
  return hash_;
}

std::string TFactTemplate::ToString() const {
  if (owner_ != nullptr) {
    return owner_->PrintTemplate(*this);
  }
  return PrettyPrintTemplate(*this);
}

Ref<IFactTemplate> TFactTemplate::Clone() const {
  Ref<TFactTemplate> copy = MakeRef<TFactTemplate>(owner_);
  copy->Assign(*this);
  copy->tag_ = tag_;
  return copy;
}

}  // namespace zephro

#include "zephro/functions/context.h"

#include <algorithm>
#include <typeinfo>

#include "platform/block_recycler.h"
#include "values/value_internal.h"
#include "zephro/platform/class_registry.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

// --- binding records ---------------------------------------------------------------

ZEPHRO_DEFINE_CLASS(TBindingInfo);

void TBindingInfo::Assign(const TPersistent& source) {
  if (const auto* info = dynamic_cast<const TBindingInfo*>(&source)) {
    fact_index_ = info->fact_index_;
    sub_index_ = info->sub_index_;
    position_ = info->position_;
    pattern_binding_ = info->pattern_binding_;
    local_binding_ = info->local_binding_;
    return;
  }
  TPersistent::Assign(source);
}

TBindingInfo::TBindingInfo(std::int32_t fact_index, std::string_view slot_index,
                           std::int32_t sub_index)
    : fact_index_(fact_index),
      sub_index_(sub_index),
      position_(slot_index),
      pattern_binding_(position_.Name() == SPatternBinding),
      local_binding_(position_.Name() == SLocalBinding) {}

bool TBindingInfo::Equals(const TBindingInfo& other) const {
  return fact_index_ == other.fact_index_ && SlotIndex() == other.SlotIndex() &&
         sub_index_ == other.sub_index_;
}

std::string TBindingInfo::ToString() const {
  std::string text = "FactIdx=" + std::to_string(fact_index_) + " SlotIdx=" + std::string(SlotIndex());
  if (sub_index_ != NoSubIndex) {
    text += " SubIdx=" + std::to_string(sub_index_);
  }
  return text;
}

void* TBinding::operator new(std::size_t size) {
  return TBlockRecycler<TBinding, sizeof(TBinding)>::Allocate(size);
}

void TBinding::operator delete(void* block, std::size_t size) noexcept {
  TBlockRecycler<TBinding, sizeof(TBinding)>::Free(block, size);
}

TBinding::TBinding(std::string_view name, std::int32_t fact_index, std::string_view slot_index,
                   std::int32_t sub_index)
    : TBindingInfo(fact_index, slot_index, sub_index), name_(TText::Shared(name)) {}

TBinding::TBinding(std::string_view name, Ref<IIEValue> value)
    : TBindingInfo(LocalBindingIndex, SLocalBinding, NoSubIndex),
      name_(TText::Shared(name)),
      value_(std::move(value)) {}

bool TBinding::Equals(const TBindingInfo& other) const {
  const auto* b = dynamic_cast<const TBinding*>(&other);
  if (b == nullptr || !TBindingInfo::Equals(other) || b->name_ != name_) {
    return false;
  }
  if (value_ == b->value_) {
    return true;
  }
  return value_ && value_->EqualsStar(b->value_.get());
}

std::string TBinding::ToString() const {
  std::string text = "name=" + name_.Str();
  if (value_) {
    text += " value=" + value_->ToString();
  }
  return text + " " + TBindingInfo::ToString();
}

// --- binding table ---------------------------------------------------------------------

namespace {

// Variable names are short and mostly differ in their first byte: compared
// in place, a byte at a time, rather than by a call on the library.
bool SameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) {
    return false;
  }
  if (a.data() == b.data()) {
    return true;  // one shared text
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

// IndexOf in an indexed (large) table; apart, so that the usual small table
// is searched without setting up for it.
[[gnu::noinline]] int IndexIn(const std::unordered_map<std::string_view, std::size_t>& index,
                              std::string_view name) noexcept {
  auto it = index.find(name);
  return it == index.end() ? -1 : static_cast<int>(it->second);
}

}  // namespace

int TBindings::IndexOf(std::string_view name) const noexcept {
  if ((name_bits_ & NameBit(name)) == 0) {
    return -1;
  }
  if (!index_.empty()) {
    return IndexIn(index_, name);
  }
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (SameName(items_[i]->Name(), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TBindings::Reindex() {
  index_.clear();
  if (items_.size() < kIndexThreshold) {
    return;
  }
  for (std::size_t i = 0; i < items_.size(); ++i) {
    index_.emplace(items_[i]->Name(), i);
  }
}

TBinding* TBindings::Get(std::string_view name) const noexcept {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<std::size_t>(i)].get();
}

TBinding* TBindings::Put(std::unique_ptr<TBinding> binding) {
  TBinding* stored = binding.get();
  int i = IndexOf(binding->Name());
  if (i >= 0) {
    items_[static_cast<std::size_t>(i)] = std::move(binding);
    if (!index_.empty()) {
      Reindex();  // the key views the new binding's name
    }
    return stored;
  }
  return Append(std::move(binding));
}

TBinding* TBindings::Append(std::unique_ptr<TBinding> binding) {
  TBinding* stored = binding.get();
  name_bits_ |= NameBit(stored->Name());
  items_.push_back(std::move(binding));
  if (!index_.empty()) {
    index_.emplace(stored->Name(), items_.size() - 1);
  } else if (items_.size() >= kIndexThreshold) {
    Reindex();
  }
  return stored;
}

std::unique_ptr<TBinding> TBindings::MakeLocal(std::string_view name, Ref<IIEValue> value) {
  if (next_spare_ == spare_.size()) {
    return std::make_unique<TBinding>(name, std::move(value));
  }
  std::unique_ptr<TBinding> record = std::move(spare_[next_spare_++]);
  if (!SameName(record->Name(), name)) {
    record->name_ = TText::Shared(name);
  }
  record->SetValue(std::move(value));
  return record;
}

TBinding& TBindings::PutLocal(std::string_view name, Ref<IIEValue> value) {
  const int i = IndexOf(name);
  if (i < 0) {
    if (next_spare_ < spare_.size() && index_.empty() && items_.size() + 1 < kIndexThreshold) {
      // As Append(MakeLocal(...)), in place: a firing context binding its
      // rule's variables again, each to the record it had last time.
      TBinding& record = *spare_[next_spare_];
      if (!SameName(record.Name(), name)) {
        record.name_ = TText::Shared(name);
      }
      record.SetValue(std::move(value));
      items_.push_back(std::move(spare_[next_spare_++]));
      name_bits_ |= NameBit(name);
      return record;
    }
    return *Append(MakeLocal(name, std::move(value)));
  }
  std::unique_ptr<TBinding>& entry = items_[static_cast<std::size_t>(i)];
  if (entry->IsLocalBinding()) {
    entry->SetValue(std::move(value));  // same name, same kind: reuse the record
    return *entry;
  }
  entry = MakeLocal(name, std::move(value));
  if (!index_.empty()) {
    Reindex();  // the key views the new record's name
  }
  return *entry;
}

bool TBindings::Remove(std::string_view name) {
  int i = IndexOf(name);
  if (i < 0) {
    return false;
  }
  items_.erase(items_.begin() + i);
  Reindex();
  return true;
}

void TBindings::Clear() noexcept {
  index_.clear();
  items_.clear();
  name_bits_ = 0;
}

void TBindings::Recycle() noexcept { Recycle(0); }

void TBindings::Recycle(std::size_t kept) noexcept {
  kept = std::min(kept, items_.size());
  for (std::size_t i = 0; i < kept; ++i) {
    if (!items_[i]->IsLocalBinding()) {
      kept = 0;
      break;
    }
  }
  // The records not taken since the last recycling move to the front, those
  // of this round's local bindings past the kept ones follow in binding
  // order: a context that binds the same names each time gets back each
  // name's own record.
  spare_.erase(spare_.begin(), spare_.begin() + static_cast<std::ptrdiff_t>(next_spare_));
  next_spare_ = 0;
  for (std::size_t i = kept; i < items_.size(); ++i) {
    std::unique_ptr<TBinding>& record = items_[i];
    if (record->IsLocalBinding()) {
      record->SetValue(nullptr);
      spare_.push_back(std::move(record));
    }
  }
  items_.resize(kept);
  name_bits_ = 0;
  for (std::unique_ptr<TBinding>& record : items_) {
    record->SetValue(nullptr);
    name_bits_ |= NameBit(record->Name());
  }
  if (!index_.empty() || kept >= kIndexThreshold) {
    Reindex();
  }
}

bool TBindings::RebindAt(std::size_t index, std::string_view name, Ref<IIEValue> value) noexcept {
  if (index >= items_.size()) {
    return false;
  }
  TBinding& record = *items_[index];
  if (!record.IsLocalBinding() || !SameName(record.Name(), name)) {
    return false;
  }
  record.SetValue(std::move(value));
  return true;
}

// --- contexts --------------------------------------------------------------------------

TIEContext::TIEContext(TInferenceEngine* engine, TIEContext* parent)
    : engine_(engine), parent_(parent), budget_(parent != nullptr ? parent->budget_ : nullptr) {}

TIEContext& TIEContext::Root() noexcept {
  TIEContext* c = this;
  while (c->parent_ != nullptr) {
    c = c->parent_;
  }
  return *c;
}

std::unique_ptr<TIEContext> TIEContext::Push() {
  return std::make_unique<TIEContext>(engine_, this);
}

TIEContext& TIEContext::Pop() {
  if (parent_ == nullptr) {
    return *this;
  }
  parent_->return_flag_ = return_flag_;
  parent_->return_value_ = return_value_;
  return *parent_;
}

TBinding* TIEContext::FindBinding(std::string_view name) const noexcept {
  for (const TIEContext* c = this; c != nullptr; c = c->parent_) {
    if (TBinding* b = c->bindings_.Get(name)) {
      return b;
    }
  }
  return nullptr;
}

TBinding* TIEContext::FindBinding(const TText& name, std::uint32_t& hint) const noexcept {
  // The levels are tried from this one up, as FindBinding does: a hint that
  // holds at a level is the binding a search there would find.
  for (const TIEContext* c = this; c != nullptr; c = c->parent_) {
    if (TBinding* b = c->bindings_.AtIfNamed(hint, name)) {
      return b;
    }
    const int i = c->bindings_.IndexOf(name.View());
    if (i >= 0) {
      hint = static_cast<std::uint32_t>(i);
      return &c->bindings_.At(i);
    }
  }
  return nullptr;
}

TBinding* TIEContext::FindGlobalBinding(std::string_view name) const noexcept {
  const TIEContext* c = this;
  while (c->parent_ != nullptr) {
    c = c->parent_;
  }
  return c->bindings_.Get(name);
}

IIEValue* TIEContext::GetVariable(std::string_view name) const {
  TBinding* b = FindBinding(name);
  if (b == nullptr) {
    RaiseIE(SUnknownVariable, std::string(name).c_str());
  }
  return b->Value();
}

void TIEContext::SetVariable(std::string_view name, Ref<IIEValue> value) {
  if (TBinding* b = bindings_.Get(name)) {
    b->SetValue(std::move(value));
    return;
  }
  // As AddBinding, without searching this table again.
  if (TBinding* b = parent_ != nullptr ? parent_->FindBinding(name) : nullptr) {
    b->SetValue(std::move(value));
    return;
  }
  bindings_.PutLocal(name, std::move(value));
}

void TIEContext::SetVariable(TIEValue& variable, Ref<IIEValue> value) {
  const std::uint32_t before = variable.PlaceHint();
  std::uint32_t hint = before;
  if (TBinding* b = FindBinding(variable.TextDatum(), hint)) {
    if (hint != before) {
      variable.KeepPlaceHint(hint);
    }
    b->SetValue(std::move(value));
    return;
  }
  bindings_.PutLocal(variable.Text(), std::move(value));
}

TBinding& TIEContext::AddBinding(std::string_view name, Ref<IIEValue> value) {
  if (TBinding* b = FindBinding(name)) {
    b->SetValue(std::move(value));
    return *b;
  }
  return bindings_.PutLocal(name, std::move(value));
}

TBinding& TIEContext::AddLocalBinding(std::string_view name, Ref<IIEValue> value) {
  return bindings_.PutLocal(name, std::move(value));
}

TBinding& TIEContext::AddGlobalBinding(std::string_view name, Ref<IIEValue> value) {
  if (TBinding* b = FindGlobalBinding(name)) {
    b->SetValue(std::move(value));
    return *b;
  }
  return *Root().bindings_.Put(std::make_unique<TBinding>(name, std::move(value)));
}

TBinding& TIEContext::AddBinding(std::string_view name, std::int32_t fact_index,
                                 std::string_view slot_index, std::int32_t sub_index) {
  return *bindings_.Put(std::make_unique<TBinding>(name, fact_index, slot_index, sub_index));
}

void TIEContext::Clear() noexcept {
  bindings_.Clear();
  return_flag_ = false;
}

void TIEContext::Recycle() noexcept { Recycle(0); }

void TIEContext::Recycle(std::size_t kept_bindings) noexcept {
  bindings_.Recycle(kept_bindings);
  return_value_ = nullptr;
  return_flag_ = false;
  halted_ = false;
  fact_ = nullptr;
  token_ = nullptr;
}

void TIEContext::SetReturnValue(Ref<IIEValue> value) noexcept {
  return_value_ = std::move(value);
  return_flag_ = true;
}

void TIEContext::Assign(const TIEContext& source) {
  return_flag_ = source.return_flag_;
  return_value_ = source.return_value_ ? source.return_value_->Clone() : nullptr;
}

IFact& TIEContext::Resolve(IFact& fact) {
  IFactTemplate* t = fact.Template();
  if (t == nullptr) {
    return fact;
  }
  const int n = t->SlotCount();
  // Storing a value again changes nothing unless the engine checks (and may
  // convert) what is stored.
  const bool store_same = t->Owner() != nullptr &&
                          t->Owner()->TypeChecks().Contains(TTypeCheck::tcDynamic);
  for (int i = 0; i < n; ++i) {
    IIEValue* held = fact.ValueAt(i);
    Ref<IIEValue> v = held->Resolve(this);
    if (v->DType() == TIEType::dtList && v->AsList() != nullptr) {
      v = MakeRef<TIEValue>(ExpandList(*v->AsList()));
    } else if (v.get() == held && !store_same) {
      continue;
    }
    fact.SetValueAt(i, std::move(v));
  }
  return fact;
}

namespace {

void AppendExpanded(TIEContext& context, const IValueVector& list, TValueVector& out) {
  for (const Ref<IIEValue>& element : list.Values()) {
    if (!element) {
      out.Add(nullptr);
      continue;
    }
    Ref<IIEValue> v = element->Resolve(&context);
    if (v->DType() == TIEType::dtList && v->AsList() != nullptr) {
      AppendExpanded(context, *v->AsList(), out);
    } else {
      out.Add(std::move(v));
    }
  }
}

void AppendFlattened(const IValueVector& list, TValueVector& out) {
  for (const Ref<IIEValue>& element : list.Values()) {
    if (element && element->DType() == TIEType::dtList && element->AsList() != nullptr) {
      AppendFlattened(*element->AsList(), out);
    } else {
      out.Add(element);
    }
  }
}

}  // namespace

Ref<IValueVector> TIEContext::ExpandList(const IValueVector& list) {
  Ref<TValueVector> out = MakeRef<TValueVector>();
  out->Reserve(list.ValueCount());
  AppendExpanded(*this, list, *out);
  return out;
}

Ref<IValueVector> TIEContext::FlattenList(const IValueVector& list) {
  Ref<TValueVector> out = MakeRef<TValueVector>();
  AppendFlattened(list, *out);
  return out;
}

// --- what values ask of contexts -----------------------------------------------------------

Ref<IIEValue> ResolveVariable(TIEContext& context, const TText& name, std::uint32_t& hint) {
  TBinding* b = context.FindBinding(name, hint);
  if (b == nullptr) {
    RaiseIE(SCorruptedVariable, name.Str().c_str());
  }
  return Ref<IIEValue>(b->Value());
}

std::string PatternBindingText(const TObject& record) {
  return static_cast<const TBindingInfo&>(record).ToString();
}

bool IsPatternBinding(const TObject* object) noexcept {
  // Asked for every object value the matcher resolves: the matcher's own
  // records are told by their exact type, others by class descriptions
  // rather than a cast.
  if (object == nullptr) {
    return false;
  }
  if (typeid(*object) == typeid(TBindingInfo)) {
    return true;
  }
  const TClassInfo& cls = object->ClassType();
  return &cls == &TBindingInfo::StaticClass() || cls.InheritsFrom(TBindingInfo::StaticClass());
}

IIEValue* PeekBoundSlot(const TIEContext& context, const TObject* object) {
  return IsPatternBinding(object) ? PeekPatternBindingSlot(context, *object) : nullptr;
}

Ref<IIEValue> ResolvePatternBinding(TIEContext& context, const TObject& record) {
  const auto& info = static_cast<const TBindingInfo&>(record);
  if (info.IsPatternBinding()) {
    IFact* fact = context.FactAt(info.FactIndex());
    if (fact == nullptr) {
      RaiseIE(SCorruptedVariable, info.ToString().c_str());
    }
    return MakeRef<TIEValue>(Ref<IFact>(fact));
  }
  return Ref<IIEValue>(PatternBindingSlot(context, record));
}

IIEValue* PeekPatternBindingSlot(const TIEContext& context, const TObject& record) {
  const auto& info = static_cast<const TBindingInfo&>(record);
  if (info.IsPatternBinding()) {
    return nullptr;
  }
  IFact* fact = context.FactAt(info.FactIndex());
  if (fact == nullptr) {
    return nullptr;
  }
  const int slot = info.SlotPosition().IndexIn(fact->Template());
  if (slot < 0) {
    return nullptr;
  }
  IIEValue* value = fact->ValueAt(slot);
  if (info.SubIndex() == NoSubIndex) {
    return value;
  }
  IValueVector* list = value->AsList();
  if (list == nullptr || info.SubIndex() < 0 || info.SubIndex() >= list->ValueCount()) {
    return nullptr;
  }
  return list->Get(info.SubIndex());
}

IIEValue* PatternBindingSlot(TIEContext& context, const TObject& record) {
  const auto& info = static_cast<const TBindingInfo&>(record);
  if (info.IsPatternBinding()) {
    return nullptr;
  }
  if (IIEValue* value = PeekPatternBindingSlot(context, record)) {
    return value;
  }
  // Missing somewhere: say where.
  IFact* fact = context.FactAt(info.FactIndex());
  if (fact != nullptr && info.SlotPosition().IndexIn(fact->Template()) < 0) {
    RaiseIE(SInvalidSlotName, std::string(info.SlotIndex()).c_str());
  }
  RaiseIE(SCorruptedVariable, info.ToString().c_str());
}

}  // namespace zephro

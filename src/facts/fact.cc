// TFact: slot values by index, materialised on first read, remapped by name
// when the template publishes a new layout.

#include "zephro/facts/fact.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

#include "zephro/facts/fact_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/text.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

bool DynamicChecks(const IFactEnvironment* env) {
  return env != nullptr && env->TypeChecks().Contains(TTypeCheck::tcDynamic);
}

// What dynamic type checking stores for `value`, which `slot` rejects: the
// same number as a float for an integer bound for a slot that admits floats,
// the engine's fuzzy value for an atom or string bound for a fuzzy slot.
// Anything else raises the slot's explanation.
Ref<IIEValue> ConvertForSlot(const IFactSlot& slot, IFactEnvironment& env, Ref<IIEValue> value) {
  const TIEType kind = value->DType();
  if (kind == TIEType::dtInteger && slot.SlotType().Contains(TIEType::dtFloat)) {
    Ref<IIEValue> as_float = TIEValue::Float(value->AsInteger());
    if (slot.IsValid(as_float.get())) {
      if (!MayChangeInPlace(value.get())) {
        return as_float;
      }
      value->SetAsFloat(as_float->AsFloat());
      return value;
    }
  } else if ((kind == TIEType::dtAtom || kind == TIEType::dtString) && slot.IsFuzzy()) {
    return env.ParseFuzzyValue(slot, value->AsString());
  }
  RaiseIEPlain(slot.GetInvalidValueString(*value));
}

int DecimalDigits(std::int32_t n) {
  std::int64_t v = std::llabs(static_cast<std::int64_t>(n));
  int digits = 1;
  while (v >= 10) {
    v /= 10;
    ++digits;
  }
  return digits;
}

}  // namespace

// --- value places ----------------------------------------------------------------------

TFactValues::~TFactValues() {
  Destroy();
  if (data_ != inline_) {
    ::operator delete(data_);
  }
}

void TFactValues::Destroy() noexcept {
  for (std::uint32_t i = size_; i > 0; --i) {
    data_[i - 1].~Ref();
  }
  size_ = 0;
}

void TFactValues::Reset(std::size_t n) {
  Destroy();
  if (n > inline_count_) {
    if (data_ == inline_ || n > heap_count_) {
      auto* places = static_cast<Ref<IIEValue>*>(::operator new(n * sizeof(Ref<IIEValue>)));
      if (data_ != inline_) {
        ::operator delete(data_);
      }
      data_ = places;
      heap_count_ = static_cast<std::uint32_t>(n);
    }
  } else if (data_ != inline_) {
    ::operator delete(data_);
    data_ = inline_;
    heap_count_ = 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    ::new (static_cast<void*>(data_ + i)) Ref<IIEValue>();
  }
  size_ = static_cast<std::uint32_t>(n);
}

std::vector<Ref<IIEValue>> TFactValues::TakeAll() {
  std::vector<Ref<IIEValue>> values;
  values.reserve(size_);
  for (std::uint32_t i = 0; i < size_; ++i) {
    values.push_back(std::move(data_[i]));
  }
  Destroy();
  return values;
}

// --- facts -----------------------------------------------------------------------------

Ref<TFactTemplate> TFact::AsFactTemplate(Ref<IFactTemplate> fact_template) {
  if (!fact_template) {
    return nullptr;
  }
  Ref<TFactTemplate> own = RefCast<TFactTemplate>(fact_template);
  if (!own) {
    RaiseIE(SInvalidAddObject, "IFactTemplate", "TFactTemplate");
  }
  return own;
}

TFact::TFact(Ref<IFactTemplate> fact_template)
    : IFact(TOwnMark<TFact>::Set()), template_(AsFactTemplate(std::move(fact_template))) {
  if (template_) {
    layout_ = &template_->Layout();
    values_.Reset(static_cast<std::size_t>(layout_->Count()));
  }
}

TFact::TFact(Ref<IFactTemplate> fact_template, const IFact& source)
    : TFact(std::move(fact_template)) {
  CopyValues(source);
  id_ = source.GetID();
}

TFact::TFact(TPlaces places, Ref<TFactTemplate> fact_template)
    : IFact(TOwnMark<TFact>::Set()), template_(std::move(fact_template)),
      values_(reinterpret_cast<std::byte*>(this) + sizeof(TFact), places.count) {
  if (template_) {
    layout_ = &template_->Layout();
    values_.Reset(static_cast<std::size_t>(layout_->Count()));
  }
}

Ref<TFact> TFact::Make(Ref<IFactTemplate> fact_template) {
  Ref<TFactTemplate> own = AsFactTemplate(std::move(fact_template));
  const TPlaces places{own ? static_cast<std::uint32_t>(own->Layout().Count()) : 0};
  return Ref<TFact>(new (places) TFact(places, std::move(own)));
}

Ref<TFact> TFact::Make(Ref<IFactTemplate> fact_template, const IFact& source) {
  Ref<TFact> fact = Make(std::move(fact_template));
  fact->CopyValues(source);
  fact->id_ = source.GetID();
  return fact;
}

TFact::~TFact() = default;

// --- slot access ---------------------------------------------------------------------

const TFactTemplate& TFact::RequireTemplate() const {
  if (!template_) {
    RaiseIEPlain(SNoTemplate);
  }
  return *template_;
}

int TFact::RequireSlot(std::string_view name) const {
  const int index = RequireTemplate().SlotIndex(name);
  if (index < 0) {
    RaiseIE(SInvalidSlotName, std::string(name).c_str());
  }
  return index;
}

void TFact::Remap(const TSlotLayout& to) const {
  std::vector<Ref<IIEValue>> old = values_.TakeAll();
  values_.Reset(static_cast<std::size_t>(to.Count()));
  std::span<const std::string> names = layout_->Names();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (old[i]) {
      const int j = to.IndexOf(names[i]);
      if (j >= 0) {
        values_[static_cast<std::size_t>(j)] = std::move(old[i]);
      }
    }
  }
  layout_ = &to;
}

IIEValue* TFact::Materialise(int index) const {
  const IIEValue* default_value = template_->SlotAt(index)->SlotDefault();
  Ref<IIEValue>& entry = values_[static_cast<std::size_t>(index)];
  entry = default_value != nullptr ? default_value->Clone() : MakeRef<TIEValue>();
  return entry.get();
}

IIEValue* TFact::ValueAt(int index) const {
  assert(template_ && index >= 0 && index < template_->SlotCount());
  SyncLayout();
  IIEValue* value = values_[static_cast<std::size_t>(index)].get();
  return value != nullptr ? value : Materialise(index);
}

IIEValue* TFact::GetValue(std::string_view name) const {
  return ValueAt(RequireSlot(name));
}

void TFact::SetValueAt(int index, Ref<IIEValue> value) {
  const TFactTemplate& tmpl = RequireTemplate();
  const IFactSlot& slot = *tmpl.SlotAt(index);
  SyncLayout();
  if (value && DynamicChecks(tmpl.Owner()) && !slot.IsValid(value.get())) {
    value = ConvertForSlot(slot, *tmpl.Owner(), std::move(value));
  }
  values_[static_cast<std::size_t>(index)] = std::move(value);
}

void TFact::SetValueChecked(std::string_view name, Ref<IIEValue> value) {
  const int index = RequireSlot(name);
  const TFactTemplate& tmpl = RequireTemplate();
  const IFactSlot& slot = *tmpl.SlotAt(index);
  SyncLayout();
  if (value && !slot.IsValid(value.get())) {
    if (tmpl.Owner() == nullptr) {
      RaiseIEPlain(slot.GetInvalidValueString(*value));
    }
    value = ConvertForSlot(slot, *tmpl.Owner(), std::move(value));
  }
  values_[static_cast<std::size_t>(index)] = std::move(value);
}

void TFact::StoreValueAt(int index, Ref<IIEValue> value) {
  assert(template_ && index >= 0 && index < template_->SlotCount());
  SyncLayout();
  values_[static_cast<std::size_t>(index)] = std::move(value);
}

void TFact::SetValue(std::string_view name, Ref<IIEValue> value) {
  SetValueAt(RequireSlot(name), std::move(value));
}

bool TFact::ContainsKey(std::string_view name, Ref<IIEValue>* value) const {
  const int index = RequireTemplate().SlotIndex(name);
  if (index < 0) {
    return false;
  }
  if (value != nullptr) {
    *value = ValueAt(index);
  }
  return true;
}

void TFact::SetTemplate(Ref<IFactTemplate> fact_template) {
  Ref<TFactTemplate> next = AsFactTemplate(std::move(fact_template));
  if (next == template_) {
    return;
  }
  if (!next) {
    template_ = nullptr;
    layout_ = nullptr;
    values_.Reset(0);
    return;
  }
  if (template_) {
    SyncLayout();
    template_ = std::move(next);
    Remap(template_->Layout());
    return;
  }
  template_ = std::move(next);
  layout_ = &template_->Layout();
  values_.Reset(static_cast<std::size_t>(layout_->Count()));
}

// --- copies ----------------------------------------------------------------------------

void TFact::CopyValues(const IFact& source) {
  if (!template_) {
    return;
  }
  SyncLayout();
  const IFactTemplate* theirs = source.Template();
  if (theirs == template_.get()) {
    // One template, one current layout: the positions agree (the source's
    // ValueAt brings it to that layout), so no name is looked up.
    for (std::size_t i = 0; i < values_.size(); ++i) {
      values_[i] = source.ValueAt(static_cast<int>(i))->Clone();
    }
    return;
  }
  std::span<const std::string> names = layout_->Names();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int j = theirs != nullptr ? theirs->SlotIndex(names[i]) : -1;
    values_[i] = j >= 0 ? source.ValueAt(j)->Clone() : nullptr;
  }
}

void TFact::Assign(const IFact& source) {
  if (&source == this) {
    return;
  }
  template_ = AsFactTemplate(source.Template());
  layout_ = template_ ? &template_->Layout() : nullptr;
  values_.Reset(template_ ? static_cast<std::size_t>(layout_->Count()) : 0);
  CopyValues(source);
  id_ = source.GetID();
}

void TFact::AssignValues(const IFact& source) {
  if (!template_ || source.Template() == nullptr) {
    RaiseIEPlain(SNoTemplate);
  }
  if (source.Template() != template_.get()) {
    RaiseIE(SFactTemplatesDifferent, source.Template()->TemplateName().c_str(),
            template_->TemplateName().c_str());
  }
  if (&source != this) {
    CopyValues(source);
  }
}

Ref<IFact> TFact::Clone() const {
  Ref<TFact> copy = Make(Ref<IFactTemplate>(template_), *this);
  copy->tag_ = tag_;
  return copy;
}

bool TFact::SharesValues() const noexcept {
  return !template_ || !DynamicChecks(template_->Owner());
}

Ref<TFact> TFact::CopyForChange() const {
  if (!SharesValues()) {
    Ref<TFact> copy = Make(Ref<IFactTemplate>(template_), *this);
    copy->tag_ = tag_;
    return copy;
  }
  Ref<TFact> copy = Make(Ref<IFactTemplate>(template_));
  if (template_) {
    SyncLayout();
    for (std::size_t i = 0; i < values_.size(); ++i) {
      copy->values_[i] = Ref<IIEValue>(ValueAt(static_cast<int>(i)));
    }
  }
  copy->id_ = id_;
  copy->tag_ = tag_;
  return copy;
}

void TFact::TakeValues(TFact& source) {
  if (!SharesValues() || !template_ || source.template_ != template_ || &source == this) {
    AssignValues(source);
    return;
  }
  // One template: both brought to its current layout, the positions agree.
  SyncLayout();
  source.SyncLayout();
  for (std::size_t i = 0; i < values_.size(); ++i) {
    Ref<IIEValue>& theirs = source.values_[i];
    values_[i] = theirs ? std::move(theirs) : Ref<IIEValue>(source.ValueAt(static_cast<int>(i)));
  }
}

// --- identity and text -------------------------------------------------------------------

bool TFact::Equals(const IFact* other) const {
  if (other == this) {
    return true;
  }
  if (other == nullptr || other->Template() != template_.get()) {
    return false;
  }
  const int count = template_ ? template_->SlotCount() : 0;
  for (int i = 0; i < count; ++i) {
    if (template_->SlotAt(i)->IsFuzzy()) {
      continue;
    }
    if (!ValueAt(i)->Equals(other->ValueAt(i))) {
      return false;
    }
  }
  return true;
}

std::int32_t TFact::GetHashCode() const {
  if (!template_) {
    return 0;
  }
  // The hash of the values' printed texts one after the other, walked value
  // by value; most values are walked without printing them.
  std::uint32_t text_hash = 0;
  for (int i = 0; i < template_->SlotCount(); ++i) {
    const IIEValue* value = ValueAt(i);
    const TIEValue* own = TIEValue::Exactly(*value);
    if (own == nullptr || !own->HashPrinted(text_hash)) {
      text_hash = ContinueHash(text_hash, value->ToString());
    }
  }
  const auto h = static_cast<std::uint32_t>(template_->GetHashCode()) * 31u + text_hash;
  return static_cast<std::int32_t>(h);
}

std::string TFact::ToString() const {
  if (template_ && template_->Owner() != nullptr) {
    return template_->Owner()->PrintFact(*this);
  }
  return PrettyPrintFact(*this);
}

std::string TFact::GetToIDString() const {
  std::string id;
  if (template_ && template_->Owner() != nullptr) {
    char buf[24];
    const int width = DecimalDigits(template_->Owner()->NextFactId());
    std::snprintf(buf, sizeof buf, "%.*d", width, id_);
    id = buf;
  } else {
    id = std::to_string(id_);
  }
  return "f-" + id + " " + ToString();
}

}  // namespace zephro

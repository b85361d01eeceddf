// TFactSlot: names, kinds, defaults and validity of one template slot.
//
// The stored default watches itself: its change notification runs
// ValueChanged, so a default changed in place is checked like a new one. The
// slot clears that notification whenever it lets a default go (including in
// its destructor), since someone else may still hold the value.

#include "zephro/facts/fact_slot.h"

#include <cctype>
#include <string_view>

#include "zephro/facts/fact_printer.h"
#include "zephro/facts/fact_template.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

constexpr std::string_view kForbiddenNameChars = " '\"#()[]?:$&;<>";

// Kinds that pass any slot's kind check in an explanation: their value is
// only known later.
constexpr TIETypes kLateBoundTypes{TIEType::dtVariable, TIEType::dtFunCall,
                                   TIEType::dtMultiVariable};

// "DTATOM, DTSTRING": the enumeration names of `types`, upper-cased.
std::string UpperTypeNames(TIETypes types) {
  std::string out;
  types.ForEach([&](TIEType t) {
    if (!out.empty()) {
      out += ", ";
    }
    for (char c : IETypeName(t)) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  });
  return out;
}

}  // namespace

bool IsValidConstructName(std::string_view name, char* bad) noexcept {
  std::size_t pos = name.find_first_of(kForbiddenNameChars);
  if (pos == std::string_view::npos) {
    return true;
  }
  if (bad != nullptr) {
    *bad = name[pos];
  }
  return false;
}

void CheckConstructName(std::string_view name) {
  char bad = 0;
  if (!IsValidConstructName(name, &bad)) {
    RaiseIE(SUnexpectedCharacters, std::string(name).c_str(), bad);
  }
}

TFactSlot::TFactSlot() = default;

TFactSlot::TFactSlot(std::string_view name, TIETypes types, Ref<IIEValue> default_value)
    : slot_type_(types) {
  CheckConstructName(name);
  name_ = name;
  StoreDefault(std::move(default_value));
}

TFactSlot::~TFactSlot() {
  Unwatch(default_.get());
}

IFactTemplate* TFactSlot::Template() const noexcept {
  return template_;
}

std::string TFactSlot::TemplateName() const {
  return template_ != nullptr ? template_->TemplateName() : std::string();
}

IFactEnvironment* TFactSlot::Environment() const noexcept {
  return template_ != nullptr ? template_->Owner() : nullptr;
}

bool TFactSlot::DynamicChecks() const noexcept {
  IFactEnvironment* env = Environment();
  return env != nullptr && env->TypeChecks().Contains(TTypeCheck::tcDynamic);
}

void TFactSlot::SetName(std::string_view name) {
  if (name == name_) {
    return;
  }
  CheckConstructName(name);
  if (template_ != nullptr) {
    template_->NewSlotName(*this, name);
  }
  name_ = name;
}

void TFactSlot::SetSlotDefault(Ref<IIEValue> value) {
  if (value && DynamicChecks() && !IsValid(value.get())) {
    RaiseIE(SInvalidSlotDefault, value->ToString().c_str());
  }
  StoreDefault(std::move(value));
}

void TFactSlot::StoreDefault(Ref<IIEValue> value) {
  if (value && !IsValueConstant(value.get())) {
    value = value->Clone();
  }
  Unwatch(default_.get());
  default_ = std::move(value);
  Watch(default_.get());
}

void TFactSlot::Watch(IIEValue* value) {
  if (value != nullptr && !IsValueConstant(value)) {
    value->SetOnChange([this](IIEValue&) { ValueChanged(); });
  }
}

void TFactSlot::Unwatch(IIEValue* value) noexcept {
  if (value != nullptr && !IsValueConstant(value)) {
    value->SetOnChange(nullptr);
  }
}

void TFactSlot::ValueChanged() {
  if (default_ && DynamicChecks() && !IsValid(default_.get())) {
    RaiseIE(SInvalidValue, default_->ToString().c_str(), name_.c_str());
  }
}

void TFactSlot::SetSlotType(TIETypes types) {
  if (types == slot_type_) {
    return;
  }
  if (types.Contains(TIEType::dtFuzzy) && !(types - IEMultiSlotTypes - TIEType::dtFuzzy).Empty()) {
    RaiseIEPlain(SCannotMixFuzzy);
  }
  if (type_info_) {
    type_info_->SetPrimitiveTypes(types);
  }
  slot_type_ = types;
  EnsureValidDefault();
}

void TFactSlot::EnsureValidDefault() {
  if (!default_ || !IsValid(default_.get())) {
    StoreDefault(CreateValidDefault(slot_type_.Contains(TIEType::dtMultiSlot)));
  }
}

void TFactSlot::SetExtendedTypeInfo(Ref<IIEDefinedType> type) {
  if (type == type_info_) {
    return;
  }
  type_info_ = std::move(type);
  if (type_info_) {
    TIETypes types = type_info_->PrimitiveTypes();
    if (name_ == SDefaultSlotName) {
      types = types | IEMultiSlotTypes;
    }
    SetSlotType(types);
  }
  EnsureValidDefault();
}

bool TFactSlot::IsValid(const IIEValue* value) const {
  if (value == nullptr) {
    return true;
  }
  const bool list_slot = slot_type_.Contains(TIEType::dtList);
  if ((value == &FCNil() && !list_slot) || (value == &FCNilList() && list_slot)) {
    return true;
  }
  if (type_info_) {
    return type_info_->IsValid(value);
  }
  const TIETypes allowed = slot_type_ | IEAlwaysValidTypes;
  if (!allowed.Contains(value->DType())) {
    return false;
  }
  if (value->DType() == TIEType::dtList && value->AsList() != nullptr) {
    for (const Ref<IIEValue>& element : value->AsList()->Values()) {
      if (element && !allowed.Contains(element->DType())) {
        return false;
      }
    }
  }
  return true;
}

std::string TFactSlot::GetInvalidValueString(const IIEValue& value) const {
  std::string explanation;
  if (type_info_) {
    explanation = type_info_->GetInvalidValueString(value);
  } else {
    const TIETypes allowed = slot_type_ | kLateBoundTypes;
    const std::string kinds = UpperTypeNames(slot_type_);
    if (!allowed.Contains(value.DType())) {
      explanation = FormatMessage(SNotCorrectType, kinds.c_str(), value.ToString().c_str(),
                                  std::string(IETypeName(value.DType())).c_str());
    } else if (value.DType() == TIEType::dtList && value.AsList() != nullptr) {
      for (const Ref<IIEValue>& element : value.AsList()->Values()) {
        if (element && !allowed.Contains(element->DType())) {
          const std::string offender =
              std::string(IETypeName(element->DType())) + " (" + element->ToString() + ")";
          explanation = FormatMessage(SNotCorrectType, kinds.c_str(), value.ToString().c_str(),
                                      offender.c_str());
          break;
        }
      }
    }
  }
  return FormatMessage(SInvalidSlotValue, explanation.c_str(), name_.c_str());
}

Ref<IIEValue> TFactSlot::CreateValidDefault(bool multislot) const {
  using enum TIEType;
  if (type_info_) {
    return type_info_->CreateValidDefault(multislot);
  }
  if (multislot) {
    return FCNilList().Clone();
  }
  const TIETypes t = slot_type_;
  if (t.Contains(dtAtom)) {
    return TIEValue::Atom("");
  }
  if (t.Contains(dtString)) {
    return TIEValue::String("");
  }
  if (t.Contains(dtInteger)) {
    return TIEValue::Integer(0);
  }
  if (t.Contains(dtFloat)) {
    return TIEValue::Float(0.0);
  }
  if (t.Contains(dtObject)) {
    return MakeRef<TIEValue>(static_cast<TObject*>(nullptr), false);
  }
  if (t.Contains(dtExternalAddress)) {
    Ref<IIEValue> v = MakeRef<TIEValue>();
    v->SetAsExternalAddress(nullptr);
    return v;
  }
  if (t.Contains(dtFuzzy)) {
    return Ref<IIEValue>(&FCNil());
  }
  if (t.Contains(dtFactId)) {
    return MakeRef<TIEValue>(0, dtFactId);
  }
  if (t.Contains(dtFact)) {
    return MakeRef<TIEValue>(Ref<IFact>());
  }
  if (t.Contains(dtDescriptor)) {
    return MakeRef<TIEValue>(0, dtDescriptor);
  }
  if (t.Contains(dtClass)) {
    return MakeRef<TIEValue>(static_cast<const TClassInfo*>(nullptr));
  }
  return MakeRef<TIEValue>();
}

bool TFactSlot::Equals(const IFactSlot* other) const {
  if (other == this) {
    return true;
  }
  if (other == nullptr || other->Name() != name_ || other->SlotType() != slot_type_ ||
      other->ExtendedTypeInfo() != type_info_.get()) {
    return false;
  }
  const IIEValue* a = default_.get();
  const IIEValue* b = other->SlotDefault();
  if (a == nullptr || b == nullptr) {
    return a == b;
  }
  return a == b || a->Equals(b);
}

void TFactSlot::Assign(const IFactSlot& source) {
  if (&source == this) {
    return;
  }
  if (template_ != nullptr && source.Name() != name_) {
    template_->NewSlotName(*this, source.Name());
  }
  name_ = source.Name();
  slot_type_ = source.SlotType();
  type_info_ = source.ExtendedTypeInfo();
  StoreDefault(source.SlotDefault());
  default_dynamic_ = source.DefaultDynamic();
  tag_ = source.Tag();
}

Ref<IFactSlot> TFactSlot::Clone() const {
  Ref<TFactSlot> copy = MakeRef<TFactSlot>();
  copy->Assign(*this);
  return copy;
}

std::string TFactSlot::ToString() const {
  if (IFactEnvironment* env = Environment()) {
    return env->PrintSlot(*this);
  }
  return PrettyPrintSlot(*this);
}

}  // namespace zephro

// TIEDefinedType: fields, allowed-value lists, validity and defaults.

#include "zephro/types/defined_type.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

// --- allowed values ------------------------------------------------------------------------

template <typename T, typename Hash>
void TAllowedValues<T, Hash>::Delete(std::size_t index) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  Reindex();
}

template <typename T, typename Hash>
void TAllowedValues<T, Hash>::Clear() noexcept {
  items_.clear();
  index_.clear();
}

template <typename T, typename Hash>
void TAllowedValues<T, Hash>::Reindex() {
  index_.clear();
  if (items_.size() >= kHashedFrom) {
    index_.insert(items_.begin(), items_.end());
  }
}

template class TAllowedValues<std::string, THashText>;
template class TAllowedValues<std::int32_t>;
template class TAllowedValues<double, THashFloat>;

// --- the type ------------------------------------------------------------------------------

namespace {

constexpr std::size_t ListIndex(TValueConstraint kind) {
  return static_cast<std::size_t>(kind);
}

// The value as a list of allowed values holds it: its text or its number.
std::string_view KeyIn(const TAllowedValues<std::string, THashText>& /*list*/, const IIEValue& v) {
  return v.Text();
}
std::int32_t KeyIn(const TAllowedValues<std::int32_t>& /*list*/, const IIEValue& v) {
  return v.AsInteger();
}
double KeyIn(const TAllowedValues<double, THashFloat>& /*list*/, const IIEValue& v) {
  return v.AsFloat();
}

// The kinds a fuzzy type lets through besides fuzzy values: what a
// linguistic expression, a crisp number or a value known later looks like.
constexpr TIETypes kFuzzyTypeAccepts{
    TIEType::dtAtom,  TIEType::dtString,  TIEType::dtInteger,    TIEType::dtVariable,
    TIEType::dtFloat, TIEType::dtFunCall, TIEType::dtSingletons, TIEType::dtMultiVariable};

bool SameVariable(const TIEFuzzyVariable* a, const TIEFuzzyVariable* b) {
  return a == b || (a != nullptr && b != nullptr && a->ToString() == b->ToString());
}

}  // namespace

// Which type of the chain (this one, then its ancestors) supplies each check.
struct TIEDefinedType::TEffective {
  const TIEDefinedType* range = nullptr;
  const TIEDefinedType* cardinality = nullptr;
  const TIEDefinedType* lists[4] = {};
  TValueConstraints in_force;
};

bool TIEDefinedType::ListFor(TIEType kind, TValueConstraints in_force, TValueConstraint* list) {
  switch (kind) {
    case TIEType::dtAtom:
      *list = TValueConstraint::vcAtom;
      return true;
    case TIEType::dtString:
      *list = TValueConstraint::vcString;
      return true;
    case TIEType::dtInteger:
      // Checked against the floats when only they are listed.
      *list = !in_force.Contains(TValueConstraint::vcInteger) &&
                      in_force.Contains(TValueConstraint::vcFloat)
                  ? TValueConstraint::vcFloat
                  : TValueConstraint::vcInteger;
      return true;
    case TIEType::dtFloat:
      *list = TValueConstraint::vcFloat;
      return true;
    default:
      return false;
  }
}

template <class Self, class F>
decltype(auto) TIEDefinedType::WithList(Self& self, TValueConstraint kind, F&& visit) {
  switch (kind) {
    case TValueConstraint::vcAtom:
      return visit(self.atoms_);
    case TValueConstraint::vcString:
      return visit(self.strings_);
    case TValueConstraint::vcInteger:
      return visit(self.integers_);
    case TValueConstraint::vcFloat:
      break;
  }
  return visit(self.floats_);
}

TIEDefinedType::TIEDefinedType(IFactEnvironment* reasoner)
    : name_(SImplicitDefinedType), reasoner_(reasoner) {}

TIEDefinedType::TIEDefinedType(std::string_view name, IFactEnvironment* reasoner)
    : name_(name), reasoner_(reasoner), implicit_(name == SImplicitDefinedType) {}

void TIEDefinedType::Changed() {
  if (updating_ > 0) {
    changed_ = true;
  } else if (OnChange) {
    OnChange(*this);
  }
}

template <class T, class V>
void TIEDefinedType::Update(T& field, const V& value) {
  if (field != value) {
    field = value;
    Changed();
  }
}

void TIEDefinedType::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0 && changed_) {
    changed_ = false;
    if (OnChange) {
      OnChange(*this);
    }
  }
}

void TIEDefinedType::SetName(std::string_view name) {
  Update(name_, name);
  if (fuzzy_variable_ != nullptr) {
    fuzzy_variable_->SetName(name);
  }
}

TIEFuzzyVariable* TIEDefinedType::FuzzyVariable() const noexcept {
  if (!IsFuzzy()) {
    return nullptr;
  }
  for (const TIEDefinedType* t = this; t != nullptr;
       t = dynamic_cast<const TIEDefinedType*>(t->ancestor_.get())) {
    if (t->fuzzy_variable_ != nullptr) {
      return t->fuzzy_variable_.get();
    }
  }
  return nullptr;
}

TIEFuzzyVariable& TIEDefinedType::EditFuzzyVariable() {
  if (fuzzy_variable_ == nullptr) {
    fuzzy_variable_ = MakeRef<TIEFuzzyVariable>(name_);
  }
  return *fuzzy_variable_;
}

void TIEDefinedType::SetComment(std::string_view comment) {
  Update(comment_, comment);
}

void TIEDefinedType::SetUnits(std::string_view units) {
  Update(units_, units);
}

void TIEDefinedType::SetImplicit(bool implicit) {
  Update(implicit_, implicit);
}

void TIEDefinedType::SetBaseTypes(TIETypes types) {
  types = types & IESlotTypesWithFuzzy;
  if (types.Contains(TIEType::dtFuzzy) && !(types - TIEType::dtFuzzy).Empty()) {
    RaiseIEPlain(SCannotMixFuzzy);
  }
  Update(base_types_, types);
}

void TIEDefinedType::SetPrimitiveTypes(TIETypes types) {
  // A slot's own type follows the slot, multislot kinds included.
  if (name_ == SImplicitDefinedType) {
    Update(base_types_, types);
  }
}

void TIEDefinedType::SetAncestor(Ref<IIEDefinedType> parent) {
  for (const IIEDefinedType* t = parent.get(); t != nullptr; t = t->Ancestor()) {
    if (t == this) {
      RaiseIE(STypeInheritanceLoop, name_.c_str());
    }
  }
  ancestor_ = std::move(parent);
  if (ancestor_) {
    implicit_ = false;
  }
  Changed();
}

void TIEDefinedType::SetMinRange(double value) {
  Update(min_range_, value);
}

void TIEDefinedType::SetMaxRange(double value) {
  Update(max_range_, value);
}

void TIEDefinedType::SetRangeLimited(bool limited) {
  Update(range_limited_, limited);
}

void TIEDefinedType::SetMinCardinality(std::int32_t value) {
  Update(min_cardinality_, value);
}

void TIEDefinedType::SetMaxCardinality(std::int32_t value) {
  Update(max_cardinality_, value);
}

void TIEDefinedType::SetCardinalityLimited(bool limited) {
  Update(cardinality_limited_, limited);
}

// --- allowed values ------------------------------------------------------------------------

void TIEDefinedType::SetConstraints(TValueConstraints kinds) {
  Update(constraints_, kinds);
}

TValueConstraint TIEDefinedType::GetValueConstraint(const IIEValue& value) const {
  TValueConstraint kind;
  if (!ListFor(value.DType(), constraints_, &kind)) {
    const std::string kind_name(IETypeName(value.DType()).substr(2));
    RaiseIE(SInvalidConstraint, name_.c_str(), kind_name.c_str());
  }
  return kind;
}

void TIEDefinedType::AddConstraint(const IIEValue& value) {
  WithList(*this, GetValueConstraint(value), [&](auto& list) { list.Add(KeyIn(list, value)); });
  Changed();
}

bool TIEDefinedType::RemoveConstraint(const IIEValue& value) {
  const bool removed = WithList(*this, GetValueConstraint(value),
                                [&](auto& list) { return list.Remove(KeyIn(list, value)); });
  if (removed) {
    Changed();
  }
  return removed;
}

void TIEDefinedType::DeleteConstraint(int index, TValueConstraint kind) {
  static constexpr const char* kNames[] = {"Atom", "String", "Integer", "Float"};
  const std::size_t count = WithList(*this, kind, [](auto& list) { return list.Count(); });
  if (index < 0 || static_cast<std::size_t>(index) >= count) {
    RaiseIE(SNoSuchConstraint, name_.c_str(), kNames[ListIndex(kind)]);
  }
  WithList(*this, kind, [&](auto& list) { list.Delete(static_cast<std::size_t>(index)); });
  Changed();
}

void TIEDefinedType::ClearConstraint(TValueConstraint kind) {
  WithList(*this, kind, [](auto& list) { list.Clear(); });
  Changed();
}

void TIEDefinedType::ClearConstraints(TValueConstraints kinds) {
  BeginUpdate();
  kinds.ForEach([&](TValueConstraint kind) { ClearConstraint(kind); });
  EndUpdate();
}

void TIEDefinedType::ClearConstraints() {
  ClearConstraints({TValueConstraint::vcAtom, TValueConstraint::vcString,
                    TValueConstraint::vcInteger, TValueConstraint::vcFloat});
}

bool TIEDefinedType::IsConstraint(const IIEValue& value, TValueConstraint* kind) const {
  TValueConstraint list;
  if (!ListFor(value.DType(), constraints_, &list)) {
    return false;
  }
  if (kind != nullptr) {
    *kind = list;
  }
  return WithList(*this, list, [&](const auto& l) { return l.Contains(KeyIn(l, value)); });
}

// --- checking ------------------------------------------------------------------------------

TIEDefinedType::TEffective TIEDefinedType::Resolve() const {
  TEffective e;
  TValueConstraints open{TValueConstraint::vcAtom, TValueConstraint::vcString,
                         TValueConstraint::vcInteger, TValueConstraint::vcFloat};
  for (const TIEDefinedType* t = this; t != nullptr;
       t = dynamic_cast<const TIEDefinedType*>(t->ancestor_.get())) {
    if (e.range == nullptr && t->range_limited_) {
      e.range = t;
    }
    if (e.cardinality == nullptr && t->cardinality_limited_) {
      e.cardinality = t;
    }
    (t->constraints_ & open).ForEach([&](TValueConstraint kind) { e.lists[ListIndex(kind)] = t; });
    e.in_force = e.in_force | (t->constraints_ & open);
    open = open - t->constraints_;
    if (t->ancestor_ == nullptr) {
      break;
    }
  }
  return e;
}

bool TIEDefinedType::ValidSingle(const IIEValue& value, const TEffective& effective,
                                 std::string* reason) const {
  const TIEType kind = value.DType();
  if (base_types_.Contains(TIEType::dtFuzzy)) {
    // Fuzzy values of this type's variable, and whatever may still become one.
    if (kFuzzyTypeAccepts.Contains(kind)) {
      return true;
    }
    if (kind == TIEType::dtFuzzy) {
      const TIEFuzzySet* set = FuzzySetOf(value);
      const TIEFuzzyVariable* variable = FuzzyVariable();
      if (set == nullptr || variable == nullptr ||
          ((set->Variable() == nullptr || set->Variable() == variable) &&
           variable->Covers(*set))) {
        return true;
      }
    }
    if (reason != nullptr) {
      *reason = SInvalidFuzzyValue;
    }
    return false;
  }
  if (IEAlwaysValidTypes.Contains(kind)) {
    return true;
  }
  if (!base_types_.Contains(kind)) {
    if (reason != nullptr) {
      const std::string text = GetValueToString(value);
      *reason =
          FormatMessage(SNotCorrectType, KindNamesText(base_types_ - IEMultiSlotTypes).c_str(),
                        text.c_str(), std::string(IETypeName(kind)).c_str());
    }
    return false;
  }
  TValueConstraint list;
  if (ListFor(kind, effective.in_force, &list) && effective.in_force.Contains(list)) {
    const TIEDefinedType& owner = *effective.lists[ListIndex(list)];
    if (!WithList(owner, list, [&](const auto& l) { return l.Contains(KeyIn(l, value)); })) {
      if (reason != nullptr) {
        *reason = SNotAllowedValue;
      }
      return false;
    }
  }
  if (effective.range != nullptr && IENumericTypes.Contains(kind)) {
    const double x = value.AsNumeric();
    if (!(x >= effective.range->min_range_ && x <= effective.range->max_range_)) {
      if (reason != nullptr) {
        *reason = FormatMessage(SOutOfRangeError, effective.range->min_range_,
                                effective.range->max_range_);
      }
      return false;
    }
  }
  return true;
}

bool TIEDefinedType::Check(const IIEValue& value, std::string* reason) const {
  const TEffective effective = Resolve();
  if (value.DType() != TIEType::dtList) {
    return ValidSingle(value, effective, reason);
  }
  const IValueVector* list = value.AsList();
  const std::int32_t length = list != nullptr ? list->ValueCount() : 0;
  if (effective.cardinality != nullptr && (length < effective.cardinality->min_cardinality_ ||
                                           length > effective.cardinality->max_cardinality_)) {
    if (reason != nullptr) {
      *reason = FormatMessage(SListCardinalityError, effective.cardinality->min_cardinality_,
                              effective.cardinality->max_cardinality_);
    }
    return false;
  }
  if (list == nullptr) {
    return true;
  }
  for (const Ref<IIEValue>& element : list->Values()) {
    if (element == nullptr) {
      continue;
    }
    std::string element_reason;
    if (!ValidSingle(*element, effective, reason != nullptr ? &element_reason : nullptr)) {
      if (reason != nullptr) {
        // The element's own explanation stands for the list's.
        *reason = FormatMessage(SInvalidValue, GetValueToString(*element).c_str(),
                                element_reason.c_str());
      }
      return false;
    }
  }
  return true;
}

bool TIEDefinedType::IsValid(const IIEValue* value) const {
  return value == nullptr || Check(*value, nullptr);
}

std::string TIEDefinedType::GetInvalidValueString(const IIEValue& value) const {
  std::string reason;
  if (Check(value, &reason)) {
    return std::string();
  }
  if (value.DType() == TIEType::dtList && reason.starts_with("Value \"")) {
    return reason;  // an element's explanation, already whole
  }
  return FormatMessage(SInvalidValue, GetValueToString(value).c_str(), reason.c_str());
}

std::string TIEDefinedType::GetValueToString(const IIEValue& value) {
  std::string text = value.ToString();
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

Ref<IIEValue> TIEDefinedType::CreateValidDefault(bool multislot) const {
  using enum TIEType;
  const TEffective e = Resolve();
  if (multislot) {
    if (e.cardinality != nullptr && e.cardinality->min_cardinality_ > 0) {
      Ref<IValueVector> values = MakeRef<TValueVector>();
      for (std::int32_t i = 0; i < e.cardinality->min_cardinality_; ++i) {
        values->Add(CreateValidDefault(false));
      }
      return MakeRef<TIEValue>(std::move(values));
    }
    return FCNilList().Clone();
  }
  auto list = [&](TValueConstraint kind) -> const TIEDefinedType* {
    return e.in_force.Contains(kind) ? e.lists[ListIndex(kind)] : nullptr;
  };
  // A number within the range: 0 unless a bound was set, then that bound.
  auto bounded = [&]() -> double {
    if (e.range == nullptr) {
      return 0;
    }
    if (e.range->min_range_ != kInitialMinRange) {
      return e.range->min_range_;
    }
    if (e.range->max_range_ != kInitialMaxRange) {
      return e.range->max_range_;
    }
    return 0;
  };
  if (base_types_.Contains(dtAtom)) {
    const TIEDefinedType* owner = list(TValueConstraint::vcAtom);
    return TIEValue::Atom(owner != nullptr && owner->atoms_.Count() > 0
                              ? owner->atoms_.Items().front()
                              : std::string());
  }
  if (base_types_.Contains(dtString)) {
    const TIEDefinedType* owner = list(TValueConstraint::vcString);
    return TIEValue::String(owner != nullptr && owner->strings_.Count() > 0
                                ? owner->strings_.Items().front()
                                : std::string());
  }
  if (base_types_.Contains(dtInteger)) {
    const TIEDefinedType* owner = list(TValueConstraint::vcInteger);
    if (owner != nullptr && owner->integers_.Count() > 0) {
      return TIEValue::Integer(owner->integers_.Items().front());
    }
    // Bounds are doubles; an integer default is the bound truncated into range.
    const double n = std::clamp(std::trunc(bounded()), kInitialMinRange, kInitialMaxRange);
    return TIEValue::Integer(static_cast<std::int32_t>(n));
  }
  if (base_types_.Contains(dtFloat)) {
    const TIEDefinedType* owner = list(TValueConstraint::vcFloat);
    if (owner != nullptr && owner->floats_.Count() > 0) {
      return TIEValue::Float(owner->floats_.Items().front());
    }
    return TIEValue::Float(bounded());
  }
  if (base_types_.Contains(dtObject)) {
    return MakeRef<TIEValue>(static_cast<TObject*>(nullptr), false);
  }
  if (base_types_.Contains(dtExternalAddress)) {
    Ref<IIEValue> v = MakeRef<TIEValue>();
    v->SetAsExternalAddress(nullptr);
    return v;
  }
  if (base_types_.Contains(dtFuzzy)) {
    return Ref<IIEValue>(&FCNil());  // the fuzzy subsystem gives the empty set
  }
  if (base_types_.Contains(dtClass)) {
    return MakeRef<TIEValue>(static_cast<const TClassInfo*>(nullptr));
  }
  return Ref<IIEValue>(&FCNil());
}

// --- comparison and copies -----------------------------------------------------------------

bool TIEDefinedType::ConstraintsEqual(const TIEDefinedType& other) const {
  return constraints_ == other.constraints_ && atoms_ == other.atoms_ &&
         strings_ == other.strings_ && integers_ == other.integers_ && floats_ == other.floats_;
}

bool TIEDefinedType::Equals(const TIEDefinedType& other) const {
  if (&other == this) {
    return true;
  }
  const IIEDefinedType* a = ancestor_.get();
  const IIEDefinedType* b = other.ancestor_.get();
  const bool same_ancestor =
      a == b || (a != nullptr && b != nullptr && a->TypeName() == b->TypeName());
  return base_types_ == other.base_types_ && min_range_ == other.min_range_ &&
         max_range_ == other.max_range_ && min_cardinality_ == other.min_cardinality_ &&
         max_cardinality_ == other.max_cardinality_ && range_limited_ == other.range_limited_ &&
         cardinality_limited_ == other.cardinality_limited_ && same_ancestor &&
         ConstraintsEqual(other) && SameVariable(fuzzy_variable_.get(), other.fuzzy_variable_.get());
}

void TIEDefinedType::Assign(const TIEDefinedType& source) {
  if (&source == this) {
    return;
  }
  base_types_ = source.base_types_;
  name_ = source.name_;
  max_range_ = source.max_range_;
  min_range_ = source.min_range_;
  max_cardinality_ = source.max_cardinality_;
  min_cardinality_ = source.min_cardinality_;
  fuzzy_variable_ = source.fuzzy_variable_;
  constraints_ = source.constraints_;
  atoms_ = source.atoms_;
  strings_ = source.strings_;
  integers_ = source.integers_;
  floats_ = source.floats_;
  range_limited_ = source.range_limited_;
  cardinality_limited_ = source.cardinality_limited_;
  implicit_ = source.implicit_;
  ancestor_ = source.ancestor_;
  comment_ = source.comment_;
  units_ = source.units_;
  tag_ = source.tag_;
  Changed();
}

Ref<TIEDefinedType> TIEDefinedType::Clone() const {
  Ref<TIEDefinedType> copy = MakeRef<TIEDefinedType>(name_, reasoner_);
  copy->Assign(*this);
  return copy;
}

}  // namespace zephro

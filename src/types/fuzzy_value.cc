// Fuzzy variables and fuzzy values: terms, degrees of equality and text.

#include "zephro/types/fuzzy_value.h"

#include <algorithm>
#include <utility>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "values/value_internal.h"

namespace zephro {

// --- TIEFuzzyVariable ----------------------------------------------------------------------

void TIEFuzzyVariable::SetEqualsThreshold(float threshold) noexcept {
  equals_threshold_ = std::clamp(threshold, 0.0f, 1.0f);
}

Ref<TIEFuzzySet> TIEFuzzyVariable::Term(std::string_view name) {
  const TTerm* term = FindTermEntry(name);
  if (term == nullptr) {
    return nullptr;
  }
  Ref<TIEFuzzySet> set = NewSet(term->set);
  set->SetExpression(std::string(name));
  return set;
}

Ref<TIEFuzzySet> TIEFuzzyVariable::NewSet(TMembershipSet set) {
  return MakeRef<TIEFuzzySet>(std::move(set), Ref<TIEFuzzyVariable>(this));
}

bool TIEFuzzyVariable::Covers(const TMembershipSet& set) const noexcept {
  // A little slack for points computed from the universe's own ends.
  const double slack = 1e-9 * std::max(1.0, To() - From());
  return set.Empty() || (set.MinX() >= From() - slack && set.MaxX() <= To() + slack);
}

void TIEFuzzyVariable::CheckCovers(const TIEFuzzySet& set) const {
  if (!Covers(set)) {
    RaiseIE(SFuzzyValueOutsideUniverse, set.ToString().c_str(), Name().c_str(),
            FuzzyNumberText(From()).c_str(), FuzzyNumberText(To()).c_str());
  }
}

// --- TIEFuzzySet -----------------------------------------------------------------------------

TIEFuzzySet::TIEFuzzySet(TMembershipSet set, Ref<TIEFuzzyVariable> variable)
    : TMembershipSet(std::move(set)), variable_(std::move(variable)) {}

void TIEFuzzySet::SetPoints(TMembershipSet set) {
  static_cast<TMembershipSet&>(*this) = std::move(set);
  expression_.clear();
  undecidable_ = true;
}

namespace {

double PointNumber(TIEContext* context, const IIEValue& value) {
  Ref<IIEValue> number(const_cast<IIEValue*>(&value));
  if (!IENumericTypes.Contains(number->DType())) {
    number = number->Resolve(context);
  }
  if (!IENumericTypes.Contains(number->DType())) {
    RaiseIEPlain(SExpectedNumVarFun);
  }
  return number->AsFloat();
}

}  // namespace

Ref<IIEValue> ResolveSingletons(TIEContext* context, const ISingletonsVector& singletons) {
  TMembershipSet set;
  for (int i = 0; i < singletons.Count(); ++i) {
    const double x = PointNumber(context, *singletons.XValue(i));
    const double y = PointNumber(context, *singletons.YValue(i));
    if (!(y >= 0 && y <= 1)) {
      RaiseIEPlain(SInvalidFuzzyValue);
    }
    set.Add(x, y);
  }
  return MakeRef<TIEValue>(Ref<IMembershipSet>(MakeRef<TIEFuzzySet>(std::move(set))));
}

TIEFuzzySet* FuzzySetOf(const IIEValue& value) noexcept {
  if (value.DType() != TIEType::dtFuzzy) {
    return nullptr;
  }
  // Every fuzzy value the engine makes is a TIEFuzzySet; a host's own
  // IMembershipSet compares as a crisp value would.
  return dynamic_cast<TIEFuzzySet*>(value.AsFuzzy());
}

double TIEFuzzySet::FuzzyEquals(const IIEValue& other) const {
  degree_ = 0;
  switch (other.DType()) {
    case TIEType::dtFuzzy:
      if (const TIEFuzzySet* set = FuzzySetOf(other)) {
        degree_ = MaxOfMin(*set);
      }
      break;
    case TIEType::dtInteger:
    case TIEType::dtFloat:
      degree_ = DegreeOfMembership(other.AsFloat());
      break;
    default:
      break;
  }
  return degree_;
}

float TIEFuzzySet::Threshold() const noexcept {
  return variable_ != nullptr ? variable_->EqualsThreshold() : kDefaultFuzzyEqualsThreshold;
}

bool TIEFuzzySet::Equals(const IIEValue& other) const {
  return FuzzyEquals(other) > Threshold();
}

std::string TIEFuzzySet::ToString() const {
  return expression_.empty() ? TMembershipSet::ToString() : expression_;
}

Ref<IMembershipSet> TIEFuzzySet::Clone() const {
  return Ref<IMembershipSet>(Copy());
}

Ref<TIEFuzzySet> TIEFuzzySet::Copy() const {
  Ref<TIEFuzzySet> copy =
      MakeRef<TIEFuzzySet>(static_cast<const TMembershipSet&>(*this), variable_);
  copy->expression_ = expression_;
  copy->undecidable_ = undecidable_;
  return copy;
}

bool TIEFuzzySet::SameSet(const IMembershipSet& other) const {
  const auto* set = dynamic_cast<const TIEFuzzySet*>(&other);
  return set != nullptr && set->variable_ == variable_ &&
         static_cast<const TMembershipSet&>(*set) == static_cast<const TMembershipSet&>(*this);
}

}  // namespace zephro

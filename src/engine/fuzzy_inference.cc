// The engine's fuzzy side: its settings, what a fuzzy slot stores,
// correlation of a rule's fuzzy assertions with its strength, and inference
// when a fuzzy fact meets an existing one.

#include <algorithm>
#include <utility>

#include "zephro/engine/collections.h"
#include "zephro/engine/engine_parts.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/scope_exit.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

TFuzzyCombineKind CombineKindOf(TFuzzyInferenceKind method) {
  switch (method) {
    case TFuzzyInferenceKind::fiMinMax:
      return TFuzzyCombineKind::fcZadeh;
    case TFuzzyInferenceKind::fiSum:
      return TFuzzyCombineKind::fcSum;
    case TFuzzyInferenceKind::fiMean:
      return TFuzzyCombineKind::fcMean;
    case TFuzzyInferenceKind::fiProduct:
      return TFuzzyCombineKind::fcProduct;
    case TFuzzyInferenceKind::fiBoundedSum:
      return TFuzzyCombineKind::fcBoundedSum;
  }
  return TFuzzyCombineKind::fcZadeh;
}

// Calls `change(index)` for each fuzzy slot of `fact`'s template; raises
// SNotFuzzyFact when there is none.
template <class F>
void ForEachFuzzySlot(const IFact& fact, F change) {
  const IFactTemplate* t = fact.Template();
  if (t == nullptr || !t->IsFuzzy()) {
    RaiseIEPlain(SNotFuzzyFact);
  }
  for (int i = 0; i < t->SlotCount(); ++i) {
    if (t->SlotAt(i)->IsFuzzy()) {
      change(i);
    }
  }
}

// `value` with every fuzzy set in it (itself or a list's items) replaced by
// `make(set)`; other values are kept.
template <class F>
Ref<IIEValue> MapSets(const Ref<IIEValue>& value, F make) {
  if (const TIEFuzzySet* set = FuzzySetOf(*value)) {
    return MakeRef<TIEValue>(Ref<IMembershipSet>(make(*set)));
  }
  if (value->DType() == TIEType::dtList) {
    Ref<TValueVector> list = MakeRef<TValueVector>();
    for (const Ref<IIEValue>& item : value->AsList()->Values()) {
      list->Add(MapSets(item, make));
    }
    return MakeRef<TIEValue>(Ref<IValueVector>(list));
  }
  return value;
}

// `value` combined with `other` item by item by `combine`, or null when the
// two do not pair up (different kinds, lists of different lengths).
template <class F>
Ref<IIEValue> Combined(const IIEValue& value, const IIEValue& other, F combine) {
  const TIEFuzzySet* a = FuzzySetOf(value);
  const TIEFuzzySet* b = FuzzySetOf(other);
  if (a != nullptr && b != nullptr) {
    Ref<TIEFuzzySet> result = MakeRef<TIEFuzzySet>(combine(*a, *b), a->VariableRef());
    return MakeRef<TIEValue>(Ref<IMembershipSet>(result));
  }
  if (value.DType() != TIEType::dtList || other.DType() != TIEType::dtList ||
      value.AsList()->ValueCount() != other.AsList()->ValueCount()) {
    return nullptr;
  }
  const auto left = value.AsList()->Values();
  const auto right = other.AsList()->Values();
  Ref<TValueVector> list = MakeRef<TValueVector>();
  for (std::size_t i = 0; i < left.size(); ++i) {
    Ref<IIEValue> item = Combined(*left[i], *right[i], combine);
    list->Add(item ? item : left[i]);
  }
  return MakeRef<TIEValue>(Ref<IValueVector>(list));
}

}  // namespace

// --- settings ------------------------------------------------------------------------------

void TInferenceEngine::SetFuzzyEqualsThreshold(float threshold) {
  threshold = std::clamp(threshold, 0.0f, 1.0f);
  if (threshold == fuzzy_equals_threshold_) {
    return;
  }
  fuzzy_equals_threshold_ = threshold;
  for (int i = 0; i < defined_types_->Count(); ++i) {
    const auto* type = dynamic_cast<const TIEDefinedType*>(&defined_types_->At(i));
    if (TIEFuzzyVariable* variable = type != nullptr ? type->OwnFuzzyVariable() : nullptr) {
      variable->SetEqualsThreshold(threshold);
    }
  }
}

// --- what fuzzy slots hold --------------------------------------------------------------------

TIEFuzzyVariable* TInferenceEngine::FuzzyVariableOf(const IFactSlot& slot) noexcept {
  const auto* type = dynamic_cast<const TIEDefinedType*>(slot.ExtendedTypeInfo());
  return type != nullptr ? type->FuzzyVariable() : nullptr;
}

Ref<IIEValue> TInferenceEngine::ParseFuzzyValue(const IFactSlot& slot, std::string_view text) {
  Ref<IIEValue> value = Parser().ParseValueText(text);
  if (!value) {
    RaiseIE(SInvalidFuzzyExpression, std::string(text).c_str());
  }
  return FuzzySlotValue(slot, std::move(value));
}

namespace {

// Whether `value` holds something only an assertion can know: a variable,
// or a call that is not a parenthesised part of the expression.
bool NeedsContext(const IIEValue& value, const TIEFuzzyVariable& variable) {
  switch (value.DType()) {
    case TIEType::dtVariable:
    case TIEType::dtMultiVariable:
      return true;
    case TIEType::dtList:
      return std::ranges::any_of(value.AsList()->Values(), [&](const Ref<IIEValue>& item) {
        return NeedsContext(*item, variable);
      });
    case TIEType::dtFunCall: {
      const IFunCall& call = *value.AsFunCall();
      if (!variable.IsExpressionWord(call.Name())) {
        return true;
      }
      return std::ranges::any_of(call.Arguments(), [&](const Ref<IIEValue>& item) {
        return NeedsContext(*item, variable);
      });
    }
    default:
      return false;
  }
}

// `set`, when it lies in its variable's universe.
Ref<TIEFuzzySet> InUniverse(Ref<TIEFuzzySet> set) {
  set->Variable()->CheckCovers(*set);
  return set;
}

}  // namespace

Ref<IIEValue> TInferenceEngine::FuzzySlotValue(const IFactSlot& slot, Ref<IIEValue> value) {
  TIEFuzzyVariable* variable = FuzzyVariableOf(slot);
  if (variable == nullptr) {
    RaiseIEPlain(SNeedFuzzyType);
  }
  if (NeedsContext(*value, *variable)) {
    return value;
  }
  return SettleFuzzyValue(slot, *variable, value, nullptr);
}

Ref<IIEValue> TInferenceEngine::SettleFuzzyValue(const IFactSlot& slot, TIEFuzzyVariable& variable,
                                                 const Ref<IIEValue>& value, TIEContext* context) {
  auto settle = [&](const Ref<IIEValue>& item, bool field) -> Ref<IIEValue> {
    const TIEFuzzySet* set = FuzzySetOf(*item);
    if (item.get() == &FCNil() ||
        (set != nullptr && set->Variable() == &variable && variable.Covers(*set))) {
      return item;
    }
    return MakeRef<TIEValue>(
        Ref<IMembershipSet>(InUniverse(EvalFuzzyValue(&variable, *item, context, field))));
  };
  if (!slot.IsMultiSlot() || value->DType() != TIEType::dtList) {
    return settle(value, slot.IsMultiSlot());
  }
  Ref<TValueVector> list = MakeRef<TValueVector>();
  bool changed = false;
  for (const Ref<IIEValue>& item : value->AsList()->Values()) {
    list->Add(settle(item, true));
    changed = changed || list->Values().back() != item;
  }
  return changed ? MakeRef<TIEValue>(Ref<IValueVector>(list)) : value;
}

// Every fuzzy slot of `fact` made to hold fuzzy values of its variable,
// within its universe: expressions evaluated, sets of no variable adopted.
void TInferenceEngine::SettleFuzzySlots(IFact& fact) {
  const IFactTemplate& t = *fact.Template();
  for (int i = 0; i < t.SlotCount(); ++i) {
    const IFactSlot& slot = *t.SlotAt(i);
    TIEFuzzyVariable* variable = slot.IsFuzzy() ? FuzzyVariableOf(slot) : nullptr;
    const Ref<IIEValue> value(fact.ValueAt(i));
    if (variable == nullptr || !value || value->Equals(&FCNil())) {
      continue;  // nothing to settle: no variable to read by, or no value (nil)
    }
    if (Ref<IIEValue> settled = SettleFuzzyValue(slot, *variable, value, nullptr);
        settled != value) {
      fact.SetValueAt(i, std::move(settled));
    }
  }
}

// --- correlation and inference -------------------------------------------------------------------

void TInferenceEngine::FuzzyCorrelation(IFact& fact, float strength) {
  if (strength == 1.0f) {
    return;
  }
  if (OnFuzzyCorrelation) {
    bool done = false;
    OnFuzzyCorrelation(*this, fact, strength, done);
    if (done) {
      return;
    }
  }
  const TFuzzyCorrelationKind kind = fuzzy_correlation_;
  ForEachFuzzySlot(fact, [&](int i) {
    Ref<IIEValue> value(fact.ValueAt(i));
    if (value) {
      fact.SetValueAt(i, MapSets(value, [&](const TIEFuzzySet& set) {
                        return MakeRef<TIEFuzzySet>(set.Correlate(strength, kind),
                                                    set.VariableRef());
                      }));
    }
  });
}

void TInferenceEngine::FuzzyInference(IFact& fact, const IFact& existing) {
  if (OnFuzzyInference) {
    bool done = false;
    OnFuzzyInference(*this, fact, existing, done);
    if (done) {
      return;
    }
  }
  FuzzyOperation(fact, existing, true);
}

void TInferenceEngine::FuzzyOperation(IFact& fact, const IFact& other, bool union_of) {
  const IFactTemplate* a = fact.Template();
  const IFactTemplate* b = other.Template();
  if (a != b && (a == nullptr || b == nullptr || a->TemplateName() != b->TemplateName())) {
    RaiseIE(SInvalidFuzzyUnionTemplate, a != nullptr ? a->TemplateName().c_str() : "",
            b != nullptr ? b->TemplateName().c_str() : "");
  }
  const TFuzzyCombineKind kind = CombineKindOf(fuzzy_inference_);
  ForEachFuzzySlot(fact, [&](int i) {
    Ref<IIEValue> value(fact.ValueAt(i));
    const IIEValue* with = other.ValueAt(i);
    if (!value || with == nullptr) {
      return;
    }
    if (union_of) {
      FuzzyUnion(value, *with, kind);
    } else {
      FuzzyIntersection(value, *with, kind);
    }
    fact.SetValueAt(i, std::move(value));
  });
}

void TInferenceEngine::FuzzyUnion(Ref<IIEValue>& value, const IIEValue& other,
                                  TFuzzyCombineKind kind) {
  if (Ref<IIEValue> result = Combined(
          *value, other,
          [kind](const TMembershipSet& a, const TMembershipSet& b) { return a.Union(b, kind); })) {
    value = std::move(result);
  }
}

void TInferenceEngine::FuzzyIntersection(Ref<IIEValue>& value, const IIEValue& other,
                                         TFuzzyCombineKind kind) {
  if (Ref<IIEValue> result =
          Combined(*value, other, [kind](const TMembershipSet& a, const TMembershipSet& b) {
            return a.Intersection(b, kind);
          })) {
    value = std::move(result);
  }
}

void TInferenceEngine::PlotFuzzySets(std::string_view logical_name,
                                     const std::vector<std::string>& title,
                                     const std::vector<TFuzzyPlotSeries>& series, double low,
                                     double high, const std::vector<std::string>& footer) {
  std::string text;
  auto add = [&text](const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      text += line;
      text += '\n';
    }
  };
  add(title);
  add(zephro::PlotFuzzySets(series, low, high));
  add(footer);
  PrintOut(logical_name, text);
}

std::int32_t TInferenceEngine::Assert(Ref<IFact> fact, TFuzzyInferenceKind method,
                                      bool fuzzy_merge) {
  const TScopeExit restore([this, before = fuzzy_inference_] { fuzzy_inference_ = before; });
  fuzzy_inference_ = method;
  return Assert(std::move(fact), fuzzy_merge);
}

}  // namespace zephro

#include "zephro/packages/fuzzy_logic_package.h"

#include <string>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/class_registry.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/type_set_text.h"

#include "packages/fuzzy_logic_internal.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TFuzzyLogicPackage);

// --- method names --------------------------------------------------------------------------

TFuzzyInferenceKind InferenceKindNamed(const std::string& text) {
  TFuzzyInferenceKind kind{};
  if (!ParseFuzzyInferenceKind(text, kind)) {
    RaiseIE(SInvalidFuzzyInference, text.c_str(), ExpectedNames(kFuzzyInferenceNames).c_str());
  }
  return kind;
}

TFuzzyCorrelationKind CorrelationKindNamed(const std::string& text) {
  TFuzzyCorrelationKind kind{};
  if (!ParseFuzzyCorrelationKind(text, kind)) {
    RaiseIE(SInvalidFuzzyCorrelation, text.c_str(), ExpectedNames(kFuzzyCorrelationNames).c_str());
  }
  return kind;
}

// --- fuzzy arguments ------------------------------------------------------------------------

namespace {

// The fact a fact value or an id (integer or fact id) names; null for a
// value of another kind. Raises "No Such Fact with ID=%s exists" for an id
// of no fact.
const IFact* FactOfValue(TInferenceEngine& engine, const IIEValue& value) {
  switch (value.DType()) {
    case TIEType::dtInteger:
    case TIEType::dtFactId: {
      const std::int32_t id = value.AsFactId();
      const IFact* fact = engine.Facts().GetFactByID(id);
      if (fact == nullptr) {
        RaiseIE(SNoSuchFact, std::to_string(id).c_str());
      }
      return fact;
    }
    case TIEType::dtFact:
      if (value.AsFact() == nullptr) {
        RaiseIE(SNoSuchFact, value.ToString().c_str());
      }
      return value.AsFact();
    default:
      return nullptr;
  }
}

// The index of the first fuzzy slot of `fact`'s template; raises "Fact is
// not a fuzzy fact" when it has none.
int FirstFuzzySlot(const IFact& fact) {
  if (const IFactTemplate* t = fact.Template()) {
    for (int i = 0; i < t->SlotCount(); ++i) {
      if (t->SlotAt(i)->IsFuzzy()) {
        return i;
      }
    }
  }
  RaiseIEPlain(SNotFuzzyFact);
}

}  // namespace

Ref<TIEFuzzySet> GetFuzzySetFromValue(TInferenceEngine& engine, const IIEValue& value) {
  const IIEValue* held = &value;
  if (const IFact* fact = FactOfValue(engine, value)) {
    held = fact->ValueAt(FirstFuzzySlot(*fact));
  }
  if (TIEFuzzySet* set = FuzzySetOf(*held)) {
    return Ref<TIEFuzzySet>(set);
  }
  // A value of another kind raises the conversion error here; a fuzzy value
  // of a host's own set class passes it, and is refused below.
  held->AsFuzzy();
  RaiseIE(SNotCorrectType, "fuzzy value", held->ToString().c_str(),
          std::string(IETypeName(held->DType())).c_str());
}

TIEFuzzyVariable& FuzzyVariableOfValue(TInferenceEngine& engine, const IIEValue& value) {
  TIEFuzzyVariable* variable = nullptr;
  if (const IFact* fact = FactOfValue(engine, value)) {
    variable = TInferenceEngine::FuzzyVariableOf(*fact->Template()->SlotAt(FirstFuzzySlot(*fact)));
  } else {
    const std::string name = value.AsString();
    const IIEDefinedType* found = engine.DefinedTypes().Get(name);
    if (found == nullptr) {
      RaiseIE(SUnknownTypeName, name.c_str());
    }
    const auto* type = dynamic_cast<const TIEDefinedType*>(found);
    if (type == nullptr || !type->IsFuzzy()) {
      RaiseIE(SInvalidArgType, SetToString(found->PrimitiveTypes(), ", ", false).c_str(),
              SetToString({TIEType::dtFuzzy}, ", ", false).c_str());
    }
    variable = type->FuzzyVariable();
  }
  if (variable == nullptr) {
    RaiseIEPlain(SUndefinedFuzzyVariable);
  }
  return *variable;
}

// --- the package ------------------------------------------------------------------------------

TFuzzyLogicPackage::TFuzzyLogicPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TFuzzyLogicPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  AddFuzzyBuildFunctions(*this);
  AddFuzzyReadFunctions(*this);
  AddFuzzySettingFunctions(*this);
  AddFunction<TCreateFuzzySetFunction>();
  AddFunction<TPlotFuzzySetFunction>();
}

}  // namespace zephro

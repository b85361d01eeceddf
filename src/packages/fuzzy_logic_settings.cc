// The get- and set- pairs of the engine's fuzzy settings: correlation and
// inference methods, the fuzzy equality and activation thresholds, and the
// automatic terms. Every one returns the setting as it was before the call.

#include <array>
#include <string>

#include "zephro/engine/inference_engine.h"
#include "zephro/packages/fuzzy_logic_package.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "packages/fuzzy_logic_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

constexpr std::array<TFunctionTypeInfo, 2> kCorrelationFunctions = {{
    {GetFuzzyCorrelationFunctionName, GetFuzzyCorrelationComment, GetFuzzySettingSyntax, 0, 0},
    {SetFuzzyCorrelationFunctionName, SetFuzzyCorrelationComment, SetFuzzyCorrelationSyntax, 1, 1},
}};

constexpr std::array<TFunctionTypeInfo, 2> kInferenceFunctions = {{
    {GetFuzzyInferenceFunctionName, GetFuzzyInferenceComment, GetFuzzySettingSyntax, 0, 0},
    {SetFuzzyInferenceFunctionName, SetFuzzyInferenceComment, SetFuzzyInferenceSyntax, 1, 1},
}};

constexpr std::array<TFunctionTypeInfo, 2> kThresholdFunctions = {{
    {GetFuzzyThresholdFunctionName, GetFuzzyThresholdComment, GetFuzzySettingSyntax, 0, 0},
    {SetFuzzyThresholdFunctionName, SetFuzzyThresholdComment, SetThresholdSyntax, 1, 1},
}};

constexpr std::array<TFunctionTypeInfo, 2> kActivationFunctions = {{
    {GetActivationThresholdFunctionName, GetActivationThresholdComment, GetFuzzySettingSyntax, 0,
     0},
    {SetActivationThresholdFunctionName, SetActivationThresholdComment, SetThresholdSyntax, 1, 1},
}};

constexpr std::array<TFunctionTypeInfo, 2> kAutoTermsFunctions = {{
    {GetFuzzyAutoTermsFunctionName, GetFuzzyAutoTermsComment, GetFuzzySettingSyntax, 0, 0},
    {SetFuzzyAutoTermsFunctionName, SetFuzzyAutoTermsComment, SetFuzzyAutoTermsSyntax, 1, 1},
}};

}  // namespace

std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyCorrelationFunctionType) {
  return kCorrelationFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyInferenceFunctionType) {
  return kInferenceFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyThresholdFunctionType) {
  return kThresholdFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TRWActivationThresholdFunctionType) {
  return kActivationFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TRWFuzzyAutoTermsType) {
  return kAutoTermsFunctions;
}

// Each body takes the setting as it is, and a setter then stores the new one.

template <>
Ref<IIEValue> TRWFuzzyCorrelationFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const TFuzzyCorrelationKind previous = engine.FuzzyCorrelationMethod();
  if (FunctionType() == TRWFuzzyCorrelationFunctionType::fcfSetCorrelation) {
    engine.SetFuzzyCorrelationMethod(CorrelationKindNamed(EvalText(call, 0, context)));
  }
  return TIEValue::Atom(FuzzyCorrelationKindName(previous));
}

template <>
Ref<IIEValue> TRWFuzzyInferenceFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const TFuzzyInferenceKind previous = engine.FuzzyInferenceMethod();
  if (FunctionType() == TRWFuzzyInferenceFunctionType::fifSetInference) {
    engine.SetFuzzyInferenceMethod(InferenceKindNamed(EvalText(call, 0, context)));
  }
  return TIEValue::Atom(FuzzyInferenceKindName(previous));
}

template <>
Ref<IIEValue> TRWFuzzyThresholdFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const float previous = engine.FuzzyEqualsThreshold();
  if (FunctionType() == TRWFuzzyThresholdFunctionType::ftfSetFuzzyThreshold) {
    engine.SetFuzzyEqualsThreshold(static_cast<float>(EvalNumeric(call, 0, context)->AsFloat()));
  }
  return TIEValue::Float(previous);
}

template <>
Ref<IIEValue> TRWActivationThresholdFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const float previous = engine.MinActivationStrength();
  if (FunctionType() == TRWActivationThresholdFunctionType::atfSetActivationThreshold) {
    engine.SetMinActivationStrength(static_cast<float>(EvalNumeric(call, 0, context)->AsFloat()));
  }
  return TIEValue::Float(previous);
}

template <>
Ref<IIEValue> TRWFuzzyAutoTerms::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const bool previous = engine.FuzzyAutoTerms();
  if (FunctionType() == TRWFuzzyAutoTermsType::fatSetFuzzyAutoTerms) {
    engine.SetFuzzyAutoTerms(Eval(call, 0, context)->Equals(&FCTrue()));
  }
  return BoolValue(previous);
}

void AddFuzzySettingFunctions(TUserPackage& package) {
  AddFamily<TRWFuzzyCorrelationFunction>(package);
  AddFamily<TRWFuzzyInferenceFunction>(package);
  AddFamily<TRWFuzzyThresholdFunction>(package);
  AddFamily<TRWActivationThresholdFunction>(package);
  AddFamily<TRWFuzzyAutoTerms>(package);
}

}  // namespace zephro

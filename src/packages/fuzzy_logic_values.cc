// The fuzzy functions that make values and facts: the shapes, the union and
// intersection functions, create-fuzzy-value and the fuzzy assertions.

#include <array>
#include <string>
#include <utility>

#include "zephro/engine/inference_engine.h"
#include "zephro/fuzzy/fuzzy_shapes.h"
#include "zephro/packages/fuzzy_logic_package.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value_vector.h"

#include "packages/fuzzy_logic_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

constexpr std::array<TFunctionTypeInfo, 5> kShapeFunctions = {{
    {GrowthShapeFunctionName, GrowthShapeComment, GrowthShapeSyntax, 2, 2},
    {DeclineShapeFunctionName, DeclineShapeComment, GrowthShapeSyntax, 2, 2},
    {PIShapeFunctionName, PIShapeComment, PIShapeSyntax, 2, 3},
    {TriangleShapeFunctionName, TriangleShapeComment, TriangleShapeSyntax, 3, 3},
    {BetaShapeFunctionName, BetaShapeComment, BetaShapeSyntax, 2, 4},
}};

constexpr std::array<TFunctionTypeInfo, 4> kOperationFunctions = {{
    {FuzzyUnionFunctionName, FuzzyUnionComment, FuzzyOperationSyntax, 2, kUnlimitedArguments},
    {FuzzyUnionXFunctionName, FuzzyUnionXComment, FuzzyUnionXSyntax, 3, kUnlimitedArguments},
    {FuzzyIntersectionFunctionName, FuzzyIntersectionComment, FuzzyOperationSyntax, 2,
     kUnlimitedArguments},
    {FuzzyIntersectionXFunctionName, FuzzyIntersectionXComment, FuzzyIntersectionXSyntax, 3,
     kUnlimitedArguments},
}};

constexpr std::array<TFunctionTypeInfo, 2> kAssertFunctions = {{
    {FuzzyAssertFunctionName, FuzzyAssertComment, FuzzyAssertSyntax, 2, kUnlimitedArguments},
    {FuzzyAssertUnconditionalFunctionName, FuzzyAssertUnconditionalComment,
     FuzzyAssertUnconditionalSyntax, 1, kUnlimitedArguments},
}};

TFuzzyShapeKind ShapeKindOf(TCreateFuzzyShapeFunctionType type) {
  using enum TCreateFuzzyShapeFunctionType;
  switch (type) {
    case fsGrowthShape:
      return TFuzzyShapeKind::fsGrowthShape;
    case fsDeclineShape:
      return TFuzzyShapeKind::fsDeclineShape;
    case fsPIShape:
      return TFuzzyShapeKind::fsPIShape;
    case fsTriangleShape:
      return TFuzzyShapeKind::fsTriangleShape;
    case fsBetaShape:
      break;
  }
  return TFuzzyShapeKind::fsBetaShape;
}

}  // namespace

// --- shapes -----------------------------------------------------------------------------------

std::span<const TFunctionTypeInfo> FunctionTypes(TCreateFuzzyShapeFunctionType) {
  return kShapeFunctions;
}

template <>
Ref<IIEValue> TCreateFuzzyShapeFunction::Run(IFunCall& call, TIEContext& context) {
  TFuzzyShape shape{ShapeKindOf(FunctionType()), {}};
  for (int i = 0; i < call.ArgumentCount(); ++i) {
    shape.parameters.push_back(EvalNumeric(call, i, context)->AsFloat());
  }
  TMembershipSet points;
  try {
    points = MakeShape(shape);
  } catch (const EIEException&) {
    throw;
  } catch (const EBaseException& e) {
    RaiseIEPlain(e.Message());  // bad parameters: the engine's error, the shape's text
  }
  Ref<TIEFuzzySet> set = MakeRef<TIEFuzzySet>(std::move(points));
  set->SetExpression(FuzzyShapeText(shape));
  return FuzzyValue(std::move(set));
}

// --- union and intersection -----------------------------------------------------------------

std::span<const TFunctionTypeInfo> FunctionTypes(TFuzzyOperationFunctionType) {
  return kOperationFunctions;
}

template <>
Ref<IIEValue> TFuzzyOperationFunction::Run(IFunCall& call, TIEContext& context) {
  using enum TFuzzyOperationFunctionType;
  const TFuzzyOperationFunctionType type = FunctionType();
  TFuzzyCombineKind kind = TFuzzyCombineKind::fcZadeh;
  int first = 0;
  if (type == fofFuzzyUnionX || type == fofFuzzyIntersectionX) {
    const std::string name = EvalText(call, 0, context);
    if (!ParseFuzzyCombineKind(name, kind)) {
      RaiseIE(SInvalidIEFuzzyOperation, name.c_str(), FunctionName().c_str(),
              ExpectedNames(kFuzzyCombineNames).c_str());
    }
    first = 1;
  }
  TInferenceEngine& engine = EngineOf(context);
  Ref<IIEValue> result = FuzzyValue(GetFuzzySetFromValue(engine, *Eval(call, first, context)));
  for (int i = first + 1; i < call.ArgumentCount(); ++i) {
    const Ref<IIEValue> other = FuzzyValue(GetFuzzySetFromValue(engine, *Eval(call, i, context)));
    if (type == fofFuzzyUnion || type == fofFuzzyUnionX) {
      TInferenceEngine::FuzzyUnion(result, *other, kind);
    } else {
      TInferenceEngine::FuzzyIntersection(result, *other, kind);
    }
  }
  return result;
}

// --- fuzzy assertions -----------------------------------------------------------------------

std::span<const TFunctionTypeInfo> FunctionTypes(TFuzzyAssertFunctionType) {
  return kAssertFunctions;
}

template <>
Ref<IIEValue> TFuzzyAssertFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const bool unconditional = FunctionType() == TFuzzyAssertFunctionType::fafAssertUnconditional;
  const Ref<IIEValue> head = Eval(call, 0, context);
  const bool named = IEStringTypes.Contains(head->DType());
  // fuzzy-assert must start with a method: anything else is refused as one.
  const TFuzzyInferenceKind method =
      named || !unconditional ? InferenceKindNamed(named ? head->AsString() : head->ToString())
                              : engine.FuzzyInferenceMethod();
  const int first = named ? 1 : 0;
  std::int32_t id = -1;
  for (int i = first; i < call.ArgumentCount(); ++i) {
    const Ref<IIEValue> argument = i == 0 ? head : Eval(call, i, context);
    Ref<IFact> fact = argument->AsFact()->Clone();
    context.Resolve(*fact);
    id = engine.Assert(std::move(fact), method, unconditional);
  }
  return id < 0 ? BoolValue(false) : FactIdValue(id);
}

// --- create-fuzzy-value -----------------------------------------------------------------------

TCreateFuzzySetFunction::TCreateFuzzySetFunction()
    : TIEUserFunction(CreateFuzzyValueFunctionName, CreateFuzzyValueComment, CreateFuzzyValueSyntax,
                      2) {}

Ref<IIEValue> TCreateFuzzySetFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  TIEFuzzyVariable& variable = FuzzyVariableOfValue(engine, *Eval(call, 0, context));
  // The words as written: the expression reader evaluates variables and
  // calls itself, and takes a call named after a hedge or a term as a group.
  Ref<IIEValue> expression(call.Argument(1));
  if (call.ArgumentCount() > 2) {
    Ref<TValueVector> items = MakeRef<TValueVector>();
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      items->Add(Ref<IIEValue>(call.Argument(i)));
    }
    expression = MakeRef<TIEValue>(Ref<IValueVector>(items));
  }
  Ref<TIEFuzzySet> set = engine.EvalFuzzyExpression(&variable, *expression, &context);
  variable.CheckCovers(*set);
  return FuzzyValue(std::move(set));
}

void AddFuzzyBuildFunctions(TUserPackage& package) {
  AddFamily<TCreateFuzzyShapeFunction>(package);
  AddFamily<TFuzzyOperationFunction>(package);
  AddFamily<TFuzzyAssertFunction>(package);
}

}  // namespace zephro

// The fuzzy functions that read values: the defuzzifications, the singleton
// accessors get-fs..., the universe of discourse get-u... and the plot.

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/fuzzy/fuzzy_plot.h"
#include "zephro/packages/fuzzy_logic_package.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value_vector.h"

#include "packages/fuzzy_logic_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

constexpr std::array<TFunctionTypeInfo, 4> kDefuzzifyFunctions = {{
    {MomentDefuzzifyFunctionName, MomentDefuzzifyComment, DefuzzifySyntax, 1, 1},
    {MaximumDefuzzifyFunctionName, MaximumDefuzzifyComment, DefuzzifySyntax, 1, 1},
    {IsUndecidableFunctionName, IsUndecidableComment, DefuzzifySyntax, 1, 1},
    {GetCompatibilityIndexFunctionName, GetCompatibilityIndexComment, DefuzzifySyntax, 1, 1},
}};

constexpr std::array<TFunctionTypeInfo, 6> kGetFuzzyFunctions = {{
    {GetFsFunctionName, GetFsComment, GetFsSyntax, 1, 1},
    {GetFsLengthFunctionName, GetFsLengthComment, GetFsSyntax, 1, 1},
    {GetFsXFunctionName, GetFsXComment, GetFsIndexSyntax, 2, 2},
    {GetFsYFunctionName, GetFsYComment, GetFsIndexSyntax, 2, 2},
    {GetFsVariableFunctionName, GetFsVariableComment, GetFsSyntax, 1, 1},
    {GetFsValueFunctionName, GetFsValueComment, GetFsValueSyntax, 2, 2},
}};

constexpr std::array<TFunctionTypeInfo, 4> kUniverseFunctions = {{
    {GetUFunctionName, GetUComment, GetUSyntax, 1, 1},
    {GetUFromFunctionName, GetUFromComment, GetUSyntax, 1, 1},
    {GetUToFunctionName, GetUToComment, GetUSyntax, 1, 1},
    {GetUUnitsFunctionName, GetUUnitsComment, GetUSyntax, 1, 1},
}};

// The singletons of `set`, x and y as floats.
Ref<IIEValue> SingletonsOf(const TMembershipSet& set) {
  Ref<TSingletonsVector> singletons = MakeRef<TSingletonsVector>(&SingletonsPrinter());
  for (const TFuzzyPoint& p : set.Points()) {
    singletons->Add(TIEValue::Float(p.x), TIEValue::Float(p.y));
  }
  return MakeRef<TIEValue>(Ref<ISingletonsVector>(std::move(singletons)));
}

}  // namespace

// --- defuzzification ---------------------------------------------------------------------------

std::span<const TFunctionTypeInfo> FunctionTypes(TDefuzzifyFunctionType) {
  return kDefuzzifyFunctions;
}

template <>
Ref<IIEValue> TDefuzzifyFunction::Run(IFunCall& call, TIEContext& context) {
  using enum TDefuzzifyFunctionType;
  const Ref<TIEFuzzySet> set = GetFuzzySetFromValue(EngineOf(context), *Eval(call, 0, context));
  bool undecidable = true;
  double x = 0;
  switch (FunctionType()) {
    case dftMoment:
      x = set->Moment(&undecidable);
      break;
    case dftMaximum:
      x = set->MeanOfMaxima(&undecidable);
      break;
    case dftUndecidable:
      return BoolValue(set->Undecidable());
    case dftCompatibilityIndex:
      return TIEValue::Float(set->GetCompatibilityIndex());
  }
  set->SetUndecidable(undecidable);
  return TIEValue::Float(x);
}

// --- singletons --------------------------------------------------------------------------------

std::span<const TFunctionTypeInfo> FunctionTypes(TGetFuzzyFunctionType) {
  return kGetFuzzyFunctions;
}

template <>
Ref<IIEValue> TGetFuzzyFunction::Run(IFunCall& call, TIEContext& context) {
  using enum TGetFuzzyFunctionType;
  const Ref<TIEFuzzySet> set = GetFuzzySetFromValue(EngineOf(context), *Eval(call, 0, context));
  switch (FunctionType()) {
    case gffGetFs:
      return SingletonsOf(*set);
    case gffGetFsLength:
      return TIEValue::Integer(set->Count());
    case gffGetFsX:
    case gffGetFsY: {
      const std::int32_t index = EvalInteger(call, 1, context);
      if (index < 0 || index >= set->Count()) {
        RaiseIE(SFuzzySingletonIndex, index, set->Count());
      }
      return TIEValue::Float(FunctionType() == gffGetFsX ? set->X(index) : set->Y(index));
    }
    case gffGetFsVariable:
      return set->Variable() != nullptr ? TIEValue::Atom(set->Variable()->Name())
                                        : Ref<IIEValue>(&FCNil());
    case gffGetFsValue: {
      const double x = EvalNumeric(call, 1, context)->AsFloat();
      const TIEFuzzyVariable* variable = set->Variable();
      if (variable != nullptr && !variable->Contains(x)) {
        RaiseIE(SFuzzyXOutsideUniverse, FuzzyNumberText(x).c_str(), variable->Name().c_str(),
                FuzzyNumberText(variable->From()).c_str(), FuzzyNumberText(variable->To()).c_str());
      }
      return TIEValue::Float(set->DegreeOfMembership(x));
    }
  }
  return Ref<IIEValue>(&FCNil());
}

// --- universe of discourse ----------------------------------------------------------------------

std::span<const TFunctionTypeInfo> FunctionTypes(TUniverseOfDiscourseFunctionType) {
  return kUniverseFunctions;
}

template <>
Ref<IIEValue> TUniverseOfDiscourseFunction::Run(IFunCall& call, TIEContext& context) {
  using enum TUniverseOfDiscourseFunctionType;
  const TIEFuzzyVariable& variable =
      FuzzyVariableOfValue(EngineOf(context), *Eval(call, 0, context));
  switch (FunctionType()) {
    case uodGet:
      return TIEValue::String(FormatMessage("%.4f - %.4f %s", variable.From(), variable.To(),
                                            variable.Units().c_str()));
    case uodGetFrom:
      return TIEValue::Float(variable.From());
    case uodGetTo:
      return TIEValue::Float(variable.To());
    case uodGetUnits:
      return TIEValue::String(variable.Units());
  }
  return Ref<IIEValue>(&FCNil());
}

// --- plot-fuzzy-value ---------------------------------------------------------------------------

TPlotFuzzySetFunction::TPlotFuzzySetFunction()
    : TIEUserFunction(PlotFuzzyValueFunctionName, PlotFuzzyValueComment, PlotFuzzyValueSyntax, 5) {}

Ref<IIEValue> TPlotFuzzySetFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const std::string logical_name = EvalText(call, 0, context);
  const std::string marks = EvalText(call, 1, context);
  const double low = EvalNumeric(call, 2, context)->AsFloat();
  const double high = EvalNumeric(call, 3, context)->AsFloat();
  // The sets to plot, held here: arguments evaluated later may change or
  // drop the facts and variables they come from.
  std::vector<Ref<TIEFuzzySet>> sets;
  bool values = false;
  std::vector<TFuzzyPlotSeries> series;
  std::vector<std::string> title;
  std::vector<std::string> footer;
  auto next_mark = [&marks, &series] {
    if (marks.empty()) {
      return '*';
    }
    return series.size() < marks.size() ? marks[series.size()] : marks.back();
  };
  for (int i = 4; i < call.ArgumentCount(); ++i) {
    const Ref<IIEValue> argument = Eval(call, i, context);
    if (IEStringTypes.Contains(argument->DType())) {
      const TIEFuzzyVariable& variable = FuzzyVariableOfValue(engine, *argument);
      title.push_back("Fuzzy Variable: " + variable.Name());
      for (const TLinguisticVariable::TTerm& term : variable.Terms()) {
        sets.push_back(MakeRef<TIEFuzzySet>(term.set));
        series.push_back({next_mark(), sets.back().get()});
      }
      footer.push_back(FormatMessage("Universe of Discourse: From %0.2f to %.2f", variable.From(),
                                     variable.To()));
      continue;
    }
    sets.push_back(GetFuzzySetFromValue(engine, *argument));
    if (!values) {
      title.emplace_back("Fuzzy Values:");
      values = true;
    }
    const char mark = next_mark();
    title.push_back(std::string(1, mark) + " (" + sets.back()->ToString() + ")");
    series.push_back({mark, sets.back().get()});
  }
  try {
    engine.PlotFuzzySets(logical_name, title, series, low, high, footer);
  } catch (const EIEException&) {
    throw;
  } catch (const EBaseException& e) {
    RaiseIEPlain(e.Message());  // a range the grid cannot span
  }
  return Ref<IIEValue>(&FCNil());
}

void AddFuzzyReadFunctions(TUserPackage& package) {
  AddFamily<TDefuzzifyFunction>(package);
  AddFamily<TGetFuzzyFunction>(package);
  AddFamily<TUniverseOfDiscourseFunction>(package);
}

}  // namespace zephro

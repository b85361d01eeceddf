// The miscellaneous package's functions about constructs by name: the is-,
// list-def-, ppdef- and undef- families. Each family is one function class;
// the kind of construct it works on is chosen when the package creates it,
// and every kind answers the same four questions (TConstructKind below).

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/packages/misc_package.h"
#include "zephro/rules/rule.h"
#include "zephro/values/printing.h"

#include "packages/misc_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

enum class TConstructKind : std::uint8_t {
  ckRule,
  ckFactSet,
  ckTemplate,
  ckFunction,
  ckType,
  ckGlobal
};

// A global's key in the engine's table: "*name*", from "?*name*", "*name*"
// or "name".
std::string GlobalKey(std::string_view name) {
  if (!name.empty() && name.front() == '?') {
    name.remove_prefix(1);
  }
  if (name.size() >= 2 && name.front() == '*' && name.back() == '*') {
    return std::string(name);
  }
  return "*" + std::string(name) + "*";
}

// The engine's own templates and bindings, which listings leave out.
bool IsInternalName(std::string_view name) { return name.starts_with("__"); }

TFactSet* FindFactSet(TInferenceEngine& engine, std::string_view name) {
  const int index = engine.FactSets().IndexOf(name);
  return index < 0 ? nullptr : &engine.FactSets()[index];
}

const TInterpretedFunction* FindDefFunction(const TInferenceEngine& engine,
                                            std::string_view name) {
  const IUserFunction* function = engine.GetUserFunction(name);
  return function != nullptr && function->IsInterpreted()
             ? static_cast<const TInterpretedFunction*>(function)
             : nullptr;
}

// The names of the constructs of `kind`, in the order the listings give them.
std::vector<std::string> ConstructNames(TInferenceEngine& engine, TConstructKind kind) {
  std::vector<std::string> names;
  switch (kind) {
    case TConstructKind::ckRule:
      for (int i = 0; i < engine.Rules().Count(); ++i) {
        names.push_back(engine.Rules().At(i).RuleName());
      }
      break;
    case TConstructKind::ckFactSet:
      for (const TFactSet* fact_set : engine.FactSets()) {
        names.push_back(fact_set->FactSetName());
      }
      break;
    case TConstructKind::ckTemplate:
      for (int i = 0; i < engine.FactTemplates().Count(); ++i) {
        const std::string& name = engine.FactTemplates().At(i).TemplateName();
        if (!IsInternalName(name)) {
          names.push_back(name);
        }
      }
      break;
    case TConstructKind::ckFunction:
      for (const TInterpretedFunction* function : engine.UserFunctions().DefFunctions()) {
        names.push_back(function->FunctionName());
      }
      break;
    case TConstructKind::ckType:
      for (int i = 0; i < engine.DefinedTypes().Count(); ++i) {
        names.push_back(engine.DefinedTypes().At(i).TypeName());
      }
      break;
    case TConstructKind::ckGlobal:
      for (int i = 0; i < engine.GlobalVariables().Count(); ++i) {
        names.push_back(engine.GlobalVariables().NameAt(i));
      }
      break;
  }
  return names;
}

// The construct as the language writes it, or nothing when there is none.
// A function of a package or of the host prints as a comment line.
std::optional<std::string> ConstructText(TInferenceEngine& engine, TConstructKind kind,
                                         const std::string& name) {
  switch (kind) {
    case TConstructKind::ckRule:
      if (const TRule* rule = engine.Rules().Get(name)) {
        return engine.PrettyPrint(*rule);
      }
      break;
    case TConstructKind::ckFactSet:
      if (const TFactSet* fact_set = FindFactSet(engine, name)) {
        return PrettyPrintFactSet(*fact_set);
      }
      break;
    case TConstructKind::ckTemplate:
      if (const IFactTemplate* fact_template = engine.FactTemplates().Get(name)) {
        return engine.PrintTemplate(*fact_template);
      }
      break;
    case TConstructKind::ckFunction:
      if (const TInterpretedFunction* function = FindDefFunction(engine, name)) {
        return function->PrettyPrint();
      }
      if (engine.GetUserFunction(name) != nullptr) {
        return ";; " + name + " function";
      }
      break;
    case TConstructKind::ckType:
      if (const IIEDefinedType* type = engine.DefinedTypes().Get(name)) {
        return type->ToString();
      }
      break;
    case TConstructKind::ckGlobal:
      if (const TBinding* binding =
              engine.RootContext().FindGlobalBinding(GlobalKey(name))) {
        return PrettyPrintGlobal(binding->Name(), *binding->Value());
      }
      break;
  }
  return std::nullopt;
}

bool ConstructExists(TInferenceEngine& engine, TConstructKind kind, const std::string& name) {
  if (kind == TConstructKind::ckFunction) {
    return FindDefFunction(engine, name) != nullptr;
  }
  if (kind == TConstructKind::ckGlobal) {
    return engine.GlobalVariables().ContainsKey(GlobalKey(name));
  }
  return ConstructText(engine, kind, name).has_value();
}

// Removes the construct with what depends on it; false when there is none.
bool RemoveConstruct(TInferenceEngine& engine, TConstructKind kind, const std::string& name) {
  if (!ConstructExists(engine, kind, name)) {
    return false;
  }
  switch (kind) {
    case TConstructKind::ckRule:
      engine.Rules().Remove(name);
      break;
    case TConstructKind::ckFactSet: {
      TFactSet& fact_set = *FindFactSet(engine, name);
      engine.FactSets().Remove(fact_set);
      if (fact_set.Owner() == &engine) {
        engine.Retire(engine.RemoveComponent(fact_set));
      }
      break;
    }
    case TConstructKind::ckTemplate:
      engine.FactTemplates().Remove(name);
      break;
    case TConstructKind::ckFunction:
      engine.RemoveUserFunctionByName(name);
      break;
    case TConstructKind::ckType:
      engine.DefinedTypes().Remove(name);
      break;
    case TConstructKind::ckGlobal:
      return false;  // no function removes a global by name
  }
  return true;
}

// The count line closing the listings of this file.
std::string CountLine(std::size_t count, const char* noun) {
  return "for a total of " + std::to_string(count) + " " + noun + ".\n";
}

// The name a binding's variable goes by: without its "?".
std::string_view VariableName(std::string_view name) {
  if (!name.empty() && name.front() == '?') {
    name.remove_prefix(1);
  }
  return name;
}

bool IsGlobalName(std::string_view name) {
  return name.size() >= 2 && name.front() == '*' && name.back() == '*';
}

// The variables bound where `context` evaluates, innermost first, each name
// once; globals are left out.
std::vector<std::string> LocalVariableNames(const TIEContext& context) {
  std::vector<std::string> names;
  for (const TIEContext* c = &context; c != nullptr; c = c->Parent()) {
    for (const auto& binding : c->Bindings()) {
      const std::string name(binding->Name());
      if (!IsGlobalName(name) && !IsInternalName(name) &&
          context.FindBinding(name) == binding.get()) {
        names.push_back(name);
      }
    }
  }
  return names;
}

constexpr std::array<TFunctionTypeInfo, 7> kIsIEStructFunctions = {{
    {IsBindingFunctionName, IsBindingComment, IsBindingSyntax, 1, 1},
    {IsDefTypeFunctionName, IsDefTypeComment, IsDefTypeSyntax, 1, 1},
    {IsDefFunctionFunctionName, IsDefFunctionComment, IsDefFunctionSyntax, 1, 1},
    {IsDefGlobalFunctionName, IsDefGlobalComment, IsDefGlobalSyntax, 1, 1},
    {IsDefRuleFunctionName, IsDefRuleComment, IsDefRuleSyntax, 1, 1},
    {IsDefFactsFunctionName, IsDefFactsComment, IsDefFactsSyntax, 1, 1},
    {IsDefTemplateFunctionName, IsDefTemplateComment, IsDefTemplateSyntax, 1, 1},
}};
// The construct kind of each is- function but is-binding, in the family's order.
constexpr std::array<TConstructKind, 7> kIsIEStructKinds = {
    TConstructKind::ckGlobal,  // not used: is-binding looks at bindings
    TConstructKind::ckType,    TConstructKind::ckFunction, TConstructKind::ckGlobal,
    TConstructKind::ckRule,    TConstructKind::ckFactSet,  TConstructKind::ckTemplate};

constexpr std::array<TFunctionTypeInfo, 2> kListVariablesFunctions = {{
    {ListDefGlobalsFunctionName, ListDefGlobalsComment, NoArgumentsSyntax, 0, 0},
    {ListBindingsFunctionName, ListBindingsComment, NoArgumentsSyntax, 0, 0},
}};

constexpr std::array<TFunctionTypeInfo, 5> kListConstructsFunctions = {{
    {ListDefRulesFunctionName, ListDefRulesComment, NoArgumentsSyntax, 0, 0},
    {ListDefTypesFunctionName, ListDefTypesComment, NoArgumentsSyntax, 0, 0},
    {ListDefFactsFunctionName, ListDefFactsComment, NoArgumentsSyntax, 0, 0},
    {ListDefFunctionsFunctionName, ListDefFunctionsComment, ListDefFunctionsSyntax, 0, 1},
    {ListDefTemplatesFunctionName, ListDefTemplatesComment, NoArgumentsSyntax, 0, 0},
}};
struct TListing {
  TConstructKind kind;
  const char* noun;  // of the count line
};
constexpr std::array<TListing, 5> kListings = {{
    {TConstructKind::ckRule, "defrules"},
    {TConstructKind::ckType, "deftypes"},
    {TConstructKind::ckFactSet, "deffacts"},
    {TConstructKind::ckFunction, "deffunctions"},
    {TConstructKind::ckTemplate, "deftemplates"},
}};

constexpr std::array<TFunctionTypeInfo, 5> kPrettyPrintFunctions = {{
    {PPDefFactsFunctionName, PPDefFactsComment, UndefFactsSyntax, 1, 1},
    {PPDefFunctionFunctionName, PPDefFunctionComment, UndefFunctionSyntax, 1, 1},
    {PPDefTemplateFunctionName, PPDefTemplateComment, UndefTemplateSyntax, 1, 1},
    {PPDefRuleFunctionName, PPDefRuleComment, UndefRuleSyntax, 1, 1},
    {PPDefTypeFunctionName, PPDefTypeComment, PPDefTypeSyntax, 1, 1},
}};
constexpr std::array<TConstructKind, 5> kPrettyPrintKinds = {
    TConstructKind::ckFactSet, TConstructKind::ckFunction, TConstructKind::ckTemplate,
    TConstructKind::ckRule, TConstructKind::ckType};

constexpr std::array<TFunctionTypeInfo, 5> kUndefFunctions = {{
    {UndefTypeFunctionName, UndefTypeComment, UndefTypeSyntax, 1, 1},
    {UndefRuleFunctionName, UndefRuleComment, UndefRuleSyntax, 1, 1},
    {UndefFactsFunctionName, UndefFactsComment, UndefFactsSyntax, 1, 1},
    {UndefFunctionFunctionName, UndefFunctionComment, UndefFunctionSyntax, 1, 1},
    {UndefTemplateFunctionName, UndefTemplateComment, UndefTemplateSyntax, 1, 1},
}};
constexpr std::array<TConstructKind, 5> kUndefKinds = {
    TConstructKind::ckType, TConstructKind::ckRule, TConstructKind::ckFactSet,
    TConstructKind::ckFunction, TConstructKind::ckTemplate};

template <class E, std::size_t N>
constexpr auto Entry(const std::array<E, N>& kinds, auto type) {
  return kinds[static_cast<std::size_t>(type)];
}

}  // namespace

std::span<const TFunctionTypeInfo> FunctionTypes(TIsIEStructFunctionType) {
  return kIsIEStructFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TListVariablesFunctionType) {
  return kListVariablesFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TListConstructsFunctionType) {
  return kListConstructsFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TPrettyPrintFunctionType) {
  return kPrettyPrintFunctions;
}
std::span<const TFunctionTypeInfo> FunctionTypes(TUndefFunctionType) { return kUndefFunctions; }

template <>
Ref<IIEValue> TIsIEStructFunction::Run(IFunCall& call, TIEContext& context) {
  const std::string name = EvalText(call, 0, context);
  if (FunctionType() == TIsIEStructFunctionType::sfIsBinding) {
    return BooleanValue(context.FindBinding(VariableName(name)) != nullptr);
  }
  return BooleanValue(
      ConstructExists(EngineOf(context), Entry(kIsIEStructKinds, FunctionType()), name));
}

// "?name = value", one a line.
template <>
Ref<IIEValue> TListVariablesFunction::Run(IFunCall& /*call*/, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const bool globals = FunctionType() == TListVariablesFunctionType::lvDefGlobals;
  const std::vector<std::string> names =
      globals ? ConstructNames(engine, TConstructKind::ckGlobal) : LocalVariableNames(context);
  std::string text;
  for (const std::string& name : names) {
    text += PrettyPrintGlobal(name, *context.GetVariable(name)) + "\n";
  }
  engine.PrintOut("", text + CountLine(names.size(), globals ? "defglobals" : "bindings"));
  return Ref<IIEValue>(&FCNil());
}

template <>
Ref<IIEValue> TListConstructsFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const TListing& listing = Entry(kListings, FunctionType());
  const std::string logical_name = call.ArgumentCount() > 0 ? EvalText(call, 0, context) : "";
  const std::vector<std::string> names = ConstructNames(engine, listing.kind);
  std::string text;
  for (const std::string& name : names) {
    text += name + "\n";
  }
  engine.PrintOut(logical_name, text + CountLine(names.size(), listing.noun));
  return Ref<IIEValue>(&FCNil());
}

template <>
Ref<IIEValue> TPrettyPrintFunction::Run(IFunCall& call, TIEContext& context) {
  TInferenceEngine& engine = EngineOf(context);
  const std::optional<std::string> text =
      ConstructText(engine, Entry(kPrettyPrintKinds, FunctionType()), EvalText(call, 0, context));
  if (text) {
    engine.PrintOut("", *text + "\n");
  }
  return BooleanValue(text.has_value());
}

template <>
Ref<IIEValue> TUndefFunction::Run(IFunCall& call, TIEContext& context) {
  return BooleanValue(RemoveConstruct(EngineOf(context), Entry(kUndefKinds, FunctionType()),
                                      EvalText(call, 0, context)));
}

void AddMiscConstructFunctions(TUserPackage& package) {
  AddFamily<TIsIEStructFunction>(package);
  AddFamily<TListVariablesFunction>(package);
  AddFamily<TListConstructsFunction>(package);
  AddFamily<TPrettyPrintFunction>(package);
  AddFamily<TUndefFunction>(package);
}

}  // namespace zephro

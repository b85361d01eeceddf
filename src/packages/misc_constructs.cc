// The miscellaneous package's functions about constructs by name: the is-,
// list-def-, ppdef- and undef- families. Each family is one function class;
// the kind of construct it works on is chosen when the package creates it,
// and every kind answers the same four questions (TConstructKind below).

#include <optional>
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

// is-defrule, is-deffacts, is-deftemplate, is-deffunction, is-deftype,
// is-defglobal.
class TIsIEStructFunction final : public TIEUserFunction {
 public:
  TIsIEStructFunction(const char* name, const char* comment, const char* syntax,
                      TConstructKind kind)
      : TIEUserFunction(name, comment, syntax, 1, 1), kind_(kind) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return BooleanValue(ConstructExists(EngineOf(context), kind_, EvalText(call, 0, context)));
  }

 private:
  TConstructKind kind_;
};

// list-defrules, list-deffacts, list-deftemplates, list-deffunctions,
// list-deftypes.
class TListConstructsFunction final : public TIEUserFunction {
 public:
  TListConstructsFunction(const char* name, const char* comment, const char* syntax,
                          TConstructKind kind, const char* noun)
      : TIEUserFunction(name, comment, syntax, 0, *syntax == '\0' ? 0 : 1),
        kind_(kind),
        noun_(noun) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const std::string logical_name = call.ArgumentCount() > 0 ? EvalText(call, 0, context) : "";
    const std::vector<std::string> names = ConstructNames(engine, kind_);
    std::string text;
    for (const std::string& name : names) {
      text += name + "\n";
    }
    engine.PrintOut(logical_name, text + CountLine(names.size(), noun_));
    return Ref<IIEValue>(&FCNil());
  }

 private:
  TConstructKind kind_;
  const char* noun_;
};

// ppdefrule, ppdeffacts, ppdeftemplate, ppdeffunction, ppdeftype.
class TPrettyPrintFunction final : public TIEUserFunction {
 public:
  TPrettyPrintFunction(const char* name, const char* comment, const char* syntax,
                       TConstructKind kind)
      : TIEUserFunction(name, comment, syntax, 1, 1), kind_(kind) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const std::optional<std::string> text =
        ConstructText(engine, kind_, EvalText(call, 0, context));
    if (text) {
      engine.PrintOut("", *text + "\n");
    }
    return BooleanValue(text.has_value());
  }

 private:
  TConstructKind kind_;
};

// undefrule, undeffacts, undeftemplate, undeffunction, undeftype.
class TUndefFunction final : public TIEUserFunction {
 public:
  TUndefFunction(const char* name, const char* comment, const char* syntax, TConstructKind kind)
      : TIEUserFunction(name, comment, syntax, 1, 1), kind_(kind) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return BooleanValue(RemoveConstruct(EngineOf(context), kind_, EvalText(call, 0, context)));
  }

 private:
  TConstructKind kind_;
};

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

class TIsBindingFunction final : public TIEUserFunction {
 public:
  TIsBindingFunction()
      : TIEUserFunction(IsBindingFunctionName, IsBindingComment, IsBindingSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::string name = EvalText(call, 0, context);
    return BooleanValue(context.FindBinding(VariableName(name)) != nullptr);
  }
};

// list-defglobals and list-bindings: "?name = value", one a line.
enum class TListVariablesFunctionType : std::uint8_t { lvDefGlobals, lvBindings };

class TListVariablesFunction final : public TIEUserFunction {
 public:
  TListVariablesFunction(const char* name, const char* comment, TListVariablesFunctionType type)
      : TIEUserFunction(name, comment, NoArgumentsSyntax, 0, 0), type_(type) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const bool globals = type_ == TListVariablesFunctionType::lvDefGlobals;
    const std::vector<std::string> names = globals
                                               ? ConstructNames(engine, TConstructKind::ckGlobal)
                                               : LocalVariableNames(context);
    std::string text;
    for (const std::string& name : names) {
      text += PrettyPrintGlobal(name, *context.GetVariable(name)) + "\n";
    }
    engine.PrintOut("", text + CountLine(names.size(), globals ? "defglobals" : "bindings"));
    return Ref<IIEValue>(&FCNil());
  }

 private:
  TListVariablesFunctionType type_;
};

}  // namespace

void AddMiscConstructFunctions(TUserPackage& package) {
  using enum TConstructKind;
  package.AddFunction<TIsBindingFunction>();
  package.AddFunction<TIsIEStructFunction>(IsDefTypeFunctionName, IsDefTypeComment,
                                           IsDefTypeSyntax, ckType);
  package.AddFunction<TIsIEStructFunction>(IsDefFunctionFunctionName, IsDefFunctionComment,
                                           IsDefFunctionSyntax, ckFunction);
  package.AddFunction<TIsIEStructFunction>(IsDefGlobalFunctionName, IsDefGlobalComment,
                                           IsDefGlobalSyntax, ckGlobal);
  package.AddFunction<TIsIEStructFunction>(IsDefRuleFunctionName, IsDefRuleComment,
                                           IsDefRuleSyntax, ckRule);
  package.AddFunction<TIsIEStructFunction>(IsDefFactsFunctionName, IsDefFactsComment,
                                           IsDefFactsSyntax, ckFactSet);
  package.AddFunction<TIsIEStructFunction>(IsDefTemplateFunctionName, IsDefTemplateComment,
                                           IsDefTemplateSyntax, ckTemplate);
  package.AddFunction<TListVariablesFunction>(ListDefGlobalsFunctionName, ListDefGlobalsComment,
                                              TListVariablesFunctionType::lvDefGlobals);
  package.AddFunction<TListVariablesFunction>(ListBindingsFunctionName, ListBindingsComment,
                                              TListVariablesFunctionType::lvBindings);
  package.AddFunction<TUndefFunction>(UndefTypeFunctionName, UndefTypeComment, UndefTypeSyntax,
                                      ckType);
  package.AddFunction<TListConstructsFunction>(ListDefRulesFunctionName, ListDefRulesComment,
                                               NoArgumentsSyntax, ckRule, "defrules");
  package.AddFunction<TListConstructsFunction>(ListDefTypesFunctionName, ListDefTypesComment,
                                               NoArgumentsSyntax, ckType, "deftypes");
  package.AddFunction<TListConstructsFunction>(ListDefFactsFunctionName, ListDefFactsComment,
                                               NoArgumentsSyntax, ckFactSet, "deffacts");
  package.AddFunction<TListConstructsFunction>(ListDefFunctionsFunctionName,
                                               ListDefFunctionsComment, ListDefFunctionsSyntax,
                                               ckFunction, "deffunctions");
  package.AddFunction<TListConstructsFunction>(ListDefTemplatesFunctionName,
                                               ListDefTemplatesComment, NoArgumentsSyntax,
                                               ckTemplate, "deftemplates");
  package.AddFunction<TPrettyPrintFunction>(PPDefFactsFunctionName, PPDefFactsComment,
                                            UndefFactsSyntax, ckFactSet);
  package.AddFunction<TPrettyPrintFunction>(PPDefFunctionFunctionName, PPDefFunctionComment,
                                            UndefFunctionSyntax, ckFunction);
  package.AddFunction<TPrettyPrintFunction>(PPDefTemplateFunctionName, PPDefTemplateComment,
                                            UndefTemplateSyntax, ckTemplate);
  package.AddFunction<TPrettyPrintFunction>(PPDefRuleFunctionName, PPDefRuleComment,
                                            UndefRuleSyntax, ckRule);
  package.AddFunction<TPrettyPrintFunction>(PPDefTypeFunctionName, PPDefTypeComment,
                                            PPDefTypeSyntax, ckType);
  package.AddFunction<TUndefFunction>(UndefRuleFunctionName, UndefRuleComment, UndefRuleSyntax,
                                      ckRule);
  package.AddFunction<TUndefFunction>(UndefFactsFunctionName, UndefFactsComment,
                                      UndefFactsSyntax, ckFactSet);
  package.AddFunction<TUndefFunction>(UndefFunctionFunctionName, UndefFunctionComment,
                                      UndefFunctionSyntax, ckFunction);
  package.AddFunction<TUndefFunction>(UndefTemplateFunctionName, UndefTemplateComment,
                                      UndefTemplateSyntax, ckTemplate);
}

}  // namespace zephro

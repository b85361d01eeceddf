// The miscellaneous package's commands about defined types and type checks:
// is-deftype, list-deftypes, ppdeftype, undeftype, and the get-/set- switches
// of static and dynamic constraint checking.

#include <string>

#include "zephro/engine/collections.h"
#include "zephro/packages/misc_package.h"

#include "packages/misc_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

Ref<IIEValue> Boolean(bool b) {
  return Ref<IIEValue>(b ? &FCTrue() : &FCFalse());
}

class TIsDefTypeFunction final : public TIEUserFunction {
 public:
  TIsDefTypeFunction()
      : TIEUserFunction(IsDefTypeFunctionName, IsDefTypeComment, IsDefTypeSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return Boolean(EngineOf(context).DefinedTypes().Get(EvalText(call, 0, context)) != nullptr);
  }
};

class TListDefTypesFunction final : public TIEUserFunction {
 public:
  TListDefTypesFunction()
      : TIEUserFunction(ListDefTypesFunctionName, ListDefTypesComment, ListDefTypesSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const TIEDefinedTypes& types = engine.DefinedTypes();
    std::string text;
    for (int i = 0; i < types.Count(); ++i) {
      text += types.At(i).TypeName() + "\n";
    }
    engine.PrintOut("", text + "for a total of " + std::to_string(types.Count()) + " deftypes.\n");
    return Ref<IIEValue>(&FCNil());
  }
};

class TPPDefTypeFunction final : public TIEUserFunction {
 public:
  TPPDefTypeFunction()
      : TIEUserFunction(PPDefTypeFunctionName, PPDefTypeComment, PPDefTypeSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const IIEDefinedType* type = engine.DefinedTypes().Get(EvalText(call, 0, context));
    if (type == nullptr) {
      return Boolean(false);
    }
    engine.PrintOut("", type->ToString() + "\n");
    return Boolean(true);
  }
};

class TUndefTypeFunction final : public TIEUserFunction {
 public:
  TUndefTypeFunction()
      : TIEUserFunction(UndefTypeFunctionName, UndefTypeComment, UndefTypeSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return Boolean(EngineOf(context).DefinedTypes().Remove(EvalText(call, 0, context)));
  }
};

// get- and set-static-constraint-checking, get- and set-dynamic-...: one
// member of the engine's TypeChecks, read or switched.
class TConstraintCheckingFunction final : public TIEUserFunction {
 public:
  TConstraintCheckingFunction(const char* name, const char* comment, TTypeCheck check, bool set)
      : TIEUserFunction(name, comment, set ? SetConstraintCheckingSyntax : "", set ? 1 : 0,
                        set ? 1 : 0),
        check_(check),
        set_(set) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const TTypeChecks checks = engine.TypeChecks();
    const bool was = checks.Contains(check_);
    if (set_) {
      const bool on = Eval(call, 0, context)->Equals(&FCTrue());
      engine.SetTypeChecks(on ? checks | check_ : checks - check_);
    }
    return Boolean(was);
  }

 private:
  TTypeCheck check_;
  bool set_;
};

}  // namespace

void AddMiscTypeFunctions(TUserPackage& package) {
  package.AddFunction<TIsDefTypeFunction>();
  package.AddFunction<TListDefTypesFunction>();
  package.AddFunction<TPPDefTypeFunction>();
  package.AddFunction<TUndefTypeFunction>();
  package.AddFunction<TConstraintCheckingFunction>(
      GetDynamicCheckingFunctionName, GetDynamicCheckingComment, TTypeCheck::tcDynamic, false);
  package.AddFunction<TConstraintCheckingFunction>(
      GetStaticCheckingFunctionName, GetStaticCheckingComment, TTypeCheck::tcStatic, false);
  package.AddFunction<TConstraintCheckingFunction>(
      SetDynamicCheckingFunctionName, SetDynamicCheckingComment, TTypeCheck::tcDynamic, true);
  package.AddFunction<TConstraintCheckingFunction>(
      SetStaticCheckingFunctionName, SetStaticCheckingComment, TTypeCheck::tcStatic, true);
}

}  // namespace zephro

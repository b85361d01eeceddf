// The miscellaneous package's engine services: parse, guard, setgen and
// set-reset-globals.

#include <string>

#include "zephro/packages/misc_package.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/platform/scope_exit.h"

#include "packages/misc_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

class TIEParseFunction final : public TIEUserFunction {
 public:
  TIEParseFunction() : TIEUserFunction(ParseFunctionName, ParseComment, ParseSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    EngineOf(context).Parse(EvalText(call, 0, context));
    return BooleanValue(true);
  }
};

// Holds the firing rule back (no new activations) while the arguments run;
// outside a firing it only runs them.
class TGuardFunction final : public TIEUserFunction {
 public:
  TGuardFunction() : TIEUserFunction(GuardFunctionName, GuardComment, GuardSyntax, 1, kUnlimitedArguments) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const TActivation* firing = EngineOf(context).FiringActivation();
    TRule* rule = firing != nullptr ? &firing->Rule() : nullptr;
    const bool enabled = rule != nullptr && rule->Enabled();
    if (rule != nullptr) {
      rule->SetEnabledQuietly(false);
    }
    const TScopeExit restore([&] {
      if (rule != nullptr) {
        rule->SetEnabledQuietly(enabled);
      }
    });
    Ref<IIEValue> result;
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      result = Eval(call, i, context);
    }
    return result;
  }
};

class TSetGenFunction final : public TIEUserFunction {
 public:
  TSetGenFunction() : TIEUserFunction(SetGenFunctionName, SetGenComment, SetGenSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    engine.SetSymbolIndex(EvalInteger(call, 0, context));
    return TIEValue::Integer(engine.SymbolIndex());
  }
};

class TResetGlobalsFunction final : public TIEUserFunction {
 public:
  TResetGlobalsFunction()
      : TIEUserFunction(ResetGlobalsFunctionName, ResetGlobalsComment, ResetGlobalsSyntax, 0, 1) {
  }

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    const bool was = engine.ResetGlobals();
    if (call.ArgumentCount() > 0) {
      engine.SetResetGlobals(Eval(call, 0, context)->Equals(&FCTrue()));
    }
    return BooleanValue(was);
  }
};

}  // namespace

void AddMiscEngineFunctions(TUserPackage& package) {
  package.AddFunction<TIEParseFunction>();
  package.AddFunction<TGuardFunction>();
  package.AddFunction<TResetGlobalsFunction>();
  package.AddFunction<TSetGenFunction>();
}

}  // namespace zephro

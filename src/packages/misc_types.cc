// The miscellaneous package's switches of static and dynamic constraint
// checking.

#include <string>

#include "zephro/engine/collections.h"
#include "zephro/packages/misc_package.h"

#include "packages/misc_internal.h"
#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

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
    return BooleanValue(was);
  }

 private:
  TTypeCheck check_;
  bool set_;
};

}  // namespace

void AddMiscTypeFunctions(TUserPackage& package) {
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

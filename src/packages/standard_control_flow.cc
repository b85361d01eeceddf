// Variables and control flow. These functions decide which of their arguments
// to evaluate and how often; keywords are compared as written. Each sequence
// of actions stops at a raised return flag and hands the returned expression
// up unevaluated: the deffunction or rule that ran the `return` evaluates it.
//
// The then- and else-parts of `if` are split at the first argument written as
// `else`, whichever branch runs, so an empty then-part (`if c then else x`)
// gives FALSE when c holds and x when it does not.
//
// `try` runs its finally-part after a return from the protected part too; the
// return stands unless the finally-part returns itself.

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "zephro/functions/user_package.h"
#include "zephro/packages/standard_control.h"
#include "zephro/values/value.h"

#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

// The name of the variable an argument stands for: a variable as written gives
// its name, anything else is evaluated and its text taken.
std::string VariableName(IFunCall& call, int index, TIEContext& context) {
  IIEValue& written = *call.Argument(index);
  if (written.DType() == TIEType::dtVariable || written.DType() == TIEType::dtMultiVariable) {
    return written.AsString();
  }
  return written.Resolve(&context)->AsString();
}

// Position of the first argument from `first` on that is written as one of the
// atoms `keywords`, or -1.
int FindKeyword(const IFunCall& call, int first, std::initializer_list<IIEValue*> keywords) {
  for (int i = first; i < call.ArgumentCount(); ++i) {
    const IIEValue& written = *call.Argument(i);
    if (written.DType() != TIEType::dtAtom) {
      continue;
    }
    for (const IIEValue* keyword : keywords) {
      if (written.Equals(keyword)) {
        return i;
      }
    }
  }
  return -1;
}

class TBindFunction final : public TIEUserFunction {
 public:
  TBindFunction() : TIEUserFunction(BindFunctionName, BindComment, BindSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> value = Eval(call, 1, context);
    IIEValue* variable = call.Argument(0);
    if (variable->DType() == TIEType::dtVariable) {
      if (TIEValue* own = TIEValue::Exactly(*variable)) {
        context.SetVariable(*own, value);  // finds the binding where it was last time
        return value;
      }
    }
    context.SetVariable(variable->AsString(), value);
    return value;
  }
};

class TExtractGlobalFunction final : public TIEUserFunction {
 public:
  TExtractGlobalFunction()
      : TIEUserFunction(ExtractGlobalFunctionName, ExtractGlobalComment, ExtractGlobalSyntax, 1,
                        1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const TIEType kind = call.Argument(0)->DType();
    if (kind == TIEType::dtVariable || kind == TIEType::dtMultiVariable) {
      return Eval(call, 0, context);
    }
    const TBinding* binding = context.FindBinding(EvalText(call, 0, context));
    return Ref<IIEValue>(binding != nullptr ? binding->Value() : nullptr);
  }
};

class TIfFunction final : public TIEUserFunction {
 public:
  TIfFunction() : TIEUserFunction(IfFunctionName, IfComment, IfSyntax, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    if (!call.Argument(1)->Equals(&FCThen())) {
      RaiseIE(SSyntaxError, SMissingThen);
    }
    const bool holds = !IsFalse(*Eval(call, 0, context));
    const int count = call.ArgumentCount();
    const int else_at = FindKeyword(call, 2, {&FCElse()});
    Ref<IIEValue> result = BoolValue(false);
    if (holds) {
      EvalSequence(call, 2, else_at < 0 ? count : else_at, context, result);
    } else if (else_at >= 0) {
      EvalSequence(call, else_at + 1, count, context, result);
    }
    return result;
  }
};

// while: the result is the last value of the condition, FALSE when the loop
// ends by itself, or what `return` handed up.
class TWhileFunction final : public TIEUserFunction {
 public:
  TWhileFunction() : TIEUserFunction(WhileFunctionName, WhileComment, WhileSyntax, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const int body = call.Argument(1)->Equals(&FCDo()) ? 2 : 1;
    Ref<IIEValue> result = Eval(call, 0, context);
    TEngineBudget& budget = EngineOf(context).Budget();
    while (!IsFalse(*result)) {
      budget.ChargeLoopIteration();
      if (EvalSequence(call, body, call.ArgumentCount(), context, result)) {
        return result;
      }
      result = Eval(call, 0, context);
    }
    return result;
  }
};

// foreach: the variable is named as written (a plain symbol such as i, or the
// variable ?i itself) and read in the body as ?i.
class TForEachFunction final : public TIEUserFunction {
 public:
  TForEachFunction() : TIEUserFunction(ForEachFunctionName, ForEachComment, ForEachSyntax, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const std::string name = VariableName(call, 0, context);
    Ref<IIEValue> list = Eval(call, 1, context);
    // The body may change the list it walks; the walk follows the items it had.
    const std::span<const Ref<IIEValue>> values = list->AsList()->Values();
    const std::vector<Ref<IIEValue>> items(values.begin(), values.end());
    Ref<IIEValue> result(&FCNil());
    for (const Ref<IIEValue>& item : items) {
      context.SetVariable(name, item ? item->Resolve(&context) : Ref<IIEValue>(&FCNil()));
      if (EvalSequence(call, 2, call.ArgumentCount(), context, result)) {
        break;
      }
    }
    return result;
  }
};

// try: see the top of this file. Errors of every kind are caught, except the
// silent stop (exit), exhausted memory and an exceeded engine limit.
class TTryFunction final : public TIEUserFunction {
 public:
  TTryFunction() : TIEUserFunction(TryFunctionName, TryComment, TrySyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const int count = call.ArgumentCount();
    const int finally_at = FindKeyword(call, 0, {&FCFinally()});
    const int catch_at = FindKeyword(call, finally_at + 1, {&FCCatch(), &FCExcept()});
    if (finally_at < 0 && catch_at < 0) {
      RaiseIEPlain(SMissingCatchStatement);
    }
    Ref<IIEValue> result(&FCNil());
    std::optional<std::string> error;
    bool returned = Protect(error, [&] {
      return EvalSequence(call, 0, finally_at >= 0 ? finally_at : catch_at, context, result);
    });
    if (finally_at >= 0) {
      Ref<IIEValue> pending(returned ? context.ReturnValue() : nullptr);
      context.ClearReturnValue();
      const bool finally_returned = Protect(error, [&] {
        return EvalSequence(call, finally_at + 1, catch_at >= 0 ? catch_at : count, context,
                            result);
      });
      if (finally_returned) {
        return result;
      }
      if (returned && !error) {
        context.SetReturnValue(pending);
        return pending;
      }
    }
    if (returned && !error) {
      return result;
    }
    if (error) {
      result = BoolValue(false);
      context.SetVariable("__ERROR", TIEValue::String(*error));
      if (catch_at >= 0) {
        EvalSequence(call, catch_at + 1, count, context, result);
      }
    }
    return result;
  }

 private:
  // Runs `part`; an error it raises is kept in `error` and the result is false.
  template <class Part>
  static bool Protect(std::optional<std::string>& error, Part part) {
    try {
      return part();
    } catch (const EAbort&) {
      throw;
    } catch (const ELimitExceeded&) {
      throw;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
  }
};

class TThrowFunction final : public TIEUserFunction {
 public:
  TThrowFunction() : TIEUserFunction(ThrowFunctionName, ThrowComment, ThrowSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    throw EThrownException(EvalText(call, 0, context));
  }
};

// return: hands its argument up as written; whoever stops at the flag
// evaluates it.
class TReturnFunction final : public TIEUserFunction {
 public:
  TReturnFunction() : TIEUserFunction(ReturnFunctionName, ReturnComment, ReturnSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> expression(call.Argument(0));
    context.SetReturnValue(expression);
    return expression;
  }
};

class THaltFunction final : public TIEUserFunction {
 public:
  THaltFunction() : TIEUserFunction(HaltFunctionName, HaltComment, HaltSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    EngineOf(context).Halt();
    return BoolValue(true);
  }
};

class TExitFunction final : public TIEUserFunction {
 public:
  TExitFunction() : TIEUserFunction(ExitFunctionName, ExitComment, ExitSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& /*context*/) override { throw EExitRequest(); }
};

}  // namespace

void AddStandardFlowFunctions(TUserPackage& package) {
  package.AddFunction<TBindFunction>();
  package.AddFunction<TExtractGlobalFunction>();
  package.AddFunction<TIfFunction>();
  package.AddFunction<TWhileFunction>();
  package.AddFunction<TForEachFunction>();
  package.AddFunction<TTryFunction>();
  package.AddFunction<TThrowFunction>();
  package.AddFunction<TReturnFunction>();
  package.AddFunction<THaltFunction>();
  package.AddFunction<TExitFunction>();
}

}  // namespace zephro

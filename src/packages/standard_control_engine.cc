// The engine commands: running, resetting and clearing, symbols, the value
// store, the fact duplication setting, tracing and backward chaining.
//
// Two commands refuse to act from inside a firing rule, where they would pull
// the ground from under the run loop: `run` does nothing there and returns 0
// (the loop that is already running goes on firing), and `clear`, which would
// free the very rule whose actions are running, raises "clear error: ...".

#include <string>

#include "zephro/engine/collections.h"
#include "zephro/facts/fact_template.h"
#include "zephro/functions/user_package.h"
#include "zephro/packages/standard_control.h"

#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

// run: the limit is evaluated like any argument; a literal, the usual form,
// stands for itself.
class TRunFunction final : public TIEUserFunction {
 public:
  TRunFunction() : TIEUserFunction(RunFunctionName, RunComment, RunSyntax, 0, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    if (engine.FiringActivation() != nullptr) {
      return TIEValue::Integer(0);
    }
    const int fired =
        call.ArgumentCount() == 0 ? engine.Run() : engine.Run(EvalInteger(call, 0, context));
    return TIEValue::Integer(fired);
  }
};

class TResetFunction final : public TIEUserFunction {
 public:
  TResetFunction() : TIEUserFunction(ResetFunctionName, ResetComment, ResetSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    EngineOf(context).Reset();
    return BoolValue(true);
  }
};

class TClearFunction final : public TIEUserFunction {
 public:
  TClearFunction() : TIEUserFunction(ClearFunctionName, ClearComment, ClearSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    if (engine.FiringActivation() != nullptr) {
      RaiseError("cannot clear the engine while a rule is firing");
    }
    engine.Clear();
    return BoolValue(true);
  }
};

class TVersionFunction final : public TIEUserFunction {
 public:
  TVersionFunction() : TIEUserFunction(VersionFunctionName, VersionComment, VersionSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& /*context*/) override {
    return TIEValue::Float(kEngineVersion);
  }
};

class TGenSymStarFunction final : public TIEUserFunction {
 public:
  TGenSymStarFunction()
      : TIEUserFunction(GenSymStarFunctionName, GenSymStarComment, GenSymStarSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    return TIEValue::Atom(EngineOf(context).GenerateSymbol("gen"));
  }
};

// store: the value is evaluated before the key. Storing nil keeps an empty
// entry, which fetch reads back as nil.
class TStoreFunction final : public TIEUserFunction {
 public:
  TStoreFunction() : TIEUserFunction(StoreFunctionName, StoreComment, StoreSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> value = Eval(call, 1, context);
    const std::string key = EvalText(call, 0, context);
    if (value->Equals(&FCNil())) {
      value = nullptr;
    }
    EngineOf(context).EngineVariables().Put(key, value);
    return value;
  }
};

class TFetchFunction final : public TIEUserFunction {
 public:
  TFetchFunction() : TIEUserFunction(FetchFunctionName, FetchComment, FetchSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return Ref<IIEValue>(EngineOf(context).EngineVariables().Get(EvalText(call, 0, context)));
  }
};

class TClearStorageFunction final : public TIEUserFunction {
 public:
  TClearStorageFunction()
      : TIEUserFunction(ClearStorageFunctionName, ClearStorageComment, ClearStorageSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    EngineOf(context).EngineVariables().Clear();
    return nullptr;
  }
};

// The fact duplication functions speak of the opposite of the engine's
// FactDuplication property: TRUE means duplicates are ignored.
class TGetFactDuplicationFunction final : public TIEUserFunction {
 public:
  TGetFactDuplicationFunction()
      : TIEUserFunction(GetFactDuplicationFunctionName, GetFactDuplicationComment,
                        GetFactDuplicationSyntax, 0, 0) {}

 protected:
  Ref<IIEValue> Run(IFunCall& /*call*/, TIEContext& context) override {
    return BoolValue(!EngineOf(context).FactDuplication());
  }
};

class TSetFactDuplicationFunction final : public TIEUserFunction {
 public:
  TSetFactDuplicationFunction()
      : TIEUserFunction(SetFactDuplicationFunctionName, SetFactDuplicationComment,
                        SetFactDuplicationSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    Ref<IIEValue> previous = BoolValue(!engine.FactDuplication());
    engine.SetFactDuplication(IsFalse(*Eval(call, 0, context)));
    return previous;
  }
};

// watch and unwatch: the word names members of the watch set, compared
// case-sensitively; "all" names all five. watch adds them, unwatch removes them.
class TWatchSetFunction : public TIEUserFunction {
 protected:
  TWatchSetFunction(const char* name, const char* comment, const char* syntax, bool adds)
      : TIEUserFunction(name, comment, syntax, 1, 1), adds_(adds) {}

  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) final {
    using enum TConstructWatch;
    TInferenceEngine& engine = EngineOf(context);
    const std::string word = EvalText(call, 0, context);
    TConstructWatches items;
    if (word == "all") {
      items = {cwActivation, cwFact, cwRule, cwCompilation, cwStatistics};
    } else if (word == "rules") {
      items = {cwRule};
    } else if (word == "facts") {
      items = {cwFact};
    } else if (word == "activations") {
      items = {cwActivation};
    } else if (word == "compilations") {
      items = {cwCompilation};
    } else if (word == "statistics") {
      items = {cwStatistics};
    } else if (adds_) {
      RaiseIE(SCannotWatch, word.c_str());
    } else {
      RaiseIE(SCannotUnWatch, word.c_str());
    }
    engine.SetWatch(adds_ ? engine.Watch() | items : engine.Watch() - items);
    return BoolValue(true);
  }

 private:
  bool adds_;
};

class TWatchFunction final : public TWatchSetFunction {
 public:
  TWatchFunction() : TWatchSetFunction(WatchFunctionName, WatchComment, WatchSyntax, true) {}
};

class TUnwatchFunction final : public TWatchSetFunction {
 public:
  TUnwatchFunction()
      : TWatchSetFunction(UnwatchFunctionName, UnwatchComment, UnwatchSyntax, false) {}
};

// do-backward-chaining: marks each template (made as an implied template when
// unknown) and gives it its goal template "need-<name>", whose facts ask rules
// for facts of the template.
class TDoBackwardChainingFunction final : public TIEUserFunction {
 public:
  TDoBackwardChainingFunction()
      : TIEUserFunction(DoBackwardChainingFunctionName, DoBackwardChainingComment,
                        DoBackwardChainingSyntax) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      const std::string name = EvalText(call, i, context);
      if (name == STestCE || name == "not") {
        RaiseIE(SBackChainCE, name.c_str());
      }
      IFactTemplate& goal_of = engine.CreateFactTemplate(name);
      goal_of.SetBackwardChaining(true);
      const IFactTemplate* existing = engine.FindFactTemplate(SBackChainPrefix + name);
      if (existing != nullptr && existing->Parent() == &goal_of) {
        continue;  // asked before (or loaded with its goal template)
      }
      Ref<IFactTemplate> goal = MakeRef<TFactTemplate>(&engine, SBackChainPrefix + name,
                                                       "Goal seeker for " + name, &goal_of);
      goal->SetBackwardChaining(false);
      engine.AddFactTemplate(std::move(goal));
    }
    return BoolValue(true);
  }
};

}  // namespace

void AddStandardEngineFunctions(TUserPackage& package) {
  package.AddFunction<TRunFunction>();
  package.AddFunction<TResetFunction>();
  package.AddFunction<TClearFunction>();
  package.AddFunction<TVersionFunction>();
  package.AddFunction<TGenSymStarFunction>();
  package.AddFunction<TStoreFunction>();
  package.AddFunction<TFetchFunction>();
  package.AddFunction<TClearStorageFunction>();
  package.AddFunction<TGetFactDuplicationFunction>();
  package.AddFunction<TSetFactDuplicationFunction>();
  package.AddFunction<TWatchFunction>();
  package.AddFunction<TUnwatchFunction>();
  package.AddFunction<TDoBackwardChainingFunction>();
}

}  // namespace zephro

#pragma once

// What the files of the standard package's control half share: the groups
// each file registers, and small helpers for function bodies.

#include <cstdint>
#include <string>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {

class TUserPackage;

// The groups, in the order the package lists them.
void AddStandardLogicFunctions(TUserPackage& package);
void AddStandardFactFunctions(TUserPackage& package);
void AddStandardFlowFunctions(TUserPackage& package);
void AddStandardEngineFunctions(TUserPackage& package);

// The engine a function runs for. Raises "Unknown/Undefined Inference Engine"
// for a context without one.
inline TInferenceEngine& EngineOf(const TIEContext& context) {
  TInferenceEngine* engine = context.Engine();
  if (engine == nullptr) {
    RaiseIEPlain(SUnknownEngine);
  }
  return *engine;
}

inline bool IsFalse(const IIEValue& value) {
  return value.Equals(&FCFalse());
}

// TRUE or FALSE.
inline Ref<IIEValue> BooleanValue(bool b) {
  return Ref<IIEValue>(b ? &FCTrue() : &FCFalse());
}

inline Ref<IIEValue> FactIdValue(std::int32_t id) {
  return MakeRef<TIEValue>(id, TIEType::dtFactId);
}

// The fact with `id` in working memory; raises "No Such Fact with ID=<id>
// exists" when there is none.
inline Ref<IFact> FactWithId(TInferenceEngine& engine, std::int32_t id) {
  IFact* fact = engine.Facts().GetFactByID(id);
  if (fact == nullptr) {
    RaiseIE(SNoSuchFact, std::to_string(id).c_str());
  }
  return Ref<IFact>(fact);
}

// Evaluates arguments [first, last) of `call` in order into `result`. Returns
// true, with the context's return value in `result`, as soon as one of them
// raised the return flag; `result` is left alone for an empty range.
inline bool EvalSequence(IFunCall& call, int first, int last, TIEContext& context,
                         Ref<IIEValue>& result) {
  for (int i = first; i < last; ++i) {
    result = call.Argument(i)->Resolve(&context);
    if (context.ReturnFlag()) {
      result = Ref<IIEValue>(context.ReturnValue());
      if (!result) {
        result = Ref<IIEValue>(&FCNil());
      }
      return true;
    }
  }
  return false;
}

}  // namespace zephro

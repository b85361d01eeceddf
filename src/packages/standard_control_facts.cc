// The fact base commands. Facts written in a call (assert's arguments) are
// templates of the facts to assert: each is cloned and its slot expressions
// evaluated in the caller's context before the engine asserts the clone, so
// the same call asserts new facts every time it runs. modify and duplicate get
// their changes as lists (slot-name expression...), which they read as
// written and evaluate themselves.
//
// modify computes every new slot value on a copy before the fact leaves
// working memory, so an error in an expression or a bad slot name leaves
// working memory as it was.

#include <string>

#include "zephro/engine/collections.h"
#include "zephro/facts/fact.h"
#include "zephro/functions/user_package.h"
#include "zephro/packages/standard_control.h"
#include "zephro/values/type_set_text.h"
#include "zephro/values/value_vector.h"

#include "packages/standard_control_internal.h"

namespace zephro {
namespace {

// The id a value names: the id of a fact value (a pattern binding), else the
// value taken as a fact id.
std::int32_t FactIdOf(const IIEValue& value) {
  if (value.DType() == TIEType::dtFact && value.AsFact() != nullptr) {
    return value.AsFact()->GetID();
  }
  return value.AsFactId();
}

// Sets the slots named by arguments 1.. of `call` on `fact`. Each argument is a
// list: the slot name, then the value as the parser groups it (one expression,
// or a list of the expressions when there are several) or the expressions one
// by one. A multislot takes the values of all expressions, lists among them
// spliced in; a single slot takes the value of the first expression.
void ApplySlotChanges(IFunCall& call, TIEContext& context, IFact& fact) {
  IFactTemplate* fact_template = fact.Template();
  if (fact_template == nullptr) {
    RaiseIEPlain(SNoTemplate);
  }
  for (int i = 1; i < call.ArgumentCount(); ++i) {
    Ref<IIEValue> change = call.Argument(i)->Resolve(&context);
    const IValueVector& items = *change->AsList();
    const std::string name = items.Get(0)->AsString();
    // The name is looked up once; the position serves for storing too unless
    // evaluating the value changed the template's slots.
    const std::uint64_t serial = fact_template->LayoutSerial();
    const int index = fact_template->SlotIndex(name);
    const IFactSlot& slot =
        *(index >= 0 ? fact_template->SlotAt(index) : fact_template->GetSlot(name));
    const int count = items.ValueCount();
    Ref<IIEValue> value;
    if (slot.IsMultiSlot()) {
      const TValueVector expressions(
          std::vector<Ref<IIEValue>>(items.Values().begin() + 1, items.Values().end()));
      const bool grouped = count == 2 && items.Get(1)->DType() == TIEType::dtList;
      const IValueVector& source =
          grouped ? *items.Get(1)->AsList() : static_cast<const IValueVector&>(expressions);
      value = MakeRef<TIEValue>(context.ExpandList(source));
    } else if (count >= 2) {
      value = items.Get(1)->Resolve(&context);
    } else {
      RaiseIE(SBadSlotValue, change->ToString().c_str());
    }
    if (index >= 0 && serial != 0 && fact_template->LayoutSerial() == serial) {
      fact.SetValueAt(index, std::move(value));
    } else {
      fact.SetValue(name, std::move(value));
    }
  }
}

// A copy of `fact` whose slots are about to be given new values: for the
// engine's own facts one that shares the values it keeps (see
// TFact::CopyForChange), else a clone.
Ref<IFact> CopyForChange(IFact& fact) {
  if (const TFact* own = TFact::Exactly(fact)) {
    return own->CopyForChange();
  }
  return fact.Clone();
}

class TAssertFunction final : public TIEUserFunction {
 public:
  TAssertFunction() : TIEUserFunction(AssertFunctionName, AssertComment, AssertSyntax) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    std::int32_t id = -1;
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      Ref<IFact> fact = CopyForChange(*Eval(call, i, context)->AsFact());
      context.Resolve(*fact);
      id = engine.Assert(std::move(fact), false);
    }
    return id < 0 ? BoolValue(false) : FactIdValue(id);
  }
};

class TAssertStringFunction final : public TIEUserFunction {
 public:
  TAssertStringFunction()
      : TIEUserFunction(AssertStringFunctionName, AssertStringComment, AssertStringSyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    std::int32_t id = -1;
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      id = engine.Assert(EvalText(call, i, context));
    }
    return FactIdValue(id);
  }
};

// retract: (retract *) empties working memory; otherwise each id's fact is
// retracted, and ids without a fact are passed over.
class TRetractFunction final : public TIEUserFunction {
 public:
  TRetractFunction() : TIEUserFunction(RetractFunctionName, RetractComment, RetractSyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    Ref<IIEValue> first = Eval(call, 0, context);
    if (first->DType() == TIEType::dtAtom && first->Text() == "*") {
      engine.Facts().Clear();
      return BoolValue(true);
    }
    engine.Retract(FactIdOf(*first));
    for (int i = 1; i < call.ArgumentCount(); ++i) {
      engine.Retract(FactIdOf(*Eval(call, i, context)));
    }
    return BoolValue(true);
  }
};

class TRetractStringFunction final : public TIEUserFunction {
 public:
  TRetractStringFunction()
      : TIEUserFunction(RetractStringFunctionName, RetractStringComment, RetractStringSyntax) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      engine.Retract(std::string_view(EvalText(call, i, context)));
    }
    return BoolValue(true);
  }
};

class TModifyFunction final : public TIEUserFunction {
 public:
  TModifyFunction() : TIEUserFunction(ModifyFunctionName, ModifyComment, ModifySyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    Ref<IFact> fact = FactWithId(engine, FactIdOf(*Eval(call, 0, context)));
    Ref<IFact> changed = CopyForChange(*fact);
    ApplySlotChanges(call, context, *changed);
    context.Resolve(*changed);
    if (engine.Matching()) {
      // Called by a predicate while a fact moves through the network: the
      // fact cannot change in place, so the change waits, as a retraction of
      // the fact and an assertion of the changed copy.
      engine.RetractFact(*fact);
      changed->SetID(-1);
      return FactIdValue(engine.Assert(std::move(changed)));
    }
    engine.BeginFactModify(*fact);
    TFact* own = TFact::Exactly(*fact);
    TFact* scratch = TFact::Exactly(*changed);
    if (own != nullptr && scratch != nullptr) {
      own->TakeValues(*scratch);  // the copy is dropped: its values need no cloning
    } else {
      fact->AssignValues(*changed);
    }
    return FactIdValue(engine.EndFactModify(fact));
  }
};

class TDuplicateFunction final : public TIEUserFunction {
 public:
  TDuplicateFunction()
      : TIEUserFunction(DuplicateFunctionName, DuplicateComment, DuplicateSyntax, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TInferenceEngine& engine = EngineOf(context);
    Ref<IFact> copy = FactWithId(engine, FactIdOf(*Eval(call, 0, context)))->Clone();
    copy->SetID(-1);
    ApplySlotChanges(call, context, *copy);
    return FactIdValue(engine.Assert(std::move(copy), false));
  }
};

// get-slot-value: the fact by id, or the fact itself; the slot "__Data" (the
// fields of an ordered fact) when no slot is named.
class TGetSlotValueFunction final : public TIEUserFunction {
 public:
  TGetSlotValueFunction()
      : TIEUserFunction(GetSlotValueFunctionName, GetSlotValueComment, GetSlotValueSyntax, 1, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    Ref<IIEValue> target = Eval(call, 0, context);
    Ref<IFact> fact;
    switch (target->DType()) {
      case TIEType::dtInteger:
      case TIEType::dtFactId:
        fact = FactWithId(EngineOf(context), target->AsFactId());
        break;
      case TIEType::dtFact:
        fact = Ref<IFact>(target->AsFact());
        if (!fact) {
          RaiseIE(SNoSuchFact, target->ToString().c_str());
        }
        break;
      default:
        RaiseIE(SInvalidArgType, std::string(IETypeName(target->DType())).c_str(),
                SetToString({TIEType::dtFactId, TIEType::dtFact}, ", ", false).c_str());
    }
    const std::string slot =
        call.ArgumentCount() > 1 ? EvalText(call, 1, context) : std::string(SDefaultSlotName);
    return fact->GetValue(slot)->Clone();
  }
};

}  // namespace

void AddStandardFactFunctions(TUserPackage& package) {
  package.AddFunction<TAssertFunction>();
  package.AddFunction<TAssertStringFunction>();
  package.AddFunction<TRetractFunction>();
  package.AddFunction<TRetractStringFunction>();
  package.AddFunction<TModifyFunction>();
  package.AddFunction<TDuplicateFunction>();
  package.AddFunction<TGetSlotValueFunction>();
}

}  // namespace zephro

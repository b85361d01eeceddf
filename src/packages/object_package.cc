// The object package. Each function reads its arguments as objects, classes
// or names and works through the platform's reflection layer: class
// descriptions found by name, published properties read and written by kind,
// components found among their owner's. The platform's own errors (casts,
// unknown classes, values a property refuses) pass through unchanged and come
// out of the function as "<name> error: <message>".

#include "zephro/packages/object_package.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/platform/actions.h"
#include "zephro/platform/class_registry.h"
#include "zephro/platform/component.h"
#include "zephro/platform/controls.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/object.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

ZEPHRO_DEFINE_CLASS(TObjectPackage);

namespace {

// True when `component` is `outer` or is owned by it, at any depth.
bool IsOwnedBy(const TComponent& component, const TComponent& outer) noexcept {
  for (const TComponent* c = &component; c != nullptr; c = c->Owner()) {
    if (c == &outer) {
      return true;
    }
  }
  return false;
}

// The class of a class value that must make an instance: a nil class cannot.
const TClassInfo& ClassToCreate(const TClassInfo* cls) {
  if (cls == nullptr) {
    RaisePlatformError("Cannot create an instance of %s", "nil");
  }
  return *cls;
}

// Base of the package's functions: arguments read as objects and classes.
class TObjectFunction : public TIEUserFunction {
 protected:
  using TIEUserFunction::TIEUserFunction;
  ~TObjectFunction() override = default;

  // The object argument `index` holds (null for no object, or one since freed);
  // another kind raises the conversion error.
  static TObject* ObjectArgument(IFunCall& call, int index, TIEContext& context) {
    return Eval(call, index, context)->AsObject();
  }
  // The object argument `index` holds, cast to T: null stays null, an object of
  // another class raises the platform's cast error.
  template <class T>
  static T* ArgumentAs(IFunCall& call, int index, TIEContext& context) {
    return CastObject<T>(ObjectArgument(call, index, context));
  }
  static const TClassInfo* ClassArgument(IFunCall& call, int index, TIEContext& context) {
    return Eval(call, index, context)->AsClass();
  }

  // The owner of the engine the call runs in, or null.
  static TComponent* EngineOwner(const TIEContext& context) noexcept {
    const TInferenceEngine* engine = context.Engine();
    return engine != nullptr ? engine->Owner() : nullptr;
  }

  // `component`, which must be there: else the missing-component error.
  TComponent& Searched(TComponent* component) const {
    if (component == nullptr) {
      RaiseIE(SMissingComponent, FunctionName().c_str());
    }
    return *component;
  }

  // The object of argument 0 and its published property named by argument 1;
  // the property is null when there is no object or its class publishes no
  // property of that name.
  struct TObjectProperty {
    TObject* object;
    const TPropertyInfo* property;
  };
  static TObjectProperty PropertyArguments(IFunCall& call, TIEContext& context) {
    TObject* object = ObjectArgument(call, 0, context);
    const std::string name = EvalText(call, 1, context);
    return {object, object != nullptr ? object->ClassType().FindProperty(name) : nullptr};
  }

  // A value holding `object`, which it does not own.
  static Ref<IIEValue> ObjectValue(TObject* object) { return MakeRef<TIEValue>(object, false); }
  // A new multifield of `items`.
  static Ref<IIEValue> ListValue(std::vector<Ref<IIEValue>> items) {
    return MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(items))));
  }
};

// (create-component <class> <owner> [<parent>])
class TCreateComponentFunction final : public TObjectFunction {
 public:
  TCreateComponentFunction()
      : TObjectFunction(CreateComponentFunctionName, CreateComponentComment, CreateComponentSyntax,
                        2, 3) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const TClassInfo& cls = ClassToCreate(ClassArgument(call, 0, context));
    TComponent* owner = ArgumentAs<TComponent>(call, 1, context);
    const bool with_parent = call.ArgumentCount() > 2;
    TWinControl* parent = with_parent ? ArgumentAs<TWinControl>(call, 2, context) : nullptr;
    // Every check before the component exists, so that a refusal leaves nothing
    // behind (a component without owner would have nobody to free it).
    if (with_parent && !cls.InheritsFrom(TControl::StaticClass())) {
      RaiseCastError(cls, TControl::StaticClass());
    }
    TComponent& component = cls.CreateComponent(owner);
    if (with_parent) {
      static_cast<TControl&>(component).SetParent(parent);
    }
    return ObjectValue(&component);
  }
};

// (create-object <class>)
class TCreateObjectFunction final : public TObjectFunction {
 public:
  TCreateObjectFunction()
      : TObjectFunction(CreateObjectFunctionName, CreateObjectComment, CreateObjectSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const TClassInfo& cls = ClassToCreate(ClassArgument(call, 0, context));
    return ObjectValue(cls.CreateInstance().release());  // free-object frees it
  }
};

// (execute-action <action>)
class TExecuteActionFunction final : public TObjectFunction {
 public:
  TExecuteActionFunction()
      : TObjectFunction(ExecuteActionFunctionName, ExecuteActionComment, ExecuteActionSyntax, 1,
                        1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TBasicAction* action = ArgumentAs<TBasicAction>(call, 0, context);
    return BoolValue(action != nullptr && action->Execute());
  }
};

// (free-object <object>*)
class TFreeObjectFunction final : public TObjectFunction {
 public:
  TFreeObjectFunction()
      : TObjectFunction(FreeObjectFunctionName, FreeObjectComment, FreeObjectSyntax, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      TObject* object = ObjectArgument(call, i, context);
      if (object == nullptr) {
        continue;
      }
      if (auto* component = dynamic_cast<TComponent*>(object)) {
        if (component->ComponentState().Contains(TComponentStateFlag::csDestroying)) {
          continue;  // its owner is freeing it already
        }
        CheckEngineDoesNotNeed(*component, context);
      }
      FreeObject(object);
    }
    return BoolValue(true);
  }

 private:
  // The engine running the call, its owners and what it owns must outlive the call.
  static void CheckEngineDoesNotNeed(const TComponent& component, const TIEContext& context) {
    const TInferenceEngine* engine = context.Engine();
    if (engine != nullptr && (IsOwnedBy(*engine, component) || IsOwnedBy(component, *engine))) {
      const std::string& shown =
          component.Name().empty() ? component.ClassName() : component.Name();
      RaiseIE(SFreeEngineObject, shown.c_str());
    }
  }
};

// (get-component), (get-component <name>), (get-component <component> <name>)
class TGetComponentFunction final : public TObjectFunction {
 public:
  TGetComponentFunction()
      : TObjectFunction(GetComponentFunctionName, GetComponentComment, GetComponentSyntax, 0, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TComponent* found = nullptr;
    switch (call.ArgumentCount()) {
      case 0:
        found = EngineOwner(context);
        break;
      case 1:
        found = Searched(EngineOwner(context)).FindComponent(EvalText(call, 0, context));
        break;
      default: {
        TComponent* searched = ArgumentAs<TComponent>(call, 0, context);
        found = Searched(searched).FindComponent(EvalText(call, 1, context));
        break;
      }
    }
    return found != nullptr ? ObjectValue(found) : BoolValue(false);
  }
};

// (get-components [<component>])
class TGetComponentsFunction final : public TObjectFunction {
 public:
  TGetComponentsFunction()
      : TObjectFunction(GetComponentsFunctionName, GetComponentsComment, GetComponentsSyntax, 0,
                        1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    TComponent& owner =
        Searched(call.ArgumentCount() == 0 ? EngineOwner(context)
                                           : ArgumentAs<TComponent>(call, 0, context));
    std::vector<Ref<IIEValue>> components;
    components.reserve(static_cast<std::size_t>(owner.ComponentCount()));
    for (int i = 0; i < owner.ComponentCount(); ++i) {
      components.push_back(ObjectValue(&owner.Component(i)));
    }
    return ListValue(std::move(components));
  }
};

// (get-property <object> <name>)
class TGetPropertyFunction final : public TObjectFunction {
 public:
  TGetPropertyFunction()
      : TObjectFunction(GetPropertyFunctionName, GetPropertyComment, GetPropertySyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const auto [object, property] = PropertyArguments(call, context);
    Ref<TIEValue> result = MakeRef<TIEValue>();
    if (property == nullptr) {
      return result;
    }
    if (property->Kind() == TPropertyKind::kMethod) {
      RaisePropertyTypeError(property->Kind());
    }
    const TPropertyValue value = property->Get(*object);
    switch (property->Kind()) {
      case TPropertyKind::kInteger: {
        const std::int64_t number = std::get<std::int64_t>(value);
        if (number < std::numeric_limits<std::int32_t>::min() ||
            number > std::numeric_limits<std::int32_t>::max()) {
          RaiseIE(SIntegerOverflow, FunctionName().c_str());
        }
        result->SetAsInteger(static_cast<std::int32_t>(number));
        break;
      }
      case TPropertyKind::kString:
      case TPropertyKind::kSet:  // its members' names as "[a,c]"
        result->SetAsString(std::get<std::string>(value));
        break;
      case TPropertyKind::kEnumeration:
        result->SetAsAtom(std::get<std::string>(value));
        break;
      case TPropertyKind::kFloat:
        result->SetAsFloat(std::get<double>(value));
        break;
      case TPropertyKind::kClass:
        result->SetAsObject(std::get<TObject*>(value));
        break;
      case TPropertyKind::kMethod:
        break;  // refused above
    }
    return result;
  }
};

// (get-properties <object>)
class TGetPropertiesFunction final : public TObjectFunction {
 public:
  TGetPropertiesFunction()
      : TObjectFunction(GetPropertiesFunctionName, GetPropertiesComment, GetPropertiesSyntax, 1,
                        1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const TObject* object = ObjectArgument(call, 0, context);
    if (object == nullptr) {
      return Ref<IIEValue>(&FCNil());
    }
    std::vector<Ref<IIEValue>> names;
    for (const TPropertyInfo* property : object->ClassType().Properties()) {
      if (property->Kind() != TPropertyKind::kMethod) {  // events have no value
        names.push_back(TIEValue::Atom(property->Name()));
      }
    }
    return ListValue(std::move(names));
  }
};

// (set-property <object> <name> <value>)
class TSetPropertyFunction final : public TObjectFunction {
 public:
  TSetPropertyFunction()
      : TObjectFunction(SetPropertyFunctionName, SetPropertyComment, SetPropertySyntax, 3, 3) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const auto [object, property] = PropertyArguments(call, context);
    if (property == nullptr) {
      return BoolValue(false);
    }
    TPropertyValue value;
    switch (property->Kind()) {
      case TPropertyKind::kInteger:
        value = std::int64_t{EvalInteger(call, 2, context)};
        break;
      case TPropertyKind::kString:
      case TPropertyKind::kEnumeration:  // by name, as the property parses it
      case TPropertyKind::kSet:
        value = EvalText(call, 2, context);
        break;
      case TPropertyKind::kFloat:
        value = EvalNumber(call, 2, context);
        break;
      case TPropertyKind::kClass:
        value = ObjectArgument(call, 2, context);
        break;
      case TPropertyKind::kMethod:
        return BoolValue(true);  // a handler is not set from a rule
    }
    property->Set(*object, value);
    return BoolValue(true);
  }
};

// (get-class <name>)
class TGetClassFunction final : public TObjectFunction {
 public:
  TGetClassFunction()
      : TObjectFunction(GetClassFunctionName, GetClassComment, GetClassSyntax, 1, 1) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return MakeRef<TIEValue>(&RequireClass(EvalText(call, 0, context)));
  }
};

// (is-class <object> <class>)
class TIsClassFunction final : public TObjectFunction {
 public:
  TIsClassFunction() : TObjectFunction(IsClassFunctionName, IsClassComment, IsClassSyntax, 2, 2) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    const TObject* object = ObjectArgument(call, 0, context);
    const TClassInfo* cls = ClassArgument(call, 1, context);
    return BoolValue(object != nullptr && cls != nullptr && object->InheritsFrom(*cls));
  }
};

}  // namespace

TObjectPackage::TObjectPackage(TComponent* owner) : TUserPackage(owner) {
  CreateFunctions();
}

void TObjectPackage::CreateFunctions() {
  TUserPackage::CreateFunctions();
  AddFunction<TCreateComponentFunction>();
  AddFunction<TCreateObjectFunction>();
  AddFunction<TExecuteActionFunction>();
  AddFunction<TFreeObjectFunction>();
  AddFunction<TGetComponentFunction>();
  AddFunction<TGetComponentsFunction>();
  AddFunction<TGetPropertyFunction>();
  AddFunction<TGetPropertiesFunction>();
  AddFunction<TSetPropertyFunction>();
  AddFunction<TGetClassFunction>();
  AddFunction<TIsClassFunction>();
}

}  // namespace zephro

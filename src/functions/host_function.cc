#include "zephro/functions/host_function.h"

#include <exception>
#include <utility>

#include "zephro/platform/class_registry.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {

// Tells its inner function when the owner component is freed. A component of
// its own because only components take part in free notification.
class TIEInnerFunction::Nexus final : public TComponent {
 public:
  Nexus(TIEInnerFunction& function, TComponent& owner) : TComponent(nullptr), function_(function) {
    FreeNotification(owner);
  }

 protected:
  void Notification(TComponent& component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) {
      function_.OwnerFreed();
    }
  }

 private:
  TIEInnerFunction& function_;
};

TIEInnerFunction::TIEInnerFunction(TObject* owner) : owner_(owner) {
  if (auto* component = dynamic_cast<TComponent*>(owner)) {
    nexus_ = std::make_unique<Nexus>(*this, *component);
  }
}

TIEInnerFunction::~TIEInnerFunction() = default;

Ref<IIEValue> TIEInnerFunction::Run(IFunCall& call, TIEContext& context) {
  if (owner_ == nullptr) {
    RaiseIE(SNoSuchFunction, FunctionName().c_str());
  }
  if (auto* component = dynamic_cast<TCustomUserFunction*>(owner_)) {
    return component->Call(call, context);
  }
  Ref<IIEValue> result(&FCNil());
  if (OnCall) {
    OnCall(*this, call, context, result);
  }
  return result;
}

ZEPHRO_DEFINE_CLASS(TCustomUserFunction);

ZEPHRO_DEFINE_CLASS(TUserFunction)
    .Property("ArgumentString", &TUserFunction::ArgumentString, &TUserFunction::SetArgumentString)
    .Property("Comment", &TUserFunction::Comment, &TUserFunction::SetComment)
    .Property("FunctionName", &TUserFunction::FunctionName, &TUserFunction::SetFunctionName)
    .Property("MaxArgumentCount", &TUserFunction::MaxArgumentCount,
              &TUserFunction::SetMaxArgumentCount)
    .Property("MinArgumentCount", &TUserFunction::MinArgumentCount,
              &TUserFunction::SetMinArgumentCount)
    .Property("Engine", &TUserFunction::Engine, &TUserFunction::SetEngine)
    .Event("OnCall",
           static_cast<TUserFunction::TCallEvent TUserFunction::*>(&TCustomUserFunction::OnCall));

TCustomUserFunction::TCustomUserFunction(TComponent* owner, std::string_view name)
    : TComponent(owner), inner_(TIEUserFunction::Make<TIEInnerFunction>(this)) {
  inner_->SetFunctionName(name);
}

TCustomUserFunction::~TCustomUserFunction() {
  // Leaves the engine; the inner function learns through its nexus that it has no
  // owner any more. A destructor must not throw, so a refusal by the engine is
  // ignored (the component has forgotten the engine before asking it).
  try {
    SetEngine(nullptr);
  } catch (const std::exception&) {
  }
}

void TCustomUserFunction::SetEngine(TComponent* engine) {
  if (engine == engine_) {
    return;
  }
  IReasoner* reasoner = EngineReasoner(engine);
  if (engine_ != nullptr) {
    RemoveFreeNotification(*engine_);
    IReasoner* old = std::exchange(reasoner_, nullptr);
    engine_ = nullptr;
    if (!FunctionName().empty()) {
      old->RemoveUserFunction(*inner_);
    }
  }
  if (engine != nullptr) {
    if (!FunctionName().empty()) {
      reasoner->AddUserFunction(*inner_);
    }
    engine_ = engine;
    reasoner_ = reasoner;
    FreeNotification(*engine);
  }
}

void TCustomUserFunction::SetFunctionName(std::string_view name) {
  if (name == FunctionName()) {
    return;
  }
  // Registered directly, so the engine is told here rather than through the
  // function's reasoner list.
  if (reasoner_ != nullptr && !FunctionName().empty()) {
    reasoner_->RemoveUserFunction(*inner_);
  }
  inner_->SetFunctionName(name);
  if (reasoner_ != nullptr && !name.empty()) {
    reasoner_->AddUserFunction(*inner_);
  }
}

Ref<IIEValue> TCustomUserFunction::Call(IFunCall& call, TIEContext& context) {
  Ref<IIEValue> result(&FCNil());
  if (OnCall && !ComponentState().Contains(TComponentStateFlag::csDesigning)) {
    OnCall(*this, call, context, result);
  }
  return result;
}

void TCustomUserFunction::Notification(TComponent& component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && &component == engine_) {
    // Must not throw; see the destructor.
    try {
      SetEngine(nullptr);
    } catch (const std::exception&) {
    }
  }
}

}  // namespace zephro

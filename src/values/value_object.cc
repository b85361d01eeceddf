// The parts of TIEValue that deal with platform objects: printing objects and
// classes, owning an object, copying an owned object, and learning through
// free notification that an owned component was destroyed elsewhere.

#include "zephro/platform/component.h"
#include "zephro/platform/object.h"
#include "zephro/platform/persistent.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "values/value_internal.h"

namespace zephro {

// Relays the destruction of an owned component to its value.
class TIEValue::Nexus final : public TComponent {
 public:
  Nexus(TIEValue& value, TComponent& component) : TComponent(nullptr), value_(value) {
    FreeNotification(component);
  }

  void Notification(TComponent& component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) {
      value_.OwnedComponentDestroyed(component);
    }
  }

 private:
  TIEValue& value_;  // not owned: the value owns this relay
};

std::string ObjectText(const TObject* object) {
  if (object == nullptr) {
    return std::string();
  }
  if (IsPatternBinding(object)) {
    return "<" + object->ClassName() + ": " + PatternBindingText(*object) + ">";
  }
  return "<Object: " + object->ClassName() + ">";
}

std::string ClassText(const TClassInfo* cls) {
  return cls != nullptr ? cls->ClassName() : std::string();
}

TObject* CopyOwnedObject(const TObject* object) {
  if (object == nullptr) {
    return nullptr;
  }
  if (const auto* component = dynamic_cast<const TComponent*>(object)) {
    if (component->Owner() != nullptr && component->ClassType().CanCreate()) {
      // A new instance of the same class with the same owner, assigned from it.
      TComponent& copy = component->ClassType().CreateComponent(*component->Owner());
      copy.Assign(*component);
      return &copy;
    }
  }
  if (const auto* persistent = dynamic_cast<const TPersistent*>(object)) {
    if (persistent->ClassType().CanCreate()) {
      return CloneObject(*persistent).release();
    }
  }
  RaiseIE(SUncloneableValue, object->ClassName().c_str());
}

TLiveness* HoldLiveness(TObject* object) {
  if (object == nullptr) {
    return nullptr;
  }
  TLiveness& block = object->Liveness();
  block.AddRef();
  return &block;
}

void TIEValue::TakeOwnedObject(TObject* object) {
  payload_.liveness = HoldLiveness(object);
  owns_object_ = object != nullptr;
  if (auto* component = dynamic_cast<TComponent*>(object)) {
    EnsureExtras().nexus = std::make_unique<Nexus>(*this, *component);
  }
}

void TIEValue::ReleaseObject() noexcept {
  TLiveness* block = std::exchange(payload_.liveness, nullptr);
  const bool owned = owns_object_;
  owns_object_ = false;
  if (block == nullptr) {
    return;
  }
  TObject* object = block->Object();  // null once freed elsewhere
  block->Release();
  if (!owned) {
    return;
  }
  if (extras_) {
    extras_->nexus.reset();
  }
  if (object == nullptr) {
    return;  // freed elsewhere (free-object, the host) before the value let go
  }
  auto* component = dynamic_cast<TComponent*>(object);
  if (component != nullptr && component->ComponentState().Contains(TComponentStateFlag::csDestroying)) {
    return;  // already on its way out
  }
  FreeObject(object);  // the value owned it
}

void TIEValue::OwnedComponentDestroyed(TComponent& component) {
  if (owns_object_ && ObjectOrNull() == &component) {
    // The component is being destroyed: forget it without freeing it again.
    owns_object_ = false;
    Reset();
  }
}

TIEValue::Extras::Extras() = default;
TIEValue::Extras::~Extras() = default;

}  // namespace zephro

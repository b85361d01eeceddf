#include "zephro/platform/component.h"

#include <algorithm>
#include <cassert>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/errors.h"

#include "platform/ascii.h"

namespace zephro {

using enum TComponentStateFlag;

ZEPHRO_DEFINE_CLASS(TComponent).Property("Name", &TComponent::Name, &TComponent::SetName);

TComponent::TComponent(TComponent* owner) {
  if (owner == nullptr) {
    return;
  }
  owner->OwnedForAdding().emplace_back(this);
  owner_ = owner;
  SetDesigning(owner->state_.Contains(csDesigning));
  try {
    owner->Notification(*this, TOperation::opInsert);
  } catch (...) {
    // This constructor fails, so no destructor will take the component out of the
    // list: do it here, without freeing (the new-expression frees the memory).
    static_cast<void>(owner->components_->back().release());
    owner->components_->pop_back();
    throw;
  }
}

TComponent::~TComponent() {
  BeginDestroy();
  DestroyComponents();
  // Registrations the derived destructors made after BeginDestroy.
  NotifyFreeNotifications();
}

void TComponent::operator delete(TComponent* component, std::destroying_delete_t) noexcept {
  // Tell the others while every part of the component still exists, then run the
  // destructors from the most derived one, then give the memory back. The block
  // starts at the most derived object, which need not be where TComponent starts.
  component->BeginDestroy();
  void* block = dynamic_cast<void*>(component);
  component->~TComponent();
  ::operator delete(block);
}

// Out of line on purpose: seen inline, the compiler pairs the global allocation with
// the destroying delete and reports a mismatch.
void* TComponent::operator new(std::size_t size) {
  return ::operator new(size);
}

void TComponent::operator delete(void* block) noexcept {
  ::operator delete(block);
}

void TComponent::BeginDestroy() noexcept {
  if (destroy_begun_) {
    return;
  }
  destroy_begun_ = true;
  MarkDestroying();
  NotifyFreeNotifications();
  if (owner_ != nullptr) {
    // The component is freeing itself: the owner only lets go.
    static_cast<void>(owner_->RemoveComponent(*this).release());
  }
  // Those told above could still look at the component through weak handles;
  // nobody after them can.
  EndLiveness();
}

void TComponent::MarkDestroying() noexcept {
  state_.Include(csDestroying);
  for (const auto& component : Owned()) {
    component->MarkDestroying();
  }
}

void TComponent::NotifyFreeNotifications() noexcept {
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    other->free_notifies_.erase_if([this](const TComponent* c) { return c == this; });
    other->Notification(*this, TOperation::opRemove);
  }
}

TComponent& TComponent::Component(int index) const {
  return *Owned()[CheckedIndex(index, ComponentCount())];
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) {
    return nullptr;
  }
  for (const auto& component : Owned()) {
    if (SameText(component->Name(), name)) {
      return component.get();
    }
  }
  return nullptr;
}

const std::string& TComponent::Name() const {
  static const std::string none;
  return name_ ? *name_ : none;
}

void TComponent::SetName(std::string name) {
  if (name.empty()) {
    name_.reset();
  } else if (name_) {
    *name_ = std::move(name);
  } else {
    name_ = std::make_unique<std::string>(std::move(name));
  }
}

const TComponent::TOwned& TComponent::Owned() const noexcept {
  static const TOwned none;
  return components_ ? *components_ : none;
}

TComponent::TOwned& TComponent::OwnedForAdding() {
  if (!components_) {
    components_ = std::make_unique<TOwned>();
  }
  return *components_;
}

void TComponent::SetDesigning(bool designing) {
  if (designing) {
    state_.Include(csDesigning);
  } else {
    state_.Exclude(csDesigning);
  }
  for (const auto& component : Owned()) {
    component->SetDesigning(designing);
  }
}

void TComponent::BeginLoading() {
  state_.Include(csLoading);
}

void TComponent::Loaded() {
  state_.Exclude(csLoading);
}

void TComponent::CancelLoading() {
  state_.Exclude(csLoading);
}

void TComponent::GetChildren(const std::function<void(TComponent&)>& proc) const {
  for (const auto& component : Owned()) {
    proc(*component);
  }
}

TComponent& TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
  assert(component != nullptr && component->owner_ == nullptr);
  TComponent& inserted = *component;
  OwnedForAdding().push_back(std::move(component));
  inserted.owner_ = this;
  inserted.SetDesigning(state_.Contains(csDesigning));
  Notification(inserted, TOperation::opInsert);
  return inserted;
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(TComponent& component) {
  // Where the component sits in the list, or null when it is not there.
  const auto place = [&]() -> std::unique_ptr<TComponent>* {
    if (!components_) {
      return nullptr;
    }
    const auto it = std::find_if(components_->begin(), components_->end(),
                                 [&](const auto& c) { return c.get() == &component; });
    return it != components_->end() ? &*it : nullptr;
  };
  if (place() == nullptr) {
    return nullptr;
  }
  Notification(component, TOperation::opRemove);
  // Notification may have changed the list.
  std::unique_ptr<TComponent>* at = place();
  if (at == nullptr) {
    return nullptr;
  }
  TOwned& list = *components_;
  const auto it = list.begin() + (at - list.data());
  std::unique_ptr<TComponent> result = std::move(*it);
  list.erase(it);
  component.owner_ = nullptr;
  return result;
}

void TComponent::DestroyComponents() {
  while (components_ && !components_->empty()) {
    std::unique_ptr<TComponent> component = std::move(components_->back());
    components_->pop_back();
    component->owner_ = nullptr;
    component.reset();
  }
}

void TComponent::FreeNotification(TComponent& other) {
  if (&other == this) {
    return;
  }
  // Each of the two lists the other: the shorter one tells whether they are
  // paired already (an engine lists thousands of rules, a rule a few
  // components).
  const bool mine_shorter = free_notifies_.size() <= other.free_notifies_.size();
  const TInlineVector<TComponent*>& shorter = mine_shorter ? free_notifies_ : other.free_notifies_;
  const TComponent* partner = mine_shorter ? &other : this;
  if (std::find(shorter.begin(), shorter.end(), partner) != shorter.end()) {
    return;
  }
  free_notifies_.push_back(&other);
  other.free_notifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent& other) {
  free_notifies_.erase_if([&](const TComponent* c) { return c == &other; });
  other.free_notifies_.erase_if([this](const TComponent* c) { return c == this; });
}

void TComponent::Notification(TComponent& /*component*/, TOperation /*operation*/) {}

void FreeObject(TObject* object) noexcept {
  if (auto* component = dynamic_cast<TComponent*>(object)) {
    delete component;
  } else {
    delete object;
  }
}

}  // namespace zephro

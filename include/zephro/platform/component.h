#pragma once

// TComponent: a persistent object with an owner, a name, components of its own and
// free notification, the unit the engine and its hosts assemble applications from.
//
// Ownership. A component created with an owner belongs to it from its constructor on:
// the owner frees its components when it is freed, the last first. A component without
// an owner belongs to whoever created it, normally through a std::unique_ptr. A
// component freed on its own (delete, unique_ptr, its owner's RemoveComponent result)
// leaves its owner's list, so owners never hold freed components. Components live on
// the heap; components are not reference counted.
//
//   TEngine* engine = ...;
//   TRule& rule = MakeOwned<TRule>(*engine);            // owned by the engine
//   auto form = std::make_unique<TForm>(nullptr);       // owned by the caller
//
// Free notification. FreeNotification(other) registers an interest of the two
// components in each other: when either is freed, the other's Notification(it,
// opRemove) runs, and the registration ends. Borrowed pointers between components are
// dropped in Notification, which must not throw.
//
// Destruction, in order: csDestroying is set on the component and everything it owns;
// every component registered for free notification and then the owner are told
// opRemove (the owner lets it go); weak handles to it (weak_object.h) read null from
// then on; the destructors run; the owned components are freed, the last first.
// Freeing through delete (which a unique_ptr does) tells the others while the
// component is still whole, so their Notification may inspect its class and state. A
// component destroyed without delete (on the stack, or when its constructor throws)
// tells them only from the base destructor, when the derived parts are gone: they see
// its identity only. A class whose owned components call back into it while being
// freed calls DestroyComponents() first thing in its own destructor. Put TComponent
// first among the bases of a class with several, and keep component classes at the
// default alignment.
//
// Thread safety: none; a component and its owner are used on one thread at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/platform/enum_set.h"
#include "zephro/platform/inline_vector.h"
#include "zephro/platform/persistent.h"

namespace zephro {

enum class TComponentStateFlag : std::uint8_t { csLoading, csDesigning, csDestroying };
using TComponentState = EnumSet<TComponentStateFlag>;

enum class TOperation : std::uint8_t { opInsert, opRemove };

class TComponent : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TComponent, TPersistent)

  // Joins `owner`'s components when there is one, takes its csDesigning state and
  // tells it opInsert. The owner is told from inside this constructor, before the
  // derived constructors run: it may record the new component, but the component's
  // class is not yet its final one.
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  // Frees a component while it is still whole; see the top of this file.
  void operator delete(TComponent* component, std::destroying_delete_t) noexcept;
  // Components are allocated as usual. These two pair every `new` of a component with
  // the class's own deallocation: the destroying delete above, or this plain one when
  // a constructor throws.
  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(Owned().size()); }
  // The owned component at `index`, in the order they joined. Raises EBaseException
  // for an index outside 0 .. ComponentCount() - 1.
  TComponent& Component(int index) const;
  // The first owned component called `name` (case-insensitive), or nullptr. An empty
  // name finds nothing.
  TComponent* FindComponent(std::string_view name) const;

  const std::string& Name() const;
  virtual void SetName(std::string name);

  TComponentState ComponentState() const { return state_; }
  // Sets or clears csDesigning on this component and everything it owns.
  void SetDesigning(bool designing);
  // Sets csLoading until Loaded() runs.
  void BeginLoading();
  // Called when the component's state has been loaded; clears csLoading.
  virtual void Loaded();
  // Clears csLoading without Loaded(): the load was given up.
  void CancelLoading();

  // Calls `proc` for each component a component stream writes inside this one. The
  // default lists every owned component in joining order; a component whose
  // constructor makes parts of its own that the stream need not keep skips them.
  virtual void GetChildren(const std::function<void(TComponent&)>& proc) const;

  // Takes ownership of `component`, which has no owner, and tells this component
  // opInsert. Returns the component.
  TComponent& InsertComponent(std::unique_ptr<TComponent> component);
  // Tells this component opRemove, then gives up `component` to the caller; it has no
  // owner afterwards. Returns nullptr when `component` is not owned by this one.
  std::unique_ptr<TComponent> RemoveComponent(TComponent& component);
  // Frees every owned component, the last first.
  void DestroyComponents();

  // Registers this component and `other` for notification of each other's freeing.
  // Registering twice, or with itself, changes nothing.
  void FreeNotification(TComponent& other);
  // Ends the registration, in both directions.
  void RemoveFreeNotification(TComponent& other);

 protected:
  // Told about `component`: opInsert when it joined this component's owned
  // components, opRemove when it leaves them or when a component registered for free
  // notification is being freed. The default does nothing. Must not throw.
  virtual void Notification(TComponent& component, TOperation operation);

 private:
  void BeginDestroy() noexcept;
  void MarkDestroying() noexcept;
  void NotifyFreeNotifications() noexcept;

  // Most components (the rules of a program, by the ten thousand) own none
  // and have no name: each pays a pointer for them.
  using TOwned = std::vector<std::unique_ptr<TComponent>>;
  const TOwned& Owned() const noexcept;  // empty when none
  TOwned& OwnedForAdding();              // made when first needed

  TComponent* owner_ = nullptr;          // not owned
  std::unique_ptr<TOwned> components_;  // owned, in joining order
  // Not owned. Most components have one partner at most (a rule, its engine).
  TInlineVector<TComponent*> free_notifies_;
  std::unique_ptr<std::string> name_;  // null while empty
  TComponentState state_;
  bool destroy_begun_ = false;
};

// Frees `object` (nothing for nullptr): a component through its own delete, so that
// the others are told while it is whole (see the top of this file), any other object
// through its virtual destructor. The object must have been made with new and must
// not be freed a second time by whoever holds it.
void FreeObject(TObject* object) noexcept;

// Creates a T owned by `owner` (T's constructor takes the owner first, then `args`)
// and returns it; the reference stays valid until the component or its owner is freed.
template <std::derived_from<TComponent> T, class... Args>
T& MakeOwned(TComponent& owner, Args&&... args) {
  // The owner's list holds the new component from TComponent's constructor on.
  return *new T(&owner, std::forward<Args>(args)...);
}

}  // namespace zephro

#pragma once

// Weak handles to objects: a handle names an object without keeping it alive and
// reads null once the object is freed, whoever frees it. Values of the engine hold
// objects through such handles, so a value whose object was freed elsewhere reads as
// no object rather than as freed memory.
//
//   auto bin = std::make_unique<TBin>(nullptr);
//   TWeakObject<TBin> handle(bin.get());
//   handle.Get();   // the bin
//   bin.reset();
//   handle.Get();   // nullptr
//
// How it works. Every handle to an object shares one counted liveness block, which
// the object makes the first time a handle is taken (TObject::Liveness) and keeps a
// reference to. When the object is freed it clears the block's pointer and drops its
// reference; the block itself lives on while handles hold it. An object nobody takes
// a handle to pays one null pointer and never allocates. A component ends its
// liveness once the components registered for its free notification have been told,
// while it is still whole; other objects at the end of their destructor.
//
// Identity. Two handles taken to one object share its block, even after the object
// is freed: comparing blocks tells handles of one object apart from handles of
// another that happens to reuse the address.
//
// Thread safety: block counts are atomic, so handles may be copied and released on
// any thread. Taking the first handle to an object, freeing it and reading a handle
// are not synchronised with one another: do them on the thread that uses the object.

#include "zephro/platform/object.h"
#include "zephro/platform/ref.h"

namespace zephro {

// The shared state of the handles to one object: the object, or null once it is
// freed. Made and ended by TObject; counted by the handles and by the object.
class TLiveness final : public RefCounted {
 public:
  // The object, or nullptr once it has been freed (or began to be, for a component).
  TObject* Object() const noexcept { return object_; }
  bool IsAlive() const noexcept { return object_ != nullptr; }

 private:
  friend class TObject;
  explicit TLiveness(TObject* object) noexcept : object_(object) {}
  ~TLiveness() override = default;

  TObject* object_;  // not owned
};

// A handle to a T that does not keep it alive; see the top of this file.
template <class T = TObject>
class TWeakObject {
 public:
  TWeakObject() noexcept = default;
  // A handle to `object`; an empty handle for nullptr.
  explicit TWeakObject(T* object)
      : block_(object != nullptr ? &static_cast<const TObject*>(object)->Liveness() : nullptr) {}

  // The object, or nullptr when the handle is empty or the object was freed.
  T* Get() const noexcept {
    return block_ != nullptr ? static_cast<T*>(block_->Object()) : nullptr;
  }
  // True when the handle was given an object that has since been freed.
  bool Expired() const noexcept { return block_ != nullptr && !block_->IsAlive(); }
  // The shared block (null for an empty handle), for identity.
  const TLiveness* Block() const noexcept { return block_.get(); }

  void Reset() noexcept { block_.reset(); }

  friend bool operator==(const TWeakObject& a, const TWeakObject& b) noexcept {
    return a.block_ == b.block_;
  }

 private:
  Ref<TLiveness> block_;
};

}  // namespace zephro

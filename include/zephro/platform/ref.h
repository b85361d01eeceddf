#pragma once

// Intrusive reference counting for the engine's counted interfaces.
//
// Every I-interface of the engine (values, facts, templates, calls, functions,
// tokens...) derives from RefCounted. An object starts with a count of 0; the
// first Ref<T> that takes it raises the count to 1, and the object deletes
// itself when the last Ref<T> lets go. Objects are handed out as Ref<T> and
// borrowed as T& or T*; handles are never copied in inner loops, since every
// copy is an atomic operation.
//
// Thread safety: counts change with atomic operations, so a Ref<T> may be
// released on any thread, except for objects that confine their count
// (ConfineCount below): the matcher's tokens. A Ref to a token may be
// copied or released only on the engine's thread, or under its lock.
// Nothing else about an object is guarded.

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace zephro {

class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  void AddRef() const noexcept {
    const std::int32_t n = refs_.load(std::memory_order_relaxed);
    if (n >= kImmortal) {
      return;
    }
    if (confined_) {
      refs_.store(n + 1, std::memory_order_relaxed);
    } else {
      refs_.fetch_add(1, std::memory_order_relaxed);
    }
  }
  void Release() const noexcept {
    const std::int32_t n = refs_.load(std::memory_order_relaxed);
    if (n >= kImmortal) {
      return;
    }
    if (confined_) {
      refs_.store(n - 1, std::memory_order_relaxed);
      if (n == 1) {
        delete this;
      }
    } else if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete this;
    }
  }
  // Stops counting: the object lives as long as the program, and handles to
  // it cost no atomic operation. For shared constants, called before the
  // object is handed out.
  void MakeImmortal() const noexcept { refs_.store(kImmortal, std::memory_order_relaxed); }
  // The current count; for tests and debugging only.
  std::int32_t RefCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

 protected:
  virtual ~RefCounted() = default;
  // For objects that only ever change hands under one lock (an engine's
  // matching state): the count is kept with plain loads and stores, without
  // the cost of atomic read-modify-write operations.
  void ConfineCount() noexcept { confined_ = true; }
  // For a class whose objects are all confined and never immortal: the
  // count changed without asking which kind the object is. ReleaseConfined
  // answers whether that was the last reference (the caller deletes).
  void AddRefConfined() const noexcept {
    refs_.store(refs_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
  bool ReleaseConfined() const noexcept {
    const std::int32_t n = refs_.load(std::memory_order_relaxed);
    refs_.store(n - 1, std::memory_order_relaxed);
    return n == 1;
  }

 private:
  static constexpr std::int32_t kImmortal = std::int32_t{1} << 30;
  mutable std::atomic<std::int32_t> refs_{0};
  bool confined_ = false;
};

// Tag for adopting a pointer whose count was already raised by the caller.
struct AdoptRefTag {};
inline constexpr AdoptRefTag kAdoptRef{};

// An owning handle to a counted object. Copy adds a reference, move steals it,
// == compares identity. A default-constructed Ref is empty.
template <class T>
class Ref {
 public:
  using element_type = T;

  constexpr Ref() noexcept = default;
  constexpr Ref(std::nullptr_t) noexcept {}  // NOLINT: implicit by design
  Ref(T* p) noexcept : p_(p) {               // NOLINT: implicit by design
    if (p_ != nullptr) {
      p_->AddRef();
    }
  }
  Ref(T* p, AdoptRefTag) noexcept : p_(p) {}
  Ref(const Ref& other) noexcept : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ref(const Ref<U>& other) noexcept : Ref(other.get()) {}  // NOLINT: implicit by design
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ref(Ref<U>&& other) noexcept : p_(other.Detach()) {}  // NOLINT: implicit by design
  ~Ref() {
    if (p_ != nullptr) {
      p_->Release();
    }
  }

  Ref& operator=(const Ref& other) noexcept {
    Ref(other).swap(*this);
    return *this;
  }
  Ref& operator=(Ref&& other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  Ref& operator=(std::nullptr_t) noexcept {
    reset();
    return *this;
  }

  T* get() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) {
      p->Release();
    }
  }
  // Gives up ownership without releasing; the caller owns one reference.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }
  friend bool operator==(const Ref& a, const T* b) noexcept { return a.p_ == b; }

 private:
  T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

// Casts between counted types; the result is empty when `p` is not a T.
template <class T, class U>
Ref<T> RefCast(const Ref<U>& p) {
  return Ref<T>(dynamic_cast<T*>(p.get()));
}

}  // namespace zephro

template <class T>
struct std::hash<zephro::Ref<T>> {
  std::size_t operator()(const zephro::Ref<T>& r) const noexcept {
    return std::hash<T*>()(r.get());
  }
};

#pragma once

// One range of address space for objects named by a 32-bit number instead of
// a 64-bit address.
//
// The matcher's tokens link to one another by the million; a link of four
// bytes instead of eight is what lets a token fit one cache line. The range
// is reserved once, when the first block is carved (no memory stands behind
// a reservation), carved from its start in whole units and never given back:
// the classes carved from it recycle their objects themselves. The object
// that starts u units into the range is named u; 0 names nothing, since the
// first unit is never carved.
//
// Memory comes behind the range as it is carved, a few MiB at a time, in
// steps of a huge page (see large_blocks.h).
//
// Thread safety: Carve locks; Name and At only read the range's start, which
// is set before the first object exists; Live reads the carved extent, which
// Carve publishes.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zephro {

class TCompactArena {
 public:
  static constexpr std::size_t kUnit = 64;

  // `bytes` (a multiple of kUnit) carved from the range, aligned to kUnit;
  // raises std::bad_alloc when the range or the memory runs out.
  static void* Carve(std::size_t bytes);
  // Tells the address checker that `bytes` at `block` were released for
  // good (sanitizer builds never carve a block twice); nothing in other builds.
  static void MarkFree(void* block, std::size_t bytes) noexcept;

  // The name of `object`, which lies in the range, or 0 for null.
  static std::uint32_t Name(const void* object) noexcept {
    if (object == nullptr) {
      return 0;
    }
    return NameOf(object);
  }
  // The name of `object`, which lies in the range and is not null.
  static std::uint32_t NameOf(const void* object) noexcept {
    const auto offset = static_cast<std::size_t>(static_cast<const std::byte*>(object) - base_);
    return static_cast<std::uint32_t>(offset / kUnit);
  }
  // The object named `name` (not 0).
  static void* At(std::uint32_t name) noexcept {
    return base_ + std::size_t{name} * kUnit;
  }

  // Bytes reserved and bytes carved so far; for tests.
  static std::size_t Reserved() noexcept;
  static std::size_t Carved() noexcept;

  // Whether `object` starts a unit that was carved (never the first one)
  // and, in builds with the address checker, was not released since: what
  // a link to a live object must name. Takes no lock. For the invariant
  // checks (platform/debug_checks.h).
  static bool Live(const void* object) noexcept;
  static bool LiveName(std::uint32_t name) noexcept {
    return name != 0 && std::size_t{name} * kUnit < carved_.load(std::memory_order_acquire) &&
           Live(At(name));
  }
  // Checks the range's own bookkeeping: the first unit never carved, whole
  // units carved, no more carved than there is memory behind the range.
  static void CheckInvariants() noexcept;

 private:
  // Set once, under Carve's lock, before the first object is carved; every
  // reader got its object after that. Not atomic, so that the compiler may
  // keep it in a register across the links of a loop.
  static inline std::byte* base_ = nullptr;
  // Bytes carved so far, as Carve last left them: for Live, which reads it
  // without the lock.
  static inline std::atomic<std::size_t> carved_{0};
};

// A 32-bit link to an object of class T carved from the compact arena.
template <class T>
class TCompactLink {
 public:
  TCompactLink() noexcept = default;
  TCompactLink(T* object) noexcept : name_(TCompactArena::Name(object)) {}  // NOLINT: implicit by design
  // The link to `object`, which is there.
  static TCompactLink Of(const T& object) noexcept {
    TCompactLink link;
    link.name_ = TCompactArena::NameOf(&object);
    return link;
  }

  T* get() const noexcept {
    return name_ != 0 ? static_cast<T*>(TCompactArena::At(name_)) : nullptr;
  }
  // The object, known to be there.
  T& operator*() const noexcept { return *static_cast<T*>(TCompactArena::At(name_)); }
  T* operator->() const noexcept { return static_cast<T*>(TCompactArena::At(name_)); }
  explicit operator bool() const noexcept { return name_ != 0; }
  // The name the link holds (0: none).
  std::uint32_t Name() const noexcept { return name_; }
  friend bool operator==(TCompactLink a, TCompactLink b) noexcept { return a.name_ == b.name_; }
  friend bool operator==(TCompactLink a, std::nullptr_t) noexcept { return a.name_ == 0; }

 private:
  std::uint32_t name_ = 0;
};

}  // namespace zephro

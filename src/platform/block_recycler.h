#pragma once

// Recycled blocks of one size for objects made and dropped by the million
// (tokens, values).
//
// Blocks are carved in order from slabs and go back to a list of the thread
// that releases them (linked through their first bytes), which its next
// allocations reuse. Slabs are never returned: a block may be released on
// another thread than the one that made it, and the memory of a peak serves
// the next one. A thread that ends hands its list and the uncarved rest of
// its slab to the threads that go on. A thread's state is
// constant-initialised (no guard on the hot path); the object that hands it
// over is set up the first time the thread needs a slab.
//
// Sanitizer builds allocate every block afresh, so that a use after release
// is still caught.
//
// Usage: in a class with blocks of kSize bytes,
//   static void* operator new(std::size_t size) {
//     return TBlockRecycler<TClass, kSize>::Allocate(size);
//   }
//   static void operator delete(void* block, std::size_t size) noexcept {
//     TBlockRecycler<TClass, kSize>::Free(block, size);
//   }
// where sizes other than kSize (a derived class) go to operator new.

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/large_blocks.h"

namespace zephro {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kRecycleBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kRecycleBlocks = false;
#else
inline constexpr bool kRecycleBlocks = true;
#endif
#else
inline constexpr bool kRecycleBlocks = true;
#endif

template <class Owner, std::size_t kSize, std::size_t kFirstSlab = std::size_t{16} << 10,
          std::size_t kLargestSlab = std::size_t{16} << 20>
class TBlockRecycler {
  static_assert(kSize >= sizeof(void*) && kSize % sizeof(void*) == 0,
                "a block holds the list's link and keeps the next one aligned");

 public:
  static void* Allocate(std::size_t size) {
    if (!kRecycleBlocks || size != kSize) {
      return ::operator new(size);
    }
    TState& s = state;
    if (s.head != nullptr) {
      return Pop(s);
    }
    if (CanCarve(s)) {
      return Carve(s);
    }
    return Refill(s);
  }

  static void Free(void* block, std::size_t size) noexcept {
    if (!kRecycleBlocks || size != kSize) {
      ::operator delete(block);
      return;
    }
    Push(state, block);
  }

 private:
  struct TShared {
    std::mutex lock;
    void* orphans = nullptr;  // released blocks of ended threads
    // The parts of their slabs ended threads had not carved: handed over as
    // they are, since carving them into the list would touch every page.
    std::vector<std::pair<std::byte*, std::byte*>> uncarved;
    std::vector<void*> slabs;  // blocks of AllocateBlock, kept for leak checkers
  };

  struct TState {
    void* head;
    void* tail;  // the last block of the list, when it is not empty
    std::byte* next;  // the part of the thread's slab not carved yet
    std::byte* end;
    std::size_t slab_size;
    bool handover_armed;
  };

  struct THandover {
    ~THandover() {
      TState& s = state;
      TShared& shared = Shared();
      const std::lock_guard<std::mutex> hold(shared.lock);
      if (CanCarve(s)) {
        try {
          shared.uncarved.emplace_back(s.next, s.end);
        } catch (const std::bad_alloc&) {
          // The rest of the slab stays unused.
        }
        s.next = s.end = nullptr;
      }
      if (s.head == nullptr) {
        return;
      }
      *static_cast<void**>(s.tail) = shared.orphans;
      shared.orphans = s.head;
      s.head = nullptr;
      s.tail = nullptr;
    }
  };

  static TShared& Shared() {
    static TShared* shared = new TShared;  // lives as long as the process
    return *shared;
  }

  static bool CanCarve(const TState& s) noexcept {
    return static_cast<std::size_t>(s.end - s.next) >= kSize;
  }
  static void* Carve(TState& s) noexcept {
    void* block = s.next;
    s.next += kSize;
    return block;
  }
  static void* Pop(TState& s) noexcept {
    void* block = s.head;
    s.head = *static_cast<void**>(block);
    // The next allocation reads the new head's link and its object is
    // written: fetched now, while this block's object is made, rather than
    // waited for then.
    __builtin_prefetch(s.head, 1);
    return block;
  }
  static void Push(TState& s, void* block) noexcept {
    if (s.head == nullptr) {
      s.tail = block;
    }
    *static_cast<void**>(block) = s.head;
    s.head = block;
  }

  // The thread's list and slab are used up: adopt the blocks of ended
  // threads, or the uncarved rest of their slabs, or carve a new slab (each
  // twice the last, up to a limit).
  static void* Refill(TState& s) {
    if (!s.handover_armed) {
      s.handover_armed = true;
      [[maybe_unused]] volatile void* arm = &handover;  // constructs it
    }
    TShared& shared = Shared();
    const std::lock_guard<std::mutex> hold(shared.lock);
    if (shared.orphans != nullptr) {
      // Adopted whole: the list's last block is found once, here.
      void* tail = shared.orphans;
      while (*static_cast<void**>(tail) != nullptr) {
        tail = *static_cast<void**>(tail);
      }
      s.head = shared.orphans;
      s.tail = tail;
      shared.orphans = nullptr;
      return Pop(s);
    }
    if (!shared.uncarved.empty()) {
      std::tie(s.next, s.end) = shared.uncarved.back();
      shared.uncarved.pop_back();
      return Carve(s);
    }
    const std::size_t size = s.slab_size = std::clamp(s.slab_size * 2, kFirstSlab, kLargestSlab);
    shared.slabs.reserve(shared.slabs.size() + 1);
    shared.slabs.push_back(AllocateBlock(size));
    s.next = static_cast<std::byte*>(shared.slabs.back());
    s.end = s.next + size;
    return Carve(s);
  }

  static constinit thread_local TState state;
  static thread_local THandover handover;
};

template <class Owner, std::size_t kSize, std::size_t kFirstSlab, std::size_t kLargestSlab>
constinit thread_local typename TBlockRecycler<Owner, kSize, kFirstSlab, kLargestSlab>::TState
    TBlockRecycler<Owner, kSize, kFirstSlab, kLargestSlab>::state{nullptr, nullptr, nullptr,
                                                                  nullptr, 0,       false};

template <class Owner, std::size_t kSize, std::size_t kFirstSlab, std::size_t kLargestSlab>
thread_local typename TBlockRecycler<Owner, kSize, kFirstSlab, kLargestSlab>::THandover
    TBlockRecycler<Owner, kSize, kFirstSlab, kLargestSlab>::handover;

}  // namespace zephro

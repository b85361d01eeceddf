#pragma once

// Recycled blocks of one size for objects made and dropped by the million
// (tokens, values).
//
// Blocks are carved in order from slabs and go back to a stack of the thread
// that releases them, which its next allocations reuse, the block released
// last first. The stack is kept in released blocks themselves: a block that
// comes when the top one is full becomes the new top, a magazine holding the
// addresses of the blocks released after it, so the next blocks to hand out
// are known several allocations ahead, without reading the blocks (far apart
// and long out of the cache after a large release), and are fetched
// meanwhile. Slabs are never returned: a block may be released on
// another thread than the one that made it, and the memory of a peak serves
// the next one. A thread that ends hands its list and the uncarved rest of
// its slab to the threads that go on. A thread's state is
// constant-initialised (no guard on the hot path); the object that hands it
// over is set up the first time the thread needs a slab.
//
// Sanitizer builds allocate every block afresh, so that a use after release
// is still caught.
//
// Blocks come from the heap (THeapBlocks), or, for objects named by 32-bit
// numbers, from the compact arena (TCompactBlocks).
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

#include "platform/compact_arena.h"
#include "platform/large_blocks.h"

namespace zephro {

// Where a recycler's slabs come from, and the blocks of sanitizer builds.
struct THeapBlocks {
  static void* Slab(std::size_t bytes) { return AllocateBlock(bytes); }
  // Slabs are listed, so that leak checkers see what their blocks hold.
  static constexpr bool kListSlabs = true;
  static void* One(std::size_t bytes) { return ::operator new(bytes); }
  static void FreeOne(void* block, std::size_t) noexcept { ::operator delete(block); }
};

struct TCompactBlocks {
  static void* Slab(std::size_t bytes) { return TCompactArena::Carve(bytes); }
  static constexpr bool kListSlabs = false;
  // Never carved again: a use after release meets poisoned memory.
  static void* One(std::size_t bytes) {
    return TCompactArena::Carve((bytes + TCompactArena::kUnit - 1) / TCompactArena::kUnit *
                                TCompactArena::kUnit);
  }
  static void FreeOne(void* block, std::size_t bytes) noexcept {
    TCompactArena::MarkFree(block, bytes);
  }
};

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

template <class Owner, std::size_t kSize, class Source = THeapBlocks,
          std::size_t kFirstSlab = std::size_t{16} << 10,
          std::size_t kLargestSlab = std::size_t{16} << 20>
class TBlockRecycler {
  static_assert(kSize >= 3 * sizeof(void*) && kSize % sizeof(void*) == 0,
                "a block holds a magazine of one address at least and keeps the next one aligned");

 public:
  static void* Allocate(std::size_t size) {
    if (!kRecycleBlocks || size != kSize) {
      return Source::One(size);
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
      Source::FreeOne(block, size);
      return;
    }
    Push(state, block);
  }

 private:
  // A released block serving as a magazine: the magazine below it, and the
  // blocks released after it, the last one on top. A magazine is handed out
  // after its blocks.
  struct TMagazine {
    static constexpr std::size_t kCapacity = (kSize - 2 * sizeof(void*)) / sizeof(void*);
    TMagazine* below;
    std::size_t count;
    void* blocks[kCapacity];
  };
  static_assert(sizeof(TMagazine) <= kSize);

  struct TShared {
    std::mutex lock;
    TMagazine* orphans = nullptr;  // released blocks of ended threads
    // The parts of their slabs ended threads had not carved: handed over as
    // they are, since carving them into the list would touch every page.
    std::vector<std::pair<std::byte*, std::byte*>> uncarved;
    std::vector<void*> slabs;  // blocks of AllocateBlock, kept for leak checkers
  };

  struct TState {
    TMagazine* head;  // the top magazine
    TMagazine* tail;  // the bottom one, when there is one
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
      s.tail->below = shared.orphans;
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
  // How many allocations ahead a block is fetched.
  static constexpr std::size_t kFetchAhead = 3;

  static void Fetch(const void* block) noexcept {
    // A block spans two cache lines at most: its first and last bytes.
    __builtin_prefetch(block, 1);
    __builtin_prefetch(static_cast<const char*>(block) + kSize - 1, 1);
  }
  static void* Pop(TState& s) noexcept {
    TMagazine* top = s.head;
    if (top->count == 0) {
      // The magazine below, fetched meanwhile, serves next: its top blocks
      // are fetched now.
      TMagazine* below = s.head = top->below;
      if (below != nullptr) {
        const std::size_t n = below->count;
        for (std::size_t i = n > kFetchAhead ? n - kFetchAhead : 0; i < n; ++i) {
          Fetch(below->blocks[i]);
        }
      }
      return top;
    }
    const std::size_t left = --top->count;
    // The block handed out kFetchAhead allocations from now is written then:
    // fetched now. Once few blocks are left on top, the magazine below, which
    // serves next, is fetched instead.
    if (left >= kFetchAhead) {
      Fetch(top->blocks[left - kFetchAhead]);
    } else if (left + 1 == kFetchAhead && top->below != nullptr) {
      Fetch(top->below);
    }
    return top->blocks[left];
  }
  static void Push(TState& s, void* block) noexcept {
    TMagazine* top = s.head;
    if (top != nullptr && top->count < TMagazine::kCapacity) {
      top->blocks[top->count++] = block;
      return;
    }
    auto* fresh = ::new (block) TMagazine;
    fresh->below = top;
    fresh->count = 0;
    if (top == nullptr) {
      s.tail = fresh;
    }
    s.head = fresh;
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
      // Adopted whole: the bottom magazine is found once, here.
      TMagazine* tail = shared.orphans;
      while (tail->below != nullptr) {
        tail = tail->below;
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
    if constexpr (Source::kListSlabs) {
      shared.slabs.reserve(shared.slabs.size() + 1);
      shared.slabs.push_back(Source::Slab(size));
      s.next = static_cast<std::byte*>(shared.slabs.back());
    } else {
      s.next = static_cast<std::byte*>(Source::Slab(size));
    }
    s.end = s.next + size;
    return Carve(s);
  }

  static constinit thread_local TState state;
  static thread_local THandover handover;
};

template <class Owner, std::size_t kSize, class Source, std::size_t kFirstSlab,
          std::size_t kLargestSlab>
constinit thread_local
    typename TBlockRecycler<Owner, kSize, Source, kFirstSlab, kLargestSlab>::TState
        TBlockRecycler<Owner, kSize, Source, kFirstSlab, kLargestSlab>::state{
            nullptr, nullptr, nullptr, nullptr, 0, false};

template <class Owner, std::size_t kSize, class Source, std::size_t kFirstSlab,
          std::size_t kLargestSlab>
thread_local typename TBlockRecycler<Owner, kSize, Source, kFirstSlab, kLargestSlab>::THandover
    TBlockRecycler<Owner, kSize, Source, kFirstSlab, kLargestSlab>::handover;

}  // namespace zephro

#pragma once

// Blocks for the matcher's large arrays (token slabs, memory entries, hash
// buckets).
//
// A join memory of millions of entries is probed and filled at random, so
// with ordinary 4 KiB pages nearly every touch of it also misses the address
// translation caches. Blocks of kLargeBlock bytes or more are therefore
// mapped on their own, aligned to a huge page, and offered to the kernel for
// huge pages where it takes such advice; smaller blocks come from operator
// new. Either way a block starts on a cache line, its pages are only made
// resident as they are touched, and FreeBlock must be given the size
// AllocateBlock was.

#include <cstddef>
#include <new>

namespace zephro {

// Blocks of at least this many bytes are mapped on their own.
inline constexpr std::size_t kLargeBlock = std::size_t{2} << 20;
inline constexpr std::size_t kCacheLine = 64;

// A block of `bytes` bytes, aligned to a cache line; raises std::bad_alloc.
void* AllocateBlock(std::size_t bytes);
void FreeBlock(void* block, std::size_t bytes) noexcept;

// An allocator over AllocateBlock, for standard containers whose storage
// grows large.
template <class T>
struct TBlockAllocator {
  using value_type = T;

  TBlockAllocator() noexcept = default;
  template <class U>
  TBlockAllocator(const TBlockAllocator<U>&) noexcept {}  // NOLINT: rebinding converts implicitly

  T* allocate(std::size_t n) { return static_cast<T*>(AllocateBlock(n * sizeof(T))); }
  void deallocate(T* block, std::size_t n) noexcept { FreeBlock(block, n * sizeof(T)); }

  template <class U>
  bool operator==(const TBlockAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace zephro

#pragma once

// Blocks for the matcher's large arrays (token slabs, memory entries, hash
// buckets).
//
// A join memory of millions of entries is probed and filled at random, so
// with ordinary 4 KiB pages nearly every touch of it also misses the address
// translation caches. Blocks of kLargeBlock bytes or more are therefore
// mapped on their own, aligned to a huge page, and once such blocks hold
// kHugeWorkingSet bytes in all, offered to the kernel for huge pages where
// it takes such advice (a huge page is resident whole once touched: below
// that size they would round a modest working memory up for little gain);
// smaller blocks come from operator
// new, those of kAlignedBlock bytes or more aligned to a cache line (so that
// small records laid in them do not straddle lines; below that the padding
// would cost more than it saves, in the many small memories of a large rule
// base). A block's pages are only made resident as they are touched, and
// FreeBlock must be given the size AllocateBlock was.

#include <cstddef>
#include <new>

namespace zephro {

// Blocks of at least this many bytes are mapped on their own.
inline constexpr std::size_t kLargeBlock = std::size_t{2} << 20;
// Large blocks are offered for huge pages while the large blocks live in the
// process hold at least this many bytes.
inline constexpr std::size_t kHugeWorkingSet = std::size_t{64} << 20;
// Blocks of at least this many bytes start on a cache line.
inline constexpr std::size_t kAlignedBlock = 4096;
inline constexpr std::size_t kCacheLine = 64;

// A block of `bytes` bytes, aligned for any object (and to a cache line from
// kAlignedBlock bytes on); raises std::bad_alloc.
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

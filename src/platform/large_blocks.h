#pragma once

// Blocks for the matcher's large arrays (token slabs, memory entries, hash
// buckets).
//
// Blocks of kLargeBlock bytes or more are mapped on their own and aligned to
// a huge page, so that a system that hands out huge pages unasked can back
// them whole. They are not advised for huge pages: where the kernel honours
// that advice by compacting memory at the fault, a join memory of hundreds
// of megabytes spent more time in the kernel than its probes saved (see
// docs/PERFORMANCE.md). Smaller blocks come from operator new, those of
// kAlignedBlock bytes or more aligned to a cache line (so that small records
// laid in them do not straddle lines; below that the padding would cost more
// than it saves, in the many small memories of a large rule base). A block's
// pages are only made resident as they are touched, and FreeBlock must be
// given the size AllocateBlock was.

#include <cstddef>
#include <new>

namespace zephro {

// Blocks of at least this many bytes are mapped on their own.
inline constexpr std::size_t kLargeBlock = std::size_t{2} << 20;
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

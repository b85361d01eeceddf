#include "platform/large_blocks.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zephro {
namespace {

void* AllocateSmall(std::size_t bytes) {
  return bytes < kAlignedBlock ? ::operator new(bytes)
                               : ::operator new(bytes, std::align_val_t{kCacheLine});
}

void FreeSmall(void* block, std::size_t bytes) noexcept {
  if (bytes < kAlignedBlock) {
    ::operator delete(block);
  } else {
    ::operator delete(block, std::align_val_t{kCacheLine});
  }
}

}  // namespace

#if defined(__linux__)

namespace {

std::size_t RoundUp(std::size_t bytes) noexcept {
  return (bytes + kLargeBlock - 1) & ~(kLargeBlock - 1);
}

}  // namespace

void* AllocateBlock(std::size_t bytes) {
  if (bytes < kLargeBlock) {
    return AllocateSmall(bytes);
  }
  // Map one huge page more than needed and trim the ends, so that the block
  // starts on a huge-page boundary.
  const std::size_t size = RoundUp(bytes);
  void* mapped = mmap(nullptr, size + kLargeBlock, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    throw std::bad_alloc();
  }
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kLargeBlock - 1) & ~(std::uintptr_t{kLargeBlock} - 1);
  if (const std::size_t head = aligned - start; head != 0) {
    munmap(mapped, head);
  }
  if (const std::size_t tail = kLargeBlock - (aligned - start); tail != 0) {
    munmap(reinterpret_cast<void*>(aligned + size), tail);
  }
  return reinterpret_cast<void*>(aligned);
}

void FreeBlock(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) {
    return;
  }
  if (bytes < kLargeBlock) {
    FreeSmall(block, bytes);
    return;
  }
  munmap(block, RoundUp(bytes));
}

#else

void* AllocateBlock(std::size_t bytes) { return AllocateSmall(bytes); }

void FreeBlock(void* block, std::size_t bytes) noexcept { FreeSmall(block, bytes); }

#endif

}  // namespace zephro

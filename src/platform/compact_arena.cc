#include "platform/compact_arena.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include "platform/debug_checks.h"
#include "platform/large_blocks.h"

#if defined(__unix__)
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ZEPHRO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEPHRO_ASAN 1
#endif
#endif
#if defined(ZEPHRO_ASAN)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#endif

namespace zephro {

namespace {

// 2^32 units would be 256 GiB; a quarter of that is reserved where the
// system grants it, less where it does not.
constexpr std::size_t kMostReserved = std::size_t{64} << 30;
constexpr std::size_t kLeastReserved = std::size_t{256} << 20;
// Memory is put behind the range in steps of this many bytes.
constexpr std::size_t kCommitStep = kLargeBlock;

struct TRange {
  std::mutex lock;
  std::byte* base = nullptr;
  std::size_t reserved = 0;
  std::size_t committed = 0;
  std::size_t carved = 0;
};

TRange& Range() {
  static TRange* range = new TRange;  // lives as long as the process
  return *range;
}

#if defined(__unix__)

void Reserve(TRange& r) {
  for (std::size_t size = kMostReserved; size >= kLeastReserved; size /= 2) {
    // One step more than asked, so that the range can start on a step.
    void* mapped = mmap(nullptr, size + kCommitStep, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED) {
      continue;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kCommitStep - 1) & ~(std::uintptr_t{kCommitStep} - 1);
    r.base = reinterpret_cast<std::byte*>(aligned);
    r.reserved = size;
    return;
  }
  throw std::bad_alloc();
}

void Commit(TRange& r, std::size_t bytes) {
  const std::size_t goal = (bytes + kCommitStep - 1) & ~(kCommitStep - 1);
  std::byte* from = r.base + r.committed;
  const std::size_t more = goal - r.committed;
  if (mprotect(from, more, PROT_READ | PROT_WRITE) != 0) {
    throw std::bad_alloc();
  }
#if defined(ZEPHRO_ASAN)
  // Objects carved here hold the only handles to objects of the heap.
  __lsan_register_root_region(from, more);
#endif
  r.committed = goal;
}

#else

// Without virtual memory to reserve, the least range is allocated whole.
void Reserve(TRange& r) {
  r.base = static_cast<std::byte*>(AllocateBlock(kLeastReserved));
  r.reserved = kLeastReserved;
}

void Commit(TRange& r, std::size_t bytes) { r.committed = bytes; }

#endif

}  // namespace

void* TCompactArena::Carve(std::size_t bytes) {
  TRange& r = Range();
  const std::lock_guard<std::mutex> hold(r.lock);
  if (r.base == nullptr) {
    Reserve(r);
    r.carved = kUnit;  // the first unit is never carved: its name, 0, names nothing
    base_ = r.base;
  }
  if (bytes > r.reserved - r.carved) {
    throw std::bad_alloc();
  }
  if (r.carved + bytes > r.committed) {
    Commit(r, r.carved + bytes);
  }
  void* block = r.base + r.carved;
  r.carved += bytes;
  carved_.store(r.carved, std::memory_order_release);
  return block;
}

void TCompactArena::MarkFree([[maybe_unused]] void* block,
                             [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(ZEPHRO_ASAN)
  __asan_poison_memory_region(block, bytes);
#endif
}

std::size_t TCompactArena::Reserved() noexcept {
  TRange& r = Range();
  const std::lock_guard<std::mutex> hold(r.lock);
  return r.reserved;
}

std::size_t TCompactArena::Carved() noexcept {
  TRange& r = Range();
  const std::lock_guard<std::mutex> hold(r.lock);
  return r.carved;
}

bool TCompactArena::Live(const void* object) noexcept {
  if (object == nullptr || base_ == nullptr) {
    return false;
  }
  const auto at = reinterpret_cast<std::uintptr_t>(object);
  const auto base = reinterpret_cast<std::uintptr_t>(base_);
  // The first unit is never carved; whatever lies past the carved part was
  // never handed out.
  if (at < base + kUnit || at - base >= carved_.load(std::memory_order_acquire) ||
      (at - base) % kUnit != 0) {
    return false;
  }
#if defined(ZEPHRO_ASAN)
  // Released blocks are poisoned, and never carved again (see MarkFree).
  if (__asan_address_is_poisoned(object) != 0) {
    return false;
  }
#endif
  return true;
}

void TCompactArena::CheckInvariants() noexcept {
  TRange& r = Range();
  const std::lock_guard<std::mutex> hold(r.lock);
  ZEPHRO_CHECK(r.base == base_, "compact arena: the range's start was changed");
  ZEPHRO_CHECK(carved_.load(std::memory_order_relaxed) == r.carved,
               "compact arena: the carved extent others read differs from the range's");
  if (r.base == nullptr) {
    ZEPHRO_CHECK(r.carved == 0 && r.committed == 0, "compact arena: units carved before the range");
    return;
  }
#if defined(__unix__)
  ZEPHRO_CHECK(reinterpret_cast<std::uintptr_t>(r.base) % kCommitStep == 0,
               "compact arena: the range does not start on a commit step");
#endif
  ZEPHRO_CHECK(r.carved >= kUnit, "compact arena: the first unit, which names nothing, was carved");
  ZEPHRO_CHECK(r.carved % kUnit == 0, "compact arena: a part of a unit was carved");
  ZEPHRO_CHECK(r.carved <= r.reserved, "compact arena: more carved than reserved");
  ZEPHRO_CHECK(r.carved <= r.committed, "compact arena: units carved with no memory behind them");
}

}  // namespace zephro

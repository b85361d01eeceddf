#include "zephro/platform/stack.h"

#if defined(__linux__)
#include <pthread.h>
#endif

#include <algorithm>

namespace zephro {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kReserveScale = 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kReserveScale = 2;
#else
constexpr std::size_t kReserveScale = 1;
#endif
#else
constexpr std::size_t kReserveScale = 1;
#endif

constexpr std::size_t kMinReserve = 32 * 1024;
constexpr std::size_t kMaxReserve = 256 * 1024;

std::uintptr_t Here() noexcept {
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// The lowest address a level may start at on this thread. Stacks grow
// downwards on every platform we build for.
std::uintptr_t ComputeLimit(std::uintptr_t here) noexcept {
#if defined(__linux__)
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void* lowest = nullptr;
    std::size_t size = 0;
    const bool known = pthread_attr_getstack(&attributes, &lowest, &size) == 0;
    pthread_attr_destroy(&attributes);
    if (known && size > 0) {
      const std::size_t reserve =
          std::clamp(size / 4, kMinReserve, kMaxReserve) * kReserveScale;
      return reinterpret_cast<std::uintptr_t>(lowest) + reserve;
    }
  }
#endif
  return here > kFallbackStackBudget ? here - kFallbackStackBudget : 0;
}

}  // namespace

namespace stack_detail {

constinit thread_local std::uintptr_t thread_limit = 0;

std::uintptr_t FindThreadLimit() noexcept {
  // Asked once per thread: for the main thread the platform's answer comes
  // from reading the process's memory map, which costs more than many calls.
  // A limit of 0 (a stack that reaches address 0) is kept as 1.
  thread_limit = std::max<std::uintptr_t>(ComputeLimit(Here()), 1);
  return thread_limit;
}

}  // namespace stack_detail

}  // namespace zephro

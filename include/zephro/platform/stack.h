#pragma once

// How much of the current thread's stack is left.
//
// Every recursive path of the engine (evaluating nested calls, parsing nested
// forms, compiling nested patterns, printing nested values, re-entering the
// engine from a load, a batch, a reset...) asks StackIsLow() before it goes
// one level deeper, and refuses with an error when it is. So the depth a
// program may reach depends on the stack of the thread that runs it, never on
// luck.
//
// The reserve kept below the last level allowed is a quarter of the thread's
// stack, at least 32 KiB and at most 256 KiB (twice as much in a sanitizer
// build, whose frames are larger): what one level of any path may use before
// it asks again. A thread needs kMinimumStack bytes of stack for the engine
// to run a program at all; below that, StackIsLow() may refuse from the first
// level.
//
// The bounds come from the platform the first time a thread asks. Where the
// platform does not tell them, the first call on the thread takes its own
// position as the top and allows kFallbackStackBudget bytes below it.
//
// Thread safety: each thread reads its own stack; nothing is shared.

#include <cstddef>
#include <cstdint>

namespace zephro {

inline constexpr std::size_t kMinimumStack = 128 * 1024;
inline constexpr std::size_t kFallbackStackBudget = 512 * 1024;

namespace stack_detail {
// The lowest address a level may start at on this thread; 0 until the
// thread first asks. Asked on every call the engine evaluates, so read
// inline: no guard, no call.
extern constinit thread_local std::uintptr_t thread_limit;
// Finds the thread's limit, keeps it in thread_limit and answers it.
std::uintptr_t FindThreadLimit() noexcept;
}  // namespace stack_detail

// The bytes left between the caller's frame and the reserve; 0 when the
// caller already stands in the reserve.
inline std::size_t StackLeft() noexcept {
  std::uintptr_t limit = stack_detail::thread_limit;
  if (limit == 0) [[unlikely]] {
    limit = stack_detail::FindThreadLimit();
  }
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return here > limit ? here - limit : 0;
}

inline bool StackIsLow() noexcept { return StackLeft() == 0; }

}  // namespace zephro

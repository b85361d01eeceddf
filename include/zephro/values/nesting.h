#pragma once

// The one guard on every way evaluation goes deeper or re-enters the engine.
//
// Each of those paths holds a TNestingGuard for its lifetime: a nested
// function call, a deffunction call, a load or batch of a file, a reset, a
// global's initial value, a deffacts value, a nested form being parsed or a
// pattern being compiled. A guard counts its kind on the thread and checks the
// thread's stack (platform/stack.h). Past the kind's limit, or with the stack
// low, Check() raises EIEException
//
//   "<what> nested too deeply (runaway recursion?)"
//
// so a file that loads itself, a global whose initial value resets the engine
// or a deffunction that never stops ends with that error instead of a crash,
// and the engine stays usable: each guard undoes its count when its scope
// unwinds.
//
//   TNestingGuard nesting(TNesting::nLoad);
//   nesting.Check();
//
// The limits by count: kMaxCallDepth deffunction calls, kMaxReentries loads,
// batches, resets, global initialisers and deffacts values, kMaxNesting nested
// forms in one parse and levels of a list; nested function calls are bounded
// by the stack only. A list value deeper than kMaxNesting is refused when it
// is built (values/value_vector.h), so printing, comparing, hashing and
// releasing a value recurse at most that deep.
//
// Thread safety: the counts are the thread's own.

#include <cstdint>
#include <string>

#include "zephro/platform/stack.h"

namespace zephro {

inline constexpr int kMaxNesting = 1000;
inline constexpr int kMaxCallDepth = 10000;
inline constexpr int kMaxReentries = 64;

enum class TNesting : std::uint8_t {
  nCall,         // a function call inside another's arguments or body
  nDeffunction,  // a deffunction's body
  nLoad,         // a file loaded, or a text parsed, from a running program
  nBatch,        // a file batched from a running program
  nReset,        // a reset under way
  nGlobal,       // a global's initial value being evaluated
  nDeffacts,     // a deffacts value being evaluated
  nParse,        // a nested form being parsed
  nPattern,      // a nested pattern being compiled
  nValue,        // a nested value being printed, compared or copied
};

class TNestingGuard {
 public:
  explicit TNestingGuard(TNesting kind) noexcept : kind_(kind) { ++Counts()[Index()]; }
  ~TNestingGuard() { --Counts()[Index()]; }
  TNestingGuard(const TNestingGuard&) = delete;
  TNestingGuard& operator=(const TNestingGuard&) = delete;

  // Whether this level goes past its kind's limit or the stack's. Asked on
  // every call the engine evaluates: inline.
  bool TooDeep() const noexcept { return PastLimit() || StackIsLow(); }
  // Whether it goes past its kind's limit, the stack aside: for a level that
  // only ever starts right under another whose guard checked the stack.
  bool PastLimit() const noexcept {
    const int limit = kLimits[Index()];
    return limit > 0 && Counts()[Index()] > limit;
  }
  // "<what> nested too deeply (runaway recursion?)"
  std::string Message() const;
  // Raises EIEException with Message() when TooDeep().
  void Check() const {
    if (TooDeep()) {
      Raise();
    }
  }

  // The levels of `kind` the thread holds now.
  static int Depth(TNesting kind) noexcept {
    return Counts()[static_cast<std::size_t>(kind)];
  }

 private:
  static constexpr std::size_t kKinds = 10;
  static_assert(kKinds == static_cast<std::size_t>(TNesting::nValue) + 1);
  // Each kind's limit, in TNesting's order; 0: the stack's only.
  static constexpr int kLimits[kKinds] = {
      0,              // calls
      kMaxCallDepth,  // deffunctions
      kMaxReentries,  // loads
      kMaxReentries,  // batches
      kMaxReentries,  // resets
      kMaxReentries,  // global initial values
      kMaxReentries,  // deffacts values
      kMaxNesting,    // forms
      kMaxNesting,    // patterns
      kMaxNesting,    // values
  };
  static int* Counts() noexcept {
    thread_local int counts[kKinds] = {};
    return counts;
  }
  std::size_t Index() const noexcept { return static_cast<std::size_t>(kind_); }
  [[noreturn]] void Raise() const;

  TNesting kind_;
};

}  // namespace zephro

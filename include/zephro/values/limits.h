#pragma once

// Limits on what the programs an engine runs may spend, for hosts that run
// knowledge they do not trust (a sandbox, a fuzzer). Every limit is 0 by
// default, which means none.
//
// Usage counts from the engine's creation or the last ResetUsage(); Clear()
// does not reset it, so a program cannot buy itself a new allowance. A charge
// that takes a count past its limit raises EIEException (SLimitExceeded,
// naming the limit, as ELimitExceeded); the count stays where it was before the charge, so the
// engine stays usable: raising the limit or resetting the usage lets the
// next program go on. The language's try does not catch ELimitExceeded:
// a program that spent its allowance cannot carry on behind a handler.
//
//   engine.SetLimits({.rule_firings = 10000, .output_bytes = 1 << 20});
//   engine.SetFileAccess(false);  // open, load, save, remove ... raise
//
// Thread safety: none; used on the engine's thread, like the engine.

#include <cstdint>

#include "zephro/values/exceptions.h"

namespace zephro {

class ELimitExceeded : public EIEException {
 public:
  using EIEException::EIEException;
};

struct TEngineLimits {
  std::int64_t rule_firings = 0;     // rules fired
  std::int64_t loop_iterations = 0;  // turns of while and loop-for-count, together
  std::int64_t nesting = 0;          // function calls evaluated inside one another
  std::int64_t output_bytes = 0;     // text passed to PrintOut
  // Bytes of text and multifield items in the results functions return,
  // summed over every call: garbage counts too, so this bounds the memory a
  // program can take at once through the values it builds.
  std::int64_t memory_bytes = 0;
};

class TEngineBudget {
 public:
  const TEngineLimits& Limits() const noexcept { return limits_; }
  void SetLimits(const TEngineLimits& limits) noexcept { limits_ = limits; }
  // What was spent since the last ResetUsage(); `nesting` is the depth now.
  const TEngineLimits& Usage() const noexcept { return used_; }
  void ResetUsage() noexcept { used_ = TEngineLimits{.nesting = used_.nesting}; }

  // Each adds to its count; raises SLimitExceeded when that passes the limit.
  void ChargeRuleFiring() { Charge(&TEngineLimits::rule_firings, 1, "rule firings"); }
  void ChargeLoopIteration() { Charge(&TEngineLimits::loop_iterations, 1, "loop iterations"); }
  void ChargeOutput(std::int64_t bytes) {
    Charge(&TEngineLimits::output_bytes, bytes, "bytes of output");
  }
  void ChargeMemory(std::int64_t bytes) {
    Charge(&TEngineLimits::memory_bytes, bytes, "bytes of values built");
  }

  // One level of nesting for its lifetime; raises SLimitExceeded when it
  // goes past the limit (and then holds no level).
  class TCallLevel {
   public:
    explicit TCallLevel(TEngineBudget* budget);
    ~TCallLevel() {
      if (budget_ != nullptr) {
        --budget_->used_.nesting;
      }
    }
    TCallLevel(const TCallLevel&) = delete;
    TCallLevel& operator=(const TCallLevel&) = delete;

   private:
    TEngineBudget* budget_;  // not owned; null when nothing is counted
  };

 private:
  void Charge(std::int64_t TEngineLimits::*count, std::int64_t amount, const char* what);

  TEngineLimits limits_;
  TEngineLimits used_;
};

}  // namespace zephro

#include "zephro/values/limits.h"

#include "zephro/values/messages.h"

namespace zephro {

void TEngineBudget::Charge(std::int64_t TEngineLimits::*count, std::int64_t amount,
                           const char* what) {
  const std::int64_t limit = limits_.*count;
  std::int64_t& used = used_.*count;
  if (limit > 0 && amount > limit - used) {
    throw ELimitExceeded(FormatMessage(SLimitExceeded, static_cast<long long>(limit), what));
  }
  used += amount;
}

TEngineBudget::TCallLevel::TCallLevel(TEngineBudget* budget) : budget_(budget) {
  if (budget_ == nullptr) {
    return;
  }
  const std::int64_t limit = budget_->limits_.nesting;
  if (limit > 0 && budget_->used_.nesting >= limit) {
    budget_ = nullptr;
    throw ELimitExceeded(
        FormatMessage(SLimitExceeded, static_cast<long long>(limit), "nested function calls"));
  }
  ++budget_->used_.nesting;
}

}  // namespace zephro

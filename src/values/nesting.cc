#include "zephro/values/nesting.h"

#include <iterator>

#include "zephro/platform/stack.h"
#include "zephro/values/exceptions.h"

namespace zephro {
namespace {

struct TKindInfo {
  const char* what;
  int limit;  // 0: the stack's only
};

constexpr TKindInfo kKindInfo[] = {
    {"function calls", 0},
    {"deffunction calls", kMaxCallDepth},
    {"loads", kMaxReentries},
    {"batches", kMaxReentries},
    {"resets", kMaxReentries},
    {"global initial values", kMaxReentries},
    {"deffacts values", kMaxReentries},
    {"forms", kMaxNesting},
    {"patterns", kMaxNesting},
    {"values", kMaxNesting},
};

}  // namespace

static_assert(std::size(kKindInfo) == static_cast<std::size_t>(TNesting::nValue) + 1);

bool TNestingGuard::PastLimit() const noexcept {
  const int limit = kKindInfo[Index()].limit;
  return limit > 0 && Counts()[Index()] > limit;
}

bool TNestingGuard::TooDeep() const noexcept { return PastLimit() || StackIsLow(); }

std::string TNestingGuard::Message() const {
  return std::string(kKindInfo[Index()].what) + " nested too deeply (runaway recursion?)";
}

void TNestingGuard::Raise() const { throw EIEException(Message()); }

}  // namespace zephro

#include "zephro/values/nesting.h"

#include <iterator>

#include "zephro/platform/stack.h"
#include "zephro/values/exceptions.h"

namespace zephro {
namespace {

// What each kind nests, in TNesting's order (their limits are in the header).
constexpr const char* kWhat[] = {
    "function calls",        "deffunction calls", "loads", "batches", "resets",
    "global initial values", "deffacts values",   "forms", "patterns", "values",
};

}  // namespace

static_assert(std::size(kWhat) == static_cast<std::size_t>(TNesting::nValue) + 1);

std::string TNestingGuard::Message() const {
  return std::string(kWhat[Index()]) + " nested too deeply (runaway recursion?)";
}

void TNestingGuard::Raise() const { throw EIEException(Message()); }

}  // namespace zephro

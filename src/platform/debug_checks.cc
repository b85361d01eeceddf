#include "platform/debug_checks.h"

#include <cstdio>
#include <cstdlib>

namespace zephro {

void InvariantBroken(const char* what, const char* file, int line) noexcept {
  std::fprintf(stderr, "zephro: invariant broken: %s (%s:%d)\n", what, file, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace zephro

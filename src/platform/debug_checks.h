#pragma once

// Invariant checks of the engine's hand-linked structures.
//
// The structures that link their parts by hand (token memories and the
// links between tokens, the agenda, working memory's indexes, the compact
// arena) each have a CheckInvariants method that walks the structure and
// stops the program at the first broken invariant, naming the structure and
// what is wrong with it. The methods are compiled in every build, so that
// they keep compiling with the code they check and tests can call them
// directly; the engine calls them only in builds configured with
// ZEPHRO_DEBUG_CHECKS (see TInferenceEngine), after each move of facts through
// the network and after each change of the agenda, so that a corruption is
// reported where it happens instead of where it is next read.
//
// A check never follows a link it has not validated first: a corrupted
// structure yields the check's message, not a crash inside the walk.

namespace zephro {

// Prints "zephro: invariant broken: <what> (<file>:<line>)" to stderr and
// aborts. `what` starts with the name of the structure, e.g.
// "token memory: entry on the key chain of another bucket".
[[noreturn]] void InvariantBroken(const char* what, const char* file, int line) noexcept;

}  // namespace zephro

#define ZEPHRO_CHECK(condition, what)                              \
  do {                                                             \
    if (!(condition)) [[unlikely]] {                               \
      ::zephro::InvariantBroken((what), __FILE__, __LINE__);       \
    }                                                              \
  } while (false)

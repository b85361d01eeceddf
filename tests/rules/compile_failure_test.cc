// Running out of memory while a rule is parsed or compiled must leave the
// engine as it was: no node of the failed rule stays in the network, the
// nodes it shared keep their other users, and the engine goes on matching.
// The allocation functions of this test binary can be made to fail at the
// n-th allocation; every n up to what the whole definition needs is tried.

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rules/indexed_sequence.h"
#include "testing/language_fixture.h"
#include "testing/replaceable_new.h"
#include "zephro/rules/rete_network.h"
#include "zephro/values/exceptions.h"

namespace {

// Allocations left before one fails; negative: none fails. One test runs at
// a time in this binary, on one thread.
long g_allocations_left = -1;

void* Allocate(std::size_t size) {
  if (g_allocations_left == 0) {
    g_allocations_left = -1;
    throw std::bad_alloc();
  }
  if (g_allocations_left > 0) {
    --g_allocations_left;
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}

}  // namespace

#if ZEPHRO_REPLACEABLE_NEW
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#endif

namespace zephro::testing {
namespace {

const char* const kSetup =
    "(deftemplate reading (slot sensor) (slot level))"
    "(deftemplate mute (slot sensor))"
    "(defrule first (reading (sensor ?s) (level ?l&:(> ?l 1))) (not (mute (sensor ?s))) =>)"
    "(assert (reading (sensor a) (level 5)) (reading (sensor b) (level 7)) (mute (sensor b)))";
// Shares the first rule's nodes up to its predicate, then adds its own.
const char* const kRule =
    "(defrule second (reading (sensor ?s) (level ?l&:(> ?l 1)))"
    " (not (mute (sensor ?s))) (reading (sensor ?t&~?s)) => (printout t ?s ?t crlf))";
const char* const kLater = "(assert (reading (sensor c) (level 9)) (mute (sensor a)))";

// Parses `text` with the n-th allocation failing (none when n < 0); answers
// whether it went through.
bool ParseFailingAt(TInferenceEngine& engine, const std::string& text, long n) {
  g_allocations_left = n;
  bool parsed = true;
  try {
    engine.Parse(text, true);
  } catch (const std::bad_alloc&) {
    parsed = false;
  } catch (const EBaseException&) {
    parsed = false;  // reported as an error of the definition
  }
  g_allocations_left = -1;
  return parsed;
}

TEST(CompileFailureTest, RunningOutOfMemoryInARuleLeavesTheEngineAsItWas) {
  if (!ZEPHRO_REPLACEABLE_NEW) {
    GTEST_SKIP() << "allocations cannot be made to fail under the thread sanitizer";
  }
  // What the whole definition allocates, and what the engine then does.
  ParserFixture control;
  control.Engine().Parse(kSetup, true);
  const int nodes_before = control.Engine().ReteNetwork().NodeCount();
  g_allocations_left = 1L << 40;
  control.Engine().Parse(kRule, true);
  const long needed = (1L << 40) - g_allocations_left;
  g_allocations_left = -1;
  ASSERT_GT(needed, 10);
  const int nodes_with_rule = control.Engine().ReteNetwork().NodeCount();
  ASSERT_GT(nodes_with_rule, nodes_before);
  control.Engine().Parse(kLater, true);
  const std::vector<std::string> expected = control.Agenda();
  ASSERT_FALSE(expected.empty());

  int failed = 0;
  for (long n = 0; n <= needed; ++n) {
    SCOPED_TRACE(n);
    ParserFixture f;
    TInferenceEngine& e = f.Engine();
    e.Parse(kSetup, true);
    const std::vector<std::string> agenda_before = f.Agenda();
    if (!ParseFailingAt(e, kRule, n)) {
      ++failed;
      if (e.FindRule("second") == nullptr) {
        // The rule is gone, and so is every node it made.
        EXPECT_EQ(e.ReteNetwork().NodeCount(), nodes_before);
        EXPECT_EQ(f.Agenda(), agenda_before);
        e.Parse(kRule, true);
      }
      // Otherwise the failure came after the rule was in place.
    }
    EXPECT_EQ(e.ReteNetwork().NodeCount(), nodes_with_rule);
    e.Parse(kLater, true);
    EXPECT_EQ(f.Agenda(), expected);
  }
  EXPECT_GT(failed, 0);
}

// Three rules join the pattern `b` on `x`, so their joins share one right
// memory; a fact leaving it is taken out in two steps (see the matcher's
// shared memories). Running out of memory between them must leave every
// memory whole, and the engine matching. The fact leaving frees sixty-four
// partial matches of `middle`, whose activations fill more of the agenda
// than one of its leaves holds: a new leaf is allocated on the way.
TEST(CompileFailureTest, RunningOutOfMemoryWhileAFactLeavesKeepsSharedMemoriesWhole) {
  if (!ZEPHRO_REPLACEABLE_NEW) {
    GTEST_SKIP() << "allocations cannot be made to fail under the thread sanitizer";
  }
  std::string setup =
      "(deftemplate b (slot x) (slot y)) (deftemplate a (slot x) (slot n) (slot id))"
      "(deftemplate c (slot x))"
      "(defrule first (b (x ?x) (y ?y)) (b (x ?x) (y ?z&~?y)) => )"
      "(defrule middle (a (x ?x) (n ?n)) (not (b (x ?x) (y ?z&:(< ?z ?n)))) => )"
      "(defrule after (c (x ?x)) (b (x ?x)) => )"
      "(assert (b (x 1) (y 5)) (b (x 1) (y 0)) (b (x 1) (y 4)) (c (x 1)))";
  for (int id = 0; id < 64; ++id) {
    setup += "(assert (a (x 1) (n 1) (id " + std::to_string(id) + ")))";
  }
  long needed = 0;
  {
    ParserFixture control;
    control.Engine().Parse(setup, true);
    ASSERT_EQ(control.Engine().ReteNetwork().RightMemoryCount(), 1);
    g_allocations_left = 1L << 40;
    control.Engine().Retract(2);
    needed = (1L << 40) - g_allocations_left;
    g_allocations_left = -1;
  }
  int failed = 0;
  for (long n = 0; n <= needed; ++n) {
    SCOPED_TRACE(n);
    ParserFixture f;
    TInferenceEngine& e = f.Engine();
    e.Parse(setup, true);
    g_allocations_left = n;
    try {
      e.Retract(2);
    } catch (const std::bad_alloc&) {
      ++failed;
    }
    g_allocations_left = -1;
    e.ReteNetwork().CheckInvariants();  // aborts on a memory left half changed
    e.Parse("(assert (b (x 1) (y 1)) (c (x 1) ))", true);
    e.ReteNetwork().CheckInvariants();
    EXPECT_FALSE(f.Agenda().empty());
  }
  EXPECT_GT(failed, 0);
}

// The agenda's sequence splits a full leaf, and the full nodes above it, as
// it grows, or puts a new leaf beside it when it grows at one of its ends.
// Running out of memory at any point of either leaves it as it was: every
// element in its place, none added.
TEST(CompileFailureTest, RunningOutOfMemoryWhileTheAgendaSplitsKeepsItWhole) {
  if (!ZEPHRO_REPLACEABLE_NEW) {
    GTEST_SKIP() << "allocations cannot be made to fail under the thread sanitizer";
  }
  struct TNoPlace {
    void operator()(int, void*) const noexcept {}
  };
  struct TWhere {
    const char* name;
    int (*at)(int size);
    int least_failures;  // each new leaf, and the inner nodes' splits too
  };
  const TWhere places[] = {
      // In the middle of the first half: splits happen all along the tree.
      {"a quarter in", [](int size) { return size / 4; }, 70},
      {"in front", [](int) { return 0; }, 38},
      {"behind", [](int size) { return size; }, 38},
  };
  for (const TWhere& where : places) {
    SCOPED_TRACE(where.name);
    TIndexedSequence<int, TNoPlace> sequence;
    std::vector<int> model;
    int failures = 0;
    // Past 32 x 16 elements the root's children fill, and the root splits.
    for (int value = 0; value < 1200; ++value) {
      const int at = where.at(static_cast<int>(model.size()));
      for (long n = 0;; ++n) {
        g_allocations_left = n;
        try {
          sequence.Insert(at, value);
          g_allocations_left = -1;
          break;
        } catch (const std::bad_alloc&) {
          g_allocations_left = -1;
          ++failures;
          std::size_t i = 0;
          ASSERT_EQ(sequence.CheckInvariants([&](int v, const auto*, int index) {
                      EXPECT_EQ(static_cast<std::size_t>(index), i);
                      EXPECT_EQ(v, model[i++]);
                    }),
                    model.size())
              << "inserting " << value << ", allocation " << n << " failing";
        }
      }
      model.insert(model.begin() + at, value);
    }
    EXPECT_GT(failures, where.least_failures);
  }
}

}  // namespace
}  // namespace zephro::testing

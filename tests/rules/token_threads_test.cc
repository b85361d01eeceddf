// Tokens are carved from slabs and recycled through lists kept per thread; a
// thread that ends hands its list and the uncarved rest of its slab to the
// threads that go on. Engines run by threads that come and go, one after
// another, must find what a single thread finds, also where the tokens an
// engine releases were made by a thread that has ended.

#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

// Facts (p (a i) (b Target(i))) for i below `facts`, with a values repeating
// every 97 facts, so that a link has several continuations.
int Target(int i) { return (i * 7 + 3) % 97; }

// Chains of two links among them, counted directly.
int ChainsCounted(int facts) {
  int chains = 0;
  for (int i = 0; i < facts; ++i) {
    for (int j = 0; j < facts; ++j) {
      chains += Target(i) == j % 97 ? 1 : 0;  // j extends i
    }
  }
  return chains;
}

void AssertFacts(EngineFixture& fx, int facts) {
  for (int i = 0; i < facts; ++i) {
    fx.Engine().Parse("(assert (p (a " + std::to_string(i % 97) + ") (b " +
                      std::to_string(Target(i)) + ") (n " + std::to_string(i) + ")))");
  }
}

void Load(EngineFixture& fx, int facts) {
  fx.Engine().Parse(
      "(deftemplate p (slot a) (slot b) (slot n))"
      "(defglobal ?*n* = 0)"
      "(defrule chain (p (a ?x) (b ?y)) (p (a ?y) (b ?z)) => (bind ?*n* (+ ?*n* 1)))");
  AssertFacts(fx, facts);
}

int RunAndCount(EngineFixture& fx) {
  fx.Engine().Parse("(bind ?*n* 0)");
  fx.Engine().Run();
  fx.TakeOutput();
  fx.Engine().Parse("(printout t ?*n*)");
  return std::stoi(fx.TakeOutput());
}

TEST(TokenThreadsTest, EnginesMatchAlikeOnThreadsThatComeAndGo) {
  // Each thread builds, runs and drops an engine, then ends: the next one
  // starts from what it handed over, and needs more than that.
  for (const int facts : {300, 600, 1200, 2400}) {
    int found = -1;
    std::thread worker([&] {
      EngineFixture fx;
      Load(fx, facts);
      found = RunAndCount(fx);
    });
    worker.join();
    EXPECT_EQ(found, ChainsCounted(facts)) << facts << " facts";
  }
  // An engine loaded by a thread that has ended, run, cleared and run again
  // here: its tokens are released on this thread and new ones made.
  constexpr int kFacts = 1000;
  std::unique_ptr<EngineFixture> fx;
  std::thread loader([&] {
    fx = std::make_unique<EngineFixture>();
    Load(*fx, kFacts);
  });
  loader.join();
  EXPECT_EQ(RunAndCount(*fx), ChainsCounted(kFacts));
  fx->Engine().Parse("(reset)");
  AssertFacts(*fx, kFacts);
  EXPECT_EQ(RunAndCount(*fx), ChainsCounted(kFacts));
}

}  // namespace
}  // namespace zephro::testing

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

constexpr int kFacts = 3000;

int Target(int i) { return (i * 7 + 3) % kFacts; }

// Chains of two links among the facts (p (a i) (b Target(i))), counted
// directly.
int ChainsCounted() {
  int chains = 0;
  for (int i = 0; i < kFacts; ++i) {
    for (int j = 0; j < kFacts; ++j) {
      chains += Target(i) == j ? 1 : 0;  // j extends i
    }
  }
  return chains;
}

void Load(EngineFixture& fx) {
  fx.Engine().Parse(
      "(deftemplate p (slot a) (slot b))"
      "(defglobal ?*n* = 0)"
      "(defrule chain (p (a ?x) (b ?y)) (p (a ?y) (b ?z)) => (bind ?*n* (+ ?*n* 1)))");
  for (int i = 0; i < kFacts; ++i) {
    fx.Engine().Parse("(assert (p (a " + std::to_string(i) + ") (b " + std::to_string(Target(i)) +
                      ")))");
  }
}

int RunAndCount(EngineFixture& fx) {
  fx.Engine().Parse("(bind ?*n* 0)");
  fx.Engine().Run();
  fx.TakeOutput();
  fx.Engine().Parse("(printout t ?*n*)");
  return std::stoi(fx.TakeOutput());
}

TEST(TokenThreadsTest, EnginesMatchAlikeOnThreadsThatComeAndGo) {
  const int expected = ChainsCounted();
  // Each thread builds, runs and drops an engine, then ends: the next one
  // starts from what it handed over.
  for (int round = 0; round < 3; ++round) {
    int found = -1;
    std::thread worker([&] {
      EngineFixture fx;
      Load(fx);
      found = RunAndCount(fx);
    });
    worker.join();
    EXPECT_EQ(found, expected) << "round " << round;
  }
  // An engine loaded by a thread that has ended, run, cleared and run again
  // here: its tokens are released on this thread and new ones made.
  std::unique_ptr<EngineFixture> fx;
  std::thread loader([&] {
    fx = std::make_unique<EngineFixture>();
    Load(*fx);
  });
  loader.join();
  EXPECT_EQ(RunAndCount(*fx), expected);
  fx->Engine().Parse("(reset)");
  for (int i = 0; i < kFacts; ++i) {
    fx->Engine().Parse("(assert (p (a " + std::to_string(i) + ") (b " +
                       std::to_string(Target(i)) + ")))");
  }
  EXPECT_EQ(RunAndCount(*fx), expected);
}

}  // namespace
}  // namespace zephro::testing

#include "zephro/values/limits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "zephro/engine/inference_engine.h"
#include "zephro/platform/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;
using testing::EngineFixture;

// What running `program` in `fixture`'s engine raised, or "" when nothing.
std::string Raised(EngineFixture& fixture, const std::string& program) {
  try {
    fixture.Engine().Parse(program, true);
    fixture.Engine().Run();
  } catch (const EBaseException& e) {
    return e.what();
  }
  return std::string();
}

// Each limit, met exactly and then passed by one: a program may spend its
// whole allowance, and the first unit beyond raises, naming the limit.
TEST(EngineLimitsTest, AProgramMaySpendItsLimitButNotOneMore) {
  struct Case {
    const char* name;
    TEngineLimits limits;
    const char* within;  // spends the limit exactly
    const char* beyond;  // spends one more
    const char* message;
  };
  const Case kCases[] = {
      {.name = "rule firings",
       .limits = {.rule_firings = 3},
       .within = "(defrule count ?f <- (tick ?n&:(< ?n 3)) => (retract ?f) (assert (tick (+ ?n 1))))"
                 "(assert (tick 0))",
       .beyond = "(defrule count ?f <- (tick ?n&:(< ?n 4)) => (retract ?f) (assert (tick (+ ?n 1))))"
                 "(assert (tick 0))",
       .message = "Limit exceeded: more than 3 rule firings"},
      {.name = "loop iterations",
       .limits = {.loop_iterations = 10},
       .within = "(bind ?i 0) (while (< ?i 10) (bind ?i (+ ?i 1)))",
       .beyond = "(bind ?i 0) (while (< ?i 11) (bind ?i (+ ?i 1)))",
       .message = "Limit exceeded: more than 10 loop iterations"},
      {.name = "nesting",
       .limits = {.nesting = 7},  // (down n) nests 2n + 3 calls: down, if, >
       .within = "(deffunction down (?n) (if (> ?n 0) then (down (- ?n 1)) else 0)) (down 2)",
       .beyond = "(deffunction down (?n) (if (> ?n 0) then (down (- ?n 1)) else 0)) (down 3)",
       .message = "Limit exceeded: more than 7 nested function calls"},
      {.name = "output",
       .limits = {.output_bytes = 10},
       .within = "(printout t \"01234\") (printout t \"56789\")",
       .beyond = "(printout t \"01234\") (printout t \"56789\" x)",
       .message = "Limit exceeded: more than 10 bytes of output"},
      {.name = "values built",
       .limits = {.memory_bytes = 64},
       .within = "(str-cat \"0123456789abcdef\" \"0123456789abcdef\")"
                 "(str-cat \"0123456789abcdef\" \"0123456789abcdef\")",
       .beyond = "(str-cat \"0123456789abcdef\" \"0123456789abcdef\")"
                 "(str-cat \"0123456789abcdef\" \"0123456789abcdef\" x)",
       .message = "Limit exceeded: more than 64 bytes of values built"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EngineFixture fixture;
    TInferenceEngine& engine = fixture.Engine();
    engine.SetLimits(c.limits);
    EXPECT_EQ(Raised(fixture, c.within), "");
    engine.Clear();
    engine.Budget().ResetUsage();
    EXPECT_THAT(Raised(fixture, c.beyond), HasSubstr(c.message));
    // Spent, the allowance stays spent: no second program gets through.
    EXPECT_THAT(Raised(fixture, c.beyond), HasSubstr(c.message));
    // A fresh allowance, and the engine does the same work again.
    engine.Clear();
    engine.Budget().ResetUsage();
    EXPECT_EQ(Raised(fixture, c.within), "");
  }
}

TEST(EngineLimitsTest, NoLimitsByDefault) {
  EngineFixture fixture;
  EXPECT_EQ(fixture.Engine().Limits().rule_firings, 0);
  EXPECT_EQ(Raised(fixture, "(bind ?i 0) (while (< ?i 100000) (bind ?i (+ ?i 1)))"), "");
  EXPECT_EQ(fixture.Engine().Budget().Usage().loop_iterations, 100000);
}

// A handler in the program cannot catch a spent limit and carry on.
TEST(EngineLimitsTest, TryDoesNotCatchASpentLimit) {
  EngineFixture fixture;
  fixture.Engine().SetLimits({.loop_iterations = 5});
  EXPECT_THAT(Raised(fixture, "(try (while TRUE (bind ?x 1)) catch (printout t caught crlf))"
                              "(printout t after crlf)"),
              HasSubstr("Limit exceeded: more than 5 loop iterations"));
  EXPECT_EQ(fixture.TakeOutput(), "");
  // Other errors it still catches.
  fixture.Engine().Budget().ResetUsage();
  EXPECT_EQ(Raised(fixture, "(try (+ a 1) catch (printout t caught crlf))"), "");
  EXPECT_EQ(fixture.TakeOutput(), "caught\n");
}

// Without file access, every function that names a file raises before it
// touches one.
TEST(EngineLimitsTest, WithoutFileAccessNoFunctionTouchesAFile) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zephro-no-files";
  std::filesystem::create_directories(dir);
  const std::string victim = (dir / "victim").string();
  const std::string other = (dir / "other").string();
  const std::string made = (dir / "made").string();
  { std::ofstream(victim) << "(assert (loaded))\n"; }
  const std::string kCalls[] = {
      "(open \"" + made + "\" out \"w\")", "(open \"" + victim + "\" in)",
      "(batch \"" + victim + "\")",        "(load \"" + victim + "\")",
      "(save \"" + made + "\")",           "(load-facts \"" + victim + "\")",
      "(save-facts \"" + made + "\")",     "(dribble-on \"" + made + "\")",
      "(remove \"" + victim + "\")",       "(rename \"" + victim + "\" \"" + other + "\")",
  };
  EngineFixture fixture;
  fixture.Engine().SetFileAccess(false);
  for (const std::string& call : kCalls) {
    SCOPED_TRACE(call);
    const std::string function = call.substr(1, call.find(' ') - 1);
    EXPECT_THAT(Raised(fixture, call),
                HasSubstr("File access is disabled: " + function + " cannot be used"));
  }
  EXPECT_TRUE(std::filesystem::exists(victim));
  EXPECT_FALSE(std::filesystem::exists(other));
  EXPECT_FALSE(std::filesystem::exists(made));
  EXPECT_EQ(fixture.Engine().Facts().Count(), 1);  // the initial fact alone
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zephro

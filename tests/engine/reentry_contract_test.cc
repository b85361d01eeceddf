// The engine under programs that recurse outside deffunctions, values nested
// without end, threads with small stacks and hosts whose handlers call back
// into it. Each case ends with a clear error (or the right result), and the
// engine is then used again to show that it still works.

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/engine_fixture.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/stack.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/nesting.h"

namespace zephro::testing {
namespace {

// The message of what `f` raises, or "" when it raises nothing.
std::string Raised(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// A small program run in `engine`, and what it printed.
std::string StillWorks(TInferenceEngine& engine, EngineFixture* fixture = nullptr) {
  engine.Parse("(defrule still-works (probe ?n) => (printout t \"probe \" ?n crlf))");
  engine.Assert("(probe 7)");
  if (fixture != nullptr) {
    fixture->TakeOutput();  // what parsing printed
  }
  engine.Run();
  return fixture != nullptr ? fixture->TakeOutput() : std::string();
}

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

// --- recursion through the engine's own entry points ---------------------------------------

struct Recursion {
  const char* name;
  // The file the program needs, if any: {file name, text}; $F stands for its path.
  const char* file;
  const char* file_text;
  const char* program;
  const char* error;  // a part of the error raised
};

const Recursion kRecursions[] = {
    {"a file that loads itself", "self_load.clp", "(load \"$F\")", "(load \"$F\")",
     "loads nested too deeply (runaway recursion?)"},
    {"a file that batches itself", "self_batch.clp", "(batch \"$F\")", "(batch \"$F\")",
     "batches nested too deeply (runaway recursion?)"},
    {"a global whose initial value resets", nullptr, nullptr, "(defglobal ?*g* = (reset))",
     "nested too deeply (runaway recursion?)"},
    {"a deffacts value that resets", nullptr, nullptr, "(deffacts d (a (reset))) (reset)",
     "resets nested too deeply (runaway recursion?)"},
    {"a deffunction that never stops", nullptr, nullptr,
     "(deffunction down (?n) (down (+ ?n 1))) (down 0)",
     "deffunction calls nested too deeply (runaway recursion?)"},
    {"a deffunction that loads a file calling it", "calls_back.clp", "(again)",
     "(deffunction again () (load \"$F\")) (again)", "nested too deeply (runaway recursion?)"},
};

class RecursionGuardTest : public ::testing::TestWithParam<Recursion> {};

TEST_P(RecursionGuardTest, EndsWithAnErrorAndTheEngineGoesOn) {
  const Recursion& r = GetParam();
  EngineFixture fx;
  std::string program = r.program;
  if (r.file != nullptr) {
    const std::string path = ::testing::TempDir() + r.file;
    std::string text = r.file_text;
    if (const std::size_t at = text.find("$F"); at != std::string::npos) {
      text.replace(at, 2, path);
    }
    WriteFile(r.file, text);
    program.replace(program.find("$F"), 2, path);
  }
  fx.Engine().Parse("(deftemplate kept (slot k))");
  fx.Engine().Assert("(kept (k 1))");
  EXPECT_NE(Raised([&] { fx.Engine().Parse(program); }).find(r.error), std::string::npos)
      << Raised([&] { fx.Engine().Parse(program); });
  EXPECT_NE(fx.Engine().FindFactTemplate("kept"), nullptr);
  EXPECT_EQ(StillWorks(fx.Engine(), &fx), "probe 7\n");
  for (TNesting kind : {TNesting::nLoad, TNesting::nBatch, TNesting::nReset, TNesting::nGlobal,
                        TNesting::nDeffacts, TNesting::nDeffunction, TNesting::nCall}) {
    EXPECT_EQ(TNestingGuard::Depth(kind), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, RecursionGuardTest, ::testing::ValuesIn(kRecursions),
                         [](const auto& param_info) {
                           std::string name;
                           for (const char* c = param_info.param.name; *c != '\0'; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

TEST(RecursionGuardTest, NestingWithinTheLimitsIsAllowed) {
  EngineFixture fx;
  // A file that loads another, which batches a third: three levels.
  const std::string third = WriteFile("third.bat", "(printout t \"third\" crlf)\n");
  const std::string second = WriteFile("second.clp", "(batch \"" + third + "\")");
  fx.Engine().Parse("(load \"" + WriteFile("first.clp", "(load \"" + second + "\")") + "\")");
  EXPECT_NE(fx.TakeOutput().find("third"), std::string::npos);
  // A reset inside a global's initial value, once, at the top.
  fx.Engine().Parse("(defglobal ?*n* = 0) (deffunction bump () (bind ?*n* (+ ?*n* 1)))");
  fx.Engine().Parse("(deffacts start (count (bump)))");
  fx.Engine().Reset();
  fx.Engine().Reset();
  EXPECT_EQ(fx.Engine().Facts().Count(), 2);  // the initial fact and (count 1)
}

// --- values nested deeper than the parser would read ----------------------------------------

std::string NestedList(int depth) {
  return "(bind ?m (create$)) (bind ?i 1) (while (<= ?i " + std::to_string(depth) +
         ") do (bind ?m (create$ ?m ?i)) (bind ?i (+ ?i 1)))";
}

TEST(DeepValueTest, AListDeeperThanTheLimitIsRefusedWhenBuilt) {
  EngineFixture fx;
  EXPECT_EQ(Raised([&] { fx.Engine().Parse(NestedList(200000)); }).find(
                "Lists may not nest deeper than 1000 levels") != std::string::npos,
            true);
  EXPECT_EQ(StillWorks(fx.Engine(), &fx), "probe 7\n");
}

TEST(DeepValueTest, AListAtTheLimitPrintsComparesAndGoes) {
  EngineFixture fx;
  // 999 levels of create$ inside the outermost list: 1000 in all.
  fx.Engine().Parse("(defglobal ?*a* = 0 ?*b* = 0)");
  fx.Engine().Parse(NestedList(999) + " (bind ?*a* ?m)");
  fx.Engine().Parse(NestedList(999) + " (bind ?*b* ?m)");
  fx.TakeOutput();
  fx.Engine().Parse("(printout t (eq ?*a* ?*b*) crlf)");
  EXPECT_EQ(fx.TakeOutput(), "TRUE\n");
  fx.Engine().Parse("(printout t ?*a* crlf)");
  const std::string printed = fx.TakeOutput();
  std::istringstream words(printed.substr(1, printed.find(')') - 1));
  std::vector<std::string> read{std::istream_iterator<std::string>(words), {}};
  ASSERT_EQ(read.size(), 999u);
  EXPECT_EQ(read.front(), "1");
  EXPECT_EQ(read.back(), "999");
  // One level more is one too many, wherever it is added.
  EXPECT_NE(Raised([&] { fx.Engine().Parse("(create$ ?*a* x)"); }).find("nest deeper"),
            std::string::npos);
  fx.Engine().Parse("(bind ?*a* 0) (bind ?*b* 0)");  // released
  EXPECT_EQ(StillWorks(fx.Engine(), &fx), "probe 7\n");
}

// --- threads with small stacks ---------------------------------------------------------------

struct StackCase {
  const char* name;
  std::function<void(TInferenceEngine&)> run;
};

std::string Nested(const std::string& open, const std::string& inner, int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) {
    s += open;
  }
  s += inner;
  s.append(static_cast<std::size_t>(depth), ')');
  return s;
}

const StackCase kStackCases[] = {
    {"a 999-deep expression",
     [](TInferenceEngine& e) { e.Parse(Nested("(+ 1 ", "1", 999)); }},
    {"a deffunction without end",
     [](TInferenceEngine& e) {
       e.Parse("(deffunction f (?n) (+ 1 (f ?n)))");
       e.Parse("(f 0)");
     }},
    {"999 nested nots",
     [](TInferenceEngine& e) {
       e.Parse("(defrule r " + Nested("(not ", "(a)", 999) + " => )");
       e.Assert("(a)");
     }},
};

struct ThreadRun {
  const StackCase* c;
  std::string raised;
  std::string after;
};

void* RunOnThread(void* arg) {
  auto* run = static_cast<ThreadRun*>(arg);
  EngineFixture fx;
  run->raised = Raised([&] { run->c->run(fx.Engine()); });
  std::string printed;
  const std::string failed = Raised([&] { printed = StillWorks(fx.Engine(), &fx); });
  run->after = failed.empty() ? printed : failed;
  return nullptr;
}

class SmallStackTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SmallStackTest, DeepProgramsRaiseInsteadOfOverflowing) {
  for (const StackCase& c : kStackCases) {
    SCOPED_TRACE(c.name);
    ThreadRun run{&c, {}, {}};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, GetParam());
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, RunOnThread, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    // Either the stack held it or the guard refused it; never a crash.
    if (!run.raised.empty()) {
      EXPECT_TRUE(run.raised.find("nested too deeply") != std::string::npos ||
                  run.raised.find("nesting deeper") != std::string::npos)
          << run.raised.substr(0, 200);
    }
    EXPECT_EQ(run.after, "probe 7\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Stacks, SmallStackTest,
                         ::testing::Values(kMinimumStack, 2 * kMinimumStack, 16 * kMinimumStack));

// --- hosts calling back ------------------------------------------------------------------------

class HostCallbackTest : public ::testing::Test {
 protected:
  HostCallbackTest() {
    fx_.Engine().Parse(
        "(defrule a (declare (salience 10)) (x ?n) => (printout t \"A\" ?n crlf))"
        "(defrule b (x ?n) => (printout t \"B\" ?n crlf))");
  }
  TInferenceEngine& Engine() { return fx_.Engine(); }
  EngineFixture fx_;
};

TEST_F(HostCallbackTest, ClearInsideARuleFiredHandlerIsRefused) {
  Engine().Assert("(x 1)");
  fx_.TakeOutput();
  Engine().OnRuleFired = [](TInferenceEngine& e, TRule&) { e.Clear(); };
  EXPECT_EQ(Raised([&] { Engine().Run(); }), "cannot clear while rules are firing");
  Engine().OnRuleFired = nullptr;
  EXPECT_EQ(Engine().Run(), 1);  // b's activation is still there
  EXPECT_EQ(fx_.TakeOutput(), "A1\nB1\n");
  Engine().Clear();  // and outside a run it clears
  EXPECT_EQ(Engine().FindFactTemplate("x"), nullptr);
}

TEST_F(HostCallbackTest, ClearInsideAResetIsRefused) {
  Engine().OnReset = [](TInferenceEngine& e) { e.Clear(); };
  EXPECT_EQ(Raised([&] { Engine().Reset(); }), "cannot clear while the engine is resetting");
  Engine().OnReset = nullptr;
  EXPECT_EQ(StillWorks(Engine(), &fx_), "probe 7\n");
}

TEST_F(HostCallbackTest, RunInsideARunIsRefusedAndNothingFiresTwice) {
  Engine().Assert("(x 1)");
  Engine().Assert("(x 2)");
  fx_.TakeOutput();
  std::vector<std::string> refused;
  Engine().OnRuleFired = [&](TInferenceEngine& e, TRule&) {
    refused.push_back(Raised([&] { e.Run(); }));
  };
  EXPECT_EQ(Engine().Run(), 4);
  EXPECT_EQ(fx_.TakeOutput(), "A2\nA1\nB2\nB1\n");
  EXPECT_EQ(refused, std::vector<std::string>(4, "cannot run while rules are firing"));
  Engine().OnStartInference = [&](TInferenceEngine& e) { refused = {Raised([&] { e.Run(); })}; };
  Engine().Run();
  EXPECT_EQ(refused, std::vector<std::string>{"cannot run while rules are firing"});
}

TEST_F(HostCallbackTest, AThrowingActivationHandlerLeavesNoTrace) {
  bool thrown = false;
  Engine().OnAddActivation = [&](TInferenceEngine&, int, TActivation&) {
    if (!thrown) {
      thrown = true;
      throw std::runtime_error("host hook failed");
    }
  };
  const int facts = Engine().Facts().Count();
  EXPECT_EQ(Raised([&] { Engine().Assert("(x 1)"); }), "host hook failed");
  EXPECT_EQ(Engine().Facts().Count(), facts);
  EXPECT_EQ(Engine().GetAgendaCount(), 0);
  Engine().Assert("(x 1)");  // asserted again, both rules see it
  EXPECT_EQ(Engine().GetAgendaCount(), 2);
}

TEST_F(HostCallbackTest, AFactObjectLivesInOneWorkingMemory) {
  EngineFixture other;
  other.Engine().Parse("(defrule seen (x ?n) => (printout t \"seen \" ?n crlf))");
  Engine().Assert("(x 0)");
  Ref<IFact> f = Engine().ParseFact("(x 1)");
  const std::int32_t id = Engine().Assert(f);
  EXPECT_EQ(Raised([&] { other.Engine().Assert(f); }),
            "cannot assert (x 1 ): the fact is in the working memory of another engine");
  EXPECT_EQ(f->GetID(), id);
  EXPECT_EQ(Engine().Assert(f), -1);  // already here: asserted once
  // A copy goes anywhere; once retracted, the fact itself may move.
  Ref<IFact> copy = f->Clone();
  copy->SetID(-1);
  EXPECT_GE(other.Engine().Assert(copy), 0);
  const int facts = Engine().Facts().Count();
  Engine().Retract(*f);
  EXPECT_EQ(Engine().Facts().Count(), facts - 1);
  EXPECT_EQ(Engine().GetAgendaCount(), 2);  // a and b on (x 0)
  other.Engine().Retract(*copy);
  EXPECT_GE(other.Engine().Assert(f), 0);
  other.TakeOutput();
  other.Engine().Run();
  EXPECT_EQ(other.TakeOutput(), "seen 1\n");
}

using HostCallbackDeathTest = HostCallbackTest;

TEST_F(HostCallbackDeathTest, DeletingTheEngineInsideItsHandlerStopsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto* e = new TInferenceEngine(nullptr);
        e->Parse("(defrule p (x) => (printout t \"x\" crlf))");
        e->Assert("(x)");
        e->OnPrintOut = [e](TInferenceEngine&, std::string_view, std::string_view) { delete e; };
        e->Run();
      },
      "TInferenceEngine deleted while one of its calls was under way");
}

}  // namespace
}  // namespace zephro::testing

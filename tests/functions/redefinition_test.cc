// Deffunctions defined again, removed or left behind: which function each
// call runs, and how long an old function lives.

#include <memory>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/interpreted_function.h"
#include "zephro/functions/user_function.h"
#include "zephro/values/value.h"

#include "testing/call_reader.h"
#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

// (parse-text <text>): reads and runs `text` through the engine's parser,
// the way a loaded file would, from inside whatever calls it.
class TParseTextFunction final : public TIEUserFunction {
 public:
  explicit TParseTextFunction(TInferenceEngine& engine)
      : TIEUserFunction("parse-text", "", " <text>", 1, 1), engine_(engine) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    engine_.Parse(EvalText(call, 0, context));
    return BoolValue(true);
  }

 private:
  TInferenceEngine& engine_;
};

class RedefinitionTest : public ::testing::Test {
 protected:
  RedefinitionTest() {
    AddTestFunctions(Engine());
    Engine().PutUserFunction("parse-text",
                             TIEUserFunction::Make<TParseTextFunction>(Engine()));
  }

  TInferenceEngine& Engine() { return fixture_.Engine(); }
  // What the parser prints for `program`: a line per construct or value,
  // and what the program prints itself.
  std::string Run(std::string_view program) {
    fixture_.TakeOutput();
    Engine().Parse(program);
    return fixture_.TakeOutput();
  }
  std::string Eval(std::string_view text) { return EvalToString(Engine(), text); }
  Ref<TInterpretedFunction> Function(std::string_view name) {
    auto* f = dynamic_cast<TInterpretedFunction*>(Engine().GetUserFunction(name));
    EXPECT_NE(f, nullptr) << name;
    return Ref<TInterpretedFunction>(f);
  }

  EngineFixture fixture_;
};

TEST_F(RedefinitionTest, EachCallRunsTheFunctionItFirstRan) {
  struct Row {
    const char* name;
    const char* program;
    const char* printed;  // what the program's printouts write
  };
  const Row kRows[] = {
      {"a caller that ran g keeps the old g",
       "(deffunction g () 1) (deffunction h () (g)) (printout t (h) crlf)"
       "(deffunction g () 2) (printout t (h) \" \" (g) crlf)",
       "1\n1 2\n"},
      {"a caller that never ran g binds the g of its first run",
       "(deffunction g () 1) (deffunction h () (g))"
       "(deffunction g () 2) (printout t (h) crlf)",
       "2\n"},
      {"a call written alike after the redefinition runs the new function",
       "(deffunction g () 1) (printout t (+ (g) 0) crlf)"
       "(deffunction g () 2) (printout t (+ (g) 0) crlf)"
       "(deffunction k () (+ (g) 0)) (printout t (k) crlf)",
       "1\n2\n2\n"},
      {"an old recursive function goes on calling itself",
       "(deffunction down (?n) (if (> ?n 0) then (down (- ?n 1)) else old))"
       "(deffunction use () (down 2)) (printout t (use) crlf)"
       "(deffunction down (?n) new) (printout t (use) \" \" (down 2) crlf)",
       "old\nold new\n"},
      {"a rule's action keeps the function it ran",
       "(deffunction g () 1) (defrule r (go ?) => (printout t (g) crlf))"
       "(assert (go 1)) (run) (deffunction g () 2) (assert (go 2)) (run)",
       "1\n1\n"},
      // Adding r2 feeds the fact through the entry it shares with r1, which
      // fires again, still with the old g; r2's test, written alike, asks
      // the new g and fails.
      {"a rule's test compiled after the redefinition asks the new function",
       "(deffunction g () 1) (defrule r1 (go ?) (test (= (g) 1)) => (printout t r1 crlf))"
       "(assert (go 1)) (run) (deffunction g () 2)"
       "(defrule r2 (go ?) (test (= (g) 1)) => (printout t r2 crlf)) (run)",
       "r1\nr1\n"},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    Engine().Clear();
    fixture_.TakeOutput();
    std::string printed;
    Engine().OnPrintOut = [&](TInferenceEngine&, std::string_view logical, std::string_view text) {
      if (logical == "t") {
        printed += text;
      }
    };
    Engine().Parse(row.program);
    EXPECT_EQ(printed, row.printed);
  }
}

TEST_F(RedefinitionTest, RedefinedOrClearedWhileRunningTheBodyFinishes) {
  EXPECT_EQ(Run("(deffunction f () (parse-text \"(deffunction f () 2)\") (emit still) 1)"
                "(printout t (f) crlf) (printout t (f) crlf)"),
            "f\nf\nstill 1\n2\n");
  // The old body's inner call first runs after the redefinition: it binds
  // the new function.
  EXPECT_EQ(Run("(deffunction self (?n) (if (> ?n 0) then (parse-text \"(deffunction self (?n) "
                "replaced)\") (self (- ?n 1)) else bottom))"
                "(printout t (self 1) crlf) (printout t (self 1) crlf)"),
            "self\nself\nreplaced\nreplaced\n");
  EXPECT_EQ(Run("(deffunction wipe () (clear) (emit after clear) done)"
                "(printout t (wipe) crlf)"),
            "wipe\nafter clear done\n");
  EXPECT_EQ(Eval("(wipe)"), "error: Function is unimplemented or unassigned: wipe");
}

// A function's parameter values go with it: a hold on one tells whether the
// function is still alive without keeping the function itself.
TEST_F(RedefinitionTest, AnOldFunctionLivesWhileACallHoldsIt) {
  Eval("(deffunction g (?x) (emit old) ?x)");
  Eval("(deffunction h () (g 1))");
  EXPECT_EQ(Eval("(h)"), "1");
  Ref<IIEValue> parameter(&Function("g")->Argument(0));
  ASSERT_EQ(parameter->RefCount(), 2);  // the function's and this test's
  Eval("(deffunction g (?x) new)");
  CollectRetiredFunctions();
  EXPECT_EQ(parameter->RefCount(), 2);  // h's call holds the old g
  EXPECT_EQ(Eval("(h)"), "1");
  EXPECT_EQ(fixture_.TakeOutput(), "old old ");
  EXPECT_EQ(Eval("(g 1)"), "new");
  Eval("(deffunction h () 0)");
  CollectRetiredFunctions();
  EXPECT_EQ(parameter->RefCount(), 1);  // the old h went, and the old g with it
}

TEST_F(RedefinitionTest, RetiredFunctionsThatOnlyRetiredOnesReachAreFreed) {
  struct Row {
    const char* name;
    const char* setup[3];  // run in order, then the functions are defined again
    const char* redefined[2];
  };
  const Row kRows[] = {
      {"a recursive function",
       {"(deffunction f (?n) (if (> ?n 0) then (f (- ?n 1)) else (emit f)))", "(f 2)", nullptr},
       {"(deffunction f () 0)", nullptr}},
      {"two functions calling each other",
       {"(deffunction f (?n) (if (> ?n 0) then (g (- ?n 1)) else (emit f)))",
        "(deffunction g (?n) (f ?n))", "(f 2)"},
       {"(deffunction f () 0)", "(deffunction g () 0)"}},
      {"a recursive function held by a caller defined again too",
       {"(deffunction f (?n) (if (> ?n 0) then (f (- ?n 1)) else (emit f)))",
        "(deffunction h () (f 2))", "(h)"},
       {"(deffunction f () 0)", "(deffunction h () 0)"}},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    for (const char* step : row.setup) {
      if (step != nullptr) {
        Eval(step);
      }
    }
    ASSERT_EQ(fixture_.TakeOutput(), "f ");
    Ref<IIEValue> parameter(&Function("f")->Argument(0));
    ASSERT_EQ(parameter->RefCount(), 2);
    Eval(row.redefined[0]);
    CollectRetiredFunctions();
    if (row.redefined[1] != nullptr) {
      EXPECT_EQ(parameter->RefCount(), 2);  // still called by a function filed
      Eval(row.redefined[1]);
      CollectRetiredFunctions();
    }
    EXPECT_EQ(parameter->RefCount(), 1);  // the old f was freed
  }
}

TEST_F(RedefinitionTest, AHeldFunctionKeepsItsActionsUntilItsEngineEnds) {
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  engine->OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view) {};
  EvalToString(*engine, "(deffunction again (?n) (if (> ?n 0) then (again (- ?n 1)) else 0))");
  EXPECT_EQ(EvalToString(*engine, "(again 2)"), "0");
  Ref<TInterpretedFunction> held(dynamic_cast<TInterpretedFunction*>(
      engine->GetUserFunction("again")));
  ASSERT_TRUE(held);
  engine->Clear();
  CollectRetiredFunctions();
  EXPECT_EQ(held->StatementCount(), 1);
  engine.reset();
  EXPECT_EQ(held->StatementCount(), 0);
  EXPECT_EQ(held->ArgumentCount(), 1);
}

}  // namespace
}  // namespace zephro::testing

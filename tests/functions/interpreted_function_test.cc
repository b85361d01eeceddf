#include "zephro/functions/interpreted_function.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "testing/call_reader.h"
#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

class InterpretedFunctionTest : public ::testing::Test {
 protected:
  InterpretedFunctionTest() { AddTestFunctions(Engine()); }

  TInferenceEngine& Engine() { return fixture_.Engine(); }
  std::string Eval(std::string_view text) { return EvalToString(Engine(), text); }

  void RunSteps(const std::vector<EvalStep>& steps) { RunEvalSteps(fixture_, steps); }

  TInterpretedFunction& Function(std::string_view name) {
    auto* f = dynamic_cast<TInterpretedFunction*>(Engine().GetUserFunction(name));
    EXPECT_NE(f, nullptr) << name;
    return *f;
  }

  EngineFixture fixture_;
};

TEST(InterpretedFunctionParametersTest, OnlyVariablesAndAtomsAreParameters) {
  for (TIEType kind : {TIEType::dtInteger, TIEType::dtString, TIEType::dtFunCall}) {
    const std::string name(IETypeName(kind));
    SCOPED_TRACE(name);
    Ref<TInterpretedFunction> f = TIEUserFunction::Make<TInterpretedFunction>("f");
    EXPECT_THAT(
        [&] { f->AddArgument("p", kind); },
        ThrowsMessage<EIEException>(StrEq("Invalid argument type for deffunction: \"" + name +
                                          "\".  Expected Atom, Variable, MultiVariable")));
    EXPECT_EQ(f->ArgumentCount(), 0);
  }
  Ref<TInterpretedFunction> f = TIEUserFunction::Make<TInterpretedFunction>("f");
  f->AddArgument("rest", TIEType::dtMultiVariable);
  EXPECT_THAT([&] { f->AddArgument("x", TIEType::dtVariable); },
              ThrowsMessage<EIEException>(
                  StrEq("f error: the multifield parameter $?rest must be the last parameter")));
}

TEST(InterpretedFunctionParametersTest, LimitsFollowTheParameters) {
  constexpr std::int32_t kMax = 2147483647;
  struct Row {
    std::vector<std::pair<const char*, TIEType>> parameters;
    const char* syntax;
    std::int32_t min;
    std::int32_t max;
  };
  const Row kRows[] = {
      {{}, "", 0, 0},
      {{{"a", TIEType::dtVariable}}, " ?a", 1, 1},
      {{{"a", TIEType::dtVariable}, {"rest", TIEType::dtMultiVariable}}, " ?a $?rest", 2, kMax},
      {{{"rest", TIEType::dtMultiVariable}}, " $?rest", 1, kMax},
      {{{"x", TIEType::dtAtom}, {"y", TIEType::dtVariable}}, " x ?y", 2, 2},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.syntax);
    Ref<TInterpretedFunction> f = TIEUserFunction::Make<TInterpretedFunction>("f");
    for (const auto& [name, kind] : row.parameters) {
      f->AddArgument(name, kind);
    }
    EXPECT_EQ(f->ArgumentString(), row.syntax);
    EXPECT_EQ(f->MinArgumentCount(), row.min);
    EXPECT_EQ(f->MaxArgumentCount(), row.max);
    EXPECT_TRUE(f->IsInterpreted());
  }
}

TEST_F(InterpretedFunctionTest, CallsBindParametersInTheirOwnScope) {
  RunSteps({
      {"(deffunction fact (?n) (if (<= ?n 1) then 1 else (* ?n (fact (- ?n 1)))))", ""},
      {"(fact 5)", "120"},
      {"(fact)", "error: Too few arguments for fact"},
      {"(fact 1 2)", "error: Too many arguments for fact"},
      {"(deffunction tail (?a $?rest) ?rest)", ""},
      {"(tail 1)", "error: Too few arguments for tail"},
      {"(tail 1 2 3)", "2 3 "},
      {"(deffunction pair (?a ?b) (emit ?a ?b))", ""},
      {"(bind ?a 1)", "1"},
      {"(bind ?b 2)", "2"},
      {"(pair ?b ?a)", "1", "2 1 "},
      {"(deffunction shadow (?a) (bind ?a 100) ?a)", ""},
      {"(shadow 5)", "100"},
      {"?a", "1"},
      {"(deffunction touch () (bind ?b 20))", ""},
      {"(touch)", "20"},
      {"?b", "20"},
      {"(deffunction quoted (x ?y) (emit ?x ?y))", ""},
      {"(quoted (emit never) 3)", "3", " 3 "},
      {"(deffunction nothing ())", ""},
      {"(nothing)", ""},
  });
}

TEST_F(InterpretedFunctionTest, ReturnEndsTheCallWithTheReturnedExpression) {
  RunSteps({
      {"(deffunction sign (?n) (if (< ?n 0) then (return negative)) (emit checked) positive)", ""},
      {"(sign -3)", "negative"},
      {"(sign 3)", "positive", "checked "},
      {"(deffunction later (?n) (bind ?m (* ?n 2)) (return (+ ?m 1)) (emit unreached))", ""},
      {"(later 4)", "9"},
      {"(+ (later 1) (sign 1))", "error: Not a numeric type.  Value (positive) is a dtAtom type",
       "checked "},
  });
}

TEST_F(InterpretedFunctionTest, RunawayRecursionRaisesAndTheEngineGoesOn) {
  RunSteps({
      {"(deffunction down (?n) (down (+ ?n 1)))", ""},
      {"(down 0)", "error: down error: deffunction calls nested too deeply (runaway recursion?)"},
      {"(deffunction deep (?n) (if (> ?n 1) then (deep (- ?n 1)) else bottom))", ""},
      {"(deep 1000)", "bottom"},
      {"(deep 10001)",
       "error: deep error: deffunction calls nested too deeply (runaway recursion?)"},
      // Each level of this one holds far more stack than a level of deep: the
      // stack runs short long before the count does, and the guard on every
      // call says so.
      {"(deffunction heavy (?n) (while TRUE (try (if (> ?n 1) then (bind ?r (heavy (- ?n 1))) "
       "else (bind ?r bottom)) catch (return ?__ERROR)) (return ?r)))",
       ""},
      {"(heavy 1000)", "bottom"},
      {"(heavy 100000)",
       "\"function calls nested too deeply (runaway recursion?)\""},
      {"(try (down 0) catch caught)", "caught"},
      {"(fact-free 3)", "error: Function is unimplemented or unassigned: fact-free"},
      {"(deep 3)", "bottom"},
  });
}

TEST_F(InterpretedFunctionTest, PrintsBackAsADeffunction) {
  struct Row {
    const char* definition;
    const char* name;
    const char* printed;
  };
  const Row kRows[] = {
      {"(deffunction nothing ())", "nothing", "(deffunction nothing ()\n)"},
      {"(deffunction fact (?n) \"n \\\"factorial\\\"\" (if (<= ?n 1) then 1 else (* ?n 2)))",
       "fact",
       "(deffunction fact (?n)\n  \"n \\\"factorial\\\"\"\n"
       "  (if (<= ?n 1) then 1 else (* ?n 2))\n)"},
      {"(deffunction two (x $?more) (emit ?more) done)", "two",
       "(deffunction two (x $?more)\n  (emit ?more)\n  done\n)"},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    Eval(row.definition);
    EXPECT_EQ(Function(row.name).PrettyPrint(), row.printed);
  }
  EXPECT_EQ(Function("fact").ToString(nullptr), "n \"factorial\"\n     syntax: (fact ?n)");
}

TEST_F(InterpretedFunctionTest, ClearRemovesDeffunctionsOnly) {
  Eval("(deffunction mine () 1)");
  ASSERT_NE(Engine().GetUserFunction("mine"), nullptr);
  Engine().Clear();
  EXPECT_EQ(Engine().GetUserFunction("mine"), nullptr);
  EXPECT_NE(Engine().GetUserFunction("if"), nullptr);
  EXPECT_EQ(Eval("(mine)"), "error: Function is unimplemented or unassigned: mine");
}

TEST_F(InterpretedFunctionTest, AFunctionClearedWhileRunningFinishes) {
  RunSteps({
      {"(deffunction count-down (?n) (if (> ?n 0) then (count-down (- ?n 1)) else done))", ""},
      {"(count-down 3)", "done"},
      {"(deffunction wipe () (clear) (emit still running))", ""},
      {"(wipe)", "running", "still running "},
      {"(wipe)", "error: Function is unimplemented or unassigned: wipe"},
  });
  // What happens to a function held after Clear: redefinition_test.cc.
}

}  // namespace
}  // namespace zephro::testing

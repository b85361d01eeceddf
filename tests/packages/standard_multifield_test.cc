#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/language/clips_parser.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

class StandardMultifieldTest : public ::testing::Test {
 protected:
  TInferenceEngine engine_{nullptr};
};

struct Case {
  const char* call;
  TIEType kind;
  const char* printed;  // the result's printed form: a list prints each item and a blank
};

constexpr TIEType kList = TIEType::dtList;
constexpr TIEType kAtom = TIEType::dtAtom;
constexpr TIEType kString = TIEType::dtString;
constexpr TIEType kInteger = TIEType::dtInteger;

TEST_F(StandardMultifieldTest, FunctionsComputeTheirResults) {
  constexpr Case kCases[] = {
      {"(create$)", kList, ""},
      {R"((create$ a 1 2.5 "s" TRUE))", kList, "a 1 2.5000 \"s\" TRUE "},
      {"(create$ (create$ a b) c)", kList, "a b  c "},
      // delete$, subseq$, replace$: inclusive zero-based ranges.
      {"(delete$ (create$ a b c d) 1 2)", kList, "a d "},
      {"(delete$ (create$ a b c d) 0 0)", kList, "b c d "},
      {"(delete$ (create$ a b c) 2 9)", kList, "a b "},
      {"(delete$ (create$ a b) 5 9)", kList, "a b "},
      {"(delete$ (create$ a b c) -5 0)", kList, "b c "},
      {"(subseq$ (create$ a b c d) 1 2)", kList, "b c "},
      {"(subseq$ (create$ a b c d) 3 3)", kList, "d "},
      {"(subseq$ (create$ a b c d) 2 10)", kList, "c d "},
      {"(subseq$ (create$ a b) 4 5)", kList, ""},
      {"(replace$ (create$ a b c d) 1 2 x y)", kList, "a y x d "},
      {"(replace$ (create$ a b c d) 1 2 x)", kList, "a x d "},
      {"(replace$ (create$ a b) 0 0)", kList, "b "},
      {"(replace$ (create$ a b) 1 5 x)", kList, "a x "},
      // insert$: later values before earlier ones.
      {"(insert$ (create$ a b c) 1 x y)", kList, "a y x b c "},
      {"(insert$ (create$ a b c) 0 x)", kList, "x a b c "},
      {"(insert$ (create$ a b c) 3 x)", kList, "a b c x "},
      {"(insert$ (create$) 0 x)", kList, "x "},
      {"(insert$ (create$ a) 0)", kList, "a "},
      // explode$ and implode$.
      {R"((explode$ "  a   b 1  "))", kList, "a b 1 "},
      {R"((nth$ 2 (explode$ "a b 1")))", kAtom, "1"},
      {R"((nth$ 0 (explode$ "\"q\"")))", kAtom, "\"q\""},
      {R"((explode$ ""))", kList, ""},
      {R"((explode$ "   "))", kList, ""},
      {R"((explode$ "a	b"))", kList, "a\tb "},
      {"(implode$ (create$ a b))", kString, "\"a b\""},
      {R"((implode$ (create$ "x" 1.5 7)))", kString, R"("\"x\" 1.5000 7")"},
      {"(implode$ (create$))", kString, "\"\""},
      // first$, rest$, length$, nth$.
      {"(first$ (create$ a b))", kAtom, "a"},
      {"(first$ (create$))", kAtom, ""},
      {"(rest$ (create$ a b c))", kList, "b c "},
      {"(rest$ (create$ a))", kList, ""},
      {"(rest$ (create$))", kList, ""},
      {"(length$ (create$ a b c))", kInteger, "3"},
      {"(length$ (create$))", kInteger, "0"},
      {"(nth$ 0 (create$ a b))", kAtom, "a"},
      {"(nth$ 1 (create$ a 2))", kInteger, "2"},
      // member$, member, subsetp: strict equality.
      {"(member$ b (create$ a b))", kInteger, "1"},
      {"(member$ b (create$ b b))", kInteger, "0"},
      {"(member$ z (create$ a b))", kAtom, "FALSE"},
      {"(member$ 1 (create$ 1.0 1))", kInteger, "1"},
      {R"((member$ a (create$ "a")))", kAtom, "FALSE"},
      {"(member b a b c)", kInteger, "1"},
      {"(member a a)", kInteger, "0"},
      {"(member z a b)", kAtom, "FALSE"},
      {"(subsetp (create$ a b) (create$ b c a))", kAtom, "TRUE"},
      {"(subsetp (create$ a d) (create$ a b))", kAtom, "FALSE"},
      {"(subsetp (create$ 1) (create$ 1.0))", kAtom, "FALSE"},
      {"(subsetp a (create$ b a))", kAtom, "TRUE"},
      {"(subsetp a (create$))", kAtom, "FALSE"},
      {"(subsetp (create$) (create$))", kAtom, "TRUE"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.call);
    Ref<IIEValue> result = engine_.ParseNExecuteFunCall(c.call);
    EXPECT_EQ(result->DType(), c.kind);
    EXPECT_EQ(result->ToString(), c.printed);
  }
}

struct ErrorCase {
  const char* call;
  const char* message;
};

TEST_F(StandardMultifieldTest, FunctionsRejectBadRangesIndicesAndKinds) {
  constexpr ErrorCase kCases[] = {
      {"(delete$ (create$ a b) 2 1)", "Invalid multifield begin and end parameters: 2, 1"},
      {"(subseq$ (create$ a b c d) 1 0)", "Invalid multifield begin and end parameters: 1, 0"},
      {"(replace$ (create$ a b) 0 -1 x)", "Invalid multifield begin and end parameters: 0, -1"},
      {"(replace$ (create$ a b) 5 6 x)", "Bad Argument: list index out of bounds (5)"},
      {"(replace$ (create$ a b) -1 0 x)", "Bad Argument: list index out of bounds (-1)"},
      {"(insert$ (create$ a b c) 4 x)", "Bad Argument: list index out of bounds (4)"},
      {"(insert$ (create$ a) -1 x)", "Bad Argument: list index out of bounds (-1)"},
      {"(nth$ 2 (create$ a b))", "Bad Argument: list index out of bounds (2)"},
      {"(nth$ -1 (create$ a b))", "Bad Argument: list index out of bounds (-1)"},
      {"(nth$ 0 (create$))", "Bad Argument: list index out of bounds (0)"},
      {"(length$ abc)", "Not a list type.  Value (abc) is a dtAtom type"},
      {R"((first$ "a b"))", "Not a list type.  Value (\"a b\") is a dtString type"},
      {"(member$ a 1)", "Not a list type.  Value (1) is a dtInteger type"},
      {"(subsetp (create$ a) a)", "Not a list type.  Value (a) is a dtAtom type"},
      {"(nth$ x (create$ a))", "Not a integer type.  Value (x) is a dtAtom type"},
      {"(delete$ (create$ a) a 1)", "Not a integer type.  Value (a) is a dtAtom type"},
      {"(explode$ (create$ a))", "Not a string type.  Value (a ) is a dtList type"},
  };
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_THAT([&] { engine_.ParseNExecuteFunCall(c.call); },
                ThrowsMessage<EIEException>(StrEq(c.message)));
  }
}

TEST_F(StandardMultifieldTest, ResultsNeverShareItemsWithTheirSource) {
  Ref<IValueVector> source =
      MakeRef<TValueVector>(std::vector<Ref<IIEValue>>{TIEValue::Atom("a"), TIEValue::Atom("b")});
  engine_.RootContext().AddLocalBinding("l", MakeRef<TIEValue>(source));
  for (const char* call : {"(insert$ ?l 0 x)", "(rest$ ?l)", "(delete$ ?l 5 6)", "(subseq$ ?l 0 1)",
                           "(replace$ ?l 0 0 x)", "(create$ ?l)"}) {
    SCOPED_TRACE(call);
    Ref<IIEValue> result = engine_.ParseNExecuteFunCall(call);
    for (const Ref<IIEValue>& item : result->AsList()->Values()) {
      EXPECT_EQ(source->IndexOf(item.get()), -1);
    }
    EXPECT_EQ(source->ToString(), "a b ");
  }
  // The variable itself is resolved: ?l stands for its list.
  EXPECT_EQ(engine_.ParseNExecuteFunCall("(length$ ?l)")->AsInteger(), 2);
  EXPECT_EQ(engine_.ParseNExecuteFunCall("(member$ b ?l)")->AsInteger(), 1);
}

}  // namespace
}  // namespace zephro

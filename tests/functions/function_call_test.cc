#include "zephro/functions/function_call.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/functions/call_printer.h"
#include "zephro/functions/context.h"
#include "zephro/functions/user_function.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/text.h"
#include "zephro/values/value.h"

#include "testing/fake_reasoner.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using testing::TFakeReasoner;
using ::testing::ThrowsMessage;
using enum TIEType;

// Returns a fixed integer, which tells which of two same-named functions ran;
// a negative one makes it fail.
class TConstantFunction final : public TIEUserFunction {
 public:
  TConstantFunction(std::string_view name, std::int32_t value)
      : TIEUserFunction(name, "", ""), value_(value) {}

 protected:
  Ref<IIEValue> Run(IFunCall&, TIEContext&) override {
    if (value_ < 0) {
      RaiseIEPlain("it failed");
    }
    return TIEValue::Integer(value_);
  }

 private:
  std::int32_t value_;
};

// (and <expression>*): FALSE at the first argument that evaluates to FALSE,
// without evaluating the rest; TRUE otherwise.
class TAndFunction final : public TIEUserFunction {
 public:
  TAndFunction() : TIEUserFunction("and", "", " <expression>*") {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    for (int i = 0; i < call.ArgumentCount(); ++i) {
      if (Eval(call, i, context)->Equals(&FCFalse())) {
        return BoolValue(false);
      }
    }
    return BoolValue(true);
  }
};

// (note <text>): appends the text to a log, a visible side effect.
class TNoteFunction final : public TIEUserFunction {
 public:
  explicit TNoteFunction(std::string& log)
      : TIEUserFunction("note", "", " <text>", 1, 1), log_(log) {}

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    log_ += EvalText(call, 0, context);
    return BoolValue(true);
  }

 private:
  std::string& log_;
};

Ref<TFunctionCall> Call(IReasoner* reasoner, std::string_view name) {
  return MakeRef<TFunctionCall>(reasoner, name);
}

class FunctionCallTest : public ::testing::Test {
 protected:
  // A function returning `value`, filed with the engine under `name`.
  Ref<IUserFunction> File(std::string_view name, std::int32_t value) {
    Ref<IUserFunction> f = TIEUserFunction::Make<TConstantFunction>(name, value);
    f->AddReasoner(*engine_);
    return f;
  }
  std::int32_t Run(IFunCall& call) { return call.Execute(context_)->AsInteger(); }
  void ExpectUnassigned(IFunCall& call, bool simple = false) {
    EXPECT_THAT([&] { simple ? call.SimpleExecute(context_) : void(call.Execute(context_)); },
                ThrowsMessage<EIEException>(
                    StrEq("Function is unimplemented or unassigned: " + call.Name())));
  }

  std::unique_ptr<TFakeReasoner> engine_ = std::make_unique<TFakeReasoner>();
  TIEContext context_;
};

TEST_F(FunctionCallTest, BindsOnFirstExecutionAndKeepsTheBinding) {
  Ref<TFunctionCall> call = Call(engine_.get(), "f");
  ExpectUnassigned(*call);
  EXPECT_EQ(call->UserFunction(), nullptr);

  Ref<IUserFunction> first = File("f", 1);
  EXPECT_EQ(Run(*call), 1);
  EXPECT_EQ(call->UserFunction(), first.get());

  // Filed later under the same name: the engine resolves the new one, the bound
  // call keeps the old.
  Ref<IUserFunction> second = File("f", 2);
  EXPECT_EQ(engine_->ContainsUserFunction("f"), second.get());
  EXPECT_EQ(Run(*call), 1);
  EXPECT_EQ(Run(*Call(engine_.get(), "f")), 2);
}

TEST_F(FunctionCallTest, RemovedOrRenamedFunctionRaisesAndTheNameBindsAgainLater) {
  Ref<IUserFunction> first = File("f", 1);
  Ref<TFunctionCall> call = Call(engine_.get(), "f");
  EXPECT_EQ(Run(*call), 1);
  first->DeleteReasoner(*engine_);
  ExpectUnassigned(*call);
  EXPECT_EQ(call->UserFunction(), nullptr);

  Ref<IUserFunction> second = File("f", 2);
  EXPECT_EQ(Run(*call), 2);
  second->SetFunctionName("g");
  ExpectUnassigned(*call, /*simple=*/true);
}

TEST_F(FunctionCallTest, SimpleExecuteNeverLooksTheNameUp) {
  Ref<IUserFunction> f = File("f", 1);
  Ref<TFunctionCall> call = Call(engine_.get(), "f");
  ExpectUnassigned(*call, /*simple=*/true);
  call->Execute(context_);
  call->SimpleExecute(context_);
  EXPECT_EQ(MakeFunCall(*engine_, "f")->UserFunction(), f.get());
}

TEST_F(FunctionCallTest, FailingFunctionLeavesTheCallBound) {
  Ref<IUserFunction> fail = File("fail", -1);
  Ref<TFunctionCall> call = Call(engine_.get(), "fail");
  EXPECT_THAT([&] { Run(*call); }, ThrowsMessage<EIEException>(StrEq("it failed")));
  EXPECT_EQ(call->UserFunction(), fail.get());
}

TEST_F(FunctionCallTest, ArgumentsAreEvaluatedOnlyWhenTheFunctionAsks) {
  std::string log;
  for (Ref<IUserFunction> f : {Ref<IUserFunction>(TIEUserFunction::Make<TAndFunction>()),
                               Ref<IUserFunction>(TIEUserFunction::Make<TNoteFunction>(log))}) {
    f->AddReasoner(*engine_);
  }
  struct Case {
    const char* first;
    const char* logged;
    const char* result;
  };
  const Case cases[] = {
      {.first = "FALSE", .logged = "", .result = "FALSE"},
      {.first = "TRUE", .logged = "x", .result = "TRUE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    log.clear();
    Ref<TFunctionCall> note = Call(engine_.get(), "note");
    note->AddArgument("x", dtString);
    Ref<TFunctionCall> conjunction = Call(engine_.get(), "and");
    conjunction->AddArgument(c.first, dtAtom);
    conjunction->AddArgument(Ref<IFunCall>(note));
    EXPECT_EQ(conjunction->Execute(context_)->ToString(), c.result);
    EXPECT_EQ(log, c.logged);
  }
}

TEST_F(FunctionCallTest, AddArgumentRejectsKindsTheDatumCannotHave) {
  Ref<TFunctionCall> call = Call(nullptr, "f");
  EXPECT_THAT(
      [&] { call->AddArgument("x", dtInteger); },
      ThrowsMessage<EIEException>(StrEq("Not a String type.  Value (x) is a dtInteger type")));
  EXPECT_THAT(
      [&] { call->AddArgument(std::int32_t{5}, dtAtom); },
      ThrowsMessage<EIEException>(StrEq("Not a Integer type.  Value (5) is a dtAtom type")));
  EXPECT_THAT(
      [&] { call->AddArgument(2.5, dtString); },
      ThrowsMessage<EIEException>(StrEq("Not a Float type.  Value (2.5000) is a dtString type")));
  EXPECT_THAT([&] { call->AddArgument(3e9, dtInteger); },
              ThrowsMessage<EIEException>(
                  StrEq("Not a Float type.  Value (3000000000.0000) is a dtInteger type")));
  EXPECT_THAT([&] { call->AddArgument(Ref<IIEValue>()); },
              ThrowsMessage<EIEException>(StrEq("Bad Argument: nil")));
  EXPECT_EQ(call->ArgumentCount(), 0);
}

TEST_F(FunctionCallTest, AddArgumentStoresEachKind) {
  Ref<TFunctionCall> call = Call(nullptr, "f");
  struct Case {
    int index;
    TIEType kind;
    const char* printed;
  };
  const Case cases[] = {
      {call->AddArgument("a", dtAtom), dtAtom, "a"},
      {call->AddArgument("s", dtString), dtString, "\"s\""},
      {call->AddArgument("x", dtVariable), dtVariable, "?x"},
      {call->AddArgument("r", dtMultiVariable), dtMultiVariable, "$?r"},
      {call->AddArgument("color", dtSlot), dtSlot, "color"},
      {call->AddArgument(std::int32_t{5}, dtFloat), dtFloat, "5.0000"},
      {call->AddArgument(-7, dtInteger), dtInteger, "-7"},
      {call->AddArgument(1.25, dtFloat), dtFloat, "1.2500"},
      {call->AddArgument(Ref<IFunCall>(Call(nullptr, "g"))), dtFunCall, "(g)"},
  };
  ASSERT_EQ(call->ArgumentCount(), static_cast<int>(std::size(cases)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    EXPECT_EQ(call->Argument(c.index)->DType(), c.kind);
    EXPECT_EQ(call->Argument(c.index)->ToString(), c.printed);
  }
}

TEST_F(FunctionCallTest, FloatsBecomeIntegersRoundingHalfToEven) {
  const struct {
    double value;
    std::int32_t stored;
  } cases[] = {{2.5, 2},    {3.5, 4},  {-2.5, -2},
               {-3.5, -4},  {0.5, 0},  {2.4999, 2},
               {2.5001, 3}, {-0.4, 0}, {2147483647.4, 2147483647}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    Ref<TFunctionCall> call = Call(nullptr, "f");
    call->AddArgument(c.value, dtInteger);
    EXPECT_EQ(call->Argument(0)->DType(), dtInteger);
    EXPECT_EQ(call->Argument(0)->AsInteger(), c.stored);
  }
}

TEST_F(FunctionCallTest, ArgumentIndexesAreChecked) {
  Ref<TFunctionCall> call = Call(nullptr, "f");
  call->AddArgument(1, dtInteger);
  EXPECT_THAT([&] { call->Argument(1); },
              ThrowsMessage<EIEException>(StrEq("Bad Argument: argument index out of bounds (1)")));
  call->AddArgument(3, dtInteger);
  call->Delete(0);
  EXPECT_EQ(call->ToString(), "(f 3)");
}

TEST_F(FunctionCallTest, ArgumentsFollowEveryEditAcrossTheirInPlaceCapacity) {
  // Random appends, replacements, deletions and clears against a vector of
  // the same values: a call keeps its first arguments in place and moves
  // them to an array of their own beyond, and back after a clear.
  std::uint32_t seed = 12345;
  auto next = [&](std::uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int round = 0; round < 50; ++round) {
    Ref<TFunctionCall> call = Call(nullptr, "f");
    std::vector<Ref<IIEValue>> model;
    for (int step = 0; step < 40; ++step) {
      const std::uint32_t op = next(10);
      if (op < 6 || model.empty()) {
        Ref<IIEValue> v = TIEValue::Integer(static_cast<std::int32_t>(next(1000)));
        EXPECT_EQ(call->AddArgument(v), static_cast<int>(model.size()));
        model.push_back(v);
      } else if (op < 8) {
        const auto i = static_cast<int>(next(static_cast<std::uint32_t>(model.size())));
        call->Delete(i);
        model.erase(model.begin() + i);
      } else if (op < 9) {
        const auto i = static_cast<int>(next(static_cast<std::uint32_t>(model.size())));
        Ref<IIEValue> v = TIEValue::Atom("x");
        call->SetArgument(i, v);
        model[static_cast<std::size_t>(i)] = v;
      } else {
        call->Clear();
        model.clear();
      }
      ASSERT_EQ(call->ArgumentCount(), static_cast<int>(model.size()));
      for (std::size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(call->Argument(static_cast<int>(i)), model[i].get());
        ASSERT_EQ(call->Arguments()[i].get(), model[i].get());
      }
    }
    // Every value the call let go of is released; those it holds are held once more.
    for (const Ref<IIEValue>& v : model) {
      EXPECT_GE(v->RefCount(), 2);
    }
    const Ref<IFunCall> copy = call->Clone();
    EXPECT_TRUE(copy->Equals(call.get()));
  }
}

TEST_F(FunctionCallTest, CloneEqualsTheOriginalAndHashesAlike) {
  File("f", 1);
  Ref<TFunctionCall> nested = Call(engine_.get(), "g");
  nested->AddArgument("y", dtVariable);
  Ref<TFunctionCall> call = Call(engine_.get(), "f");
  call->AddArgument(1, dtInteger);
  call->AddArgument("s", dtString);
  call->AddArgument(Ref<IFunCall>(nested));
  call->SetComment("note");
  call->SetTag(9);
  call->Execute(context_);

  Ref<IFunCall> clone = call->Clone();
  EXPECT_TRUE(clone->Equals(call.get()));
  EXPECT_TRUE(call->Equals(clone.get()));
  EXPECT_EQ(clone->GetHashCode(), call->GetHashCode());
  EXPECT_EQ(clone->Comment(), "note");
  EXPECT_EQ(clone->Tag(), 9);
  EXPECT_EQ(clone->Reasoner(), engine_.get());
  EXPECT_EQ(clone->UserFunction(), nullptr);
  EXPECT_NE(clone->Argument(1), call->Argument(1));
  EXPECT_EQ(Run(*clone), 1);
}

TEST_F(FunctionCallTest, CommentAndTagAreKeptApart) {
  // Each step sets one of the two; both must read back as last set.
  struct Step {
    const char* comment;  // null: the step sets the tag
    std::int32_t tag;
    const char* want_comment;
    std::int32_t want_tag;
  };
  const Step steps[] = {
      {nullptr, 0, "", 0},     {"c", 0, "c", 0},      {nullptr, 5, "c", 5},
      {"", 0, "", 5},          {nullptr, 0, "", 0},   {"d", 0, "d", 0},
      {nullptr, -2, "d", -2},  {nullptr, 0, "d", 0},  {"", 0, "", 0},
  };
  Ref<TFunctionCall> call = Call(nullptr, "f");
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.want_comment) + " " + std::to_string(step.want_tag));
    if (step.comment != nullptr) {
      call->SetComment(step.comment);
    } else {
      call->SetTag(step.tag);
    }
    EXPECT_EQ(call->Comment(), step.want_comment);
    EXPECT_EQ(call->Tag(), step.want_tag);
    Ref<IFunCall> clone = call->Clone();
    EXPECT_EQ(clone->Comment(), step.want_comment);
    EXPECT_EQ(clone->Tag(), step.want_tag);
  }
}

TEST_F(FunctionCallTest, EqualityAndHashFollowNameAndArguments) {
  auto make = [](std::string_view name, std::initializer_list<std::int32_t> args) {
    Ref<TFunctionCall> call = Call(nullptr, name);
    for (std::int32_t a : args) {
      call->AddArgument(a, dtInteger);
    }
    return call;
  };
  Ref<TFunctionCall> base = make("f", {1, 2});
  EXPECT_EQ(base->GetHashCode(), CalculateHash("f") + 3);
  EXPECT_TRUE(base->Equals(make("f", {1, 2}).get()));
  EXPECT_FALSE(base->Equals(make("F", {1, 2}).get()));
  EXPECT_FALSE(base->Equals(make("f", {1}).get()));
  EXPECT_FALSE(base->Equals(make("f", {2, 1}).get()));
  EXPECT_FALSE(base->Equals(nullptr));
  const std::int32_t big = std::numeric_limits<std::int32_t>::max();
  Ref<TFunctionCall> wrapping = make("", {big, big, big});
  EXPECT_EQ(wrapping->GetHashCode(), big - 2);  // 3 * (2^31 - 1) modulo 2^32
}

TEST_F(FunctionCallTest, AssignCopiesAndUnbinds) {
  File("f", 1);
  Ref<TFunctionCall> target = Call(engine_.get(), "f");
  target->Execute(context_);
  Ref<TFunctionCall> source = Call(nullptr, "h");
  source->AddArgument(4, dtInteger);
  target->Assign(*source);
  EXPECT_EQ(target->UserFunction(), nullptr);
  EXPECT_EQ(target->Reasoner(), engine_.get());
  EXPECT_EQ(target->ToString(), "(h 4)");
  // Binding by hand takes the function's name; unbinding leaves none.
  Ref<IUserFunction> g = TIEUserFunction::Make<TConstantFunction>("g", 7);
  source->SetUserFunction(g.get());
  EXPECT_EQ(Run(*source), 7);
  EXPECT_EQ(source->Name(), "g");
  source->SetUserFunction(nullptr);
  EXPECT_EQ(source->Name(), "");
}

TEST(CallPrinterTest, PrintsTheCallForm) {
  Ref<TFunctionCall> inner = Call(nullptr, "*");
  inner->AddArgument(2, dtInteger);
  inner->AddArgument(3.5, dtFloat);
  inner->SetComment("never shown when nested");
  Ref<TFunctionCall> call = Call(nullptr, "+");
  call->AddArgument(1, dtInteger);
  call->AddArgument("a b", dtString);
  call->AddArgument("x", dtVariable);
  call->AddArgument(Ref<IFunCall>(inner));
  call->AddArgument(Ref<IFunCall>(Call(nullptr, "now")));

  struct Case {
    const char* comment;
    const char* printed;
  };
  const Case cases[] = {
      {"", "(+ 1 \"a b\" ?x (* 2 3.5000) (now))"},
      {"adds", "; adds\n(+ 1 \"a b\" ?x (* 2 3.5000) (now))"},
      {"one\n;two\n", "; one\n;two\n(+ 1 \"a b\" ?x (* 2 3.5000) (now))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.comment);
    call->SetComment(c.comment);
    EXPECT_EQ(PrettyPrintFunCall(*call), c.printed);
    EXPECT_EQ(call->ToString(), c.printed);
  }
}

TEST_F(FunctionCallTest, ToStringAsksTheReasoner) {
  Ref<TFunctionCall> call = Call(engine_.get(), "f");
  call->AddArgument(Ref<IFunCall>(Call(engine_.get(), "g")));
  EXPECT_EQ(call->ToString(), "(f (g))");
  EXPECT_EQ(engine_->prints, 1);
}

}  // namespace
}  // namespace zephro

#include "zephro/functions/user_function.h"

#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/facts/fact.h"
#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/platform/exceptions.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "testing/fact_fakes.h"
#include "testing/fake_reasoner.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StrEq;
using testing::TFakeReasoner;
using ::testing::Throws;
using ::testing::ThrowsMessage;
using enum TIEType;

// Counts how often its body runs and returns the number of arguments.
class TCountingFunction final : public TIEUserFunction {
 public:
  TCountingFunction(std::string_view name, std::int32_t min, std::int32_t max)
      : TIEUserFunction(name, "Counts", " <x>*", min, max) {}
  int runs = 0;

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext&) override {
    ++runs;
    return TIEValue::Integer(call.ArgumentCount());
  }
};

// Runs a host-supplied body: for the error and helper cases.
class TBodyFunction final : public TIEUserFunction {
 public:
  using TBody = std::function<Ref<IIEValue>(TBodyFunction&, IFunCall&, TIEContext&)>;
  TBodyFunction(std::string_view name, TBody body)
      : TIEUserFunction(name, "", ""), body_(std::move(body)) {}

  using TIEUserFunction::EvalInteger;
  using TIEUserFunction::EvalNumber;
  using TIEUserFunction::EvalNumeric;
  using TIEUserFunction::EvalText;
  using TIEUserFunction::PeekNumber;
  using TIEUserFunction::RaiseError;

 protected:
  Ref<IIEValue> Run(IFunCall& call, TIEContext& context) override {
    return body_(*this, call, context);
  }

 private:
  TBody body_;
};

// Takes its name from its own state when Make runs InitMetaData.
class TLateNamedFunction final : public TIEUserFunction {
 protected:
  void InitMetaData() override { SetFunctionName("late"); }
};

Ref<TFunctionCall> CallWith(IUserFunction& function, std::initializer_list<Ref<IIEValue>> args) {
  Ref<TFunctionCall> call = MakeRef<TFunctionCall>(nullptr, function.FunctionName());
  call->SetUserFunction(&function);
  for (const Ref<IIEValue>& a : args) {
    call->AddArgument(a);
  }
  return call;
}

TEST(UserFunctionTest, ArgumentCountIsCheckedBeforeTheBodyRuns) {
  struct Case {
    std::int32_t min;
    std::int32_t max;
    int given;
    const char* error;  // empty when the call succeeds
  };
  const Case cases[] = {
      {.min = 2, .max = 3, .given = 1, .error = "Too few arguments for count"},
      {.min = 2, .max = 3, .given = 2, .error = ""},
      {.min = 2, .max = 3, .given = 3, .error = ""},
      {.min = 2, .max = 3, .given = 4, .error = "Too many arguments for count"},
      {.min = 0, .max = 0, .given = 1, .error = "Too many arguments for count"},
      {.min = 0, .max = kUnlimitedArguments, .given = 0, .error = ""},
      {.min = 0, .max = kUnlimitedArguments, .given = 40, .error = ""},
  };
  TIEContext context;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.min << ".." << c.max << " given " << c.given);
    Ref<TCountingFunction> f = TIEUserFunction::Make<TCountingFunction>("count", c.min, c.max);
    Ref<TFunctionCall> call = CallWith(*f, {});
    for (int i = 0; i < c.given; ++i) {
      call->AddArgument(i, dtInteger);
    }
    if (*c.error != '\0') {
      EXPECT_THAT([&] { call->Execute(context); }, ThrowsMessage<EIEException>(StrEq(c.error)));
      EXPECT_EQ(f->runs, 0);
    } else {
      EXPECT_EQ(call->Execute(context)->AsInteger(), c.given);
      EXPECT_EQ(f->runs, 1);
    }
  }
}

TEST(UserFunctionTest, MetadataAndHelpText) {
  Ref<TCountingFunction> f = TIEUserFunction::Make<TCountingFunction>("count", 1, 2);
  EXPECT_EQ(f->ToString(nullptr), "Counts\n     syntax: (count <x>*)");

  Ref<TIEUserFunction> plain = MakeRef<TIEUserFunction>("plain");
  EXPECT_EQ(plain->MinArgumentCount(), 0);
  EXPECT_EQ(plain->MaxArgumentCount(), 2147483647);
  EXPECT_EQ(plain->ToString(nullptr), "\n     syntax: (plain)");
  TIEContext context;
  EXPECT_EQ(CallWith(*plain, {})->Execute(context).get(), &FCNil());

  EXPECT_EQ(TIEUserFunction::Make<TLateNamedFunction>()->FunctionName(), "late");

  plain->Assign(*f);
  EXPECT_EQ(plain->FunctionName(), "count");
  EXPECT_EQ(plain->ToString(nullptr), f->ToString(nullptr));
  EXPECT_EQ(plain->MaxArgumentCount(), 2);
}

TEST(UserFunctionTest, ForeignErrorsAreReportedUnderTheFunctionName) {
  struct Case {
    const char* name;
    TBodyFunction::TBody body;
    const char* message;
  };
  const Case cases[] = {
      {"div", [](auto&, auto&, auto&) -> Ref<IIEValue> { throw std::domain_error("zero"); },
       "div error: zero"},
      {"list", [](auto&, auto&, auto&) -> Ref<IIEValue> { throw EBaseException("bad index"); },
       "list error: bad index"},
      {"own", [](auto&, auto&, auto&) -> Ref<IIEValue> { RaiseIEPlain("own message"); },
       "own message"},
      {"self", [](TBodyFunction& f, auto&, auto&) -> Ref<IIEValue> { f.RaiseError("mine"); },
       "self error: mine"},
  };
  TIEContext context;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<TBodyFunction> f = TIEUserFunction::Make<TBodyFunction>(c.name, c.body);
    EXPECT_THAT([&] { CallWith(*f, {})->Execute(context); },
                ThrowsMessage<EIEException>(StrEq(c.message)));
  }

  Ref<TBodyFunction> stop = TIEUserFunction::Make<TBodyFunction>(
      "stop", [](auto&, auto&, auto&) -> Ref<IIEValue> { throw EAbort(); });
  EXPECT_THAT([&] { CallWith(*stop, {})->Execute(context); }, Throws<EAbort>());
}

TEST(UserFunctionTest, TypedArgumentHelpers) {
  TIEContext context;
  Ref<TBodyFunction> abs = TIEUserFunction::Make<TBodyFunction>(
      "abs", [](TBodyFunction& f, IFunCall& call, TIEContext& ctx) {
        return f.EvalNumeric(call, 0, ctx);
      });
  EXPECT_THAT([&] { CallWith(*abs, {TIEValue::String("x")})->Execute(context); },
              ThrowsMessage<EIEException>(StrEq("Expected numeric argument to abs function call")));
  EXPECT_EQ(CallWith(*abs, {TIEValue::Float(1.5)})->Execute(context)->AsFloat(), 1.5);

  Ref<TBodyFunction> mix = TIEUserFunction::Make<TBodyFunction>(
      "mix", [](TBodyFunction& f, IFunCall& call, TIEContext& ctx) {
        std::string text = f.EvalText(call, 2, ctx);
        text += "/" + std::to_string(f.EvalInteger(call, 0, ctx));
        text += "/" + FormatFloat(f.EvalNumber(call, 1, ctx));
        return TIEValue::String(text);
      });
  EXPECT_EQ(CallWith(*mix, {TIEValue::Float(-2.7), TIEValue::Integer(3), TIEValue::Integer(9)})
                ->Execute(context)
                ->AsString(),
            "9/-2/3.0000");
  EXPECT_THAT(
      [&] {
        CallWith(*mix, {TIEValue::Atom("abc"), TIEValue::Integer(3), TIEValue::Integer(9)})
            ->Execute(context);
      },
      ThrowsMessage<EIEException>(StrEq("Not a integer type.  Value (abc) is a dtAtom type")));
  EXPECT_THAT([&] { CallWith(*mix, {TIEValue::Integer(1)})->Execute(context); },
              ThrowsMessage<EIEException>(StrEq("Bad Argument: argument index out of bounds (2)")));
}

// PeekNumber reads numbers in place: constants, and the slots of the match
// that matcher records (pattern-binding objects) stand for; anything else is
// left to ordinary evaluation.
TEST(UserFunctionTest, PeekNumberReadsConstantsAndMatchedSlots) {
  auto t = MakeTemplate("t", {"f", "i", "s"});
  Ref<TFact> fact = MakeRef<TFact>(t);
  fact->SetValue("i", TIEValue::Integer(7));
  fact->SetValue("f", TIEValue::Float(1.5));
  fact->SetValue("s", TIEValue::Atom("abc"));
  TIEContext context;
  context.SetFact(fact.get());
  auto record = [](std::string slot) {
    return MakeRef<TIEValue>(new TBindingInfo(0, std::move(slot), NoSubIndex), true);
  };
  auto binding = MakeRef<TIEValue>(new TBinding("x", 0, "i", NoSubIndex), true);
  const struct {
    const char* what;
    Ref<IIEValue> argument;
    bool read;
    double number;
  } cases[] = {
      {"integer constant", TIEValue::Integer(-3), true, -3},
      {"float constant", TIEValue::Float(2.25), true, 2.25},
      {"atom constant", TIEValue::Atom("x"), false, 0},
      {"variable", MakeRef<TIEValue>("x", dtVariable), false, 0},
      {"integer slot", record("i"), true, 7},
      {"float slot", record("f"), true, 1.5},
      {"atom slot", record("s"), false, 0},
      {"missing slot", record("q"), false, 0},
      {"whole fact", record(SPatternBinding), false, 0},
      {"named record", binding, true, 7},
      {"other object", MakeRef<TIEValue>(static_cast<TObject*>(nullptr), false), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    double number = -99;
    EXPECT_EQ(TBodyFunction::PeekNumber(*c.argument, context, number), c.read);
    if (c.read) {
      EXPECT_EQ(number, c.number);
    }
  }
  context.SetFact(nullptr);
  double number = 0;
  EXPECT_FALSE(TBodyFunction::PeekNumber(*record("i"), context, number));
}

TEST(UserFunctionTest, AddingTheSameReasonerTwiceRegistersOnce) {
  TFakeReasoner engine;
  Ref<TCountingFunction> f = TIEUserFunction::Make<TCountingFunction>("f", 0, 1);
  EXPECT_EQ(f->AddReasoner(engine), 0);
  EXPECT_EQ(f->AddReasoner(engine), 0);
  EXPECT_EQ(f->ReasonerCount(), 1);
  EXPECT_EQ(f->Reasoner(0), &engine);
  EXPECT_EQ(engine.adds, 1);
  EXPECT_EQ(engine.ContainsUserFunction("f"), f.get());

  f->DeleteReasoner(engine);
  f->DeleteReasoner(engine);  // not listed any more: nothing happens
  EXPECT_EQ(engine.removes, 1);
  EXPECT_THAT(engine.Names(), IsEmpty());
  EXPECT_THAT([&] { f->Reasoner(0); },
              ThrowsMessage<EIEException>(StrEq("Bad Argument: reasoner index out of bounds (0)")));
}

TEST(UserFunctionTest, RenamingMovesTheFunctionInEveryReasoner) {
  TFakeReasoner first;
  TFakeReasoner second;
  Ref<TCountingFunction> f = TIEUserFunction::Make<TCountingFunction>("f", 0, 1);
  f->AddReasoner(first);
  f->AddReasoner(second);
  f->SetFunctionName("g");
  for (TFakeReasoner* engine : {&first, &second}) {
    EXPECT_THAT(engine->Names(), ElementsAre("g"));
    EXPECT_EQ(engine->ContainsUserFunction("g"), f.get());
  }
  const int removes = first.removes;
  f->SetFunctionName("g");
  EXPECT_EQ(first.removes, removes);
  f->SetFunctionName("G");  // names are case-sensitive
  EXPECT_THAT(first.Names(), ElementsAre("G"));
  f->ClearReasoners();
  EXPECT_EQ(f->ReasonerCount(), 0);
  EXPECT_THAT(second.Names(), IsEmpty());
}

TEST(UserFunctionTest, ReasonerThatRefusesIsNotListed) {
  TFakeReasoner engine;
  engine.refuse_with = "Function Name already exists: \"f\"";
  Ref<TCountingFunction> f = TIEUserFunction::Make<TCountingFunction>("f", 0, 1);
  EXPECT_THAT([&] { f->AddReasoner(engine); },
              ThrowsMessage<EIEException>(StrEq("Function Name already exists: \"f\"")));
  EXPECT_EQ(f->ReasonerCount(), 0);
}

}  // namespace
}  // namespace zephro

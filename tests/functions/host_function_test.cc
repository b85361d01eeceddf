#include "zephro/functions/host_function.h"

#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
#include "zephro/platform/class_registry.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "testing/fake_reasoner.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StrEq;
using testing::TFakeReasoner;
using ::testing::ThrowsMessage;

class HostFunctionTest : public ::testing::Test {
 protected:
  Ref<IIEValue> Run(std::string_view name) {
    return MakeFunCall(*engine_, name)->Execute(context_);
  }

  std::unique_ptr<TFakeReasoner> engine_ = std::make_unique<TFakeReasoner>();
  TIEContext context_;
};

TEST_F(HostFunctionTest, WithoutHandlerReturnsNil) {
  auto square = std::make_unique<TUserFunction>(nullptr, "square");
  square->SetEngine(engine_.get());
  EXPECT_EQ(Run("square").get(), &FCNil());
}

TEST_F(HostFunctionTest, HandlerReceivesTheCallAndSetsTheResult) {
  auto square = std::make_unique<TUserFunction>(nullptr, "square");
  square->SetMinArgumentCount(1);
  square->SetMaxArgumentCount(1);
  TCustomUserFunction* sender = nullptr;
  square->OnCall = [&](TCustomUserFunction& s, IFunCall& call, TIEContext& context,
                       Ref<IIEValue>& result) {
    sender = &s;
    EXPECT_EQ(result.get(), &FCNil());
    const std::int32_t x = call.Argument(0)->Resolve(&context)->AsInteger();
    result = TIEValue::Integer(x * x);
  };
  square->SetEngine(engine_.get());
  Ref<IFunCall> call = MakeFunCall(*engine_, "square");
  call->AddArgument(TIEValue::Integer(7));
  EXPECT_EQ(call->Execute(context_)->AsInteger(), 49);
  EXPECT_EQ(sender, square.get());
  EXPECT_THAT([&] { Run("square"); },
              ThrowsMessage<EIEException>(StrEq("Too few arguments for square")));

  square->SetDesigning(true);
  sender = nullptr;
  EXPECT_EQ(call->Execute(context_).get(), &FCNil());
  EXPECT_EQ(sender, nullptr);
}

TEST_F(HostFunctionTest, EmptyNameIsNeverRegistered) {
  auto f = std::make_unique<TUserFunction>(nullptr);
  f->SetEngine(engine_.get());
  EXPECT_EQ(engine_->adds, 0);
  EXPECT_THAT(engine_->Names(), IsEmpty());

  f->SetFunctionName("late");
  EXPECT_THAT(engine_->Names(), ElementsAre("late"));
  f->SetFunctionName("later");
  EXPECT_THAT(engine_->Names(), ElementsAre("later"));
  f->SetFunctionName("");
  EXPECT_THAT(engine_->Names(), IsEmpty());
  f->SetEngine(nullptr);
  EXPECT_EQ(engine_->removes, 2);
}

TEST_F(HostFunctionTest, SwitchingEnginesMovesTheFunction) {
  auto other = std::make_unique<TFakeReasoner>();
  auto f = std::make_unique<TUserFunction>(nullptr, "f");
  f->SetEngine(engine_.get());
  f->SetEngine(other.get());
  EXPECT_THAT(engine_->Names(), IsEmpty());
  EXPECT_THAT(other->Names(), ElementsAre("f"));
}

TEST_F(HostFunctionTest, EngineFreedFirstIsForgotten) {
  auto f = std::make_unique<TUserFunction>(nullptr, "f");
  f->SetEngine(engine_.get());
  engine_.reset();
  EXPECT_EQ(f->Engine(), nullptr);
  f->SetFunctionName("g");  // must not reach the freed engine
  f.reset();
}

TEST_F(HostFunctionTest, FreedComponentLeavesItsCallsUnassigned) {
  auto f = std::make_unique<TUserFunction>(nullptr, "f");
  f->SetEngine(engine_.get());
  Ref<IUserFunction> inner(&f->InnerFunction());
  Ref<IFunCall> bound = MakeFunCall(*engine_, "f");
  Ref<TFunctionCall> direct = MakeRef<TFunctionCall>(nullptr, "f");
  direct->SetUserFunction(inner.get());
  f.reset();
  EXPECT_THAT(engine_->Names(), IsEmpty());
  for (IFunCall* call : {bound.get(), static_cast<IFunCall*>(direct.get())}) {
    EXPECT_THAT([&] { call->Execute(context_); },
                ThrowsMessage<EIEException>(StrEq("Function is unimplemented or unassigned: f")));
  }
}

TEST_F(HostFunctionTest, InnerFunctionOfAnotherOwnerUsesItsOwnHandler) {
  TObject owner;
  Ref<TIEInnerFunction> f = TIEUserFunction::Make<TIEInnerFunction>(&owner);
  f->SetFunctionName("inner");
  Ref<TFunctionCall> call = MakeRef<TFunctionCall>(nullptr, "inner");
  call->SetUserFunction(f.get());
  EXPECT_EQ(call->Execute(context_).get(), &FCNil());
  f->OnCall = [](TIEInnerFunction&, IFunCall&, TIEContext&, Ref<IIEValue>& result) {
    result = TIEValue::Atom("done");
  };
  EXPECT_EQ(call->Execute(context_)->ToString(), "done");

  Ref<TIEInnerFunction> orphan = TIEUserFunction::Make<TIEInnerFunction>(nullptr);
  orphan->SetFunctionName("orphan");
  call->SetUserFunction(orphan.get());
  EXPECT_THAT(
      [&] { call->Execute(context_); },
      ThrowsMessage<EIEException>(StrEq("Function is unimplemented or unassigned: orphan")));
}

TEST_F(HostFunctionTest, PublishedProperties) {
  TUserFunction f(nullptr);
  SetPropValue(f, "FunctionName", std::string("p"));
  SetPropValue(f, "MinArgumentCount", std::int64_t{2});
  SetPropValue(f, "Engine", static_cast<TObject*>(engine_.get()));
  EXPECT_EQ(f.FunctionName(), "p");
  EXPECT_EQ(f.InnerFunction().MinArgumentCount(), 2);
  EXPECT_THAT(engine_->Names(), ElementsAre("p"));
  EXPECT_EQ(std::get<std::int64_t>(GetPropValue(f, "MaxArgumentCount")), 2147483647);
  f.SetEngine(nullptr);
}

}  // namespace
}  // namespace zephro

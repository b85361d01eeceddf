#include "zephro/functions/user_package.h"

#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/functions/context.h"
#include "zephro/functions/function_call.h"
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

// A package of two functions that do nothing, "one" and "two".
class TPairPackage final : public TUserPackage {
 public:
  explicit TPairPackage(TComponent* owner) : TUserPackage(owner) { CreateFunctions(); }

 protected:
  void CreateFunctions() override {
    TUserPackage::CreateFunctions();
    AddFunction<TIEUserFunction>("one");
    AddFunction<TIEUserFunction>("two");
  }
};

// Every function of `package` lists exactly the reasoners in `engines`.
void ExpectAttached(const TUserPackage& package, std::initializer_list<IReasoner*> engines) {
  for (const Ref<IUserFunction>& f : package.Functions()) {
    SCOPED_TRACE(f->FunctionName());
    EXPECT_EQ(f->ReasonerCount(), static_cast<int>(engines.size()));
    for (IReasoner* engine : engines) {
      EXPECT_GE(f->IndexOfReasoner(engine), 0);
    }
  }
}

TEST(UserPackageTest, PackageOwnedByAnEngineIsCallableAtOnce) {
  auto engine = std::make_unique<TFakeReasoner>();
  TPairPackage& package = MakeOwned<TPairPackage>(*engine);
  EXPECT_THAT(engine->Names(), ElementsAre("one", "two"));
  EXPECT_EQ(package.Reasoners().Count(), 1);
  EXPECT_EQ(package.Engine(), nullptr);
  TIEContext context;
  EXPECT_EQ(MakeFunCall(*engine, "two")->Execute(context).get(), &FCNil());
  engine.reset();  // frees the package too; LSan and ASan watch the teardown
}

TEST(UserPackageTest, ResetRebuildsTheFunctionsAndKeepsThemAttached) {
  auto engine = std::make_unique<TFakeReasoner>();
  TPairPackage& package = MakeOwned<TPairPackage>(*engine);
  Ref<IUserFunction> old_one(&package.Functions().Get(0));

  package.SetReset(false);
  EXPECT_EQ(&package.Functions().Get(0), old_one.get());
  package.SetReset(true);
  EXPECT_FALSE(package.Reset());
  EXPECT_EQ(package.Functions().Count(), 2);
  EXPECT_NE(&package.Functions().Get(0), old_one.get());
  EXPECT_EQ(engine->ContainsUserFunction("one"), &package.Functions().Get(0));
  EXPECT_EQ(old_one->ReasonerCount(), 0);
  ExpectAttached(package, {engine.get()});
}

TEST(UserPackageTest, FunctionsFollowEveryReasonerOfThePackage) {
  TFakeReasoner first;
  TFakeReasoner second;
  auto package = std::make_unique<TUserPackage>(nullptr);
  package->AddFunction<TIEUserFunction>("a");
  EXPECT_EQ(package->Reasoners().Add(first), 0);
  EXPECT_EQ(package->Reasoners().Add(second), 1);
  EXPECT_EQ(package->Reasoners().Add(first), 0);
  package->AddFunction<TIEUserFunction>("b");
  ExpectAttached(*package, {&first, &second});
  EXPECT_THAT(second.Names(), ElementsAre("a", "b"));
  EXPECT_EQ(package->Functions().ToString(), "a\nb\n");

  EXPECT_EQ(package->Functions().Remove(&package->Functions().Get(0)), 0);
  EXPECT_THAT(first.Names(), ElementsAre("b"));
  Ref<IUserFunction> b = package->Functions().Extract(&package->Functions().Get(0));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->ReasonerCount(), 0);
  EXPECT_THAT(second.Names(), IsEmpty());
  EXPECT_EQ(package->Functions().Extract(b.get()), nullptr);

  package->AddFunction<TIEUserFunction>("c");
  package.reset();  // detaches from both engines
  EXPECT_THAT(first.Names(), IsEmpty());
  EXPECT_THAT(second.Names(), IsEmpty());
}

TEST(UserPackageTest, EngineProperty) {
  auto engine = std::make_unique<TFakeReasoner>();
  auto other = std::make_unique<TFakeReasoner>();
  TPairPackage package(nullptr);
  package.SetEngine(engine.get());
  EXPECT_EQ(package.Engine(), engine.get());
  ExpectAttached(package, {engine.get()});

  package.SetEngine(other.get());
  EXPECT_THAT(engine->Names(), IsEmpty());
  EXPECT_THAT(other->Names(), ElementsAre("one", "two"));
  ExpectAttached(package, {other.get()});

  // Detaching the engine through the list clears the property too.
  package.Reasoners().Remove(*other);
  EXPECT_EQ(package.Engine(), nullptr);
  EXPECT_THAT(other->Names(), IsEmpty());

  TComponent not_an_engine(nullptr);
  EXPECT_THAT([&] { package.SetEngine(&not_an_engine); },
              ThrowsMessage<EIEException>(StrEq("Unknown/Undefined Inference Engine")));
  EXPECT_EQ(package.Engine(), nullptr);
}

TEST(UserPackageTest, FreedEngineIsForgotten) {
  auto engine = std::make_unique<TFakeReasoner>();
  auto listed = std::make_unique<TFakeReasoner>();
  TPairPackage package(nullptr);
  package.SetEngine(engine.get());
  package.Reasoners().Add(*listed);
  engine.reset();
  EXPECT_EQ(package.Engine(), nullptr);
  ExpectAttached(package, {listed.get()});
  listed.reset();
  EXPECT_EQ(package.Reasoners().Count(), 0);
  ExpectAttached(package, {});
}

TEST(UserPackageTest, AtDesignTimeTheEngineIsOnlyRemembered) {
  auto engine = std::make_unique<TFakeReasoner>();
  TPairPackage package(nullptr);
  package.SetDesigning(true);
  package.SetEngine(engine.get());
  EXPECT_EQ(package.Engine(), engine.get());
  EXPECT_EQ(package.Reasoners().Count(), 0);
  EXPECT_THAT(engine->Names(), IsEmpty());
  engine.reset();
  EXPECT_EQ(package.Engine(), nullptr);
}

TEST(UserPackageTest, DetachingRemovesByNameEvenWhenReplaced) {
  TFakeReasoner engine;
  TPairPackage first(nullptr);
  TPairPackage second(nullptr);
  first.Reasoners().Add(engine);
  second.Reasoners().Add(engine);
  EXPECT_EQ(engine.ContainsUserFunction("one"), &second.Functions().Get(0));
  first.Reasoners().Clear();
  // The engine files by name only: second's functions went with first's.
  EXPECT_THAT(engine.Names(), IsEmpty());
  ExpectAttached(second, {&engine});
  second.Reasoners().Clear();
}

TEST(UserPackageTest, HostPackageFillsItselfThroughTheEvent) {
  TFakeReasoner engine;
  TUserPackage package(nullptr);
  package.Reasoners().Add(engine);
  package.OnCreateFunctions = [](TUserPackage& sender) {
    sender.AddFunction<TIEUserFunction>("h");
    sender.AddFunction<TIEUserFunction>("k");
  };
  package.SetReset(true);
  EXPECT_THAT(engine.Names(), ElementsAre("h", "k"));
  EXPECT_EQ(package.IndexOf("k"), 1);
  EXPECT_EQ(package.IndexOf("K"), -1);
  EXPECT_EQ(package.IndexOf("missing"), -1);
  EXPECT_THAT([&] { package.Functions().Add(nullptr); },
              ThrowsMessage<EIEException>(StrEq("Cannot add nil to user functions")));
  EXPECT_THAT([&] { package.Functions().Get(2); },
              ThrowsMessage<EIEException>(StrEq("Bad Argument: function index out of bounds (2)")));
  package.Reasoners().Clear();
}

}  // namespace
}  // namespace zephro

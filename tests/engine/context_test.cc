#include "zephro/engine/context.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

Ref<IIEValue> Int(std::int32_t i) { return TIEValue::Integer(i); }
Ref<IIEValue> Var(const char* name) { return MakeRef<TIEValue>(name, TIEType::dtVariable); }

TEST(ContextTest, LookupWalksTheChainAndSettersPickTheirScope) {
  TIEContext root;
  root.AddGlobalBinding("*g*", Int(1));
  std::unique_ptr<TIEContext> child = root.Push();
  std::unique_ptr<TIEContext> grandchild = child->Push();
  EXPECT_EQ(grandchild->GetVariable("*g*")->AsInteger(), 1);

  // SetVariable of a name bound only in the root updates the root binding.
  grandchild->SetVariable("*g*", Int(2));
  EXPECT_EQ(root.GetVariable("*g*")->AsInteger(), 2);
  EXPECT_EQ(grandchild->Bindings().Count(), 0);

  // AddLocalBinding shadows; the outer value is untouched.
  child->AddLocalBinding("*g*", Int(3));
  EXPECT_EQ(grandchild->GetVariable("*g*")->AsInteger(), 3);
  EXPECT_EQ(root.GetVariable("*g*")->AsInteger(), 2);
  grandchild.reset();
  child.reset();
  EXPECT_EQ(root.GetVariable("*g*")->AsInteger(), 2);

  // AddGlobalBinding from deep down lands in the root.
  std::unique_ptr<TIEContext> other = root.Push();
  other->AddGlobalBinding("*h*", Int(4));
  EXPECT_NE(root.FindGlobalBinding("*h*"), nullptr);
  EXPECT_EQ(other->Bindings().Count(), 0);
}

TEST(ContextTest, UnknownVariablesAreErrors) {
  TIEContext root;
  EXPECT_THAT([&] { root.GetVariable("nope"); },
              ThrowsMessage<EIEException>(StrEq("Unknown variable name: nope")));
  EXPECT_THAT([&] { Var("nope")->Resolve(&root); },
              ThrowsMessage<EIEException>(StrEq("Corrupted Binding, variable not found: nope")));
  root.AddBinding("x", Int(7));
  EXPECT_EQ(Var("x")->Resolve(&root)->AsInteger(), 7);
}

TEST(ContextTest, PopCarriesTheReturnValueAndStopsAtTheRoot) {
  TIEContext root;
  EXPECT_EQ(&root.Pop(), &root);
  std::unique_ptr<TIEContext> child = root.Push();
  child->SetReturnValue(Int(5));
  EXPECT_TRUE(child->ReturnFlag());
  TIEContext& parent = child->Pop();
  EXPECT_EQ(&parent, &root);
  EXPECT_TRUE(root.ReturnFlag());
  EXPECT_EQ(root.ReturnValue()->AsInteger(), 5);
  root.ClearReturnValue();
  EXPECT_FALSE(root.ReturnFlag());
  EXPECT_EQ(root.ReturnValue()->AsInteger(), 5);  // the value stays
  root.SetReturnValue(Int(6));
  root.Clear();
  EXPECT_FALSE(root.ReturnFlag());
}

TEST(ContextTest, BindingTextsAndEquality) {
  TBinding local("x", Int(3));
  EXPECT_EQ(local.FactIndex(), LocalBindingIndex);
  EXPECT_EQ(local.SlotIndex(), SLocalBinding);
  EXPECT_EQ(local.SubIndex(), NoSubIndex);
  EXPECT_EQ(local.ToString(), "name=x value=3 FactIdx=-2 SlotIdx=__LOCAL");
  TBindingInfo info(1, "color", 2);
  EXPECT_EQ(info.ToString(), "FactIdx=1 SlotIdx=color SubIdx=2");
  TBinding a("y", 1, "color", NoSubIndex);
  TBinding b("y", 1, "color", NoSubIndex);
  TBinding c("z", 1, "color", NoSubIndex);
  EXPECT_TRUE(a.Equals(b));
  EXPECT_FALSE(a.Equals(c));
  EXPECT_TRUE(a.TBindingInfo::Equals(c));  // same position, different name
}

TEST(ContextTest, ManyBindingsStayFindable) {
  // Past the linear-search threshold the table indexes its names.
  TIEContext root;
  for (std::int32_t i = 0; i < 100; ++i) {
    root.AddBinding("v" + std::to_string(i), Int(i));
  }
  for (std::int32_t i = 0; i < 100; ++i) {
    ASSERT_EQ(root.GetVariable("v" + std::to_string(i))->AsInteger(), i);
  }
  root.AddLocalBinding("v50", Int(-1));
  EXPECT_EQ(root.GetVariable("v50")->AsInteger(), -1);
  EXPECT_TRUE(root.Bindings().Remove("v10"));
  EXPECT_EQ(root.FindBinding("v10"), nullptr);
  EXPECT_EQ(root.GetVariable("v99")->AsInteger(), 99);
}

TEST(ContextTest, ExpandAndFlattenLists) {
  TIEContext root;
  root.AddBinding("x", Int(9));
  auto inner = MakeRef<TValueVector>(std::vector<Ref<IIEValue>>{Int(2), Var("x")});
  auto outer = MakeRef<TValueVector>(std::vector<Ref<IIEValue>>{
      Int(1), MakeRef<TIEValue>(Ref<IValueVector>(inner)), Int(3)});
  EXPECT_EQ(root.ExpandList(*outer)->ToString(), "1 2 9 3 ");
  Ref<IValueVector> flat = TIEContext::FlattenList(*outer);
  EXPECT_EQ(flat->ValueCount(), 4);
  EXPECT_EQ(flat->ToString(), "1 2 ?x 3 ");
}

}  // namespace
}  // namespace zephro

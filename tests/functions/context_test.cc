#include "zephro/functions/context.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

// A recycled table looks empty and leaves lookups to the parent, but hands
// its local records to the next local bindings, in the order they were made;
// records of pattern bindings are freed, and so are the values of all.
TEST(ContextTest, RecycledTablesLendTheirLocalRecordsToTheNextBindings) {
  TIEContext root;
  root.AddGlobalBinding("x", Int(100));
  std::unique_ptr<TIEContext> child = root.Push();
  Ref<IIEValue> one = Int(1);
  TBinding* x = &child->AddLocalBinding("x", one);
  TBinding* y = &child->AddLocalBinding("y", Int(2));
  child->AddBinding("p", 0, "slot", NoSubIndex);
  EXPECT_EQ(one->RefCount(), 2);
  child->SetReturnValue(Int(3));
  child->SetHalted(true);
  child->Recycle();

  EXPECT_EQ(child->Bindings().Count(), 0);
  EXPECT_EQ(child->Bindings().SpareCount(), 2);
  EXPECT_EQ(one->RefCount(), 1);
  EXPECT_EQ(child->GetVariable("x")->AsInteger(), 100);  // the parent's again
  EXPECT_EQ(child->FindBinding("p"), nullptr);
  EXPECT_FALSE(child->ReturnFlag());
  EXPECT_EQ(child->ReturnValue(), nullptr);
  EXPECT_FALSE(child->Halted());

  struct Step {
    const char* name;
    TBinding* record;  // the record expected back
  };
  // Same names in the same order: each gets its own record back; then a new
  // name takes the next spare (renamed), and past the spares records are new.
  for (const Step& step : {Step{"x", x}, Step{"y", y}}) {
    SCOPED_TRACE(step.name);
    TBinding& b = child->AddLocalBinding(step.name, Int(7));
    EXPECT_EQ(&b, step.record);
    EXPECT_TRUE(b.IsLocalBinding());
    EXPECT_EQ(child->GetVariable(step.name)->AsInteger(), 7);
  }
  EXPECT_EQ(child->Bindings().SpareCount(), 0);
  EXPECT_EQ(child->Bindings().Count(), 2);
  child->Recycle();
  TBinding& renamed = child->AddLocalBinding("a-much-longer-variable-name", Int(8));
  EXPECT_EQ(&renamed, x);
  EXPECT_EQ(renamed.Name(), "a-much-longer-variable-name");
  EXPECT_EQ(child->FindBinding("x")->Value()->AsInteger(), 100);
  EXPECT_EQ(child->Bindings().SpareCount(), 1);
  child->AddBinding("z", Int(9));  // bound nowhere: a local record here
  child->AddLocalBinding("w", Int(10));
  EXPECT_EQ(child->Bindings().SpareCount(), 0);
  EXPECT_EQ(child->GetVariable("z")->AsInteger(), 9);
  EXPECT_EQ(child->GetVariable("w")->AsInteger(), 10);
  EXPECT_EQ(child->GetVariable("a-much-longer-variable-name")->AsInteger(), 8);

  // A local binding over a pattern binding of the same name replaces it.
  child->AddBinding("q", 1, "slot", NoSubIndex);
  TBinding& q = child->AddLocalBinding("q", Int(11));
  EXPECT_TRUE(q.IsLocalBinding());
  EXPECT_EQ(child->GetVariable("q")->AsInteger(), 11);
  EXPECT_EQ(child->Bindings().Count(), 4);
}

TEST(ContextTest, RecycledLargeTablesIndexTheirNamesAgain) {
  TIEContext root;
  std::unique_ptr<TIEContext> child = root.Push();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    // Each round binds another set of names, more than the linear search takes.
    for (std::int32_t i = 0; i < 40; ++i) {
      child->AddLocalBinding("r" + std::to_string(round) + "v" + std::to_string(i), Int(i));
    }
    for (std::int32_t i = 0; i < 40; ++i) {
      ASSERT_EQ(child->GetVariable("r" + std::to_string(round) + "v" + std::to_string(i))
                    ->AsInteger(),
                i);
    }
    if (round > 0) {
      EXPECT_EQ(child->FindBinding("r0v1"), nullptr);
    }
    child->Recycle();
    EXPECT_EQ(child->Bindings().SpareCount(), 40);
  }
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

// Variables keep where they were found last time, and tables turn away names
// they lack by a word of name bits. Neither may change what a lookup finds:
// random programs of bindings made, shadowed, removed and recycled on a chain
// of three contexts resolve and bind every variable as a search by name does.
TEST(ContextTest, VariablesRememberingTheirPlaceFindWhatASearchByNameFinds) {
  // Names sharing a length and a last byte share a name bit: "?a" and "?*a"
  // differ in length, "?ba" and "?ca" collide.
  const std::vector<std::string> names = {"?a", "?b", "?ba", "?ca", "?*a", "?*g*", "?x1", "?x2",
                                          "?long-name-one", "?long-name-two"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 100; ++round) {
    TIEContext root;
    std::unique_ptr<TIEContext> child = root.Push();
    std::unique_ptr<TIEContext> leaf = child->Push();
    TIEContext* levels[] = {&root, child.get(), leaf.get()};
    std::vector<Ref<IIEValue>> variables;
    for (const std::string& name : names) {
      variables.push_back(Var(name.c_str()));
    }
    std::int32_t next = 0;
    for (int step = 0; step < 60; ++step) {
      const std::string& name = names[random() % names.size()];
      TIEContext& level = *levels[random() % 3];
      switch (random() % 6) {
        case 0:
        case 1:
          level.AddLocalBinding(name, Int(++next));
          break;
        case 2:
          level.Bindings().Remove(name);
          break;
        case 3:
          if (random() % 4 == 0) {
            level.Recycle();
          }
          break;
        case 4: {
          // bind through the variable, and through its name on a twin chain
          auto& variable = static_cast<TIEValue&>(*variables[random() % variables.size()]);
          const std::string bound(variable.Text());
          TBinding* expected = level.FindBinding(bound);
          level.SetVariable(variable, Int(++next));
          TBinding* got = level.FindBinding(bound);
          ASSERT_NE(got, nullptr);
          EXPECT_EQ(got->Value()->AsInteger(), next) << bound;
          if (expected != nullptr) {
            EXPECT_EQ(got, expected) << "bind made a binding where one was found: " << bound;
          } else {
            EXPECT_EQ(level.Bindings().Get(bound), got) << "bind made it elsewhere: " << bound;
          }
          break;
        }
        default:
          break;
      }
      for (TIEContext* from : levels) {
        for (const Ref<IIEValue>& variable : variables) {
          const std::string name_of(variable->Text());
          const TBinding* expected = from->FindBinding(name_of);
          if (expected != nullptr) {
            ASSERT_EQ(variable->Resolve(from).get(), expected->Value())
                << name_of << " in round " << round << ", step " << step;
          } else {
            const auto& own = static_cast<const TIEValue&>(*variable);
            std::uint32_t hint = own.PlaceHint();
            ASSERT_EQ(from->FindBinding(own.TextDatum(), hint), nullptr)
                << name_of << " in round " << round << ", step " << step;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace zephro

#include "zephro/platform/controls.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/actions.h"
#include "zephro/platform/class_registry.h"
#include "zephro/platform/exceptions.h"
#include "zephro/platform/weak_object.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The names of the controls `parent` lists, in order.
std::vector<std::string> ControlNames(const TWinControl& parent) {
  std::vector<std::string> names;
  for (int i = 0; i < parent.ControlCount(); ++i) {
    names.push_back(parent.Control(i).Name());
  }
  return names;
}

template <class T>
T& Named(TComponent& owner, const char* name) {
  T& control = MakeOwned<T>(owner);
  control.SetName(name);
  return control;
}

TEST(ControlsTest, AControlMovesBetweenParentsAndEachListsItsOwn) {
  auto form = std::make_unique<TWinControl>(nullptr);
  auto& left = Named<TWinControl>(*form, "left");
  auto& right = Named<TWinControl>(*form, "right");
  auto& a = Named<TControl>(*form, "a");
  auto& b = Named<TControl>(*form, "b");

  a.SetParent(&left);
  b.SetParent(&left);
  right.SetParent(&left);
  EXPECT_THAT(ControlNames(left), ElementsAre("a", "b", "right"));
  a.SetParent(&right);
  a.SetParent(&right);  // already there: no second entry
  EXPECT_THAT(ControlNames(left), ElementsAre("b", "right"));
  EXPECT_THAT(ControlNames(right), ElementsAre("a"));
  EXPECT_EQ(a.Parent(), &right);
  EXPECT_TRUE(left.Contains(a));  // through right
  EXPECT_FALSE(right.Contains(b));
  b.SetParent(nullptr);
  EXPECT_EQ(b.Parent(), nullptr);
  EXPECT_THAT(ControlNames(left), ElementsAre("right"));
  EXPECT_THROW(left.Control(1), EBaseException);

  // Parenthood is not ownership: every control still belongs to the form.
  EXPECT_EQ(form->ComponentCount(), 4);
}

TEST(ControlsTest, AParentCannotSitInsideItself) {
  auto form = std::make_unique<TWinControl>(nullptr);
  auto& outer = Named<TWinControl>(*form, "outer");
  auto& inner = Named<TWinControl>(*form, "inner");
  inner.SetParent(&outer);
  EXPECT_THAT([&] { outer.SetParent(&inner); },
              ThrowsMessage<EBaseException>(StrEq("Control outer cannot contain itself")));
  EXPECT_THAT([&] { outer.SetParent(&outer); },
              ThrowsMessage<EBaseException>(StrEq("Control outer cannot contain itself")));
  TWinControl unnamed(nullptr);
  EXPECT_THAT([&] { unnamed.SetParent(&unnamed); },
              ThrowsMessage<EBaseException>(StrEq("Control TWinControl cannot contain itself")));
  EXPECT_EQ(outer.Parent(), nullptr);  // a refusal changes nothing
}

// Freed in either order, neither side keeps a pointer to the other; run under
// AddressSanitizer this also shows that nobody touches the freed one.
TEST(ControlsTest, FreeingEitherSideKeepsTheOtherConsistent) {
  auto form = std::make_unique<TWinControl>(nullptr);
  auto& panel = Named<TWinControl>(*form, "panel");
  auto& label = Named<TControl>(*form, "label");
  auto& button = Named<TControl>(*form, "button");
  label.SetParent(&panel);
  button.SetParent(&panel);

  FreeObject(&label);
  EXPECT_THAT(ControlNames(panel), ElementsAre("button"));

  FreeObject(&panel);
  EXPECT_EQ(button.Parent(), nullptr);
  EXPECT_EQ(form->ComponentCount(), 1);

  // An owner freeing its controls frees a parent before the controls it holds
  // when it made the parent last, and after them otherwise.
  auto& box = Named<TWinControl>(*form, "box");
  auto& late = Named<TControl>(*form, "late");
  button.SetParent(&box);
  late.SetParent(&box);
  TWeakObject<TWinControl> to_box(&box);
  form.reset();
  EXPECT_EQ(to_box.Get(), nullptr);
}

TEST(ControlsTest, ParentIsPublishedAndChecksItsClass) {
  auto form = std::make_unique<TWinControl>(nullptr);
  auto& panel = Named<TWinControl>(*form, "panel");
  auto& label = Named<TControl>(*form, "label");
  const TPropertyInfo* parent = label.ClassType().FindProperty("Parent");
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(parent->Kind(), TPropertyKind::kClass);
  EXPECT_EQ(parent->PropertyClass(), &TWinControl::StaticClass());

  SetPropValue(label, "Parent", &panel);
  EXPECT_EQ(label.Parent(), &panel);
  EXPECT_EQ(GetPropValue(label, "parent"), TPropertyValue(static_cast<TObject*>(&panel)));
  SetPropValue(label, "Parent", std::monostate{});
  EXPECT_EQ(label.Parent(), nullptr);
  EXPECT_EQ(panel.ControlCount(), 0);
  TControl plain(nullptr);
  EXPECT_THAT([&] { SetPropValue(label, "Parent", &plain); },
              ThrowsMessage<EBaseException>(StrEq("Cannot cast a TControl to a TWinControl")));
  EXPECT_EQ(FindClass("TWinControl"), &TWinControl::StaticClass());
  EXPECT_EQ(TWinControl::StaticClass().ClassParent(), &TControl::StaticClass());
}

TEST(ActionsTest, ExecuteRunsTheHandlerAndSaysWhetherOneRan) {
  auto form = std::make_unique<TComponent>(nullptr);
  auto& action = MakeOwned<TBasicAction>(*form);
  EXPECT_FALSE(action.Execute());

  std::vector<std::string> ran;
  action.OnExecute = [&](TBasicAction& sender) { ran.push_back(sender.ClassName()); };
  EXPECT_TRUE(action.Execute());
  EXPECT_TRUE(action.Execute());
  EXPECT_THAT(ran, ElementsAre("TBasicAction", "TBasicAction"));

  action.OnExecute = [](TBasicAction&) { throw std::runtime_error("jammed"); };
  EXPECT_THROW(action.Execute(), std::runtime_error);

  // The handler's slot is a published event, which has no value to read.
  const TPropertyInfo* on_execute = action.ClassType().FindProperty("OnExecute");
  ASSERT_NE(on_execute, nullptr);
  EXPECT_EQ(on_execute->Kind(), TPropertyKind::kMethod);
}

}  // namespace
}  // namespace zephro

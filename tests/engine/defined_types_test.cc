// The engine's defined types: filing under the duplicate setting, what goes
// with a removed type, what a redefined type rebuilds, clearing, printing,
// saving, and the checks made at parse time and whenever a fact takes a value.

#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;

constexpr char kProgram[] =
    "(deftype colour extends (type SYMBOL) (allowed-symbols red green))"
    "(deftype shade extends (type colour STRING))"
    "(deftype count extends (type INTEGER) (range 0 9))"
    "(deftemplate car (slot c (type colour)) (slot n (type count)))"
    "(deftemplate paint is-a shade)"
    "(deftemplate box (slot n (type count) (default 3)))"
    "(deftemplate plain (slot x))"
    "(defrule see-car (car (c ?c)) => )"
    "(defrule see-paint (paint ?p) => )"
    "(defrule see-plain (plain (x ?x)) => )"
    "(assert (car (c red) (n 1)) (paint green) (box) (plain (x 1)))";

class DefinedTypesTest : public ::testing::Test {
 protected:
  TInferenceEngine& E() { return fixture_.Engine(); }
  std::vector<std::string> Names(auto&& collection, auto&& name_of) {
    std::vector<std::string> names;
    for (int i = 0; i < collection.Count(); ++i) {
      names.push_back(name_of(collection.At(i)));
    }
    return names;
  }
  std::vector<std::string> TypeNames() {
    return Names(E().DefinedTypes(), [](IIEDefinedType& t) { return t.TypeName(); });
  }
  std::vector<std::string> RuleNames() {
    return Names(E().Rules(), [](TRule& r) { return r.RuleName(); });
  }
  std::vector<std::string> FactTexts() { return testing::FactTexts(E()); }
  std::string ErrorOf(const std::string& text) {
    return testing::MessageOf([&] { E().Parse(text, true); });
  }

  testing::EngineFixture fixture_;
};

TEST_F(DefinedTypesTest, RemovingATypeTakesWhatUsesItAlong) {
  E().Parse(kProgram, true);
  std::vector<std::string> removed;
  E().OnRemoveDefinedType = [&](TInferenceEngine&, IIEDefinedType& t) {
    removed.push_back(t.TypeName());
  };
  EXPECT_TRUE(E().DefinedTypes().Remove("colour"));
  EXPECT_FALSE(E().DefinedTypes().Remove("colour"));
  // colour is told first, then shade, which extends it; car and paint used them.
  EXPECT_EQ(removed, (std::vector<std::string>{"colour", "shade"}));
  EXPECT_EQ(TypeNames(), std::vector<std::string>{"count"});
  EXPECT_EQ(E().FindFactTemplate("car"), nullptr);
  EXPECT_EQ(E().FindFactTemplate("paint"), nullptr);
  EXPECT_NE(E().FindFactTemplate("box"), nullptr);
  EXPECT_EQ(RuleNames(), std::vector<std::string>{"see-plain"});
  EXPECT_EQ(FactTexts(),
            (std::vector<std::string>{"(Initial-Fact)", "(box (n 3))", "(plain (x 1))"}));
  // A type that was removed is no longer its engine's.
  EXPECT_EQ(ErrorOf("(deftemplate t (slot c (type colour)))"),
            "Parsing Error, Invalid slot type: colour in ParseSlotTypes at line 1: "
            "( deftemplate t ( slot c ( type colour ");
}

TEST_F(DefinedTypesTest, RedefiningATypeFollowsTheDuplicateSetting) {
  struct Case {
    TDuplicateConstructs setting;
    const char* redefinition;
    const char* error;
    std::vector<std::string> facts;  // after the redefinition
  };
  const std::vector<std::string> kAll = {"(car (c red) (n 1))", "(paint green )", "(box (n 3))",
                                         "(plain (x 1))"};
  const std::vector<std::string> kInOrder = {"see-car", "see-paint", "see-plain"};
  const Case kCases[] = {
      // The new definition still admits red: car is rebuilt, its fact kept.
      {TDuplicateConstructs::dcOverwrite,
       "(deftype colour extends (type SYMBOL) (allowed-symbols red green blue))",
       "",
       {"(paint green )", "(box (n 3))", "(plain (x 1))", "(car (c red) (n 1))"}},
      // It no longer does: the fact that does not fit is gone.
      {TDuplicateConstructs::dcOverwrite,
       "(deftype colour extends (type SYMBOL) (allowed-symbols blue green))",
       "",
       {"(paint green )", "(box (n 3))", "(plain (x 1))"}},
      {TDuplicateConstructs::dcIgnore, "(deftype colour extends (type SYMBOL))", "", kAll},
      {TDuplicateConstructs::dcError, "(deftype colour extends (type SYMBOL))",
       "Defined Type Name already exists: \"colour\"", kAll},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.redefinition);
    E().Clear();
    E().Parse(kProgram, true);
    E().SetDuplicateConstructs(c.setting);
    IIEDefinedType* before = E().DefinedTypes().Get("colour");
    EXPECT_THAT(ErrorOf(c.redefinition), HasSubstr(c.error));
    EXPECT_EQ(FactTexts(), c.facts);
    IIEDefinedType* after = E().DefinedTypes().Get("colour");
    const bool replaced = c.setting == TDuplicateConstructs::dcOverwrite;
    EXPECT_EQ(after == before, !replaced);
    // Whatever happened, the engine's templates and types agree.
    EXPECT_EQ(E().FindFactTemplate("car")->SlotAt(0)->ExtendedTypeInfo(), after);
    EXPECT_EQ(E().DefinedTypes().Get("shade")->Ancestor(), after);
    // Rules on a rebuilt template are compiled again, so they come last.
    const std::vector<std::string> rebuilt = {"see-paint", "see-plain", "see-car"};
    EXPECT_EQ(RuleNames(), replaced ? rebuilt : kInOrder);
    // A redefined parent is filed after its child; printing puts it first.
    const std::string text = E().DefinedTypes().ToString();
    EXPECT_LT(text.find("(deftype colour"), text.find("(deftype shade"));
    E().SetDuplicateConstructs(TDuplicateConstructs::dcOverwrite);
  }
}

TEST_F(DefinedTypesTest, ClearingForgetsTypesAndSaysSo) {
  int cleared = 0;
  std::vector<std::string> added;
  E().OnClearDefinedTypes = [&](TInferenceEngine&) { ++cleared; };
  E().OnAddDefinedType = [&](TInferenceEngine&, IIEDefinedType& t) {
    added.push_back(t.TypeName());
  };
  E().Parse(kProgram, true);
  EXPECT_EQ(added, (std::vector<std::string>{"colour", "shade", "count"}));
  auto* colour = dynamic_cast<TIEDefinedType*>(E().DefinedTypes().Get("colour"));
  ASSERT_NE(colour, nullptr);
  Ref<TIEDefinedType> kept(colour);
  EXPECT_EQ(kept->Reasoner(), &E());
  E().Parse("(clear)", true);
  EXPECT_EQ(cleared, 1);
  EXPECT_EQ(E().DefinedTypes().Count(), 0);
  EXPECT_EQ(kept->Reasoner(), nullptr);
  EXPECT_EQ(E().DefinedTypes().ToString(), "");
  E().Parse(kProgram, true);  // defines again without complaint
  EXPECT_EQ(E().DefinedTypes().Count(), 3);
}

TEST_F(DefinedTypesTest, ASavedProgramLoadsBackWithEqualTypes) {
  const std::string file =
      (std::filesystem::path(::testing::TempDir()) / "defined_types_test.kb").string();
  E().Parse(kProgram, true);
  E().Parse(
      "(deftype sizes \"shoe\" extends (type count FLOAT) (range 1 7.25)"
      " (cardinality 0 4) (units \"EU size\") (allowed-numbers 1 2 3 4.5))"
      "(deftemplate shoes (multislot s (type sizes) (cardinality 1 2)))"
      "(assert (shoes (s 2 4.5)))",
      true);
  const std::string types = E().DefinedTypes().ToString();
  const std::string templates = E().FactTemplates().ToString();
  const std::vector<std::string> facts = FactTexts();
  std::vector<Ref<TIEDefinedType>> before;
  for (int i = 0; i < E().DefinedTypes().Count(); ++i) {
    before.emplace_back(dynamic_cast<TIEDefinedType*>(&E().DefinedTypes().At(i)));
  }
  E().Parse("(save \"" + file + "\")", true);
  E().Parse("(clear)", true);
  E().Parse("(load \"" + file + "\")", true);
  EXPECT_EQ(E().DefinedTypes().ToString(), types);
  EXPECT_EQ(E().FactTemplates().ToString(), templates);
  EXPECT_EQ(FactTexts(), facts);
  for (const Ref<TIEDefinedType>& old : before) {
    SCOPED_TRACE(old->TypeName());
    auto* loaded = dynamic_cast<TIEDefinedType*>(E().DefinedTypes().Get(old->TypeName()));
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->Equals(*old));
    EXPECT_EQ(loaded->Comment(), old->Comment());
    EXPECT_EQ(loaded->Units(), old->Units());
  }
  std::filesystem::remove(file);
}

TEST_F(DefinedTypesTest, ValuesAreCheckedWhereTheSettingsSay) {
  struct Case {
    const char* what;
    bool static_checks;
    bool dynamic_checks;
    const char* text;
    const char* error;  // "" when accepted
  };
  const Case kCases[] = {
      {"a literal slot value", true, false, "(assert (car (c blue)))",
       "Value \"blue\" is not valid, Not in allowed values in ParseValue(Fact Slot)"},
      {"not checked when static checks are off", false, false, "(assert (car (c blue)))", ""},
      {"a value computed at run time", false, true, "(assert (car (n (+ 5 5))))",
       "Value \"10\" is not valid, Range must be between 0.0000 and 9.0000 for n slot"},
      {"a computed value without dynamic checks", true, false, "(assert (car (n (+ 5 5))))", ""},
      {"a slot default", true, false, "(deftemplate bad (slot n (type count) (default 12)))",
       "Value \"12\" is not valid, Range must be between 0.0000 and 9.0000 in "
       "ParseFactTemplateSlot"},
      {"a constant in a pattern", true, false, "(defrule r (car (c blue)) => )",
       "Value \"blue\" is not valid, Not in allowed values in ParsePattern"},
      {"a negated constant in a pattern", true, false, "(defrule r (car (n ~12)) => )",
       "Range must be between 0.0000 and 9.0000 in ParsePattern"},
      {"a pattern's variables are known later", true, true,
       "(defrule r (car (c ?c&~red) (n ?n)) => )", ""},
      {"a value of the wrong kind in an is-a template", true, false, "(assert (paint 1))",
       "Value \"1\" is not valid, Not a ATOM, STRING type.  Value (1) is a dtInteger type"},
      {"a fact set", true, false, "(deffacts f (car (c blue)))",
       "Value \"blue\" is not valid, Not in allowed values"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    E().Clear();
    E().Parse(kProgram, true);
    TTypeChecks checks;
    if (c.static_checks) {
      checks = checks | TTypeCheck::tcStatic;
    }
    if (c.dynamic_checks) {
      checks = checks | TTypeCheck::tcDynamic;
    }
    E().SetTypeChecks(checks);
    const std::vector<std::string> facts = FactTexts();
    const std::string error = ErrorOf(c.text);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_THAT(error, HasSubstr(c.error));
      EXPECT_EQ(FactTexts(), facts) << "a refused value changes nothing";
    }
  }
}

TEST_F(DefinedTypesTest, ARefusedValueLeavesTheFactAsItWas) {
  E().Parse(kProgram, true);
  E().SetTypeChecks({TTypeCheck::tcStatic, TTypeCheck::tcDynamic});
  const std::vector<std::string> facts = FactTexts();
  const char* kRefused[] = {
      "(modify 1 (c green) (n 20))",
      "(modify 1 (n 2) (c (sym-cat bl ue)))",
      "(duplicate 1 (n -1))",
      "(assert (car (c green) (n (+ 9 1))))",
  };
  for (const char* text : kRefused) {
    SCOPED_TRACE(text);
    EXPECT_NE(ErrorOf(text), "");
    EXPECT_EQ(FactTexts(), facts);
  }
  E().Parse("(modify 1 (c green) (n 9))", true);
  EXPECT_EQ(FactTexts().back(), "(car (c green) (n 9))");
}

}  // namespace
}  // namespace zephro

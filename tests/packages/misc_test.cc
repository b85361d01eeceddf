#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/packages/misc_package.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

class MiscPackageTest : public ::testing::Test {
 protected:
  TInferenceEngine& Engine() { return fixture_.Engine(); }
  // Loads `text` and drops what its echo printed.
  void Load(const std::string& text) {
    Engine().Parse(text);
    fixture_.TakeOutput();
  }
  // What the call `text` printed; it must return no value.
  std::string Listing(const std::string& text) {
    Ref<IIEValue> result = Engine().ParseNExecuteFunCall(text);
    EXPECT_TRUE(result->Equals(&FCNil())) << text;
    return fixture_.TakeOutput();
  }

  testing::EngineFixture fixture_;
};

TEST_F(MiscPackageTest, FactsListsWorkingMemoryByIdRange) {
  Load(R"((deftemplate point (slot x))
          (assert (point (x 1)))
          (assert (a 1 2))
          (assert (b))
          (assert (point (x 4))))");
  Engine().Retract(3);
  struct {
    const char* call;
    const char* listing;
  } const kCases[] = {
      {"(facts)",
       "f-0 (Initial-Fact)\nf-1 (point (x 1))\nf-2 (a 1 2 )\nf-4 (point (x 4))\n"
       "For a total of 4 facts.\n"},
      {"(facts 2)", "f-2 (a 1 2 )\nf-4 (point (x 4))\nFor a total of 2 facts.\n"},
      {"(facts 1 2)", "f-1 (point (x 1))\nf-2 (a 1 2 )\nFor a total of 2 facts.\n"},
      {"(facts 1 10 1)", "f-1 (point (x 1))\nFor a total of 1 facts.\n"},
      {"(facts 3 3)", "For a total of 0 facts.\n"},  // retracted
      {"(facts 1 4 0)", "For a total of 0 facts.\n"},
      {"(facts (+ 1 1) (+ 2 2))", "f-2 (a 1 2 )\nf-4 (point (x 4))\nFor a total of 2 facts.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Listing(c.call), c.listing);
  }
}

TEST_F(MiscPackageTest, RulesListsNamesInDefinitionOrderToTheLogicalName) {
  std::vector<std::pair<std::string, std::string>> printed;
  Engine().OnPrintOut = [&](TInferenceEngine&, std::string_view name, std::string_view text) {
    printed.emplace_back(name, text);
  };
  EXPECT_TRUE(Engine().ParseNExecuteFunCall("(rules)")->Equals(&FCNil()));
  Engine().Parse(R"((defrule second (b) =>)
                    (defrule first (a) =>)
                    (defrule second (c) =>))");  // a redefinition files the rule anew
  printed.clear();
  Engine().ParseNExecuteFunCall("(rules)");
  Engine().ParseNExecuteFunCall("(rules t)");
  using Printed = std::pair<std::string, std::string>;
  EXPECT_THAT(printed,
              ::testing::ElementsAre(Printed{"", "first\nsecond\nFor a total of 2 rules.\n"},
                                     Printed{"t", "first\nsecond\nFor a total of 2 rules.\n"}));
}

TEST_F(MiscPackageTest, AgendaListsActivationsInFiringOrder) {
  EXPECT_EQ(Listing("(agenda)"), "for a total of 0 activations.\n");
  Load(R"((defrule low (a ?x) =>)
          (defrule high (declare (salience 10)) (a ?x) (b) =>)
          (assert (a 1))
          (assert (b))
          (assert (a 2)))");
  EXPECT_EQ(Listing("(agenda)"),
            "10 high : f-3, f-2 (1.0000)\n"
            "10 high : f-1, f-2 (1.0000)\n"
            "0 low : f-3 (1.0000)\n"
            "0 low : f-1 (1.0000)\n"
            "for a total of 4 activations.\n");
  Engine().Run(1);
  EXPECT_EQ(Listing("(agenda)"),
            "10 high : f-1, f-2 (1.0000)\n"
            "0 low : f-3 (1.0000)\n"
            "0 low : f-1 (1.0000)\n"
            "for a total of 3 activations.\n");
}

TEST_F(MiscPackageTest, RejectsBadArguments) {
  struct {
    const char* call;
    const char* message;
  } const kCases[] = {
      {"(facts x)", "Not a integer type.  Value (x) is a dtAtom type"},
      {"(facts 1 2 3 4)", "Too many arguments for facts"},
      {"(rules t x)", "Too many arguments for rules"},
      {"(agenda 1)", "Too many arguments for agenda"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_THAT([&] { Engine().ParseNExecuteFunCall(c.call); },
                ThrowsMessage<EIEException>(StrEq(c.message)));
  }
}

TEST_F(MiscPackageTest, DefinedTypeCommands) {
  Load(R"((deftype colour extends (type SYMBOL) (allowed-symbols red green))
          (deftype shade extends (type colour))
          (deftemplate car (slot c (type shade))))");
  struct {
    const char* call;
    const char* result;
    const char* printed;
  } const kCases[] = {
      {"(is-deftype colour)", "TRUE", ""},
      {"(is-deftype (sym-cat sh ade))", "TRUE", ""},
      {"(is-deftype car)", "FALSE", ""},
      {"(ppdeftype colour)", "TRUE",
       "(deftype colour extends (type SYMBOL)\n  (allowed-symbols red green ))\n"},
      {"(ppdeftype car)", "FALSE", ""},
      {"(list-deftypes)", "", "colour\nshade\nfor a total of 2 deftypes.\n"},
      {"(undeftype nothing)", "FALSE", ""},
      {"(undeftype colour)", "TRUE", ""},  // and shade, and car with them
      {"(is-deftype shade)", "FALSE", ""},
      {"(list-deftypes)", "", "for a total of 0 deftypes.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Engine().ParseNExecuteFunCall(c.call)->ToString(), c.result);
    EXPECT_EQ(fixture_.TakeOutput(), c.printed);
  }
  EXPECT_EQ(Engine().FindFactTemplate("car"), nullptr);
}

TEST_F(MiscPackageTest, ConstraintCheckingSwitches) {
  struct {
    const char* call;
    const char* result;
    bool static_checks;  // after the call
    bool dynamic_checks;
  } const kCases[] = {
      {"(get-static-constraint-checking)", "TRUE", true, false},
      {"(get-dynamic-constraint-checking)", "FALSE", true, false},
      {"(set-dynamic-constraint-checking TRUE)", "FALSE", true, true},
      {"(set-dynamic-constraint-checking TRUE)", "TRUE", true, true},
      {"(set-static-constraint-checking FALSE)", "TRUE", false, true},
      {"(set-static-constraint-checking yes)", "FALSE", false, true},  // only TRUE is true
      {"(get-dynamic-constraint-checking)", "TRUE", false, true},
      {"(set-dynamic-constraint-checking (eq 1 2))", "TRUE", false, false},
      {"(set-static-constraint-checking (eq 1 1))", "FALSE", true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Engine().ParseNExecuteFunCall(c.call)->ToString(), c.result);
    EXPECT_EQ(Engine().TypeChecks().Contains(TTypeCheck::tcStatic), c.static_checks);
    EXPECT_EQ(Engine().TypeChecks().Contains(TTypeCheck::tcDynamic), c.dynamic_checks);
  }
  EXPECT_THAT([&] { Engine().ParseNExecuteFunCall("(set-static-constraint-checking)"); },
              ThrowsMessage<EIEException>(::testing::HasSubstr("set-static-constraint-checking")));
}

}  // namespace
}  // namespace zephro

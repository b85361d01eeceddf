#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/packages/misc_package.h"
#include "zephro/platform/dialogs.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"
#include "testing/package_checks.h"

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

// A knowledge base with one construct of every kind.
constexpr char kEveryConstruct[] = R"(
  (deftemplate point "a point" (slot x (default 0)))
  (deffacts start "where it starts" (point (x 1)) (point (x 2)))
  (deffunction twice (?x) (* 2 ?x))
  (defglobal ?*limit* = 10)
  (deftype small extends (type INTEGER) (range 0 9))
  (defrule grow (point (x ?x&:(< ?x ?*limit*))) => (assert (point (x (twice ?x))))))";

TEST_F(MiscPackageTest, NameTestsKnowEachKindOfConstruct) {
  Load(kEveryConstruct);
  Load("(bind ?outer 1)");
  struct {
    const char* call;
    const char* result;
  } const kCases[] = {
      {"(is-defrule grow)", "TRUE"},
      {"(is-defrule point)", "FALSE"},
      {"(is-deffacts start)", "TRUE"},
      {"(is-deffacts grow)", "FALSE"},
      {"(is-deftemplate point)", "TRUE"},
      {"(is-deftemplate (str-cat po int))", "TRUE"},
      {"(is-deftemplate start)", "FALSE"},
      {"(is-deffunction twice)", "TRUE"},
      {"(is-deffunction +)", "FALSE"},  // a package's function is no deffunction
      {"(is-deftype small)", "TRUE"},
      {"(is-defglobal limit)", "TRUE"},
      {"(is-defglobal \"?*limit*\")", "TRUE"},
      {"(is-defglobal ?*limit*)", "FALSE"},  // the value 10 names no global
      {"(is-defglobal *limit*)", "TRUE"},
      {"(is-defglobal limits)", "FALSE"},
      {"(is-binding outer)", "TRUE"},
      {"(is-binding \"?outer\")", "TRUE"},
      {"(is-binding ?outer)", "FALSE"},  // the value 1 names no variable
      {"(is-binding inner)", "FALSE"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Engine().ParseNExecuteFunCall(c.call)->ToString(), c.result);
  }
}

TEST_F(MiscPackageTest, ListingsNameConstructsInDefinitionOrder) {
  struct {
    const char* call;
    const char* empty;   // in a new engine
    const char* loaded;  // after kEveryConstruct and a second of some kinds
  } const kCases[] = {
      {"(list-defrules)", "for a total of 0 defrules.\n",
       "grow\nshrink\nfor a total of 2 defrules.\n"},
      {"(list-deffacts)", "for a total of 0 deffacts.\n",
       "start\nmore\nfor a total of 2 deffacts.\n"},
      {"(list-deffunctions)", "for a total of 0 deffunctions.\n",
       "half\ntwice\nfor a total of 2 deffunctions.\n"},  // redefined: new
      {"(list-deftypes)", "for a total of 0 deftypes.\n", "small\nfor a total of 1 deftypes.\n"},
      {"(list-deftemplates)", "Initial-Fact\nfor a total of 1 deftemplates.\n",
       "Initial-Fact\npoint\nfor a total of 2 deftemplates.\n"},
      {"(list-defglobals)", "for a total of 0 defglobals.\n",
       "?*limit* = 10\n?*step* = 2\nfor a total of 2 defglobals.\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Listing(c.call), c.empty);
  }
  Load(kEveryConstruct);
  Load(R"((defrule shrink (point (x ?x&:(> ?x 100))) =>)
          (deffacts more (point (x 3)))
          (deffunction half (?x) (/ ?x 2))
          (deffunction twice (?x) (+ ?x ?x))
          (defglobal ?*step* = 2))");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Listing(c.call), c.loaded);
  }
}

TEST_F(MiscPackageTest, ListDefGlobalsShowsCurrentValues) {
  Load("(defglobal ?*count* = 0) (bind ?*count* (+ ?*count* 5))");
  EXPECT_EQ(Listing("(list-defglobals)"), "?*count* = 5\nfor a total of 1 defglobals.\n");
}

TEST_F(MiscPackageTest, ListBindingsShowsTheVariablesWhereTheCallRuns) {
  Load(R"((deffunction show (?a $?rest) (bind ?local x) (list-bindings))
          (defrule see (point ?x) => (bind ?y 2) (list-bindings))
          (defglobal ?*g* = 1))");
  Engine().ParseNExecuteFunCall("(show 1 2 3)");
  EXPECT_EQ(fixture_.TakeOutput(),
            "?a = 1\n?rest = 2 3 \n?local = x\nfor a total of 3 bindings.\n");
  Load("(assert (point 7))");
  Engine().Run();
  EXPECT_EQ(fixture_.TakeOutput(), "?x = 7\n?y = 2\nfor a total of 2 bindings.\n");
  // A top-level binding is seen from everywhere, after the inner ones.
  Load("(bind ?top t)");
  Engine().ParseNExecuteFunCall("(show 1 2)");
  EXPECT_EQ(fixture_.TakeOutput(),
            "?a = 1\n?rest = 2 \n?local = x\n?top = t\nfor a total of 4 bindings.\n");
}

TEST_F(MiscPackageTest, PrettyPrintingGivesTextThatReadsBack) {
  Load(kEveryConstruct);
  const char* const kCalls[] = {"(ppdefrule grow)", "(ppdeffacts start)",
                                "(ppdeftemplate point)", "(ppdeffunction twice)",
                                "(ppdeftype small)"};
  std::vector<std::string> printed;
  for (const char* call : kCalls) {
    SCOPED_TRACE(call);
    EXPECT_EQ(Engine().ParseNExecuteFunCall(call)->ToString(), "TRUE");
    printed.push_back(fixture_.TakeOutput());
    EXPECT_FALSE(printed.back().empty());
  }
  EXPECT_EQ(printed[1],
            "(deffacts start \"where it starts\"\n  (point (x 1))\n  (point (x 2))\n)\n");
  // What was printed, read into a new engine in dependency order, prints
  // the same again.
  testing::EngineFixture other;
  for (const int i : {4, 2, 3, 1, 0}) {
    other.Engine().Parse("(defglobal ?*limit* = 10) " + printed[static_cast<std::size_t>(i)]);
  }
  other.TakeOutput();
  for (std::size_t i = 0; i < std::size(kCalls); ++i) {
    SCOPED_TRACE(kCalls[i]);
    other.Engine().ParseNExecuteFunCall(kCalls[i]);
    EXPECT_EQ(other.TakeOutput(), printed[i]);
  }
  // Nothing to print: FALSE and no output; a package function prints as a
  // comment line.
  for (const char* call : {"(ppdefrule nothing)", "(ppdeffacts grow)", "(ppdeftemplate twice)",
                           "(ppdeffunction nothing)", "(ppdeftype point)"}) {
    SCOPED_TRACE(call);
    EXPECT_EQ(Engine().ParseNExecuteFunCall(call)->ToString(), "FALSE");
    EXPECT_EQ(fixture_.TakeOutput(), "");
  }
  EXPECT_EQ(Engine().ParseNExecuteFunCall("(ppdeffunction str-cat)")->ToString(), "TRUE");
  EXPECT_EQ(fixture_.TakeOutput(), ";; str-cat function\n");
}

TEST_F(MiscPackageTest, UndefRemovesConstructsAndWhatDependsOnThem) {
  Load(kEveryConstruct);
  Engine().Reset();
  ASSERT_EQ(testing::FactTexts(Engine()).size(), 3u);
  struct {
    const char* call;
    const char* result;
  } const kCases[] = {
      {"(undeffunction +)", "FALSE"},  // package functions stay
      {"(+ 1 2)", "3"},
      {"(undeffacts nothing)", "FALSE"},
      {"(undeffacts start)", "TRUE"},
      {"(is-deffacts start)", "FALSE"},
      {"(undeffacts start)", "FALSE"},
      {"(undefrule grow)", "TRUE"},
      {"(is-defrule grow)", "FALSE"},
      {"(undeffunction twice)", "TRUE"},
      {"(is-deffunction twice)", "FALSE"},
      {"(undeftemplate point)", "TRUE"},
      {"(is-deftemplate point)", "FALSE"},
      {"(undeftemplate point)", "FALSE"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Engine().ParseNExecuteFunCall(c.call)->ToString(), c.result);
  }
  EXPECT_EQ(testing::FactTexts(Engine()), std::vector<std::string>{"(Initial-Fact)"});
  EXPECT_EQ(Engine().Rules().Count(), 0);
}

TEST_F(MiscPackageTest, UndefTemplateTakesItsRulesAndFactSetsAlong) {
  Load(R"((deftemplate point (slot x))
          (deftemplate other (slot y))
          (deffacts points (point (x 1)))
          (deffacts others (other (y 1)))
          (defrule uses-point (point (x ?x)) =>)
          (defrule uses-other (other (y ?y)) =>))");
  EXPECT_EQ(Engine().ParseNExecuteFunCall("(undeftemplate point)")->ToString(), "TRUE");
  EXPECT_EQ(Listing("(list-defrules)"), "uses-other\nfor a total of 1 defrules.\n");
  // The fact sets stay, without the template's facts.
  EXPECT_EQ(Listing("(list-deffacts)"), "points\nothers\nfor a total of 2 deffacts.\n");
  Engine().ParseNExecuteFunCall("(ppdeffacts points)");
  EXPECT_EQ(fixture_.TakeOutput(), "(deffacts points\n)\n");
}

// Constructs removed by the actions of a firing rule, the rule itself among
// them: the firing ends normally and the engine goes on (the sanitizer
// builds catch a construct freed too early).
TEST_F(MiscPackageTest, UndefFromTheFiringRuleItself) {
  struct {
    const char* program;
    std::vector<std::string> facts;  // after the run
    int rules;                       // left after the run
  } const kCases[] = {
      {R"((defrule once (go) => (undefrule once) (assert (after))))",
       {"(Initial-Fact)", "(go)", "(after)"}, 0},
      {R"((deftemplate go (slot n (default 1)))
          (defrule drop ?f <- (go (n ?n)) => (undeftemplate go) (assert (after ?n))))",
       {"(Initial-Fact)", "(after 1 )"}, 0},
      {R"((deffunction f () (undeffunction f) 41)
          (defrule call (go) => (assert (after (+ 1 (f))))))",
       {"(Initial-Fact)", "(go)", "(after 42 )"}, 1},
      {R"((deffacts d (go))
          (defrule forget (go) => (undeffacts d) (assert (after))))",
       {"(Initial-Fact)", "(go)", "(after)"}, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.program);
    testing::EngineFixture fixture;
    fixture.Engine().Parse(c.program);
    fixture.Engine().Reset();
    if (fixture.Engine().FactSets().Count() == 0) {
      fixture.Engine().Parse("(assert (go))");
    }
    fixture.Engine().Run();
    EXPECT_EQ(testing::FactTexts(fixture.Engine()), c.facts);
    EXPECT_EQ(fixture.Engine().Rules().Count(), c.rules);
    fixture.Engine().Parse("(defrule again (after $?) => (assert (done)))");
    fixture.Engine().Run();
    EXPECT_EQ(testing::FactTexts(fixture.Engine()).back(), "(done)");
  }
}

TEST_F(MiscPackageTest, GuardKeepsTheFiringRuleFromReactivating) {
  // Each firing replaces the counter by the next one, which the rule itself
  // matches: guarded, the new counter gives no activation.
  constexpr char kCounter[] = R"(
    (defrule count ?f <- (counter ?n&:(< ?n 5)) => %s)
    (defrule other (counter ?n) => (assert (seen ?n))))";
  struct {
    const char* actions;
    int fired_count;
  } const kCases[] = {
      {"(retract ?f) (assert (counter (+ ?n 1)))", 5},
      {"(guard (retract ?f) (assert (counter (+ ?n 1))))", 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.actions);
    testing::EngineFixture fixture;
    char program[512];
    std::snprintf(program, sizeof program, kCounter, c.actions);
    fixture.Engine().Parse(program);
    int fired = 0;
    fixture.Engine().OnRuleFired = [&](TInferenceEngine&, TRule& rule) {
      fired += rule.RuleName() == "count" ? 1 : 0;
    };
    fixture.Engine().Parse("(assert (counter 0))");
    fixture.Engine().Run();
    EXPECT_EQ(fired, c.fired_count);
    // Other rules see the new counter, and the guarded rule is enabled again.
    EXPECT_THAT(testing::FactTexts(fixture.Engine()),
                ::testing::Contains(::testing::HasSubstr("(seen " +
                                                          std::to_string(c.fired_count))));
    EXPECT_TRUE(fixture.Engine().Rules().Get("count")->Enabled());
    fixture.Engine().Parse("(assert (counter 4))");
    EXPECT_EQ(fixture.Engine().Run(1), 1);
  }
  EXPECT_EQ(Engine().ParseNExecuteFunCall("(guard (+ 1 1) (str-cat a b))")->ToString(), "\"ab\"");
}

TEST_F(MiscPackageTest, EngineSwitchesAndParse) {
  struct {
    const char* call;
    const char* result;
  } const kCases[] = {
      {"(set-reset-globals)", "TRUE"},
      {"(set-reset-globals FALSE)", "TRUE"},
      {"(set-reset-globals)", "FALSE"},
      {"(set-reset-globals TRUE)", "FALSE"},
      {"(setgen 100)", "100"},
      {"(gensym*)", "gen100"},
      {"(parse \"(deffunction sq (?x) (* ?x ?x)) (defglobal ?*p* = (sq 3))\")", "TRUE"},
      {"(sq 4)", "16"},
      {"(+ 0 ?*p*)", "9"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Engine().ParseNExecuteFunCall(c.call)->ToString(), c.result);
  }
  EXPECT_TRUE(Engine().ResetGlobals());
  // A text that does not read raises the parse error; what it defined
  // before the error stays.
  EXPECT_THAT([&] { Engine().ParseNExecuteFunCall("(parse \"(deffunction ok () 1) (defrule\")"); },
              ::testing::Throws<EIEException>());
  EXPECT_EQ(Engine().ParseNExecuteFunCall("(ok)")->ToString(), "1");
}

// The console dialogs: the answers are the lines the engine reads.
class MiscDialogTest : public MiscPackageTest {
 protected:
  MiscDialogTest() {
    Engine().OnReadLine = [this](TInferenceEngine&, std::string_view, std::string& text) {
      text = answers_.empty() ? "" : answers_.front();
      if (!answers_.empty()) {
        answers_.erase(answers_.begin());
      }
    };
  }
  std::vector<std::string> answers_;
};

TEST_F(MiscDialogTest, ConsoleDefaultsAskAndRead) {
  struct {
    const char* call;
    std::vector<std::string> answers;
    const char* printed;
    const char* result;
  } const kCases[] = {
      {"(show-message \"Done.\")", {}, "Done.\n", ""},
      {"(input-box \"Plant\" \"Name?\" \"fern\")", {"ivy"}, "Plant\nName? [fern] ", "\"ivy\""},
      {"(input-box \"Plant\" \"Name?\" \"fern\")", {}, "Plant\nName? [fern] ", "\"fern\""},
      {"(input-box)", {}, " ", "\"\""},
      {"(input-query \"\" \"Age?\")", {"7"}, "Age? ", "\"7\""},
      {"(input-query \"\" \"Age?\" \"3\")", {}, "Age? [3] ", "FALSE"},
      {"(message-dlg \"Water it?\" mtConfirmation \"[mbYes, mbNo]\")", {"no"},
       "Water it?\n(Yes/No) ", "mrNo"},
      {"(message-dlg \"Water it?\" mtConfirmation \"mbYes mbNo mbCancel\")", {"maybe", "Y"},
       "Water it?\n(Yes/No/Cancel) (Yes/No/Cancel) ", "mrYes"},
      {"(message-dlg \"Water it?\" mtConfirmation \"[Yes, No]\")", {}, "Water it?\n(Yes/No) ",
       "mrCancel"},
      {"(message-dlg \"Careful\" mtWarning)", {"ok"}, "Careful\n(OK) ", "mrOk"},
      {"(message-dlg \"Go on?\" mtError \"[mbYesToAll,mbNoToAll,mbAbort]\" 12)", {"notoall"},
       "Go on?\n(Abort/NoToAll/YesToAll) ", "mrNoToAll"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    answers_ = c.answers;
    EXPECT_EQ(Engine().ParseNExecuteFunCall(c.call)->ToString(), c.result);
    EXPECT_EQ(fixture_.TakeOutput(), c.printed);
    EXPECT_TRUE(answers_.empty());
  }
}

TEST_F(MiscDialogTest, HostHandlersReplaceTheConsole) {
  std::vector<std::string> seen;
  Engine().OnShowMessage = [&](TInferenceEngine&, std::string_view message) {
    seen.emplace_back(message);
  };
  Engine().OnInputQuery = [&](TInferenceEngine&, std::string_view caption,
                              std::string_view prompt, std::string& value) {
    seen.push_back(std::string(caption) + "|" + std::string(prompt) + "|" + value);
    value += "!";
    return caption != "cancel";
  };
  Engine().OnMessageDlg = [&](TInferenceEngine&, std::string_view message, TMsgDlgType type,
                              TMsgDlgButtons buttons, int help) {
    seen.push_back(std::string(message) + "|" + std::string(MsgDlgTypeName(type)) + "|" +
                   std::to_string(buttons.Count()) + "|" + std::to_string(help));
    return TModalResult::mrRetry;
  };
  struct {
    const char* call;
    const char* result;
    const char* seen;
  } const kCases[] = {
      {"(show-message hello)", "", "hello"},
      {"(input-box a b c)", "\"c!\"", "a|b|c"},
      {"(input-box cancel b c)", "\"c\"", "cancel|b|c"},
      {"(input-query cancel b c)", "FALSE", "cancel|b|c"},
      {"(input-query a)", "\"!\"", "a||"},
      {"(message-dlg m mtInformation \"[mbRetry,mbAbort]\" 5)", "mrRetry", "m|mtInformation|2|5"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    seen.clear();
    EXPECT_EQ(Engine().ParseNExecuteFunCall(c.call)->ToString(), c.result);
    EXPECT_EQ(seen, std::vector<std::string>{c.seen});
    EXPECT_EQ(fixture_.TakeOutput(), "");
  }
}

TEST_F(MiscDialogTest, RejectsBadDialogArguments) {
  struct {
    const char* call;
    const char* message;
  } const kCases[] = {
      {"(message-dlg \"x\" mtBogus)", "Bad Argument: mtBogus"},
      {"(message-dlg \"x\" mtWarning \"[mbYes, Maybe]\")", "message-dlg error: Invalid item for set: mbMaybe"},
      {"(message-dlg \"x\" mtWarning \"[mbYes]\" help)",
       "Not a integer type.  Value (help) is a dtAtom type"},
      {"(message-dlg \"x\")", "Too few arguments for message-dlg"},
      {"(input-box a b c d)", "Too many arguments for input-box"},
      {"(show-message)", "Too few arguments for show-message"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_THAT([&] { Engine().ParseNExecuteFunCall(c.call); },
                ThrowsMessage<EBaseException>(StrEq(c.message)));
  }
}

TEST_F(MiscPackageTest, EveryFunctionKeepsItsLimits) {
  TMiscPackage package(nullptr);
  testing::ExpectEveryFunctionKeepsItsLimits(package, Engine());
}

TEST_F(MiscPackageTest, RenamingAFamilyFunctionSwitchesItsKind) {
  Load(kEveryConstruct);
  Ref<TPrettyPrintFunction> printer = MakeRef<TPrettyPrintFunction>();
  printer->SetFunctionName("ppdeftemplate");
  EXPECT_EQ(printer->FunctionType(), TPrettyPrintFunctionType::ppfFactTemplate);
  printer->SetFunctionName("show-it");  // not of the family: only renamed
  EXPECT_EQ(printer->FunctionType(), TPrettyPrintFunctionType::ppfFactTemplate);
  Engine().AddUserFunction(*printer);
  EXPECT_EQ(Engine().ParseNExecuteFunCall("(show-it point)")->ToString(), "TRUE");
  EXPECT_THAT(fixture_.TakeOutput(), ::testing::StartsWith("(deftemplate point"));
}

}  // namespace
}  // namespace zephro

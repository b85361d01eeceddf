// The errors of constructs: the message of each common mistake, the keyword
// each entry point wants, and rules refused or failing to evaluate without
// leaving the engine in a state of their own.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/language_fixture.h"
#include "zephro/engine/fact_set.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;
using testing::ParserFixture;

TEST(ConstructsTest, ReportsCommonMistakes) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case kCases[] = {
      // Rules.
      {"(defrule r (a) -> (f))",
       "Expected \"=>\" in ParseRule at line 1: ( defrule r ( a ) -> "},
      {"(defrule r (declare (priority 1)) (a) => )",
       "Expected rule property, salience, oneshot, or enabled in ParseRule at line 1: "
       "( defrule r ( declare ( priority "},
      {"(defrule r (declare (salience abc)) (a) => )",
       "Expected integer, variable, or function call for salience in ParseRule at line 1: "
       "( defrule r ( declare ( salience abc "},
      {"(defrule r\n  ?f <- (not (a)) => )",
       "\"not\" and \"test\" CEs cannot be bound to variables in ParseRulePatterns at line 2: "
       "( defrule r \n?f <- ( not ( a ) ) "},
      {"(defrule r ?f (a) => )", "Expected \"<-\" in ParseRulePatterns at line 1: ( defrule r ?f ( "},
      {"(defrule r (a) (1) => )",
       "Expected \"( <atom>\" in ParsePattern at line 1: ( defrule r ( a ) ( 1 "},
      {"(deftemplate t (slot x)) (defrule r (t (y 1)) => )",
       "Bad Slot Name: y in ParsePattern at line 1: ( defrule r ( t ( y "},
      {"(deftemplate t (slot x)) (defrule r (t (x 1 2)) => )",
       "Slot \"x\" is not a multislot in ParsePattern at line 1: ( defrule r ( t ( x 1 2 "},
      {"(defrule r (a &) => )", "Bad Slot Value: & in ParsePattern at line 1: ( defrule r ( a & "},
      {"(defrule r (a b&) => )", "Bad Slot Value: ) in ParsePattern at line 1: ( defrule r ( a b & ) "},
      {"(defrule r (a [) => )", "Bad Slot Value: [ in ParsePattern at line 1: ( defrule r ( a [ "},
      {"(defrule r (a : 1) => )",
       "Expected \"(\" in ParsePattern at line 1: ( defrule r ( a : 1 "},
      {"(defrule r (a) => (f)", "Expected \")\" in ParseRule at line 1: ( defrule r ( a ) = > ( f ) EOF "},
      // Templates.
      {"(deftemplate t (slot x (type FUZZY INTEGER)))",
       "Cannot mix fuzzy type with other primitive types in ParseSlotTypes at line 1: "
       "( deftemplate t ( slot x ( type FUZZY INTEGER "},
      {"(deftemplate t (slot x (type BOGUS)))",
       "Invalid slot type: BOGUS in ParseSlotTypes at line 1: ( deftemplate t ( slot x ( type BOGUS "},
      {"(deftemplate t (slot x (bogus 1)))",
       "Invalid slot qualifier: bogus in ParseFactTemplateSlot at line 1: ( deftemplate t ( slot x "
       "( bogus "},
      {"(deftemplate t (field2 x))",
       "Invalid slot type: field2 in ParseFactTemplateSlot at line 1: ( deftemplate t ( field2 "},
      {"(deftemplate t (slot \"x\"))",
       "Bad Slot Name: x in ParseFactTemplateSlot at line 1: ( deftemplate t ( slot \"x\" "},
      {"(deftemplate t foo)",
       "Expected \"(\", \"extends\", or \"is-a\" in ParseFactTemplate at line 1: "
       "( deftemplate t foo "},
      {"(deftemplate t extends)",
       "Missing name of parent template to extend in ParseFactTemplate at line 1: "
       "( deftemplate t extends ) "},
      {"(deftemplate t extends nobody)",
       "Unknown fact template: nobody in ParseFactTemplate at line 1: ( deftemplate t extends nobody "},
      {"(deftemplate t is-a nothing)",
       "type name unknown or invalid: nothing in ParseFactTemplate at line 1: "
       "( deftemplate t is-a nothing "},
      {"(deftemplate t (slot x (type INTEGER) (default abc)))",
       "Not a INTEGER type.  Value (abc) is a dtAtom type for x slot in ParseFactTemplateSlot at "
       "line 1: ( deftemplate t ( slot x ( type INTEGER ) ( default abc ) ) "},
      {"(deftemplate t (slot x (type FUZZY) (range 0 1)))",
       "Invalid attempt to modify fuzzy type in fact template slot, fuzzy types cannot be modified "
       "in ParseFactTemplateSlot at line 1: ( deftemplate t ( slot x ( type FUZZY ) ( range "},
      {"(deftemplate t (slot x (default-dynamic 1)))",
       "Expected \"(\" in ParseFactTemplateSlot at line 1: ( deftemplate t ( slot x "
       "( default-dynamic 1 "},
      {"(deftemplate)", "Missing name in ParseFactTemplate at line 1: ( deftemplate ) "},
      {"(deftype a extends (type SYMBOL)) (deftype b extends (type SYMBOL))"
       " (deftemplate t (slot x (type a b)))",
       "Multiple inheritance is not allowed for deftypes in ParseSlotTypes at line 1: "
       "( deftemplate t ( slot x ( type a b "},
      // Facts and fact sets.
      {"(deftemplate p (slot x)) (deffacts f (p (y 1)))",
       "Bad Slot Name: y in ParseFactSlot at line 1: ( deffacts f ( p ( y "},
      {"(deftemplate p (slot x)) (deffacts f (p x))",
       "Expected \"(\" in ParseFactSlot at line 1: ( deffacts f ( p x "},
      {"(deftemplate p (slot x (type INTEGER))) (deffacts f (p (x a)))",
       "Not a INTEGER type.  Value (a) is a dtAtom type for x slot in ParseValue(Fact Slot) at "
       "line 1: ( deffacts f ( p ( x a "},
      {"(deftemplate p (slot x)) (deffacts f (p (x)))",
       "Expected value missing in ParseValue(Fact Slot) at line 1: ( deffacts f ( p ( x "},
      // Functions.
      {"(deffunction f ?x)", "Expected \"(\" in ParseFunction at line 1: ( deffunction f ?x "},
      {"(deffunction f (?x 1))", "Expected \")\" in ParseFunction at line 1: ( deffunction f ( ?x 1 "},
      {"(deffunction f (?x) [)",
       "Unexpected character found: \"[\" in ParseFunction at line 1: ( deffunction f ( ?x ) [ "},
      // Defined types.
      {"(deftype t (type SYMBOL))",
       "Missing keyword.  Expected \"extends\" in ParseDefinedType at line 1: ( deftype t ( "},
      {"(deftype t extends (kind SYMBOL))",
       "Missing keyword.  Expected \"type\" in ParseDefinedType at line 1: ( deftype t extends ( "
       "kind "},
      {"(deftype t extends (type SYMBOL) (bogus a))",
       "Expected allowed value argument for deftype, received bogus in ParseDefinedType at line 1: "
       "( deftype t extends ( type SYMBOL ) ( bogus "},
      {"(deftype t extends (type INTEGER) (range 1))",
       "Expected value missing in ParseDefinedType at line 1: ( deftype t extends ( type INTEGER ) "
       "( range 1 ) "},
      {"(deftype t extends (type INTEGER) (range a 1))",
       "Expected integer, variable, or function call for range in ParseDefinedType at line 1: "
       "( deftype t extends ( type INTEGER ) ( range a "},
      {"(deftype t extends (type INTEGER) (size 1 2))",
       "Expected allowed value argument for deftype, received size in ParseDefinedType at line 1: "
       "( deftype t extends ( type INTEGER ) ( size "},
      {"(deftype t extends (type FUZZY) (colour 1))",
       "Missing keyword.  Expected \"range, units, or values\" in ParseFuzzyVariable at line 1: "
       "( deftype t extends ( type FUZZY ) ( colour "},
      {"(deftype t extends (type FUZZY) (values (x a 1)))",
       "Expected \"( term\" in ParseFuzzySet at line 1: ( deftype t extends ( type FUZZY ) "
       "( values ( x "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    ParserFixture f;
    EXPECT_EQ(f.ErrorOf(c.text), std::string("Parsing Error, ") + c.message);
  }
}

TEST(ConstructsTest, EachEntryPointWantsItsOwnKeyword) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  auto message = [](auto&& parse) {
    try {
      parse();
    } catch (const EIEParseException& ex) {
      return std::string(ex.what());
    }
    return std::string();
  };
  const std::string text = "(deffacts x)";
  EXPECT_THAT(message([&] { ParseRule(e, text); }), HasSubstr("Expected \"( defrule\""));
  EXPECT_THAT(message([&] { e.ParseFactTemplate(text); }), HasSubstr("Expected \"( deftemplate\""));
  EXPECT_THAT(message([&] { ParseFunctionRecord(e, text); }), HasSubstr("Expected \"( deffunction\""));
  EXPECT_THAT(message([&] { e.ParseDefinedType(text); }), HasSubstr("Expected \"( deftype\""));
  EXPECT_THAT(message([&] { e.ParseGlobalVariables(text); }), HasSubstr("Expected \"( defglobal\""));
  EXPECT_THAT(message([&] { e.ParseFactSet("(defrule x)"); }), HasSubstr("Expected \"( deffacts\""));
}

TEST(ConstructsTest, ASalienceThatFailsToEvaluateLeavesNoActivationBehind) {
  // A salience read from a global that holds no integer fails when an
  // activation is made or the agenda is placed again. The error reaches the
  // caller; no activation is left half made (on the rule's node but not on
  // the agenda), and those already on the agenda stay there.
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse(
      "(deftemplate a (slot x))"
      "(defglobal ?*s* = 0)"
      "(defrule r (declare (salience ?*s*)) (a (x ?v)) =>)",
      true);
  auto rules_on_agenda = [&] {
    std::vector<std::string> lines = f.Agenda();
    return std::vector<std::string>(lines.begin(), lines.end());
  };
  e.Parse("(bind ?*s* abc)", true);
  EXPECT_THROW(e.Parse("(assert (a (x 1)))", true), EBaseException);
  EXPECT_TRUE(rules_on_agenda().empty());
  e.Parse("(retract 1)", true);  // withdraws nothing: the activation was never made
  e.Parse("(bind ?*s* 5)", true);
  e.Parse("(assert (a (x 2)) (a (x 3)))", true);
  const std::vector<std::string> two = rules_on_agenda();
  ASSERT_EQ(two.size(), 2u);
  e.Parse("(bind ?*s* abc)", true);
  // A new strategy places every activation again.
  EXPECT_THROW(e.SetStrategy(e.Strategy() == TSearchStrategy::ssDepthFirst
                                 ? TSearchStrategy::ssBreadthFirst
                                 : TSearchStrategy::ssDepthFirst),
               EBaseException);
  EXPECT_EQ(rules_on_agenda(), two);  // kept, under the salience they had
  EXPECT_EQ(e.GetActivation(0).Rule().Salience(), 5);
  e.Parse("(retract 2 3)", true);
  EXPECT_TRUE(rules_on_agenda().empty());
}

TEST(ConstructsTest, ARuleOfTooManyPatternsIsRefusedAndTheEngineGoesOn) {
  // Partial matches count their facts in 16 bits: a rule is held to
  // TRule::kMaxPatterns patterns. One more is refused with its own message,
  // and what was loaded before keeps matching.
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(defrule kept (a ?x) => (printout t \"kept \" ?x crlf))", true);
  const auto rule_of = [](int patterns) {
    std::string text = "(defrule long";
    for (int i = 0; i < patterns; ++i) {
      text += " (a " + std::to_string(i % 7) + ")";
    }
    return text + " =>)";
  };
  EXPECT_THAT(f.ErrorOf(rule_of(TRule::kMaxPatterns + 1)),
              HasSubstr("A rule may have at most 16000 patterns"));
  EXPECT_EQ(f.ErrorOf(rule_of(40)), "");  // well below the limit
  e.Parse("(assert (a 3))", true);
  f.TakeOutput();  // what the parses echoed
  e.Run();
  EXPECT_EQ(f.TakeOutput(), "kept 3\n");
}

}  // namespace
}  // namespace zephro

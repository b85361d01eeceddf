// The text the constructs of the language print back: every kind of construct
// parses again to the same text, rules print as written, and every pattern
// slot prints the tests written in it.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/language_fixture.h"
#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/facts/fact_printer.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/printing.h"

namespace zephro {
namespace {

using testing::ParserFixture;

enum class Kind { kRule, kTemplate, kFactSet, kFact, kFunction, kGlobals, kType, kCall };

// Parses `text` as a construct of `kind` into a fresh engine that first loads
// `setup`, and prints what it built.
std::string ParseAndPrint(Kind kind, const std::string& setup, const std::string& text) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse(setup, true);
  switch (kind) {
    case Kind::kRule:
      return PrettyPrintRule(*ParseRule(e, text));
    case Kind::kTemplate:
      return PrettyPrintTemplate(*e.ParseFactTemplate(text));
    case Kind::kFactSet:
      return PrettyPrintFactSet(*e.ParseFactSet(text));
    case Kind::kFact:
      return PrettyPrintFact(*e.ParseFact(text));
    case Kind::kFunction:
      return PrettyPrintFunction(ParseFunctionRecord(e, text));
    case Kind::kGlobals:
      e.ParseGlobalVariables(text);
      return PrettyPrintGlobalVariables(e.GlobalVariables());
    case Kind::kType:
      return e.ParseDefinedType(text)->ToString();
    case Kind::kCall:
      return e.ParseFunCall(text)->ToString();
  }
  return std::string();
}

TEST(ConstructsTest, PrintedConstructsParseBackToTheSameText) {
  struct Case {
    Kind kind;
    const char* setup;
    const char* text;
  };
  const Case kCases[] = {
      {Kind::kRule, "(deftemplate b (slot x) (multislot y))",
       "(defrule r \"the comment\" (declare (salience 10) (oneshot TRUE))"
       " (a ?x&~red|blue $?rest) ?f <- (b (x ?x) (y =(+ 1 2) ? $?)) (not (c ?x)) (exists (d))"
       " (not (exists (e ?x))) (test (eq ?x 1)) (unique (explicit (g ~?x)))"
       " => (printout t ?x crlf) (modify ?f (y 3 4)) (assert (h ?x) (b (x 1))))"},
      {Kind::kRule, "(defglobal ?*sal* = 5)",
       "(defrule s (declare (salience ?*sal*) (enabled FALSE)) (a) => )"},
      {Kind::kRule, "", "(defrule t (test (> 1 0)) (a ?x&:(> ?x 1)) => (f))"},
      {Kind::kRule, "", "(defrule n (not (a)) (b) => )"},
      {Kind::kTemplate, "",
       "(deftemplate person \"someone\" (slot name (type STRING) (default \"x\"))"
       " (multislot tags (type SYMBOL) (default a b)) (slot age (type INTEGER FLOAT) (range 0 150)"
       " (default 1)) (slot id (default-dynamic (+ 1 2))) (slot colour (type SYMBOL)"
       " (allowed-symbols red green)) (multislot pts (cardinality 1 ?VARIABLE)) (slot w (units kg))"
       " (slot any (type ?VARIABLE)) (field v (allowed-values a \"b\" 1 2.5)))"},
      {Kind::kTemplate, "(deftemplate base (slot a (default 1)))",
       "(deftemplate child extends base (slot b))"},
      {Kind::kTemplate, "(deftype small extends (type INTEGER) (range 0 9))",
       "(deftemplate n is-a small)"},
      {Kind::kTemplate, "(deftype small extends (type INTEGER) (range 0 9))",
       "(deftemplate p (slot c (type small)) (multislot cs (type small) (cardinality 0 3)))"},
      {Kind::kFactSet, "(deftemplate person (slot name) (slot age))",
       "(deffacts start \"first\" (a 1 \"s\" 2.5) (person (name \"x y\") (age 3)) (b (+ 1 2)))"},
      {Kind::kFact, "", "(a 1 b \"c\" 2.5 [ ])"},
      {Kind::kFact, "(deftemplate person (slot name) (multislot tags))",
       "(person (tags x y) (name \"x y\"))"},
      {Kind::kFunction, "", "(deffunction f (?a $?b) \"doc\" (+ ?a 1) ?a \"s\")"},
      {Kind::kFunction, "", "(deffunction g () )"},
      {Kind::kGlobals, "", "(defglobal ?*a* = 1 ?*b* = \"s\" ?*c* = (+ 1 2) ?*d* = 2.5)"},
      {Kind::kType, "", "(deftype colour \"paint\" extends (type SYMBOL) (allowed-symbols red green))"},
      {Kind::kType, "", "(deftype size extends (type INTEGER FLOAT) (range 0 10) (units \"cm 2\"))"},
      {Kind::kType, "",
       "(deftype items extends (type ?VARIABLE) (cardinality 1 ?VARIABLE)"
       " (allowed-values a \"b\" 1 2.5))"},
      {Kind::kType, "(deftype colour extends (type SYMBOL))",
       "(deftype shade extends (type colour STRING) (allowed-lexemes x \"y\") (allowed-integers 1))"},
      {Kind::kType, "",
       "(deftype temp extends (type FUZZY) (range 0 100) (units C)"
       " (values (term cold ((0 1) (20 0))) (term hot not cold)))"},
      {Kind::kType, "",
       "(deftype mood extends (type FUZZY) (values (term calm ((0 1) (5 0)))"
       " (term tense very not calm) (term either (tense) or calm)))"},
      {Kind::kRule,
       "(deftype t extends (type FUZZY) (range 0 10) (values (term lo ((0 1) (10 0)))))"
       "(deftemplate r (slot v (type t)) (multislot w (type t)))",
       "(defrule f (r (v very lo or not lo) (w lo)) (r (v ((1 0) (2 1)))) => )"},
      {Kind::kFact,
       "(deftype t extends (type FUZZY) (range 0 10) (values (term lo ((0 1) (10 0)))))"
       "(deftemplate r (slot v (type t)) (slot x))",
       "(r (x 1) (v somewhat (not lo)))"},
      {Kind::kCall, "", "(f 1 2.5 \"s\" ?x $?y (g (h)) [ ] TRUE)"},
      // A goal pattern keeps the patterns after it.
      {Kind::kRule, "(deftemplate b (slot v)) (do-backward-chaining b)",
       "(defrule ask (need-b (v ?x)) (not (b (v ?x))) (c ?x) => (assert (b (v ?x))))"},
      // Line breaks inside strings are the strings' own: never indented.
      {Kind::kRule, "",
       "(defrule lines (a ?x&:(eq ?x \"one\ntwo\")) =>"
       " (printout t \"a\n  b \\\" c\\\\\n\" ?x crlf) (f (g \"x\ny\")))"},
      {Kind::kFunction, "", "(deffunction h () (printout t \"1\n2\") \"\n\")"},
      {Kind::kTemplate, "", "(deftemplate m (slot text (default \"first\nsecond\")))"},
      // nil is an atom with empty text, written back as nil.
      {Kind::kCall, "", "(format nil \"%d\" (f NIL) nil)"},
      {Kind::kRule, "(deftemplate s (slot x))",
       "(defrule nils ?f <- (s (x 1)) => (modify ?f (x nil)) (printout t nil crlf))"},
      // Backslashes written into an atom keep what they escape.
      {Kind::kCall, "", "(f a\\\\b c\\(d\\) e\\ f g\\;h)"},
      {Kind::kFunction, "", "(deffunction q () (f a\\\"b) (g \"x\ny\"))"},
      // So do backslashes written into a function's name.
      {Kind::kCall, "", "(prin\\\"out t \"r \")"},
      {Kind::kRule, "", "(defrule named (x) => (prin\\\"out t \"r \"))"},
      // And so do constant words in patterns, nil among them.
      {Kind::kRule, "", "(defrule words (a \\\"?o c\\ d) (b nil ~nil) => )"},
      {Kind::kFunction, "", "(deffunction w () a\\\"b c\\\nd nil)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    try {
      const std::string once = ParseAndPrint(c.kind, c.setup, c.text);
      const std::string twice = ParseAndPrint(c.kind, c.setup, once);
      EXPECT_EQ(once, twice);
    } catch (const EBaseException& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST(ConstructsTest, PrintsRulesAsWritten) {
  EXPECT_EQ(ParseAndPrint(Kind::kRule, "(deftemplate b (slot x))",
                          "(defrule r \"c\" (declare (salience 5) (enabled FALSE) (oneshot TRUE))"
                          " ?f <- (b (x ?x&~red)) (not (exists (a ?x))) (exists (a))"
                          " => (modify ?f (x 1)))"),
            "(defrule r\n"
            "  \"c\"\n"
            "  (declare (salience 5) (enabled FALSE) (oneshot TRUE))\n"
            "  ?f <- (b (x ?x&~red))\n"
            "  (not (exists (a ?x)))\n"
            "  (exists (a))\n"
            "  =>\n"
            "  (modify ?f (x 1)))");
  EXPECT_EQ(ParseAndPrint(Kind::kRule, "", "(defrule plain (a $?) => )"),
            "(defrule plain\n  (a $?_blank_$0)\n  =>\n)");
}

TEST(ConstructsTest, PrintsEveryPatternSlotWithTheTestsWrittenInIt) {
  // Slots without tests print nothing; a slot prints its tests in order,
  // however many it has.
  const char* const kTemplate = "(deftemplate s (slot a) (slot b) (multislot c) (slot d))";
  const std::vector<std::vector<std::string>> kRules = {
      {"(s)"},
      {"(s (a 1))"},
      {"(s (d ?x))", "(s (a ?x))"},
      {"(s (b ?x&~red&~blue&:(> ?x 1)))"},
      {"(s (a ?x) (c ?x $?rest ?y&~?x) (d ?y))"},
      {"(s (a ?x) (b ?y&~?x))", "(not (s (b ?x) (c $?p ?y $?q) (d ~?y&~3)))"},
      {"(s (a x) (b ?x&~x) (c $?x ?x x) (d \"x\"))"},
  };
  for (const auto& patterns : kRules) {
    std::string text = "(defrule r";
    std::string printed = "(defrule r";
    for (const std::string& p : patterns) {
      text += " " + p;
      printed += "\n  " + p;
    }
    text += " => )";
    printed += "\n  =>\n)";
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseAndPrint(Kind::kRule, kTemplate, text), printed);
  }
}

}  // namespace
}  // namespace zephro

// The constructs of the language: what each builds, the text each prints back
// (and parses again to the same text), and the errors of common mistakes.

#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
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
#include "zephro/values/value.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;
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
      return PrettyPrintTemplate(*ParseFactTemplate(e, text));
    case Kind::kFactSet:
      return PrettyPrintFactSet(*ParseFactSet(e, text));
    case Kind::kFact:
      return PrettyPrintFact(*ParseFact(e, text));
    case Kind::kFunction:
      return PrettyPrintFunction(ParseFunction(e, text));
    case Kind::kGlobals:
      ParseGlobalVariables(e, text);
      return PrettyPrintGlobalVariables(e.GlobalVariables());
    case Kind::kType:
      return PrettyPrintDefinedType(*ParseDefinedType(e, text));
    case Kind::kCall:
      return ParseFunCall(e, text)->ToString();
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
       " (values (term cold ((0 1) (20 0))) (term hot (f 1))))"},
      {Kind::kCall, "", "(f 1 2.5 \"s\" ?x $?y (g (h)) [ ] TRUE)"},
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

TEST(ConstructsTest, RulesWritingTheSameAtomsAndVariablesShareTheirValues) {
  // The rules of one engine share the value of an atom or variable written
  // in their patterns; what the parser rewrites in a later rule (a blank of
  // a negation renamed, a disjunction turned into a call) leaves the earlier
  // ones as they printed when they were new.
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  const std::vector<std::pair<std::string, std::string>> kRules = {
      {"one", "(defrule one (a ?x red) (not (b ?x ?)) => )"},
      {"two", "(defrule two (b ?x red) (not (a ?x ?)) => )"},
      {"three", "(defrule three (a ?x red|blue) (b ?x ?y&~red) => )"},
      {"four", "(defrule four (a ?y&~red ?x) (exists (b ?x ?)) => )"},
  };
  std::vector<std::string> printed;
  for (const auto& [name, text] : kRules) {
    e.Parse(text, true);
    printed.push_back(PrettyPrintRule(*e.FindRule(name)));
  }
  for (std::size_t i = 0; i < kRules.size(); ++i) {
    SCOPED_TRACE(kRules[i].first);
    EXPECT_EQ(PrettyPrintRule(*e.FindRule(kRules[i].first)), printed[i]);
  }
  const TRule& one = *e.FindRule("one");
  const TRule& two = *e.FindRule("two");
  EXPECT_EQ(one.Pattern(0).SlotTest(0, 0).SlotValue(), two.Pattern(0).SlotTest(0, 0).SlotValue());
  EXPECT_EQ(one.Pattern(0).SlotTest(0, 1).SlotValue(), two.Pattern(0).SlotTest(0, 1).SlotValue());
}

TEST(ConstructsTest, PredicatesAndActionsRepeatedFarApartAreStillShared) {
  // A large program: each rule writes calls of its own (with its number in
  // them) between predicates and actions that recur two hundred rules
  // apart. The parser remembers a bounded number of calls, so a predicate
  // met the second time may have been forgotten; one met again since is
  // kept over the calls met once, and nearly all are shared from then on.
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(deftemplate r (slot l)) (defglobal ?*n* = 0 ?*m* = 0)", true);
  constexpr int kRules = 1400;
  constexpr int kApart = 200;
  std::string text;
  for (int i = 0; i < kRules; ++i) {
    const std::string n = std::to_string(i);
    text += "(defrule r" + n + " (r (l ?l&:(> ?l " + std::to_string(i % kApart) +
            "))) => (bind ?*n* (mod (+ ?*n* " + n + ") 1000003)) (bind ?*m* (+ ?*m* 1)))";
  }
  e.Parse(text, true);
  int predicates = 0;
  int actions = 0;
  constexpr int kCompared = kRules - 2 * kApart;
  for (int i = 2 * kApart; i < kRules; ++i) {
    const TRule& rule = *e.FindRule("r" + std::to_string(i));
    const TRule& earlier = *e.FindRule("r" + std::to_string(i - kApart));
    predicates += rule.Pattern(0).SlotTest(0, 1).SlotValue() ==
                          earlier.Pattern(0).SlotTest(0, 1).SlotValue()
                      ? 1
                      : 0;
    actions += &rule.Action(1) == &earlier.Action(1) ? 1 : 0;
  }
  EXPECT_GE(predicates, kCompared * 95 / 100);
  EXPECT_EQ(actions, kCompared);
}

// Everything a pattern says, slot by slot and test by test.
std::string Describe(const TIEPattern& p) {
  std::string out = std::string(p.Name()) + " template=" +
                    (p.FactTemplate() != nullptr ? p.FactTemplate()->TemplateName() : "-") +
                    " negated=" + std::to_string(p.NegatedCount()) +
                    " unique=" + std::to_string(p.Unique()) +
                    " explicit=" + std::to_string(p.Explicit()) + " bound=" + p.BoundName() +
                    " comment=" + p.Comment() + "\n";
  for (int s = 0; s < p.SlotCount(); ++s) {
    const TPatternSlot& slot = p.Slot(s);
    out += "  " + std::string(slot.name.View()) + " length=" + std::to_string(slot.length);
    for (const auto& t : slot.tests) {
      out += " [" + std::to_string(static_cast<int>(t->TestType())) + " " +
             std::to_string(t->MultiSlotSubIndex()) + " " + std::to_string(t->Conjunction()) +
             " " + t->SlotValue()->ToString() + (t->Pattern() == &p ? "" : " other pattern") + "]";
    }
    out += "\n";
  }
  return out;
}

TEST(ConstructsTest, PackedPatternsComeBackAsTheyWereParsed) {
  // A rule read from a program keeps its patterns packed once filed; asked
  // for them, it makes them again, equal to those of the same rule kept
  // whole (a parser with a rule hook keeps every rule whole).
  const std::string kSetup =
      "(deftemplate a (slot x) (slot y) (multislot m))"
      "(deftemplate b (slot x))"
      "(deftemplate c (slot v))";
  const std::vector<std::string> kRules = {
      "(defrule plain (a (x 1) (y ?y)) (b (x ?y)) =>)",
      "(defrule disjunction (a (x red|blue) (y ?y&~3&:(> ?y 0))) =>)",
      "(defrule multi (a (m $? 2 ?v $?)) (not (b (x ?v))) =>)",
      "(defrule bound ?f <- (a (x ?x)) (exists (b (x ?x))) => (retract ?f))",
      "(defrule tested (a (x ?x)) (test (> ?x 1)) (not (not (c (v ?x)))) =>)",
      "(defrule negated-first (not (a (x 1))) =>)",
      "(defrule flagged (unique (a (x ?x))) (explicit (b (x ?x))) =>)",
  };
  for (const std::string& text : kRules) {
    SCOPED_TRACE(text);
    ParserFixture packed;
    ParserFixture whole;
    whole.Parser().OnParseRule = [](TIEParser&, TRule&) {};
    for (ParserFixture* f : {&packed, &whole}) {
      f->Engine().Parse(kSetup, true);
      f->Engine().Parse(text, true);
    }
    const std::string name = text.substr(9, text.find(' ', 9) - 9);
    TRule& p = *packed.Engine().FindRule(name);
    TRule& w = *whole.Engine().FindRule(name);
    EXPECT_TRUE(p.PatternsPacked());
    EXPECT_FALSE(w.PatternsPacked());
    ASSERT_EQ(p.PatternCount(), w.PatternCount());
    EXPECT_TRUE(p.PatternsPacked());  // counting does not unpack
    EXPECT_EQ(PrettyPrintRule(p), PrettyPrintRule(w));
    EXPECT_FALSE(p.PatternsPacked());
    for (int i = 0; i < w.PatternCount(); ++i) {
      EXPECT_EQ(p.Pattern(i).Owner(), &p);
      EXPECT_EQ(Describe(p.Pattern(i)), Describe(w.Pattern(i)));
    }
  }
}

TEST(ConstructsTest, APackedRuleKeepsMatchingAndChanging) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(deftemplate a (slot x)) (deftemplate b (slot x)) (deftemplate unused (slot x))", true);
  e.Parse("(defrule r (a (x ?x)) (b (x ?x)) =>)", true);
  TRule& r = *e.FindRule("r");
  ASSERT_TRUE(r.PatternsPacked());
  // Whether a template is in use is answered from the packed patterns.
  EXPECT_TRUE(r.UsesTemplate(*e.FindFactTemplate("a")));
  EXPECT_TRUE(r.UsesTemplate(*e.FindFactTemplate("b")));
  EXPECT_FALSE(r.UsesTemplate(*e.FindFactTemplate("unused")));
  EXPECT_TRUE(r.PatternsPacked());
  e.Parse("(assert (a (x 1)) (b (x 1)))", true);
  EXPECT_EQ(f.Agenda().size(), 1u);
  // A change to a pattern made again recompiles the rule as ever: now no b
  // may match, which blocks the a there was and not the next.
  r.Pattern(1).SetNegatedCount(1);
  EXPECT_FALSE(r.PatternsPacked());
  EXPECT_TRUE(f.Agenda().empty());
  e.Parse("(assert (a (x 5)))", true);
  EXPECT_EQ(f.Agenda().size(), 1u);
}

TEST(ConstructsTest, FactsWrittenInAProgramKeepTheirOwnNumbers) {
  // Checking types as facts are stored turns an integer written for a slot
  // of floats into a float where it stands: no other fact may see that.
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.SetTypeChecks({TTypeCheck::tcDynamic});
  e.Parse("(deftemplate whole (slot n (type INTEGER)))", true);
  e.Parse("(deftemplate real (slot x (type FLOAT)))", true);
  e.Parse("(deftemplate count (slot c (type INTEGER)))", true);
  e.Parse("(assert (whole (n 1)) (real (x 1)) (count (c 1)))", true);
  std::string printed;
  for (int i = 0; i < e.Facts().Count(); ++i) {
    printed += e.Facts()[i].ToString() + "\n";
  }
  EXPECT_THAT(printed, HasSubstr("(n 1)"));
  EXPECT_THAT(printed, HasSubstr("(x 1.0"));
  EXPECT_THAT(printed, HasSubstr("(c 1)"));
  // The same for a number an action asserts and also computes with.
  e.Parse("(defrule convert => (assert (real (x 2))) (printout t (+ 2 0) crlf))", true);
  f.TakeOutput();
  e.Run();
  EXPECT_EQ(f.TakeOutput(), "2\n");
  EXPECT_THAT(e.Facts()[e.Facts().Count() - 1].ToString(), HasSubstr("(x 2.0"));
}

TEST(ConstructsTest, CompilingFiringAndRemovingRulesLeavesThemAsTheyPrinted) {
  // Each rule prints the same before it is filed (not compiled), once filed
  // with facts present, after the rules that share its values and calls'
  // names were compiled and fired, and after others were removed: compiling
  // copies what it changes (the variables of a predicate it places in the
  // network), and the values shared between rules stay unchanged.
  const std::string kSetup =
      "(deftemplate r (slot s) (slot l) (multislot t))"
      "(defglobal ?*n* = 0 ?*m* = 0)"
      "(assert (r (s a) (l 5) (t x 3 y)) (r (s a) (l 7) (t x 3)) (r (s b) (l -2)))";
  const std::vector<std::pair<std::string, std::string>> kRules = {
      {"nested", "(defrule nested (r (s ?s) (l ?l&:(< (+ ?l 1) (* 2 (abs ?l)))))"
                 " => (bind ?*n* (+ ?*n* 1)) (printout t nested - ?s - ?l crlf))"},
      {"alpha", "(defrule alpha (declare (salience 3)) (r (s ?s) (l ?l&:(> ?l 1)&~7|5))"
                " => (bind ?*m* (mod (+ ?*m* ?l) 1000003)) (printout t alpha - ?s crlf))"},
      {"join", "(defrule join ?f <- (r (s ?s) (l ?l) (t $? x ?v&=(+ 1 2) $?))"
               " (not (r (s ?s) (l ?k&:(> ?k (+ ?l 1))))) (test (< (abs ?l) (+ 100 ?*n*)))"
               " => (printout t join - ?s - ?v crlf) (retract ?f))"},
      {"same", "(defrule same (r (s ?s) (l ?l&:(> ?l 1))) (r (s ?s) (l ?k&:(> ?k ?l)))"
               " => (bind ?*n* (+ ?*n* 1)) (printout t same - ?s - ?l - ?k crlf))"},
  };
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse(kSetup, true);
  std::vector<std::string> printed;
  for (const auto& [name, text] : kRules) {
    SCOPED_TRACE(name);
    std::unique_ptr<TRule> parsed = ParseRule(e, text);
    TRule& rule = *parsed;
    printed.push_back(PrettyPrintRule(rule));
    e.InsertComponent(std::move(parsed));
    ASSERT_EQ(e.AddRule(rule), &rule);
    EXPECT_EQ(PrettyPrintRule(rule), printed.back());
  }
  f.TakeOutput();
  e.Run();
  const std::string out = f.TakeOutput();
  for (const char* line : {"alpha-a\n", "same-a-5-7\n", "join-a-3\n", "nested-b--2\n"}) {
    EXPECT_THAT(out, HasSubstr(line));
  }
  e.Parse("(defrule later (r (s ?s) (l ?l&:(> ?l 1))) => (bind ?*n* (+ ?*n* 1)))", true);
  e.RemoveRule("alpha");
  ASSERT_EQ(e.FindRule("alpha"), nullptr);
  for (std::size_t i = 0; i < kRules.size(); ++i) {
    if (TRule* rule = e.FindRule(kRules[i].first)) {
      SCOPED_TRACE(kRules[i].first);
      EXPECT_EQ(PrettyPrintRule(*rule), printed[i]);
    }
  }
  // The rules share the values of the variables their actions name, and an
  // action written alike in both is one call; one that prints a string is
  // not shared (strings are not).
  const TRule& nested = *e.FindRule("nested");
  const TRule& same = *e.FindRule("same");
  EXPECT_EQ(nested.Action(0).Argument(0), same.Action(0).Argument(0));
  EXPECT_EQ(nested.Action(0).Argument(1)->AsFunCall()->Argument(0),
            same.Action(0).Argument(1)->AsFunCall()->Argument(0));
  EXPECT_EQ(&nested.Action(0), &same.Action(0));
  e.Parse("(defrule s1 (r (s ?s)) => (printout t \"x\" crlf))"
          "(defrule s2 (r (s ?s)) => (printout t \"x\" crlf))",
          true);
  EXPECT_NE(&e.FindRule("s1")->Action(0), &e.FindRule("s2")->Action(0));
}

TEST(ConstructsTest, RulesWithTheSamePredicateFireAsRulesWithPredicatesOfTheirOwn) {
  // Rules whose first patterns are written alike, predicate included, fire
  // in the same order as the same rules with predicates that differ only in
  // form: a predicate reading a variable is placed for each rule on its own,
  // whatever its text.
  auto run = [](bool distinct) {
    ParserFixture f;
    TInferenceEngine& e = f.Engine();
    std::string text =
        "(deftemplate reading (slot sensor) (slot kind) (slot level))"
        "(deftemplate zone (slot id))"
        "(deftemplate mute (slot sensor))";
    for (int i = 0; i < 12; ++i) {
      const std::string n = std::to_string(i);
      const std::string bound = std::to_string(i % 2);
      text += "(defrule r" + n + " (reading (kind k" + std::to_string(i % 3) +
              ") (sensor ?s) (level ?l&:(> ?l " +
              (distinct ? "(+ " + bound + " (* 0 " + n + "))" : bound) + "))) (zone (id z" +
              std::to_string(i % 4) + ")) (not (mute (sensor ?s))) => (printout t r" + n +
              " - ?s crlf))";
    }
    e.Parse(text, true);
    e.Parse(
        "(assert (zone (id z0)) (zone (id z1)) (zone (id z2)) (zone (id z3)) (mute (sensor s2)))"
        "(assert (reading (sensor s1) (kind k0) (level 1)) (reading (sensor s2) (kind k1) (level 5))"
        " (reading (sensor s3) (kind k1) (level 2)) (reading (sensor s4) (kind k2) (level 0)))",
        true);
    f.TakeOutput();
    e.Run();
    return f.TakeOutput();
  };
  const std::string alike = run(false);
  EXPECT_FALSE(alike.empty());
  EXPECT_EQ(alike, run(true));
}

TEST(ConstructsTest, PredicatesWrittenAlikeReadWhereEachRuleBindsTheirVariables) {
  // Every predicate below is written alike, so the rules hold one parsed
  // call; the network's copy of it must still read the slot, template and
  // pattern each rule binds the variables to. Each rule's activations in an
  // engine holding all of them must be those it has in an engine of its own.
  const std::string heads =
      "(deftemplate m (slot x) (slot y))"
      "(deftemplate n (slot x) (slot y))";
  const std::string facts =
      "(assert (m (x 9) (y 1)) (m (x 2) (y 7)) (n (x 1) (y 9)) (n (x 3) (y 2)))";
  const std::vector<std::pair<std::string, std::string>> rules = {
      {"mx", "(m (x ?v&:(> ?v 5)))"},
      {"my", "(m (y ?v&:(> ?v 5)))"},
      {"nx", "(n (x ?v&:(> ?v 5)))"},
      {"ny", "(n (y ?v&:(> ?v 5)))"},
      {"nested-mx", "(m (x ?v&:(> (+ ?v 0) 5)))"},
      {"nested-my", "(m (y ?v&:(> (+ ?v 0) 5)))"},
      {"join-xy", "(m (x ?w)) (m (y ?v&:(> ?v ?w)))"},
      {"join-yx", "(m (y ?w)) (m (x ?v&:(> ?v ?w)))"},
      {"join-nm", "(n (x ?w)) (m (y ?v&:(> ?v ?w)))"},
      {"join-later", "(m (x ?w)) (n (y ?u)) (m (y ?v&:(> ?v ?w)))"},
  };
  auto rule_text = [](const std::pair<std::string, std::string>& r) {
    return "(defrule " + r.first + " " + r.second + " =>)";
  };
  auto activations = [](ParserFixture& f, const std::string& rule) {
    std::vector<std::string> mine;
    for (const std::string& line : f.Agenda()) {
      if (line.rfind(rule + ":", 0) == 0) {
        mine.push_back(line);
      }
    }
    return mine;
  };
  ParserFixture all;
  std::string text = heads;
  for (const auto& r : rules) {
    text += rule_text(r);
  }
  all.Engine().Parse(text + facts, true);
  std::size_t with_activations = 0;
  for (const auto& r : rules) {
    ParserFixture alone;
    alone.Engine().Parse(heads + rule_text(r) + facts, true);
    const std::vector<std::string> expected = activations(alone, r.first);
    with_activations += expected.empty() ? 0 : 1;
    EXPECT_EQ(activations(all, r.first), expected) << r.first;
  }
  // The facts tell the places apart: some rules match and some do not.
  EXPECT_GT(with_activations, 0u);
  EXPECT_LT(with_activations, rules.size());
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

TEST(ConstructsTest, BuildsRulesFromTheirParts) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(defrule r (declare (salience 10)) (a ?x) = > (printout t ?x crlf))", true);
  TRule& r = *e.FindRule("r");
  EXPECT_EQ(r.Salience(), 10);
  ASSERT_EQ(r.PatternCount(), 1);
  EXPECT_EQ(r.ActionCount(), 1);
  EXPECT_EQ(r.Pattern(0).SlotLength(0), 1);

  e.Parse("(defrule first-not (not (a)) (b) => )", true);
  TRule& n = *e.FindRule("first-not");
  ASSERT_EQ(n.PatternCount(), 3);
  EXPECT_EQ(n.Pattern(0).Name(), SInitialFactPattern);
  EXPECT_EQ(n.Pattern(1).NegatedCount(), 1);

  e.Parse("(defrule nested (not (exists (a))) (b) => )", true);
  EXPECT_EQ(e.FindRule("nested")->Pattern(1).NegatedCount(), 3);
}

TEST(ConstructsTest, RulesFire) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse(
      "(deftemplate person (slot age))"
      "(defrule adult (person (age ?a&:(> ?a 17))) => (printout t \"adult \" ?a crlf))"
      "(defrule three (n =(+ 1 2)) => (printout t \"three\" crlf))"
      "(defrule warm ?c <- (colour red|orange) => (printout t \"warm \" ?c crlf))",
      true);
  e.Parse("(assert (person (age 20)) (person (age 3)) (n 3) (n 4) (colour orange) (colour blue))",
          true);
  f.TakeOutput();
  e.Run();
  const std::string out = f.TakeOutput();
  EXPECT_THAT(out, HasSubstr("adult 20\n"));
  EXPECT_THAT(out, HasSubstr("three\n"));
  EXPECT_THAT(out, HasSubstr("warm <Fact-5>\n"));
  EXPECT_EQ(out.size(), std::string("adult 20\nthree\nwarm <Fact-5>\n").size());
}

TEST(ConstructsTest, BuildsTemplatesAndChecksDefaults) {
  using enum TIEType;
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse(
      "(deftemplate t (slot num (type INTEGER FLOAT)) (slot cls (type CLASS)) (slot f (type FLOAT)"
      " (default 2)) (multislot m (default a)) (slot d (default-dynamic (+ 1 2))))",
      true);
  IFactTemplate& t = *e.FindFactTemplate("t");
  EXPECT_EQ(t.GetSlot("num")->SlotType(), (TIETypes{dtInteger, dtFloat}));
  EXPECT_EQ(t.GetSlot("cls")->SlotType(), (TIETypes{dtClass, dtInteger}));
  EXPECT_EQ(t.GetSlot("f")->SlotDefault()->ToString(), "2.0000");
  EXPECT_EQ(t.GetSlot("m")->SlotDefault()->DType(), dtList);
  EXPECT_TRUE(t.GetSlot("d")->DefaultDynamic());
  EXPECT_EQ(t.GetSlot("d")->SlotDefault()->DType(), dtFunCall);

  // Without static checks the parser leaves the default to the slot.
  e.SetTypeChecks({});
  EXPECT_NO_THROW(e.Parse("(deftemplate loose (slot x (type INTEGER) (default abc)))", true));
}

TEST(ConstructsTest, MakesImpliedTemplatesForUnknownFactsUnlessAskedNotTo) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(deffacts f (a 1) (b 2))", true);
  EXPECT_NE(e.FindFactTemplate("a"), nullptr);
  EXPECT_NE(e.FindFactTemplate("b"), nullptr);
  ASSERT_EQ(e.FactSets().size(), 1u);
  EXPECT_EQ(e.FactSets()[0]->Count(), 2);
  e.Reset();
  EXPECT_EQ(e.Facts().Count(), 3);

  ParserFixture strict;
  strict.Parser().SetUnknownTemplatesAreErrors(true);
  EXPECT_EQ(strict.ErrorOf("(deffacts f (a 1) (b 2))"),
            "Parsing Error, Unknown fact template: a in ParseFact at line 1: ( deffacts f ( a ");
  EXPECT_EQ(strict.Engine().FindFactTemplate("a"), nullptr);
}

// A template defined again takes the facts written on the old one with it:
// those of working memory and those of fact sets alike are written again on
// the new definition, and one that no longer fits goes. What a fact set then
// prints is what a reset asserts, and it loads back after the templates.
TEST(ConstructsTest, RedefiningATemplateRewritesTheFactSetsWrittenOnIt) {
  struct Case {
    const char* program;
    const char* fact_set;  // the first fact set, printed
    const char* facts;     // working memory after a reset
  };
  const Case kCases[] = {
      // An ordered relation given a template after its facts were written.
      {"(deffacts d (event (number 1) (kind sale)))"
       "(deftemplate event (slot number) (slot kind))",
       "(deffacts d\n  (event (kind sale) (number 1))\n)",
       "(Initial-Fact)\n(event (kind sale) (number 1))"},
      // Fields that are no template's slots: the fact leaves the set.
      {"(deffacts d (event (number 1) neq (event 2)) (other 1))"
       "(deftemplate event (slot number))",
       "(deffacts d\n  (other 1 )\n)", "(Initial-Fact)\n(other 1 )"},
      // A slot added with a default.
      {"(deftemplate p (slot a))(deffacts d (p (a 1)) (q))"
       "(deftemplate p (slot a) (slot b (default 2)))",
       "(deffacts d\n  (p (a 1) (b 2))\n  (q)\n)",
       "(Initial-Fact)\n(p (a 1) (b 2))\n(q)"},
      // A slot taken away that a fact had filled.
      {"(deftemplate p (slot a) (slot b))(deffacts d (q) (p (a 1) (b 2)))"
       "(deftemplate p (slot a))",
       "(deffacts d\n  (q)\n)", "(Initial-Fact)\n(q)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.program);
    ParserFixture f;
    TInferenceEngine& e = f.Engine();
    e.Parse(c.program, true);
    ASSERT_FALSE(e.FactSets().empty());
    EXPECT_EQ(e.FactSets()[0]->ToString(), c.fact_set);
    e.Reset();
    EXPECT_EQ(e.Facts().ToString(), c.facts);

    std::string printed = e.FactTemplates().ToString();
    for (const TFactSet* fact_set : e.FactSets()) {
      printed += fact_set->ToString() + "\n";
    }
    ParserFixture again;
    again.Engine().Parse(printed, true);
    EXPECT_EQ(again.Engine().FactSets()[0]->ToString(), c.fact_set);
    again.Engine().Reset();
    EXPECT_EQ(again.Engine().Facts().ToString(), c.facts);
  }

  // A template taken away takes its facts out of every fact set.
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(deftemplate p (slot a))(deffacts d (p (a 1)) (q))", true);
  e.FactTemplates().Remove("p");
  EXPECT_EQ(e.FactSets()[0]->ToString(), "(deffacts d\n  (q)\n)");
}

TEST(ConstructsTest, FilesDefinedTypesAndFunctions) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(deftype colour extends (type SYMBOL) (allowed-symbols red green 3))"
          "(deftemplate paint is-a colour)"
          "(deffunction twice (?x) \"doubles\" (+ ?x ?x))",
          true);
  auto* colour = dynamic_cast<TParsedDefinedType*>(f.Parser().FindDefinedType("colour"));
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->PrimitiveTypes(), TIETypes{TIEType::dtAtom});
  ASSERT_EQ(colour->Allowed(TValueConstraint::vcAtom).size(), 3u);
  EXPECT_EQ(colour->Allowed(TValueConstraint::vcAtom)[2]->DType(), TIEType::dtAtom);
  EXPECT_EQ(e.FindFactTemplate("paint")->SlotAt(0)->ExtendedTypeInfo(), colour);
  const TParsedFunction* twice = testing::RecordOf(*e.GetUserFunction("twice"));
  ASSERT_NE(twice, nullptr);
  EXPECT_EQ(twice->comment, "doubles");
  EXPECT_EQ(twice->parameters.size(), 1u);
  EXPECT_EQ(twice->actions.size(), 1u);

  // Without a maker of its own the parser makes interpreted functions.
  ParserFixture interpreted;
  InstallClipsParser(interpreted.Engine());
  testing::AddLanguageTestFunctions(interpreted.Engine());
  interpreted.Engine().Parse("(deffunction twice (?x) (+ ?x ?x)) (twice 21)", true);
  EXPECT_EQ(interpreted.TakeOutput(), "twice\n42\n");
  interpreted.Parser().MakeFunction = nullptr;
  EXPECT_EQ(interpreted.ErrorOf("(deffunction f () 1)"),
            "Function is unimplemented or unassigned: deffunction");
}

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
  EXPECT_THAT(message([&] { ParseFactTemplate(e, text); }), HasSubstr("Expected \"( deftemplate\""));
  EXPECT_THAT(message([&] { ParseFunction(e, text); }), HasSubstr("Expected \"( deffunction\""));
  EXPECT_THAT(message([&] { ParseDefinedType(e, text); }), HasSubstr("Expected \"( deftype\""));
  EXPECT_THAT(message([&] { ParseGlobalVariables(e, text); }), HasSubstr("Expected \"( defglobal\""));
  EXPECT_THAT(message([&] { ParseFactSet(e, "(defrule x)"); }), HasSubstr("Expected \"( deffacts\""));
}

}  // namespace
}  // namespace zephro

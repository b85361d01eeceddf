// What the rules of one engine share and pack: the values of the atoms and
// variables they write, predicates and actions written alike, and patterns
// kept packed once filed. Sharing must never show: each rule prints, matches
// and fires as it would on its own, however it was compiled, fired and had
// others removed around it.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/language_fixture.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/rule.h"
#include "zephro/rules/rule_printer.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;
using testing::ParserFixture;

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
    whole.Parser().OnParseRule = [](IEngineParser&, TRule&) {};
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

}  // namespace
}  // namespace zephro

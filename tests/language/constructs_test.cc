// What the constructs of the language build: rules from their parts, templates
// with their types and defaults, fact sets (with implied templates, and
// rewritten when a template is defined again), defined types and functions.
// The text they print back is construct_printing_test.cc, their errors
// construct_errors_test.cc, what rules share rule_sharing_test.cc.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/language_fixture.h"
#include "zephro/engine/collections.h"
#include "zephro/engine/fact_set.h"
#include "zephro/facts/fact_printer.h"
#include "zephro/functions/interpreted_function.h"
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
  ASSERT_EQ(e.FactSets().Count(), 1);
  EXPECT_EQ(e.FactSets()[0].Count(), 2);
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
    ASSERT_GT(e.FactSets().Count(), 0);
    EXPECT_EQ(e.FactSets()[0].ToString(), c.fact_set);
    e.Reset();
    EXPECT_EQ(e.Facts().ToString(), c.facts);

    std::string printed = e.FactTemplates().ToString();
    for (const TFactSet* fact_set : e.FactSets()) {
      printed += fact_set->ToString() + "\n";
    }
    ParserFixture again;
    again.Engine().Parse(printed, true);
    EXPECT_EQ(again.Engine().FactSets()[0].ToString(), c.fact_set);
    again.Engine().Reset();
    EXPECT_EQ(again.Engine().Facts().ToString(), c.facts);
  }

  // A deffunction that asserts facts of the relation is written on the new
  // definition too, so that the program prints what loads again; one whose
  // facts no longer fit is dropped, as a rule is.
  {
    testing::EngineFixture f;
    TInferenceEngine& e = f.Engine();
    e.Parse("(deffunction unfit () (assert (x 1)))(deftemplate x (slot a))"
            "(deftemplate y (slot a))(deffunction fits () (assert (y (a 1))))"
            "(deftemplate y (slot a) (slot b (default 2)))",
            true);
    EXPECT_EQ(e.GetUserFunction("unfit"), nullptr);
    const IUserFunction* fits = e.GetUserFunction("fits");
    ASSERT_NE(fits, nullptr);
    ASSERT_TRUE(fits->IsInterpreted());
    EXPECT_EQ(static_cast<const TInterpretedFunction*>(fits)->PrettyPrint(),
              "(deffunction fits ()\n  (assert (y (a 1) (b 2)))\n)");
  }

  // A template taken away takes its facts out of every fact set.
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(deftemplate p (slot a))(deffacts d (p (a 1)) (q))", true);
  e.FactTemplates().Remove("p");
  EXPECT_EQ(e.FactSets()[0].ToString(), "(deffacts d\n  (q)\n)");
}

TEST(ConstructsTest, FilesDefinedTypesAndFunctions) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(deftype colour extends (type SYMBOL) (allowed-symbols red green 3))"
          "(deftemplate paint is-a colour)"
          "(deffunction twice (?x) \"doubles\" (+ ?x ?x))",
          true);
  auto* colour = dynamic_cast<TIEDefinedType*>(e.DefinedTypes().Get("colour"));
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(f.Parser().FindDefinedType("colour"), colour);
  EXPECT_EQ(colour->PrimitiveTypes(), TIETypes{TIEType::dtAtom});
  ASSERT_EQ(colour->GetConstraintAtomsCount(), 3);
  EXPECT_EQ(colour->GetConstraintAtom(2), "3");  // listed as a symbol, so an atom
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

}  // namespace
}  // namespace zephro

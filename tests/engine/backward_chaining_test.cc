// Backward chaining: the goals a partial match raises when no fact completes
// it at a pattern on a backward-chaining template, what they carry, when
// they enter working memory, what never raises one, the compile-time
// refusals, and a save that remembers which templates chain backward.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class BackwardChainingTest : public ::testing::Test {
 protected:
  TInferenceEngine& E() { return fixture_.Engine(); }
  std::vector<std::string> Facts() {
    std::vector<std::string> texts;
    E().ForEachFact([&](IFact& f) { texts.push_back(f.GetToIDString()); });
    return texts;
  }
  // Each goal in working memory as "template slot=value ...", nil written out
  // and a multislot's fields in brackets.
  std::vector<std::string> Goals() {
    const auto text = [](const IIEValue& v) {
      return v.DType() == TIEType::dtAtom && v.Text().empty() ? std::string("nil") : v.ToString();
    };
    std::vector<std::string> goals;
    E().ForEachFact([&](IFact& f) {
      const IFactTemplate& t = *f.Template();
      if (!t.TemplateName().starts_with("need-")) {
        return;
      }
      std::string goal = t.TemplateName();
      for (const std::string& name : t.SlotNames()) {
        const IIEValue& value = *f.GetValue(name);
        goal += " " + name + "=";
        if (value.DType() != TIEType::dtList) {
          goal += text(value);
          continue;
        }
        std::string fields;
        for (const Ref<IIEValue>& field : value.AsList()->Values()) {
          fields += (fields.empty() ? "" : " ") + text(*field);
        }
        goal += "[" + fields + "]";
      }
      goals.push_back(goal);
    });
    return goals;
  }
  std::string ErrorOf(const std::string& text) {
    return testing::MessageOf([&] { E().Parse(text, true); });
  }

  testing::EngineFixture fixture_;
};

TEST_F(BackwardChainingTest, AGoalCarriesWhatThePatternFixes) {
  const struct {
    const char* what;
    const char* program;
    const char* asserted;
    std::vector<std::string> goals;
  } kCases[] = {
      {"a variable bound earlier",
       "(defrule r (a ?x) (b (v ?x)) => )",
       "(a 1)",
       {"need-b m=[] v=1 w=nil"}},
      {"a literal", "(defrule r (a ?x) (b (v 5) (w ?x)) => )", "(a 1)", {"need-b m=[] v=5 w=1"}},
      {"a variable bound later stays nil",
       "(defrule r (a ?x) (b (v ?y) (w ?x)) (c ?y) => )",
       "(a 2)",
       {"need-b m=[] v=nil w=2"}},
      {"a not-equal test fixes nothing",
       "(defrule r (a ?x) (b (v ~?x) (w ?x)) => )",
       "(a 3)",
       {"need-b m=[] v=nil w=3"}},
      {"multislot positions",
       "(defrule r (a ?x) (b (m 1 ?x ?z)) => )",
       "(a 4)",
       {"need-b m=[1 4 nil] v=nil w=nil"}},
      {"a multifield variable's fields",
       "(defrule r (a $?x) (b (m 0 $?x)) => )",
       "(a 5 6)",
       {"need-b m=[0 5 6] v=nil w=nil"}},
      {"an ordered template",
       "(do-backward-chaining o) (defrule r (a ?x) (o ?x 9) => )",
       "(a 7)",
       {"need-o __Data=[7 9]"}},
      {"a pattern first in the rule",
       "(defrule r (b (v 8)) => )",
       "(a 0)",
       {"need-b m=[] v=8 w=nil"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    E().Clear();
    E().Parse("(deftemplate b (slot v) (slot w) (multislot m)) (do-backward-chaining b)", true);
    E().Parse(c.program, true);
    E().Reset();
    E().Parse(std::string("(assert ") + c.asserted + ")", true);
    EXPECT_EQ(Goals(), c.goals);
  }
}

TEST_F(BackwardChainingTest, TheGoalFollowsTheFactThatRaisedIt) {
  E().Parse(
      "(deftemplate b (slot v)) (do-backward-chaining b)"
      "(defrule r (a ?x) (b (v ?x)) => (printout t \"have \" ?x crlf))"
      "(defrule supply (need-b (v ?x)) => (assert (b (v ?x))))",
      true);
  E().Reset();
  const std::int32_t id = E().Assert(E().ParseFact("(a 1)"));
  EXPECT_THAT(Facts(), ElementsAre("f-0 (Initial-Fact)", "f-1 (a 1 )", "f-2 (need-b (v 1))"));
  EXPECT_EQ(id, 1);
  // The supplier answers and the waiting match completes by forward chaining.
  fixture_.TakeOutput();
  E().Run();
  EXPECT_EQ(fixture_.TakeOutput(), "have 1\n");
  // A fact already there completes the match: no goal.
  E().Reset();
  E().Parse("(assert (b (v 2)) (a 2))", true);
  EXPECT_TRUE(Goals().empty());
}

TEST_F(BackwardChainingTest, AGoalAlreadyAskedIsNotAskedTwice) {
  E().Parse(
      "(deftemplate b (slot v)) (do-backward-chaining b)"
      "(defrule r (a ?x) (b (v ?x)) => )",
      true);
  E().Reset();
  E().Parse("(assert (a 1) (a 1 ))", true);  // the same partial match again
  E().Parse("(assert (c 1))", true);
  EXPECT_EQ(Goals(), std::vector<std::string>{"need-b v=1"});
  // Two partial matches asking the same thing raise one goal too.
  E().Parse("(defrule r2 (c ?x) (b (v ?x)) => )", true);
  EXPECT_EQ(Goals(), std::vector<std::string>{"need-b v=1"});
  // With duplication on, the second asking is a second goal.
  E().Reset();
  E().SetFactDuplication(true);
  E().Parse("(assert (a 1) (c 1))", true);
  EXPECT_EQ(Goals().size(), 2u);
}

TEST_F(BackwardChainingTest, GoalsNeverRaiseGoalsAndNothingElseDoes) {
  E().Parse(
      "(deftemplate b (slot v)) (do-backward-chaining b)"
      // A pattern on the goal template itself.
      "(do-backward-chaining need-b)"
      "(defrule on-goal (a ?x) (need-b (v ?x)) => )"
      // Negated and existential patterns ask for nothing.
      "(defrule none (a ?x) (not (b (v ?x))) => )"
      // A template that does not chain backward asks for nothing.
      "(defrule plain (a ?x) (d ?x) => )",
      true);
  E().Reset();
  E().Parse("(assert (a 1))", true);
  EXPECT_TRUE(Goals().empty());
}

TEST_F(BackwardChainingTest, RefusalsHaveTheirMessages) {
  E().Parse("(deftemplate b (slot v)) (do-backward-chaining b)", true);
  EXPECT_THAT(ErrorOf("(defrule r (a ?x) (b (v ?x&:(> ?x 1))) => )"),
              HasSubstr("Cannot use Function calls in backchained patterns: b"));
  EXPECT_THAT(ErrorOf("(do-backward-chaining not)"),
              HasSubstr("Cannot backchain on special CEs: not"));
  EXPECT_THAT(ErrorOf("(do-backward-chaining test)"),
              HasSubstr("Cannot backchain on special CEs: test"));
  EXPECT_EQ(E().FindRule("r"), nullptr);
}

TEST_F(BackwardChainingTest, ARuleAnsweringGoalsPrintsEveryPattern) {
  E().Parse(
      "(deftemplate b (slot v)) (do-backward-chaining b)"
      "(defrule ask (need-b (v ?x)) (not (b (v ?x))) (c ?x) => (assert (b (v ?x))))",
      true);
  const std::string text = E().PrettyPrint(*E().FindRule("ask"));
  EXPECT_THAT(text, HasSubstr("(need-b (v ?x))\n  (not (b (v ?x)))\n  (c ?x)"));
}

TEST_F(BackwardChainingTest, ASavedProgramStillChainsBackward) {
  E().Parse(
      "(deftemplate b (slot v)) (do-backward-chaining b)"
      "(defrule r (a ?x) (b (v ?x)) => )",
      true);
  const std::string file = ::testing::TempDir() + "backward_save.clp";
  E().Parse("(save \"" + file + "\")", true);
  TInferenceEngine second(nullptr);
  second.Parse("(load \"" + file + "\")", true);
  second.Reset();
  second.Parse("(assert (a 1))", true);
  std::vector<std::string> goals;
  second.ForEachFact([&](IFact& f) {
    if (f.Template()->TemplateName() == "need-b") {
      goals.push_back(f.ToString());
    }
  });
  EXPECT_EQ(goals, std::vector<std::string>{"(need-b (v 1))"});
  EXPECT_TRUE(second.FindFactTemplate("b")->IsBackwardChaining());
  EXPECT_FALSE(second.FindFactTemplate("need-b")->IsBackwardChaining());
}

}  // namespace
}  // namespace zephro

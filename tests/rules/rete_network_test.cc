#include "zephro/rules/rete_network.h"

#include <algorithm>
#include <cctype>
#include <numeric>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/engine_fixture.h"
#include "zephro/facts/fact_template.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;


Ref<IIEValue> I(std::int32_t v) { return TIEValue::Integer(v); }

TEST(ReteNetworkTest, NegationWithdrawsAndRestoresTheActivation) {
  EngineFixture fx;
  fx.Rule("r", {{"a", {V("x")}}, {"b", {V("x")}, 1}});
  fx.Assert("a", {I(1)});
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-1, f--1"));
  const std::int32_t b = fx.Assert("b", {I(1)});
  EXPECT_THAT(fx.Agenda(), IsEmpty());
  fx.Assert("b", {I(2)});  // another value does not block
  EXPECT_THAT(fx.Agenda(), IsEmpty());
  fx.Engine().Retract(b);
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-1, f--1"));
}

TEST(ReteNetworkTest, DoubleNegationIsAPositiveTestWithoutBinding) {
  EngineFixture fx;
  fx.Rule("r", {{"a", {V("x")}}, {"b", {V("x")}, 2}});
  fx.Assert("a", {I(1)});
  fx.Assert("a", {I(2)});
  EXPECT_THAT(fx.Agenda(), IsEmpty());
  const std::int32_t b1 = fx.Assert("b", {I(1)});
  fx.Assert("b", {I(1), I(9)});  // another arity: no match
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-1, f--1"));
  fx.Assert("b", {I(2)});
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 2);
  fx.Engine().Retract(b1);
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-2, f--1"));
}

TEST(ReteNetworkTest, RuleStartingWithNotGetsTheInitialFact) {
  EngineFixture fx;
  TRule& r = fx.Rule("r", {{"a", {V("x")}, 1}});
  ASSERT_EQ(r.PatternCount(), 2);
  EXPECT_EQ(r.Pattern(0).Name(), SInitialFactPattern);
  EXPECT_THAT(fx.Agenda(), ElementsAre("r: f-0, f--1"));
  fx.Assert("a", {I(1)});
  EXPECT_THAT(fx.Agenda(), IsEmpty());
}

TEST(ReteNetworkTest, UniqueStopsAfterTheFirstPartner) {
  EngineFixture fx;
  TRule& rule = MakeOwned<TRule>(fx.Engine());
  rule.SetRuleName("u");
  rule.AddPattern(fx.Pattern(rule, "a", {V("x")}));
  auto second = fx.Pattern(rule, "b", {V("x")});
  second->SetUnique(true);
  rule.AddPattern(std::move(second));
  fx.Engine().AddRule(rule);
  fx.Assert("b", {I(1)});
  fx.Assert("b", {I(1)});  // duplicate: rejected
  fx.Assert("b", {I(1), I(2)});
  EXPECT_EQ(fx.Engine().FactDuplication(), false);
  fx.Engine().SetFactDuplication(true);
  fx.Assert("b", {I(1)});
  fx.Assert("a", {I(1)});
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 1);
}

TEST(ReteNetworkTest, MultifieldVariablesTryEverySplit) {
  EngineFixture fx;
  // (data $?x 3 $?y) against (data 1 3 3): x = (1), y = (3) and x = (1 3), y = ().
  fx.Rule("r", {{"data", {MV("x"), C(3), MV("y")}}});
  fx.Assert("data", {I(1), I(3), I(3)});
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 2);
  fx.Engine().Retract(1);
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 0);
}

// A slot whose one field is an unnamed `$?` matches every fact once, as it
// is: no split is made and its length is not tested. Named, or beside other
// fields, the slot is split as before; the activations are the same either
// way, and a rule can still retract the fact it matched.
TEST(ReteNetworkTest, AnUnnamedMultifieldAloneInItsSlotTakesTheFactWhole) {
  struct Case {
    const char* rule;
    const char* trace;  // alpha nodes made: the root, a fold, a length test
    int activations;    // over (a), (a 1 2 3), (a 3), (t (m)), (t (m x y))
  };
  const Case cases[] = {
      {"(defrule r (a $?) =>)", "r: +1+1+t", 3},
      {"(defrule r (a $?x) =>)", "r: +1+1+1+t", 3},
      {"(defrule r (a $? 3) =>)", "r: +1+1+1+1+t", 2},
      {"(defrule r (a $? $?) =>)", "r: +1+1+1+1+t", 7},
      {"(defrule r (t (m $?)) =>)", "r: +1+1+t", 2},
      {"(defrule r ?f <- (a $?) => (retract ?f))", "r: +1+1+t", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    EngineFixture fx;
    TInferenceEngine& e = fx.Engine();
    e.Parse("(deftemplate t (multislot m))");
    e.Parse(c.rule);
    EXPECT_EQ(e.ReteNetwork().LastCompileTrace(), c.trace);
    e.Parse("(assert (a) (a 1 2 3) (a 3) (t (m)) (t (m x y)))");
    EXPECT_EQ(e.GetAgendaCount(), c.activations);
    e.Run();
    EXPECT_EQ(e.GetAgendaCount(), 0);
  }
}

TEST(ReteNetworkTest, FactsOfAnExtendingTemplateMatchTheParentsPatterns) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  auto animal = MakeRef<TFactTemplate>(&e, "animal", "", nullptr);
  animal->AddSlot("name", TIEValue::Atom("x"));
  e.AddFactTemplate(animal);
  auto dog = MakeRef<TFactTemplate>(&e, "dog", "", animal.get());
  dog->AddSlot("bark", TIEValue::Atom("woof"));
  e.AddFactTemplate(dog);
  TRule& rule = MakeOwned<TRule>(e);
  rule.SetRuleName("named");
  auto p = std::make_unique<TIEPattern>(&rule, "animal", Ref<IFactTemplate>(animal.get()));
  p->AddTest("name", TSlotTestType::sttEquals, NoSubIndex,
             MakeRef<TIEValue>("n", TIEType::dtVariable));
  rule.AddPattern(std::move(p));
  e.AddRule(rule);
  Ref<IFact> rex = dog->NewFact();
  rex->SetValue("name", TIEValue::Atom("rex"));
  e.Assert(rex);
  EXPECT_THAT(fx.Agenda(), ElementsAre("named: f-1"));
}

TEST(ReteNetworkTest, DisabledAndOneShotRules) {
  EngineFixture fx;
  TRule& off = fx.Rule("off", {{"a", {V("x")}}});
  off.SetEnabled(false);
  TRule& once = fx.Rule("once", {{"a", {V("x")}}});
  once.SetOneShot(true);
  fx.Assert("a", {I(1)});
  EXPECT_THAT(fx.Agenda(), ElementsAre("once: f-1"));
  EXPECT_EQ(fx.Engine().Run(), 1);
  fx.Assert("a", {I(2)});
  EXPECT_THAT(fx.Agenda(), IsEmpty());
  fx.Engine().Reset();
  fx.Assert("a", {I(3)});
  EXPECT_THAT(fx.Agenda(), ElementsAre("once: f-1"));
}

TEST(ReteNetworkTest, LongCompileTracesKeepEveryStep) {
  // A trace of n patterns on b, each joined on: two alpha nodes per pattern
  // (the root and the slot's), shared after the first pattern, and a join
  // per pattern after the first. Rules of 2 to 14 patterns give traces on
  // both sides of what a rule keeps in place (21 steps).
  for (int n = 2; n <= 14; ++n) {
    SCOPED_TRACE(n);
    EngineFixture fx;
    std::vector<EngineFixture::PatternShape> patterns;
    std::string expected = "r: ";
    for (int i = 0; i < n; ++i) {
      patterns.push_back({"b", {V("x")}});
      expected += i == 0 ? "+1+1" : "=1=1";
    }
    for (int i = 1; i < n; ++i) {
      expected += "+2";
    }
    expected += "+t";
    fx.Rule("r", patterns);
    EXPECT_EQ(fx.Engine().ReteNetwork().LastCompileTrace(), expected);
    fx.Engine().RemoveRule("r");
    fx.Rule("r", patterns);
    EXPECT_EQ(fx.Engine().ReteNetwork().LastCompileTrace(), expected);  // the trace starts afresh
  }
}

TEST(ReteNetworkTest, SharedNodesSurviveTheRemovalOfOneRule) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  fx.Rule("first", {{"a", {C(1), V("x")}}, {"b", {V("x")}}});
  EXPECT_EQ(e.ReteNetwork().LastCompileTrace(), "first: +1+1+1+1+1+2+t");
  fx.Rule("second", {{"a", {C(1), V("x")}}, {"b", {V("x")}}});
  EXPECT_EQ(e.ReteNetwork().LastCompileTrace(), "second: =1=1=1=1=1=2+t");
  const int shared_nodes = e.ReteNetwork().NodeCount();
  fx.Assert("a", {I(1), I(5)});
  fx.Assert("b", {I(5)});
  EXPECT_EQ(e.GetAgendaCount(), 2);
  e.RemoveRule("first");
  EXPECT_EQ(e.ReteNetwork().NodeCount(), shared_nodes - 1);
  EXPECT_THAT(fx.Agenda(), ElementsAre("second: f-1, f-2"));
  fx.Assert("b", {I(5), I(6)});
  fx.Assert("a", {I(1), I(6)});
  EXPECT_EQ(e.GetAgendaCount(), 1);
}

// Removing a rule drops its use of every node above its terminal, once per
// use: after each removal the network holds as many nodes as one built from
// the remaining rules alone, and they match as those would.
TEST(ReteNetworkTest, RemovingARuleLeavesTheNetworkOfTheOthers) {
  const std::vector<std::string> kRules = {
      "(defrule twice (a (x ?v)) (a (x ?v)) =>)",                   // one node used twice
      "(defrule twice-k (a (x ?v) (y 1)) (a (x ?w) (y 1)) =>)",      // a chain used twice
      "(defrule nn (a (x ?v)) (not (not (b (x ?v)))) =>)",           // a negation level
      "(defrule nnn (a (x ?v)) (not (not (not (c (x ?v))))) =>)",    // two levels
      "(defrule pair (a (x ?v)) (b (x ?v)) =>)",                     // a join the next shares
      "(defrule triple (a (x ?v)) (b (x ?v)) (c (x ?v)) =>)",
      "(defrule tested (a (x ?v)) (test (> ?v 1)) =>)",
      "(defrule some (a (x ?v)) (exists (b (x ?v))) =>)",
      "(defrule pred (a (x ?v&:(> ?v 0))) (b (x ?v)) =>)",
      "(defrule lone (c (x 3)) =>)",
  };
  const std::string kSetup =
      "(deftemplate a (slot x) (slot y)) (deftemplate b (slot x)) (deftemplate c (slot x))";
  const std::string kFacts =
      "(assert (a (x 1) (y 1)) (a (x 2) (y 1)) (b (x 1)) (c (x 2)) (c (x 3)))";
  std::vector<std::size_t> forward(kRules.size());
  std::iota(forward.begin(), forward.end(), std::size_t{0});
  std::vector<std::size_t> backward(forward.rbegin(), forward.rend());
  std::vector<std::size_t> odd_first;
  for (const std::size_t start : {std::size_t{1}, std::size_t{0}}) {
    for (std::size_t i = start; i < kRules.size(); i += 2) {
      odd_first.push_back(i);
    }
  }
  // The activations, each fact written out in place of its id (the engines'
  // ids part once facts were retracted), sorted.
  const auto sorted = [](EngineFixture& f) {
    std::vector<std::string> lines;
    for (const std::string& line : f.Agenda()) {
      std::string out;
      std::size_t at = 0;
      for (std::size_t id = line.find("f-"); id != std::string::npos; id = line.find("f-", at)) {
        std::size_t end = id + 2;
        while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) {
          ++end;
        }
        out += line.substr(at, id - at);
        const IFact* fact =
            end > id + 2 ? f.Engine().Facts().GetFactByID(std::stoi(line.substr(id + 2))) : nullptr;
        out += fact != nullptr ? fact->ToString() : line.substr(id, end - id);
        at = end;
      }
      lines.push_back(out + line.substr(at));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  for (const auto& order : {forward, backward, odd_first}) {
    EngineFixture fx;
    fx.Engine().Parse(kSetup + kFacts, true);
    for (const std::string& rule : kRules) {
      fx.Engine().Parse(rule, true);
    }
    std::vector<bool> removed(kRules.size(), false);
    for (const std::size_t r : order) {
      const std::string name = kRules[r].substr(9, kRules[r].find(' ', 9) - 9);
      SCOPED_TRACE("removing " + name);
      fx.Engine().RemoveRule(name);
      removed[r] = true;
      EngineFixture alone;
      alone.Engine().Parse(kSetup + kFacts, true);
      for (std::size_t i = 0; i < kRules.size(); ++i) {
        if (!removed[i]) {
          alone.Engine().Parse(kRules[i], true);
        }
      }
      EXPECT_EQ(fx.Engine().ReteNetwork().NodeCount(), alone.Engine().ReteNetwork().NodeCount());
      EXPECT_EQ(sorted(fx), sorted(alone));
      // Both go on matching alike.
      const std::string more = "(assert (b (x 2)) (a (x 3) (y 1)) (c (x 1)))";
      fx.Engine().Parse(more, true);
      alone.Engine().Parse(more, true);
      EXPECT_EQ(sorted(fx), sorted(alone));
      const int count = fx.Engine().Facts().Count();
      for (int i = 0; i < 3; ++i) {
        fx.Engine().Retract(fx.Engine().Facts()[count - 1 - i].GetID());
      }
    }
    EXPECT_EQ(fx.Engine().ReteNetwork().NodeCount(), 0);
  }
}

TEST(ReteNetworkTest, ARuleAddedLateGetsItsActivationsAtOnce) {
  EngineFixture fx;
  fx.Assert("a", {I(1)});
  fx.Assert("b", {I(1)});
  fx.Rule("late", {{"a", {V("x")}}, {"b", {V("x")}}});
  EXPECT_THAT(fx.Agenda(), ElementsAre("late: f-1, f-2"));
}

TEST(ReteNetworkTest, RepeatedVariableInOnePatternIsAnAlphaTest) {
  EngineFixture fx;
  fx.Rule("same", {{"p", {V("v"), V("v")}}});
  EXPECT_EQ(fx.Engine().ReteNetwork().LastCompileTrace(), "same: +1+1+1+t");
  fx.Assert("p", {I(1), I(2)});
  fx.Assert("p", {I(3), I(3)});
  EXPECT_THAT(fx.Agenda(), ElementsAre("same: f-2"));
}

TEST(ReteNetworkTest, ClearingTheNetworkLeavesNoActivation) {
  EngineFixture fx;
  fx.Rule("r", {{"a", {V("x")}}});
  fx.Assert("a", {I(1)});
  fx.Engine().Clear();
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 0);
  EXPECT_EQ(fx.Engine().ReteNetwork().NodeCount(), 0);
  EXPECT_EQ(fx.Engine().Rules().Count(), 0);
}

TEST(ReteNetworkTest, JoinsKeyedAlikeHoldOneKeyWhateverTheirTemplates) {
  // The slot x sits at a different place in each template: joins reading
  // their keys through the same kept parts still read each fact's own x.
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(deftemplate a (slot x)) (deftemplate b (slot w) (slot x))"
          "(deftemplate c (slot v) (slot w) (slot x))"
          "(defrule r1 (a (x ?k)) (b (x ?k)) =>)"
          "(defrule r2 (b (x ?k)) (c (x ?k)) =>)"
          "(defrule r3 (a (x ?k)) (not (c (x ?k))) =>)");
  EXPECT_EQ(e.ReteNetwork().MemoryKeyCount(), 2);  // left and right on x
  e.Parse("(defrule r4 (b (w ?k)) (c (w ?k)) =>)");
  EXPECT_EQ(e.ReteNetwork().MemoryKeyCount(), 4);
  e.Parse("(assert (a (x 1)) (b (w 5) (x 1)) (c (v 0) (w 5) (x 1)) (a (x 2))"
          " (c (v 0) (w 6) (x 2)) (b (w 6) (x 3)))");
  EXPECT_THAT(fx.Agenda(), ::testing::UnorderedElementsAre("r1: f-1, f-2", "r2: f-2, f-3",
                                                           "r4: f-2, f-3", "r4: f-6, f-5"));
  e.Retract(5);
  EXPECT_THAT(fx.Agenda(), ::testing::Contains("r3: f-4, f--1"));
  e.Clear();
  EXPECT_EQ(e.ReteNetwork().MemoryKeyCount(), 0);
}

TEST(ReteNetworkTest, JoinsOnSeveralFieldsKeyOnEveryOne) {
  // r1 joins on two fields, r2 on the first only: their memories are keyed
  // differently. A `not` on both fields is blocked only by a fact agreeing
  // on both; facts of another length match none of the patterns.
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(defrule r1 (a ?x ?y) (b ?x ?y) =>)"
          "(defrule r2 (a ?x ?z) (b ?x ?w) =>)"
          "(defrule r3 (a ?x ?y) (not (b ?x ?y)) =>)");
  EXPECT_EQ(e.ReteNetwork().MemoryKeyCount(), 4);  // left and right on (0, 1), and on 0
  e.Parse("(assert (a 1 2) (a 1 3) (b 1 2) (b 1) (b 2 2) (a 4))");
  EXPECT_THAT(fx.Agenda(),
              ::testing::UnorderedElementsAre("r1: f-1, f-3", "r2: f-1, f-3", "r2: f-2, f-3",
                                              "r3: f-2, f--1"));
  e.Retract(3);
  EXPECT_THAT(fx.Agenda(), ::testing::UnorderedElementsAre("r3: f-1, f--1", "r3: f-2, f--1"));
}

TEST(ReteNetworkTest, EachWayOfSplittingAFactIsKeyedByItself) {
  // (c 1) reaches the `not` as two splits, $?u = () and $?u = (1), made and
  // dropped one after the other while the fact propagates: each is keyed by
  // its own segment, so its retraction frees the partial match it blocked.
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(defrule r0 (b $?u ? ?) (not (c $?u $?)) =>)"
          "(assert (b 2 0))");
  EXPECT_THAT(fx.Agenda(), ElementsAre("r0: f-1, f--1"));
  e.Parse("(assert (c 1))");
  EXPECT_THAT(fx.Agenda(), ::testing::IsEmpty());
  e.Retract(2);
  EXPECT_THAT(fx.Agenda(), ElementsAre("r0: f-1, f--1"));
}

TEST(ReteNetworkTest, MinActivationStrengthIsClamped) {
  EngineFixture fx;
  fx.Engine().SetMinActivationStrength(1.5f);
  EXPECT_EQ(fx.Engine().MinActivationStrength(), 1.0f);
  fx.Engine().SetMinActivationStrength(-1.0f);
  EXPECT_EQ(fx.Engine().MinActivationStrength(), 0.0f);
}

}  // namespace
}  // namespace zephro::testing

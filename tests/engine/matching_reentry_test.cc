// Working memory while a fact moves through the network, and after code run
// there fails.
//
// Pattern predicates, test elements and the host's activation handlers run
// while a fact is being matched. What they assert, retract or modify waits
// until the fact has moved through the whole network; what cannot wait
// raises. When such code fails, an assertion is undone (the fact leaves every
// memory it reached and working memory, silently, its id used up) and a
// retraction is completed, then the failure is raised: the engine is left as
// if the failing operation had not happened, or had happened whole.
//
// Every case runs on joins whose memories are keyed by a slot value and on
// joins without a key (walked whole, by fact id), and with one bucket per
// memory as well as the usual count.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/engine_fixture.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"

namespace zephro::testing {
namespace {

// How the rules of a case join their patterns.
struct Memories {
  const char* name;
  int hash_key;
  // A rule's second pattern with its partner: "?k" is the join variable.
  const char* join;  // keyed: "(key ?k) (item ?k ?x)"; unkeyed: "(go) (item ?k ?x)"
  const char* starter;  // the fact the first pattern needs
};

const Memories kMemories[] = {
    {"keyed", 101, "(key ?k) (item ?k ?x)", "(key 1)"},
    {"unkeyed", 101, "(go) (item ?k ?x)", "(go)"},
    {"keyed, one bucket", 1, "(key ?k) (item ?k ?x)", "(key 1)"},
    {"unkeyed, one bucket", 1, "(go) (item ?k ?x)", "(go)"},
};

class MatchingReentryTest : public ::testing::TestWithParam<Memories> {
 protected:
  MatchingReentryTest() { fx_.Engine().ReteNetwork().SetHashKey(GetParam().hash_key); }

  TInferenceEngine& Engine() { return fx_.Engine(); }
  // A rule named `name` on the case's join, with `more` after it.
  void Rule(const std::string& name, const std::string& more = "",
            const std::string& actions = "") {
    Engine().Parse("(defrule " + name + " " + GetParam().join + " " + more + " => " + actions +
                   ")");
  }
  std::vector<std::string> Agenda() {
    std::vector<std::string> names;
    for (int i = 0; i < Engine().GetAgendaCount(); ++i) {
      TActivation& a = Engine().GetActivation(i);
      names.push_back(a.Rule().RuleName() + ":" + a.Token().GetToFactsString());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Facts() { return Engine().Facts().ToString(); }
  // The message of what `f` raises, or "" when it raises nothing.
  template <class F>
  static std::string Raised(F&& f) {
    try {
      f();
    } catch (const EBaseException& e) {
      return e.what();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  EngineFixture fx_;
};

// A predicate that fails for one fact: the fact never joins working memory,
// no rule keeps a match of it, nothing says it was retracted, its id is used
// up, and the engine goes on as if the fact had never come: its agenda is a
// twin's that never saw it (but for the id, used up there by a fact
// asserted and retracted).
TEST_P(MatchingReentryTest, AFailingPredicateUndoesTheAssertion) {
  struct Case {
    const char* name;
    const char* failing;  // the failing rule
  };
  const Case cases[] = {
      {"pattern predicate", "(defrule failing (item ?k ?x&:(> (/ 10 ?x) 1)) =>)"},
      {"test element", "(defrule failing JOIN (test (> (/ 10 ?x) 1)) =>)"},
      {"predicate of a later pattern", "(defrule failing JOIN (other ?y&:(> (/ 10 ?x) ?y)) =>)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string failing = c.failing;
    if (const std::size_t at = failing.find("JOIN"); at != std::string::npos) {
      failing.replace(at, 4, GetParam().join);
    }
    auto load = [&](TInferenceEngine& engine) {
      engine.ReteNetwork().SetHashKey(GetParam().hash_key);
      engine.Parse(std::string("(deffacts start ") + GetParam().starter + " (other 0))");
      engine.Reset();
      engine.Parse(std::string("(defrule before ") + GetParam().join + " =>)");
      engine.Parse(failing);
      engine.Parse(std::string("(defrule after ") + GetParam().join + " =>)");
    };
    Engine().Clear();
    load(Engine());
    int retractions = 0;
    Engine().OnRetraction = [&](TInferenceEngine&, IFact&) { ++retractions; };
    const std::string facts_before = Facts();
    const int next_id = Engine().NextFactId();

    EXPECT_NE(Raised([&] { Engine().Assert("(item 1 0)"); }).find("division by zero"),
              std::string::npos);
    EXPECT_EQ(Facts(), facts_before);
    EXPECT_TRUE(Agenda().empty());
    EXPECT_EQ(retractions, 0);
    EXPECT_EQ(Engine().NextFactId(), next_id + 1);

    // The memories hold nothing of it: the same fact fails again, and a good
    // one matches as it would have without it.
    EXPECT_FALSE(Raised([&] { Engine().Assert("(item 1 0)"); }).empty());
    const std::int32_t good = Engine().Assert("(item 1 5)");
    EXPECT_EQ(good, next_id + 2);

    EngineFixture twin;
    load(twin.Engine());
    twin.Engine().Retract(twin.Engine().Assert("(unrelated 1)"));
    twin.Engine().Retract(twin.Engine().Assert("(unrelated 2)"));
    ASSERT_EQ(twin.Engine().Assert("(item 1 5)"), good);
    std::vector<std::string> expected;
    for (int i = 0; i < twin.Engine().GetAgendaCount(); ++i) {
      TActivation& a = twin.Engine().GetActivation(i);
      expected.push_back(a.Rule().RuleName() + ":" + a.Token().GetToFactsString());
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected.size(), 3u);
    EXPECT_EQ(Agenda(), expected);
    Engine().Retract(good);
    EXPECT_TRUE(Agenda().empty());
  }
}

// A host handler that fails once while activations are made: the fact is
// withdrawn from every rule it reached, the handler's failure is raised, and
// the next assertion is whole.
TEST_P(MatchingReentryTest, AFailingActivationHandlerUndoesTheAssertion) {
  Engine().Parse(std::string("(deffacts start ") + GetParam().starter + ")");
  Engine().Reset();
  Rule("a", "", "(printout t a)");
  Rule("b");
  Rule("c");
  bool thrown = false;
  Engine().OnAddActivation = [&](TInferenceEngine&, int, TActivation& a) {
    if (!thrown && a.Rule().RuleName() == "b") {
      thrown = true;
      throw std::runtime_error("host hook failed");
    }
  };
  const std::string facts_before = Facts();
  EXPECT_EQ(Raised([&] { Engine().Assert("(item 1 2)"); }), "host hook failed");
  EXPECT_EQ(Facts(), facts_before);
  EXPECT_TRUE(Agenda().empty());
  const std::int32_t id = Engine().Assert("(item 1 2)");
  EXPECT_EQ(Agenda().size(), 3u);
  Engine().Retract(id);
  EXPECT_TRUE(Agenda().empty());
}

// A retraction whose withdrawal runs code that fails goes to its end: the fact
// is out of working memory and of every match, and then the failure is raised.
TEST_P(MatchingReentryTest, AFailingRetractionCompletesFirst) {
  Engine().Parse("(defglobal ?*armed* = FALSE)");
  Engine().Parse(
      "(deffunction check (?x ?y) (if ?*armed* then (/ ?x 0) else (> ?x ?y)))");
  Engine().Parse(std::string("(deffacts start ") + GetParam().starter + ")");
  Engine().Reset();
  // Retracting a blocker tests the blocked matches against the blockers left.
  Rule("guarded", "(not (limit ?y&:(check ?x ?y)))");
  Rule("plain");
  const std::int32_t item = Engine().Assert("(item 1 5)");
  const std::int32_t low = Engine().Assert("(limit 1)");
  Engine().Assert("(limit 2)");
  ASSERT_EQ(Agenda().size(), 1u);  // "guarded" is blocked
  Engine().Parse("(bind ?*armed* TRUE)");
  int deactivations = 0;
  Engine().ReteNetwork().OnDeactivation = [&](TActivation&) {
    ++deactivations;
    throw std::runtime_error("deactivation handler failed");
  };
  EXPECT_FALSE(Raised([&] { Engine().Retract(item); }).empty());
  EXPECT_EQ(Engine().Facts().FindFact(item), -1);
  EXPECT_TRUE(Agenda().empty());
  EXPECT_EQ(deactivations, 1);
  Engine().ReteNetwork().OnDeactivation = nullptr;
  Engine().Parse("(bind ?*armed* FALSE)");
  EXPECT_TRUE(Raised([&] { Engine().Retract(low); }).empty());
  EXPECT_EQ(Engine().Facts().FindFact(low), -1);
}

// Changes asked for by a predicate wait until the fact under way has moved
// through the network, then happen in the order asked.
TEST_P(MatchingReentryTest, PredicatesChangeWorkingMemoryAfterTheMatch) {
  struct Case {
    const char* name;
    const char* side_effect;     // run by the predicate, once
    const char* facts_after;     // working memory once the assertion returned
  };
  const Case cases[] = {
      {"assert", "(assert (seen ?x))", "(other (v 0))|(item 1 7)|(seen 7)"},
      {"retract the fact being matched", "(retract ?*item*)", "(other (v 0))"},
      {"modify another fact", "(modify ?*other* (v 8))", "(item 1 7)|(other (v 8))"},
      {"modify, then assert the old fact again", "(modify ?*other* (v 8)) (assert (other (v 0)))",
       "(item 1 7)|(other (v 8))|(other (v 0))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Engine().Clear();
    Engine().Parse("(deftemplate other (slot v))");
    Engine().Parse("(defglobal ?*once* = TRUE ?*item* = 0 ?*other* = 0)");
    Engine().Parse(std::string("(deffunction act (?x) (if ?*once* then (bind ?*once* FALSE) ") +
                   c.side_effect + ") TRUE)");
    Engine().Parse(std::string("(deffacts start ") + GetParam().starter + ")");
    Engine().Reset();
    Engine().Parse("(bind ?*other* (assert (other (v 0))))");
    Engine().Parse("(bind ?*item* " + std::to_string(Engine().NextFactId()) + ")");
    Rule("watch", "", "");
    Engine().Parse("(defrule acting (item ?k ?x&:(act ?x)) =>)");
    Engine().Assert("(item 1 7)");
    std::string facts;
    Engine().ForEachFact([&](IFact& f) {
      const std::string text = f.ToString();
      if (text != "(Initial-Fact)" && text.rfind("(key", 0) != 0 && text.rfind("(go", 0) != 0) {
        facts += (facts.empty() ? "" : "|") + text;
      }
    });
    // Facts print each field followed by a blank: compare without them.
    std::string squeezed;
    for (std::size_t i = 0; i < facts.size(); ++i) {
      if (!(facts[i] == ' ' && i + 1 < facts.size() && facts[i + 1] == ')')) {
        squeezed += facts[i];
      }
    }
    EXPECT_EQ(squeezed, c.facts_after);
    EXPECT_EQ(Engine().PendingFactCount(), 0);
  }
}

// What cannot wait raises, from a predicate as from a host's handler, and
// the fact under way is undone.
TEST_P(MatchingReentryTest, WhatCannotWaitRaises) {
  struct Case {
    const char* name;
    const char* call;  // run by a predicate, or null
    void (*host)(TInferenceEngine&);  // run by OnAddActivation, or null
    const char* message;
  };
  const Case cases[] = {
      {"clear", "(clear)", nullptr, "cannot clear while facts are being matched"},
      {"reset", "(reset)", nullptr, "cannot reset while facts are being matched"},
      {"load", "(load \"never-read.clp\")", nullptr,
       "cannot load constructs while facts are being matched"},
      {"run", nullptr, [](TInferenceEngine& e) { e.Run(); },
       "cannot run while facts are being matched"},
      {"define a rule", nullptr, [](TInferenceEngine& e) { e.Parse("(defrule late (z) =>)"); },
       "cannot define a rule while facts are being matched"},
      {"remove a rule", nullptr, [](TInferenceEngine& e) { e.RemoveRule("watch"); },
       "cannot remove a rule while facts are being matched"},
      {"redefine a template", nullptr,
       [](TInferenceEngine& e) { e.Parse("(deftemplate item (slot k))"); },
       "cannot redefine a template while facts are being matched"},
      {"host clear", nullptr, [](TInferenceEngine& e) { e.Clear(); },
       "cannot clear while facts are being matched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Engine().Clear();
    Engine().OnAddActivation = nullptr;
    Engine().Parse(std::string("(deffunction act () ") + (c.call ? c.call : "") + " TRUE)");
    Engine().Parse(std::string("(deffacts start ") + GetParam().starter + ")");
    Engine().Reset();
    Rule("watch");
    Engine().Parse("(defrule acting (item ?k ?x&:(act)) =>)");
    if (c.host != nullptr) {
      Engine().OnAddActivation = [&](TInferenceEngine& e, int, TActivation&) { c.host(e); };
    }
    const std::string facts_before = Facts();
    const std::string raised = Raised([&] { Engine().Assert("(item 1 2)"); });
    EXPECT_NE(raised.find(c.message), std::string::npos) << raised;
    EXPECT_EQ(Facts(), facts_before);
    EXPECT_TRUE(Agenda().empty());
    // The engine goes on, with everything it knew.
    Engine().OnAddActivation = nullptr;
    Engine().Parse("(defrule acting (item ?k ?x) =>)");
    Engine().Assert("(item 1 2)");
    EXPECT_EQ(Agenda().size(), 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(Memories, MatchingReentryTest, ::testing::ValuesIn(kMemories),
                         [](const ::testing::TestParamInfo<Memories>& param) {
                           std::string name;
                           for (const char* p = param.param.name; *p != '\0'; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace zephro::testing

// An activation that loses its support, or fires, leaves the agenda. When no
// one can see where it stood (no OnRemoveActivation handler, no engine class
// of the host's), the engine skips working its index out. Whether the index
// is seen must change nothing else: the same programs leave the same agenda
// and print the same watch lines on every engine, and an engine that sees
// the indexes sees each activation where the agenda holds it.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/rules/activation.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"

namespace zephro::testing {
namespace {

std::string Line(TActivation& a) { return a.Rule().RuleName() + ": " + a.Token().GetToFactsString(); }

// Records a removal at `index`, checking first that the agenda holds
// `a` there.
void Record(TInferenceEngine& engine, int index, TActivation& a, std::vector<std::string>& seen) {
  const bool there =
      index >= 0 && index < engine.GetAgendaCount() && &engine.GetActivation(index) == &a;
  seen.push_back(std::to_string(index) + (there ? " " : " (elsewhere) ") + Line(a));
}

// A host's engine class that watches removals by index.
class IndexWatchingEngine : public TInferenceEngine {
 public:
  using TInferenceEngine::RemoveActivation;
  std::vector<std::string> seen;

 protected:
  void RemoveActivation(int index) override {
    Record(*this, index, GetActivation(index), seen);
    TInferenceEngine::RemoveActivation(index);
  }
};

enum class Watcher { kNone, kHandler, kEngineClass };

struct Side {
  std::unique_ptr<TInferenceEngine> engine;
  std::vector<std::string> seen;  // removals, by index
  std::string output;

  explicit Side(Watcher watcher) {
    if (watcher == Watcher::kEngineClass) {
      engine = std::make_unique<IndexWatchingEngine>();
    } else {
      engine = std::make_unique<TInferenceEngine>();
    }
    if (watcher == Watcher::kHandler) {
      engine->OnRemoveActivation = [this](TInferenceEngine& e, int index, TActivation& a) {
        Record(e, index, a, seen);
      };
    }
    engine->OnPrintOut = [this](TInferenceEngine&, std::string_view, std::string_view text) {
      output += text;
    };
  }
  std::vector<std::string> Seen() {
    if (auto* watching = dynamic_cast<IndexWatchingEngine*>(engine.get())) {
      return watching->seen;
    }
    return seen;
  }
  std::vector<std::string> Agenda() {
    std::vector<std::string> lines;
    for (int i = 0; i < engine->GetAgendaCount(); ++i) {
      lines.push_back(Line(engine->GetActivation(i)));
    }
    return lines;
  }
};

struct Program {
  const char* name;
  std::vector<std::string> steps;
};

// One assert of `count` facts, the i-th (from 1) written by `fact(i)`.
template <class F>
std::string AssertMany(int count, F&& fact) {
  std::string text = "(assert";
  for (int i = 1; i <= count; ++i) {
    text += " " + fact(i);
  }
  return text + ")";
}

const std::vector<Program> kPrograms = {
    {"retractions withdraw activations from the middle of a long agenda",
     {"(deftemplate p (slot x) (slot y))",
      "(defrule low (declare (salience -5)) (p (x ?x)) => )",
      "(defrule high (declare (salience 5)) (p (x ?x) (y ?y&:(> ?y 2))) => )",
      "(defrule pair (p (x ?x) (y 1)) (p (x ?x) (y 2)) => )",
      AssertMany(80,
                 [](int i) {
                   return "(p (x " + std::to_string(i % 7) + ") (y " + std::to_string(i % 5) +
                          "))";
                 }),
      "(retract 3 17 40 41 42 79)", "(run 20)", "(retract 60)", "(run)"}},
    {"a negated pattern blocks and unblocks",
     {"(deftemplate item (slot id) (slot kind))", "(deftemplate hold (slot kind))",
      "(defrule free (item (id ?i) (kind ?k)) (not (hold (kind ?k))) => )",
      "(defrule held (declare (salience 1)) (item (kind ?k)) (hold (kind ?k)) => )",
      AssertMany(40,
                 [](int i) {
                   return "(item (id " + std::to_string(i) + ") (kind " +
                          std::to_string(i % 3) + "))";
                 }),
      "(assert (hold (kind 1)))", "(assert (hold (kind 2)))", "(retract 41)", "(run 5)",
      "(retract 42)", "(run)"}},
    {"rules that retract what they matched while they fire",
     {"(deftemplate n (slot v))",
      "(defrule eat ?f <- (n (v ?v)) (n (v ?w&:(> ?w ?v))) => (retract ?f))",
      "(defrule count (n (v ?v)) => )",
      AssertMany(30, [](int i) { return "(n (v " + std::to_string(i) + "))"; }), "(run 10)",
      "(assert (n (v 0)))", "(run)"}},
    {"a fact modified under its activations",
     {"(deftemplate c (slot state) (slot n))",
      "(defrule step ?c <- (c (state go) (n ?n&:(< ?n 25))) => (modify ?c (n (+ ?n 1))))",
      "(defrule watch (c (n ?n)) => )", "(assert (c (state go) (n 0)) (c (state stop) (n 3)))",
      "(run)"}},
};

class AgendaWithdrawalTest : public ::testing::TestWithParam<Program> {};

TEST_P(AgendaWithdrawalTest, EveryEngineLeavesTheSameAgendaAndSeesTrueIndexes) {
  Side plain(Watcher::kNone);
  Side handler(Watcher::kHandler);
  Side engine_class(Watcher::kEngineClass);
  Side* sides[] = {&plain, &handler, &engine_class};
  for (Side* side : sides) {
    side->engine->Parse("(watch activations)");
  }
  for (const std::string& step : GetParam().steps) {
    for (Side* side : sides) {
      try {
        side->engine->Parse(step);
      } catch (const EIEException& e) {
        side->output += std::string("failed: ") + e.what() + "\n";
      }
    }
    ASSERT_EQ(plain.Agenda(), handler.Agenda()) << step;
    ASSERT_EQ(plain.Agenda(), engine_class.Agenda()) << step;
    ASSERT_EQ(plain.output, handler.output) << step;
    ASSERT_EQ(plain.output, engine_class.output) << step;
  }
  EXPECT_EQ(plain.output.find("failed:"), std::string::npos) << plain.output;
  EXPECT_NE(plain.output.find("<== Activation"), std::string::npos)
      << "the program withdraws nothing";
  EXPECT_TRUE(plain.Seen().empty());
  const std::vector<std::string> seen = handler.Seen();
  EXPECT_EQ(seen, engine_class.Seen());
  std::size_t withdrawn = 0;
  for (std::size_t at = 0; (at = plain.output.find("<== Activation", at)) != std::string::npos;
       ++at) {
    ++withdrawn;
  }
  EXPECT_EQ(seen.size(), withdrawn);
  for (const std::string& removal : seen) {
    EXPECT_EQ(removal.find("(elsewhere)"), std::string::npos) << removal;
  }
}

// A multifield pattern can match one fact in several ways, each an
// activation of the same facts. Withdrawing the fact takes them off in the
// order they were made, whichever end of the agenda each sits at.
TEST(EqualActivationsTest, TheOneMadeFirstLeavesFirst) {
  for (TSearchStrategy strategy :
       {TSearchStrategy::ssDepthFirst, TSearchStrategy::ssBreadthFirst}) {
    TInferenceEngine engine;
    engine.SetStrategy(strategy);
    std::vector<const TActivation*> added;
    std::vector<const TActivation*> removed;
    engine.OnAddActivation = [&](TInferenceEngine&, int, TActivation& a) { added.push_back(&a); };
    engine.OnRemoveActivation = [&](TInferenceEngine&, int, TActivation& a) {
      removed.push_back(&a);
    };
    engine.Parse("(defrule r (data $? ?x $?) => )");
    engine.Parse("(assert (data 1 1 1))");
    const int n = static_cast<int>(strategy);
    ASSERT_EQ(added.size(), 3u) << n;
    engine.Parse("(retract 1)");
    EXPECT_EQ(removed, added) << n;
    EXPECT_EQ(engine.GetAgendaCount(), 0) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, AgendaWithdrawalTest, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<Program>& param) {
                           return "P" + std::to_string(param.index);
                         });

}  // namespace
}  // namespace zephro::testing

// The matching network against the reference matcher, on random programs in
// the rule language (testing/random_programs.h): a few rules and a stream of
// asserts and retracts, some rules arriving while facts are already there.
// The rules use multifield variables shared between patterns and several
// multifield wildcards in one pattern (in any pattern of a rule), `test`
// elements, `not` and `exists`, and the `&`, `|` and `~` connectives, over
// ordered facts and the facts of a template with a single slot and a
// multislot. The same program runs in four engines at once: join memories of
// 101 buckets and of one bucket, each with and without shared right memories.
//
// After every assert and retract each engine must have made exactly the
// activations of the matches that step created and withdrawn exactly those of
// the matches it destroyed (after a rule is added only the balance counts:
// compiling may withdraw and make again the activations of rules that share
// its nodes), and its agenda must hold one activation per current match. A
// match is a rule, the facts of its positive patterns (-1 where a `not`,
// `exists` or `test` element stands) and the segment each multifield variable
// or wildcard takes: one fact can match one pattern in several ways, and each
// way is an activation of its own. A disagreement is reported with the
// program as a script that reproduces it, first as generated and then shrunk
// to a small program that still disagrees.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/rules/activation.h"
#include "zephro/rules/rete_network.h"

#include "testing/engine_fixture.h"
#include "testing/random_programs.h"
#include "testing/reference_matcher.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZEPHRO_DIFF_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEPHRO_DIFF_SANITIZED 1
#endif
#endif

namespace zephro::testing {
namespace {

using reference::AddMatches;
using reference::Fact;
using reference::Features;
using reference::kTemplateText;
using reference::LiveFact;
using reference::Op;
using reference::Pattern;
using reference::Program;
using reference::ProgramGenerator;
using reference::Rule;
using reference::Shown;
using reference::Simpler;

// --- comparing matches ---------------------------------------------------------------------------

std::multiset<std::string> Minus(const std::multiset<std::string>& a,
                                 const std::multiset<std::string>& b) {
  std::multiset<std::string> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.end()));
  return out;
}

std::multiset<std::string> Plus(std::multiset<std::string> a, const std::multiset<std::string>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

std::string Show(const std::multiset<std::string>& set) {
  std::string text = "{";
  for (const std::string& s : set) {
    text += (text.size() > 1 ? ", " : "") + s;
  }
  return text + "}";
}

// --- running a program ---------------------------------------------------------------------------

// One engine under test with the activations it made and withdrew in the
// current step.
struct Side {
  std::string name;
  EngineFixture fx;
  std::multiset<std::string> created;
  std::multiset<std::string> withdrawn;

  Side(int buckets, bool share)
      : name("hash key " + std::to_string(buckets) + ", right memories " +
             (share ? "shared" : "not shared")) {
    fx.Engine().ReteNetwork().SetHashKey(buckets);
    fx.Engine().ReteNetwork().SetShareRightMemories(share);
    fx.Engine().OnAddActivation = [this](TInferenceEngine&, int, TActivation& a) {
      created.insert(Key(a));
    };
    fx.Engine().OnRemoveActivation = [this](TInferenceEngine&, int, TActivation& a) {
      withdrawn.insert(Key(a));
    };
  }

  std::string Key(const TActivation& a) {
    std::string key = a.Rule().RuleName() + ":";
    for (int k = 0; k < a.Token().Count(); ++k) {
      const IFact* f = a.Token().GetFacts(k);
      key += " " + std::to_string(f == &static_cast<IRuleEnvironment&>(fx.Engine()).NullFact() ? -1 : f->GetID());
    }
    return key;
  }

  std::multiset<std::string> Agenda() {
    std::multiset<std::string> agenda;
    for (int i = 0; i < fx.Engine().GetAgendaCount(); ++i) {
      agenda.insert(Key(fx.Engine().GetActivation(i)));
    }
    return agenda;
  }
};

struct Failure {
  std::size_t op = 0;  // the step that disagreed
  std::string kind;    // what went wrong, in a few words
  std::string detail;
};

// The program as a script for the shell, up to and including op `upto`;
// `ids` are the fact ids the asserts got (-1 for a duplicate).
std::string Script(const Program& program, const std::vector<std::int32_t>& ids, std::size_t upto) {
  std::string text = std::string(kTemplateText) + "\n";
  for (std::size_t i = 0; i < program.ops.size() && i <= upto; ++i) {
    const Op& op = program.ops[i];
    const std::string step = "   ; step " + std::to_string(i);
    switch (op.kind) {
      case Op::kDefine:
        text += program.rules[static_cast<std::size_t>(op.rule)].Text() + step + "\n";
        break;
      case Op::kAssert:
        text +=
            "(assert " + op.fact.Text() + ")" + step +
            (i < ids.size() && ids[i] >= 0 ? ": f-" + std::to_string(ids[i]) : ": a duplicate") +
            "\n";
        break;
      case Op::kRetract:
        if (op.target >= 0 && static_cast<std::size_t>(op.target) < ids.size() &&
            ids[static_cast<std::size_t>(op.target)] >= 0) {
          text += "(retract " + std::to_string(ids[static_cast<std::size_t>(op.target)]) + ")" +
                  step + "\n";
        }
        break;
    }
  }
  return text;
}

// Whether the network meets a fact of `relation` at a negation and at another
// pattern of the rule: two patterns take the relation, one of them negated
// (`not` or `exists`). The fact then reaches one of them before the other,
// and a match of the rule comes in for a moment and goes again (or goes and
// comes back): the balance of the step holds all the same.
bool MeetsTwice(const Rule& rule, const std::string& relation) {
  int taking = 0;
  bool negated = false;
  for (const Pattern& p : rule.patterns) {
    if (p.kind != Pattern::kTest && p.relation == relation) {
      ++taking;
      negated = negated || p.negation != 0;
    }
  }
  return taking >= 2 && negated;
}

// Whether every activation in `transient` belongs to a rule that meets a fact
// of `relation` twice, once at a negation.
bool OnlyMetTwice(const Program& program, const std::multiset<std::string>& transient,
                   const std::string& relation) {
  return std::all_of(transient.begin(), transient.end(), [&](const std::string& activation) {
    const std::string name = activation.substr(0, activation.find(':'));
    return std::any_of(program.rules.begin(), program.rules.end(), [&](const Rule& r) {
      return r.name == name && MeetsTwice(r, relation);
    });
  });
}

// Runs `program` through the four engines and the naive matcher; the first
// disagreement, if any. `ids` receives the fact id of each assert.
std::optional<Failure> RunProgram(const Program& program, std::vector<std::int32_t>& ids) {
  std::vector<std::unique_ptr<Side>> sides;
  for (int buckets : {101, 1}) {
    for (bool share : {true, false}) {
      sides.push_back(std::make_unique<Side>(buckets, share));
    }
  }
  for (auto& side : sides) {
    side->fx.Engine().Parse(kTemplateText);
  }
  ids.assign(program.ops.size(), -1);
  std::vector<LiveFact> facts;
  std::vector<std::size_t> defined;
  std::multiset<std::string> before;  // the matches after the previous step
  for (std::size_t i = 0; i < program.ops.size(); ++i) {
    const Op& op = program.ops[i];
    std::string what;
    std::string relation = op.fact.relation;  // of the fact asserted or retracted
    for (auto& side : sides) {
      side->created.clear();
      side->withdrawn.clear();
    }
    if (op.kind == Op::kDefine) {
      const Rule& rule = program.rules[static_cast<std::size_t>(op.rule)];
      what = "defining " + rule.name;
      for (auto& side : sides) {
        try {
          side->fx.Engine().Parse(rule.Text());
        } catch (const std::exception& e) {
          return Failure{i, "raised", side->name + ": " + what + " raised: " + e.what()};
        }
      }
      defined.push_back(static_cast<std::size_t>(op.rule));
    } else if (op.kind == Op::kAssert) {
      what = "asserting " + op.fact.Text();
      const bool duplicate = std::any_of(facts.begin(), facts.end(),
                                         [&](const LiveFact& f) { return f.fact == op.fact; });
      for (std::size_t s = 0; s < sides.size(); ++s) {
        std::int32_t id = -1;
        try {
          id = sides[s]->fx.Engine().Assert(op.fact.Text());
        } catch (const std::exception& e) {
          return Failure{i, "raised", sides[s]->name + ": " + what + " raised: " + e.what()};
        }
        if (s == 0) {
          ids[i] = id;
        }
        if (id != ids[i] || (id < 0) != duplicate) {
          return Failure{i, "fact ids",
                         sides[s]->name + ": " + what + " gave fact id " + std::to_string(id) +
                             (duplicate ? ", a duplicate" : "") + "; the first engine gave " +
                             std::to_string(ids[i])};
        }
      }
      if (!duplicate) {
        facts.push_back({ids[i], op.fact});
      }
    } else {
      const std::int32_t id =
          op.target >= 0 ? ids[static_cast<std::size_t>(op.target)] : std::int32_t{-1};
      auto live =
          std::find_if(facts.begin(), facts.end(), [&](const LiveFact& f) { return f.id == id; });
      if (id < 0 || live == facts.end()) {
        continue;  // its fact was never asserted, or is gone: nothing to do
      }
      what = "retracting f-" + std::to_string(id);
      for (auto& side : sides) {
        try {
          side->fx.Engine().Retract(id);
        } catch (const std::exception& e) {
          return Failure{i, "raised", side->name + ": " + what + " raised: " + e.what()};
        }
      }
      relation = live->fact.relation;
      facts.erase(live);
    }
    std::multiset<std::string> after;
    for (std::size_t r : defined) {
      AddMatches(program.rules[r], facts, after);
    }
    // What the step made and destroyed, as activations show them.
    const std::multiset<std::string> made = Shown(Minus(after, before));
    const std::multiset<std::string> lost = Shown(Minus(before, after));
    const std::multiset<std::string> agenda = Shown(after);
    for (auto& side : sides) {
      std::string kind;
      std::string detail;
      const std::multiset<std::string> actual = side->Agenda();
      if (Plus(Shown(before), side->created) != Plus(agenda, side->withdrawn)) {
        kind = "wrong activations";
        detail =
            "the activations made less those withdrawn differ from the matches made less"
            " those lost";
      } else if (op.kind != Op::kDefine && (side->created != made || side->withdrawn != lost) &&
                 !OnlyMetTwice(program, Minus(side->created, made), relation)) {
        // Compiling a rule may withdraw and make again the activations of
        // rules that share its nodes; an assert or a retract may not.
        kind = "transient activations";
        detail = "activations were made and withdrawn again within the step";
      } else if (actual != agenda) {
        kind = "agenda";
        detail = "the agenda differs from the matches";
      }
      if (!detail.empty()) {
        return Failure{i, kind,
                       side->name + ", " + what + ": " + detail + "\n  made:            " +
                           Show(side->created) + "\n  expected made:   " + Show(made) +
                           "\n  withdrawn:       " + Show(side->withdrawn) +
                           "\n  expected lost:   " + Show(lost) + "\n  agenda:          " +
                           Show(actual) + "\n  expected agenda: " + Show(agenda)};
      }
    }
    before = std::move(after);
  }
  return std::nullopt;
}

// --- reporting -----------------------------------------------------------------------------------

// Shrinks a program that disagrees to one that still disagrees the same way
// and that no single simplification keeps disagreeing; gives up after
// `budget` runs.
Program Shrink(Program program, const std::string& kind, int budget) {
  bool progress = true;
  std::vector<std::int32_t> ids;
  while (progress && budget > 0) {
    progress = false;
    for (Program& candidate : Simpler(program)) {
      if (--budget <= 0) {
        break;
      }
      const std::optional<Failure> failure = RunProgram(candidate, ids);
      if (failure && failure->kind == kind) {
        program = std::move(candidate);
        progress = true;
        break;
      }
    }
  }
  return program;
}

// The script of a program that disagrees, up to the step that does, and how.
std::string Report(const Program& program) {
  std::vector<std::int32_t> ids;
  const std::optional<Failure> failure = RunProgram(program, ids);
  if (!failure) {
    return "(no disagreement)\n";
  }
  return Script(program, ids, failure->op) + "at step " + std::to_string(failure->op) + ": " +
         failure->detail + "\n";
}

// --- the test ------------------------------------------------------------------------------------

// A few thousand programs in all; fewer under the address sanitizer. A
// program that disagrees is shrunk in at most so many runs.
#ifdef ZEPHRO_DIFF_SANITIZED
constexpr int kProgramsPerFamily = 100;
constexpr int kShrinkRuns = 300;
#else
constexpr int kProgramsPerFamily = 1000;
constexpr int kShrinkRuns = 2000;
#endif

class DifferentialProgramsTest : public ::testing::TestWithParam<Features> {};

TEST_P(DifferentialProgramsTest, EnginesAgreeWithNaiveMatcherAfterEveryStep) {
  const Features& features = GetParam();
  ProgramGenerator generator(features);
  // The first program that disagrees in each way, and how many do.
  struct Kind {
    int count = 0;
    int index = 0;
    Program program;
  };
  std::map<std::string, Kind> kinds;
  for (int n = 0; n < kProgramsPerFamily; ++n) {
    const Program program = generator.Make();
    std::vector<std::int32_t> ids;
    const std::optional<Failure> failure = RunProgram(program, ids);
    if (failure) {
      Kind& kind = kinds[failure->kind];
      if (kind.count++ == 0) {
        kind.index = n;
        kind.program = program;
      }
    }
  }
  for (const auto& [what, kind] : kinds) {
    ADD_FAILURE() << what << ": " << kind.count << " of " << kProgramsPerFamily << " programs of "
                  << features.name << ", the first program " << kind.index << ":\n"
                  << Report(kind.program) << "\nshrunk:\n"
                  << Report(Shrink(kind.program, what, kShrinkRuns));
  }
}

INSTANTIATE_TEST_SUITE_P(DifferentialPrograms, DifferentialProgramsTest,
                         ::testing::ValuesIn(reference::ProgramFamilies()),
                         [](const ::testing::TestParamInfo<Features>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace zephro::testing

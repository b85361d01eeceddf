// A compiler shares a pattern node exactly when the same test already hangs
// under the same parent, however many successors the parent has: the index
// it consults for parents with many must agree with walking them. Rules are
// added and removed at random against a model of the pattern-node tree; each
// new rule's compile trace must make and share the nodes the model says, and
// a fact must activate the rules the model says.

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/engine_fixture.h"
#include "zephro/rules/rete_network.h"

namespace zephro::testing {
namespace {

// A rule tests x, and y when it has one, of template a.
struct Shape {
  int x;
  int y;  // -1: no test on y
};

std::string Text(const std::string& name, const Shape& s) {
  std::string text = "(defrule " + name + " (a (x k" + std::to_string(s.x) + ")";
  if (s.y >= 0) {
    text += " (y v" + std::to_string(s.y) + ")";
  }
  return text + ") =>)";
}

// The pattern steps of a trace ("=1" or "+1", in order), without the rest.
std::string PatternSteps(const std::string& trace) {
  std::string steps;
  for (std::size_t i = trace.find(": ") + 2; i + 1 < trace.size(); i += 2) {
    if (trace[i + 1] == '1') {
      steps += trace.substr(i, 2);
    }
  }
  return steps;
}

// The tree of pattern nodes: the template's root, its x tests, their y
// tests, each with the number of rules using it.
struct Model {
  int root = 0;
  std::map<int, int> xs;
  std::map<std::pair<int, int>, int> ys;

  std::string Add(const Shape& s) {
    std::string steps;
    auto step = [&](int& uses) {
      steps += uses > 0 ? "=1" : "+1";
      ++uses;
    };
    step(root);
    step(xs[s.x]);
    if (s.y >= 0) {
      step(ys[{s.x, s.y}]);
    }
    return steps;
  }
  void Remove(const Shape& s) {
    --root;
    --xs[s.x];
    if (s.y >= 0) {
      --ys[{s.x, s.y}];
    }
  }
};

struct Case {
  const char* name;
  int values;  // distinct x constants: more than the index's threshold or not
  int steps;
  unsigned seed;
};

class AlphaIndexTest : public ::testing::TestWithParam<Case> {};

TEST_P(AlphaIndexTest, SharesExactlyWhatTheTreeHolds) {
  const Case& c = GetParam();
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.Parse("(deftemplate a (slot x) (slot y))");
  std::mt19937 rng(c.seed);
  Model model;
  std::map<std::string, Shape> live;
  int made = 0;
  for (int step = 0; step < c.steps; ++step) {
    const bool remove = !live.empty() && rng() % 4 == 0;
    if (remove) {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      model.Remove(it->second);
      e.RemoveRule(it->first);
      live.erase(it);
      continue;
    }
    const Shape s{static_cast<int>(rng() % c.values),
                  rng() % 3 == 0 ? -1 : static_cast<int>(rng() % 3)};
    const std::string name = "r" + std::to_string(made++);
    e.Parse(Text(name, s));
    live[name] = s;
    ASSERT_EQ(PatternSteps(e.ReteNetwork().LastCompileTrace()), model.Add(s))
        << "step " << step << ": " << Text(name, s);
  }
  // A fact activates the rules whose tests it passes.
  const Shape probe{static_cast<int>(rng() % c.values), static_cast<int>(rng() % 3)};
  e.Parse("(assert (a (x k" + std::to_string(probe.x) + ") (y v" + std::to_string(probe.y) +
          ")))");
  std::set<std::string> expected;
  for (const auto& [name, s] : live) {
    if (s.x == probe.x && (s.y < 0 || s.y == probe.y)) {
      expected.insert(name + ": f-1");
    }
  }
  const std::vector<std::string> agenda = fx.Agenda();
  EXPECT_EQ(std::set<std::string>(agenda.begin(), agenda.end()), expected);
  EXPECT_EQ(agenda.size(), expected.size());

  // The network finds every node it counts, and none once the rules are gone.
  const TReteNetwork& net = e.ReteNetwork();
  const std::string dump = net.ToString();
  EXPECT_EQ(static_cast<int>(std::count(dump.begin(), dump.end(), '\n')), net.NodeCount());
  EXPECT_GT(net.NodeCount(), static_cast<int>(model.xs.size()));
  for (const auto& [name, s] : live) {
    e.RemoveRule(name);
  }
  EXPECT_EQ(net.NodeCount(), 0);
  EXPECT_EQ(net.ToString(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, AlphaIndexTest,
    ::testing::Values(Case{"few_successors", 6, 300, 1}, Case{"many_successors", 60, 600, 2},
                      Case{"around_the_threshold", 18, 800, 3},
                      Case{"many_rules_per_value", 30, 1500, 4}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace zephro::testing

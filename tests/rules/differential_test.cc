// The matching network against a slow, obviously correct matcher: every
// combination of facts tried against every rule. Random streams of asserts and
// retracts over a few relations and rules with shared variables, constants,
// negation and multifield variables must leave exactly the same set of
// activations on the agenda as the naive matcher computes. Some rules arrive
// while facts are already there, sharing nodes that hold partial matches.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

struct NaiveFact {
  std::int32_t id;
  std::string relation;
  std::vector<std::int32_t> values;
};

struct NaiveTerm {
  Term::Kind kind;
  std::int32_t constant = 0;
  std::string var;
};

struct NaivePattern {
  std::string relation;
  std::vector<NaiveTerm> terms;
  int negated = 0;  // 0 or 1 here; 2 means "exists"
};

struct NaiveRule {
  std::string name;
  std::vector<NaivePattern> patterns;
};

using Bindings = std::map<std::string, std::vector<std::int32_t>>;

// Tries to match `fact` against `pattern` extending `b`; multifield variables
// take any segment (one per pattern at most in these tests).
bool MatchTerms(const NaivePattern& pattern, const NaiveFact& fact, Bindings& b) {
  if (fact.relation != pattern.relation) {
    return false;
  }
  const auto& terms = pattern.terms;
  const int fixed = static_cast<int>(std::count_if(
      terms.begin(), terms.end(), [](const NaiveTerm& t) { return t.kind != Term::kMultiVar; }));
  const bool has_multi = fixed != static_cast<int>(terms.size());
  const int n = static_cast<int>(fact.values.size());
  if (has_multi ? n < fixed : n != fixed) {
    return false;
  }
  const int segment = n - fixed;
  Bindings local = b;
  int pos = 0;
  for (const NaiveTerm& t : terms) {
    if (t.kind == Term::kMultiVar) {
      std::vector<std::int32_t> seg(fact.values.begin() + pos, fact.values.begin() + pos + segment);
      pos += segment;
      auto it = local.find("$" + t.var);
      if (it != local.end() && it->second != seg) {
        return false;
      }
      local["$" + t.var] = seg;
      continue;
    }
    const std::int32_t v = fact.values[static_cast<std::size_t>(pos++)];
    switch (t.kind) {
      case Term::kConst:
        if (v != t.constant) {
          return false;
        }
        break;
      case Term::kNotConst:
        if (v == t.constant) {
          return false;
        }
        break;
      case Term::kVar: {
        auto it = local.find(t.var);
        if (it != local.end() && it->second != std::vector<std::int32_t>{v}) {
          return false;
        }
        local[t.var] = {v};
        break;
      }
      case Term::kNotVar: {
        auto it = local.find(t.var);
        if (it == local.end() || it->second == std::vector<std::int32_t>{v}) {
          return false;
        }
        break;
      }
      case Term::kMultiVar:
        break;
    }
  }
  b = std::move(local);
  return true;
}

void Enumerate(const NaiveRule& rule, std::size_t index, Bindings& b,
               std::vector<std::int32_t>& ids, const std::vector<NaiveFact>& facts,
               std::multiset<std::string>& out) {
  if (index == rule.patterns.size()) {
    std::string key = rule.name + ":";
    for (std::int32_t id : ids) {
      key += " " + std::to_string(id);
    }
    out.insert(key);
    return;
  }
  const NaivePattern& p = rule.patterns[index];
  if (p.negated > 0) {
    bool any = false;
    for (const NaiveFact& f : facts) {
      Bindings trial = b;
      if (MatchTerms(p, f, trial)) {
        any = true;
        break;
      }
    }
    if (any == (p.negated % 2 == 0)) {
      ids.push_back(-1);  // the null fact
      Enumerate(rule, index + 1, b, ids, facts, out);
      ids.pop_back();
    }
    return;
  }
  for (const NaiveFact& f : facts) {
    Bindings trial = b;
    if (MatchTerms(p, f, trial)) {
      ids.push_back(f.id);
      Enumerate(rule, index + 1, trial, ids, facts, out);
      ids.pop_back();
    }
  }
}

class DifferentialTest : public ::testing::TestWithParam<int> {};

TEST_P(DifferentialTest, NetworkAgreesWithNaiveMatcher) {
  const int hash_key = GetParam();
  std::mt19937 rng(static_cast<unsigned>(1234 + hash_key));
  for (int round = 0; round < 6; ++round) {
    EngineFixture fx;
    fx.Engine().ReteNetwork().SetHashKey(hash_key);
    std::vector<NaiveRule> rules;
    std::vector<std::vector<EngineFixture::PatternShape>> shapes_of;
    const std::vector<std::string> relations = {"a", "b", "c"};
    auto random_term = [&](std::set<std::string>& bound, bool allow_multi,
                           bool& used_multi) -> NaiveTerm {
      const int kind = static_cast<int>(rng() % 10);
      const std::string names[] = {"x", "y", "z"};
      if (kind < 3) {
        return {Term::kConst, static_cast<std::int32_t>(rng() % 3), {}};
      }
      if (kind == 3) {
        return {Term::kNotConst, static_cast<std::int32_t>(rng() % 3), {}};
      }
      if (kind == 4 && allow_multi && !used_multi) {
        used_multi = true;
        return {Term::kMultiVar, 0, "m" + std::to_string(rng() % 100)};
      }
      const std::string& v = names[rng() % 3];
      if (kind == 5 && bound.count(v) > 0) {
        return {Term::kNotVar, 0, v};
      }
      return {Term::kVar, 0, v};
    };
    // Rules: 1 to 3 patterns; later patterns may be negated (their variables
    // must then be bound already, or stay local to the negation).
    for (int r = 0; r < 5; ++r) {
      NaiveRule rule;
      rule.name = "r" + std::to_string(r);
      std::set<std::string> bound;
      const int count = 1 + static_cast<int>(rng() % 3);
      for (int p = 0; p < count; ++p) {
        NaivePattern pattern;
        pattern.relation = relations[rng() % relations.size()];
        const int arity = 1 + static_cast<int>(rng() % 2);
        const bool negated = p > 0 && rng() % 3 == 0;
        pattern.negated = negated ? (rng() % 4 == 0 ? 2 : 1) : 0;
        bool used_multi = false;
        std::set<std::string> here;
        for (int t = 0; t < arity; ++t) {
          NaiveTerm term = random_term(bound, !negated && count == 1, used_multi);
          if (term.kind == Term::kNotVar && bound.count(term.var) == 0) {
            term.kind = Term::kVar;
          }
          if (negated && term.kind == Term::kVar && bound.count(term.var) == 0 &&
              here.count(term.var) == 0) {
            // A variable first met inside a negation is local to it: rename.
            term.var = "n" + std::to_string(p) + term.var;
          }
          if (term.kind == Term::kVar) {
            here.insert(term.var);
          }
          pattern.terms.push_back(term);
        }
        if (!negated) {
          bound.insert(here.begin(), here.end());
        }
        rule.patterns.push_back(pattern);
      }
      rules.push_back(rule);
      // The same rule through the API.
      std::vector<EngineFixture::PatternShape> shapes;
      for (const NaivePattern& p : rule.patterns) {
        EngineFixture::PatternShape shape{p.relation, {}, p.negated};
        for (const NaiveTerm& t : p.terms) {
          Term term{t.kind, nullptr, t.var};
          if (t.kind == Term::kConst || t.kind == Term::kNotConst) {
            term.value = TIEValue::Integer(t.constant);
          }
          shape.terms.push_back(term);
        }
        shapes.push_back(shape);
      }
      shapes_of.push_back(shapes);
    }
    // The first rules exist from the start, the others come later.
    constexpr std::size_t kEarlyRules = 3;
    constexpr int kLateRulesAt = 60;
    std::size_t defined = 0;
    auto define = [&](std::size_t upto) {
      for (; defined < upto; ++defined) {
        fx.Rule(rules[defined].name, shapes_of[defined]);
      }
    };
    define(kEarlyRules);
    // Random asserts and retracts; compare after each step.
    std::vector<NaiveFact> facts;
    for (int step = 0; step < 150; ++step) {
      if (step == kLateRulesAt) {
        define(rules.size());
      }
      if (facts.empty() || rng() % 3 != 0) {
        NaiveFact f{0, relations[rng() % relations.size()], {}};
        const int arity = 1 + static_cast<int>(rng() % 3);
        std::vector<Ref<IIEValue>> values;
        for (int i = 0; i < arity; ++i) {
          f.values.push_back(static_cast<std::int32_t>(rng() % 3));
          values.push_back(TIEValue::Integer(f.values.back()));
        }
        f.id = fx.Assert(f.relation, values);
        if (f.id >= 0) {
          facts.push_back(f);
        }
      } else {
        const std::size_t i = rng() % facts.size();
        fx.Engine().Retract(facts[i].id);
        facts.erase(facts.begin() + static_cast<std::ptrdiff_t>(i));
      }
      std::multiset<std::string> expected;
      for (std::size_t r = 0; r < defined; ++r) {
        const NaiveRule& rule = rules[r];
        Bindings b;
        std::vector<std::int32_t> ids;
        Enumerate(rule, 0, b, ids, facts, expected);
      }
      std::multiset<std::string> actual;
      for (int i = 0; i < fx.Engine().GetAgendaCount(); ++i) {
        TActivation& a = fx.Engine().GetActivation(i);
        std::string key = a.Rule().RuleName() + ":";
        for (int k = 0; k < a.Token().Count(); ++k) {
          IFact* f = a.Token().GetFacts(k);
          key += " " + std::to_string(f == &fx.Engine().NullFact() ? -1 : f->GetID());
        }
        actual.insert(key);
      }
      ASSERT_EQ(actual, expected) << "round " << round << " step " << step;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HashKeys, DifferentialTest, ::testing::Values(101, 1));

}  // namespace
}  // namespace zephro::testing

// The matching network against the reference matcher
// (testing/reference_matcher.h), with rules built through the API. Random
// streams of asserts and retracts over a few relations and rules with shared
// variables, constants, negation and multifield variables must leave exactly
// the same set of activations on the agenda as the reference computes. Some
// rules arrive while facts are already there, sharing nodes that hold partial
// matches. The facts hold the engine's own values, or the same values in
// classes of a host's own, which the matcher reads its slower way. The
// reference's fields 0, 1 and 2 stand for values of one family, each made
// anew wherever it is used: small integers, or texts and integers that the
// joins' key fingerprints treat each their own way (see TMemoryKey).

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "testing/engine_fixture.h"
#include "testing/host_classes.h"
#include "testing/reference_matcher.h"

namespace zephro::testing {
namespace {

// A term as the test draws it; it becomes a term of the API's patterns and a
// field of the reference's.
struct DrawnTerm {
  Term::Kind kind;
  std::int32_t constant = 0;
  std::string var;
};

reference::Field ReferenceField(const DrawnTerm& t) {
  reference::Field field;
  switch (t.kind) {
    case Term::kConst:
    case Term::kNotConst:
      field.alternatives = {{reference::Term{t.kind == Term::kNotConst, "", t.constant}}};
      break;
    case Term::kVar:
      field.var = "?" + t.var;
      break;
    case Term::kNotVar:
      field.alternatives = {{reference::Term{true, "?" + t.var, 0}}};
      break;
    case Term::kMultiVar:
      field.multi = true;
      field.var = "$?" + t.var;
      break;
  }
  return field;
}

// An ordered fact of `values` whose slot value, list and fields are all of a
// host's classes.
Ref<IFact> HostFact(EngineFixture& fx, const std::string& relation,
                    const std::vector<Ref<IIEValue>>& values) {
  std::vector<Ref<IIEValue>> fields;
  for (const Ref<IIEValue>& v : values) {
    fields.push_back(MakeRef<THostValue>(v));
  }
  Ref<IValueVector> list = MakeRef<THostList>(MakeRef<TValueVector>(std::move(fields)));
  Ref<IFact> f = fx.Engine().CreateFactTemplate(relation).NewFact();
  f->SetValue(SDefaultSlotName, MakeRef<THostValue>(MakeRef<TIEValue>(std::move(list))));
  return f;
}

enum class TFamily {
  kSmallIntegers,
  kSharedAtoms,              // equal atoms share a text block
  kAtomsInBlocksOfTheirOwn,  // equal atoms never do
  kOneSpelling,              // an atom, a string of its text (one block), another atom
  kIntegersAtTheEdge,        // 2^30 - 1, 2^30 and -2^30: the first packed, the others not
  kMixedKinds,               // an integer, an atom, a string of the atom's text
};

// A new value standing for the reference's field `k` (0 to 2).
Ref<IIEValue> FamilyValue(TFamily family, std::int32_t k) {
  auto text = [](const char* s, TIEType kind) {
    return Ref<IIEValue>(MakeRef<TIEValue>(TText(s), kind));  // a block of its own
  };
  const char* names[] = {"red", "green", "blue"};
  switch (family) {
    case TFamily::kSmallIntegers:
      break;
    case TFamily::kSharedAtoms:
      return TIEValue::Atom(names[k]);
    case TFamily::kAtomsInBlocksOfTheirOwn:
      return text(names[k], TIEType::dtAtom);
    case TFamily::kOneSpelling:
      return k == 2 ? TIEValue::Atom("other")
                    : (k == 0 ? TIEValue::Atom("same") : TIEValue::String("same"));
    case TFamily::kIntegersAtTheEdge: {
      constexpr std::int32_t kEdge = std::int32_t{1} << 30;
      const std::int32_t edges[] = {kEdge - 1, kEdge, -kEdge};
      return TIEValue::Integer(edges[k]);
    }
    case TFamily::kMixedKinds:
      return k == 0 ? TIEValue::Integer(7)
                    : (k == 1 ? TIEValue::Atom("seven") : TIEValue::String("seven"));
  }
  return TIEValue::Integer(k);
}

// The hash key, whether the facts hold values of a host's classes, and the
// family of the values.
class DifferentialTest : public ::testing::TestWithParam<std::tuple<int, bool, TFamily>> {};

TEST_P(DifferentialTest, NetworkAgreesWithNaiveMatcher) {
  const auto [hash_key, host_values, family] = GetParam();
  std::mt19937 rng(static_cast<unsigned>(1234 + hash_key + 7 * static_cast<int>(family)));
  for (int round = 0; round < 6; ++round) {
    EngineFixture fx;
    fx.Engine().ReteNetwork().SetHashKey(hash_key);
    std::vector<reference::Rule> rules;
    std::vector<std::vector<EngineFixture::PatternShape>> shapes_of;
    const std::vector<std::string> relations = {"a", "b", "c"};
    auto random_term = [&](std::set<std::string>& bound, bool allow_multi,
                           bool& used_multi) -> DrawnTerm {
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
      reference::Rule rule;
      std::vector<EngineFixture::PatternShape> shapes;
      rule.name = "r" + std::to_string(r);
      std::set<std::string> bound;
      const int count = 1 + static_cast<int>(rng() % 3);
      for (int p = 0; p < count; ++p) {
        reference::Pattern pattern;
        pattern.relation = relations[rng() % relations.size()];
        const int arity = 1 + static_cast<int>(rng() % 2);
        const bool negated = p > 0 && rng() % 3 == 0;
        pattern.negation = negated ? (rng() % 4 == 0 ? 2 : 1) : 0;
        // The same pattern through the API.
        EngineFixture::PatternShape shape{pattern.relation, {}, pattern.negation};
        bool used_multi = false;
        std::set<std::string> here;
        for (int t = 0; t < arity; ++t) {
          DrawnTerm term = random_term(bound, !negated && count == 1, used_multi);
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
          pattern.m.push_back(ReferenceField(term));
          shape.terms.push_back({term.kind, nullptr, term.var});
          if (term.kind == Term::kConst || term.kind == Term::kNotConst) {
            shape.terms.back().value = FamilyValue(family, term.constant);
          }
        }
        if (!negated) {
          bound.insert(here.begin(), here.end());
        }
        rule.patterns.push_back(pattern);
        shapes.push_back(shape);
      }
      rules.push_back(rule);
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
    std::vector<reference::LiveFact> facts;
    for (int step = 0; step < 150; ++step) {
      if (step == kLateRulesAt) {
        define(rules.size());
      }
      if (facts.empty() || rng() % 3 != 0) {
        reference::LiveFact f{0, {relations[rng() % relations.size()], 0, {}}};
        const int arity = 1 + static_cast<int>(rng() % 3);
        std::vector<Ref<IIEValue>> values;
        for (int i = 0; i < arity; ++i) {
          f.fact.m.push_back(static_cast<int>(rng() % 3));
          values.push_back(FamilyValue(family, f.fact.m.back()));
        }
        f.id = host_values ? fx.Engine().Assert(HostFact(fx, f.fact.relation, values))
                           : fx.Assert(f.fact.relation, values);
        if (f.id >= 0) {
          facts.push_back(f);
        }
        if (host_values) {
          // The engine kept the host's classes: the matcher meets them.
          fx.Engine().ForEachFact([](const IFact& fact) {
            if (fact.GetID() == 0) {
              return;  // the initial fact
            }
            const IIEValue* slot = fact.GetValue(SDefaultSlotName);
            ASSERT_EQ(TIEValue::Exactly(*slot), nullptr) << fact.ToString();
            ASSERT_EQ(TValueVector::Exactly(*slot->AsList()), nullptr) << fact.ToString();
          });
        }
      } else {
        const std::size_t i = rng() % facts.size();
        fx.Engine().Retract(facts[i].id);
        facts.erase(facts.begin() + static_cast<std::ptrdiff_t>(i));
      }
      std::multiset<std::string> matches;
      for (std::size_t r = 0; r < defined; ++r) {
        reference::AddMatches(rules[r], facts, matches);
      }
      const std::multiset<std::string> expected = reference::Shown(matches);
      std::multiset<std::string> actual;
      for (int i = 0; i < fx.Engine().GetAgendaCount(); ++i) {
        TActivation& a = fx.Engine().GetActivation(i);
        std::string key = a.Rule().RuleName() + ":";
        for (int k = 0; k < a.Token().Count(); ++k) {
          IFact* f = a.Token().GetFacts(k);
          key += " " + std::to_string(f == &static_cast<IRuleEnvironment&>(fx.Engine()).NullFact() ? -1 : f->GetID());
        }
        actual.insert(key);
      }
      ASSERT_EQ(actual, expected) << "round " << round << " step " << step;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    HashKeysAndValueClasses, DifferentialTest,
    ::testing::Combine(::testing::Values(101, 1), ::testing::Bool(),
                       ::testing::Values(TFamily::kSmallIntegers, TFamily::kSharedAtoms,
                                         TFamily::kAtomsInBlocksOfTheirOwn, TFamily::kOneSpelling,
                                         TFamily::kIntegersAtTheEdge, TFamily::kMixedKinds)));

}  // namespace
}  // namespace zephro::testing

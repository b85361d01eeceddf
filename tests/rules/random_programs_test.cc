// The random programs of the differential tests (testing/random_programs.h):
// every rule the generator makes is one the reference matcher and the shrinker
// take, and each family uses the constructs it is about in many of its rules,
// so that a change to the generator cannot quietly drop one.

#include "testing/random_programs.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/reference_matcher.h"

namespace zephro::testing::reference {
namespace {

// As many programs as the differential tests run at most.
constexpr int kProgramsPerFamily = 1000;

// How many rules of a family use each construct the families are about, so
// that a change to the generator cannot quietly drop one.
struct Coverage {
  int shared_multifield = 0;  // a multifield variable bound by an earlier pattern
  int later_wildcards = 0;    // two multifield fields or more in a pattern after the first
  int both_slots = 0;         // a template pattern that constrains both slots
  int tests = 0;
  int nots = 0;
  int exists = 0;
  int either_variable = 0;  // `?a|?b`, `?a|1`: a first alternative that is a variable
  int not_variable = 0;     // `~?a`
  int and_not = 0;          // `?x&~1`
  int either_constant = 0;  // `1|2`

  void Count(const Rule& rule) {
    std::set<std::string> bound;
    std::set<std::string> seen;
    auto once = [&](int& counter, const char* what) {
      if (seen.insert(what).second) {
        ++counter;
      }
    };
    for (std::size_t p = 0; p < rule.patterns.size(); ++p) {
      const Pattern& pattern = rule.patterns[p];
      if (pattern.kind == Pattern::kTest) {
        once(tests, "test");
        continue;
      }
      if (pattern.negation == 1) {
        once(nots, "not");
      }
      if (pattern.negation == 2) {
        once(exists, "exists");
      }
      if (pattern.kind == Pattern::kTemplate && pattern.slot && pattern.constrains_m) {
        once(both_slots, "both slots");
      }
      std::vector<const Field*> fields;
      for (const Field& f : pattern.m) {
        fields.push_back(&f);
      }
      if (pattern.slot) {
        fields.push_back(&*pattern.slot);
      }
      int multi = 0;
      std::set<std::string> here;
      for (const Field* f : fields) {
        multi += f->multi ? 1 : 0;
        if (f->multi && bound.count(f->var) > 0) {
          once(shared_multifield, "shared multifield");
        }
        const auto& alts = f->alternatives;
        if (alts.size() > 1 && !alts[0][0].var.empty() && !alts[0][0].negated) {
          once(either_variable, "either variable");
        }
        if (alts.size() > 1 && std::all_of(alts.begin(), alts.end(), [](const Chain& c) {
              return c.size() == 1 && c[0].var.empty() && !c[0].negated;
            })) {
          once(either_constant, "either constant");
        }
        for (const Chain& chain : alts) {
          for (const Term& t : chain) {
            if (t.negated && !t.var.empty()) {
              once(not_variable, "not variable");
            }
            if (t.negated && t.var.empty() && !f->var.empty()) {
              once(and_not, "and not");
            }
          }
        }
        if (!f->var.empty()) {
          here.insert(f->var);
        }
      }
      if (p > 0 && multi >= 2) {
        once(later_wildcards, "later wildcards");
      }
      if (pattern.negation == 0) {
        bound.insert(here.begin(), here.end());
      }
    }
  }
};

class RandomProgramsTest : public ::testing::TestWithParam<Features> {};

TEST_P(RandomProgramsTest, EveryRuleIsValidAndTheFamilyUsesItsConstructsOften) {
  const Features& features = GetParam();
  ProgramGenerator generator(features);
  Coverage coverage;
  for (int n = 0; n < kProgramsPerFamily; ++n) {
    const Program program = generator.Make();
    ASSERT_GE(program.rules.size(), 2U);
    for (const Rule& rule : program.rules) {
      ASSERT_TRUE(Valid(rule)) << "program " << n << ": " << rule.Text();
      coverage.Count(rule);
    }
  }
  const int often = kProgramsPerFamily / 40;
  if (features.max_multi >= 2) {
    EXPECT_GT(coverage.shared_multifield, often);
    EXPECT_GT(coverage.later_wildcards, often);
  }
  if (features.templates) {
    EXPECT_GT(coverage.both_slots, often);
  }
  if (features.tests) {
    EXPECT_GT(coverage.tests, often);
  }
  if (features.negation) {
    EXPECT_GT(coverage.nots, often);
    EXPECT_GT(coverage.exists, often);
  }
  if (features.connectives) {
    EXPECT_GT(coverage.either_variable, often);
    EXPECT_GT(coverage.not_variable, often);
    EXPECT_GT(coverage.and_not, often);
    EXPECT_GT(coverage.either_constant, often);
  }
}

// The programs a shrinker tries in place of a generated one keep their rules
// valid, retract only facts they assert, and are smaller.
TEST_P(RandomProgramsTest, SimplerProgramsStayValidAndShrink) {
  ProgramGenerator generator(GetParam());
  for (int n = 0; n < 20; ++n) {
    const Program program = generator.Make();
    std::size_t size = program.ops.size();
    for (const Rule& rule : program.rules) {
      size += rule.patterns.size();
    }
    for (const Program& candidate : Simpler(program)) {
      std::size_t candidate_size = candidate.ops.size();
      for (const Rule& rule : candidate.rules) {
        ASSERT_TRUE(Valid(rule)) << "program " << n << ": " << rule.Text();
        candidate_size += rule.patterns.size();
      }
      ASSERT_EQ(candidate.rules.size(), program.rules.size());
      for (std::size_t i = 0; i < candidate.ops.size(); ++i) {
        const Op& op = candidate.ops[i];
        if (op.kind == Op::kRetract) {
          ASSERT_GE(op.target, 0);
          ASSERT_LT(static_cast<std::size_t>(op.target), i);
          EXPECT_EQ(candidate.ops[static_cast<std::size_t>(op.target)].kind, Op::kAssert);
        }
      }
      EXPECT_LE(candidate_size, size);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RandomPrograms, RandomProgramsTest, ::testing::ValuesIn(ProgramFamilies()),
                         [](const ::testing::TestParamInfo<Features>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace zephro::testing::reference

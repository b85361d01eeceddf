#include "testing/random_programs.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zephro::testing::reference {

void PrintTo(const Features& features, std::ostream* out) {
  *out << features.name;
}

const std::vector<Features>& ProgramFamilies() {
  static const std::vector<Features> families = {
      // Multifield variables shared between patterns, several wildcards per pattern.
      {"multifield", 45, 3, false, false, false, false},
      // The template's single slot and multislot next to ordered facts.
      {"templates", 35, 3, true, false, false, false},
      {"tests", 30, 2, false, true, false, false},
      {"negation", 30, 2, false, false, true, false},
      {"connectives", 15, 2, false, false, false, true},
      {"everything", 30, 3, true, true, true, true},
  };
  return families;
}

// --- generating ----------------------------------------------------------------------------------

class ProgramGenerator::Impl {
 public:
  Impl(const Features& features, unsigned seed) : features_(features), rng_(seed) {}

  Program Make() {
    Program program;
    relations_ = {"a", "b"};
    if (features_.templates) {
      relations_.push_back(kTemplate);
    } else {
      relations_.push_back("c");
    }
    const int rule_count = 2 + Pick(3);
    for (int r = 0; r < rule_count; ++r) {
      program.rules.push_back(MakeRule("r" + std::to_string(r)));
    }
    // Some rules are there from the start, the others arrive with facts.
    const int early = 1 + Pick(rule_count - 1);
    for (int r = 0; r < early; ++r) {
      program.ops.push_back({Op::kDefine, r, {}, -1});
    }
    const int steps = 40;
    const int late_at = 8 + Pick(20);
    std::vector<std::pair<int, Fact>> live;  // by the op that asserted it
    for (int step = 0; step < steps; ++step) {
      if (step == late_at) {
        for (int r = early; r < rule_count; ++r) {
          program.ops.push_back({Op::kDefine, r, {}, -1});
        }
      }
      const int index = static_cast<int>(program.ops.size());
      if (live.empty() || (live.size() < 10 && Pick(3) != 0)) {
        Fact fact = MakeFact();
        const bool duplicate =
            std::any_of(live.begin(), live.end(), [&](const auto& l) { return l.second == fact; });
        if (!duplicate) {
          live.emplace_back(index, fact);
        }
        program.ops.push_back({Op::kAssert, 0, fact, -1});
      } else {
        const std::size_t k = static_cast<std::size_t>(Pick(static_cast<int>(live.size())));
        program.ops.push_back({Op::kRetract, 0, {}, live[k].first});
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
      }
    }
    if (late_at >= steps) {
      for (int r = early; r < rule_count; ++r) {
        program.ops.push_back({Op::kDefine, r, {}, -1});
      }
    }
    return program;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  bool Percent(int p) { return Pick(100) < p; }

  int Value() {
    const int r = Pick(20);
    return r < 17 ? r % 3 : (r < 19 ? 3 : kAtom);
  }
  int NumberValue() { return Pick(6) == 0 ? 3 : Pick(3); }

  Fact MakeFact() {
    Fact f;
    f.relation = relations_[static_cast<std::size_t>(Pick(static_cast<int>(relations_.size())))];
    f.s = f.relation == kTemplate ? Value() : 0;
    static constexpr int kArity[] = {0, 1, 1, 2, 2, 2, 3, 3, 3, 4};
    const int arity = kArity[Pick(10)];
    for (int i = 0; i < arity; ++i) {
      f.m.push_back(Value());
    }
    return f;
  }

  // The variables a rule has bound so far, and those bound inside the
  // pattern being made.
  struct Scope {
    std::vector<std::string> singles;
    std::vector<std::string> multis;
    std::vector<std::string> here_singles;
    std::vector<std::string> here_multis;
    int pattern = 0;
    bool negated = false;
    int locals = 0;
  };

  static bool Has(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  }
  static void Add(std::vector<std::string>& v, const std::string& s) {
    if (!Has(v, s)) {
      v.push_back(s);
    }
  }

  static bool Uses(const Field& f, const std::vector<std::string>& vars) {
    bool uses = Has(vars, f.var);
    for (const Chain& chain : f.alternatives) {
      for (const Term& t : chain) {
        uses = uses || Has(vars, t.var);
      }
    }
    return uses;
  }

  // A single-field variable that is bound already, or "" when there is none.
  std::string BoundSingle(const Scope& scope) {
    std::vector<std::string> all = scope.singles;
    all.insert(all.end(), scope.here_singles.begin(), scope.here_singles.end());
    return all.empty() ? std::string()
                       : all[static_cast<std::size_t>(Pick(static_cast<int>(all.size())))];
  }

  // A variable for a field to bind: in a positive pattern one of a few names
  // (so patterns share them); inside a negation mostly a name of its own.
  std::string Binding(Scope& scope, bool multi) {
    static constexpr std::array<const char*, 4> kSingles = {"?x", "?y", "?z", "?w"};
    static constexpr std::array<const char*, 2> kMultis = {"$?u", "$?v"};
    const std::vector<std::string>& bound = multi ? scope.multis : scope.singles;
    std::vector<std::string>& here = multi ? scope.here_multis : scope.here_singles;
    std::string name;
    if (scope.negated && (bound.empty() || Percent(50))) {
      if (!here.empty() && Percent(30)) {
        name = here[static_cast<std::size_t>(Pick(static_cast<int>(here.size())))];
      } else {
        name = std::string(multi ? "$?" : "?") + "n" + std::to_string(scope.pattern) + "_" +
               std::to_string(scope.locals++);
      }
    } else if (scope.negated) {
      name = bound[static_cast<std::size_t>(Pick(static_cast<int>(bound.size())))];
    } else if (multi) {
      name = kMultis[static_cast<std::size_t>(Pick(static_cast<int>(kMultis.size())))];
    } else {
      name = kSingles[static_cast<std::size_t>(Pick(static_cast<int>(kSingles.size())))];
    }
    return name;
  }

  Term MakeTerm(const Scope& scope, bool negatable) {
    Term t;
    t.negated = negatable && Percent(35);
    const std::string var = BoundSingle(scope);
    if (!var.empty() && Percent(40)) {
      t.var = var;
    } else {
      t.value = Value();
    }
    return t;
  }

  Field MakeSingle(Scope& scope) {
    Field f;
    const std::string bound = BoundSingle(scope);
    const int form = Pick(100);
    if (form < 12) {
      // "?"
    } else if (form < 32) {
      f.alternatives.push_back({Term{false, "", Value()}});
    } else if (form < 60 || (!features_.connectives && form < 90)) {
      f.var = Binding(scope, false);
    } else if (!features_.connectives) {
      f.alternatives.push_back({MakeTerm(scope, true)});
      f.alternatives.back()[0].negated = true;
    } else if (form < 72 && !bound.empty()) {
      // ?a|?b with both bound, or one of them and a constant.
      std::string other = BoundSingle(scope);
      f.alternatives.push_back({Term{false, bound, 0}});
      f.alternatives.push_back({Percent(75) ? Term{false, other, 0} : Term{false, "", Value()}});
      if (Percent(50)) {
        std::swap(f.alternatives[0], f.alternatives[1]);
      }
    } else {
      // A leading variable or none, then alternatives of chains.
      if (Percent(50)) {
        f.var = Binding(scope, false);
      }
      const bool lead_bound =
          !f.var.empty() && (Has(scope.singles, f.var) || Has(scope.here_singles, f.var));
      int alternatives = f.var.empty() ? 1 + Pick(3) : Pick(3);
      if (lead_bound) {
        alternatives = std::min(alternatives, 1);
      }
      for (int a = 0; a < alternatives; ++a) {
        Chain chain;
        const int length = 1 + (Percent(30) ? 1 : 0);
        for (int k = 0; k < length; ++k) {
          chain.push_back(MakeTerm(scope, true));
        }
        f.alternatives.push_back(chain);
      }
      // Without a leading variable, a first alternative that starts with a
      // variable stands alone (`?a|1`, never `?a&~1|2`, whose grouping
      // readers take differently).
      if (f.var.empty() && f.alternatives.size() > 1 && !f.alternatives[0][0].var.empty() &&
          !f.alternatives[0][0].negated) {
        f.alternatives[0].resize(1);
      }
    }
    if (!f.var.empty()) {
      Add(scope.here_singles, f.var);
    }
    return f;
  }

  std::vector<Field> MakeSequence(Scope& scope) {
    static constexpr int kLength[] = {0, 1, 1, 2, 2, 2, 3, 3, 3, 4};
    const int length = kLength[Pick(10)];
    std::vector<Field> fields;
    int multi = 0;
    for (int i = 0; i < length; ++i) {
      if (multi < features_.max_multi && Percent(features_.multi_percent)) {
        ++multi;
        Field f;
        f.multi = true;
        if (Percent(55)) {
          f.var = Binding(scope, true);
          Add(scope.here_multis, f.var);
        }
        fields.push_back(f);
      } else {
        fields.push_back(MakeSingle(scope));
      }
    }
    return fields;
  }

  Rule MakeRule(const std::string& name) {
    Rule rule{name, {}};
    Scope scope;
    const int count = 1 + Pick(4);
    for (int p = 0; p < count; ++p) {
      Pattern pattern;
      scope.pattern = p;
      scope.here_singles.clear();
      scope.here_multis.clear();
      if (p > 0 && features_.tests && Percent(30) &&
          (!scope.singles.empty() || !scope.multis.empty())) {
        pattern.kind = Pattern::kTest;
        Check& c = pattern.check;
        if (scope.singles.empty() || (!scope.multis.empty() && Percent(25))) {
          c.op = Check::kLonger;
          c.left =
              scope.multis[static_cast<std::size_t>(Pick(static_cast<int>(scope.multis.size())))];
          c.value = Pick(3);
        } else {
          static constexpr Check::Op kOps[] = {Check::kGreater, Check::kLess, Check::kEq,
                                               Check::kNeq};
          c.op = kOps[Pick(4)];
          c.left = BoundSingle(scope);
          if (Percent(50)) {
            c.right = BoundSingle(scope);
          } else {
            c.value = c.op == Check::kGreater || c.op == Check::kLess ? NumberValue() : Value();
          }
        }
        rule.patterns.push_back(pattern);
        continue;
      }
      if (p > 0 && features_.negation && Percent(35)) {
        pattern.negation = Percent(35) ? 2 : 1;
      }
      scope.negated = pattern.negation > 0;
      pattern.relation =
          relations_[static_cast<std::size_t>(Pick(static_cast<int>(relations_.size())))];
      if (pattern.relation == kTemplate) {
        pattern.kind = Pattern::kTemplate;
        pattern.constrains_m = Percent(80);
        if (pattern.constrains_m) {
          pattern.m = MakeSequence(scope);
        }
        const std::vector<std::string> in_m = scope.here_singles;
        if (!pattern.constrains_m || Percent(75)) {
          pattern.slot = MakeSingle(scope);
        }
        // Either slot may come first in the text, but one that uses a
        // variable of the other comes after it.
        pattern.m_first = Percent(50) || (pattern.slot && Uses(*pattern.slot, in_m));
      } else {
        pattern.m = MakeSequence(scope);
      }
      if (!scope.negated) {
        for (const std::string& v : scope.here_singles) {
          Add(scope.singles, v);
        }
        for (const std::string& v : scope.here_multis) {
          Add(scope.multis, v);
        }
      }
      rule.patterns.push_back(pattern);
    }
    return rule;
  }

  Features features_;
  std::mt19937 rng_;
  std::vector<std::string> relations_;
};

namespace {

// The seed of a family's programs, from its name.
unsigned Seed(const Features& features) {
  const std::string name = features.name;
  std::seed_seq seed(name.begin(), name.end());
  std::array<unsigned, 1> first{};
  seed.generate(first.begin(), first.end());
  return first[0];
}

}  // namespace

ProgramGenerator::ProgramGenerator(const Features& features)
    : impl_(std::make_unique<Impl>(features, Seed(features))) {}

ProgramGenerator::~ProgramGenerator() = default;

Program ProgramGenerator::Make() {
  return impl_->Make();
}

// --- shrinking -----------------------------------------------------------------------------------

bool Valid(const Rule& rule) {
  if (rule.patterns.empty() || rule.patterns[0].kind == Pattern::kTest ||
      rule.patterns[0].negation > 0) {
    return false;
  }
  std::set<std::string> bound;
  std::map<std::string, std::size_t> local;  // a negation's own variables, by pattern
  for (std::size_t p = 0; p < rule.patterns.size(); ++p) {
    const Pattern& pattern = rule.patterns[p];
    std::set<std::string> here = bound;
    bool ok = true;
    auto use = [&](const std::string& v) {
      if (v.empty()) {
        return;
      }
      auto it = local.find(v);
      if (it != local.end() && it->second != p) {
        ok = false;
      }
      if (here.count(v) == 0) {
        ok = false;
      }
    };
    auto bind = [&](const std::string& v) {
      if (v.empty()) {
        return;
      }
      auto it = local.find(v);
      if (it != local.end() && it->second != p) {
        ok = false;
      }
      if (here.count(v) == 0 && pattern.negation > 0) {
        local[v] = p;
      }
      here.insert(v);
    };
    auto field = [&](const Field& f) {
      const auto& alts = f.alternatives;
      // The forms whose grouping is clear: a leading variable bound before
      // with one chain at most, and `?a` alone before a "|".
      if ((here.count(f.var) > 0 && alts.size() > 1) ||
          (f.var.empty() && alts.size() > 1 && !alts[0][0].var.empty() && !alts[0][0].negated &&
           alts[0].size() > 1)) {
        ok = false;
      }
      for (const Chain& chain : alts) {
        for (const Term& t : chain) {
          use(t.var);
        }
      }
      bind(f.var);
    };
    if (pattern.kind == Pattern::kTest) {
      use(pattern.check.left);
      use(pattern.check.right);
    } else {
      for (const Field& f : pattern.m) {
        field(f);
      }
      if (pattern.slot) {
        field(*pattern.slot);
      }
    }
    if (!ok) {
      return false;
    }
    if (pattern.negation == 0) {
      bound = here;
    }
  }
  return true;
}

std::vector<Program> Simpler(const Program& program) {
  std::vector<Program> out;
  const std::size_t n = program.ops.size();
  // Drop runs of ops, long runs first; retracts of a dropped assert go too.
  for (std::size_t run = std::max<std::size_t>(n / 2, 1);; run /= 2) {
    for (std::size_t start = 0; start + run <= n; start += run) {
      Program p;
      p.rules = program.rules;
      std::vector<int> moved(n, -1);
      for (std::size_t i = 0; i < n; ++i) {
        if (i >= start && i < start + run) {
          continue;
        }
        Op op = program.ops[i];
        if (op.kind == Op::kRetract) {
          op.target = op.target >= 0 ? moved[static_cast<std::size_t>(op.target)] : -1;
          if (op.target < 0) {
            continue;
          }
        }
        moved[i] = static_cast<int>(p.ops.size());
        p.ops.push_back(op);
      }
      out.push_back(std::move(p));
    }
    if (run == 1) {
      break;
    }
  }
  // Smaller rules: a pattern less, a field less, a field simpler.
  for (std::size_t r = 0; r < program.rules.size(); ++r) {
    const Rule& rule = program.rules[r];
    auto with = [&](const Rule& changed) {
      if (Valid(changed)) {
        Program p = program;
        p.rules[r] = changed;
        out.push_back(std::move(p));
      }
    };
    for (std::size_t i = 0; i < rule.patterns.size(); ++i) {
      Rule changed = rule;
      changed.patterns.erase(changed.patterns.begin() + static_cast<std::ptrdiff_t>(i));
      with(changed);
    }
    for (std::size_t i = 0; i < rule.patterns.size(); ++i) {
      const Pattern& pattern = rule.patterns[i];
      if (pattern.negation == 2) {
        Rule changed = rule;
        changed.patterns[i].negation = 1;
        with(changed);
      }
      if (pattern.slot) {
        Rule changed = rule;
        changed.patterns[i].slot.reset();
        changed.patterns[i].constrains_m = true;
        with(changed);
      }
      if (pattern.kind == Pattern::kTemplate && pattern.constrains_m && pattern.slot) {
        Rule changed = rule;
        changed.patterns[i].constrains_m = false;
        changed.patterns[i].m.clear();
        with(changed);
      }
      for (std::size_t f = 0; f < pattern.m.size(); ++f) {
        Rule changed = rule;
        changed.patterns[i].m.erase(changed.patterns[i].m.begin() + static_cast<std::ptrdiff_t>(f));
        with(changed);
      }
      auto simplify = [&](const Field& field, const std::function<void(Rule&, const Field&)>& put) {
        if (!field.multi && (!field.var.empty() || !field.alternatives.empty())) {
          Rule changed = rule;
          put(changed, Field{});  // "?"
          with(changed);
        }
        if (!field.multi && !field.var.empty() && !field.alternatives.empty()) {
          Field g = field;
          g.var.clear();
          Rule changed = rule;
          put(changed, g);
          with(changed);
          g = field;
          g.alternatives.clear();
          changed = rule;
          put(changed, g);
          with(changed);
        }
        for (std::size_t a = 0; a < field.alternatives.size(); ++a) {
          if (field.alternatives.size() > 1) {
            Field g = field;
            g.alternatives.erase(g.alternatives.begin() + static_cast<std::ptrdiff_t>(a));
            Rule changed = rule;
            put(changed, g);
            with(changed);
          }
          if (field.alternatives[a].size() > 1) {
            for (std::size_t t = 0; t < field.alternatives[a].size(); ++t) {
              Field g = field;
              g.alternatives[a].erase(g.alternatives[a].begin() + static_cast<std::ptrdiff_t>(t));
              Rule changed = rule;
              put(changed, g);
              with(changed);
            }
          }
        }
        if (field.multi && !field.var.empty()) {
          Field g = field;
          g.var.clear();
          Rule changed = rule;
          put(changed, g);
          with(changed);
        }
      };
      if (pattern.slot) {
        simplify(*pattern.slot,
                 [&](Rule& changed, const Field& g) { changed.patterns[i].slot = g; });
      }
      for (std::size_t f = 0; f < pattern.m.size(); ++f) {
        simplify(pattern.m[f],
                 [&](Rule& changed, const Field& g) { changed.patterns[i].m[f] = g; });
      }
    }
  }
  // Smaller facts: a field less.
  for (std::size_t i = 0; i < n; ++i) {
    const Op& op = program.ops[i];
    if (op.kind != Op::kAssert) {
      continue;
    }
    for (std::size_t k = 0; k < op.fact.m.size(); ++k) {
      Program p = program;
      p.ops[i].fact.m.erase(p.ops[i].fact.m.begin() + static_cast<std::ptrdiff_t>(k));
      out.push_back(std::move(p));
    }
  }
  return out;
}

}  // namespace zephro::testing::reference

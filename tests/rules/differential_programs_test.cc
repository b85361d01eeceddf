// Random programs in the rule language against a slow, obviously correct
// matcher that tries every fact against every pattern in every way.
//
// Each program declares a template with a single slot and a multislot, a few
// rules over it and over ordered relations, and a stream of asserts and
// retracts (some rules arrive while facts are already there). The rules use
// multifield variables shared between patterns and several multifield
// wildcards in one pattern (in any pattern of a rule), `test` elements, `not`
// and `exists`, and the `&`, `|` and `~` connectives. The same program runs
// in four engines at once: join memories of 101 buckets and of one bucket,
// each with and without shared right memories.
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
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/rules/activation.h"
#include "zephro/rules/rete_network.h"

#include "testing/engine_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZEPHRO_DIFF_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEPHRO_DIFF_SANITIZED 1
#endif
#endif

namespace zephro::testing {
namespace {

// --- values ----------------------------------------------------------------------------------

// A small domain keeps matches frequent. The integer 2 and the float 2.0 are
// different values; "p" is the one atom.
constexpr std::array<const char*, 5> kValueText = {"0", "1", "2", "2.0", "p"};
constexpr int kAtom = 4;

bool IsNumber(int v) {
  return v != kAtom;
}
double Number(int v) {
  return v == 3 ? 2.0 : static_cast<double>(v);
}

// --- programs --------------------------------------------------------------------------------

constexpr char kTemplate[] = "rec";  // (deftemplate rec (slot s) (multislot m))
constexpr char kTemplateText[] = "(deftemplate rec (slot s) (multislot m))";

struct Fact {
  std::string relation;  // an ordered relation, or the template
  int s = 0;             // the template's single slot
  std::vector<int> m;    // the ordered fields, or the template's multislot

  bool operator==(const Fact&) const = default;

  std::string Text() const {
    std::string values;
    for (int v : m) {
      values += std::string(" ") + kValueText[static_cast<std::size_t>(v)];
    }
    if (relation == kTemplate) {
      return "(" + relation + " (s " + kValueText[static_cast<std::size_t>(s)] + ") (m" + values +
             "))";
    }
    return "(" + relation + values + ")";
  }
};

// One test of a field: a constant or a variable bound before, maybe negated.
struct Term {
  bool negated = false;
  std::string var;  // empty for a constant
  int value = 0;

  std::string Text() const {
    return (negated ? "~" : "") +
           (var.empty() ? std::string(kValueText[static_cast<std::size_t>(value)]) : var);
  }
};
using Chain = std::vector<Term>;  // terms joined by "&"

// One field of a sequence (ordered fields or a multislot), or the single slot.
// A single field is an optional leading variable and alternatives joined by
// "|", each a chain of terms joined by "&": `?x&~1`, `1|2`, `?a|?b`,
// `~?a&1|2`. A leading variable not bound before binds the field and the
// alternatives constrain it (`?x&1|2`); one bound before must equal the field
// and then stands with one chain at most. A multifield field is `$?` or a
// multifield variable.
struct Field {
  bool multi = false;
  std::string var;  // the leading variable; "" for none (or for "$?")
  std::vector<Chain> alternatives;

  std::string Text() const {
    if (multi) {
      return var.empty() ? "$?" : var;
    }
    std::string text = var;
    std::string alts;
    for (const Chain& chain : alternatives) {
      std::string c;
      for (const Term& t : chain) {
        c += (c.empty() ? "" : "&") + t.Text();
      }
      alts += (alts.empty() ? "" : "|") + c;
    }
    if (text.empty()) {
      return alts.empty() ? "?" : alts;
    }
    return alts.empty() ? text : text + "&" + alts;
  }
};

// The expression of a `test` element.
struct Check {
  enum Op { kGreater, kLess, kEq, kNeq, kLonger } op = kEq;
  std::string left;   // a variable; a multifield variable for kLonger
  std::string right;  // a variable, or "" for `value`
  int value = 0;

  std::string Text() const {
    const std::string r = right.empty() ? kValueText[static_cast<std::size_t>(value)] : right;
    switch (op) {
      case kGreater:
      case kLess: {
        // Only numbers compare; the atom fails the test instead of raising.
        std::string guard = "(numberp " + left + ")";
        if (!right.empty()) {
          guard += " (numberp " + right + ")";
        }
        return "(test (and " + guard + " (" + (op == kGreater ? ">" : "<") + " " + left + " " + r +
               ")))";
      }
      case kEq:
        return "(test (eq " + left + " " + r + "))";
      case kNeq:
        return "(test (neq " + left + " " + r + "))";
      case kLonger:
        return "(test (> (length$ " + left + ") " + r + "))";
    }
    return {};
  }
};

struct Pattern {
  enum Kind { kOrdered, kTemplate, kTest } kind = kOrdered;
  int negation = 0;  // 0 positive, 1 `not`, 2 `exists`
  std::string relation;
  std::optional<Field> slot;  // the template's (s ...), absent when unconstrained
  bool constrains_m = true;   // whether the template pattern has (m ...)
  bool m_first = false;       // the template pattern writes (m ...) before (s ...)
  std::vector<Field> m;       // the ordered fields, or the multislot's
  Check check;

  std::string Text() const {
    std::string text;
    if (kind == kTest) {
      text = check.Text();
    } else {
      std::string fields;
      for (const Field& f : m) {
        fields += " " + f.Text();
      }
      if (kind == kOrdered) {
        text = "(" + relation + fields + ")";
      } else {
        const std::string s = slot ? " (s " + slot->Text() + ")" : "";
        const std::string ms = constrains_m ? " (m" + fields + ")" : "";
        text = "(" + relation + (m_first ? ms + s : s + ms) + ")";
      }
    }
    if (negation == 1) {
      return "(not " + text + ")";
    }
    if (negation == 2) {
      return "(exists " + text + ")";
    }
    return text;
  }
};

struct Rule {
  std::string name;
  std::vector<Pattern> patterns;

  std::string Text() const {
    std::string text = "(defrule " + name;
    for (const Pattern& p : patterns) {
      text += " " + p.Text();
    }
    return text + " =>)";
  }
};

struct Op {
  enum Kind { kDefine, kAssert, kRetract } kind = kAssert;
  int rule = 0;     // kDefine
  Fact fact;        // kAssert
  int target = -1;  // kRetract: the index of the op that asserted the fact, or -1
};

struct Program {
  std::vector<Rule> rules;
  std::vector<Op> ops;
};

// --- the naive matcher ---------------------------------------------------------------------------

// Variables by their text ("?x", "$?u"); a single-field variable holds one value.
using Bindings = std::map<std::string, std::vector<int>>;

bool TermHolds(const Term& t, int v, const Bindings& b) {
  const bool equal = t.var.empty() ? v == t.value : b.at(t.var) == std::vector<int>{v};
  return equal != t.negated;
}

bool FieldHolds(const Field& f, int v, Bindings& b) {
  if (!f.var.empty()) {
    auto it = b.find(f.var);
    if (it != b.end() && it->second != std::vector<int>{v}) {
      return false;
    }
  }
  bool any = f.alternatives.empty();
  for (const Chain& chain : f.alternatives) {
    any = any || std::all_of(chain.begin(), chain.end(),
                             [&](const Term& t) { return TermHolds(t, v, b); });
  }
  if (!any) {
    return false;
  }
  if (!f.var.empty()) {
    b[f.var] = {v};
  }
  return true;
}

struct Way {
  Bindings b;
  std::string splits;  // the segment lengths of the multifield fields
};

// Every way `fields[i..]` match `values[pos..]`.
void MatchSequence(const std::vector<Field>& fields, std::size_t i, const std::vector<int>& values,
                   std::size_t pos, const Bindings& b, const std::string& splits,
                   std::vector<Way>& out) {
  if (i == fields.size()) {
    if (pos == values.size()) {
      out.push_back({b, splits});
    }
    return;
  }
  const Field& f = fields[i];
  if (!f.multi) {
    Bindings next = b;
    if (pos < values.size() && FieldHolds(f, values[pos], next)) {
      MatchSequence(fields, i + 1, values, pos + 1, next, splits, out);
    }
    return;
  }
  for (std::size_t len = 0; pos + len <= values.size(); ++len) {
    const std::vector<int> segment(values.begin() + static_cast<std::ptrdiff_t>(pos),
                                   values.begin() + static_cast<std::ptrdiff_t>(pos + len));
    Bindings next = b;
    if (!f.var.empty()) {
      auto it = next.find(f.var);
      if (it != next.end() && it->second != segment) {
        continue;
      }
      next[f.var] = segment;
    }
    MatchSequence(fields, i + 1, values, pos + len, next, splits + std::to_string(len) + ",", out);
  }
}

// The template's slots are taken in the order of their names, m before s, as
// the engine takes them: the first occurrence of a variable in that order binds
// it.
std::vector<Way> MatchPattern(const Pattern& p, const Fact& f, const Bindings& b) {
  std::vector<Way> ways;
  if (f.relation != p.relation) {
    return ways;
  }
  if (p.kind == Pattern::kTemplate && !p.constrains_m) {
    ways.push_back({b, ""});
  } else {
    MatchSequence(p.m, 0, f.m, 0, b, "", ways);
  }
  if (p.kind == Pattern::kTemplate && p.slot) {
    std::erase_if(ways, [&](Way& way) { return !FieldHolds(*p.slot, f.s, way.b); });
  }
  return ways;
}

bool CheckHolds(const Check& c, const Bindings& b) {
  const std::vector<int>& left = b.at(c.left);
  if (c.op == Check::kLonger) {
    return static_cast<int>(left.size()) > c.value;
  }
  const int l = left.at(0);
  const int r = c.right.empty() ? c.value : b.at(c.right).at(0);
  switch (c.op) {
    case Check::kGreater:
      return IsNumber(l) && IsNumber(r) && Number(l) > Number(r);
    case Check::kLess:
      return IsNumber(l) && IsNumber(r) && Number(l) < Number(r);
    case Check::kEq:
      return l == r;
    case Check::kNeq:
      return l != r;
    case Check::kLonger:
      break;
  }
  return false;
}

struct LiveFact {
  std::int32_t id;
  Fact fact;
};

// Adds to `out` one entry per match of `rule`: "name: ids#splits". The part
// before '#' is what an activation shows.
void Enumerate(const Rule& rule, std::size_t index, const Bindings& b, const std::string& ids,
               const std::string& splits, const std::vector<LiveFact>& facts,
               std::multiset<std::string>& out) {
  if (index == rule.patterns.size()) {
    out.insert(rule.name + ":" + ids + "#" + splits);
    return;
  }
  const Pattern& p = rule.patterns[index];
  if (p.kind == Pattern::kTest) {
    if (CheckHolds(p.check, b)) {
      Enumerate(rule, index + 1, b, ids + " -1", splits + "/", facts, out);
    }
    return;
  }
  if (p.negation > 0) {
    // Variables first met inside the element stay there.
    const bool any = std::any_of(facts.begin(), facts.end(), [&](const LiveFact& f) {
      return !MatchPattern(p, f.fact, b).empty();
    });
    if (any == (p.negation == 2)) {
      Enumerate(rule, index + 1, b, ids + " -1", splits + "/", facts, out);
    }
    return;
  }
  for (const LiveFact& f : facts) {
    for (const Way& way : MatchPattern(p, f.fact, b)) {
      Enumerate(rule, index + 1, way.b, ids + " " + std::to_string(f.id), splits + "/" + way.splits,
                facts, out);
    }
  }
}

std::string Shown(const std::string& match) {
  return match.substr(0, match.find('#'));
}

std::multiset<std::string> Shown(const std::multiset<std::string>& matches) {
  std::multiset<std::string> shown;
  for (const std::string& m : matches) {
    shown.insert(Shown(m));
  }
  return shown;
}

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
      key += " " + std::to_string(f == &fx.Engine().NullFact() ? -1 : f->GetID());
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
      Enumerate(program.rules[r], 0, {}, "", "", facts, after);
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

// --- generating programs -------------------------------------------------------------------------

// What a family of programs uses beyond single-field variables and constants.
struct Features {
  const char* name;
  int multi_percent;  // how often a field is a multifield one
  int max_multi;      // multifield fields per pattern at most
  bool templates;
  bool tests;
  bool negation;
  bool connectives;
};

class Generator {
 public:
  Generator(const Features& features, unsigned seed) : features_(features), rng_(seed) {}

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

// --- shrinking -----------------------------------------------------------------------------------

// Whether every variable a rule tests is bound before, a variable first met
// inside a negation appears nowhere else, every field has one of the forms
// the generator makes, and the rule starts with a positive pattern: what a
// generated rule keeps and a shrunk one must keep.
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

// Candidate simplifications of `program`, smallest first.
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

// --- the test -----------------------------------------------------------------------------------

// A few thousand programs in all; fewer under the address sanitizer. A
// program that disagrees is shrunk in at most so many runs.
#ifdef ZEPHRO_DIFF_SANITIZED
constexpr int kProgramsPerFamily = 100;
constexpr int kShrinkRuns = 300;
#else
constexpr int kProgramsPerFamily = 1000;
constexpr int kShrinkRuns = 2000;
#endif

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

void PrintTo(const Features& features, std::ostream* out) {
  *out << features.name;
}

class DifferentialProgramsTest : public ::testing::TestWithParam<Features> {};

TEST_P(DifferentialProgramsTest, EnginesAgreeWithNaiveMatcherAfterEveryStep) {
  const Features& features = GetParam();
  const std::string name = features.name;
  std::seed_seq seed(name.begin(), name.end());
  std::array<unsigned, 1> first{};
  seed.generate(first.begin(), first.end());
  Generator generator(features, first[0]);
  // The first program that disagrees in each way, and how many do.
  struct Kind {
    int count = 0;
    int index = 0;
    Program program;
  };
  std::map<std::string, Kind> kinds;
  Coverage coverage;
  for (int n = 0; n < kProgramsPerFamily; ++n) {
    const Program program = generator.Make();
    for (const Rule& rule : program.rules) {
      ASSERT_TRUE(Valid(rule)) << rule.Text();
      coverage.Count(rule);
    }
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
  // Each family uses the constructs it is about in many of its rules.
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
  for (const auto& [what, kind] : kinds) {
    ADD_FAILURE() << what << ": " << kind.count << " of " << kProgramsPerFamily << " programs of "
                  << name << ", the first program " << kind.index << ":\n"
                  << Report(kind.program) << "\nshrunk:\n"
                  << Report(Shrink(kind.program, what, kShrinkRuns));
  }
}

const Features kFamilies[] = {
    // Multifield variables shared between patterns, several wildcards per pattern.
    {"multifield", 45, 3, false, false, false, false},
    // The template's single slot and multislot next to ordered facts.
    {"templates", 35, 3, true, false, false, false},
    {"tests", 30, 2, false, true, false, false},
    {"negation", 30, 2, false, false, true, false},
    {"connectives", 15, 2, false, false, false, true},
    {"everything", 30, 3, true, true, true, true},
};

INSTANTIATE_TEST_SUITE_P(DifferentialPrograms, DifferentialProgramsTest,
                         ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Features>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace zephro::testing

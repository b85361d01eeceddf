#include "testing/reference_matcher.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace zephro::testing::reference {

bool IsNumber(int v) {
  return v != kAtom;
}

double Number(int v) {
  return v == 3 ? 2.0 : static_cast<double>(v);
}

namespace {

std::string ValueText(int v) {
  return kValueText[static_cast<std::size_t>(v)];
}

}  // namespace

// --- text ----------------------------------------------------------------------------------------

std::string Fact::Text() const {
  std::string values;
  for (int v : m) {
    values += " " + ValueText(v);
  }
  if (relation == kTemplate) {
    return "(" + relation + " (s " + ValueText(s) + ") (m" + values + "))";
  }
  return "(" + relation + values + ")";
}

std::string Term::Text() const {
  return (negated ? "~" : "") + (var.empty() ? ValueText(value) : var);
}

std::string Field::Text() const {
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

std::string Check::Text() const {
  const std::string r = right.empty() ? ValueText(value) : right;
  switch (op) {
    case kGreater:
    case kLess: {
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

std::string Pattern::Text() const {
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

std::string Rule::Text() const {
  std::string text = "(defrule " + name;
  for (const Pattern& p : patterns) {
    text += " " + p.Text();
  }
  return text + " =>)";
}

// --- matching ------------------------------------------------------------------------------------

namespace {

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

}  // namespace

void AddMatches(const Rule& rule, const std::vector<LiveFact>& facts,
                std::multiset<std::string>& out) {
  Enumerate(rule, 0, {}, "", "", facts, out);
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

}  // namespace zephro::testing::reference

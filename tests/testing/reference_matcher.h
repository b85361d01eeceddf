#pragma once

// A slow, obviously correct matcher to hold the matching network to: every
// fact tried against every pattern of a rule in every way, by plain recursion
// over plain data.
//
// Rules and facts are data over a small domain of values, and each writes
// itself in the rule language (Text), so that a test can give an engine the
// same program it gives the reference. The rules use single-field and
// multifield variables, the "&", "|" and "~" connectives, constants, `not`,
// `exists` and `test` elements, over ordered facts and over the facts of one
// template with a single slot and a multislot.
//
// A match is a rule, the facts of its patterns (-1 where a `not`, `exists` or
// `test` element stands) and the segment each multifield field takes: one
// fact can match one pattern in several ways, and each way is a match of its
// own, written
//
//   "name: 3 -1 5#/1,0,//"   the rule, the fact ids, '#', the segment lengths
//
// The part before '#' (Shown) is what an activation shows: the rule and the
// fact ids, as the differential tests key an engine's activations.

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zephro::testing::reference {

// --- values --------------------------------------------------------------------------------------

// A small domain keeps matches frequent. A value is an index into kValueText:
// the integers 0, 1 and 2, the float 2.0 (a value other than the integer 2)
// and the atom p.
inline constexpr std::array<const char*, 5> kValueText = {"0", "1", "2", "2.0", "p"};
inline constexpr int kAtom = 4;

bool IsNumber(int v);
double Number(int v);  // REQUIRES: IsNumber(v)

// --- facts ---------------------------------------------------------------------------------------

// The one template.
inline constexpr char kTemplate[] = "rec";
inline constexpr char kTemplateText[] = "(deftemplate rec (slot s) (multislot m))";

struct Fact {
  std::string relation;  // an ordered relation, or kTemplate
  int s = 0;             // the template's single slot
  std::vector<int> m;    // the ordered fields, or the template's multislot

  bool operator==(const Fact&) const = default;
  std::string Text() const;  // (a 1 p), (rec (s 2) (m 0 2.0))
};

// A fact in working memory under the id the engine gave it.
struct LiveFact {
  std::int32_t id;
  Fact fact;
};

// --- rules ---------------------------------------------------------------------------------------

// One test of a field: a constant or a variable bound before, maybe negated.
struct Term {
  bool negated = false;
  std::string var;  // "?x"; empty for a constant
  int value = 0;

  std::string Text() const;
};
using Chain = std::vector<Term>;  // terms joined by "&"

// One field of a sequence (ordered fields or a multislot), or the single slot.
// A single field is an optional leading variable and alternatives joined by
// "|", each a chain of terms joined by "&": `?x&~1`, `1|2`, `?a|?b`,
// `~?a&1|2`. A leading variable not bound before binds the field and the
// alternatives constrain it (`?x&1|2`); one bound before must equal the field
// and then stands with one chain at most. A multifield field is `$?` or a
// multifield variable ("$?u").
struct Field {
  bool multi = false;
  std::string var;  // the leading variable; "" for none (or for "$?")
  std::vector<Chain> alternatives;

  std::string Text() const;  // "?" for a single field that tests nothing
};

// The expression of a `test` element.
struct Check {
  enum Op { kGreater, kLess, kEq, kNeq, kLonger } op = kEq;
  std::string left;   // a variable; a multifield variable for kLonger
  std::string right;  // a variable, or "" for `value`
  int value = 0;

  // Only numbers compare: a comparison with the atom fails instead of raising.
  std::string Text() const;
};

struct Pattern {
  enum Kind { kOrdered, kTemplate, kTest } kind = kOrdered;
  int negation = 0;  // 0 positive, 1 `not`, 2 `exists`
  std::string relation;
  std::optional<Field> slot;  // the template's (s ...), absent when unconstrained
  bool constrains_m = true;   // whether the template pattern has (m ...)
  bool m_first = false;       // the template pattern writes (m ...) before (s ...)
  std::vector<Field> m;       // the ordered fields, or the multislot's
  Check check;                // kTest

  std::string Text() const;
};

// A rule with no actions. Variables are bound by the first positive pattern
// that has them (in a template pattern, the multislot before the single slot,
// as the engine takes slots in the order of their names); a variable first met
// inside `not` or `exists` stays there.
struct Rule {
  std::string name;
  std::vector<Pattern> patterns;

  std::string Text() const;  // (defrule name ... =>)
};

// --- matching ------------------------------------------------------------------------------------

// Adds to `out` one entry per match of `rule` over `facts`, as described at the
// top of this file.
void AddMatches(const Rule& rule, const std::vector<LiveFact>& facts,
                std::multiset<std::string>& out);

// What an activation shows of a match, or of each match of a set.
std::string Shown(const std::string& match);
std::multiset<std::string> Shown(const std::multiset<std::string>& matches);

}  // namespace zephro::testing::reference

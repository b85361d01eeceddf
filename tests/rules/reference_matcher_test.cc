// The reference matcher of the differential tests (testing/reference_matcher.h)
// on small cases worked out by hand: the matches it finds, and the text it
// writes rules and facts in, which the engines must read as the same rules.

#include "testing/reference_matcher.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zephro::testing::reference {
namespace {

// Values by name, as kValueText writes them.
constexpr int k0 = 0;
constexpr int k1 = 1;
constexpr int k2 = 2;
constexpr int k2f = 3;  // 2.0
constexpr int kP = kAtom;

Term Is(int v) {
  return {false, "", v};
}
Term IsNot(int v) {
  return {true, "", v};
}
Term Equals(const char* var) {
  return {false, var, 0};
}
Term Differs(const char* var) {
  return {true, var, 0};
}

Field Var(const char* var) {
  return {false, var, {}};
}
Field Const(int v) {
  return {false, "", {{Is(v)}}};
}
Field Any() {
  return {};
}
Field Multi(const char* var = "") {
  return {true, var, {}};
}
// A field of alternatives joined by "|", each a chain joined by "&", with an
// optional leading variable.
Field Either(std::vector<Chain> alternatives, const char* var = "") {
  return {false, var, std::move(alternatives)};
}

Pattern Ordered(const char* relation, std::vector<Field> fields, int negation = 0) {
  Pattern p;
  p.relation = relation;
  p.m = std::move(fields);
  p.negation = negation;
  return p;
}
Pattern Not(Pattern p) {
  p.negation = 1;
  return p;
}
Pattern Exists(Pattern p) {
  p.negation = 2;
  return p;
}
// A pattern of the template: (m ...) when `m` is given, (s ...) when `s` is.
Pattern Rec(std::optional<Field> s, std::optional<std::vector<Field>> m) {
  Pattern p;
  p.kind = Pattern::kTemplate;
  p.relation = kTemplate;
  p.slot = std::move(s);
  p.constrains_m = m.has_value();
  if (m) {
    p.m = std::move(*m);
  }
  return p;
}
Pattern TestOf(Check check) {
  Pattern p;
  p.kind = Pattern::kTest;
  p.check = std::move(check);
  return p;
}

Fact F(const char* relation, std::vector<int> fields) {
  return {relation, 0, std::move(fields)};
}
Fact RecFact(int s, std::vector<int> m) {
  return {kTemplate, s, std::move(m)};
}

struct MatchCase {
  const char* what;
  std::vector<Pattern> patterns;
  std::vector<Fact> facts;  // f-1, f-2, ... in order
  std::set<std::string> matches;
};

// A match is "r: <fact ids>#<segment lengths>": '/' opens each element, and
// each multifield field of a positive pattern adds its length and ','.
TEST(ReferenceMatcherTest, FindsEveryMatchInEveryWay) {
  const MatchCase cases[] = {
      {"a fact matches two multifield fields in as many ways as it splits",
       {Ordered("a", {Multi("$?x"), Multi("$?y")})},
       {F("a", {k1, k2})},
       {"r: 1#/0,2,", "r: 1#/1,1,", "r: 1#/2,0,"}},
      {"a multifield variable shared between patterns takes the same segment",
       {Ordered("a", {Multi("$?x")}), Ordered("b", {Multi("$?x")})},
       {F("a", {k1, k2}), F("b", {k1, k2}), F("b", {k1}), F("b", {})},
       {"r: 1 2#/2,/2,"}},
      {"wildcards take any segment around a constant",
       {Ordered("a", {Multi(), Const(k1), Multi()})},
       {F("a", {k1, k0, k1}), F("a", {k0})},
       {"r: 1#/0,2,", "r: 1#/2,0,"}},
      {"a variable twice in a pattern binds once",
       {Ordered("a", {Var("?x"), Var("?x")})},
       {F("a", {k1, k1}), F("a", {k1, k2})},
       {"r: 1#/"}},
      {"one fact can match two patterns",
       {Ordered("a", {Var("?x")}), Ordered("a", {Var("?y")})},
       {F("a", {k0}), F("a", {k1})},
       {"r: 1 1#//", "r: 1 2#//", "r: 2 1#//", "r: 2 2#//"}},
      {"the integer 2 and the float 2.0 are different values",
       {Ordered("a", {Const(k2)})},
       {F("a", {k2}), F("a", {k2f}), F("a", {k2, k2})},
       {"r: 1#/"}},
      {"not: no fact matches with the variables bound before",
       {Ordered("a", {Var("?x")}), Not(Ordered("b", {Var("?x")}))},
       {F("a", {k1}), F("a", {k2}), F("b", {k1})},
       {"r: 2 -1#//"}},
      {"exists: one match however many facts match",
       {Ordered("a", {Var("?x")}), Exists(Ordered("b", {Var("?x"), Any()}))},
       {F("a", {k1}), F("a", {k2}), F("b", {k1, k0}), F("b", {k1, k2})},
       {"r: 1 -1#//"}},
      {"a variable first met inside a not stays there",
       {Ordered("a", {Var("?x")}), Not(Ordered("b", {Var("?n"), Var("?n")}))},
       {F("a", {k0}), F("b", {k1, k2})},
       {"r: 1 -1#//"}},
      {"... and any fact matching it there blocks every match",
       {Ordered("a", {Var("?x")}), Not(Ordered("b", {Var("?n"), Var("?n")}))},
       {F("a", {k0}), F("b", {k1, k2}), F("b", {k2, k2})},
       {}},
      {"?x&~1|2 binds ?x to anything but 1",
       {Ordered("a", {Either({{IsNot(k1)}, {Is(k2)}}, "?x")})},
       {F("a", {k0}), F("a", {k1}), F("a", {k2}), F("a", {kP})},
       {"r: 1#/", "r: 3#/", "r: 4#/"}},
      {"?x|?y takes either bound value",
       {Ordered("a", {Var("?x")}), Ordered("b", {Var("?y")}),
        Ordered("c", {Either({{Equals("?x")}, {Equals("?y")}})})},
       {F("a", {k0}), F("b", {k1}), F("c", {k0}), F("c", {k1}), F("c", {k2})},
       {"r: 1 2 3#///", "r: 1 2 4#///"}},
      {"~?x&~2 leaves out the bound value and the constant",
       {Ordered("a", {Var("?x")}), Ordered("b", {Either({{Differs("?x"), IsNot(k2)}})})},
       {F("a", {k0}), F("b", {k0}), F("b", {k1}), F("b", {k2}), F("b", {k2f})},
       {"r: 1 3#//", "r: 1 5#//"}},
      {"a comparison holds for numbers only, 2.0 above 1 as 2 is",
       {Ordered("a", {Var("?x")}), TestOf({Check::kGreater, "?x", "", k1})},
       {F("a", {k0}), F("a", {k2}), F("a", {k2f}), F("a", {kP})},
       {"r: 2 -1#//", "r: 3 -1#//"}},
      {"eq between two variables",
       {Ordered("a", {Var("?x"), Var("?y")}), TestOf({Check::kEq, "?x", "?y", 0})},
       {F("a", {k1, k1}), F("a", {k1, k2}), F("a", {kP, kP})},
       {"r: 1 -1#//", "r: 3 -1#//"}},
      {"the length of a multifield variable",
       {Ordered("a", {Multi("$?x")}), TestOf({Check::kLonger, "$?x", "", 1})},
       {F("a", {k1, k2}), F("a", {k0}), F("a", {})},
       {"r: 1 -1#/2,/"}},
      {"the multislot binds before the single slot",
       {Rec(Var("?x"), std::vector<Field>{Var("?x"), Multi()})},
       {RecFact(k1, {k1, k2}), RecFact(k1, {k2, k1}), F("a", {k1, k1})},
       {"r: 1#/1,"}},
      {"a template pattern without (m ...) takes any multislot",
       {Rec(Const(k2), std::nullopt)},
       {RecFact(k2, {}), RecFact(k2, {k0, k1}), RecFact(k2f, {k0})},
       {"r: 1#/", "r: 2#/"}},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Rule rule{"r", c.patterns};
    std::vector<LiveFact> facts;
    for (const Fact& fact : c.facts) {
      facts.push_back({static_cast<std::int32_t>(facts.size() + 1), fact});
    }
    std::multiset<std::string> matches;
    AddMatches(rule, facts, matches);
    EXPECT_EQ(matches, std::multiset<std::string>(c.matches.begin(), c.matches.end()))
        << rule.Text();
  }
}

TEST(ReferenceMatcherTest, ShowsWhatAnActivationShows) {
  EXPECT_EQ(Shown("r: 1 -1 2#/0,2,//"), "r: 1 -1 2");
  EXPECT_EQ(Shown(std::multiset<std::string>{"r: 1#/0,2,", "r: 1#/2,0,", "q: 2#/"}),
            (std::multiset<std::string>{"q: 2", "r: 1", "r: 1"}));
}

// The text must say what the reference matches: the engines read it.
TEST(ReferenceMatcherTest, WritesRulesAndFactsInTheRuleLanguage) {
  const Rule rule{"r",
                  {Ordered("a", {Var("?x"), Multi("$?u"), Any(), Multi()}),
                   Not(Ordered("b", {Either({{IsNot(k1)}, {Is(k2f)}}, "?y")})),
                   Exists(Ordered("b", {Either({{Differs("?x"), Is(kP)}})})),
                   Rec(Either({{Equals("?x")}, {Is(k0)}}), std::vector<Field>{Multi("$?u")}),
                   TestOf({Check::kLess, "?x", "", k2}), TestOf({Check::kLonger, "$?u", "", 1})}};
  EXPECT_EQ(rule.Text(),
            "(defrule r (a ?x $?u ? $?) (not (b ?y&~1|2.0)) (exists (b ~?x&p))"
            " (rec (s ?x|0) (m $?u)) (test (and (numberp ?x) (< ?x 2)))"
            " (test (> (length$ $?u) 1)) =>)");
  Pattern m_first = Rec(Var("?z"), std::vector<Field>{});
  m_first.m_first = true;
  EXPECT_EQ(m_first.Text(), "(rec (m) (s ?z))");
  EXPECT_EQ(F("a", {k0, k2f, kP}).Text(), "(a 0 2.0 p)");
  EXPECT_EQ(RecFact(k1, {}).Text(), "(rec (s 1) (m))");
  EXPECT_EQ(RecFact(kP, {k2, k2}).Text(), "(rec (s p) (m 2 2))");
}

}  // namespace
}  // namespace zephro::testing::reference

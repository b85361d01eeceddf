// Join tests decided in place (slot equality, comparisons of numbers) must
// give the verdicts the tests themselves give: every pair of values meets
// every rule, and the rules activated are those whose condition, evaluated as
// an ordinary call on the same values, is TRUE.

#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

struct Condition {
  std::string rule;  // the rule's name and LHS
  std::string call;  // the same condition as a call on ?x and ?y
};

// The rule names on the agenda.
std::set<std::string> Activated(EngineFixture& fx) {
  std::set<std::string> names;
  for (const std::string& line : fx.Agenda()) {
    names.insert(line.substr(0, line.find(':')));
  }
  return names;
}

// The rules whose call holds for x and y, asked of the function itself; the
// messages of the calls that raise go to `errors`.
std::set<std::string> Expected(EngineFixture& fx, const std::vector<Condition>& conditions,
                               const std::string& x, const std::string& y,
                               std::set<std::string>& errors) {
  std::set<std::string> names;
  for (const Condition& c : conditions) {
    std::string call = c.call;
    for (auto [var, value] : {std::pair{"?x", x}, std::pair{"?y", y}}) {
      for (auto at = call.find(var); at != std::string::npos; at = call.find(var)) {
        call.replace(at, 2, value);
      }
    }
    fx.TakeOutput();
    try {
      fx.Engine().Parse("(printout t " + call + ")");
    } catch (const EIEException& e) {
      errors.insert(e.what());
    }
    if (fx.TakeOutput() == "TRUE") {
      names.insert(c.rule.substr(0, c.rule.find(' ')));
    }
  }
  return names;
}

void CheckEveryPair(const std::vector<Condition>& conditions,
                    const std::vector<std::string>& values) {
  EngineFixture fx;
  std::string text =
      "(deftemplate l (slot v) (slot w) (multislot m))\n"
      "(deftemplate r (slot v) (slot w) (multislot m))\n";
  for (const Condition& c : conditions) {
    text += "(defrule " + c.rule + " => )\n";
  }
  fx.Engine().Parse(text);
  for (const std::string& x : values) {
    for (const std::string& y : values) {
      SCOPED_TRACE(x + " against " + y);
      std::set<std::string> errors;
      const std::set<std::string> expected = Expected(fx, conditions, x, y, errors);
      // Both orders of arrival: the left token waiting for the fact, and
      // the fact waiting for the left token. A call that raises raises while
      // the facts meet.
      const std::string l = "(assert (l (v " + x + ") (w " + x + ") (m " + x + " 0)))";
      const std::string r = "(assert (r (v " + y + ") (w " + y + ") (m 0 " + y + ")))";
      for (const std::string& facts : {l + r, r + l}) {
        fx.Engine().Parse("(reset)");
        try {
          fx.Engine().Parse(facts);
          EXPECT_TRUE(errors.empty());
          EXPECT_EQ(Activated(fx), expected);
        } catch (const EIEException& e) {
          EXPECT_THAT(errors, ::testing::Contains(std::string(e.what())));
        }
      }
    }
  }
}

TEST(TestProgramTest, SlotEqualityAcrossKinds) {
  // Texts and numbers that print alike must still be told apart; equal texts
  // kept apart (texts this long are not shared: each has a block of its
  // own) must still meet.
  CheckEveryPair(
      {
          {"same (l (v ?x)) (r (v ?x))", "(eq ?x ?y)"},
          {"differ (l (v ?x)) (r (v ~?x))", "(neq ?x ?y)"},
          {"same-at (l (m ?x $?)) (r (m ? ?x))", "(eq ?x ?y)"},
          {"blocked (l (v ?x)) (not (r (v ?x)))", "(neq ?x ?y)"},
          {"both (l (v ?x) (w ?z)) (r (v ?x) (w ?z))", "(eq ?x ?y)"},
      },
      {"1", "1.0", "-1", "2.5", "a", "\"a\"", "\"1\"", "nil", "A", "-2147483648", "0",
       "(sym-cat a)", "(str-cat a)", "(sym-cat 1)", "abcdefghijabcdefghijabcdefghijabcdefghij",
       "(sym-cat abcdefghijabcdefghij abcdefghijabcdefghij)",
       "(str-cat abcdefghijabcdefghij abcdefghijabcdefghij)"});
}

TEST(TestProgramTest, ComparisonsOfNumbers) {
  CheckEveryPair(
      {
          {"lt (l (v ?x)) (r (v ?y&:(< ?x ?y)))", "(< ?x ?y)"},
          {"le (l (v ?x)) (r (v ?y&:(<= ?x ?y)))", "(<= ?x ?y)"},
          {"gt (l (v ?x)) (r (v ?y&:(> ?x ?y)))", "(> ?x ?y)"},
          {"ge (l (v ?x)) (r (v ?y&:(>= ?x ?y)))", "(>= ?x ?y)"},
          {"eq (l (v ?x)) (r (v ?y&:(= ?y ?x)))", "(= ?y ?x)"},
          {"ne (l (v ?x)) (r (v ?y&:(<> ?x ?y)))", "(<> ?x ?y)"},
          {"not-lt (l (v ?x)) (r (v ?y&~:(< ?x ?y)))", "(not (< ?x ?y))"},
          {"const (l (v ?x)) (r (v ?y&:(< ?x 2)))", "(< ?x 2)"},
          {"by-test (l (v ?x)) (r (v ?y)) (test (>= ?y ?x))", "(>= ?y ?x)"},
          {"none-lower (l (v ?x)) (not (r (v ?y&:(< ?y ?x))))", "(>= ?y ?x)"},
      },
      {"1", "1.0", "2", "-1", "2.5", "-0.5", "100000"});
}

TEST(TestProgramTest, ArithmeticInComparisons) {
  // Integer results wrap to 32 bits as the call makes them: products and
  // sums of the large values must still compare as the call compares them.
  CheckEveryPair(
      {
          {"next (l (v ?x)) (r (v ?y&:(= ?y (+ ?x 1))))", "(= ?y (+ ?x 1))"},
          {"close (l (v ?x)) (r (v ?y)) (test (< (- ?y ?x) 2))", "(< (- ?y ?x) 2)"},
          {"big (l (v ?x)) (r (v ?y&:(> (* ?x ?y) 3)))", "(> (* ?x ?y) 3)"},
          {"nested (l (v ?x)) (r (v ?y&:(<= (- (* ?x 2) ?y) 0)))", "(<= (- (* ?x 2) ?y) 0)"},
          {"twice (l (v ?x)) (r (v ?y&:(< (+ ?x ?x) (+ ?y ?y))))", "(< (+ ?x ?x) (+ ?y ?y))"},
      },
      {"1", "2", "0", "-3", "1.5", "2000000000", "-2000000000", "2147483647", "1e300"});
}

TEST(TestProgramTest, EqualitiesAndAlternativesOfSlots) {
  // ?y&?x|?z reads (or (eq ?y ?x) (eq ?y ?z)); the left fact's m holds x,
  // then 0 in ?z. An alternative that is not `eq` leaves the test to the call.
  CheckEveryPair(
      {
          {"equal (l (v ?x)) (r (v ?y&:(eq ?y ?x)))", "(eq ?y ?x)"},
          {"unequal (l (v ?x)) (r (v ?y)) (test (neq ?x ?y))", "(neq ?x ?y)"},
          {"not-equal (l (v ?x)) (r (v ?y&~:(eq ?x ?y)))", "(not (eq ?x ?y))"},
          {"none-unequal (l (v ?x)) (not (r (v ?y&:(neq ?y ?x))))", "(not (neq ?y ?x))"},
          {"three-way (l (v ?x)) (r (v ?y&:(eq ?x ?y ?x)))", "(eq ?x ?y ?x)"},
          {"either (l (v ?x) (m ? ?z)) (r (v ?y&?x|?z))", "(or (eq ?y ?x) (eq ?y 0))"},
          {"three (l (v ?x) (m ?p ?z)) (r (v ?y&?z|?x|?p))",
           "(or (eq ?y 0) (eq ?y ?x) (eq ?y ?x))"},
          {"neither (l (v ?x) (m ? ?z)) (r (v ?y&~:(or (eq ?y ?x) (eq ?y ?z))))",
           "(not (or (eq ?y ?x) (eq ?y 0)))"},
          {"none-such (l (v ?x) (m ? ?z)) (not (r (v ?y&?x|?z)))",
           "(not (or (eq ?y ?x) (eq ?y 0)))"},
          {"by-test (l (v ?x) (m ? ?z)) (r (v ?y)) (test (or (eq ?y ?z) (eq ?x ?y)))",
           "(or (eq ?y 0) (eq ?x ?y))"},
          {"unlike (l (v ?x) (m ? ?z)) (r (v ?y&~?x|?z))", "(or (neq ?y ?x) (eq ?y 0))"},
      },
      {"0", "0.0", "1", "-1", "a", "\"a\"", "\"0\"", "nil",
       "(str-cat abcdefghijabcdefghij abcdefghijabcdefghij)"});
}

TEST(TestProgramTest, ANonNumberReportsWhatTheCallReports) {
  EngineFixture fx;
  fx.Engine().Parse(
      "(deftemplate l (slot v)) (deftemplate r (slot v))"
      "(defrule lt (l (v ?x)) (r (v ?y&:(< ?x ?y))) => )");
  std::string expected;
  try {
    fx.Engine().Parse("(printout t (< 1 abc))");
  } catch (const EIEException& e) {
    expected = e.what();
  }
  ASSERT_FALSE(expected.empty());
  fx.Engine().Parse("(assert (l (v 1)))");
  try {
    fx.Engine().Parse("(assert (r (v abc)))");
    ADD_FAILURE() << "no error";
  } catch (const EIEException& e) {
    EXPECT_EQ(std::string(e.what()), expected);
  }
  // The engine stays usable and the next number is compared in place.
  fx.Engine().Parse("(assert (r (v 3)))");
  EXPECT_THAT(Activated(fx), ::testing::ElementsAre("lt"));
}

TEST(TestProgramTest, ASlotAddedToTheTemplateMovesTheOthers) {
  // Slots are kept in name order: "a" comes before "b" and "d" and shifts
  // them; a join that remembered where they sat must notice.
  EngineFixture fx;
  fx.Engine().Parse(
      "(deftemplate item (slot b) (slot d))"
      "(defrule lower (item (b ?x)) (item (d ?y&:(< ?x ?y)) (b ?x)) => )"
      "(assert (item (b 1) (d 5)) (item (b 2) (d 3)))");
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 2);
  IFactTemplate* item = fx.Engine().FindFactTemplate("item");
  ASSERT_NE(item, nullptr);
  item->AddSlot("a", MakeRef<TIEValue>(7, TIEType::dtInteger));
  // Read at the old positions, the new facts would give other verdicts.
  fx.Engine().Parse("(assert (item (a 100) (b 1) (d 0)) (item (a 50) (b 9) (d 10)))");
  // New: (b 1 d 0) on the left of (b 1 d 5), and (b 9 d 10) with itself.
  EXPECT_EQ(fx.Engine().GetAgendaCount(), 4);
}

}  // namespace
}  // namespace zephro::testing

#include "input_buffer.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace zephro::shell {
namespace {

using ::testing::ElementsAreArray;

struct Case {
  const char* name;
  std::vector<std::string> lines;
  std::vector<bool> complete;  // Complete() after each line
  std::vector<std::string> expressions;
};

TEST(InputBufferTest, WaitsForBalancedInputAndSplitsIt) {
  const Case kCases[] = {
      {.name = "one call",
       .lines = {"(assert (a 1))"},
       .complete = {true},
       .expressions = {"(assert (a 1))"}},
      {.name = "a construct over several lines",
       .lines = {"(defrule r", "  (a ?x)", "  =>", "  (printout t ?x crlf))"},
       .complete = {false, false, false, true},
       .expressions = {"(defrule r\n  (a ?x)\n  =>\n  (printout t ?x crlf))"}},
      {.name = "parentheses in a string",
       .lines = {R"((printout t "(" crlf))"},
       .complete = {true},
       .expressions = {R"((printout t "(" crlf))"}},
      {.name = "an escaped quote does not end the string",
       .lines = {R"((printout t "a\"(" crlf))"},
       .complete = {true},
       .expressions = {R"((printout t "a\"(" crlf))"}},
      {.name = "a string over two lines",
       .lines = {R"((printout t "one)", R"(two" crlf))"},
       .complete = {false, true},
       .expressions = {"(printout t \"one\ntwo\" crlf)"}},
      {.name = "a comment after a call is dropped",
       .lines = {"(a) ; a comment ("},
       .complete = {true},
       .expressions = {"(a)"}},
      {.name = "a comment inside an expression stays in it",
       .lines = {"(a ; not the end )", ")"},
       .complete = {false, true},
       .expressions = {"(a ; not the end )\n)"}},
      {.name = "several expressions on a line",
       .lines = {"1.5 sym ?*g* (+ 1 2)"},
       .complete = {true},
       .expressions = {"1.5", "sym", "?*g*", "(+ 1 2)"}},
      {.name = "a token runs up to a parenthesis",
       .lines = {"abc(foo)x"},
       .complete = {true},
       .expressions = {"abc", "(foo)", "x"}},
      {.name = "a top-level string",
       .lines = {R"("a (string" next)"},
       .complete = {true},
       .expressions = {R"("a (string")", "next"}},
      {.name = "a stray closing parenthesis",
       .lines = {"(a))"},
       .complete = {true},
       .expressions = {"(a)", ")"}},
      {.name = "an unfinished expression is handed over as it is",
       .lines = {"(a) (b", "  (c 1)  "},
       .complete = {false, false},
       .expressions = {"(a)", "(b\n  (c 1)"}},
      {.name = "blank lines and comments are nothing",
       .lines = {"", "  \t ", "; only a comment"},
       .complete = {false, false, false},
       .expressions = {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    InputBuffer input;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      input.AddLine(c.lines[i]);
      EXPECT_EQ(input.Complete(), c.complete[i]) << "after line " << i;
    }
    EXPECT_THAT(input.TakeExpressions(), ElementsAreArray(c.expressions));
    EXPECT_TRUE(input.Empty());
    EXPECT_EQ(input.Text(), "");
  }
}

TEST(InputBufferTest, TellsEmptyInputAndCommentsApart) {
  InputBuffer input;
  input.AddLine("   ");
  EXPECT_TRUE(input.Empty());
  EXPECT_FALSE(input.HasComment());
  input.AddLine("(a ; why");
  EXPECT_FALSE(input.Empty());
  EXPECT_TRUE(input.HasComment());
  EXPECT_EQ(input.Text(), "   \n(a ; why\n");
  input.Clear();
  EXPECT_TRUE(input.Empty());
  EXPECT_FALSE(input.HasComment());
  input.AddLine("b");  // the buffer starts afresh: no comment left open
  EXPECT_TRUE(input.Complete());
}

}  // namespace
}  // namespace zephro::shell

#pragma once

// InputBuffer: the text typed at the shell's prompt, line by line, until it
// forms whole top-level expressions.
//
// The shell reads a line at a time; a construct may span many lines. The
// buffer tells when every parenthesis opened so far is closed (and no string
// is left open), and then splits what was typed into its top-level
// expressions, so that the shell can run them one at a time and an error in
// one does not drop the ones after it on the same line:
//
//   buffer.AddLine("(defrule r (a ?x)");   // Complete() is false
//   buffer.AddLine(" => (printout t ?x crlf)) (run)");
//   buffer.TakeExpressions();             // {"(defrule r ...crlf))", "(run)"}
//
// Strings (with their backslash escapes) and comments (from ";" to the end of
// the line) are skipped while counting parentheses; comments between
// top-level expressions are dropped, those inside one stay in its text. A bare
// token at the top level (a constant, a global variable) is an expression of
// its own, and so is a stray ")", which the parser then reports.
//
// Thread safety: none; a plain value.

#include <string>
#include <string_view>
#include <vector>

namespace zephro::shell {

class InputBuffer {
 public:
  // Appends `line` (without its line break) and a line break.
  void AddLine(std::string_view line);

  // True when nothing but blanks and comments was typed.
  bool Empty() const noexcept { return expressions_.empty() && !in_expression_; }
  // True when something was typed, every expression begun is finished and
  // no string is open: the time to run what was typed.
  bool Complete() const noexcept { return !Empty() && !in_expression_; }
  // True when a comment was typed.
  bool HasComment() const noexcept { return has_comment_; }
  // Everything typed since the buffer was last emptied, line breaks included.
  const std::string& Text() const noexcept { return text_; }

  // The expressions typed, each as its own text, in order, the last one
  // possibly unfinished; empties the buffer.
  std::vector<std::string> TakeExpressions();
  void Clear() { *this = InputBuffer(); }

 private:
  // Feeds one character of the text at position `at`.
  void Feed(char c, std::size_t at);
  void FinishExpression(std::size_t end);

  std::string text_;
  std::vector<std::string> expressions_;
  bool in_expression_ = false;  // between the first and the last character of one
  bool bare_token_ = false;     // the expression is a token outside parentheses
  std::size_t start_ = 0;       // where the expression being read begins in text_
  int depth_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;
  bool in_comment_ = false;
  bool has_comment_ = false;
};

}  // namespace zephro::shell

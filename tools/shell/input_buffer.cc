#include "input_buffer.h"

#include <utility>

namespace zephro::shell {

namespace {

// Characters that end a bare token (besides white space).
bool EndsToken(char c) {
  return c == '(' || c == ')' || c == '"' || c == ';';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

}  // namespace

void InputBuffer::AddLine(std::string_view line) {
  const std::size_t first = text_.size();
  text_.append(line);
  text_ += '\n';
  for (std::size_t at = first; at < text_.size(); ++at) {
    Feed(text_[at], at);
  }
}

void InputBuffer::Feed(char c, std::size_t at) {
  if (in_comment_) {
    in_comment_ = c != '\n';
    return;
  }
  if (in_string_) {
    if (escaped_) {
      escaped_ = false;
    } else if (c == '\\') {
      escaped_ = true;
    } else if (c == '"') {
      in_string_ = false;
      if (depth_ == 0) {
        FinishExpression(at + 1);  // a string at the top level
      }
    }
    return;
  }
  if (bare_token_ && (IsBlank(c) || EndsToken(c))) {
    FinishExpression(at);
  }
  if (c == ';') {
    in_comment_ = true;
    has_comment_ = true;
    return;
  }
  if (IsBlank(c)) {
    return;
  }
  if (!in_expression_) {
    in_expression_ = true;
    start_ = at;
    bare_token_ = c != '(' && c != ')' && c != '"';
  }
  if (c == '"') {
    in_string_ = true;
  } else if (c == '(') {
    ++depth_;
  } else if (c == ')') {
    // A ")" that closes nothing is an expression of its own.
    if (depth_ == 0 || --depth_ == 0) {
      FinishExpression(at + 1);
    }
  }
}

void InputBuffer::FinishExpression(std::size_t end) {
  expressions_.push_back(text_.substr(start_, end - start_));
  in_expression_ = false;
  bare_token_ = false;
}

std::vector<std::string> InputBuffer::TakeExpressions() {
  if (in_expression_) {
    std::size_t end = text_.size();
    while (end > start_ && IsBlank(text_[end - 1])) {
      --end;
    }
    FinishExpression(end);
  }
  std::vector<std::string> taken = std::move(expressions_);
  Clear();
  return taken;
}

}  // namespace zephro::shell

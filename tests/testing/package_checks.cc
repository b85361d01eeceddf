#include "testing/package_checks.h"

#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/functions/user_function.h"
#include "zephro/values/messages.h"

#include "testing/function_calls.h"

namespace zephro::testing {
namespace {

bool IsLower(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsKeywordChar(char c) {
  return IsLower(c) || (c >= 'A' && c <= 'Z') || c == '-';
}

// A reader of syntax texts by recursive descent, after the grammar in the
// header; the first error stops it.
class SyntaxReader {
 public:
  explicit SyntaxReader(std::string_view text) : text_(text) {}

  std::string Read() {
    Elements('\0');
    if (error_.empty() && pos_ != text_.size()) {
      Fail("unexpected text");
    }
    return error_;
  }

 private:
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  void Fail(const std::string& what) {
    if (error_.empty()) {
      error_ = what + " at offset " + std::to_string(pos_) + " of \"" + std::string(text_) + "\"";
    }
  }

  void Blanks() {
    while (Peek() == ' ') {
      ++pos_;
    }
  }

  // Elements separated by blanks, up to `close` (or the end of the text for
  // '\0'); a group holds one at least.
  void Elements(char close) {
    Blanks();
    int count = 0;
    while (error_.empty() && Peek() != close && Peek() != '\0') {
      Element();
      ++count;
      if (Peek() != ' ' && Peek() != close && Peek() != '\0') {
        Fail("no blank after an element");
      }
      Blanks();
    }
    if (close != '\0' && count == 0) {
      Fail("an empty group");
    }
  }

  void Element() {
    Item();
    while (error_.empty() && Peek() == '|') {
      ++pos_;
      Item();
    }
    if (Peek() == '*' || Peek() == '+') {
      ++pos_;
    }
  }

  void Item() {
    const char c = Peek();
    if (c == '<') {
      ++pos_;
      Placeholder();
    } else if (c == '[' || c == '(') {
      const char close = c == '[' ? ']' : ')';
      ++pos_;
      Elements(close);
      if (error_.empty() && Peek() != close) {
        Fail(std::string("no closing '") + close + "'");
      }
      ++pos_;
    } else if (c == '*') {
      ++pos_;  // the keyword "*", as in (retract *)
    } else if (IsKeywordChar(c)) {
      while (IsKeywordChar(Peek())) {
        ++pos_;
      }
    } else {
      Fail(c == '\0' ? "an item missing at the end" : std::string("unexpected '") + c + "'");
    }
  }

  // lowercase-words-joined-by-dashes>
  void Placeholder() {
    for (;;) {
      if (!IsLower(Peek())) {
        Fail("a placeholder that is not lowercase words joined by dashes");
        return;
      }
      while (IsLower(Peek())) {
        ++pos_;
      }
      if (Peek() != '-') {
        break;
      }
      ++pos_;
    }
    if (Peek() != '>') {
      Fail("no closing '>'");
      return;
    }
    ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

// A call of `name` through `engine` with `count` atoms as arguments, and its
// outcome as CallOutcome gives it.
std::string CallWith(TInferenceEngine& engine, const std::string& name, std::int32_t count) {
  const std::vector<std::string_view> arguments(static_cast<std::size_t>(count), "x");
  return CallOutcome(engine, name, arguments);
}

}  // namespace

std::string SyntaxTextError(std::string_view syntax) {
  return SyntaxReader(syntax).Read();
}

std::vector<std::string> FunctionNames(const TUserPackage& package) {
  std::vector<std::string> names;
  for (const Ref<IUserFunction>& f : package.Functions()) {
    names.push_back(f->FunctionName());
  }
  return names;
}

void ExpectEveryFunctionKeepsItsLimits(const TUserPackage& package, TInferenceEngine& engine,
                                       const std::set<std::string>& known_bad_syntax) {
  ASSERT_GT(package.Functions().Count(), 0);
  for (int i = 0; i < package.Functions().Count(); ++i) {
    const IUserFunction& f = package.Functions().Get(i);
    const std::string& name = f.FunctionName();
    SCOPED_TRACE(name);
    EXPECT_NE(engine.GetUserFunction(name), nullptr);
    EXPECT_FALSE(f.Comment().empty());
    if (known_bad_syntax.count(name) > 0) {
      EXPECT_NE(SyntaxTextError(f.ArgumentString()), "")
          << "the syntax text reads now: take " << name << " off the list of bad ones";
    } else {
      EXPECT_EQ(SyntaxTextError(f.ArgumentString()), "");
    }
    ASSERT_GE(f.MinArgumentCount(), 0);
    ASSERT_LE(f.MinArgumentCount(), f.MaxArgumentCount());
    if (f.MinArgumentCount() > 0) {
      EXPECT_EQ(CallWith(engine, name, f.MinArgumentCount() - 1),
                "raises: " + FormatMessage(STooFewArgs, name.c_str()));
    }
    if (f.MaxArgumentCount() < kUnlimitedArguments) {
      EXPECT_EQ(CallWith(engine, name, f.MaxArgumentCount() + 1),
                "raises: " + FormatMessage(STooManyArgs, name.c_str()));
    }
  }
}

}  // namespace zephro::testing

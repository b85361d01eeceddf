#include "zephro/values/messages.h"

#include <locale.h>

#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"
#include "zephro/values/exceptions.h"

namespace zephro {
namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

struct TextCase {
  std::string got;
  const char* want;
};

// `tmpl` with its %s and %c directives replaced, in order, by `arguments`.
std::string Substituted(std::string_view tmpl, const std::vector<std::string>& arguments) {
  std::string out;
  std::size_t used = 0;
  for (std::size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '%' && i + 1 < tmpl.size() && (tmpl[i + 1] == 's' || tmpl[i + 1] == 'c')) {
      if (used == arguments.size()) {
        ADD_FAILURE() << "more directives than arguments in " << tmpl;
        return out;
      }
      out += arguments[used++];
      ++i;
    } else {
      out += tmpl[i];
    }
  }
  EXPECT_EQ(used, arguments.size()) << "fewer directives than arguments in " << tmpl;
  return out;
}

// Messages with several arguments, quotes, line breaks and a character
// directive: each argument lands where its directive stands, and the text
// around them stays as the template has it.
TEST(MessagesTest, FormattingPutsEachArgumentWhereItsDirectiveStands) {
  struct Case {
    const char* tmpl;
    std::string got;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {SNotCorrectType, FormatMessage(SNotCorrectType, "integer", "abc", "atom"),
       {"integer", "abc", "atom"}},
      {SNotCorrectSlotType, FormatMessage(SNotCorrectSlotType, "age", "number", "atom"),
       {"age", "number", "atom"}},
      {SFunctionError, FormatMessage(SFunctionError, "div", "Division by zero"),
       {"div", "Division by zero"}},
      {SExpectedKeyword, FormatMessage(SExpectedKeyword, "slot"), {"slot"}},
      {SInvalidName, FormatMessage(SInvalidName, "a?b"), {"a?b"}},
      {SUnexpectedCharacters, FormatMessage(SUnexpectedCharacters, "x(y", '('), {"x(y", "("}},
      {SMultipleParseError, FormatMessage(SMultipleParseError, "one\ntwo"), {"one\ntwo"}},
      {SNoReadFunctionWarning, FormatMessage(SNoReadFunctionWarning, "OnReadLine"),
       {"OnReadLine"}},
      {SyntaxFormat, FormatMessage(SyntaxFormat, "(assert <fact>+)"), {"(assert <fact>+)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tmpl);
    EXPECT_EQ(c.got, Substituted(c.tmpl, c.arguments));
  }
}

TEST(MessagesTest, VariableNameCheckForbidsAllButTheQuestionMark) {
  std::string without_question_mark = SInvalidName;
  without_question_mark.erase(without_question_mark.rfind('?'), 1);
  EXPECT_EQ(without_question_mark, SInvalidVariableName);
}

TEST(FormatMessageTest, ConvertsEveryPlaceholderKind) {
  const TextCase cases[] = {
      {FormatMessage(SNoSuchSlot, "color"), "No such slot in fact template: color"},
      {FormatMessage(SNoSuchSlot, ""), "No such slot in fact template: "},
      {FormatMessage(SInvalidSubstrParameters, -1, 12), "Invalid substring parameters: -1, 12"},
      {FormatMessage(SListCardinalityError, 0, 2147483647),
       "Multislot must have between 0 and 2147483647 elements"},
      {FormatMessage(SOutOfRangeError, 0.0, 2.5), "Range must be between 0.0000 and 2.5000"},
      {FormatMessage(SInvalidLowHiLimits, -1.23456, 1e6),
       "Invalid low and high limits specified: -1.2346 to 1000000.0000"},
      {FormatMessage(SUnexpectedCharacters, "a\"b", '"'),
       "a\"b contains unexpected character: \"\"\""},
      // An argument is inserted as it stands, percent signs included.
      {FormatMessage(SBadArgument, "100%s %d"), "Bad Argument: 100%s %d"},
      {FormatMessage(SMissingName), "Missing name"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(FormatMessageTest, KeepsLongTextsWhole) {
  // Lengths on both sides of any internal buffer size a formatter might use.
  for (std::size_t n : {0, 1, 200, 241, 242, 243, 255, 256, 511, 512, 513, 5000}) {
    SCOPED_TRACE(n);
    std::string argument(n, 'x');
    if (!argument.empty()) {
      argument.back() = 'z';
    }
    EXPECT_EQ(FormatMessage(SBadArgument, argument.c_str()), "Bad Argument: " + argument);
  }
}

// Switches the process to a locale whose decimal separator is a comma, as a host
// might, and back again.
class CommaLocale {
 public:
  CommaLocale() {
    previous_ = setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE",
                             "fr_FR", "nl_NL.UTF-8", "ru_RU.UTF-8"}) {
      if (setlocale(LC_ALL, name) != nullptr) {
        active_ = *localeconv()->decimal_point == ',';
        if (active_) {
          return;
        }
      }
    }
    setlocale(LC_ALL, previous_.c_str());
  }
  ~CommaLocale() { setlocale(LC_ALL, previous_.c_str()); }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;

  bool Active() const { return active_; }

 private:
  std::string previous_;
  bool active_ = false;
};

TEST(FormatMessageTest, WritesAFullStopWhateverTheHostLocale) {
  CommaLocale comma;
  if (!comma.Active()) {
    GTEST_SKIP() << "no locale with a decimal comma is installed (set LOCPATH to provide one)";
  }
  char host[32];
  snprintf(host, sizeof host, "%.4f", 2.5);
  ASSERT_STREQ(host, "2,5000");
  EXPECT_EQ(FormatMessage(SOutOfRangeError, 0.25, 2.5), "Range must be between 0.2500 and 2.5000");
  EXPECT_THAT([] { RaiseIE(SInvalidLowHiLimits, 1.5, -0.125); },
              ThrowsMessage<EIEException>(
                  StrEq("Invalid low and high limits specified: 1.5000 to -0.1250")));
  // The host's own formatting is left as the host set it.
  snprintf(host, sizeof host, "%.4f", 2.5);
  EXPECT_STREQ(host, "2,5000");
}

TEST(RaiseIETest, RaisesTheFormattedOrPlainText) {
  EXPECT_THAT([] { RaiseIE(SNoSuchFact, "42"); },
              ThrowsMessage<EIEException>(StrEq("No Such Fact with ID=42 exists")));
  EXPECT_THAT(
      [] { RaiseIE(SInvalidMFParameters, 3, 1); },
      ThrowsMessage<EIEException>(StrEq("Invalid multifield begin and end parameters: 3, 1")));
  EXPECT_THAT([] { RaiseIEPlain(SInvalidValueType); },
              ThrowsMessage<EIEException>(StrEq("Value and type mismatch")));
  EXPECT_THAT([] { RaiseIEPlain(SBadSlotName); },
              ThrowsMessage<EIEException>(StrEq("Bad Slot Name: %s")));
}

TEST(ExceptionHierarchyTest, ParseErrorsAreCaughtAsEveryBase) {
  const std::string want = "Parsing Error, Expected \"=>\" in ParseRule at line 3: (defrule r ";
  try {
    RaiseParseError(SExpectedEqGT, "ParseRule", 3, "(defrule r ");
    FAIL() << "nothing raised";
  } catch (const EIEException& e) {
    EXPECT_EQ(e.Message(), want);
  }
  try {
    RaiseParseError(SExpectedEqGT, "ParseRule", 3, "(defrule r ");
    FAIL() << "nothing raised";
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.Message(), want);
    EXPECT_STREQ(e.what(), want.c_str());
    const auto* parse_error = dynamic_cast<const EIEParseException*>(&e);
    ASSERT_NE(parse_error, nullptr);
    EXPECT_EQ(parse_error->LineNumber(), 3);
  }
}

TEST(ExceptionHierarchyTest, AbortIsNotAnEngineError) {
  bool caught_as_engine_error = false;
  try {
    try {
      throw EAbort();
    } catch (const EIEException&) {
      caught_as_engine_error = true;
    }
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.Message(), "");
  }
  EXPECT_FALSE(caught_as_engine_error);
}

TEST(ParseErrorTest, ComposesDetailPlaceLineAndContext) {
  const EIEParseException e =
      MakeParseError(FormatMessage(SUnknownFactTemplate, "car"), "ParseFact", 12, "(car (c");
  EXPECT_EQ(e.Message(),
            "Parsing Error, Unknown fact template: car in ParseFact at line 12: (car (c");
  EXPECT_EQ(e.LineNumber(), 12);
  EXPECT_TRUE(e.Expected().empty());
}

TEST(ParseErrorTest, LocatedErrorsSayWhereAndKeepTheMessage) {
  EBaseException in_rule("Corrupted Binding, variable not found: extra");
  in_rule.SetRuleName("leak-check");
  const EIEParseException parse_error = MakeParseError(SExpectedEqGT, "ParseRule", 5, "( x");
  const EIEException division("/ error: Floating point division by zero");
  const std::bad_alloc no_memory;
  const EIEParseException line_error("line 1: rule r: / error: Floating point division by zero", 1);
  struct Case {
    const char* file;
    std::int32_t line;
    const std::exception& error;
    const char* message;
  };
  const Case kCases[] = {
      {"kb.clp", 7, division, "kb.clp:7: / error: Floating point division by zero"},
      {"kb.clp", 51, in_rule,
       "kb.clp:51: rule leak-check: Corrupted Binding, variable not found: extra"},
      {"", 3, in_rule, "line 3: rule leak-check: Corrupted Binding, variable not found: extra"},
      {"a.facts", 5, parse_error,
       "a.facts:5: Parsing Error, Expected \"=>\" in ParseRule at line 5: ( x"},
      {"big.clp", 2, no_memory, "big.clp:2: Out of memory"},
      {"b.bat", 4, line_error, "b.bat:4: rule r: / error: Floating point division by zero"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.message);
    const EIEParseException located = LocatedError(c.file, c.line, c.error);
    EXPECT_EQ(located.Message(), c.message);
    EXPECT_EQ(located.LineNumber(), c.line);
    EXPECT_TRUE(located.RuleName().empty());  // it is in the message now
  }
}

TEST(ParseErrorTest, ShortensContextsLongerThan255Characters) {
  const std::string prefix = "Parsing Error, Unexpected end of stream in Parse at line 1: ";
  for (std::size_t n : {0, 128, 254, 255, 256, 257, 300, 4000}) {
    SCOPED_TRACE(n);
    // Distinct characters in every position show which ones were kept.
    std::string context;
    for (std::size_t i = 0; i < n; ++i) {
      context += static_cast<char>('!' + i % 90);
    }
    const std::string message = MakeParseError(SUnexpectedEOF, "Parse", 1, context).Message();
    ASSERT_EQ(message.substr(0, prefix.size()), prefix);
    const std::string carried = message.substr(prefix.size());
    if (n <= 255) {
      EXPECT_EQ(carried, context);
    } else {
      EXPECT_EQ(carried.size(), 128u + 4u + 1u + 128u);
      EXPECT_EQ(carried.substr(0, 128), context.substr(0, 128));
      EXPECT_EQ(carried.substr(128, 5), "... \n");
      EXPECT_EQ(carried.substr(133), context.substr(n - 128));
    }
  }
}

TEST(ParseExceptionTest, ExpectedIsAnEmptyListUntilFilled) {
  EIEParseException e("Syntax Error: x");
  EXPECT_EQ(e.LineNumber(), 0);
  EXPECT_TRUE(e.Expected().empty());
  e.Expected().push_back(")");
  e.Expected().push_back("slot");
  e.SetLineNumber(4);
  const EIEParseException copy = e;
  EXPECT_THAT(copy.Expected(), ElementsAre(")", "slot"));
  EXPECT_EQ(copy.LineNumber(), 4);
  e.SetExpected({"=>"});
  EXPECT_THAT(e.Expected(), ElementsAre("=>"));
}

TEST(CollectedParseErrorsTest, NoErrorsRaiseNothing) {
  EXPECT_NO_THROW(RaiseCollectedParseErrors({}));
}

TEST(CollectedParseErrorsTest, OneErrorIsRaisedAlone) {
  EIEParseException only = MakeParseError(SMissingCloseParens, "ParseFact", 5, "(a b");
  only.Expected().push_back(")");
  try {
    RaiseCollectedParseErrors({only});
    FAIL() << "nothing raised";
  } catch (const EIEParseException& e) {
    EXPECT_EQ(e.Message(), "Parsing Error, Expected \")\" in ParseFact at line 5: (a b");
    EXPECT_EQ(e.LineNumber(), 5);
    EXPECT_THAT(e.Expected(), ElementsAre(")"));
  }
}

TEST(CollectedParseErrorsTest, SeveralErrorsAreRaisedTogetherAtTheFirstLine) {
  const std::vector<EIEParseException> errors = {
      EIEParseException("first", 2),
      EIEParseException("second 100%s", 9),
      EIEParseException("third", 4),
  };
  try {
    RaiseCollectedParseErrors(errors);
    FAIL() << "nothing raised";
  } catch (const EIEParseException& e) {
    EXPECT_EQ(e.Message(), "Errors parsing stream:\nfirst\nsecond 100%s\nthird");
    EXPECT_EQ(e.LineNumber(), 2);
  }
}

}  // namespace
}  // namespace zephro

// The parser's frame and its expressions: values, multifields, calls, kind
// checks, top-level expressions, error collection and recovery.

#include "zephro/language/clips_parser.h"

#include <sstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/language_fixture.h"
#include "zephro/engine/io_streams.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using testing::ParserFixture;

// The kinds of a call's arguments, "dtAtom dtInteger ...".
std::string ArgumentKinds(const IFunCall& call) {
  std::string kinds;
  for (const Ref<IIEValue>& argument : call.Arguments()) {
    kinds += (kinds.empty() ? "" : " ") + std::string(IETypeName(argument->DType()));
  }
  return kinds;
}

TEST(ClipsParserValueTest, ReadsValuesAndMultifields) {
  struct Case {
    const char* text;
    TIEType kind;
    const char* printed;
  };
  const Case kCases[] = {
      {"42", TIEType::dtInteger, "42"},
      {"-5.", TIEType::dtFloat, "-5.0000"},
      {"\"a b\"", TIEType::dtString, "\"a b\""},
      {"?x", TIEType::dtVariable, "?x"},
      {"$?rest", TIEType::dtMultiVariable, "$?rest"},
      {"[", TIEType::dtAtom, "["},
      {"1 2 3", TIEType::dtList, "1 2 3 "},
      {"a (+ 1 2) b", TIEType::dtList, "a (+ 1 2) b "},
      {"(+ 1 (+ 2 3))", TIEType::dtFunCall, "(+ 1 (+ 2 3))"},
      {"((1 0.5) (2 1))", TIEType::dtSingletons, ""},
  };
  ParserFixture f;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    Ref<IIEValue> value = f.Engine().ParseValue(c.text);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->DType(), c.kind);
    if (c.kind != TIEType::dtSingletons) {
      EXPECT_EQ(value->ToString(), c.printed);
    } else {
      EXPECT_EQ(value->AsSingletons()->Count(), 2);
    }
  }
  EXPECT_FALSE(f.Engine().ParseValue(""));
  EXPECT_EQ(f.Engine().ParseValue("TRUE").get(), &FCTrue());
  EXPECT_EQ(f.Engine().ParseValue("Nil").get(), &FCNil());
}

TEST(ClipsParserValueTest, ReadsCallsWithTheirArgumentKinds) {
  struct Case {
    const char* text;
    const char* name;
    const char* kinds;
    const char* printed;
  };
  const Case kCases[] = {
      {"(+ 1 2)", "+", "dtInteger dtInteger", "(+ 1 2)"},
      {"(= ?x 3)", "=", "dtVariable dtInteger", "(= ?x 3)"},
      {"(?f a)", "__get-var", "dtVariable dtAtom", "(__get-var ?f a)"},
      {"(assert (color red) (point (x 1)))", "assert", "dtFact dtFact",
       "(assert (color red ) (point (x 1) ))"},
      {"(modify ?f (color blue))", "modify", "dtVariable dtList", "(modify ?f (color blue))"},
      {"(modify ?f (items a b c))", "modify", "dtVariable dtList", "(modify ?f (items a b c))"},
      {"(duplicate ?f (x (+ 1 2)))", "duplicate", "dtVariable dtList",
       "(duplicate ?f (x (+ 1 2)))"},
      {"(foo a & bar)", "foo", "dtAtom dtString dtAtom", "(foo a \"&\" bar)"},
      {"(plot ((0 0) (1 1)))", "plot", "dtSingletons", ""},
  };
  ParserFixture f;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    Ref<IFunCall> call = f.Engine().ParseFunCall(c.text);
    EXPECT_EQ(call->Name(), c.name);
    EXPECT_EQ(ArgumentKinds(*call), c.kinds);
    if (*c.printed != '\0') {
      EXPECT_EQ(call->ToString(), c.printed);
    }
  }
  Ref<IFunCall> modify = f.Engine().ParseFunCall("(modify ?f (items a b c))");
  IValueVector& pair = *modify->Argument(1)->AsList();
  EXPECT_EQ(pair.Get(0)->ToString(), "items");
  EXPECT_EQ(pair.Get(1)->DType(), TIEType::dtList);
  EXPECT_EQ(pair.Get(1)->AsList()->ValueCount(), 3);
}

// A bare value is an expression of its own: by the time the value is checked
// the stream has looked at the next expression, so the error has no context.
TEST(ClipsParserValueTest, ChecksAndConvertsKinds) {
  using enum TIEType;
  struct Case {
    const char* text;
    TIETypes types;
    const char* result;  // the value printed, or the error message
  };
  const Case kCases[] = {
      {"2.7", {dtInteger}, "2"},
      {"2", {dtFloat}, "2.0000"},
      {"2", {dtInteger, dtFloat}, "2"},
      {"?x", {dtAtom}, "?x"},
      {"(+ 1 2)", {dtAtom}, "(+ 1 2)"},
      {"2", {dtAtom},
       "Parsing Error, Not a ATOM type.  Value (2) is a dtInteger type for ParseValue slot in "
       "ParseValue(SlotTypes) at line 1: "},
      {"\"s\"", {dtAtom, dtInteger},
       "Parsing Error, Not a ATOM, INTEGER type.  Value (\"s\") is a dtString type for ParseValue "
       "slot in ParseValue(SlotTypes) at line 1: "},
  };
  ParserFixture f;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string result;
    try {
      result = f.Parser()
                   .ParseString(c.text, [&] { return f.Parser().ParseValue(c.types, nullptr); })
                   ->ToString();
    } catch (const EIEParseException& e) {
      result = e.what();
    }
    EXPECT_EQ(result, c.result);
  }
}

TEST(ClipsParserTest, ReportsExpressionErrorsWithRoutineAndLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case kCases[] = {
      {"\"just a string\"",
       "Parsing Error, Unexpected symbol, expected a \"(\", constant, or global variable: just a "
       "string in GetConstructType at line 1: \"just a string\" "},
      {"\n)", "Parsing Error, Unexpected symbol, expected a \"(\", constant, or global variable: ) "
              "in GetConstructType at line 2: ) "},
      {"(\n(a))", "Parsing Error, Missing name in ParseFunCall at line 2: ( \n( "},
      {"(+ 1\n2", "Parsing Error, Unexpected end of stream in ParseFunCall at line 2: ( + 1 \n2 EOF "},
      {"(assert (a = b))",
       "Parsing Error, \"=\" cannot appear as an atom within a fact in ParseList at line 1: "
       "( assert ( a = "},
      {"(assert (a ~))", "Parsing Error, Bad Slot Value: ~ in ParseList at line 1: ( assert ( a ~ "},
      {"(assert 1 (2))", "Parsing Error, Expected \"( <atom>\" in ParseFact at line 1: "
                         "( assert 1 ( 2 "},
      {"(modify ?f (1 2))",
       "Parsing Error, Expected \"( <atom>\" in ParseValuePair at line 1: ( modify ?f ( 1 "},
      {"(modify ?f (x))",
       "Parsing Error, Expected value missing in ParseValuePair at line 1: ( modify ?f ( x "},
      {"(f ((1 2 3)))",
       "Parsing Error, Expected \")\" in ParseFuzzyPoints at line 1: ( f ( ( 1 2 3 "},
      {"(f ((a 2)))",
       "Parsing Error, Expected number, variable, or function call in ParseFuzzyPoints at line 1: "
       "( f ( ( a "},
      {"(unknown-function 1)", "Function is unimplemented or unassigned: unknown-function"},
      {"?undefined", "Unknown variable name: undefined"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    ParserFixture f;
    EXPECT_EQ(f.ErrorOf(c.text), c.message);
  }
}

TEST(ClipsParserTest, ErrorsCarryTheLineNumber) {
  ParserFixture f;
  try {
    f.Engine().Parse("(+ 1 2)\n\n(deftemplate t\n  (slot x (bogus 1)))", true);
    FAIL() << "no error";
  } catch (const EIEParseException& e) {
    EXPECT_EQ(e.LineNumber(), 4);
    EXPECT_THAT(e.what(), HasSubstr("Invalid slot qualifier: bogus"));
  }
}

TEST(ClipsParserTest, EchoesWhatEachExpressionMade) {
  ParserFixture f;
  f.Engine().Parse(
      "(+ 1 2) 7 (deftemplate point (slot x)) (deffacts start (a) (b))"
      "(defrule r (a) => (printout t \"fired\" crlf)) (defglobal ?*g* = 1)"
      "(deftype small extends (type INTEGER) (range 0 9)) (deffunction twice (?x) (+ ?x ?x))"
      "(printout t \"hello\" crlf)",
      true);
  // The rule's id is engine-wide: it counts every rule made so far.
  const std::string rule_id = std::to_string(f.Engine().FindRule("r")->RuleID());
  EXPECT_EQ(f.TakeOutput(), "3\n7\npoint\n2\n" + rule_id + "\nsmall\ntwice\nhello\n");
  f.Engine().Parse("(+ 1 2)", false);
  EXPECT_EQ(f.TakeOutput(), "(+ 1 2)\n");
  // Without the echo only what the program prints is left.
  f.Engine().SetEchoResults(false);
  f.Engine().Parse("(+ 1 2) (deftemplate other) (printout t \"hello\" crlf) (facts 9 9)", true);
  EXPECT_EQ(f.TakeOutput(), "hello\nFor a total of 0 facts.\n");
}

TEST(ClipsParserTest, ReportsEveryExpressionToOnParse) {
  ParserFixture f;
  std::vector<TParsedType> types;
  f.Parser().OnParse = [&](IEngineParser&, const TParseResult& r) { types.push_back(r.type); };
  f.Engine().Parse("1 (printout t x) (deftemplate t) (defglobal ?*a* = 1)", true);
  using enum TParsedType;
  EXPECT_EQ(types, (std::vector<TParsedType>{ptValue, ptNone, ptFactTemplate, ptGlobals, ptEOF}));
}

TEST(ClipsParserTest, CollectsErrorsWhenAskedTo) {
  struct Case {
    const char* text;
    std::int32_t max_errors;
    const char* message;
  };
  const Case kCases[] = {
      {"(deftemplate a (slot x))\n(defrule r (a) -> (f))\n(deftemplate b)",
       10, "Parsing Error, Expected \"=>\" in ParseRule at line 2: ( defrule r ( a ) -> "},
      {"(defrule r1 (a) -> (f))\n(deftemplate b)\n(deffacts f (a 1) 2)\n(deftemplate c)\n"
       "(deftemplate d (slot x (type BOGUS)))",
       10,
       "Errors parsing stream:\n"
       "Parsing Error, Expected \"=>\" in ParseRule at line 1: ( defrule r1 ( a ) -> \n"
       "Parsing Error, Expected \")\" in ParseFactSet at line 3: ( deffacts f ( a 1 ) 2 \n"
       "Parsing Error, Invalid slot type: BOGUS in ParseSlotTypes at line 5: ( deftemplate d ( slot "
       "x ( type BOGUS "},
      {"(defrule r1 (a) -> (f))\n(deffacts f 2)\n(deftemplate d (slot))\n\"s\"", 1,
       "Errors parsing stream:\n"
       "Parsing Error, Expected \"=>\" in ParseRule at line 1: ( defrule r1 ( a ) -> \n"
       "Parsing Error, Expected \")\" in ParseFactSet at line 2: ( deffacts f 2 \n"
       "line 3: more than 1 errors: the rest of the input, from here on, was skipped"},
      {"(defrule r1 (a) -> (f))\n(deffacts f 2)\n", 1,
       "Errors parsing stream:\n"
       "Parsing Error, Expected \"=>\" in ParseRule at line 1: ( defrule r1 ( a ) -> \n"
       "Parsing Error, Expected \")\" in ParseFactSet at line 2: ( deffacts f 2 "},
      {"(+ 1 2) (unknown 1)", 10, "line 1: Function is unimplemented or unassigned: unknown"},
      {"(defrule r (go) => (printout t (/ 1 0)))\n(assert (go))\n(run)", 10,
       "line 3: rule r: / error: Floating point division by zero"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    ParserFixture f;
    f.Engine().SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
    f.Engine().SetParserMaxErrors(c.max_errors);
    EXPECT_EQ(f.ErrorOf(c.text), c.message);
  }
  // What parsed well between the errors is there.
  ParserFixture f;
  f.Engine().SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
  f.ErrorOf(kCases[1].text);
  EXPECT_NE(f.Engine().FindFactTemplate("b"), nullptr);
  EXPECT_NE(f.Engine().FindFactTemplate("c"), nullptr);
  EXPECT_EQ(f.Engine().FindFactTemplate("d"), nullptr);
  EXPECT_EQ(f.Engine().FindRule("r1"), nullptr);
  EXPECT_EQ(f.Engine().FactSets().Count(), 0);
}

TEST(ClipsParserTest, ErrorsOfAFileNameItAndTheLine) {
  const std::string text =
      "(deftemplate p (slot x))\n"
      "(defrule r (p (x ?x)) => (printout t (/ ?x 0)))\n"
      "(assert (p (z 1)))\n"
      "(assert (p (x 1)))\n"
      "(run)\n";
  struct Case {
    TErrorHandling handling;
    const char* message;
  };
  const Case kCases[] = {
      {TErrorHandling::ehRaiseImmediate,
       "kb.clp:3: Parsing Error, Bad Slot Name: z in ParseFactSlot at line 3: ( assert ( p ( z "},
      {TErrorHandling::ehRaiseAllAtEnd,
       "Errors parsing stream:\n"
       "kb.clp:3: Parsing Error, Bad Slot Name: z in ParseFactSlot at line 3: ( assert ( p ( z \n"
       "kb.clp:5: rule r: / error: Floating point division by zero"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.message);
    ParserFixture f;
    f.Engine().SetParserErrorHandling(c.handling);
    std::istringstream in(text);
    EXPECT_THAT([&] { Parse(f.Engine(), in, true, "kb.clp"); },
                ThrowsMessage<EIEParseException>(StrEq(c.message)));
  }
  // Text that is no file's, parsed at once: the error as raised, which knows its rule.
  ParserFixture f;
  f.Engine().Parse(text.substr(0, text.find("(assert (p (z")));
  f.Engine().Parse("(assert (p (x 1)))");
  try {
    f.Engine().Parse("(run)");
    ADD_FAILURE() << "no error";
  } catch (const EIEException& e) {
    EXPECT_STREQ(e.what(), "/ error: Floating point division by zero");
    EXPECT_EQ(e.RuleName(), "r");
  }
}

TEST(ClipsParserTest, KeepsWhatWasLoadedBeforeAnErrorAndStaysUsable) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  EXPECT_NE(f.ErrorOf("(deftemplate a (slot x)) (defrule ok (a (x ?v)) => (printout t ?v crlf))"
                      "(defrule broken (a (x ?v)) => (printout t ?v)"),
            "");
  EXPECT_NE(e.FindRule("ok"), nullptr);
  EXPECT_EQ(e.FindRule("broken"), nullptr);
  f.TakeOutput();
  e.Parse("(assert (a (x 5)))", true);
  e.Run();
  EXPECT_EQ(f.TakeOutput(), "<Fact-1>\n5\n");
}

TEST(ClipsParserTest, BoundsNestingWithAnError) {
  ParserFixture f;
  constexpr int kDepth = 200000;
  std::string text = "\n(f";
  for (int i = 0; i < kDepth; ++i) {
    text += " (f";
  }
  text += std::string(kDepth + 1, ')');
  try {
    f.Engine().Parse(text, false);
    FAIL() << "no error";
  } catch (const EIEParseException& e) {
    EXPECT_EQ(e.LineNumber(), 2);
    EXPECT_THAT(e.Message(), HasSubstr("Syntax Error: nesting deeper than 1000 levels in "
                                       "ParseFunCall at line 2"));
  }
  // Conditional elements and facts inside calls count too.
  std::string nots = "(defrule r ";
  std::string asserts = "(assert (a ";
  for (int i = 0; i < 2 * kMaxNesting; ++i) {
    nots += "(not ";
    asserts += "(f ";
  }
  EXPECT_THAT(f.ErrorOf(nots), HasSubstr("nesting deeper than 1000 levels in ParsePattern"));
  EXPECT_THAT(f.ErrorOf(asserts), HasSubstr("nesting deeper than 1000 levels in ParseFunCall"));
  // A depth within the limit parses.
  std::string deep = "(+";
  for (int i = 0; i < kMaxNesting - 2; ++i) {
    deep += " (+ 1";
  }
  deep += std::string(kMaxNesting - 1, ')');
  EXPECT_EQ(f.Engine().ParseFunCall(deep)->Name(), "+");
}

TEST(ClipsParserTest, GivesThePreviousStreamBack) {
  ParserFixture f;
  TIEClipsParser& parser = f.Parser();
  TIEClipsStream outer(std::string("(deftemplate outer)"), parser.SymbolGenerator());
  parser.SetStream(&outer);
  EXPECT_NE(f.Engine().ParseFact("(a 1)"), nullptr);
  EXPECT_EQ(parser.Stream(), &outer);
  EXPECT_THROW(f.Engine().ParseFact("(a = 1)"), EIEParseException);
  EXPECT_EQ(parser.Stream(), &outer);
  parser.SetStream(nullptr);

  // A call run while parsing parses text of its own; the outer text goes on.
  f.Engine().Parse(
      "(parse-text \"(deftemplate inner) (parse-text \\\"(deftemplate innermost)\\\")\")"
      "(deftemplate after)",
      true);
  for (const char* name : {"inner", "innermost", "after"}) {
    EXPECT_NE(f.Engine().FindFactTemplate(name), nullptr) << name;
  }
  EXPECT_EQ(parser.Stream(), nullptr);
}

TEST(ClipsParserTest, ReadsGlobals) {
  ParserFixture f;
  TInferenceEngine& e = f.Engine();
  e.Parse("(defglobal ?*x* = 1 ?*y* = (+ 1 2) ?*x* = 5)", true);
  EXPECT_EQ(e.GlobalVariables().Get("*x*")->ToString(), "5");
  EXPECT_EQ(e.GlobalVariables().Get("*y*")->DType(), TIEType::dtFunCall);
  f.TakeOutput();
  e.Parse("?*y*", true);
  EXPECT_EQ(f.TakeOutput(), "3\n");
  EXPECT_EQ(f.ErrorOf("(defglobal ?x = 1)"),
            "Parsing Error, Bad Variable Name, must start and end with an asterisk: x in "
            "ParseVariable at line 1: ( defglobal ?x ");
  EXPECT_EQ(f.ErrorOf("(defglobal ?*x* 1)"),
            "Parsing Error, Expected \"=\" in ParseVariable at line 1: ( defglobal ?*x* 1 ");
  EXPECT_EQ(f.ErrorOf("(defglobal x)"),
            "Parsing Error, Missing name in ParseVariable at line 1: ( defglobal x ");
}

TEST(ClipsParserTest, ParsesAStreamAsItParsesTheSameText) {
  // Read from a stream, a program runs as it does from text, errors and all,
  // also when tokens and expressions straddle the stream's chunks.
  const std::string long_string(70 * 1024, 'x');
  const std::string kCases[] = {
      "(deftemplate a (slot x)) (defrule r (a (x ?v)) => (printout t ?v crlf))"
      "(assert (a (x 1))) (run)",
      "(defrule r1 (a) -> (f))\n(deffacts f (a 1) 2)\n(+ 1 2)\n(unknown 1)",
      "(printout t \"" + long_string + "\" crlf) (assert (b 2)) (printout t (+ 2 3) crlf)",
      std::string(100 * 1024, ' ') + "(assert (c 3)) (bogus",
      "(printout t \"not terminated",
  };
  auto run = [](const std::string& text, bool streamed) {
    ParserFixture f;
    f.Engine().SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
    std::string error;
    try {
      if (streamed) {
        std::istringstream input(text);
        Parse(f.Engine(), input, true);
      } else {
        f.Engine().Parse(text, true);
      }
    } catch (const std::exception& e) {
      error = e.what();
    }
    return f.TakeOutput() + "|" + error + "|" + f.Engine().Facts().ToString();
  };
  for (const std::string& text : kCases) {
    SCOPED_TRACE(text.substr(0, 60));
    const std::string from_text = run(text, false);
    EXPECT_EQ(run(text, true), from_text);
    EXPECT_NE(from_text, "||");
  }
}

TEST(ClipsParserTest, LoadsFactsAsData) {
  ParserFixture f;
  f.Engine().Parse("(deftemplate t (slot s) (slot d (default (+ 1 2))))");
  std::istringstream input("(a 1) (b \"x\")\n(a 1)\n(t (s (create$ p 2)))");
  EXPECT_EQ(LoadFacts(f.Engine(), input), 4);
  // The template's own default is computed; a create$ of constants is a list.
  EXPECT_EQ(f.Engine().Facts().ToString(),
            "(Initial-Fact)\n(a 1 )\n(b \"x\" )\n(t (d 3) (s p 2 ))");
  // A call is not run, and a file with an error asserts nothing.
  for (const char* text : {"(c 1)\n(c (+ 1 2))", "(c 1)\n(t (s (create$ (+ 1 2))))",
                           "(c 1)\n(t (d (create$ a)) (s ?x))"}) {
    SCOPED_TRACE(text);
    std::istringstream bad(text);
    EXPECT_THAT([&] { LoadFacts(f.Engine(), bad, "c.facts"); },
                ThrowsMessage<EIEParseException>(::testing::StartsWith(
                    "c.facts:2: Parsing Error, A facts file holds data only")));
    EXPECT_EQ(f.Engine().Facts().Count(), 4);
  }
}

}  // namespace
}  // namespace zephro

// The engine's parse entry points: each construct and value read from a
// text, what they leave filed, the parser's input around them, Parse by
// kind, and the parser and tokenizer classes a host substitutes.

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/facts/fact_template.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/rule.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The engine of every case: a template, a type and a global the texts use.
void Prepare(TInferenceEngine& e) {
  e.Parse(
      "(deftemplate point (slot x (type INTEGER)) (multislot tags))"
      "(deftype small extends (type INTEGER) (range 0 9))"
      "(defglobal ?*g* = 7)");
}

// One entry point: what `parse` makes of `good` (a short account of the
// result), and the message of the error it raises for `bad`. Only
// ParseGlobalVariables `files` what it reads.
struct EntryCase {
  const char* name;
  std::function<std::string(TInferenceEngine&, std::string_view)> parse;
  const char* good;
  const char* made;
  const char* bad;
  const char* error;
  bool files = false;
};

// How much the engine holds: templates, types, functions, fact sets, facts
// and globals.
std::vector<int> Holdings(TInferenceEngine& e) {
  return {e.FactTemplates().Count(), e.DefinedTypes().Count(),
          e.UserFunctions().Count(), e.FactSets().Count(),
          e.Facts().Count(),         e.GlobalVariables().Count(),
          e.Rules().Count()};
}

std::string Text(const Ref<IIEValue>& value) {
  return value ? value->ToString() : "null";
}

std::vector<EntryCase> EntryCases() {
  return {
      {"ParseFact",
       [](TInferenceEngine& e, std::string_view text) { return e.PrintFact(*e.ParseFact(text)); },
       "(point (x 3) (tags a b))", "(point (tags a b ) (x 3))", "point",
       "Parsing Error, Expected \"( <atom>\" in ParseFact at line 1: point "},
      {"ParseFactSlot",
       [](TInferenceEngine& e, std::string_view text) {
         Ref<IFact> fact = e.FindFactTemplate("point")->NewFact();
         e.ParseFactSlot(*fact, text);
         return e.PrintFact(*fact);
       },
       "(tags c) (x 4)", "(point (tags c ) (x 4))", "(y 1)",
       "Parsing Error, Bad Slot Name: y in ParseFactSlot at line 1: ( y "},
      {"ParseFactSet",
       [](TInferenceEngine& e, std::string_view text) {
         std::unique_ptr<TFactSet> set = e.ParseFactSet(text);
         return set->FactSetName() + " " + std::to_string(set->Count());
       },
       "(deffacts start (point (x 1)) (point (x 2)))", "start 2", "(deffacts start x)",
       "Parsing Error, Expected \")\" in ParseFactSet at line 1: ( deffacts start x "},
      {"ParseFactTemplate",
       [](TInferenceEngine& e, std::string_view text) {
         return e.PrintTemplate(*e.ParseFactTemplate(text));
       },
       "(deftemplate pair (slot a))", "(deftemplate pair\n  (slot a ))", "(deftemplate pair a)",
       "Parsing Error, Expected \"(\", \"extends\", or \"is-a\" in ParseFactTemplate at line 1: "
       "( deftemplate pair a "},
      {"ParseFactTemplateSlot",
       [](TInferenceEngine& e, std::string_view text) {
         return e.PrintSlot(*e.ParseFactTemplateSlot(text));
       },
       "(multislot names (type SYMBOL))", "(multislot names (type SYMBOL) )", "(slit a)",
       "Parsing Error, Invalid slot type: slit in ParseFactTemplateSlot at line 1: ( slit "},
      {"ParseDefinedType",
       [](TInferenceEngine& e, std::string_view text) {
         return e.ParseDefinedType(text)->ToString();
       },
       "(deftype tiny extends (type small) (range 0 3))",
       "(deftype tiny extends (type small)\n  (range 0 3))", "(deftype tiny (type small))",
       "Parsing Error, Missing keyword.  Expected \"extends\" in ParseDefinedType at line 1: "
       "( deftype tiny ( "},
      {"ParseFunction",
       [](TInferenceEngine& e, std::string_view text) {
         return e.ParseFunction(text)->FunctionName();
       },
       "(deffunction twice (?n) (* 2 ?n))", "twice", "(deffunction twice ?n)",
       "Parsing Error, Expected \"(\" in ParseFunction at line 1: ( deffunction twice ?n "},
      {"ParseFunCall",
       [](TInferenceEngine& e, std::string_view text) { return e.ParseFunCall(text)->ToString(); },
       "(+ 1 (* 2 3))", "(+ 1 (* 2 3))", "(+ 1",
       "Parsing Error, Unexpected end of stream in "
       "ParseFunCall at line 1: ( + 1 EOF "},
      {"ParseNExecuteFunCall",
       [](TInferenceEngine& e, std::string_view text) {
         return Text(e.ParseNExecuteFunCall(text));
       },
       "(+ 1 (* 2 3))", "7", "(1 2)",
       "Parsing Error, Missing name in ParseFunCall at line 1: ( 1 "},
      {"ParseGlobalVariables",
       [](TInferenceEngine& e, std::string_view text) {
         e.ParseGlobalVariables(text);
         return Text(Ref<IIEValue>(e.RootContext().FindBinding("*h*")->Value()));
       },
       "(defglobal ?*h* = 3)", "3", "(defglobal ?h = 3)",
       "Parsing Error, Bad Variable Name, must start and end with an asterisk: h in "
       "ParseVariable at line 1: ( defglobal ?h ",
       true},
      {"ParseVariable",
       [](TInferenceEngine& e, std::string_view text) {
         std::string name;
         Ref<IIEValue> value = e.ParseVariable(text, name);
         return name + " " + Text(value);
       },
       "?*k* = (+ 1 2)", "*k* (+ 1 2)", "?*k* 3",
       "Parsing Error, Expected \"=\" in ParseVariable at line 1: 3 "},
      {"ParseList",
       [](TInferenceEngine& e, std::string_view text) {
         Ref<IValueVector> list = e.ParseList(text);
         return std::to_string(list->ValueCount()) + ": " + list->ToString();
       },
       "a =(+ 1 2) \"s\"", "3: a (+ 1 2) \"s\" ", "a = b",
       "Parsing Error, \"=\" cannot appear as an atom within a fact in ParseList at line 1: "},
      {"ParseSingletons",
       [](TInferenceEngine& e, std::string_view text) {
         return std::to_string(e.ParseSingletons(text)->Count());
       },
       "((0 1) (5 0.5) (10 0))", "3", "((0 1) (a 0))",
       "Parsing Error, Expected number, variable, or function call in ParseFuzzyPoints at line "
       "1: ( ( 0 1 ) ( a "},
      {"ParseValue",
       [](TInferenceEngine& e, std::string_view text) { return Text(e.ParseValue(text)); },
       "a 1 (+ 2 3)", "a 1 (+ 2 3) ", "a 1 )",
       "Parsing Error, Bad Argument: ) in ParseValue at line 1: ) "},
      {"ParseValue(slot)",
       [](TInferenceEngine& e, std::string_view text) {
         return Text(e.ParseValue(text, *e.FindFactTemplate("point")->FindSlot("tags")));
       },
       "b", "b ", "(", "Parsing Error, Missing name in ParseFunCall at line 1: ( EOF "},
      {"ParseValue(types)",
       [](TInferenceEngine& e, std::string_view text) {
         return Text(e.ParseValue(text, {TIEType::dtInteger}, nullptr));
       },
       "2.7", "2", "x",
       "Parsing Error, Not a INTEGER type.  Value (x) is a dtAtom type for ParseValue slot in "
       "ParseValue(SlotTypes) at line 1: "},
      {"ParseValue(defined type)",
       [](TInferenceEngine& e, std::string_view text) {
         return Text(e.ParseValue(text, {}, e.DefinedTypes().Get("small")));
       },
       "4", "4", "12",
       "Parsing Error, Value \"12\" is not valid, Range must be between 0.0000 "
       "and 9.0000 in ParseValue(SlotTypes) at line 1: "},
  };
}

TEST(ParseEntryPointTest, EachReadsItsConstructAndReportsWhereItFails) {
  for (const EntryCase& c : EntryCases()) {
    SCOPED_TRACE(c.name);
    EngineFixture fx;
    TInferenceEngine& e = fx.Engine();
    Prepare(e);
    const std::vector<int> before = Holdings(e);
    EXPECT_EQ(c.parse(e, c.good), c.made);
    EXPECT_EQ(Holdings(e) == before, !c.files);
    EXPECT_THAT([&] { c.parse(e, c.bad); }, ThrowsMessage<EIEParseException>(StrEq(c.error)));
  }
}

TEST(ParseEntryPointTest, EachGivesTheParserItsStreamBack) {
  for (const EntryCase& c : EntryCases()) {
    SCOPED_TRACE(c.name);
    EngineFixture fx;
    TInferenceEngine& e = fx.Engine();
    Prepare(e);
    // The parser half-way through an input of its own.
    const std::string input = "(outer 1) (outer 2)";
    std::unique_ptr<TIETokenizerStream> outer = e.NewTokenizer(input);
    IEngineParser& parser = e.Parser();
    parser.SetStream(outer.get());
    EXPECT_EQ(e.PrintFact(*parser.ParseFact()), "(outer 1 )");
    c.parse(e, c.good);
    EXPECT_EQ(parser.Stream(), outer.get());
    EXPECT_THROW(c.parse(e, c.bad), EIEParseException);
    EXPECT_EQ(parser.Stream(), outer.get());
    EXPECT_EQ(e.PrintFact(*parser.ParseFact()), "(outer 2 )");
    parser.SetStream(nullptr);
  }
}

// A handler of a parse event parses text while a file is loaded: the load
// goes on where it was, and its errors still name the file; the nested
// text's errors do not.
TEST(ParseEntryPointTest, AHandlerParsesTextWhileAFileLoads) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  std::vector<std::string> seen;
  std::vector<std::string> nested_errors;
  e.ParserEvents().OnParseFact = [&](IEngineParser&, IFact& fact) {
    seen.push_back(fact.Template()->TemplateName() + " " + e.ParseValue("(+ 1 2)")->ToString());
    if (fact.Template()->TemplateName() == "nested") {
      return;
    }
    try {
      e.Parse("(assert (nested)) (oops");
    } catch (const EIEParseException& error) {
      nested_errors.emplace_back(error.what());
    }
  };
  std::istringstream file(
      "(deffacts start (a 1))\n"
      "(assert (b 2))\n"
      "(bogus");
  EXPECT_THAT([&] { Parse(e, file, true, "kb.clp"); },
              ThrowsMessage<EIEParseException>(
                  StrEq("kb.clp:3: Parsing Error, Unexpected end of stream in ParseFunCall at "
                        "line 3: ( bogus EOF ")));
  // (nested) is parsed (and asserted) inside the handler too.
  EXPECT_THAT(seen, ElementsAre("a (+ 1 2)", "nested (+ 1 2)", "b (+ 1 2)", "nested (+ 1 2)"));
  ASSERT_EQ(nested_errors.size(), 2u);
  EXPECT_EQ(nested_errors[0],
            "Parsing Error, Unexpected end of stream in ParseFunCall at line 1: ( oops EOF ");
  EXPECT_NE(e.FindFactTemplate("b"), nullptr);
}

TEST(ParseByKindTest, ReadsTheKindsItKnowsAndRefusesTheOthers) {
  struct Case {
    TIEType kind;
    const char* text;
    const char* printed;
  };
  using enum TIEType;
  const Case kHandled[] = {
      {dtAtom, "red", "red"},
      {dtString, "\"a b\"", "\"a b\""},
      {dtInteger, "2.7", "2"},
      {dtFloat, "2", "2.0000"},
      {dtVariable, "?x", "?x"},
      {dtMultiVariable, "$?x", "$?x"},
      {dtFunCall, "(+ 1 2)", "(+ 1 2)"},
      {dtFact, "(point (x 1))", "(point (x 1))"},
      {dtList, "a 1", "a 1 "},
      {dtSingletons, "((0 1) (4 0))", "((0 1) (4 0) )"},
  };
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  Prepare(e);
  TIETypes handled;
  for (const Case& c : kHandled) {
    SCOPED_TRACE(IETypeName(c.kind));
    handled = handled | c.kind;
    Ref<IIEValue> value = e.Parse(c.text, c.kind);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->DType(), c.kind);
    EXPECT_EQ(value->DType() == dtFact ? e.PrintFact(*value->AsFact()) : value->ToString(),
              c.printed);
  }
  // A text of another kind is refused as the matching entry point refuses it.
  EXPECT_THAT([&] { e.Parse("red", dtInteger); },
              ThrowsMessage<EIEParseException>(HasSubstr("Not a INTEGER type")));
  EXPECT_THAT([&] { e.Parse("red", dtFact); },
              ThrowsMessage<EIEParseException>(HasSubstr("in ParseFact")));
  for (int i = 0; i < kIETypeCount; ++i) {
    const auto kind = static_cast<TIEType>(i);
    if (handled.Contains(kind)) {
      continue;
    }
    SCOPED_TRACE(IETypeName(kind));
    EXPECT_THAT(
        [&] { e.Parse("1", kind); },
        ThrowsMessage<EIEException>(StrEq("Unable to parse strings of " +
                                          std::string(IETypeName(kind)) + " at this time")));
  }
}

// A rule built in pieces: the patterns and the actions each added to it,
// the variables they bind gathered in a sorted list.
TEST(ParseRulePiecesTest, AddPatternsAndActionsAndGatherTheirVariables) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  Prepare(e);
  auto rule = std::make_unique<TRule>(nullptr);
  rule->SetEngine(&e);
  rule->SetRuleName("built");
  std::vector<std::string> bindings = {"given"};
  e.ParseRulePatterns(*rule, bindings, "(point (x ?x) (tags $?t)) ?f <- (b ?x ?y)");
  EXPECT_EQ(rule->PatternCount(), 2);
  EXPECT_THAT(bindings, ElementsAre("f", "given", "t", "x", "y"));
  e.ParseRuleActions(*rule, bindings,
                     "(bind ?z 1) (if (> ?x 0) then (bind ?w ?x)) (bind ?*g* 2) (bind ?x 3)");
  EXPECT_EQ(rule->ActionCount(), 4);
  EXPECT_THAT(bindings, ElementsAre("f", "given", "t", "w", "x", "y", "z"));
  // Built, the rule runs like a parsed one.
  e.AddRule(std::move(rule));
  e.Assert("(point (x 5))");
  e.Assert("(b 5 6)");
  EXPECT_EQ(e.Run(), 1);
  EXPECT_EQ(Text(Ref<IIEValue>(e.RootContext().FindBinding("*g*")->Value())), "2");

  auto broken = std::make_unique<TRule>(nullptr);
  broken->SetEngine(&e);
  EXPECT_THAT([&] { e.ParseRulePatterns(*broken, bindings, "?f (point)"); },
              ThrowsMessage<EIEParseException>(
                  StrEq("Parsing Error, Expected \"<-\" in ParseRulePatterns at line 1: ( ")));
  EXPECT_THAT([&] { e.ParseRuleActions(*broken, bindings, "(printout t"); },
              ThrowsMessage<EIEParseException>(HasSubstr("Unexpected end of stream")));
}

// A host's parser: the language's, counting the expressions it reads.
class TCountingParser final : public TIEClipsParser {
 public:
  using TIEClipsParser::TIEClipsParser;
  bool ParseExpression(bool execute) override {
    ++expressions;
    return TIEClipsParser::ParseExpression(execute);
  }
  int expressions = 0;

 private:
  ~TCountingParser() override = default;
};

TEST(ParserClassTest, AHostParserClassReadsWhatTheEngineParses) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
  e.SetParserMaxErrors(3);
  int made = 0;
  e.SetParserType([&made](TInferenceEngine& engine) -> Ref<IEngineParser> {
    ++made;
    return MakeRef<TCountingParser>(engine);
  });
  EXPECT_EQ(made, 1);  // setting the class makes the engine's parser
  auto* parser = dynamic_cast<TCountingParser*>(&e.Parser());
  ASSERT_NE(parser, nullptr);
  EXPECT_EQ(parser->ErrorHandling(), TErrorHandling::ehRaiseAllAtEnd);
  EXPECT_EQ(parser->MaxErrors(), 3);
  e.Parse("(deftemplate t (slot s)) (assert (t (s 1)))");
  EXPECT_EQ(parser->expressions, 3);  // two expressions and the end
  EXPECT_EQ(e.Facts().Count(), 2);
  // A deffunction is made as by the language's own parser.
  e.Parse("(deffunction twice (?n) (* 2 ?n))");
  EXPECT_EQ(e.ParseNExecuteFunCall("(twice 4)")->AsInteger(), 8);
}

TEST(ParserClassTest, AClassThatMakesNoParserLeavesTheEngineItsOwn) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  IEngineParser* before = &e.Parser();
  EXPECT_THAT([&] { e.SetParserType([](TInferenceEngine&) { return Ref<IEngineParser>(); }); },
              ThrowsMessage<EIEException>(StrEq("No parser specified")));
  EXPECT_THAT([&] { e.SetParserType(nullptr); },
              ThrowsMessage<EIEException>(StrEq("No parser specified")));
  EXPECT_EQ(&e.Parser(), before);
  // The class stays the one that worked.
  EXPECT_NE(dynamic_cast<TIEClipsParser*>(e.NewParser(nullptr).get()), nullptr);
  EXPECT_NE(e.ParseFact("(a)"), nullptr);
}

TEST(ParserClassTest, NewParserTakesTheErrorSettingsAndTheStream) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.SetParserErrorHandling(TErrorHandling::ehRaiseAllAtEnd);
  e.SetParserMaxErrors(1);
  const std::string text = "(a = 1) (b = 2) (c = 3) (d)";
  std::unique_ptr<TIETokenizerStream> input = e.NewTokenizer(text);
  Ref<IEngineParser> parser = e.NewParser(input.get());
  EXPECT_NE(parser.get(), &e.Parser());
  EXPECT_EQ(parser->Stream(), input.get());
  EXPECT_EQ(parser->ErrorHandling(), TErrorHandling::ehRaiseAllAtEnd);
  EXPECT_EQ(parser->MaxErrors(), 1);
  // Collecting with at most one error: two, then where the skipped rest starts.
  EXPECT_THAT([&] { parser->Parse(true); },
              ThrowsMessage<EIEParseException>(HasSubstr(
                  "more than 1 errors: the rest of the input, from here on, was skipped")));
  EXPECT_EQ(e.FindFactTemplate("d"), nullptr);
}

TEST(ParserClassTest, TheEnginesHandlersAndSettingsPassToItsNextParser) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  std::vector<std::string> facts;
  e.ParserEvents().OnParseFact = [&](IEngineParser&, IFact& fact) {
    facts.push_back(fact.Template()->TemplateName());
  };
  e.SetParserMaxErrors(4);
  Ref<TIEClipsParser> next = MakeRef<TIEClipsParser>(e);
  next->OnParseFact = [&](IEngineParser&, IFact&) { facts.emplace_back("the parser's own"); };
  e.SetParser(next);
  EXPECT_EQ(&e.Parser(), next.get());
  EXPECT_EQ(next->MaxErrors(), 4);
  e.ParseFact("(first)");
  // And on to a parser of a class.
  e.SetParserType([](TInferenceEngine& engine) { return MakeRef<TCountingParser>(engine); });
  e.Assert("(second)");
  InstallClipsParser(e);
  e.Parse("(assert (third))");
  EXPECT_THAT(facts, ElementsAre("first", "second", "third"));
  // The engine's events are its parser's.
  EXPECT_EQ(&e.ParserEvents(), static_cast<TParserEvents*>(&e.Parser()));
  EXPECT_THAT([&] { e.SetParser(nullptr); },
              ThrowsMessage<EIEException>(StrEq("No parser specified")));
}

// A tokenizer class of the host's: the language's scanner, counted; and one
// of a kind the language's parser cannot read.
class TForeignTokenizer final : public TIETokenizerStream {
 public:
  Ref<IStreamToken> NextToken() override { return nullptr; }
  void PutBackToken(Ref<IStreamToken>) override {}
  std::int32_t LineNumber() const noexcept override { return 1; }
};

TEST(TokenizerClassTest, EveryEntryPointReadsThroughTheEnginesTokenizerClass) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  int made = 0;
  TTokenizerClass language = e.TokenizerType();
  e.SetTokenizerType([&](TInferenceEngine& engine, TTokenizerSource source) {
    ++made;
    return language(engine, source);
  });
  e.Parse("(deftemplate t (slot s))");
  e.ParseFact("(t (s 1))");
  e.ParseValue("1 2");
  e.Assert("(t (s 2))");  // a fact written as text is parsed as well
  EXPECT_EQ(made, 4);

  const std::string input = "(outer)";
  std::unique_ptr<TIETokenizerStream> outer = e.NewTokenizer(input);
  e.Parser().SetStream(outer.get());
  e.SetTokenizerType(
      [](TInferenceEngine&, TTokenizerSource) { return std::make_unique<TForeignTokenizer>(); });
  EXPECT_THAT(
      [&] { e.ParseFact("(t (s 3))"); },
      ThrowsMessage<EIEException>(StrEq("The parser cannot read a token stream of this kind")));
  EXPECT_EQ(e.Parser().Stream(), outer.get());
  e.SetTokenizerType([](TInferenceEngine&, TTokenizerSource) { return nullptr; });
  EXPECT_THAT([&] { e.ParseFact("(t (s 3))"); },
              ThrowsMessage<EIEException>(StrEq("No parser specified")));
  EXPECT_THAT([&] { e.SetTokenizerType(nullptr); },
              ThrowsMessage<EIEException>(StrEq("No parser specified")));
  e.Parser().SetStream(nullptr);
}

}  // namespace
}  // namespace zephro::testing

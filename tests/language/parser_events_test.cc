// The parser's events: each fired once, in order, with the construct it has
// just finished, whether set on the parser or on the engine.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/fact_set.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rule.h"
#include "zephro/types/defined_type.h"
#include "zephro/types/fuzzy_value.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"

namespace zephro::testing {
namespace {

using ::testing::ElementsAre;

constexpr const char* kParsedTypeNames[] = {
    "ptNone",         "ptValue",    "ptFunCall", "ptRule",    "ptFactSet",
    "ptFactTemplate", "ptFunction", "ptGlobals", "ptDefType", "ptEOF",
};
static_assert(std::size(kParsedTypeNames) == static_cast<std::size_t>(TParsedType::ptEOF) + 1);

// Sets every event of `events` to write a line naming itself and what it got
// to `log`.
void Record(TParserEvents& events, std::vector<std::string>& log) {
  events.OnParse = [&log](IEngineParser&, const TParseResult& result) {
    log.push_back(std::string("Parse ") + kParsedTypeNames[static_cast<int>(result.type)]);
  };
  events.OnParseFact = [&log](IEngineParser&, IFact& fact) {
    log.push_back("Fact " + fact.Template()->TemplateName());
  };
  events.OnParseFactSet = [&log](IEngineParser&, TFactSet& set) {
    log.push_back("FactSet " + set.FactSetName() + " " + std::to_string(set.Count()));
  };
  events.OnParseFactTemplate = [&log](IEngineParser&, IFactTemplate& fact_template) {
    log.push_back("FactTemplate " + fact_template.TemplateName());
  };
  events.OnParseFunCall = [&log](IEngineParser&, IFunCall& call) {
    log.push_back("FunCall " + call.ToString());
  };
  events.OnParseFunction = [&log](IEngineParser&, IUserFunction& function) {
    log.push_back("Function " + function.FunctionName());
  };
  events.OnParseVariable = [&log](IEngineParser&, const std::string& name, IIEValue& value) {
    log.push_back("Variable " + name + " " + value.ToString());
  };
  events.OnParsePattern = [&log](IEngineParser&, TIEPattern& pattern) {
    log.push_back("Pattern " + pattern.FactTemplate()->TemplateName());
  };
  events.OnParseRule = [&log](IEngineParser&, TRule& rule) {
    log.push_back("Rule " + rule.RuleName() + " " + std::to_string(rule.PatternCount()));
  };
  events.OnParseSingletons = [&log](IEngineParser&, ISingletonsVector& singletons) {
    log.push_back("Singletons " + std::to_string(singletons.Count()));
  };
  events.OnParseDefinedType = [&log](IEngineParser&, TIEDefinedType& type) {
    log.push_back("DefinedType " + type.TypeName());
  };
  events.OnParseFuzzySet = [&log](IEngineParser&, const std::string& term, TIEFuzzySet& set) {
    log.push_back("FuzzySet " + term + " " + std::to_string(set.Count()));
  };
  events.OnParseFuzzyVariable = [&log](IEngineParser&, TIEFuzzyVariable& variable) {
    log.push_back("FuzzyVariable " + std::to_string(variable.TermCount()));
  };
}

// Each construct once; the one call is the top-level printout.
constexpr char kProgram[] =
    "(deftemplate point (slot x))\n"
    "(deffacts start (point (x 1)))\n"
    "(defglobal ?*g* = 5)\n"
    "(deffunction one () 1)\n"
    "(defrule r (point (x ?x)) =>)\n"
    "(deftype level extends (type FUZZY) (range 0 10) (values (term low ((0 1) (5 0)))))\n"
    "(printout t \"hi\" crlf)\n";

TEST(ParserEventsTest, EachFiresOnceWithWhatWasJustRead) {
  EngineFixture fx;
  std::vector<std::string> log;
  Record(fx.Engine().ParserEvents(), log);
  fx.Engine().Parse(kProgram);
  EXPECT_THAT(log, ElementsAre("FactTemplate point", "Parse ptFactTemplate",        //
                               "Fact point", "FactSet start 1", "Parse ptFactSet",  //
                               "Variable *g* 5", "Parse ptGlobals",                 //
                               "Function one", "Parse ptFunction",                  //
                               "Pattern point", "Rule r 1", "Parse ptRule",         //
                               "Singletons 2", "FuzzySet low 2", "FuzzyVariable 1",
                               "DefinedType level", "Parse ptDefType",  //
                               "FunCall (printout t \"hi\" crlf)", "Parse ptNone", "Parse ptEOF"));
}

// The engine's events are its parser's: set on either, they stay with the
// engine when it takes another parser.
TEST(ParserEventsTest, SetOnTheParserTheyStayWithTheEngine) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  std::vector<std::string> log;
  Record(ClipsParser(e), log);
  InstallClipsParser(e);
  e.Parse(kProgram);
  EXPECT_EQ(log.size(), 20u);
  // A parser the engine has not been given has no handlers.
  Ref<IEngineParser> spare = e.NewParser(nullptr);
  EXPECT_FALSE(spare->OnParseFact);
  EXPECT_TRUE(e.ParserEvents().OnParseFact);
}

// The construct a handler is given is the one the engine files.
TEST(ParserEventsTest, AHandlerMayChangeTheConstructBeforeItIsFiled) {
  EngineFixture fx;
  TInferenceEngine& e = fx.Engine();
  e.ParserEvents().OnParseRule = [](IEngineParser&, TRule& rule) { rule.SetSalienceInteger(42); };
  e.ParserEvents().OnParseFactTemplate = [](IEngineParser&, IFactTemplate& fact_template) {
    fact_template.AddSlot("added", Ref<IIEValue>(&FCNil()));
  };
  e.Parse("(deftemplate point (slot x)) (defrule r (point (x ?x)) =>)");
  EXPECT_EQ(e.FindRule("r")->Salience(), 42);
  EXPECT_NE(e.FindFactTemplate("point")->FindSlot("added"), nullptr);
}

}  // namespace
}  // namespace zephro::testing

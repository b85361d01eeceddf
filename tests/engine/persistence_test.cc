// Saving, loading and copying engines: the layout of a saved knowledge base,
// each kind's save and load, files replaced whole, and round trips of random
// knowledge bases through every way an engine's knowledge leaves it and
// comes back.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/platform/component_stream.h"
#include "zephro/platform/exceptions.h"
#include "zephro/platform/object.h"
#include "zephro/rules/activation.h"

#include "testing/random_knowledge_base.h"

namespace zephro::testing {
namespace {

// An engine whose print-out is kept.
struct Captured {
  std::unique_ptr<TInferenceEngine> engine = std::make_unique<TInferenceEngine>(nullptr);
  std::string output;
  Captured() {
    engine->OnPrintOut = [this](TInferenceEngine&, std::string_view, std::string_view text) {
      output += text;
    };
  }
  TInferenceEngine* operator->() { return engine.get(); }
  TInferenceEngine& operator*() { return *engine; }
};

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> AgendaLines(const TInferenceEngine& engine) {
  std::vector<std::string> lines;
  for (int i = 0; i < engine.GetAgendaCount(); ++i) {
    lines.push_back(engine.GetActivation(i).ToString());
  }
  return lines;
}

// A saved knowledge base without what names working memory: its facts
// section and its count of facts.
std::string ConstructsOf(const std::string& saved) {
  std::string text = WithoutCreationTime(saved);
  const std::size_t facts = text.find("; Facts \n");
  if (facts != std::string::npos) {
    text.erase(text.rfind("; ***", facts));
  }
  const std::size_t count = text.find("; Number of Facts:");
  text.erase(count, text.find('\n', count) + 1 - count);
  return text;
}

template <class Save>
std::string Saved(Save save) {
  std::ostringstream text;
  save(text);
  return text.str();
}

class TempDir {
 public:
  TempDir() : path_(std::filesystem::temp_directory_path() /
                    ("zephro-persistence-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// --- the layout -------------------------------------------------------------------------------

TEST(KnowledgeBaseTextTest, ANewEngineHasTheHeaderAndOnlyTheSectionsItFills) {
  Captured engine;
  const std::string text = engine->GetExpertSystem();
  const std::vector<std::string> lines_in_order = {
      "; *************************\n",
      "; Inference Engine v2.7000 Output\n",
      "; Created: ",
      "; Number of Global Variables: 0\n",
      "; Number of Defined Types:    0\n",
      "; Number of Fact Templates:   2\n",
      "; Number of Rules:            0\n",
      "; Number of Fact Sets:        0\n",
      "; Number of Facts:            1\n",
      "(set-fact-duplication TRUE)\n",
      "\n; *************************\n; Fact Templates \n\n",
      "\n; *************************\n; Deffunctions \n",
      "\n; *************************\n; Facts \n\n(assert\n   (Initial-Fact)\n)\n",
  };
  std::size_t at = 0;
  for (const std::string& part : lines_in_order) {
    const std::size_t found = text.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << part << "\n" << text;
    at = found + part.size();
  }
  for (const char* absent : {"; Global Variables", "; Defined Types", "; Rules", "; Fact Sets"}) {
    EXPECT_EQ(text.find(absent), std::string::npos) << absent;
  }
  engine->SetFactDuplication(true);
  EXPECT_NE(engine->GetExpertSystem().find("(set-fact-duplication FALSE)\n"), std::string::npos);
}

// --- each kind ------------------------------------------------------------------------------

TEST(SaveFactsTest, FactsComeBackWithTheirTextsAndTheInitialFactIsNotDoubled) {
  Captured source;
  source->Parse(
      "(deftemplate p (slot name) (multislot tags) (slot score (default 5)))"
      "(assert (p (name \"Ann \\\"A\\\"\") (tags nil x 2.5) (score nil)))"
      "(assert (q nil 0.1 \"\"))"
      "(assert (p (name bob)))");
  const std::string all = Saved([&](std::ostream& s) { source->SaveFacts(s); });
  // Lists end in a blank; floats are written exactly.
  EXPECT_EQ(Saved([&](std::ostream& s) { source->SaveFacts(s, "q"); }), "(q nil 0.1000 \"\" )\n");

  Captured target;
  target->Parse("(deftemplate p (slot name) (multislot tags) (slot score (default 5)))");
  target->Reset();
  std::istringstream in(all);
  EXPECT_EQ(target->LoadFacts(in), 4);
  EXPECT_EQ(target->Facts().Count(), 4);  // the saved (Initial-Fact) was a duplicate
  EXPECT_EQ(Saved([&](std::ostream& s) { target->SaveFacts(s); }), all);
}

TEST(SaveFactsTest, SlotsLeftWithoutAValueHoldNilAndReadBack) {
  // A FLOAT slot and a fuzzy slot without a default hold nil: it is saved,
  // read back and matched as nil.
  const std::string constructs =
      "(deftype level extends (type FUZZY) (range 0 10) (values (term low ((0 1) (5 0)))))"
      "(deftemplate r (slot id) (slot ratio (type FLOAT)) (slot fill (type level)))";
  Captured source;
  source->Parse(constructs + "(assert (r (id 1)))");
  const std::string saved = Saved([&](std::ostream& s) { source->SaveFacts(s, "r"); });
  EXPECT_NE(saved.find("(ratio nil)"), std::string::npos) << saved;
  EXPECT_NE(saved.find("(fill nil)"), std::string::npos) << saved;
  Captured target;
  target->Parse(constructs + "(defrule unset (r (ratio nil)) => (printout t unset crlf))");
  target.output.clear();
  std::istringstream in(saved);
  EXPECT_EQ(target->LoadFacts(in), 1);
  target->Run();
  EXPECT_EQ(target.output, "unset\n");
}

TEST(SaveFactsTest, AFactThatWouldNotReadBackStopsTheSaveAndLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string path = dir.File("facts.clp");
  Captured engine;
  engine->Assert("(a 1)");
  engine->SaveFacts(path);
  const std::string before = FileText(path);
  engine->Parse("(assert (b (sym-cat \"two \" words)))");
  EXPECT_THROW(engine->SaveFacts(path), EBaseException);
  EXPECT_EQ(FileText(path), before);
  EXPECT_THROW(engine->SaveToFile(path), EBaseException);
  EXPECT_EQ(FileText(path), before);
}

// The message names the fact and the value that stopped the save, cut short
// when they are long: a fact of thousands of fields, or a value of 100,000
// bytes, does not fill the message.
TEST(SaveFactsTest, TheMessageOfAFactThatWouldNotReadBackStaysShort) {
  struct Case {
    const char* name;
    std::string fields;  // of the fact, before the value that does not read back
    int bad_length;      // of that value
  };
  const Case cases[] = {
      {"a short fact", "1 2", 10},
      {"many fields before it", std::string(20000, 'x').replace(1, 1, " "), 10},
      {"a long value", "1", 100000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Captured engine;
    engine->Parse("(assert (b " + c.fields + " (sym-cat \"two \" " +
                  std::string(static_cast<std::size_t>(c.bad_length), 'w') + ")))");
    try {
      engine->SaveFacts(dir.File("facts.clp"));
      ADD_FAILURE() << "the save went through";
    } catch (const EBaseException& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("Cannot save fact f-"), std::string::npos) << message;
      EXPECT_NE(message.find(" (b "), std::string::npos) << message;
      EXPECT_NE(message.find("would not read back as written"), std::string::npos) << message;
      EXPECT_LT(message.size(), 600u);
      if (c.bad_length < 100) {
        EXPECT_NE(message.find("two " + std::string(10, 'w')), std::string::npos) << message;
      } else {
        EXPECT_NE(message.find("..."), std::string::npos) << message;
      }
    }
  }
}

TEST(LoadTest, EachKindReplacesItsOwnAndLoadFromStreamAdds) {
  Captured engine;
  engine->Parse(
      "(deftype small extends (type INTEGER) (range 0 9))"
      "(deftemplate p (slot v (type small)))"
      "(defrule old (p (v ?v)) =>)"
      "(assert (p (v 1)))");
  std::istringstream rules("(defrule new (p (v ?v)) => (printout t ?v crlf))");
  engine->LoadRules(rules);
  EXPECT_EQ(engine->FindRule("old"), nullptr);
  ASSERT_NE(engine->FindRule("new"), nullptr);

  std::istringstream more("(defrule another (p (v 2)) =>)");
  engine->LoadFromStream(more);
  EXPECT_NE(engine->FindRule("new"), nullptr);
  EXPECT_NE(engine->FindRule("another"), nullptr);

  // Templates take their facts and rules with them; types their templates.
  std::istringstream templates("(deftemplate other (slot w))");
  engine->LoadFactTemplates(templates);
  EXPECT_EQ(engine->FindFactTemplate("p"), nullptr);
  EXPECT_EQ(engine->Rules().Count(), 0);
  EXPECT_EQ(engine->Facts().Count(), 0);
  EXPECT_NE(engine->FindFactTemplate("other"), nullptr);

  std::istringstream types("(deftype big extends (type INTEGER) (range 10 99))");
  engine->LoadDefinedTypes(types);
  EXPECT_EQ(engine->DefinedTypes().Get("small"), nullptr);
  EXPECT_NE(engine->DefinedTypes().Get("big"), nullptr);
  EXPECT_EQ(engine->FindFactTemplate("other"), nullptr);
}

TEST(LoadTest, AFailedLoadRaisesKeepsWhatItClearedClearedAndLeavesTheEngineUsable) {
  Captured engine;
  engine->Parse("(defrule keep (a) =>)");
  std::istringstream bad("(defrule broken (a ?x) => (printout t ?x crlf)");  // no closing
  EXPECT_THROW(engine->LoadRules(bad), EBaseException);
  EXPECT_EQ(engine->FindRule("keep"), nullptr);
  engine->Parse("(defrule later (a) => (printout t done crlf))");
  engine->Assert("(a)");
  engine.output.clear();
  engine->Run();
  EXPECT_EQ(engine.output, "done\n");
  TempDir dir;
  const std::string path = dir.File("rules.clp");
  std::ofstream(path) << "(defrule fine (a) =>)\n(defrule broken (a) => (printout t x crlf)\n";
  try {
    engine->LoadRules(path);
    FAIL() << "loaded a broken rule";
  } catch (const EBaseException& error) {
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
  }
  EXPECT_THROW(engine->LoadFromFile("/nonexistent/dir/kb.clp"), EBaseException);
  EXPECT_THROW(engine->LoadFacts(std::string("/nonexistent/dir/facts.clp")), EBaseException);
}

// --- round trips ----------------------------------------------------------------------------

class RoundTripTest : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  // The source: the knowledge base loaded, reset, its facts asserted and a
  // few rules fired.
  void SetUp() override {
    kb_ = MakeRandomKnowledgeBase(GetParam());
    source_->Parse(kb_.constructs);
    source_->Reset();
    source_->Parse(kb_.facts);
    source_->Run(3);
    source_.output.clear();
  }

  RandomKnowledgeBase kb_;
  Captured source_;
};

TEST_P(RoundTripTest, TheWholeTextLoadsBackToTheSameText) {
  const std::string saved = source_->GetExpertSystem();
  Captured loaded;
  loaded->Clear();
  std::istringstream in(saved);
  loaded->LoadFromStream(in);
  EXPECT_EQ(WithoutCreationTime(loaded->GetExpertSystem()), WithoutCreationTime(saved))
      << kb_.constructs << kb_.facts;

  // SetExpertSystem ends with a reset: the constructs are the same, and
  // loading its own text again changes nothing.
  Captured set;
  set->SetExpertSystem(saved);
  EXPECT_EQ(ConstructsOf(set->GetExpertSystem()), ConstructsOf(saved));
  Captured again;
  again->SetExpertSystem(set->GetExpertSystem());
  EXPECT_EQ(WithoutCreationTime(again->GetExpertSystem()),
            WithoutCreationTime(set->GetExpertSystem()));
}

TEST_P(RoundTripTest, EachKindLoadsBackToTheSameText) {
  Captured target;
  target->Clear();
  std::istringstream whole(source_->GetExpertSystem());
  target->LoadFromStream(whole);
  struct Kind {
    const char* name;
    void (TInferenceEngine::*save)(std::ostream&) const;
    void (TInferenceEngine::*load)(std::istream&);
  };
  // Rules first: loading templates or types takes the rules with them.
  const Kind kinds[] = {
      {"rules", &TInferenceEngine::SaveRules, &TInferenceEngine::LoadRules},
      {"templates", &TInferenceEngine::SaveFactTemplates, &TInferenceEngine::LoadFactTemplates},
      {"types", &TInferenceEngine::SaveDefinedTypes, &TInferenceEngine::LoadDefinedTypes},
  };
  for (const Kind& kind : kinds) {
    const std::string text = Saved([&](std::ostream& s) { ((*source_).*kind.save)(s); });
    std::istringstream in(text);
    ((*target).*kind.load)(in);
    EXPECT_EQ(Saved([&](std::ostream& s) { ((*target).*kind.save)(s); }), text) << kind.name;
  }

  Captured facts;
  facts->Parse(kb_.constructs);
  std::istringstream saved_facts(Saved([&](std::ostream& s) { source_->SaveFacts(s); }));
  facts->LoadFacts(saved_facts);
  EXPECT_EQ(Saved([&](std::ostream& s) { facts->SaveFacts(s); }),
            Saved([&](std::ostream& s) { source_->SaveFacts(s); }));
}

TEST_P(RoundTripTest, TheComponentStreamReadsBackIntoANewEngine) {
  source_->SetStrategy(TSearchStrategy::ssBreadthFirst);
  source_->SetName("Engine1");
  const std::string text = ComponentToText(*source_);
  std::istringstream in(text);
  std::unique_ptr<TComponent> read = ReadNewComponent(in);
  auto* engine = dynamic_cast<TInferenceEngine*>(read.get());
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->Name(), "Engine1");
  EXPECT_EQ(engine->Strategy(), TSearchStrategy::ssBreadthFirst);
  // Written again, it reads back to itself (the first read moved the symbol
  // index from 0 to 1, as setting it does).
  const std::string again = ComponentToText(*engine);
  std::istringstream in_again(again);
  std::unique_ptr<TComponent> reread = ReadNewComponent(in_again);
  EXPECT_EQ(ComponentToText(*reread), again);
  // The same knowledge; the facts, asserted anew, have new ids in the same order.
  EXPECT_EQ(ConstructsOf(engine->GetExpertSystem()), ConstructsOf(source_->GetExpertSystem()));
  EXPECT_EQ(Saved([&](std::ostream& s) { engine->SaveFacts(s); }),
            Saved([&](std::ostream& s) { source_->SaveFacts(s); }));
}

TEST_P(RoundTripTest, ACopyMadeBetweenFiringsRunsOnAsTheSourceDoes) {
  Captured copy;
  copy->Assign(*source_);
  EXPECT_EQ(WithoutCreationTime(copy->GetExpertSystem()),
            WithoutCreationTime(source_->GetExpertSystem()));
  EXPECT_EQ(AgendaLines(*copy), AgendaLines(*source_));
  EXPECT_EQ(copy->Run(), source_->Run());
  EXPECT_EQ(copy.output, source_.output);
  EXPECT_EQ(WithoutCreationTime(copy->GetExpertSystem()),
            WithoutCreationTime(source_->GetExpertSystem()));
}

INSTANTIATE_TEST_SUITE_P(RandomKnowledgeBases, RoundTripTest, ::testing::Range(1u, 41u));

}  // namespace
}  // namespace zephro::testing

namespace zephro::testing {
namespace {

// --- published properties --------------------------------------------------------------------

TEST(EngineStreamTest, AnEmptyEngineWritesNeitherFactsNorFactSets) {
  TInferenceEngine engine(nullptr);
  engine.Clear();  // no (Initial-Fact)
  const std::string text = ComponentToText(engine);
  EXPECT_EQ(text.find("FactsList"), std::string::npos) << text;
  EXPECT_EQ(text.find("FactSets"), std::string::npos) << text;
  EXPECT_EQ(text.find("object"), 0u + text.find("object")) << text;
  // Its packages are not components of the stream: they come with the engine.
  EXPECT_EQ(text.find("object", text.find("object") + 1), std::string::npos) << text;
  engine.Parse("(deffacts d (a 1))");
  engine.Reset();
  const std::string filled = ComponentToText(engine);
  EXPECT_NE(filled.find("FactsList = ("), std::string::npos) << filled;
  EXPECT_NE(filled.find("FactSets = ("), std::string::npos) << filled;
}

TEST(EngineStreamTest, ABadTextInsideTheStreamRaisesWithItsLineAndTheCause) {
  TInferenceEngine engine(nullptr);
  std::istringstream in(
      "zephro-stream 1\n"
      "object TInferenceEngine\n"
      "  Rules = (\n"
      "    '(defrule broken (a) => (printout t x crlf)'\n"
      "  )\n"
      "end\n");
  try {
    ReadComponent(in, engine);
    FAIL() << "read a broken rule";
  } catch (const EReadError& error) {
    EXPECT_EQ(error.LineNumber(), 5) << error.what();  // where the list ends
    try {
      std::rethrow_if_nested(error);
      FAIL() << "no cause: " << error.what();
    } catch (const EBaseException& cause) {
      EXPECT_NE(std::string(cause.what()).find("Expected"), std::string::npos) << cause.what();
    }
  }
  engine.Parse("(defrule works (a) =>)");
  EXPECT_NE(engine.FindRule("works"), nullptr);
}

TEST(EnginePropertiesTest, EachSettingIsPublishedUnderItsNameWithItsDefault) {
  struct Row {
    const char* name;
    TPropertyValue after_construction;
    TPropertyValue written;  // then read back as it was written
  };
  const Row rows[] = {
      {"Strategy", std::string("ssDepthFirst"), std::string("ssBreadthFirst")},
      {"Watch", std::string("[]"), std::string("[cwFact,cwRule]")},
      {"ResetGlobals", std::string("True"), std::string("False")},
      {"FactDuplication", std::string("False"), std::string("True")},
      {"DuplicateConstructs", std::string("dcOverwrite"), std::string("dcError")},
      {"TypeChecks", std::string("[tcStatic]"), std::string("[tcStatic,tcDynamic]")},
      {"ParserErrorHandling", std::string("ehRaiseImmediate"), std::string("ehRaiseAllAtEnd")},
      {"ParserMaxErrors", std::int64_t{10}, std::int64_t{3}},
      {"FuzzyAutoTerms", std::string("True"), std::string("False")},
      {"FuzzyCorrelationMethod", std::string("fcMinimum"), std::string("fcProduct")},
      {"FuzzyInferenceMethod", std::string("fiMinMax"), std::string("fiSum")},
      {"MinActivationStrength", 0.0, 0.5},
  };
  TInferenceEngine engine(nullptr);
  for (const Row& row : rows) {
    EXPECT_EQ(GetPropValue(engine, row.name), row.after_construction) << row.name;
    SetPropValue(engine, row.name, row.written);
    EXPECT_EQ(GetPropValue(engine, row.name), row.written) << row.name;
  }
  EXPECT_EQ(engine.Strategy(), TSearchStrategy::ssBreadthFirst);
  EXPECT_EQ(engine.ParserMaxErrors(), 3);
  EXPECT_NEAR(std::get<double>(GetPropValue(engine, "FuzzyEqualsThreshold")), 0.01, 1e-6);
  EXPECT_EQ(std::get<std::string>(GetPropValue(engine, "Packages")).front(), '[');
  EXPECT_THROW(SetPropValue(engine, "Strategy", std::string("ssSideways")), EBaseException);
}

}  // namespace
}  // namespace zephro::testing

namespace zephro::testing {
namespace {

TEST(EngineLifetimeTest, NoHandlerHearsOfTheEngineBeingFreed) {
  // The handlers' state goes before the engine, as a host's would.
  auto removed = std::make_unique<int>(0);
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  engine->OnRemoveUserFunction = [count = removed.get()](TInferenceEngine&, IUserFunction&) {
    ++*count;
  };
  engine->SetPackages({});  // withdrawing the packages is heard
  EXPECT_GT(*removed, 0);
  engine->SetPackages(kAllFunctionPackages);
  const int before = *removed;
  engine.reset();
  EXPECT_EQ(*removed, before);
}

}  // namespace
}  // namespace zephro::testing

// Saving and loading with the standard I/O package: save-facts and
// load-facts, their JSON forms and fact-to-json, save and load of the knowledge base, files replaced whole or not
// at all, facts that read back as the same facts, and facts files read as data.

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/language/clips_parser.h"
#include "zephro/values/exceptions.h"

#include "packages/standard_io_fixture.h"

namespace zephro {
namespace {

using testing::FilesIn;
using ::testing::HasSubstr;
using testing::StandardIoTest;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// --- facts and the knowledge base ---------------------------------------------------------

TEST_F(StandardIoTest, SaveFactsWritesOneFactPerLine) {
  fixture_.Assert("a", {TIEValue::Integer(1), TIEValue::Atom("x")});
  fixture_.Assert("b", {TIEValue::String("s")});
  fixture_.Assert("a", {TIEValue::Integer(2)});
  struct Case {
    const char* file;
    const char* templates;
    const char* text;
  };
  constexpr Case kCases[] = {
      {"all.fct", "", "(Initial-Fact)\n(a 1 x )\n(b \"s\" )\n(a 2 )\n"},
      {"a.fct", " a", "(a 1 x )\n(a 2 )\n"},
      {"ba.fct", " b a", "(b \"s\" )\n(a 1 x )\n(a 2 )\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(Printed("(save-facts " + Quoted(c.file) + c.templates + ")"), "TRUE");
    EXPECT_EQ(FileText(c.file), c.text);
  }
  WriteFile("all.fct", "old text that is replaced");
  Eval("(save-facts " + Quoted("all.fct") + " b)");
  EXPECT_EQ(FileText("all.fct"), "(b \"s\" )\n");
}

TEST_F(StandardIoTest, LoadFactsAssertsWhatSaveFactsWrote) {
  fixture_.Assert("a", {TIEValue::Integer(1), TIEValue::Atom("x")});
  fixture_.Assert("b", {TIEValue::String("two words"), TIEValue::Float(2.5)});
  Eval("(save-facts " + Quoted("facts.fct") + ")");

  testing::EngineFixture other;
  EXPECT_EQ(
      other.Engine().ParseNExecuteFunCall("(load-facts " + Quoted("facts.fct") + ")")->ToString(),
      "TRUE");
  // The saved initial fact meets the one the engine has and is dropped.
  EXPECT_EQ(other.Engine().Facts().ToString(), Engine().Facts().ToString());

  // Numbers keep the digits they were written with; facts may span lines.
  WriteFile("more.fct", "; measured\n(c 1.23456\n   -7) (d)\n");
  other.Engine().ParseNExecuteFunCall("(load-facts " + Quoted("more.fct") + ")");
  const IFact* c = other.Engine().Facts().GetFactByID(3);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetValue(SDefaultSlotName)->AsList()->Get(0)->AsFloat(), 1.23456);
  EXPECT_EQ(other.Engine().Facts().Count(), 5);
}

TEST_F(StandardIoTest, SaveWritesTheKnowledgeBase) {
  fixture_.Assert("a", {TIEValue::Integer(1)});
  Eval("(save " + Quoted("bare.clp") + ")");
  EXPECT_THAT(FileText("bare.clp"), ::testing::Not(HasSubstr("; Rules")));

  Engine().Parse("(deffunction twice (?x) (printout t ?x ?x))");
  fixture_.Rule("r1", {{"a", {testing::V("x")}}});
  Eval("(save " + Quoted("kb.clp") + ")");
  const std::string text = FileText("kb.clp");
  for (const char* part : {
           "; *************************\n; Inference Engine v2.7000 Output\n; Created: ",
           "\n; Number of Global Variables: 0\n; Number of Defined Types:    0\n"
           "; Number of Fact Templates:   3\n; Number of Rules:            1\n"
           "; Number of Fact Sets:        0\n; Number of Facts:            2\n"
           "(set-fact-duplication TRUE)\n\n; *************************\n; Fact Templates \n\n"
           "(deftemplate Initial-Fact",
           "\n; *************************\n; Deffunctions \n\n(deffunction twice (?x)\n"
           "  (printout t ?x ?x)\n)\n; *************************\n; Rules \n\n(defrule r1",
           "\n; *************************\n; Facts \n\n(assert\n   (Initial-Fact)\n   (a 1 )\n)\n",
       }) {
    SCOPED_TRACE(part);
    EXPECT_THAT(text, HasSubstr(part));
  }
}

TEST_F(StandardIoTest, SavedKnowledgeBaseLoadsIntoAnotherEngine) {
  Engine().Parse(
      "(deftemplate person \"someone\" (slot name) (slot age (type INTEGER) (default 0)))"
      "(deffunction greeting (?n) (create$ hello ?n))"
      "(defrule greet (person (name ?n)) => (printout t (greeting ?n) crlf))"
      "(assert (person (name Ann) (age 30)) (pair 1 2.5 \"x y\"))");
  Eval("(save " + Quoted("kb.clp") + ")");

  testing::EngineFixture other;
  TInferenceEngine& copy = other.Engine();
  EXPECT_EQ(copy.ParseNExecuteFunCall("(load " + Quoted("kb.clp") + ")").get(), &FCTrue());
  EXPECT_EQ(copy.FactTemplates().ToString(), Engine().FactTemplates().ToString());
  EXPECT_EQ(copy.Rules().ToString(), Engine().Rules().ToString());
  EXPECT_EQ(copy.Facts().ToString(), Engine().Facts().ToString());
  ASSERT_NE(copy.GetUserFunction("greeting"), nullptr);
  EXPECT_EQ(copy.GetUserFunction("greeting")->MinArgumentCount(), 1);
  // Saving the copy gives the same text, but for the time it was made.
  copy.ParseNExecuteFunCall("(save " + Quoted("copy.clp") + ")");
  auto without_time = [](std::string text) {
    const std::size_t start = text.find("; Created: ");
    return text.erase(start, text.find('\n', start) - start);
  };
  EXPECT_EQ(without_time(FileText("copy.clp")), without_time(FileText("kb.clp")));
  other.TakeOutput();  // what loading said about the constructs
  EXPECT_EQ(copy.Run(), 1);
  EXPECT_EQ(other.TakeOutput(), "(hello Ann)\n");
}

// --- files are replaced whole and read as data ---------------------------------------

// Makes writes past `bytes` fail with EFBIG (a full disk does the same) while
// it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_limit_);
    rlimit limit = old_limit_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_limit_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_limit_{};
  void (*old_handler_)(int) = nullptr;
};

TEST_F(StandardIoTest, AFailedSaveLeavesTheOldFile) {
  Engine().Parse("(assert (important data 1))");
  Eval("(save-facts " + Quoted("kb.facts") + ")");
  Eval("(save " + Quoted("kb.clp") + ")");
  const std::string old_facts = FileText("kb.facts");
  const std::string old_kb = FileText("kb.clp");
  ASSERT_EQ(old_facts, "(Initial-Fact)\n(important data 1 )\n");
  Engine().Parse(
      "(bind ?i 0)"
      "(while (< ?i 2000) do (assert (filler ?i \"padding padding padding\")) (bind ?i (+ ?i 1)))");
  {
    FileSizeLimit limit(8192);
    for (const char* call : {"(save-facts %)", "(save-facts % filler)"}) {
      std::string text = call;
      text.replace(text.find('%'), 1, Quoted("kb.facts"));
      SCOPED_TRACE(text);
      EXPECT_THAT([&] { Eval(text); },
                  ThrowsMessage<EIEException>(StrEq("save-facts error: Cannot write to " +
                                                    Path("kb.facts") + ": File too large")));
    }
    EXPECT_THAT([&] { Eval("(save " + Quoted("kb.clp") + ")"); },
                ThrowsMessage<EIEException>(StartsWith("save error: Cannot write to ")));
  }
  EXPECT_EQ(FileText("kb.facts"), old_facts);
  EXPECT_EQ(FileText("kb.clp"), old_kb);
  EXPECT_THAT(FilesIn(folder_), ::testing::UnorderedElementsAre("kb.facts", "kb.clp"));

  // A file of fewer rights keeps them when it is replaced.
  std::filesystem::permissions(
      Path("kb.facts"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  Eval("(save-facts " + Quoted("kb.facts") + " important)");
  EXPECT_EQ(FileText("kb.facts"), "(important data 1 )\n");
  EXPECT_EQ(std::filesystem::status(Path("kb.facts")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // A device is written to, not replaced.
  EXPECT_EQ(Printed("(save-facts \"/dev/null\")"), "TRUE");
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

// --- facts as JSON --------------------------------------------------------------------------

TEST_F(StandardIoTest, FactsTravelAsJsonThroughFiles) {
  Engine().Parse(R"((deftemplate person (slot name) (multislot tags))
                    (assert (person (name "Al") (tags a 2 3.5)))
                    (assert (colour red)))");
  EXPECT_EQ(Printed("(save-facts-json " + Quoted("wm.json") + ")"), "TRUE");
  EXPECT_EQ(FileText("wm.json"),
            "[\n"
            R"({"template": "Initial-Fact", "id": 0, "values": []},)" "\n"
            R"({"template": "person", "id": 1, "slots": {"name": "Al", "tags": [{"atom": "a"}, 2, 3.5]}},)" "\n"
            R"({"template": "colour", "id": 2, "values": [{"atom": "red"}]})" "\n"
            "]\n");

  // Read back after a reset (which numbers facts from 0 again): the same
  // facts, under new ids; the initial fact is a duplicate.
  Engine().Parse("(reset) (assert (other))");
  EXPECT_EQ(Printed("(load-facts-json " + Quoted("wm.json") + ")"), "TRUE");
  EXPECT_EQ(Printed("(fact-to-json 2)"),
            R"("{\"template\": \"person\", \"id\": 2, \"slots\": {\"name\": \"Al\", )"
            R"(\"tags\": [{\"atom\": \"a\"}, 2, 3.5]}}")");
  EXPECT_EQ(Printed("(fact-to-json (assert (x 1)))"),
            R"("{\"template\": \"x\", \"id\": 4, \"values\": [1]}")");
  Engine().Parse("(defrule show ?f <- (colour ?) => (printout t (fact-to-json ?f) crlf))");
  Output();
  Engine().Run();
  EXPECT_EQ(Output(), R"({"template": "colour", "id": 3, "values": [{"atom": "red"}]})" "\n");

  // Errors: nothing of a bad file is asserted, an old file stays when a
  // fact cannot be written, an unknown id is named.
  WriteFile("bad.json", R"([{"template": "colour", "values": []}, {"template": "nope", "slots": {}}])");
  const int count = Engine().Facts().Count();
  EXPECT_THAT([&] { Eval("(load-facts-json " + Quoted("bad.json") + ")"); },
              ThrowsMessage<EIEException>(HasSubstr("JSON fact 1: Unknown fact template: nope")));
  EXPECT_EQ(Engine().Facts().Count(), count);
  EXPECT_THAT([&] { Eval("(load-facts-json " + Quoted("missing.json") + ")"); },
              ThrowsMessage<EIEException>(StartsWith("load-facts-json error: Cannot open file ")));
  EXPECT_THAT([&] { Eval("(fact-to-json 99)"); },
              ThrowsMessage<EIEException>(HasSubstr("No Such Fact with ID=99 exists")));
}

TEST_F(StandardIoTest, SaveFactsOfAnUnknownTemplateIsAnError) {
  Engine().Parse("(assert (a 1))");
  Eval("(save-facts " + Quoted("keep.facts") + ")");
  EXPECT_THAT([&] { Eval("(save-facts " + Quoted("keep.facts") + " a typo-template)"); },
              ThrowsMessage<EIEException>(StrEq("Unknown fact template: typo-template")));
  EXPECT_EQ(FileText("keep.facts"), "(Initial-Fact)\n(a 1 )\n");
}

TEST_F(StandardIoTest, SavingAFactThatWouldNotReadBackFailsBeforeWriting) {
  // Each atom made here reads back as something else, or as nothing.
  const char* kMade[] = {"\"x y\"", "\"(remove victim)\"", "\")\"", "\";c\"", "12", "\"2.5\""};
  WriteFile("kb.facts", "old");
  WriteFile("kb.clp", "old");
  for (const char* made : kMade) {
    SCOPED_TRACE(made);
    Engine().Reset();
    Engine().Parse(std::string("(assert (a ok (sym-cat ") + made + ")))");
    for (const char* save : {"(save-facts %)", "(save %)"}) {
      std::string call = save;
      call.replace(call.find('%'), 1, Quoted(save[5] == '-' ? "kb.facts" : "kb.clp"));
      EXPECT_THAT([&] { Eval(call); },
                  ThrowsMessage<EIEException>(HasSubstr("Cannot save fact f-1 (a ok ")));
    }
    EXPECT_EQ(FileText("kb.facts"), "old");
    EXPECT_EQ(FileText("kb.clp"), "old");
  }
}

TEST_F(StandardIoTest, SavedFactsReadBackAsTheSameFacts) {
  Engine().Parse(
      "(deftemplate t (slot s) (multislot m))"
      "(assert (n 2.5 0.1 1.23456 -0.000001 1e20 12345678.125 (/ 1 3) 1e-7))"
      "(assert (t (s (create$ a \"b c\" 1.5)) (m x 0.3)))"
      "(assert (t (s (create$)) (m)))"
      "(assert (t (s (sym-cat ab cd)) (m (sym-cat \"a-b\"))))");
  Eval("(save-facts " + Quoted("kb.facts") + ")");
  EXPECT_EQ(FileText("kb.facts"),
            "(Initial-Fact)\n"
            "(n 2.5000 0.1000 1.23456 -0.000001 100000000000000000000.0000 12345678.1250 "
            "0.3333333333333333 0.0000001 )\n"
            "(t (m x 0.3000 ) (s (create$ a \"b c\" 1.5000 )))\n"
            "(t (s (create$ )))\n"
            "(t (m a-b ) (s abcd))\n");
  testing::EngineFixture other;
  other.Engine().Parse("(deftemplate t (slot s) (multislot m))");
  other.Engine().ParseNExecuteFunCall("(load-facts " + Quoted("kb.facts") + ")");
  ASSERT_EQ(other.Engine().Facts().Count(), Engine().Facts().Count());
  // The same facts, value for value (the templates are each engine's own).
  Engine().ForEachFact([&](IFact& fact) {
    SCOPED_TRACE(fact.ToString());
    const IFact* copy = other.Engine().Facts().GetFactByID(fact.GetID());
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(copy->Template()->TemplateName(), fact.Template()->TemplateName());
    for (int i = 0; i < fact.Template()->SlotCount(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_NE(copy->ValueAt(i), nullptr);
      EXPECT_TRUE(copy->ValueAt(i)->Equals(fact.ValueAt(i)));
    }
  });
}

TEST_F(StandardIoTest, LoadFactsReadsDataAndSaysWhereItIsWrong) {
  WriteFile("victim", "kept");
  std::string many;
  for (int i = 1; i < 50; ++i) {
    many += "(a " + std::to_string(i) + ")\n";
  }
  struct Case {
    std::string text;
    std::string error;  // after "<path>:"
  };
  const Case kCases[] = {
      {"(a 1)\n(a 2)\n(b (remove " + Quoted("victim") + "))\n",
       "3: Parsing Error, A facts file holds data only, not (remove " + Quoted("victim") +
           ") in LoadFacts at line 3: ( b ( remove " + Quoted("victim") + " ) ) "},
      {"(a ?x)\n",
       "1: Parsing Error, A facts file holds data only, not ?x in LoadFacts at line 1: "
       "( a ?x ) "},
      {many + "(a 50))\n(a 51)\n",
       "50: Parsing Error, Expected \"( <atom>\" in ParseFact at line "
       "50: ) "},
      {"(a 1)\n(e 1", "2: Parsing Error, Expected \")\" in ParseFact at line 2: ( e 1 EOF "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    WriteFile("bad.facts", c.text);
    EXPECT_THAT([&] { Eval("(load-facts " + Quoted("bad.facts") + ")"); },
                ThrowsMessage<EIEException>(StrEq(Path("bad.facts") + ":" + c.error)));
    // Nothing of the file is asserted, nothing in it is run.
    EXPECT_EQ(Engine().Facts().Count(), 1);
    EXPECT_EQ(FileText("victim"), "kept");
  }
}

}  // namespace
}  // namespace zephro

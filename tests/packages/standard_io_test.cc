#include "zephro/packages/standard_io.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/context.h"
#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/functions/user_function.h"
#include "zephro/functions/user_package.h"
#include "zephro/language/clips_parser.h"
#include "zephro/language/stream_token.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "packages/standard_functions.h"
#include "testing/engine_fixture.h"
#include "testing/package_checks.h"

namespace zephro {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// An engine whose standard output is captured, and a folder for its files that
// is removed afterwards.
class StandardIoTest : public ::testing::Test {
 protected:
  StandardIoTest() {
    folder_ = std::filesystem::temp_directory_path() /
              ("zephro-io-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  ~StandardIoTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  TInferenceEngine& Engine() { return fixture_.Engine(); }
  std::string Output() { return fixture_.TakeOutput(); }
  Ref<IIEValue> Eval(const std::string& text) { return ParseNExecuteFunCall(Engine(), text); }
  // The printed form of the value of `text`.
  std::string Printed(const std::string& text) { return Eval(text)->ToString(); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  // `name` as a quoted string of the language.
  std::string Quoted(const std::string& name) const { return "\"" + Path(name) + "\""; }
  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string FileText(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  testing::EngineFixture fixture_;
  std::filesystem::path folder_;
};

// --- registration --------------------------------------------------------------

TEST_F(StandardIoTest, EveryFunctionIsCallableWithinItsLimits) {
  TUserPackage package(nullptr);
  AddStandardIoFunctions(package);
  testing::ExpectEveryFunctionKeepsItsLimits(package, Engine());
}

// --- printout and format -----------------------------------------------------------

struct OutputCase {
  const char* call;
  const char* output;
};

TEST_F(StandardIoTest, PrintOutWritesArgumentsWithoutSeparators) {
  Engine().RootContext().AddLocalBinding("fact", MakeRef<TIEValue>(3, TIEType::dtFactId));
  Engine().RootContext().AddLocalBinding("quote", TIEValue::String("say \"hi\""));
  constexpr OutputCase kCases[] = {
      {R"((printout t "a" crlf 1 2.5))", "a\n12.5000"},
      {"(printout t (create$ a b))", "(a b)"},
      {"(printout t (create$))", "()"},
      {R"((printout t abc "x y" 42 -7))", "abcx y42-7"},
      {"(printout t crlf crlf)", "\n\n"},
      {"(printout t tab CRLF)", "tabCRLF"},
      {"(printout t ?fact)", "<Fact-3>"},
      {"(printout t ?quote)", "say \"hi\""},
      {"(printout t)", ""},
      {"(printout)", ""},
      {"(printout nil x)", "x"},
  };
  for (const OutputCase& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Eval(c.call).get(), &FCNil());
    EXPECT_EQ(Output(), c.output);
  }
}

TEST_F(StandardIoTest, PrintOutRoutesByLogicalName) {
  std::vector<std::string> names;
  Engine().OnPrintOut = [&](TInferenceEngine&, std::string_view name, std::string_view) {
    names.emplace_back(name);
  };
  Eval("(printout t x)");
  Eval("(printout nil x)");
  Eval("(printout errors x)");
  EXPECT_THAT(names, ::testing::ElementsAre("t", "", "errors"));
  Engine().OnPrintOut = nullptr;
  EXPECT_THAT([&] { Eval("(printout errors x)"); },
              ThrowsMessage<EIEException>(StrEq(FormatMessage(SNoSuchFunction, "printout"))));
  EXPECT_NO_THROW(Eval("(printout t x)"));
}

TEST_F(StandardIoTest, FormatFillsDirectivesFromLeftToRight) {
  Engine().RootContext().AddLocalBinding("fact", MakeRef<TIEValue>(3, TIEType::dtFactId));
  constexpr OutputCase kCases[] = {
      {R"((format t "%d items" 3))", "3 items"},
      {R"((format t "x" 1 2))", "x 1 2"},
      {R"((format t "%s%n"))", "%s\n"},
      {R"((format t "a%nb%n%d" 5))", "a\nb\n5"},
      {R"((format t "[%5d|%-5d|%05d|%.3d]" 42 42 -42 7))", "[   42|42   |-0042|007]"},
      {R"((format t "%x %u" 255 -1))", "ff 4294967295"},
      {R"((format t "%d" 2.7))", "2"},
      {R"((format t "%f %.2f %10.3f|%-8.1f|" 1.5 3.14159 3.14159 2.3))",
       "1.500000 3.14      3.142|2.3     |"},
      {R"((format t "%e %.2e" 1234.5 0.000123))", "1.234500e+03 1.23e-04"},
      {R"((format t "%g %g" 0.0001 1234567.0))", "0.0001 1.23457e+06"},
      {R"((format t "%m %.0m %m" 1234567.891 999 -1000))", "1,234,567.89 999 -1,000.00"},
      {R"((format t "%s %s %.2s" abc "abc" abcdef))", "abc \"abc\" ab"},
      {R"((format t "%q %d" 5 6))", "%q %d"},
      {R"((format t "50%" 1))", "50%"},
      {R"((format t "%s %d" "%d" 4))", "\"4\" %d"},
      {R"((format t "%s|%d" "5%" 4))", "\"5%\"|%d"},
      {R"((format t "a" "s t" (create$ x y) ?fact 1.5))", "a s t (x y) 3 1.5000"},
      {R"((format t ""))", ""},
  };
  for (const OutputCase& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_EQ(Eval(c.call).get(), &FCNil());
    EXPECT_EQ(Output(), c.output);
  }
}

struct ErrorCase {
  const char* call;
  const char* message;
};

TEST_F(StandardIoTest, FormatRejectsValuesAndDirectivesItCannotUse) {
  constexpr ErrorCase kCases[] = {
      {R"((format t "%d" abc))", "Not a integer type.  Value (abc) is a dtAtom type"},
      {R"((format t "%f" "x"))", "Not a numeric type.  Value (\"x\") is a dtString type"},
      {R"((format t "%p" 1))", "Not a External Address type.  Value (1) is a dtInteger type"},
      {R"((format t "%1-2d" 1))", "Bad Argument: invalid format directive \"%1-2d\""},
      {R"((format t "%%d" 1))", "Bad Argument: invalid format directive \"%%d\""},
      {R"((format t "%5000d" 1))", "Bad Argument: invalid format directive \"%5000d\""},
      {R"((format t "%.5000f" 1.0))", "Bad Argument: invalid format directive \"%.5000f\""},
  };
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_THAT([&] { Eval(c.call); }, ThrowsMessage<EIEException>(StrEq(c.message)));
    EXPECT_EQ(Output(), "");
  }
}

TEST_F(StandardIoTest, FormatReadsTheControlStringAsWritten) {
  Engine().RootContext().AddLocalBinding("control", TIEValue::String("%d"));
  Eval("(format t ?control 1)");
  EXPECT_EQ(Output(), "control 1");
}

// --- read and readline ----------------------------------------------------------------

struct ReadCase {
  const char* call;
  const char* input;    // the host's line
  const char* printed;  // the result's printed form
};

TEST_F(StandardIoTest, ReadAndReadLineTakeTheHostsLine) {
  constexpr ReadCase kCases[] = {
      {"(readline)", "hello world", "\"hello world\""},
      {"(readline t)", "  padded  ", "\"  padded  \""},
      {"(readline)", "", "EOF"},
      {"(read)", "42 rest", "42"},
      {"(read)", "  \"a b\" c", "\"a b\""},
      {"(read)", "3.5", "3.5000"},
      {"(read)", "word", "word"},
      {"(read)", "", "EOF"},
      {"(read)", "   ", "EOF"},
      {"(read keyboard)", "17", "17"},
  };
  std::string line;
  std::vector<std::string> names;
  Engine().OnReadLine = [&](TInferenceEngine&, std::string_view name, std::string& text) {
    names.emplace_back(name);
    text = line;
  };
  for (const ReadCase& c : kCases) {
    SCOPED_TRACE(c.call);
    line = c.input;
    EXPECT_EQ(Printed(c.call), c.printed);
  }
  EXPECT_EQ(names.back(), "keyboard");
}

TEST_F(StandardIoTest, ReadTakesTheHostsToken) {
  Engine().OnReadToken = [](TInferenceEngine&, std::string_view, Ref<IStreamToken>& token) {
    token = MakeRef<TIEStreamToken>(TokenType(TIEType::dtString), "typed", 1);
  };
  EXPECT_EQ(Printed("(read)"), "\"typed\"");
  Engine().OnReadToken = [](TInferenceEngine&, std::string_view, Ref<IStreamToken>&) {};
  EXPECT_EQ(Printed("(read)"), "EOF");
}

TEST_F(StandardIoTest, ReadingWithoutInputNamesTheFunction) {
  constexpr ErrorCase kCases[] = {
      {"(read)", "read"},
      {"(read t)", "read"},
      {"(read nowhere)", "read"},
      {"(readline)", "readline"},
      {"(readline nowhere)", "readline"},
  };
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.call);
    EXPECT_THAT(
        [&] { Eval(c.call); },
        ThrowsMessage<EIEException>(StrEq(FormatMessage(SNoReadFunctionWarning, c.message))));
  }
}

// --- files under logical names ---------------------------------------------------------

TEST_F(StandardIoTest, WrittenFileReadsBackTokenByTokenAndLineByLine) {
  EXPECT_EQ(Printed("(open " + Quoted("data.txt") + " out \"w\")"), "out");
  Eval(R"((printout out "alpha beta" crlf 42 " \"str\"" crlf crlf "last"))");
  Eval(R"-((format out "%n%d;comment%n(x)" 7))-");
  EXPECT_EQ(Printed("(close out)"), "TRUE");
  EXPECT_EQ(FileText("data.txt"), "alpha beta\n42 \"str\"\n\nlast\n7;comment\n(x)");

  EXPECT_EQ(Printed("(open " + Quoted("data.txt") + " in)"), "in");
  const std::vector<std::pair<const char*, const char*>> kReads = {
      {"(read in)", "alpha"},        {"(readline in)", "\"beta\""},
      {"(read in)", "42"},           {"(read in)", "\"str\""},
      {"(readline in)", "EOF"},      {"(readline in)", "EOF"},
      {"(readline in)", "\"last\""}, {"(read in)", "7"},
      {"(read in)", "\"40\""},       {"(read in)", "x"},
      {"(read in)", "\"41\""},       {"(read in)", "EOF"},
      {"(readline in)", "EOF"},      {"(read in)", "EOF"},
  };
  for (const auto& [call, printed] : kReads) {
    SCOPED_TRACE(call);
    EXPECT_EQ(Printed(call), printed);
  }
  Eval("(close in)");
  EXPECT_THAT([&] { Eval("(close in)"); },
              ThrowsMessage<EIEException>(StrEq("Invalid stream name: in")));
}

TEST_F(StandardIoTest, OpenModesAppendReadAndWrite) {
  WriteFile("log.txt", "one\n");
  Eval("(open " + Quoted("log.txt") + " log \"a\")");
  Eval("(printout log two crlf)");
  Eval("(close log)");
  EXPECT_EQ(FileText("log.txt"), "one\ntwo\n");

  Eval("(open " + Quoted("new.txt") + " log \"a\")");
  Eval("(printout log fresh)");
  Eval("(close)");
  EXPECT_EQ(FileText("new.txt"), "fresh");

  // Reading and writing share one position: after the token and the blank that
  // ended it.
  WriteFile("both.txt", "abc def\n");
  Eval("(open " + Quoted("both.txt") + " both \"r+\")");
  EXPECT_EQ(Printed("(read both)"), "abc");
  Eval("(printout both X)");
  EXPECT_EQ(Printed("(readline both)"), "\"ef\"");
  Eval("(close both)");
  EXPECT_EQ(FileText("both.txt"), "abc Xef\n");

  // A file opened for reading takes no output.
  Eval("(open " + Quoted("both.txt") + " ro \"r\")");
  Eval("(printout ro more)");
  Eval("(close ro)");
  EXPECT_EQ(FileText("both.txt"), "abc Xef\n");
}

TEST_F(StandardIoTest, CloseWithoutArgumentsClosesEveryFile) {
  Eval("(open " + Quoted("a.txt") + " a \"w\")");
  Eval("(open " + Quoted("b.txt") + " b \"w\")");
  EXPECT_EQ(Engine().IOStreams().Count(), 2);
  EXPECT_EQ(Printed("(close)"), "TRUE");
  EXPECT_EQ(Engine().IOStreams().Count(), 0);
  Eval("(open " + Quoted("a.txt") + " a \"w\")");
  Eval("(open " + Quoted("b.txt") + " b \"w\")");
  Eval("(close a b)");
  EXPECT_EQ(Engine().IOStreams().Count(), 0);
}

TEST_F(StandardIoTest, OpenAndCloseReportBadNamesAndModes) {
  WriteFile("exists.txt", "");
  const std::string missing = Path("missing.txt");
  const std::vector<std::pair<std::string, std::string>> kCases = {
      {"(open " + Quoted("exists.txt") + " f \"q\")", "Invalid File Access Specifier: \"q\""},
      {"(open " + Quoted("exists.txt") + " f \"R\")", "Invalid File Access Specifier: \"R\""},
      {"(open " + Quoted("missing.txt") + " f)",
       "open error: Cannot open file " + missing + ": No such file or directory"},
      {"(open " + Quoted("missing.txt") + " f \"r+\")",
       "open error: Cannot open file " + missing + ": No such file or directory"},
      {"(open " + Quoted("nodir/x.txt") + " f \"w\")",
       "open error: Cannot open file " + Path("nodir/x.txt") + ": No such file or directory"},
      {"(close nothing)", "Invalid stream name: nothing"},
  };
  for (const auto& [call, message] : kCases) {
    SCOPED_TRACE(call);
    const std::string& text = call;  // a lambda may not capture a structured binding everywhere
    EXPECT_THAT([&] { Eval(text); }, ThrowsMessage<EIEException>(StrEq(message)));
  }
  EXPECT_EQ(Engine().IOStreams().Count(), 0);
}

TEST_F(StandardIoTest, ReadingAnEmptyFileGivesEof) {
  WriteFile("empty.txt", "");
  Eval("(open " + Quoted("empty.txt") + " e)");
  for (const char* call : {"(read e)", "(readline e)", "(read e)"}) {
    SCOPED_TRACE(call);
    EXPECT_EQ(Eval(call).get(), &FCEOF());
  }
}

// --- batch, load, dribble ----------------------------------------------------------------

TEST_F(StandardIoTest, BatchAnswersItsOwnReads) {
  WriteFile("session.bat",
            "(printout t \"name? \")\n"
            "(printout t (read) crlf)\n"
            "Ann Lee\n"
            "(printout t (readline) crlf)\n"
            "hello world\n"
            "(printout t (read))\n");
  EXPECT_EQ(Printed("(batch " + Quoted("session.bat") + ")"), "TRUE");
  // Each answer is echoed as it is read; the last read meets the end of input.
  EXPECT_EQ(Output(), "name? Ann Lee\nAnn\nhello world\nhello world\n\nEOF");
  // After the batch, reads go to the host again.
  EXPECT_THAT([&] { Eval("(read)"); },
              ThrowsMessage<EIEException>(StrEq(FormatMessage(SNoReadFunctionWarning, "read"))));
}

TEST_F(StandardIoTest, LoadAndBatchReportMissingFiles) {
  EXPECT_THAT([&] { Eval("(load " + Quoted("none.clp") + ")"); },
              ThrowsMessage<EIEException>(StartsWith("load error: Cannot open file ")));
  EXPECT_THAT([&] { Eval("(load-facts " + Quoted("none.fct") + ")"); },
              ThrowsMessage<EIEException>(StartsWith("load-facts error: Cannot open file ")));
  EXPECT_THAT([&] { Eval("(batch " + Quoted("none.bat") + ")"); },
              ThrowsMessage<EIEException>(HasSubstr("none.bat")));
}

TEST_F(StandardIoTest, LoadRunsTheFilesCommands) {
  WriteFile("hello.clp", "(printout t hello crlf)\n(printout t (no-such-function 1))\n");
  EXPECT_THAT(
      [&] { Eval("(load " + Quoted("hello.clp") + ")"); },
      ThrowsMessage<EIEException>(
          StrEq(Path("hello.clp") + ":2: " + FormatMessage(SNoSuchFunction, "no-such-function"))));
  EXPECT_EQ(Output(), "hello\n");
  WriteFile("hello.clp", "(printout t hello)");
  EXPECT_EQ(Printed("(load " + Quoted("hello.clp") + ")"), "TRUE");
  EXPECT_EQ(Output(), "hello");
}

TEST_F(StandardIoTest, DribbleCapturesStandardOutputOnly) {
  std::string host;
  Engine().OnPrintOut = [&](TInferenceEngine&, std::string_view name, std::string_view text) {
    host += std::string(name) + ":" + std::string(text) + ";";
  };
  EXPECT_EQ(Printed("(dribble-on " + Quoted("dribble.txt") + ")"), "TRUE");
  Eval("(printout t captured crlf)");
  Eval("(printout side visible)");
  EXPECT_EQ(Printed("(dribble-off)"), "TRUE");
  Eval("(printout t after)");
  EXPECT_EQ(host, "side:visible;t:after;");
  EXPECT_EQ(FileText("dribble.txt"), "captured\n");
}

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
      ParseNExecuteFunCall(other.Engine(), "(load-facts " + Quoted("facts.fct") + ")")->ToString(),
      "TRUE");
  // The saved initial fact meets the one the engine has and is dropped.
  EXPECT_EQ(other.Engine().Facts().ToString(), Engine().Facts().ToString());

  // Numbers keep the digits they were written with; facts may span lines.
  WriteFile("more.fct", "; measured\n(c 1.23456\n   -7) (d)\n");
  ParseNExecuteFunCall(other.Engine(), "(load-facts " + Quoted("more.fct") + ")");
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
  EXPECT_EQ(ParseNExecuteFunCall(copy, "(load " + Quoted("kb.clp") + ")").get(), &FCTrue());
  EXPECT_EQ(copy.FactTemplates().ToString(), Engine().FactTemplates().ToString());
  EXPECT_EQ(copy.Rules().ToString(), Engine().Rules().ToString());
  EXPECT_EQ(copy.Facts().ToString(), Engine().Facts().ToString());
  ASSERT_NE(copy.GetUserFunction("greeting"), nullptr);
  EXPECT_EQ(copy.GetUserFunction("greeting")->MinArgumentCount(), 1);
  // Saving the copy gives the same text, but for the time it was made.
  ParseNExecuteFunCall(copy, "(save " + Quoted("copy.clp") + ")");
  auto without_time = [](std::string text) {
    const std::size_t start = text.find("; Created: ");
    return text.erase(start, text.find('\n', start) - start);
  };
  EXPECT_EQ(without_time(FileText("copy.clp")), without_time(FileText("kb.clp")));
  other.TakeOutput();  // what loading said about the constructs
  EXPECT_EQ(copy.Run(), 1);
  EXPECT_EQ(other.TakeOutput(), "(hello Ann)\n");
}

// --- remove and rename --------------------------------------------------------------------

TEST_F(StandardIoTest, RemoveAndRenameAnswerWhetherTheyWorked) {
  struct Case {
    const char* function;
    std::vector<const char*> files;  // relative to the test folder
    const char* result;
    std::vector<const char*> files_after;
  };
  const Case kCases[] = {
      {"remove", {"a"}, "TRUE", {"b"}},       {"remove", {"a"}, "FALSE", {"b"}},
      {"rename", {"b", "c"}, "TRUE", {"c"}},  {"rename", {"b", "d"}, "FALSE", {"c"}},
      {"rename", {"c", "c"}, "FALSE", {"c"}},
  };
  WriteFile("a", "1");
  WriteFile("b", "2");
  for (const Case& c : kCases) {
    std::string call = std::string("(") + c.function;
    for (const char* file : c.files) {
      call += " " + Quoted(file);
    }
    call += ")";
    SCOPED_TRACE(call);
    EXPECT_EQ(Printed(call), c.result);
    std::vector<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      present.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(present, ::testing::UnorderedElementsAreArray(c.files_after));
  }
  WriteFile("d", "4");
  EXPECT_EQ(Printed("(rename " + Quoted("c") + " " + Quoted("d") + ")"), "FALSE");
  EXPECT_EQ(FileText("c"), "2");
  EXPECT_EQ(FileText("d"), "4");
}

// --- files are replaced whole, named safely, and read as data ------------------------------

// The names of the files in the test folder.
std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST_F(StandardIoTest, FileNamesHoldingANulAreRefused) {
  // Cut at the NUL, each name would be "victim": remove would delete it,
  // save would overwrite it.
  WriteFile("victim", "kept");
  const std::string nul_name = "\"" + Path("victim") + std::string(1, '\0') + ".x\"";
  const std::string calls[] = {
      "(remove %)",
      "(rename " + Quoted("victim") + " %)",
      "(rename % " + Quoted("new") + ")",
      "(open % f \"w\")",
      "(open % f \"a\")",
      "(load %)",
      "(batch %)",
      "(save %)",
      "(save-facts %)",
      "(load-facts %)",
      "(dribble-on %)",
  };
  for (std::string call : calls) {
    call.replace(call.find('%'), 1, nul_name);
    SCOPED_TRACE(call);
    EXPECT_THAT([&] { Eval(call); },
                ThrowsMessage<EBaseException>(HasSubstr("\\0...\": it holds a NUL character")));
    EXPECT_EQ(FileText("victim"), "kept");
    EXPECT_THAT(FilesIn(folder_), ::testing::ElementsAre("victim"));
  }
  EXPECT_EQ(Printed("(dribble-off)"), "TRUE");
}

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
  ParseNExecuteFunCall(other.Engine(), "(load-facts " + Quoted("kb.facts") + ")");
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

TEST_F(StandardIoTest, BatchAndLoadErrorsNameTheFileAndLine) {
  WriteFile("b.bat",
            "(printout t one crlf)\n(printout t two crlf)\n(/ 1 0)\n(printout t no crlf)\n");
  EXPECT_THAT([&] { Eval("(batch " + Quoted("b.bat") + ")"); },
              ThrowsMessage<EIEException>(
                  StrEq(Path("b.bat") + ":3: / error: Floating point division by zero")));
  WriteFile("l.clp", "(deftemplate p (slot x))\n\n(assert (p (y 1)))\n");
  EXPECT_THAT(
      [&] { Eval("(load " + Quoted("l.clp") + ")"); },
      ThrowsMessage<EIEException>(StartsWith(
          Path("l.clp") + ":3: Parsing Error, Bad Slot Name: y in ParseFactSlot at line 3")));
}

TEST_F(StandardIoTest, DribbleReportsOutputItCouldNotWrite) {
  std::string host;
  Engine().OnPrintOut = [&](TInferenceEngine&, std::string_view, std::string_view text) {
    host += text;
  };
  EXPECT_EQ(Printed("(dribble-on \"/dev/full\")"), "TRUE");
  EXPECT_THAT([&] { Eval("(printout t \"this line is lost\" crlf)"); },
              ThrowsMessage<EIEException>(
                  StrEq("printout error: Cannot write to /dev/full: No space left on device")));
  // The capture has ended: output reaches the host again.
  Eval("(printout t after crlf)");
  EXPECT_EQ(host, "after\n");
  EXPECT_EQ(Printed("(dribble-off)"), "TRUE");

  // A stream that fails by the time the capture ends: dribble-off says so,
  // and the capture is over all the same.
  auto stream = std::make_unique<std::ostringstream>();
  std::ostringstream& failing = *stream;
  Engine().StartCapture(std::move(stream));
  failing.setstate(std::ios::badbit);
  EXPECT_THAT([&] { Eval("(dribble-off)"); },
              ThrowsMessage<EIEException>(
                  StrEq("dribble-off error: Cannot write to the capture stream: write error")));
  Eval("(printout t again)");
  EXPECT_EQ(host, "after\nagain");
}

}  // namespace
}  // namespace zephro

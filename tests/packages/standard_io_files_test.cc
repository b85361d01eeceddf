// The standard I/O package's files: files under logical names, batch, load
// and dribble, remove and rename, names that are refused, and the errors of
// reading and writing them.

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"

#include "packages/standard_io_fixture.h"

namespace zephro {
namespace {

using testing::FilesIn;
using ::testing::HasSubstr;
using testing::StandardIoTest;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

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

// --- names refused, errors reported --------------------------------------------------

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

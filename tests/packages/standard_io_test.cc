// The standard I/O package at the console: its functions and their limits,
// printout and format, and read and readline from the host. Files are
// standard_io_files_test.cc, saving and loading facts and the knowledge base
// standard_io_save_load_test.cc.

#include "zephro/packages/standard_io.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/engine/io_streams.h"
#include "zephro/functions/context.h"
#include "zephro/functions/user_function.h"
#include "zephro/functions/user_package.h"
#include "zephro/language/clips_parser.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/stream_token.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "packages/standard_functions.h"
#include "packages/standard_io_fixture.h"
#include "testing/package_checks.h"

namespace zephro {
namespace {

using testing::StandardIoTest;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

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

}  // namespace
}  // namespace zephro

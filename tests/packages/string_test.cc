#include <gtest/gtest.h>

#include "zephro/packages/string_package.h"

#include "testing/engine_fixture.h"
#include "testing/function_calls.h"

namespace zephro {
namespace {

using testing::EngineFixture;
using testing::ExpectOutcomes;

TEST(StringPackageTest, ConcatenationAndComparison) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"str-cat", {}, "\"\""},
          {"str-cat", {"\"a\"", "b", "1", "2.5"}, "\"ab12.5000\""},
          {"str-cat", {"(a)"}, "raises: Not a string type.  Value (a ) is a dtList type"},
          {"sym-cat", {"a", "\"b\"", "3"}, "ab3"},
          {"sym-cat", {}, ""},
          {"str-compare", {"\"a\"", "\"a\""}, "0"},
          {"str-compare", {"\"a\"", "\"c\""}, "-2"},
          {"str-compare", {"\"c\"", "\"a\""}, "2"},
          {"str-compare", {"\"ab\"", "\"a\""}, "1"},
          {"str-compare", {"\"a\"", "\"abc\""}, "-2"},
          {"str-compare", {"\"\"", "\"\""}, "0"},
          {"str-compare", {"\"B\"", "\"a\""}, "-31"},     // case-sensitive
          {"str-compare", {"\"\xe9\"", "\"a\""}, "136"},  // bytes compare unsigned
          {"str-compare", {"abc", "\"abc\""}, "0"},
          {"str-compare", {"\"a\""}, "raises: Too few arguments for str-compare"},
      });
}

TEST(StringPackageTest, PositionsCountFromOne) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"str-index", {"\"c\"", "\"abc\""}, "3"},
          {"str-index", {"\"abc\"", "\"abc\""}, "1"},
          {"str-index", {"\"bc\"", "\"abcbc\""}, "2"},
          {"str-index", {"\"z\"", "\"abc\""}, "FALSE"},
          {"str-index", {"\"abcd\"", "\"abc\""}, "FALSE"},
          {"str-index", {"\"\"", "\"abc\""}, "FALSE"},
          {"str-index", {"\"a\"", "\"\""}, "FALSE"},
          {"str-index", {"1", "\"x1\""}, "2"},
          {"str-length", {"\"hello\""}, "5"},
          {"str-length", {"\"\""}, "0"},
          {"str-length", {"abc"}, "3"},
          {"str-length", {"2.5"}, "6"},  // "2.5000"
          {"sub-string", {"2", "3", "\"hello\""}, "\"el\""},
          {"sub-string", {"1", "5", "\"hello\""}, "\"hello\""},
          {"sub-string", {"5", "5", "\"hello\""}, "\"o\""},
          {"sub-string", {"2", "9", "\"hello\""}, "\"ello\""},
          {"sub-string", {"2", "2147483647", "\"hello\""}, "\"ello\""},
          {"sub-string", {"2", "1", "\"hello\""}, "\"\""},
          {"sub-string", {"1", "1", "abc"}, "\"a\""},
          {"sub-string", {"1.9", "2", "\"abc\""}, "\"ab\""},
          {"sub-string", {"0", "1", "\"a\""}, "raises: Invalid substring parameters: 0, 1"},
          {"sub-string", {"6", "6", "\"hello\""}, "raises: Invalid substring parameters: 6, 6"},
          {"sub-string", {"3", "1", "\"hello\""}, "raises: Invalid substring parameters: 3, 1"},
          {"sub-string", {"1", "0", "\"\""}, "raises: Invalid substring parameters: 1, 0"},
          {"sub-string",
           {"-2147483648", "-2147483648", "\"a\""},
           "raises: Invalid substring parameters: -2147483648, -2147483648"},
          {"sub-string",
           {"2147483647", "2147483647", "\"a\""},
           "raises: Invalid substring parameters: 2147483647, 2147483647"},
          {"sub-string",
           {"a", "1", "\"a\""},
           "raises: Not a integer type.  Value (a) is a dtAtom type"},
          {"sub-string", {"1", "1"}, "raises: Too few arguments for sub-string"},
      });
}

TEST(StringPackageTest, CaseConversionKeepsTheLexemeKind) {
  EngineFixture fixture;
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"upcase", {"\"abc\""}, "\"ABC\""},
                     {"upcase", {"abc"}, "ABC"},
                     {"upcase", {"\"a1-b\""}, "\"A1-B\""},
                     {"upcase", {"\"\xe9x\""}, "\"\xe9X\""},  // ASCII letters only
                     {"upcase", {"12"}, "\"12\""},
                     {"upcase", {"(a)"}, "raises: Not a string type.  Value (a ) is a dtList type"},
                     {"upcase", {"a", "b"}, "raises: Too many arguments for upcase"},
                     {"lowcase", {"\"ABC\""}, "\"abc\""},
                     {"lowcase", {"AbC"}, "abc"},
                     {"lowcase", {"\"\""}, "\"\""},
                     {"lowcase", {"1.5"}, "\"1.5000\""},
                 });
}

TEST(StringPackageTest, FormatReturnsTheTextAndPrintsNothing) {
  EngineFixture fixture;
  fixture.Engine().RootContext().SetVariable("n", TIEValue::Integer(7));
  fixture.Engine().RootContext().SetVariable("fmt", TIEValue::String("%d"));
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"str-format", {"\"%d items\"", "3"}, "\"3 items\""},
                     {"str-format", {"\"%d\"", "?n"}, "\"7\""},
                     {"str-format", {"\"%5.2f|\"", "3.14159"}, "\" 3.14|\""},
                     {"str-format", {"\"x\"", "1", "2"}, "\"x 1 2\""},
                     {"str-format", {"\"%s|%s\"", "a"}, "\"a|%s\""},
                     {"str-format", {"?fmt", "1"}, "\"fmt 1\""},  // the control is not evaluated
                     {"str-format",
                      {"\"%d\"", "abc"},
                      "raises: Not a integer type.  Value (abc) is a dtAtom type"},
                     {"str-format", {"\"x\""}, "raises: Too few arguments for str-format"},
                 });
  EXPECT_EQ(fixture.TakeOutput(), "");
}

}  // namespace
}  // namespace zephro

#include <gtest/gtest.h>

#include "zephro/functions/context.h"
#include "zephro/packages/predicate_package.h"
#include "zephro/values/value.h"

#include "testing/engine_fixture.h"
#include "testing/function_calls.h"

namespace zephro {
namespace {

using testing::CallCase;
using testing::EngineFixture;
using testing::ExpectOutcomes;

TEST(PredicatePackageTest, AnswersByKind) {
  EngineFixture fixture;
  fixture.Engine().RootContext().SetVariable("f", TIEValue::Float(2.5));
  fixture.Engine().RootContext().SetVariable("n", TIEValue::Integer(3));
  ExpectOutcomes(fixture.Engine(),
                 {
                     {"get-type", {"1"}, "dtInteger"},
                     {"get-type", {"1.5"}, "dtFloat"},
                     {"get-type", {"abc"}, "dtAtom"},
                     {"get-type", {"\"abc\""}, "dtString"},
                     {"get-type", {"(a 1)"}, "dtList"},
                     {"get-type", {"<address>"}, "dtExternalAddress"},
                     {"get-type", {"?f"}, "dtFloat"},  // the binding, not the variable
                     {"lexemep", {"abc"}, "TRUE"},
                     {"lexemep", {"\"abc\""}, "TRUE"},
                     {"lexemep", {"1"}, "FALSE"},
                     {"numberp", {"1.5"}, "TRUE"},
                     {"numberp", {"1"}, "TRUE"},
                     {"numberp", {"'1"}, "FALSE"},
                     {"numberp", {"\"1\""}, "FALSE"},
                     {"floatp", {"1.0"}, "TRUE"},
                     {"floatp", {"1"}, "FALSE"},
                     {"fuzzyp", {"<fuzzy>"}, "TRUE"},
                     {"fuzzyp", {"1.5"}, "FALSE"},
                     {"integerp", {"1"}, "TRUE"},
                     {"integerp", {"1.0"}, "FALSE"},
                     {"integerp", {"?n"}, "TRUE"},
                     {"stringp", {"\"a\""}, "TRUE"},
                     {"stringp", {"a"}, "FALSE"},
                     {"symbolp", {"a"}, "TRUE"},
                     {"symbolp", {"\"a\""}, "FALSE"},
                     {"multifieldp", {"()"}, "TRUE"},
                     {"multifieldp", {"(a b)"}, "TRUE"},
                     {"multifieldp", {"a"}, "FALSE"},
                     {"external-addressp", {"<address>"}, "TRUE"},
                     {"external-addressp", {"<object>"}, "FALSE"},
                     {"objectp", {"<object>"}, "TRUE"},
                     {"objectp", {"<address>"}, "FALSE"},
                     {"numberp", {}, "raises: Too few arguments for numberp"},
                     {"numberp", {"1", "2"}, "raises: Too many arguments for numberp"},
                     {"get-type", {}, "raises: Too few arguments for get-type"},
                 });
}

TEST(PredicatePackageTest, EvenAndOddTestTheIntegerForm) {
  EngineFixture fixture;
  ExpectOutcomes(
      fixture.Engine(),
      {
          {"evenp", {"4"}, "TRUE"},
          {"evenp", {"3"}, "FALSE"},
          {"evenp", {"0"}, "TRUE"},
          {"evenp", {"-2"}, "TRUE"},
          {"evenp", {"-3"}, "FALSE"},
          {"evenp", {"-2147483648"}, "TRUE"},
          {"evenp", {"3.7"}, "FALSE"},  // truncated to 3
          {"evenp", {"-4.5"}, "TRUE"},
          {"evenp", {"'12"}, "TRUE"},
          {"oddp", {"3"}, "TRUE"},
          {"oddp", {"-1"}, "TRUE"},
          {"oddp", {"2147483647"}, "TRUE"},
          {"oddp", {"-2147483648"}, "FALSE"},
          {"oddp", {"\"2.9\""}, "FALSE"},
          {"evenp", {"abc"}, "raises: Not a integer type.  Value (abc) is a dtAtom type"},
          {"oddp", {"(1)"}, "raises: Not a integer type.  Value (1 ) is a dtList type"},
          {"oddp", {}, "raises: Too few arguments for oddp"},
      });
}

TEST(PredicatePackageTest, KindTestHelpListsItsKinds) {
  struct Case {
    TIETypes types;
    const char* kinds;
  };
  const Case cases[] = {
      {TIETypes{TIEType::dtFloat, TIEType::dtInteger}, "Integer, Float"},
      {TIETypes{TIEType::dtExternalAddress}, "ExternalAddress"},
      {TIETypes{}, "NONE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kinds);
    Ref<TVerifyTypePFunction> f = TIEUserFunction::Make<TVerifyTypePFunction>("k", c.types);
    EXPECT_EQ(f->Comment(), std::string("Returns TRUE if the argument is of the following "
                                        "type(s): ") +
                                c.kinds +
                                ".  If the argument is any other type, FALSE is returned");
  }
}

TEST(PredicatePackageTest, ChangedKindsChangeAnswersAndHelp) {
  EngineFixture fixture;
  Ref<TVerifyTypePFunction> f =
      TIEUserFunction::Make<TVerifyTypePFunction>("kindp", TIETypes{TIEType::dtAtom});
  f->AddReasoner(fixture.Engine());
  ExpectOutcomes(fixture.Engine(), {{"kindp", {"a"}, "TRUE"}, {"kindp", {"1"}, "FALSE"}});

  f->SetTypes(TIETypes{TIEType::dtInteger});
  ExpectOutcomes(fixture.Engine(), {{"kindp", {"a"}, "FALSE"}, {"kindp", {"1"}, "TRUE"}});
  EXPECT_EQ(f->Comment(), VerifyTypeComment(TIETypes{TIEType::dtInteger}));

  Ref<TVerifyTypePFunction> copy = TIEUserFunction::Make<TVerifyTypePFunction>("c", TIETypes{});
  copy->Assign(*f);
  EXPECT_EQ(copy->FunctionName(), "kindp");
  EXPECT_EQ(copy->Types(), TIETypes{TIEType::dtInteger});
  EXPECT_EQ(copy->Comment(), f->Comment());
}

}  // namespace
}  // namespace zephro

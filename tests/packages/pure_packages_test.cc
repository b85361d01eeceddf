// The functions the predicate, math and string packages register, in order,
// with their syntax and argument limits, and the engine's use of the packages.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/packages/math_package.h"
#include "zephro/packages/predicate_package.h"
#include "zephro/packages/string_package.h"

namespace zephro {
namespace {

constexpr std::int32_t kMax = 2147483647;

struct Entry {
  const char* name;
  const char* syntax;
  std::int32_t min;
  std::int32_t max;
};

// Compares the package's functions, in registration order, with `entries`.
void ExpectFunctions(const TUserPackage& package, const std::vector<Entry>& entries) {
  ASSERT_EQ(package.Functions().Count(), static_cast<int>(entries.size()));
  for (int i = 0; i < package.Functions().Count(); ++i) {
    const IUserFunction& f = package.Functions().Get(i);
    const Entry& e = entries[static_cast<std::size_t>(i)];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(f.FunctionName(), e.name);
    EXPECT_EQ(f.ArgumentString(), e.syntax);
    EXPECT_EQ(f.MinArgumentCount(), e.min);
    EXPECT_EQ(f.MaxArgumentCount(), e.max);
    EXPECT_FALSE(f.Comment().empty());
  }
}

TEST(PurePackagesTest, PredicateFunctions) {
  auto package = std::make_unique<TPredicatePackage>(nullptr);
  ExpectFunctions(*package, {
                                {"get-type", " <expression>", 1, 1},
                                {"evenp", " <integer-expression>", 1, 1},
                                {"oddp", " <integer-expression>", 1, 1},
                                {"lexemep", " <expression>", 1, 1},
                                {"numberp", " <expression>", 1, 1},
                                {"floatp", " <expression>", 1, 1},
                                {"fuzzyp", " <expression>", 1, 1},
                                {"integerp", " <expression>", 1, 1},
                                {"stringp", " <expression>", 1, 1},
                                {"symbolp", " <expression>", 1, 1},
                                {"multifieldp", " <expression>", 1, 1},
                                {"external-addressp", " <expression>", 1, 1},
                                {"objectp", " <expression>", 1, 1},
                            });
  const IUserFunction& lexemep = package->Functions().Get(package->IndexOf("lexemep"));
  EXPECT_EQ(lexemep.Comment(),
            "Returns TRUE if the argument is of the following type(s): Atom, String.  If the "
            "argument is any other type, FALSE is returned");
}

TEST(PurePackagesTest, MathFunctions) {
  auto package = std::make_unique<TMathPackage>(nullptr);
  ExpectFunctions(*package,
                  {
                      {"+", " <numeric-expression>+", 0, kMax},
                      {"-", " <numeric-expression>+", 1, kMax},
                      {"*", " <numeric-expression>+", 0, kMax},
                      {"/", " <numeric-expression>+", 1, kMax},
                      {"div", " <integer-expression>+", 1, kMax},
                      {"mod", " <integer-expression> <integer-expression>", 2, 2},
                      {"abs", " <numeric-expression>", 1, 1},
                      {"max", " <numeric-expression>+", 1, kMax},
                      {"min", " <numeric-expression>+", 1, kMax},
                      {"float", " <numeric-expression>", 1, 1},
                      {"integer", " <numeric-expression>", 1, 1},
                      {"round", " <numeric-expression>", 1, 1},
                      {"sqrt", " <numeric-expression>", 1, 1},
                      {"exp", " <numeric-expression>", 1, 1},
                      {"**", " <numeric-expression> <numeric-expression>", 2, 2},
                      {"log", " <numeric-expression>", 1, 1},
                      {"log10", " <numeric-expression>", 1, 1},
                      {"PI", "", 0, 0},
                      {"random", " [[<low-integer-expression>] <high-integer-expression>]", 0, 2},
                      {"randomize", " [<seed-integer-expression> ]", 0, 1},
                      {"seed", " <integer-expression>", 1, 1},
                  });
}

TEST(PurePackagesTest, StringFunctions) {
  auto package = std::make_unique<TStringPackage>(nullptr);
  ExpectFunctions(
      *package,
      {
          {"str-cat", " <lexeme-expression>*", 0, kMax},
          {"sym-cat", " <expression>*", 0, kMax},
          {"str-compare", " <lexeme-expression> <lexeme-expression>", 2, 2},
          {"str-index", " <lexeme-expression> <lexeme-expression>", 2, 2},
          {"str-length", " <lexeme-expression>", 1, 1},
          {"sub-string", " <start-integer-expression> <end-integer-expression> <lexeme-expression>",
           3, 3},
          {"upcase", " <lexeme-expression>", 1, 1},
          {"lowcase", " <string-or-symbol-expression>", 1, 1},
          {"str-format", "<string-expression> <expression>+", 2, kMax},
      });
}

// An engine files each package's functions under their names, and leaves out
// the packages its Packages set leaves out.
TEST(PurePackagesTest, EngineFilesThePackagesItIsAskedFor) {
  struct Case {
    TFunctionPackages packages;
    bool predicate;
    bool math;
    bool string;
  };
  const Case cases[] = {
      {kAllFunctionPackages, true, true, true},
      {TFunctionPackages{TFunctionPackage::pMath}, false, true, false},
      {TFunctionPackages{TFunctionPackage::pPredicate, TFunctionPackage::pString}, true, false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.packages.Bits());
    TInferenceEngine engine;
    engine.SetPackages(c.packages);
    EXPECT_EQ(engine.ContainsUserFunction("numberp") != nullptr, c.predicate);
    EXPECT_EQ(engine.ContainsUserFunction("**") != nullptr, c.math);
    EXPECT_EQ(engine.ContainsUserFunction("sub-string") != nullptr, c.string);
  }
}

}  // namespace
}  // namespace zephro

// Defined types printed back to deftype text: every combination of clauses
// reads back as an equal type that prints the same, and the deftype errors.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/collections.h"
#include "zephro/language/clips_parser.h"
#include "zephro/types/defined_type.h"
#include "zephro/values/exceptions.h"

#include "testing/engine_fixture.h"

namespace zephro {
namespace {

// The clause of each bit of a combination.
struct Clause {
  const char* text;
  bool numeric;  // needs a numeric type
};
constexpr Clause kClauses[] = {
    {" (range -2.5 1e3)", true},
    {" (cardinality 2 ?VARIABLE)", false},
    {" (units \"m/s 2\")", false},
    {" (allowed-symbols b a)", false},
    {" (allowed-strings \"q r\" \"\")", false},
    {" (allowed-integers 3 -1)", true},
    {" (allowed-floats 0.125 7.0)", true},
};
constexpr int kClauseCount = static_cast<int>(std::size(kClauses));

TEST(TypePrintingTest, EveryCombinationOfClausesReadsBackAsAnEqualType) {
  testing::EngineFixture fixture;
  TInferenceEngine& e = fixture.Engine();
  e.Parse("(deftype base extends (type SYMBOL STRING INTEGER FLOAT))", true);
  int checked = 0;
  for (int mask = 0; mask < (1 << kClauseCount); ++mask) {
    for (const char* head : {"extends (type ?VARIABLE)", "\"a \\\"note\\\"\" extends (type base)",
                             "extends (type base LEXEME)", "extends (type NUMBER)"}) {
      std::string text = std::string("(deftype t ") + head;
      for (int bit = 0; bit < kClauseCount; ++bit) {
        if ((mask & (1 << bit)) != 0) {
          text += kClauses[bit].text;
        }
      }
      text += ")";
      SCOPED_TRACE(text);
      Ref<TIEDefinedType> once = e.ParseDefinedType(text);
      const std::string printed = once->ToString();
      Ref<TIEDefinedType> twice = e.ParseDefinedType(printed);
      EXPECT_TRUE(twice->Equals(*once)) << printed;
      EXPECT_EQ(twice->ToString(), printed);
      EXPECT_EQ(twice->Comment(), once->Comment());
      EXPECT_EQ(twice->Units(), once->Units());
      ++checked;
    }
  }
  EXPECT_EQ(checked, 4 << kClauseCount);
}

TEST(TypePrintingTest, BoundsPrintWithTheDigitsTheyNeed) {
  testing::EngineFixture fixture;
  TInferenceEngine& e = fixture.Engine();
  struct Case {
    const char* text;
    const char* printed;
  };
  const Case kCases[] = {
      {"(deftype t extends (type FLOAT) (range 0.1 (/ 1 3)))",
       "(deftype t extends (type FLOAT)\n  (range 0.1000 0.3333333333333333))"},
      {"(deftype t extends (type INTEGER) (range ?VARIABLE 5))",
       "(deftype t extends (type INTEGER)\n  (range ?VARIABLE 5))"},
      {"(defglobal ?*low* = 2)(deftype t extends (type INTEGER) (cardinality ?*low* 3))",
       "(deftype t extends (type INTEGER)\n  (cardinality 2 3))"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    e.Parse(c.text, true);
    EXPECT_EQ(e.DefinedTypes().Get("t")->ToString(), c.printed);
  }
}

TEST(TypePrintingTest, BrokenDeftypesSayWhy) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case kCases[] = {
      {"(deftype t extends (type))", "Empty base type for defined type not allowed"},
      {"(deftype t extends (type FUZZY INTEGER))",
       "Cannot mix fuzzy type with other primitive types"},
      {"(deftype t extends (type INTEGER) (range 5 1))",
       "Invalid low and high limits specified: 5.0000 to 1.0000"},
      {"(deftype t extends (type INTEGER) (cardinality 3 ?VARIABLE) (range a 1))",
       "Expected integer, variable, or function call for range"},
      {"(deftype t extends (type INTEGER) (range ?x 1))",
       "Expected integer, variable, or function call for range"},
      {"(deftype t extends (type nothing))", "Invalid slot type: nothing"},
      {"(deftype t extends (type SYMBOL) (allowed-values a (create$ b c)))",
       "Defined Type t cannot contain List constraint types"},
      {"(deftype t extends (type SYMBOL) (allowed-colours a))",
       "Expected allowed value argument for deftype, received allowed-colours"},
      {"(deftype a extends (type SYMBOL)) (deftype b extends (type a FLOAT)) "
       "(deftype c extends (type a b))",
       "Multiple inheritance is not allowed for deftypes"},
      {"(deftemplate t (slot x (type UNKNOWN)))", "Invalid slot type: UNKNOWN"},
      {"(deftemplate t is-a nothing)", "type name unknown or invalid: nothing"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    testing::EngineFixture fixture;
    TInferenceEngine& e = fixture.Engine();
    const int types = e.DefinedTypes().Count();
    try {
      e.Parse(c.text, true);
      ADD_FAILURE() << "no error";
    } catch (const EIEException& error) {
      EXPECT_THAT(error.what(), ::testing::HasSubstr(c.error));
    }
    EXPECT_EQ(e.DefinedTypes().Get("t"), nullptr);
    EXPECT_LE(e.DefinedTypes().Count(), types + 2);
    // The engine goes on.
    e.Parse("(deftype ok extends (type SYMBOL))", true);
    EXPECT_NE(e.DefinedTypes().Get("ok"), nullptr);
  }
}

}  // namespace
}  // namespace zephro

#include "zephro/values/type_set_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

TEST(SetToStringTest, NamesKindsWithoutPrefixInEnumerationOrder) {
  using enum TIEType;
  struct Case {
    TIETypes kinds;
    const char* separator;
    bool brackets;
    const char* text;
  };
  const Case kCases[] = {
      {{dtInteger, dtFloat}, ", ", true, "[Integer, Float]"},
      {{dtFact, dtFactId}, ", ", false, "FactId, Fact"},
      {{dtMultiVariable, dtAtom, dtVariable}, ", ", false, "Atom, Variable, MultiVariable"},
      {{dtString}, "|", false, "String"},
      {{}, ", ", true, "[]"},
      {{}, ", ", false, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SetToString(c.kinds, c.separator, c.brackets), c.text);
  }
}

TEST(SetToStringTest, KindNamesAndSetsReadBack) {
  using enum TIEType;
  struct Case {
    TIEType kind;
    const char* name;
  };
  const Case kCases[] = {
      {dtNone, "dtNone"},
      {dtInteger, "dtInteger"},
      {dtExternalAddress, "dtExternalAddress"},
      {dtMultiSlot, "dtMultiSlot"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetIETypeName(c.kind), c.name);
  }
  EXPECT_EQ(GetIETypeName(static_cast<TIEType>(kIETypeCount)), "<UNKNOWN>");

  // What SetToString writes, StringToSet reads back with the "dt" prefix.
  for (const TIETypes kinds :
       {TIETypes{dtInteger, dtFloat}, IESlotTypes, IEMultiSlotTypes, TIETypes{}}) {
    for (const bool brackets : {false, true}) {
      const std::string text = SetToString(kinds, ", ", brackets);
      SCOPED_TRACE(text);
      EXPECT_EQ(StringToSet<TIEType>(text, kIETypeNames, "dt"), kinds);
    }
  }
  EXPECT_THAT(
      [] { StringToSet<TIEType>("[Integer, Real]", kIETypeNames, "dt"); },
      ::testing::ThrowsMessage<EBaseException>(::testing::StrEq("Invalid item for set: dtReal")));
}

}  // namespace
}  // namespace zephro

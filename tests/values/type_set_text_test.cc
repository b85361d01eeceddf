#include "zephro/values/type_set_text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zephro

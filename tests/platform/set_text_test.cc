#include "zephro/platform/set_text.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

enum class TTint : std::uint8_t { tnRed, tnGreen, tnBlue, tnDeepPurple };
using TTints = EnumSet<TTint>;
constexpr std::array<std::string_view, 4> kTintNames = {"tnRed", "tnGreen", "tnBlue",
                                                        "tnDeepPurple"};

TEST(SetTextTest, WritesMembersInOrdinalOrder) {
  using enum TTint;
  struct Case {
    TTints set;
    const char* separator;
    bool brackets;
    std::size_t prefix_length;
    const char* text;
  };
  const Case kCases[] = {
      {{tnBlue, tnRed}, ", ", true, 2, "[Red, Blue]"},
      {{tnBlue, tnRed}, ",", false, 0, "tnRed,tnBlue"},
      {{tnDeepPurple}, " ", false, 2, "DeepPurple"},
      {{tnGreen, tnBlue}, "", false, 2, "GreenBlue"},
      {{tnRed}, ", ", true, 40, "[]"},  // the whole name dropped
      {{}, ", ", true, 2, "[]"},
      {{}, ", ", false, 2, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SetToString(c.set, kTintNames, c.separator, c.brackets, c.prefix_length), c.text);
  }
  // A member without a name is written as its ordinal.
  EXPECT_EQ(SetToString(std::uint64_t{0b1000001}, kTintNames, ",", false, 2), "Red,6");
  EXPECT_EQ(SetToString(std::uint64_t{1} << 63, kTintNames, ",", false, 2), "63");
}

TEST(SetTextTest, SplitsAtBracketsCommasAndBlanks) {
  struct Case {
    const char* text;
    std::vector<std::string> items;
  };
  const Case kCases[] = {
      {"[a, b]", {"a", "b"}},
      {"a b", {"a", "b"}},
      {" a,,b ", {"a", "b"}},
      {"[a][b]", {"a", "b"}},
      {"\ta\n\rb\t", {"a", "b"}},
      {"a;b", {"a;b"}},
      {"", {}},
      {"[ , ]", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> items;
    ForEachSetItem(c.text, [&](std::string_view item) { items.emplace_back(item); });
    EXPECT_EQ(items, c.items);
  }
}

TEST(SetTextTest, ReadsNamesWithThePrefixPutBefore) {
  using enum TTint;
  struct Case {
    const char* text;
    const char* prefix;
    TTints set;
  };
  const Case kCases[] = {
      {"[Red, Blue]", "tn", {tnRed, tnBlue}},
      {"  Blue Red  ", "tn", {tnRed, tnBlue}},
      {"red,BLUE,deeppurple", "tn", {tnRed, tnBlue, tnDeepPurple}},  // any case
      {"[tnGreen]", "", {tnGreen}},
      {"Green Green", "tn", {tnGreen}},
      {"[]", "tn", {}},
      {"", "tn", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StringToSet<TTint>(c.text, kTintNames, c.prefix), c.set);
  }
}

TEST(SetTextTest, UnknownItemsAreNamedWithTheirPrefix) {
  struct Case {
    const char* text;
    const char* prefix;
    const char* message;
  };
  const Case kCases[] = {
      {"[Red, Pink]", "tn", "Invalid item for set: tnPink"},
      {"Red;Blue", "tn", "Invalid item for set: tnRed;Blue"},
      {"tnRed", "tn", "Invalid item for set: tntnRed"},  // the prefix is always put before
      {"Red", "", "Invalid item for set: Red"},
      {"Deep Purple", "tn", "Invalid item for set: tnDeep"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_THAT([&] { StringToSet<TTint>(c.text, kTintNames, c.prefix); },
                ThrowsMessage<EBaseException>(StrEq(c.message)));
  }
}

TEST(SetTextTest, WrittenSetsReadBack) {
  for (std::uint64_t bits = 0; bits < 16; ++bits) {
    SCOPED_TRACE(bits);
    const auto set = TTints::FromBits(bits);
    for (const bool brackets : {false, true}) {
      const std::string text = SetToString(set, kTintNames, ", ", brackets, 2);
      EXPECT_EQ(StringToSet<TTint>(text, kTintNames, "tn"), set);
    }
  }
}

}  // namespace
}  // namespace zephro

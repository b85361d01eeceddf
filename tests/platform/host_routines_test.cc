#include "zephro/platform/host_routines.h"

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// Components and persistents with events, some shared by name and handler type.
class TLamp : public TComponent {
  ZEPHRO_DECLARE_CLASS(TLamp, TComponent)
  explicit TLamp(TComponent* owner) : TComponent(owner) {}
  std::int32_t watts = 40;
  std::function<std::string(int)> OnSwitch;
  std::function<std::string()> OnBurnOut;
};
ZEPHRO_DEFINE_CLASS(TLamp)
    .Property("Watts", &TLamp::watts, &TLamp::watts)
    .Event("OnSwitch", &TLamp::OnSwitch)
    .Event("OnBurnOut", &TLamp::OnBurnOut);

class TFloorLamp : public TLamp {
  ZEPHRO_DECLARE_CLASS(TFloorLamp, TLamp)
  explicit TFloorLamp(TComponent* owner) : TLamp(owner) {}
};
ZEPHRO_DEFINE_CLASS(TFloorLamp);

class TDoorbell : public TComponent {
  ZEPHRO_DECLARE_CLASS(TDoorbell, TComponent)
  explicit TDoorbell(TComponent* owner) : TComponent(owner) {}
};
ZEPHRO_DEFINE_CLASS(TDoorbell);

// Not a component; shares OnSwitch with TLamp (as "onswitch") and has an event
// of its own.
class TChime : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TChime, TPersistent)
  std::function<std::string(int)> OnSwitch;
  std::function<std::string()> OnRing;
};
ZEPHRO_DEFINE_CLASS(TChime).Event("onswitch", &TChime::OnSwitch).Event("OnRing", &TChime::OnRing);

// OnSwitch with another handler type; OnBurnOut an integer property.
class TOddLamp : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TOddLamp, TPersistent)
  std::function<void()> OnSwitch;
  std::int32_t OnBurnOut = 0;
};
ZEPHRO_DEFINE_CLASS(TOddLamp)
    .Event("OnSwitch", &TOddLamp::OnSwitch)
    .Property("OnBurnOut", &TOddLamp::OnBurnOut, &TOddLamp::OnBurnOut);

class TSilentLamp : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TSilentLamp, TPersistent)
  std::function<std::string()> OnBurnOut;
};
ZEPHRO_DEFINE_CLASS(TSilentLamp).Event("OnBurnOut", &TSilentLamp::OnBurnOut);

std::function<std::string(int)> Says(std::string word) {
  return [word](int n) { return word + std::to_string(n); };
}

TEST(HostRoutinesTest, FindsTheFirstOwnedComponentOfAClass) {
  TComponent owner(nullptr);
  TDoorbell& bell = MakeOwned<TDoorbell>(owner);
  TFloorLamp& floor_lamp = MakeOwned<TFloorLamp>(owner);
  TLamp& lamp = MakeOwned<TLamp>(owner);
  TComponent empty(nullptr);
  TComponent grandparent(nullptr);
  MakeOwned<TDoorbell>(MakeOwned<TComponent>(grandparent));

  struct Case {
    const char* what;
    const TComponent* owner;
    const TClassInfo* cls;
    const TComponent* found;
  };
  const Case kCases[] = {
      {"a descendant first in joining order", &owner, &TLamp::StaticClass(), &floor_lamp},
      {"the class itself", &owner, &TFloorLamp::StaticClass(), &floor_lamp},
      {"any component", &owner, &TComponent::StaticClass(), &bell},
      {"an ancestor of components", &owner, &TPersistent::StaticClass(), &bell},
      {"no owned components", &empty, &TLamp::StaticClass(), nullptr},
      {"a class no component has", &owner, &TChime::StaticClass(), nullptr},
      {"only owned ones, not theirs", &grandparent, &TDoorbell::StaticClass(), nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FindComponentType(*c.owner, *c.cls), c.found);
  }
  EXPECT_EQ(FindComponentType<TLamp>(owner), &floor_lamp);
  owner.RemoveComponent(floor_lamp).reset();
  EXPECT_EQ(FindComponentType<TLamp>(owner), &lamp);
}

TEST(HostRoutinesTest, SwapsTheHandlersOfSharedEvents) {
  TLamp lamp(nullptr);
  TChime chime;
  lamp.OnSwitch = Says("lamp");
  lamp.OnBurnOut = [] { return std::string("dark"); };
  chime.OnSwitch = Says("chime");
  chime.OnRing = [] { return std::string("ding"); };

  SwapEvents(lamp, chime);
  EXPECT_EQ(lamp.OnSwitch(1), "chime1");
  EXPECT_EQ(chime.OnSwitch(2), "lamp2");
  // Events the other does not publish stay.
  EXPECT_EQ(lamp.OnBurnOut(), "dark");
  EXPECT_EQ(chime.OnRing(), "ding");

  // Back again, from the other side; an empty handler moves like any other.
  chime.OnSwitch = nullptr;
  SwapEvents(chime, lamp);
  EXPECT_FALSE(lamp.OnSwitch);
  EXPECT_EQ(chime.OnSwitch(3), "chime3");

  // Inherited events count; two objects of one class exchange all of them.
  TFloorLamp floor_lamp(nullptr);
  floor_lamp.OnBurnOut = [] { return std::string("floor"); };
  lamp.OnSwitch = Says("again");
  SwapEvents(floor_lamp, lamp);
  EXPECT_EQ(lamp.OnBurnOut(), "floor");
  EXPECT_EQ(floor_lamp.OnBurnOut(), "dark");
  EXPECT_EQ(floor_lamp.OnSwitch(4), "again4");
  EXPECT_FALSE(lamp.OnSwitch);

  // With itself nothing happens.
  SwapEvents(lamp, lamp);
  EXPECT_EQ(lamp.OnBurnOut(), "floor");

  TSilentLamp silent;
  SwapEvents(silent, chime);  // nothing shared
  EXPECT_EQ(chime.OnRing(), "ding");
}

TEST(HostRoutinesTest, EventsThatCannotSwapChangeNothing) {
  TLamp lamp(nullptr);
  lamp.OnSwitch = Says("lamp");
  lamp.OnBurnOut = [] { return std::string("dark"); };
  TOddLamp odd;
  odd.OnSwitch = [] {};
  TSilentLamp silent;
  silent.OnBurnOut = [] { return std::string("silent"); };
  struct Case {
    TPersistent* source;
    TPersistent* dest;
    const char* message;
  };
  const Case kCases[] = {
      {&lamp, &odd, "Events OnSwitch and OnSwitch cannot exchange handlers"},
      {&odd, &lamp, "Events OnSwitch and OnSwitch cannot exchange handlers"},
      // An event of the source that is an integer of the destination.
      {&silent, &odd, "Events OnBurnOut and OnBurnOut cannot exchange handlers"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.source->ClassName());
    EXPECT_THAT([&] { SwapEvents(*c.source, *c.dest); },
                ThrowsMessage<EBaseException>(StrEq(c.message)));
    EXPECT_EQ(lamp.OnSwitch(0), "lamp0");
    EXPECT_EQ(lamp.OnBurnOut(), "dark");
    EXPECT_EQ(odd.OnBurnOut, 0);
    EXPECT_EQ(silent.OnBurnOut(), "silent");
  }
  // A property that is no event refuses on its own too.
  const TPropertyInfo& burn_out = *TLamp::StaticClass().FindProperty("OnBurnOut");
  const TPropertyInfo& integer = *TOddLamp::StaticClass().FindProperty("OnBurnOut");
  EXPECT_FALSE(burn_out.SameHandlerType(integer));
  EXPECT_THAT([&] { burn_out.SwapHandlers(lamp, integer, odd); },
              ThrowsMessage<EBaseException>(StrEq("Property OnBurnOut is not an event")));
  const TPropertyInfo& silent_burn_out = *TSilentLamp::StaticClass().FindProperty("OnBurnOut");
  EXPECT_TRUE(burn_out.SameHandlerType(silent_burn_out));
  EXPECT_THAT([&] { burn_out.SwapHandlers(lamp, silent_burn_out, odd); },
              ThrowsMessage<EBaseException>(StrEq("Cannot cast a TOddLamp to a TSilentLamp")));
}

TEST(HostRoutinesTest, TextRoutines) {
  struct Unquote {
    const char* text;
    const char* result;
  };
  const Unquote kUnquote[] = {
      {"\"abc\"", "abc"},   {"\"", "\""},       {"\"\"", ""},
      {"abc", "abc"},       {"\"abc", "\"abc"}, {"abc\"", "abc\""},
      {"\"a\"b\"", "a\"b"}, {"", ""},           {"\"\"\"\"", "\"\""},  // one pair only
  };
  for (const Unquote& c : kUnquote) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IEStringToString(c.text), c.result);
  }

  struct Characters {
    const char* text;
    const char* characters;
    int position;
    const char* filtered;
  };
  const Characters kCharacters[] = {
      {"a(b)", "()", 2, "ab"},
      {"abc", "xyz", 0, "abc"},
      {"abc", "", 0, "abc"},
      {"", "abc", 0, ""},
      {"hello world", " ", 6, "helloworld"},
      {"abc", "cba", 1, ""},
      {"a b\tc", "\t ", 2, "abc"},
      {"xxa", "a", 3, "xx"},
  };
  for (const Characters& c : kCharacters) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.characters);
    EXPECT_EQ(ContainsCharacters(c.text, c.characters), c.position);
    EXPECT_EQ(StringFilter(c.text, c.characters), c.filtered);
  }
}

TEST(HostRoutinesTest, ArgumentExpressionsNestTheOptionalOnes) {
  constexpr int kNoMaximum = std::numeric_limits<std::int32_t>::max();
  struct Case {
    const char* syntax;
    int min_args;
    int max_args;
    int limit;
    const char* result;
  };
  const Case kCases[] = {
      {"<x> <y>", 2, 2, 10, "<x> <y>"},
      {"<x> <y>", 1, 3, 10, "<x> [<y> [<expression>]]"},
      {"<x>", 0, kNoMaximum, 2, "[<x> [<expression>]]"},
      {" <number-expression> <number-expression>+", 1, kNoMaximum, 3,
       "<number-expression> [<number-expression> [<expression>]]"},
      {"", 2, 2, 5, "<expression> <expression>"},
      {"", 0, 0, 5, ""},
      {"<a> <b> <c>", 3, 3, 2, "<a> <b>"},    // the limit caps the plain ones too
      {"<a> <b>", 2, 1, 3, "<a> <b>"},        // a maximum below the minimum
      {"<a> <b>", -1, -5, 3, ""},             // negative counts
      {"<a>", 1, 1, -1, ""},                  // a negative limit
      {"<a", 1, 1, 3, "<expression>"},        // no closing ">": no placeholder
      {"(<a> x) <b>", 1, 2, 5, "<a> [<b>]"},  // only the placeholders count
      {"<a<b> <c>", 2, 2, 5, "<a<b> <c>"},    // from a "<" to the next ">"
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.syntax);
    EXPECT_EQ(CreateArgumentExpressions(c.syntax, c.min_args, c.max_args, c.limit), c.result);
  }
}

TEST(HostRoutinesTest, FloatEqualsWithinATenThousandth) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double a;
    double b;
    bool equal;
  };
  const Case kCases[] = {
      {0.1 + 0.2, 0.3, true},    {1.0, 1.00005, true},    {1.0, 1.0002, false},
      {-0.00005, 0.00004, true}, {100.0, 100.001, false}, {nan, nan, false},
      {inf, inf, false},  // their difference is no number
      {inf, 1.0, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.a) + " " + std::to_string(c.b));
    EXPECT_EQ(FloatEquals(c.a, c.b), c.equal);
    EXPECT_EQ(FloatEquals(static_cast<long double>(c.a), static_cast<long double>(c.b)), c.equal);
    EXPECT_EQ(FloatEquals(static_cast<float>(c.a), static_cast<float>(c.b)), c.equal);
  }
  EXPECT_TRUE(FloatEquals(1.0f, 1.00005f));
  EXPECT_FALSE(FloatEquals(1.0f, 1.001f));
  EXPECT_TRUE(FloatEquals(1.0, 1.5, 1.0));
  EXPECT_FALSE(FloatEquals(1.0, 1.00005, 0.00001));
}

}  // namespace
}  // namespace zephro

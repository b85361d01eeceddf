#include "zephro/facts/fact_slot.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/facts/fact_template.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "testing/fact_fakes.h"

namespace zephro {
namespace {

using enum TIEType;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

Ref<IIEValue> Variable(const char* name) {
  return MakeRef<TIEValue>(name, dtVariable);
}

TEST(FactSlotTest, ValidityFollowsKindsAndTheEmptyConstants) {
  const TIETypes multi = IESlotTypes | IEMultiSlotTypes;
  struct Case {
    const char* what;
    TIETypes kinds;
    Ref<IIEValue> value;
    bool valid;
  };
  const Case cases[] = {
      {"absent", {dtInteger}, nullptr, true},
      {"integer in integer slot", {dtInteger}, TIEValue::Integer(1), true},
      {"atom in integer slot", {dtInteger}, TIEValue::Atom("a"), false},
      {"float in integer slot", {dtInteger}, TIEValue::Float(1), false},
      {"variable anywhere", {dtInteger}, Variable("x"), true},
      {"nil in single slot", {dtInteger}, &FCNil(), true},
      {"nil list in single slot", {dtInteger}, &FCNilList(), false},
      {"nil list in list slot", {dtList}, &FCNilList(), true},
      {"list of allowed", multi, ListValue({TIEValue::Integer(1), TIEValue::Atom("a")}), true},
      {"list with a bad element", IEMultiSlotTypes | TIETypes{dtInteger},
       ListValue({TIEValue::Integer(1), TIEValue::Atom("a")}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto slot = MakeRef<TFactSlot>("s", c.kinds, nullptr);
    EXPECT_EQ(slot->IsValid(c.value.get()), c.valid);
  }
}

TEST(FactSlotTest, InvalidValueTextNamesKindsValueAndSlot) {
  auto ints = MakeRef<TFactSlot>("n", TIETypes{dtInteger, dtFloat}, nullptr);
  EXPECT_EQ(ints->GetInvalidValueString(*TIEValue::Atom("abc")),
            "Not a DTINTEGER, DTFLOAT type.  Value (abc) is a dtAtom type for n slot");
  auto list_slot = MakeRef<TFactSlot>("m", IEMultiSlotTypes | TIETypes{dtInteger}, nullptr);
  EXPECT_EQ(
      list_slot->GetInvalidValueString(*ListValue({TIEValue::Integer(1), TIEValue::String("x")})),
      "Not a DTINTEGER, DTLIST, DTMULTISLOT type.  Value (1 \"x\" ) is a dtString (\"x\") "
      "type for m slot");
}

TEST(FactSlotTest, TypeChangeReplacesOnlyAnInvalidDefault) {
  auto slot = MakeRef<TFactSlot>("s", TIETypes{dtInteger}, TIEValue::Integer(5));
  slot->SetSlotType({dtString});
  EXPECT_EQ(slot->SlotDefault()->DType(), dtString);
  EXPECT_EQ(slot->SlotDefault()->AsString(), "");

  auto late = MakeRef<TFactSlot>("s", TIETypes{dtInteger}, Variable("x"));
  late->SetSlotType({dtString});
  EXPECT_EQ(late->SlotDefault()->DType(), dtVariable);

  auto growing = MakeRef<TFactSlot>("s", TIETypes{dtInteger}, TIEValue::Integer(5));
  growing->SetSlotType({dtInteger, dtFloat});
  EXPECT_EQ(growing->SlotDefault()->AsInteger(), 5);
  growing->SetSlotType(IEMultiSlotTypes);
  EXPECT_EQ(growing->SlotDefault()->DType(), dtList);
}

TEST(FactSlotTest, FuzzyIsNeverMixedWithOtherKinds) {
  auto slot = MakeRef<TFactSlot>("s", TIETypes{dtInteger}, TIEValue::Integer(5));
  EXPECT_THAT(
      [&] {
        slot->SetSlotType({dtFuzzy, dtInteger});
      },
      ThrowsMessage<EIEException>(StrEq("Cannot mix fuzzy type with other primitive types")));
  EXPECT_EQ(slot->SlotType(), TIETypes{dtInteger});
  EXPECT_EQ(slot->SlotDefault()->AsInteger(), 5);
  slot->SetSlotType(IEMultiSlotTypes | TIETypes{dtFuzzy});
  EXPECT_TRUE(slot->IsFuzzy());
  EXPECT_TRUE(slot->IsMultiSlot());
}

TEST(FactSlotTest, ValidDefaultsByFirstAdmittedKind) {
  struct Case {
    TIETypes kinds;
    bool multi;
    TIEType kind;
    const char* text;
  };
  const Case cases[] = {
      {IESlotTypes, false, dtAtom, ""},
      {{dtString, dtInteger}, false, dtString, "\"\""},
      {{dtFloat, dtInteger}, false, dtInteger, "0"},
      {{dtFloat}, false, dtFloat, "0.0000"},
      {{dtExternalAddress, dtFactId}, false, dtExternalAddress, "<External-Address: 0>"},
      {{dtFactId, dtDescriptor}, false, dtFactId, "<Fact-0>"},
      {{dtDescriptor}, false, dtDescriptor, "<UNKNOWN>"},
      {{dtFact}, false, dtFact, ""},
      {{dtVariable}, false, dtNone, ""},
      {{dtInteger}, true, dtList, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto slot = MakeRef<TFactSlot>("s", c.kinds, nullptr);
    Ref<IIEValue> d = slot->CreateValidDefault(c.multi);
    EXPECT_EQ(d->DType(), c.kind);
    EXPECT_EQ(d->ToString(), c.text);
    EXPECT_FALSE(IsValueConstant(d.get()));
  }
  auto fuzzy = MakeRef<TFactSlot>("s", TIETypes{dtFuzzy}, nullptr);
  EXPECT_EQ(fuzzy->CreateValidDefault(false).get(), &FCNil());
}

TEST(FactSlotTest, DefaultsAreClonedUnlessConstant) {
  Ref<IIEValue> five = TIEValue::Integer(5);
  auto slot = MakeRef<TFactSlot>("s", IESlotTypes, five);
  EXPECT_NE(slot->SlotDefault(), five.get());
  EXPECT_TRUE(slot->SlotDefault()->Equals(five.get()));
  slot->SetSlotDefault(&FCTrue());
  EXPECT_EQ(slot->SlotDefault(), &FCTrue());
}

TEST(FactSlotTest, DynamicChecksGuardDefaultsAndInPlaceChanges) {
  FakeFactEnvironment engine;
  auto t = MakeRef<TFactTemplate>(&engine);
  IFactSlot* slot = t->AddSlot("n", TIEValue::Integer(1));
  slot->SetSlotType({dtInteger});
  // Without dynamic checks anything goes.
  slot->SetSlotDefault(TIEValue::Atom("abc"));
  slot->SetSlotDefault(TIEValue::Integer(2));

  engine.checks = {TTypeCheck::tcDynamic};
  EXPECT_THAT([&] { slot->SetSlotDefault(TIEValue::Atom("abc")); },
              ThrowsMessage<EIEException>(StrEq("Invalid default slot value: abc")));
  EXPECT_EQ(slot->SlotDefault()->AsInteger(), 2);
  EXPECT_THAT([&] { slot->SlotDefault()->SetAsAtom("abc"); },
              ThrowsMessage<EIEException>(StrEq("Value \"abc\" is not valid, n")));
  // A type change replaces the default it invalidates instead of failing.
  IFactSlot* other = t->AddSlot("m", TIEValue::Atom("abc"));
  other->SetSlotType({dtInteger});
  EXPECT_EQ(other->SlotDefault()->AsInteger(), 0);
}

TEST(FactSlotTest, DefinedTypeDecidesValidityAndKinds) {
  auto colour = MakeRef<FakeDefinedType>("colour", TIETypes{dtAtom},
                                         std::vector<std::string>{"red", "green"});
  auto t = MakeRef<TFactTemplate>();
  IFactSlot* slot = t->AddSlot("c", TIEValue::Atom("blue"));
  slot->SetExtendedTypeInfo(colour);
  EXPECT_EQ(slot->SlotType(), TIETypes{dtAtom});
  EXPECT_EQ(slot->SlotDefault()->AsString(), "red");  // blue was not allowed
  EXPECT_TRUE(slot->IsValid(TIEValue::Atom("green").get()));
  EXPECT_FALSE(slot->IsValid(TIEValue::Atom("blue").get()));
  EXPECT_EQ(slot->GetInvalidValueString(*TIEValue::Atom("blue")), "not a colour: blue for c slot");

  slot->SetSlotType({dtAtom, dtString});
  EXPECT_EQ(colour->told.back(), (TIETypes{dtAtom, dtString}));

  IFactSlot* data = t->AddMultiSlot(SDefaultSlotName, FCNilList().Clone());
  data->SetExtendedTypeInfo(colour);
  EXPECT_EQ(data->SlotType(), TIETypes{dtAtom} | IEMultiSlotTypes);
}

TEST(FactSlotTest, EqualityComparesNameKindsTypeAndDefault) {
  auto base = MakeRef<TFactSlot>("s", TIETypes{dtInteger}, TIEValue::Integer(1));
  auto typed = MakeRef<TFactSlot>("s", TIETypes{dtInteger}, TIEValue::Integer(1));
  typed->SetExtendedTypeInfo(MakeRef<FakeDefinedType>("n", TIETypes{dtInteger}));
  struct Case {
    const char* what;
    Ref<IFactSlot> other;
    bool equal;
  };
  const Case cases[] = {
      {"copy", base->Clone(), true},
      {"name case", MakeRef<TFactSlot>("S", TIETypes{dtInteger}, TIEValue::Integer(1)), false},
      {"kinds", MakeRef<TFactSlot>("s", TIETypes{dtInteger, dtFloat}, TIEValue::Integer(1)), false},
      {"default", MakeRef<TFactSlot>("s", TIETypes{dtInteger}, TIEValue::Integer(2)), false},
      {"no default", MakeRef<TFactSlot>("s", TIETypes{dtInteger}, nullptr), false},
      {"defined type", typed, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(base->Equals(c.other.get()), c.equal);
  }
}

TEST(FactSlotTest, TextGoesThroughTheOwningEngine) {
  FakeFactEnvironment engine;
  auto t = MakeRef<TFactTemplate>(&engine);
  IFactSlot* slot = t->AddSlot("x", &FCNil());
  EXPECT_EQ(slot->ToString(), "engine:(slot x )");
  EXPECT_EQ(slot->Clone()->ToString(), "(slot x )");
}

}  // namespace
}  // namespace zephro

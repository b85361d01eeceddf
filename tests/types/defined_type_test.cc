// TIEDefinedType on its own: what it admits and why not, the defaults it
// derives, its allowed-value lists, inheritance, copies and notifications.

#include "zephro/types/defined_type.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

using enum TIEType;
using enum TValueConstraint;

Ref<IIEValue> List(std::vector<Ref<IIEValue>> items) {
  return MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::move(items))));
}

Ref<TIEDefinedType> Type(std::string_view name, TIETypes kinds) {
  Ref<TIEDefinedType> type = MakeRef<TIEDefinedType>(name);
  type->SetBaseTypes(kinds);
  return type;
}

// The types the validity table below refers to.
struct Types {
  Ref<TIEDefinedType> small_ints = Type("small", {dtInteger});        // allowed 1 2 3
  Ref<TIEDefinedType> halves = Type("halves", {dtInteger, dtFloat});  // allowed floats 1.5 2.0
  Ref<TIEDefinedType> ten = Type("ten", {dtInteger, dtFloat});        // range 0..10
  Ref<TIEDefinedType> pair = Type("pair", {dtAtom});                  // cardinality 1..2
  Ref<TIEDefinedType> colour = Type("colour", {dtAtom, dtString});    // red green, "x"
  Ref<TIEDefinedType> shade = Type("shade", {dtAtom, dtString});      // extends colour
  Ref<TIEDefinedType> fuzzy = Type("temp", {dtFuzzy});

  Types() {
    small_ints->SetConstraints({vcInteger});
    for (int i : {1, 2, 3}) {
      small_ints->AddConstraint(*TIEValue::Integer(i));
    }
    halves->SetConstraints({vcFloat});
    halves->AddConstraint(*TIEValue::Float(1.5));
    halves->AddConstraint(*TIEValue::Float(2.0));
    ten->SetMinRange(0);
    ten->SetMaxRange(10);
    ten->SetRangeLimited(true);
    pair->SetMinCardinality(1);
    pair->SetMaxCardinality(2);
    pair->SetCardinalityLimited(true);
    colour->SetConstraints({vcAtom, vcString});
    colour->AddConstraint(*TIEValue::Atom("red"));
    colour->AddConstraint(*TIEValue::Atom("green"));
    colour->AddConstraint(*TIEValue::String("x"));
    shade->SetAncestor(colour);
    shade->SetConstraints({vcString});  // its own strings, colour's atoms
    shade->AddConstraint(*TIEValue::String("y"));
  }
};

TEST(DefinedTypeTest, ValidityAndExplanations) {
  Types t;
  struct Case {
    const char* what;
    const TIEDefinedType& type;
    Ref<IIEValue> value;
    const char* explanation;  // "" when valid
  };
  const Case kCases[] = {
      {"allowed integer", *t.small_ints, TIEValue::Integer(2), ""},
      {"integer not listed", *t.small_ints, TIEValue::Integer(4),
       "Value \"4\" is not valid, Not in allowed values"},
      {"wrong kind", *t.small_ints, TIEValue::Atom("a"),
       "Value \"a\" is not valid, Not a INTEGER type.  Value (a) is a dtAtom type"},
      {"a variable is known later", *t.small_ints, MakeRef<TIEValue>("x", dtVariable), ""},
      {"integer checked against the floats", *t.halves, TIEValue::Integer(2), ""},
      {"integer not among the floats", *t.halves, TIEValue::Integer(1),
       "Value \"1\" is not valid, Not in allowed values"},
      {"allowed float", *t.halves, TIEValue::Float(1.5), ""},
      {"top of the range", *t.ten, TIEValue::Integer(10), ""},
      {"bottom of the range", *t.ten, TIEValue::Float(0.0), ""},
      {"above the range", *t.ten, TIEValue::Float(10.5),
       "Value \"10.5000\" is not valid, Range must be between 0.0000 and 10.0000"},
      {"below the range", *t.ten, TIEValue::Integer(-1),
       "Value \"-1\" is not valid, Range must be between 0.0000 and 10.0000"},
      {"empty list", *t.pair, List({}),
       "Value \"\" is not valid, Multislot must have between 1 and 2 elements"},
      {"list too long", *t.pair,
       List({TIEValue::Atom("a"), TIEValue::Atom("b"), TIEValue::Atom("c")}),
       "Value \"a b c\" is not valid, Multislot must have between 1 and 2 elements"},
      {"list of two", *t.pair, List({TIEValue::Atom("a"), TIEValue::Atom("b")}), ""},
      {"list with a bad element", *t.pair, List({TIEValue::Atom("a"), TIEValue::Integer(1)}),
       "Value \"1\" is not valid, Not a ATOM type.  Value (1) is a dtInteger type"},
      {"allowed atom", *t.colour, TIEValue::Atom("red"), ""},
      {"allowed string", *t.colour, TIEValue::String("x"), ""},
      {"a string is not an atom", *t.colour, TIEValue::String("red"),
       "Value \"\"red\"\" is not valid, Not in allowed values"},
      {"letter case counts", *t.colour, TIEValue::Atom("Red"),
       "Value \"Red\" is not valid, Not in allowed values"},
      {"a child's own list", *t.shade, TIEValue::String("y"), ""},
      {"a child's own list replaces its parent's", *t.shade, TIEValue::String("x"),
       "Value \"\"x\"\" is not valid, Not in allowed values"},
      {"a parent's list the child leaves open", *t.shade, TIEValue::Atom("green"), ""},
      {"a parent's list still checks", *t.shade, TIEValue::Atom("blue"),
       "Value \"blue\" is not valid, Not in allowed values"},
      {"a fuzzy type reads words later", *t.fuzzy, TIEValue::Atom("cold"), ""},
      {"a fuzzy type takes numbers", *t.fuzzy, TIEValue::Float(3.5), ""},
      {"a fuzzy type refuses a fact id", *t.fuzzy, MakeRef<TIEValue>(3, dtFactId),
       "Value \"<Fact-3>\" is not valid, invalid fuzzy value"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.type.IsValid(c.value.get()), *c.explanation == '\0');
    EXPECT_EQ(c.type.GetInvalidValueString(*c.value), c.explanation);
  }
}

TEST(DefinedTypeTest, DefaultsTheTypeAdmits) {
  Types t;
  auto limited = [](TIETypes kinds, double low, double high) {
    Ref<TIEDefinedType> type = Type("n", kinds);
    type->SetMinRange(low);
    type->SetMaxRange(high);
    type->SetRangeLimited(true);
    return type;
  };
  Ref<TIEDefinedType> upper_only = Type("u", {dtInteger});
  upper_only->SetMaxRange(7);
  upper_only->SetRangeLimited(true);
  struct Case {
    const char* what;
    Ref<TIEDefinedType> type;
    bool multi;
    const char* text;
    TIEType kind;
  };
  const Case kCases[] = {
      {"first allowed integer", t.small_ints, false, "1", dtInteger},
      {"first allowed atom", t.colour, false, "red", dtAtom},
      {"integer in a range", limited({dtInteger}, 5, 9), false, "5", dtInteger},
      {"only the upper bound set", upper_only, false, "7", dtInteger},
      {"float in a range", limited({dtFloat}, 2.5, 9), false, "2.5000", dtFloat},
      {"a range left at its initial bounds",
       limited({dtInteger}, TIEDefinedType::kInitialMinRange, TIEDefinedType::kInitialMaxRange),
       false, "0", dtInteger},
      {"a string without a list", Type("s", {dtString}), false, "\"\"", dtString},
      {"a bound beyond the integers", limited({dtInteger}, 1e12, 1e13), false, "2147483647",
       dtInteger},
      {"the least list the cardinality allows", t.pair, true, " ", dtList},
      {"a list without limits", t.small_ints, true, "", dtList},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Ref<IIEValue> value = c.type->CreateValidDefault(c.multi);
    EXPECT_EQ(value->DType(), c.kind);
    EXPECT_EQ(value->ToString(), c.text);
  }
  // A float-only list takes the float of the same value for an integer.
  EXPECT_EQ(t.halves->GetValueConstraint(*TIEValue::Integer(2)), vcFloat);
}

TEST(DefinedTypeTest, AllowedValueListsKeepOrderAndSayWhatTheyCannotHold) {
  Ref<TIEDefinedType> type = Type("t", {dtAtom, dtInteger});
  type->SetConstraints({vcAtom, vcInteger});
  for (const char* word : {"b", "a", "c"}) {
    type->AddConstraint(*TIEValue::Atom(word));
  }
  type->AddConstraint(*TIEValue::Integer(7));
  EXPECT_EQ(ConstraintToString(*type, vcAtom), "b a c ");
  EXPECT_TRUE(type->RemoveConstraint(*TIEValue::Atom("a")));
  EXPECT_FALSE(type->RemoveConstraint(*TIEValue::Atom("a")));
  type->DeleteConstraint(0, vcAtom);
  EXPECT_EQ(ConstraintToString(*type, vcAtom), "c ");
  TValueConstraint kind;
  EXPECT_TRUE(type->IsConstraint(*TIEValue::Integer(7), &kind));
  EXPECT_EQ(kind, vcInteger);
  EXPECT_FALSE(type->IsConstraint(*TIEValue::Integer(8)));

  struct Failure {
    std::function<void()> act;
    const char* message;
  };
  const Failure kFailures[] = {
      {[&] { type->AddConstraint(*MakeRef<TIEValue>(1, dtFactId)); },
       "Defined Type t cannot contain FactId constraint types"},
      {[&] { type->DeleteConstraint(3, vcInteger); },
       "Defined Type t does not have Integer constraints"},
      {[&] {
         type->SetBaseTypes({dtFuzzy, dtInteger});
       },
       "Cannot mix fuzzy type with other primitive types"},
  };
  for (const Failure& f : kFailures) {
    SCOPED_TRACE(f.message);
    const std::string before = type->ToString();
    try {
      f.act();
      ADD_FAILURE() << "no error";
    } catch (const EIEException& e) {
      EXPECT_STREQ(e.what(), f.message);
    }
    EXPECT_EQ(type->ToString(), before);  // unchanged
  }
  type->ClearConstraints({vcAtom});
  EXPECT_EQ(type->GetConstraintAtomsCount(), 0);
  EXPECT_EQ(type->GetConstraintIntegersCount(), 1);
  type->ClearConstraints();
  EXPECT_EQ(type->GetConstraintIntegersCount(), 0);
}

TEST(DefinedTypeTest, LongListsAreSearchedLikeShortOnes) {
  // Past a handful of values the lists are hashed: membership must not change.
  Ref<TIEDefinedType> type = Type("many", {dtAtom, dtFloat});
  type->SetConstraints({vcAtom, vcFloat});
  for (int i = 0; i < 40; ++i) {
    type->AddConstraint(*TIEValue::Atom("w" + std::to_string(i)));
    type->AddConstraint(*TIEValue::Float(i / 4.0));
    SCOPED_TRACE(i);
    EXPECT_TRUE(type->IsValid(TIEValue::Atom("w0").get()));
    EXPECT_TRUE(type->IsValid(TIEValue::Atom("w" + std::to_string(i)).get()));
    EXPECT_FALSE(type->IsValid(TIEValue::Atom("w" + std::to_string(i + 1)).get()));
    EXPECT_TRUE(type->IsValid(TIEValue::Float(i / 4.0).get()));
    EXPECT_FALSE(type->IsValid(TIEValue::Float(i / 4.0 + 0.125).get()));
  }
  EXPECT_TRUE(type->IsValid(TIEValue::Float(-0.0).get()));  // equal to 0.0
  EXPECT_TRUE(type->RemoveConstraint(*TIEValue::Atom("w20")));
  EXPECT_FALSE(type->IsValid(TIEValue::Atom("w20").get()));
  EXPECT_TRUE(type->IsValid(TIEValue::Atom("w21").get()));
}

TEST(DefinedTypeTest, AncestorsMayNotLoop) {
  Ref<TIEDefinedType> a = Type("a", {dtAtom});
  Ref<TIEDefinedType> b = Type("b", {dtAtom});
  Ref<TIEDefinedType> c = Type("c", {dtAtom});
  b->SetAncestor(a);
  c->SetAncestor(b);
  EXPECT_FALSE(c->Implicit());
  for (const Ref<TIEDefinedType>& parent : {c, b}) {
    try {
      a->SetAncestor(parent);
      ADD_FAILURE() << "no error";
    } catch (const EIEException& e) {
      EXPECT_STREQ(e.what(),
                   "Type inheritance loop detected, a type cannot be an ancestor of itself");
    }
    EXPECT_EQ(a->Ancestor(), nullptr);
  }
  try {
    a->SetAncestor(a);
    ADD_FAILURE() << "no error";
  } catch (const EIEException&) {
  }
  // A slot's type becomes explicit once it refines another.
  Ref<TIEDefinedType> slot_type = MakeRef<TIEDefinedType>();
  EXPECT_TRUE(slot_type->Implicit());
  EXPECT_EQ(slot_type->TypeName(), SImplicitDefinedType);
  slot_type->SetAncestor(a);
  EXPECT_FALSE(slot_type->Implicit());
}

TEST(DefinedTypeTest, EqualityCopiesAndNotifications) {
  Types t;
  Ref<TIEDefinedType> copy = t.colour->Clone();
  EXPECT_TRUE(copy->Equals(*t.colour));
  EXPECT_EQ(copy->ToString(), t.colour->ToString());
  // Each field that Equals compares, changed on its own.
  const std::vector<std::function<void(TIEDefinedType&)>> kChanges = {
      [](TIEDefinedType& x) { x.SetBaseTypes({dtAtom}); },
      [](TIEDefinedType& x) { x.SetRangeLimited(true); },
      [](TIEDefinedType& x) { x.SetMaxRange(3); },
      [](TIEDefinedType& x) { x.SetMinCardinality(1); },
      [](TIEDefinedType& x) { x.SetCardinalityLimited(true); },
      [](TIEDefinedType& x) { x.AddConstraint(*TIEValue::Atom("blue")); },
      [](TIEDefinedType& x) { x.SetConstraints({vcAtom}); },
      [&](TIEDefinedType& x) { x.SetAncestor(t.pair); },
  };
  for (std::size_t i = 0; i < kChanges.size(); ++i) {
    SCOPED_TRACE(i);
    Ref<TIEDefinedType> changed = t.colour->Clone();
    kChanges[i](*changed);
    EXPECT_FALSE(changed->Equals(*t.colour));
    Ref<TIEDefinedType> assigned = MakeRef<TIEDefinedType>();
    assigned->Assign(*changed);
    EXPECT_TRUE(assigned->Equals(*changed));
  }
  // Comments, units and names are not compared.
  copy->SetComment("c");
  copy->SetUnits("kg");
  EXPECT_TRUE(copy->Equals(*t.colour));

  int changes = 0;
  copy->OnChange = [&](TIEDefinedType& sender) {
    EXPECT_EQ(&sender, copy.get());
    ++changes;
  };
  copy->SetUnits("g");
  EXPECT_EQ(changes, 1);
  copy->SetUnits("g");  // no change, no event
  EXPECT_EQ(changes, 1);
  copy->BeginUpdate();
  copy->BeginUpdate();
  copy->SetMinRange(1);
  copy->SetMaxRange(2);
  copy->AddConstraint(*TIEValue::Atom("blue"));
  copy->EndUpdate();
  EXPECT_EQ(changes, 1);
  copy->EndUpdate();
  EXPECT_EQ(changes, 2);
}

TEST(DefinedTypeTest, PrintedAllowedClauses) {
  struct Case {
    TValueConstraints kinds;
    const char* text;
  };
  const Case kCases[] = {
      {{vcAtom, vcString, vcInteger, vcFloat}, "  (allowed-values red \"s\" 1 2.5000 )\n"},
      {{vcInteger, vcFloat}, "  (allowed-numbers 1 2.5000 ) \n"},
      {{vcInteger}, "  (allowed-integers 1 ) \n"},
      {{vcFloat, vcAtom}, "  (allowed-floats 2.5000 ) \n  (allowed-symbols red )\n"},
      {{vcAtom, vcString}, "  (allowed-lexemes red \"s\" )\n"},
      {{vcString}, "  (allowed-strings \"s\" )\n"},
      {{}, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    Ref<TIEDefinedType> type = Type("t", IESlotTypes);
    type->SetConstraints({vcAtom, vcString, vcInteger, vcFloat});
    type->AddConstraint(*TIEValue::Atom("red"));
    type->AddConstraint(*TIEValue::String("s"));
    type->AddConstraint(*TIEValue::Integer(1));
    type->AddConstraint(*TIEValue::Float(2.5));
    type->SetConstraints(c.kinds);
    EXPECT_EQ(GetAllowedString(*type, "", "  ", "\n"), c.text);
  }
}

}  // namespace
}  // namespace zephro

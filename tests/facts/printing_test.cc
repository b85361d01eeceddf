// Printed forms of slots, templates and facts.

#include <string>

#include <gtest/gtest.h>

#include "zephro/facts/fact.h"
#include "zephro/facts/fact_printer.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

#include "testing/fact_fakes.h"

namespace zephro {
namespace {

using enum TIEType;

TEST(PrettyPrinterTest, Slots) {
  auto call = MakeRef<TIEValue>(Ref<IFunCall>(MakeRef<CountingCall>("gensym")));
  struct Case {
    const char* name;
    TIETypes kinds;
    Ref<IIEValue> default_value;
    bool dynamic;
    const char* printed;
  };
  const Case cases[] = {
      {"x", IESlotTypes, &FCNil(), false, "(slot x )"},
      {"x", IESlotTypes, nullptr, false, "(slot x )"},
      {"n",
       {dtInteger, dtFloat},
       TIEValue::Integer(3),
       false,
       "(slot n (type INTEGER FLOAT) (default 3) )"},
      {"s",
       {dtString},
       TIEValue::String("a \"b\""),
       false,
       "(slot s (type STRING) (default \"a \\\"b\\\"\") )"},
      {"id", IESlotTypes, call, true, "(slot id (default-dynamic (gensym)) )"},
      {"m", IEMultiSlotTypes, &FCNilList(), false, "(multislot m )"},
      {"m", IESlotTypes | IEMultiSlotTypes, ListValue({TIEValue::Integer(1), TIEValue::Atom("a")}),
       false, "(multislot m (default 1 a ) )"},
      {"z", {dtFuzzy}, &FCNil(), false, "(slot z (type FUZZY) )"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    auto slot = MakeRef<TFactSlot>(c.name, c.kinds, c.default_value);
    slot->SetDefaultDynamic(c.dynamic);
    EXPECT_EQ(PrettyPrintSlot(*slot), c.printed);
    EXPECT_EQ(slot->ToString(), c.printed);
  }
  auto typed = MakeRef<TFactSlot>("c", IESlotTypes, &FCNil());
  typed->SetExtendedTypeInfo(MakeRef<FakeDefinedType>("colour", TIETypes{dtAtom}));
  EXPECT_EQ(PrettyPrintSlot(*typed), "(slot c (type colour) )");
}

TEST(PrettyPrinterTest, Templates) {
  auto being = MakeTemplate("being", {"name"});
  auto person = MakeRef<TFactTemplate>(nullptr, "person", "a \"real\" one", being.get());
  person->AddSlot("age", TIEValue::Integer(0))->SetSlotType({dtInteger});
  person->AddMultiSlot("tags", FCNilList().Clone());
  EXPECT_EQ(person->ToString(),
            "(deftemplate person \"a \\\"real\\\" one\" extends being\n"
            "  (slot age (type INTEGER) (default 0) )\n"
            "  (slot name )\n"
            "  (multislot tags ))");
  EXPECT_EQ(PrettyPrintTemplate(*MakeTemplate("empty", {})), "(deftemplate empty\n)");

  auto colours = MakeTemplate("colours", {SDefaultSlotName});
  colours->GetSlot(SDefaultSlotName)
      ->SetExtendedTypeInfo(MakeRef<FakeDefinedType>("colour", TIETypes{dtAtom}));
  EXPECT_EQ(PrettyPrintTemplate(*colours), "(deftemplate colours is-a colour)");

  FakeFactEnvironment engine;
  EXPECT_EQ(MakeTemplate("t", {}, &engine)->ToString(), "engine:(deftemplate t\n)");
}

TEST(PrettyPrinterTest, Facts) {
  auto ordered = MakeTemplate("point", {SDefaultSlotName});
  auto p = MakeRef<TFact>(ordered);
  EXPECT_EQ(PrettyPrintFact(*p), "(point)");
  p->SetValue(SDefaultSlotName, ListValue({TIEValue::Integer(1), TIEValue::Float(2.5)}));
  EXPECT_EQ(PrettyPrintFact(*p), "(point 1 2.5000 )");

  auto person = MakeTemplate("person", {"name", "age", "nick", "tags"});
  auto f = MakeRef<TFact>(person);
  f->SetValue("name", TIEValue::String("Ann"));
  f->SetValue("age", TIEValue::Integer(42));
  f->SetValue("tags", ListValue({TIEValue::Atom("x")}));
  EXPECT_EQ(PrettyPrintFact(*f), "(person (age 42) (name \"Ann\") (tags x ))");
  EXPECT_EQ(PrettyPrintFact(*MakeRef<TFact>()), "()");
}

TEST(PrettyPrinterTest, IndentFollowsEveryLineBreak) {
  EXPECT_EQ(IndentLines("a\nb\n"), "a\n  b\n  ");
  EXPECT_EQ(IndentLines("plain"), "plain");
  EXPECT_EQ(TypesToString(IESlotTypes | TIETypes{dtFuzzy}),
            "SYMBOL STRING INTEGER FACTID FLOAT FACT DESCRIPTOR OBJECT CLASS EXTERNALADDRESS "
            "FUZZY");
}

}  // namespace
}  // namespace zephro

#include "zephro/facts/fact.h"

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/facts/fact_template.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/text.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "testing/fact_fakes.h"

namespace zephro {
namespace {

using enum TIEType;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

Ref<TFact> FactOf(const Ref<TFactTemplate>& t) {
  return MakeRef<TFact>(t);
}

TEST(FactTest, UnwrittenSlotsReadTheirDefaults) {
  auto t = MakeTemplate("t", {"a", "b"});
  t->AddSlot("b", TIEValue::Integer(7));
  auto f = FactOf(t);
  auto g = FactOf(t);
  EXPECT_EQ(f->GetID(), -1);
  EXPECT_EQ(f->GetValue("b")->AsInteger(), 7);
  EXPECT_NE(f->GetValue("b"), t->GetSlot("b")->SlotDefault());
  EXPECT_EQ(f->GetValue("b"), f->ValueAt(1));  // materialised once
  EXPECT_TRUE(f->Equals(g.get()));
  EXPECT_EQ(f->GetHashCode(), g->GetHashCode());
  Ref<IIEValue> seen;
  EXPECT_TRUE(f->ContainsKey("a", &seen));
  EXPECT_EQ(seen.get(), f->GetValue("a"));
  EXPECT_FALSE(f->ContainsKey("q", &seen));
}

TEST(FactTest, EveryWayOfMakingAFactMakesOneTheEngineKnowsForItsOwn) {
  auto t = MakeTemplate("t", {"a"});
  const Ref<TFact> source = FactOf(t);
  const struct {
    const char* made;
    Ref<IFact> fact;
  } cases[] = {
      {"without template", MakeRef<TFact>()},
      {"of a template", source},
      {"as a copy", MakeRef<TFact>(t, *source)},
      {"in one block", TFact::Make(t)},
      {"in one block as a copy", TFact::Make(t, *source)},
      {"as a clone", source->Clone()},
      {"by the template", t->NewFact()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.made);
    EXPECT_EQ(TFact::Exactly(*c.fact), c.fact.get());
  }
}

TEST(FactTest, MissingTemplateOrSlotRaise) {
  auto loose = MakeRef<TFact>();
  auto f = FactOf(MakeTemplate("t", {"a"}));
  const struct {
    const char* what;
    std::function<void()> call;
    const char* text;
  } cases[] = {
      {"read without template", [&] { loose->GetValue("a"); }, "Fact Template is missing"},
      {"write without template", [&] { loose->SetValue("a", nullptr); },
       "Fact Template is missing"},
      {"lookup without template", [&] { loose->ContainsKey("a", nullptr); },
       "Fact Template is missing"},
      {"copy without template", [&] { loose->AssignValues(*f); }, "Fact Template is missing"},
      {"read unknown slot", [&] { f->GetValue("q"); }, "No such slot name: \"q\""},
      {"write unknown slot", [&] { f->SetValue("q", nullptr); }, "No such slot name: \"q\""},
      {"copy across templates", [&] { f->AssignValues(*FactOf(MakeTemplate("u", {"a"}))); },
       "Unable to assign slot values, fact templates are different: u and t"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(c.call, ThrowsMessage<EIEException>(StrEq(c.text)));
  }
}

TEST(FactTest, EqualityAndHashIgnoreDeclarationAndWriteOrder) {
  auto t = MakeTemplate("p", {"name", "age", "city"});
  auto f = FactOf(t);
  f->SetValue("name", TIEValue::Atom("ann"));
  f->SetValue("age", TIEValue::Integer(30));
  auto g = FactOf(t);
  g->SetValue("age", TIEValue::Integer(30));
  g->SetValue("name", TIEValue::Atom("ann"));
  EXPECT_TRUE(f->Equals(g.get()));
  EXPECT_EQ(f->GetHashCode(), g->GetHashCode());
  // age, city, name: the texts in slot order, after the template's hash.
  EXPECT_EQ(static_cast<std::uint32_t>(f->GetHashCode()),
            static_cast<std::uint32_t>(t->GetHashCode()) * 31u +
                static_cast<std::uint32_t>(CalculateHash("30ann", 1)));

  // Another template object, equal in every respect, never matches.
  auto twin = FactOf(MakeTemplate("p", {"city", "age", "name"}));
  twin->SetValue("name", TIEValue::Atom("ann"));
  twin->SetValue("age", TIEValue::Integer(30));
  EXPECT_FALSE(f->Equals(twin.get()));
  EXPECT_EQ(f->GetHashCode(), twin->GetHashCode());

  g->SetValue("age", TIEValue::Float(30));
  EXPECT_FALSE(f->Equals(g.get()));

  // Values printed by others (a list here) take part through their text too.
  g->SetValue("city", MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(
                          std::vector<Ref<IIEValue>>{TIEValue::String("a b"), TIEValue::Integer(-4)}))));
  EXPECT_EQ(static_cast<std::uint32_t>(g->GetHashCode()),
            static_cast<std::uint32_t>(t->GetHashCode()) * 31u +
                static_cast<std::uint32_t>(CalculateHash("30.0000\"a b\" -4 ann", 1)));
}

TEST(FactTest, EqualHashesDoNotMakeFactsEqual) {
  auto t = MakeTemplate("t", {"x"});
  auto f = FactOf(t);
  auto g = FactOf(t);
  f->SetValue("x", TIEValue::Atom("Aa"));
  g->SetValue("x", TIEValue::Atom("BB"));
  EXPECT_EQ(f->GetHashCode(), g->GetHashCode());
  EXPECT_FALSE(f->Equals(g.get()));
}

TEST(FactTest, FuzzySlotsDoNotTakePartInEquality) {
  auto t = MakeTemplate("t", {"x", "f"});
  t->GetSlot("f")->SetSlotType({dtFuzzy});
  auto f = FactOf(t);
  auto g = FactOf(t);
  f->SetValue("f", TIEValue::Atom("hot"));
  g->SetValue("f", TIEValue::Atom("cold"));
  EXPECT_TRUE(f->Equals(g.get()));
  g->SetValue("x", TIEValue::Atom("y"));
  EXPECT_FALSE(f->Equals(g.get()));
}

TEST(FactTest, DynamicChecksConvertOrReject) {
  FakeFactEnvironment engine;
  auto t = MakeTemplate("t", {"f", "i", "z"}, &engine);
  t->GetSlot("f")->SetSlotType({dtFloat});
  t->GetSlot("i")->SetSlotType({dtInteger});
  t->GetSlot("z")->SetSlotType({dtFuzzy});
  auto fact = FactOf(t);
  Ref<IIEValue> three = TIEValue::Integer(3);

  // Unchecked, values go in as they are.
  fact->SetValue("f", three);
  EXPECT_EQ(fact->GetValue("f")->DType(), dtInteger);

  engine.checks = {TTypeCheck::tcDynamic};
  fact->SetValue("f", three);
  EXPECT_EQ(fact->GetValue("f"), three.get());
  EXPECT_EQ(three->DType(), dtFloat);
  EXPECT_EQ(three->AsFloat(), 3.0);

  fact->SetValue("z", TIEValue::String("very hot"));
  EXPECT_EQ(fact->GetValue("z"), engine.fuzzy_result.get());
  ASSERT_EQ(engine.fuzzy_requests.size(), 1u);
  EXPECT_EQ(engine.fuzzy_requests[0].first, "z");
  EXPECT_EQ(engine.fuzzy_requests[0].second, "very hot");

  fact->SetValue("i", TIEValue::Integer(1));
  EXPECT_THAT([&] { fact->SetValue("i", TIEValue::Atom("abc")); },
              ThrowsMessage<EIEException>(
                  StrEq("Not a DTINTEGER type.  Value (abc) is a dtAtom type for i slot")));
  EXPECT_EQ(fact->GetValue("i")->AsInteger(), 1);
}

TEST(FactTest, IdTextPadsToTheEngineCounter) {
  struct Case {
    std::int32_t id;
    std::int32_t next;
    bool owned;
    const char* text;
  };
  const Case cases[] = {
      {7, 120, false, "f-7 (t)"},
      {7, 120, true, "f-007 engine:(t)"},
      {7, 5, true, "f-7 engine:(t)"},
      {7, 0, true, "f-7 engine:(t)"},
      {1234, 120, true, "f-1234 engine:(t)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FakeFactEnvironment engine;
    engine.next_fact_id = c.next;
    auto fact = FactOf(MakeTemplate("t", {}, c.owned ? &engine : nullptr));
    fact->SetID(c.id);
    EXPECT_EQ(fact->GetToIDString(), c.text);
  }
}

// Facts keep their values in their own block (Make) or in an array of their
// own (the constructors); either must follow template changes alike, the
// block also when the values outgrow it and shrink back.
const struct {
  const char* name;
  std::function<Ref<TFact>(const Ref<TFactTemplate>&)> make;
} kFactMakers[] = {
    {"constructed", [](const Ref<TFactTemplate>& t) { return MakeRef<TFact>(t); }},
    {"made", [](const Ref<TFactTemplate>& t) { return TFact::Make(t); }},
};

TEST(FactTest, ChangingTemplateKeepsSharedSlots) {
  for (const auto& maker : kFactMakers) {
    SCOPED_TRACE(maker.name);
    auto from = MakeTemplate("a", {"keep", "drop"});
    auto to = MakeTemplate("b", {"keep", "new", "other", "third"});
    to->AddSlot("new", TIEValue::Integer(5));
    auto fact = maker.make(from);
    Ref<IIEValue> kept = TIEValue::Atom("k");
    fact->SetValue("keep", kept);
    fact->SetValue("drop", TIEValue::Atom("d"));
    fact->SetTemplate(to);
    EXPECT_EQ(fact->Template(), to.get());
    EXPECT_EQ(fact->GetValue("keep"), kept.get());
    EXPECT_EQ(fact->GetValue("new")->AsInteger(), 5);
    EXPECT_THAT([&] { fact->GetValue("drop"); },
                ThrowsMessage<EIEException>(StrEq("No such slot name: \"drop\"")));
    fact->SetTemplate(from);
    EXPECT_EQ(fact->GetValue("keep"), kept.get());
    EXPECT_EQ(fact->GetValue("drop")->AsString(), "");
    fact->SetTemplate(nullptr);
    EXPECT_EQ(fact->Template(), nullptr);
  }
}

TEST(FactTest, ValuesFollowTheTemplateWhenItsSlotsChange) {
  for (const auto& maker : kFactMakers) {
    SCOPED_TRACE(maker.name);
    auto t = MakeTemplate("t", {"b", "d"});
    auto fact = maker.make(t);
    Ref<IIEValue> b = TIEValue::Atom("bee");
    Ref<IIEValue> d = TIEValue::Atom("dee");
    fact->SetValue("b", b);
    fact->SetValue("d", d);

    t->AddSlot("a", TIEValue::Atom("new"));  // shifts b and d one place on
    EXPECT_EQ(fact->ValueAt(0)->AsString(), "new");
    EXPECT_EQ(fact->ValueAt(1), b.get());
    EXPECT_EQ(fact->ValueAt(2), d.get());

    t->AddSlot("e", TIEValue::Atom("ee"));
    t->AddSlot("c", TIEValue::Atom("cee"));
    EXPECT_EQ(fact->ToString(), "(t (a new) (b bee) (c cee) (d dee) (e ee))");

    t->RemoveSlot("b");
    t->RemoveSlot("e");
    t->RemoveSlot("c");
    EXPECT_EQ(fact->ValueAt(1), d.get());
    EXPECT_EQ(fact->GetValue("d"), d.get());

    t->GetSlot("d")->SetName("c");  // a renamed slot starts from its default
    EXPECT_EQ(fact->GetValue("c")->AsString(), "");
    EXPECT_EQ(fact->ToString(), "(t (a new))");
  }
}

TEST(FactTest, CopiesCloneTheValues) {
  auto t = MakeTemplate("t", {"a", "b"});
  auto fact = FactOf(t);
  fact->SetValue("a", TIEValue::Integer(1));
  fact->SetID(4);
  fact->SetTag(2);

  Ref<IFact> clone = fact->Clone();
  EXPECT_TRUE(clone->Equals(fact.get()));
  EXPECT_EQ(clone->GetID(), 4);
  EXPECT_EQ(clone->Tag(), 2);
  EXPECT_NE(clone->GetValue("a"), fact->GetValue("a"));

  auto assigned = MakeRef<TFact>();
  assigned->Assign(*fact);
  EXPECT_EQ(assigned->Template(), t.get());
  EXPECT_EQ(assigned->GetID(), 4);
  EXPECT_TRUE(assigned->Equals(fact.get()));

  auto other = FactOf(t);
  other->AssignValues(*fact);
  EXPECT_EQ(other->GetID(), -1);
  EXPECT_TRUE(other->Equals(fact.get()));
  EXPECT_NE(other->GetValue("a"), fact->GetValue("a"));
}

// Copies for change share the value objects unless storing a value may
// convert it in place (dynamic checks): then they clone, as Clone and
// AssignValues do. Either way they read (and so fill in) every slot of the
// source, keep its id and tag, and carry the same values.
TEST(FactTest, CopiesForChangeShareValuesUnlessChecksMayConvertThem) {
  for (const bool dynamic : {false, true}) {
    SCOPED_TRACE(dynamic ? "dynamic" : "static");
    FakeFactEnvironment engine;
    if (dynamic) {
      engine.checks = {TTypeCheck::tcDynamic};
    }
    auto t = MakeTemplate("t", {"a", "b", "c"}, &engine);
    t->AddSlot("c", TIEValue::Integer(7));
    auto fact = FactOf(t);
    fact->SetValue("a", TIEValue::Integer(1));
    fact->SetValue("b", TIEValue::Atom("x"));
    fact->SetID(4);
    fact->SetTag(2);
    EXPECT_EQ(fact->SharesValues(), !dynamic);

    Ref<TFact> copy = fact->CopyForChange();
    EXPECT_TRUE(copy->Equals(fact.get()));
    EXPECT_EQ(copy->GetID(), 4);
    EXPECT_EQ(copy->Tag(), 2);
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(copy->ValueAt(i) == fact->ValueAt(i), !dynamic);
    }
    EXPECT_EQ(fact->GetValue("c")->AsInteger(), 7);

    // The changed copy hands its values back: the objects themselves when
    // shared, clones otherwise; the copy is left without them.
    copy->SetValue("a", TIEValue::Integer(2));
    IIEValue* two = copy->GetValue("a");
    IIEValue* seven = copy->GetValue("c");
    fact->TakeValues(*copy);
    EXPECT_EQ(fact->GetValue("a")->AsInteger(), 2);
    EXPECT_EQ(fact->GetValue("b")->AsString(), "x");
    EXPECT_EQ(fact->GetValue("a") == two, !dynamic);
    EXPECT_EQ(fact->GetValue("c") == seven, !dynamic);
    EXPECT_EQ(fact->GetID(), 4);
  }
}

TEST(FactTest, TakingValuesNeedsTheSameTemplateAndFollowsItsLayout) {
  auto t = MakeTemplate("t", {"a", "b"});
  auto fact = FactOf(t);
  fact->SetValue("b", TIEValue::Integer(5));
  Ref<TFact> copy = fact->CopyForChange();
  copy->SetValue("a", TIEValue::Integer(3));
  t->AddSlot("c", TIEValue::Integer(9));  // a new layout, published after the copy
  fact->TakeValues(*copy);
  EXPECT_EQ(fact->ToString(), "(t (a 3) (b 5) (c 9))");

  auto other = FactOf(MakeTemplate("u", {"a"}));
  EXPECT_THAT([&] { other->TakeValues(*fact); },
              ThrowsMessage<EIEException>(StrEq(
                  "Unable to assign slot values, fact templates are different: t and u")));
  fact->TakeValues(*fact);
  EXPECT_EQ(fact->GetValue("a")->AsInteger(), 3);
}

// The matcher reads a slot in place (PeekAt, and PeekSlot through a slot
// position that met the layout) only while the fact follows its template's
// current layout: after any change to the template's slots the fact's old
// layout is superseded and it is read the ordinary way, which brings it to
// the new layout; from then on it is read in place again.
TEST(FactTest, ReadInPlaceOnlyWhileTheFactFollowsItsTemplatesLayout) {
  const struct {
    const char* change;
    std::function<void(TFactTemplate&)> apply;
  } cases[] = {
      {"a slot added", [](TFactTemplate& t) { t.AddSlot("c", TIEValue::Integer(9)); }},
      {"another slot removed", [](TFactTemplate& t) { t.RemoveSlot("b"); }},
      {"the slots replaced by the same",
       [](TFactTemplate& t) {
         auto same = MakeTemplate("same", {"a", "b"});
         t.AssignSlots(*same);
       }},
      {"a batch of changes",
       [](TFactTemplate& t) {
         t.BeginSlotBatch();
         t.AddSlot("c", TIEValue::Integer(9));
         t.AddSlot("d", TIEValue::Integer(8));
         t.EndSlotBatch();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    auto t = MakeTemplate("t", {"a", "b"});
    auto fact = FactOf(t);
    fact->SetValue("a", TIEValue::Integer(1));
    fact->SetValue("b", TIEValue::Integer(2));
    const TSlotLayout* before = &t->Layout();
    const int a_before = before->IndexOf("a");
    ASSERT_NE(fact->PeekAt(before, a_before), nullptr);
    EXPECT_EQ(fact->PeekAt(before, a_before)->AsInteger(), 1);
    const TSlotPosition a("a");
    EXPECT_EQ(fact->PeekSlot(a), nullptr);  // the position has not met a layout yet
    ASSERT_NE(a.Read(*fact), nullptr);
    ASSERT_NE(fact->PeekSlot(a), nullptr);
    EXPECT_EQ(fact->PeekSlot(a)->AsInteger(), 1);

    c.apply(*t);
    const TSlotLayout* after = &t->Layout();
    ASSERT_NE(after, before);
    EXPECT_TRUE(before->Superseded());
    EXPECT_FALSE(after->Superseded());
    EXPECT_EQ(fact->PeekAt(before, a_before), nullptr);  // the template moved on
    EXPECT_EQ(fact->PeekAt(after, after->IndexOf("a")), nullptr);  // the fact has not yet
    EXPECT_EQ(fact->PeekSlot(a), nullptr);

    EXPECT_EQ(fact->GetValue("a")->AsInteger(), 1);
    const IIEValue* in_place = fact->PeekAt(after, after->IndexOf("a"));
    ASSERT_NE(in_place, nullptr);
    EXPECT_EQ(in_place->AsInteger(), 1);
    EXPECT_EQ(fact->PeekSlot(a), nullptr);  // the position knows the old layout only
    EXPECT_EQ(a.Read(*fact)->AsInteger(), 1);
    ASSERT_NE(fact->PeekSlot(a), nullptr);
    EXPECT_EQ(fact->PeekSlot(a)->AsInteger(), 1);
    EXPECT_EQ(FactOf(t)->StoredLayout(), after);  // new facts follow the new layout
  }
  // Without a template, or asked with no layout, nothing is read in place.
  EXPECT_EQ(MakeRef<TFact>()->PeekAt(nullptr, 0), nullptr);
}

}  // namespace
}  // namespace zephro

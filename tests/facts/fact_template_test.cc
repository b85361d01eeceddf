#include "zephro/facts/fact_template.h"

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/facts/fact.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/text.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

#include "testing/fact_fakes.h"

namespace zephro {
namespace {

using ::testing::ElementsAreArray;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

void ExpectRaises(const std::function<void()>& f, const std::string& text) {
  EXPECT_THAT(f, ThrowsMessage<EIEException>(StrEq(text)));
}

TEST(FactTemplateTest, OrderedOnlyWithDataAsTheOneSlot) {
  struct Case {
    std::vector<std::string> slots;
    bool ordered;
  };
  const Case cases[] = {
      {{}, false},
      {{"__Data"}, true},
      {{"data"}, false},
      {{"__Data", "x"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.slots));
    EXPECT_EQ(MakeTemplate("t", c.slots)->IsOrdered(), c.ordered);
  }
  auto t = MakeTemplate("t", {"__Data", "x"});
  t->RemoveSlot("x");
  EXPECT_TRUE(t->IsOrdered());
  auto renamed = MakeTemplate("t", {"x"});
  renamed->GetSlot("x")->SetName(SDefaultSlotName);
  EXPECT_TRUE(renamed->IsOrdered());
}

TEST(FactTemplateTest, SlotsAreWalkedAlphabeticallyWhateverTheDeclarationOrder) {
  struct Case {
    std::vector<std::string> declared;
    std::vector<std::string> walked;
  };
  const Case cases[] = {
      {{"c", "a", "b"}, {"a", "b", "c"}},
      {{"zeta", "Alpha", "beta"}, {"Alpha", "beta", "zeta"}},
      {{"b", "B", "a"}, {"a", "B", "b"}},
      {{"x2", "x10", "x1"}, {"x1", "x10", "x2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.declared));
    auto t = MakeTemplate("t", c.declared);
    EXPECT_THAT(t->SlotNames(), ElementsAreArray(c.walked));
    for (int i = 0; i < t->SlotCount(); ++i) {
      EXPECT_EQ(t->SlotIndex(c.walked[i]), i);
      EXPECT_EQ(t->SlotAt(i)->Name(), c.walked[i]);
    }
    EXPECT_EQ(t->SlotIndex("missing"), -1);
  }
}

TEST(FactTemplateTest, RejectedRenameKeepsTheOldNameAndOrder) {
  auto t = MakeTemplate("t", {"a", "m"});
  IFactSlot* slot = t->GetSlot("m");
  for (char bad : std::string_view(" '\"#()[]?:$&;<>")) {
    const std::string name = std::string("x") + bad + "y";
    SCOPED_TRACE(name);
    ExpectRaises([&] { slot->SetName(name); },
                 name + " contains unexpected character: \"" + bad + "\"");
    ExpectRaises([&] { t->SetTemplateName(name); },
                 name + " contains unexpected character: \"" + bad + "\"");
  }
  ExpectRaises([&] { slot->SetName("a"); }, "Bad Slot Name: a");
  EXPECT_EQ(slot->Name(), "m");
  EXPECT_EQ(t->TemplateName(), "t");
  EXPECT_THAT(t->SlotNames(), ElementsAreArray({"a", "m"}));

  slot->SetName("0first");
  EXPECT_THAT(t->SlotNames(), ElementsAreArray({"0first", "a"}));
  EXPECT_EQ(t->GetSlot("0first"), slot);
}

TEST(FactTemplateTest, FailuresRaiseTheirCatalogueTexts) {
  auto t = MakeTemplate("t", {"s", "__Data"});
  auto list = MakeRef<TIEValue>(MakeValueVector());
  const struct {
    const char* what;
    std::function<void()> call;
    std::string text;
  } cases[] = {
      {"slot without default", [&] { t->AddSlot("x", nullptr); }, "Bad Slot Type"},
      {"multislot without default", [&] { t->AddMultiSlot("x", nullptr); }, "Bad Slot Type"},
      {"slot with list default", [&] { t->AddSlot("x", list); }, "Invalid default slot value: "},
      {"multislot with atom default", [&] { t->AddMultiSlot("x", TIEValue::Atom("a")); },
       "Invalid default value for a multislot, must be a multifield: a"},
      {"blank multislot name", [&] { t->AddMultiSlot("  ", list); }, "Bad Slot Name:   "},
      {"slot over multislot", [&] { t->AddSlot("__Data", TIEValue::Atom("a")); },
       "Invalid value for existing slot, multislot is not slot"},
      {"multislot over slot", [&] { t->AddMultiSlot(" s ", list); },
       "Invalid value for existing slot, slot is not multislot"},
      {"get unknown", [&] { t->GetSlot("q"); }, "No such slot name: \"q\""},
      {"remove unknown", [&] { t->RemoveSlot("q"); }, "No such slot name: \"q\""},
      {"set under another key",
       [&] { t->SetSlot("k", MakeRef<TFactSlot>("v", IESlotTypes, nullptr)); },
       "Index does not match fact slot name: k and v"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectRaises(c.call, c.text);
  }
  EXPECT_THAT(t->SlotNames(), ElementsAreArray({"__Data", "s"}));
}

TEST(FactTemplateTest, AddingAnExistingSlotReplacesOnlyItsDefault) {
  auto t = MakeTemplate("t", {"s"});
  IFactSlot* s = t->GetSlot("s");
  EXPECT_EQ(t->AddSlot("s", TIEValue::Integer(4)), s);
  EXPECT_EQ(s->SlotDefault()->AsInteger(), 4);
  IFactSlot* m = t->AddMultiSlot(" m ", FCNilList().Clone());
  EXPECT_EQ(m->Name(), "m");
  EXPECT_EQ(m->SlotType(), IESlotTypes | IEMultiSlotTypes);
  EXPECT_EQ(t->SlotCount(), 2);
}

TEST(FactTemplateTest, EqualityNeedsSameNameAndEqualSlots) {
  auto base = MakeTemplate("person", {"age", "name"});
  struct Case {
    const char* what;
    Ref<TFactTemplate> other;
    bool equal;
  };
  auto other_default = MakeTemplate("person", {"age", "name"});
  other_default->AddSlot("age", TIEValue::Integer(1));
  const Case cases[] = {
      {"same declaration", MakeTemplate("person", {"name", "age"}), true},
      {"name differs in case", MakeTemplate("Person", {"age", "name"}), false},
      {"slot name differs in case", MakeTemplate("person", {"Age", "name"}), false},
      {"fewer slots", MakeTemplate("person", {"age"}), false},
      {"other default", other_default, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(base->Equals(c.other.get()), c.equal);
    EXPECT_EQ(c.other->Equals(base.get()), c.equal);
  }
  EXPECT_FALSE(base->Equals(nullptr));
}

TEST(FactTemplateTest, HashCoversNameAndSortedSlotNames) {
  auto t = MakeTemplate("person", {"name", "age"});
  EXPECT_EQ(t->GetHashCode(), CalculateHash("personage\nname\n", 1));
  EXPECT_EQ(t->GetHashCode(), MakeTemplate("person", {"age", "name"})->GetHashCode());
  t->GetSlot("age")->SetName("years");
  EXPECT_EQ(t->GetHashCode(), CalculateHash("personname\nyears\n", 1));
  t->SetTemplateName("p");
  EXPECT_EQ(t->GetHashCode(), CalculateHash("pname\nyears\n", 1));
}

TEST(FactTemplateTest, ExtendsCopiesTheParentsSlots) {
  FakeFactEnvironment engine;
  FakeFactEnvironment other_engine;
  auto parent = MakeTemplate("animal", {"legs"}, &engine);
  parent->SetBackwardChaining(true);
  parent->SetComment("any animal");
  auto child = MakeRef<TFactTemplate>(&engine, "dog", "barks", parent.get());
  child->AddSlot("breed", &FCNil());
  child->AddSlot("legs", TIEValue::Integer(4));

  EXPECT_EQ(child->TemplateName(), "dog");
  EXPECT_EQ(child->Comment(), "barks");
  EXPECT_TRUE(child->IsBackwardChaining());
  EXPECT_EQ(child->Parent(), parent.get());
  EXPECT_THAT(child->SlotNames(), ElementsAreArray({"breed", "legs"}));
  EXPECT_NE(child->GetSlot("legs"), parent->GetSlot("legs"));
  EXPECT_EQ(child->GetSlot("legs")->Template(), child.get());
  EXPECT_EQ(parent->SlotCount(), 1);
  EXPECT_EQ(parent->GetSlot("legs")->SlotDefault(), &FCNil());

  auto stranger = MakeRef<TFactTemplate>(&other_engine, "cat", "", parent.get());
  EXPECT_EQ(stranger->Parent(), nullptr);
  EXPECT_EQ(stranger->SlotCount(), 1);

  ExpectRaises([&] { parent->SetParent(child.get()); },
               "Fact templates inheritance structure corrupted");
  ExpectRaises([] { MakeRef<TFactTemplate>(nullptr, "a b", "", nullptr); },
               "a b contains unexpected character: \" \"");
}

TEST(FactTemplateTest, CloneAndAssignCopySlotsNotShareThem) {
  auto t = MakeTemplate("t", {"a", "b"});
  t->SetTag(9);
  Ref<IFactTemplate> copy = t->Clone();
  EXPECT_TRUE(copy->Equals(t.get()));
  EXPECT_EQ(copy->Tag(), 9);
  EXPECT_NE(copy->SlotAt(0), t->SlotAt(0));
  copy->RemoveSlot("a");
  EXPECT_EQ(t->SlotCount(), 2);
}

TEST(FactTemplateTest, SlotsOutliveTheirTemplateDetached) {
  Ref<IFactSlot> kept;
  Ref<IFactSlot> removed;
  {
    auto t = MakeTemplate("t", {"a", "b"});
    kept = t->GetSlot("a");
    removed = t->GetSlot("b");
    t->RemoveSlot("b");
    EXPECT_EQ(removed->Template(), nullptr);
    EXPECT_EQ(kept->Template(), t.get());
  }
  EXPECT_EQ(kept->Template(), nullptr);
  EXPECT_EQ(kept->TemplateName(), "");
  kept->SetName("renamed");  // no template to tell any more
}

TEST(FactTemplateTest, AddingAnotherTemplatesSlotAddsACopy) {
  auto a = MakeTemplate("a", {"x"});
  auto b = MakeTemplate("b", {});
  b->AddSlot(Ref<IFactSlot>(a->GetSlot("x")));
  EXPECT_NE(b->GetSlot("x"), a->GetSlot("x"));
  EXPECT_TRUE(b->GetSlot("x")->Equals(a->GetSlot("x")));
  Ref<IFactSlot> free_slot = MakeRef<TFactSlot>("y", IESlotTypes, nullptr);
  b->AddSlot(free_slot);
  EXPECT_EQ(b->GetSlot("y"), free_slot.get());
}

TEST(FactTemplateTest, FuzzyAndDefinedTypeQueries) {
  auto t = MakeTemplate("t", {"a", "b"});
  EXPECT_FALSE(t->IsFuzzy());
  t->GetSlot("b")->SetSlotType({TIEType::dtFuzzy});
  EXPECT_TRUE(t->IsFuzzy());
  auto colour = MakeRef<FakeDefinedType>("colour", TIETypes{TIEType::dtAtom});
  EXPECT_EQ(t->ContainsType(colour.get()), nullptr);
  t->GetSlot("a")->SetExtendedTypeInfo(colour);
  EXPECT_EQ(t->ContainsType(colour.get()), t->GetSlot("a"));
}

TEST(FactTemplateTest, FillingDefaultsNeedsAFactOfThisTemplate) {
  auto t = MakeTemplate("t", {"a"});
  auto u = MakeTemplate("u", {"a"});
  Ref<IFact> loose = MakeRef<TFact>();
  Ref<IFact> foreign = MakeRef<TFact>(u);
  ExpectRaises([&] { t->FillFactWithDefaults(*loose); }, "Fact Template is missing");
  ExpectRaises([&] { t->FillFactWithDefaults(*foreign); },
               "Unable to assign slot values, fact templates are different: u and t");
}

TEST(FactTemplateTest, DynamicDefaultsAreEvaluatedPerFactOnlyWithAnOwner) {
  auto call = MakeRef<CountingCall>("next");
  FakeFactEnvironment engine;
  for (IFactEnvironment* owner :
       {static_cast<IFactEnvironment*>(&engine), static_cast<IFactEnvironment*>(nullptr)}) {
    SCOPED_TRACE(owner != nullptr ? "owned" : "free");
    auto t = MakeTemplate("t", {"n"}, owner);
    t->AddSlot("n", MakeRef<TIEValue>(Ref<IFunCall>(call)));
    t->GetSlot("n")->SetDefaultDynamic(true);
    Ref<IFact> first = t->NewFact();
    Ref<IFact> second = t->NewFact();
    if (owner != nullptr) {
      EXPECT_EQ(first->GetValue("n")->AsInteger(), 1);
      EXPECT_EQ(second->GetValue("n")->AsInteger(), 2);
    } else {
      EXPECT_EQ(first->GetValue("n")->AsFunCall(), call.get());
      EXPECT_EQ(call->executions, 2);
    }
  }
}

TEST(FactTemplateTest, FillingChecksOnlyWhatDynamicDefaultsYield) {
  FakeFactEnvironment engine;
  engine.checks = {TTypeCheck::tcDynamic};
  auto t = MakeTemplate("t", {"n", "d"}, &engine);
  t->GetSlot("n")->SetSlotType({TIEType::dtInteger});
  EXPECT_EQ(t->GetSlot("n")->SlotDefault(), &FCNil());  // nil fits any single slot
  EXPECT_EQ(t->NewFact()->GetValue("n")->AsString(), "");

  t->GetSlot("d")->SetSlotType({TIEType::dtAtom});
  t->AddSlot("d", MakeRef<TIEValue>(Ref<IFunCall>(MakeRef<CountingCall>("next"))));
  t->GetSlot("d")->SetDefaultDynamic(true);
  ExpectRaises([&] { t->NewFact(); },
               "Not a DTATOM type.  Value (1) is a dtInteger type for d slot");
}

// A batch adds slots as one at a time would, publishing one layout at its end.
TEST(FactTemplateTest, ABatchOfSlotsEndsAsSlotsAddedOneByOne) {
  const std::vector<std::string> declared = {"s10", "s2", "S1", "s1", "b", "a10", "a9"};
  auto one_by_one = MakeTemplate("t", {"old"});
  auto batched = MakeTemplate("t", {"old"});
  const std::uint64_t before = batched->LayoutSerial();
  batched->BeginSlotBatch();
  for (const std::string& name : declared) {
    one_by_one->AddSlot(name, TIEValue::Integer(1));
    IFactSlot* added = batched->AddSlot(name, TIEValue::Integer(1));
    // The batch knows the name at once: adding it again changes its default.
    EXPECT_EQ(batched->AddSlot(name, TIEValue::Integer(2)), added) << name;
    EXPECT_EQ(added->SlotDefault()->AsInteger(), 2) << name;
    one_by_one->AddSlot(name, TIEValue::Integer(2));
    // The layout waits for the end of the batch.
    EXPECT_EQ(batched->FindSlot(name), nullptr) << name;
    EXPECT_EQ(batched->SlotCount(), 1);
    EXPECT_EQ(batched->LayoutSerial(), before);
  }
  batched->EndSlotBatch();
  EXPECT_NE(batched->LayoutSerial(), before);
  EXPECT_THAT(batched->SlotNames(), ElementsAreArray(one_by_one->SlotNames()));
  for (const std::string& name : declared) {
    EXPECT_EQ(batched->SlotIndex(name), one_by_one->SlotIndex(name)) << name;
    EXPECT_EQ(batched->SlotAt(batched->SlotIndex(name))->Name(), name);
  }
  EXPECT_EQ(batched->GetHashCode(), one_by_one->GetHashCode());
}

TEST(FactTemplateTest, ABatchRaisesAsSlotsAddedOneByOne) {
  auto list = MakeRef<TIEValue>(MakeValueVector());
  auto t = MakeTemplate("t", {"s"});
  t->BeginSlotBatch();
  IFactSlot* m = t->AddMultiSlot("m", list);
  const struct {
    const char* what;
    std::function<void()> call;
    std::string text;
  } cases[] = {
      {"slot over a multislot of the batch", [&] { t->AddSlot("m", TIEValue::Atom("a")); },
       "Invalid value for existing slot, multislot is not slot"},
      {"multislot over a slot from before", [&] { t->AddMultiSlot(" s ", list); },
       "Invalid value for existing slot, slot is not multislot"},
      {"slot with a list default", [&] { t->AddSlot("x", list); },
       "Invalid default slot value: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectRaises(c.call, c.text);
  }
  // A slot of the batch again: its default changes, no second slot.
  EXPECT_EQ(t->AddMultiSlot("m", MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(
                                     std::vector<Ref<IIEValue>>{TIEValue::Integer(3)})))),
            m);
  t->EndSlotBatch();
  EXPECT_THAT(t->SlotNames(), ElementsAreArray({"m", "s"}));
  EXPECT_EQ(m->SlotDefault()->ToString(), "3 ");
}

TEST(FactTemplateTest, OtherChangesAndNewFactsEndABatch) {
  const struct {
    const char* what;
    std::function<void(TFactTemplate&)> change;
    std::vector<std::string> names;
  } cases[] = {
      {"removing a slot", [](TFactTemplate& t) { t.RemoveSlot("b"); }, {"a", "c"}},
      {"renaming a slot", [](TFactTemplate& t) { t.GetSlot("c")->SetName("d"); },
       {"a", "b", "d"}},
      {"adding a slot object",
       [](TFactTemplate& t) { t.AddSlot(MakeRef<TFactSlot>("e", IESlotTypes, &FCNil())); },
       {"a", "b", "c", "e"}},
      {"making a fact", [](TFactTemplate& t) { EXPECT_EQ(t.NewFact()->Template(), &t); },
       {"a", "b", "c"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto t = MakeTemplate("t", {"b"});
    t->BeginSlotBatch();
    t->AddSlot("c", TIEValue::Integer(1));
    t->AddSlot("a", TIEValue::Integer(1));
    c.change(*t);
    EXPECT_THAT(t->SlotNames(), ElementsAreArray(c.names));
    t->EndSlotBatch();  // nothing left to end
    EXPECT_THAT(t->SlotNames(), ElementsAreArray(c.names));
  }
}

}  // namespace
}  // namespace zephro

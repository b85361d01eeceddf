#include "zephro/values/value.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "zephro/values/exceptions.h"
#include "zephro/values/value_vector.h"

#include "testing/host_classes.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using enum TIEType;

Ref<IIEValue> Text(std::string_view s, TIEType kind) { return MakeRef<TIEValue>(s, kind); }
Ref<IIEValue> Int(std::int32_t i) { return TIEValue::Integer(i); }
Ref<IIEValue> Flt(double d) { return TIEValue::Float(d); }
Ref<IIEValue> List(std::initializer_list<Ref<IIEValue>> items) {
  return MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>(std::vector(items))));
}

// The engine reads its own values and lists in place and a host's through
// their interfaces: whichever way a value or list of its own was made, the
// engine must know it for one, and must never take a host's for one.
TEST(ValueTest, TheEngineKnowsItsOwnValuesAndListsAndNoHostClassPassesForOne) {
  const struct {
    const char* made;
    Ref<IIEValue> value;
  } cases[] = {
      {"empty", MakeRef<TIEValue>()},
      {"atom", Text("a", dtAtom)},
      {"string", Text("s", dtString)},
      {"variable", Text("v", dtVariable)},
      {"shared text", MakeRef<TIEValue>(TText::Shared("t"), dtAtom)},
      {"integer", Int(-3)},
      {"fact id", MakeRef<TIEValue>(std::int32_t{4}, dtFactId)},
      {"float", Flt(2.5)},
      {"list", List({Int(1), Text("b", dtAtom)})},
      {"empty list", MakeRef<TIEValue>(Ref<IValueVector>(MakeRef<TValueVector>()))},
      {"clone", Int(9)->Clone()},
      {"copy of a host value", MakeRef<TIEValue>(*MakeRef<THostValue>(Text("h", dtString)))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.made);
    EXPECT_EQ(TIEValue::Exactly(*c.value), c.value.get());
    const Ref<IIEValue> host = MakeRef<THostValue>(c.value);
    EXPECT_EQ(TIEValue::Exactly(*host), nullptr);
    // A host value of the same kind and datum is equal to the engine's, both
    // ways, hashes alike, and copies into one of the engine's.
    EXPECT_TRUE(c.value->Equals(host.get()));
    EXPECT_TRUE(host->Equals(c.value.get()));
    EXPECT_TRUE(c.value->EqualsStar(host.get()));
    EXPECT_EQ(host->GetHashCode(), c.value->GetHashCode());
    const Ref<IIEValue> copy = MakeRef<TIEValue>(*host);
    EXPECT_EQ(TIEValue::Exactly(*copy), copy.get());
    EXPECT_TRUE(copy->Equals(c.value.get()));
    const Ref<IIEValue> target = MakeRef<THostValue>(MakeRef<TIEValue>());
    c.value->AssignTo(*target);
    EXPECT_TRUE(target->Equals(c.value.get()));
    if (c.value->DType() == dtList) {
      const IValueVector* list = c.value->AsList();
      EXPECT_EQ(TValueVector::Exactly(*list), list);
      const Ref<IValueVector> host_list = MakeRef<THostList>(list->Clone());
      EXPECT_EQ(TValueVector::Exactly(*host_list), nullptr);
      EXPECT_TRUE(c.value->Equals(MakeRef<TIEValue>(host_list).get()));
    }
  }
  EXPECT_NE(TValueVector::Exactly(*MakeRef<TValueVector>(std::vector<Ref<IIEValue>>{Int(1)})),
            nullptr);
}

TEST(ValueTest, ConstructorsRejectKindsTheirDatumCannotHold) {
  EXPECT_THAT([] { Text("x", dtInteger); },
              ThrowsMessage<EIEException>(StrEq("Value and type mismatch")));
  EXPECT_THAT([] { MakeRef<TIEValue>(std::int32_t{3}, dtAtom); },
              ThrowsMessage<EIEException>(StrEq("Value and type mismatch")));
  EXPECT_EQ(MakeRef<TIEValue>(std::int32_t{3}, dtDescriptor)->DType(), dtDescriptor);
  EXPECT_EQ(MakeRef<TIEValue>()->DType(), dtNone);
}

TEST(ValueTest, PrintedForms) {
  struct Case {
    Ref<IIEValue> value;
    const char* printed;
  };
  const Case cases[] = {
      {MakeRef<TIEValue>(), ""},
      {Text("abc", dtAtom), "abc"},
      {Text("say \"hi\" \\ bye", dtString), R"("say \"hi\" \\ bye")"},
      {Text("x", dtVariable), "?x"},
      {Text("rest", dtMultiVariable), "$?rest"},
      {Text("color", dtSlot), "color"},
      {Int(-42), "-42"},
      {MakeRef<TIEValue>(std::int32_t{7}, dtFactId), "<Fact-7>"},
      {Flt(2.5), "2.5000"},
      {Flt(-0.00004), "-0.0000"},
      {Flt(1e20), "100000000000000000000.0000"},
      // The results of arithmetic without domain checks: one form for every
      // NaN, whatever its sign bit.
      {Flt(std::numeric_limits<double>::infinity()), "inf"},
      {Flt(-std::numeric_limits<double>::infinity()), "-inf"},
      {Flt(std::numeric_limits<double>::quiet_NaN()), "nan"},
      {Flt(-std::numeric_limits<double>::quiet_NaN()), "nan"},
      {Flt(std::acos(2.0)), "nan"},
      {MakeRef<TIEValue>(std::int32_t{7}, dtDescriptor), "<UNKNOWN>"},
      {List({}), ""},
      {List({Int(1), Flt(2.5), Text("a", dtAtom)}), "1 2.5000 a "},
      {List({Int(1), List({Int(2), Int(3)})}), "1 2 3  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    EXPECT_EQ(c.value->ToString(), c.printed);
  }
}

TEST(ValueTest, FloatsPrintWithAPointWhateverTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old != nullptr ? old : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no German locale on this machine";
  }
  EXPECT_EQ(Flt(3.25)->ToString(), "3.2500");
  EXPECT_EQ(Flt(3.25)->AsString(), "3.2500");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ValueTest, IntegerConversions) {
  struct Case {
    Ref<IIEValue> value;
    std::int32_t expected;
  };
  const Case cases[] = {
      {Text("12", dtAtom), 12},
      {Text("2.9", dtString), 2},
      {Text("-2.9", dtString), -2},
      {Text("+5", dtAtom), 5},
      {Flt(-2.5), -2},
      {Flt(1e12), 2147483647},
      {Flt(-1e12), -2147483647 - 1},
      {Flt(NAN), 0},
      {MakeRef<TIEValue>(std::int32_t{9}, dtFactId), 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value->ToString());
    EXPECT_EQ(c.value->AsInteger(), c.expected);
  }
}

TEST(ValueTest, FailedConversionsNameTheGetterTheValueAndTheKind) {
  struct Case {
    std::function<void()> convert;
    const char* message;
  };
  Ref<IIEValue> abc = Text("abc", dtAtom);
  Ref<IIEValue> one = Int(1);
  Ref<IIEValue> list = List({Int(1)});
  const Case cases[] = {
      {[&] { abc->AsInteger(); }, "Not a integer type.  Value (abc) is a dtAtom type"},
      {[&] { abc->AsFloat(); }, "Not a numeric type.  Value (abc) is a dtAtom type"},
      {[&] { Text("", dtString)->AsFloat(); },
       R"(Not a numeric type.  Value ("") is a dtString type)"},
      {[&] { one->AsFact(); }, "Not a fact type.  Value (1) is a dtInteger type"},
      {[&] { one->AsList(); }, "Not a list type.  Value (1) is a dtInteger type"},
      {[&] { one->AsDescriptor(); }, "Not a descriptor type.  Value (1) is a dtInteger type"},
      {[&] { one->AsObject(); }, "Not a object type.  Value (1) is a dtInteger type"},
      {[&] { one->AsClass(); }, "Not a class type.  Value (1) is a dtInteger type"},
      {[&] { one->AsFunCall(); }, "Not a function call type.  Value (1) is a dtInteger type"},
      {[&] { one->AsExternalAddress(); },
       "Not a External Address type.  Value (1) is a dtInteger type"},
      {[&] { list->AsString(); }, "Not a string type.  Value (1 ) is a dtList type"},
      {[&] { list->AsFactId(); }, "Not a fact id type.  Value (1 ) is a dtList type"},
      {[&] { Text("x", dtVariable)->AsFloat(); },
       "Not a numeric type.  Value (?x) is a dtVariable type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_THAT(c.convert, ThrowsMessage<EIEException>(StrEq(c.message)));
  }
  EXPECT_EQ(abc->DType(), dtAtom);  // unchanged by the failures
  EXPECT_EQ(abc->ToString(), "abc");
}

TEST(ValueTest, NilIsZeroWithoutConversionButAnEmptyAtomIsNot) {
  EXPECT_EQ(FCNil().AsFloat(), 0.0);
  EXPECT_THROW(FCEmptyString().AsFloat(), EIEException);
  EXPECT_NE(&FCNil(), &FCEmptyString());
  EXPECT_TRUE(FCNil().Equals(&FCEmptyString()));
}

TEST(ValueTest, StrictAndValueEquality) {
  struct Case {
    Ref<IIEValue> a, b;
    bool equals, equals_star_ab, equals_star_ba;
  };
  const Case cases[] = {
      {Int(1), Flt(1.0), false, true, true},
      {Int(2), Flt(2.7), false, true, false},
      {Text("abc", dtAtom), Text("abc", dtString), false, true, true},
      {Text("ABC", dtAtom), Text("abc", dtAtom), false, false, false},
      {Text("12", dtAtom), Int(12), false, true, true},
      {Int(3), Int(3), true, true, true},
      {Flt(0.1), Flt(0.1), true, true, true},
      {MakeRef<TIEValue>(), MakeRef<TIEValue>(), true, true, true},
      {List({Int(1), Int(2)}), List({Int(1), Int(2)}), true, true, true},
      {List({Int(1), Int(2)}), List({Int(1), Flt(2.0)}), false, false, false},
      {Text("x", dtVariable), Text("x", dtAtom), false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a->ToString() + " vs " + c.b->ToString());
    EXPECT_EQ(c.a->Equals(c.b.get()), c.equals);
    EXPECT_EQ(c.b->Equals(c.a.get()), c.equals);
    EXPECT_EQ(c.a->EqualsStar(c.b.get()), c.equals_star_ab);
    EXPECT_EQ(c.b->EqualsStar(c.a.get()), c.equals_star_ba);
  }
  EXPECT_FALSE(Int(1)->Equals(nullptr));
  // A conversion the other value cannot make is an error, not a mismatch.
  EXPECT_THROW(Int(1)->EqualsStar(Text("abc", dtAtom).get()), EIEException);
}

TEST(ValueTest, HashCodes) {
  EXPECT_EQ(Flt(-2.5)->GetHashCode(), -2);
  EXPECT_EQ(Int(77)->GetHashCode(), 77);
  EXPECT_EQ(Text("abc", dtAtom)->GetHashCode(), CalculateHash("abc"));
  EXPECT_EQ(Text("abc", dtAtom)->GetHashCode(), Text("abc", dtString)->GetHashCode());
  EXPECT_EQ(List({Int(1), Int(2)})->GetHashCode(), List({Int(2), Int(1)})->GetHashCode());
  EXPECT_EQ(List({})->GetHashCode(), 0);
  Ref<IIEValue> v = Text("gone", dtAtom);
  v->Reset();
  EXPECT_EQ(v->GetHashCode(), 0);
  EXPECT_EQ(v->ToString(), "");
  EXPECT_EQ(v->DType(), dtNone);
}

// HashPrinted walks the printed form without making it: the same hash as
// walking ToString(), from any starting point; kinds it cannot print alone
// leave the hash as it was.
TEST(ValueTest, HashPrintedWalksThePrintedForm) {
  const Ref<IIEValue> printable[] = {
      MakeRef<TIEValue>(),
      Text("abc", dtAtom),
      Text("a-much-longer-atom-than-sixteen-bytes", dtAtom),
      Text("say \"hi\" \\ there", dtString),
      Text("", dtString),
      Text("x", dtVariable),
      Text("rest", dtMultiVariable),
      Text("slot", dtSlot),
      Text("many", dtMultiSlot),
      Int(0),
      Int(-2147483647 - 1),
      Int(2147483647),
      Flt(-0.0),
      Flt(3.14159),
      Flt(-1e300),
      Flt(std::nan("")),
      MakeRef<TIEValue>(std::int32_t{12}, dtFactId),
      MakeRef<TIEValue>(std::int32_t{5}, dtDescriptor),
  };
  for (const Ref<IIEValue>& value : printable) {
    SCOPED_TRACE(value->ToString());
    for (const std::uint32_t start : {0u, 12345u}) {
      std::uint32_t h = start;
      ASSERT_TRUE(static_cast<const TIEValue&>(*value).HashPrinted(h));
      EXPECT_EQ(h, ContinueHash(start, value->ToString()));
    }
  }
  std::uint32_t h = 7;
  EXPECT_FALSE(static_cast<const TIEValue&>(*List({Int(1)})).HashPrinted(h));
  EXPECT_EQ(h, 7u);
  EXPECT_EQ(ContinueHash(ContinueHash(0, "ab"), "cd"),
            static_cast<std::uint32_t>(CalculateHash("abcd", 1)));
}

TEST(CalculateHashTest, ShortTextsUseEveryByteLongOnesASample) {
  EXPECT_EQ(CalculateHash(""), 0);
  EXPECT_EQ(CalculateHash("a"), 97);
  EXPECT_EQ(CalculateHash("ab"), 97 * 31 + 98);
  // 16 bytes: step 2, bytes 0, 2, 4... only.
  EXPECT_EQ(CalculateHash("aXbXcXdXeXfXgXhX"), CalculateHash("abcdefgh"));
  EXPECT_EQ(CalculateHash("aYbYcYdYeYfYgYhY"), CalculateHash("aXbXcXdXeXfXgXhX"));
  EXPECT_EQ(CalculateHash("abc", 0), CalculateHash("abc", 1));
  EXPECT_EQ(CalculateHash("abcd", 2), CalculateHash("ac"));
  // Wraps without trapping.
  std::string long_text(4000, '\xff');
  EXPECT_EQ(CalculateHash(long_text, 1), CalculateHash(long_text, 1));
}

TEST(TextTest, SharedTextsOfEqualShortTextsShareOneBlock) {
  const std::string long_text(33, 'q');
  struct Case {
    std::string_view first;
    std::string_view second;
    bool shared;
  };
  const Case cases[] = {
      {"abc", "abc", true},
      {"abc", "abd", false},
      // Equal hashes, other bytes: neither may stand for the other.
      {"aXbXcXdXeXfXgXhX", "aYbYcYdYeYfYgYhY", false},
      {"aYbYcYdYeYfYgYhY", "aYbYcYdYeYfYgYhY", true},
      // Too long to be remembered: equal, but each has its own block.
      {long_text, long_text, false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " / " + std::string(c.second));
    const TText a = TText::Shared(c.first);
    const TText b = TText::Shared(c.second);
    EXPECT_EQ(a.View(), c.first);
    EXPECT_EQ(b.View(), c.second);
    EXPECT_EQ(a.Hash(), CalculateHash(c.first));
    EXPECT_EQ(b.Hash(), CalculateHash(c.second));
    EXPECT_EQ(!a.Empty() && a.View().data() == b.View().data(), c.shared);
    // A block's serial is its own: equal exactly when the block is shared,
    // 0 for the empty text alone, kept by copies.
    EXPECT_EQ(a.Serial() == b.Serial() && a.Serial() != 0, c.shared);
    EXPECT_EQ(a.Serial() == 0, a.Empty());
    EXPECT_LT(a.Serial(), TText::kSerials);
    const TText copy = a;
    EXPECT_EQ(copy.Serial(), a.Serial());
  }
  // Values made from texts share them too, and a shared block outlives the
  // value that made it.
  const char* first = nullptr;
  {
    Ref<IIEValue> v = Text("sensor", dtAtom);
    first = v->Text().data();
  }
  Ref<IIEValue> w = Text("sensor", dtVariable);
  EXPECT_EQ(w->Text().data(), first);
  EXPECT_EQ(w->Text(), "sensor");
}

TEST(ValueTest, TagsTravelWithCopiesAndLeaveTheOtherPartsAlone) {
  struct Case {
    std::int32_t tag;
    bool with_handler;
  };
  const Case cases[] = {{0, false}, {7, false}, {-3, true}, {0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    Ref<IIEValue> v = Text("abc", dtAtom);
    int changes = 0;
    if (c.with_handler) {
      v->SetOnChange([&](IIEValue&) { ++changes; });
    }
    EXPECT_EQ(v->Tag(), 0);
    v->SetTag(c.tag);
    EXPECT_EQ(v->Tag(), c.tag);
    EXPECT_EQ(v->Clone()->Tag(), c.tag);
    Ref<IIEValue> target = Int(5);
    target->SetTag(11);
    target->Assign(*v);
    EXPECT_EQ(target->Tag(), c.tag);
    EXPECT_EQ(target->ToString(), "abc");
    v->SetAsInteger(4);
    EXPECT_EQ(v->Tag(), c.tag);
    EXPECT_EQ(changes, c.with_handler ? 1 : 0);
    EXPECT_EQ(static_cast<bool>(v->OnChange()), c.with_handler);
    v->SetTag(0);
    EXPECT_EQ(v->Tag(), 0);
  }
}

TEST(ValueTest, SettersReleaseTheOldDatumAndFireOnChange) {
  Ref<IValueVector> inner = MakeRef<TValueVector>();
  Ref<IIEValue> v = MakeRef<TIEValue>(inner);
  EXPECT_EQ(inner->RefCount(), 2);
  int changes = 0;
  v->SetOnChange([&](IIEValue& changed) {
    ++changes;
    EXPECT_EQ(&changed, v.get());
  });
  v->SetAsInteger(5);
  EXPECT_EQ(inner->RefCount(), 1);
  EXPECT_EQ(v->AsInteger(), 5);
  v->SetAsString("s");
  v->SetAsFloat(1.5);
  EXPECT_EQ(changes, 3);
  v->Reset();  // Reset does not notify
  EXPECT_EQ(changes, 3);
}

TEST(ValueTest, CloneSharesReferencedCollectionsAndCopiesTheTag) {
  Ref<IIEValue> list = List({Int(1)});
  list->SetTag(9);
  Ref<IIEValue> copy = list->Clone();
  EXPECT_NE(copy.get(), list.get());
  EXPECT_EQ(copy->AsList(), list->AsList());
  EXPECT_EQ(copy->Tag(), 9);
  EXPECT_TRUE(copy->Equals(list.get()));
  Ref<IIEValue> atom = Text("shared", dtAtom);
  Ref<IIEValue> atom_copy = atom->Clone();
  EXPECT_EQ(atom_copy->Text().data(), atom->Text().data());  // the text is shared, not copied
}

TEST(ValueTest, SharedConstants) {
  IIEValue* constants[] = {&FCTrue(), &FCFalse(), &FCNil(),    &FCEmptyString(), &FCNilList(),
                           &FCCatch(), &FCExcept(), &FCFinally(), &FCElse(),      &FCDo(),
                           &FCThen(), &FCEOF(),    &FCPI(),     &FCZero()};
  for (IIEValue* c : constants) {
    EXPECT_TRUE(IsValueConstant(c));
  }
  EXPECT_FALSE(IsValueConstant(FCTrue().Clone().get()));
  EXPECT_FALSE(IsValueConstant(nullptr));
  EXPECT_EQ(FCTrue().ToString(), "TRUE");
  EXPECT_EQ(FCEOF().ToString(), "EOF");
  EXPECT_EQ(FCNilList().AsList()->ValueCount(), 0);
  EXPECT_EQ(FCPI().AsFloat(), M_PI);
  EXPECT_EQ(FCZero().AsFloat(), 0.0);
}

TEST(ValueTest, ResolveWithoutContext) {
  EXPECT_THAT([] { Text("x", dtVariable)->Resolve(nullptr); },
              ThrowsMessage<EIEException>(
                  StrEq("No context found when trying to resolve a dtVariable value")));
  EXPECT_THAT([] { Text("x", dtMultiVariable)->Resolve(nullptr); },
              ThrowsMessage<EIEException>(
                  StrEq("No context found when trying to resolve a dtMultiVariable value")));
  Ref<IIEValue> five = Int(5);
  EXPECT_EQ(five->Resolve(nullptr).get(), five.get());
}

}  // namespace
}  // namespace zephro

#include "zephro/values/value_vector.h"

#include <gtest/gtest.h>

#include <functional>

#include "zephro/values/exceptions.h"
#include "zephro/values/nesting.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

using enum TIEType;

Ref<TValueVector> Vec(std::initializer_list<Ref<IIEValue>> items) {
  return MakeRef<TValueVector>(std::vector(items));
}
Ref<IIEValue> ListValue(Ref<IValueVector> v) { return MakeRef<TIEValue>(std::move(v)); }

TEST(ValueVectorTest, EqualityIsStrictPerElementAndNullAware) {
  struct Case {
    const char* name;
    Ref<TValueVector> a, b;
    bool equal;
  };
  const Case cases[] = {
      {"same ints", Vec({TIEValue::Integer(1), TIEValue::Integer(2)}),
       Vec({TIEValue::Integer(1), TIEValue::Integer(2)}), true},
      {"int vs float", Vec({TIEValue::Integer(1), TIEValue::Integer(2)}),
       Vec({TIEValue::Integer(1), TIEValue::Float(2.0)}), false},
      {"lengths", Vec({TIEValue::Integer(1)}), Vec({TIEValue::Integer(1), TIEValue::Integer(1)}),
       false},
      {"null vs null", Vec({nullptr, TIEValue::Atom("a")}), Vec({nullptr, TIEValue::Atom("a")}),
       true},
      {"value vs null", Vec({TIEValue::Atom("a")}), Vec({nullptr}), false},
      {"null vs value", Vec({nullptr}), Vec({TIEValue::Atom("a")}), false},
      {"empty", Vec({}), Vec({}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a->Equals(c.b.get()), c.equal);
  }
}

TEST(ValueVectorTest, HashIsOrderIndependentSum) {
  auto a = Vec({TIEValue::Integer(3), TIEValue::Atom("x"), nullptr});
  auto b = Vec({TIEValue::Atom("x"), nullptr, TIEValue::Integer(3)});
  EXPECT_EQ(a->GetHashCode(), b->GetHashCode());
  EXPECT_EQ(a->GetHashCode(), static_cast<std::int32_t>(3u + static_cast<std::uint32_t>(
                                                                   CalculateHash("x"))));
}

TEST(ValueVectorTest, CloneIsDeepButNestedListsAreShared) {
  auto inner = Vec({TIEValue::Integer(2)});
  auto outer = Vec({TIEValue::Integer(1), ListValue(inner)});
  outer->SetTag(4);
  Ref<IValueVector> copy = outer->Clone();
  ASSERT_EQ(copy->ValueCount(), 2);
  EXPECT_EQ(copy->Tag(), 4);
  EXPECT_NE(copy->Get(0), outer->Get(0));
  EXPECT_NE(copy->Get(1), outer->Get(1));
  // The nested list value was cloned as a value, so it shares the inner vector.
  EXPECT_EQ(copy->Get(1)->AsList(), inner.get());
  EXPECT_TRUE(copy->Equals(outer.get()));
}

TEST(ValueVectorTest, AppendSharesElements) {
  auto a = Vec({TIEValue::Integer(1)});
  auto b = Vec({TIEValue::Integer(2)});
  a->Append(*b);
  b->Get(0)->SetAsInteger(9);
  EXPECT_EQ(a->Get(1)->AsInteger(), 9);
  a->Append(*a);  // appending to itself doubles it
  EXPECT_EQ(a->ToString(), "1 9 1 9 ");
}

TEST(ValueVectorTest, PositionalOperations) {
  Ref<IIEValue> x = TIEValue::Atom("x");
  auto v = Vec({TIEValue::Atom("a"), x});
  v->Insert(0, TIEValue::Atom("first"));
  v->Insert(3, TIEValue::Atom("last"));
  EXPECT_EQ(v->ToString(), "first a x last ");
  EXPECT_EQ(v->IndexOf(x.get()), 2);
  EXPECT_EQ(v->IndexOf(TIEValue::Atom("x").get()), -1);  // identity, not equality
  EXPECT_EQ(v->Remove(x.get()), 2);
  EXPECT_EQ(v->First()->ToString(), "first");
  EXPECT_EQ(v->Last()->ToString(), "last");
  v->Delete(0);
  EXPECT_EQ(v->ToString(), "a last ");
  EXPECT_THROW(v->Get(2), EIEException);
  EXPECT_THROW(v->Insert(-1, nullptr), EIEException);
  EXPECT_THROW(v->Delete(5), EIEException);
  v->Clear();
  EXPECT_EQ(v->First(), nullptr);
}

class BracketParser final : public ISingletonsParser {
 public:
  std::string SingletonsToString(const ISingletonsVector& s) const override {
    return "[" + std::to_string(s.Count()) + " points]";
  }
};

TEST(SingletonsVectorTest, PrintsThroughItsParserOrAsPairs) {
  auto s = MakeRef<TSingletonsVector>();
  s->Add(TIEValue::Integer(0), TIEValue::Float(1.0));
  s->Add(TIEValue::Integer(10), TIEValue::Float(0.0));
  EXPECT_EQ(s->ToString(), "(0 1.0000) (10 0.0000) ");
  BracketParser parser;
  s->SetParser(&parser);
  EXPECT_EQ(s->ToString(), "[2 points]");
}

TEST(SingletonsVectorTest, CloneEqualsAndHash) {
  BracketParser parser;
  auto s = MakeRef<TSingletonsVector>(&parser);
  s->Add(TIEValue::Integer(1), TIEValue::Float(0.5));
  s->SetTag(3);
  Ref<ISingletonsVector> c = s->Clone();
  EXPECT_TRUE(c->Equals(s.get()));
  EXPECT_EQ(c->GetHashCode(), s->GetHashCode());
  EXPECT_EQ(c->Parser(), &parser);
  EXPECT_EQ(c->Tag(), 3);
  EXPECT_NE(c->XValue(0), s->XValue(0));
  c->SetYValue(0, TIEValue::Float(0.25));
  EXPECT_FALSE(c->Equals(s.get()));
  c->Delete(0);
  EXPECT_EQ(c->Count(), 0);
}

TEST(ValueHashTableTest, PutRemoveAssignAndPrint) {
  TValueHashTable table;
  EXPECT_EQ(table.Put("b", TIEValue::Integer(2)), nullptr);
  table.Put("a", TIEValue::String("x"));
  Ref<IIEValue> old = table.Put("b", TIEValue::Integer(3));
  EXPECT_EQ(old->AsInteger(), 2);
  EXPECT_EQ(table.ToString(), "a = \"x\"\nb = 3\n");
  TValueHashTable copy;
  copy.Assign(table);
  EXPECT_NE(copy.Get("a"), table.Get("a"));
  EXPECT_TRUE(copy.Get("a")->Equals(table.Get("a")));
  Ref<IIEValue> found;
  EXPECT_TRUE(table.ContainsKey("a", &found));
  EXPECT_EQ(found.get(), table.Get("a"));
  EXPECT_EQ(table.Remove("a")->AsString(), "x");
  EXPECT_FALSE(table.ContainsKey("a", &found));
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(table.Remove("zzz"), nullptr);
}

}  // namespace
}  // namespace zephro

namespace zephro {
namespace {

// A list `depth` levels deep, itself included, with one atom at the bottom.
Ref<TValueVector> Chain(int depth) {
  Ref<TValueVector> list = MakeRef<TValueVector>();
  list->Add(TIEValue::Atom("bottom"));
  for (int level = 1; level < depth; ++level) {
    Ref<TValueVector> outer = MakeRef<TValueVector>();
    outer->Add(ListValue(list));
    list = outer;
  }
  return list;
}

TEST(ValueVectorDepthTest, EveryWayInRefusesALevelPastTheLimit) {
  const Ref<IIEValue> at_limit = ListValue(Chain(kMaxNesting - 1));  // a child at the limit
  const Ref<IIEValue> too_deep_child = ListValue(Chain(kMaxNesting));
  const struct {
    const char* way;
    std::function<void(TValueVector&, Ref<IIEValue>)> put;
  } kWays[] = {
      {"Add", [](TValueVector& v, Ref<IIEValue> x) { v.Add(std::move(x)); }},
      {"Insert", [](TValueVector& v, Ref<IIEValue> x) { v.Insert(0, std::move(x)); }},
      {"Put", [](TValueVector& v, Ref<IIEValue> x) { v.Put(0, std::move(x)); }},
      {"Append",
       [](TValueVector& v, Ref<IIEValue> x) {
         TValueVector other;
         other.Add(std::move(x));
         v.Append(other);
       }},
  };
  for (const auto& way : kWays) {
    SCOPED_TRACE(way.way);
    TValueVector list;
    list.Add(TIEValue::Integer(1));
    way.put(list, at_limit);
    EXPECT_EQ(list.Depth(), kMaxNesting);
    TValueVector refused;
    refused.Add(TIEValue::Integer(1));
    EXPECT_THROW(way.put(refused, too_deep_child), EIEException);
    EXPECT_EQ(refused.Depth(), 1);
    EXPECT_EQ(refused.ToString(), "1 ");
  }
  EXPECT_THROW(TValueVector(std::vector<Ref<IIEValue>>{too_deep_child}), EIEException);
}

TEST(ValueVectorDepthTest, CopiesKeepTheDepthAndDeepListsCompareAndGo) {
  Ref<TValueVector> a = Chain(kMaxNesting);
  Ref<IValueVector> b = a->Clone();
  EXPECT_EQ(b->Depth(), kMaxNesting);
  EXPECT_TRUE(a->Equals(b.get()));
  EXPECT_EQ(a->GetHashCode(), b->GetHashCode());
  EXPECT_EQ(a->ToString().find("bottom"), a->ToString().rfind("bottom"));
  a.reset();  // released level by level, a thousand deep
  EXPECT_EQ(b->Depth(), kMaxNesting);
}

}  // namespace
}  // namespace zephro

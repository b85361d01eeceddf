// Values holding objects: what they read, print and compare once the object is
// freed elsewhere, and how owning values free what they own exactly once.
// Run under AddressSanitizer, these also show that no value touches a freed
// object.

#include <memory>

#include <gtest/gtest.h>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/component.h"
#include "zephro/platform/persistent.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

using enum TIEType;

// Counts how many crates were ever freed.
class TCrate : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TCrate, TPersistent)

  ~TCrate() override { ++freed; }
  void Assign(const TPersistent& source) override {
    if (dynamic_cast<const TCrate*>(&source) == nullptr) {
      TPersistent::Assign(source);
    }
  }

  static inline int freed = 0;
};

class TShelf : public TComponent {
  ZEPHRO_DECLARE_CLASS(TShelf, TComponent)
  using TComponent::TComponent;
};

ZEPHRO_DEFINE_CLASS(TCrate);
ZEPHRO_DEFINE_CLASS(TShelf);

TEST(ValueObjectTest, AValueWhoseObjectWasFreedReadsAsNoObject) {
  auto* crate = new TCrate;
  Ref<IIEValue> value = MakeRef<TIEValue>(crate, false);
  Ref<IIEValue> copy = value->Clone();
  const std::int32_t hash = value->GetHashCode();
  EXPECT_EQ(value->AsObject(), crate);
  EXPECT_EQ(copy->AsObject(), crate);
  EXPECT_EQ(value->ToString(), "<Object: TCrate>");

  FreeObject(crate);
  EXPECT_EQ(value->DType(), dtObject);
  EXPECT_EQ(value->AsObject(), nullptr);
  EXPECT_EQ(copy->AsObject(), nullptr);
  EXPECT_EQ(value->AsExternalAddress(), nullptr);
  EXPECT_EQ(value->ToString(), "");
  // Identity stays: a fact holding the value hashes and compares as before.
  EXPECT_EQ(value->GetHashCode(), hash);
  EXPECT_TRUE(value->Equals(copy.get()));
  EXPECT_TRUE(value->EqualsStar(copy.get()));
  const Ref<IIEValue> nil = MakeRef<TIEValue>(static_cast<TObject*>(nullptr), false);
  EXPECT_FALSE(value->Equals(nil.get()));
  EXPECT_EQ(nil->GetHashCode(), 0);

  // Set again, a value forgets the freed object.
  value->SetAsObject(nullptr);
  EXPECT_TRUE(value->Equals(nil.get()));
}

TEST(ValueObjectTest, AnOwningValueFreesItsObjectOnceWhoeverFreesFirst) {
  TCrate::freed = 0;
  {
    Ref<IIEValue> owner = MakeRef<TIEValue>(new TCrate, true);
    EXPECT_TRUE(owner->IsOwningObject());
    owner->SetAsInteger(1);  // lets go of the crate
    EXPECT_EQ(TCrate::freed, 1);
  }
  {
    auto* crate = new TCrate;
    Ref<IIEValue> owner = MakeRef<TIEValue>(crate, true);
    FreeObject(crate);  // freed behind the owning value's back
    EXPECT_EQ(TCrate::freed, 2);
    EXPECT_EQ(owner->AsObject(), nullptr);
  }
  EXPECT_EQ(TCrate::freed, 2);  // and not again by the value

  // A copy of an owning value owns a clone of its own.
  {
    Ref<IIEValue> owner = MakeRef<TIEValue>(new TCrate, true);
    Ref<IIEValue> copy = owner->Clone();
    EXPECT_TRUE(copy->IsOwningObject());
    EXPECT_NE(copy->AsObject(), owner->AsObject());
  }
  EXPECT_EQ(TCrate::freed, 4);
}

TEST(ValueObjectTest, AValueOwningAComponentForgetsItWhenItIsFreedElsewhere) {
  auto form = std::make_unique<TShelf>(nullptr);
  TShelf& shelf = MakeOwned<TShelf>(*form);
  Ref<IIEValue> owner = MakeRef<TIEValue>(&shelf, true);
  Ref<IIEValue> viewer = MakeRef<TIEValue>(&shelf, false);
  form.reset();  // frees the shelf with it
  EXPECT_EQ(owner->DType(), dtNone);
  EXPECT_FALSE(owner->IsOwningObject());
  EXPECT_EQ(viewer->DType(), dtObject);
  EXPECT_EQ(viewer->AsObject(), nullptr);
}

}  // namespace
}  // namespace zephro

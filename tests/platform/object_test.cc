#include "zephro/platform/object.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/enum_set.h"
#include "zephro/platform/exceptions.h"
#include "zephro/platform/persistent.h"

namespace zephro {
namespace {

enum class TShape : std::uint8_t { shRound, shSquare, shStar };
constexpr const char* kShapeNames[] = {"shRound", "shSquare", "shStar"};
using TShapes = EnumSet<TShape>;

// A class publishing one property of every kind.
class TGauge : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TGauge, TPersistent)

  std::int32_t Level() const { return level_; }
  void SetLevel(std::int32_t level) { level_ = level; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  TShape Shape() const { return shape_; }
  void SetShape(TShape shape) { shape_ = shape; }
  TShapes Shapes() const { return shapes_; }
  void SetShapes(TShapes shapes) { shapes_ = shapes; }
  TGauge* Partner() const { return partner_; }
  void SetPartner(TGauge* partner) { partner_ = partner; }
  std::string Serial() const { return serial_; }

  double scale = 1.0;
  std::function<std::string()> OnChange;

  void Assign(const TPersistent& source) override {
    if (const auto* gauge = dynamic_cast<const TGauge*>(&source)) {
      level_ = gauge->level_;
      caption_ = gauge->caption_;
      shape_ = gauge->shape_;
      scale = gauge->scale;
      return;
    }
    TPersistent::Assign(source);
  }

 protected:
  std::string serial_ = "G-1";

 private:
  std::int32_t level_ = 0;
  std::string caption_;
  bool enabled_ = false;
  TShape shape_ = TShape::shRound;
  TShapes shapes_;
  TGauge* partner_ = nullptr;
};

// Inherits TGauge's properties, adds one and republishes Serial as writable.
class TDial : public TGauge {
  ZEPHRO_DECLARE_CLASS(TDial, TGauge)

  void SetSerial(std::string serial) { serial_ = std::move(serial); }
  std::uint8_t ticks = 12;

  void Assign(const TPersistent& source) override {
    TGauge::Assign(source);
    if (const auto* dial = dynamic_cast<const TDial*>(&source)) {
      ticks = dial->ticks;
    }
  }
};

// Knows how to copy itself into a gauge, which does not know it.
class TNote : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TNote, TPersistent)

  std::string text = "from a note";
  void AssignTo(TPersistent& dest) const override {
    if (auto* gauge = dynamic_cast<TGauge*>(&dest)) {
      gauge->SetCaption(text);
      return;
    }
    TPersistent::AssignTo(dest);
  }
};

class TAbstractShape : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TAbstractShape, TPersistent)
  virtual double Area() const = 0;
};

// No factory: there is no constructor the registry could call.
class TLabelled : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TLabelled, TPersistent)
  explicit TLabelled(std::string label) : label_(std::move(label)) {}

 private:
  std::string label_;
};

// Forgot to declare itself: it reports TGauge.
class TUndeclaredGauge : public TGauge {};

ZEPHRO_DEFINE_CLASS(TGauge)
    .Property("Level", &TGauge::Level, &TGauge::SetLevel)
    .Property("Scale", &TGauge::scale, &TGauge::scale)
    .Property("Caption", &TGauge::Caption, &TGauge::SetCaption)
    .Property("Enabled", &TGauge::Enabled, &TGauge::SetEnabled)
    .Property("Shape", &TGauge::Shape, &TGauge::SetShape, kShapeNames)
    .Property("Shapes", &TGauge::Shapes, &TGauge::SetShapes, kShapeNames)
    .Property("Partner", &TGauge::Partner, &TGauge::SetPartner)
    .Property("Serial", &TGauge::Serial)
    .Event("OnChange", &TGauge::OnChange);
ZEPHRO_DEFINE_CLASS(TDial)
    .Property("Serial", &TDial::Serial, &TDial::SetSerial)
    .Property("Ticks", &TDial::ticks, &TDial::ticks);
ZEPHRO_DEFINE_CLASS(TNote);
ZEPHRO_DEFINE_CLASS(TAbstractShape);
ZEPHRO_DEFINE_CLASS(TLabelled);

// Publishes what a host class without a member per property has: a character,
// a 64-bit counter, and properties computed by callables.
class TMeter : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TMeter, TPersistent)

  char unit = 'm';
  std::int64_t total = 0;
  std::int32_t millimetres = 0;
  TShape shape = TShape::shRound;
};

ZEPHRO_DEFINE_CLASS(TMeter)
    .Property("Unit", &TMeter::unit, &TMeter::unit)
    .Property("Total", &TMeter::total, &TMeter::total)
    .Property(
        "Metres", [](const TMeter& m) { return m.millimetres / 1000.0; },
        [](TMeter& m, double metres) { m.millimetres = static_cast<std::int32_t>(metres * 1000); })
    .Property(
        "Outline", [](const TMeter& m) { return m.shape; },
        [](TMeter& m, TShape shape) { m.shape = shape; }, kShapeNames)
    .Property("Label", [](const TMeter& m) { return std::string(1, m.unit) + "eter"; });

using ::testing::ElementsAre;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(ClassRegistryTest, FindsClassesByNameAndWalksParents) {
  EXPECT_EQ(FindClass("TDial"), &TDial::StaticClass());
  EXPECT_EQ(FindClass("tdial"), &TDial::StaticClass());
  EXPECT_EQ(FindClass("TComponent")->ClassParent(), FindClass("TPersistent"));
  EXPECT_EQ(FindClass("TNoSuchClass"), nullptr);
  EXPECT_THAT([] { RequireClass("TNoSuchClass"); },
              ThrowsMessage<EBaseException>(StrEq("Class TNoSuchClass is not registered")));

  std::vector<std::string> chain;
  for (const TClassInfo* c = &TDial::StaticClass(); c != nullptr; c = c->ClassParent()) {
    chain.push_back(c->ClassName());
  }
  EXPECT_THAT(chain, ElementsAre("TDial", "TGauge", "TPersistent", "TObject"));

  TDial dial;
  EXPECT_EQ(dial.ClassName(), "TDial");
  EXPECT_TRUE(dial.InheritsFrom(TGauge::StaticClass()));
  EXPECT_TRUE(dial.InheritsFrom(TObject::StaticClass()));
  EXPECT_FALSE(TGauge().InheritsFrom(TDial::StaticClass()));
  EXPECT_EQ(TUndeclaredGauge().ClassName(), "TGauge");
}

TEST(ClassRegistryTest, FactoriesExistOnlyForConstructibleClasses) {
  EXPECT_TRUE(TDial::StaticClass().CanCreate());
  EXPECT_FALSE(TAbstractShape::StaticClass().CanCreate());
  EXPECT_FALSE(TLabelled::StaticClass().CanCreate());
  EXPECT_THAT([] { TAbstractShape::StaticClass().CreateInstance(); },
              ThrowsMessage<EBaseException>(StrEq("Cannot create an instance of TAbstractShape")));
  std::unique_ptr<TObject> made = FindClass("TDial")->CreateInstance();
  EXPECT_EQ(&made->ClassType(), &TDial::StaticClass());
  EXPECT_NE(dynamic_cast<TDial*>(made.get()), nullptr);
}

TEST(ClassRegistryTest, VerifiedCast) {
  TDial dial;
  TGauge gauge;
  EXPECT_EQ(CastObject<TGauge>(&dial), &dial);
  EXPECT_EQ(CastObject<TGauge>(nullptr), nullptr);
  EXPECT_THAT([&] { CastObject<TDial>(&gauge); },
              ThrowsMessage<EBaseException>(StrEq("Cannot cast a TGauge to a TDial")));
}

TEST(PropertyTest, ListsPropertiesParentsFirstWithRedeclarationsInPlace) {
  std::vector<std::string> names;
  for (const TPropertyInfo* property : TDial::StaticClass().Properties()) {
    names.push_back(property->Name());
  }
  EXPECT_THAT(names, ElementsAre("Level", "Scale", "Caption", "Enabled", "Shape", "Shapes",
                                 "Partner", "Serial", "OnChange", "Ticks"));
  const TPropertyInfo* serial = TDial::StaticClass().FindProperty("serial");
  ASSERT_NE(serial, nullptr);
  EXPECT_EQ(&serial->DeclaringClass(), &TDial::StaticClass());
  EXPECT_FALSE(serial->IsReadOnly());
  EXPECT_TRUE(TGauge::StaticClass().FindProperty("Serial")->IsReadOnly());
  EXPECT_EQ(TGauge::StaticClass().FindProperty("Ticks"), nullptr);
  EXPECT_THAT(TGauge::StaticClass().FindProperty("Shape")->ElementNames(),
              ElementsAre("shRound", "shSquare", "shStar"));
  EXPECT_THAT(TGauge::StaticClass().FindProperty("Enabled")->ElementNames(),
              ElementsAre("False", "True"));
}

// A property of kind `kind` set to `value` by name reads back `read_back`.
struct RoundTrip {
  const char* name;
  TPropertyValue value;
  TPropertyValue read_back;
  TPropertyKind kind;
};

void ExpectRoundTrips(TObject& object, const std::vector<RoundTrip>& cases) {
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(object.ClassType().FindProperty(c.name)->Kind(), c.kind);
    SetPropValue(object, c.name, c.value);
    EXPECT_EQ(GetPropValue(object, c.name), c.read_back);
  }
}

TEST(PropertyTest, SetsAndGetsByNameThroughTheParentChain) {
  TDial partner;
  TDial dial;
  ExpectRoundTrips(
      dial,
      {
          {"Level", std::int64_t{-42}, std::int64_t{-42}, TPropertyKind::kInteger},
          {"level", std::int64_t{7}, std::int64_t{7}, TPropertyKind::kInteger},
          {"Scale", 2.5, 2.5, TPropertyKind::kFloat},
          {"Scale", std::int64_t{3}, 3.0, TPropertyKind::kFloat},
          {"Caption", std::string("dial"), std::string("dial"), TPropertyKind::kString},
          {"Enabled", std::string("True"), std::string("True"), TPropertyKind::kEnumeration},
          {"Enabled", std::int64_t{0}, std::string("False"), TPropertyKind::kEnumeration},
          {"Shape", std::string("shstar"), std::string("shStar"), TPropertyKind::kEnumeration},
          {"Shape", std::int64_t{1}, std::string("shSquare"), TPropertyKind::kEnumeration},
          {"Shapes", std::string("[shStar, shRound]"), std::string("[shRound,shStar]"),
           TPropertyKind::kSet},
          {"Shapes", std::string("shSquare"), std::string("[shSquare]"), TPropertyKind::kSet},
          {"Shapes", std::string("[]"), std::string("[]"), TPropertyKind::kSet},
          {"Shapes", std::int64_t{6}, std::string("[shSquare,shStar]"), TPropertyKind::kSet},
          {"Partner", &partner, &partner, TPropertyKind::kClass},
          {"Partner", std::monostate{}, static_cast<TObject*>(nullptr), TPropertyKind::kClass},
          {"Serial", std::string("D-9"), std::string("D-9"), TPropertyKind::kString},
          {"Ticks", std::int64_t{255}, std::int64_t{255}, TPropertyKind::kInteger},
      });
  EXPECT_EQ(dial.Level(), 7);
  EXPECT_EQ(dial.Shape(), TShape::shSquare);
  EXPECT_EQ(dial.Shapes(), (TShapes{TShape::shSquare, TShape::shStar}));
  EXPECT_FALSE(dial.Enabled());
  EXPECT_EQ(dial.ticks, 255);
}

TEST(PropertyTest, RefusesWhatItCannotStore) {
  TPersistent stranger;
  struct Case {
    const char* name;
    TPropertyValue value;
    const char* message;
  };
  const Case cases[] = {
      {"Nope", std::int64_t{1}, "Class TDial has no published property Nope"},
      {"Level", std::string("12"), "Invalid value for property Level"},
      {"Level", std::int64_t{1} << 40, "Value 1099511627776 is out of range for property Level"},
      {"Ticks", std::int64_t{256}, "Value 256 is out of range for property Ticks"},
      {"Ticks", std::int64_t{-1}, "Value -1 is out of range for property Ticks"},
      {"Caption", 1.5, "Invalid value for property Caption"},
      {"Shape", std::string("shOval"), "Property Shape has no element shOval"},
      {"Shape", std::int64_t{3}, "Value 3 is out of range for property Shape"},
      {"Shapes", std::string("[shRound,shOval]"), "Property Shapes has no element shOval"},
      {"Shapes", std::int64_t{8}, "Invalid value for property Shapes"},
      {"Partner", &stranger, "Cannot cast a TPersistent to a TGauge"},
      {"OnChange", std::int64_t{1}, "Property OnChange of kind Method has no value"},
  };
  TDial dial;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT([&] { SetPropValue(dial, c.name, c.value); },
                ThrowsMessage<EBaseException>(StrEq(c.message)));
  }
  TGauge gauge;
  EXPECT_THAT([&] { SetPropValue(gauge, "Serial", std::string("x")); },
              ThrowsMessage<EBaseException>(StrEq("Property Serial is read-only")));
  EXPECT_EQ(GetPropValue(gauge, "Serial"), TPropertyValue(std::string("G-1")));
  EXPECT_THAT(
      [&] { GetPropValue(gauge, "OnChange"); },
      ThrowsMessage<EBaseException>(StrEq("Property OnChange of kind Method has no value")));
  EXPECT_THAT([&] { GetPropValue(gauge, "Ticks"); },
              ThrowsMessage<EBaseException>(StrEq("Class TGauge has no published property Ticks")));
  // A property description refuses objects of classes that do not publish it.
  EXPECT_THAT([&] { TDial::StaticClass().FindProperty("Ticks")->Get(gauge); },
              ThrowsMessage<EBaseException>(StrEq("Cannot cast a TGauge to a TDial")));
}

TEST(PropertyTest, CharactersWideIntegersAndCallablesArePublishedInOneLine) {
  TMeter meter;
  ExpectRoundTrips(
      meter,
      {
          {"Unit", std::string("k"), std::string("k"), TPropertyKind::kString},
          {"Total", std::int64_t{1} << 40, std::int64_t{1} << 40, TPropertyKind::kInteger},
          {"Total", std::int64_t{-5}, std::int64_t{-5}, TPropertyKind::kInteger},
          {"Metres", 2.5, 2.5, TPropertyKind::kFloat},
          {"Metres", std::int64_t{3}, 3.0, TPropertyKind::kFloat},
          {"Outline", std::string("shStar"), std::string("shStar"), TPropertyKind::kEnumeration},
      });
  EXPECT_EQ(meter.unit, 'k');
  EXPECT_EQ(meter.millimetres, 3000);
  EXPECT_EQ(meter.shape, TShape::shStar);
  EXPECT_EQ(GetPropValue(meter, "Label"), TPropertyValue(std::string("keter")));
  EXPECT_TRUE(meter.ClassType().FindProperty("Label")->IsReadOnly());

  for (const char* text : {"", "km"}) {
    SCOPED_TRACE(text);
    EXPECT_THAT([&] { SetPropValue(meter, "Unit", std::string(text)); },
                ThrowsMessage<EBaseException>(StrEq(std::string("Property Unit holds one "
                                                                "character, not \"") +
                                                    text + "\"")));
  }
  EXPECT_EQ(meter.unit, 'k');
}

TEST(PropertyTest, SwapsEventHandlers) {
  TDial a;
  TGauge b;
  a.OnChange = [] { return std::string("a"); };
  b.OnChange = [] { return std::string("b"); };
  const TPropertyInfo* on_change = TDial::StaticClass().FindProperty("OnChange");
  ASSERT_EQ(on_change->Kind(), TPropertyKind::kMethod);
  on_change->SwapHandlers(a, b);
  EXPECT_EQ(a.OnChange(), "b");
  EXPECT_EQ(b.OnChange(), "a");
  EXPECT_THROW(TDial::StaticClass().FindProperty("Level")->SwapHandlers(a, b), EBaseException);
}

TEST(PersistentTest, AssignAsksTheSourceWhenTheDestinationDoesNotKnowIt) {
  TGauge gauge;
  gauge.Assign(TNote());
  EXPECT_EQ(gauge.Caption(), "from a note");
  TNote note;
  EXPECT_THAT([&] { note.Assign(gauge); },
              ThrowsMessage<EBaseException>(StrEq("Cannot assign a TGauge to a TNote")));
  EXPECT_THAT([&] { gauge.Assign(TPersistent()); },
              ThrowsMessage<EBaseException>(StrEq("Cannot assign a TPersistent to a TGauge")));
}

TEST(PersistentTest, CloneObjectMakesTheSameClassAndAssigns) {
  TDial dial;
  dial.SetLevel(5);
  dial.SetCaption("copied");
  dial.ticks = 60;
  std::unique_ptr<TDial> clone = CloneObject(dial);
  EXPECT_EQ(&clone->ClassType(), &TDial::StaticClass());
  EXPECT_EQ(clone->Level(), 5);
  EXPECT_EQ(clone->Caption(), "copied");
  EXPECT_EQ(clone->ticks, 60);

  const TGauge& as_gauge = dial;
  std::unique_ptr<TGauge> through_base = CloneObject(as_gauge);
  EXPECT_NE(dynamic_cast<TDial*>(through_base.get()), nullptr);

  EXPECT_THAT([] { CloneObject(TLabelled("x")); },
              ThrowsMessage<EBaseException>(
                  StrEq("Cannot clone a TLabelled: its class cannot make instances")));
  EXPECT_THAT([] { CloneObject(TUndeclaredGauge()); },
              ThrowsMessage<EBaseException>(
                  StrEq("Cannot clone a TGauge: the object's own class is not declared")));
}

}  // namespace
}  // namespace zephro

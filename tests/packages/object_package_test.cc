#include "zephro/packages/object_package.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/platform/actions.h"
#include "zephro/platform/class_registry.h"
#include "zephro/platform/controls.h"
#include "zephro/platform/enum_set.h"
#include "zephro/platform/exceptions.h"
#include "zephro/platform/persistent.h"
#include "zephro/platform/weak_object.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/value.h"

#include "testing/package_checks.h"

namespace zephro {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

enum class TMode : std::uint8_t { mdIdle, mdBusy, mdBroken };
constexpr const char* kModeNames[] = {"mdIdle", "mdBusy", "mdBroken"};
enum class TFlag : std::uint8_t { fgFragile, fgCold, fgHeavy };
constexpr const char* kFlagNames[] = {"fgFragile", "fgCold", "fgHeavy"};

// A host control publishing a property of every kind rules can reach.
class TGadget : public TControl {
  ZEPHRO_DECLARE_CLASS(TGadget, TControl)
  using TControl::TControl;

  std::int32_t count = 0;
  std::int64_t serial = 0;
  char grade = 'A';
  std::string label;
  TMode mode = TMode::mdIdle;
  bool ready = false;
  EnumSet<TFlag> flags;
  double weight = 0;
  TWeakObject<TGadget> partner;  // a partner freed elsewhere reads as none
  std::function<void()> OnPing;
};

// The form an engine sits on.
class TTestForm : public TWinControl {
  ZEPHRO_DECLARE_CLASS(TTestForm, TWinControl)
  using TWinControl::TWinControl;
};

// An object that is no component and publishes nothing.
class TNote : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TNote, TPersistent)
};

// A class whose only constructor needs an argument: no instance can be made
// from its description.
class TSealed : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TSealed, TPersistent)
  explicit TSealed(int) {}
};

ZEPHRO_DEFINE_CLASS(TGadget)
    .Property("Count", &TGadget::count, &TGadget::count)
    .Property("Serial", &TGadget::serial, &TGadget::serial)
    .Property("Grade", &TGadget::grade, &TGadget::grade)
    .Property("Label", &TGadget::label, &TGadget::label)
    .Property("Mode", &TGadget::mode, &TGadget::mode, kModeNames)
    .Property("Ready", &TGadget::ready, &TGadget::ready)
    .Property("Flags", &TGadget::flags, &TGadget::flags, kFlagNames)
    .Property("Weight", &TGadget::weight, &TGadget::weight)
    .Property(
        "Partner", [](const TGadget& g) { return g.partner.Get(); },
        [](TGadget& g, TGadget* p) { g.partner = TWeakObject<TGadget>(p); })
    .Event("OnPing", &TGadget::OnPing)
    .Property("Kind", [](const TGadget&) { return std::string("gadget"); });
ZEPHRO_DEFINE_CLASS(TTestForm);
ZEPHRO_DEFINE_CLASS(TNote);
ZEPHRO_DEFINE_CLASS(TSealed);

// An engine on a form, which owns two gadgets, a panel holding a knob, and an
// action. Rules see them as ?form, ?g, ?h, ?panel, ?go; ?note is an object that
// is no component, ?nothing and ?noclass hold no object and no class.
class ObjectPackageTest : public ::testing::Test {
 protected:
  ObjectPackageTest() : form_(std::make_unique<TTestForm>(nullptr)) {
    form_->SetName("MainForm");
    engine_ = &Named<TInferenceEngine>(*form_, "Engine");
    engine_->OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view) {};
    gadget_ = &Named<TGadget>(*form_, "Gadget1");
    Named<TGadget>(*form_, "Gadget2");
    panel_ = &Named<TWinControl>(*form_, "Panel");
    Named<TGadget>(*panel_, "Knob");
    action_ = &Named<TBasicAction>(*form_, "Go");
    action_->OnExecute = [this](TBasicAction&) { ++executed_; };
    Bind("form", form_.get());
    Bind("g", gadget_);
    Bind("h", form_->FindComponent("Gadget2"));
    Bind("panel", panel_);
    Bind("go", action_);
    Bind("note", &note_);
    Bind("nothing", nullptr);
    Engine().RootContext().SetVariable("noclass",
                                       MakeRef<TIEValue>(static_cast<const TClassInfo*>(nullptr)));
  }

  template <class T>
  static T& Named(TComponent& owner, const char* name) {
    T& component = MakeOwned<T>(owner);
    component.SetName(name);
    return component;
  }

  TInferenceEngine& Engine() { return *engine_; }
  void Bind(const char* name, TObject* object) {
    Engine().RootContext().SetVariable(name, MakeRef<TIEValue>(object, false));
  }
  // The printed result of the call `text`, or "raises: " and what it raised.
  std::string Eval(std::string_view text) {
    try {
      return Engine().ParseNExecuteFunCall(text)->ToString();
    } catch (const EBaseException& e) {
      return std::string("raises: ") + e.what();
    }
  }
  struct Case {
    const char* call;
    const char* outcome;
  };
  void ExpectOutcomes(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      EXPECT_EQ(Eval(c.call), c.outcome) << c.call;
    }
  }

  TNote note_;  // outlives the form, whose gadgets may refer to it
  std::unique_ptr<TTestForm> form_;
  TInferenceEngine* engine_ = nullptr;  // owned by the form
  TGadget* gadget_ = nullptr;
  TWinControl* panel_ = nullptr;
  TBasicAction* action_ = nullptr;
  int executed_ = 0;
};

TEST_F(ObjectPackageTest, FunctionsKeepTheirNamesOrderAndLimits) {
  const TObjectPackage* package = nullptr;
  for (int i = 0; package == nullptr && i < Engine().ComponentCount(); ++i) {
    package = dynamic_cast<const TObjectPackage*>(&Engine().Component(i));
  }
  ASSERT_NE(package, nullptr);
  EXPECT_THAT(
      testing::FunctionNames(*package),
      ::testing::ElementsAre("create-component", "create-object", "execute-action", "free-object",
                             "get-component", "get-components", "get-property", "get-properties",
                             "set-property", "get-class", "is-class"));
  // The two forms of get-component, one on each line.
  const IUserFunction& get_component = package->Functions().Get(package->IndexOf("get-component"));
  EXPECT_EQ(get_component.ArgumentString(),
            " [<component-name>] | \n [<TComponent-expression> <component-name>]");
  // Placeholders naming classes (<TObject-expression>) are not lowercase words,
  // and the line break is not a blank: the syntax reader refuses those texts.
  testing::ExpectEveryFunctionKeepsItsLimits(
      *package, Engine(),
      {"create-component", "create-object", "execute-action", "free-object", "get-component",
       "get-components", "get-property", "get-properties", "set-property", "is-class"});
}

// Each kind set from a rule and read back, with the conversions and the
// refusals of that kind.
TEST_F(ObjectPackageTest, PropertiesOfEveryKindAreReadAndWritten) {
  ExpectOutcomes({
      // integer: from any value with an integer form
      {"(set-property ?g Count 12)", "TRUE"},
      {"(get-property ?g Count)", "12"},
      {"(set-property ?g count 7.9)", "TRUE"},  // names are not case-sensitive
      {"(get-property ?g COUNT)", "7"},
      {"(set-property ?g Count \"-3\")", "TRUE"},
      {"(get-property ?g Count)", "-3"},
      {"(set-property ?g Count abc)", "raises: Not a integer type.  Value (abc) is a dtAtom type"},
      // 64-bit integer
      {"(set-property ?g Serial 2147483647)", "TRUE"},
      {"(get-property ?g Serial)", "2147483647"},
      // character: exactly one
      {"(set-property ?g Grade B)", "TRUE"},
      {"(get-property ?g Grade)", "\"B\""},
      {"(set-property ?g Grade BB)",
       "raises: set-property error: Property Grade holds one character, not \"BB\""},
      // string: the text of any value
      {"(set-property ?g Label \"top shelf\")", "TRUE"},
      {"(get-property ?g Label)", "\"top shelf\""},
      {"(set-property ?g Label 42)", "TRUE"},
      {"(get-property ?g Label)", "\"42\""},
      // enumeration: by name, in any case; read as an atom
      {"(set-property ?g Mode mdBusy)", "TRUE"},
      {"(get-property ?g Mode)", "mdBusy"},
      {"(set-property ?g Mode \"MDBROKEN\")", "TRUE"},
      {"(get-property ?g Mode)", "mdBroken"},
      {"(set-property ?g Mode mdLost)",
       "raises: set-property error: Property Mode has no element mdLost"},
      {"(set-property ?g Ready TRUE)", "TRUE"},
      {"(get-property ?g Ready)", "True"},
      // set: the members by name, read back in their declared order
      {"(set-property ?g Flags \"[fgHeavy, fgFragile]\")", "TRUE"},
      {"(get-property ?g Flags)", "\"[fgFragile,fgHeavy]\""},
      {"(set-property ?g Flags fgCold)", "TRUE"},
      {"(get-property ?g Flags)", "\"[fgCold]\""},
      {"(set-property ?g Flags \"[]\")", "TRUE"},
      {"(get-property ?g Flags)", "\"[]\""},
      {"(set-property ?g Flags \"[fgWet]\")",
       "raises: set-property error: Property Flags has no element fgWet"},
      // float
      {"(set-property ?g Weight 2.5)", "TRUE"},
      {"(get-property ?g Weight)", "2.5000"},
      {"(set-property ?g Weight 3)", "TRUE"},
      {"(get-property ?g Weight)", "3.0000"},
      {"(set-property ?g Weight heavy)",
       "raises: Not a numeric type.  Value (heavy) is a dtAtom type"},
      // object reference: of the property's class, or none
      {"(set-property ?g Partner ?h)", "TRUE"},
      {"(get-property ?g Partner)", "<Object: TGadget>"},
      {"(eq (get-property ?g Partner) ?h)", "TRUE"},
      {"(set-property ?g Partner ?note)",
       "raises: set-property error: Cannot cast a TNote to a TGadget"},
      {"(set-property ?g Partner 5)", "raises: Not a object type.  Value (5) is a dtInteger type"},
      {"(set-property ?g Parent ?panel)", "TRUE"},
      {"(get-property ?g Parent)", "<Object: TWinControl>"},
      {"(set-property ?g Parent ?nothing)", "TRUE"},
      {"(get-property ?g Parent)", ""},
      // event: left alone by set-property, refused by get-property
      {"(set-property ?g OnPing 1)", "TRUE"},
      {"(get-property ?g OnPing)", "raises: get-property error: Invalid property type: Method"},
      // read-only, computed by the host
      {"(get-property ?g Kind)", "\"gadget\""},
      {"(set-property ?g Kind x)", "raises: set-property error: Property Kind is read-only"},
  });
  EXPECT_EQ(gadget_->count, -3);
  EXPECT_EQ(gadget_->grade, 'B');
  EXPECT_EQ(gadget_->mode, TMode::mdBroken);
  EXPECT_TRUE(gadget_->ready);
  EXPECT_EQ(gadget_->partner.Get(), form_->FindComponent("Gadget2"));
  EXPECT_EQ(gadget_->Parent(), nullptr);
  EXPECT_EQ(panel_->ControlCount(), 0);
}

TEST_F(ObjectPackageTest, WhatAnObjectDoesNotPublishIsEmptyOrFalse) {
  gadget_->serial = std::int64_t{1} << 40;  // beyond an integer's 32 bits
  ExpectOutcomes({
      {"(get-property ?g Colour)", ""},
      {"(set-property ?g Colour red)", "FALSE"},
      {"(get-property ?note Name)", ""},
      {"(set-property ?note Name x)", "FALSE"},
      {"(get-property ?nothing Count)", ""},
      {"(set-property ?nothing Count 1)", "FALSE"},
      {"(get-properties ?nothing)", ""},
      {"(get-property 5 Count)", "raises: Not a object type.  Value (5) is a dtInteger type"},
      {"(get-property ?g Serial)", "raises: Integer overflow in get-property"},
      // events are no properties with a value: OnPing is not listed
      {"(get-properties ?g)",
       "Name Parent Count Serial Grade Label Mode Ready Flags Weight Partner Kind "},
      {"(get-properties ?go)", "Name "},
      {"(get-properties ?note)", ""},
  });
  EXPECT_EQ(Engine().ParseNExecuteFunCall("(get-property ?g Colour)")->DType(), TIEType::dtNone);
  EXPECT_EQ(Engine().ParseNExecuteFunCall("(get-properties ?g)")->AsList()->Values()[0]->DType(),
            TIEType::dtAtom);
}

TEST_F(ObjectPackageTest, ComponentsAreFoundByNameFromTheEnginesOwnerOrAGivenOne) {
  ExpectOutcomes({
      {"(get-component)", "<Object: TTestForm>"},
      {"(eq (get-component) ?form)", "TRUE"},
      {"(eq (get-component gadget1) ?g)", "TRUE"},
      {"(eq (get-component \"GADGET2\") ?h)", "TRUE"},
      {"(get-component Knob)", "FALSE"},  // the panel's, not the form's
      {"(get-component Nobody)", "FALSE"},
      {"(get-component \"\")", "FALSE"},
      {"(get-component ?panel knob)", "<Object: TGadget>"},
      {"(get-component ?panel Gadget1)", "FALSE"},
      {"(get-component ?nothing Knob)",
       "raises: Expected component argument to get-component function call"},
      {"(get-component ?note Knob)",
       "raises: get-component error: Cannot cast a TNote to a TComponent"},
      {"(get-components ?panel)", "<Object: TGadget> "},
      {"(get-components ?g)", ""},
      {"(get-components ?nothing)",
       "raises: Expected component argument to get-components function call"},
  });
  // In ownership order, the engine first (it joined the form first).
  const Ref<IIEValue> all = Engine().ParseNExecuteFunCall("(get-components)");
  std::vector<std::string> names;
  for (const Ref<IIEValue>& item : all->AsList()->Values()) {
    EXPECT_FALSE(item->IsOwningObject());
    names.push_back(static_cast<TComponent*>(item->AsObject())->Name());
  }
  EXPECT_THAT(names, ::testing::ElementsAre("Engine", "Gadget1", "Gadget2", "Panel", "Go"));
}

TEST_F(ObjectPackageTest, AnEngineWithoutOwnerHasNoComponents) {
  auto engine = std::make_unique<TInferenceEngine>(nullptr);
  EXPECT_EQ(engine->ParseNExecuteFunCall("(get-component)")->ToString(), "FALSE");
  EXPECT_THAT([&] { engine->ParseNExecuteFunCall("(get-component Gadget1)"); },
              ThrowsMessage<EIEException>(
                  StrEq("Expected component argument to get-component function call")));
  EXPECT_THAT([&] { engine->ParseNExecuteFunCall("(get-components)"); },
              ThrowsMessage<EIEException>(
                  StrEq("Expected component argument to get-components function call")));
}

TEST_F(ObjectPackageTest, ClassesAreFoundByNameAndTestedWithTheirAncestors) {
  ExpectOutcomes({
      {"(get-class TGadget)", "TGadget"},
      {"(get-class \"tgadget\")", "TGadget"},
      {"(get-class TNope)", "raises: get-class error: Class TNope is not registered"},
      {"(is-class ?g (get-class TGadget))", "TRUE"},
      {"(is-class ?g (get-class TControl))", "TRUE"},
      {"(is-class ?g (get-class TComponent))", "TRUE"},
      {"(is-class ?g (get-class TObject))", "TRUE"},
      {"(is-class ?g (get-class TWinControl))", "FALSE"},
      {"(is-class ?panel (get-class TControl))", "TRUE"},
      {"(is-class ?note (get-class TComponent))", "FALSE"},
      {"(is-class ?nothing (get-class TObject))", "FALSE"},
      {"(is-class ?g ?noclass)", "FALSE"},
      {"(is-class ?g TGadget)", "raises: Not a class type.  Value (TGadget) is a dtAtom type"},
  });
}

TEST_F(ObjectPackageTest, ActionsRunWhenTheyHaveSomethingToDo) {
  TBasicAction idle(nullptr);
  Bind("idle", &idle);
  ExpectOutcomes({
      {"(execute-action ?go)", "TRUE"},
      {"(execute-action (get-component Go))", "TRUE"},
      {"(execute-action ?idle)", "FALSE"},
      {"(execute-action ?nothing)", "FALSE"},
      {"(execute-action ?g)",
       "raises: execute-action error: Cannot cast a TGadget to a TBasicAction"},
  });
  EXPECT_EQ(executed_, 2);
}

TEST_F(ObjectPackageTest, ComponentsAreCreatedWithTheirOwnerAndParent) {
  const Ref<IIEValue> made =
      Engine().ParseNExecuteFunCall("(create-component (get-class TGadget) ?form)");
  EXPECT_FALSE(made->IsOwningObject());
  auto* gadget = dynamic_cast<TGadget*>(made->AsObject());
  ASSERT_NE(gadget, nullptr);
  EXPECT_EQ(gadget->Owner(), form_.get());
  EXPECT_EQ(gadget->Parent(), nullptr);

  const Ref<IIEValue> shown =
      Engine().ParseNExecuteFunCall("(create-component (get-class TGadget) ?form ?panel)");
  auto* inside = dynamic_cast<TGadget*>(shown->AsObject());
  ASSERT_NE(inside, nullptr);
  EXPECT_EQ(inside->Owner(), form_.get());
  EXPECT_EQ(inside->Parent(), panel_);

  const int before = form_->ComponentCount();
  ExpectOutcomes({
      {"(create-component (get-class TGadget) ?form ?g)",
       "raises: create-component error: Cannot cast a TGadget to a TWinControl"},
      {"(create-component (get-class TBasicAction) ?form ?panel)",
       "raises: create-component error: Cannot cast a TBasicAction to a TControl"},
      {"(create-component (get-class TNote) ?form)",
       "raises: create-component error: TNote is not a component class"},
      {"(create-component (get-class TGadget) ?note)",
       "raises: create-component error: Cannot cast a TNote to a TComponent"},
      {"(create-component ?noclass ?form)",
       "raises: create-component error: Cannot create an instance of nil"},
      {"(create-component TGadget ?form)",
       "raises: Not a class type.  Value (TGadget) is a dtAtom type"},
  });
  EXPECT_EQ(form_->ComponentCount(), before);  // a refusal makes nothing

  // Without owner the component is the rules' to free.
  const Ref<IIEValue> loose =
      Engine().ParseNExecuteFunCall("(create-component (get-class TGadget) ?nothing)");
  auto* orphan = dynamic_cast<TGadget*>(loose->AsObject());
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(orphan->Owner(), nullptr);
  Engine().RootContext().SetVariable("orphan", loose);
  EXPECT_EQ(Eval("(free-object ?orphan)"), "TRUE");
}

TEST_F(ObjectPackageTest, ObjectsAreCreatedOwnedByNothing) {
  const Ref<IIEValue> made = Engine().ParseNExecuteFunCall("(create-object (get-class TNote))");
  EXPECT_FALSE(made->IsOwningObject());
  EXPECT_EQ(made->ToString(), "<Object: TNote>");
  Engine().RootContext().SetVariable("made", made);
  ExpectOutcomes({
      {"(is-class ?made (get-class TPersistent))", "TRUE"},
      {"(free-object ?made)", "TRUE"},
      {"(create-object (get-class TSealed))",
       "raises: create-object error: Cannot create an instance of TSealed"},
      {"(create-object ?noclass)", "raises: create-object error: Cannot create an instance of nil"},
  });
  // A component class makes a component without owner.
  const Ref<IIEValue> part = Engine().ParseNExecuteFunCall("(create-object (get-class TGadget))");
  auto* gadget = dynamic_cast<TGadget*>(part->AsObject());
  ASSERT_NE(gadget, nullptr);
  EXPECT_EQ(gadget->Owner(), nullptr);
  FreeObject(gadget);
}

// Values still holding a freed object read as holding none; under
// AddressSanitizer this also shows that nothing reads the freed memory.
TEST_F(ObjectPackageTest, FreedObjectsReadAsNoneWhereverTheyWereHeld) {
  TGadget& doomed = Named<TGadget>(*form_, "Doomed");
  Bind("doomed", &doomed);
  gadget_->partner = TWeakObject<TGadget>(&doomed);
  ExpectOutcomes({
      {"(set-property ?doomed Count 5)", "TRUE"},
      {"(free-object ?doomed)", "TRUE"},
      {"(get-component Doomed)", "FALSE"},
      {"(get-property ?doomed Count)", ""},
      {"(set-property ?doomed Count 1)", "FALSE"},
      {"(get-properties ?doomed)", ""},
      {"(is-class ?doomed (get-class TGadget))", "FALSE"},
      {"(execute-action ?doomed)", "FALSE"},
      {"(get-property ?g Partner)", ""},
      {"(free-object ?doomed)", "TRUE"},  // nothing left to free
      {"(free-object ?nothing ?nothing)", "TRUE"},
      {"(free-object)", "raises: Too few arguments for free-object"},
      {"(free-object 5)", "raises: Not a object type.  Value (5) is a dtInteger type"},
  });
  EXPECT_EQ(Engine().RootContext().GetVariable("doomed")->ToString(), "");
}

TEST_F(ObjectPackageTest, TheEngineItsOwnersAndItsPartsAreNotFreed) {
  Bind("engine", engine_);
  Bind("package", &Engine().Component(0));
  Bind("knob", panel_->FindComponent("Knob"));
  ExpectOutcomes({
      {"(free-object ?engine)",
       "raises: Cannot free Engine: the engine running the call depends on it"},
      {"(free-object ?form)",
       "raises: Cannot free MainForm: the engine running the call depends on it"},
      {"(free-object ?package)",
       "raises: Cannot free TStandardPackage: the engine running the call depends on it"},
      {"(free-object ?knob ?form)",
       "raises: Cannot free MainForm: the engine running the call depends on it"},
      {"(get-component ?panel Knob)", "FALSE"},  // freed before ?form was refused
      {"(free-object ?panel)", "TRUE"},          // a sibling of the engine is no part of it
  });
  EXPECT_EQ(form_->FindComponent("Panel"), nullptr);
}

}  // namespace
}  // namespace zephro

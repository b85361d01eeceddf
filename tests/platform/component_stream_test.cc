#include "zephro/platform/component_stream.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/component.h"
#include "zephro/platform/enum_set.h"
#include "zephro/platform/errors.h"
#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

enum class TTint : std::uint8_t { tiRed, tiGreen, tiBlue };
constexpr const char* kTintNames[] = {"tiRed", "tiGreen", "tiBlue"};
using TTints = EnumSet<TTint>;

// The components told Loaded(), by name, in order.
std::vector<std::string> loaded_journal;

// A part its widget owns: a published property and a custom list.
class TPanelSettings : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TPanelSettings, TPersistent)

  std::int32_t margin = 0;
  std::vector<std::string> notes;

  void DefineProperties(TFiler& filer) override {
    TPersistent::DefineProperties(filer);
    filer.DefineProperty(
        "Notes", [this](TReader& reader) { notes = reader.ReadStrings(); },
        [this](TWriter& writer) { writer.WriteStrings(notes); }, !notes.empty());
  }
};

class TWidget;

// A persistent that refers to a component; stored whole by WritePersistent.
class TKnob : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TKnob, TPersistent)

  double turn = 0;
  TWidget* target = nullptr;
};

// A component with a published property of every kind, a part and custom
// properties: a list of strings and a persistent object of any class.
class TWidget : public TComponent {
  ZEPHRO_DECLARE_CLASS(TWidget, TComponent)

  explicit TWidget(TComponent* owner, std::string name = "") : TComponent(owner) {
    SetName(std::move(name));
  }

  std::int32_t Count() const { return count_; }
  void SetCount(std::int32_t count) {
    count_ = count;
    count_set_while_loading = ComponentState().Contains(TComponentStateFlag::csLoading);
  }
  TWidget* Partner() const { return partner_; }
  void SetPartner(TWidget* partner) {
    if (partner == this) {
      RaisePlatformError("A widget cannot partner itself");
    }
    partner_ = partner;
  }
  TPanelSettings* Settings() const { return settings_.get(); }

  std::int64_t big = 0;
  double ratio = 0;
  std::string caption;
  bool enabled = false;
  TTint tint = TTint::tiRed;
  TTints tints;
  TWidget* buddy = nullptr;
  std::string serial = "W-1";
  std::function<void()> OnClick;

  std::vector<std::string> lines;
  std::unique_ptr<TPersistent> extra;
  int loaded_calls = 0;
  bool count_set_while_loading = false;

  void DefineProperties(TFiler& filer) override {
    TComponent::DefineProperties(filer);
    filer.DefineProperty(
        "Lines", [this](TReader& reader) { lines = reader.ReadStrings(); },
        [this](TWriter& writer) { writer.WriteStrings(lines); }, !lines.empty());
    filer.DefineProperty(
        "Extra", [this](TReader& reader) { extra = ReadPersistent(reader); },
        [this](TWriter& writer) { WritePersistent(writer, *extra); }, extra != nullptr);
  }

  void Loaded() override {
    TComponent::Loaded();
    ++loaded_calls;
    loaded_journal.push_back(Name());
  }

 private:
  std::int32_t count_ = 0;
  TWidget* partner_ = nullptr;
  std::unique_ptr<TPanelSettings> settings_ = std::make_unique<TPanelSettings>();
};

class TGadget : public TComponent {
  ZEPHRO_DECLARE_CLASS(TGadget, TComponent)
  explicit TGadget(TComponent* owner) : TComponent(owner) {}
  std::int32_t size = 0;
};

// Makes parts of its own in its constructor, as an engine makes its packages: an
// unnamed gadget and a widget called Motor.
class TMachine : public TComponent {
  ZEPHRO_DECLARE_CLASS(TMachine, TComponent)
  explicit TMachine(TComponent* owner) : TComponent(owner) {
    MakeOwned<TGadget>(*this);
    MakeOwned<TWidget>(*this, "Motor");
  }
};

// A custom property whose reader and writer a test supplies.
class TOddity : public TComponent {
  ZEPHRO_DECLARE_CLASS(TOddity, TComponent)
  explicit TOddity(TComponent* owner) : TComponent(owner) {}
  TFiler::TReaderProc read;
  TFiler::TWriterProc write;
  void DefineProperties(TFiler& filer) override { filer.DefineProperty("Odd", read, write, true); }
};

ZEPHRO_DEFINE_CLASS(TPanelSettings)
    .Property("Margin", &TPanelSettings::margin, &TPanelSettings::margin);
ZEPHRO_DEFINE_CLASS(TKnob)
    .Property("Turn", &TKnob::turn, &TKnob::turn)
    .Property("Target", &TKnob::target, &TKnob::target);
ZEPHRO_DEFINE_CLASS(TWidget)
    .Property("Count", &TWidget::Count, &TWidget::SetCount)
    .Property("Big", &TWidget::big, &TWidget::big)
    .Property("Ratio", &TWidget::ratio, &TWidget::ratio)
    .Property("Caption", &TWidget::caption, &TWidget::caption)
    .Property("Enabled", &TWidget::enabled, &TWidget::enabled)
    .Property("Tint", &TWidget::tint, &TWidget::tint, kTintNames)
    .Property("Tints", &TWidget::tints, &TWidget::tints, kTintNames)
    .Property("Buddy", &TWidget::buddy, &TWidget::buddy)
    .Property("Partner", &TWidget::Partner, &TWidget::SetPartner)
    .Property("Serial", &TWidget::serial)
    .Event("OnClick", &TWidget::OnClick)
    .Property("Settings", &TWidget::Settings);
ZEPHRO_DEFINE_CLASS(TGadget).Property("Size", &TGadget::size, &TGadget::size);
ZEPHRO_DEFINE_CLASS(TMachine);
ZEPHRO_DEFINE_CLASS(TOddity);

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

std::unique_ptr<TComponent> FromText(const std::string& text) {
  std::istringstream in(text);
  return ReadNewComponent(in);
}

void ReadText(const std::string& text, TComponent& root) {
  std::istringstream in(text);
  ReadComponent(in, root);
}

template <class T>
T& As(TComponent& component) {
  T* result = dynamic_cast<T*>(&component);
  EXPECT_NE(result, nullptr) << component.ClassName();
  return *result;
}

// The value written for `property` on the root object's own line of it.
std::string WrittenValue(const std::string& text, const std::string& property) {
  const std::string key = "\n  " + property + " = ";
  const std::size_t at = text.find(key);
  if (at == std::string::npos) {
    return "(not written)";
  }
  const std::size_t start = at + key.size();
  return text.substr(start, text.find('\n', start) - start);
}

TEST(ComponentStreamTest, WritesTheDocumentedText) {
  TWidget root(nullptr, "Root");
  root.SetCount(3);
  root.big = -5;
  root.ratio = 0.1;
  root.caption = "it's\n";
  root.enabled = true;
  root.tint = TTint::tiBlue;
  root.tints = {TTint::tiRed, TTint::tiBlue};
  root.Settings()->margin = 2;
  root.Settings()->notes = {"n1"};
  root.lines = {"(a 1)", "(b \"x\")"};
  root.OnClick = [] {};
  TWidget& kid = MakeOwned<TWidget>(root, "Kid");
  root.buddy = &kid;

  EXPECT_EQ(ComponentToText(root),
            "zephro-stream 1\n"
            "object Root: TWidget\n"
            "  Count = 3\n"
            "  Big = -5\n"
            "  Ratio = 0.1\n"
            "  Caption = 'it''s'#10\n"
            "  Enabled = True\n"
            "  Tint = tiBlue\n"
            "  Tints = [tiRed, tiBlue]\n"
            "  Buddy = Kid\n"
            "  Partner = nil\n"
            "  Settings.Margin = 2\n"
            "  Settings.Notes = (\n"
            "    'n1'\n"
            "  )\n"
            "  Lines = (\n"
            "    '(a 1)'\n"
            "    '(b \"x\")'\n"
            "  )\n"
            "  object Kid: TWidget\n"
            "    Count = 0\n"
            "    Big = 0\n"
            "    Ratio = 0.0\n"
            "    Caption = ''\n"
            "    Enabled = False\n"
            "    Tint = tiRed\n"
            "    Tints = []\n"
            "    Buddy = nil\n"
            "    Partner = nil\n"
            "    Settings.Margin = 0\n"
            "  end\n"
            "end\n");
  std::ostringstream out;
  WriteComponent(out, root);
  EXPECT_EQ(out.str(), ComponentToText(root));
}

TEST(ComponentStreamTest, QuotesStringBytesAndWritesShortestFloats) {
  struct StringCase {
    std::string value;
    const char* written;
  };
  const StringCase strings[] = {
      {"", "''"},
      {"plain text", "'plain text'"},
      {"''", "''''''"},
      {std::string("\0", 1), "#0"},
      {std::string("a\0b", 3), "'a'#0'b'"},
      {"\r\n\t", "#13#10#9"},
      {"#1 'x'", "'#1 ''x'''"},
      {"\x7f", "#127"},
      {"caf\xc3\xa9", "'caf\xc3\xa9'"},            // é, valid UTF-8: as it is
      {"\xf0\x9f\x99\x82", "'\xf0\x9f\x99\x82'"},  // a 4-byte character
      {"\xc2\x85", "#194#133"},                    // a C1 control
      {"\xff\xfe", "#255#254"},                    // not UTF-8
      {"\xc3", "#195"},                            // cut short
      {"\xc0\xaf", "#192#175"},                    // overlong
      {"\xed\xa0\x80", "#237#160#128"},            // a surrogate
      {"\xe2\x82\xac!\xe2\x82", "'\xe2\x82\xac!'#226#130"},
  };
  for (const StringCase& c : strings) {
    SCOPED_TRACE(c.written);
    TWidget widget(nullptr, "W");
    widget.caption = c.value;
    const std::string text = ComponentToText(widget);
    EXPECT_EQ(WrittenValue(text, "Caption"), c.written);
    EXPECT_EQ(As<TWidget>(*FromText(text)).caption, c.value);
  }

  struct FloatCase {
    double value;
    const char* written;
  };
  const FloatCase floats[] = {
      {0.1, "0.1"},
      {1.0, "1.0"},
      {-2.5, "-2.5"},
      {123456.0, "123456.0"},
      {1e21, "1e+21"},
      {1e-300, "1e-300"},
      {5e-324, "5e-324"},
      {0.30000000000000004, "0.30000000000000004"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {-0.0, "-0.0"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const FloatCase& c : floats) {
    SCOPED_TRACE(c.written);
    TWidget widget(nullptr, "W");
    widget.ratio = c.value;
    const std::string text = ComponentToText(widget);
    EXPECT_EQ(WrittenValue(text, "Ratio"), c.written);
    const double read = As<TWidget>(*FromText(text)).ratio;
    EXPECT_EQ(read, c.value);
    EXPECT_EQ(std::signbit(read), std::signbit(c.value));
  }
  TWidget widget(nullptr, "W");
  widget.ratio = std::numeric_limits<double>::quiet_NaN();
  const std::string text = ComponentToText(widget);
  EXPECT_EQ(WrittenValue(text, "Ratio"), "nan");
  EXPECT_TRUE(std::isnan(As<TWidget>(*FromText(text)).ratio));
}

// Hand-written streams: what the reader accepts beyond what the writer writes.
TEST(ComponentStreamTest, ReadsEveryValueForm) {
  const std::string text =
      "zephro-stream 1\r\n"
      "object 'odd name': TWidget\r\n"
      "\tcount=-7 ratio = 4\n"
      "  Caption = 'a'#10'b'#0''\n"
      "  Tint = 1  Tints = [ tiGreen , tiRed ]\n"
      "  Enabled = true\n"
      "  Settings . Margin = 9\n"
      "  Buddy = 'odd name'\n"
      "  Extra = object TKnob Turn = nan Target = 'odd name' end\n"
      "end\n";
  std::unique_ptr<TComponent> root = FromText(text);
  auto& widget = As<TWidget>(*root);
  EXPECT_EQ(widget.Name(), "odd name");
  EXPECT_EQ(widget.Count(), -7);
  EXPECT_EQ(widget.ratio, 4.0);
  EXPECT_EQ(widget.caption, std::string("a\nb\0", 4));
  EXPECT_EQ(widget.tint, TTint::tiGreen);
  EXPECT_EQ(widget.tints, (TTints{TTint::tiRed, TTint::tiGreen}));
  EXPECT_TRUE(widget.enabled);
  EXPECT_EQ(widget.Settings()->margin, 9);
  EXPECT_EQ(widget.buddy, &widget);
  auto* knob = dynamic_cast<TKnob*>(widget.extra.get());
  ASSERT_NE(knob, nullptr);
  EXPECT_TRUE(std::isnan(knob->turn));
  EXPECT_EQ(knob->target, &widget);
  // Names that are not identifiers, or are value keywords, are written quoted.
  const std::string written = ComponentToText(widget);
  EXPECT_THAT(written, HasSubstr("object 'odd name': TWidget\n"));
  EXPECT_THAT(written, HasSubstr("  Buddy = 'odd name'\n"));
  widget.SetName("nil");
  EXPECT_THAT(ComponentToText(widget), HasSubstr("  Buddy = 'nil'\n"));
}

// Fills a widget's values from a row of the round-trip table.
struct WidgetValues {
  std::int32_t count;
  std::int64_t big;
  double ratio;
  std::string caption;
  bool enabled;
  TTint tint;
  TTints tints;
  std::vector<std::string> lines;
  std::int32_t margin;
  std::vector<std::string> notes;

  void Apply(TWidget& widget) const {
    widget.SetCount(count);
    widget.big = big;
    widget.ratio = ratio;
    widget.caption = caption;
    widget.enabled = enabled;
    widget.tint = tint;
    widget.tints = tints;
    widget.lines = lines;
    widget.Settings()->margin = margin;
    widget.Settings()->notes = notes;
  }

  void ExpectIn(const TWidget& widget) const {
    EXPECT_EQ(widget.Count(), count);
    EXPECT_EQ(widget.big, big);
    EXPECT_EQ(widget.ratio, ratio);
    EXPECT_EQ(widget.caption, caption);
    EXPECT_EQ(widget.enabled, enabled);
    EXPECT_EQ(widget.tint, tint);
    EXPECT_EQ(widget.tints, tints);
    EXPECT_EQ(widget.lines, lines);
    EXPECT_EQ(widget.Settings()->margin, margin);
    EXPECT_EQ(widget.Settings()->notes, notes);
  }
};

TEST(ComponentStreamTest, RoundTripKeepsEveryValue) {
  const WidgetValues rows[] = {
      {.count = 0,
       .big = 0,
       .ratio = 0,
       .caption = "",
       .enabled = false,
       .tint = TTint::tiRed,
       .tints = {},
       .lines = {},
       .margin = 0,
       .notes = {}},
      {.count = std::numeric_limits<std::int32_t>::min(),
       .big = std::numeric_limits<std::int64_t>::min(),
       .ratio = 1e-300,
       .caption = std::string("quote ' NUL \0 LF \n CR \r end", 27),
       .enabled = true,
       .tint = TTint::tiBlue,
       .tints = {TTint::tiRed, TTint::tiGreen, TTint::tiBlue},
       .lines = {"(a 1)", "", "'", std::string(1, '\0'), "\xff\x80 \xe2\x82\xac"},
       .margin = -1,
       .notes = {"one", "two\nlines"}},
      {.count = std::numeric_limits<std::int32_t>::max(),
       .big = std::numeric_limits<std::int64_t>::max(),
       .ratio = -0.1,
       .caption = std::string(5000, 'x') + "\xc3\xa9",
       .enabled = false,
       .tint = TTint::tiGreen,
       .tints = {TTint::tiGreen},
       .lines = {std::string(300, '\'')},
       .margin = 7,
       .notes = {}},
  };
  for (const WidgetValues& row : rows) {
    SCOPED_TRACE(row.count);
    TWidget widget(nullptr, "Subject");
    row.Apply(widget);
    const std::string text = ComponentToText(widget);
    std::unique_ptr<TComponent> copy = FromText(text);
    row.ExpectIn(As<TWidget>(*copy));
    EXPECT_EQ(copy->Name(), "Subject");
    EXPECT_EQ(ComponentToText(*copy), text);
    // And into an existing widget, which keeps its identity.
    TWidget existing(nullptr, "Other");
    ReadText(text, existing);
    row.ExpectIn(existing);
    EXPECT_EQ(existing.Name(), "Subject");
  }
}

TEST(ComponentStreamTest, OwnedComponentsNestAndReferToEachOther) {
  TWidget root(nullptr, "Root");
  TWidget& a = MakeOwned<TWidget>(root, "A");
  TGadget& b = MakeOwned<TGadget>(a);  // unnamed
  b.size = 4;
  TWidget& c = MakeOwned<TWidget>(a, "C");
  TWidget& d = MakeOwned<TWidget>(c, "D");
  d.caption = "deep";
  root.buddy = &d;  // forward: D is read after Root
  d.buddy = &root;
  c.SetPartner(&a);
  a.buddy = &a;
  const std::string text = ComponentToText(root);

  loaded_journal.clear();
  std::unique_ptr<TComponent> copy = FromText(text);
  auto& root2 = As<TWidget>(*copy);
  ASSERT_EQ(root2.ComponentCount(), 1);
  auto& a2 = As<TWidget>(root2.Component(0));
  ASSERT_EQ(a2.ComponentCount(), 2);
  EXPECT_EQ(As<TGadget>(a2.Component(0)).size, 4);
  EXPECT_EQ(a2.Component(0).Name(), "");
  auto& c2 = As<TWidget>(a2.Component(1));
  ASSERT_EQ(c2.ComponentCount(), 1);
  auto& d2 = As<TWidget>(c2.Component(0));
  EXPECT_EQ(d2.Name(), "D");
  EXPECT_EQ(d2.caption, "deep");
  EXPECT_EQ(root2.buddy, &d2);
  EXPECT_EQ(d2.buddy, &root2);
  EXPECT_EQ(c2.Partner(), &a2);
  EXPECT_EQ(a2.buddy, &a2);
  EXPECT_EQ(ComponentToText(root2), text);
  // Loaded once each, in reading order, after the references were set.
  EXPECT_THAT(loaded_journal, ElementsAre("Root", "A", "C", "D"));
  for (const TWidget* w : {&root2, &a2, &c2, &d2}) {
    EXPECT_EQ(w->loaded_calls, 1) << w->Name();
    EXPECT_FALSE(w->ComponentState().Contains(TComponentStateFlag::csLoading));
  }
}

TEST(ComponentStreamTest, LoadingSetsCsLoadingBeforeTheProperties) {
  std::unique_ptr<TComponent> copy =
      FromText("zephro-stream 1\nobject W: TWidget\n  Count = 2\nend\n");
  auto& widget = As<TWidget>(*copy);
  EXPECT_TRUE(widget.count_set_while_loading);
  EXPECT_FALSE(widget.ComponentState().Contains(TComponentStateFlag::csLoading));
}

TEST(ComponentStreamTest, LoadsIntoComponentsTheOwnerAlreadyHas) {
  TMachine source(nullptr);
  source.SetName("M");
  As<TGadget>(source.Component(0)).size = 11;
  As<TWidget>(source.Component(1)).caption = "motor";
  TWidget& added = MakeOwned<TWidget>(source, "Added");
  added.buddy = &As<TWidget>(source.Component(1));
  const std::string text = ComponentToText(source);

  // A new machine makes its gadget and motor itself: the stream fills them.
  std::unique_ptr<TComponent> copy = FromText(text);
  ASSERT_EQ(copy->ComponentCount(), 3);
  EXPECT_EQ(As<TGadget>(copy->Component(0)).size, 11);
  EXPECT_EQ(As<TWidget>(copy->Component(1)).caption, "motor");
  EXPECT_EQ(As<TWidget>(copy->Component(2)).buddy, &copy->Component(1));

  // An existing machine keeps its components; Added is made once.
  TMachine target(nullptr);
  TComponent* gadget = &target.Component(0);
  TComponent* motor = &target.Component(1);
  ReadText(text, target);
  ASSERT_EQ(target.ComponentCount(), 3);
  EXPECT_EQ(&target.Component(0), gadget);
  EXPECT_EQ(&target.Component(1), motor);
  EXPECT_EQ(As<TGadget>(*gadget).size, 11);
  EXPECT_EQ(As<TWidget>(*motor).caption, "motor");
  EXPECT_EQ(target.Name(), "M");
  ReadText(text, target);
  EXPECT_EQ(target.ComponentCount(), 3);

  // The owner of a new root.
  TWidget owner(nullptr, "Owner");
  std::istringstream in(text);
  TComponent& owned = ReadNewComponent(in, owner);
  EXPECT_EQ(owned.Owner(), &owner);
  EXPECT_EQ(owner.FindComponent("M"), &owned);
  EXPECT_EQ(owned.ComponentCount(), 3);
}

TEST(ComponentStreamTest, PersistentObjectsRoundTripInsideAStream) {
  TWidget root(nullptr, "Root");
  TWidget& kid = MakeOwned<TWidget>(root, "Kid");
  auto settings = std::make_unique<TPanelSettings>();
  settings->margin = 12;
  settings->notes = {"x", "y"};
  root.extra = std::move(settings);
  auto knob = std::make_unique<TKnob>();
  knob->turn = 0.25;
  knob->target = &root;  // read before the knob: resolved at once
  kid.extra = std::move(knob);
  const std::string text = ComponentToText(root);
  EXPECT_THAT(text, HasSubstr("  Extra = object TPanelSettings\n"
                              "    Margin = 12\n"
                              "    Notes = (\n"
                              "      'x'\n"
                              "      'y'\n"
                              "    )\n"
                              "  end\n"));

  std::unique_ptr<TComponent> copy = FromText(text);
  auto& root2 = As<TWidget>(*copy);
  auto* settings2 = dynamic_cast<TPanelSettings*>(root2.extra.get());
  ASSERT_NE(settings2, nullptr);
  EXPECT_EQ(settings2->margin, 12);
  EXPECT_THAT(settings2->notes, ElementsAre("x", "y"));
  auto* knob2 = dynamic_cast<TKnob*>(As<TWidget>(root2.Component(0)).extra.get());
  ASSERT_NE(knob2, nullptr);
  EXPECT_EQ(knob2->turn, 0.25);
  EXPECT_EQ(knob2->target, &root2);
  EXPECT_EQ(ComponentToText(root2), text);

  // The knob is read before Kid, so it cannot refer to Kid.
  auto early = std::make_unique<TKnob>();
  early->target = &kid;
  root.extra = std::move(early);
  EXPECT_THAT([&] { ComponentToText(root); },
              ThrowsMessage<EBaseException>(
                  StrEq("Property Target of an object value refers to Kid, which the stream holds "
                        "later")));
}

TEST(ComponentStreamTest, PersistentComponentsReadBackWithoutAnOwner) {
  TWidget root(nullptr, "Root");
  auto inner = std::make_unique<TWidget>(nullptr, "Inner");
  inner->SetCount(5);
  inner->caption = "held";
  inner->lines = {"l1"};
  root.extra = std::move(inner);
  const std::string text = ComponentToText(root);
  // The class name first, then the object's properties, custom ones included.
  EXPECT_THAT(text, HasSubstr("  Extra = object TWidget\n    Count = 5\n"));
  EXPECT_THAT(text, HasSubstr("    Lines = (\n      'l1'\n    )\n  end\n"));

  loaded_journal.clear();
  std::unique_ptr<TComponent> copy = FromText(text);
  auto* read = dynamic_cast<TWidget*>(As<TWidget>(*copy).extra.get());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Owner(), nullptr);
  EXPECT_EQ(copy->ComponentCount(), 0);  // not owned by the component it is stored in
  EXPECT_EQ(read->Count(), 5);
  EXPECT_EQ(read->caption, "held");
  EXPECT_THAT(read->lines, ElementsAre("l1"));
  // Loading around its properties, Loaded once, before the outer component's.
  EXPECT_TRUE(read->count_set_while_loading);
  EXPECT_FALSE(read->ComponentState().Contains(TComponentStateFlag::csLoading));
  EXPECT_EQ(read->loaded_calls, 1);
  ASSERT_EQ(loaded_journal.size(), 2u);
  EXPECT_EQ(loaded_journal.back(), "Root");
}

TEST(ComponentStreamTest, PersistentObjectsGoInLists) {
  TOddity oddity(nullptr);
  oddity.SetName("O");
  std::vector<std::unique_ptr<TPersistent>> items;
  oddity.write = [](TWriter& writer) {
    writer.WriteListBegin();
    TKnob knob;
    knob.turn = 1.5;
    WritePersistent(writer, knob);
    WritePersistent(writer, TPanelSettings());
    writer.WriteListEnd();
  };
  oddity.read = [&](TReader& reader) {
    reader.ReadListBegin();
    while (!reader.EndOfList()) {
      EXPECT_EQ(reader.NextValueKind(), TValueKind::vaObject);
      items.push_back(ReadPersistent(reader));
    }
    reader.ReadListEnd();
  };
  const std::string text = ComponentToText(oddity);
  EXPECT_EQ(text,
            "zephro-stream 1\n"
            "object O: TOddity\n"
            "  Odd = (\n"
            "    object TKnob\n"
            "      Turn = 1.5\n"
            "      Target = nil\n"
            "    end\n"
            "    object TPanelSettings\n"
            "      Margin = 0\n"
            "    end\n"
            "  )\n"
            "end\n");
  ReadText(text, oddity);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(dynamic_cast<TKnob&>(*items[0]).turn, 1.5);
  EXPECT_NE(dynamic_cast<TPanelSettings*>(items[1].get()), nullptr);
}

TEST(ComponentStreamTest, CustomReadersSeeEachValueKind) {
  TOddity oddity(nullptr);
  std::vector<TValueKind> kinds;
  oddity.read = [&](TReader& reader) {
    reader.ReadListBegin();
    while (!reader.EndOfList()) {
      const TValueKind kind = reader.NextValueKind();
      kinds.push_back(kind);
      switch (kind) {
        case TValueKind::vaInteger:
          EXPECT_EQ(reader.ReadInteger(), -3);
          break;
        case TValueKind::vaFloat:
          EXPECT_EQ(reader.ReadFloat(), 2.5);
          break;
        case TValueKind::vaString:
          EXPECT_EQ(reader.ReadString(), "s");
          break;
        case TValueKind::vaIdent:
          EXPECT_TRUE(reader.ReadBoolean());
          break;
        case TValueKind::vaList:
          reader.ReadListBegin();
          EXPECT_EQ(reader.ReadIdent(), "word");
          reader.ReadListEnd();
          break;
        default:
          ADD_FAILURE() << "unexpected kind";
          return;
      }
    }
    reader.ReadListEnd();
  };
  ReadText("zephro-stream 1\nobject O: TOddity\n  Odd = (-3 2.5 's' TRUE (word))\nend\n", oddity);
  EXPECT_THAT(kinds, ElementsAre(TValueKind::vaInteger, TValueKind::vaFloat, TValueKind::vaString,
                                 TValueKind::vaIdent, TValueKind::vaList));
}

// Each row is read into an existing root that owns a widget called Existing
// (with a gadget G1 beside it); the read must fail on the line given, with the
// message given, and leave the tree as it was.
TEST(ComponentStreamTest, MalformedStreamsRaiseWithTheirLine) {
  struct Case {
    std::string text;
    int line;
    const char* message;         // without the line
    bool new_root_fails = true;  // read into a new root, the text is an error too
  };
  const std::string head = "zephro-stream 1\nobject Root: TWidget\n";
  std::string deep = head;
  for (int i = 0; i < 300; ++i) {
    deep += "object N" + std::to_string(i) + ": TWidget\n";
  }
  const Case cases[] = {
      {"", 1, "Not a component stream: the first line is not zephro-stream 1"},
      {"object Root: TWidget\nend\n", 1,
       "Not a component stream: the first line is not zephro-stream 1"},
      {"zephro-streaming 1\n", 1, "Not a component stream: the first line is not zephro-stream 1"},
      {"zephro-stream 2\nobject Root: TWidget\nend\n", 1,
       "Stream version 2 is not supported (this reader reads 1)"},
      {"zephro-stream\n", 1, "The stream header has no version"},
      {"zephro-stream 1", 1, "The stream ends after its header"},
      {"zephro-stream 1\nobject Root: TGadget\nend\n", 2, "Cannot read a TGadget into a TWidget",
       false},
      {"zephro-stream 1\nobject Root: TNoSuch\nend\n", 2, "Class TNoSuch is not registered"},
      {"zephro-stream 1\nthing Root: TWidget\nend\n", 2, "Expected object, found thing"},
      {"zephro-stream 1\nobject 'Root' TWidget\nend\n", 2, "Expected : after the component name"},
      {head, 3, "Expected a property, object or end, found the end of the stream"},
      {head + "  Count = 1\n", 4,
       "Expected a property, object or end, found the end of the stream"},
      {head + "end\nend\n", 4, "Text after the end of the stream: end"},
      {head + "  Colour = 1\nend\n", 3, "Unknown property Colour of TWidget"},
      {head + "  Settings.Colour = 1\nend\n", 3, "Unknown property Settings.Colour of TWidget"},
      {head + "  Count.Low = 1\nend\n", 3, "Property Count holds no part to read into"},
      {head + "  Count 1\nend\n", 3, "Expected =, found 1"},
      {head + "  Count = 'x'\nend\n", 3, "Property Count expects an integer, not a string"},
      {head + "  Count = 1.5\nend\n", 3, "Property Count expects an integer, not a float"},
      {head + "  Count = \nend\n", 4, "Property Count expects an integer, not an identifier"},
      {head + "  Count = )\nend\n", 3, "Expected a value, found )"},
      {head + "  Count = 99999999999\nend\n", 3,
       "Value 99999999999 is out of range for property Count"},
      {head + "  Big = 9223372036854775808\nend\n", 3, "Number out of range: 9223372036854775808"},
      {head + "  Ratio = 1e999\nend\n", 3, "Number out of range: 1e999"},
      {head + "  Count = 12ab\nend\n", 3, "Malformed number 12a"},
      {head + "  Ratio = 1.\nend\n", 3, "Malformed number 1."},
      {head + "  Ratio = -infinity\nend\n", 3, "Malformed number -infinity"},
      {head + "  Count = @\nend\n", 3, "Unexpected character '@'"},
      {head + "  Count = 1\n\x01\nend\n", 4, "Unexpected character #1"},
      {head + "  Caption = 'abc\nend\n", 3, "Unterminated string"},
      {head + "  Caption = 'abc", 3, "Unterminated string"},
      {head + "  Caption = #256\nend\n", 3, "Character code #256 is not a byte"},
      {head + "  Caption = 'a'#\nend\n", 3, "Expected a character code after #"},
      {head + "  Tint = tiPink\nend\n", 3, "Property Tint has no element tiPink"},
      {head + "  Tint = 3\nend\n", 3, "Value 3 is out of range for property Tint"},
      {head + "  Tints = [tiRed tiBlue]\nend\n", 3, "Expected , or ] in a set, found tiBlue"},
      {head + "  Tints = [tiRed, 1]\nend\n", 3, "Expected a set element, found 1"},
      {head + "  Tints = tiRed\nend\n", 3, "Property Tints expects a set, not an identifier"},
      {head + "  Enabled = Maybe\nend\n", 3, "Property Enabled has no element Maybe"},
      {head + "  Serial = 'S'\nend\n", 3, "Property Serial is read-only"},
      {head + "  OnClick = Root\nend\n", 3,
       "Property OnClick is an event, which streams do not hold"},
      {head + "  Buddy = 5\nend\n", 3,
       "Property Buddy expects a component name or nil, not an integer"},
      {head + "  Buddy = Nobody\nend\n", 3,
       "Property Buddy refers to Nobody, which is not in the stream"},
      {head + "  Buddy = G1\nend\n", 3, "Property Buddy cannot refer to G1, a TGadget"},
      {head + "  Lines = 5\nend\n", 3, "Expected a list, found an integer"},
      {head + "  Lines = (\n    'a'\n    5\n  )\nend\n", 5, "Expected a string, found an integer"},
      {head + "  Lines = (\n    'a'\nend\n", 5, "Expected a string, found an identifier"},
      {head + "  Lines = (\n    'a'\n", 5, "Expected a value, found the end of the stream"},
      {head + "  Extra = object TNoSuch\n  end\nend\n", 3, "Class TNoSuch is not registered"},
      {head + "  Extra = object TObject\n  end\nend\n", 3, "TObject is not a persistent class"},
      {head + "  Extra = object TKnob\n    Turn = 'x'\n  end\nend\n", 4,
       "Property Turn expects a number, not a string"},
      {head + "  Extra = object TKnob\n    Target = Later\n  end\nend\n", 4,
       "Property Target refers to Later, which is not in the stream"},
      {head + "  Extra = object TWidget\n    object X: TWidget\n    end\n  end\nend\n", 4,
       "An object value holds no components"},
      {head + "  object Existing: TGadget\n  end\nend\n", 3,
       "Component Existing is a TWidget, not a TGadget", false},
      {head + "  object Fresh: TWidget\n  end\n  object Fresh: TWidget\n  end\nend\n", 5,
       "Component Fresh is read twice"},
      {head + "  object Fresh: TNoSuch\n  end\nend\n", 3, "Class TNoSuch is not registered"},
      {head + "  object Fresh: TPanelSettings\n  end\nend\n", 3,
       "TPanelSettings is not a component class"},
      {head + "  object Fresh: TWidget\n    Count = x\n  end\nend\n", 4,
       "Property Count expects an integer, not an identifier"},
      // The new child and the reference to it are given up when a later
      // reference cannot be set.
      {head + "  Buddy = Fresh\n  object Fresh: TWidget\n    Partner = Fresh\n  end\nend\n", 5,
       "A widget cannot partner itself"},
      {deep, 258, "Nesting deeper than 256 levels"},
      {head + "  " + std::string(300, 'a') + " = 1\nend\n", 3, "Identifier longer than 255 bytes"},
      {head + "  Count = " + std::string(2000, '1') + "\nend\n", 3,
       "Number longer than 1024 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 200));
    TWidget root(nullptr, "Root");
    TWidget& existing = MakeOwned<TWidget>(root, "Existing");
    MakeOwned<TGadget>(root).SetName("G1");
    const std::string message = std::string(c.message) + " (line " + std::to_string(c.line) + ")";
    try {
      ReadText(c.text, root);
      ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), message);
      EXPECT_EQ(e.LineNumber(), c.line);
    }
    EXPECT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(&root.Component(0), &existing);
    EXPECT_EQ(root.buddy, nullptr);
    EXPECT_FALSE(root.ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_FALSE(existing.ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_EQ(root.loaded_calls, 0);
    // A new root is freed (the sanitizer build sees any leak).
    if (!c.new_root_fails) {
      continue;
    }
    EXPECT_THROW(FromText(c.text), EReadError);
    std::istringstream in(c.text);
    EXPECT_THROW(ReadNewComponent(in, root), EReadError);
    EXPECT_EQ(root.ComponentCount(), 2);
  }
}

TEST(ComponentStreamTest, ErrorsFromOutsideTheReaderAreNested) {
  TWidget root(nullptr, "Root");
  try {
    ReadText("zephro-stream 1\nobject Root: TWidget\n  Tint = tiPink\nend\n", root);
    FAIL() << "no error";
  } catch (const EReadError& e) {
    try {
      std::rethrow_if_nested(e);
      FAIL() << "not nested";
    } catch (const EReadError&) {
      FAIL() << "nested a read error";
    } catch (const EBaseException& inner) {
      EXPECT_EQ(inner.Message(), "Property Tint has no element tiPink");
    }
  }
}

TEST(ComponentStreamTest, AnExceptionFromLoadedComesAfterEveryLoaded) {
  class TFussy : public TWidget {
   public:
    using TWidget::TWidget;
    void Loaded() override {
      TWidget::Loaded();
      throw EBaseException("fussy");
    }
  };
  TFussy root(nullptr, "Root");
  TWidget& kid = MakeOwned<TWidget>(root, "Kid");
  loaded_journal.clear();
  EXPECT_THAT([&] { ReadText(ComponentToText(root), root); },
              ThrowsMessage<EBaseException>(StrEq("fussy")));
  EXPECT_THAT(loaded_journal, ElementsAre("Root", "Kid"));
  EXPECT_EQ(kid.loaded_calls, 1);
}

TEST(ComponentStreamTest, WriterRefusesWhatCannotBeReadBack) {
  TWidget outsider(nullptr, "Outsider");
  TWidget root(nullptr, "Root");
  TWidget& a = MakeOwned<TWidget>(root, "Same");
  TWidget& inner = MakeOwned<TWidget>(a, "Same");
  TWidget& unnamed = MakeOwned<TWidget>(root);
  struct Case {
    TWidget* target;
    const char* message;
  };
  const Case cases[] = {
      {&outsider,
       "Property Buddy refers to Outsider, which is not the first component of that name in the "
       "stream"},
      {&inner,
       "Property Buddy refers to Same, which is not the first component of that name in the "
       "stream"},
      {&unnamed, "Property Buddy refers to a component without a name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    root.buddy = c.target;
    std::ostringstream out;
    EXPECT_THAT([&] { WriteComponent(out, root); },
                ThrowsMessage<EBaseException>(StrEq(c.message)));
    EXPECT_EQ(out.str(), "");  // nothing half-written
  }
  root.buddy = &a;
  EXPECT_THAT(ComponentToText(root), HasSubstr("  Buddy = Same\n"));
  // A reader would load the second into the first.
  MakeOwned<TWidget>(root, "same");
  EXPECT_THAT([&] { ComponentToText(root); },
              ThrowsMessage<EBaseException>(StrEq("Root holds two components called same")));

  // A tree deeper than a reader takes.
  TWidget top(nullptr, "Top");
  TComponent* level = &top;
  for (int i = 0; i < kMaxStreamDepth; ++i) {
    level = &MakeOwned<TWidget>(*level);
  }
  EXPECT_THAT([&] { ComponentToText(top); },
              ThrowsMessage<EBaseException>(StrEq("Nesting deeper than 256 levels")));
}

TEST(ComponentStreamTest, CustomPropertiesMustWriteAndReadOneValue) {
  struct WriteCase {
    TFiler::TWriterProc write;
    const char* message;
  };
  const WriteCase writes[] = {
      {[](TWriter&) {}, "The writer of property Odd wrote no value"},
      {[](TWriter& w) {
         w.WriteInteger(1);
         w.WriteInteger(2);
       },
       "The writer of property Odd wrote a second value"},
      {[](TWriter& w) { w.WriteListBegin(); }, "The writer of property Odd left a list open"},
      {[](TWriter& w) { w.WriteListEnd(); }, "WriteListEnd without WriteListBegin in property Odd"},
      {[](TWriter& w) { w.WriteIdent("two words"); },
       "two words cannot be written as an identifier"},
      {[](TWriter& w) { w.WriteIdent("nil"); }, "nil cannot be written as an identifier"},
  };
  for (const WriteCase& c : writes) {
    SCOPED_TRACE(c.message);
    TOddity oddity(nullptr);
    oddity.write = c.write;
    EXPECT_THAT([&] { ComponentToText(oddity); }, ThrowsMessage<EBaseException>(StrEq(c.message)));
  }

  struct ReadCase {
    const char* value;
    TFiler::TReaderProc read;
    const char* message;
  };
  const ReadCase reads[] = {
      {"1", [](TReader&) {}, "The reader of property Odd read no value (line 3)"},
      {"1",
       [](TReader& r) {
         r.ReadFloat();
         r.ReadInteger();
       },
       "The reader of property Odd read past its value (line 3)"},
      {"(1)",
       [](TReader& r) {
         r.ReadListBegin();
         r.ReadInteger();
       },
       "The reader of property Odd left a list open (line 3)"},
      {"()",
       [](TReader& r) {
         r.ReadListBegin();
         r.ReadInteger();
       },
       "Expected an integer, found the end of the list (line 3)"},
      {"1", [](TReader& r) { r.ReadListEnd(); }, "ReadListEnd outside a list (line 3)"},
      {"Perhaps", [](TReader& r) { r.ReadBoolean(); },
       "Expected True or False, found Perhaps (line 3)"},
      {"(1 2", [](TReader& r) { r.ReadStrings(); }, "Expected a string, found an integer (line 3)"},
  };
  for (const ReadCase& c : reads) {
    SCOPED_TRACE(c.message);
    TOddity oddity(nullptr);
    oddity.read = c.read;
    const std::string text =
        std::string("zephro-stream 1\nobject O: TOddity\n  Odd = ") + c.value + "\nend\n";
    EXPECT_THAT([&] { ReadText(text, oddity); }, ThrowsMessage<EReadError>(StrEq(c.message)));
  }
}

}  // namespace
}  // namespace zephro

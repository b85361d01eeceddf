// Reads arbitrary bytes as a component stream, into a new component and into an
// existing one. A read may fail with EReadError, but it must never crash, hang or
// leak, and a failed read into an existing component must leave it as it was: the
// same components, none of them loading. A read that succeeds must round-trip:
// what it wrote reads back to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "zephro/platform/class_registry.h"
#include "zephro/platform/component.h"
#include "zephro/platform/component_stream.h"
#include "zephro/platform/enum_set.h"
#include "zephro/platform/exceptions.h"

namespace zephro {
namespace {

enum class TFuzzTint : std::uint8_t { ftRed, ftGreen, ftBlue };
constexpr const char* kFuzzTintNames[] = {"ftRed", "ftGreen", "ftBlue"};

class TFuzzPart : public TPersistent {
  ZEPHRO_DECLARE_CLASS(TFuzzPart, TPersistent)
  double level = 0;
  std::vector<std::string> notes;
  void DefineProperties(TFiler& filer) override {
    filer.DefineProperty(
        "Notes", [this](TReader& reader) { notes = reader.ReadStrings(); },
        [this](TWriter& writer) { writer.WriteStrings(notes); }, !notes.empty());
  }
};

class TFuzzWidget : public TComponent {
  ZEPHRO_DECLARE_CLASS(TFuzzWidget, TComponent)
  explicit TFuzzWidget(TComponent* owner) : TComponent(owner) {}
  TFuzzPart* Part() const { return part_.get(); }

  std::int32_t count = 0;
  std::string caption;
  bool enabled = false;
  TFuzzTint tint = TFuzzTint::ftRed;
  EnumSet<TFuzzTint> tints;
  TFuzzWidget* buddy = nullptr;
  std::unique_ptr<TPersistent> extra;

  void DefineProperties(TFiler& filer) override {
    filer.DefineProperty(
        "Extra", [this](TReader& reader) { extra = ReadPersistent(reader); },
        [this](TWriter& writer) { WritePersistent(writer, *extra); }, extra != nullptr);
  }

 private:
  std::unique_ptr<TFuzzPart> part_ = std::make_unique<TFuzzPart>();
};

ZEPHRO_DEFINE_CLASS(TFuzzPart).Property("Level", &TFuzzPart::level, &TFuzzPart::level);
ZEPHRO_DEFINE_CLASS(TFuzzWidget)
    .Property("Count", &TFuzzWidget::count, &TFuzzWidget::count)
    .Property("Caption", &TFuzzWidget::caption, &TFuzzWidget::caption)
    .Property("Enabled", &TFuzzWidget::enabled, &TFuzzWidget::enabled)
    .Property("Tint", &TFuzzWidget::tint, &TFuzzWidget::tint, kFuzzTintNames)
    .Property("Tints", &TFuzzWidget::tints, &TFuzzWidget::tints, kFuzzTintNames)
    .Property("Buddy", &TFuzzWidget::buddy, &TFuzzWidget::buddy)
    .Property("Part", &TFuzzWidget::Part);

void CheckRoundTrip(const TComponent& component) {
  std::string text;
  try {
    text = ComponentToText(component);
  } catch (const EBaseException&) {
    return;  // a tree the writer refuses (two siblings renamed alike, ...)
  }
  std::istringstream in(text);
  std::unique_ptr<TComponent> copy;
  try {
    copy = ReadNewComponent(in);
  } catch (const EBaseException&) {
    std::abort();  // what was written must read back
  }
  if (ComponentToText(*copy) != text) {
    std::abort();
  }
}

}  // namespace
}  // namespace zephro

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zephro;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    std::istringstream in(text);
    std::unique_ptr<TComponent> read = ReadNewComponent(in);
    CheckRoundTrip(*read);
  } catch (const EBaseException&) {
    // Rejected input is expected.
  }

  TFuzzWidget root(nullptr);
  root.SetName("Root");
  TFuzzWidget& child = MakeOwned<TFuzzWidget>(root);
  child.SetName("Child");
  try {
    std::istringstream in(text);
    ReadComponent(in, root);
  } catch (const EBaseException&) {
    const bool loading = root.ComponentState().Contains(TComponentStateFlag::csLoading) ||
                         child.ComponentState().Contains(TComponentStateFlag::csLoading);
    if (loading || root.ComponentCount() != 1 || &root.Component(0) != &child) {
      std::abort();
    }
  }
  return 0;
}

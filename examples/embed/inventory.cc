// Rules that look after the host's own objects. A warehouse owns its bins,
// components that publish their stock as properties; the engine sits on the
// warehouse, so rules find the bins by name, read and change their properties,
// run the host's restock action on them and free the bins of discontinued
// goods. The host then reads its objects back: the rules worked on them, not on
// copies.
//
// Build and run: it is built with the examples, and CTest checks its output.

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include "zephro/engine/inference_engine.h"
#include "zephro/platform/actions.h"
#include "zephro/platform/class_registry.h"
#include "zephro/platform/enum_set.h"
#include "zephro/platform/weak_object.h"
#include "zephro/values/exceptions.h"

namespace inventory {

using namespace zephro;

enum class TBinStatus : std::uint8_t { bsOk, bsLow, bsEmpty };
constexpr const char* kStatusNames[] = {"bsOk", "bsLow", "bsEmpty"};
enum class TBinFlag : std::uint8_t { bfFragile, bfCold, bfDiscontinued };
constexpr const char* kFlagNames[] = {"bfFragile", "bfCold", "bfDiscontinued"};
using TBinFlags = EnumSet<TBinFlag>;

// A storage bin: what it holds, and when to order more.
class TBin : public TComponent {
  ZEPHRO_DECLARE_CLASS(TBin, TComponent)
  using TComponent::TComponent;

  std::int32_t quantity = 0;
  std::int32_t reorder_level = 0;
  TBinStatus status = TBinStatus::bsOk;
  TBinFlags flags;
  double price = 0;
};

// Fills the bin it is pointed at up to twice its reorder level. It holds the bin
// through a weak handle: a bin freed meanwhile leaves it with nothing to do.
class TRestock : public TBasicAction {
  ZEPHRO_DECLARE_CLASS(TRestock, TBasicAction)
  using TBasicAction::TBasicAction;

  TWeakObject<TBin> bin;
  bool Execute() override {
    TBin* target = bin.Get();
    if (target == nullptr) {
      return false;
    }
    target->quantity = 2 * target->reorder_level;
    return true;
  }
};

class TWarehouse : public TComponent {
  ZEPHRO_DECLARE_CLASS(TWarehouse, TComponent)
  using TComponent::TComponent;
};

ZEPHRO_DEFINE_CLASS(TBin)
    .Property("Quantity", &TBin::quantity, &TBin::quantity)
    .Property("ReorderLevel", &TBin::reorder_level, &TBin::reorder_level)
    .Property("Status", &TBin::status, &TBin::status, kStatusNames)
    .Property("Flags", &TBin::flags, &TBin::flags, kFlagNames)
    .Property("Price", &TBin::price, &TBin::price);
ZEPHRO_DEFINE_CLASS(TRestock).Property(
    "Bin", [](const TRestock& r) { return r.bin.Get(); },
    [](TRestock& r, TBin* bin) { r.bin = TWeakObject<TBin>(bin); });
ZEPHRO_DEFINE_CLASS(TWarehouse);

constexpr const char* kRules = R"(
(deftemplate stock (slot bin) (slot quantity) (slot level))
(defrule take-stock
  (stock-check)
  =>
  (foreach c (get-components)
    (if (is-class ?c (get-class TBin)) then
      (assert (stock (bin (get-property ?c Name)) (quantity (get-property ?c Quantity))
                     (level (get-property ?c ReorderLevel)))))))
(defrule restock
  (stock (bin ?name) (quantity ?q) (level ?l&:(< ?q ?l)))
  =>
  (bind ?bin (get-component ?name))
  (if (= ?q 0) then (set-property ?bin Status bsEmpty) else (set-property ?bin Status bsLow))
  (set-property (get-component Restock) Bin ?bin)
  (if (execute-action (get-component Restock)) then
    (printout t ?name ": " ?q " left, restocked to " (get-property ?bin Quantity)
                " at " (get-property ?bin Price) crlf)))
(defrule retire
  (declare (salience 10))
  (stock (bin ?name))
  (test (str-index bfDiscontinued (get-property (get-component ?name) Flags)))
  =>
  (free-object (get-component ?name))
  (printout t ?name ": discontinued, bin freed" crlf))
)";

void AddBin(TWarehouse& warehouse, const char* name, std::int32_t quantity, std::int32_t level,
            double price, TBinFlags flags) {
  TBin& bin = MakeOwned<TBin>(warehouse);
  bin.SetName(name);
  bin.quantity = quantity;
  bin.reorder_level = level;
  bin.price = price;
  bin.flags = flags;
}

}  // namespace inventory

int main() {
  using namespace inventory;
  auto warehouse = std::make_unique<TWarehouse>(nullptr);
  // The engine first: it joins the warehouse's components, and its rules see
  // the warehouse as their (get-component).
  auto& engine = MakeOwned<TInferenceEngine>(*warehouse);
  AddBin(*warehouse, "Bolts", 3, 10, 0.25, {});
  AddBin(*warehouse, "Glass", 0, 4, 12.5, {TBinFlag::bfFragile});
  AddBin(*warehouse, "Paint", 30, 8, 9.75, {TBinFlag::bfDiscontinued});
  MakeOwned<TRestock>(*warehouse).SetName("Restock");
  try {
    engine.Parse(kRules);  // echoes what it defined, before anyone listens
    engine.OnPrintOut = [](TInferenceEngine&, std::string_view, std::string_view text) {
      std::cout << text;
    };
    engine.Reset();
    engine.Assert("(stock-check)");
    engine.Run();
  } catch (const EIEException& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  for (int i = 0; i < warehouse->ComponentCount(); ++i) {
    if (const auto* bin = dynamic_cast<const TBin*>(&warehouse->Component(i))) {
      std::cout << bin->Name() << " holds " << bin->quantity << ", "
                << kStatusNames[static_cast<int>(bin->status)] << "\n";
    }
  }
  return 0;
}

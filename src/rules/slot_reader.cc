#include "rules/slot_reader.h"

namespace zephro {

const IIEValue* ElementAtSlow(const IIEValue& value, std::int32_t sub_index) {
  const IValueVector* list = value.DType() == TIEType::dtList ? value.AsList() : nullptr;
  if (list == nullptr || sub_index < 0 || sub_index >= list->ValueCount()) {
    return nullptr;
  }
  return list->Get(sub_index);
}

const IIEValue* ReadSlotSlow(const TSlotPosition& slot, std::int32_t sub_index,
                             TSlotCache& cache, const IFact& fact) {
  // The ordinary read also brings a fact of our own to its template's
  // layout and stores the slot's default: after it, the fact can be read in
  // place where the slot sits in that layout.
  const IIEValue* value = slot.Read(fact);
  if (value == nullptr) {
    return nullptr;
  }
  if (const TFact* own = TFact::Exactly(fact)) {
    cache.layout = own->StoredLayout();
    cache.index = slot.IndexIn(own->Template());
  }
  return sub_index == NoSubIndex ? value : ElementAt(*value, sub_index);
}

}  // namespace zephro

#pragma once

// Slot values read in place, for the matcher's inner loops.
//
// A TSlotPosition finds a slot by name in any fact, at the price of a few
// virtual calls per read. The matcher reads the same slot of fact after fact
// of one template: TSlotCache remembers where the slot sits in the layout of
// the facts it met, and a fact of the engine's own class that follows that
// layout (and whose slot already holds a value) is read with two compares
// and an index. Every other read takes the ordinary way and refreshes the
// cache.

#include <cstdint>

#include "zephro/facts/fact.h"
#include "zephro/facts/fact_template.h"
#include "zephro/facts/slot_position.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {

struct TSlotCache {
  Ref<const TSlotLayout> layout;
  int index = -1;
};

// ElementAt's ordinary way.
const IIEValue* ElementAtSlow(const IIEValue& value, std::int32_t sub_index);

// The element at `sub_index` of multifield `value`, or null. A list of the
// engine's own classes is read in place.
inline const IIEValue* ElementAt(const IIEValue& value, std::int32_t sub_index) {
  if (const TIEValue* own = TIEValue::Exactly(value)) {
    const IValueVector* list = own->ListDatum();
    if (list == nullptr) {
      return nullptr;
    }
    if (const TValueVector* vector = TValueVector::Exactly(*list)) {
      return vector->Peek(sub_index);
    }
  }
  return ElementAtSlow(value, sub_index);
}

// ReadSlot's ordinary way.
const IIEValue* ReadSlotSlow(const TSlotPosition& slot, std::int32_t sub_index,
                             TSlotCache& cache, const IFact& fact);

// The value of `slot` in `fact` (its element at `sub_index`, unless that is
// NoSubIndex), or null when the fact lacks it.
inline const IIEValue* ReadSlot(const TSlotPosition& slot, std::int32_t sub_index,
                                TSlotCache& cache, const IFact& fact) {
  if (const TFact* own = TFact::Exactly(fact)) {
    if (const IIEValue* value = own->PeekAt(cache.layout.get(), cache.index)) {
      if (sub_index == NoSubIndex) [[likely]] {
        return value;
      }
      return ElementAt(*value, sub_index);
    }
  }
  return ReadSlotSlow(slot, sub_index, cache, fact);
}

}  // namespace zephro

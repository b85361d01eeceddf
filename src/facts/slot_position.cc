#include "zephro/facts/slot_position.h"

#include <limits>

namespace zephro {

int TSlotPosition::Lookup(const IFactTemplate* t) const {
  if (t == nullptr) {
    return -1;
  }
  const std::uint64_t serial = t->LayoutSerial();
  if (index_ >= 0) {
    if (serial != 0) {
      if (serial == serial_) {
        return index_;
      }
    } else {
      std::span<const std::string> names = t->SlotNames();
      if (static_cast<std::size_t>(index_) < names.size() &&
          names[static_cast<std::size_t>(index_)] == name_.View()) {
        return index_;
      }
    }
  }
  // A miss is not remembered: the template may gain the slot later.
  serial_ = serial <= std::numeric_limits<std::uint32_t>::max() ? static_cast<std::uint32_t>(serial) : 0;
  index_ = t->SlotIndex(name_.View());
  return index_;
}

}  // namespace zephro

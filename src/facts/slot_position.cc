#include "zephro/facts/slot_position.h"

namespace zephro {

int TSlotPosition::IndexIn(const IFactTemplate* t) const {
  if (t == nullptr) {
    return -1;
  }
  if (t == template_ && index_ >= 0) {
    std::span<const std::string> names = t->SlotNames();
    if (static_cast<std::size_t>(index_) < names.size() &&
        names[static_cast<std::size_t>(index_)] == name_) {
      return index_;
    }
  }
  // A miss is not remembered: the template may gain the slot later.
  template_ = t;
  index_ = t->SlotIndex(name_);
  return index_;
}

}  // namespace zephro

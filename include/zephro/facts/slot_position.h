#pragma once

// A slot named once and read from facts of any template.
//
// The matcher reads the same slot of many facts of the same template; looking
// its name up every time would dominate matching. TSlotPosition remembers
// where the slot sat in the last template it met, under the template's layout
// serial (or, for a template without one, confirmed by the name found there
// in the template at hand),
// so a template whose slots change is noticed, never read at a stale
// position. The name is a shared text: the many positions of one slot name
// hold one copy of it.

#include <cstdint>
#include <string>

#include "zephro/values/interfaces.h"
#include "zephro/values/text.h"

namespace zephro {

class TSlotPosition {
 public:
  TSlotPosition() = default;
  explicit TSlotPosition(std::string_view name) : name_(TText::Shared(name)) {}

  std::string_view Name() const noexcept { return name_.View(); }
  // The slot's position in `t` (may be null), or -1 when `t` lacks it.
  int IndexIn(const IFactTemplate* t) const {
    // The usual case, a template with the layout of the last call, costs one
    // comparison of serials (a layout's serial is unique in the process and
    // its slots never change); everything else looks the name up.
    if (t != nullptr && index_ >= 0 && serial_ != 0 && t->LayoutSerial() == serial_) {
      return index_;
    }
    return Lookup(t);
  }
  // The slot's position in the layout with serial `serial` when the last
  // call found it there, else -1 (IndexIn decides then).
  int CachedIndex(std::uint64_t serial) const noexcept {
    return serial_ != 0 && serial == serial_ ? index_ : -1;
  }
  // The slot's value in `fact`, or null when the fact's template lacks it.
  IIEValue* Read(const IFact& fact) const {
    const int index = IndexIn(fact.Template());
    return index < 0 ? nullptr : fact.ValueAt(index);
  }

 private:
  int Lookup(const IFactTemplate* t) const;

  TText name_;
  // The serial of the layout index_ was found in; 0 when none, or when the
  // serial needs more than 32 bits (a position is kept in many places, and
  // the process would have made four billion layouts first).
  mutable std::uint32_t serial_ = 0;
  mutable int index_ = -1;
};

}  // namespace zephro

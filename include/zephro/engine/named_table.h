#pragma once

// TNamedTable: what every name-keyed collection of the engine offers its
// readers (templates, rules, user functions, defined types, variables, I/O
// streams): lookup by name, access by position and iteration, in filing
// order. The collections add their own filing and removal, which follow the
// engine's DuplicateConstructs setting and tell the engine.
//
// Iterating visits each entry once, as a (name, item) pair, in the order the
// names were first filed (a replaced item keeps its place). The collection
// must not change while an iteration or a borrowed item is in use:
//
//   for (const auto& [name, fact_template] : engine.FactTemplates()) { ... }
//
// Thread safety: none; use on the engine's thread or under its lock.

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "zephro/platform/ordered_table.h"
#include "zephro/platform/ref.h"

namespace zephro {

// Raises EIEException ("Bad Argument: %s") for a position outside 0 .. count - 1.
void CheckCollectionIndex(int index, int count);

// `Stored` is how the table holds an `Item`: a counted Ref, a borrowed
// pointer or a unique_ptr.
template <class Item, class Stored = Ref<Item>>
class TNamedTable {
 public:
  using TEntry = std::pair<std::string, Stored>;

  // The item filed under `name`, or null.
  Item* Get(std::string_view name) const {
    Stored* s = table_.Find(name);
    return s != nullptr ? Raw(*s) : nullptr;
  }
  bool ContainsKey(std::string_view name) const { return table_.Contains(name); }
  // As above; `item` receives the item, or null.
  bool ContainsKey(std::string_view name, Item*& item) const {
    item = Get(name);
    return item != nullptr;
  }
  int Count() const noexcept { return table_.Count(); }
  // The item at `index` in filing order; raises for an index out of range.
  Item& At(int index) const {
    CheckCollectionIndex(index, Count());
    return *Raw(table_.At(index).second);
  }
  Item& GetItemByIndex(int index) const { return At(index); }
  // The name the item at `index` is filed under.
  const std::string& NameAt(int index) const {
    CheckCollectionIndex(index, Count());
    return table_.At(index).first;
  }
  auto begin() const { return table_.begin(); }
  auto end() const { return table_.end(); }

 protected:
  static Item* Raw(const Stored& s) noexcept {
    if constexpr (std::is_pointer_v<Stored>) {
      return s;
    } else {
      return s.get();
    }
  }

  TOrderedTable<Stored> table_;
};

}  // namespace zephro

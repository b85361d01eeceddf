#pragma once

// The order of a collection whose items may extend one another (templates,
// defined types): each item after its parent whenever the parent is in the
// collection. Printing and copying such a collection go in this order.

#include <set>
#include <string>
#include <vector>

#include "zephro/platform/ordered_table.h"
#include "zephro/platform/ref.h"
#include "zephro/values/exceptions.h"

namespace zephro {

// The table's items, each after its parent: `parent_of(item)` gives an
// item's parent or null, `filed(parent)` whether that parent is the one the
// table holds; a cycle raises `corrupt`. Items whose parents are out come
// first, in table order, pass after pass.
template <class T, class ParentOf, class Filed>
std::vector<T*> ParentsFirst(const TOrderedTable<Ref<T>>& table, ParentOf parent_of, Filed filed,
                             const char* corrupt) {
  std::vector<T*> ordered;
  std::set<const T*> done;
  std::vector<T*> pending;
  for (const auto& [name, item] : table) {
    pending.push_back(item.get());
  }
  while (!pending.empty()) {
    bool progress = false;
    for (auto it = pending.begin(); it != pending.end();) {
      const T* parent = parent_of(**it);
      if (parent == nullptr || done.contains(parent) || !filed(*parent)) {
        ordered.push_back(*it);
        done.insert(*it);
        it = pending.erase(it);
        progress = true;
      } else {
        ++it;
      }
    }
    if (!progress) {
      RaiseIEPlain(corrupt);
    }
  }
  return ordered;
}

// The texts of ParentsFirst's items, each followed by a line break.
template <class T, class ParentOf, class Filed>
std::string ParentsFirstText(const TOrderedTable<Ref<T>>& table, ParentOf parent_of, Filed filed,
                             const char* corrupt) {
  std::string text;
  for (const T* item : ParentsFirst(table, parent_of, filed, corrupt)) {
    text += item->ToString() + "\n";
  }
  return text;
}

}  // namespace zephro

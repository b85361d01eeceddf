#pragma once

// TOrderedTable: the table the engine files its named things in.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zephro {

// A name-keyed table that keeps insertion order for iteration. The names are
// kept once, with the items; the index holds positions only (open
// addressing, at most half full), so a large table of rules costs little
// more than its items.
//
// Taking an item leaves a hole where it stood, marked in the index, so that
// taking is as cheap as finding; the holes are closed (and the index built
// again) once they are half the items, or before the items are read by
// position or walked. Those readers are const but may therefore move the
// items: like every engine structure, a table is used from one thread at a
// time.
template <class T>
class TOrderedTable {
 public:
  T* Find(std::string_view name) const {
    const std::uint32_t* slot = Slot(name);
    return slot == nullptr || *slot == 0 ? nullptr : &items_[*slot - 1].second;
  }
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  // Stores `item` under `name`, replacing an existing entry in place.
  void Put(const std::string& name, T item) {
    if (T* found = Find(name)) {
      *found = std::move(item);
      return;
    }
    if ((items_.size() + 1) * 4 > index_.size() * 3) {
      Close();  // leaves room for one more
    }
    items_.emplace_back(name, std::move(item));
    *Slot(name) = static_cast<std::uint32_t>(items_.size());
  }
  // Removes `name` and returns its item (default when absent).
  T Take(std::string_view name) {
    std::uint32_t* slot = Slot(name);
    if (slot == nullptr || *slot == 0) {
      return T();
    }
    T item = std::move(items_[*slot - 1].second);
    *slot = kTaken;
    if (++holes_ * 2 > items_.size()) {
      Close();
    }
    return item;
  }
  void Clear() {
    index_.clear();
    items_.clear();
    holes_ = 0;
  }
  int Count() const noexcept { return static_cast<int>(items_.size() - holes_); }
  const std::pair<std::string, T>& At(int i) const {
    CloseHoles();
    return items_[static_cast<std::size_t>(i)];
  }
  auto begin() const {
    CloseHoles();
    return std::as_const(items_).begin();
  }
  auto end() const {
    CloseHoles();
    return std::as_const(items_).end();
  }

 private:
  // An index slot whose item was taken: lookups probe on past it.
  static constexpr std::uint32_t kTaken = 0xffffffffu;

  // The slot holding `name`'s position + 1, or the empty slot (0) where it
  // would go; null while the index is empty.
  const std::uint32_t* Slot(std::string_view name) const {
    if (index_.empty()) {
      return nullptr;
    }
    const std::size_t mask = index_.size() - 1;
    for (std::size_t i = std::hash<std::string_view>{}(name) & mask;; i = (i + 1) & mask) {
      const std::uint32_t at = index_[i];
      if (at == 0 || (at != kTaken && items_[at - 1].first == name)) {
        return &index_[i];
      }
    }
  }
  std::uint32_t* Slot(std::string_view name) {
    return const_cast<std::uint32_t*>(std::as_const(*this).Slot(name));
  }
  void CloseHoles() const {
    if (holes_ != 0) {
      Close();
    }
  }
  // Drops the taken items, keeping the order of the rest, and builds the
  // index again with room for one more item. Every item has one marked
  // slot: its position while it stands, kTaken once taken.
  void Close() const {
    if (holes_ != 0) {
      std::vector<bool> standing(items_.size());
      for (const std::uint32_t at : index_) {
        if (at != 0 && at != kTaken) {
          standing[at - 1] = true;
        }
      }
      std::size_t kept = 0;
      for (std::size_t i = 0; i < items_.size(); ++i) {
        if (standing[i]) {
          if (kept != i) {
            items_[kept] = std::move(items_[i]);
          }
          ++kept;
        }
      }
      items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(kept), items_.end());
      holes_ = 0;
    }
    // At most three quarters full before the next Close, half full after it.
    std::size_t size = 16;
    while (size < (items_.size() + 1) * 2) {
      size *= 2;
    }
    index_.assign(size, 0);
    const std::size_t mask = size - 1;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      std::size_t at = std::hash<std::string_view>{}(items_[i].first) & mask;
      while (index_[at] != 0) {
        at = (at + 1) & mask;
      }
      index_[at] = static_cast<std::uint32_t>(i + 1);
    }
  }

  // Mutable: readers by position close the holes first (see the top).
  mutable std::vector<std::pair<std::string, T>> items_;
  mutable std::vector<std::uint32_t> index_;
  mutable std::size_t holes_ = 0;
};

}  // namespace zephro

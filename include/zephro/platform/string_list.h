#pragma once

// TSortedStringList<D>: a list of strings, each with a datum of type D, that can keep
// itself sorted. Unsorted (the default) it keeps the order of Add and Insert, like the
// agenda's entries; sorted it files every Add in byte order of the strings, after equal
// strings already present (duplicates are allowed), and Find searches it in O(log n),
// like the sorted slot and variable name lists. D is what an entry carries: a borrowed
// pointer, a unique_ptr that owns the object, or a Ref; TInterfaceStringList<T> is the
// list with a counted reference per entry.
//
// Ownership: the list owns its entries and whatever D owns.
// Thread safety: none.

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/platform/errors.h"
#include "zephro/platform/ref.h"

namespace zephro {

template <class D>
class TSortedStringList {
 public:
  struct Entry {
    std::string text;
    D data;
  };
  using const_iterator = typename std::vector<Entry>::const_iterator;

  explicit TSortedStringList(bool sorted = false) : sorted_(sorted) {}

  int Count() const { return static_cast<int>(entries_.size()); }
  bool Sorted() const { return sorted_; }
  // Switching sorting on sorts the entries (stably, so equal strings keep their order).
  void SetSorted(bool sorted) {
    if (sorted && !sorted_) {
      std::stable_sort(entries_.begin(), entries_.end(),
                       [](const Entry& a, const Entry& b) { return a.text < b.text; });
    }
    sorted_ = sorted;
  }

  // Appends (unsorted) or files (sorted) an entry; returns its index.
  int Add(std::string text, D data = D{}) {
    auto position = entries_.end();
    if (sorted_) {
      position = std::upper_bound(entries_.begin(), entries_.end(), text,
                                  [](const std::string& t, const Entry& e) { return t < e.text; });
    }
    const auto index = position - entries_.begin();
    entries_.insert(position, Entry{std::move(text), std::move(data)});
    return static_cast<int>(index);
  }
  // Inserts an entry before position `index` (0 .. Count()). Raises EBaseException on a
  // sorted list, where positions follow the strings.
  void Insert(int index, std::string text, D data = D{}) {
    RefuseWhenSorted();
    if (index < 0 || index > Count()) {
      RaiseListIndexError(index, Count());
    }
    entries_.insert(entries_.begin() + index, Entry{std::move(text), std::move(data)});
  }

  const std::string& Get(int index) const { return At(index).text; }
  // Replaces the string at `index`. Raises EBaseException on a sorted list.
  void Put(int index, std::string text) {
    RefuseWhenSorted();
    At(index).text = std::move(text);
  }
  const D& GetData(int index) const { return At(index).data; }
  D& GetData(int index) { return At(index).data; }
  // Replaces the datum at `index`; the previous one is released as D releases it.
  void PutData(int index, D data) { At(index).data = std::move(data); }

  // Removes the entry at `index`, releasing its datum as D does.
  void Delete(int index) { entries_.erase(entries_.begin() + CheckedIndex(index, Count())); }
  // Removes the entry at `index` and hands its datum to the caller.
  D Extract(int index) {
    D data = std::move(At(index).data);
    entries_.erase(entries_.begin() + CheckedIndex(index, Count()));
    return data;
  }
  void Clear() { entries_.clear(); }

  // Sorted lists: true when `text` is present. `index` receives the position of its
  // first occurrence, or where it would be filed.
  bool Find(std::string_view text, int& index) const {
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), text,
                                     [](const Entry& e, std::string_view t) { return e.text < t; });
    index = static_cast<int>(it - entries_.begin());
    return it != entries_.end() && it->text == text;
  }
  // The index of the first entry holding `text`, or -1.
  int IndexOf(std::string_view text) const {
    if (sorted_) {
      int index = 0;
      return Find(text, index) ? index : -1;
    }
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& e) { return e.text == text; });
    return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
  }
  // The index of the first entry whose datum points at `object`, or -1. For pointer-like
  // D (raw, unique_ptr, Ref).
  template <class U>
  int IndexOfData(const U* object) const {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& e) { return std::to_address(e.data) == object; });
    return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
  }

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  Entry& At(int index) { return entries_[CheckedIndex(index, Count())]; }
  const Entry& At(int index) const { return entries_[CheckedIndex(index, Count())]; }
  void RefuseWhenSorted() const {
    if (sorted_) {
      RaisePlatformError("A sorted list takes no entries at chosen positions");
    }
  }

  std::vector<Entry> entries_;
  bool sorted_;
};

template <class T>
using TInterfaceStringList = TSortedStringList<Ref<T>>;

}  // namespace zephro

#pragma once

// Sequences of counted references: TInterfaceList<T>, an ordered list (the base of the
// engine's fact list and multifields), and TInterfaceQueue<T>, a first-in first-out
// queue (the token stream's look-ahead). Also TObjectList<T>, the owning object list.
//
// Ownership: each element is a Ref<T>, so a list holds one reference to every element
// it stores; an element may be empty. TObjectList owns its objects outright.
//
// Thread safety: none; guard a list shared between threads yourself.

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "zephro/platform/errors.h"
#include "zephro/platform/ref.h"

namespace zephro {

// An ordered list of Ref<T>, indexed from 0 in insertion order. Indexes outside the
// list raise EBaseException. Lookups compare identity, not value. Not polymorphic:
// classes that reuse it do not delete through it.
template <class T>
class TInterfaceList {
 public:
  using const_iterator = typename std::vector<Ref<T>>::const_iterator;

  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  void Reserve(int capacity) { items_.reserve(static_cast<std::size_t>(capacity)); }

  // Appends `item`; returns its index.
  int Add(Ref<T> item) {
    items_.push_back(std::move(item));
    return Count() - 1;
  }
  // Inserts `item` before position `index` (0 .. Count()).
  void Insert(int index, Ref<T> item) {
    if (index < 0 || index > Count()) {
      RaiseListIndexError(index, Count());
    }
    items_.insert(items_.begin() + index, std::move(item));
  }

  const Ref<T>& Get(int index) const { return items_[CheckedIndex(index, Count())]; }
  void Put(int index, Ref<T> item) { items_[CheckedIndex(index, Count())] = std::move(item); }
  const Ref<T>& First() const { return Get(0); }
  const Ref<T>& Last() const { return Get(Count() - 1); }

  // The index of the first element that is `item`, or -1.
  int IndexOf(const T* item) const {
    const auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
  }
  int IndexOf(const Ref<T>& item) const { return IndexOf(item.get()); }
  // Removes the first element that is `item`; returns its former index, or -1.
  int Remove(const T* item) {
    const int index = IndexOf(item);
    if (index >= 0) {
      items_.erase(items_.begin() + index);
    }
    return index;
  }
  int Remove(const Ref<T>& item) { return Remove(item.get()); }
  void Delete(int index) { items_.erase(items_.begin() + CheckedIndex(index, Count())); }
  void Clear() { items_.clear(); }

  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }

 private:
  std::vector<Ref<T>> items_;
};

// A first-in first-out queue of Ref<T>. PushFront puts an element back at the head.
template <class T>
class TInterfaceQueue {
 public:
  bool IsEmpty() const { return items_.empty(); }
  int Count() const { return static_cast<int>(items_.size()); }

  void Push(Ref<T> item) { items_.push_back(std::move(item)); }
  void PushFront(Ref<T> item) { items_.push_front(std::move(item)); }
  // Takes the head off the queue; an empty Ref when the queue is empty.
  Ref<T> Pop() {
    if (items_.empty()) {
      return nullptr;
    }
    Ref<T> head = std::move(items_.front());
    items_.pop_front();
    return head;
  }
  // The head, left in the queue; an empty Ref when the queue is empty.
  Ref<T> Peek() const { return items_.empty() ? Ref<T>() : items_.front(); }
  void Clear() { items_.clear(); }

 private:
  std::deque<Ref<T>> items_;
};

// The owning object list: a vector of unique_ptr does all the engine asks of it.
template <class T>
using TObjectList = std::vector<std::unique_ptr<T>>;

}  // namespace zephro

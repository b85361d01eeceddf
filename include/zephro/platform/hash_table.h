#pragma once

// Hash tables of the engine's collections.
//
// TStringHashTable<V> maps strings to values of type V and keeps its entries in the
// order their keys were first put: iteration, KeyByIndex and ItemByIndex follow that
// order, so everything the engine lists or saves comes out in the order it was
// defined. V decides what an entry holds:
//   TStringHashTable<std::unique_ptr<T>>  owns its objects (streams, bindings);
//   TStringHashTable<T*>                  borrows them (components owned elsewhere);
//   TInterfaceStringHashTable<T>          = TStringHashTable<Ref<T>>, counted references.
// Keys compare exactly (case-sensitive). Lookups, Put and Remove take constant time on
// average; KeyByIndex and ItemByIndex walk the entries.
//
// TIntegerHashTable<V> and TPointerHashTable<K, V> need no order and nothing beyond
// std::unordered_map, which they are.
//
// Ownership: the table owns its entries and whatever V owns.
// Thread safety: none.

#include <cstdint>
#include <functional>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "zephro/platform/errors.h"
#include "zephro/platform/ref.h"

namespace zephro {
namespace hash_table_detail {

template <class V>
struct GetResultOf {
  using type = V;
};
template <class T, class D>
struct GetResultOf<std::unique_ptr<T, D>> {
  using type = typename std::unique_ptr<T, D>::pointer;
};

}  // namespace hash_table_detail

template <class V>
class TStringHashTable {
 public:
  struct Entry {
    const std::string key;
    V value;
  };
  using const_iterator = typename std::list<Entry>::const_iterator;
  using iterator = typename std::list<Entry>::iterator;
  // What Get returns: the raw pointer for a unique_ptr table, the value itself
  // otherwise.
  using GetResult = typename hash_table_detail::GetResultOf<V>::type;

  TStringHashTable() = default;
  TStringHashTable(const TStringHashTable& other) { Assign(other); }
  TStringHashTable& operator=(const TStringHashTable& other) {
    if (this != &other) {
      Assign(other);
    }
    return *this;
  }
  TStringHashTable(TStringHashTable&&) noexcept = default;
  TStringHashTable& operator=(TStringHashTable&&) noexcept = default;

  int Count() const { return static_cast<int>(entries_.size()); }
  bool ContainsKey(std::string_view key) const { return index_.contains(key); }

  // The value stored under `key`, or nullptr.
  V* Find(std::string_view key) {
    const auto it = index_.find(key);
    return it == index_.end() ? nullptr : &it->second->value;
  }
  const V* Find(std::string_view key) const {
    const auto it = index_.find(key);
    return it == index_.end() ? nullptr : &it->second->value;
  }
  // The value under `key`, or an empty one (nullptr, empty Ref, V{}) when absent.
  GetResult Get(std::string_view key) const {
    const V* value = Find(key);
    if constexpr (std::is_same_v<GetResult, V>) {
      return value == nullptr ? V{} : *value;
    } else {
      return value == nullptr ? nullptr : value->get();
    }
  }

  // Stores `value` under `key`. A new key goes to the end of the order; a key already
  // present keeps its place. Returns the value the key held before, or an empty one.
  V Put(std::string key, V value) {
    if (V* present = Find(key)) {
      std::swap(*present, value);
      return value;
    }
    entries_.push_back(Entry{std::move(key), std::move(value)});
    const auto it = std::prev(entries_.end());
    index_.emplace(std::string_view(it->key), it);
    return V{};
  }
  // Takes the entry for `key` out; returns its value, or an empty one.
  V Remove(std::string_view key) {
    const auto it = index_.find(key);
    if (it == index_.end()) {
      return V{};
    }
    const iterator entry = it->second;
    index_.erase(it);
    V value = std::move(entry->value);
    entries_.erase(entry);
    return value;
  }
  void Clear() {
    index_.clear();
    entries_.clear();
  }

  // Position-based access, in the order of the keys; raises EBaseException for an
  // index outside 0 .. Count() - 1.
  const std::string& KeyByIndex(int index) const { return At(index).key; }
  const V& ItemByIndex(int index) const { return At(index).value; }
  // Every key, in order.
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const Entry& entry : entries_) {
      keys.push_back(entry.key);
    }
    return keys;
  }

  // Makes this table a copy of `other` (values copied as V copies them).
  void Assign(const TStringHashTable& other) {
    Clear();
    for (const Entry& entry : other.entries_) {
      Put(entry.key, entry.value);
    }
  }

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }

 private:
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>()(key);
    }
  };

  const Entry& At(int index) const {
    return *std::next(entries_.begin(), static_cast<std::ptrdiff_t>(CheckedIndex(index, Count())));
  }

  std::list<Entry> entries_;  // list nodes never move, so the index may point into them
  std::unordered_map<std::string_view, iterator, KeyHash, std::equal_to<>> index_;
};

template <class T>
using TInterfaceStringHashTable = TStringHashTable<Ref<T>>;

// Integer keys, e.g. the fact list's cache from hash code to fact.
template <class V>
using TIntegerHashTable = std::unordered_map<std::int64_t, V>;

// Object keys, e.g. the Rete network's table from rule to nodes.
template <class K, class V>
using TPointerHashTable = std::unordered_map<const K*, V>;

}  // namespace zephro

#pragma once

// The value collections: TValueVector (a multifield), TSingletonsVector (the
// (x, y) pairs of a fuzzy set) and TValueHashTable (a string-keyed table of
// values).
//
// Thread safety: reference counts are atomic; a collection must not be changed
// by two threads at once.

#include <cstdint>
#include <map>
#include <string>
#include <typeinfo>
#include <vector>

#include "zephro/values/interfaces.h"

namespace zephro {

// A multifield. Elements are shared values in insertion order; an element may
// be null. Prints as each element's text followed by one blank; equal when the
// elements are pairwise strictly Equals; hashes as the (wrapping) sum of the
// element hashes, so order does not change the hash.
//
// A list holds lists at most kMaxNesting levels deep, itself included: adding,
// putting, inserting or appending what would nest deeper raises EIEException
// "Lists may not nest deeper than 1000 levels" and leaves the list unchanged,
// so whatever walks a list's elements recursively goes that deep at most.
// Depth() is kept as an upper bound: removing the deepest element does not
// lower it.
class TValueVector final : public IValueVector {
 public:
  TValueVector() noexcept : IValueVector(TOwnMark<TValueVector>::Set()) {}
  explicit TValueVector(std::vector<Ref<IIEValue>> values);

  int ValueCount() const noexcept override { return static_cast<int>(values_.size()); }
  std::span<const Ref<IIEValue>> Values() const noexcept override { return values_; }
  // `list` as a TValueVector when it is one (the class is final and marks its
  // objects: the test is exact), else null.
  static const TValueVector* Exactly(const IValueVector& list) noexcept {
    return list.EngineOwn() ? static_cast<const TValueVector*>(&list) : nullptr;
  }
  // The element at `index`, or null when there is none: the matcher's read.
  const IIEValue* Peek(std::int32_t index) const noexcept {
    return index >= 0 && index < ValueCount() ? values_[static_cast<std::size_t>(index)].get()
                                              : nullptr;
  }
  // REQUIRES for the indexed operations: 0 <= index < ValueCount() (Insert:
  // <= ValueCount()); otherwise EIEException.
  IIEValue* Get(int index) const override;
  void Put(int index, Ref<IIEValue> value) override;
  int Add(Ref<IIEValue> value) override;
  void Insert(int index, Ref<IIEValue> value) override;
  void Delete(int index) override;
  void Clear() override { values_.clear(); }
  int IndexOf(const IIEValue* value) const override;
  int Remove(const IIEValue* value) override;
  IIEValue* First() const override;
  IIEValue* Last() const override;
  void Append(const IValueVector& other) override;
  void Assign(const IValueVector& other) override;
  Ref<IValueVector> Clone() const override;
  bool Equals(const IValueVector* other) const override;
  std::int32_t GetHashCode() const override;
  std::string ToString() const override;
  std::int32_t Tag() const noexcept override { return tag_; }
  void SetTag(std::int32_t tag) override { tag_ = tag; }
  int Depth() const noexcept override { return depth_; }

  void Reserve(int n) { values_.reserve(static_cast<std::size_t>(n)); }

 private:
  void CheckIndex(int index, int limit) const;
  // The depth this list takes holding `value`; raises past kMaxNesting.
  int DepthWith(const IIEValue* value) const;

  std::vector<Ref<IIEValue>> values_;
  std::int32_t tag_ = 0;
  int depth_ = 1;
};

Ref<IValueVector> MakeValueVector();

// The (x, y) pairs of a fuzzy set. Without a parser it prints as "(x y) " per
// pair; with one, as the parser says.
class TSingletonsVector final : public ISingletonsVector {
 public:
  // `parser` is borrowed and may be null.
  explicit TSingletonsVector(const ISingletonsParser* parser = nullptr) : parser_(parser) {}

  int Count() const noexcept override { return xs_.ValueCount(); }
  int Add(Ref<IIEValue> x, Ref<IIEValue> y) override;
  void Insert(int index, Ref<IIEValue> x, Ref<IIEValue> y) override;
  void Delete(int index) override;
  void Clear() override;
  IIEValue* XValue(int index) const override { return xs_.Get(index); }
  IIEValue* YValue(int index) const override { return ys_.Get(index); }
  void SetXValue(int index, Ref<IIEValue> x) override { xs_.Put(index, std::move(x)); }
  void SetYValue(int index, Ref<IIEValue> y) override { ys_.Put(index, std::move(y)); }
  int IndexOfX(const IIEValue* value) const override { return xs_.IndexOf(value); }
  int IndexOfY(const IIEValue* value) const override { return ys_.IndexOf(value); }
  void Append(const ISingletonsVector& other) override;
  const ISingletonsParser* Parser() const noexcept override { return parser_; }
  void SetParser(const ISingletonsParser* parser) override { parser_ = parser; }
  void Assign(const ISingletonsVector& other) override;
  Ref<ISingletonsVector> Clone() const override;
  bool Equals(const ISingletonsVector* other) const override;
  std::int32_t GetHashCode() const override;
  std::string ToString() const override;
  std::int32_t Tag() const noexcept override { return tag_; }
  void SetTag(std::int32_t tag) override { tag_ = tag; }

 private:
  TValueVector xs_;
  TValueVector ys_;
  const ISingletonsParser* parser_;  // not owned
  std::int32_t tag_ = 0;
};

// A string-keyed table of values. Keys iterate in sorted order, which is the
// order its text form lists them in.
class TValueHashTable {
 public:
  // The value under `key`, or null.
  IIEValue* Get(const std::string& key) const;
  // Stores `value` under `key` and returns what the key held before (or null).
  Ref<IIEValue> Put(const std::string& key, Ref<IIEValue> value);
  // Removes `key` and returns its value (or null).
  Ref<IIEValue> Remove(const std::string& key);
  bool ContainsKey(const std::string& key, Ref<IIEValue>* value = nullptr) const;
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }
  // Replaces the content with clones of `source`'s values.
  void Assign(const TValueHashTable& source);
  // "key = text" per entry, each followed by a line break.
  std::string ToString() const;

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::map<std::string, Ref<IIEValue>, std::less<>> items_;
};

}  // namespace zephro
